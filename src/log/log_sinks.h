// Sinks that show or keep the output log's lines outside the GUI: the
// terminal (for the velquin command) and a log file the user asks for with
// --log FILE (to attach to a bug report).
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "base/status.h"
#include "log/output_log.h"

namespace velquin {

// Writes each line as shown ("timestamp text") to a stdio stream. With
// colour on, errors are red, successes green and provider texts orange, as
// in the output pane; plain lines keep the terminal's colour.
class TerminalSink : public LogSink {
 public:
  TerminalSink(std::FILE* out, bool colour) : out_(out), colour_(colour) {}

  // Standard output, coloured when it is a terminal.
  static std::shared_ptr<TerminalSink> ForStdout();

  void OnLine(const LogLine& line) override;

  // The escape sequence that starts a line of the class ("" for plain).
  static const char* ColourCode(LineClass line_class);

 private:
  std::FILE* out_;
  bool colour_;
};

// Appends each line as shown, one per text line, to a file; flushed after
// every line so the file is complete even if the program dies.
class FileSink : public LogSink {
 public:
  // Opens (creates or appends to) the file.
  static Result<std::shared_ptr<FileSink>> Open(const std::string& path);
  ~FileSink() override;

  void OnLine(const LogLine& line) override;

  // Ok, or the first failed write (a full disk, a removed device).
  Status status();

 private:
  explicit FileSink(std::FILE* file) : file_(file) {}

  std::mutex mu_;
  std::FILE* file_;
  Status status_;
};

}  // namespace velquin
