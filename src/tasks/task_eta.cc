#include "tasks/task_eta.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velquin {

std::optional<double> TaskSecondsLeft(const TaskRecord& r, int32_t now) {
  if (r.status != TaskStatus::kWaiting) return 0.0;
  const bool planned = r.planned_seconds > 0;
  if (r.state_text != kStateWorking) {
    if (planned) return r.planned_seconds;
    return std::nullopt;
  }
  const double elapsed = std::max(0, now - r.stamp);
  const uint64_t total = r.rows_total != 0 ? r.rows_total : r.planned_rows;
  if (r.rows_done > 0 && elapsed > 0 && total != 0) {
    const double rate = static_cast<double>(r.rows_done) / elapsed;
    const uint64_t left = total > r.rows_done ? total - r.rows_done : 0;
    return static_cast<double>(left) / rate;
  }
  if (planned) return std::max(0.0, r.planned_seconds - elapsed);
  return std::nullopt;
}

QueueTimeLeft QueueSecondsLeft(const std::vector<TaskRecord>& records, int32_t now) {
  QueueTimeLeft q;
  for (const TaskRecord& r : records) {
    if (r.status != TaskStatus::kWaiting) continue;
    ++q.pending;
    if (std::optional<double> s = TaskSecondsLeft(r, now)) {
      q.seconds += *s;
    } else {
      q.complete = false;
    }
  }
  return q;
}

std::string DurationText(double seconds) {
  const auto s = static_cast<long long>(std::ceil(std::max(0.0, seconds)));
  char buf[48];
  if (s < 60) {
    std::snprintf(buf, sizeof buf, "%lld s", s);
  } else if (s < 3600) {
    std::snprintf(buf, sizeof buf, "%lld min %02lld s", s / 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%lld h %02lld min", s / 3600, (s % 3600) / 60);
  }
  return buf;
}

std::string TaskTimeLeftText(const TaskRecord& record, int32_t now) {
  if (record.status != TaskStatus::kWaiting) return "";
  std::optional<double> s = TaskSecondsLeft(record, now);
  return s ? DurationText(*s) : "";
}

std::string QueueTimeLeftText(const QueueTimeLeft& left) {
  if (left.pending == 0) return "";
  if (!left.complete && left.seconds <= 0) return "Queue: time left unknown";
  return std::string("Queue: ") + (left.complete ? "" : "at least ") + DurationText(left.seconds) +
         " left";
}

}  // namespace velquin
