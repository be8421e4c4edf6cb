#include "migrate/key_sql.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "db/sql_quote.h"

namespace velquin {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// One SHOW INDEX row: Table, Non_unique, Key_name, Seq_in_index, Column_name,
// Collation, Cardinality, Sub_part, Packed, Null, Index_type, Comment,
// Index_comment.
SourceRow IndexRow(const char* table, bool unique, const char* key, int seq,
                   std::optional<std::string> column, const char* collation = "A",
                   std::optional<std::string> sub_part = std::nullopt, const char* type = "BTREE") {
  return SourceRow{table,
                   unique ? "0" : "1",
                   key,
                   std::to_string(seq),
                   column,
                   collation,
                   "0",
                   sub_part,
                   std::nullopt,
                   "",
                   type,
                   "",
                   ""};
}

// One foreign-key row: CONSTRAINT_NAME, COLUMN_NAME, REFERENCED_TABLE_SCHEMA,
// REFERENCED_TABLE_NAME, REFERENCED_COLUMN_NAME, ORDINAL_POSITION,
// UPDATE_RULE, DELETE_RULE.
SourceRow FkRow(const char* name, const char* column, const char* ref_table, const char* ref_column,
                int position, const char* update = "RESTRICT", const char* del = "RESTRICT",
                const char* schema = "shop") {
  return SourceRow{name,   column, schema, ref_table, ref_column, std::to_string(position),
                   update, del};
}

TEST(BuildPrimaryKeySql, CompositeKeyInColumnOrder) {
  SourceRows rows = {IndexRow("orders", true, "PRIMARY", 2, "line"),
                     IndexRow("orders", true, "PRIMARY", 1, "id"),
                     IndexRow("orders", false, "idx", 1, "x")};
  auto sql = BuildPrimaryKeySql("orders", rows);
  ASSERT_TRUE(sql.ok()) << sql.status().ToString();
  EXPECT_EQ(sql->Text(), "ALTER TABLE `orders` add PRIMARY KEY (`id`, `line`)\n");
}

TEST(BuildPrimaryKeySql, NoPrimaryKeyGivesNoStatement) {
  auto sql = BuildPrimaryKeySql("t", {IndexRow("t", false, "idx", 1, "x")});
  ASSERT_TRUE(sql.ok());
  EXPECT_TRUE(sql->statements.empty());
  EXPECT_EQ(sql->Text(), "");
}

TEST(BuildIndexSql, WorkedExampleWithQuotedNames) {
  SourceRows rows = {IndexRow("t", false, "idx_a", 1, "a"), IndexRow("t", false, "idx_a", 2, "b"),
                     IndexRow("t", false, "idx_c", 1, "c")};
  auto sql = BuildIndexSql("t", rows);
  ASSERT_TRUE(sql.ok());
  EXPECT_EQ(sql->Text(),
            "CREATE INDEX `idx_a` ON `t` (`a`, `b`);\n"
            "CREATE INDEX `idx_c` ON `t` (`c`)\n");
}

TEST(BuildIndexSql, UniqueStaysUniqueAndKeysNamedLikeColumnsAreBuilt) {
  // Historically: UNIQUE KEY `code` (`code`) and an index named like a
  // foreign-key column were skipped, other unique keys became plain.
  SourceRows rows = {
      IndexRow("orders", true, "PRIMARY", 1, "id"), IndexRow("orders", true, "code", 1, "code"),
      IndexRow("orders", true, "uq_pair", 1, "a"), IndexRow("orders", true, "uq_pair", 2, "b"),
      IndexRow("orders", false, "customer_id", 1, "customer_id")};
  auto sql = BuildIndexSql("orders", rows);
  ASSERT_TRUE(sql.ok());
  EXPECT_THAT(sql->statements,
              ElementsAre("CREATE UNIQUE INDEX `code` ON `orders` (`code`)",
                          "CREATE UNIQUE INDEX `uq_pair` ON `orders` (`a`, `b`)",
                          "CREATE INDEX `customer_id` ON `orders` (`customer_id`)"));
  EXPECT_TRUE(sql->notes.empty());
}

TEST(BuildIndexSql, WhatAccessCannotHoldIsNotedNotBuilt) {
  SourceRows rows = {
      IndexRow("t", false, "ft", 1, "body", "A", std::nullopt, "FULLTEXT"),
      IndexRow("t", false, "sp", 1, "pt", "A", "32", "SPATIAL"),
      IndexRow("t", false, "fx", 1, std::nullopt),  // MySQL 8 functional index
      IndexRow("t", false, "pfx", 1, "tx", "A", "10"),
      IndexRow("t", false, "dsc", 1, "s1", "D"),
      IndexRow("t", false, "dsc", 2, "s2", "A"),
  };
  for (int i = 1; i <= 11; ++i) {
    rows.push_back(IndexRow("t", false, "wide", i, "c" + std::to_string(i)));
  }
  auto sql = BuildIndexSql("t", rows);
  ASSERT_TRUE(sql.ok());
  EXPECT_THAT(sql->statements, ElementsAre("CREATE INDEX `pfx` ON `t` (`tx`)",
                                           "CREATE INDEX `dsc` ON `t` (`s1` DESC, `s2`)"));
  ASSERT_EQ(sql->notes.size(), 5u);
  EXPECT_THAT(sql->notes[0], HasSubstr("FULLTEXT"));
  EXPECT_THAT(sql->notes[1], HasSubstr("SPATIAL"));
  EXPECT_THAT(sql->notes[2], HasSubstr("expression"));
  EXPECT_THAT(sql->notes[3], HasSubstr("prefix"));
  EXPECT_THAT(sql->notes[4], HasSubstr("at most 10"));
}

TEST(BuildIndexSql, OddNamesAreQuoted) {
  SourceRows rows = {IndexRow("my table", false, "idx; drop", 1, "a b"),
                     IndexRow("my table", false, "k`q", 1, "x.y")};
  auto sql = BuildIndexSql("my table", rows);
  ASSERT_TRUE(sql.ok());
  EXPECT_THAT(sql->statements, ElementsAre("CREATE INDEX `idx; drop` ON `my table` (`a b`)",
                                           "CREATE INDEX [k`q] ON `my table` (`x.y`)"));
  auto bad = BuildIndexSql("t", {IndexRow("t", false, "a`[b]", 1, "c")});
  EXPECT_EQ(bad.status().code(), StatusCode::kInvalidArgument);
}

TEST(BuildIndexSql, MalformedRowsAreAnError) {
  EXPECT_FALSE(BuildIndexSql("t", {SourceRow{"t", "1", "k"}}).ok());
  EXPECT_FALSE(BuildPrimaryKeySql("t", {SourceRow(13, std::nullopt)}).ok());
}

TEST(BuildForeignKeySql, WorkedExampleTwoConstraints) {
  SourceRows rows = {FkRow("fk_order", "order_id", "orders", "id", 1),
                     FkRow("fk_prod", "prod_a", "products", "a", 1),
                     FkRow("fk_prod", "prod_b", "products", "b", 2)};
  auto sql = BuildForeignKeySql("shop", "items", rows);
  ASSERT_TRUE(sql.ok());
  EXPECT_EQ(sql->Text(),
            "Alter Table `items` ADD CONSTRAINT `fk_order` FOREIGN KEY (`order_id`)\n"
            " REFERENCES `orders`(`id`);\n"
            "Alter Table `items` ADD CONSTRAINT `fk_prod` FOREIGN KEY (`prod_a`, `prod_b`)\n"
            " REFERENCES `products`(`a`, `b`)\n");
}

TEST(BuildForeignKeySql, InterleavedCompositeKeysStayWhole) {
  // Rows as the historical query ordered them (by column name): constraint
  // names alternate, which once split both constraints into pieces.
  SourceRows rows = {FkRow("fk_x", "a", "p", "k1", 1), FkRow("fk_y", "b", "q", "k1", 1),
                     FkRow("fk_x", "c", "p", "k2", 2), FkRow("fk_y", "d", "q", "k2", 2)};
  auto sql = BuildForeignKeySql("shop", "t", rows);
  ASSERT_TRUE(sql.ok());
  EXPECT_THAT(sql->statements,
              ElementsAre("Alter Table `t` ADD CONSTRAINT `fk_x` FOREIGN KEY (`a`, `c`)\n"
                          " REFERENCES `p`(`k1`, `k2`)",
                          "Alter Table `t` ADD CONSTRAINT `fk_y` FOREIGN KEY (`b`, `d`)\n"
                          " REFERENCES `q`(`k1`, `k2`)"));
}

TEST(BuildForeignKeySql, ColumnOrderIsTheConstraintsNotTheRows) {
  SourceRows rows = {FkRow("fk", "z", "p", "b", 2), FkRow("fk", "y", "p", "a", 1)};
  auto sql = BuildForeignKeySql("shop", "t", rows);
  ASSERT_TRUE(sql.ok());
  EXPECT_THAT(sql->statements[0], HasSubstr("FOREIGN KEY (`y`, `z`)\n REFERENCES `p`(`a`, `b`)"));
}

TEST(BuildForeignKeySql, RulesCarriedWhereAccessHasThem) {
  SourceRows rows = {FkRow("f1", "a", "p", "id", 1, "CASCADE", "SET NULL"),
                     FkRow("f2", "b", "p", "id", 1, "NO ACTION", "CASCADE"),
                     FkRow("f3", "c", "p", "id", 1, "SET DEFAULT", "RESTRICT"),
                     FkRow("self", "parent", "t", "id", 1)};
  auto sql = BuildForeignKeySql("shop", "t", rows);
  ASSERT_TRUE(sql.ok());
  ASSERT_EQ(sql->statements.size(), 4u);
  EXPECT_THAT(sql->statements[0],
              HasSubstr("REFERENCES `p`(`id`) ON UPDATE CASCADE ON DELETE SET NULL"));
  EXPECT_THAT(sql->statements[1], HasSubstr("REFERENCES `p`(`id`) ON DELETE CASCADE"));
  EXPECT_THAT(sql->statements[1], ::testing::Not(HasSubstr("UPDATE")));
  EXPECT_THAT(sql->statements[2], ::testing::EndsWith("REFERENCES `p`(`id`)"));
  EXPECT_THAT(sql->statements[3], HasSubstr("REFERENCES `t`(`id`)")) << "self reference";
  ASSERT_EQ(sql->notes.size(), 1u);
  EXPECT_THAT(sql->notes[0], HasSubstr("SET DEFAULT"));
}

TEST(BuildForeignKeySql, OtherDatabaseNotBuiltButNoted) {
  SourceRows rows = {FkRow("ext", "a", "p", "id", 1, "RESTRICT", "RESTRICT", "other")};
  auto sql = BuildForeignKeySql("shop", "t", rows);
  ASSERT_TRUE(sql.ok());
  EXPECT_TRUE(sql->statements.empty());
  ASSERT_EQ(sql->notes.size(), 1u);
  EXPECT_THAT(sql->notes[0], HasSubstr("another database"));
}

TEST(KeyQueries, NamesQuotedAndLiteralsEscaped) {
  EXPECT_EQ(ShowIndexQuery("my`db", "t x"), "SHOW INDEX FROM `my``db`.`t x`");
  // The literals come from the quoter the caller gives (the source session's,
  // which knows whether the server runs with NO_BACKSLASH_ESCAPES).
  std::string fk = ForeignKeyQuery("sh'op", "it\\ems",
                                   [](std::string_view t) { return QuoteMySqlString(t, false); });
  EXPECT_THAT(fk, HasSubstr("k.TABLE_SCHEMA = 'sh\\'op' AND k.TABLE_NAME = 'it\\\\ems'"));
  std::string plain = ForeignKeyQuery("sh'op", "it\\ems",
                                      [](std::string_view t) { return QuoteMySqlString(t, true); });
  EXPECT_THAT(plain, HasSubstr("k.TABLE_SCHEMA = 'sh''op' AND k.TABLE_NAME = 'it\\ems'"));
  EXPECT_THAT(fk, HasSubstr("ORDER BY k.CONSTRAINT_NAME, k.ORDINAL_POSITION"));
}

}  // namespace
}  // namespace velquin
