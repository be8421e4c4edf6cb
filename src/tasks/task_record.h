// Task records: one long operation (convert a database, a set of tables or
// views, one table or view, or back up target objects) waiting in the task
// queue, running, or finished.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velquin {

// Unique within the process, never reused; assigned when a record joins the
// queue. Results are matched by it, not by the one-second stamp, so two
// records created in the same second never receive each other's result.
using TaskId = uint64_t;

enum class TaskType : int32_t {
  kMigration = 256,  // shown as "MIGRATION"
  kBackup = 512,     // shown as "BACKUP"
};

// Selects the routine the worker runs. Codes outside the table are kept as
// they are (the record then stays pending: nothing runs for it).
enum class TaskKind : int32_t {
  kCloneDatabase = 257,
  kConvertDatabase = 258,
  kConvertTables = 259,
  kConvertViews = 260,
  kConvertTable = 261,
  kConvertView = 262,
  kBackupDatabaseObjects = 513,
  kBackupObject = 514,
};

enum class TaskStatus : int32_t {
  kWaiting = 0,  // not yet finished (queued or running)
  kSucceeded = 1,
  kFailed = 3,
};

// State texts shown in the task list.
inline constexpr const char kStateWaiting[] = "Waiting";
inline constexpr const char kStateWorking[] = "Working";
inline constexpr const char kStateSuccess[] = "SUCCESS";
inline constexpr const char kStateFailure[] = "FAILURE";

// Object letters of backup records.
inline constexpr const char kLetterAll[] = "A";  // tables and views
inline constexpr const char kLetterTables[] = "T";
inline constexpr const char kLetterViews[] = "V";

// What a migration does with the tables and queries its target holds
// already (the window asks when it queues the task).
enum class ExistingObjects : int32_t {
  kStop = 0,     // nothing was asked: the task stops before any change
  kReplace = 1,  // they are dropped and created again
  kAppend = 2,   // the rows go into the existing tables
};

struct TaskRecord {
  TaskId id = 0;
  TaskStatus status = TaskStatus::kWaiting;
  // Seconds since 1970: the creation time, overwritten with the start time
  // when the worker dispatches the record.
  int32_t stamp = 0;
  TaskType type = TaskType::kMigration;
  TaskKind kind = TaskKind::kConvertTable;
  std::string object_letter;  // backup records: "A", "T" or "V"
  std::string source_dbms;    // migration records
  std::string target_dbms;
  std::string source_object;
  std::string source_database;
  std::string target_object;
  std::string target_database;
  std::string state_text;
  int32_t progress = 0;  // percent, 0..100
  // Migration records: the answer about the objects the target held when
  // the task was queued, and those objects.
  ExistingObjects existing = ExistingObjects::kStop;
  std::vector<std::string> existing_names{};
  // Database tasks (kinds 257 to 259): after the load the file is compared
  // with the server, and a difference fails the task. On unless a task says
  // otherwise, so a record made without the field verifies.
  bool verify = true;
  // From the plan shown before the task was queued (0: none): the rows the
  // server estimates and the seconds the run is expected to take.
  uint64_t planned_rows = 0;
  double planned_seconds = 0;
  // While it runs: rows copied so far, and the rows it moves in all (the
  // plan's, or the server's count once a single table starts; 0: unknown).
  uint64_t rows_done = 0;
  uint64_t rows_total = 0;
};

// The type a kind belongs to (backup for 513 and 514, migration otherwise).
TaskType TaskTypeOf(TaskKind kind);
// "MIGRATION" or "BACKUP".
const char* TaskTypeName(TaskType type);
// "CloneDatabase" ... "BackupObject"; "" for a code outside the table.
const char* TaskKindName(TaskKind kind);
// True for the kinds that move a whole database's tables (257, 258, 259):
// they are planned before they are queued.
bool IsDatabaseTaskKind(TaskKind kind);
// True when the record's task compares the file with the server after its
// load.
bool VerifiesLoad(const TaskRecord& record);

}  // namespace velquin
