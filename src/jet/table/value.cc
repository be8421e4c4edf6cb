#include "jet/table/value.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text.h"

namespace velquin::jet {
namespace {

__extension__ typedef unsigned __int128 U128;

U128 Mag(const Decimal& d) { return (static_cast<U128>(d.hi) << 64) | d.lo; }

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(y + (m <= 2));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

constexpr std::int64_t kEpochOffset = 25569;  // 1970-01-01 minus 1899-12-30 in days

bool ParseDigits(std::string_view s, std::size_t& i, std::size_t n, int* out) {
  int v = 0;
  for (std::size_t k = 0; k < n; ++k) {
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i++] - '0');
  }
  *out = v;
  return true;
}

}  // namespace

std::string ColumnTypeName(ColumnType t) {
  switch (t) {
    case ColumnType::kBool:
      return "BIT";
    case ColumnType::kByte:
      return "BYTE";
    case ColumnType::kShort:
      return "SHORT";
    case ColumnType::kLong:
      return "LONG";
    case ColumnType::kCurrency:
      return "CURRENCY";
    case ColumnType::kSingle:
      return "SINGLE";
    case ColumnType::kDouble:
      return "DOUBLE";
    case ColumnType::kDateTime:
      return "DATETIME";
    case ColumnType::kBinary:
      return "BINARY";
    case ColumnType::kText:
      return "TEXT";
    case ColumnType::kOle:
      return "LONGBINARY";
    case ColumnType::kMemo:
      return "MEMO";
    case ColumnType::kGuid:
      return "GUID";
    case ColumnType::kNumeric:
      return "DECIMAL";
  }
  char buf[24];
  std::snprintf(buf, sizeof buf, "UNKNOWN_0x%02X", static_cast<unsigned>(t));
  return buf;
}

std::string Currency::ToString() const {
  std::uint64_t mag =
      units < 0 ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s%llu.%04llu", units < 0 ? "-" : "",
                static_cast<unsigned long long>(mag / 10000),
                static_cast<unsigned long long>(mag % 10000));
  return buf;
}

Result<Currency> Currency::Parse(std::string_view text) {
  auto d = Decimal::Parse(text, 4);
  if (!d.ok()) return d.status();
  U128 m = Mag(*d);
  U128 limit = static_cast<U128>(1) << 63;
  if (m > limit || (m == limit && !d->negative)) {
    return Status::InvalidArgument("currency value out of range: " + std::string(text));
  }
  std::int64_t v = d->negative ? static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(m))
                               : static_cast<std::int64_t>(static_cast<std::uint64_t>(m));
  return Currency{v};
}

DateTime DateTime::FromParts(int year, int month, int day, int hour, int minute, int second,
                             int millisecond) {
  std::int64_t days =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kEpochOffset;
  double frac = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / 86400000.0;
  double v = days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
  return DateTime{v};
}

DateTime::Parts DateTime::ToParts() const {
  double v = std::isfinite(days) ? days : 0;
  if (v > 2958465.999999) v = 2958465.999999;
  if (v < -657434.999999) v = -657434.999999;
  double whole = std::trunc(v);
  double frac = std::fabs(v - whole);
  std::int64_t day = static_cast<std::int64_t>(whole);
  std::int64_t ms = std::llround(frac * 86400000.0);
  if (ms >= 86400000) {
    ms -= 86400000;
    day += 1;
  }
  Parts p{};
  CivilFromDays(day - kEpochOffset, &p.year, &p.month, &p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.millisecond = static_cast<int>(ms % 1000);
  return p;
}

std::string DateTime::ToString() const {
  Parts p = ToParts();
  // The usual case written digit by digit (millions of dates are printed
  // when a table is read out).
  if (p.millisecond == 0 && p.year >= 0 && p.year <= 9999 && p.month >= 0 && p.month <= 99 &&
      p.day >= 0 && p.day <= 99 && p.hour >= 0 && p.hour <= 99 && p.minute >= 0 && p.minute <= 99 &&
      p.second >= 0 && p.second <= 99) {
    std::string out = "0000-00-00 00:00:00";
    auto put = [&](std::size_t at, int value, int digits) {
      for (int k = digits - 1; k >= 0; --k, value /= 10) {
        out[at + static_cast<std::size_t>(k)] = static_cast<char>('0' + value % 10);
      }
    };
    put(0, p.year, 4);
    put(5, p.month, 2);
    put(8, p.day, 2);
    put(11, p.hour, 2);
    put(14, p.minute, 2);
    put(17, p.second, 2);
    return out;
  }
  char buf[48];
  if (p.millisecond != 0) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day,
                  p.hour, p.minute, p.second, p.millisecond);
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second);
  }
  return buf;
}

Result<DateTime> DateTime::Parse(std::string_view s) {
  std::size_t i = 0;
  int y, mo, d, h = 0, mi = 0, se = 0, ms = 0;
  auto bad = [&]() { return Status::InvalidArgument("not a date: \"" + std::string(s) + "\""); };
  if (!ParseDigits(s, i, 4, &y) || i >= s.size() || s[i++] != '-' || !ParseDigits(s, i, 2, &mo) ||
      i >= s.size() || s[i++] != '-' || !ParseDigits(s, i, 2, &d)) {
    return bad();
  }
  if (i < s.size()) {
    if (s[i] != ' ' && s[i] != 'T') return bad();
    ++i;
    if (!ParseDigits(s, i, 2, &h) || i >= s.size() || s[i++] != ':' || !ParseDigits(s, i, 2, &mi)) {
      return bad();
    }
    if (i < s.size() && s[i] == ':') {
      ++i;
      if (!ParseDigits(s, i, 2, &se)) return bad();
      if (i < s.size() && s[i] == '.') {
        ++i;
        int scale = 100;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
          ms += (s[i++] - '0') * scale;
          scale /= 10;
        }
      }
    }
    if (i != s.size()) return bad();
  }
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (y < 100 || mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] || (mo == 2 && d == 29 && !leap) ||
      h > 23 || mi > 59 || se > 59) {
    return bad();
  }
  return FromParts(y, mo, d, h, mi, se, ms);
}

std::string Guid::ToString() const {
  char buf[48];
  const auto& b = bytes;
  std::snprintf(buf, sizeof buf,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0],
                b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return buf;
}

Result<Guid> Guid::Parse(std::string_view s) {
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36) return Status::InvalidArgument("not a GUID: \"" + std::string(s) + "\"");
  Guid g;
  std::size_t k = 0;
  for (std::size_t i = 0; i < s.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (s[i] != '-') return Status::InvalidArgument("not a GUID: \"" + std::string(s) + "\"");
      ++i;
      continue;
    }
    int a = HexDigit(s[i]), b = HexDigit(s[i + 1]);
    if (a < 0 || b < 0) return Status::InvalidArgument("not a GUID: \"" + std::string(s) + "\"");
    g.bytes[k++] = static_cast<std::uint8_t>(a * 16 + b);
    i += 2;
  }
  return g;
}

std::string Decimal::ToString() const {
  U128 m = Mag(*this);
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(m % 10)));
    m /= 10;
  } while (m != 0);
  while (digits.size() <= scale) digits.insert(digits.begin(), '0');
  if (scale > 0) digits.insert(digits.end() - scale, '.');
  if (negative && !IsZero()) digits.insert(digits.begin(), '-');
  return digits;
}

Result<Decimal> Decimal::Parse(std::string_view s, std::uint8_t scale) {
  auto bad = [&]() { return Status::InvalidArgument("not a number: \"" + std::string(s) + "\""); };
  if (scale > 28) return Status::InvalidArgument("scale above 28");
  Decimal d;
  d.scale = scale;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) d.negative = s[i++] == '-';
  U128 m = 0;
  int digits = 0, frac = 0;
  bool any = false, point = false, round_up = false, rounding_seen = false;
  const U128 limit = static_cast<U128>(10000000000000000000ull) * 1000000000ull;  // 10^28
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') return bad();
    any = true;
    if (point && frac >= scale) {
      if (!rounding_seen) round_up = c >= '5';
      rounding_seen = true;
      continue;
    }
    if (point) ++frac;
    m = m * 10 + static_cast<unsigned>(c - '0');
    if (m != 0) ++digits;
    if (m >= limit) return Status::InvalidArgument("decimal value with more than 28 digits");
  }
  if (!any) return bad();
  for (; frac < scale; ++frac) {
    m *= 10;
    if (m >= limit) return Status::InvalidArgument("decimal value with more than 28 digits");
  }
  if (round_up) ++m;
  if (m >= limit) return Status::InvalidArgument("decimal value with more than 28 digits");
  d.hi = static_cast<std::uint64_t>(m >> 64);
  d.lo = static_cast<std::uint64_t>(m);
  if (d.IsZero()) d.negative = false;
  return d;
}

Result<Value> ParseValue(ColumnType type, std::string_view text, std::uint8_t scale) {
  auto bad = [&]() {
    return Status::InvalidArgument("\"" + std::string(text) + "\" is not a " +
                                   ColumnTypeName(type) + " value");
  };
  auto range = [&]() {
    return Status::Constraint("\"" + std::string(text) + "\" is out of range for " +
                              ColumnTypeName(type));
  };
  std::string t(text);
  switch (type) {
    case ColumnType::kBool: {
      const std::string l = AsciiLower(t);
      if (l == "1" || l == "-1" || l == "true" || l == "yes" || l == "on") return Value::Bool(true);
      if (l == "0" || l == "false" || l == "no" || l == "off") return Value::Bool(false);
      return bad();
    }
    case ColumnType::kByte:
    case ColumnType::kShort:
    case ColumnType::kLong: {
      if (t.empty()) return bad();
      std::size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
      if (i == t.size()) return bad();
      for (std::size_t k = i; k < t.size(); ++k) {
        if (t[k] < '0' || t[k] > '9') return bad();
      }
      if (t.size() - i > 12) return range();
      long long v = std::stoll(t);
      if (type == ColumnType::kByte) {
        if (v < 0 || v > 255) return range();
        return Value::Byte(static_cast<std::uint8_t>(v));
      }
      if (type == ColumnType::kShort) {
        if (v < -32768 || v > 32767) return range();
        return Value::Short(static_cast<std::int16_t>(v));
      }
      if (v < INT32_MIN || v > INT32_MAX) return range();
      return Value::Long(static_cast<std::int32_t>(v));
    }
    case ColumnType::kCurrency: {
      auto d = Decimal::Parse(t, 4);
      if (!d.ok())
        return d.status().code() == StatusCode::kInvalidArgument &&
                       t.find_first_not_of("+-.0123456789") == std::string::npos
                   ? Result<Value>(range())
                   : Result<Value>(bad());
      auto c = Currency::Parse(t);
      if (!c.ok()) return range();
      return Value::Money(*c);
    }
    case ColumnType::kSingle:
    case ColumnType::kDouble: {
      if (t.empty() || std::isspace(static_cast<unsigned char>(t[0]))) return bad();
      char* end = nullptr;
      double d = std::strtod(t.c_str(), &end);
      if (end != t.c_str() + t.size()) return bad();
      if (!std::isfinite(d)) return range();
      if (type == ColumnType::kSingle) {
        if (std::fabs(d) > 3.402823466e38) return range();
        return Value::Single(static_cast<float>(d));
      }
      return Value::Double(d);
    }
    case ColumnType::kDateTime: {
      auto d = DateTime::Parse(t);
      if (!d.ok()) return bad();
      return Value::Date(*d);
    }
    case ColumnType::kGuid: {
      auto g = Guid::Parse(t);
      if (!g.ok()) return bad();
      return Value::Uuid(*g);
    }
    case ColumnType::kNumeric: {
      if (t.empty() || t.find_first_not_of("+-.0123456789") != std::string::npos) return bad();
      auto d = Decimal::Parse(t, scale);
      if (!d.ok()) return range();
      return Value::Numeric(*d);
    }
    case ColumnType::kText:
    case ColumnType::kMemo:
      return Value::Text(t);
    case ColumnType::kBinary:
    case ColumnType::kOle:
      return Value::Binary(std::vector<std::uint8_t>(t.begin(), t.end()));
  }
  return bad();
}

bool Value::AsInt64(std::int64_t* out) const {
  switch (kind()) {
    case ValueKind::kBool:
      *out = bool_value() ? 1 : 0;
      return true;
    case ValueKind::kByte:
      *out = byte_value();
      return true;
    case ValueKind::kShort:
      *out = short_value();
      return true;
    case ValueKind::kLong:
      *out = long_value();
      return true;
    default:
      return false;
  }
}

std::string Value::ToString() const {
  char buf[64];
  switch (kind()) {
    case ValueKind::kNull:
      return "";
    case ValueKind::kBool:
      return bool_value() ? "1" : "0";
    case ValueKind::kByte:
      return std::to_string(byte_value());
    case ValueKind::kShort:
      return std::to_string(short_value());
    case ValueKind::kLong:
      return std::to_string(long_value());
    case ValueKind::kCurrency:
      return currency_value().ToString();
    case ValueKind::kSingle:
      std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(single_value()));
      return buf;
    case ValueKind::kDouble:
      std::snprintf(buf, sizeof buf, "%.17g", double_value());
      return buf;
    case ValueKind::kDateTime:
      return datetime_value().ToString();
    case ValueKind::kDecimal:
      return decimal_value().ToString();
    case ValueKind::kGuid:
      return guid_value().ToString();
    case ValueKind::kText:
      return text_value();
    case ValueKind::kBinary: {
      static constexpr char kHex[] = "0123456789abcdef";
      std::string out;
      out.reserve(binary_value().size() * 2);
      for (std::uint8_t b : binary_value()) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 15]);
      }
      return out;
    }
  }
  return "";
}

}  // namespace velquin::jet
