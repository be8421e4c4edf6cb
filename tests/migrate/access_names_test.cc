// The Access naming rule: forbidden characters, leading spaces, length,
// collisions without regard to case, and the mapping kept for the log.
#include "migrate/access_names.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velquin {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

TEST(AccessSafeNameTest, ReplacesWhatAccessRefuses) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"orders", "orders"},
      {"order lines", "order lines"},  // inner blanks are fine
      {"a.b", "a_b"},
      {"wow!", "wow_"},
      {"back`quote", "back_quote"},
      {"[bracketed]", "_bracketed_"},
      {"  leading", "__leading"},
      {"tab\there", "tab_here"},
      {"", "_"},
      {"Zoë.Straße", "Zoë_Straße"},
  };
  for (const auto& c : cases) EXPECT_EQ(AccessSafeName(c.in), c.out) << c.in;
}

TEST(AccessSafeNameTest, CutsTo64CharactersCountedAsAccessDoes) {
  EXPECT_EQ(AccessSafeName(std::string(70, 'x')), std::string(64, 'x'));
  // "é" is one character (two UTF-8 bytes); an emoji counts as two.
  std::string accents;
  for (int i = 0; i < 70; ++i) accents += "é";
  std::string expected;
  for (int i = 0; i < 64; ++i) expected += "é";
  EXPECT_EQ(AccessSafeName(accents), expected);
  std::string emoji;
  for (int i = 0; i < 40; ++i) emoji += "😀";
  EXPECT_EQ(AccessSafeName(emoji).size(), 32u * 4);  // 32 emoji = 64 units
}

TEST(NameSpaceMapTest, NamesDifferingOnlyInCaseGetASuffix) {
  // Whatever the catalogue's order.
  NameSpaceMap map({"casetest", "other", "CaseTest"});
  EXPECT_EQ(map.Map("CaseTest"), "CaseTest");
  EXPECT_EQ(map.Map("casetest"), "casetest_2");
  EXPECT_EQ(map.Map("other"), "other");
  EXPECT_THAT(map.Renamed(), ElementsAre(Pair("casetest", "casetest_2")));
}

TEST(NameSpaceMapTest, AnUnchangedNameKeepsItsNameAgainstARenamedOne) {
  // "a.b" becomes "a_b", which the table "a_b" already has: the renamed one
  // takes the suffix, whatever the order.
  NameSpaceMap map({"a.b", "a_b"});
  EXPECT_EQ(map.Map("a_b"), "a_b");
  EXPECT_EQ(map.Map("a.b"), "a_b_2");
}

TEST(NameSpaceMapTest, SuffixKeepsTheNameWithin64Characters) {
  const std::string long_name = std::string(64, 'n');
  NameSpaceMap map({long_name, std::string(64, 'N')});
  // Byte order: the upper-case name comes first and keeps its name.
  EXPECT_EQ(map.Map(std::string(64, 'N')), std::string(64, 'N'));
  EXPECT_EQ(map.Map(long_name), std::string(62, 'n') + "_2");
}

TEST(NameSpaceMapTest, UnknownNamesAreMappedOnTheFlyWithoutCollisions) {
  NameSpaceMap map({"t"});
  EXPECT_EQ(map.Map("T"), "T_2");
  EXPECT_EQ(map.Map("T"), "T_2");  // stable
}

TEST(DatabaseNamesTest, ColumnsAndIndexesHaveTheirOwnNamespacePerTable) {
  DatabaseNames names({"t.1", "t_1"});
  names.SetColumns("t.1", {"id", "a.b", "a_b"});
  EXPECT_EQ(names.Object("t.1"), "t_1_2");
  EXPECT_EQ(names.Column("t.1", "a.b"), "a_b_2");
  EXPECT_EQ(names.Column("t_1", "a.b"), "a_b");  // another table
  EXPECT_EQ(names.Index("t.1", "id"), "id");     // an index named like a column
  EXPECT_EQ(names.Relationship("fk.x"), "fk_x");
  EXPECT_THAT(names.RenameLines(),
              ElementsAre("table or view `t.1` -> `t_1_2`", "column `t.1`.`a.b` -> `a_b_2`",
                          "column `t_1`.`a.b` -> `a_b`", "relationship `fk.x` -> `fk_x`"));
}

}  // namespace
}  // namespace velquin
