// PipelineOperations: the real TaskOperations. The task routines (kinds 257
// to 262) run the migration pipeline; output lines go to the controller's
// log.
//
// Sessions: by default the steps use the controller's current sessions
// (looked up at each call, so a reconnect by SwitchTargetDatabase is seen
// by the next step). With task sessions (SetTaskSessions), a task works on
// sessions of its own instead: its own connection to the source, and the
// target file its task names, so nothing the user does in the window while
// it runs (choosing another database on either side) moves its work.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/main_controller.h"
#include "backup/backup.h"
#include "db/session.h"
#include "migrate/pipeline.h"
#include "tasks/task_operations.h"

namespace velquin {

// Opens (create = false) or creates (create = true) the Access database
// named by a task's target database name.
using TargetDatabaseOpener =
    std::function<Result<std::unique_ptr<Session>>(const std::string& database, bool create)>;

// Opens the task's own connection to the source.
using SourceSessionOpener = std::function<Result<std::shared_ptr<SessionHandle>>()>;
// Opens (or shares an already open session on) the target database a task
// names.
using TargetSessionOpener =
    std::function<Result<std::shared_ptr<SessionHandle>>(const std::string& database, bool create)>;

// The Access names of the tables and views a migration task of `kind`
// creates from `database` (`object`: the table or view of kinds 261 and
// 262), as `planner` names them.
Result<std::vector<std::string>> TaskPlannedNames(MigrationPipeline& planner, Session* source,
                                                  TaskKind kind, const std::string& database,
                                                  const std::string& object);

class PipelineOperations : public TaskOperations {
 public:
  // `settings.stop_requested` is set to the controller's RunState.
  PipelineOperations(MainController& controller, PipelineSettings settings,
                     TargetDatabaseOpener opener);

  MigrationPipeline& pipeline() { return pipeline_; }

  // Forgets the last task's plans and takes this task's answer about the
  // objects its target holds already.
  void BeginTask(const TaskRecord& record) override;
  // Gives tasks sessions of their own (see above). Set before the worker
  // starts.
  void SetTaskSessions(SourceSessionOpener source, TargetSessionOpener target);
  // The target session the tasks work on now (null before the first task, or
  // without task sessions). Any thread.
  std::shared_ptr<SessionHandle> TaskTarget() const;

  bool SwitchTargetDatabase(const std::string& target_database) override;
  bool CreateAccessDatabase(const std::string& database) override;
  bool SelectDatabase(const std::string& database, Side side) override;
  bool ExecuteStatement(Side side, const std::string& statement) override;
  void SetTreeCurrentDatabase(Side side, const std::string& database) override;

  bool ConvertDatabaseTables(const std::string& source_database) override;
  bool ConvertDatabaseViews(const std::string& source_database) override;
  bool MigrateTable(const std::string& source_database, const std::string& table) override;
  bool MigrateView(const std::string& source_database, const std::string& view) override;

  // Compares the tables this task filled with the server, one line each.
  bool VerifyLoad(const std::string& source_database) override;

  bool BackupDatabaseTables(const std::string& target_database) override;
  bool BackupDatabaseViews(const std::string& target_database) override;
  bool BackupTable(const std::string& target_database, const std::string& table) override;
  bool BackupView(const std::string& target_database, const std::string& view) override;

  void RefillTargetTree() override {}
  // With task sessions: the task's target file is let go (the window may
  // open it anew, e.g. on Connect); the source connection is kept for the
  // next task.
  void TaskEnded() override;

  std::string TreeCurrentDatabase(Side side) const;

  // Shows a message box in the window (posted; never waits for the user).
  // Told when a task's target is in use by another program, and when a task
  // stops because its target holds objects nobody was asked about.
  std::function<void(const std::string&)> on_message_box;

 private:
  // Before a task's first step changes its target: the objects the target
  // holds already are checked against the task's answer; with Replace they
  // are dropped, with Append the rows go into them. False (the task does
  // nothing more) when the target is missing, holds objects the answer does
  // not cover, or they could not be dropped. Once per task.
  bool TargetReady(Session* source, Session* target, const std::string& database);
  void Refuse(const std::string& message);
  void TargetOpenFailed(const Status& status);
  void Out(const std::string& line);
  // The backup, brought up to date with the chosen folder and AutoBackup.
  backup::Backup& BackupNow();
  // The session a step works on for `side`; `keep` keeps it alive.
  Session* SessionFor(Side side, std::shared_ptr<SessionHandle>* keep);
  void SetTaskTarget(std::shared_ptr<SessionHandle> handle);

  MainController& controller_;
  TargetDatabaseOpener opener_;
  SourceSessionOpener source_opener_;
  TargetSessionOpener target_opener_;
  // With task sessions: the worker thread's own source connection, and the
  // window's source session it was opened after (a reconnect opens anew).
  std::shared_ptr<SessionHandle> task_source_;
  std::shared_ptr<SessionHandle> source_origin_;
  mutable std::mutex target_mu_;
  std::shared_ptr<SessionHandle> task_target_;
  MigrationPipeline pipeline_;
  std::string current_target_;  // the database the target session is open on
  // The objects the constructed settings append to (the command line's
  // --append), kept across the tasks' own answers.
  const PipelineSettings::Existing default_existing_;
  const std::set<std::string, CaseInsensitiveLess> default_existing_objects_;
  // The running task (worker thread only).
  TaskRecord task_;
  std::size_t first_report_ = 0;  // the pipeline's first report of the task
  bool target_checked_ = false;
  bool target_refused_ = false;
  std::unique_ptr<backup::Backup> backup_;
  std::string backup_folder_;  // the chosen folder backup_ works under
  mutable std::mutex tree_mu_;
  std::string tree_database_[2];
};

}  // namespace velquin
