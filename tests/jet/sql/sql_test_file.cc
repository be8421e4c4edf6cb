#include "sql_test_file.h"

#include <fstream>
#include <sstream>

namespace velquin::sqltest {
namespace {

bool IsBlank(const std::string& line) {
  return line.find_first_not_of(" \t\r") == std::string::npos;
}

Status FileError(int line, const std::string& why) {
  return Status::InvalidArgument("line " + std::to_string(line) + ": " + why);
}

}  // namespace

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += "\n";
    out += lines[i];
  }
  return out;
}

Result<std::vector<SqlTestRecord>> ParseSqlTestFile(std::string_view text) {
  std::vector<std::string> lines;
  {
    std::string current;
    for (char c : text) {
      if (c == '\n') {
        if (!current.empty() && current.back() == '\r') current.pop_back();
        lines.push_back(current);
        current.clear();
      } else {
        current.push_back(c);
      }
    }
    if (!current.empty()) lines.push_back(current);
  }

  std::vector<SqlTestRecord> records;
  size_t i = 0;
  while (i < lines.size()) {
    if (IsBlank(lines[i]) || lines[i][0] == '#') {
      ++i;
      continue;
    }
    SqlTestRecord r;
    r.line = static_cast<int>(i) + 1;
    const std::string& head = lines[i];
    const size_t space = head.find(' ');
    r.kind = head.substr(0, space);
    r.argument = space == std::string::npos ? "" : head.substr(space + 1);
    ++i;
    const bool wants_sql = r.kind != "reopen";
    if (r.kind == "parse" || r.kind == "statement") {
      if (r.argument != "ok" && r.argument != "error") {
        return FileError(r.line, "'" + r.kind + "' must be followed by ok or error");
      }
    } else if (r.kind == "query" || r.kind == "saved-query" || r.kind == "reopen") {
      if (!r.argument.empty()) return FileError(r.line, "'" + r.kind + "' takes no argument");
    } else {
      return FileError(r.line, "unknown record kind '" + r.kind + "'");
    }
    if (wants_sql) {
      std::vector<std::string> sql;
      while (i < lines.size() && !IsBlank(lines[i]) && lines[i] != "----") {
        sql.push_back(lines[i++]);
      }
      if (sql.empty()) return FileError(r.line, "the record has no SQL");
      r.sql = JoinLines(sql);
      if (i < lines.size() && lines[i] == "----") {
        r.has_expected = true;
        ++i;
        std::vector<std::string>* target = &r.expected;
        while (i < lines.size() && !IsBlank(lines[i])) {
          if (lines[i] == "====") {
            if (target == &r.expected2) return FileError(static_cast<int>(i) + 1, "second ====");
            target = &r.expected2;
          } else {
            target->push_back(lines[i]);
          }
          ++i;
        }
      }
    }
    const bool needs_expected =
        r.argument == "error" || r.kind == "query" || r.kind == "saved-query";
    if (needs_expected && !r.has_expected) {
      return FileError(r.line, "the record needs an expected part after ----");
    }
    records.push_back(std::move(r));
  }
  return records;
}

Result<std::vector<SqlTestRecord>> ReadSqlTestFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::IOError("cannot open " + path);
  std::ostringstream buf;
  buf << in.rdbuf();
  auto records = ParseSqlTestFile(buf.str());
  if (!records.ok()) return records.status().WithContext(path);
  return records;
}

}  // namespace velquin::sqltest
