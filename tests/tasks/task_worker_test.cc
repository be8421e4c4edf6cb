// The worker thread with short waits: passes, the edits of the queue while
// a task runs (the test holds the task inside one step with a Gate), stop
// semantics and the texts sent to the window.
#include "tasks/task_worker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fake_task_operations.h"
#include "log/output_log.h"

namespace velquin {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using testing::FakeTaskOperations;
using testing::Gate;
using namespace std::chrono_literals;

class RecordingObserver : public WorkerObserver {
 public:
  void OnStatusText(std::string_view text) override { Add("status:" + std::string(text)); }
  void OnStartStopToolTip(std::string_view text) override { Add("tip:" + std::string(text)); }
  void OnStartStopPicture(StartStopPicture p) override {
    Add(p == StartStopPicture::kIdle      ? "picture:idle"
        : p == StartStopPicture::kRunning ? "picture:running"
                                          : "picture:stopping");
  }
  void OnTaskListChanged() override { Add("redraw"); }

  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(mu_);
    return events_;
  }
  // Events without redraws and pictures: the texts the window shows.
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (auto& e : Events()) {
      if (e.rfind("status:", 0) == 0 || e.rfind("tip:", 0) == 0) out.push_back(e);
    }
    return out;
  }

 private:
  void Add(std::string e) {
    std::lock_guard<std::mutex> lock(mu_);
    events_.push_back(std::move(e));
  }
  std::mutex mu_;
  std::vector<std::string> events_;
};

// Polls until `pred` holds; the 10 s limit only turns a hang into a failure.
template <typename Pred>
bool WaitFor(Pred pred) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

WorkerTimings Fast(std::chrono::milliseconds pass_interval = 5ms) {
  WorkerTimings t;
  t.thread_start_wait = 1ms;
  t.pass_interval = pass_interval;
  t.routine_wait = 0ms;
  t.start_worker_wait = 0ms;
  return t;
}

// A pass interval no test waits for: whatever completes in a test that uses
// it, completed in the pass that was running. Shutdown cuts it short.
constexpr auto kNoSecondPass = std::chrono::milliseconds(3600 * 1000);

class WorkerTest : public ::testing::Test {
 protected:
  void Build(WorkerTimings timings) {
    fake_ = std::make_shared<FakeTaskOperations>();
    observer_ = std::make_shared<RecordingObserver>();
    worker_ = std::make_unique<TaskWorker>(queue_, run_state_, lock_, log_, timings);
    worker_->SetOperations(fake_);
    worker_->SetObserver(observer_);
  }
  void TearDown() override {
    if (worker_) worker_->Shutdown();
  }

  TaskId Append(const std::string& table, TaskKind kind = TaskKind::kConvertTable) {
    TaskRecord r;
    r.kind = kind;
    r.type = TaskTypeOf(kind);
    r.source_object = table;
    r.source_database = "src";
    r.target_database = "tgt";
    return queue_.Append(std::move(r));
  }
  // Gates live as long as the fixture, so a worker still leaving a gate
  // when a test body ends never touches a destroyed one (TearDown stops the
  // worker first).
  Gate& NewGate() {
    gates_.push_back(std::make_unique<Gate>());
    return *gates_.back();
  }
  TaskStatus StatusOf(TaskId id) { return queue_.Find(id)->status; }
  bool Finished(TaskId id) {
    auto r = queue_.Find(id);
    return r && r->status != TaskStatus::kWaiting;
  }
  // Holds the worker inside MigrateTable of `table`.
  void HoldIn(const std::string& table, Gate& gate) {
    fake_->on_call = [&gate, table](const std::string& call) {
      if (call == "MigrateTable(src," + table + ")") gate.Arrive();
    };
  }
  size_t LinesEqual(const std::string& text) {
    size_t n = 0;
    for (const auto& l : log_.model().Snapshot()) n += l.text == text ? 1 : 0;
    return n;
  }

  std::vector<std::unique_ptr<Gate>> gates_;
  OutputLog log_{1001};
  TaskQueue queue_;
  RunState run_state_;
  TaskListLock lock_;
  std::shared_ptr<FakeTaskOperations> fake_;
  std::shared_ptr<RecordingObserver> observer_;
  std::unique_ptr<TaskWorker> worker_;
};

TEST_F(WorkerTest, RunsQueuedTasksInOrderThenEndsAndReportsIdle) {
  Build(Fast());
  const TaskId a = Append("a");
  const TaskId b = Append("b");
  const TaskId c = Append("c");

  EXPECT_EQ(worker_->StartWorker(), StartResult::kStarted);
  ASSERT_TRUE(worker_->WaitUntilIdle(10s));

  EXPECT_EQ(run_state_.Load(), RunStateValue::kIdle);
  for (TaskId id : {a, b, c}) {
    EXPECT_EQ(StatusOf(id), TaskStatus::kSucceeded);
    EXPECT_EQ(queue_.Find(id)->progress, 100);
  }
  std::vector<std::string> tables;
  for (const auto& call : fake_->Calls()) {
    if (call.rfind("MigrateTable", 0) == 0) tables.push_back(call);
  }
  EXPECT_THAT(tables,
              ElementsAre("MigrateTable(src,a)", "MigrateTable(src,b)", "MigrateTable(src,c)"));
  EXPECT_EQ(LinesEqual("Operation completed SUCCESSFULLY!"), 3u);
  EXPECT_THAT(observer_->Texts(), ElementsAre("tip:Stop tasks", "status:Some Tasks are WORKING!!!",
                                              "tip:Start tasks", "status:NO PROCESSING!!!"));
  const auto events = observer_->Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), "picture:running");
  EXPECT_THAT(events, Contains("redraw"));
}

TEST_F(WorkerTest, RecordAppendedDuringAPassRunsInTheSamePass) {
  Build(Fast(kNoSecondPass));
  Gate& gate = NewGate();
  HoldIn("a", gate);
  const TaskId a = Append("a");
  worker_->StartWorker();
  ASSERT_TRUE(gate.WaitArrived());

  const TaskId b = Append("b");
  gate.Release();

  // No second pass comes within the test, so b ran in the first one.
  ASSERT_TRUE(WaitFor([&] { return Finished(b); }));
  EXPECT_EQ(StatusOf(a), TaskStatus::kSucceeded);
  EXPECT_EQ(StatusOf(b), TaskStatus::kSucceeded);
  // After b nothing is pending: the stop is requested at once.
  EXPECT_TRUE(WaitFor([&] { return run_state_.StopRequested(); }));
}

TEST_F(WorkerTest, MovingTheRunningRecordKeepsItsResultAndProgress) {
  for (bool up : {false, true}) {
    SCOPED_TRACE(up ? "up" : "down");
    queue_.Clear();
    Build(Fast());
    Gate& gate = NewGate();
    HoldIn("run", gate);
    TaskId running, other;
    if (up) {
      other = Append("other");
      running = Append("run");
      // "other" runs first; hold "run", then move it above "other".
    } else {
      running = Append("run");
      other = Append("other");
    }
    worker_->StartWorker();
    ASSERT_TRUE(gate.WaitArrived());
    const size_t index = *queue_.IndexOf(running);
    if (up) {
      EXPECT_EQ(queue_.MoveUp(index), index - 1);
    } else {
      EXPECT_EQ(queue_.MoveDown(index), index + 1);
    }
    gate.Release();
    ASSERT_TRUE(worker_->WaitUntilIdle(10s));

    EXPECT_EQ(StatusOf(running), TaskStatus::kSucceeded);
    EXPECT_EQ(queue_.Find(running)->progress, 100);
    EXPECT_EQ(StatusOf(other), TaskStatus::kSucceeded);
    EXPECT_EQ(fake_->CountCalls("MigrateTable(src,run)"), 1u);
    EXPECT_EQ(fake_->CountCalls("MigrateTable(src,other)"), 1u);
    worker_->Shutdown();
  }
}

TEST_F(WorkerTest, DeletingTheRunningRecordDropsItsResultAndGoesOn) {
  Build(Fast());
  Gate& gate = NewGate();
  HoldIn("a", gate);
  Append("a");
  const TaskId b = Append("b");
  worker_->StartWorker();
  ASSERT_TRUE(gate.WaitArrived());
  ASSERT_TRUE(queue_.Delete(0));
  gate.Release();
  ASSERT_TRUE(worker_->WaitUntilIdle(10s));

  ASSERT_EQ(queue_.size(), 1u);
  EXPECT_EQ(StatusOf(b), TaskStatus::kSucceeded);
  // Only b's result was written; a's routine ran to its end (refilled the
  // tree) but had no record to write into.
  EXPECT_EQ(LinesEqual("Operation completed SUCCESSFULLY!"), 1u);
  EXPECT_EQ(fake_->CountCalls("RefillTargetTree"), 2u);
}

TEST_F(WorkerTest, ClearAllWhileATaskRunsEndsTheWorker) {
  Build(Fast());
  Gate& gate = NewGate();
  HoldIn("a", gate);
  Append("a");
  Append("b");
  worker_->StartWorker();
  ASSERT_TRUE(gate.WaitArrived());
  queue_.Clear();
  gate.Release();

  ASSERT_TRUE(worker_->WaitUntilIdle(10s));
  EXPECT_TRUE(queue_.empty());
  EXPECT_EQ(LinesEqual("Operation completed SUCCESSFULLY!"), 0u);
  EXPECT_EQ(fake_->CountCalls("MigrateTable(src,b)"), 0u);
}

TEST_F(WorkerTest, StopFinishesTheRunningTaskAndLeavesTheRestWaiting) {
  Build(Fast());
  Gate& gate = NewGate();
  HoldIn("a", gate);
  const TaskId a = Append("a");
  const TaskId b = Append("b");
  worker_->StartWorker();
  ASSERT_TRUE(gate.WaitArrived());

  EXPECT_TRUE(worker_->StopAll());
  EXPECT_EQ(run_state_.Load(), RunStateValue::kStopRequested);
  // A task queued while the worker is stopping starts nothing and waits.
  const TaskId c = Append("c");
  EXPECT_EQ(worker_->StartWorker(), StartResult::kStopping);
  gate.Release();

  ASSERT_TRUE(worker_->WaitUntilIdle(10s));
  EXPECT_EQ(run_state_.Load(), RunStateValue::kIdle);
  // The task that was running when the stop came did not finish its work
  // as asked: it fails.
  EXPECT_EQ(StatusOf(a), TaskStatus::kFailed);
  EXPECT_EQ(StatusOf(b), TaskStatus::kWaiting);
  EXPECT_EQ(queue_.Find(b)->state_text, "Waiting");
  EXPECT_EQ(StatusOf(c), TaskStatus::kWaiting);

  // Started again, the waiting records run.
  EXPECT_EQ(worker_->StartWorker(), StartResult::kStarted);
  ASSERT_TRUE(worker_->WaitUntilIdle(10s));
  EXPECT_EQ(StatusOf(b), TaskStatus::kSucceeded);
  EXPECT_EQ(StatusOf(c), TaskStatus::kSucceeded);
  EXPECT_EQ(fake_->CountCalls("MigrateTable(src,a)"), 1u);
}

TEST_F(WorkerTest, TaskQueuedAfterTheLastCompletionWaitsForTheNextStart) {
  Build(Fast(kNoSecondPass));
  const TaskId a = Append("a");
  worker_->StartWorker();
  ASSERT_TRUE(WaitFor([&] { return Finished(a); }));
  // The last task's completion requested the stop; the worker sleeps.
  ASSERT_TRUE(WaitFor([&] { return run_state_.StopRequested(); }));

  const TaskId b = Append("b");
  EXPECT_EQ(worker_->StartWorker(), StartResult::kStopping);
  worker_->Shutdown();  // ends the sleep
  EXPECT_EQ(run_state_.Load(), RunStateValue::kIdle);
  EXPECT_EQ(StatusOf(b), TaskStatus::kWaiting);
  EXPECT_EQ(fake_->CountCalls("MigrateTable(src,b)"), 0u);
}

TEST_F(WorkerTest, FinishedRecordsAreNeverRunAgain) {
  Build(Fast());
  const TaskId a = Append("a");
  fake_->select_ok = false;  // a fails
  worker_->StartWorker();
  ASSERT_TRUE(worker_->WaitUntilIdle(10s));
  ASSERT_EQ(StatusOf(a), TaskStatus::kFailed);

  fake_->select_ok = true;
  const TaskId b = Append("b");
  worker_->StartWorker();
  ASSERT_TRUE(worker_->WaitUntilIdle(10s));
  EXPECT_EQ(StatusOf(a), TaskStatus::kFailed);
  EXPECT_EQ(queue_.Find(a)->state_text, "FAILURE");
  EXPECT_EQ(StatusOf(b), TaskStatus::kSucceeded);
  EXPECT_EQ(fake_->CountCalls("SelectDatabase"), 2u);  // once for a, once for b
}

TEST_F(WorkerTest, FailedTaskDoesNotStopThePass) {
  Build(Fast(kNoSecondPass));
  const TaskId a = Append("a", TaskKind::kCloneDatabase);
  const TaskId b = Append("b");
  fake_->create_ok = false;
  worker_->StartWorker();
  ASSERT_TRUE(WaitFor([&] { return Finished(b); }));
  EXPECT_EQ(StatusOf(a), TaskStatus::kFailed);
  EXPECT_EQ(StatusOf(b), TaskStatus::kSucceeded);
  EXPECT_EQ(LinesEqual("Create Target Database[tgt] Error!"), 1u);
  EXPECT_EQ(LinesEqual("Operation FAILURE!"), 1u);
}

TEST_F(WorkerTest, UnknownKindStaysPendingAndKeepsTheWorkerAlive) {
  Build(Fast());
  const TaskId odd = Append("odd", static_cast<TaskKind>(300));
  const TaskId a = Append("a");
  worker_->StartWorker();
  ASSERT_TRUE(WaitFor([&] { return Finished(a); }));
  // Several passes go by; the odd record is dispatched each time but
  // nothing runs for it and it never finishes.
  const uint64_t seen = queue_.change_count();
  ASSERT_TRUE(WaitFor([&] { return queue_.change_count() > seen + 3; }));
  EXPECT_EQ(StatusOf(odd), TaskStatus::kWaiting);
  EXPECT_EQ(run_state_.Load(), RunStateValue::kRunning);

  EXPECT_TRUE(worker_->StopAll());
  ASSERT_TRUE(worker_->WaitUntilIdle(10s));
  EXPECT_EQ(StatusOf(odd), TaskStatus::kWaiting);
  EXPECT_EQ(fake_->Calls().size(), 4u);  // only a's four steps
}

TEST_F(WorkerTest, WorkerStartedWithNothingPendingEndsByItself) {
  Build(Fast());
  EXPECT_EQ(worker_->StartWorker(), StartResult::kStarted);
  ASSERT_TRUE(worker_->WaitUntilIdle(10s));
  EXPECT_EQ(run_state_.Load(), RunStateValue::kIdle);
  EXPECT_THAT(observer_->Texts(), Contains("status:NO PROCESSING!!!"));
}

TEST_F(WorkerTest, StartWhileRunningStartsNoSecondThread) {
  Build(Fast(kNoSecondPass));
  Gate& gate = NewGate();
  HoldIn("a", gate);
  Append("a");
  EXPECT_EQ(worker_->StartWorker(), StartResult::kStarted);
  ASSERT_TRUE(gate.WaitArrived());
  EXPECT_EQ(worker_->StartWorker(), StartResult::kAlreadyRunning);
  gate.Release();
  // Both calls asked for a redraw of the task list.
  const auto events = observer_->Events();
  EXPECT_GE(std::count(events.begin(), events.end(), "redraw"), 2);
}

TEST_F(WorkerTest, StopAllWhileIdleChangesNothing) {
  Build(Fast());
  EXPECT_FALSE(worker_->StopAll());
  EXPECT_EQ(run_state_.Load(), RunStateValue::kIdle);
  // And a later start still works.
  const TaskId a = Append("a");
  EXPECT_EQ(worker_->StartWorker(), StartResult::kStarted);
  ASSERT_TRUE(worker_->WaitUntilIdle(10s));
  EXPECT_EQ(StatusOf(a), TaskStatus::kSucceeded);
}

TEST_F(WorkerTest, StartWithoutOperationsReportsTheErrorAndStaysIdle) {
  Build(Fast());
  worker_->SetOperations(nullptr);
  const TaskId a = Append("a");
  EXPECT_EQ(worker_->StartWorker(), StartResult::kFailed);
  EXPECT_EQ(run_state_.Load(), RunStateValue::kIdle);
  EXPECT_EQ(StatusOf(a), TaskStatus::kWaiting);
  const auto lines = log_.model().Snapshot();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text.rfind("Main Controller Error! \r\n failed with error code:[0x", 0), 0u);
  // The next start, with operations, runs the record.
  worker_->SetOperations(fake_);
  EXPECT_EQ(worker_->StartWorker(), StartResult::kStarted);
  ASSERT_TRUE(worker_->WaitUntilIdle(10s));
  EXPECT_EQ(StatusOf(a), TaskStatus::kSucceeded);
}

TEST_F(WorkerTest, ShutdownWaitsForTheRunningTask) {
  Build(Fast(kNoSecondPass));
  Gate& gate = NewGate();
  HoldIn("a", gate);
  const TaskId a = Append("a");
  worker_->StartWorker();
  ASSERT_TRUE(gate.WaitArrived());
  std::thread releaser([&] {
    std::this_thread::sleep_for(20ms);
    gate.Release();
  });
  worker_->Shutdown();
  releaser.join();
  // It ran to its end, but as a stopped task it is a failure.
  EXPECT_EQ(StatusOf(a), TaskStatus::kFailed);
  EXPECT_EQ(run_state_.Load(), RunStateValue::kIdle);
  EXPECT_EQ(worker_->StartWorker(), StartResult::kStopping);
}

}  // namespace
}  // namespace velquin
