#include "db/odbc_handles.h"

#include <algorithm>

#include "db/odbc_error.h"

namespace velquin {
namespace {

constexpr std::size_t kMaxBoundWidth = std::size_t{16} * 1024;  // wider columns count as long

bool IsBinarySqlType(SQLSMALLINT type) {
  return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY ||
         type == SQL_BIT;
}

}  // namespace

// The process-wide ODBC environment, created on first use and kept for the
// life of the process.
SQLHENV OdbcEnvironment() {
  static SQLHENV env = [] {
    SQLHENV handle = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle))) {
      return SQLHENV{SQL_NULL_HENV};
    }
    SQLSetEnvAttr(handle, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    return handle;
  }();
  return env;
}

Result<std::vector<ColumnInfo>> DescribeColumns(SQLHSTMT stmt) {
  SQLSMALLINT count = 0;
  if (!SQL_SUCCEEDED(SQLNumResultCols(stmt, &count))) return OdbcFailure(SQL_HANDLE_STMT, stmt);
  std::vector<ColumnInfo> columns;
  columns.reserve(static_cast<std::size_t>(count));
  for (SQLSMALLINT i = 1; i <= count; ++i) {
    std::string name(256, '\0');
    SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = SQL_NULLABLE_UNKNOWN;
    SQLULEN size = 0;
    SQLRETURN rc = SQLDescribeCol(
        stmt, static_cast<SQLUSMALLINT>(i), reinterpret_cast<SQLCHAR*>(name.data()),
        static_cast<SQLSMALLINT>(name.size()), &name_length, &type, &size, &digits, &nullable);
    if (!SQL_SUCCEEDED(rc)) return OdbcFailure(SQL_HANDLE_STMT, stmt);
    if (name_length >= static_cast<SQLSMALLINT>(name.size())) {
      name.assign(static_cast<std::size_t>(name_length) + 1, '\0');
      rc = SQLDescribeCol(
          stmt, static_cast<SQLUSMALLINT>(i), reinterpret_cast<SQLCHAR*>(name.data()),
          static_cast<SQLSMALLINT>(name.size()), &name_length, &type, &size, &digits, &nullable);
      if (!SQL_SUCCEEDED(rc)) return OdbcFailure(SQL_HANDLE_STMT, stmt);
    }
    name.resize(static_cast<std::size_t>(
        std::clamp<SQLSMALLINT>(name_length, 0, static_cast<SQLSMALLINT>(name.size() - 1))));
    ColumnInfo info;
    info.name = std::move(name);
    info.ordinal = i;
    info.sql_type = type;
    info.column_size = size;
    info.decimal_digits = digits;
    info.nullable = nullable != SQL_NO_NULLS;
    info.binary = IsBinarySqlType(type);
    char type_name[128] = {0};
    SQLSMALLINT type_name_length = 0;
    if (SQL_SUCCEEDED(SQLColAttribute(stmt, static_cast<SQLUSMALLINT>(i), SQL_DESC_TYPE_NAME,
                                      type_name, sizeof(type_name), &type_name_length, nullptr))) {
      info.type_name = type_name;
    }
    columns.push_back(std::move(info));
  }
  return columns;
}

// The buffer bytes one value of `column` takes when bound: room for its
// declared size (characters as UTF-8 of up to 4 bytes each, plus sign, point
// and terminator), the number's own size for floating values, 0 for a long
// column, which is never bound.
std::size_t BoundWidth(const ColumnInfo& column) {
  switch (column.sql_type) {
    case SQL_REAL:  // fetched as a double (exact), see BindRowset
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return sizeof(double);
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_LONGVARBINARY:
      return 0;
    default:
      break;
  }
  if (column.column_size == 0 || column.column_size > kMaxBoundWidth) return 0;
  return column.binary ? column.column_size + 8 : column.column_size * 4 + 16;
}

}  // namespace velquin
