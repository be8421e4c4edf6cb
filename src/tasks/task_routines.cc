#include "tasks/task_routines.h"

#include <cstring>
#include <exception>
#include <mutex>
#include <string_view>
#include <thread>

#include "log/output_log.h"

namespace velquin {
namespace {

// The path of this file from the project root ("src/tasks/task_routines.cc"),
// as it appears in the routines' error lines.
constexpr std::string_view RoutinesSourcePath() {
  std::string_view path = __FILE__;
  const size_t at = path.rfind("src/");
  return at == std::string_view::npos ? path : path.substr(at);
}

void SelectSourceError(WorkerContext& ctx, int line) {
  WriteOutputTo(*ctx.log, kLineSelectSourceError, RoutinesSourcePath(), line, ctx.source_database);
}

// Every routine starts the same way: a short wait before its first step.
void RoutineStart(const WorkerContext& ctx) {
  if (ctx.routine_wait.count() > 0) std::this_thread::sleep_for(ctx.routine_wait);
}

bool RunStatement(WorkerContext& ctx, Side side, const std::string& database) {
  ctx.ops->SetTreeCurrentDatabase(side, database);
  return ctx.ops->ExecuteStatement(side, "use " + database + ";");
}

// Database tasks: the file is compared with the server after the load
// (unless the task does not verify, or a stop cut the load short: the task
// fails then anyway). A difference fails the task and says so.
bool VerifyStep(WorkerContext& ctx) {
  if (!ctx.verify || ctx.run_state->StopRequested()) return true;
  if (ctx.ops->VerifyLoad(ctx.source_database)) return true;
  WriteOutputTo(*ctx.log, "E::%s", kLineVerifyFailed);
  return false;
}

}  // namespace

void WorkerContext::Load(const TaskRecord& record) {
  start_stamp = record.stamp;
  task_id = record.id;
  source_object = record.source_object;
  source_database = record.source_database;
  target_object = record.target_object;
  target_database = record.target_database;
  object_letter = record.object_letter;
  verify = VerifiesLoad(record);
}

bool CompleteTask(WorkerContext& ctx, bool success) {
  if (ctx.ops != nullptr) ctx.ops->TaskEnded();
  // A task that was stopped did not do all its work, whatever its steps
  // reported: it fails. (The stop this function requests itself comes
  // after.)
  if (success && ctx.run_state->StopRequested()) {
    WriteOutputTo(*ctx.log, "E::%s", "The task was stopped before it was complete");
    success = false;
  }
  std::lock_guard<TaskListLock> relock(*ctx.lock);
  const TaskQueue::Completion c = ctx.queue->Complete(ctx.task_id, success);
  if (c.found) WriteOutputTo(*ctx.log, success ? kLineSuccess : kLineFailure);
  if (c.queue_empty || !c.pending_left) {
    // Nothing left to run: request the stop without asking. Only a running
    // worker is asked to stop; an idle state is never turned into a stop
    // that no worker would ever clear.
    ctx.run_state->Transition(RunStateValue::kRunning, RunStateValue::kStopRequested);
    if (ctx.observer) ctx.observer->OnStartStopPicture(StartStopPicture::kIdle);
  }
  return success;
}

// 513: back up the tables and/or views of a target database; the task
// fails when either part did not back up.
bool BackupDatabaseObjects(WorkerContext& ctx) {
  RoutineStart(ctx);
  const std::string& letter = ctx.object_letter;
  ctx.ops->SwitchTargetDatabase(ctx.target_database);
  bool ok = true;
  if (letter == kLetterAll || letter == kLetterTables) {
    ok = ctx.ops->BackupDatabaseTables(ctx.target_database);
  }
  ctx.SetProgress(50);
  if (letter == kLetterAll || letter == kLetterViews) {
    ok = ctx.ops->BackupDatabaseViews(ctx.target_database) && ok;
  }
  ctx.SetProgress(100);
  // An object that was not written whole fails the task.
  return CompleteTask(ctx, ok);
}

// 514: back up one table or view.
bool BackupObject(WorkerContext& ctx) {
  RoutineStart(ctx);
  ctx.ops->SwitchTargetDatabase(ctx.target_database);
  bool ok = false;
  if (ctx.object_letter == kLetterTables) {
    ok = ctx.ops->BackupTable(ctx.target_database, ctx.target_object);
  } else if (ctx.object_letter == kLetterViews) {
    ok = ctx.ops->BackupView(ctx.target_database, ctx.target_object);
  }
  ctx.SetProgress(80);
  ctx.ops->RefillTargetTree();
  ctx.SetProgress(100);
  return CompleteTask(ctx, ok);
}

// 257: create a target database named like the source database and convert
// the source database into it.
bool CloneDatabase(WorkerContext& ctx) {
  RoutineStart(ctx);
  if (!ctx.ops->CreateAccessDatabase(ctx.target_database)) {
    WriteOutputTo(*ctx.log, kLineCreateTargetError, ctx.target_database);
    return CompleteTask(ctx, false);
  }
  ctx.ops->SwitchTargetDatabase(ctx.target_database);
  if (!ctx.ops->SelectDatabase(ctx.source_database, Side::kSource)) {
    SelectSourceError(ctx, __LINE__);
    return CompleteTask(ctx, false);
  }
  bool ok = ctx.ops->ConvertDatabaseTables(ctx.source_database);
  ctx.SetProgress(50);
  ok = ctx.ops->ConvertDatabaseViews(ctx.source_database) && ok;
  ok = VerifyStep(ctx) && ok;
  ctx.SetProgress(100);
  ctx.ops->RefillTargetTree();
  return CompleteTask(ctx, ok);
}

// 258: convert all tables and views of a source database.
bool ConvertDatabase(WorkerContext& ctx) {
  RoutineStart(ctx);
  ctx.ops->SwitchTargetDatabase(ctx.target_database);
  if (!RunStatement(ctx, Side::kSource, ctx.source_database)) {
    SelectSourceError(ctx, __LINE__);
    return CompleteTask(ctx, false);
  }
  bool ok = ctx.ops->ConvertDatabaseTables(ctx.source_database);
  ctx.SetProgress(50);
  ok = ctx.ops->ConvertDatabaseViews(ctx.source_database) && ok;
  ok = VerifyStep(ctx) && ok;
  ctx.SetProgress(90);
  ctx.ops->RefillTargetTree();
  ctx.SetProgress(100);
  return CompleteTask(ctx, ok);
}

// 259: convert all tables of a source database.
bool ConvertTables(WorkerContext& ctx) {
  RoutineStart(ctx);
  ctx.ops->SwitchTargetDatabase(ctx.target_database);
  if (!RunStatement(ctx, Side::kSource, ctx.source_database)) {
    SelectSourceError(ctx, __LINE__);
    return CompleteTask(ctx, false);
  }
  bool ok = ctx.ops->ConvertDatabaseTables(ctx.source_database);
  ok = VerifyStep(ctx) && ok;
  ctx.SetProgress(90);
  ctx.ops->RefillTargetTree();
  ctx.SetProgress(100);
  return CompleteTask(ctx, ok);
}

// 260: convert all views of a source database. The target is switched
// through its session (the Access side has no "use" statement).
bool ConvertViews(WorkerContext& ctx) {
  RoutineStart(ctx);
  ctx.ops->SwitchTargetDatabase(ctx.target_database);
  ctx.ops->SetTreeCurrentDatabase(Side::kTarget, ctx.target_database);
  if (!RunStatement(ctx, Side::kSource, ctx.source_database)) {
    SelectSourceError(ctx, __LINE__);
    return CompleteTask(ctx, false);
  }
  const bool ok = ctx.ops->ConvertDatabaseViews(ctx.source_database);
  ctx.SetProgress(90);
  ctx.ops->RefillTargetTree();
  ctx.SetProgress(100);
  return CompleteTask(ctx, ok);
}

// 261: convert one table. The table migration reports its own errors; the
// task fails when the table was not migrated whole.
bool ConvertTable(WorkerContext& ctx) {
  RoutineStart(ctx);
  ctx.ops->SwitchTargetDatabase(ctx.target_database);
  if (!ctx.ops->SelectDatabase(ctx.source_database, Side::kSource)) {
    SelectSourceError(ctx, __LINE__);
    return CompleteTask(ctx, false);
  }
  const bool ok = ctx.ops->MigrateTable(ctx.source_database, ctx.source_object);
  ctx.SetProgress(90);
  ctx.ops->RefillTargetTree();
  ctx.SetProgress(100);
  return CompleteTask(ctx, ok);
}

// 262: convert one view; the view migration's result is the task's result.
bool ConvertView(WorkerContext& ctx) {
  RoutineStart(ctx);
  ctx.ops->SwitchTargetDatabase(ctx.target_database);
  if (!ctx.ops->SelectDatabase(ctx.source_database, Side::kSource)) {
    SelectSourceError(ctx, __LINE__);
    return CompleteTask(ctx, false);
  }
  const bool ok = ctx.ops->MigrateView(ctx.source_database, ctx.source_object);
  ctx.SetProgress(90);
  ctx.ops->RefillTargetTree();
  ctx.SetProgress(100);
  return CompleteTask(ctx, ok);
}

std::optional<bool> RunTaskRoutine(TaskKind kind, WorkerContext& ctx) {
  bool (*routine)(WorkerContext&) = nullptr;
  switch (kind) {
    case TaskKind::kCloneDatabase:
      routine = CloneDatabase;
      break;
    case TaskKind::kConvertDatabase:
      routine = ConvertDatabase;
      break;
    case TaskKind::kConvertTables:
      routine = ConvertTables;
      break;
    case TaskKind::kConvertViews:
      routine = ConvertViews;
      break;
    case TaskKind::kConvertTable:
      routine = ConvertTable;
      break;
    case TaskKind::kConvertView:
      routine = ConvertView;
      break;
    case TaskKind::kBackupDatabaseObjects:
      routine = BackupDatabaseObjects;
      break;
    case TaskKind::kBackupObject:
      routine = BackupObject;
      break;
  }
  if (routine == nullptr) return std::nullopt;
  try {
    return routine(ctx);
  } catch (const std::exception& e) {
    // An operation that escaped with an exception fails its task; the
    // worker thread goes on with the next record.
    WriteOutputTo(*ctx.log, "E::%s", e.what());
  } catch (...) {
    WriteOutputTo(*ctx.log, "E::%s", "Unknown error");
  }
  return CompleteTask(ctx, false);
}

}  // namespace velquin
