// The type map (docs/type-map.md). Each branch below is one row of that table.
#include "migrate/type_map.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string_view>

namespace velquin {
namespace {

constexpr std::int64_t kLongMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kLongMax = std::numeric_limits<std::int32_t>::max();
constexpr int kMaxDecimalPrecision = 28;
constexpr int kMaxTextLength = 255;

int ArgInt(const SourceColumn& c, std::size_t i, int fallback) {
  if (i >= c.args.size()) return fallback;
  int value = 0;
  const std::string& s = c.args[i];
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || ptr != s.data() + s.size()) return fallback;
  return value;
}

std::size_t Utf8Length(std::string_view s) {
  std::size_t n = 0;
  for (char c : s) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  }
  return n;
}

bool ParseInt64(std::string_view s, std::int64_t& out) {
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && ptr == s.data() + s.size();
}

// True when every value present lies within LONG's range.
bool FitsLong(const ColumnFacts& facts) {
  if (!facts.min && !facts.max) return true;  // no value at all
  std::int64_t lo = 0;
  std::int64_t hi = 0;
  if (!facts.min || !facts.max || !ParseInt64(*facts.min, lo) || !ParseInt64(*facts.max, hi)) {
    return false;
  }
  return lo >= kLongMin && hi <= kLongMax;
}

// Digits before the decimal point of a decimal text, without sign and leading zeros.
int IntegerDigits(std::string_view s) {
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) s.remove_prefix(1);
  auto dot = s.find('.');
  std::string_view whole = s.substr(0, dot);
  while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
  return static_cast<int>(whole.size());
}

std::string Largest(const ColumnFacts& facts) {
  return facts.max ? *facts.max : std::string("none");
}

void AddReason(ColumnPlan& plan, std::string_view reason) {
  if (!plan.reason.empty()) plan.reason += "; ";
  plan.reason += reason;
}

void Set(ColumnPlan& plan, AccessType type, std::string written, int precision = 0, int scale = 0) {
  plan.type = type;
  plan.access_type = std::move(written);
  plan.precision = precision;
  plan.scale = scale;
}

void SetDecimal(ColumnPlan& plan, int precision, int scale) {
  Set(plan, AccessType::kDecimal,
      "DECIMAL(" + std::to_string(precision) + "," + std::to_string(scale) + ")", precision, scale);
}

void SetText(ColumnPlan& plan, int length) {
  if (length < 1) length = 1;
  Set(plan, AccessType::kText, "VARCHAR(" + std::to_string(length) + ")", length);
}

// Declared integer range of an integer type, as the number of decimal digits
// of its widest value and whether it fits LONG / SHORT.
struct IntegerRange {
  bool fits_short = false;
  bool fits_long = false;
  int digits = 0;  // digits of the widest value, for DECIMAL(p,0)
};

bool IsIntegerType(std::string_view t) {
  return t == "tinyint" || t == "smallint" || t == "mediumint" || t == "int" || t == "integer" ||
         t == "bigint";
}

IntegerRange RangeOf(const SourceColumn& c) {
  const std::string& t = c.type;
  const bool u = c.is_unsigned || c.zerofill;
  if (t == "tinyint") return {true, true, 3};
  if (t == "smallint") return {!u, true, 5};
  if (t == "mediumint") return {false, true, 8};
  if (t == "int" || t == "integer") return {false, !u, 10};
  return {false, false, u ? 20 : 19};  // bigint
}

// Digits of 2^bits - 1.
int BitDigits(int bits) {
  if (bits >= 64) return 20;
  std::uint64_t max = (std::uint64_t{1} << bits) - 1;
  return static_cast<int>(std::to_string(max).size());
}

// Integers whose declared range exceeds LONG: the data decides.
void DecideWideInteger(ColumnPlan& plan, const ColumnFacts* facts, int digits) {
  if (facts == nullptr) {
    SetDecimal(plan, digits, 0);
    AddReason(plan, "declared range exceeds LONG and the values were not examined");
  } else if (FitsLong(*facts)) {
    Set(plan, AccessType::kLong, "LONG");
    AddReason(plan, "declared range exceeds LONG, but every value present fits (largest " +
                        Largest(*facts) + ")");
  } else {
    SetDecimal(plan, digits, 0);
    AddReason(plan, "values present exceed LONG (smallest " + facts->min.value_or("none") +
                        ", largest " + Largest(*facts) + ")");
  }
}

void MapInteger(ColumnPlan& plan, const SourceColumn& c, const ColumnFacts* facts) {
  IntegerRange range = RangeOf(c);
  if (range.fits_short) {
    Set(plan, AccessType::kShort, "SHORT");
  } else if (range.fits_long) {
    Set(plan, AccessType::kLong, "LONG");
  } else {
    DecideWideInteger(plan, facts, range.digits);
  }
}

void MapBit(ColumnPlan& plan, const SourceColumn& c, const ColumnFacts* facts) {
  int bits = ArgInt(c, 0, 1);
  plan.transform = ValueTransform::kBitsToNumber;
  if (bits <= 1) {
    if (c.not_null || (facts != nullptr && !facts->has_nulls)) {
      Set(plan, AccessType::kYesNo, "BIT");
      plan.transform = ValueTransform::kBitToYesNo;
      if (!c.not_null) AddReason(plan, "nullable, but no NULL is present: Yes/No");
    } else {
      Set(plan, AccessType::kByte, "BYTE");
      AddReason(plan, facts == nullptr ? "nullable and not examined: Yes/No cannot hold NULL"
                                       : "NULLs present: Yes/No cannot hold NULL");
    }
  } else if (bits <= 8) {
    Set(plan, AccessType::kByte, "BYTE");
  } else if (bits <= 15) {
    Set(plan, AccessType::kShort, "SHORT");
  } else if (bits <= 31) {
    Set(plan, AccessType::kLong, "LONG");
  } else {
    DecideWideInteger(plan, facts, BitDigits(bits));
  }
}

void MapDecimal(ColumnPlan& plan, const SourceColumn& c, const ColumnFacts* facts) {
  int p = ArgInt(c, 0, 10);
  int s = ArgInt(c, 1, 0);
  if (p <= kMaxDecimalPrecision) {
    SetDecimal(plan, p, s);
    return;
  }
  if (s <= kMaxDecimalPrecision && facts != nullptr) {
    int digits = 0;
    if (facts->min) digits = std::max(digits, IntegerDigits(*facts->min));
    if (facts->max) digits = std::max(digits, IntegerDigits(*facts->max));
    if (digits <= kMaxDecimalPrecision - s) {
      SetDecimal(plan, kMaxDecimalPrecision, s);
      AddReason(plan, "precision " + std::to_string(p) +
                          " exceeds Access's 28 digits, but every value present fits");
      return;
    }
  }
  // Sign, digits and point as exact text.
  SetText(plan, p + 2);
  AddReason(plan, "precision " + std::to_string(p) + " scale " + std::to_string(s) +
                      " exceeds Access's DECIMAL: kept exactly as text");
}

bool IsGeometry(std::string_view t) {
  return t == "geometry" || t == "point" || t == "linestring" || t == "polygon" ||
         t == "multipoint" || t == "multilinestring" || t == "multipolygon" ||
         t == "geometrycollection" || t == "geomcollection";
}

void MapByName(ColumnPlan& plan, const SourceColumn& c, const ColumnFacts* facts) {
  const std::string& t = c.type;
  if (IsIntegerType(t)) return MapInteger(plan, c, facts);
  if (t == "bit") return MapBit(plan, c, facts);
  if (t == "decimal" || t == "numeric" || t == "dec" || t == "fixed") {
    return MapDecimal(plan, c, facts);
  }
  if (t == "float") return Set(plan, AccessType::kSingle, "SINGLE");
  if (t == "double" || t == "real") return Set(plan, AccessType::kDouble, "DOUBLE");
  if (t == "year") return Set(plan, AccessType::kShort, "SHORT");
  if (t == "date") {
    Set(plan, AccessType::kDateTime, "DATETIME");
    plan.transform = ValueTransform::kDate;
    return;
  }
  if (t == "datetime" || t == "timestamp" || t == "time") {
    Set(plan, AccessType::kDateTime, "DATETIME");
    plan.transform = t == "time" ? ValueTransform::kTimeOfDay : ValueTransform::kDateTime;
    if (t == "time") AddReason(plan, "a time becomes 1899-12-30 plus the time");
    if (ArgInt(c, 0, 0) > 3) {
      AddReason(plan, "fractions of a second beyond milliseconds are truncated");
    }
    return;
  }
  if (t == "char") return SetText(plan, ArgInt(c, 0, 1));
  if (t == "varchar") {
    int n = ArgInt(c, 0, kMaxTextLength + 1);
    if (n > kMaxTextLength) return Set(plan, AccessType::kMemo, "LONGTEXT");
    if (n < 1) return SetText(plan, 1);
    return Set(plan, AccessType::kText, c.declared, n);  // kept as it stands
  }
  if (t == "tinytext") return SetText(plan, kMaxTextLength);
  if (t == "text" || t == "mediumtext" || t == "longtext" || t == "json") {
    return Set(plan, AccessType::kMemo, "MEMO");
  }
  if (t == "enum" || t == "set") {
    std::size_t longest = 0;
    std::size_t total = 0;
    for (const std::string& label : c.args) {
      longest = std::max(longest, Utf8Length(label));
      total += Utf8Length(label) + 1;
    }
    std::size_t need = t == "enum" ? longest : (total == 0 ? 0 : total - 1);
    if (need > static_cast<std::size_t>(kMaxTextLength)) {
      return Set(plan, AccessType::kMemo, "MEMO");
    }
    return SetText(plan, static_cast<int>(need));
  }
  if (t == "binary" || t == "varbinary") {
    plan.transform = ValueTransform::kBytes;
    int n = ArgInt(c, 0, kMaxTextLength + 1);
    if (n > kMaxTextLength) return Set(plan, AccessType::kLongBinary, "LONGBINARY");
    if (n < 1) return Set(plan, AccessType::kBinary, "BINARY(1)", 1);
    return Set(plan, AccessType::kBinary, c.declared, n);  // kept as it stands
  }
  if (t == "tinyblob") {
    plan.transform = ValueTransform::kBytes;
    return Set(plan, AccessType::kBinary, "VARBINARY(255)", kMaxTextLength);
  }
  if (t == "blob" || t == "mediumblob" || t == "longblob") {
    plan.transform = ValueTransform::kBytes;
    return Set(plan, AccessType::kLongBinary, "LONGBINARY");
  }
  if (IsGeometry(t)) {
    plan.transform = ValueTransform::kGeometry;
    return Set(plan, AccessType::kLongBinary, "LONGBINARY");
  }
  if (t == "uuid") return SetText(plan, 36);
  if (t == "inet4") return SetText(plan, 15);
  if (t == "inet6") return SetText(plan, 39);
  Set(plan, AccessType::kUnknown, c.declared);
  AddReason(plan, "unknown type passed through as written");
}

}  // namespace

bool NeedsColumnFacts(const SourceColumn& c) {
  if (IsIntegerType(c.type)) return !RangeOf(c).fits_long;
  if (c.type == "bit") {
    int bits = ArgInt(c, 0, 1);
    return bits > 31 || (bits <= 1 && !c.not_null);
  }
  if (c.type == "decimal" || c.type == "numeric" || c.type == "dec" || c.type == "fixed") {
    return ArgInt(c, 0, 10) > kMaxDecimalPrecision;
  }
  return false;
}

ColumnPlan MapColumnType(const SourceColumn& column, const ColumnFacts* facts,
                         const ColumnPlan* referenced_type) {
  ColumnPlan plan;
  plan.name = column.name;
  plan.declared = column.declared;
  MapByName(plan, column, facts);

  const bool integer_like = IsIntegerType(column.type);
  if (integer_like && referenced_type != nullptr &&
      (referenced_type->type == AccessType::kLong ||
       referenced_type->type == AccessType::kCounter ||
       (referenced_type->type == AccessType::kDecimal && referenced_type->scale == 0)) &&
      !column.auto_increment) {
    std::string wanted = referenced_type->type == AccessType::kDecimal
                             ? referenced_type->access_type
                             : std::string("LONG");
    if (wanted != plan.access_type) {
      // The referenced column's type must also hold this column's own values.
      // It does unless the values present here were seen to exceed LONG.
      bool exceeds_long = plan.type == AccessType::kDecimal && facts != nullptr;
      bool holds = referenced_type->type == AccessType::kDecimal || !exceeds_long;
      if (holds) {
        plan.reason.clear();
        if (referenced_type->type == AccessType::kDecimal) {
          SetDecimal(plan, referenced_type->precision, 0);
        } else {
          Set(plan, AccessType::kLong, "LONG");
        }
        AddReason(plan, "same type as the referenced column (" + wanted + ")");
      } else {
        AddReason(plan, "the referenced column is " + wanted +
                            ", which cannot hold the values present here");
      }
    }
  }

  if (column.auto_increment) {
    if (plan.type == AccessType::kShort || plan.type == AccessType::kLong ||
        plan.type == AccessType::kByte) {
      Set(plan, AccessType::kCounter, "COUNTER");
    } else {
      AddReason(plan, "AUTO_INCREMENT not carried: AutoNumber cannot hold these values");
    }
  }
  if (column.zerofill) AddReason(plan, "zerofill display padding is not carried");
  if (column.generated) {
    AddReason(plan, "generated column: its values are copied, the expression is not carried");
  }
  return plan;
}

std::string JetTypeKeyword(AccessType type) {
  switch (type) {
    case AccessType::kYesNo:
      return "BIT";
    case AccessType::kByte:
      return "BYTE";
    case AccessType::kShort:
      return "SHORT";
    case AccessType::kLong:
      return "LONG";
    case AccessType::kCounter:
      return "COUNTER";
    case AccessType::kSingle:
      return "SINGLE";
    case AccessType::kDouble:
      return "DOUBLE";
    case AccessType::kDecimal:
      return "DECIMAL";
    case AccessType::kDateTime:
      return "DATETIME";
    case AccessType::kText:
      return "VARCHAR";
    case AccessType::kMemo:
      return "MEMO";
    case AccessType::kBinary:
      return "BINARY";
    case AccessType::kLongBinary:
      return "LONGBINARY";
    case AccessType::kUnknown:
      return "";
  }
  return "";
}

}  // namespace velquin
