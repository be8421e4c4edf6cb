// The .test format: SQL behaviour written as data.
//
// A file is a list of records separated by blank lines; lines starting with
// "#" are comments. A record starts with a head line, then the SQL (one or
// more lines), then optionally "----" and the expected result, and for some
// kinds "====" and a second expected part:
//
//   parse ok              the statement is accepted; after ----, its
//   <sql>                 normalized form (one line)
//   ----
//   <normalized sql>
//
//   parse error           the statement is refused by the front end with
//   <sql>                 exactly this message
//   ----
//   <message>
//
//   statement ok          the statement runs (against a database file);
//   <sql>                 after the optional ----, the number of rows it
//   ----                  affected (INSERT, SELECT INTO, DELETE)
//   <count>
//
//   statement error       the statement fails with exactly this message
//   <sql>
//   ----
//   <message>
//
//   query                 the statement's rows, values tab-separated, NULL as
//   <sql>                 "NULL"
//   ----
//   <rows>
//
//   saved-query           a SELECT or CREATE VIEW; after ---- its MSysQueries
//   <sql>                 rows as "attribute | flag | name1 | name2 | expression"
//   ----                  (an empty field is NULL); after ==== the SQL text
//   <rows>                read back from those rows (or, instead of rows,
//   ====                  "error: <message>" when the SELECT is refused)
//   <sql text>
//
//   reopen                close the database file and open it again
//
// Expected parts cannot hold blank lines. A driver runs the kinds it knows
// and must say which it skips; unknown kinds are an error of the file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace velquin::sqltest {

struct SqlTestRecord {
  std::string kind;                    // "parse", "statement", "query", "saved-query", "reopen"
  std::string argument;                // rest of the head line: "ok", "error", or ""
  std::string sql;                     // the statement, its lines joined with "\n"
  std::vector<std::string> expected;   // lines after "----"
  std::vector<std::string> expected2;  // lines after "===="
  bool has_expected = false;
  int line = 0;  // 1-based line of the head
};

Result<std::vector<SqlTestRecord>> ParseSqlTestFile(std::string_view text);
Result<std::vector<SqlTestRecord>> ReadSqlTestFile(const std::string& path);

// "expected" and "expected2" joined with "\n".
std::string JoinLines(const std::vector<std::string>& lines);

}  // namespace velquin::sqltest
