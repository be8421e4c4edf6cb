// Value: one typed cell value of a Jet table, as the engine hands it out and
// takes it in. Text is UTF-8; dates are Jet date doubles with helpers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "base/status.h"

namespace velquin::jet {

// Column types of Jet 4 [COL-1]; the values are the on-disk type codes.
enum class ColumnType : std::uint8_t {
  kBool = 0x01,
  kByte = 0x02,
  kShort = 0x03,  // INT / SHORT
  kLong = 0x04,
  kCurrency = 0x05,  // MONEY
  kSingle = 0x06,    // FLOAT
  kDouble = 0x07,
  kDateTime = 0x08,
  kBinary = 0x09,
  kText = 0x0A,
  kOle = 0x0B,  // OLE / LONGBINARY
  kMemo = 0x0C,
  kGuid = 0x0F,
  kNumeric = 0x10,  // DECIMAL
};

// "LONG", "TEXT" ... as Access SQL names the type; "UNKNOWN_0x11" otherwise.
std::string ColumnTypeName(ColumnType t);

// Currency: the value times 10,000, exactly [COL-3].
struct Currency {
  std::int64_t units = 0;
  bool operator==(const Currency&) const = default;
  std::string ToString() const;  // "-12.3400" style, four decimals
  static Result<Currency> Parse(std::string_view text);
};

// Date/time as Jet stores it: days since 1899-12-30; the fraction is the time
// of day, also for negative days [COL-4].
struct DateTime {
  double days = 0;
  bool operator==(const DateTime&) const = default;
  // From a civil date and time (no time zone). Years 100..9999.
  static DateTime FromParts(int year, int month, int day, int hour = 0, int minute = 0,
                            int second = 0, int millisecond = 0);
  struct Parts {
    int year, month, day, hour, minute, second, millisecond;
  };
  Parts ToParts() const;
  // "YYYY-MM-DD HH:MM:SS" (".mmm" added when milliseconds are non-zero).
  std::string ToString() const;
  // Accepts "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS[.fff]" and the 'T' form.
  static Result<DateTime> Parse(std::string_view text);
};

// GUID in its textual byte order: bytes[0..3] are the first group as written
// in "{00112233-4455-6677-8899-AABBCCDDEEFF}".
struct Guid {
  std::array<std::uint8_t, 16> bytes{};
  bool operator==(const Guid&) const = default;
  std::string ToString() const;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
  static Result<Guid> Parse(std::string_view text);
};

// Fixed-point decimal: sign, unscaled magnitude (up to 28 digits) and scale.
struct Decimal {
  bool negative = false;
  std::uint64_t hi = 0;  // magnitude = hi * 2^64 + lo
  std::uint64_t lo = 0;
  std::uint8_t scale = 0;
  bool operator==(const Decimal&) const = default;
  bool IsZero() const { return hi == 0 && lo == 0; }
  std::string ToString() const;  // "-123.4500" (scale digits after the point)
  // Parses "[-]digits[.digits]"; the result has the given scale (rounds half
  // away from zero when more digits are given); InvalidArgument past 28 digits.
  static Result<Decimal> Parse(std::string_view text, std::uint8_t scale);
};

enum class ValueKind {
  kNull,
  kBool,
  kByte,
  kShort,
  kLong,
  kCurrency,
  kSingle,
  kDouble,
  kDateTime,
  kDecimal,
  kGuid,
  kText,
  kBinary,
};

class Value {
 public:
  Value() = default;  // NULL
  static Value Null() { return Value(); }
  static Value Bool(bool v) { return Value(Storage(std::in_place_index<1>, v)); }
  static Value Byte(std::uint8_t v) { return Value(Storage(std::in_place_index<2>, v)); }
  static Value Short(std::int16_t v) { return Value(Storage(std::in_place_index<3>, v)); }
  static Value Long(std::int32_t v) { return Value(Storage(std::in_place_index<4>, v)); }
  static Value Money(Currency v) { return Value(Storage(std::in_place_index<5>, v)); }
  static Value Single(float v) { return Value(Storage(std::in_place_index<6>, v)); }
  static Value Double(double v) { return Value(Storage(std::in_place_index<7>, v)); }
  static Value Date(DateTime v) { return Value(Storage(std::in_place_index<8>, v)); }
  static Value Numeric(Decimal v) { return Value(Storage(std::in_place_index<9>, v)); }
  static Value Uuid(Guid v) { return Value(Storage(std::in_place_index<10>, v)); }
  static Value Text(std::string utf8) {
    return Value(Storage(std::in_place_index<11>, std::move(utf8)));
  }
  static Value Binary(std::vector<std::uint8_t> bytes) {
    return Value(Storage(std::in_place_index<12>, std::move(bytes)));
  }

  ValueKind kind() const { return static_cast<ValueKind>(v_.index()); }
  bool is_null() const { return v_.index() == 0; }

  bool bool_value() const { return std::get<1>(v_); }
  std::uint8_t byte_value() const { return std::get<2>(v_); }
  std::int16_t short_value() const { return std::get<3>(v_); }
  std::int32_t long_value() const { return std::get<4>(v_); }
  Currency currency_value() const { return std::get<5>(v_); }
  float single_value() const { return std::get<6>(v_); }
  double double_value() const { return std::get<7>(v_); }
  DateTime datetime_value() const { return std::get<8>(v_); }
  const Decimal& decimal_value() const { return std::get<9>(v_); }
  const Guid& guid_value() const { return std::get<10>(v_); }
  const std::string& text_value() const { return std::get<11>(v_); }
  const std::vector<std::uint8_t>& binary_value() const { return std::get<12>(v_); }

  // Integer kinds (bool, byte, short, long) widened; false for others.
  bool AsInt64(std::int64_t* out) const;

  // A plain text form: NULL as "", booleans "1"/"0", doubles with up to 17
  // significant digits, currency/decimal exact, dates as DateTime::ToString,
  // binary as lower-case hex, GUIDs in braces.
  std::string ToString() const;

  bool operator==(const Value&) const = default;

 private:
  using Storage =
      std::variant<std::monostate, bool, std::uint8_t, std::int16_t, std::int32_t, Currency, float,
                   double, DateTime, Decimal, Guid, std::string, std::vector<std::uint8_t>>;
  explicit Value(Storage v) : v_(std::move(v)) {}
  Storage v_;
};

}  // namespace velquin::jet
