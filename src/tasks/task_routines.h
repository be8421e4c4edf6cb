// The task routines: one per task kind, run by the worker for a dispatched
// record. Each waits briefly, runs its steps through TaskOperations, writes
// the record's progress (by task id) and ends with the completion step,
// which writes the result into the record and the output log.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "tasks/run_state.h"
#include "tasks/task_list_lock.h"
#include "tasks/task_operations.h"
#include "tasks/task_queue.h"
#include "tasks/task_record.h"
#include "tasks/worker_observer.h"

namespace velquin {

class OutputLog;

// Fixed texts the routines write.
inline constexpr const char kLineSuccess[] = "Operation completed SUCCESSFULLY!";
inline constexpr const char kLineFailure[] = "Operation FAILURE!";
inline constexpr const char kLineCreateTargetError[] = "Create Target Database[%s] Error!";
inline constexpr const char kLineSelectSourceError[] = "[%s](%d)Select Source Database[%s] Error!";
inline constexpr const char kLineVerifyFailed[] =
    "Verification FAILED: the file does not hold what the server holds (see the lines above)";

// What a routine works with: the names of the task being run (copied at
// dispatch) and the worker's shared objects.
struct WorkerContext {
  // The task being run.
  int32_t start_stamp = 0;
  TaskId task_id = 0;
  std::string source_object;
  std::string source_database;
  std::string target_object;
  std::string target_database;
  std::string object_letter;
  bool verify = false;  // VerifiesLoad of the record

  // The worker's shared objects (not owned).
  TaskQueue* queue = nullptr;
  RunState* run_state = nullptr;
  TaskListLock* lock = nullptr;
  TaskOperations* ops = nullptr;
  WorkerObserver* observer = nullptr;
  OutputLog* log = nullptr;
  std::chrono::milliseconds routine_wait{50};

  // Writes the running task's progress; reaches the record wherever it was
  // moved, and is dropped when the record was deleted or cleared.
  void SetProgress(int32_t percent) const { queue->SetProgress(task_id, percent); }

  // Copies the names of a dispatched record.
  void Load(const TaskRecord& record);
};

// Runs the routine of `kind`. Returns its result, or nothing when the kind
// has no routine (then nothing ran and the record stays pending).
std::optional<bool> RunTaskRoutine(TaskKind kind, WorkerContext& ctx);

// The routines; each includes the completion step and returns its result.
bool CloneDatabase(WorkerContext& ctx);
bool ConvertDatabase(WorkerContext& ctx);
bool ConvertTables(WorkerContext& ctx);
bool ConvertViews(WorkerContext& ctx);
bool ConvertTable(WorkerContext& ctx);
bool ConvertView(WorkerContext& ctx);
bool BackupDatabaseObjects(WorkerContext& ctx);
bool BackupObject(WorkerContext& ctx);

// The completion step: re-enters TaskListLock, marks the running record
// (found by id) succeeded or failed and writes the result line; when no
// record is left pending it requests the stop.
bool CompleteTask(WorkerContext& ctx, bool success);

}  // namespace velquin
