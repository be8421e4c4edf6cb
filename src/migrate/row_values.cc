#include "migrate/row_values.h"

#include <cstdio>

namespace velquin {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// [-+]digits[.digits][e[-+]digits], or a bare .digits.
bool IsNumberText(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    std::size_t exp = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++exp;
    if (exp == 0) return false;
  }
  return i == s.size();
}

// Reads `count` digits at `at`.
bool ReadDigits(std::string_view s, std::size_t& at, std::size_t count, int* out) {
  if (at + count > s.size()) return false;
  int v = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (!IsDigit(s[at + i])) return false;
    v = v * 10 + (s[at + i] - '0');
  }
  at += count;
  *out = v;
  return true;
}

// Milliseconds from a fraction text after the '.', cut (not rounded);
// `cut` is set when a non-zero digit lies beyond the milliseconds.
int FractionMillis(std::string_view s, std::size_t at, bool* cut) {
  int ms = 0;
  for (int i = 0; i < 3; ++i) {
    ms *= 10;
    if (at + i < s.size() && IsDigit(s[at + i])) ms += s[at + i] - '0';
  }
  for (std::size_t i = at + 3; i < s.size() && IsDigit(s[i]); ++i) {
    if (s[i] != '0') *cut = true;
  }
  return ms;
}

Status Malformed(const ColumnPlan& plan, std::string_view raw) {
  return Status::InvalidArgument("column `" + plan.name + "`: the value '" + std::string(raw) +
                                 "' is not a valid " + plan.declared);
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days from 1970-01-01 to a civil date and back (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
void CivilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yy + (*m <= 2));
}

Status CheckYear(const ColumnPlan& plan, std::string_view raw, int year) {
  if (year < 100) {
    return Status::InvalidArgument("column `" + plan.name + "`: the date '" + std::string(raw) +
                                   "' lies before the year 100, which Access cannot hold");
  }
  return Status::Ok();
}

// 'YYYY-MM-DD[ hh:mm:ss[.ffffff]]'.
Status ConvertDate(const ColumnPlan& plan, std::string_view raw, ZeroDates zero_dates,
                   TransformSet* changes, TargetValue* out) {
  TargetValue& v = *out;
  v.kind = TargetValue::Kind::kDateTime;
  v.hour = v.minute = v.second = v.millisecond = 0;
  std::size_t at = 0;
  if (!ReadDigits(raw, at, 4, &v.year) || at >= raw.size() || raw[at++] != '-' ||
      !ReadDigits(raw, at, 2, &v.month) || at >= raw.size() || raw[at++] != '-' ||
      !ReadDigits(raw, at, 2, &v.day)) {
    return Malformed(plan, raw);
  }
  if (at < raw.size()) {
    if ((raw[at] != ' ' && raw[at] != 'T') || !ReadDigits(raw, ++at, 2, &v.hour) ||
        at >= raw.size() || raw[at++] != ':' || !ReadDigits(raw, at, 2, &v.minute) ||
        at >= raw.size() || raw[at++] != ':' || !ReadDigits(raw, at, 2, &v.second)) {
      return Malformed(plan, raw);
    }
    if (at < raw.size()) {
      if (raw[at] != '.') return Malformed(plan, raw);
      bool cut = false;
      v.millisecond = FractionMillis(raw, at + 1, &cut);
      if (cut) *changes |= Bit(TransformKind::kFractionCut);
    }
  }
  if (v.month == 0 || v.day == 0) {  // zero date: no date
    if (zero_dates == ZeroDates::kRefuse) {
      return Status::InvalidArgument("column `" + plan.name + "`: the zero date '" +
                                     std::string(raw) + "' has no Access value");
    }
    *changes = Bit(TransformKind::kZeroDateToNull);
    v.kind = TargetValue::Kind::kNull;
    return Status::Ok();
  }
  VELQUIN_RETURN_IF_ERROR(CheckYear(plan, raw, v.year));
  if (v.month > 12 || v.day > DaysInMonth(v.year, v.month) || v.hour > 23 || v.minute > 59 ||
      v.second > 59) {
    return Malformed(plan, raw);
  }
  return Status::Ok();
}

// '[-]hhh:mm:ss[.ffffff]' -> 1899-12-30 plus the time.
Status ConvertTime(const ColumnPlan& plan, std::string_view raw, TransformSet* changes,
                   TargetValue* out) {
  std::size_t at = 0;
  bool negative = false;
  if (at < raw.size() && raw[at] == '-') negative = true, ++at;
  int64_t hours = 0;
  std::size_t digits = 0;
  while (at < raw.size() && IsDigit(raw[at])) hours = hours * 10 + (raw[at++] - '0'), ++digits;
  int minutes = 0, seconds = 0, ms = 0;
  if (digits == 0 || at >= raw.size() || raw[at++] != ':' || !ReadDigits(raw, at, 2, &minutes) ||
      at >= raw.size() || raw[at++] != ':' || !ReadDigits(raw, at, 2, &seconds)) {
    return Malformed(plan, raw);
  }
  if (at < raw.size()) {
    if (raw[at] != '.') return Malformed(plan, raw);
    bool cut = false;
    ms = FractionMillis(raw, at + 1, &cut);
    if (cut) *changes |= Bit(TransformKind::kFractionCut);
  }
  *changes |= Bit(TransformKind::kTimeAsDate);
  int64_t total = ((hours * 60 + minutes) * 60 + seconds) * 1000 + ms;
  if (negative) total = -total;
  constexpr int64_t kDayMs = 86400000;
  int64_t days = total >= 0 ? total / kDayMs : -((-total + kDayMs - 1) / kDayMs);
  int64_t rest = total - days * kDayMs;
  TargetValue& v = *out;
  v.kind = TargetValue::Kind::kDateTime;
  CivilFromDays(DaysFromCivil(1899, 12, 30) + days, &v.year, &v.month, &v.day);
  v.hour = static_cast<int>(rest / 3600000);
  v.minute = static_cast<int>(rest / 60000 % 60);
  v.second = static_cast<int>(rest / 1000 % 60);
  v.millisecond = static_cast<int>(rest % 1000);
  return Status::Ok();
}

std::string BytesToDecimal(std::string_view bytes) {
  // Big-endian unsigned, up to 64 bits (bit(64)).
  uint64_t n = 0;
  for (unsigned char b : bytes) n = (n << 8) | b;
  return std::to_string(n);
}

}  // namespace

Status ConvertSourceValueInto(const ColumnPlan& plan, bool null, std::string_view raw,
                              ZeroDates zero_dates, TransformSet* changes, TargetValue* out) {
  TransformSet ignored = 0;
  if (!changes) changes = &ignored;
  *changes = 0;
  TargetValue& v = *out;
  v.kind = TargetValue::Kind::kNull;
  if (null) return Status::Ok();
  switch (plan.transform) {
    case ValueTransform::kBitToYesNo: {
      v.kind = TargetValue::Kind::kBool;
      bool any = false;
      for (unsigned char b : raw) any = any || b != 0;
      // Drivers deliver bit(1) as one byte; some as the text "0"/"1".
      if (raw == "0") any = false;
      v.boolean = any;
      return Status::Ok();
    }
    case ValueTransform::kBitsToNumber:
      if (raw.size() > 8) return Malformed(plan, raw);
      v.kind = TargetValue::Kind::kNumber;
      v.text = BytesToDecimal(raw);
      return Status::Ok();
    case ValueTransform::kDate:
    case ValueTransform::kDateTime:
      return ConvertDate(plan, raw, zero_dates, changes, out);
    case ValueTransform::kTimeOfDay:
      return ConvertTime(plan, raw, changes, out);
    case ValueTransform::kBytes:
    case ValueTransform::kGeometry:
      v.kind = TargetValue::Kind::kBinary;
      v.text.assign(raw);
      return Status::Ok();
    case ValueTransform::kAsIs:
      break;
  }
  switch (plan.type) {
    case AccessType::kYesNo:
      v.kind = TargetValue::Kind::kBool;
      v.boolean = !(raw == "0" || raw.empty() || raw.starts_with("False"));
      return Status::Ok();
    case AccessType::kByte:
    case AccessType::kShort:
    case AccessType::kLong:
    case AccessType::kCounter:
    case AccessType::kSingle:
    case AccessType::kDouble:
    case AccessType::kDecimal:
      if (!IsNumberText(raw)) return Malformed(plan, raw);
      v.kind = TargetValue::Kind::kNumber;
      v.text.assign(raw);
      return Status::Ok();
    case AccessType::kDateTime:
      return ConvertDate(plan, raw, zero_dates, changes, out);
    case AccessType::kBinary:
    case AccessType::kLongBinary:
      v.kind = TargetValue::Kind::kBinary;
      v.text.assign(raw);
      return Status::Ok();
    case AccessType::kText:
    case AccessType::kMemo:
    case AccessType::kUnknown:
      break;
  }
  v.kind = TargetValue::Kind::kText;
  v.text.assign(raw);
  return Status::Ok();
}

Result<TargetValue> ConvertSourceValue(const ColumnPlan& plan, bool null, std::string_view raw,
                                       ZeroDates zero_dates, TransformSet* changes) {
  TargetValue v;
  VELQUIN_RETURN_IF_ERROR(ConvertSourceValueInto(plan, null, raw, zero_dates, changes, &v));
  return v;
}

void AppendDateTime(const TargetValue& v, std::string* out) {
  auto in_range = [](int x, int hi) { return x >= 0 && x <= hi; };
  if (!in_range(v.year, 9999) || !in_range(v.month, 99) || !in_range(v.day, 99) ||
      !in_range(v.hour, 99) || !in_range(v.minute, 99) || !in_range(v.second, 99) ||
      !in_range(v.millisecond, 999)) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", v.year, v.month, v.day, v.hour,
                  v.minute, v.second);
    *out += buf;
    if (v.millisecond != 0) {
      std::snprintf(buf, sizeof buf, ".%03d", v.millisecond);
      *out += buf;
    }
    return;
  }
  char buf[24];
  auto put = [&](int at, int value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
      buf[at + i] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
  };
  put(0, v.year, 4);
  buf[4] = '-';
  put(5, v.month, 2);
  buf[7] = '-';
  put(8, v.day, 2);
  buf[10] = ' ';
  put(11, v.hour, 2);
  buf[13] = ':';
  put(14, v.minute, 2);
  buf[16] = ':';
  put(17, v.second, 2);
  std::size_t n = 19;
  if (v.millisecond != 0) {
    buf[19] = '.';
    put(20, v.millisecond, 3);
    n = 23;
  }
  out->append(buf, n);
}

std::string FormatDateTime(const TargetValue& v) {
  std::string out;
  AppendDateTime(v, &out);
  return out;
}

void AppendJetLiteral(const TargetValue& v, std::string* out) {
  switch (v.kind) {
    case TargetValue::Kind::kNull:
      *out += "NULL";
      return;
    case TargetValue::Kind::kBool:
      *out += v.boolean ? "True" : "False";
      return;
    case TargetValue::Kind::kNumber:
      *out += v.text;
      return;
    case TargetValue::Kind::kDateTime:
      *out += '#';
      AppendDateTime(v, out);
      *out += '#';
      return;
    case TargetValue::Kind::kText: {
      out->reserve(out->size() + v.text.size() + 2);
      *out += '\'';
      std::size_t from = 0;
      for (;;) {
        std::size_t quote = v.text.find('\'', from);
        if (quote == std::string::npos) {
          out->append(v.text, from, std::string::npos);
          break;
        }
        out->append(v.text, from, quote + 1 - from);
        *out += '\'';
        from = quote + 1;
      }
      *out += '\'';
      return;
    }
    case TargetValue::Kind::kBinary: {
      static const char kHex[] = "0123456789ABCDEF";
      out->reserve(out->size() + 2 + v.text.size() * 2);
      *out += "0x";
      for (unsigned char b : v.text) {
        *out += kHex[b >> 4];
        *out += kHex[b & 15];
      }
      return;
    }
  }
  *out += "NULL";
}

std::string JetLiteral(const TargetValue& v) {
  std::string out;
  AppendJetLiteral(v, &out);
  return out;
}

}  // namespace velquin
