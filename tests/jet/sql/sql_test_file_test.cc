#include "sql_test_file.h"

#include <gtest/gtest.h>

namespace velquin::sqltest {
namespace {

TEST(SqlTestFile, ReadsEveryRecordKind) {
  auto records = ParseSqlTestFile(
      "# comment\n"
      "parse ok\nSELECT 1\n----\nSELECT 1\n\n"
      "statement error\nDROP TABLE x\n----\nTable 'x' does not exist.\n\n"
      "query\nSELECT a,\n  b FROM t\n----\n1\tx\n2\tNULL\n\n"
      "reopen\n\n"
      "saved-query\nSELECT * FROM t\n----\n0 | 0\n255\n====\nSELECT *\nFROM t;\n");
  ASSERT_TRUE(records.ok()) << records.status().message();
  ASSERT_EQ(records->size(), 5u);
  const auto& r = *records;
  EXPECT_EQ(r[0].kind, "parse");
  EXPECT_EQ(r[0].argument, "ok");
  EXPECT_EQ(r[0].line, 2);
  EXPECT_EQ(r[1].expected, std::vector<std::string>{"Table 'x' does not exist."});
  EXPECT_EQ(r[2].sql, "SELECT a,\n  b FROM t");
  EXPECT_EQ(r[2].expected, (std::vector<std::string>{"1\tx", "2\tNULL"}));
  EXPECT_EQ(r[3].kind, "reopen");
  EXPECT_EQ(r[4].expected, (std::vector<std::string>{"0 | 0", "255"}));
  EXPECT_EQ(JoinLines(r[4].expected2), "SELECT *\nFROM t;");
}

TEST(SqlTestFile, RefusesMistakesInTheFile) {
  const std::pair<const char*, const char*> cases[] = {
      {"parse maybe\nSELECT 1\n", "line 1: 'parse' must be followed by ok or error"},
      {"select ok\nSELECT 1\n", "line 1: unknown record kind 'select'"},
      {"\n\nparse error\nSELECT\n", "line 3: the record needs an expected part after ----"},
      {"parse ok\n\nSELECT 1\n", "line 1: the record has no SQL"},
      {"reopen now\n", "line 1: 'reopen' takes no argument"},
  };
  for (const auto& [text, message] : cases) {
    auto records = ParseSqlTestFile(text);
    ASSERT_FALSE(records.ok()) << text;
    EXPECT_EQ(records.status().message(), message);
  }
}

}  // namespace
}  // namespace velquin::sqltest
