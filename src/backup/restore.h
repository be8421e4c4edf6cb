// Restore: runs a backup's scripts against an Access database in the order
// that recreates it: every table (CREATE TABLE), every table's rows, then
// the keys and indexes, then the relationships, then the views (a view that
// reads another view waits for it).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "base/status.h"
#include "db/session.h"

namespace velquin::backup {

// Splits a script into statements at ";" outside 'text', "text", [names]
// and `names`, reading a file in blocks (a data script may be large).
// Blank text between statements is skipped.
class StatementReader {
 public:
  explicit StatementReader(std::FILE* in) : in_(in) {}
  explicit StatementReader(std::string text) : text_(std::move(text)), in_(nullptr) {}

  // The next statement (without its ";") and the line it starts on; false
  // at the end. A statement left open at the end (an unclosed quote, no
  // ";") is returned as it is, for the executor to refuse.
  bool Next(std::string* statement, std::uint64_t* line);

 private:
  int Get();

  std::string text_;
  std::FILE* in_;
  std::vector<char> block_;
  std::size_t pos_ = 0, len_ = 0;
  bool text_loaded_ = false;
  std::uint64_t line_ = 1;
};

struct RestoreOptions {
  ScriptEncoding encoding = ScriptEncoding::kUtf8;
  LineSink out;
};

struct RestoreReport {
  std::uint64_t tables = 0;
  std::uint64_t rows = 0;
  std::uint64_t indexes = 0;
  std::uint64_t relationships = 0;
  std::uint64_t views = 0;
  // Statements the target refused (each reported as a line naming its
  // file and line).
  std::uint64_t refused = 0;
};

// The directory of one database's scripts: `dir` itself when it holds
// TABLES or VIEWS, else its one subdirectory that does. InvalidArgument
// when there is none or more than one.
Result<std::filesystem::path> FindScriptsDirectory(const std::filesystem::path& dir);

// Runs the scripts under `dir` (a database directory) on `target`.
// Fails only when the scripts cannot be read; refused statements are
// counted in the report.
Result<RestoreReport> Restore(const std::filesystem::path& dir, Session& target,
                              const RestoreOptions& options);

}  // namespace velquin::backup
