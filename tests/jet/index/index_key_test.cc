// Key encoding per column type: exact bytes where the format fixes them,
// and ordering: keys must sort like the values (reversed when descending).
#include "jet/index/index_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "test_util.h"

namespace velquin::jet {
namespace {

using testing::Hex;
using testing::ToHex;

std::string Enc(KeyColumnType type, bool asc, const KeyValue& v) {
  KeyColumn col{type, asc};
  auto r = EncodeKey(std::span(&col, 1), std::span(&v, 1));
  EXPECT_TRUE(r.ok()) << r.status().ToString();
  return r.ok() ? ToHex(*r) : "";
}

std::vector<std::uint8_t> Raw(KeyColumnType type, bool asc, const KeyValue& v) {
  KeyColumn col{type, asc};
  auto r = EncodeKey(std::span(&col, 1), std::span(&v, 1));
  EXPECT_TRUE(r.ok()) << r.status().ToString();
  return r.ok() ? *r : std::vector<std::uint8_t>{};
}

struct VectorCase {
  const char* name;
  KeyColumnType type;
  bool asc;
  KeyValue value;
  const char* hex;
};

class KeyVectors : public ::testing::TestWithParam<VectorCase> {};

TEST_P(KeyVectors, Bytes) {
  const auto& c = GetParam();
  EXPECT_EQ(Enc(c.type, c.asc, c.value), ToHex(Hex(c.hex))) << c.name;
}

using T = KeyColumnType;
const std::int64_t kOne = 1;

INSTANTIATE_TEST_SUITE_P(
    Format, KeyVectors,
    ::testing::Values(
        VectorCase{"long 1", T::kLong, true, kOne, "7F 80 00 00 01"},
        VectorCase{"long -1", T::kLong, true, std::int64_t{-1}, "7F 7F FF FF FF"},
        VectorCase{"long 1 desc", T::kLong, false, kOne, "80 7F FF FF FE"},
        VectorCase{"long null", T::kLong, true, std::monostate{}, "00"},
        VectorCase{"long null desc", T::kLong, false, std::monostate{}, "FF"},
        VectorCase{"text null", T::kText, true, std::monostate{}, "00"},
        VectorCase{"short min", T::kShort, true, std::int64_t{-32768}, "7F 00 00"},
        VectorCase{"byte 5", T::kByte, true, std::int64_t{5}, "7F 05"},
        VectorCase{"byte 5 desc", T::kByte, false, std::int64_t{5}, "80 FA"},
        VectorCase{"currency 1.0", T::kCurrency, true, std::int64_t{10000},
                   "7F 80 00 00 00 00 00 27 10"},
        VectorCase{"bool true", T::kBool, true, true, "7F 00"},
        VectorCase{"bool false", T::kBool, true, false, "7F FF"},
        VectorCase{"bool null is false", T::kBool, true, std::monostate{}, "7F FF"},
        VectorCase{"bool true desc", T::kBool, false, true, "80 FF"},
        // 1.0 = 3FF0...: top bit flipped.
        VectorCase{"double 1", T::kDouble, true, 1.0, "7F BF F0 00 00 00 00 00 00"},
        // -1.0 = BFF0...: every bit inverted.
        VectorCase{"double -1", T::kDouble, true, -1.0, "7F 40 0F FF FF FF FF FF FF"},
        VectorCase{"double 1 desc", T::kDouble, false, 1.0, "80 40 0F FF FF FF FF FF FF"},
        VectorCase{"double -1 desc", T::kDouble, false, -1.0, "80 BF F0 00 00 00 00 00 00"},
        VectorCase{"single 1", T::kSingle, true, 1.0, "7F BF 80 00 00"},
        VectorCase{"date 1900-01-01", T::kDateTime, true, 2.0, "7F C0 00 00 00 00 00 00 00"},
        VectorCase{"binary empty", T::kBinary, true, std::vector<std::uint8_t>{}, "7F"},
        VectorCase{"binary 3", T::kBinary, true, std::vector<std::uint8_t>{1, 2, 3},
                   "7F 01 02 03 00 00 00 00 00 03"},
        VectorCase{"binary 9", T::kBinary, true,
                   std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9},
                   "7F 01 02 03 04 05 06 07 08 09 09 00 00 00 00 00 00 00 01"},
        VectorCase{"binary 9 desc", T::kBinary, false,
                   std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9},
                   "80 FE FD FC FB FA F9 F8 F7 09 F6 FF FF FF FF FF FF FF FE"},
        VectorCase{"binary 8", T::kBinary, true, std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8},
                   "7F 01 02 03 04 05 06 07 08 08"},
        // Stored {04030201-0605-0807-090A-0B0C0D0E0F10} -> canonical order.
        VectorCase{"guid", T::kGuid, true,
                   GuidValue{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
                   "7F 04 03 02 01 06 05 08 07 09 09 0A 0B 0C 0D 0E 0F 10 08"},
        VectorCase{"numeric 1", T::kNumeric, true,
                   DecimalValue{false, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
                   "7F FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01"},
        VectorCase{"numeric -1", T::kNumeric, true,
                   DecimalValue{true, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
                   "7F 00 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FE"},
        // Access 2000-2003's descending numeric keys (MS KB 837148).
        VectorCase{"numeric 1 desc", T::kNumeric, false,
                   DecimalValue{false, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
                   "80 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FE"},
        VectorCase{"numeric -0 is 0", T::kNumeric, true, DecimalValue{true, {}},
                   "7F FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        VectorCase{"text abc desc", T::kText, false, std::u16string(u"abc"),
                   "80 B5 B3 B2 FE FF 00"}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& c : n) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return n;
    });

template <typename V>
void ExpectOrdered(KeyColumnType type, const std::vector<V>& sorted_values) {
  for (std::size_t i = 0; i + 1 < sorted_values.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_LT(Raw(type, true, sorted_values[i]), Raw(type, true, sorted_values[i + 1]));
    EXPECT_GT(Raw(type, false, sorted_values[i]), Raw(type, false, sorted_values[i + 1]));
  }
}

TEST(KeyOrder, IntegersNegativeAndPositive) {
  ExpectOrdered<std::int64_t>(
      T::kLong, {std::numeric_limits<std::int32_t>::min(), -100000, -256, -1, 0, 1, 255, 256,
                 100000, std::numeric_limits<std::int32_t>::max()});
  ExpectOrdered<std::int64_t>(T::kShort, {-32768, -1, 0, 1, 32767});
  ExpectOrdered<std::int64_t>(
      T::kCurrency, {std::numeric_limits<std::int64_t>::min(), -10000, -1, 0, 1, 922337203685477LL,
                     std::numeric_limits<std::int64_t>::max()});
  ExpectOrdered<std::int64_t>(T::kByte, {0, 1, 127, 128, 255});
}

TEST(KeyOrder, FloatsAndDates) {
  std::vector<double> values = {-std::numeric_limits<double>::infinity(),
                                -1e300,
                                -2.5,
                                -1.0,
                                -1e-300,
                                0.0,
                                1e-300,
                                0.5,
                                1.0,
                                2.5,
                                1e300,
                                std::numeric_limits<double>::infinity()};
  ExpectOrdered<double>(T::kDouble, values);
  // Dates: 1753-01-01 (-53690), 1899-12-29 06:00 (-1.25), 1899-12-30, 2026-12-07.
  ExpectOrdered<double>(T::kDateTime, {-53690.0, -1.25, -1.0, 0.0, 0.25, 46363.5, 2958465.0});
  ExpectOrdered<double>(T::kSingle, {-3.0e38, -1.5, -0.25, 0.0, 0.25, 1.5, 3.0e38});
}

TEST(KeyOrder, RandomLongsSortLikeTheirKeys) {
  std::mt19937_64 rng(7);
  std::vector<std::int64_t> v;
  for (int i = 0; i < 2000; ++i) v.push_back(static_cast<std::int32_t>(rng()));
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  ExpectOrdered<std::int64_t>(T::kLong, v);
}

TEST(KeyOrder, NumericAscending) {
  auto dec = [](bool neg, std::uint64_t mag) {
    DecimalValue d;
    d.negative = neg;
    for (int i = 0; i < 8; ++i) d.magnitude[15 - i] = static_cast<std::uint8_t>(mag >> (8 * i));
    return KeyValue(d);
  };
  std::vector<KeyValue> v = {dec(true, 1000000), dec(true, 5),  dec(true, 1),       dec(false, 0),
                             dec(false, 1),      dec(false, 5), dec(false, 1000000)};
  for (std::size_t i = 0; i + 1 < v.size(); ++i) {
    EXPECT_LT(Raw(T::kNumeric, true, v[i]), Raw(T::kNumeric, true, v[i + 1])) << i;
  }
}

TEST(KeyOrder, NullsFirstAscendingLastDescending) {
  EXPECT_LT(Raw(T::kLong, true, std::monostate{}),
            Raw(T::kLong, true, std::int64_t{std::numeric_limits<std::int32_t>::min()}));
  EXPECT_GT(Raw(T::kLong, false, std::monostate{}),
            Raw(T::kLong, false, std::int64_t{std::numeric_limits<std::int32_t>::min()}));
  EXPECT_LT(Raw(T::kText, true, std::monostate{}), Raw(T::kText, true, std::u16string()));
}

TEST(KeyOrder, BinaryPrefixSortsFirst) {
  using B = std::vector<std::uint8_t>;
  // An empty value is the bare flag byte: first in both directions.
  EXPECT_LT(Raw(T::kBinary, true, B{}), Raw(T::kBinary, true, B{0}));
  EXPECT_LT(Raw(T::kBinary, false, B{}), Raw(T::kBinary, false, B{0}));
  ExpectOrdered<B>(T::kBinary, {B{0}, B{0, 0}, B{1}, B{1, 2, 3, 4, 5, 6, 7, 8},
                                B{1, 2, 3, 4, 5, 6, 7, 8, 0}, B{1, 2, 3, 4, 5, 6, 7, 9}, B{0xFF}});
}

// Keys made straight from stored bytes must equal keys made through
// KeyValueFromStored, for every type the short cut takes, both directions.
TEST(StoredKey, SameBytesAsThroughKeyValue) {
  auto le = [](std::uint64_t v, int n) {
    std::vector<std::uint8_t> b;
    for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return b;
  };
  std::vector<std::pair<KeyColumnType, std::vector<std::uint8_t>>> cases;
  for (std::int64_t v : {0LL, 1LL, -1LL, 32767LL, -32768LL, 1234LL}) {
    cases.push_back({KeyColumnType::kShort, le(static_cast<std::uint64_t>(v), 2)});
  }
  for (std::int64_t v : {0LL, 1LL, -1LL, 2147483647LL, -2147483648LL, 70000LL}) {
    cases.push_back({KeyColumnType::kLong, le(static_cast<std::uint64_t>(v), 4)});
  }
  for (std::int64_t v :
       {std::int64_t{0}, std::int64_t{-1}, std::numeric_limits<std::int64_t>::max(),
        std::numeric_limits<std::int64_t>::min(), std::int64_t{123456789}}) {
    cases.push_back({KeyColumnType::kCurrency, le(static_cast<std::uint64_t>(v), 8)});
  }
  for (double d :
       {0.0, -0.0, 1.5, -1.5, 1e300, -1e-300, 36526.5, std::numeric_limits<double>::infinity()}) {
    cases.push_back({KeyColumnType::kDouble, le(std::bit_cast<std::uint64_t>(d), 8)});
    cases.push_back({KeyColumnType::kDateTime, le(std::bit_cast<std::uint64_t>(d), 8)});
  }
  for (const auto& [type, stored] : cases) {
    for (bool asc : {true, false}) {
      KeyColumn col{type, asc};
      std::vector<std::uint8_t> fast, slow;
      ASSERT_TRUE(AppendStoredKeyColumn(col, stored, fast));
      auto kv = KeyValueFromStored(type, stored);
      ASSERT_TRUE(kv.ok());
      ASSERT_TRUE(AppendKeyColumn(col, *kv, slow).ok());
      EXPECT_EQ(ToHex(fast), ToHex(slow))
          << static_cast<int>(type) << " " << ToHex(stored) << (asc ? " asc" : " desc");
    }
  }
  // Types it does not take, and a wrong size, are left to the long way.
  std::vector<std::uint8_t> out;
  EXPECT_FALSE(AppendStoredKeyColumn({KeyColumnType::kText, true}, le(65, 2), out));
  EXPECT_FALSE(AppendStoredKeyColumn({KeyColumnType::kSingle, true}, le(0, 4), out));
  EXPECT_FALSE(AppendStoredKeyColumn({KeyColumnType::kLong, true}, le(1, 2), out));
  EXPECT_TRUE(out.empty());
}

TEST(MultiColumnKey, ConcatenatesColumnsInOrder) {
  std::vector<KeyColumn> cols = {{T::kLong, true}, {T::kText, true}, {T::kDateTime, false}};
  std::vector<KeyValue> vals = {std::int64_t{1}, std::u16string(u"ab"), std::monostate{}};
  auto key = EncodeKey(cols, vals);
  ASSERT_TRUE(key.ok());
  EXPECT_EQ(ToHex(*key), "7F 80 00 00 01 7F 4A 4C 01 00 FF");
  EXPECT_FALSE(IsAllNull(cols, vals));
  std::vector<KeyValue> nulls(3);
  EXPECT_TRUE(IsAllNull(cols, nulls));
}

TEST(MultiColumnKey, FirstColumnDominates) {
  std::vector<KeyColumn> cols = {{T::kLong, true}, {T::kText, true}};
  auto a = EncodeKey(cols, std::vector<KeyValue>{std::int64_t{1}, std::u16string(u"zzz")});
  auto b = EncodeKey(cols, std::vector<KeyValue>{std::int64_t{2}, std::u16string(u"a")});
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_LT(*a, *b);
}

TEST(KeyErrors, BadInputIsRefused) {
  KeyColumn byte{T::kByte, true};
  KeyValue big = std::int64_t{300};
  EXPECT_EQ(EncodeKey(std::span(&byte, 1), std::span(&big, 1)).status().code(),
            StatusCode::kInvalidArgument);
  KeyColumn shrt{T::kShort, true};
  KeyValue s = std::int64_t{40000};
  EXPECT_FALSE(EncodeKey(std::span(&shrt, 1), std::span(&s, 1)).ok());
  KeyColumn lng{T::kLong, true};
  KeyValue text = std::u16string(u"x");
  EXPECT_FALSE(EncodeKey(std::span(&lng, 1), std::span(&text, 1)).ok());
  std::vector<KeyColumn> eleven(11, lng);
  std::vector<KeyValue> vals(11, KeyValue(std::int64_t{1}));
  EXPECT_FALSE(EncodeKey(eleven, vals).ok());
  EXPECT_FALSE(EncodeKey({}, {}).ok());
  std::vector<KeyColumn> two(2, lng);
  EXPECT_FALSE(EncodeKey(two, std::vector<KeyValue>{std::int64_t{1}}).ok());
  KeyColumn ole{static_cast<KeyColumnType>(0x0B), true};
  EXPECT_FALSE(EncodeKey(std::span(&ole, 1), std::span(&big, 1)).ok());
  EXPECT_FALSE(IsIndexableType(0x0B));
  EXPECT_TRUE(IsIndexableType(0x0A));
}

TEST(KeyValueFromStored, ConvertsRowBytes) {
  auto v = KeyValueFromStored(T::kLong, Hex("FF FF FF FF"));
  ASSERT_TRUE(v.ok());
  EXPECT_EQ(std::get<std::int64_t>(*v), -1);
  auto n = KeyValueFromStored(T::kNumeric,
                              Hex("80 00000000 00000000 01000000 02000000"));  // -(2^32 + 2)
  ASSERT_TRUE(n.ok());
  const auto& d = std::get<DecimalValue>(*n);
  EXPECT_TRUE(d.negative);
  EXPECT_EQ(d.magnitude[11], 1);
  EXPECT_EQ(d.magnitude[15], 2);
  EXPECT_FALSE(KeyValueFromStored(T::kLong, Hex("01 02")).ok());
  EXPECT_FALSE(KeyValueFromStored(T::kText, Hex("41 00")).ok());
}

}  // namespace
}  // namespace velquin::jet
