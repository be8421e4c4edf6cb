#include "db/sql_quote.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "db/statements.h"

namespace velquin {
namespace {

struct QuoteCase {
  const char* input;
  const char* expected;
};

TEST(QuoteIdentifierTest, BackQuotesAndDoublesInnerBackQuotes) {
  const QuoteCase cases[] = {
      {"plain", "`plain`"},
      {"with space", "`with space`"},
      {"dot.ted", "`dot.ted`"},
      {"it's", "`it's`"},
      {"back`quote", "`back``quote`"},
      {"``", "``````"},
      {"select", "`select`"},
      {"", "``"},
  };
  for (const auto& c : cases) EXPECT_EQ(QuoteIdentifier(c.input), c.expected) << c.input;
}

TEST(QuoteIdentifierTest, QualifiedNameQuotesEachPart) {
  EXPECT_EQ(QuoteQualifiedName("my db", "t.1"), "`my db`.`t.1`");
  EXPECT_EQ(QuoteQualifiedName("", "t`x"), "`t``x`");
}

TEST(QuoteMySqlStringTest, EscapesWithBackslashesByDefault) {
  EXPECT_EQ(QuoteMySqlString("O'Brien"), "'O\\'Brien'");
  EXPECT_EQ(QuoteMySqlString("C:\\dir\\"), "'C:\\\\dir\\\\'");
  EXPECT_EQ(QuoteMySqlString(std::string("a\0b", 3)), "'a\\0b'");
  EXPECT_EQ(QuoteMySqlString("l1\nl2\r\x1a"), "'l1\\nl2\\r\\Z'");
  EXPECT_EQ(QuoteMySqlString("\"double\" and `back`"), "'\"double\" and `back`'");
  EXPECT_EQ(QuoteMySqlString("é日本😀"), "'é日本😀'");
}

TEST(QuoteMySqlStringTest, OnlyDoublesQuotesWithoutBackslashEscapes) {
  EXPECT_EQ(QuoteMySqlString("O'Brien", true), "'O''Brien'");
  EXPECT_EQ(QuoteMySqlString("a\\b", true), "'a\\b'");
}

TEST(HexLiteralTest, EncodesEveryByte) {
  EXPECT_EQ(HexLiteral(std::string("\x00\xff\x10"
                                   "a",
                                   4)),
            "X'00FF1061'");
  EXPECT_EQ(HexLiteral(""), "X''");
}

TEST(QuoteConnectionValueTest, BracesValuesThatCouldAddAttributes) {
  const QuoteCase cases[] = {
      {"secret", "secret"}, {"a;UID=root", "{a;UID=root}"}, {"b}race", "{b}}race}"},
      {"{x}", "{{x}}}"},    {" padded ", "{ padded }"},     {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(QuoteConnectionValue(c.input), c.expected) << c.input;
}

TEST(ExpandEnvironmentReferencesTest, ReplacesReferencesFromTheEnvironment) {
  ::setenv("VQ_TEST_HOME", "/home/vq", 1);
  ::setenv("VQ_TEST_PERCENT", "%VQ_TEST_PERCENT%", 1);
  ::unsetenv("VQ_TEST_UNSET");
  const QuoteCase cases[] = {
      {"%VQ_TEST_HOME%/lib/x.so", "/home/vq/lib/x.so"},
      {"%VQ_TEST_HOME%:%VQ_TEST_HOME%", "/home/vq:/home/vq"},
      {"%VQ_TEST_UNSET%\\Application Data", "\\Application Data"},
      {"no references", "no references"},
      {"100% sure", "100% sure"},
      // A value holding its own reference is not expanded again (no endless loop).
      {"[%VQ_TEST_PERCENT%]", "[%VQ_TEST_PERCENT%]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExpandEnvironmentReferences(c.input), c.expected) << c.input;
  }
}

TEST(StripDirectoryPartTest, KeepsOnlyTheLastPathComponent) {
  EXPECT_EQ(StripDirectoryPart("C:\\data\\shop.mdb"), "shop.mdb");
  EXPECT_EQ(StripDirectoryPart("/srv/data/shop.mdb"), "shop.mdb");
  EXPECT_EQ(StripDirectoryPart("mixed/dir\\shop"), "shop");
  EXPECT_EQ(StripDirectoryPart("shop"), "shop");
  EXPECT_EQ(StripDirectoryPart("dir/"), "");
}

}  // namespace
}  // namespace velquin
