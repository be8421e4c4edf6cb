// CopyTableRows: the rows of one source table into the Access table created
// for it.
//
// The source is read in bounded chunks (Session::OpenTableReader: the MySQL
// source pages, any other session runs one query) on a reader thread that converts every value
// (row_values.h) and hands batches of rows to the writer through a bounded
// queue, so memory stays flat whatever the table's size and the reading
// overlaps the writing. The writer (the calling thread) writes each row as
// one Jet SQL INSERT statement into "<table>.data" and inserts the row
// through the target's fast path (a RowInserter), or by running that
// statement when the target offers none.
//
// A row the target refuses, or a value Access cannot hold, is counted, its
// reason shown (the first ones in full, then a count), and its statement kept
// with the reason in "<table>.rejects" beside the data file. The summary line
// says how many rows were read, written and refused. Values of written rows
// that changed on the way (a zero date that became NULL, a fraction cut to
// milliseconds, ...) are counted per column and each count gets a log line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "db/session.h"
#include "jet/table/value.h"
#include "migrate/row_values.h"
#include "migrate/type_map.h"

namespace velquin {

// Output texts.
inline constexpr const char kLineRecordsConverted[] = "[%s] %d records converted!";
inline constexpr const char kLineDataTerminated[] = "Data Converting Terminaled!";
inline constexpr const char kLineCopyCompleted[] =
    "[%s] %d records converted, convertion completed SUCCESSFULLY!";

// Inserts rows into one target table.
class RowInserter {
 public:
  virtual ~RowInserter() = default;
  // Inserts one row (values in column order; `statement` is the same row as
  // a Jet INSERT). An error refuses this row only; the inserter stays usable.
  virtual Status Insert(const std::vector<TargetValue>& row, std::string_view statement) = 0;
  // Makes every inserted row durable.
  virtual Status Finish() = 0;
  // After a failed write (Insert or Finish): how many of the rows inserted
  // are in the target, the others having been undone; nullopt when every
  // row reported inserted is there.
  virtual std::optional<uint64_t> RowsKept() const { return std::nullopt; }
  // False when Insert never looks at `statement` (it may then be empty).
  virtual bool NeedsStatements() const { return true; }

  // An inserter that takes rows as the engine's values may have them made on
  // the reader thread, beside the reading, so the writer only writes them:
  // Prepare turns a row into those values (an error refuses the row, as from
  // Insert) and may run while InsertPrepared runs on the writer, so it reads
  // nothing that changes; InsertPrepared then inserts them as Insert would.
  virtual bool Prepares() const { return false; }
  virtual Status Prepare(const std::vector<TargetValue>& row, std::vector<jet::Value>* out) const;
  virtual Status InsertPrepared(const std::vector<jet::Value>& row);
};

// A failed write (the disk, the file, another writer), as opposed to a row
// the target refuses: it ends the copy.
bool IsWriteFailure(const Status& s);

// Opens the fast path of a target session for a table; NotSupported (or a
// null factory) means: run each row's statement on the session instead.
using RowInserterFactory = std::function<Result<std::unique_ptr<RowInserter>>(
    Session& target, const std::string& access_table, const std::vector<ColumnPlan>& columns)>;

// Runs each row's INSERT statement on the session.
std::unique_ptr<RowInserter> MakeStatementInserter(Session& target);

// Told about the rows read so far (every few hundred rows and at the end).
using RowProgress = std::function<void(uint64_t rows_read, uint64_t rows_expected)>;

struct CopyRowsOptions {
  std::string database;                     // source database
  std::string table;                        // source table name
  std::string access_table;                 // the table's name in Access
  std::vector<ColumnPlan> columns;          // the table's columns in order (ConvertTableDdl)
  std::vector<std::string> access_columns;  // their names in Access (empty: as in `columns`)
  std::string condition;                    // a WHERE condition (Condition.cfg), empty for all rows
  std::filesystem::path data_dir = ".";
  std::string file_stem;     // data file name without ".data" (empty: the table name)
  bool data_file = true;     // write the rows as INSERT statements into "<stem>.data"
  bool rejects_file = true;  // keep refused rows in "<stem>.rejects" (and remove an older one)
  std::size_t chunk_rows = 10000;
  // A table is read in pages of up to this many bytes of rows (see
  // TableReadOptions::chunk_bytes); 0: chunk_rows.
  std::size_t chunk_bytes = 24u << 20;
  std::size_t batch_rows = 1024;
  std::size_t queue_batches = 16;
  std::size_t reasons_shown = 10;
  uint64_t rows_expected = 0;            // for progress only (0: unknown)
  std::function<bool()> stop_requested;  // RunState 99: the copy ends after the current row
  ZeroDates zero_dates = ZeroDates::kNull;
  // Columns (names in `columns`) created NOT NULL although of a date type:
  // a zero date in one (it becomes NULL) cannot be stored, so the copy ends
  // at the first and names the column (CopyRowsResult::zero_date_column).
  std::vector<std::string> required_dates;
  RowInserterFactory inserter_factory;
  RowProgress progress;
};

struct CopyRowsResult {
  uint64_t read = 0;
  uint64_t written = 0;
  uint64_t refused = 0;
  bool stopped = false;  // a stop request ended the copy early
  // A column of `required_dates` that holds a zero date: the copy ended
  // there, unfinished, for the table to be made again with it nullable.
  std::string zero_date_column;
  Status status;                       // the copy could not run or ended early (source error ...)
  std::filesystem::path data_file;     // empty when none was asked for
  std::filesystem::path rejects_file;  // empty when no row was refused
  // The values of the rows written that changed on the way (per column and kind).
  std::vector<TransformCount> transforms;
  double seconds = 0;
  bool ok() const { return status.ok() && refused == 0 && !stopped && zero_date_column.empty(); }
};

// "insert into `t` (`a`, `b`) values (1,'x')\n"-style statement text for a row.
std::string BuildInsertStatement(const std::string& access_table,
                                 const std::vector<std::string>& access_columns,
                                 const std::vector<TargetValue>& row);

// The same for many rows of one table: the names are quoted once.
class InsertStatementText {
 public:
  InsertStatementText(const std::string& access_table,
                      const std::vector<std::string>& access_columns);
  // Replaces `*out` with the statement for `row`.
  void Build(const std::vector<TargetValue>& row, std::string* out) const;
  // Appends the statement for `row` to `*out`.
  void Append(const std::vector<TargetValue>& row, std::string* out) const;

 private:
  std::string prefix_;  // "insert into `t` (`a`,`b`) values ("
};

// A name safe as a file name: "/" and NUL become "_"; "." and ".." get a "_".
std::string FileStemFor(std::string_view name);

CopyRowsResult CopyTableRows(Session* source, Session* target, const CopyRowsOptions& options,
                             const LineSink& out);

}  // namespace velquin
