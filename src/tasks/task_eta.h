// The time left of the queued tasks, for the task list and the status bar.
//
// A task that has not started yet takes its plan's estimate (the plan shown
// before it was queued); a running task takes the rows it still has to copy
// divided by the rate it has measured so far (rows done over the seconds
// since its start), and its plan's estimate less the time spent while it
// has copied no row yet. A finished task has nothing left. A task without a
// plan and without a measured rate has no estimate: the queue's total then
// counts only the others and says it is a lower bound.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tasks/task_record.h"

namespace velquin {

// Seconds left for one record at `now` (seconds since 1970, the queue's
// clock); nothing when there is no estimate.
std::optional<double> TaskSecondsLeft(const TaskRecord& record, int32_t now);

struct QueueTimeLeft {
  double seconds = 0;       // the sum of the estimates there are
  bool complete = true;     // false: some pending task has no estimate
  std::size_t pending = 0;  // tasks not finished
};
QueueTimeLeft QueueSecondsLeft(const std::vector<TaskRecord>& records, int32_t now);

// "45 s", "3 min 05 s", "2 h 07 min".
std::string DurationText(double seconds);
// The task list's cell: the duration, or "" without an estimate.
std::string TaskTimeLeftText(const TaskRecord& record, int32_t now);
// The status bar's text: "Queue: 3 min 05 s left", "Queue: at least 45 s
// left", "Queue: time left unknown"; "" when no task is pending.
std::string QueueTimeLeftText(const QueueTimeLeft& left);

}  // namespace velquin
