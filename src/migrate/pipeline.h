// The migration pipeline over two sessions: one table (MigrateTable), its
// foreign keys (MigrateForeignKeys), one view (ConvertViewDdl, MigrateView),
// and the walks over a whole database (ConvertDatabaseTables,
// ConvertDatabaseRelationships, ConvertDatabaseViews) in the fixed order
// tables -> foreign keys -> views.
//
// Every step reports itself as output lines; a MigrationReport per table and
// view gathers rows read, written and refused, the time and the status, for
// the end-of-run summary. A table that could not be created, whose key,
// index or relationship failed, or whose rows were partly refused, ends as a
// failure. Names Access cannot hold are renamed by one rule (access_names.h)
// consistently in tables, columns, keys, relationships and views, and the
// mapping is written to the log and kept for the summary.
//
// Files, in the data folder: "<table>" (the table's statements),
// "<table>.data" (one INSERT per row), "<table>.rejects" (refused rows with
// their reasons), "<view>.vw".
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "db/session.h"
#include "migrate/access_names.h"
#include "migrate/plan.h"
#include "migrate/row_copy.h"
#include "migrate/source_rows.h"
#include "migrate/stage_timings.h"
#include "migrate/table_ddl.h"
#include "migrate/value_transforms.h"
#include "migrate/verify.h"

namespace velquin {

// Output texts.
inline constexpr const char kLineCharsetHint[] =
    "Perhaps CHARACTER SET not correct!\nPlease change and try again.";

enum class ObjectKind { kTable, kView };

struct MigrationReport {
  ObjectKind kind = ObjectKind::kTable;
  std::string source_name;
  std::string access_name;
  uint64_t read = 0;
  uint64_t written = 0;
  uint64_t refused = 0;
  double seconds = 0;
  bool ok = false;
  bool stopped = false;
  std::string status;  // "migrated", "failed", "refused rows", "stopped", "not started"
  std::string reason;  // the first failure, when there is one
  std::filesystem::path data_file;
  std::filesystem::path rejects_file;
  // What changed on the way into Access, per column (value_transforms.h).
  std::vector<TransformCount> transforms;
  // With --verify: "equal: ...", "differs: ..." or "not verified: ..."
  // (verify.h); empty when the run was not verified.
  std::string verified;
};

struct PipelineSettings {
  std::filesystem::path data_dir = ".";
  // Condition.cfg; empty: no conditions.
  std::filesystem::path condition_file;
  RowInserterFactory inserter_factory;
  std::function<bool()> stop_requested;
  // Told before each table of a whole-database conversion: its place among
  // the tables to convert (from 0) and how many there are.
  std::function<void(std::size_t index, std::size_t count)> table_started;
  // Told when a table's rows start and as they are read.
  std::function<void(const std::string& table, uint64_t expected)> rows_started;
  std::function<void(const std::string& table, uint64_t read, uint64_t expected)> rows_progress;
  std::function<void(const MigrationReport&)> object_done;
  // Told when a table or view starts (before its report exists).
  std::function<void(ObjectKind kind, const std::string& name)> object_started;
  // Only these tables / views (empty: all); no views at all.
  std::set<std::string> only_tables;
  std::set<std::string> only_views;
  bool no_views = false;
  std::size_t chunk_rows = 10000;
  ZeroDates zero_dates = ZeroDates::kNull;
  // A view Access cannot express becomes a table holding the view's rows.
  bool materialize_views = false;
  // Tables and queries the target holds already (Access names), and what to
  // do with them: kAppend adds the rows to the existing tables (whose columns
  // must match) and keeps their keys, relationships and the existing queries;
  // kResume keeps those tables as an earlier run finished them (reported
  // "reused" with their `reused_rows`) and the existing queries, and makes
  // every relationship (the caller drops those of the kept tables first).
  enum class Existing { kFail, kAppend, kResume };
  Existing existing = Existing::kFail;
  std::set<std::string, CaseInsensitiveLess> existing_objects;
  std::map<std::string, uint64_t, CaseInsensitiveLess> reused_rows;
  // Whether each table's rows are also written as INSERT statements into
  // "<table>.data" in the data folder.
  bool data_files = true;
};

class MigrationPipeline {
 public:
  MigrationPipeline(PipelineSettings settings, LineSink out)
      : settings_(std::move(settings)), out_(std::move(out)) {}

  // 0, or -1 when the catalogue could not be opened.
  int ConvertDatabaseTables(Session* source, Session* target, const std::string& database);
  int ConvertDatabaseRelationships(Session* source, Session* target, const std::string& database);
  int ConvertDatabaseViews(Session* source, Session* target, const std::string& database);

  // 1 created (the later steps report themselves; the report says whether
  // all went well), -1 CREATE TABLE failed, -2 the script file could not be
  // created, -3 the table's definition could not be read or converted.
  int MigrateTable(Session* source, Session* target, const std::string& database,
                   const std::string& table);
  void MigrateForeignKeys(Session* source, Session* target, const std::string& database,
                          const std::string& table);
  Result<std::string> ConvertViewDdl(Session* source, const std::string& database,
                                     const std::string& view);
  bool MigrateView(Session* source, Session* target, const std::string& database,
                   const std::string& view);

  // Forgets what earlier runs learned of the source databases (table plans,
  // failed tables, names), so a table whose definition changed since is
  // planned again. The reports are kept.
  void BeginRun();
  // Every table and view of the source database with the Access name a run
  // gives it, in catalogue order.
  struct PlannedObject {
    ObjectKind kind = ObjectKind::kTable;
    std::string source_name;
    std::string access_name;
  };
  Result<std::vector<PlannedObject>> PlannedObjects(Session* source, const std::string& database);
  // The Access names of the tables and views a whole-database run of these
  // settings creates.
  Result<std::vector<std::string>> PlannedNames(Session* source, const std::string& database);
  // Whether a run of these settings migrates the object (--tables, --views, --no-views).
  bool Chosen(const PlannedObject& object) const;

  // Reads table `name` of `database` from the server as a run with these
  // settings copies it (its Access name, columns, row condition, value
  // transforms; a view's rows when it was materialized) and compares it with
  // the file's table (verify.h).
  // `ahead` (may be null) holds server checksums computed beforehand.
  TableVerification VerifyTable(Session* source, jet::Database& target, const std::string& database,
                                const std::string& name, quick_check::SumsAhead* ahead = nullptr);
  // A view migrated as a saved query: the query's rows in the file against
  // the view's on the server (verify.h); a view the file holds as a table
  // (materialized) is verified as a table.
  TableVerification VerifyView(Session* source, jet::Database& target, const std::string& database,
                               const std::string& name, quick_check::SumsAhead* ahead = nullptr);
  // The server's checksum query VerifyTable (or, `as_view`, VerifyView)
  // will run for `name`, to be run beforehand (quick_check::SumsAhead); ""
  // when it runs none.
  std::string VerifySumsQuery(Session* source, jet::Database& target, const std::string& database,
                              const std::string& name, bool as_view);

  // What a whole-database run of these settings will do (plan.h), read from
  // the catalogue; nothing is written. `sizes_only`: only the tables' row
  // counts and projected sizes (one catalogue query), for the size check
  // every run makes.
  Result<MigrationPlan> Plan(Session* source, const std::string& database,
                             uint64_t size_limit = kJetSizeLimit, bool sizes_only = false);

  const PipelineSettings& settings() const { return settings_; }
  // What the following steps do with the objects the target holds already
  // (one task's answer); between runs, not while a step runs.
  void SetExisting(PipelineSettings::Existing existing,
                   std::set<std::string, CaseInsensitiveLess> names) {
    settings_.existing = existing;
    settings_.existing_objects = std::move(names);
  }

  // The reports so far, in the order the objects were done.
  std::vector<MigrationReport> Reports() const;
  // The renaming lines (see DatabaseNames::RenameLines) of every database.
  std::vector<std::string> RenameLines() const;
  // Where the time went: source catalogue queries, table creation, keys,
  // each table's rows and relationships, views.
  const StageTimings& timings() const { return timings_; }

 private:
  struct DatabaseState {
    bool listed = false;
    DatabaseNames names;
    std::map<std::string, TableDdl> plans;  // by source table name
    std::set<std::string> failed_tables;
    std::set<std::string> planning;  // guards against reference cycles
    // NOT NULL date columns created nullable for their zero dates, by table.
    std::map<std::string, std::vector<TransformCount>> made_nullable;
    // Tables planned without asking the server for zero dates: the copy
    // counts them (their made-nullable counts come from it) and names the
    // NOT NULL date columns of `required_dates` that turn out to hold one.
    std::set<std::string> zero_dates_from_copy;
    std::map<std::string, std::vector<std::string>> required_dates;  // Access column names
    // Tables whose copy met a zero date in a NOT NULL column: planned again
    // with the server's count, and copied again.
    std::set<std::string> zero_dates_probed;
    std::vector<std::string> reported_renames;
    std::set<std::string> views;  // the source's views (the other objects are tables)
    std::map<std::string, std::vector<ForeignKeyDecl>> foreign_keys;  // by source table
    std::set<std::string> failed_views;
    std::map<std::string, std::string> create_texts;  // views materialized: their table text
  };

  DatabaseState& State(Session* source, const std::string& database);
  Result<std::vector<std::pair<std::string, std::string>>> ListObjects(Session* source,
                                                                       const std::string& database,
                                                                       const char* type);
  // The NOT NULL date columns of a table that hold or default to a zero date.
  // Without `probe` the server is not asked (a full scan of the table): only
  // the columns that default to a zero date are found, each with a count of 0.
  Result<std::vector<TransformCount>> ZeroDateColumns(Session* source, const std::string& database,
                                                      const std::string& table,
                                                      std::string_view create_text,
                                                      const std::vector<SourceColumn>& columns,
                                                      bool probe);
  bool StopRequested() const;
  // A summary line for a walk whose objects could not be listed.
  void AddListingFailure(ObjectKind kind, const std::string& reason);
  // A report for an object a stopped run never reached: "not started".
  void AddNotStarted(Session* source, ObjectKind kind, const std::string& database,
                     const std::string& name);
  // The table's plan. Foreign-key columns take the type of the column they
  // reference; in a cycle of references the table met again is planned
  // without following its own references (`follow_references` false, not
  // kept), which gives its key columns their types all the same.
  Result<TableDdl> PlanTable(Session* source, const std::string& database, const std::string& table,
                             bool follow_references = true);
  // How VerifyTable reads `name` from the server: as a run of these
  // settings copies it.
  Result<CopyRowsOptions> VerifyReadOptions(Session* source, const std::string& database,
                                            const std::string& name);
  // MigrateTable's body; `materialized_view`: the object is a view whose
  // rows become a table (no keys, indexes or relationships).
  int MigrateTableAs(Session* source, Session* target, const std::string& database,
                     const std::string& table, bool materialized_view, const std::string& why);
  // A CREATE TABLE text, as MySQL writes one, for a view's columns.
  Result<std::string> ViewAsCreateTable(Session* source, const std::string& database,
                                        const std::string& view);
  Result<std::string> ShowCreateView(Session* source, const std::string& database,
                                     const std::string& view);
  // The Access name of a column of a table or view, reading the table's
  // column list first when it was not planned yet.
  std::string ColumnName(Session* source, const std::string& database,
                         const std::string& table_or_view, const std::string& column);
  Result<SourceRows> QueryRows(Session* source, const std::string& sql);
  void LogRenames(DatabaseState& state);
  // Reports a view that is not created, with the reason.
  void FailView(const std::string& database, const std::string& view, const std::string& why);
  void AddReport(const MigrationReport& report);
  MigrationReport* FindReport(ObjectKind kind, const std::string& name);
  bool Run(Session* target, const std::string& statement, std::string* reason);
  void Out(const std::string& line) const {
    if (out_) out_(line);
  }

  PipelineSettings settings_;
  // Set while tables are migrated: their copies find the zero dates, so
  // planning asks the server only for tables whose copy met one where it
  // could not be stored (the plan alone still asks).
  bool zero_dates_from_copy_ = false;
  LineSink out_;
  std::map<std::string, DatabaseState> databases_;
  mutable std::mutex reports_mu_;
  std::vector<MigrationReport> reports_;
  StageTimings timings_;
};

// Splits a CREATE TABLE text's back-quoted names: the first (the table) is
// mapped with `table_name`, the others with `column_name` (which returns
// the name unchanged for names that are not columns of the table).
std::string RenameInCreateTable(std::string_view text,
                                const std::function<std::string(const std::string&)>& table_name,
                                const std::function<std::string(const std::string&)>& column_name);

}  // namespace velquin
