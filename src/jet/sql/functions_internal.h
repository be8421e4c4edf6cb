// Shared by the files that implement Access's built-in functions
// (functions*.cc): the table each group contributes, the conversions every
// group applies to its arguments, and the error texts Access gives.
//
// Conversions follow Jet's expression service with the regional settings of
// United States English: a date reads and prints as m/d/yyyy, the decimal
// point is ".", the thousands separator ",", the currency sign "$".
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "base/status.h"
#include "jet/table/value.h"

namespace velquin::jet::sql::fn {

inline constexpr char kTypeMismatch[] = "Data type mismatch in criteria expression.";
inline constexpr char kOverflow[] = "Overflow";
inline constexpr char kInvalidCall[] = "Invalid procedure call";
inline constexpr char kInvalidNull[] = "Invalid use of Null";

inline Status Fail(std::string message) { return Status::InvalidArgument(std::move(message)); }

// Arguments fetched one at a time: IIf and Switch look only at the ones
// they choose, as Access does (IIf(x = 0, 0, 1 / x) never divides by zero).
using ArgFetch = std::function<Result<Value>(std::size_t)>;

// One built-in function. `eager` receives every argument evaluated; `lazy`
// fetches them itself. Exactly one of the two is set.
struct FunctionDef {
  const char* name;
  std::size_t min_args;
  std::size_t max_args;
  Result<Value> (*eager)(std::span<const Value> args);
  Result<Value> (*lazy)(std::size_t count, const ArgFetch& arg);
};

// The functions of each group, in no particular order.
std::span<const FunctionDef> LogicAndNumberFunctions();
std::span<const FunctionDef> TextFunctions();
std::span<const FunctionDef> DateFunctions();
std::span<const FunctionDef> FormatFunctions();

// ----- conversions (functions.cc) -----

bool IsNumberKind(const Value& v);
// A number from a numeric value, a date (its day count), a boolean (True is
// -1) or a text that holds a number (blanks around it allowed). Data type
// mismatch otherwise. The caller handles NULL.
Result<double> ToNumber(const Value& v);
// The text Access makes of a value (CStr): numbers with up to 15 significant
// digits (7 for SINGLE), booleans "True"/"False", dates in the General Date
// form. NULL gives "".
std::string ToText(const Value& v);
// Numbers in CStr's form: "0.5", "-12", "1E+16".
std::string NumberText(double d, int significant = 15);
// A date from a date, a number (a day count) or a text holding a date or a
// number. Data type mismatch otherwise; the caller handles NULL.
Result<DateTime> ToDate(const Value& v);
// Rounds half to even (as CLng, CInt and Round do) and checks the range.
Result<std::int64_t> ToWhole(const Value& v, double lo, double hi);
// A whole-number argument of a function (a start, a length, a count): NULL
// gives "Invalid use of Null", out of the Long range "Overflow".
Result<std::int64_t> WholeArgument(const Value& v);

// ----- dates (functions_date.cc) -----

// The General Date text: "1/31/2024 10:20:30 AM", the date or the time
// alone when the other part is zero.
std::string GeneralDateText(DateTime d);
// A stored date as a linear count of milliseconds from 1899-12-30 00:00
// (Jet stores days before that day with the time as a positive fraction of a
// negative number), and back. The year must stay within 100..9999.
std::int64_t LinearMs(DateTime d);
Result<DateTime> FromLinearMs(std::int64_t ms);
// The day of the week, 1..7, counted from `first_day` (1 Sunday .. 7
// Saturday; 0 means Sunday as the system's setting).
int WeekdayOf(DateTime d, int first_day = 1);
// "January" / "Jan" (month 1..12); "Sunday" / "Sun" (weekday 1 = Sunday).
std::string_view MonthName(int month, bool abbreviated);
std::string_view DayName(int weekday, bool abbreviated);
// DatePart's "ww": the week of the year of `d`, weeks starting on
// `first_day`; week 1 as `first_week` says (1 the week of January 1, 2 the
// first week with four days, 3 the first full week).
int WeekOfYear(DateTime d, int first_day, int first_week);

// ----- text (functions_text.cc) -----

// Case folding for the comparisons of text functions (Access compares text
// without regard to case): ASCII and the Latin-1 letters.
char16_t FoldCase(char16_t c);
std::u16string ToUtf16(std::string_view utf8);
std::string FromUtf16(std::u16string_view s);

}  // namespace velquin::jet::sql::fn
