// One case per row of docs/type-map.md (the case name is the row id).
#include "migrate/type_map.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "migrate/table_ddl.h"

namespace velquin {
namespace {

struct Row {
  const char* id;
  const char* declaration;  // as SHOW CREATE TABLE writes the column after its name
  std::optional<ColumnFacts> facts;
  const char* referenced;  // Access type of the referenced column, or nullptr
  const char* expected;
  ValueTransform transform;
  bool needs_facts;
};

ColumnFacts Facts(std::optional<std::string> min, std::optional<std::string> max,
                  bool nulls = false) {
  return ColumnFacts{std::move(min), std::move(max), nulls};
}

using T = ValueTransform;
const Row kRows[] = {
    {"I1", "tinyint(4) DEFAULT NULL", {}, nullptr, "SHORT", T::kAsIs, false},
    {"I1_Unsigned", "tinyint(3) unsigned NOT NULL", {}, nullptr, "SHORT", T::kAsIs, false},
    {"I1_Boolean", "tinyint(1) DEFAULT NULL", {}, nullptr, "SHORT", T::kAsIs, false},
    {"I2", "smallint(6) NOT NULL", {}, nullptr, "SHORT", T::kAsIs, false},
    {"I3", "smallint(5) unsigned", {}, nullptr, "LONG", T::kAsIs, false},
    {"I4", "mediumint(9)", {}, nullptr, "LONG", T::kAsIs, false},
    {"I4_Unsigned", "mediumint(8) unsigned", {}, nullptr, "LONG", T::kAsIs, false},
    {"I5", "int(11) NOT NULL", {}, nullptr, "LONG", T::kAsIs, false},
    {"I5_MySql8", "int NOT NULL", {}, nullptr, "LONG", T::kAsIs, false},
    {"I6", "int(10) unsigned", Facts("0", "2147483647"), nullptr, "LONG", T::kAsIs, true},
    {"I6_Empty", "int unsigned", Facts(std::nullopt, std::nullopt), nullptr, "LONG", T::kAsIs,
     true},
    {"I7", "int(10) unsigned", Facts("0", "2147483648"), nullptr, "DECIMAL(10,0)", T::kAsIs, true},
    {"I7_NotExamined", "int(10) unsigned", {}, nullptr, "DECIMAL(10,0)", T::kAsIs, true},
    {"I8", "bigint(20) NOT NULL", Facts("-2147483648", "5"), nullptr, "LONG", T::kAsIs, true},
    {"I9", "bigint(20) NOT NULL", Facts("-2147483649", "5"), nullptr, "DECIMAL(19,0)", T::kAsIs,
     true},
    {"I9_NotExamined", "bigint", {}, nullptr, "DECIMAL(19,0)", T::kAsIs, true},
    {"I10", "bigint(20) unsigned", Facts("0", "7"), nullptr, "LONG", T::kAsIs, true},
    {"I11", "bigint(20) unsigned", Facts("0", "18446744073709551615"), nullptr, "DECIMAL(20,0)",
     T::kAsIs, true},
    {"I12", "int(11) NOT NULL AUTO_INCREMENT", {}, nullptr, "COUNTER", T::kAsIs, false},
    {"I12_Small", "smallint(6) NOT NULL AUTO_INCREMENT", {}, nullptr, "COUNTER", T::kAsIs, false},
    {"I12_Wide", "bigint(20) unsigned NOT NULL AUTO_INCREMENT", Facts("1", "6"), nullptr, "COUNTER",
     T::kAsIs, true},
    {"I13", "bigint(20) NOT NULL AUTO_INCREMENT", Facts("1", "3000000000"), nullptr,
     "DECIMAL(19,0)", T::kAsIs, true},
    {"I14_Decimal", "int(11) NOT NULL", {}, "DECIMAL(20,0)", "DECIMAL(20,0)", T::kAsIs, false},
    {"I14_Counter", "smallint(6) NOT NULL", {}, "COUNTER", "LONG", T::kAsIs, false},
    {"I14_Unexamined", "bigint(20) NOT NULL", {}, "LONG", "LONG", T::kAsIs, true},
    {"I14_OwnValuesTooWide", "bigint(20) NOT NULL", Facts("1", "9000000000"), "LONG",
     "DECIMAL(19,0)", T::kAsIs, true},
    {"I15", "int(5) unsigned zerofill", Facts("1", "2"), nullptr, "LONG", T::kAsIs, true},
    {"N1", "decimal(10,2) NOT NULL DEFAULT 0.00", {}, nullptr, "DECIMAL(10,2)", T::kAsIs, false},
    {"N1_Max", "decimal(28,28) unsigned", {}, nullptr, "DECIMAL(28,28)", T::kAsIs, false},
    {"N1_Default", "decimal(10,0)", {}, nullptr, "DECIMAL(10,0)", T::kAsIs, false},
    {"N2", "decimal(65,2)", Facts("-12345.67", "99.00"), nullptr, "DECIMAL(28,2)", T::kAsIs, true},
    {"N3", "decimal(65,30)", Facts("0.5", "1.5"), nullptr, "VARCHAR(67)", T::kAsIs, true},
    {"N3_TooManyDigits", "decimal(40,2)", Facts("0", "123456789012345678901234567.00"), nullptr,
     "VARCHAR(42)", T::kAsIs, true},
    {"N4", "float DEFAULT NULL", {}, nullptr, "SINGLE", T::kAsIs, false},
    {"N4_Scaled", "float(7,3)", {}, nullptr, "SINGLE", T::kAsIs, false},
    {"N5", "double", {}, nullptr, "DOUBLE", T::kAsIs, false},
    {"N5_Scaled", "double(16,4) unsigned", {}, nullptr, "DOUBLE", T::kAsIs, false},
    {"B1", "bit(1) NOT NULL DEFAULT b'1'", {}, nullptr, "BIT", T::kBitToYesNo, false},
    {"B1_NoNulls", "bit(1) DEFAULT NULL", Facts("0", "1", false), nullptr, "BIT", T::kBitToYesNo,
     true},
    {"B2", "bit(1) DEFAULT NULL", Facts("0", "1", true), nullptr, "BYTE", T::kBitsToNumber, true},
    {"B2_NotExamined", "bit(1) DEFAULT NULL", {}, nullptr, "BYTE", T::kBitsToNumber, true},
    {"B3", "bit(8)", {}, nullptr, "BYTE", T::kBitsToNumber, false},
    {"B4", "bit(15)", {}, nullptr, "SHORT", T::kBitsToNumber, false},
    {"B5", "bit(31)", {}, nullptr, "LONG", T::kBitsToNumber, false},
    {"B6", "bit(64)", Facts("0", "255"), nullptr, "LONG", T::kBitsToNumber, true},
    {"B7", "bit(64)", Facts("0", "18446744073709551615"), nullptr, "DECIMAL(20,0)",
     T::kBitsToNumber, true},
    {"B7_Bit32", "bit(32)", {}, nullptr, "DECIMAL(10,0)", T::kBitsToNumber, true},
    {"D1", "date DEFAULT '2000-01-01'", {}, nullptr, "DATETIME", T::kDate, false},
    {"D2",
     "datetime(6) DEFAULT current_timestamp(6)",
     {},
     nullptr,
     "DATETIME",
     T::kDateTime,
     false},
    {"D2_Timestamp", "timestamp NULL DEFAULT NULL", {}, nullptr, "DATETIME", T::kDateTime, false},
    {"D3", "time(3) DEFAULT NULL", {}, nullptr, "DATETIME", T::kTimeOfDay, false},
    {"D4", "year(4) DEFAULT NULL", {}, nullptr, "SHORT", T::kAsIs, false},
    {"D4_MySql8", "year", {}, nullptr, "SHORT", T::kAsIs, false},
    {"S1",
     "char(10) CHARACTER SET latin1 COLLATE latin1_swedish_ci",
     {},
     nullptr,
     "VARCHAR(10)",
     T::kAsIs,
     false},
    {"S1_Zero", "char(0)", {}, nullptr, "VARCHAR(1)", T::kAsIs, false},
    {"S2", "varchar(255) NOT NULL", {}, nullptr, "varchar(255)", T::kAsIs, false},
    {"S3", "varchar(256)", {}, nullptr, "LONGTEXT", T::kAsIs, false},
    {"S4", "tinytext", {}, nullptr, "VARCHAR(255)", T::kAsIs, false},
    {"S5", "text", {}, nullptr, "MEMO", T::kAsIs, false},
    {"S5_Medium", "mediumtext", {}, nullptr, "MEMO", T::kAsIs, false},
    {"S5_Long", "longtext", {}, nullptr, "MEMO", T::kAsIs, false},
    {"S6", "json DEFAULT NULL", {}, nullptr, "MEMO", T::kAsIs, false},
    {"S6_MariaDb",
     "longtext CHARACTER SET utf8mb4 COLLATE utf8mb4_bin DEFAULT NULL CHECK (json_valid(`c`))",
     {},
     nullptr,
     "MEMO",
     T::kAsIs,
     false},
    {"S7",
     "enum('a','B c','it''s','\xc3\xa9t\xc3\xa9s') NOT NULL",
     {},
     nullptr,
     "VARCHAR(4)",
     T::kAsIs,
     false},
    {"S8", "set('x','y;z','w')", {}, nullptr, "VARCHAR(7)", T::kAsIs, false},
    {"S9",
     "set('aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa',"
     "'bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb',"
     "'cccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccccc')",
     {},
     nullptr,
     "MEMO",
     T::kAsIs,
     false},
    {"S10", "uuid DEFAULT NULL", {}, nullptr, "VARCHAR(36)", T::kAsIs, false},
    {"S11", "inet4", {}, nullptr, "VARCHAR(15)", T::kAsIs, false},
    {"S11_V6", "inet6", {}, nullptr, "VARCHAR(39)", T::kAsIs, false},
    {"X1", "binary(16)", {}, nullptr, "binary(16)", T::kBytes, false},
    {"X2", "varbinary(255)", {}, nullptr, "varbinary(255)", T::kBytes, false},
    {"X3", "varbinary(256)", {}, nullptr, "LONGBINARY", T::kBytes, false},
    {"X4", "tinyblob", {}, nullptr, "VARBINARY(255)", T::kBytes, false},
    {"X5", "blob", {}, nullptr, "LONGBINARY", T::kBytes, false},
    {"X5_Long", "longblob", {}, nullptr, "LONGBINARY", T::kBytes, false},
    {"X6", "geometry NOT NULL", {}, nullptr, "LONGBINARY", T::kGeometry, false},
    {"X6_Point", "point", {}, nullptr, "LONGBINARY", T::kGeometry, false},
    {"X6_Collection", "geometrycollection", {}, nullptr, "LONGBINARY", T::kGeometry, false},
    {"U1", "vector(3)", {}, nullptr, "vector(3)", T::kAsIs, false},
};

class TypeMapRow : public ::testing::TestWithParam<Row> {};

TEST_P(TypeMapRow, MapsAsDocumented) {
  const Row& row = GetParam();
  std::string text = std::string("CREATE TABLE `t` (\n  `c` ") + row.declaration + "\n)";
  auto columns = ParseCreateTableColumns(text);
  ASSERT_TRUE(columns.ok()) << columns.status().ToString();
  ASSERT_EQ(columns->size(), 1u);
  const SourceColumn& column = (*columns)[0];
  EXPECT_EQ(NeedsColumnFacts(column), row.needs_facts);

  std::optional<ColumnPlan> referenced;
  if (row.referenced != nullptr) {
    ColumnPlan r;
    r.access_type = row.referenced;
    std::string ref = row.referenced;
    if (ref == "LONG") r.type = AccessType::kLong;
    if (ref == "COUNTER") r.type = AccessType::kCounter;
    if (ref.rfind("DECIMAL(", 0) == 0) {
      r.type = AccessType::kDecimal;
      r.precision = std::stoi(ref.substr(8));
    }
    referenced = r;
  }
  ColumnPlan plan =
      MapColumnType(column, row.facts ? &*row.facts : nullptr, referenced ? &*referenced : nullptr);
  EXPECT_EQ(plan.access_type, row.expected);
  EXPECT_EQ(plan.transform, row.transform);
  // The written type names its type's keyword (LONGTEXT is Jet's other
  // spelling of MEMO; VARBINARY contains BINARY).
  std::string keyword = AsciiLower(JetTypeKeyword(plan.type));
  EXPECT_EQ(keyword.empty(), plan.type == AccessType::kUnknown);
  if (plan.access_type != "LONGTEXT") {
    EXPECT_NE(AsciiLower(plan.access_type).find(keyword), std::string::npos) << keyword;
  }

  // The statement carries the same type.
  TableDdlInput input;
  if (row.facts) input.facts["c"] = *row.facts;
  if (referenced) input.referenced["c"] = *referenced;
  auto ddl = ConvertTableDdl(text, input);
  ASSERT_TRUE(ddl.ok()) << ddl.status().ToString();
  EXPECT_NE(ddl->sql.find("`c` " + std::string(row.expected)), std::string::npos) << ddl->sql;
}

INSTANTIATE_TEST_SUITE_P(Rows, TypeMapRow, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.id); });

TEST(TypeMapReasons, DataDecidedChoicesSayWhy) {
  auto columns = ParseCreateTableColumns(
      "CREATE TABLE `t` (\n  `a` bigint(20) unsigned zerofill NOT NULL AUTO_INCREMENT\n)");
  ASSERT_TRUE(columns.ok());
  ColumnFacts facts{"1", "99999999999", false};
  ColumnPlan plan = MapColumnType((*columns)[0], &facts, nullptr);
  EXPECT_EQ(plan.access_type, "DECIMAL(20,0)");
  EXPECT_NE(plan.reason.find("largest 99999999999"), std::string::npos) << plan.reason;
  EXPECT_NE(plan.reason.find("AUTO_INCREMENT not carried"), std::string::npos) << plan.reason;
  EXPECT_NE(plan.reason.find("zerofill"), std::string::npos) << plan.reason;

  ColumnFacts fits{"1", "12", false};
  plan = MapColumnType((*columns)[0], &fits, nullptr);
  EXPECT_EQ(plan.access_type, "COUNTER");
  EXPECT_NE(plan.reason.find("every value present fits"), std::string::npos) << plan.reason;
}

TEST(TypeMapReasons, UnparsableFactsCountAsNotFitting) {
  auto columns = ParseCreateTableColumns("CREATE TABLE `t` (\n  `a` bigint(20)\n)");
  ASSERT_TRUE(columns.ok());
  ColumnFacts junk{"x", "1", false};
  EXPECT_EQ(MapColumnType((*columns)[0], &junk, nullptr).access_type, "DECIMAL(19,0)");
}

}  // namespace
}  // namespace velquin
