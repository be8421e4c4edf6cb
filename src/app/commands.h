// The main window's commands as plain functions: Connect, Migrate, Backup,
// Delete, Start/stop tasks, New Database, and the close question.
//
// Each command is split in two: a plan (pure: from the trees' selections to
// the refusal, question and task to queue) and the run, which asks through
// CommandUi and acts through CommandHost. The GUI and tests call the same
// functions; nothing here knows about widgets.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "app/main_controller.h"
#include "app/message_boxes.h"
#include "base/connection_descriptor.h"
#include "base/status.h"
#include "catalog/db_tree.h"
#include "db/statements.h"
#include "log/output_log.h"
#include "log/system_error.h"
#include "tasks/task_record.h"

namespace velquin {

// What a command asks the queue to run. The host adds the stamp, the DBMS
// names and the "Waiting" state when it appends the record.
struct TaskRequest {
  TaskType type{};
  TaskKind kind{};
  std::string object_letter;
  std::string source_object;
  std::string source_database;
  std::string target_object;
  std::string target_database;
  // Migrations: what the task does with the objects its target holds
  // already, and those objects (see AskAboutExistingObjects).
  ExistingObjects existing = ExistingObjects::kStop;
  std::vector<std::string> existing_names{};
  // Database tasks: the estimate of the plan shown before queuing (0: none).
  uint64_t planned_rows = 0;
  double planned_seconds = 0;

  bool operator==(const TaskRequest&) const = default;
};

// The objects a migration task would create that its target holds already.
// `checked` is false when they could not be looked at without waiting (a
// running task has the file open): the task then checks at its start and
// stops before any change when it finds any.
struct HeldTargetObjects {
  bool checked = false;
  std::vector<std::string> names;
};

// The question asked once per task whose target holds some of the objects
// it would create, with Replace, Append and Cancel.
std::string ExistingObjectsQuestion(const std::string& target_database,
                                    const std::vector<std::string>& names);
// What Cancel on that question writes.
std::string ExistingObjectsCancelled(const std::string& target_database);
// What Cancel on a database task's plan writes.
std::string PlanCancelled(const std::string& target_database);

struct Refusal {
  std::string hint;
  std::string box;
  std::string title;
};

// ---- plans ----

struct MigratePlan {
  std::optional<Refusal> refusal;
  std::string question;             // asked with OK/Cancel before queuing
  std::optional<TaskRequest> task;  // what OK queues
  bool start_worker = false;        // start the worker (and redraw) after OK / at once
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
  // The character-set name chosen last ("LATIN1" after each connect).
  virtual std::string CharsetName() const { return {}; }
  // The objects the task would create that its target holds already; an
  // error when the target cannot be opened (another program writing it).
  virtual Result<HeldTargetObjects> HeldObjects(const TaskRequest& /*task*/) {
    return HeldTargetObjects{};
  }
  // The plan of a database task (IsDatabaseTaskKind), read from the source
  // catalogue; nothing when this host has no source catalogue to plan from
  // (the task is then queued without one); an error when the catalogue
  // cannot be read. Any thread: the window runs it while a busy box shows.
  virtual Result<std::optional<TaskPlanPreview>> PlanTask(const TaskRequest& /*task*/) {
    return std::optional<TaskPlanPreview>{};
  }
  // Drops on the target side; each reports its own lines.
  virtual Status DropTargetDatabase(const std::string& name) = 0;
  virtual Status DropTargetTable(const std::string& table) = 0;
  virtual Status DropTargetView(const std::string& view) = 0;
};

// The database side of the commands: opening a side, choosing its current
// database, dropping target objects and reading table conditions. The real
// implementation sits on the database layer; tests and the demo use
// catalogues in memory.
class DatabaseAccess {
 public:
  virtual ~DatabaseAccess() = default;
  // Opens `side` and points `tree` at its catalogue (source, provider,
  // catalogue name). Returns the DBMS display name.
  virtual Result<std::string> Connect(Side side, DbTree& tree) = 0;
  // Makes `name` the side's current database (before the tree is refilled).
  virtual Status UseDatabase(Side side, const std::string& name) = 0;
  virtual Status DropDatabase(const std::string& name) = 0;
  virtual Status DropTable(const std::string& table) = 0;
  virtual Status DropView(const std::string& view) = 0;
  // Renames a table of the target's current database.
  virtual Status RenameTable(const std::string& old_name, const std::string& new_name) = 0;
  // The table's row condition from Condition.cfg; empty when there is none.
  virtual std::string TableCondition(const std::string& database, const std::string& table) = 0;

  // See CommandHost::HeldObjects.
  virtual Result<HeldTargetObjects> HeldObjects(const TaskRequest& /*task*/) {
    return HeldTargetObjects{};
  }
  // See CommandHost::PlanTask.
  virtual Result<std::optional<TaskPlanPreview>> PlanTask(const TaskRequest& /*task*/) {
    return std::optional<TaskPlanPreview>{};
  }
  // True while a running task works on the file the target side has open:
  // the window then leaves the target alone instead of waiting for the task.
  virtual bool TargetBusy() { return false; }
  // Creates a new, empty Access database file and makes it the target's
  // current database.
  virtual Status CreateDatabase(const std::string& path) { return Cannot("create " + path); }
  // Deletes every row of a table of the target's current database; the
  // table, its keys, indexes and relationships stay.
  virtual Status ClearTable(const std::string& table) { return Cannot("empty " + table); }
  // PrintQuery on the source session: result values as output lines.
  virtual bool PrintSourceQuery(const std::string& /*sql*/, bool /*report*/) { return false; }
  // QueryValue on the source session (the condition dialog's Test).
  virtual std::string SourceQueryValue(const std::string& sql) {
    return Cannot("run " + sql).message();
  }
  // Opens and closes one side from the given settings (Test Connections).
  virtual Status TestConnection(Side /*side*/, const ConnectionDescriptor& descriptor) {
    return Cannot("test the connection to " + descriptor.source_name);
  }
  // The settings the next Connect uses (handed over by the configuration
  // dialog's Connect).
  virtual void UseDescriptors(const ConnectionDescriptor& /*source*/,
                              const ConnectionDescriptor& /*target*/) {}
  // Stores a table's row condition in Condition.cfg.
  virtual Status SaveCondition(const std::string& database, const std::string& table,
                               const std::string& /*condition*/) {
    return Cannot("save the condition of " + database + "." + table);
  }

 protected:
  static Status Cannot(const std::string& what) {
    return Status::NotSupported("This database access cannot " + what);
  }
};

// What the window says when it leaves the target alone while a task works
// on the same file.
inline constexpr char kTargetBusy[] =
    "The target database is in use by a running task. Please try again when the task has "
    "ended (or stop it in the Task List)!";

// CommandHost over the MainController: its queue, RunState, worker and log,
// plus the two trees and the database access.
class ControllerHost : public CommandHost {
 public:
  ControllerHost(MainController& controller, DatabaseAccess& access);

  MainController& controller() { return controller_; }
  DatabaseAccess& access() { return access_; }
  const std::string& backup_folder() const { return backup_folder_; }
  const std::string& charset_name() const { return charset_; }

  DbTree& source_tree() override { return source_; }
  DbTree& target_tree() override { return target_; }
  bool Running() const override;
  bool Stopping() const override;
  int run_state() const override;
  void StopAll() override;
  void StartWorker() override;
  void AppendTask(const TaskRequest& request) override;
  void WriteLine(const std::string& line) override;
  void SetBackupFolder(const std::string& folder) override {
    backup_folder_ = folder;
    controller_.SetBackupFolder(folder);
  }
  Result<std::string> ConnectSide(bool target) override;
  void SetCharsetName(const std::string& name) override { charset_ = name; }
  std::string CharsetName() const override { return charset_; }
  Result<HeldTargetObjects> HeldObjects(const TaskRequest& task) override {
    return access_.HeldObjects(task);
  }
  Result<std::optional<TaskPlanPreview>> PlanTask(const TaskRequest& task) override {
    return access_.PlanTask(task);
  }
  Status DropTargetDatabase(const std::string& name) override;
  Status DropTargetTable(const std::string& table) override;
  Status DropTargetView(const std::string& view) override;

 private:
  MainController& controller_;
  DatabaseAccess& access_;
  DbTree source_;
  DbTree target_;
  std::string backup_folder_;
  std::string charset_;
};

// ---- the task grid ----

inline constexpr int kTaskGridColumns = 10;

// One row of the task list: the ten cell texts and the bar's position.
struct TaskGridText {
  std::array<std::string, kTaskGridColumns> cells;
  int progress = 0;
};
// Rows for the queue's records in queue order: "%02d" number from 1, " "
// under the bar, "MIGRATION"/"BACKUP", state, source DBMS, database, object,
// target DBMS, database, object. A bar at 0 is shown at 5.
std::vector<TaskGridText> TaskGridRows(const std::vector<TaskRecord>& records);

// Double click on a database node: it becomes the tree's current database,
// the side uses it and the tree is listed again.
void ChooseDatabase(CommandHost& host, CommandUi& ui, DatabaseAccess& access, DbTree& tree,
                    const std::string& name);

// The end of a label edit on a target table: renames it when the edit was
// ended with Enter and the database accepted the new name; true when the
// node now carries `new_name`. The commit flag is cleared in every case.
bool FinishRename(DatabaseAccess& access, DbTree& tree, TreeNode* node,
                  const std::string& new_name);

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

// ---- PrintQuery and QueryValue ----
//
// Both run one statement on a session and look at up to 100 rows of its
// result; later rows are fetched but not looked at. They are templates over
// the session type so that any session with OpenQuery(sql) returning a
// cursor (Columns(), MoveNext(), IsNull(j), Value(j)) serves.

// kResultSuccess and kNoConnection come from db/statements.h.
inline constexpr int kQueryRowsShown = 100;

namespace commands_internal {
// True when `text` starts with a number below zero ("-1", " -2.5x").
bool ReadsAsNegativeNumber(const std::string& text);
}  // namespace commands_internal

// Writes every value of the first 100 rows, one line per column ("(NULL)"
// for a null), then the result line when `report`. False when there is no
// session or the statement or a fetch failed (its error text is written).
template <typename SessionT>
bool PrintQuery(OutputLog& log, SessionT* session, const std::string& sql, bool report) {
  if (session == nullptr) {
    log.Write(SystemErrorText(kNoConnection));
    return false;
  }
  auto cursor = session->OpenQuery(sql);
  if (!cursor.ok()) {
    log.Write("T::" + cursor.status().message());
    return false;
  }
  auto& rows = **cursor;
  const size_t columns = rows.Columns().size();
  for (int row = 0;; ++row) {
    auto more = rows.MoveNext();
    if (!more.ok()) {
      log.Write("T::" + more.status().message());
      return false;
    }
    if (!*more) break;
    if (row >= kQueryRowsShown) continue;
    for (size_t c = 0; c < columns; ++c) {
      log.Write(rows.IsNull(c) ? std::string("(NULL)") : rows.Value(c));
    }
  }
  if (report) log.Write(std::string(kResultSuccess));
  return true;
}

// The statement's first qualifying value: the first non-null value, in row
// and column order over the first 100 rows, that does not read as a negative
// number (each null passed over writes "(NULL)"). Without a session: ""
// (and a line); a failing statement: its error description (no line); no
// qualifying value: the result text (written too when there were no rows and
// `report`).
template <typename SessionT>
std::string QueryValue(OutputLog& log, SessionT* session, const std::string& sql, bool report) {
  if (session == nullptr) {
    log.Write(SystemErrorText(kNoConnection));
    return {};
  }
  auto cursor = session->OpenQuery(sql);
  if (!cursor.ok()) return cursor.status().message();
  auto& rows = **cursor;
  const size_t columns = rows.Columns().size();
  bool any_row = false;
  for (int row = 0;; ++row) {
    auto more = rows.MoveNext();
    if (!more.ok()) return more.status().message();
    if (!*more) break;
    any_row = true;
    if (row >= kQueryRowsShown) continue;
    for (size_t c = 0; c < columns; ++c) {
      if (rows.IsNull(c)) {
        log.Write("(NULL)");
        continue;
      }
      if (report) log.Write(std::string(kResultSuccess));
      std::string value = rows.Value(c);
      if (!commands_internal::ReadsAsNegativeNumber(value)) return value;
    }
  }
  if (!any_row && report) log.Write(std::string(kResultSuccess));
  return std::string(kResultSuccess);
}

}  // namespace velquin
