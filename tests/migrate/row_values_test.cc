// Source values -> Access values and Jet literals, per transform of the type
// map, with the rules for values Access cannot hold.
#include "migrate/row_values.h"

#include <gtest/gtest.h>

namespace velquin {
namespace {

ColumnPlan Plan(AccessType type, ValueTransform transform = ValueTransform::kAsIs) {
  ColumnPlan p;
  p.name = "c";
  p.declared = "x";
  p.type = type;
  p.transform = transform;
  return p;
}

std::string Literal(const ColumnPlan& plan, std::string_view raw, bool null = false) {
  auto v = ConvertSourceValue(plan, null, raw);
  if (!v.ok()) return "ERROR: " + v.status().message();
  return JetLiteral(*v);
}

TEST(RowValuesTest, LiteralsAreExact) {
  struct Case {
    AccessType type;
    ValueTransform transform;
    std::string raw;
    bool null;
    std::string literal;
  } cases[] = {
      // Text: apostrophes doubled, backslashes and line breaks as they are.
      {AccessType::kText, ValueTransform::kAsIs, "O'Brien", false, "'O''Brien'"},
      {AccessType::kMemo, ValueTransform::kAsIs, "a\\b\nc", false, "'a\\b\nc'"},
      {AccessType::kText, ValueTransform::kAsIs, "東京 😀", false, "'東京 😀'"},
      {AccessType::kText, ValueTransform::kAsIs, "", false, "''"},
      // NULL stays NULL, whatever the type.
      {AccessType::kText, ValueTransform::kAsIs, "", true, "NULL"},
      {AccessType::kDateTime, ValueTransform::kDateTime, "", true, "NULL"},
      {AccessType::kLong, ValueTransform::kAsIs, "", true, "NULL"},
      {AccessType::kLongBinary, ValueTransform::kBytes, "", true, "NULL"},
      // Numbers unchanged, decimals with all their digits.
      {AccessType::kLong, ValueTransform::kAsIs, "-2147483648", false, "-2147483648"},
      {AccessType::kDecimal, ValueTransform::kAsIs, "12345678901234567890.50", false,
       "12345678901234567890.50"},
      {AccessType::kDouble, ValueTransform::kAsIs, "1.7976931348623157e308", false,
       "1.7976931348623157e308"},
      // Binary: every byte, trailing zero bytes included ("10" stays 0x3130).
      {AccessType::kBinary, ValueTransform::kBytes, std::string("ab\0\0", 4), false, "0x61620000"},
      {AccessType::kBinary, ValueTransform::kBytes, "10", false, "0x3130"},
      {AccessType::kBinary, ValueTransform::kBytes, std::string("\0\0", 2), false, "0x0000"},
      {AccessType::kLongBinary, ValueTransform::kBytes, "", false, "0x"},
      // Bits.
      {AccessType::kYesNo, ValueTransform::kBitToYesNo, std::string("\1", 1), false, "True"},
      {AccessType::kYesNo, ValueTransform::kBitToYesNo, std::string("\0", 1), false, "False"},
      {AccessType::kShort, ValueTransform::kBitsToNumber, std::string("\1\2", 2), false, "258"},
      {AccessType::kDecimal, ValueTransform::kBitsToNumber, std::string(8, '\xff'), false,
       "18446744073709551615"},
      // Dates and times.
      {AccessType::kDateTime, ValueTransform::kDate, "2024-02-29", false, "#2024-02-29 00:00:00#"},
      {AccessType::kDateTime, ValueTransform::kDateTime, "9999-12-31 23:59:59.999999", false,
       "#9999-12-31 23:59:59.999#"},
      {AccessType::kDateTime, ValueTransform::kDateTime, "0100-01-01 00:00:00", false,
       "#0100-01-01 00:00:00#"},
      {AccessType::kDateTime, ValueTransform::kTimeOfDay, "13:45:10.250", false,
       "#1899-12-30 13:45:10.250#"},
      // 838 hours = 34 days and 22 hours after 1899-12-30.
      {AccessType::kDateTime, ValueTransform::kTimeOfDay, "838:59:59", false,
       "#1900-02-02 22:59:59#"},
      {AccessType::kDateTime, ValueTransform::kTimeOfDay, "-01:00:00", false,
       "#1899-12-29 23:00:00#"},
      // Zero dates mean "no date".
      {AccessType::kDateTime, ValueTransform::kDate, "0000-00-00", false, "NULL"},
      {AccessType::kDateTime, ValueTransform::kDateTime, "2024-00-10 00:00:00", false, "NULL"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Literal(Plan(c.type, c.transform), c.raw, c.null), c.literal) << c.raw;
  }
}

TEST(RowValuesTest, YearsBeforeOneHundredAreRefusedWithTheReason) {
  auto v =
      ConvertSourceValue(Plan(AccessType::kDateTime, ValueTransform::kDate), false, "0099-12-31");
  ASSERT_FALSE(v.ok());
  EXPECT_NE(v.status().message().find("before the year 100"), std::string::npos);
  EXPECT_NE(v.status().message().find("0099-12-31"), std::string::npos);
}

TEST(RowValuesTest, MalformedValuesAreRefusedNotGuessed) {
  EXPECT_FALSE(ConvertSourceValue(Plan(AccessType::kLong), false, "12abc").ok());
  EXPECT_FALSE(
      ConvertSourceValue(Plan(AccessType::kDateTime, ValueTransform::kDate), false, "2023-02-29")
          .ok());
  EXPECT_FALSE(
      ConvertSourceValue(Plan(AccessType::kDateTime, ValueTransform::kTimeOfDay), false, "12:3")
          .ok());
}

}  // namespace
}  // namespace velquin

namespace velquin {
namespace {

TEST(RowValuesTest, ChangedValuesNameTheirTransformAndZeroDatesFollowThePolicy) {
  const TransformSet kZero = Bit(TransformKind::kZeroDateToNull);
  const TransformSet kCut = Bit(TransformKind::kFractionCut);
  const TransformSet kTime = Bit(TransformKind::kTimeAsDate);
  struct Case {
    ValueTransform transform;
    std::string raw;
    ZeroDates zero_dates;
    TransformSet changes;  // when accepted
    bool refused;
  } cases[] = {
      {ValueTransform::kDate, "2024-02-29", ZeroDates::kNull, 0, false},
      {ValueTransform::kDate, "0000-00-00", ZeroDates::kNull, kZero, false},
      {ValueTransform::kDateTime, "2020-05-00 10:00:00", ZeroDates::kNull, kZero, false},
      {ValueTransform::kDateTime, "0000-00-00 00:00:00", ZeroDates::kRefuse, 0, true},
      {ValueTransform::kDateTime, "2020-05-01 10:00:00.123000", ZeroDates::kNull, 0, false},
      {ValueTransform::kDateTime, "2020-05-01 10:00:00.123400", ZeroDates::kNull, kCut, false},
      {ValueTransform::kTimeOfDay, "10:00:00", ZeroDates::kNull, kTime, false},
      {ValueTransform::kTimeOfDay, "-10:00:00.0000009", ZeroDates::kRefuse, kTime | kCut, false},
  };
  for (const auto& c : cases) {
    TransformSet changes = 0xff;
    auto v = ConvertSourceValue(Plan(AccessType::kDateTime, c.transform), false, c.raw,
                                c.zero_dates, &changes);
    ASSERT_EQ(!v.ok(), c.refused) << c.raw;
    if (c.refused) {
      // The reason carries the source value, so the rejects file can too.
      EXPECT_NE(v.status().message().find("'" + c.raw + "'"), std::string::npos);
      continue;
    }
    EXPECT_EQ(changes, c.changes) << c.raw;
    EXPECT_EQ(v->kind == TargetValue::Kind::kNull, (c.changes & kZero) != 0) << c.raw;
  }
}

}  // namespace
}  // namespace velquin
