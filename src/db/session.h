// Session: the one interface every database call goes through.
//
// A Session is an open connection to one database server or file. Both sides
// implement it: the MySQL source over unixODBC (OdbcSession, odbc_session.h)
// and the Access target over our own Jet engine. The pipeline, the catalogue
// listing and the backup readers see only this interface.
//
// Values cross as text. A QueryCursor delivers one row at a time; every value
// is either present (status kValuePresent) with its whole text, however long,
// or null (status kValueNull). Binary values (bit, binary, varbinary, blobs,
// geometry) arrive as their raw bytes in the same std::string, and the
// column's ColumnInfo::binary says so. Text is UTF-8.
//
// Errors are values: a failing call returns a non-OK Status whose message is
// the provider's own description of the failure (the first diagnostic
// record's text, or "Unknown Error!" when the provider left none), ready to be
// written as an output line.
//
// A session may be shared between the worker thread and the user-interface
// thread: implementations serialise the calls on one session themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace velquin {

// Receives output lines ("E::...", "T::...", plain lines) for the output pane.
// The caller decides where they go (WriteOutput, a test's vector, nowhere).
using LineSink = std::function<void(const std::string& line)>;

// Status of one value in the current row. The numbers are the ones the
// readers of the original row buffer test: 0 present, 3 null.
enum class ValueStatus : std::uint32_t {
  kValuePresent = 0,
  kValueNull = 3,
};

// Column information of a result set, in the server's column order.
struct ColumnInfo {
  std::string name;               // column label as the server names it
  int ordinal = 0;                // 1-based position in the result
  int sql_type = 0;               // ODBC SQL type code (SQL_INTEGER, SQL_VARCHAR, ...)
  std::string type_name;          // the server's type name ("int", "varchar", "blob")
  std::uint64_t column_size = 0;  // declared size (characters, digits or bytes)
  int decimal_digits = 0;         // scale of exact numerics, fraction digits of times
  bool nullable = true;           // false only when the server says NOT NULL
  bool binary = false;            // true: values are raw bytes, not text
};

// A forward-only walk over the rows of one query. Columns are addressed by
// their 0-based index (column j of the result is index j-1).
class QueryCursor {
 public:
  virtual ~QueryCursor() = default;

  virtual const std::vector<ColumnInfo>& Columns() const = 0;

  // Reads the next row. Returns true when a row was read, false at the end
  // of the rows, and an error when the fetch or a value read failed (for
  // example when the connection was lost): a failed walk never looks like
  // a complete one.
  virtual Result<bool> MoveNext() = 0;

  // Values of the current row (valid after MoveNext returned true).
  // A null value has status kValueNull and an empty text.
  virtual ValueStatus Status(std::size_t column) const = 0;
  virtual const std::string& Value(std::size_t column) const = 0;
  bool IsNull(std::size_t column) const { return Status(column) == ValueStatus::kValueNull; }

  // Releases the result early; later MoveNext calls return false.
  virtual void Close() = 0;
};

// Outcome of a statement that ran.
enum class ExecuteOutcome {
  kNoRowset,  // the statement returns no rows (DDL, INSERT, use ...)
  kRowset,    // the statement returned a result set (released unread)
};

// The catalogue (schema) rowsets. Each has a fixed column list, named as the
// standard OLE DB schema rowsets name them; see SchemaRowsetColumns().
enum class SchemaRowset {
  kTables,    // restrictions: catalog, schema, table name, table type
  kColumns,   // restrictions: catalog, schema, table name, column name
  kIndexes,   // restrictions: catalog, schema, index name, type, table name
  kCatalogs,  // restrictions: catalog name
};

// A restriction that is not given stays std::nullopt (no filter).
using SchemaRestrictions = std::vector<std::optional<std::string>>;

// The column names of a schema rowset, in order:
//   kTables:   TABLE_CATALOG TABLE_SCHEMA TABLE_NAME TABLE_TYPE TABLE_GUID DESCRIPTION
//   kColumns:  TABLE_CATALOG TABLE_SCHEMA TABLE_NAME COLUMN_NAME COLUMN_GUID COLUMN_PROPID
//              ORDINAL_POSITION COLUMN_HASDEFAULT COLUMN_DEFAULT COLUMN_FLAGS IS_NULLABLE
//              DATA_TYPE TYPE_GUID CHARACTER_MAXIMUM_LENGTH CHARACTER_OCTET_LENGTH
//              NUMERIC_PRECISION NUMERIC_SCALE DATETIME_PRECISION CHARACTER_SET_CATALOG
//              CHARACTER_SET_SCHEMA CHARACTER_SET_NAME COLLATION_CATALOG COLLATION_SCHEMA
//              COLLATION_NAME DOMAIN_CATALOG DOMAIN_SCHEMA DOMAIN_NAME DESCRIPTION
//   kIndexes:  TABLE_CATALOG TABLE_SCHEMA TABLE_NAME INDEX_CATALOG INDEX_SCHEMA INDEX_NAME
//              PRIMARY_KEY UNIQUE CLUSTERED TYPE FILL_FACTOR INITIAL_SIZE NULLS
//              SORT_BOOKMARKS AUTO_UPDATE NULL_COLLATION ORDINAL_POSITION COLUMN_NAME
//              COLUMN_GUID COLUMN_PROPID COLLATION CARDINALITY PAGES FILTER_CONDITION
//              INTEGRATED
//   kCatalogs: CATALOG_NAME DESCRIPTION
// Booleans read "True" or "False"; DATA_TYPE is the OLE DB type code in
// decimal (3 integer, 129 text, 131 numeric, 135 timestamp, 128 bytes ...).
// TABLE_TYPE is "TABLE", "VIEW" or "SYSTEM TABLE". Values that a backend
// does not know are null.
const std::vector<std::string>& SchemaRowsetColumns(SchemaRowset kind);

// Number of restrictions a schema rowset takes (4, 4, 5, 1).
std::size_t SchemaRestrictionCount(SchemaRowset kind);

// How OpenTableReader found its way through a table.
enum class TableReadMode {
  kKeyset,  // ordered by a unique key, each chunk starting after the last key read
  kOffset,  // no usable key: LIMIT/OFFSET over the table's natural order
};

struct TableReadOptions {
  std::string database;  // empty: the session's current database
  std::string table;
  std::string where;  // a MySQL condition (without WHERE), empty for none
  std::size_t chunk_rows = 10000;
  // When set, pages are made as large as this many bytes of rows allow, by
  // the rows read so far: at least chunk_rows, at most kMaxChunkRows. Each
  // page is a query of its own (about 300 of 10,000 rows for a table of 3
  // million), and without a usable key each LIMIT/OFFSET page costs the
  // server a scan of every row before it, so a whole read grows with the
  // square of the rows; such pages start at the size the server's average
  // row length gives.
  std::size_t chunk_bytes = 0;
};

inline constexpr std::size_t kMaxChunkRows = 250000;

class JetSession;

class Session {
 public:
  virtual ~Session() = default;

  // The Access file's own engine behind this session, for the work that
  // goes past SQL text (the row copy's bulk path, a look at the file's
  // objects, a rename in place); null for a session without one (the MySQL
  // source). Callers ask this instead of casting.
  virtual JetSession* AsJetSession() { return nullptr; }

  // Runs one statement. A statement that returns rows counts as success
  // (kRowset) and its rows are discarded.
  virtual Result<ExecuteOutcome> Execute(std::string_view sql) = 0;

  // Runs a query and returns a cursor over its rows. A statement that
  // succeeds without a result set gives a cursor with no columns and no rows
  // (see HasRowset).
  virtual Result<std::unique_ptr<QueryCursor>> OpenQuery(std::string_view sql) = 0;

  // Opens a catalogue rowset; `restrictions` may be shorter than
  // SchemaRestrictionCount(kind), missing ones count as not given. A catalog
  // restriction that is not given means the current database (every
  // database when none is selected); rows come in catalog, table order.
  virtual Result<std::unique_ptr<QueryCursor>> OpenSchemaRowset(
      SchemaRowset kind, const SchemaRestrictions& restrictions) = 0;

  // The DBMS name ("MariaDB", "MySQL", "MS Jet") and version text.
  virtual Result<std::string> DbmsName() = 0;
  virtual Result<std::string> DbmsVersion() = 0;

  // The data source name (a DSN, a server, a file path; may be empty).
  virtual Result<std::string> DataSourceName() = 0;
  // The current database (catalog); empty when none is selected.
  virtual Result<std::string> CurrentCatalog() = 0;

  // Quotes a text as a string literal of this backend's SQL dialect.
  virtual std::string QuoteString(std::string_view text) const = 0;

  // A cursor over every row of `options.table` (all columns), filtered by
  // `options.where`. A backend that can page through a large table does so
  // (the MySQL source, see OdbcSession); the others run one query, and leave
  // `mode` and `chunk_rows` as they are.
  virtual Result<std::unique_ptr<QueryCursor>> OpenTableReader(const TableReadOptions& options,
                                                               TableReadMode* mode = nullptr,
                                                               std::size_t* chunk_rows = nullptr);
};

// True when the cursor describes a result set (it has columns).
inline bool HasRowset(const QueryCursor& cursor) { return !cursor.Columns().empty(); }

}  // namespace velquin
