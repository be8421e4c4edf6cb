#include "jet/sql/datetime_text.h"

#include <gtest/gtest.h>

namespace velquin::jet::sql {
namespace {

struct GoodCase {
  const char* text;
  DateTimeValue expected;
};

TEST(ParseDateTimeText, ReadsTheFormsJetAndMySqlWrite) {
  const GoodCase cases[] = {
      {"2024-01-31", {2024, 1, 31, 0, 0, 0, 0}},
      {"2024/01/31", {2024, 1, 31, 0, 0, 0, 0}},
      {"2024-01-31 10:20:30", {2024, 1, 31, 10, 20, 30, 0}},
      {"2024-01-31T10:20", {2024, 1, 31, 10, 20, 0, 0}},
      {"  1900-01-01  ", {1900, 1, 1, 0, 0, 0, 0}},
      {"1/31/2024", {2024, 1, 31, 0, 0, 0, 0}},
      {"12/31/9999 11:59:59 PM", {9999, 12, 31, 23, 59, 59, 0}},
      {"1/1/2000 12:00 AM", {2000, 1, 1, 0, 0, 0, 0}},
      {"1/1/2000 12:30 pm", {2000, 1, 1, 12, 30, 0, 0}},
      {"10:20:30", {1899, 12, 30, 10, 20, 30, 0}},
      {"7:05 PM", {1899, 12, 30, 19, 5, 0, 0}},
      {"2024-02-29", {2024, 2, 29, 0, 0, 0, 0}},
      {"2000-02-29", {2000, 2, 29, 0, 0, 0, 0}},
      {"0100-01-01", {100, 1, 1, 0, 0, 0, 0}},
      // Fractions are cut to milliseconds, never rounded up into the next day or year.
      {"2024-01-31 10:20:30.5", {2024, 1, 31, 10, 20, 30, 500}},
      {"9999-12-31 23:59:59.999999", {9999, 12, 31, 23, 59, 59, 999}},
      {"2024-01-31 10:20:30.0009", {2024, 1, 31, 10, 20, 30, 0}},
  };
  for (const GoodCase& c : cases) {
    SCOPED_TRACE(c.text);
    auto v = ParseDateTimeText(c.text);
    ASSERT_TRUE(v.ok()) << v.status().message();
    EXPECT_EQ(*v, c.expected) << v->ToIsoText();
  }
}

TEST(ParseDateTimeText, RefusesImpossibleDatesWithTheReason) {
  const std::pair<const char*, const char*> cases[] = {
      {"0000-00-00 00:00:00", "the year must be 100 to 9999"},
      {"2023-02-29", "that month has no such day"},
      {"1900-02-29", "that month has no such day"},
      {"2024-13-01", "the month must be 1 to 12"},
      {"2024-04-31", "that month has no such day"},
      {"2024-01-01 24:00:00", "the hour must be 0 to 23"},
      {"2024-01-01 10:60", "the minute must be 0 to 59"},
      {"2024-01-01 10:00:61", "the second must be 0 to 59"},
      {"13:00 PM", "the hour must be 1 to 12 before AM or PM"},
      {"99-01-01", "write the date as yyyy-mm-dd or m/d/yyyy"},
      {"2024-01-01 x", "the time must be written h:mm or h:mm:ss"},
      {"2024-01-01x", "unexpected text after the date"},
      {"2024-01-01 10:00 tomorrow", "unexpected text after the time"},
      {"yesterday", "it must start with a date or a time"},
      {"", "it must start with a date or a time"},
      {"2024.01.01", "the date parts must be separated by - or /"},
      {"2024-01-01 10:20:30.", "a decimal point must be followed by digits"},
  };
  for (const auto& [text, why] : cases) {
    SCOPED_TRACE(text);
    auto v = ParseDateTimeText(text);
    ASSERT_FALSE(v.ok()) << v->ToIsoText();
    EXPECT_EQ(v.status().message(),
              "'" + std::string(text) + "' is not a valid date or time: " + why + ".");
  }
}

TEST(DateTimeValue, CountsDaysFrom1899December30AsJetDoes) {
  // Access's documented limits and well-known serial numbers.
  EXPECT_EQ((DateTimeValue{1899, 12, 30, 0, 0, 0, 0}.ToJetDays()), 0.0);
  EXPECT_EQ((DateTimeValue{1900, 1, 1, 0, 0, 0, 0}.ToJetDays()), 2.0);
  EXPECT_EQ((DateTimeValue{2000, 1, 1, 0, 0, 0, 0}.ToJetDays()), 36526.0);
  EXPECT_EQ((DateTimeValue{100, 1, 1, 0, 0, 0, 0}.ToJetDays()), -657434.0);
  EXPECT_EQ((DateTimeValue{9999, 12, 31, 0, 0, 0, 0}.ToJetDays()), 2958465.0);
  EXPECT_EQ((DateTimeValue{1899, 12, 30, 12, 0, 0, 0}.ToJetDays()), 0.5);
  // Before the epoch the time of day still counts away from zero.
  EXPECT_EQ((DateTimeValue{1899, 12, 29, 6, 0, 0, 0}.ToJetDays()), -1.25);
  EXPECT_LT((DateTimeValue{9999, 12, 31, 23, 59, 59, 999}.ToJetDays()), 2958466.0);
}

TEST(DateTimeValue, IsoTextLeavesOutMidnight) {
  EXPECT_EQ((DateTimeValue{2024, 1, 31, 0, 0, 0, 0}.ToIsoText()), "2024-01-31");
  EXPECT_EQ((DateTimeValue{2024, 1, 31, 0, 0, 1, 0}.ToIsoText()), "2024-01-31 00:00:01");
  EXPECT_EQ((DateTimeValue{812, 3, 4, 5, 6, 7, 89}.ToIsoText()), "0812-03-04 05:06:07.089");
}

}  // namespace
}  // namespace velquin::jet::sql
