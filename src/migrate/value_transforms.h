// Values and columns that change on their way into Access, counted per
// column so the log and the end-of-run summary can say what was changed:
//
//   kind                   when                                    count
//   zero date to NULL      a MySQL zero date ('0000-00-00', a zero  values
//                          month or day) has no Access value
//   fraction cut to ms     a date or time with digits beyond the    values
//                          millisecond (Access keeps milliseconds)
//   time as date           a TIME becomes 1899-12-30 plus the time  values
//   made nullable          a NOT NULL date column that holds or     zero dates
//                          defaults to a zero date is created       found (0 when
//                          without NOT NULL                         only the default)
//
// Each count keeps the first source value it saw as its example.
//
// Zero dates: by default they become NULL (ZeroDates::kNull); kRefuse sends
// the row to the rejects file with the source value in the reason. The
// helpers below find the NOT NULL date columns a table needs made nullable
// before it is created.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "migrate/type_map.h"

namespace velquin {

enum class TransformKind : uint8_t {
  kZeroDateToNull = 1,
  kFractionCut = 2,
  kTimeAsDate = 4,
  kMadeNullable = 8,
};

// A set of kinds, one bit each.
using TransformSet = uint8_t;
inline constexpr TransformSet Bit(TransformKind kind) { return static_cast<TransformSet>(kind); }
inline constexpr TransformKind kAllTransformKinds[] = {
    TransformKind::kZeroDateToNull, TransformKind::kFractionCut, TransformKind::kTimeAsDate,
    TransformKind::kMadeNullable};

// "zero date to NULL", "fraction cut to ms", "time as date", "made nullable".
const char* TransformKindName(TransformKind kind);

struct TransformCount {
  std::string column;  // the MySQL column name
  TransformKind kind = TransformKind::kZeroDateToNull;
  uint64_t count = 0;
  std::string example;  // the first source value (or default) seen

  bool operator==(const TransformCount&) const = default;
};

// Counts per column and kind, in the order first seen.
class TransformCounter {
 public:
  void Add(const std::string& column, TransformKind kind, std::string_view example, uint64_t n = 1);
  void Add(const TransformCount& count) {
    Add(count.column, count.kind, count.example, count.count);
  }
  const std::vector<TransformCount>& Counts() const { return counts_; }
  bool empty() const { return counts_.empty(); }

 private:
  std::vector<TransformCount> counts_;
};

// One line for the log and the summary:
// "`d`: zero date to NULL, 3 values (e.g. '0000-00-00')".
std::string DescribeTransform(const TransformCount& count);

enum class ZeroDates {
  kNull,    // a zero date becomes NULL; NOT NULL columns holding one are made nullable
  kRefuse,  // the row is refused with the value in the reason
};

// True for a date text with a zero month or day ("0000-00-00", "2020-00-05 10:00:00").
bool IsZeroDateText(std::string_view text);

// The columns of a date type (date, datetime, timestamp) declared NOT NULL.
std::vector<std::string> NotNullDateColumns(const std::vector<SourceColumn>& columns);

// The column's DEFAULT in a SHOW CREATE TABLE text when it is a zero date
// (the literal, e.g. "0000-00-00 00:00:00"); "" otherwise.
std::string ZeroDateDefault(std::string_view show_create_table, std::string_view column);

// "SELECT SUM(MONTH(`a`) = 0 OR DAYOFMONTH(`a`) = 0), ... FROM `db`.`t`": the
// number of zero dates in each of `columns`, one value each, in order.
std::string ZeroDateCountQuery(std::string_view database, std::string_view table,
                               const std::vector<std::string>& columns);

// "SELECT 1 FROM `db`.`t` WHERE MONTH(`a`) = 0 OR DAYOFMONTH(`a`) = 0 OR ...
// LIMIT 1": a row when any of `columns` holds a zero date. It stops at the
// first one, and without one it costs the server about half the count query
// (the common case: no zero dates at all).
std::string ZeroDateProbeQuery(std::string_view database, std::string_view table,
                               const std::vector<std::string>& columns);

// The SHOW CREATE TABLE text with NOT NULL removed from the lines of `columns`.
std::string DropNotNull(std::string_view show_create_table,
                        const std::set<std::string, CaseInsensitiveLess>& columns);

}  // namespace velquin
