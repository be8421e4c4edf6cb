// Column defaults in the SQL layer: the text a DEFAULT clause is stored as,
// the value an insert takes from a stored text, and the SQL form printed
// back.
#include "jet/sql/default_value.h"

#include <gtest/gtest.h>

#include "jet/sql/parser.h"

namespace velquin::jet::sql {
namespace {

// The stored text for `DEFAULT <sql>` in a CREATE TABLE statement.
std::string Stored(const std::string& sql) {
  auto st = ParseStatement("CREATE TABLE t (c TEXT(50) DEFAULT " + sql + ")");
  EXPECT_TRUE(st.ok()) << sql << ": " << st.status().message();
  if (!st.ok()) return "<error>";
  const auto& ct = std::get<CreateTable>(*st);
  EXPECT_TRUE(ct.columns[0].default_value.has_value());
  return DefaultValueText(*ct.columns[0].default_value);
}

TEST(DefaultValueTextTest, AccessExpressionForms) {
  struct Case {
    const char* sql;
    const char* stored;
  };
  const Case cases[] = {
      {"'abc'", "\"abc\""},  // SQL's single quotes become Access's double quotes
      {"'O''Brien'", "\"O'Brien\""},
      {"'say \"hi\"'", "\"say \"\"hi\"\"\""},
      {"\"dq\"", "\"dq\""},
      {"''", "\"\""},
      {"0", "0"},
      {"-1.5", "-1.5"},
      {"1.5E3", "1.5E3"},
      {"#2001-01-01#", "#2001-01-01#"},
      {"#1/2/2001 13:14:15#", "#2001-01-02 13:14:15#"},  // Jet's US order
      {"TRUE", "True"},
      {"false", "False"},
      {"null", "Null"},
      {"now()", "Now()"},
      {"DATE()", "Date()"},
      {"Time()", "Time()"},
      {"0x0A0b", "0x0A0B"},
      {"'a' & 'b'", "\"a\" & \"b\""},
      {"UCase('x')", "UCase(\"x\")"},
  };
  for (const Case& c : cases) EXPECT_EQ(Stored(c.sql), c.stored) << c.sql;
}

ColumnInfo Col(ColumnType type, std::string default_value, std::uint16_t size = 0) {
  ColumnInfo c;
  c.name = "c";
  c.type = type;
  c.size = size;
  c.precision = 10;
  c.scale = 2;
  c.default_value = std::move(default_value);
  return c;
}

const DateTimeValue kNow{
    .year = 2024, .month = 3, .day = 5, .hour = 6, .minute = 7, .second = 8, .millisecond = 900};

TEST(EvaluateDefaultTest, ValuesOfTheStoredForms) {
  struct Case {
    ColumnType type;
    const char* stored;
    Value want;
  };
  const Case cases[] = {
      {ColumnType::kLong, "0", Value::Long(0)},
      {ColumnType::kLong, "-12", Value::Long(-12)},
      {ColumnType::kLong, "\"5\"", Value::Long(5)},  // text converts as an inserted '5' does
      {ColumnType::kByte, "255", Value::Byte(255)},
      {ColumnType::kDouble, "-1.5", Value::Double(-1.5)},
      {ColumnType::kCurrency, "12.3456", Value::Money(Currency{123456})},
      {ColumnType::kText, "\"O'Brien\"", Value::Text("O'Brien")},
      {ColumnType::kText, "\"say \"\"hi\"\"\"", Value::Text("say \"hi\"")},
      {ColumnType::kText, "'single'", Value::Text("single")},
      {ColumnType::kText, "\"Zoë\" & \" \" & 1 & Null", Value::Text("Zoë 1")},
      {ColumnType::kMemo, "\"\"", Value::Text("")},
      {ColumnType::kBool, "True", Value::Bool(true)},
      {ColumnType::kBool, "False", Value::Bool(false)},
      {ColumnType::kBool, "Yes", Value::Bool(true)},
      {ColumnType::kBool, "no", Value::Bool(false)},
      {ColumnType::kBool, "On", Value::Bool(true)},
      {ColumnType::kBool, "-1", Value::Bool(true)},
      {ColumnType::kBool, "0", Value::Bool(false)},
      {ColumnType::kDateTime, "#2001-01-01#", Value::Date(DateTime::FromParts(2001, 1, 1))},
      {ColumnType::kDateTime, "#1/2/2001 3:04:05 PM#",
       Value::Date(DateTime::FromParts(2001, 1, 2, 15, 4, 5))},
      // Now() to the second, Date() at midnight, Time() on Jet's day zero.
      {ColumnType::kDateTime, "Now()", Value::Date(DateTime::FromParts(2024, 3, 5, 6, 7, 8))},
      {ColumnType::kDateTime, "date()", Value::Date(DateTime::FromParts(2024, 3, 5))},
      {ColumnType::kDateTime, "TIME()", Value::Date(DateTime::FromParts(1899, 12, 30, 6, 7, 8))},
      {ColumnType::kText, "Date()", Value::Text("2024-03-05")},
      {ColumnType::kDateTime, "=Date()", Value::Date(DateTime::FromParts(2024, 3, 5))},
      {ColumnType::kLong, "Null", Value()},
      {ColumnType::kLong, "", Value()},
      {ColumnType::kLong, "   ", Value()},
      {ColumnType::kBinary, "0x0A0B", Value::Binary({0x0A, 0x0B})},
  };
  for (const Case& c : cases) {
    auto v = EvaluateDefault(Col(c.type, c.stored, 20), "t", kNow);
    ASSERT_TRUE(v.ok()) << c.stored << ": " << v.status().message();
    EXPECT_EQ(*v, c.want) << c.stored << " gave " << v->ToString();
  }
}

TEST(EvaluateDefaultTest, WhatCannotBeEvaluatedIsRefusedNamingTheField) {
  struct Case {
    ColumnType type;
    std::uint16_t size;
    const char* stored;
    const char* message;
  };
  const Case cases[] = {
      {ColumnType::kText, 20, "UCase(\"x\")",
       "Unknown function 'UCase' in validation expression or default value on 't.c'."},
      {ColumnType::kText, 20, "\"a\" & Foo()",
       "Unknown function 'Foo' in validation expression or default value on 't.c'."},
      {ColumnType::kLong, 0, "1 + 2",
       "The default value '1 + 2' of field 't.c' cannot be evaluated here; give the field a "
       "value in the INSERT INTO statement."},
      {ColumnType::kLong, 0, "[other]",
       "The default value '[other]' of field 't.c' cannot be evaluated here; give the field a "
       "value in the INSERT INTO statement."},
      {ColumnType::kDateTime, 0, "Now(1)",
       "The default value 'Now(1)' of field 't.c' cannot be evaluated here; give the field a "
       "value in the INSERT INTO statement."},
      {ColumnType::kText, 20, "\"open",
       "The default value '\"open' of field 't.c' cannot be evaluated here; give the field a "
       "value in the INSERT INTO statement."},
      {ColumnType::kLong, 0, "\"abc\"",
       "The default value '\"abc\"' of field 't.c' does not fit the field: Data type mismatch in "
       "criteria expression."},
      {ColumnType::kByte, 0, "256",
       "The default value '256' of field 't.c' does not fit the field: Overflow"},
      {ColumnType::kText, 2, "\"abc\"",
       "The default value '\"abc\"' of field 't.c' does not fit the field: The field is too small "
       "to accept the amount of data you attempted to add.  Try inserting or pasting less data."},
  };
  for (const Case& c : cases) {
    auto v = EvaluateDefault(Col(c.type, c.stored, c.size), "t", kNow);
    ASSERT_FALSE(v.ok()) << c.stored;
    EXPECT_EQ(v.status().code(), StatusCode::kInvalidArgument);
    EXPECT_EQ(v.status().message(), c.message);
  }
}

TEST(DefaultValueSqlTest, StoredTextInSqlForm) {
  EXPECT_EQ(DefaultValueSql("\"O'Brien\""), "'O''Brien'");
  EXPECT_EQ(DefaultValueSql("0"), "0");
  EXPECT_EQ(DefaultValueSql("No"), "False");
  EXPECT_EQ(DefaultValueSql("yes"), "True");
  EXPECT_EQ(DefaultValueSql("On"), "True");
  EXPECT_EQ(DefaultValueSql("=Date()"), "Date()");
  EXPECT_EQ(DefaultValueSql("#2001-01-01#"), "#2001-01-01#");
  EXPECT_EQ(DefaultValueSql("\"open"), "\"open");  // not SQL: as stored
  // What is printed is stored again as it was.
  for (const char* stored : {"\"a \"\"b\"\"\"", "-1.5", "Now()", "#2001-01-02 13:14:15#",
                             "\"x\" & \"y\"", "True", "Null"}) {
    EXPECT_EQ(Stored(DefaultValueSql(stored)), stored);
  }
}

}  // namespace
}  // namespace velquin::jet::sql
