// The output log: every step the system takes is reported as one
// timestamped line, classified by a three-character prefix.
//
//   "E::text"  error           (shown red,    prefix not shown)
//   "S::text"  success         (shown green,  prefix not shown)
//   "T::text"  provider text   (shown orange, prefix not shown)
//   anything else is a plain line shown whole ("e::" is plain).
//
// A line is "YYYY/MM/DD hh:mm:ss:mmm " (local time, milliseconds) followed
// by its text. The log keeps the newest 1001 lines; a message is kept
// whole whatever its length.
//
// Threads: Write() may be called from any thread. Each call is one append;
// lines reach every sink in the order of the calls, and a sink never sees
// two lines at once. Sinks are called with the log's delivery lock held, so
// they must be quick (a GUI sink queues a signal to its own thread). A sink
// that itself writes to the log does not deadlock: its line is delivered
// after the current one.
#pragma once

#include <fmt/format.h>
#include <fmt/printf.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace velquin {

enum class LineClass {
  kPlain,
  kError,     // "E::"
  kSuccess,   // "S::"
  kProvider,  // "T::" (texts returned by a database provider)
};

// Splits a formatted message into its class and the text that is shown.
struct ClassifiedText {
  LineClass line_class;
  std::string_view text;
};
ClassifiedText ClassifyMessage(std::string_view message);

// "2011/05/03 14:02:09:045 " for the given moment in local time.
std::string FormatTimestamp(std::chrono::system_clock::time_point when);

struct LogLine {
  uint64_t sequence = 0;  // 1 for the first line ever written, then +1 per line
  LineClass line_class = LineClass::kPlain;
  std::string timestamp;  // with its trailing blank
  std::string text;       // without the class prefix

  // The line as shown: timestamp followed by text.
  std::string Display() const { return timestamp + text; }
};

// Receives every line, in order, as it is written.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void OnLine(const LogLine& line) = 0;
};

// The lines kept for display (the output pane's contents). Always attached
// to its OutputLog; the GUI reads a snapshot whenever change_count() moved,
// or installs a callback that is told about each new line.
class LogModel : public LogSink {
 public:
  explicit LogModel(size_t capacity) : capacity_(capacity) {}

  void OnLine(const LogLine& line) override;

  std::vector<LogLine> Snapshot() const;
  size_t size() const;
  size_t capacity() const { return capacity_; }
  // Grows by one with every line added (including lines that pushed out an
  // older one).
  uint64_t change_count() const;

  // Called after each line is added, on the writer's thread. Pass an empty
  // function to remove it.
  void SetChangeCallback(std::function<void(const LogLine&)> callback);

 private:
  const size_t capacity_;
  mutable std::mutex mu_;
  std::deque<LogLine> lines_;
  uint64_t change_count_ = 0;
  std::function<void(const LogLine&)> callback_;
};

class OutputLog {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  // The output pane holds at most this many lines.
  static constexpr size_t kCapacity = 1001;

  explicit OutputLog(size_t capacity = kCapacity, Clock clock = nullptr);
  OutputLog(const OutputLog&) = delete;
  OutputLog& operator=(const OutputLog&) = delete;

  // The process-wide log that WriteOutput writes to.
  static OutputLog& Global();

  // Appends one message (already formatted) as one line.
  void Write(std::string_view message);

  void AddSink(std::shared_ptr<LogSink> sink);
  void RemoveSink(const std::shared_ptr<LogSink>& sink);

  LogModel& model() { return *model_; }
  const LogModel& model() const { return *model_; }

 private:
  void Deliver(const LogLine& line);

  Clock clock_;
  std::shared_ptr<LogModel> model_;

  std::mutex sinks_mu_;  // guards sinks_
  std::vector<std::shared_ptr<LogSink>> sinks_;

  // Held while lines are stamped and delivered, so sinks see call order.
  std::mutex write_mu_;
  uint64_t next_sequence_ = 1;
  std::deque<LogLine> pending_;  // lines written by a sink during delivery
};

namespace log_internal {
// Formats printf-style; a format that does not match its arguments is kept
// as the message unchanged, so nothing is lost and nothing throws.
template <typename... Args>
std::string FormatMessage(std::string_view format, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    // A bare text (for example SQL with a percent sign) is shown unchanged.
    return std::string(format);
  } else {
    try {
      return fmt::sprintf(format, args...);
    } catch (const std::exception&) {
      return std::string(format);
    }
  }
}
}  // namespace log_internal

// Writes one line into the process-wide log: printf-style format with
// type-checked arguments ({fmt}'s sprintf). With no arguments the text is
// taken as it is.
template <typename... Args>
void WriteOutput(std::string_view format, const Args&... args) {
  OutputLog::Global().Write(log_internal::FormatMessage(format, args...));
}

// The same into a given log (tests, or a second log).
template <typename... Args>
void WriteOutputTo(OutputLog& log, std::string_view format, const Args&... args) {
  log.Write(log_internal::FormatMessage(format, args...));
}

}  // namespace velquin
