#include "log/output_log.h"

#include <ctime>
#include <utility>

namespace velquin {

ClassifiedText ClassifyMessage(std::string_view message) {
  if (message.size() >= 3 && message[1] == ':' && message[2] == ':') {
    // Only upper-case letters mark a class; "e::" is a plain line.
    switch (message[0]) {
      case 'E':
        return {LineClass::kError, message.substr(3)};
      case 'S':
        return {LineClass::kSuccess, message.substr(3)};
      case 'T':
        return {LineClass::kProvider, message.substr(3)};
      default:
        break;
    }
  }
  return {LineClass::kPlain, message};
}

std::string FormatTimestamp(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const time_t seconds = system_clock::to_time_t(when);
  // to_time_t may round; take the milliseconds relative to the whole second
  // it chose so that they stay within 0..999.
  auto millis = duration_cast<milliseconds>(when - system_clock::from_time_t(seconds)).count();
  time_t whole = seconds;
  if (millis < 0) {
    whole -= 1;
    millis += 1000;
  }
  std::tm local{};
  localtime_r(&whole, &local);
  return fmt::sprintf("%04d/%02d/%02d %02d:%02d:%02d:%03d ", local.tm_year + 1900, local.tm_mon + 1,
                      local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                      static_cast<int>(millis));
}

// ---- LogModel ----

void LogModel::OnLine(const LogLine& line) {
  std::function<void(const LogLine&)> callback;
  {
    std::lock_guard<std::mutex> lock(mu_);
    // The oldest line goes first, so at most capacity_ lines are kept.
    while (capacity_ > 0 && lines_.size() >= capacity_) lines_.pop_front();
    if (capacity_ > 0) lines_.push_back(line);
    ++change_count_;
    callback = callback_;
  }
  if (callback) callback(line);
}

std::vector<LogLine> LogModel::Snapshot() const {
  std::lock_guard<std::mutex> lock(mu_);
  return {lines_.begin(), lines_.end()};
}

size_t LogModel::size() const {
  std::lock_guard<std::mutex> lock(mu_);
  return lines_.size();
}

uint64_t LogModel::change_count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return change_count_;
}

void LogModel::SetChangeCallback(std::function<void(const LogLine&)> callback) {
  std::lock_guard<std::mutex> lock(mu_);
  callback_ = std::move(callback);
}

// ---- OutputLog ----

namespace {
// Set while this thread delivers lines, so that a sink writing to the log
// queues its line instead of waiting for itself.
thread_local const OutputLog* delivering_log = nullptr;
}  // namespace

OutputLog::OutputLog(size_t capacity, Clock clock)
    : clock_(clock ? std::move(clock) : Clock([] { return std::chrono::system_clock::now(); })),
      model_(std::make_shared<LogModel>(capacity)) {}

OutputLog& OutputLog::Global() {
  // Never destroyed, so threads still writing at exit find it alive.
  static OutputLog* log = new OutputLog();
  return *log;
}

void OutputLog::Write(std::string_view message) {
  const ClassifiedText classified = ClassifyMessage(message);
  LogLine line;
  line.line_class = classified.line_class;
  line.text = std::string(classified.text);

  if (delivering_log == this) {
    // Written by a sink of this log: stamped now, delivered by the outer call
    // right after the line it is busy with.
    line.sequence = next_sequence_++;
    line.timestamp = FormatTimestamp(clock_());
    pending_.push_back(std::move(line));
    return;
  }

  std::lock_guard<std::mutex> lock(write_mu_);
  // Stamped under the lock, so timestamps never go backwards between lines.
  line.sequence = next_sequence_++;
  line.timestamp = FormatTimestamp(clock_());
  pending_.push_back(std::move(line));
  delivering_log = this;
  while (!pending_.empty()) {
    LogLine next = std::move(pending_.front());
    pending_.pop_front();
    Deliver(next);
  }
  delivering_log = nullptr;
}

void OutputLog::Deliver(const LogLine& line) {
  try {
    model_->OnLine(line);
  } catch (...) {
    // A throwing change callback loses nothing: the line is already kept.
  }
  std::vector<std::shared_ptr<LogSink>> sinks;
  {
    std::lock_guard<std::mutex> lock(sinks_mu_);
    sinks = sinks_;
  }
  for (const auto& sink : sinks) {
    try {
      sink->OnLine(line);
    } catch (...) {
      // A failing sink (a full disk, a closed terminal) must not stop the
      // others or the writer.
    }
  }
}

void OutputLog::AddSink(std::shared_ptr<LogSink> sink) {
  if (!sink) return;
  std::lock_guard<std::mutex> lock(sinks_mu_);
  sinks_.push_back(std::move(sink));
}

void OutputLog::RemoveSink(const std::shared_ptr<LogSink>& sink) {
  std::lock_guard<std::mutex> lock(sinks_mu_);
  std::erase(sinks_, sink);
}

}  // namespace velquin
