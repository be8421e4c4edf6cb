#include "tasks/task_queue.h"

#include <algorithm>
#include <ctime>
#include <utility>

namespace velquin {

TaskQueue::TaskQueue(Clock clock)
    : clock_(clock ? std::move(clock)
                   : Clock([] { return static_cast<int32_t>(std::time(nullptr)); })) {
  records_.reserve(10);
}

TaskId TaskQueue::Append(TaskRecord record) {
  record.status = TaskStatus::kWaiting;
  record.stamp = clock_();
  record.state_text = kStateWaiting;
  record.progress = 0;
  TaskId id;
  {
    std::lock_guard<std::mutex> lock(mu_);
    id = next_id_++;
    record.id = id;
    records_.push_back(std::move(record));
  }
  Touch();
  return id;
}

bool TaskQueue::Delete(size_t index) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (index >= records_.size()) return false;
    records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(index));
  }
  Touch();
  return true;
}

std::optional<size_t> TaskQueue::MoveUp(size_t index) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (index == 0 || index >= records_.size()) return std::nullopt;
    std::swap(records_[index - 1], records_[index]);
  }
  Touch();
  return index - 1;
}

std::optional<size_t> TaskQueue::MoveDown(size_t index) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (records_.empty() || index >= records_.size() - 1) return std::nullopt;
    std::swap(records_[index], records_[index + 1]);
  }
  Touch();
  return index + 1;
}

void TaskQueue::Clear() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    records_.clear();
  }
  Touch();
}

bool TaskQueue::HasPending() const {
  std::lock_guard<std::mutex> lock(mu_);
  return std::any_of(records_.begin(), records_.end(),
                     [](const TaskRecord& r) { return r.status == TaskStatus::kWaiting; });
}

size_t TaskQueue::size() const {
  std::lock_guard<std::mutex> lock(mu_);
  return records_.size();
}

std::vector<TaskRecord> TaskQueue::Snapshot() const {
  std::lock_guard<std::mutex> lock(mu_);
  return records_;
}

std::optional<TaskRecord> TaskQueue::Find(TaskId id) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (const TaskRecord& r : records_) {
    if (r.id == id) return r;
  }
  return std::nullopt;
}

std::optional<size_t> TaskQueue::IndexOf(TaskId id) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (size_t i = 0; i < records_.size(); ++i) {
    if (records_[i].id == id) return i;
  }
  return std::nullopt;
}

TaskRecord* TaskQueue::FindLocked(TaskId id) {
  for (TaskRecord& r : records_) {
    if (r.id == id) return &r;
  }
  return nullptr;
}

std::optional<TaskRecord> TaskQueue::DispatchNext(const std::unordered_set<TaskId>& taken) {
  std::optional<TaskRecord> copy;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (TaskRecord& r : records_) {
      if (r.status != TaskStatus::kWaiting || taken.count(r.id) != 0) continue;
      r.stamp = clock_();
      r.progress = 0;
      r.rows_done = 0;
      r.rows_total = r.planned_rows;
      r.state_text = kStateWorking;
      copy = r;
      break;
    }
  }
  if (copy) Touch();
  return copy;
}

void TaskQueue::SetProgress(TaskId id, int32_t percent) {
  percent = std::clamp<int32_t>(percent, 0, 100);
  {
    std::lock_guard<std::mutex> lock(mu_);
    TaskRecord* r = FindLocked(id);
    if (r == nullptr) return;  // deleted or cleared meanwhile: dropped
    r->progress = percent;
  }
  Touch();
}

void TaskQueue::SetRows(TaskId id, uint64_t done, uint64_t total) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    TaskRecord* r = FindLocked(id);
    if (r == nullptr) return;  // deleted or cleared meanwhile: dropped
    r->rows_done = done;
    if (total != 0) r->rows_total = total;
  }
  Touch();
}

TaskQueue::Completion TaskQueue::Complete(TaskId id, bool success) {
  Completion c;
  {
    std::lock_guard<std::mutex> lock(mu_);
    c.queue_empty = records_.empty();
    if (TaskRecord* r = FindLocked(id)) {
      r->status = success ? TaskStatus::kSucceeded : TaskStatus::kFailed;
      r->state_text = success ? kStateSuccess : kStateFailure;
      c.found = true;
    }
    c.pending_left = std::any_of(records_.begin(), records_.end(), [](const TaskRecord& r) {
      return r.status == TaskStatus::kWaiting;
    });
  }
  Touch();
  return c;
}

}  // namespace velquin
