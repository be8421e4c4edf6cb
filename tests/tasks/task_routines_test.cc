// The task routines, run directly (no worker thread) against a fake of the
// operations: the order of steps, the progress written before each step,
// the result written into the record and the lines written.
#include "tasks/task_routines.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "fake_task_operations.h"
#include "log/output_log.h"

namespace velquin {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeTaskOperations;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::Not;

class RecordingObserver : public WorkerObserver {
 public:
  void OnStartStopPicture(StartStopPicture p) override { pictures.push_back(p); }
  std::vector<StartStopPicture> pictures;
};

// One routine run: a queue holding the task, dispatched as the worker would.
class RoutineRun {
 public:
  RoutineRun() : log_(100), queue_([this] { return now_; }) {
    fake_.queue = &queue_;
    run_state_.Store(RunStateValue::kRunning);
    ctx_.queue = &queue_;
    ctx_.run_state = &run_state_;
    ctx_.lock = &lock_;
    ctx_.ops = &fake_;
    ctx_.observer = &observer_;
    ctx_.log = &log_;
    ctx_.routine_wait = std::chrono::milliseconds(0);
  }

  TaskId Append(TaskKind kind, std::string letter = "") {
    TaskRecord r;
    r.kind = kind;
    r.type = TaskTypeOf(kind);
    r.source_object = "t1";
    r.source_database = "src";
    r.target_object = "o1";
    r.target_database = "tgt";
    r.object_letter = std::move(letter);
    return queue_.Append(std::move(r));
  }

  // Dispatches the first waiting record and runs its routine.
  std::optional<bool> DispatchAndRun() {
    auto record = queue_.DispatchNext({});
    if (!record) return std::nullopt;
    ctx_.Load(*record);
    fake_.current_task = record->id;
    return RunTaskRoutine(record->kind, ctx_);
  }

  std::vector<std::string> Lines() const {
    std::vector<std::string> out;
    for (const auto& l : log_.model().Snapshot()) out.push_back(l.text);
    return out;
  }

  int32_t now_ = 1000;
  OutputLog log_;
  TaskQueue queue_;
  RunState run_state_;
  TaskListLock lock_;
  FakeTaskOperations fake_;
  RecordingObserver observer_;
  WorkerContext ctx_;
};

struct RoutineCase {
  const char* name;
  TaskKind kind;
  const char* letter;
  std::vector<std::string> calls;  // "Step(args)@progress before the step"
};

class RoutineStepsTest : public ::testing::TestWithParam<RoutineCase> {};

TEST_P(RoutineStepsTest, RunsTheStepsInOrderAndSucceeds) {
  const RoutineCase& c = GetParam();
  RoutineRun run;
  const TaskId id = run.Append(c.kind, c.letter);

  ASSERT_EQ(run.DispatchAndRun(), std::optional<bool>(true));

  EXPECT_THAT(run.fake_.Calls(), ElementsAreArray(c.calls));
  const auto record = run.queue_.Find(id);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->status, TaskStatus::kSucceeded);
  EXPECT_EQ(record->state_text, "SUCCESS");
  EXPECT_EQ(record->progress, 100);
  EXPECT_THAT(run.Lines(), ElementsAre("Operation completed SUCCESSFULLY!"));
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, RoutineStepsTest,
    ::testing::Values(RoutineCase{"CloneDatabase",
                                  TaskKind::kCloneDatabase,
                                  "",
                                  {"CreateAccessDatabase(tgt)@0", "SwitchTargetDatabase(tgt)@0",
                                   "SelectDatabase(src,0)@0", "ConvertDatabaseTables(src)@0",
                                   "ConvertDatabaseViews(src)@50", "VerifyLoad(src)@50",
                                   "RefillTargetTree()@100"}},
                      RoutineCase{"ConvertDatabase",
                                  TaskKind::kConvertDatabase,
                                  "",
                                  {"SwitchTargetDatabase(tgt)@0", "SetTreeCurrentDatabase(0,src)@0",
                                   "ExecuteStatement(0,use src;)@0", "ConvertDatabaseTables(src)@0",
                                   "ConvertDatabaseViews(src)@50", "VerifyLoad(src)@50",
                                   "RefillTargetTree()@90"}},
                      RoutineCase{"ConvertTables",
                                  TaskKind::kConvertTables,
                                  "",
                                  {"SwitchTargetDatabase(tgt)@0", "SetTreeCurrentDatabase(0,src)@0",
                                   "ExecuteStatement(0,use src;)@0", "ConvertDatabaseTables(src)@0",
                                   "VerifyLoad(src)@0", "RefillTargetTree()@90"}},
                      RoutineCase{
                          "ConvertViews",
                          TaskKind::kConvertViews,
                          "",
                          {"SwitchTargetDatabase(tgt)@0", "SetTreeCurrentDatabase(1,tgt)@0",
                           "SetTreeCurrentDatabase(0,src)@0", "ExecuteStatement(0,use src;)@0",
                           "ConvertDatabaseViews(src)@0", "RefillTargetTree()@90"}},
                      RoutineCase{"ConvertTable",
                                  TaskKind::kConvertTable,
                                  "",
                                  {"SwitchTargetDatabase(tgt)@0", "SelectDatabase(src,0)@0",
                                   "MigrateTable(src,t1)@0", "RefillTargetTree()@90"}},
                      RoutineCase{"ConvertView",
                                  TaskKind::kConvertView,
                                  "",
                                  {"SwitchTargetDatabase(tgt)@0", "SelectDatabase(src,0)@0",
                                   "MigrateView(src,t1)@0", "RefillTargetTree()@90"}},
                      RoutineCase{"BackupAll",
                                  TaskKind::kBackupDatabaseObjects,
                                  "A",
                                  {"SwitchTargetDatabase(tgt)@0", "BackupDatabaseTables(tgt)@0",
                                   "BackupDatabaseViews(tgt)@50"}},
                      RoutineCase{"BackupTables",
                                  TaskKind::kBackupDatabaseObjects,
                                  "T",
                                  {"SwitchTargetDatabase(tgt)@0", "BackupDatabaseTables(tgt)@0"}},
                      RoutineCase{"BackupViews",
                                  TaskKind::kBackupDatabaseObjects,
                                  "V",
                                  {"SwitchTargetDatabase(tgt)@0", "BackupDatabaseViews(tgt)@50"}},
                      RoutineCase{"BackupOneTable",
                                  TaskKind::kBackupObject,
                                  "T",
                                  {"SwitchTargetDatabase(tgt)@0", "BackupTable(tgt,o1)@0",
                                   "RefillTargetTree()@80"}},
                      RoutineCase{"BackupOneView",
                                  TaskKind::kBackupObject,
                                  "V",
                                  {"SwitchTargetDatabase(tgt)@0", "BackupView(tgt,o1)@0",
                                   "RefillTargetTree()@80"}}),
    [](const ::testing::TestParamInfo<RoutineCase>& info) { return info.param.name; });

// The "[file](line)" part names this project's routines file, without any
// machine path before "src/".
const char kSelectErrorRegex[] =
    "^\\[src/tasks/task_routines\\.cc\\]\\([0-9]+\\)Select Source Database\\[src\\] Error!$";

TEST(RoutineFailureTest, CloneWhoseDatabaseCannotBeCreatedConvertsNothing) {
  RoutineRun run;
  const TaskId id = run.Append(TaskKind::kCloneDatabase);
  run.fake_.create_ok = false;

  EXPECT_EQ(run.DispatchAndRun(), std::optional<bool>(false));

  EXPECT_THAT(run.fake_.Calls(), ElementsAre("CreateAccessDatabase(tgt)@0"));
  EXPECT_THAT(run.Lines(), ElementsAre("Create Target Database[tgt] Error!", "Operation FAILURE!"));
  EXPECT_EQ(run.queue_.Find(id)->status, TaskStatus::kFailed);
  EXPECT_EQ(run.queue_.Find(id)->state_text, "FAILURE");
}

TEST(RoutineFailureTest, SelectSourceFailureNamesFileLineAndDatabase) {
  for (TaskKind kind :
       {TaskKind::kCloneDatabase, TaskKind::kConvertTable, TaskKind::kConvertView}) {
    SCOPED_TRACE(TaskKindName(kind));
    RoutineRun run;
    const TaskId id = run.Append(kind);
    run.fake_.select_ok = false;

    EXPECT_EQ(run.DispatchAndRun(), std::optional<bool>(false));

    const auto lines = run.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[0], MatchesRegex(kSelectErrorRegex));
    EXPECT_EQ(lines[1], "Operation FAILURE!");
    EXPECT_EQ(run.queue_.Find(id)->status, TaskStatus::kFailed);
    // Nothing was converted after the failed step.
    EXPECT_EQ(run.fake_.CountCalls("Migrate"), 0u);
    EXPECT_EQ(run.fake_.CountCalls("Convert"), 0u);
    EXPECT_EQ(run.fake_.CountCalls("RefillTargetTree"), 0u);
  }
}

TEST(RoutineFailureTest, FailedUseStatementOnSourceGivesTheSelectError) {
  for (TaskKind kind : {TaskKind::kConvertDatabase, TaskKind::kConvertTables}) {
    SCOPED_TRACE(TaskKindName(kind));
    RoutineRun run;
    run.Append(kind);
    run.fake_.failing_source_statements = {"use src;"};

    EXPECT_EQ(run.DispatchAndRun(), std::optional<bool>(false));

    const auto lines = run.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[0], MatchesRegex(kSelectErrorRegex));
    EXPECT_EQ(lines[1], "Operation FAILURE!");
    EXPECT_EQ(run.fake_.CountCalls("ConvertDatabase"), 0u);
  }
}

TEST(RoutineFailureTest, ConvertViewsSwitchesTheTargetThroughItsSession) {
  {
    // The Access side refuses "use": the task never sends it there.
    RoutineRun run;
    run.Append(TaskKind::kConvertViews);
    run.fake_.failing_target_statements = {"use tgt;"};
    EXPECT_EQ(run.DispatchAndRun(), std::optional<bool>(true));
    EXPECT_EQ(run.fake_.CountCalls("ExecuteStatement(1"), 0u);
    EXPECT_EQ(run.fake_.CountCalls("SwitchTargetDatabase(tgt)"), 1u);
  }
  {
    RoutineRun run;
    run.Append(TaskKind::kConvertViews);
    run.fake_.failing_source_statements = {"use src;"};
    EXPECT_EQ(run.DispatchAndRun(), std::optional<bool>(false));
    const auto lines = run.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[0], MatchesRegex(kSelectErrorRegex));
    EXPECT_EQ(lines[1], "Operation FAILURE!");
    EXPECT_EQ(run.fake_.CountCalls("ConvertDatabaseViews"), 0u);
  }
}

TEST(RoutineFailureTest, ViewMigrationResultIsTheTaskResult) {
  RoutineRun run;
  const TaskId id = run.Append(TaskKind::kConvertView);
  run.fake_.migrate_view_ok = false;
  EXPECT_EQ(run.DispatchAndRun(), std::optional<bool>(false));
  EXPECT_THAT(run.Lines(), ElementsAre("Operation FAILURE!"));
  // The remaining steps still ran: tree refilled, progress complete.
  EXPECT_EQ(run.fake_.CountCalls("RefillTargetTree"), 1u);
  EXPECT_EQ(run.queue_.Find(id)->progress, 100);
  EXPECT_EQ(run.queue_.Find(id)->status, TaskStatus::kFailed);
}

TEST(RoutineFailureTest, BackupObjectResultDecidesTheTask) {
  RoutineRun run;
  const TaskId id = run.Append(TaskKind::kBackupObject, "T");
  run.fake_.backup_ok = false;
  EXPECT_EQ(run.DispatchAndRun(), std::optional<bool>(false));
  EXPECT_THAT(run.Lines(), ElementsAre("Operation FAILURE!"));
  EXPECT_EQ(run.queue_.Find(id)->progress, 100);
}

TEST(RoutineFailureTest, DatabaseBackupFailsWhenTablesOrViewsFailed) {
  for (const bool tables_ok : {true, false}) {
    RoutineRun run;
    const TaskId id = run.Append(TaskKind::kBackupDatabaseObjects, "A");
    run.fake_.backup_tables_ok = tables_ok;
    run.fake_.backup_views_ok = !tables_ok;
    EXPECT_EQ(run.DispatchAndRun(), std::optional<bool>(false));
    // The views are backed up even after a table failed.
    EXPECT_EQ(run.fake_.CountCalls("BackupDatabaseViews"), 1u);
    EXPECT_THAT(run.Lines(), ElementsAre("Operation FAILURE!"));
    EXPECT_EQ(run.queue_.Find(id)->status, TaskStatus::kFailed);
  }
}

TEST(RoutineFailureTest, BackupObjectWithoutTableOrViewLetterFails) {
  RoutineRun run;
  run.Append(TaskKind::kBackupObject, "A");
  EXPECT_EQ(run.DispatchAndRun(), std::optional<bool>(false));
  EXPECT_EQ(run.fake_.CountCalls("Backup"), 0u);
  EXPECT_THAT(run.Lines(), ElementsAre("Operation FAILURE!"));
}

TEST(RoutineFailureTest, TableTaskFailsWhenThePipelineReportedAFailure) {
  // A table that was not migrated whole fails its task: its own lines come
  // first, then "Operation FAILURE!" (never a success line after an error).
  RoutineRun run;
  run.Append(TaskKind::kConvertTable);
  run.fake_.migrate_table_ok = false;
  run.fake_.on_call = [&run](const std::string& call) {
    if (call.rfind("MigrateTable", 0) == 0) WriteOutputTo(run.log_, "E::Create table failed");
  };
  EXPECT_EQ(run.DispatchAndRun(), std::optional<bool>(false));
  EXPECT_THAT(run.Lines(), ElementsAre("Create table failed", "Operation FAILURE!"));
}

TEST(RoutineFailureTest, DatabaseTasksFailWhenATableOrViewFailed) {
  struct Case {
    TaskKind kind;
    bool tables_ok, views_ok, expected;
  };
  const Case cases[] = {
      {TaskKind::kCloneDatabase, false, true, false},
      {TaskKind::kCloneDatabase, true, false, false},
      {TaskKind::kConvertDatabase, false, true, false},
      {TaskKind::kConvertDatabase, true, false, false},
      {TaskKind::kConvertDatabase, true, true, true},
      {TaskKind::kConvertTables, false, true, false},
      {TaskKind::kConvertViews, true, false, false},
  };
  for (const Case& c : cases) {
    RoutineRun run;
    run.Append(c.kind);
    run.fake_.convert_tables_ok = c.tables_ok;
    run.fake_.convert_views_ok = c.views_ok;
    EXPECT_EQ(run.DispatchAndRun(), std::optional<bool>(c.expected))
        << static_cast<int>(c.kind) << " " << c.tables_ok << c.views_ok;
  }
}

TEST(RoutineFailureTest, ADifferenceFoundByVerificationFailsADatabaseTask) {
  // A load that went well but differs from the server fails, and says why;
  // a task that does not verify, and a task stopped during its load, are not
  // compared.
  struct Case {
    TaskKind kind;
    bool verify, stop, verify_ok, expected;
    std::size_t verify_calls;
  };
  const Case cases[] = {
      {TaskKind::kConvertDatabase, true, false, false, false, 1},
      {TaskKind::kCloneDatabase, true, false, false, false, 1},
      {TaskKind::kConvertTables, true, false, false, false, 1},
      {TaskKind::kConvertTables, true, false, true, true, 1},
      {TaskKind::kConvertTables, false, false, false, true, 0},
      {TaskKind::kConvertViews, true, false, false, true, 0},
      {TaskKind::kConvertTable, true, false, false, true, 0},
      {TaskKind::kConvertDatabase, true, true, false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    RoutineRun run;
    TaskRecord r;
    r.kind = c.kind;
    r.source_database = "src";
    r.target_database = "tgt";
    r.source_object = "t1";
    r.verify = c.verify;
    run.queue_.Append(r);
    run.fake_.verify_ok = c.verify_ok;
    if (c.stop) {
      run.fake_.on_call = [&run](const std::string& call) {
        if (call.rfind("ConvertDatabaseTables", 0) == 0)
          run.run_state_.Store(RunStateValue::kStopRequested);
      };
    }
    EXPECT_EQ(run.DispatchAndRun(), std::optional<bool>(c.expected));
    EXPECT_EQ(run.fake_.CountCalls("VerifyLoad(src)"), c.verify_calls);
    const std::vector<std::string> lines = run.Lines();
    const bool said = std::find(lines.begin(), lines.end(), kLineVerifyFailed) != lines.end();
    EXPECT_EQ(said, c.verify_calls == 1 && !c.verify_ok);
  }
}

TEST(RoutineFailureTest, EscapedExceptionFailsTheTaskWithALine) {
  RoutineRun run;
  const TaskId id = run.Append(TaskKind::kConvertTable);
  run.fake_.on_call = [](const std::string& call) {
    if (call.rfind("MigrateTable", 0) == 0) throw std::runtime_error("driver crashed");
  };
  EXPECT_EQ(run.DispatchAndRun(), std::optional<bool>(false));
  EXPECT_THAT(run.Lines(), ElementsAre("driver crashed", "Operation FAILURE!"));
  EXPECT_EQ(run.queue_.Find(id)->status, TaskStatus::kFailed);
}

TEST(RoutineKindTest, KindWithoutRoutineRunsNothingAndStaysPending) {
  RoutineRun run;
  const TaskId id = run.Append(static_cast<TaskKind>(300));
  EXPECT_EQ(run.DispatchAndRun(), std::nullopt);
  EXPECT_THAT(run.fake_.Calls(), IsEmpty());
  EXPECT_THAT(run.Lines(), IsEmpty());
  EXPECT_EQ(run.queue_.Find(id)->status, TaskStatus::kWaiting);
  EXPECT_TRUE(run.queue_.HasPending());
}

// ---- The completion step ----

TEST(CompletionTest, RecordCreatedInTheSameSecondDoesNotReceiveTheResult) {
  // Both records carry the stamp 1000: matching by stamp alone would mark
  // the second one finished without it ever running.
  RoutineRun run;
  const TaskId first = run.Append(TaskKind::kConvertTable);
  const TaskId second = run.Append(TaskKind::kConvertTable);
  ASSERT_EQ(run.queue_.Find(first)->stamp, run.queue_.Find(second)->stamp);

  EXPECT_EQ(run.DispatchAndRun(), std::optional<bool>(true));

  EXPECT_EQ(run.queue_.Find(first)->status, TaskStatus::kSucceeded);
  EXPECT_EQ(run.queue_.Find(second)->status, TaskStatus::kWaiting);
  EXPECT_EQ(run.queue_.Find(second)->state_text, "Waiting");
  EXPECT_THAT(run.Lines(), ElementsAre("Operation completed SUCCESSFULLY!"));
  // Something is still pending: no stop is requested.
  EXPECT_EQ(run.run_state_.Load(), RunStateValue::kRunning);
}

TEST(CompletionTest, LastPendingTaskRequestsTheStopAtOnce) {
  RoutineRun run;
  run.Append(TaskKind::kConvertTable);
  run.DispatchAndRun();
  EXPECT_EQ(run.run_state_.Load(), RunStateValue::kStopRequested);
  EXPECT_THAT(run.observer_.pictures, ElementsAre(StartStopPicture::kIdle));
}

TEST(CompletionTest, StoppedTaskFailsWhateverItsStepsReported) {
  RoutineRun run;
  const TaskId id = run.Append(TaskKind::kConvertTable);
  run.run_state_.Store(RunStateValue::kStopRequested);  // Stop pressed while it ran
  EXPECT_EQ(run.DispatchAndRun(), std::optional<bool>(false));
  EXPECT_EQ(run.queue_.Snapshot()[0].id, id);
  EXPECT_EQ(run.queue_.Snapshot()[0].state_text, kStateFailure);
  EXPECT_THAT(run.Lines(), Contains("The task was stopped before it was complete"));
  EXPECT_THAT(run.Lines(), Not(Contains(kLineSuccess)));
}

TEST(CompletionTest, DeletedRecordReceivesNoResultAndNoLine) {
  RoutineRun run;
  run.Append(TaskKind::kConvertTable);
  const TaskId other = run.Append(TaskKind::kConvertView);
  run.fake_.on_call = [&run](const std::string& call) {
    if (call.rfind("MigrateTable", 0) == 0) {
      EXPECT_TRUE(run.queue_.Delete(0));
    }
  };
  EXPECT_EQ(run.DispatchAndRun(), std::optional<bool>(true));
  EXPECT_THAT(run.Lines(), IsEmpty());
  ASSERT_EQ(run.queue_.size(), 1u);
  EXPECT_EQ(run.queue_.Find(other)->status, TaskStatus::kWaiting);
  // The progress writes after the delete were dropped, not written into the
  // record that moved into the freed place.
  EXPECT_EQ(run.queue_.Find(other)->progress, 0);
  EXPECT_EQ(run.run_state_.Load(), RunStateValue::kRunning);
}

TEST(CompletionTest, ClearedQueueRequestsTheStop) {
  RoutineRun run;
  run.Append(TaskKind::kConvertTable);
  run.Append(TaskKind::kConvertTable);
  run.fake_.on_call = [&run](const std::string& call) {
    if (call.rfind("MigrateTable", 0) == 0) run.queue_.Clear();
  };
  run.DispatchAndRun();
  EXPECT_TRUE(run.queue_.empty());
  EXPECT_THAT(run.Lines(), IsEmpty());
  EXPECT_EQ(run.run_state_.Load(), RunStateValue::kStopRequested);
}

TEST(CompletionTest, MovedRecordReceivesProgressAndResult) {
  RoutineRun run;
  const TaskId running = run.Append(TaskKind::kConvertTable);
  const TaskId other = run.Append(TaskKind::kConvertView);
  run.fake_.on_call = [&run](const std::string& call) {
    if (call.rfind("MigrateTable", 0) == 0) {
      EXPECT_EQ(run.queue_.MoveDown(0), 1u);
    }
  };
  run.DispatchAndRun();
  EXPECT_EQ(run.queue_.IndexOf(running), 1u);
  EXPECT_EQ(run.queue_.Find(running)->status, TaskStatus::kSucceeded);
  EXPECT_EQ(run.queue_.Find(running)->progress, 100);
  EXPECT_EQ(run.queue_.Find(other)->status, TaskStatus::kWaiting);
  EXPECT_EQ(run.queue_.Find(other)->progress, 0);
}

TEST(CompletionTest, StopIsNeverRequestedFromIdle) {
  // A completion while no worker runs must not leave RunState at 99, which
  // no worker would ever reset.
  RoutineRun run;
  run.run_state_.Store(RunStateValue::kIdle);
  run.Append(TaskKind::kConvertTable);
  run.DispatchAndRun();
  EXPECT_EQ(run.run_state_.Load(), RunStateValue::kIdle);
}

}  // namespace
}  // namespace velquin
