// Database: the public face of the Jet 4 engine.
//
//   auto db = Database::Create("out.mdb");           // a new, empty database
//   TableSpec t{.name = "People", .columns = {...}};
//   db->CreateTable(t);
//   db->Insert("People", {Value::Long(1), Value::Text("Zoë")});
//   auto w = db->BulkAppend("People");  w->Append(row) ...  w->Finish();
//   auto c = db->Scan("People");  while (*c->Next(&row)) ...
//   db->Delete("People", [](const auto& row) -> Result<bool> { return row[0].is_null(); });
//
// Every call returns Status/Result; nothing throws. A database object is used
// by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "jet/format/file.h"
#include "jet/format/header.h"
#include "jet/format/page_file.h"
#include "jet/table/table.h"
#include "jet/table/table_def.h"
#include "jet/table/table_spec.h"
#include "jet/table/value.h"

namespace velquin::jet {

struct ColumnInfo {
  std::string name{};
  ColumnType type = ColumnType::kLong;
  std::uint16_t number = 0;     // column number (position in rows)
  std::uint16_t size = 0;       // TEXT: characters; BINARY: bytes; fixed types: bytes
  std::uint8_t precision = 0;   // NUMERIC
  std::uint8_t scale = 0;       // NUMERIC
  bool auto_increment = false;  // COUNTER
  bool compressed_unicode = false;
  bool not_null = false;  // the column property "Required" (NOT NULL)
  // The column property "DefaultValue": Access's expression text ("0",
  // "\"abc\"", "#2001-01-01#", "Now()"); empty when the column has none.
  // Insert and BulkAppend store whole rows as given; the SQL layer
  // (sql/default_value.h) fills the columns an INSERT leaves out.
  std::string default_value{};
};

struct IndexInfo {
  std::string name{};
  std::vector<std::pair<std::string, bool>> columns{};  // column name, ascending
  bool primary_key = false;
  bool unique = false;
  bool ignore_nulls = false;
  bool required = false;
  bool foreign_key = false;
};

struct TableInfo {
  std::string name{};
  PageNumber tdef_page = 0;  // also the table's object Id
  bool system = false;
  std::uint32_t row_count = 0;  // as the table definition records it
  std::uint32_t last_autonumber = 0;
  std::vector<ColumnInfo> columns{};  // in column-number order
  std::vector<IndexInfo> indexes{};
};

struct CreateOptions {
  // Creation date written into page 0 and the catalogue; 0 = now (local time).
  double creation_date = 0;
};

struct OpenOptions {
  bool read_only = false;
};

// Reads the rows of one table.
class RowCursor {
 public:
  // One value per column in column-number order; false at the end.
  Result<bool> Next(std::vector<Value>* row);
  // Decodes only the columns flagged in `wanted` (by column number) into
  // out[0, columns); the other places keep what they held.
  Result<bool> NextInto(Value* out, const std::vector<bool>& wanted) {
    return cursor_->NextInto(out, wanted);
  }
  const TableInfo& table() const { return info_; }

 private:
  friend class Database;
  RowCursor(TableInfo info, std::unique_ptr<TableCursor> cursor)
      : info_(std::move(info)), cursor_(std::move(cursor)) {}
  TableInfo info_;
  std::unique_ptr<TableCursor> cursor_;
};

class Database;
struct ColumnProperties;

// Chooses rows: called with one value per column (column-number order);
// true selects the row. An error stops the statement before anything changes.
using RowFilter = std::function<Result<bool>(const std::vector<Value>& row)>;

// Appends many rows quickly: rows go into pages kept in memory and written
// when full; the usage maps and the table definition are brought up to date
// every `commit_every` rows and by Finish(). Rows appended before the last
// commit survive a crash. A table with indexes that is empty when the writer
// opens is the exception: its indexes are built in one pass at Finish(), and
// its rows are committed only then (all or none after a crash). Do not use
// the Database for other writes while a BulkWriter is open.
class BulkWriter {
 public:
  ~BulkWriter();
  // One value per column in column-number order.
  Status Append(const std::vector<Value>& row);
  // Writes everything; the writer is finished afterwards.
  Status Finish();
  // Rows appended so far; after a failed write, the rows in the file (those
  // of the last commit).
  std::uint64_t rows_written() const { return rows_; }

 private:
  friend class Database;
  BulkWriter(Database* db, std::string table, std::unique_ptr<TableWriter> writer,
             std::vector<bool> not_null, std::uint64_t commit_every)
      : db_(db),
        table_(std::move(table)),
        writer_(std::move(writer)),
        not_null_(std::move(not_null)),
        commit_every_(commit_every) {}
  Database* db_;
  std::string table_{};
  std::unique_ptr<TableWriter> writer_;
  std::vector<bool> not_null_{};
  std::uint64_t commit_every_;
  std::uint64_t rows_ = 0;
  std::uint64_t committed_rows_ = 0;
  std::uint64_t since_commit_ = 0;
  bool finished_ = false;
  Status failed_ = Status::Ok();  // a write failed: the load since the last commit is undone
  Status Fail(Status st);
};

class Database {
 public:
  ~Database();

  // Creates a new database file; fails when `path` exists.
  static Result<std::unique_ptr<Database>> Create(const std::string& path,
                                                  const CreateOptions& options = {});
  static Result<std::unique_ptr<Database>> Open(const std::string& path,
                                                const OpenOptions& options = {});
  // The same over any File (in-memory, fault-injecting); `journal` is the
  // rollback journal's file (in memory when null).
  static Result<std::unique_ptr<Database>> CreateOn(std::unique_ptr<File> file,
                                                    const CreateOptions& options = {},
                                                    std::unique_ptr<File> journal = nullptr);
  static Result<std::unique_ptr<Database>> OpenOn(std::unique_ptr<File> file,
                                                  const OpenOptions& options = {},
                                                  std::unique_ptr<File> journal = nullptr);
  // The rollback journal beside a database file ([SAFE-5]).
  static std::string JournalPath(const std::string& path) { return path + "-journal"; }

  const HeaderInfo& header() const { return pages_->header(); }
  bool read_only() const { return !pages_->writable(); }

  // Names of the tables, in catalogue order; system tables only when asked.
  Result<std::vector<std::string>> ListTables(bool include_system = false);
  // Case-insensitive lookup. NotFound when there is no such table.
  Result<TableInfo> GetTable(std::string_view name);

  // Creates a table. Columns are numbered in list order; index columns are
  // given by column number (see IndexSpec).
  Status CreateTable(const TableSpec& spec);
  // Removes a table, its rows and its catalogue rows; its pages become free.
  Status DropTable(std::string_view name);
  // Drops these tables together with the relationships among them (DROP
  // TABLE refuses a table in a relationship, as Access does). Every
  // relationship of one of them must be with another of them: otherwise
  // InvalidArgument naming both tables, and nothing changes.
  Status DropTablesWithRelationships(const std::vector<std::string>& names);
  Status RenameTable(std::string_view from, std::string_view to);

  // Inserts one row (one value per column, column-number order) and commits.
  // The table's writer stays open between inserts into the same table.
  Status Insert(std::string_view table, const std::vector<Value>& row);
  Result<std::unique_ptr<BulkWriter>> BulkAppend(std::string_view table,
                                                 std::uint64_t commit_every = 20000);
  Result<std::unique_ptr<RowCursor>> Scan(std::string_view table);
  // The rows in the order of the table's index `index` (a name TableInfo
  // lists), from its last entry back to its first when `backward`.
  Result<std::unique_ptr<RowCursor>> ScanInIndexOrder(std::string_view table,
                                                      std::string_view index, bool backward);

  // --- Deleting rows (database_rows.cc) ---
  // Deletes the rows of a user table that `match` selects and returns how
  // many (the cascaded rows of other tables not counted). Relationships are
  // enforced as Jet enforces them: a referenced row with referencing rows is
  // refused (Constraint, nothing deleted) unless the relationship cascades
  // deletes (those rows go too, recursively) or sets NULL (their foreign-key
  // columns become NULL in place, every other value kept). Every row is
  // checked before anything changes. Each deleted row leaves its indexes,
  // its long values are freed, it is marked deleted on its page and its
  // space becomes reusable (pages left empty return to the file).
  Result<std::uint64_t> Delete(std::string_view table, const RowFilter& match);

  // --- Indexes on tables that may hold rows (database_objects.cc) ---
  // Adds an index to the table as it stands, its tree built from the rows in
  // one pass; a repeated key in a unique index refuses it before anything is
  // written. Column numbers as in IndexSpec.
  Status CreateIndex(std::string_view table, const IndexSpec& index);
  // Removes an index; its physical index goes too when no other index
  // shares it. An index a relationship stands on is refused, as in Access.
  Status DropIndex(std::string_view table, std::string_view index);
  // The table as a specification (columns, NOT NULL as known, indexes).
  Result<TableSpec> TableSpecOf(std::string_view table);

  // --- Relationships (foreign keys), enforced as Jet enforces them ---
  struct RelationshipSpec {
    std::string name;                             // empty: referenced + referencing table
    std::string table;                            // the referencing ("many") table
    std::vector<std::string> columns;             // its columns
    std::string referenced_table;                 // the referenced ("one") table
    std::vector<std::string> referenced_columns;  // empty: its primary key
    bool cascade_update = false;
    bool cascade_delete = false;
    bool cascade_set_null = false;
  };
  // Records a relationship as Jet does (see [CAT-12] in docs/jet4-format.md):
  // a logical index of type 2 in both tables' definitions (the referencing
  // side backed by an index on its columns, the referenced side sharing its
  // unique index on the referenced columns), one MSysRelationships row per
  // column pair and an MSysObjects row of type 8. Rows already in the table
  // must have their related row; from then on inserts are checked.
  Status CreateRelationship(const RelationshipSpec& spec);
  // Removes the relationship `name` whose referencing side is `table`: its
  // MSysObjects row first, then its MSysRelationships rows and the logical
  // indexes it added on both sides (and a physical index only it used).
  // NotFound when `table` has no such relationship.
  Status DropRelationship(std::string_view table, std::string_view name);

  // --- Saved queries (views): MSysObjects type 5 + MSysQueries rows ---
  // Names of the saved queries, in catalogue order.
  std::vector<std::string> ListQueries() const;
  // True when `name` is a saved query (case-insensitive).
  bool IsQuery(std::string_view name) const;
  // True when a table or a query has this name (they share one namespace).
  bool NameInUse(std::string_view name) const;
  // Stores a query: `rows` are whole MSysQueries rows (one value per column,
  // column-number order); their ObjectId (column 0) is set here. `flags` is
  // the MSysObjects Flags of the query's kind (0 select, 128 union).
  Status CreateQuery(std::string_view name, std::vector<std::vector<Value>> rows,
                     std::int32_t flags = 0);
  // Removes the query's MSysQueries rows and then its MSysObjects row.
  Status DropQuery(std::string_view name);
  // The MSysQueries rows of a query, in stored order.
  Result<std::vector<std::vector<Value>>> QueryRows(std::string_view name);

  // Writes pending engine state (the global usage map) and syncs the file.
  // Every changing call is one statement ([SAFE-5]): it happens whole, or,
  // when it fails (a write error, a full disk, a refused row), not at all.
  Status Flush();

 private:
  friend class BulkWriter;
  friend struct DatabaseInternals;  // database_internal.h
  struct Object {
    std::int32_t id = 0;
    std::int32_t parent_id = 0;
    std::string name;
    std::int16_t type = 0;
    std::uint32_t flags = 0;
    RowPointer where;
  };
  explicit Database(std::unique_ptr<PageFile> pages) : pages_(std::move(pages)) {}
  // Marks a changing call: when the outermost one returns with its writes
  // not committed (it failed), they are rolled back.
  class Statement {
   public:
    explicit Statement(Database* db) : db_(db) { ++db_->statement_depth_; }
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

   private:
    Database* db_;
  };
  // Commits the outermost statement (`durable`: synced); inside a nested
  // one only writes the global map.
  Status CommitStatement(bool durable);
  // Undoes the statement under way and rereads the catalogue.
  Status RollbackStatement();
  Status Bootstrap(double now);
  Status DropTableAs(std::string_view name, bool related_too);
  Status LoadCatalog();
  const Object* FindTable(std::string_view name) const;
  const Object* FindInTables(std::string_view name) const;
  Result<TableInfo> Describe(const Object& obj);
  Status AddObjectRow(std::int32_t id, std::int32_t parent, const std::string& name,
                      std::int16_t type, std::uint32_t flags,
                      const std::vector<std::uint8_t>& owner,
                      const std::vector<std::uint8_t>& properties);
  Status ReadColumnProperties(const Object& obj, std::vector<ColumnProperties>* out);
  Status AddAceRows(std::int32_t object_id);
  Result<std::int32_t> NextSyntheticId();
  Status RemoveLogicalIndex(PageNumber tdef, std::string_view name);
  Status DeleteRows(PageNumber tdef_page, const std::vector<RowPointer>& rows);
  Status CheckNotNull(const TableInfo& info, const std::vector<Value>& row);
  Status AddRealIndex(TableDef* def, const std::vector<IndexColumn>& columns, std::uint32_t* index);
  Status AppendRealIndex(TableDef* def, const RealIndex& shape, std::uint32_t* index);
  Status CheckReferences(const TableDef& def, const std::vector<Value>& row);
  std::string ObjectName(std::int32_t id) const;
  const Object* FindObject(std::string_view name, std::int16_t type) const;
  double Now() const;

  std::unique_ptr<PageFile> pages_;
  // The open writer of single-row inserts. Every method that changes
  // anything else in the file calls EndInsertWriter() first, so the writer
  // never holds a stale table definition or index page.
  struct InsertWriter {
    PageNumber tdef = 0;
    TableInfo info;
    std::unique_ptr<TableWriter> writer;
  };
  std::unique_ptr<InsertWriter> insert_writer_;
  void EndInsertWriter();
  std::vector<Object> objects_{};
  double creation_date_ = 0;
  int statement_depth_ = 0;
};

}  // namespace velquin::jet
