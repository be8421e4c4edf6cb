// JetSession: the Access target over our own Jet 4 engine (src/jet).
//
// Statements go through the Jet SQL executor (jet/sql/executor.h); query
// values arrive as text, whole, with a null status. Failures carry the
// engine's own description ("Table 'orders' already exists."), which is what
// the output pane shows as the provider's description. The pipeline's row
// copy uses InsertRow / BulkAppend, which skip the SQL text altogether.
// Calls on one session are serialised by a lock.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "db/session.h"
#include "jet/database.h"
#include "jet/sql/executor.h"

namespace velquin {

// Data-source information of the target as the Jet provider reports it.
inline constexpr std::string_view kJetDbmsName = "MS Jet";
inline constexpr std::string_view kJetDbmsVersion = "04.00.0000";

// OLE DB type codes and column flags of the columns catalogue rowset, as
// the Jet provider reports them (AccessTypeName reads them back).
int JetOleDbType(jet::ColumnType type);
std::uint32_t JetColumnFlags(const jet::ColumnInfo& column);

class JetSession : public Session {
 public:
  // Opens an existing database file; with `create`, a missing file is
  // created first. The path keeps its case.
  static Result<std::unique_ptr<JetSession>> Open(const std::string& path, bool create = false);

  JetSession* AsJetSession() override { return this; }

  Result<ExecuteOutcome> Execute(std::string_view sql) override;
  Result<std::unique_ptr<QueryCursor>> OpenQuery(std::string_view sql) override;
  Result<std::unique_ptr<QueryCursor>> OpenSchemaRowset(
      SchemaRowset kind, const SchemaRestrictions& restrictions) override;
  Result<std::string> DbmsName() override { return std::string(kJetDbmsName); }
  Result<std::string> DbmsVersion() override { return std::string(kJetDbmsVersion); }
  Result<std::string> DataSourceName() override { return path_; }
  // The file's path without ".mdb": the name the trees show.
  Result<std::string> CurrentCatalog() override;
  std::string QuoteString(std::string_view text) const override;

  // Fast path for row copies: one row in the table's column order, with the
  // same checks as INSERT INTO (NOT NULL, unique keys) and no parsing.
  Status InsertRow(std::string_view table, const std::vector<jet::Value>& row);
  // Bulk path: rows appended in pages kept in memory (see jet::BulkWriter).
  // Do not run other statements on the session while the writer is open.
  Result<std::unique_ptr<jet::BulkWriter>> BulkAppend(std::string_view table);

  // The table's columns (for converting copied values to jet::Value).
  Result<jet::TableInfo> DescribeTable(std::string_view table);

  jet::Database& database() { return *db_; }
  // Holds the session's lock while the caller uses database() directly
  // (a backup's walk over a table), so no other call interleaves.
  std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(mu_); }
  const std::string& path() const { return path_; }

 private:
  JetSession(std::string path, std::unique_ptr<jet::Database> db)
      : path_(std::move(path)), db_(std::move(db)), executor_(db_.get()) {}

  std::mutex mu_;
  std::string path_;
  std::unique_ptr<jet::Database> db_;
  jet::sql::Executor executor_;
};

}  // namespace velquin
