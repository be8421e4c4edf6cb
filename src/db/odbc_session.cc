#include "db/odbc_session.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "base/text.h"
#include "db/odbc_error.h"
#include "db/odbc_handles.h"
#include "db/odbc_schema_sql.h"
#include "db/sql_quote.h"

namespace velquin {

struct OdbcConnection {
  std::mutex mu;
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool connected = false;
  bool no_backslash_escapes = false;
  std::string connection_string;  // to open a second connection like this one

  ~OdbcConnection() {
    if (dbc == SQL_NULL_HDBC) return;
    if (connected) SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }
};

namespace {

constexpr std::size_t kPieceSize = std::size_t{64} * 1024;

// Runs `sql` on a new statement of the (locked) connection.
Result<StatementHandle> ExecuteLocked(OdbcConnection& conn, std::string_view sql,
                                      bool scrollable = false) {
  SQLHSTMT raw = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, conn.dbc, &raw))) {
    return OdbcFailure(SQL_HANDLE_DBC, conn.dbc);
  }
  StatementHandle stmt(raw);
  if (scrollable &&
      !SQL_SUCCEEDED(SQLSetStmtAttr(stmt.get(), SQL_ATTR_CURSOR_TYPE,
                                    reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC), 0))) {
    return OdbcFailure(SQL_HANDLE_STMT, stmt.get());
  }
  SQLRETURN rc =
      SQLExecDirect(stmt.get(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.data())),
                    static_cast<SQLINTEGER>(sql.size()));
  if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(rc)) return OdbcFailure(SQL_HANDLE_STMT, stmt.get());
  return stmt;
}

// Results whose every column has a bounded declared size are fetched many
// rows at a time into buffers bound to the columns (one driver call a rowset
// instead of one a value); a result with a long column (text, blob, json,
// geometry) is read value by value, in pieces.
constexpr std::size_t kRowsetBytes = 1 << 20;  // buffer bytes of one rowset
constexpr std::size_t kMaxRowsetRows = 1024;

// A cursor over one executed statement.
class OdbcCursor : public QueryCursor {
 public:
  OdbcCursor(std::shared_ptr<OdbcConnection> conn, StatementHandle stmt,
             std::vector<ColumnInfo> columns)
      : conn_(std::move(conn)),
        stmt_(std::move(stmt)),
        columns_(std::move(columns)),
        values_(columns_.size()),
        status_(columns_.size(), ValueStatus::kValueNull) {}

  ~OdbcCursor() override { Close(); }

  // Binds every column to a rowset buffer when all of them have a bounded
  // size (called once, before the first fetch, with the lock held). A driver
  // that refuses leaves the cursor reading value by value.
  void BindRowset() {
    if (stmt_.get() == SQL_NULL_HSTMT || columns_.empty()) return;
    std::size_t row_bytes = 0;
    for (const ColumnInfo& column : columns_) {
      const std::size_t width = BoundWidth(column);
      if (width == 0) return;
      row_bytes += width + sizeof(SQLLEN);
    }
    const std::size_t rows = std::clamp<std::size_t>(kRowsetBytes / row_bytes, 1, kMaxRowsetRows);
    std::vector<BoundColumn> bound(columns_.size());
    SQLHSTMT stmt = stmt_.get();
    auto set = [&](SQLINTEGER attribute, SQLPOINTER value) {
      return SQL_SUCCEEDED(SQLSetStmtAttr(stmt, attribute, value, 0));
    };
    row_status_.assign(rows, SQL_ROW_NOROW);
    // ODBC passes integer attributes in its pointer argument.
    bool ok = set(SQL_ATTR_ROW_BIND_TYPE,
                  reinterpret_cast<SQLPOINTER>(
                      SQL_BIND_BY_COLUMN)) &&  // NOLINT(performance-no-int-to-ptr)
              set(SQL_ATTR_ROW_ARRAY_SIZE,
                  reinterpret_cast<SQLPOINTER>(rows)) &&  // NOLINT(performance-no-int-to-ptr)
              set(SQL_ATTR_ROW_STATUS_PTR, row_status_.data()) &&
              set(SQL_ATTR_ROWS_FETCHED_PTR, &fetched_);
    for (std::size_t i = 0; ok && i < columns_.size(); ++i) {
      BoundColumn& b = bound[i];
      const int type = columns_[i].sql_type;
      // A FLOAT column is bound as a double: MariaDB Connector/ODBC 3.1
      // steps through a bound SQL_C_FLOAT array 8 bytes a row, past its end.
      // Every single converts to a double and back exactly.
      b.single = type == SQL_REAL;
      b.width = BoundWidth(columns_[i]);
      if (type == SQL_REAL || type == SQL_FLOAT || type == SQL_DOUBLE) {
        b.c_type = SQL_C_DOUBLE;
      } else if ((type == SQL_TINYINT || type == SQL_SMALLINT || type == SQL_INTEGER) &&
                 !EqualsIgnoreCase(columns_[i].type_name, "year")) {
        // As a number, which the driver copies (a YEAR keeps its text:
        // "0000"). Signed or not, every value of these types fits; BIGINT
        // UNSIGNED would not.
        b.c_type = SQL_C_SBIGINT;
        b.width = sizeof(std::int64_t);
      } else {
        b.c_type = columns_[i].binary ? SQL_C_BINARY : SQL_C_CHAR;
      }
      b.data.resize(b.width * rows);
      b.lengths.resize(rows);
      ok = SQL_SUCCEEDED(SQLBindCol(stmt, static_cast<SQLUSMALLINT>(i + 1), b.c_type, b.data.data(),
                                    static_cast<SQLLEN>(b.width), b.lengths.data()));
    }
    if (!ok) {  // back to one row a fetch, nothing bound
      SQLFreeStmt(stmt, SQL_UNBIND);
      SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
      SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
      SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
      row_status_.clear();
      return;
    }
    bound_ = std::move(bound);
  }

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  Result<bool> MoveNext() override {
    std::lock_guard<std::mutex> lock(conn_->mu);
    if (stmt_.get() == SQL_NULL_HSTMT || columns_.empty()) return false;
    if (on_first_row_) {  // PeekLastRow left the cursor on the first row, read
      on_first_row_ = false;
      return true;
    }
    if (!bound_.empty()) {
      if (row_ + 1 < static_cast<std::size_t>(fetched_)) {
        ++row_;
        VELQUIN_RETURN_IF_ERROR(TakeRow());
        return true;
      }
      return FetchRowset(SQL_FETCH_NEXT);
    }
    SQLRETURN rc = SQLFetch(stmt_.get());
    if (rc == SQL_NO_DATA) return false;
    if (!SQL_SUCCEEDED(rc)) return OdbcFailure(SQL_HANDLE_STMT, stmt_.get());
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      VELQUIN_RETURN_IF_ERROR(ReadValue(i));
    }
    return true;
  }

  ValueStatus Status(std::size_t column) const override {
    return column < status_.size() ? status_[column] : ValueStatus::kValueNull;
  }
  const std::string& Value(std::size_t column) const override {
    static const std::string kEmpty;
    return column < values_.size() ? values_[column] : kEmpty;
  }

  void Close() override {
    if (stmt_.get() == SQL_NULL_HSTMT) return;
    std::lock_guard<std::mutex> lock(conn_->mu);
    stmt_.Reset();
  }

  // For a scrollable (static) cursor before its first MoveNext: the number
  // of rows (0 when none, SIZE_MAX when the driver does not tell) and the
  // values of `columns` in the last row; the cursor is then back on the first
  // row, which the next MoveNext returns.
  velquin::Status PeekLastRow(const std::vector<std::size_t>& columns, std::size_t* rows,
                              std::vector<std::string>* last) {
    std::lock_guard<std::mutex> lock(conn_->mu);
    *rows = 0;
    last->clear();
    if (stmt_.get() == SQL_NULL_HSTMT || columns_.empty()) return velquin::Status::Ok();
    // The row count when the driver tells it (it holds the whole result);
    // otherwise the chunk counts as full, and the query after the last
    // chunk just finds nothing.
    auto row_count = [&] {
      SQLLEN number = -1;
      if (!SQL_SUCCEEDED(SQLRowCount(stmt_.get(), &number)) || number <= 0) number = -1;
      return number;
    };
    SQLLEN number = -1;
    if (!bound_.empty()) {
      VELQUIN_ASSIGN_OR_RETURN(bool any, FetchRowset(SQL_FETCH_LAST));
      if (!any) return velquin::Status::Ok();
      number = row_count();
      for (std::size_t index : columns) last->push_back(values_[index]);
      VELQUIN_ASSIGN_OR_RETURN(any, FetchRowset(SQL_FETCH_FIRST));
      if (!any) return velquin::Status::Corruption("the first rows vanished from a read result");
    } else {
      SQLRETURN rc = SQLFetchScroll(stmt_.get(), SQL_FETCH_LAST, 0);
      if (rc == SQL_NO_DATA) return velquin::Status::Ok();
      if (!SQL_SUCCEEDED(rc)) return OdbcFailure(SQL_HANDLE_STMT, stmt_.get());
      number = row_count();
      for (std::size_t index : columns) {
        VELQUIN_RETURN_IF_ERROR(ReadValue(index));
        last->push_back(values_[index]);
      }
      rc = SQLFetchScroll(stmt_.get(), SQL_FETCH_FIRST, 0);
      if (!SQL_SUCCEEDED(rc)) return OdbcFailure(SQL_HANDLE_STMT, stmt_.get());
      for (std::size_t i = 0; i < columns_.size(); ++i) VELQUIN_RETURN_IF_ERROR(ReadValue(i));
    }
    on_first_row_ = true;
    *rows = number < 0 ? SIZE_MAX : static_cast<std::size_t>(number);
    return velquin::Status::Ok();
  }

 private:
  struct BoundColumn {
    SQLSMALLINT c_type = SQL_C_CHAR;
    bool single = false;     // a FLOAT column, fetched as a double
    std::size_t width = 0;   // bytes of one value's buffer
    std::vector<char> data;  // rowset rows x width
    std::vector<SQLLEN> lengths;
  };

  // Fetches a rowset and takes its first row (FETCH_LAST: its last row).
  // False when there are no more rows.
  Result<bool> FetchRowset(SQLSMALLINT orientation) {
    fetched_ = 0;
    SQLRETURN rc = orientation == SQL_FETCH_NEXT ? SQLFetch(stmt_.get())
                                                 : SQLFetchScroll(stmt_.get(), orientation, 0);
    if (rc == SQL_NO_DATA) return false;
    if (!SQL_SUCCEEDED(rc)) return OdbcFailure(SQL_HANDLE_STMT, stmt_.get());
    if (fetched_ == 0) return false;
    row_ = orientation == SQL_FETCH_LAST ? static_cast<std::size_t>(fetched_) - 1 : 0;
    VELQUIN_RETURN_IF_ERROR(TakeRow());
    return true;
  }

  // Copies row `row_` of the rowset buffers into the values.
  velquin::Status TakeRow() {
    const SQLUSMALLINT row_state = row_status_[row_];
    if (row_state == SQL_ROW_ERROR || row_state == SQL_ROW_NOROW) {
      return velquin::Status::IOError("row " + std::to_string(row_ + 1) +
                                      " of a fetched rowset could not be read: " +
                                      DescribeOleDbError(SQL_HANDLE_STMT, stmt_.get()));
    }
    for (std::size_t i = 0; i < bound_.size(); ++i) {
      const BoundColumn& b = bound_[i];
      const SQLLEN length = b.lengths[row_];
      const char* data = b.data.data() + row_ * b.width;
      std::string& out = values_[i];
      if (length == SQL_NULL_DATA) {
        status_[i] = ValueStatus::kValueNull;
        out.clear();
        continue;
      }
      status_[i] = ValueStatus::kValuePresent;
      if (b.c_type == SQL_C_DOUBLE) {
        double d = 0;
        std::memcpy(&d, data, sizeof d);
        FormatFloating(b.single, static_cast<float>(d), d, &out);
        continue;
      }
      if (b.c_type == SQL_C_SBIGINT) {
        std::int64_t n = 0;
        std::memcpy(&n, data, sizeof n);
        char text[24];
        out.assign(text, std::to_chars(text, text + sizeof text, n).ptr);
        continue;
      }
      const std::size_t room = b.c_type == SQL_C_CHAR ? b.width - 1 : b.width;
      if (length < 0 || static_cast<std::size_t>(length) > room) {
        // Longer than its declared size allowed for: never cut. (Reading
        // the value again from its row would need SQLSetPos, after which the
        // MariaDB driver ends the result early.)
        return velquin::Status::IOError("a value of column " + columns_[i].name +
                                        " is longer than its declared size (" +
                                        std::to_string(columns_[i].column_size) + ")");
      }
      out.assign(data, static_cast<std::size_t>(length));
    }
    return velquin::Status::Ok();
  }

  static void FormatFloating(bool single, float f, double d, std::string* out) {
    char text[64];
    const auto written = single ? std::to_chars(text, text + sizeof text, f)
                                : std::to_chars(text, text + sizeof text, d);
    out->assign(text, written.ptr);
  }

  // Reads column `index` of the fetched row whole, in pieces when it is long.
  velquin::Status ReadValue(std::size_t index) {
    std::string& out = values_[index];
    out.clear();
    const int sql_type = columns_[index].sql_type;
    if (sql_type == SQL_REAL || sql_type == SQL_FLOAT || sql_type == SQL_DOUBLE) {
      return ReadFloatingValue(index, sql_type == SQL_REAL);
    }
    const bool binary = columns_[index].binary;
    const SQLSMALLINT c_type = binary ? SQL_C_BINARY : SQL_C_CHAR;
    const std::size_t terminator = binary ? 0 : 1;
    if (piece_.size() < kPieceSize) piece_.resize(kPieceSize);
    const auto column = static_cast<SQLUSMALLINT>(index + 1);
    for (;;) {
      SQLLEN indicator = 0;
      SQLRETURN rc = SQLGetData(stmt_.get(), column, c_type, piece_.data(),
                                static_cast<SQLLEN>(piece_.size()), &indicator);
      if (rc == SQL_NO_DATA) break;  // every piece has been read
      if (!SQL_SUCCEEDED(rc)) return OdbcFailure(SQL_HANDLE_STMT, stmt_.get());
      if (indicator == SQL_NULL_DATA) {
        status_[index] = ValueStatus::kValueNull;
        out.clear();
        return velquin::Status::Ok();
      }
      const std::size_t room = piece_.size() - terminator;
      if (indicator != SQL_NO_TOTAL && indicator >= 0 &&
          static_cast<std::size_t>(indicator) <= room) {
        out.append(piece_.data(), static_cast<std::size_t>(indicator));
        break;  // the last (or only) piece
      }
      out.append(piece_.data(), room);
      if (indicator != SQL_NO_TOTAL && indicator > 0) {
        out.reserve(out.size() + static_cast<std::size_t>(indicator) - room);
      }
    }
    status_[index] = ValueStatus::kValuePresent;
    return velquin::Status::Ok();
  }

  // FLOAT and DOUBLE values are read as numbers: the server's text for a
  // FLOAT keeps 6 digits (1234567 reads "1.23457e6"). The text written is the
  // shortest one that reads back as the same single (or double), bit for bit.
  velquin::Status ReadFloatingValue(std::size_t index, bool single) {
    std::string& out = values_[index];
    const auto column = static_cast<SQLUSMALLINT>(index + 1);
    SQLLEN indicator = 0;
    float f = 0;
    double d = 0;
    SQLRETURN rc = single ? SQLGetData(stmt_.get(), column, SQL_C_FLOAT, &f, 0, &indicator)
                          : SQLGetData(stmt_.get(), column, SQL_C_DOUBLE, &d, 0, &indicator);
    if (!SQL_SUCCEEDED(rc)) return OdbcFailure(SQL_HANDLE_STMT, stmt_.get());
    if (indicator == SQL_NULL_DATA) {
      status_[index] = ValueStatus::kValueNull;
      return velquin::Status::Ok();
    }
    FormatFloating(single, f, d, &out);
    status_[index] = ValueStatus::kValuePresent;
    return velquin::Status::Ok();
  }

  std::shared_ptr<OdbcConnection> conn_;
  StatementHandle stmt_;
  std::vector<ColumnInfo> columns_;
  std::vector<std::string> values_;
  std::vector<ValueStatus> status_;
  std::vector<char> piece_;
  bool on_first_row_ = false;
  // Rowset reads: the bound buffers (empty: value by value), the row states
  // and count of the last fetch, and the row handed out.
  std::vector<BoundColumn> bound_;
  std::vector<SQLUSMALLINT> row_status_;
  SQLULEN fetched_ = 0;
  std::size_t row_ = 0;
};

Result<std::unique_ptr<OdbcCursor>> RunQuery(const std::shared_ptr<OdbcConnection>& conn,
                                             std::string_view sql, bool scrollable = false) {
  std::lock_guard<std::mutex> lock(conn->mu);
  VELQUIN_ASSIGN_OR_RETURN(StatementHandle stmt, ExecuteLocked(*conn, sql, scrollable));
  VELQUIN_ASSIGN_OR_RETURN(std::vector<ColumnInfo> columns, DescribeColumns(stmt.get()));
  if (columns.empty()) stmt.Reset();
  auto cursor = std::make_unique<OdbcCursor>(conn, std::move(stmt), std::move(columns));
  cursor->BindRowset();
  return cursor;
}

Result<std::string> ReadInfoText(OdbcConnection& conn, SQLUSMALLINT info) {
  std::lock_guard<std::mutex> lock(conn.mu);
  char buffer[512] = {0};
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetInfo(conn.dbc, info, buffer, sizeof(buffer), &length))) {
    return OdbcFailure(SQL_HANDLE_DBC, conn.dbc);
  }
  return std::string(buffer);
}

// Runs a query and returns column 1 of its first row ("" for no row or null).
Result<std::string> QueryScalar(const std::shared_ptr<OdbcConnection>& conn, std::string_view sql) {
  VELQUIN_ASSIGN_OR_RETURN(std::unique_ptr<OdbcCursor> cursor, RunQuery(conn, sql));
  VELQUIN_ASSIGN_OR_RETURN(bool has_row, cursor->MoveNext());
  if (!has_row || cursor->Columns().empty()) return std::string();
  return cursor->Value(0);
}

// ---- Chunked table reads -----------------------------------------------------------------

// Types whose text form compares in the server exactly as the column sorts.
bool KeysetComparable(const std::string& data_type) {
  static const char* const kTypes[] = {"tinyint", "smallint", "mediumint", "int",    "bigint",
                                       "decimal", "char",     "varchar",   "binary", "varbinary",
                                       "date",    "datetime", "timestamp", "time",   "year"};
  for (const char* t : kTypes) {
    if (data_type == t) return true;
  }
  return false;
}

// Reads a table in chunks. With a second connection to the server (`spare`),
// the next chunk is asked for while this one is read: the driver holds a
// whole chunk in memory once its query returns, so a scrollable cursor shows
// the chunk's last key at once, and the following query runs on the other
// connection, on a thread of its own, while the rows of this one are handed
// out. The two connections take turns.
class ChunkedTableCursor : public QueryCursor {
 public:
  // `first_rows`: the size of the first offset pages, until rows are
  // measured (at least options.chunk_rows).
  ChunkedTableCursor(std::shared_ptr<OdbcConnection> conn, std::shared_ptr<OdbcConnection> spare,
                     TableReadOptions options, std::vector<std::string> key, std::size_t first_rows)
      : conn_(std::move(conn)),
        spare_(std::move(spare)),
        options_(std::move(options)),
        key_(std::move(key)) {
    if (options_.chunk_rows == 0) options_.chunk_rows = 1;
    first_rows_ = std::max(first_rows, options_.chunk_rows);
  }
  ~ChunkedTableCursor() override { Close(); }

  // Learns the columns from a query for no rows, then runs the first chunk.
  velquin::Status Start() {
    VELQUIN_ASSIGN_OR_RETURN(
        std::unique_ptr<OdbcCursor> shape,
        RunQuery(conn_, "SELECT * FROM " + QuoteQualifiedName(options_.database, options_.table) +
                            (options_.where.empty() ? "" : " WHERE (" + options_.where + ")") +
                            " LIMIT 0"));
    columns_ = shape->Columns();
    shape->Close();
    for (const std::string& key_column : key_) {
      auto it = std::find_if(columns_.begin(), columns_.end(), [&](const ColumnInfo& c) {
        return EqualsIgnoreCase(c.name, key_column);
      });
      if (it == columns_.end()) {
        return velquin::Status::NotFound("key column " + key_column + " not in the result of " +
                                         options_.table);
      }
      key_index_.push_back(static_cast<std::size_t>(it - columns_.begin()));
    }
    // Dates and times come as the server's text: in the binary protocol the
    // client library formats each with a printf, the largest cost of reading
    // (the text is the same).
    bool any_date = false;
    select_.clear();
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      const int type = columns_[i].sql_type;
      const bool date = type == SQL_TYPE_DATE || type == SQL_TYPE_TIME ||
                        type == SQL_TYPE_TIMESTAMP || type == SQL_DATE || type == SQL_TIME ||
                        type == SQL_TIMESTAMP;
      const std::string name = QuoteIdentifier(columns_[i].name);
      if (i) select_ += ", ";
      if (date) {
        select_ += "CAST(";
        select_ += name;
        select_ += " AS CHAR) AS ";
      }
      select_ += name;
      any_date = any_date || date;
    }
    if (!any_date) select_ = "*";
    // The order is the table's columns', not their text's (a negative TIME).
    order_prefix_ = any_date ? QuoteIdentifier(options_.table) + "." : "";
    return NextChunk();
  }

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  Result<bool> MoveNext() override {
    while (chunk_) {
      VELQUIN_ASSIGN_OR_RETURN(bool has_row, chunk_->MoveNext());
      if (has_row) {
        ++rows_in_chunk_;
        if (Sizing()) {
          ++rows_measured_;
          for (std::size_t i = 0; i < columns_.size(); ++i) {
            bytes_measured_ += chunk_->Value(i).size() + kFieldOverhead;
          }
        }
        return true;
      }
      if (rows_in_chunk_ < limit_) {  // a short chunk is the last one
        chunk_->Close();
        chunk_.reset();
        DropPrefetch();
        break;
      }
      // The chunk's cursor still holds its last row: the key to continue after.
      if (!key_.empty()) {
        last_key_.clear();
        for (std::size_t index : key_index_) {
          last_key_.push_back({chunk_->Value(index), chunk_->Columns()[index].binary});
        }
      }
      offset_ += rows_in_chunk_;
      VELQUIN_RETURN_IF_ERROR(NextChunk());
    }
    return false;
  }

  ValueStatus Status(std::size_t column) const override {
    return chunk_ ? chunk_->Status(column) : ValueStatus::kValueNull;
  }
  const std::string& Value(std::size_t column) const override {
    static const std::string kEmpty;
    return chunk_ ? chunk_->Value(column) : kEmpty;
  }
  void Close() override {
    DropPrefetch();
    if (chunk_) chunk_->Close();
    chunk_.reset();
  }

 private:
  struct KeyValue {
    std::string text;
    bool binary;
  };
  struct Prefetch {
    std::thread thread;
    Result<std::unique_ptr<OdbcCursor>> result = velquin::Status::Ok();
  };

  std::string Literal(const KeyValue& value) const {
    return value.binary ? HexLiteral(value.text)
                        : QuoteMySqlString(value.text, conn_->no_backslash_escapes);
  }

  // (k1 > v1) OR (k1 = v1 AND k2 > v2) OR ...
  std::string AfterKey(const std::vector<KeyValue>& last) const {
    std::string out;
    for (std::size_t i = 0; i < key_.size(); ++i) {
      if (i > 0) out += " OR ";
      out += "(";
      for (std::size_t j = 0; j < i; ++j) {
        out += QuoteIdentifier(key_[j]) + " = " + Literal(last[j]) + " AND ";
      }
      out += QuoteIdentifier(key_[i]) + " > " + Literal(last[i]) + ")";
    }
    return out;
  }

  // Whether pages are sized by the bytes of the rows read so far.
  bool Sizing() const { return options_.chunk_bytes > 0; }

  // Rows of the next page: pages grow to the byte budget once rows have
  // been measured (for offset pages the server's estimate sets the first
  // ones).
  std::size_t NextLimit() const {
    if (!Sizing()) return options_.chunk_rows;
    if (rows_measured_ == 0) return first_rows_;
    const std::size_t per_row = std::max<std::size_t>(1, bytes_measured_ / rows_measured_);
    return std::max(options_.chunk_rows, std::min(options_.chunk_bytes / per_row, kMaxChunkRows));
  }

  // The query of the chunk after `last` (keyset) or at `offset`, of at most
  // `limit` rows.
  std::string ChunkSql(const std::vector<KeyValue>& last, std::size_t offset,
                       std::size_t limit) const {
    std::string sql =
        "SELECT " + select_ + " FROM " + QuoteQualifiedName(options_.database, options_.table);
    std::vector<std::string> conditions;
    if (!options_.where.empty()) conditions.push_back("(" + options_.where + ")");
    if (!key_.empty() && !last.empty()) conditions.push_back("(" + AfterKey(last) + ")");
    for (std::size_t i = 0; i < conditions.size(); ++i) {
      sql += (i == 0 ? " WHERE " : " AND ") + conditions[i];
    }
    if (!key_.empty()) {
      sql += " ORDER BY ";
      for (std::size_t i = 0; i < key_.size(); ++i) {
        if (i > 0) sql += ", ";
        sql += order_prefix_ + QuoteIdentifier(key_[i]);
      }
      sql += " LIMIT " + std::to_string(limit);
    } else {
      sql += " LIMIT " + std::to_string(limit) + " OFFSET " + std::to_string(offset);
    }
    return sql;
  }

  velquin::Status NextChunk() {
    chunk_.reset();
    if (prefetch_) {
      prefetch_->thread.join();
      Result<std::unique_ptr<OdbcCursor>> got = std::move(prefetch_->result);
      prefetch_.reset();
      if (!got.ok()) return got.status();
      chunk_ = std::move(*got);
      limit_ = prefetch_limit_;
      std::swap(conn_, spare_);  // the chunk came from the other connection
    } else {
      limit_ = NextLimit();
      VELQUIN_ASSIGN_OR_RETURN(chunk_, RunQuery(conn_, ChunkSql(last_key_, offset_, limit_),
                                                /*scrollable=*/spare_ != nullptr));
    }
    rows_in_chunk_ = 0;
    return StartPrefetch();
  }

  // Asks for the chunk after the current one on the spare connection.
  velquin::Status StartPrefetch() {
    if (!spare_) return velquin::Status::Ok();
    std::size_t rows = 0;
    std::vector<std::string> last;
    velquin::Status peeked = chunk_->PeekLastRow(key_index_, &rows, &last);
    if (!peeked.ok()) {
      // The driver cannot scroll: read on without prefetching, the current
      // chunk asked for again as a plain cursor.
      spare_.reset();
      chunk_.reset();
      VELQUIN_ASSIGN_OR_RETURN(chunk_, RunQuery(conn_, ChunkSql(last_key_, offset_, limit_)));
      return velquin::Status::Ok();
    }
    if (rows < limit_) return velquin::Status::Ok();  // the last chunk
    std::vector<KeyValue> after;
    for (std::size_t i = 0; i < key_index_.size(); ++i) {
      after.push_back({last[i], columns_[key_index_[i]].binary});
    }
    prefetch_limit_ = NextLimit();
    std::string sql = ChunkSql(after, offset_ + limit_, prefetch_limit_);
    prefetch_ = std::make_unique<Prefetch>();
    Prefetch* p = prefetch_.get();
    std::shared_ptr<OdbcConnection> other = spare_;
    p->thread = std::thread([p, other, sql = std::move(sql)] {
      p->result = RunQuery(other, sql, /*scrollable=*/true);
    });
    return velquin::Status::Ok();
  }

  void DropPrefetch() {
    if (!prefetch_) return;
    prefetch_->thread.join();
    prefetch_.reset();
  }

  std::shared_ptr<OdbcConnection> conn_;
  std::shared_ptr<OdbcConnection> spare_;  // null: no prefetching
  TableReadOptions options_;
  std::vector<std::string> key_;
  std::vector<std::size_t> key_index_;
  std::vector<KeyValue> last_key_;
  std::vector<ColumnInfo> columns_;  // as the table has them (dates are read as text)
  std::string select_ = "*";         // the chunks' select list
  std::string order_prefix_;         // "`table`." when the select list renames
  std::unique_ptr<OdbcCursor> chunk_;
  std::unique_ptr<Prefetch> prefetch_;
  std::size_t rows_in_chunk_ = 0;
  std::size_t offset_ = 0;
  std::size_t limit_ = 0;           // rows asked for in the current chunk
  std::size_t prefetch_limit_ = 0;  // and in the one read ahead
  // Sized pages: the rows handed out so far and their bytes.
  static constexpr std::size_t kFieldOverhead = 8;
  std::size_t first_rows_ = 0;
  std::size_t rows_measured_ = 0;
  std::size_t bytes_measured_ = 0;
};

}  // namespace

// ---- OdbcSession ------------------------------------------------------------------------

OdbcSession::OdbcSession(std::shared_ptr<OdbcConnection> connection)
    : connection_(std::move(connection)) {}

OdbcSession::~OdbcSession() = default;

namespace {

Result<std::shared_ptr<OdbcConnection>> OpenConnection(const std::string& connection_string,
                                                       int login_timeout_seconds) {
  SQLHENV env = OdbcEnvironment();
  if (env == SQL_NULL_HENV) return Status::IOError("The ODBC environment could not be created");
  auto conn = std::make_shared<OdbcConnection>();
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &conn->dbc))) {
    conn->dbc = SQL_NULL_HDBC;
    return OdbcFailure(SQL_HANDLE_ENV, env);
  }
  if (login_timeout_seconds > 0) {
    // ODBC passes an integer attribute in its pointer argument.
    SQLSetConnectAttr(conn->dbc, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(  // NOLINT(performance-no-int-to-ptr)
                          static_cast<SQLULEN>(login_timeout_seconds)),
                      0);
  }
  SQLCHAR completed[1024];
  SQLSMALLINT completed_length = 0;
  SQLRETURN rc = SQLDriverConnect(
      conn->dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(connection_string.c_str())),
      SQL_NTS, completed, sizeof(completed), &completed_length, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) return OdbcFailure(SQL_HANDLE_DBC, conn->dbc);
  conn->connected = true;
  conn->connection_string = connection_string;
  VELQUIN_ASSIGN_OR_RETURN(std::string sql_mode, QueryScalar(conn, "SELECT @@SESSION.sql_mode"));
  conn->no_backslash_escapes =
      AsciiUpper(sql_mode).find("NO_BACKSLASH_ESCAPES") != std::string::npos;
  return conn;
}

}  // namespace

Result<std::unique_ptr<OdbcSession>> OdbcSession::Connect(const std::string& connection_string,
                                                          int login_timeout_seconds) {
  VELQUIN_ASSIGN_OR_RETURN(std::shared_ptr<OdbcConnection> conn,
                           OpenConnection(connection_string, login_timeout_seconds));
  return std::unique_ptr<OdbcSession>(new OdbcSession(std::move(conn)));
}

Result<ExecuteOutcome> OdbcSession::Execute(std::string_view sql) {
  std::lock_guard<std::mutex> lock(connection_->mu);
  VELQUIN_ASSIGN_OR_RETURN(StatementHandle stmt, ExecuteLocked(*connection_, sql));
  SQLSMALLINT columns = 0;
  if (!SQL_SUCCEEDED(SQLNumResultCols(stmt.get(), &columns))) {
    return OdbcFailure(SQL_HANDLE_STMT, stmt.get());
  }
  ExecuteOutcome outcome = columns > 0 ? ExecuteOutcome::kRowset : ExecuteOutcome::kNoRowset;
  // Drain further results (a procedure call may return several).
  for (int i = 0; i < 1000; ++i) {
    SQLRETURN rc = SQLMoreResults(stmt.get());
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) return OdbcFailure(SQL_HANDLE_STMT, stmt.get());
  }
  return outcome;
}

Result<std::unique_ptr<QueryCursor>> OdbcSession::OpenQuery(std::string_view sql) {
  VELQUIN_ASSIGN_OR_RETURN(std::unique_ptr<OdbcCursor> cursor, RunQuery(connection_, sql));
  return std::unique_ptr<QueryCursor>(std::move(cursor));
}

Result<std::unique_ptr<QueryCursor>> OdbcSession::OpenSchemaRowset(
    SchemaRowset kind, const SchemaRestrictions& restrictions) {
  const bool nbe = connection_->no_backslash_escapes;
  SchemaRestrictions r = restrictions;
  if (kind != SchemaRowset::kCatalogs) {
    // Not given: the current database, when one is selected.
    if (r.empty()) r.resize(1);
    if (!r[0].has_value()) {
      VELQUIN_ASSIGN_OR_RETURN(std::string current, CurrentCatalog());
      if (!current.empty()) r[0] = current;
    }
  }
  std::string sql;
  switch (kind) {
    case SchemaRowset::kTables:
      sql = TablesQuery(r, nbe);
      break;
    case SchemaRowset::kColumns:
      sql = ColumnsQuery(r, nbe);
      break;
    case SchemaRowset::kIndexes:
      sql = IndexesQuery(r, nbe);
      break;
    case SchemaRowset::kCatalogs:
      sql = CatalogsQuery(r, nbe);
      break;
  }
  return OpenQuery(sql);
}

Result<std::string> OdbcSession::DbmsName() { return ReadInfoText(*connection_, SQL_DBMS_NAME); }

Result<std::string> OdbcSession::DbmsVersion() { return ReadInfoText(*connection_, SQL_DBMS_VER); }

Result<std::string> OdbcSession::DataSourceName() {
  return ReadInfoText(*connection_, SQL_DATA_SOURCE_NAME);
}

Result<std::string> OdbcSession::CurrentCatalog() {
  return QueryScalar(connection_, "SELECT DATABASE()");
}

std::string OdbcSession::QuoteString(std::string_view text) const {
  return QuoteMySqlString(text, connection_->no_backslash_escapes);
}

Result<std::vector<std::string>> OdbcSession::FindKeysetColumns(std::string_view database,
                                                                std::string_view table) {
  const bool nbe = connection_->no_backslash_escapes;
  std::string schema =
      database.empty() ? std::string("DATABASE()") : QuoteMySqlString(database, nbe);
  const std::string name = QuoteMySqlString(table, nbe);
  // Every unique index with its columns, the primary key first; for each
  // column whether it can hold null, its type and whether it is a prefix.
  // The column facts come from subqueries naming schema and table as
  // constants, so the server reads this one table's catalogue (a join of the
  // two views took about 20 ms a table in a database of 300).
  auto column_fact = [&](const char* fact) {
    return std::string("(SELECT c.") + fact +
           " FROM INFORMATION_SCHEMA.COLUMNS c WHERE c.TABLE_SCHEMA = " + schema +
           " AND c.TABLE_NAME = " + name + " AND c.COLUMN_NAME = s.COLUMN_NAME)";
  };
  std::string sql = "SELECT s.INDEX_NAME, s.COLUMN_NAME, " + column_fact("IS_NULLABLE") + ", " +
                    column_fact("DATA_TYPE") +
                    ", s.SUB_PART "
                    "FROM INFORMATION_SCHEMA.STATISTICS s "
                    "WHERE s.TABLE_SCHEMA = " +
                    schema + " AND s.TABLE_NAME = " + name +
                    " AND s.NON_UNIQUE = 0"
                    " ORDER BY s.INDEX_NAME <> 'PRIMARY', s.INDEX_NAME, s.SEQ_IN_INDEX";
  VELQUIN_ASSIGN_OR_RETURN(std::unique_ptr<OdbcCursor> cursor, RunQuery(connection_, sql));
  std::string current_index;
  std::vector<std::string> columns;
  bool usable = true;
  for (;;) {
    VELQUIN_ASSIGN_OR_RETURN(bool has_row, cursor->MoveNext());
    const std::string index = has_row ? cursor->Value(0) : std::string();
    if (!has_row || index != current_index) {
      if (!current_index.empty() && usable && !columns.empty()) return columns;
      if (!has_row) break;
      current_index = index;
      columns.clear();
      usable = true;
    }
    columns.push_back(cursor->Value(1));
    if (cursor->Value(2) != "NO" || !KeysetComparable(cursor->Value(3)) || !cursor->IsNull(4)) {
      usable = false;
    }
  }
  return std::vector<std::string>();
}

Result<std::unique_ptr<QueryCursor>> OdbcSession::OpenTableReader(const TableReadOptions& options,
                                                                  TableReadMode* mode,
                                                                  std::size_t* chunk_rows) {
  VELQUIN_ASSIGN_OR_RETURN(std::vector<std::string> key,
                           FindKeysetColumns(options.database, options.table));
  if (mode) *mode = key.empty() ? TableReadMode::kOffset : TableReadMode::kKeyset;
  // Offset pages start at the size the server's estimate of the row length
  // allows (an estimate: 0 or stale after bulk changes), then follow the
  // rows actually read.
  std::size_t first_rows = options.chunk_rows;
  if (key.empty() && options.chunk_bytes > 0) {
    const bool nbe = connection_->no_backslash_escapes;
    const std::string schema = options.database.empty() ? std::string("DATABASE()")
                                                        : QuoteMySqlString(options.database, nbe);
    auto average = QueryScalar(
        connection_, "SELECT AVG_ROW_LENGTH FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_SCHEMA = " +
                         schema + " AND TABLE_NAME = " + QuoteMySqlString(options.table, nbe));
    const unsigned long long bytes_per_row =
        average.ok() ? std::strtoull(average->c_str(), nullptr, 10) : 0;
    if (bytes_per_row > 0) {
      first_rows =
          std::max(options.chunk_rows,
                   std::min<std::size_t>(options.chunk_bytes / bytes_per_row, kMaxChunkRows));
    }
  }
  if (chunk_rows) *chunk_rows = std::max<std::size_t>(first_rows, 1);
  // A second connection lets the next chunk be read ahead. It reaches the
  // table by its qualified name, so a read in "the current database" (which
  // only this connection knows) goes without.
  std::shared_ptr<OdbcConnection> spare;
  if (!options.database.empty() && !connection_->connection_string.empty()) {
    auto opened = OpenConnection(connection_->connection_string, 0);
    if (opened.ok() && (*opened)->no_backslash_escapes == connection_->no_backslash_escapes) {
      spare = std::move(*opened);
    }
  }
  auto cursor = std::make_unique<ChunkedTableCursor>(connection_, std::move(spare), options,
                                                     std::move(key), first_rows);
  VELQUIN_RETURN_IF_ERROR(cursor->Start());
  return std::unique_ptr<QueryCursor>(std::move(cursor));
}

}  // namespace velquin
