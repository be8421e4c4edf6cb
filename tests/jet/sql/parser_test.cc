// What the normalized text of the .test files cannot show: the tree itself.
#include "jet/sql/parser.h"

#include <gtest/gtest.h>

#include "jet/sql/format.h"

namespace velquin::jet::sql {
namespace {

template <typename T>
T ParseAs(std::string_view sql) {
  auto s = ParseStatement(sql);
  EXPECT_TRUE(s.ok()) << sql << ": " << s.status().message();
  if (!s.ok() || !std::holds_alternative<T>(*s)) {
    ADD_FAILURE() << "not the statement kind expected: " << sql;
    return T{};
  }
  return std::get<T>(*s);
}

TEST(Parser, TypeSynonymsMapToJetTypes) {
  struct Case {
    const char* written;
    DataType type;
    int size;
    bool fixed;
  };
  const Case cases[] = {
      {"YESNO", DataType::kBoolean, 0, false},
      {"TINYINT", DataType::kByte, 0, false},
      {"INTEGER2", DataType::kShort, 0, false},
      {"INTEGER", DataType::kLong, 0, false},
      {"MONEY", DataType::kCurrency, 0, false},
      {"REAL", DataType::kSingle, 0, false},
      {"FLOAT", DataType::kDouble, 0, false},
      {"TIMESTAMP", DataType::kDateTime, 0, false},
      {"VARBINARY(9)", DataType::kBinary, 9, false},
      {"BINARY(9)", DataType::kBinary, 9, true},
      {"TEXT(9)", DataType::kText, 9, false},
      {"CHAR(9)", DataType::kText, 9, true},
      {"VARCHAR", DataType::kText, 255, false},
      {"TEXT", DataType::kMemo, 0, false},
      {"OLEOBJECT", DataType::kOle, 0, false},
      {"UNIQUEIDENTIFIER", DataType::kGuid, 0, false},
      {"NUMERIC(12,3)", DataType::kDecimal, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    auto ct = ParseAs<CreateTable>(std::string("CREATE TABLE t (c ") + c.written + ")");
    ASSERT_EQ(ct.columns.size(), 1u);
    const TypeSpec& t = ct.columns[0].type;
    EXPECT_EQ(t.type, c.type);
    EXPECT_EQ(t.size, c.size);
    EXPECT_EQ(t.fixed_length, c.fixed);
  }
  auto dec = ParseAs<CreateTable>("CREATE TABLE t (a NUMERIC(12,3), b DECIMAL)");
  EXPECT_EQ(dec.columns[0].type.precision, 12);
  EXPECT_EQ(dec.columns[0].type.scale, 3);
  EXPECT_EQ(dec.columns[1].type.precision, 18);
  EXPECT_EQ(dec.columns[1].type.scale, 0);
  auto counter = ParseAs<CreateTable>("CREATE TABLE t (a AUTOINCREMENT(-5, 2))");
  EXPECT_EQ(counter.columns[0].type.type, DataType::kLong);
  EXPECT_TRUE(counter.columns[0].type.auto_increment);
  EXPECT_EQ(counter.columns[0].type.seed, -5);
  EXPECT_EQ(counter.columns[0].type.increment, 2);
}

TEST(Parser, ConstraintsCarryTheirColumnsAndActions) {
  auto ct = ParseAs<CreateTable>(
      "CREATE TABLE t (a LONG NOT NULL PRIMARY KEY, b LONG REFERENCES u (x) ON DELETE CASCADE, "
      "CONSTRAINT uq UNIQUE (b, a))");
  ASSERT_EQ(ct.constraints.size(), 3u);
  EXPECT_TRUE(ct.columns[0].not_null);
  EXPECT_FALSE(ct.columns[1].not_null);
  EXPECT_EQ(ct.constraints[0].kind, ConstraintKind::kPrimaryKey);
  EXPECT_EQ(ct.constraints[0].columns, std::vector<std::string>{"a"});
  EXPECT_EQ(ct.constraints[1].kind, ConstraintKind::kForeignKey);
  EXPECT_EQ(ct.constraints[1].ref_table, "u");
  EXPECT_EQ(ct.constraints[1].ref_columns, std::vector<std::string>{"x"});
  EXPECT_EQ(ct.constraints[1].on_delete, ReferentialAction::kCascade);
  EXPECT_EQ(ct.constraints[1].on_update, ReferentialAction::kNoAction);
  EXPECT_EQ(ct.constraints[2].name, "uq");
  EXPECT_EQ(ct.constraints[2].columns, (std::vector<std::string>{"b", "a"}));
}

TEST(Parser, LiteralsKeepTheirValues) {
  auto ins = ParseAs<Insert>(
      "INSERT INTO t (a, b, c, d, e, f) VALUES ('it''s', 0x00FF, #2024-01-31 10:20#, -12.50, NULL, "
      "TRUE)");
  ASSERT_EQ(ins.values.size(), 6u);
  EXPECT_EQ(ins.values[0].kind, ExprKind::kString);
  EXPECT_EQ(ins.values[0].text, "it's");
  EXPECT_EQ(ins.values[1].bytes, (std::vector<uint8_t>{0x00, 0xFF}));
  EXPECT_EQ(ins.values[2].date, (DateTimeValue{2024, 1, 31, 10, 20, 0, 0}));
  EXPECT_EQ(ins.values[3].kind, ExprKind::kUnary);
  EXPECT_EQ(ins.values[3].args[0].text, "12.50");
  EXPECT_EQ(ins.values[4].kind, ExprKind::kNull);
  EXPECT_TRUE(ins.values[5].boolean);
}

TEST(Parser, PrecedenceFollowsAccess) {
  // -2^2 is -(2^2); a OR b XOR c is (a OR b) XOR c; NOT binds below comparison.
  auto e = ParseExpression("-2^2");
  ASSERT_TRUE(e.ok());
  EXPECT_EQ(e->kind, ExprKind::kUnary);
  EXPECT_EQ(e->args[0].binary_op, BinaryOp::kPower);
  e = ParseExpression("a OR b XOR c");
  ASSERT_TRUE(e.ok());
  EXPECT_EQ(e->binary_op, BinaryOp::kXor);
  EXPECT_EQ(e->args[0].binary_op, BinaryOp::kOr);
  e = ParseExpression("NOT a = b");
  ASSERT_TRUE(e.ok());
  EXPECT_EQ(e->unary_op, UnaryOp::kNot);
  EXPECT_EQ(e->args[0].binary_op, BinaryOp::kEq);
  e = ParseExpression("a & b + c");
  ASSERT_TRUE(e.ok());
  EXPECT_EQ(e->binary_op, BinaryOp::kConcat);
  EXPECT_EQ(e->args[1].binary_op, BinaryOp::kAdd);
}

TEST(Parser, FormatAddsOnlyTheParenthesesATreeNeeds) {
  // A tree built by hand (no parentheses recorded) still prints so that it
  // reads back the same.
  Expr a, b, c;
  a.kind = b.kind = c.kind = ExprKind::kColumn;
  a.text = "a", b.text = "b", c.text = "c";
  Expr sum;
  sum.kind = ExprKind::kBinaryOp;
  sum.binary_op = BinaryOp::kAdd;
  sum.args = {a, b};
  Expr product;
  product.kind = ExprKind::kBinaryOp;
  product.binary_op = BinaryOp::kMultiply;
  product.args = {sum, c};
  EXPECT_EQ(FormatExpression(product), "(a + b) * c");
  Expr difference = sum;
  difference.binary_op = BinaryOp::kSubtract;
  difference.args = {a, sum};
  EXPECT_EQ(FormatExpression(difference), "a - (a + b)");
  auto back = ParseExpression(FormatExpression(difference));
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back->args[1].binary_op, BinaryOp::kAdd);
}

TEST(Parser, DeepNestingIsRefusedNotACrash) {
  std::string deep(5000, '(');
  deep += "1" + std::string(5000, ')');
  auto s = ParseStatement("SELECT " + deep);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.status().message(), "The expression is nested too deeply.");
  std::string nots;
  for (int i = 0; i < 5000; ++i) nots += "NOT ";
  EXPECT_FALSE(ParseStatement("SELECT * FROM t WHERE " + nots + "a").ok());
  std::string minus(5000, '-');
  EXPECT_FALSE(ParseStatement("SELECT " + minus + "1").ok());
}

TEST(Parser, ExpressionAloneMustEndCleanly) {
  EXPECT_TRUE(
      ParseExpression("(((Table2.col2)=\"foo\" Or (Table2.col2) In (\"buzz\",\"bazz\")))").ok());
  auto bad = ParseExpression("a b");
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.status().message(), "Syntax error in query expression near 'b'.");
}

TEST(SplitStatements, SplitsOnlyOutsideQuotes) {
  const std::string script =
      "CREATE INDEX a ON t (x);\nCREATE INDEX b ON t (y)\n;;  ;"
      "INSERT INTO t VALUES ('a;b', \"c;d\", #1/2/2003#);SELECT [x;y] FROM `p;q`";
  auto pieces = SplitStatements(script);
  ASSERT_EQ(pieces.size(), 4u);
  EXPECT_EQ(pieces[0], "CREATE INDEX a ON t (x)");
  EXPECT_EQ(pieces[1], "CREATE INDEX b ON t (y)");
  EXPECT_EQ(pieces[2], "INSERT INTO t VALUES ('a;b', \"c;d\", #1/2/2003#)");
  EXPECT_EQ(pieces[3], "SELECT [x;y] FROM `p;q`");
  EXPECT_TRUE(SplitStatements(" ; \n ").empty());
  EXPECT_EQ(SplitStatements("\xEF\xBB\xBF"
                            "DROP TABLE t;"),
            std::vector<std::string>{"DROP TABLE t"});
  // A doubled quote inside a string does not end it.
  EXPECT_EQ(SplitStatements("SELECT 'a'';b'; SELECT 1").size(), 2u);
}

TEST(Parser, KindNames) {
  EXPECT_EQ(StatementKindName(*ParseStatement("SELECT * INTO x FROM t")), "SELECT INTO");
  EXPECT_EQ(StatementKindName(*ParseStatement("DROP INDEX i ON t")), "DROP INDEX");
  EXPECT_TRUE(IsReservedWord("select"));
  EXPECT_FALSE(IsReservedWord("date"));
}

}  // namespace
}  // namespace velquin::jet::sql
