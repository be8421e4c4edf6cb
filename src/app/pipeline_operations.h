// PipelineOperations: the real TaskOperations. The task routines (kinds 257
// to 262) run the migration pipeline over the controller's current sessions
// (looked up at each call, so a reconnect by SwitchTargetDatabase is seen
// by the next step); output lines go to the controller's log.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

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

class PipelineOperations : public TaskOperations {
 public:
  // `settings.stop_requested` is set to the controller's RunState.
  PipelineOperations(MainController& controller, PipelineSettings settings,
                     TargetDatabaseOpener opener);

  MigrationPipeline& pipeline() { return pipeline_; }

  void BeginTask() override { pipeline_.BeginRun(); }

  bool SwitchTargetDatabase(const std::string& target_database) override;
  bool CreateAccessDatabase(const std::string& database) override;
  bool SelectDatabase(const std::string& database, Side side) override;
  bool ExecuteStatement(Side side, const std::string& statement) override;
  void SetTreeCurrentDatabase(Side side, const std::string& database) override;

  bool ConvertDatabaseTables(const std::string& source_database) override;
  bool ConvertDatabaseViews(const std::string& source_database) override;
  bool MigrateTable(const std::string& source_database, const std::string& table) override;
  bool MigrateView(const std::string& source_database, const std::string& view) override;

  bool BackupDatabaseTables(const std::string& target_database) override;
  bool BackupDatabaseViews(const std::string& target_database) override;
  bool BackupTable(const std::string& target_database, const std::string& table) override;
  bool BackupView(const std::string& target_database, const std::string& view) override;

  void RefillTargetTree() override {}

  std::string TreeCurrentDatabase(Side side) const;

 private:
  void Out(const std::string& line);
  // The backup, brought up to date with the chosen folder and AutoBackup.
  backup::Backup& BackupNow();

  MainController& controller_;
  TargetDatabaseOpener opener_;
  MigrationPipeline pipeline_;
  std::string current_target_;  // the database the target session is open on
  std::unique_ptr<backup::Backup> backup_;
  std::string backup_folder_;  // the chosen folder backup_ works under
  mutable std::mutex tree_mu_;
  std::string tree_database_[2];
};

}  // namespace velquin
