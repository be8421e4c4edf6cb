#include "jet/sql/datetime_text.h"

#include <cctype>
#include <cstdio>

namespace velquin::jet::sql {
namespace {

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (m == 2 && IsLeapYear(y)) ? 29 : kDays[m - 1];
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

class Scanner {
 public:
  explicit Scanner(std::string_view s) : s_(s) {}
  bool AtEnd() const { return pos_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[pos_]; }
  void Skip() { ++pos_; }
  void SkipBlanks() {
    while (!AtEnd() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
  }
  // Reads 1..max_digits digits; returns the count read (0 if none).
  int Digits(int max_digits, int64_t* value) {
    int n = 0;
    *value = 0;
    while (!AtEnd() && n < max_digits && std::isdigit(static_cast<unsigned char>(s_[pos_]))) {
      *value = *value * 10 + (s_[pos_] - '0');
      ++pos_;
      ++n;
    }
    return n;
  }
  bool Accept(char c) {
    if (Peek() == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool AcceptWordIgnoringCase(std::string_view w) {
    if (s_.size() - pos_ < w.size()) return false;
    for (size_t i = 0; i < w.size(); ++i) {
      if (std::toupper(static_cast<unsigned char>(s_[pos_ + i])) != w[i]) return false;
    }
    pos_ += w.size();
    return true;
  }
  size_t pos() const { return pos_; }

 private:
  std::string_view s_;
  size_t pos_ = 0;
};

Status Invalid(std::string_view text, std::string_view why) {
  return Status::InvalidArgument("'" + std::string(text) +
                                 "' is not a valid date or time: " + std::string(why) + ".");
}

// Reads "h:mm[:ss[.fff...]] [AM|PM]" into v.
Status ReadTime(Scanner& sc, std::string_view text, DateTimeValue* v) {
  int64_t h = 0, mi = 0, se = 0;
  if (sc.Digits(2, &h) == 0 || !sc.Accept(':') || sc.Digits(2, &mi) != 2) {
    return Invalid(text, "the time must be written h:mm or h:mm:ss");
  }
  int millis = 0;
  if (sc.Accept(':')) {
    if (sc.Digits(2, &se) != 2) return Invalid(text, "the seconds need two digits");
    if (sc.Accept('.')) {
      int64_t digit = 0;
      int count = 0;
      while (sc.Digits(1, &digit) == 1) {
        if (count < 3) millis = millis * 10 + static_cast<int>(digit);
        ++count;
      }
      if (count == 0) return Invalid(text, "a decimal point must be followed by digits");
      for (int i = count; i < 3; ++i) millis *= 10;
    }
  }
  sc.SkipBlanks();
  if (sc.AcceptWordIgnoringCase("AM") || sc.AcceptWordIgnoringCase("PM")) {
    const bool pm = text[sc.pos() - 2] == 'P' || text[sc.pos() - 2] == 'p';
    if (h < 1 || h > 12) return Invalid(text, "the hour must be 1 to 12 before AM or PM");
    h = (h % 12) + (pm ? 12 : 0);
  }
  if (h > 23) return Invalid(text, "the hour must be 0 to 23");
  if (mi > 59) return Invalid(text, "the minute must be 0 to 59");
  if (se > 59) return Invalid(text, "the second must be 0 to 59");
  v->hour = static_cast<int>(h);
  v->minute = static_cast<int>(mi);
  v->second = static_cast<int>(se);
  v->millisecond = millis;
  return Status::Ok();
}

}  // namespace

double DateTimeValue::ToJetDays() const {
  const int64_t days = DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30);
  const double fraction =
      (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / 86400000.0;
  return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

std::string DateTimeValue::ToIsoText() const {
  char buf[48];
  int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
  if (hour != 0 || minute != 0 || second != 0 || millisecond != 0) {
    n += std::snprintf(buf + n, sizeof buf - n, " %02d:%02d:%02d", hour, minute, second);
    if (millisecond != 0) std::snprintf(buf + n, sizeof buf - n, ".%03d", millisecond);
  }
  return buf;
}

Result<DateTimeValue> ParseDateTimeText(std::string_view text) {
  Scanner sc(text);
  sc.SkipBlanks();
  DateTimeValue v;
  int64_t a = 0, b = 0, c = 0;
  const size_t start = sc.pos();
  const int na = sc.Digits(4, &a);
  if (na == 0) return Invalid(text, "it must start with a date or a time");
  if (sc.Peek() == ':') {
    // A time alone: rescan from the start as a time.
    Scanner tsc(text);
    tsc.SkipBlanks();
    VELQUIN_RETURN_IF_ERROR(ReadTime(tsc, text, &v));
    tsc.SkipBlanks();
    if (!tsc.AtEnd()) return Invalid(text, "unexpected text after the time");
    return v;
  }
  (void)start;
  const char sep = sc.Peek();
  if (sep != '-' && sep != '/') return Invalid(text, "the date parts must be separated by - or /");
  sc.Skip();
  if (sc.Digits(2, &b) == 0 || !sc.Accept(sep)) {
    return Invalid(text, "the date must have a year, a month and a day");
  }
  const int nc = sc.Digits(4, &c);
  if (nc == 0) return Invalid(text, "the date must have a year, a month and a day");
  int64_t year = 0, month = 0, day = 0;
  if (na >= 3) {  // the year first: 2024-01-31, 0100-01-01, 100-01-01
    year = a, month = b, day = c;
    if (nc > 2) return Invalid(text, "the day needs at most two digits");
  } else if (sep == '/' && nc == 4 && na <= 2) {
    month = a, day = b, year = c;
  } else {
    return Invalid(text, "write the date as yyyy-mm-dd or m/d/yyyy");
  }
  if (year < 100 || year > 9999) return Invalid(text, "the year must be 100 to 9999");
  if (month < 1 || month > 12) return Invalid(text, "the month must be 1 to 12");
  if (day < 1 || day > DaysInMonth(static_cast<int>(year), static_cast<int>(month))) {
    return Invalid(text, "that month has no such day");
  }
  v.year = static_cast<int>(year);
  v.month = static_cast<int>(month);
  v.day = static_cast<int>(day);
  bool has_time = false;
  if (sc.Peek() == 'T' || sc.Peek() == ' ' || sc.Peek() == '\t') {
    sc.Skip();
    sc.SkipBlanks();
    if (!sc.AtEnd()) {
      VELQUIN_RETURN_IF_ERROR(ReadTime(sc, text, &v));
      has_time = true;
    }
  }
  sc.SkipBlanks();
  if (!sc.AtEnd()) {
    return Invalid(text,
                   has_time ? "unexpected text after the time" : "unexpected text after the date");
  }
  return v;
}

}  // namespace velquin::jet::sql
