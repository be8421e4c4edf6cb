#include "backup/restore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "base/unicode.h"

namespace velquin::backup {
namespace {

namespace fs = std::filesystem;

bool Blank(const std::string& s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

// The files of `dir` with extension `ext`, sorted by name.
std::vector<fs::path> FilesWith(const fs::path& dir, const std::string& ext) {
  std::vector<fs::path> out;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return out;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.is_regular_file(ec) && e.path().extension() == ext) out.push_back(e.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

struct Statement {
  std::string sql;
  std::uint64_t line = 0;
};

Result<std::vector<Statement>> ReadAll(const fs::path& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return Status::IOError("cannot read " + path.string() + ": " + std::strerror(errno));
  StatementReader reader(f);
  std::vector<Statement> out;
  Statement s;
  while (reader.Next(&s.sql, &s.line)) out.push_back(s);
  std::fclose(f);
  return out;
}

class Runner {
 public:
  Runner(Session& target, const RestoreOptions& options, RestoreReport* report)
      : target_(target), options_(options), report_(report) {}

  // Runs one statement; a refusal is reported and counted.
  bool Run(const fs::path& file, const Statement& s) {
    std::string sql;
    const std::string* text = &s.sql;
    if (options_.encoding == ScriptEncoding::kWindows1252) {
      sql = Windows1252ToUtf8(s.sql);
      text = &sql;
    }
    auto r = target_.Execute(*text);
    if (r.ok()) return true;
    ++report_->refused;
    Out("E::" + file.filename().string() + ":" + std::to_string(s.line) + ": " +
        r.status().message());
    return false;
  }

  void Out(const std::string& line) {
    if (options_.out) options_.out(line);
  }

 private:
  Session& target_;
  const RestoreOptions& options_;
  RestoreReport* report_;
};

}  // namespace

int StatementReader::Get() {
  if (in_ == nullptr) {
    if (pos_ >= text_.size()) return -1;
    return static_cast<unsigned char>(text_[pos_++]);
  }
  if (pos_ == len_) {
    if (block_.empty()) block_.resize(1 << 20);
    len_ = std::fread(block_.data(), 1, block_.size(), in_);
    pos_ = 0;
    if (len_ == 0) return -1;
  }
  return static_cast<unsigned char>(block_[pos_++]);
}

bool StatementReader::Next(std::string* statement, std::uint64_t* line) {
  statement->clear();
  char quote = 0;
  std::uint64_t start = 0;
  while (true) {
    const int c = Get();
    if (c < 0) break;
    if (c == '\n') ++line_;
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == ';') {
      if (Blank(*statement)) {
        statement->clear();
        continue;
      }
      *line = start;
      return true;
    } else if (c == '\'' || c == '"') {
      quote = static_cast<char>(c);
    } else if (c == '[') {
      quote = ']';
    } else if (c == '`') {
      quote = '`';
    }
    if (statement->empty()) {
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
      start = line_;
    }
    statement->push_back(static_cast<char>(c));
  }
  if (Blank(*statement)) return false;
  *line = start;
  return true;
}

Result<fs::path> FindScriptsDirectory(const fs::path& dir) {
  std::error_code ec;
  auto holds_scripts = [&](const fs::path& d) {
    return fs::is_directory(d / kTablesDirectory, ec) || fs::is_directory(d / kViewsDirectory, ec);
  };
  if (!fs::is_directory(dir, ec)) {
    return Status::InvalidArgument(dir.string() + " is not a directory");
  }
  if (holds_scripts(dir)) return dir;
  std::vector<fs::path> found;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.is_directory(ec) && holds_scripts(e.path())) found.push_back(e.path());
  }
  if (found.size() == 1) return found[0];
  if (found.empty()) {
    return Status::InvalidArgument(dir.string() + " holds no backup (no TABLES or VIEWS folder)");
  }
  return Status::InvalidArgument(dir.string() +
                                 " holds the backups of several databases; name one of them");
}

Result<RestoreReport> Restore(const fs::path& dir, Session& target, const RestoreOptions& options) {
  RestoreReport report;
  Runner run(target, options, &report);
  const fs::path tables_dir = dir / kTablesDirectory;

  // The tables, keeping each one's further statements (keys and indexes)
  // for after the rows.
  std::vector<std::pair<fs::path, std::vector<Statement>>> keys;
  for (const fs::path& file : FilesWith(tables_dir, kTableExtension)) {
    VELQUIN_ASSIGN_OR_RETURN(std::vector<Statement> statements, ReadAll(file));
    if (statements.empty()) continue;
    if (run.Run(file, statements[0])) ++report.tables;
    statements.erase(statements.begin());
    keys.emplace_back(file, std::move(statements));
  }
  // The rows.
  for (const fs::path& file : FilesWith(dir / kDataDirectory, kDataExtension)) {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return Status::IOError("cannot read " + file.string() + ": " + std::strerror(errno));
    StatementReader reader(f);
    Statement s;
    std::uint64_t rows = 0;
    while (reader.Next(&s.sql, &s.line)) {
      if (run.Run(file, s)) ++rows;
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return Status::IOError("cannot read " + file.string());
    report.rows += rows;
    run.Out("[" + file.stem().string() + "] " + std::to_string(rows) + " rows restored");
  }
  // Keys and indexes, then relationships.
  for (const auto& [file, statements] : keys) {
    for (const Statement& s : statements) {
      if (run.Run(file, s)) ++report.indexes;
    }
  }
  for (const fs::path& file : FilesWith(tables_dir, kRelationshipsExtension)) {
    VELQUIN_ASSIGN_OR_RETURN(std::vector<Statement> statements, ReadAll(file));
    for (const Statement& s : statements) {
      if (run.Run(file, s)) ++report.relationships;
    }
  }
  // Views: a view naming another view can only be made after it, so the
  // refused ones are tried again while each round makes at least one.
  std::vector<std::pair<fs::path, Statement>> pending;
  for (const fs::path& file : FilesWith(dir / kViewsDirectory, kViewExtension)) {
    VELQUIN_ASSIGN_OR_RETURN(std::vector<Statement> statements, ReadAll(file));
    for (Statement& s : statements) pending.emplace_back(file, std::move(s));
  }
  while (!pending.empty()) {
    std::vector<std::pair<fs::path, Statement>> again;
    for (auto& p : pending) {
      std::string sql = p.second.sql;
      if (options.encoding == ScriptEncoding::kWindows1252) sql = Windows1252ToUtf8(sql);
      if (target.Execute(sql).ok()) {
        ++report.views;
      } else {
        again.push_back(std::move(p));
      }
    }
    if (again.size() == pending.size()) {
      // No progress: report each refusal with its reason.
      for (const auto& p : again) run.Run(p.first, p.second);
      break;
    }
    pending = std::move(again);
  }
  return report;
}

}  // namespace velquin::backup
