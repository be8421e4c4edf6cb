// TaskQueue: the ordered list of task records; queue order is execution
// order.
//
// How edits stay safe while a task runs: the user-interface thread appends,
// deletes, moves and clears records while the worker's pass is running a
// task. The records live in an array guarded by a short internal mutex that
// is held only for the array operation itself (never while a task runs), so
// an edit never waits for a task. The worker never keeps a pointer or index
// into the array across a task: it takes a copy of the record it dispatches
// and later addresses the record by its TaskId. Hence
//   - a progress write for a moved record reaches it (a move keeps the id),
//   - a progress write or result for a deleted or cleared record is dropped,
//   - no thread ever touches a freed record.
// Readers (the task list view) take a Snapshot(): copies taken under the
// lock, so a row is never torn.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <unordered_set>
#include <vector>

#include "tasks/task_record.h"

namespace velquin {

class TaskQueue {
 public:
  // Seconds since 1970; tests pass a fixed clock.
  using Clock = std::function<int32_t()>;

  explicit TaskQueue(Clock clock = nullptr);
  TaskQueue(const TaskQueue&) = delete;
  TaskQueue& operator=(const TaskQueue&) = delete;

  // ---- User-interface side ----

  // Appends a record: status 0, stamp = now, state "Waiting", progress 0, a
  // fresh id; the caller fills type, kind and names. Returns the id.
  TaskId Append(TaskRecord record);

  // Deletes the record at `index`; false (and no change) when there is none.
  bool Delete(size_t index);
  // Moves the record at `index` one place up or down, keeping every field
  // (id, stamp, progress). Returns its new index, or nothing when it cannot
  // move (no such record, first row for up, last row for down).
  std::optional<size_t> MoveUp(size_t index);
  std::optional<size_t> MoveDown(size_t index);
  // Removes every record.
  void Clear();

  // A record is pending while its status is 0.
  bool HasPending() const;
  size_t size() const;
  bool empty() const { return size() == 0; }
  std::vector<TaskRecord> Snapshot() const;
  std::optional<TaskRecord> Find(TaskId id) const;
  std::optional<size_t> IndexOf(TaskId id) const;
  // Grows with every change of the queue or of a record in it; the task list
  // view rebuilds when it moved.
  uint64_t change_count() const { return change_count_.load(std::memory_order_acquire); }

  int32_t Now() const { return clock_(); }

  // ---- Worker side ----

  // Dispatches the first pending record, in current queue order, whose id is
  // not in `taken`: stamps it with the current time, sets progress and rows 0 and the
  // state "Working", and returns a copy of it. Nothing when there is none.
  std::optional<TaskRecord> DispatchNext(const std::unordered_set<TaskId>& taken);

  // Writes the progress of the record with this id; dropped when the record
  // is gone. Progress is clamped to 0..100.
  void SetProgress(TaskId id, int32_t percent);

  // Writes the rows the running record has copied and the rows it moves in
  // all (0: unknown, the earlier total is kept); dropped when it is gone.
  void SetRows(TaskId id, uint64_t done, uint64_t total);

  struct Completion {
    bool queue_empty = false;   // the queue held no record at all
    bool found = false;         // the record with the id received the result
    bool pending_left = false;  // some record still has status 0 afterwards
  };
  // The completion step of a routine: marks the record with this id
  // succeeded ("SUCCESS", status 1) or failed ("FAILURE", status 3).
  Completion Complete(TaskId id, bool success);

 private:
  void Touch() { change_count_.fetch_add(1, std::memory_order_acq_rel); }
  TaskRecord* FindLocked(TaskId id);

  Clock clock_;
  mutable std::mutex mu_;  // short: held only for one array operation
  std::vector<TaskRecord> records_;
  TaskId next_id_ = 1;
  std::atomic<uint64_t> change_count_{0};
};

}  // namespace velquin
