// The main window's commands as plain functions: Connect, Migrate, Backup,
// Delete, Start/stop tasks, New Database, and the close question.
//
// Each command is split in two: a plan (pure: from the trees' selections to
// the refusal, question and task to queue) and the run, which asks through
// CommandUi and acts through CommandHost. The GUI and tests call the same
// functions; nothing here knows about widgets.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/message_boxes.h"
#include "base/status.h"
#include "catalog/db_tree.h"

namespace velquin {

// Task type and kind codes as the queue stores them.
inline constexpr int kTaskTypeMigration = 256;
inline constexpr int kTaskTypeBackup = 512;
inline constexpr int kKindCloneDatabase = 257;
inline constexpr int kKindConvertDatabase = 258;
inline constexpr int kKindConvertTables = 259;
inline constexpr int kKindConvertViews = 260;
inline constexpr int kKindConvertTable = 261;
inline constexpr int kKindConvertView = 262;
inline constexpr int kKindBackupDatabaseObjects = 513;
inline constexpr int kKindBackupObject = 514;

// What a command asks the queue to run. The host adds the stamp, the DBMS
// names and the "Waiting" state when it appends the record.
struct TaskRequest {
  int type = 0;
  int kind = 0;
  std::string object_letter;
  std::string source_object;
  std::string source_database;
  std::string target_object;
  std::string target_database;

  bool operator==(const TaskRequest&) const = default;
};

struct Refusal {
  std::string hint;
  std::string box;
  std::string title;
};

// ---- plans ----

struct MigratePlan {
  std::optional<Refusal> refusal;
  std::string question;              // asked with OK/Cancel before queuing
  std::optional<TaskRequest> task;   // what OK queues
  bool start_worker = false;         // start the worker (and redraw) after OK / at once
};
// `source` / `target`: the trees' selections, null when nothing is selected.
MigratePlan PlanMigrate(bool target_connected, const NodeSelection* source,
                        const NodeSelection* target);

struct BackupPlan {
  std::optional<Refusal> refusal;
  bool start_worker_after_refusal = false;
  bool choose_folder = false;
  std::optional<TaskRequest> task;  // queued once a folder was chosen
};
BackupPlan PlanBackup(bool target_connected, const NodeSelection* target);

// A drive root (a folder path ending in its separator) gets "Backup.Script".
std::string BackupFolderFor(const std::string& chosen);
inline constexpr const char* kBackupFolderTitle = "Please choise your backup directory:";

struct DeletePlan {
  std::optional<Refusal> refusal;
  std::string first_question;   // OK/Cancel
  std::string second_question;  // Yes/No
  BoxIcon second_icon = BoxIcon::kQuestion;
};
DeletePlan PlanDelete(bool target_connected, const NodeSelection* target);

// ---- what commands act on ----

class CommandHost {
 public:
  virtual ~CommandHost() = default;
  virtual DbTree& source_tree() = 0;
  virtual DbTree& target_tree() = 0;
  virtual bool Running() const = 0;   // a worker exists (RunState 2)
  virtual bool Stopping() const = 0;  // a stop was requested (RunState 99)
  virtual int run_state() const = 0;
  virtual void StopAll() = 0;
  virtual void StartWorker() = 0;
  virtual void AppendTask(const TaskRequest& request) = 0;
  virtual void WriteLine(const std::string& line) = 0;
  virtual void SetBackupFolder(const std::string& folder) = 0;
  // Connects one side and fills its tree's connection members; returns the
  // DBMS display name.
  virtual Result<std::string> ConnectSide(bool target) = 0;
  virtual void SetCharsetName(const std::string& name) = 0;
  // Drops on the target side; each reports its own lines.
  virtual Status DropTargetDatabase(const std::string& name) = 0;
  virtual Status DropTargetTable(const std::string& table) = 0;
  virtual Status DropTargetView(const std::string& view) = 0;
};

// ---- runs ----

// Connect, Delete: at RunState 2 offer to stop all, at 99 say to try later.
// Returns true only when the command may go on.
bool PassBusyCheck(CommandHost& host, CommandUi& ui);

void Connect(CommandHost& host, CommandUi& ui);
void Migrate(CommandHost& host, CommandUi& ui);
void Backup(CommandHost& host, CommandUi& ui);
void Delete(CommandHost& host, CommandUi& ui);
void StartStopTasks(CommandHost& host, CommandUi& ui);
// New Database: true when the command goes on to the target tree.
bool CheckNewDatabase(CommandHost& host, CommandUi& ui);
// The close box: true when the window may close. While tasks run this asks
// "Some Tasks is Processing, STOP ALL and EXIT?" and requests the stop.
bool ConfirmClose(CommandHost& host, CommandUi& ui);

}  // namespace velquin
