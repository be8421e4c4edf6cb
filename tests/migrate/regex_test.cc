#include "migrate/regex.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace velquin {
namespace {

std::string Replace(std::string_view input, std::string_view pattern,
                    std::string_view replacement) {
  auto result = RegexReplace(input, pattern, replacement);
  EXPECT_TRUE(result.ok()) << result.status().ToString();
  return result.ok() ? *result : "<error>";
}

// The last match's text through RegexFindAll ("" for none).
std::string LastMatch(std::string_view input, std::string_view pattern) {
  auto result = RegexFindAll(input, pattern);
  EXPECT_TRUE(result.ok()) << result.status().ToString();
  if (!result.ok()) return "<error>";
  return result->empty() ? "" : std::string(result->back().text);
}

struct ReplaceCase {
  const char* name;
  const char* input;
  const char* pattern;
  const char* replacement;
  const char* expected;
};

class RegexReplaceDialect : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(RegexReplaceDialect, ProducesExpectedText) {
  const ReplaceCase& c = GetParam();
  EXPECT_EQ(Replace(c.input, c.pattern, c.replacement), c.expected);
}

const ReplaceCase kReplaceCases[] = {
    // Binary literals: leading zeros become "0x", trailing zeros go.
    {"LeadingZerosToPrefix", "abc", "^0*", "0x", "0xabc"},
    {"LeadingZerosReplaced", "00ab", "^0*", "0x", "0xab"},
    {"TrailingZerosRemoved", "0x1200", "0*$", "", "0x12"},
    // `$` is the very end only, not before a final line feed.
    {"DollarNotBeforeFinalLineFeed", "a00\n", "0*$", "", "a00\n"},
    {"DollarAtEnd", "a00", "0*$", "", "a"},
    // `^` is the very start only.
    {"CaretNotAfterLineFeed", "x\nab", "^a", "Z", "x\nab"},
    // `.` does not cross a line feed, but does match a carriage return.
    {"DefaultRuleStopsAtLineEnd", "  `a` int default null,\n  `b` int default 5\n)",
     "(default|DEFAULT)(.*)(,|\\))", "$3", "  `a` int ,\n  `b` int default 5\n)"},
    {"DotMatchesCarriageReturn", "a\rb", "a.b", "X", "X"},
    // Global, left to right, replaced text not scanned again.
    {"GlobalReplace", "a-a-a", "a", "bb", "bb-bb-bb"},
    {"ReplacementNotRescanned", "aaa", "a", "aa", "aaaaaa"},
    // Case-sensitive.
    {"CaseSensitive", " BIT bit", "\\sbit", " X", " BIT X"},
    // Groups: "$n", a group that did not take part is empty, unknown groups
    // and "$0" stay literal, "$" before a non-digit stays.
    {"GroupReference", "tinytext,", "tiny(text)(,)", "V$1$2", "Vtext,"},
    {"EmptyAlternative", " int(11)", "\\s(medium|big|)int[\\s]*\\([0-9]*\\)", "[$1]", "[]"},
    {"UnsetGroupIsEmpty", "b", "(a)|b", "<$1>", "<>"},
    {"UnknownGroupLiteral", "ab", "(a)b", "$2$0$x$", "$2$0$x$"},
    // Empty matches: between every character and at the end.
    {"EmptyMatchEverywhere", "abc", "x*", "-", "-a-b-c-"},
    {"EmptyMatchAfterFullMatch", "aaa", "a*", "-", "--"},
    // Classes: \s, \w, \W keep their meaning inside [], `|` `*` `(` are literal.
    {"ClassAnyCharacter", "create x\nview y view z", "create [\\w|\\W]* view ", "create view ",
     "create view z"},
    {"ClassLiteralStar", "a*|(b", "[*|(]", "_", "a___b"},
    {"WhitespaceSet", "a \t\r\n\v\fb", "\\s+", "_", "a_b"},
    {"WordIsAscii", "é_1x", "\\w+", "W", "éW"},
    // Greedy repetition and alternatives left to right.
    {"PathStripped", "C:\\data\\shop.mdb", ".*(\\\\|/)", "", "shop.mdb"},
    {"DriveStripped", "c:/x/y", "[a-zA-Z]:[\\\\|/]", "", "x/y"},
    {"BoundedRepeat", "varchar(256) varchar(255)",
     "varchar[\\s]*\\(([2][5][6-9]|[2][6-9][0-9]|[3-9][0-9]{2}|[1-9][0-9]{3,9})\\)", "LONGTEXT",
     "LONGTEXT varchar(255)"},
    // Multi-byte characters are whole characters.
    {"UnicodeDot", "añb", "a.b", "X", "X"},
    {"EmptyMatchKeepsUnicode", "ñ", "x*", "-", "-ñ-"},
};

INSTANTIATE_TEST_SUITE_P(Dialect, RegexReplaceDialect, ::testing::ValuesIn(kReplaceCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RegexFindAllLast, EmptyWhenNoMatch) { EXPECT_EQ(LastMatch("abc", "x+"), ""); }

TEST(RegexFindAllLast, ReturnsTheLastOfThree) {
  EXPECT_EQ(LastMatch("(a) (bb) (ccc)", "\\([a-z]+\\)"), "(ccc)");
}

TEST(RegexFindAllLast, ViewJoinGroup) {
  EXPECT_EQ(LastMatch("select * from (orders o join customers c) where (1)",
                      "\\([\\w*\\sjoin\\s]+\\w*\\)"),
            "(1)");
}

TEST(RegexErrors, BadPatternIsAnErrorValue) {
  auto result = RegexReplace("abc", "(unclosed", "x");
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.status().code(), StatusCode::kInvalidArgument);
  EXPECT_NE(result.status().message().find("(unclosed"), std::string::npos);
  EXPECT_FALSE(RegexFindAll("abc", "[").ok());
}

TEST(RegexErrors, InvalidUtf8PassesThrough) {
  std::string input =
      "a\xff\xfe"
      "b";
  EXPECT_EQ(Replace(input, "b", "c"),
            "a\xff\xfe"
            "c");
}

TEST(RegexReplaceEach, ComputesReplacementFromGroups) {
  auto result = RegexReplaceEach("int(3) int(12)", "int\\(([0-9]+)\\)", [](const RegexMatch& m) {
    return std::to_string(std::stoi(std::string(m.Group(1))) * 2);
  });
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(*result, "6 24");
}

TEST(RegexFindAll, ReportsOffsetsAndGroups) {
  auto result = RegexFindAll("x=1, y=22", "(\\w)=(\\d+)");
  ASSERT_TRUE(result.ok());
  ASSERT_EQ(result->size(), 2u);
  EXPECT_EQ((*result)[1].offset, 5u);
  EXPECT_EQ((*result)[1].Group(1), "y");
  EXPECT_EQ((*result)[1].Group(2), "22");
  EXPECT_EQ((*result)[1].Group(3), "");
}

TEST(RegexConcurrency, SameAndDifferentPatternsFromManyThreads) {
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 300; ++i) {
        std::string pattern = "a{" + std::to_string(1 + (i + t) % 5) + "}";
        auto r = RegexReplace("aaaaa", pattern, "x");
        auto r2 = RegexReplace("0x1200", "0*$", "");
        if (!r.ok() || !r2.ok() || *r2 != "0x12") ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

}  // namespace
}  // namespace velquin
