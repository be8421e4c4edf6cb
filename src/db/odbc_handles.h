// ODBC handles of the MySQL source: the process-wide environment, a
// statement handle that frees itself, and what a statement says of its
// result's columns.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <utility>
#include <vector>

#include "base/status.h"
#include "db/session.h"

namespace velquin {

// The process-wide ODBC environment (ODBC 3), created on first use and kept
// for the life of the process; SQL_NULL_HENV when it cannot be created.
SQLHENV OdbcEnvironment();

// Frees a statement handle unless released.
class StatementHandle {
 public:
  StatementHandle() = default;
  explicit StatementHandle(SQLHSTMT h) : handle_(h) {}
  StatementHandle(const StatementHandle&) = delete;
  StatementHandle& operator=(const StatementHandle&) = delete;
  StatementHandle(StatementHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)) {}
  ~StatementHandle() { Reset(); }
  void Reset() {
    if (handle_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, handle_);
    handle_ = SQL_NULL_HSTMT;
  }
  SQLHSTMT get() const { return handle_; }

 private:
  SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

// The columns of the result of an executed statement.
Result<std::vector<ColumnInfo>> DescribeColumns(SQLHSTMT stmt);

// The buffer bytes one value of `column` takes when bound: room for its
// declared size (characters as UTF-8 of up to 4 bytes each, plus sign, point
// and terminator), the number's own size for floating values, 0 for a long
// column, which is never bound.
std::size_t BoundWidth(const ColumnInfo& column);

}  // namespace velquin
