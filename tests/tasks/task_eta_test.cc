// The time left of tasks and of the queue, over records brought into each
// state by the queue itself (appended, dispatched, given rows, completed).
#include "tasks/task_eta.h"

#include <gtest/gtest.h>

#include <optional>

#include "tasks/task_queue.h"

namespace velquin {
namespace {

struct EtaCase {
  const char* what;
  double planned_seconds;
  uint64_t planned_rows;
  bool start;                      // dispatched at t = 1000
  std::optional<bool> finish;      // completed (succeeded / failed)
  uint64_t rows_done, rows_total;  // SetRows while running
  int32_t now;
  std::optional<double> expected;
};

TEST(TaskEtaTest, EstimatesEachStateOfATask) {
  const EtaCase cases[] = {
      {"not started: the plan's estimate", 42, 5000, false, {}, 0, 0, 1000, 42.0},
      {"not started, no plan: no estimate", 0, 0, false, {}, 0, 0, 1000, std::nullopt},
      {"no rows yet: the plan less the time spent", 100, 5000, true, {}, 0, 0, 1010, 90.0},
      {"no rows yet, plan overrun: nothing left", 5, 5000, true, {}, 0, 0, 1010, 0.0},
      {"no rows yet, no plan: no estimate", 0, 0, true, {}, 0, 0, 1010, std::nullopt},
      {"steady rate over the plan's rows", 100, 1000, true, {}, 250, 0, 1010, 30.0},
      {"steady rate over the counted rows, no plan", 0, 0, true, {}, 300, 900, 1020, 40.0},
      {"the rate wins over a wrong plan", 9999, 2000, true, {}, 1000, 0, 1005, 5.0},
      {"all rows copied, keys still running", 100, 1000, true, {}, 1000, 0, 1010, 0.0},
      {"started this second: the plan", 30, 1000, true, {}, 500, 0, 1000, 30.0},
      {"succeeded: nothing left", 100, 1000, true, true, 10, 0, 1010, 0.0},
      {"failed: nothing left", 100, 1000, true, false, 10, 0, 1010, 0.0},
  };
  for (const EtaCase& c : cases) {
    SCOPED_TRACE(c.what);
    int32_t clock = 1000;
    TaskQueue q([&clock] { return clock; });
    TaskRecord r;
    r.kind = TaskKind::kConvertDatabase;
    r.planned_seconds = c.planned_seconds;
    r.planned_rows = c.planned_rows;
    const TaskId id = q.Append(r);
    if (c.start) {
      ASSERT_TRUE(q.DispatchNext({}).has_value());
      q.SetRows(id, c.rows_done, c.rows_total);
    }
    if (c.finish) q.Complete(id, *c.finish);
    const std::optional<double> got = TaskSecondsLeft(*q.Find(id), c.now);
    ASSERT_EQ(got.has_value(), c.expected.has_value());
    if (got) {
      EXPECT_DOUBLE_EQ(*got, *c.expected);
    }
  }
}

TEST(TaskEtaTest, QueueSumsThePendingTasksAndSaysWhenItIsALowerBound) {
  int32_t clock = 1000;
  TaskQueue q([&clock] { return clock; });
  TaskRecord planned;
  planned.kind = TaskKind::kConvertDatabase;
  planned.planned_seconds = 60;
  planned.planned_rows = 6000;
  const TaskId done = q.Append(planned);  // finishes first
  const TaskId running = q.Append(planned);
  q.Append(planned);  // waits: 60 s
  ASSERT_TRUE(q.DispatchNext({}));
  q.Complete(done, true);
  ASSERT_TRUE(q.DispatchNext({}));
  clock = 1010;
  q.SetRows(running, 2000, 0);  // 200 rows/s, 4000 left: 20 s

  QueueTimeLeft left = QueueSecondsLeft(q.Snapshot(), clock);
  EXPECT_EQ(left.pending, 2u);
  EXPECT_TRUE(left.complete);
  EXPECT_DOUBLE_EQ(left.seconds, 80);
  EXPECT_EQ(QueueTimeLeftText(left), "Queue: 1 min 20 s left");
  EXPECT_EQ(TaskTimeLeftText(*q.Find(running), clock), "20 s");
  EXPECT_EQ(TaskTimeLeftText(*q.Find(done), clock), "");

  TaskRecord table;  // a single table: no plan, no estimate before it runs
  table.kind = TaskKind::kConvertTable;
  q.Append(table);
  left = QueueSecondsLeft(q.Snapshot(), clock);
  EXPECT_FALSE(left.complete);
  EXPECT_EQ(QueueTimeLeftText(left), "Queue: at least 1 min 20 s left");

  q.Clear();
  q.Append(table);
  EXPECT_EQ(QueueTimeLeftText(QueueSecondsLeft(q.Snapshot(), clock)), "Queue: time left unknown");
  q.Clear();
  EXPECT_EQ(QueueTimeLeftText(QueueSecondsLeft(q.Snapshot(), clock)), "");
  EXPECT_EQ(DurationText(7322), "2 h 02 min");
  EXPECT_EQ(DurationText(0.2), "1 s");
}

}  // namespace
}  // namespace velquin
