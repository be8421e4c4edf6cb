// Counting what changed on the way into Access, and finding the NOT NULL
// date columns that must be created nullable for their zero dates.
#include "migrate/value_transforms.h"

#include <gtest/gtest.h>

namespace velquin {
namespace {

constexpr char kCreate[] =
    "CREATE TABLE `t` (\n"
    "  `id` int(11) NOT NULL,\n"
    "  `d` date NOT NULL DEFAULT '0000-00-00',\n"
    "  `t` timestamp NOT NULL DEFAULT '2020-01-01 00:00:00',\n"
    "  `z` datetime NOT NULL DEFAULT '2020-00-01 00:00:00' COMMENT 'NOT NULL here',\n"
    "  `NOT NULL` date NOT NULL,\n"
    "  `n` date DEFAULT NULL,\n"
    "  PRIMARY KEY (`id`)\n"
    ") ENGINE=InnoDB";

TEST(ValueTransformsTest, ZeroDateTextsAndDefaults) {
  for (const char* zero :
       {"0000-00-00", "2020-00-05", "2020-05-00 10:00:00", "0000-00-00 00:00:00"})
    EXPECT_TRUE(IsZeroDateText(zero)) << zero;
  for (const char* date : {"0001-01-01", "2020-10-10", "10:00:00", "2020-1-1", ""})
    EXPECT_FALSE(IsZeroDateText(date)) << date;
  EXPECT_EQ(ZeroDateDefault(kCreate, "d"), "0000-00-00");
  EXPECT_EQ(ZeroDateDefault(kCreate, "t"), "");
  EXPECT_EQ(ZeroDateDefault(kCreate, "z"), "2020-00-01 00:00:00");
  EXPECT_EQ(ZeroDateDefault(kCreate, "n"), "");
  EXPECT_EQ(ZeroDateDefault(kCreate, "missing"), "");
}

TEST(ValueTransformsTest, NotNullDateColumnsAndTheirCountQuery) {
  auto column = [](const char* name, const char* type, bool not_null) {
    SourceColumn c;
    c.name = name;
    c.type = type;
    c.not_null = not_null;
    return c;
  };
  const std::vector<SourceColumn> columns = {
      column("d", "date", true), column("n", "datetime", false), column("ts", "timestamp", true),
      column("tm", "time", true)};
  const auto candidates = NotNullDateColumns(columns);
  EXPECT_EQ(candidates, (std::vector<std::string>{"d", "ts"}));
  EXPECT_EQ(ZeroDateCountQuery("db", "t`x", candidates),
            "SELECT COALESCE(SUM(MONTH(`d`) = 0 OR DAYOFMONTH(`d`) = 0), 0), "
            "COALESCE(SUM(MONTH(`ts`) = 0 OR DAYOFMONTH(`ts`) = 0), 0) FROM `db`.`t``x`");
  EXPECT_EQ(ZeroDateProbeQuery("db", "t`x", candidates),
            "SELECT 1 FROM `db`.`t``x` WHERE MONTH(`d`) = 0 OR DAYOFMONTH(`d`) = 0 OR "
            "MONTH(`ts`) = 0 OR DAYOFMONTH(`ts`) = 0 LIMIT 1");
}

TEST(ValueTransformsTest, DropNotNullTouchesOnlyTheNamedColumnsOutsideLiterals) {
  const std::string out = DropNotNull(kCreate, {"D", "z", "NOT NULL"});
  EXPECT_NE(out.find("  `id` int(11) NOT NULL,\n"), std::string::npos);
  EXPECT_NE(out.find("  `d` date DEFAULT '0000-00-00',\n"), std::string::npos);
  EXPECT_NE(out.find("  `t` timestamp NOT NULL DEFAULT"), std::string::npos);
  EXPECT_NE(out.find("  `z` datetime DEFAULT '2020-00-01 00:00:00' COMMENT 'NOT NULL here',\n"),
            std::string::npos);
  EXPECT_NE(out.find("  `NOT NULL` date,\n"), std::string::npos);
}

TEST(ValueTransformsTest, CounterKeepsTheFirstExamplePerColumnAndKind) {
  TransformCounter counter;
  counter.Add("d", TransformKind::kZeroDateToNull, "0000-00-00");
  counter.Add("e", TransformKind::kZeroDateToNull, "2020-00-01");
  counter.Add("d", TransformKind::kZeroDateToNull, "2021-00-00", 2);
  counter.Add("d", TransformKind::kFractionCut, "2021-01-01 00:00:00.1234");
  EXPECT_EQ(counter.Counts(),
            (std::vector<TransformCount>{
                {"d", TransformKind::kZeroDateToNull, 3, "0000-00-00"},
                {"e", TransformKind::kZeroDateToNull, 1, "2020-00-01"},
                {"d", TransformKind::kFractionCut, 1, "2021-01-01 00:00:00.1234"}}));
  EXPECT_EQ(DescribeTransform(counter.Counts()[0]),
            "`d`: zero date to NULL, 3 values (e.g. '0000-00-00')");
  EXPECT_EQ(DescribeTransform({"d", TransformKind::kMadeNullable, 0, "0000-00-00"}),
            "`d`: made nullable, it holds 0 zero dates (default '0000-00-00')");
}

}  // namespace
}  // namespace velquin
