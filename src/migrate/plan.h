// The pre-flight plan of a whole-database run: what each table, column and
// view will become in Access, read from the catalogue and cheap statistics
// only (SHOW CREATE TABLE, INFORMATION_SCHEMA, the column facts and zero-date
// counts the run itself asks for); nothing is written.
//
// The projected size of the .mdb is an estimate: per table, its row count
// times MySQL's average row length, with a quarter more for page slack, plus
// MySQL's index bytes. Jet files stop at 2 GB: over it a run does not start.
// The time estimate divides the rows by the whole-database rate measured by
// bench/migrate-database on a two-core machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velquin {

struct PlannedColumn {
  std::string name;         // as in MySQL
  std::string access_name;  // as it will be in Access
  std::string declared;     // MySQL type as declared
  std::string access_type;  // as written into CREATE TABLE
  std::string note;         // what changes or is refused on the way, when anything does
};

struct PlannedTable {
  std::string name;
  std::string access_name;
  bool materialized_view = false;  // a view Access cannot express, with --materialize-views
  uint64_t rows = 0;               // the server's estimate
  uint64_t projected_bytes = 0;
  std::vector<PlannedColumn> columns;
  std::vector<std::string> notes;  // the run's decisions for the table (keys, nullability, ...)
  std::string error;               // the table cannot be planned: why
};

struct PlannedView {
  std::string name;
  std::string access_name;
  bool query = false;  // it becomes a saved query
  std::string reason;  // why not, and what --materialize-views does instead
};

struct MigrationPlan {
  std::string database;
  std::vector<PlannedTable> tables;
  std::vector<PlannedView> views;
  std::vector<std::string> renames;  // every rename with its reason
  uint64_t projected_bytes = 0;
  uint64_t size_limit = 0;  // 2 GB unless a test sets less
  double estimated_seconds = 0;
  bool over_limit() const { return projected_bytes > size_limit; }
  bool near_limit() const { return !over_limit() && projected_bytes * 10 > size_limit * 9; }
};

// Rows a whole-database run moves per second (employees: 3.9M rows, tables,
// keys and relationships, on two cores).
inline constexpr double kPlannedRowsPerSecond = 250000;
inline constexpr uint64_t kJetSizeLimit = 2147483648ull;

// The `n` tables of the largest projected size, largest first.
std::vector<const PlannedTable*> LargestTables(const MigrationPlan& plan, std::size_t n);

// The plan as a table for a terminal, and as JSON.
std::string PlanText(const MigrationPlan& plan);
std::string PlanJson(const MigrationPlan& plan);

}  // namespace velquin
