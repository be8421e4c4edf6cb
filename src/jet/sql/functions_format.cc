// Format(value[, format[, first day of week[, first week of year]]]) with
// United States English settings.
//
// Named formats: General Number, Currency ("$1,234.50", negatives in
// parentheses), Fixed ("1234.50"), Standard ("1,234.50"), Percent
// ("12.50%"), Scientific ("1.23E+03"), Yes/No, True/False, On/Off, General
// Date, Long Date ("Wednesday, January 31, 2024"), Medium Date ("31-Jan-24"),
// Short Date ("1/31/2024"), Long Time ("10:20:30 AM"), Medium Time ("10:20
// AM"), Short Time ("10:20"). Custom number formats: 0 and # digits, "."
// and "," (thousands), %, E+00 / E-00, literals ("text", \c, $ - + ( ) and
// blanks), up to four sections (positive;negative;zero;null). Custom date
// formats: d dd ddd dddd ddddd dddddd w ww m mm mmm mmmm q y yy yyyy h hh n
// nn s ss ttttt c, AM/PM am/pm A/P a/p AMPM; "m" right after an hour or
// before a second is the minute, as in Access. Numbers are rounded half away
// from zero at their 15th significant digit, as Format does (Format(2.5,
// "0") is "3", unlike Round). A text that holds a number or a date is
// formatted as one; any other text comes back as it is. NULL gives NULL, or
// the fourth section of a number format.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "jet/sql/datetime_text.h"
#include "jet/sql/functions.h"
#include "jet/sql/functions_internal.h"
#include "jet/sql/names.h"

namespace velquin::jet::sql::fn {
namespace {

// Splits a format into its sections at ";" outside quotes.
std::vector<std::string> Sections(const std::string& f) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (std::size_t i = 0; i < f.size(); ++i) {
    const char c = f[i];
    if (c == '"') quoted = !quoted;
    if (c == '\\' && i + 1 < f.size()) {
      out.back() += f.substr(i, 2);
      ++i;
      continue;
    }
    if (c == ';' && !quoted) {
      out.emplace_back();
      continue;
    }
    out.back() += c;
  }
  return out;
}

// |x| as decimal digits rounded half away from zero at `decimals` places,
// after taking the value to 15 significant digits.
void Digits(double x, int decimals, std::string* whole, std::string* fraction) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(x));
  std::string d;
  for (const char* p = buf; *p && *p != 'e'; ++p) {
    if (*p != '.') d += *p;
  }
  int exponent = std::atoi(std::strchr(buf, 'e') + 1);
  if (x == 0) exponent = 0, d = std::string(15, '0');
  // d holds the digits of 0.d × 10^(exponent + 1).
  int int_digits = exponent + 1;
  const int keep = int_digits + decimals;
  if (keep < 0) {
    d = "0";
    int_digits = 1;
  } else if (keep < static_cast<int>(d.size())) {
    const bool up = d[static_cast<std::size_t>(keep)] >= '5';
    d.resize(static_cast<std::size_t>(keep));
    if (up) {
      int i = keep - 1;
      while (i >= 0 && d[static_cast<std::size_t>(i)] == '9')
        d[static_cast<std::size_t>(i--)] = '0';
      if (i >= 0) {
        ++d[static_cast<std::size_t>(i)];
      } else {
        d.insert(d.begin(), '1');
        ++int_digits;
      }
    }
  }
  // Pad so that both parts exist.
  if (int_digits <= 0) {
    d.insert(0, static_cast<std::size_t>(-int_digits), '0');
    int_digits = 0;
  }
  while (static_cast<int>(d.size()) < int_digits + decimals) d += '0';
  *whole = d.substr(0, static_cast<std::size_t>(int_digits));
  *fraction = d.substr(static_cast<std::size_t>(int_digits), static_cast<std::size_t>(decimals));
  const std::size_t nz = whole->find_first_not_of('0');
  *whole = nz == std::string::npos ? "" : whole->substr(nz);
}

std::string Grouped(const std::string& digits) {
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// One section of a number format applied to x (the sign handled outside).
std::string NumberSection(const std::string& f, double x) {
  std::string prefix, suffix;
  std::string int_pattern, frac_pattern, exp_pattern;
  bool seen_digit = false, in_fraction = false, in_exponent = false, percent = false;
  char exp_sign = 0;
  std::string* literal = &prefix;
  for (std::size_t i = 0; i < f.size(); ++i) {
    const char c = f[i];
    if (c == '"') {
      const std::size_t close = f.find('"', i + 1);
      *literal += f.substr(i + 1, (close == std::string::npos ? f.size() : close) - i - 1);
      i = close == std::string::npos ? f.size() : close;
      continue;
    }
    if (c == '\\' && i + 1 < f.size()) {
      *literal += f[++i];
      continue;
    }
    if (c == '0' || c == '#') {
      seen_digit = true;
      literal = &suffix;
      (in_exponent ? exp_pattern : in_fraction ? frac_pattern : int_pattern) += c;
      continue;
    }
    if (c == '.' && !in_fraction && !in_exponent) {
      in_fraction = true;
      seen_digit = true;
      literal = &suffix;
      continue;
    }
    if (c == ',' && seen_digit && !in_fraction && !in_exponent) {
      int_pattern += ',';
      continue;
    }
    if ((c == 'E' || c == 'e') && seen_digit && i + 1 < f.size() &&
        (f[i + 1] == '+' || f[i + 1] == '-')) {
      in_exponent = true;
      exp_sign = f[++i];
      continue;
    }
    if (c == '%') percent = true;
    *literal += c;
  }
  if (percent) x *= 100;
  const bool grouped = int_pattern.find(',') != std::string::npos;
  std::size_t int_zeros = 0;
  for (char c : int_pattern) int_zeros += c == '0';
  std::size_t frac_zeros = 0;
  for (char c : frac_pattern) frac_zeros += c == '0';
  const int decimals = static_cast<int>(frac_pattern.size());
  std::string exponent_text;
  if (in_exponent) {
    int int_places = 0;
    for (char c : int_pattern) int_places += c != ',';
    if (int_places == 0) int_places = 1;
    int e = x == 0 ? 0 : static_cast<int>(std::floor(std::log10(std::fabs(x)))) - (int_places - 1);
    double m = x / std::pow(10.0, e);
    std::string w, fr;
    Digits(m, decimals, &w, &fr);
    if (static_cast<int>(w.size()) > int_places) {  // 9.99 rounded up to 10.0
      ++e;
      m = x / std::pow(10.0, e);
    }
    x = m;
    std::string digits = std::to_string(std::abs(e));
    std::size_t min = 0;
    for (char c : exp_pattern) min += c == '0';
    while (digits.size() < min) digits.insert(digits.begin(), '0');
    exponent_text = std::string("E") + (e < 0 ? "-" : exp_sign == '+' ? "+" : "") + digits;
  }
  std::string whole, fraction;
  Digits(x, decimals, &whole, &fraction);
  while (whole.size() < int_zeros) whole.insert(whole.begin(), '0');
  if (grouped) whole = Grouped(whole);
  while (fraction.size() > frac_zeros && fraction.back() == '0') fraction.pop_back();
  std::string number = whole;
  if (in_fraction) number += "." + fraction;
  return prefix + number + exponent_text + suffix;
}

bool IsZeroAt(double x, const std::string& section) {
  std::string whole, fraction;
  std::size_t point = section.find('.');
  int decimals = 0;
  if (point != std::string::npos) {
    for (std::size_t i = point + 1; i < section.size() && (section[i] == '0' || section[i] == '#');
         ++i) {
      ++decimals;
    }
  }
  Digits(x, decimals, &whole, &fraction);
  return whole.empty() && fraction.find_first_not_of('0') == std::string::npos;
}

std::string FormatNumber(double x, const std::string& format) {
  const std::vector<std::string> s = Sections(format);
  auto pick = [&](std::size_t i) { return i < s.size() && !s[i].empty() ? s[i] : s[0]; };
  if (x < 0 && s.size() > 1) return NumberSection(pick(1), -x);
  if (x == 0 && s.size() > 2) return NumberSection(pick(2), 0);
  std::string out = NumberSection(s[0], std::fabs(x));
  if (x < 0 && !IsZeroAt(std::fabs(x), s[0])) out.insert(out.begin(), '-');
  return out;
}

// Counts how often `c` repeats at f[i] (case-insensitive).
std::size_t Run(const std::string& f, std::size_t i, char c) {
  std::size_t n = 0;
  while (i + n < f.size() && (f[i + n] | 0x20) == c) ++n;
  return n;
}

bool StartsWithNoCase(const std::string& f, std::size_t i, std::string_view what) {
  return LowerAscii(f.substr(i, what.size())) == LowerAscii(what);
}

std::string Two(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

std::string FormatDate(DateTime d, const std::string& f, int first_day, int first_week);

std::string ShortDate(DateTime d) { return FormatDate(d, "m/d/yyyy", 1, 1); }
std::string LongDate(DateTime d) { return FormatDate(d, "dddd, mmmm d, yyyy", 1, 1); }
std::string LongTime(DateTime d) { return FormatDate(d, "h:nn:ss AM/PM", 1, 1); }

std::string FormatDate(DateTime d, const std::string& f, int first_day, int first_week) {
  const DateTime::Parts p = d.ToParts();
  const std::string lower = LowerAscii(f);
  const bool twelve = lower.find("am/pm") != std::string::npos ||
                      lower.find("a/p") != std::string::npos ||
                      lower.find("ampm") != std::string::npos;
  const int hour12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
  std::string out;
  bool after_hour = false;
  for (std::size_t i = 0; i < f.size();) {
    const char c = f[i];
    const char l = static_cast<char>(c | 0x20);
    if (c == '"') {
      const std::size_t close = f.find('"', i + 1);
      out += f.substr(i + 1, (close == std::string::npos ? f.size() : close) - i - 1);
      i = close == std::string::npos ? f.size() : close + 1;
      continue;
    }
    if (c == '\\' && i + 1 < f.size()) {
      out += f[i + 1];
      i += 2;
      continue;
    }
    if (StartsWithNoCase(f, i, "am/pm")) {
      const bool upper = f[i] == 'A';
      out += p.hour < 12 ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
      i += 5;
      continue;
    }
    if (StartsWithNoCase(f, i, "a/p")) {
      const bool upper = f[i] == 'A';
      out += p.hour < 12 ? (upper ? "A" : "a") : (upper ? "P" : "p");
      i += 3;
      continue;
    }
    if (StartsWithNoCase(f, i, "ampm")) {
      out += p.hour < 12 ? "AM" : "PM";
      i += 4;
      continue;
    }
    std::size_t n = std::isalpha(static_cast<unsigned char>(c)) ? Run(f, i, l) : 0;
    bool hour_token = false;
    switch (n ? l : '\0') {
      case 'c':
        out += GeneralDateText(d);
        break;
      case 'd':
        if (n == 1) out += std::to_string(p.day);
        if (n == 2) out += Two(p.day);
        if (n == 3) out += DayName(WeekdayOf(d, 1), true);
        if (n == 4) out += DayName(WeekdayOf(d, 1), false);
        if (n == 5) out += ShortDate(d);
        if (n >= 6) out += LongDate(d);
        break;
      case 'w':
        out +=
            std::to_string(n == 1 ? WeekdayOf(d, first_day) : WeekOfYear(d, first_day, first_week));
        break;
      case 'm': {
        // Minutes right after an hour or before a second.
        std::size_t j = i + n;
        while (j < f.size() && !std::isalpha(static_cast<unsigned char>(f[j]))) ++j;
        const bool minute = n <= 2 && (after_hour || (j < f.size() && (f[j] | 0x20) == 's'));
        if (minute) {
          out += n == 1 ? std::to_string(p.minute) : Two(p.minute);
        } else if (n <= 2) {
          out += n == 1 ? std::to_string(p.month) : Two(p.month);
        } else {
          out += MonthName(p.month, n == 3);
        }
        break;
      }
      case 'q':
        out += std::to_string((p.month - 1) / 3 + 1);
        break;
      case 'y':
        if (n == 1) {
          out += std::to_string(static_cast<int>(DateTime::FromParts(p.year, p.month, p.day).days -
                                                 DateTime::FromParts(p.year, 1, 1).days) +
                                1);
        } else if (n <= 3) {
          out += Two(p.year % 100);
        } else {
          out += std::to_string(p.year);
        }
        break;
      case 'h': {
        const int h = twelve ? hour12 : p.hour;
        out += n == 1 ? std::to_string(h) : Two(h);
        hour_token = true;
        break;
      }
      case 'n':
        out += n == 1 ? std::to_string(p.minute) : Two(p.minute);
        break;
      case 's':
        out += n == 1 ? std::to_string(p.second) : Two(p.second);
        break;
      case 't':
        if (n >= 5) {
          out += LongTime(d);
        } else {
          out += f.substr(i, n);
        }
        break;
      default:
        n = 1;
        out += c;
        if (std::isalpha(static_cast<unsigned char>(c))) break;
        i += n;
        continue;
    }
    after_hour = hour_token;
    i += n;
  }
  return out;
}

// True when a custom format is a date format: it has date or time letters
// and no digit placeholders outside quotes.
bool IsDateFormat(const std::string& f) {
  bool date = false;
  for (std::size_t i = 0; i < f.size(); ++i) {
    const char c = f[i];
    if (c == '"') {
      const std::size_t close = f.find('"', i + 1);
      if (close == std::string::npos) break;
      i = close;
      continue;
    }
    if (c == '\\') {
      ++i;
      continue;
    }
    if (c == '0' || c == '#') return false;
    if (std::string_view("dwmqyhnsctDWMQYHNSCT").find(c) != std::string_view::npos) date = true;
  }
  return date;
}

Result<Value> Format(std::span<const Value> a) {
  const Value& v = a[0];
  const std::string format = a.size() > 1 && !a[1].is_null() ? ToText(a[1]) : "";
  int first_day = 1, first_week = 1;
  if (a.size() > 2 && !a[2].is_null()) {
    VELQUIN_ASSIGN_OR_RETURN(std::int64_t f, WholeArgument(a[2]));
    if (f < 0 || f > 7) return Fail(kInvalidCall);
    first_day = f == 0 ? 1 : static_cast<int>(f);
  }
  if (a.size() > 3 && !a[3].is_null()) {
    VELQUIN_ASSIGN_OR_RETURN(std::int64_t f, WholeArgument(a[3]));
    if (f < 0 || f > 3) return Fail(kInvalidCall);
    first_week = f == 0 ? 1 : static_cast<int>(f);
  }
  if (v.is_null()) {
    const std::vector<std::string> s = Sections(format);
    if (s.size() >= 4 && !IsDateFormat(format)) return Value::Text(NumberSection(s[3], 0));
    return Value();
  }
  if (format.empty()) return Value::Text(ToText(v));
  const std::string named = LowerAscii(format);
  // What the value is: a number, a date, or a text that is neither.
  std::optional<double> number;
  std::optional<DateTime> date;
  if (v.kind() == ValueKind::kDateTime) {
    date = v.datetime_value();
  } else if (v.kind() == ValueKind::kText) {
    auto n = ToNumber(v);
    if (n.ok()) {
      number = *n;
    } else if (auto t = ParseDateTimeText(v.text_value()); t.ok()) {
      date = DateTime{t->ToJetDays()};
    }
  } else if (IsNumberKind(v)) {
    VELQUIN_ASSIGN_OR_RETURN(double n, ToNumber(v));
    number = n;
  }
  if (!number && !date) {
    if (named == ">" || named == "<")
      return CallFunction(named == ">" ? "UCase" : "LCase", a.first(1));
    return Value::Text(ToText(v));
  }
  const double x = number ? *number : date->days;
  auto as_date = [&]() -> Result<DateTime> {
    if (date) return *date;
    return ToDate(Value::Double(x));
  };
  struct Named {
    const char* name;
    const char* pattern;
    bool is_date;
  };
  static constexpr Named kNamed[] = {
      {"currency", "$#,##0.00;($#,##0.00)", false},
      {"fixed", "0.00", false},
      {"standard", "#,##0.00", false},
      {"percent", "0.00%", false},
      {"scientific", "0.00E+00", false},
      {"long date", "dddd, mmmm d, yyyy", true},
      {"medium date", "dd-mmm-yy", true},
      {"short date", "m/d/yyyy", true},
      {"long time", "h:nn:ss AM/PM", true},
      {"medium time", "hh:nn AM/PM", true},
      {"short time", "hh:nn", true},
  };
  if (named == "general number") return Value::Text(NumberText(x));
  if (named == "general date") {
    VELQUIN_ASSIGN_OR_RETURN(DateTime d, as_date());
    return Value::Text(GeneralDateText(d));
  }
  if (named == "yes/no") return Value::Text(x != 0 ? "Yes" : "No");
  if (named == "true/false") return Value::Text(x != 0 ? "True" : "False");
  if (named == "on/off") return Value::Text(x != 0 ? "On" : "Off");
  std::string pattern = format;
  bool is_date = IsDateFormat(format);
  for (const Named& n : kNamed) {
    if (named == n.name) pattern = n.pattern, is_date = n.is_date;
  }
  if (is_date) {
    VELQUIN_ASSIGN_OR_RETURN(DateTime d, as_date());
    return Value::Text(FormatDate(d, pattern, first_day, first_week));
  }
  return Value::Text(FormatNumber(x, pattern));
}

const FunctionDef kFunctions[] = {
    {"Format", 1, 4, Format, nullptr},
};

}  // namespace

std::span<const FunctionDef> FormatFunctions() { return kFunctions; }

}  // namespace velquin::jet::sql::fn
