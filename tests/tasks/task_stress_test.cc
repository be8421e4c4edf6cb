// A user-interface thread appends, moves, deletes and clears records and
// starts and stops the worker while the worker runs many short tasks. Run
// again under ThreadSanitizer (label tsan): any unguarded access between
// the threads is reported there. Here the queue must come out consistent,
// and no task may ever run twice.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "fake_task_operations.h"
#include "log/output_log.h"
#include "tasks/task_worker.h"

namespace velquin {
namespace {

using namespace std::chrono_literals;

class CountingObserver : public WorkerObserver {
 public:
  void OnStatusText(std::string_view) override { ++texts; }
  void OnStartStopToolTip(std::string_view) override { ++texts; }
  void OnStartStopPicture(StartStopPicture) override { ++pictures; }
  void OnTaskListChanged() override { ++redraws; }
  std::atomic<int> texts{0}, pictures{0}, redraws{0};
};

TEST(TaskEngineStressTest, QueueEditsWhileTheWorkerRunsStayConsistent) {
  OutputLog log(1001);
  TaskQueue queue;
  RunState run_state;
  TaskListLock lock;
  auto fake = std::make_shared<testing::FakeTaskOperations>();
  auto observer = std::make_shared<CountingObserver>();
  WorkerTimings timings;
  timings.thread_start_wait = 0ms;
  timings.pass_interval = 1ms;
  timings.routine_wait = 0ms;
  timings.start_worker_wait = 0ms;
  TaskWorker worker(queue, run_state, lock, log, timings);
  worker.SetOperations(fake);
  worker.SetObserver(observer);

  // Every few tasks fail, so both results appear.
  std::atomic<int> select_calls{0};
  fake->on_call = [&](const std::string& call) {
    if (call.rfind("SelectDatabase", 0) == 0) {
      fake->select_ok = (++select_calls % 5) != 0;
    }
  };

  // The task list view: reads snapshots all the time, as the timer would.
  std::atomic<bool> done{false};
  std::thread viewer([&] {
    while (!done) {
      for (const TaskRecord& r : queue.Snapshot()) {
        ASSERT_GE(r.progress, 0);
        ASSERT_LE(r.progress, 100);
      }
      std::this_thread::yield();
    }
  });

  // The user-interface thread.
  std::mt19937 rng(12345);
  int appended = 0;
  for (int step = 0; step < 3000; ++step) {
    const int op = static_cast<int>(rng() % 100);
    const size_t size = queue.size();
    const size_t index = size == 0 ? 0 : rng() % size;
    if (op < 45) {
      TaskRecord r;
      r.kind = TaskKind::kConvertTable;
      r.type = TaskType::kMigration;
      r.source_database = "src";
      r.target_database = "tgt";
      r.source_object = "t" + std::to_string(appended++);
      queue.Append(std::move(r));
      worker.StartWorker();
    } else if (op < 60) {
      queue.MoveUp(index);
    } else if (op < 75) {
      queue.MoveDown(index);
    } else if (op < 90) {
      queue.Delete(index);
    } else if (op < 91 && rng() % 4 == 0) {
      queue.Clear();
    } else if (op < 93) {
      worker.StopAll();
    } else {
      WriteOutputTo(log, "ui step %d", step);
    }
    // Leave the worker time to run tasks between the edits.
    std::this_thread::sleep_for(20us);
  }

  // Drain: start again until nothing waits any more.
  for (int round = 0; round < 100 && queue.HasPending(); ++round) {
    worker.StartWorker();
    ASSERT_TRUE(worker.WaitUntilIdle(20s));
  }
  ASSERT_TRUE(worker.WaitUntilIdle(20s));
  done = true;
  viewer.join();

  EXPECT_FALSE(queue.HasPending());
  EXPECT_EQ(run_state.Load(), RunStateValue::kIdle);

  // No task ran twice.
  std::map<std::string, int> runs;
  for (const auto& call : fake->Calls()) {
    if (call.rfind("MigrateTable(src,", 0) == 0) ++runs[call];
  }
  for (const auto& [call, n] : runs) EXPECT_EQ(n, 1) << call;

  std::printf("appended %d, ran %zu, left %zu\n", appended, runs.size(), queue.size());

  // Every record left is finished, consistently, and ran exactly once.
  for (const TaskRecord& r : queue.Snapshot()) {
    if (r.status == TaskStatus::kSucceeded) {
      EXPECT_EQ(r.state_text, "SUCCESS");
      EXPECT_EQ(r.progress, 100);
      EXPECT_EQ(runs["MigrateTable(src," + r.source_object + ")"], 1) << r.source_object;
    } else {
      EXPECT_EQ(r.status, TaskStatus::kFailed);
      EXPECT_EQ(r.state_text, "FAILURE");
    }
  }
  EXPECT_GT(appended, 0);
  EXPECT_FALSE(runs.empty());
  EXPECT_GT(observer->texts.load(), 0);
}

}  // namespace
}  // namespace velquin
