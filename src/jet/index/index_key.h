// Index keys: the bytes Jet stores for one row in an index, built from the
// values of the index's columns (one to ten), each ascending or descending.
//
// A key is the concatenation, column by column, of a flag byte and the value
// bytes ([IDX-10]..[IDX-17] in docs/jet4-format.md). All value bytes are
// big-endian so that keys compare as unsigned byte strings:
//
//   | column type              | flag (asc/desc)     | value bytes (ascending)            |
//   |--------------------------|---------------------|------------------------------------|
//   | any, NULL                | 00 / FF             | none                               |
//   | BOOL (never NULL)        | 7F / 80             | 00 true, FF false (desc: swapped)  |
//   | BYTE                     | 7F / 80             | the byte                           |
//   | SHORT, LONG, CURRENCY    | 7F / 80             | BE two's complement, top bit flipped |
//   | SINGLE, DOUBLE, DATETIME | 7F / 80             | BE IEEE; >= 0: top bit flipped,    |
//   |                          |                     | < 0: all bits inverted             |
//   | NUMERIC                  | 7F / 80             | 17 bytes, legacy rule [IDX-15]     |
//   | BINARY, GUID             | 7F / 80             | 8-byte groups + length byte [IDX-16] |
//   | TEXT, MEMO               | 7F / 80             | General sort order [IDX-20]        |
//
// Descending columns store the inverted value bytes (text and binary have
// their own rules, see the rule ids).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "base/status.h"

namespace velquin::jet {

// Column types that can be part of an index. The values are Jet's column type
// codes (the first byte of a TDEF column descriptor), so a caller holding a
// type code can static_cast it after checking IsIndexableType().
enum class KeyColumnType : std::uint8_t {
  kBool = 0x01,
  kByte = 0x02,
  kShort = 0x03,     // Jet "INT", 16 bits
  kLong = 0x04,      // 32 bits
  kCurrency = 0x05,  // int64 = value x 10000
  kSingle = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,  // double, days since 1899-12-30
  kBinary = 0x09,
  kText = 0x0A,
  kMemo = 0x0C,  // keyed like TEXT (first 255 characters)
  kGuid = 0x0F,
  kNumeric = 0x10,
};

bool IsIndexableType(std::uint8_t type_code);

// One column of an index as the key encoder needs it.
struct KeyColumn {
  KeyColumnType type = KeyColumnType::kLong;
  bool ascending = true;
};

// A GUID as stored in a row: the first three groups little-endian (4, 2, 2
// bytes), the last 8 bytes as they are.
struct GuidValue {
  std::array<std::uint8_t, 16> stored{};
};

// A NUMERIC (DECIMAL) value: sign and the unscaled magnitude as a 128-bit
// unsigned integer, most significant byte first. The scale is the column's.
struct DecimalValue {
  bool negative = false;
  std::array<std::uint8_t, 16> magnitude{};
};

// One column value. Which alternative is valid depends on the column type:
//   std::monostate          NULL (any type; BOOL treats it as false)
//   bool                    BOOL
//   std::int64_t            BYTE, SHORT, LONG, CURRENCY (scaled x 10000)
//   double                  SINGLE, DOUBLE, DATETIME
//   std::u16string          TEXT, MEMO
//   std::vector<uint8_t>    BINARY
//   GuidValue               GUID
//   DecimalValue            NUMERIC
using KeyValue = std::variant<std::monostate, bool, std::int64_t, double, std::u16string,
                              std::vector<std::uint8_t>, GuidValue, DecimalValue>;

inline constexpr std::size_t kMaxIndexColumns = 10;

// Encodes one row's key. `values[i]` belongs to `columns[i]`. InvalidArgument
// when the counts differ, there are 0 or more than 10 columns, a value does
// not fit its type (e.g. 300 for BYTE) or the alternative does not match.
Result<std::vector<std::uint8_t>> EncodeKey(std::span<const KeyColumn> columns,
                                            std::span<const KeyValue> values);

// Appends one column's flag byte and value bytes.
Status AppendKeyColumn(const KeyColumn& column, const KeyValue& value,
                       std::vector<std::uint8_t>& out);

// [IDX-14] True when every column of the row is NULL (BOOL columns never are). Such
// keys are exempt from uniqueness and are left out of "ignore nulls" indexes.
// AppendKeyColumn for a present value of a SHORT, LONG, CURRENCY, DOUBLE or
// DATETIME column given as the table stores it (little-endian bytes),
// without going through KeyValue. False (nothing appended) for other types
// or a stored size that does not match: use KeyValueFromStored then.
bool AppendStoredKeyColumn(const KeyColumn& column, std::span<const std::uint8_t> stored,
                           std::vector<std::uint8_t>& out);

bool IsAllNull(std::span<const KeyColumn> columns, std::span<const KeyValue> values);

// Converts the bytes a fixed-length column stores in a row (little-endian, as
// the table layer reads them) into a KeyValue: BYTE 1, SHORT 2, LONG 4,
// CURRENCY 8, SINGLE 4, DOUBLE 8, DATETIME 8, GUID 16, NUMERIC 17 bytes.
// BINARY takes the bytes as they are. Not for BOOL (its value is the row's
// null-mask bit) or text (the table layer decodes text).
Result<KeyValue> KeyValueFromStored(KeyColumnType type, std::span<const std::uint8_t> stored);

}  // namespace velquin::jet
