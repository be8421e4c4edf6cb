// Verification after a load: does the .mdb hold what the server holds?
//
// For one table, both sides are read once: the source through the same row
// copy and the same value conversion a migration uses (so every documented
// transform, a zero date that became NULL, is not a difference), the file
// through the engine's table scan. Neither side is kept: each row adds, per
// column, a 64-bit hash of (the row's key, the column's value) to that
// column's sum, and to one of 4096 bucket sums chosen by the key. Equal
// counts and equal sums on every column mean equal tables (up to a hash
// collision). When they differ, a second pass over both sides keeps only the
// rows of the first few differing buckets, matches them by key, and names up
// to 10 rows: missing from the file, not in the source, or which column
// holds another value.
//
// Before that, a quicker test: when every column is an integer, a text or a
// date the server and the file can spell alike, the server sums a CRC-32 of
// each row's text in SQL and the file side does the same; equal counts and
// sums end the verification. Any disagreement falls through to the
// comparison above, which decides and names the differences.
//
// The key is the Access table's primary key (a table without one is keyed
// by the whole row: a changed value then shows as one row missing and one
// extra).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "db/session.h"
#include "migrate/row_copy.h"

namespace velquin {
namespace jet {
class Database;
}
namespace quick_check {
class SumsAhead;
}

struct TableVerification {
  uint64_t source_rows = 0;  // rows read from the server and held by Access's types
  uint64_t not_held = 0;     // rows whose values Access cannot hold (refused by a run too)
  uint64_t target_rows = 0;  // rows in the file
  std::vector<std::string> differing_columns;  // Access names, in column order
  std::vector<std::string> examples;           // up to 10, one sentence each
  Status status;  // the table could not be verified (source or file unreadable)
  // Decided by one checksum the server computed in SQL (no row read twice
  // through the connection); false when the rows were compared one by one.
  bool by_checksum = false;
  bool equal() const {
    return status.ok() && source_rows == target_rows && differing_columns.empty() &&
           examples.empty();
  }
};

// How one table is read on the source side: CopyRowsOptions with its
// database, table, access_table, columns, access_columns, condition and
// zero_dates set as the migration set them, and stop_requested (a stop ends
// the table's verification as "not verified"); the rest is ignored. The
// server's checksum is taken from `ahead` when it computed it already
// (verify_checksum.h; may be null).
TableVerification VerifyTableRows(Session* source, jet::Database& target,
                                  const CopyRowsOptions& how,
                                  quick_check::SumsAhead* ahead = nullptr);

// A view against the saved query that stands for it in the file: the rows
// `select * from view` gives on the server against the rows the engine
// gives for the query, order-independent (each value spelled alike on both
// sides: numbers by value, dates to the millisecond, a zero date as NULL).
// When every column of the view is an integer, a text or a whole-second
// date, the server sums a CRC-32 of each row's text while the engine runs
// the query, as for a table; equal sums end the comparison. A query the
// engine cannot run is "not verified" with its reason.
TableVerification VerifyQueryRows(Session* source, jet::Database& target,
                                  const std::string& database, const std::string& view,
                                  const std::string& access_query,
                                  quick_check::SumsAhead* ahead = nullptr);

// "equal", "differs: ..." or "not verified: ..." for a summary.
std::string VerificationText(const TableVerification& v);

}  // namespace velquin
