#include "cli/log_options.h"

#include <memory>
#include <string>

#include "log/log_sinks.h"
#include "log/output_log.h"

namespace velquin {
namespace {
std::shared_ptr<LogSink>& StdoutSinkSlot() {
  static std::shared_ptr<LogSink> sink;
  return sink;
}

std::shared_ptr<FileSink>& FileSinkSlot() {
  static std::shared_ptr<FileSink> sink;
  return sink;
}
std::string& LogPathSlot() {
  static std::string path;
  return path;
}
}  // namespace

std::shared_ptr<LogSink> StdoutLogSink() { return StdoutSinkSlot(); }
std::string LogFilePath() { return LogPathSlot(); }
Status LogFileStatus() { return FileSinkSlot() ? FileSinkSlot()->status() : Status::Ok(); }

void RegisterLogOptions(CLI::App& app) {
  auto log_path = std::make_shared<std::string>();
  app.add_option("--log", *log_path, "Append every output line to FILE as well (for bug reports)")
      ->option_text("FILE");
  // Runs once parsing is complete, before any subcommand does its work, so
  // the sinks see every line.
  app.parse_complete_callback([log_path] {
    OutputLog& log = OutputLog::Global();
    StdoutSinkSlot() = TerminalSink::ForStdout();
    log.AddSink(StdoutSinkSlot());
    LogPathSlot() = *log_path;
    if (!log_path->empty()) {
      auto sink = FileSink::Open(*log_path);
      if (!sink.ok()) throw CLI::ValidationError("--log", sink.status().message());
      FileSinkSlot() = *sink;
      log.AddSink(std::move(sink).value());
    }
  });
}

}  // namespace velquin
