// The queue's own operations, on one thread: what Append fills in, the
// edits at the edges, and what the worker-side calls do to records.
#include "tasks/task_queue.h"

#include <gtest/gtest.h>

#include <set>

namespace velquin {
namespace {

TaskRecord Named(const std::string& table) {
  TaskRecord r;
  r.kind = TaskKind::kConvertTable;
  r.source_object = table;
  return r;
}

std::vector<std::string> Order(const TaskQueue& q) {
  std::vector<std::string> names;
  for (const auto& r : q.Snapshot()) names.push_back(r.source_object);
  return names;
}

TEST(TaskQueueTest, AppendQueuesAWaitingRecordStampedNow) {
  int32_t now = 1304431329;
  TaskQueue q([&now] { return now; });
  TaskRecord r = Named("t1");
  // Whatever the caller left in these fields, a new record starts afresh.
  r.status = TaskStatus::kSucceeded;
  r.state_text = "SUCCESS";
  r.progress = 70;
  r.stamp = 5;
  const TaskId id = q.Append(r);

  const auto got = q.Find(id);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->status, TaskStatus::kWaiting);
  EXPECT_EQ(got->state_text, "Waiting");
  EXPECT_EQ(got->stamp, 1304431329);
  EXPECT_EQ(got->progress, 0);
  EXPECT_EQ(got->source_object, "t1");
  EXPECT_TRUE(q.HasPending());
}

TEST(TaskQueueTest, IdsAreUniqueAndNeverReused) {
  TaskQueue q([] { return 7; });
  std::set<TaskId> ids;
  for (int i = 0; i < 5; ++i) ids.insert(q.Append(Named("t")));
  q.Clear();
  for (int i = 0; i < 5; ++i) ids.insert(q.Append(Named("t")));
  EXPECT_EQ(ids.size(), 10u);
  EXPECT_EQ(ids.count(0), 0u);
}

TEST(TaskQueueTest, MovesAtTheEdgesChangeNothing) {
  TaskQueue q;
  EXPECT_FALSE(q.MoveUp(0).has_value());  // empty queue
  EXPECT_FALSE(q.MoveDown(0).has_value());
  q.Append(Named("a"));
  q.Append(Named("b"));
  q.Append(Named("c"));
  EXPECT_FALSE(q.MoveUp(0).has_value());    // first row up
  EXPECT_FALSE(q.MoveDown(2).has_value());  // last row down
  EXPECT_FALSE(q.MoveUp(3).has_value());    // no such row
  EXPECT_FALSE(q.Delete(3));
  EXPECT_EQ(Order(q), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(TaskQueueTest, MovesKeepEveryFieldOfTheRecord) {
  int32_t now = 100;
  TaskQueue q([&now] { return now; });
  q.Append(Named("a"));
  const TaskId b = q.Append(Named("b"));
  now = 200;
  ASSERT_TRUE(q.DispatchNext({}).has_value());  // "a" dispatched at 200
  q.SetProgress(q.Snapshot()[0].id, 50);
  const TaskRecord before = q.Snapshot()[0];

  EXPECT_EQ(q.MoveDown(0), 1u);
  EXPECT_EQ(Order(q), (std::vector<std::string>{"b", "a"}));
  const TaskRecord after = q.Snapshot()[1];
  EXPECT_EQ(after.id, before.id);
  EXPECT_EQ(after.stamp, 200);
  EXPECT_EQ(after.progress, 50);
  EXPECT_EQ(after.state_text, "Working");

  EXPECT_EQ(q.MoveUp(1), 0u);
  EXPECT_EQ(Order(q), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(q.IndexOf(b), 1u);
}

TEST(TaskQueueTest, DeleteRemovesOneRecordAndTheRestMoveUp) {
  TaskQueue q;
  q.Append(Named("a"));
  q.Append(Named("b"));
  q.Append(Named("c"));
  EXPECT_TRUE(q.Delete(1));
  EXPECT_EQ(Order(q), (std::vector<std::string>{"a", "c"}));
}

TEST(TaskQueueTest, DispatchTakesTheFirstPendingRecordNotYetTaken) {
  int32_t now = 10;
  TaskQueue q([&now] { return now; });
  const TaskId a = q.Append(Named("a"));
  const TaskId b = q.Append(Named("b"));
  const TaskId c = q.Append(Named("c"));
  q.DispatchNext({});
  q.Complete(a, true);  // finished: skipped from now on

  now = 20;
  auto next = q.DispatchNext({b});  // b already taken in this pass
  ASSERT_TRUE(next.has_value());
  EXPECT_EQ(next->id, c);
  EXPECT_EQ(next->stamp, 20);
  EXPECT_EQ(next->state_text, "Working");
  EXPECT_EQ(q.Find(c)->stamp, 20);
  EXPECT_EQ(q.Find(b)->state_text, "Waiting");

  EXPECT_FALSE(q.DispatchNext({b, c}).has_value());
}

TEST(TaskQueueTest, ProgressIsClampedAndDroppedForRemovedRecords) {
  TaskQueue q;
  const TaskId a = q.Append(Named("a"));
  q.SetProgress(a, 150);
  EXPECT_EQ(q.Find(a)->progress, 100);
  q.SetProgress(a, -3);
  EXPECT_EQ(q.Find(a)->progress, 0);
  const TaskId b = q.Append(Named("b"));
  q.Delete(0);
  q.SetProgress(a, 90);  // a is gone: nothing changes
  EXPECT_EQ(q.Find(b)->progress, 0);
  EXPECT_FALSE(q.Find(a).has_value());
}

TEST(TaskQueueTest, CompletionReportsWhatIsLeft) {
  TaskQueue q;
  auto c = q.Complete(42, true);
  EXPECT_TRUE(c.queue_empty);
  EXPECT_FALSE(c.found);

  const TaskId a = q.Append(Named("a"));
  const TaskId b = q.Append(Named("b"));
  c = q.Complete(a, false);
  EXPECT_TRUE(c.found);
  EXPECT_TRUE(c.pending_left);
  EXPECT_EQ(q.Find(a)->status, TaskStatus::kFailed);
  EXPECT_EQ(q.Find(a)->state_text, "FAILURE");
  c = q.Complete(b, true);
  EXPECT_FALSE(c.pending_left);
  EXPECT_FALSE(q.HasPending());
}

TEST(TaskQueueTest, EveryChangeMovesTheChangeCount) {
  TaskQueue q;
  uint64_t last = q.change_count();
  auto moved = [&] {
    const uint64_t now = q.change_count();
    const bool changed = now != last;
    last = now;
    return changed;
  };
  const TaskId a = q.Append(Named("a"));
  EXPECT_TRUE(moved());
  q.Append(Named("b"));
  EXPECT_TRUE(moved());
  q.MoveDown(0);
  EXPECT_TRUE(moved());
  q.DispatchNext({});
  EXPECT_TRUE(moved());
  q.SetProgress(a, 5);
  EXPECT_TRUE(moved());
  q.Complete(a, true);
  EXPECT_TRUE(moved());
  q.Delete(0);
  EXPECT_TRUE(moved());
  q.Clear();
  EXPECT_TRUE(moved());
  EXPECT_FALSE(q.MoveUp(0).has_value());
  EXPECT_FALSE(moved());  // a refused edit changes nothing
}

}  // namespace
}  // namespace velquin
