// Access's date functions: Year, Month, Day, Hour, Minute, Second, Weekday,
// MonthName, WeekdayName, DateAdd, DateDiff, DatePart, DateSerial,
// TimeSerial, DateValue, TimeValue, Now, Date, Time.
//
// A date is the engine's DateTime (days since 1899-12-30, the time of day as
// the fraction; before that day the whole part is negative and the time
// still adds its fraction's magnitude). Arithmetic goes through a linear
// count of milliseconds so that days before 1899-12-30 come out right.
// Intervals: yyyy year, q quarter, m month, y day of year, d day, w weekday,
// ww week, h hour, n minute, s second; any other is "Invalid procedure call".
// DateDiff counts the boundaries crossed between the two dates (DateDiff("h",
// 10:59, 11:01) is 1), "w" the whole weeks and "ww" the first days of the
// week after the first date up to the second, as Access does.
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

#include "jet/sql/functions_internal.h"
#include "jet/sql/names.h"

namespace velquin::jet::sql::fn {
namespace {

constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::int64_t kFirstDay = -657434;  // 100-01-01
constexpr std::int64_t kLastDay = 2958465;   // 9999-12-31

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// The day number of a date (0 = 1899-12-30), ignoring its time.
std::int64_t DayIndex(DateTime d) { return FloorDiv(LinearMs(d), kMsPerDay); }

std::int64_t DayOf(int year, int month, int day) {
  return static_cast<std::int64_t>(DateTime::FromParts(year, month, day).days);
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

enum class Interval {
  kYear,
  kQuarter,
  kMonth,
  kDayOfYear,
  kDay,
  kWeekday,
  kWeek,
  kHour,
  kMinute,
  kSecond
};

Result<Interval> IntervalOf(const Value& v) {
  if (v.is_null()) return Fail(kInvalidNull);
  const std::string s = LowerAscii(ToText(v));
  if (s == "yyyy") return Interval::kYear;
  if (s == "q") return Interval::kQuarter;
  if (s == "m") return Interval::kMonth;
  if (s == "y") return Interval::kDayOfYear;
  if (s == "d") return Interval::kDay;
  if (s == "w") return Interval::kWeekday;
  if (s == "ww") return Interval::kWeek;
  if (s == "h") return Interval::kHour;
  if (s == "n") return Interval::kMinute;
  if (s == "s") return Interval::kSecond;
  return Fail(kInvalidCall);
}

// The optional first-day-of-week argument: 0 (the system's, Sunday) or 1..7.
Result<int> FirstDay(std::span<const Value> a, std::size_t at) {
  if (a.size() <= at || a[at].is_null()) return 1;
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t f, WholeArgument(a[at]));
  if (f < 0 || f > 7) return Fail(kInvalidCall);
  return f == 0 ? 1 : static_cast<int>(f);
}

Result<int> FirstWeek(std::span<const Value> a, std::size_t at) {
  if (a.size() <= at || a[at].is_null()) return 1;
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t f, WholeArgument(a[at]));
  if (f < 0 || f > 3) return Fail(kInvalidCall);
  return f == 0 ? 1 : static_cast<int>(f);
}

// Year, Month, ...: NULL gives NULL.
template <int kField>
Result<Value> PartOf(std::span<const Value> a) {
  if (a[0].is_null()) return Value();
  VELQUIN_ASSIGN_OR_RETURN(DateTime d, ToDate(a[0]));
  const DateTime::Parts p = d.ToParts();
  const int fields[] = {p.year, p.month, p.day, p.hour, p.minute, p.second};
  return Value::Short(static_cast<std::int16_t>(fields[kField]));
}

Result<Value> Weekday(std::span<const Value> a) {
  VELQUIN_ASSIGN_OR_RETURN(int first, FirstDay(a, 1));
  if (a[0].is_null()) return Value();
  VELQUIN_ASSIGN_OR_RETURN(DateTime d, ToDate(a[0]));
  return Value::Short(static_cast<std::int16_t>(WeekdayOf(d, first)));
}

Result<Value> MonthNameOf(std::span<const Value> a) {
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t m, WholeArgument(a[0]));
  if (m < 1 || m > 12) return Fail(kInvalidCall);
  bool abbreviated = false;
  if (a.size() > 1 && !a[1].is_null()) {
    VELQUIN_ASSIGN_OR_RETURN(double d, ToNumber(a[1]));
    abbreviated = d != 0;
  }
  return Value::Text(std::string(MonthName(static_cast<int>(m), abbreviated)));
}

Result<Value> WeekdayNameOf(std::span<const Value> a) {
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t w, WholeArgument(a[0]));
  if (w < 1 || w > 7) return Fail(kInvalidCall);
  bool abbreviated = false;
  if (a.size() > 1 && !a[1].is_null()) {
    VELQUIN_ASSIGN_OR_RETURN(double d, ToNumber(a[1]));
    abbreviated = d != 0;
  }
  VELQUIN_ASSIGN_OR_RETURN(int first, FirstDay(a, 2));
  const int sunday_based = static_cast<int>((w - 1 + first - 1) % 7) + 1;
  return Value::Text(std::string(DayName(sunday_based, abbreviated)));
}

// Adds months to a date, the day kept unless the month is shorter.
Result<DateTime> AddMonths(DateTime d, std::int64_t months) {
  const DateTime::Parts p = d.ToParts();
  const std::int64_t total = static_cast<std::int64_t>(p.year) * 12 + (p.month - 1) + months;
  const std::int64_t year = FloorDiv(total, 12);
  if (year < 100 || year > 9999) return Fail(kInvalidCall);
  const int month = static_cast<int>(total - year * 12) + 1;
  const int day = std::min(p.day, DaysInMonth(static_cast<int>(year), month));
  const std::int64_t time = LinearMs(d) - FloorDiv(LinearMs(d), kMsPerDay) * kMsPerDay;
  return FromLinearMs(DayOf(static_cast<int>(year), month, day) * kMsPerDay + time);
}

// DateAdd(interval, number, date): a fractional number is rounded first.
Result<Value> DateAdd(std::span<const Value> a) {
  VELQUIN_ASSIGN_OR_RETURN(Interval interval, IntervalOf(a[0]));
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t n, WholeArgument(a[1]));
  if (a[2].is_null()) return Value();
  VELQUIN_ASSIGN_OR_RETURN(DateTime d, ToDate(a[2]));
  std::int64_t step_ms = 0;
  switch (interval) {
    case Interval::kYear: {
      VELQUIN_ASSIGN_OR_RETURN(DateTime r, AddMonths(d, n * 12));
      return Value::Date(r);
    }
    case Interval::kQuarter: {
      VELQUIN_ASSIGN_OR_RETURN(DateTime r, AddMonths(d, n * 3));
      return Value::Date(r);
    }
    case Interval::kMonth: {
      VELQUIN_ASSIGN_OR_RETURN(DateTime r, AddMonths(d, n));
      return Value::Date(r);
    }
    case Interval::kDayOfYear:
    case Interval::kDay:
    case Interval::kWeekday:
      step_ms = kMsPerDay;
      break;
    case Interval::kWeek:
      step_ms = 7 * kMsPerDay;
      break;
    case Interval::kHour:
      step_ms = 3600000;
      break;
    case Interval::kMinute:
      step_ms = 60000;
      break;
    case Interval::kSecond:
      step_ms = 1000;
      break;
  }
  VELQUIN_ASSIGN_OR_RETURN(DateTime r, FromLinearMs(LinearMs(d) + n * step_ms));
  return Value::Date(r);
}

Result<Value> DateDiff(std::span<const Value> a) {
  VELQUIN_ASSIGN_OR_RETURN(Interval interval, IntervalOf(a[0]));
  VELQUIN_ASSIGN_OR_RETURN(int first, FirstDay(a, 3));
  VELQUIN_ASSIGN_OR_RETURN(int first_week, FirstWeek(a, 4));
  (void)first_week;  // counts of weeks do not depend on where week 1 starts
  if (a[1].is_null() || a[2].is_null()) return Value();
  VELQUIN_ASSIGN_OR_RETURN(DateTime d1, ToDate(a[1]));
  VELQUIN_ASSIGN_OR_RETURN(DateTime d2, ToDate(a[2]));
  const DateTime::Parts p1 = d1.ToParts(), p2 = d2.ToParts();
  const std::int64_t ms1 = LinearMs(d1), ms2 = LinearMs(d2);
  std::int64_t r = 0;
  switch (interval) {
    case Interval::kYear:
      r = p2.year - p1.year;
      break;
    case Interval::kQuarter:
      r = (p2.year * 4 + (p2.month - 1) / 3) - (p1.year * 4 + (p1.month - 1) / 3);
      break;
    case Interval::kMonth:
      r = (p2.year * 12 + p2.month) - (p1.year * 12 + p1.month);
      break;
    case Interval::kDayOfYear:
    case Interval::kDay:
      r = DayIndex(d2) - DayIndex(d1);
      break;
    case Interval::kWeekday:
      r = (DayIndex(d2) - DayIndex(d1)) / 7;
      break;
    case Interval::kWeek: {
      // Day 1 (1899-12-31) is a Sunday: week numbers counted from a first day.
      const std::int64_t anchor = first;
      r = FloorDiv(DayIndex(d2) - anchor, 7) - FloorDiv(DayIndex(d1) - anchor, 7);
      break;
    }
    case Interval::kHour:
      r = FloorDiv(ms2, 3600000) - FloorDiv(ms1, 3600000);
      break;
    case Interval::kMinute:
      r = FloorDiv(ms2, 60000) - FloorDiv(ms1, 60000);
      break;
    case Interval::kSecond:
      r = FloorDiv(ms2, 1000) - FloorDiv(ms1, 1000);
      break;
  }
  if (r < -2147483648LL || r > 2147483647LL) return Fail(kOverflow);
  return Value::Long(static_cast<std::int32_t>(r));
}

Result<Value> DatePart(std::span<const Value> a) {
  VELQUIN_ASSIGN_OR_RETURN(Interval interval, IntervalOf(a[0]));
  VELQUIN_ASSIGN_OR_RETURN(int first, FirstDay(a, 2));
  VELQUIN_ASSIGN_OR_RETURN(int first_week, FirstWeek(a, 3));
  if (a[1].is_null()) return Value();
  VELQUIN_ASSIGN_OR_RETURN(DateTime d, ToDate(a[1]));
  const DateTime::Parts p = d.ToParts();
  int r = 0;
  switch (interval) {
    case Interval::kYear:
      r = p.year;
      break;
    case Interval::kQuarter:
      r = (p.month - 1) / 3 + 1;
      break;
    case Interval::kMonth:
      r = p.month;
      break;
    case Interval::kDayOfYear:
      r = static_cast<int>(DayIndex(d) - DayOf(p.year, 1, 1)) + 1;
      break;
    case Interval::kDay:
      r = p.day;
      break;
    case Interval::kWeekday:
      r = WeekdayOf(d, first);
      break;
    case Interval::kWeek:
      r = WeekOfYear(d, first, first_week);
      break;
    case Interval::kHour:
      r = p.hour;
      break;
    case Interval::kMinute:
      r = p.minute;
      break;
    case Interval::kSecond:
      r = p.second;
      break;
  }
  return Value::Short(static_cast<std::int16_t>(r));
}

// DateSerial(year, month, day): months and days past their range roll over
// (month 13 is January of the next year, day 0 the last day of the month
// before); years 0..29 are 2000..2029 and 30..99 are 1930..1999.
Result<Value> DateSerial(std::span<const Value> a) {
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t y, WholeArgument(a[0]));
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t m, WholeArgument(a[1]));
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t d, WholeArgument(a[2]));
  if (y >= 0 && y < 30) y += 2000;
  if (y >= 30 && y < 100) y += 1900;
  const std::int64_t total = y * 12 + (m - 1);
  const std::int64_t year = FloorDiv(total, 12);
  if (year < 100 || year > 9999) return Fail(kInvalidCall);
  const int month = static_cast<int>(total - year * 12) + 1;
  const std::int64_t day = DayOf(static_cast<int>(year), month, 1) + (d - 1);
  if (day < kFirstDay || day > kLastDay) return Fail(kInvalidCall);
  return Value::Date(DateTime{static_cast<double>(day)});
}

// TimeSerial(hour, minute, second): parts past their range roll over into
// the day before or after 1899-12-30.
Result<Value> TimeSerial(std::span<const Value> a) {
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t h, WholeArgument(a[0]));
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t m, WholeArgument(a[1]));
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t s, WholeArgument(a[2]));
  VELQUIN_ASSIGN_OR_RETURN(DateTime r, FromLinearMs(((h * 60 + m) * 60 + s) * 1000));
  return Value::Date(r);
}

// DateValue and TimeValue keep the date or the time of a date or a text;
// NULL gives NULL.
template <bool kDate>
Result<Value> ValuePart(std::span<const Value> a) {
  if (a[0].is_null()) return Value();
  if (a[0].kind() != ValueKind::kText && a[0].kind() != ValueKind::kDateTime) {
    return Fail(kTypeMismatch);
  }
  VELQUIN_ASSIGN_OR_RETURN(DateTime d, ToDate(a[0]));
  const std::int64_t ms = LinearMs(d), day = FloorDiv(ms, kMsPerDay);
  VELQUIN_ASSIGN_OR_RETURN(DateTime r,
                           FromLinearMs(kDate ? day * kMsPerDay : ms - day * kMsPerDay));
  return Value::Date(r);
}

DateTime LocalNow() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return DateTime::FromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                             tm.tm_sec);
}

Result<Value> Now(std::span<const Value>) { return Value::Date(LocalNow()); }

Result<Value> Today(std::span<const Value>) {
  const DateTime::Parts p = LocalNow().ToParts();
  return Value::Date(DateTime::FromParts(p.year, p.month, p.day));
}

Result<Value> TimeNow(std::span<const Value>) {
  const DateTime::Parts p = LocalNow().ToParts();
  return Value::Date(DateTime::FromParts(1899, 12, 30, p.hour, p.minute, p.second));
}

const FunctionDef kFunctions[] = {
    {"Year", 1, 1, PartOf<0>, nullptr},
    {"Month", 1, 1, PartOf<1>, nullptr},
    {"Day", 1, 1, PartOf<2>, nullptr},
    {"Hour", 1, 1, PartOf<3>, nullptr},
    {"Minute", 1, 1, PartOf<4>, nullptr},
    {"Second", 1, 1, PartOf<5>, nullptr},
    {"Weekday", 1, 2, Weekday, nullptr},
    {"MonthName", 1, 2, MonthNameOf, nullptr},
    {"WeekdayName", 1, 3, WeekdayNameOf, nullptr},
    {"DateAdd", 3, 3, DateAdd, nullptr},
    {"DateDiff", 3, 5, DateDiff, nullptr},
    {"DatePart", 2, 4, DatePart, nullptr},
    {"DateSerial", 3, 3, DateSerial, nullptr},
    {"TimeSerial", 3, 3, TimeSerial, nullptr},
    {"DateValue", 1, 1, ValuePart<true>, nullptr},
    {"TimeValue", 1, 1, ValuePart<false>, nullptr},
    {"Now", 0, 0, Now, nullptr},
    {"Date", 0, 0, Today, nullptr},
    {"Time", 0, 0, TimeNow, nullptr},
};

}  // namespace

std::int64_t LinearMs(DateTime d) {
  const DateTime::Parts p = d.ToParts();
  const std::int64_t day = DayOf(p.year, p.month, p.day);
  return day * kMsPerDay + ((p.hour * 60LL + p.minute) * 60 + p.second) * 1000 + p.millisecond;
}

Result<DateTime> FromLinearMs(std::int64_t ms) {
  const std::int64_t day = FloorDiv(ms, kMsPerDay);
  if (day < kFirstDay || day > kLastDay) return Fail(kInvalidCall);
  const double frac = static_cast<double>(ms - day * kMsPerDay) / kMsPerDay;
  const double whole = static_cast<double>(day);
  return DateTime{day >= 0 ? whole + frac : whole - frac};
}

int WeekdayOf(DateTime d, int first_day) {
  // Day 0 (1899-12-30) was a Saturday: weekday 7 counted from Sunday.
  const int sunday_based = static_cast<int>(((DayIndex(d) + 6) % 7 + 7) % 7) + 1;
  if (first_day < 1 || first_day > 7) first_day = 1;
  return (sunday_based - first_day + 7) % 7 + 1;
}

int WeekOfYear(DateTime d, int first_day, int first_week) {
  const int year = d.ToParts().year;
  // The first day of week 1 of `y`.
  auto week_one = [&](int y) {
    const std::int64_t jan1 = DayOf(y, 1, 1);
    const int back = WeekdayOf(DateTime{static_cast<double>(jan1)}, first_day) - 1;
    std::int64_t start = jan1 - back;  // the week holding January 1
    if (first_week == 2 && 7 - back < 4) start += 7;
    if (first_week == 3 && back != 0) start += 7;
    return start;
  };
  const std::int64_t day = DayIndex(d);
  std::int64_t start = week_one(year);
  if (day < start) start = week_one(year - 1);
  return static_cast<int>((day - start) / 7) + 1;
}

std::string_view MonthName(int month, bool abbreviated) {
  static constexpr std::string_view kNames[] = {"January",   "February", "March",    "April",
                                                "May",       "June",     "July",     "August",
                                                "September", "October",  "November", "December"};
  std::string_view n = kNames[(month - 1) % 12];
  return abbreviated ? n.substr(0, 3) : n;
}

std::string_view DayName(int weekday, bool abbreviated) {
  static constexpr std::string_view kNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                "Thursday", "Friday", "Saturday"};
  std::string_view n = kNames[(weekday - 1) % 7];
  return abbreviated ? n.substr(0, 3) : n;
}

std::string GeneralDateText(DateTime d) {
  const DateTime::Parts p = d.ToParts();
  char date[32], time[32];
  std::snprintf(date, sizeof date, "%d/%d/%d", p.month, p.day, p.year);
  const int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
  std::snprintf(time, sizeof time, "%d:%02d:%02d %s", h12, p.minute, p.second,
                p.hour < 12 ? "AM" : "PM");
  const bool midnight = p.hour == 0 && p.minute == 0 && p.second == 0 && p.millisecond == 0;
  if (DayIndex(d) == 0) return time;  // a time alone lies on day 0
  if (midnight) return date;
  return std::string(date) + " " + time;
}

std::span<const FunctionDef> DateFunctions() { return kFunctions; }

}  // namespace velquin::jet::sql::fn
