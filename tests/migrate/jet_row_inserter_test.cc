// Converted values -> Access values by the target column: exact where the
// column can hold the value, refused with the reason where it cannot.
#include "migrate/jet_row_inserter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velquin {
namespace {

using ::testing::HasSubstr;

jet::ColumnInfo Column(jet::ColumnType type, std::uint16_t size = 0, std::uint8_t precision = 0,
                       std::uint8_t scale = 0) {
  jet::ColumnInfo c;
  c.name = "c";
  c.type = type;
  c.size = size;
  c.precision = precision;
  c.scale = scale;
  return c;
}

TargetValue Number(const std::string& text) {
  TargetValue v;
  v.kind = TargetValue::Kind::kNumber;
  v.text = text;
  return v;
}

TargetValue Text(const std::string& text) {
  TargetValue v;
  v.kind = TargetValue::Kind::kText;
  v.text = text;
  return v;
}

TEST(ToJetValueTest, ExactValues) {
  EXPECT_EQ(*ToJetValue(Number("-2147483648"), Column(jet::ColumnType::kLong)),
            jet::Value::Long(-2147483647 - 1));
  EXPECT_EQ(*ToJetValue(Number("255"), Column(jet::ColumnType::kByte)), jet::Value::Byte(255));
  EXPECT_EQ(*ToJetValue(Number("-32768"), Column(jet::ColumnType::kShort)),
            jet::Value::Short(-32768));
  EXPECT_EQ(
      ToJetValue(Number("12345678901234567890.50"), Column(jet::ColumnType::kNumeric, 0, 28, 2))
          ->decimal_value()
          .ToString(),
      "12345678901234567890.50");
  EXPECT_EQ(*ToJetValue(Number("0.1"), Column(jet::ColumnType::kDouble)), jet::Value::Double(0.1));
  EXPECT_EQ(*ToJetValue(Text("Zoë 😀"), Column(jet::ColumnType::kText, 6)),
            jet::Value::Text("Zoë 😀"));
  EXPECT_TRUE(ToJetValue(TargetValue{}, Column(jet::ColumnType::kLong))->is_null());
  TargetValue bytes;
  bytes.kind = TargetValue::Kind::kBinary;
  bytes.text = std::string("a\0\0", 3);
  EXPECT_EQ(*ToJetValue(bytes, Column(jet::ColumnType::kBinary, 3)),
            jet::Value::Binary({'a', 0, 0}));
  TargetValue date;
  date.kind = TargetValue::Kind::kDateTime;
  date.year = 2024, date.month = 2, date.day = 29, date.hour = 1, date.millisecond = 5;
  EXPECT_EQ(*ToJetValue(date, Column(jet::ColumnType::kDateTime)),
            jet::Value::Date(jet::DateTime::FromParts(2024, 2, 29, 1, 0, 0, 5)));
}

TEST(ToJetValueTest, WhatTheColumnCannotHoldIsRefusedWithTheReason) {
  struct Case {
    TargetValue value;
    jet::ColumnInfo column;
    const char* reason;
  } cases[] = {
      {Number("2147483648"), Column(jet::ColumnType::kLong), "does not fit a"},
      {Number("256"), Column(jet::ColumnType::kByte), "does not fit a"},
      {Number("1.5"), Column(jet::ColumnType::kLong), "not a whole number"},
      {Number("123456.7"), Column(jet::ColumnType::kNumeric, 0, 6, 2), "does not fit DECIMAL(6,2)"},
      {Text("abcdefg"), Column(jet::ColumnType::kText, 6), "longer than the column's 6"},
      {Number("1e39"), Column(jet::ColumnType::kSingle), "does not fit a SINGLE"},
  };
  for (const auto& c : cases) {
    auto r = ToJetValue(c.value, c.column);
    ASSERT_FALSE(r.ok()) << c.value.text;
    EXPECT_THAT(r.status().message(), HasSubstr(c.reason)) << c.value.text;
    EXPECT_THAT(r.status().message(), HasSubstr("column `c`"));
  }
}

}  // namespace
}  // namespace velquin
