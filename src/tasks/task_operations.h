// TaskOperations: the database operations the task routines sequence. The
// real implementation (over the sessions, the migration pipeline, backup and
// the catalogue trees) is plugged in by the application; tests use doubles.
//
// Sessions are not passed: an implementation looks up the controller's
// current session for the side at each call, so a reconnect made by one
// step (SwitchTargetDatabase may reconnect) is seen by the following steps.
// Implementations report their own failures as output lines; they should
// not throw, but a routine turns an escaped exception into a failure.
#pragma once

#include <string>

#include "tasks/task_record.h"

namespace velquin {

enum class Side { kSource = 0, kTarget = 1 };

class TaskOperations {
 public:
  virtual ~TaskOperations() = default;

  // Told before each task's routine runs, with its record: what a task
  // learns (plans, failures) belongs to that task only.
  virtual void BeginTask(const TaskRecord& /*record*/) {}

  // Points the target connection at the database; reports success always in
  // practice, the result is not used.
  virtual bool SwitchTargetDatabase(const std::string& target_database) = 0;
  // True when the Access database file was created (on the target side).
  virtual bool CreateAccessDatabase(const std::string& database) = 0;
  // True when the source session now uses the database.
  virtual bool SelectDatabase(const std::string& database, Side side) = 0;
  // True when the statement ran on that side's session (report flag 0: no
  // result line).
  virtual bool ExecuteStatement(Side side, const std::string& statement) = 0;
  // Sets the current database name of that side's tree.
  virtual void SetTreeCurrentDatabase(Side side, const std::string& database) = 0;

  // The migration pipeline; each reports its own lines and returns false
  // when anything it converted failed (a table not created, a key, index or
  // relationship missing, rows refused): a failure is never reported as a
  // success.
  virtual bool ConvertDatabaseTables(const std::string& source_database) = 0;
  virtual bool ConvertDatabaseViews(const std::string& source_database) = 0;
  virtual bool MigrateTable(const std::string& source_database, const std::string& table) = 0;
  virtual bool MigrateView(const std::string& source_database, const std::string& view) = 0;

  // Database tasks that verify (VerifiesLoad): after the load, compares
  // every table the task filled with the server and writes one line per
  // table (equal, the differences, or not verified and why). False when any
  // table differs or could not be verified.
  virtual bool VerifyLoad(const std::string& source_database) = 0;

  // Backup of target objects; each reports its own lines and returns false
  // when any object was not written whole (or the walk was stopped).
  virtual bool BackupDatabaseTables(const std::string& target_database) = 0;
  virtual bool BackupDatabaseViews(const std::string& target_database) = 0;
  virtual bool BackupTable(const std::string& target_database, const std::string& table) = 0;
  virtual bool BackupView(const std::string& target_database, const std::string& view) = 0;

  // Re-lists the target catalogue into the target tree.
  virtual void RefillTargetTree() = 0;

  // Called when a task's routine completes, before its result is recorded:
  // an implementation lets go of what the task alone held.
  virtual void TaskEnded() {}
};

}  // namespace velquin
