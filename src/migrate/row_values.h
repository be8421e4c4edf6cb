// One source value -> the Access value, by the column's plan from the type
// map (type_map.h, docs/type-map.md), and the same value as a Jet SQL literal
// for the INSERT statement kept in the table's data file.
//
// Every value arrives exact: NULL stays NULL; text keeps every character
// (apostrophes doubled in the literal, backslashes as they are); binary
// values keep every byte, trailing zero bytes included; long values whole.
//
// Dates and times Access cannot hold (its range is 100-01-01 to 9999-12-31):
//   - a zero date ('0000-00-00', or a zero month or day, as MySQL allows
//     outside strict mode) means "no date" in MySQL: it becomes NULL, or,
//     with ZeroDates::kRefuse, the row is refused naming the value;
//   - a date in the years 1 to 99 cannot be stored: the row is refused with
//     that reason (and kept in the rejects file), never shifted to another
//     century.
// TIME values become 1899-12-30 plus the time, counted in milliseconds, so
// negative times and times over 24 hours land on the days before and after.
// Fractions of a second beyond milliseconds are cut (as the type map says).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"
#include "migrate/type_map.h"
#include "migrate/value_transforms.h"

namespace velquin {

struct TargetValue {
  enum class Kind { kNull, kBool, kNumber, kDateTime, kText, kBinary };
  Kind kind = Kind::kNull;
  bool boolean = false;
  // kNumber: the exact decimal text ("-12.50", "1e+300"); kText: UTF-8 text;
  // kBinary: the bytes.
  std::string text;
  // kDateTime: civil date and time.
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Converts one value. `raw` is the value as the source delivered it (text,
// or raw bytes for binary columns); `null` when it was NULL. Errors (a value
// Access cannot hold, a malformed value) carry the reason.
// `changes`, when given, is set to the transforms the value went through
// (value_transforms.h), 0 for none.
Result<TargetValue> ConvertSourceValue(const ColumnPlan& plan, bool null, std::string_view raw,
                                       ZeroDates zero_dates = ZeroDates::kNull,
                                       TransformSet* changes = nullptr);
// The same into `*out`, whose text keeps its storage (a row's values are
// converted into the same places row after row); on an error `*out` is
// unspecified.
Status ConvertSourceValueInto(const ColumnPlan& plan, bool null, std::string_view raw,
                              ZeroDates zero_dates, TransformSet* changes, TargetValue* out);

// The Jet SQL literal: NULL, True/False, the number, #yyyy-mm-dd hh:nn:ss#,
// 'text' with apostrophes doubled, 0x followed by two hex digits per byte.
std::string JetLiteral(const TargetValue& value);
// The same, appended to `out`.
void AppendJetLiteral(const TargetValue& value, std::string* out);

// "yyyy-mm-dd hh:nn:ss[.fff]".
std::string FormatDateTime(const TargetValue& value);
void AppendDateTime(const TargetValue& value, std::string* out);

}  // namespace velquin
