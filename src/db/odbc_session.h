// OdbcSession: the MySQL source over unixODBC (MariaDB Connector/ODBC or
// MySQL Connector/ODBC).
//
// Values are fetched as UTF-8 text (the connection's character set is set to
// utf8mb4) and binary columns (bit, binary, varbinary, blobs, geometry) as raw
// bytes; long values arrive whole, read in pieces. The driver keeps a whole
// result set in client memory, so big tables are read with OpenTableReader,
// which runs the query in chunks of a bounded number of rows.
//
// Every call on one session, its cursors included, is serialised by the
// session's own lock, so the worker thread and the user-interface thread may
// share a session. A cursor keeps the connection alive after its session is
// destroyed.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "db/session.h"

namespace velquin {

struct OdbcConnection;  // the connection handle and its lock (odbc_session.cc)

class OdbcSession : public Session {
 public:
  // Connects with an ODBC connection string ("DSN=...;" or "DRIVER={...};SERVER=...").
  // The string should set CHARSET=utf8mb4 (BuildSourceProperties does). A failure
  // carries the driver's description of it.
  static Result<std::unique_ptr<OdbcSession>> Connect(const std::string& connection_string,
                                                      int login_timeout_seconds = 15);

  ~OdbcSession() override;

  Result<ExecuteOutcome> Execute(std::string_view sql) override;
  Result<std::unique_ptr<QueryCursor>> OpenQuery(std::string_view sql) override;
  Result<std::unique_ptr<QueryCursor>> OpenSchemaRowset(
      SchemaRowset kind, const SchemaRestrictions& restrictions) override;
  Result<std::string> DbmsName() override;
  Result<std::string> DbmsVersion() override;
  Result<std::string> DataSourceName() override;
  Result<std::string> CurrentCatalog() override;
  std::string QuoteString(std::string_view text) const override;

  // Reads `options.table` in chunks of at most `options.chunk_rows` rows, all
  // columns (SELECT *), filtered by `options.where`. The cursor walks all rows
  // as one; the driver holds one chunk at a time. With a primary key, or a
  // unique key over NOT NULL columns of types that compare as they sort, the
  // chunks are keyset pages (ORDER BY the key, WHERE key > last key);
  // otherwise LIMIT/OFFSET pages (see chunk_bytes). `mode` (optional)
  // tells which was chosen, `chunk_rows` (optional) the size of the first
  // pages.
  Result<std::unique_ptr<QueryCursor>> OpenTableReader(const TableReadOptions& options,
                                                       TableReadMode* mode = nullptr,
                                                       std::size_t* chunk_rows = nullptr) override;

  // The key OpenTableReader would page by (empty: none usable).
  Result<std::vector<std::string>> FindKeysetColumns(std::string_view database,
                                                     std::string_view table);

 private:
  explicit OdbcSession(std::shared_ptr<OdbcConnection> connection);

  std::shared_ptr<OdbcConnection> connection_;
};

}  // namespace velquin
