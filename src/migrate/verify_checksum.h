// The quick comparison. When every column's value as the file holds it has
// one text the server can compute too, the server sums a CRC-32 of each
// row's texts (SUM(CRC32(CONCAT_WS(...))), order-independent) and the file
// side sums the same over its rows: equal counts and sums mean equal tables
// without a single row crossing the connection. Anything else (a column of
// another kind, a transformed value such as a zero date, a refused row, an
// SQL error) makes the sums differ or the query fail, and the row-by-row
// comparison of verify.cc decides and names the differences.
//
// The texts: an integer in decimal, a text as UTF-8, a date as
// "YYYY-MM-DD" (with " hh:mm:ss" for a datetime column or a time of day,
// ".mmm" for milliseconds), NULL as the byte 0xff; columns joined by 0x1f.
// Not for use outside migrate.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/status.h"
#include "db/session.h"
#include "jet/sql/executor.h"
#include "migrate/row_copy.h"

namespace velquin {
namespace jet {
class Database;
struct TableInfo;
}  // namespace jet

namespace quick_check {

enum class Canon { kInteger, kText, kDate, kDateTime };

constexpr char kNullMark = '\xff';  // stands for NULL on both sides (never in UTF-8 text)
constexpr char kSeparator = '\x1f';

struct QuickSums {
  uint64_t rows = 0;
  uint64_t sum = 0;
};

// One column of the quick comparison: its name on the server and its text.
struct SummedColumn {
  std::string name;
  Canon canon;
};

// CRC-32 as the server's CRC32() computes it (the IEEE polynomial,
// reflected), eight bytes a step.
uint32_t Crc32(std::string_view bytes);

// The server's count and sum over `from` (a quoted table or view) with an
// optional condition; "" when there are no columns.
std::string SumsQuery(const std::vector<SummedColumn>& columns, const std::string& from,
                      const std::string& condition);
// A table's, read as `how` says; "" when a column has no text in common
// with the file.
std::string TableSumsQuery(const CopyRowsOptions& how);

// Runs the server's sums of the objects to come on a connection of its own,
// one after another in the order given, while the caller reads the file
// side of the earlier ones: the server never waits for the file, nor the
// file for the server (but for the first object). Only the counts and sums
// are kept. The destructor lets the query under way end and runs no other.
class SumsAhead {
 public:
  // `session` is used by this object's thread only, until it is destroyed;
  // an empty query is skipped.
  SumsAhead(Session* session, std::vector<std::string> queries);
  ~SumsAhead();
  SumsAhead(const SumsAhead&) = delete;
  SumsAhead& operator=(const SumsAhead&) = delete;
  // When `query` was queued (and not taken yet): waits for it, sets `sums`
  // (nullopt when it failed) and returns true.
  bool Take(const std::string& query, std::optional<QuickSums>* sums);

 private:
  const std::vector<std::string> queries_;
  std::vector<std::optional<QuickSums>> results_;
  std::set<std::size_t> taken_;
  std::size_t done_ = 0;
  bool stopping_ = false;
  std::mutex mu_;
  std::condition_variable ready_;
  std::thread worker_;
};

// The count and sum of a SumsQuery, from `ahead` when it has them queued,
// else run on `source`; nullopt when the query is empty or fails.
std::optional<QuickSums> ServerSums(Session* source, const std::string& query, SumsAhead* ahead);

// A table: true when both sides' sums agree (`rows` then holds the count).
bool QuicklyEqual(Session* source, jet::Database& target, const jet::TableInfo& info,
                  const CopyRowsOptions& how, SumsAhead* ahead, uint64_t* rows);

// A view's columns for the quick comparison, from the server's catalogue;
// empty when one has no text in common with the file.
std::vector<SummedColumn> ViewColumns(Session* source, const std::string& database,
                                      const std::string& view);
// The view's SumsQuery ("" when it has no quick comparison).
std::string ViewSumsQuery(Session* source, const std::string& database, const std::string& view);

// Sums the CRC-32 of a query's rows in the file as they come, as the
// server sums the view's.
class FileRowSummer : public jet::sql::RowSink {
 public:
  explicit FileRowSummer(std::vector<Canon> canons);
  Status Columns(const std::vector<jet::sql::ResultColumn>& columns) override;
  Status Row(std::vector<jet::Value> row) override;
  // True when every row had the view's columns and the sums equal `server`.
  bool Equals(const QuickSums& server) const;

 private:
  std::vector<Canon> canons_;
  QuickSums sums_;
  std::string text_;
  bool fits_ = true;
};

}  // namespace quick_check
}  // namespace velquin
