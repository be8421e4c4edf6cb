#include "log/log_sinks.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velquin {

const char* TerminalSink::ColourCode(LineClass line_class) {
  switch (line_class) {
    case LineClass::kError:
      return "\x1b[31m";  // red
    case LineClass::kSuccess:
      return "\x1b[32m";  // green
    case LineClass::kProvider:
      return "\x1b[38;5;208m";  // orange
    case LineClass::kPlain:
      return "";
  }
  return "";
}

std::shared_ptr<TerminalSink> TerminalSink::ForStdout() {
  return std::make_shared<TerminalSink>(stdout, isatty(fileno(stdout)) == 1);
}

void TerminalSink::OnLine(const LogLine& line) {
  const char* code = colour_ ? ColourCode(line.line_class) : "";
  const bool coloured = *code != '\0';
  // One fputs per line keeps a line whole even when other output
  // interleaves on the same stream.
  std::string out;
  out.reserve(line.timestamp.size() + line.text.size() + 16);
  out += line.timestamp;
  if (coloured) out += code;
  out += line.text;
  if (coloured) out += "\x1b[0m";
  out += '\n';
  std::fputs(out.c_str(), out_);
  std::fflush(out_);
}

Result<std::shared_ptr<FileSink>> FileSink::Open(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (file == nullptr) {
    return Status::IOError("cannot open log file " + path + ": " + std::strerror(errno));
  }
  return std::shared_ptr<FileSink>(new FileSink(file));
}

FileSink::~FileSink() {
  if (file_ != nullptr) std::fclose(file_);
}

void FileSink::OnLine(const LogLine& line) {
  std::lock_guard<std::mutex> lock(mu_);
  std::string out = line.Display();
  out += '\n';
  const bool written = std::fwrite(out.data(), 1, out.size(), file_) == out.size();
  if ((!written || std::fflush(file_) != 0) && status_.ok()) {
    status_ = Status::IOError(std::string("writing the log file failed: ") + std::strerror(errno));
  }
}

Status FileSink::status() {
  std::lock_guard<std::mutex> lock(mu_);
  return status_;
}

}  // namespace velquin
