// The view rewrite: only the header is replaced, literals keep their case,
// joins are rewritten as whole words, names follow the naming rule, and what
// Access cannot express is refused with a reason.
#include "migrate/view_ddl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "jet/sql/parser.h"
#include "migrate/access_names.h"

namespace velquin {
namespace {

using ::testing::HasSubstr;

constexpr const char* kHeader =
    "CREATE ALGORITHM=UNDEFINED DEFINER=`root`@`localhost` SQL SECURITY DEFINER VIEW ";

std::string Rewrite(const std::string& view, const std::string& body) {
  ViewNameMapper names;
  names.object = [](std::string_view n) { return AccessSafeName(n); };
  names.column = [](std::string_view, std::string_view n) { return AccessSafeName(n); };
  auto r = RewriteViewDefinition(std::string(kHeader) + "`" + view + "` AS " + body,
                                 AccessSafeName(view), names);
  return r.ok() ? *r : "ERROR: " + r.status().message();
}

TEST(ViewRewriteTest, WorkedExampleWithAJoinList) {
  EXPECT_EQ(Rewrite("v_orders",
                    "select `o`.`id` AS `id`,`c`.`name` AS `name` from (`orders` `o` join "
                    "`customers` `c`) where (`o`.`cust_id` = `c`.`id`)"),
            "create view `v_orders` as select `o`.`id` AS `id`,`c`.`name` AS `name` from "
            "`orders` `o` , `customers` `c` where (`o`.`cust_id` = `c`.`id`)");
}

TEST(ViewRewriteTest, OneTableView) {
  EXPECT_EQ(Rewrite("v_one", "select `t`.`a` AS `a` from `t`"),
            "create view `v_one` as select `t`.`a` AS `a` from `t`");
}

TEST(ViewRewriteTest, JoinWithOnBecomesInnerJoin) {
  EXPECT_EQ(Rewrite("v", "select `a`.`id` AS `id` from (`a` join `b` on((`a`.`id` = `b`.`id`)))"),
            "create view `v` as select `a`.`id` AS `id` from (`a` inner join `b` on((`a`.`id` = "
            "`b`.`id`)))");
  EXPECT_THAT(Rewrite("v", "select 1 AS `x` from (`a` left join `b` on((`a`.`id` = `b`.`id`)))"),
              HasSubstr("`a` left join `b`"));
}

TEST(ViewRewriteTest, LiteralsKeepTheirCaseAndCharacters) {
  EXPECT_EQ(Rewrite("v",
                    "select `t`.`a` AS `a` from `t` where `t`.`s` = _utf8mb4'O\\'Brien "
                    "View JOIN Zoë'"),
            "create view `v` as select `t`.`a` AS `a` from `t` where `t`.`s` = 'O''Brien View "
            "JOIN Zoë'");
}

TEST(ViewRewriteTest, OnlyTheHeaderIsReplacedEvenWithViewInTheBody) {
  EXPECT_EQ(Rewrite("v", "select `t`.`view` AS `view` from `t`"),
            "create view `v` as select `t`.`view` AS `view` from `t`");
}

TEST(ViewRewriteTest, JoinInsideANameIsANameNotAJoin) {
  EXPECT_EQ(Rewrite("v", "select `t1`.`a` AS `a` from (`t1` join `rejoined`)"),
            "create view `v` as select `t1`.`a` AS `a` from `t1` , `rejoined`");
}

TEST(ViewRewriteTest, NamesFollowTheNamingRule) {
  EXPECT_EQ(Rewrite("my.view", "select `a.b`.`x!` AS `x!` from `a.b`"),
            "create view `my_view` as select `a_b`.`x_` AS `x_` from `a_b`");
}

TEST(ViewRewriteTest, FunctionsWithAccessEquivalentsAreRenamed) {
  EXPECT_EQ(Rewrite("v",
                    "select upper(`t`.`a`) AS `u`,"
                    "if(`t`.`n` > 0,1,0) AS `p` from `t` where `t`.`a` != 'x'"),
            "create view `v` as select ucase(`t`.`a`) AS `u`,"
            "iif(`t`.`n` > 0,1,0) AS `p` from `t` where `t`.`a` <> 'x'");
}

TEST(ViewRewriteTest, WhatAccessCannotExpressIsRefusedWithTheReason) {
  struct Case {
    const char* body;
    const char* reason;
  } cases[] = {
      {"select group_concat(`t`.`a` separator ',') AS `g` from `t`", "GROUP_CONCAT"},
      {"select `t`.`a` AS `a` from `t` limit 5,10", "LIMIT with an offset"},
      {"select `t`.`a` AS `a` from `t` union select group_concat(`u`.`a` separator ',') AS `g` "
       "from `u`",
       "UNION part 2: GROUP_CONCAT"},
      {"select `t`.`a` AS `a` from `t` union all select `u`.`a` AS `a` from `u` limit 3",
       "LIMIT on a UNION"},
      {"(select `t`.`a` AS `a` from `t` limit 1) union (select `u`.`a` AS `a` from `u`)",
       "UNION part 1 (a SELECT in parentheses"},
      {"select `x`.`a` AS `a` from (select `t`.`a` AS `a` from `t` union select `u`.`a` AS `a` "
       "from `u`) `x`",
       "a UNION inside parentheses"},
      {"select `t`.`a` AS `a` from `t` union select `u`.`a` AS `a` from `u` order by "
       "`u`.`a`",
       "ORDER BY on \".\""},
      {"select concat_ws(`t`.`s`,`t`.`a`) AS `a` from `t`", "CONCAT_WS with a separator"},
      {"select date_format(`t`.`d`,'%Y') AS `y` from `t`", "date_format()"},
      {"select cast(`t`.`a` as char charset utf8mb4) AS `a` from `t`", "\"cast\""},
      {"select `a`.`x` AS `x` from (`a` join `b` using (`x`))", "USING"},
  };
  for (const auto& c : cases) {
    std::string r = Rewrite("v", c.body);
    EXPECT_THAT(r, HasSubstr("ERROR: ")) << c.body;
    EXPECT_THAT(r, HasSubstr(c.reason)) << c.body;
    EXPECT_THAT(r, HasSubstr("cannot be expressed in Access")) << c.body;
  }
}

// tests/migrate/data/view_translations.txt: each translation of
// docs/migration.md as a MySQL view body and the Jet body it becomes.
TEST(ViewRewriteTest, TranslationsIntoJet) {
  std::ifstream in(std::string(VELQUIN_SOURCE_DIR) + "/tests/migrate/data/view_translations.txt");
  ASSERT_TRUE(in) << "the translation cases are missing";
  std::string line, name, mysql;
  int cases = 0;
  while (std::getline(in, line)) {
    if (line.rfind("translation: ", 0) == 0) name = line.substr(13);
    if (line.rfind("mysql: ", 0) == 0) mysql = line.substr(7);
    if (line.rfind("jet: ", 0) == 0) {
      ++cases;
      EXPECT_EQ(Rewrite("v", mysql), "create view `v` as " + line.substr(5)) << name;
    }
  }
  EXPECT_GE(cases, 12);
}

// Subqueries as MariaDB's SHOW CREATE VIEW writes them: NOT as "!", a LIMIT
// inside EXISTS. Each translation is read by the Jet SQL parser.
TEST(ViewRewriteTest, SubqueriesBecomeJetSubqueries) {
  struct Case {
    const char* mysql;
    const char* jet;
  } cases[] = {
      {"select `t`.`id` AS `id` from `t` where `t`.`a` in (select `u`.`b` from `u`)",
       "select `t`.`id` AS `id` from `t` where `t`.`a` in (select `u`.`b` from `u`)"},
      {"select `t`.`id` AS `id` from `t` where !(`t`.`a` in (select `u`.`b` from `u`))",
       "select `t`.`id` AS `id` from `t` where not (`t`.`a` in (select `u`.`b` from `u`))"},
      {"select `t`.`id` AS `id` from `t` where exists(select 1 from `u` where `u`.`id` = "
       "`t`.`id` limit 1) or !exists(select 1 from `u` limit 1)",
       "select `t`.`id` AS `id` from `t` where exists(select top 1 1 from `u` where `u`.`id` = "
       "`t`.`id`) or not exists(select top 1 1 from `u`)"},
      {"select `t`.`id` AS `id`,(select max(`u`.`b`) from `u` where `u`.`id` = `t`.`id`) AS `mb` "
       "from `t`",
       "select `t`.`id` AS `id`,(select max(`u`.`b`) from `u` where `u`.`id` = `t`.`id`) AS `mb` "
       "from `t`"},
      {"select `x`.`n` AS `n` from (select count(0) AS `n` from `t`) `x`",
       "select `x`.`n` AS `n` from (select count(0) AS `n` from `t`) `x`"},
      {"select `t`.`id` AS `id` from (`t` join (select `u`.`id` AS `id` from `u`) `y` "
       "on(`t`.`id` = `y`.`id`)) where `t`.`a` > all (select `u`.`b` from `u`)",
       "select `t`.`id` AS `id` from (`t` inner join (select `u`.`id` AS `id` from `u`) `y` "
       "on(`t`.`id` = `y`.`id`)) where `t`.`a` > all (select `u`.`b` from `u`)"},
  };
  for (const auto& c : cases) {
    const std::string r = Rewrite("v", c.mysql);
    EXPECT_EQ(r, std::string("create view `v` as ") + c.jet);
    auto parsed = jet::sql::ParseStatement(r);
    EXPECT_TRUE(parsed.ok()) << r << "\n" << parsed.status().message();
  }
}

TEST(ViewRewriteTest, UnionPartsReturningDifferentColumnCountsAreRefused) {
  EXPECT_EQ(Rewrite("v",
                    "select `t`.`a` AS `a`,`t`.`b` AS `b` from `t` union select `u`.`a` AS `a` "
                    "from `u` union select concat(`w`.`a`,`w`.`b`) AS `c`,`w`.`b` AS `b` from "
                    "`w`"),
            "ERROR: UNION part 2 returns 1 column(s) and part 1 returns 2: the parts of a union "
            "query return as many columns");
}

TEST(ViewRewriteTest, ATextThatIsNoViewIsRefused) {
  ViewNameMapper names;
  EXPECT_FALSE(RewriteViewDefinition("select 1", "v", names).ok());
  EXPECT_FALSE(RewriteViewDefinition("CREATE VIEW `v` AS select 'open", "v", names).ok());
}

}  // namespace
}  // namespace velquin
