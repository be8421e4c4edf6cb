// Runs Jet SQL statements (parser.h) on a jet::Database.
//
//   Executor ex(db.get());
//   ex.Execute("CREATE TABLE t (id LONG NOT NULL PRIMARY KEY, name TEXT(50))");
//   ex.Execute("INSERT INTO t VALUES (1, 'Zoë')");
//   auto r = ex.Execute("SELECT name FROM t WHERE id = 1");   // r->rows
//   ex.Stream(select, &sink);   // the rows one by one to a RowSink
//
// Statements: CREATE TABLE (types, sizes, NOT NULL, DEFAULT, PRIMARY KEY, UNIQUE),
// ALTER TABLE ... ADD [CONSTRAINT n] PRIMARY KEY | UNIQUE, CREATE [UNIQUE]
// INDEX (built over the rows already there; a duplicate refuses it and
// leaves the table as it was), DROP INDEX, INSERT INTO ... VALUES with
// Jet's value conversions (columns left out of the list get their default,
// see default_value.h), CREATE VIEW (a saved query), DROP TABLE, DROP
// VIEW, DELETE [*] FROM ... [WHERE ...] (relationships enforced, see
// Database::Delete), SELECT ... INTO, and SELECT over tables and saved
// queries (INNER/LEFT/RIGHT JOIN chains, comma joins) with WHERE, GROUP BY,
// HAVING, aggregates (Count, Sum, Avg, Min, Max, First, Last, StDev, Var),
// DISTINCT, ORDER BY (expressions, output names, positions), TOP n [PERCENT],
// UNION [ALL] and subqueries (derived tables in FROM; IN, EXISTS, ANY/ALL
// and single values, correlated or not). Errors read as Access words them ("Table 'orders'
// already exists.").
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "jet/database.h"
#include "jet/sql/ast.h"

namespace velquin::jet::sql {

struct Binding;
class RowSource;
class SubqueryRunner;

// One column of a result.
struct ResultColumn {
  std::string name;
  ColumnType type = ColumnType::kText;  // the source column's type, or the value's
  std::uint16_t size = 0;               // TEXT: characters; BINARY: bytes; else 0
};

struct ExecResult {
  bool has_rows = false;  // a SELECT without INTO: `columns` and `rows` hold its result
  std::vector<ResultColumn> columns;
  std::vector<std::vector<Value>> rows;
  std::uint64_t rows_affected = 0;  // INSERT, SELECT ... INTO and DELETE
  bool streamed = false;            // the rows went to a RowSink (Executor::Stream)
};

// Receives the rows of a SELECT one by one (Executor::Stream).
class RowSink {
 public:
  virtual ~RowSink() = default;
  // Called once, before the first row. The type of a computed column is
  // its first value's, as far as the rows seen so far tell (kMemo before).
  virtual Status Columns(const std::vector<ResultColumn>& columns) = 0;
  // A failure stops the query and is returned by Stream.
  virtual Status Row(std::vector<Value> row) = 0;
};

class Executor {
 public:
  // `db` stays owned by the caller and must outlive the executor.
  explicit Executor(Database* db) : db_(db) {}

  // Parses and runs one statement (a trailing ";" is allowed).
  Result<ExecResult> Execute(std::string_view sql);
  // Runs a parsed statement.
  Result<ExecResult> Run(const Statement& statement);

  // Runs a SELECT (without INTO) and hands its rows to `sink` as they come:
  // a query without grouping, DISTINCT, ORDER BY, TOP n PERCENT or UNION
  // holds no rows (a table scan of millions of rows stays small); any
  // other is run whole first, then handed out.
  Status Stream(const Select& select, RowSink* sink);

  // Inserts one row given in the table's column order, with the same checks
  // and messages as INSERT INTO (used by the bulk paths; no parsing).
  Status InsertRow(std::string_view table, const std::vector<Value>& row);

  // Converts a literal expression (a number, 'text', #date#, 0x.., NULL,
  // TRUE/FALSE, optionally negated) to a value for a column of `type`, as
  // Jet converts values on insert.
  static Result<Value> ConvertLiteral(const Expr& expr, const ColumnInfo& column);

  // Forgets cached table layouts (call after changing the file another way).
  void InvalidateCache() { tables_.clear(); }

 private:
  Result<const TableInfo*> Table(std::string_view name);
  Result<ExecResult> RunCreateTable(const CreateTable& st);
  Result<ExecResult> RunAlter(const AlterTableAddConstraint& st);
  Result<ExecResult> RunDropConstraint(const AlterTableDropConstraint& st);
  Result<ExecResult> RunCreateIndex(const CreateIndex& st);
  Result<ExecResult> RunDropIndex(const DropIndex& st);
  Result<ExecResult> RunDropTable(const DropTable& st);
  Result<ExecResult> RunDropView(const DropView& st);
  Result<ExecResult> RunInsert(const Insert& st);
  Result<ExecResult> RunCreateView(const CreateView& st);
  Result<ExecResult> RunSelect(const Select& st);
  Result<ExecResult> RunDelete(const Delete& st);
  Result<ExecResult> RunSelectInto(const Select& st, ExecResult result);
  // SELECT (select.cc): a SELECT with its unions; one SELECT (in a union:
  // without the ORDER BY, which belongs to the whole union); a saved query
  // run as a table; FROM elements laid out, then opened as row sources.
  // With a `sink`, RunSingleSelect hands the rows to it when the query
  // allows (`streamed` in the result is then true and its rows empty).
  struct FromPlan;
  Result<ExecResult> RunQuery(const Select& st);
  Result<ExecResult> RunSingleSelect(const Select& st, bool in_union = false,
                                     RowSink* sink = nullptr);
  Result<ExecResult> RunSavedQuery(const std::string& name);
  // A saved query's SELECT, refused when it is being run already (a circle)
  // or nested too deep.
  Result<Select> LoadSavedQuery(const std::string& name);
  // Stream without its checks: SELECT * FROM a saved query that names only
  // columns or groups streams that query.
  Status StreamQuery(const Select& select, RowSink* sink);
  Result<FromPlan> PlanFrom(const FromItem& f, Binding* b);
  Result<std::unique_ptr<RowSource>> OpenPlan(FromPlan& plan, const Binding& b);
  // A SELECT inside an expression of the query bound by `outer`, on its
  // row `outer_row` (subquery.cc); the outer places it names are added to
  // `outer_refs`.
  friend class SubqueryRunner;
  struct OuterQuery {
    const Binding* binding = nullptr;
    const std::vector<Value>* row = nullptr;
    std::vector<std::size_t>* refs = nullptr;
  };
  Result<ExecResult> RunSubquery(const Select& select, const Binding& outer,
                                 const std::vector<Value>& outer_row,
                                 std::vector<std::size_t>* outer_refs);
  Status AddIndex(const std::string& table, const std::string& name,
                  const std::vector<std::string>& columns, const std::vector<bool>& descending,
                  bool primary, bool unique, bool required, bool ignore_nulls);

  Database* db_;
  std::map<std::string, TableInfo> tables_;  // by lower-case name
  std::vector<std::string> open_queries_;    // saved queries being run, outermost first
  OuterQuery outer_;                         // for the next SELECT run: the query it is inside
};

// A value as text, the way the Jet provider converts it for a reader:
// booleans "True"/"False", whole currency and decimals without trailing
// zeros after the point, dates "YYYY-MM-DD HH:MM:SS" (the date alone at
// midnight), GUIDs in braces, binary values as their raw bytes. NULL is "".
std::string ValueText(const Value& v);

// A value as Access shows it in a query's result: ValueText, except that a
// Double has at most 15 significant digits and a Single 7, in the shortest
// form that reads back within them (0.1 + 0.2 shows as 0.3, 1E+20 with an
// exponent past 15 digits).
std::string DisplayText(const Value& v);

// Access's texts for the failures the executor reports.
std::string TableExistsMessage(std::string_view table);
std::string NoSuchInputMessage(std::string_view name);
std::string DuplicateValuesMessage();

}  // namespace velquin::jet::sql
