// Index key encoding; the layout table is in index_key.h.
#include "jet/index/index_key.h"

#include <bit>
#include <cmath>
#include <limits>
#include <string>

#include "jet/index/general_sort_order.h"

namespace velquin::jet {
namespace {

constexpr std::uint8_t kAscFlag = 0x7F;  // [IDX-10]
constexpr std::uint8_t kAscNull = 0x00;
constexpr std::uint8_t kDescFlag = 0x80;
constexpr std::uint8_t kDescNull = 0xFF;

std::string TypeName(KeyColumnType type) {
  switch (type) {
    case KeyColumnType::kBool:
      return "BOOL";
    case KeyColumnType::kByte:
      return "BYTE";
    case KeyColumnType::kShort:
      return "SHORT";
    case KeyColumnType::kLong:
      return "LONG";
    case KeyColumnType::kCurrency:
      return "CURRENCY";
    case KeyColumnType::kSingle:
      return "SINGLE";
    case KeyColumnType::kDouble:
      return "DOUBLE";
    case KeyColumnType::kDateTime:
      return "DATETIME";
    case KeyColumnType::kBinary:
      return "BINARY";
    case KeyColumnType::kText:
      return "TEXT";
    case KeyColumnType::kMemo:
      return "MEMO";
    case KeyColumnType::kGuid:
      return "GUID";
    case KeyColumnType::kNumeric:
      return "NUMERIC";
  }
  return "type " + std::to_string(static_cast<int>(type));
}

Status WrongValue(KeyColumnType type, const char* what) {
  return Status::InvalidArgument("index key: " + TypeName(type) + " column given " + what);
}

void AppendBigEndian(std::uint64_t v, int bytes, std::vector<std::uint8_t>& out) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Invert(std::vector<std::uint8_t>& out, std::size_t from) {
  for (std::size_t i = from; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
}

// [IDX-12] integers: big-endian, top bit flipped; descending inverts.
Status AppendInteger(KeyColumnType type, std::int64_t v, int bytes, bool asc,
                     std::vector<std::uint8_t>& out) {
  const std::int64_t lo =
      bytes == 8 ? std::numeric_limits<std::int64_t>::min() : -(std::int64_t{1} << (8 * bytes - 1));
  const std::int64_t hi = bytes == 8 ? std::numeric_limits<std::int64_t>::max()
                                     : (std::int64_t{1} << (8 * bytes - 1)) - 1;
  if (v < lo || v > hi) {
    return Status::InvalidArgument("index key: value " + std::to_string(v) + " out of range for " +
                                   TypeName(type));
  }
  const std::size_t from = out.size();
  AppendBigEndian(static_cast<std::uint64_t>(v), bytes, out);
  out[from] ^= 0x80;
  if (!asc) Invert(out, from);
  return Status::Ok();
}

// [IDX-13] floating point.
void AppendFloatBits(std::uint64_t bits, int bytes, bool asc, std::vector<std::uint8_t>& out) {
  const std::size_t from = out.size();
  AppendBigEndian(bits, bytes, out);
  const bool negative = (out[from] & 0x80) != 0;
  if (!negative) out[from] ^= 0x80;
  if (negative == asc) Invert(out, from);
}

// [IDX-16] BINARY and GUID: 8-byte groups, each followed by 9 when more
// groups follow, else by the number of real bytes in the (zero-padded) group.
void AppendGroups(std::span<const std::uint8_t> data, bool asc, std::vector<std::uint8_t>& out) {
  std::size_t pos = 0;
  while (data.size() - pos > 8) {
    const std::size_t from = out.size();
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(pos),
               data.begin() + static_cast<std::ptrdiff_t>(pos + 8));
    if (!asc) Invert(out, from);
    out.push_back(9);  // not inverted, even descending
    pos += 8;
  }
  const std::size_t rest = data.size() - pos;
  if (rest == 0) return;
  const std::size_t from = out.size();
  out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(pos), data.end());
  out.insert(out.end(), 8 - rest, 0);
  out.push_back(static_cast<std::uint8_t>(rest));
  if (!asc) Invert(out, from);
}

}  // namespace

bool IsIndexableType(std::uint8_t code) {
  switch (code) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x07:
    case 0x08:
    case 0x09:
    case 0x0A:
    case 0x0C:
    case 0x0F:
    case 0x10:
      return true;
    default:
      return false;
  }
}

Status AppendKeyColumn(const KeyColumn& column, const KeyValue& value,
                       std::vector<std::uint8_t>& out) {
  const bool asc = column.ascending;
  const KeyColumnType type = column.type;
  if (type == KeyColumnType::kBool) {
    // [IDX-11] BOOL is never NULL in a key; NULL counts as false.
    bool b = false;
    if (const bool* p = std::get_if<bool>(&value)) {
      b = *p;
    } else if (!std::holds_alternative<std::monostate>(value)) {
      return WrongValue(type, "a non-boolean value");
    }
    out.push_back(asc ? kAscFlag : kDescFlag);
    out.push_back((b == asc) ? 0x00 : 0xFF);
    return Status::Ok();
  }
  if (std::holds_alternative<std::monostate>(value)) {
    out.push_back(asc ? kAscNull : kDescNull);
    return Status::Ok();
  }
  const std::size_t mark = out.size();
  out.push_back(asc ? kAscFlag : kDescFlag);
  Status st;
  switch (type) {
    case KeyColumnType::kByte: {
      const auto* v = std::get_if<std::int64_t>(&value);
      if (!v) {
        st = WrongValue(type, "a non-integer value");
        break;
      }
      if (*v < 0 || *v > 255) {
        st = Status::InvalidArgument("index key: value " + std::to_string(*v) +
                                     " out of range for BYTE");
        break;
      }
      out.push_back(static_cast<std::uint8_t>(asc ? *v : 255 - *v));  // [IDX-12]
      break;
    }
    case KeyColumnType::kShort:
    case KeyColumnType::kLong:
    case KeyColumnType::kCurrency: {
      const auto* v = std::get_if<std::int64_t>(&value);
      if (!v) {
        st = WrongValue(type, "a non-integer value");
        break;
      }
      const int bytes = type == KeyColumnType::kShort ? 2 : type == KeyColumnType::kLong ? 4 : 8;
      st = AppendInteger(type, *v, bytes, asc, out);
      break;
    }
    case KeyColumnType::kSingle:
    case KeyColumnType::kDouble:
    case KeyColumnType::kDateTime: {
      const auto* v = std::get_if<double>(&value);
      if (!v) {
        st = WrongValue(type, "a non-floating-point value");
        break;
      }
      if (type == KeyColumnType::kSingle) {
        AppendFloatBits(std::bit_cast<std::uint32_t>(static_cast<float>(*v)), 4, asc, out);
      } else {
        AppendFloatBits(std::bit_cast<std::uint64_t>(*v), 8, asc, out);
      }
      break;
    }
    case KeyColumnType::kText:
    case KeyColumnType::kMemo: {
      // [IDX-17] General (legacy) sort order, the only one of Jet 4 files.
      const auto* v = std::get_if<std::u16string>(&value);
      if (!v) {
        st = WrongValue(type, "a non-text value");
        break;
      }
      AppendGeneralTextKey(*v, asc, out);
      break;
    }
    case KeyColumnType::kBinary: {
      const auto* v = std::get_if<std::vector<std::uint8_t>>(&value);
      if (!v) {
        st = WrongValue(type, "a non-binary value");
        break;
      }
      AppendGroups(*v, asc, out);
      break;
    }
    case KeyColumnType::kGuid: {
      const auto* v = std::get_if<GuidValue>(&value);
      if (!v) {
        st = WrongValue(type, "a non-GUID value");
        break;
      }
      // [IDX-16] the key uses the GUID's canonical (big-endian) byte order.
      const auto& s = v->stored;
      const std::array<std::uint8_t, 16> be = {s[3],  s[2],  s[1],  s[0], s[5],  s[4],
                                               s[7],  s[6],  s[8],  s[9], s[10], s[11],
                                               s[12], s[13], s[14], s[15]};
      AppendGroups(be, asc, out);
      break;
    }
    case KeyColumnType::kNumeric: {
      const auto* v = std::get_if<DecimalValue>(&value);
      if (!v) {
        st = WrongValue(type, "a non-decimal value");
        break;
      }
      bool zero = true;
      for (std::uint8_t b : v->magnitude) zero = zero && b == 0;
      const bool negative = v->negative && !zero;
      // [IDX-15] sign byte + magnitude; invert when negative == ascending;
      // then the sign byte becomes FF (non-negative) or 00 (negative).
      const std::size_t from = out.size();
      out.push_back(negative ? 0x80 : 0x00);
      out.insert(out.end(), v->magnitude.begin(), v->magnitude.end());
      if (negative == asc) Invert(out, from);
      out[from] = negative ? 0x00 : 0xFF;
      break;
    }
    case KeyColumnType::kBool:
      break;  // handled above
    default:
      st = Status::InvalidArgument("index key: column type " +
                                   std::to_string(static_cast<int>(type)) + " cannot be indexed");
  }
  if (!st.ok()) out.resize(mark);
  return st;
}

bool AppendStoredKeyColumn(const KeyColumn& column, std::span<const std::uint8_t> stored,
                           std::vector<std::uint8_t>& out) {
  const bool asc = column.ascending;
  int bytes = 0;
  bool real = false;
  switch (column.type) {
    case KeyColumnType::kShort:
      bytes = 2;
      break;
    case KeyColumnType::kLong:
      bytes = 4;
      break;
    case KeyColumnType::kCurrency:
      bytes = 8;
      break;
    case KeyColumnType::kDouble:
    case KeyColumnType::kDateTime:
      bytes = 8;
      real = true;
      break;
    default:
      return false;
  }
  if (stored.size() != static_cast<std::size_t>(bytes)) return false;
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= std::uint64_t{stored[i]} << (8 * i);
  const int top = 8 * bytes - 1;
  if (real) {
    // [IDX-13]: a positive number gets its sign bit set; a negative one
    // (sign set) is inverted whole when ascending, a positive one when
    // descending.
    const bool negative = (v >> top) != 0;
    if (!negative) v ^= std::uint64_t{1} << top;
    if (negative == asc) v = ~v;
  } else {
    // [IDX-12]: the sign bit flipped; descending inverts.
    v ^= std::uint64_t{1} << top;
    if (!asc) v = ~v;
  }
  std::uint8_t b[9];
  b[0] = asc ? kAscFlag : kDescFlag;
  for (int i = 0; i < bytes; ++i) b[1 + i] = static_cast<std::uint8_t>(v >> (8 * (bytes - 1 - i)));
  out.insert(out.end(), b, b + 1 + bytes);
  return true;
}

Result<std::vector<std::uint8_t>> EncodeKey(std::span<const KeyColumn> columns,
                                            std::span<const KeyValue> values) {
  if (columns.empty() || columns.size() > kMaxIndexColumns) {
    return Status::InvalidArgument("index key: an index has 1 to 10 columns, not " +
                                   std::to_string(columns.size()));
  }
  if (columns.size() != values.size()) {
    return Status::InvalidArgument("index key: " + std::to_string(columns.size()) +
                                   " columns but " + std::to_string(values.size()) + " values");
  }
  std::vector<std::uint8_t> key;
  key.reserve(16 * columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    Status st = AppendKeyColumn(columns[i], values[i], key);
    if (!st.ok()) return st.WithContext("column " + std::to_string(i + 1));
  }
  return key;
}

bool IsAllNull(std::span<const KeyColumn> columns, std::span<const KeyValue> values) {
  for (std::size_t i = 0; i < columns.size() && i < values.size(); ++i) {
    if (columns[i].type == KeyColumnType::kBool) return false;
    if (!std::holds_alternative<std::monostate>(values[i])) return false;
  }
  return true;
}

Result<KeyValue> KeyValueFromStored(KeyColumnType type, std::span<const std::uint8_t> b) {
  auto need = [&](std::size_t n) -> Status {
    if (b.size() != n) {
      return Status::InvalidArgument("stored " + TypeName(type) + " value has " +
                                     std::to_string(b.size()) + " bytes, expected " +
                                     std::to_string(n));
    }
    return Status::Ok();
  };
  auto le = [&](std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= std::uint64_t{b[i]} << (8 * i);
    return v;
  };
  switch (type) {
    case KeyColumnType::kByte:
      VELQUIN_RETURN_IF_ERROR(need(1));
      return KeyValue(std::int64_t{b[0]});
    case KeyColumnType::kShort:
      VELQUIN_RETURN_IF_ERROR(need(2));
      return KeyValue(std::int64_t{static_cast<std::int16_t>(le(2))});
    case KeyColumnType::kLong:
      VELQUIN_RETURN_IF_ERROR(need(4));
      return KeyValue(std::int64_t{static_cast<std::int32_t>(le(4))});
    case KeyColumnType::kCurrency:
      VELQUIN_RETURN_IF_ERROR(need(8));
      return KeyValue(static_cast<std::int64_t>(le(8)));
    case KeyColumnType::kSingle:
      VELQUIN_RETURN_IF_ERROR(need(4));
      return KeyValue(static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(le(4)))));
    case KeyColumnType::kDouble:
    case KeyColumnType::kDateTime:
      VELQUIN_RETURN_IF_ERROR(need(8));
      return KeyValue(std::bit_cast<double>(le(8)));
    case KeyColumnType::kBinary:
      return KeyValue(std::vector<std::uint8_t>(b.begin(), b.end()));
    case KeyColumnType::kGuid: {
      VELQUIN_RETURN_IF_ERROR(need(16));
      GuidValue g;
      std::copy(b.begin(), b.end(), g.stored.begin());
      return KeyValue(g);
    }
    case KeyColumnType::kNumeric: {
      // Stored: sign byte, then four 32-bit little-endian words, most
      // significant word first.
      VELQUIN_RETURN_IF_ERROR(need(17));
      DecimalValue d;
      d.negative = b[0] != 0;
      for (int w = 0; w < 4; ++w) {
        for (int k = 0; k < 4; ++k) d.magnitude[4 * w + k] = b[1 + 4 * w + (3 - k)];
      }
      return KeyValue(d);
    }
    default:
      return Status::InvalidArgument("no stored form to convert for " + TypeName(type));
  }
}

}  // namespace velquin::jet
