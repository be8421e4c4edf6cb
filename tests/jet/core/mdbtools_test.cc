// Files this engine writes, read back by mdbtools (mdb-tables, mdb-schema,
// mdb-export) and compared value for value.
#include <gtest/gtest.h>

#include <limits>

#include "jet/database.h"
#include "jet/database_internal.h"
#include "jet/table/table_def.h"
#include "test_util.h"

namespace velquin::jet {
namespace {

using testing::Column;
using testing::CompareTableWithMdbExport;
using testing::RunCommand;
using testing::TempPath;

class MdbToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveMdbTools()) GTEST_SKIP() << "mdbtools absent";
  }
};

TableSpec EveryType() {
  TableSpec t;
  t.name = "Every Type";
  t.columns = {Column("id", ColumnType::kLong),       Column("yes_no", ColumnType::kBool),
               Column("byte", ColumnType::kByte),     Column("short", ColumnType::kShort),
               Column("long", ColumnType::kLong),     Column("money", ColumnType::kCurrency),
               Column("single", ColumnType::kSingle), Column("double", ColumnType::kDouble),
               Column("when", ColumnType::kDateTime), Column("bin", ColumnType::kBinary, 50),
               Column("text", ColumnType::kText, 50), Column("ole", ColumnType::kOle),
               Column("memo", ColumnType::kMemo),     Column("guid", ColumnType::kGuid),
               Column("dec", ColumnType::kNumeric)};
  t.columns[0].auto_increment = true;
  t.columns.back().precision = 28;
  t.columns.back().scale = 6;
  return t;
}

std::vector<Value> RowFor(int i) {
  std::vector<Value> r(15);
  if (i % 11 == 5) return r;  // all NULL
  r[1] = Value::Bool(i % 2 == 0);
  r[2] = Value::Byte(static_cast<std::uint8_t>(i % 256));
  r[3] = Value::Short(static_cast<std::int16_t>(i % 2 ? -i : i));
  r[4] = Value::Long(i % 3 == 0 ? std::numeric_limits<std::int32_t>::min() + i : i * 1000);
  r[5] = Value::Money(Currency{static_cast<std::int64_t>(i) * 123457 - 5000000});
  r[6] = Value::Single(static_cast<float>(i) / 8.0f);
  r[7] = Value::Double(i * 1.0e10 / 7.0);
  r[8] = Value::Date(
      DateTime::FromParts(1900 + i % 200, 1 + i % 12, 1 + i % 28, i % 24, i % 60, (i * 7) % 60));
  std::vector<std::uint8_t> bin;
  for (int k = 0; k < i % 50; ++k) bin.push_back(static_cast<std::uint8_t>(1 + (k * 37 + i) % 255));
  r[9] = Value::Binary(bin);
  static const char* kTexts[] = {
      "plain ascii", "Zoë Ærøskøbing",   "日本語テキスト", "emoji 😀 here", "",
      "x",           "\"quoted\", comma"};
  r[10] = Value::Text(kTexts[i % 7]);
  std::vector<std::uint8_t> ole(static_cast<std::size_t>((i * 997) % 9000) + 1);
  for (std::size_t k = 0; k < ole.size(); ++k)
    ole[k] = static_cast<std::uint8_t>(1 + (k + i) % 200);
  r[11] = Value::Binary(ole);
  std::string memo;
  for (int k = 0; k < (i * 31) % 300; ++k) memo += (k % 17 == 0) ? "ü" : "m";
  if (i % 13 == 0) memo = std::string(70000, 'L') + "ß";
  r[12] = Value::Text(memo);
  r[13] = Value::Uuid(
      *Guid::Parse("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F" + std::to_string(i % 10) + "}"));
  r[14] = Value::Numeric(*Decimal::Parse(std::to_string(i * 1234567) + ".123456", 6));
  return r;
}

TEST_F(MdbToolsTest, ExportMatchesEveryValueOfEveryType) {
  std::string path = TempPath("mdbtools_every.mdb");
  constexpr int kRows = 600;
  {
    auto db = Database::Create(path);
    ASSERT_TRUE(db.ok());
    ASSERT_TRUE((*db)->CreateTable(EveryType()).ok());
    auto w = (*db)->BulkAppend("Every Type", 100);
    ASSERT_TRUE(w.ok());
    for (int i = 0; i < kRows; ++i) ASSERT_TRUE((*w)->Append(RowFor(i)).ok()) << i;
    ASSERT_TRUE((*w)->Finish().ok());
  }
  auto db = Database::Open(path, {.read_only = true});
  ASSERT_TRUE(db.ok());
  std::vector<std::string> errors;
  EXPECT_EQ(CompareTableWithMdbExport(**db, path, "Every Type", &errors),
            static_cast<std::size_t>(kRows));
  for (std::size_t i = 0; i < errors.size() && i < 20; ++i) ADD_FAILURE() << errors[i];
  // The catalogue as mdbtools reads it.
  errors.clear();
  CompareTableWithMdbExport(**db, path, "MSysObjects", &errors);
  CompareTableWithMdbExport(**db, path, "MSysACEs", &errors);
  for (std::size_t i = 0; i < errors.size() && i < 20; ++i) ADD_FAILURE() << errors[i];
}

TEST_F(MdbToolsTest, TablesAndSchemaAsCreated) {
  std::string path = TempPath("mdbtools_schema.mdb");
  {
    auto db = Database::Create(path);
    ASSERT_TRUE(db.ok());
    ASSERT_TRUE((*db)->CreateTable(EveryType()).ok());
    TableSpec second;
    second.name = "Second";
    second.columns = {Column("k", ColumnType::kText, 10), Column("must", ColumnType::kLong)};
    second.columns[1].not_null = true;
    ASSERT_TRUE((*db)->CreateTable(second).ok());
    TableSpec gone = second;
    gone.name = "Gone";
    ASSERT_TRUE((*db)->CreateTable(gone).ok());
    ASSERT_TRUE((*db)->DropTable("Gone").ok());
  }
  EXPECT_EQ(RunCommand("mdb-tables -1 '" + path + "'"), "Every Type\nSecond\n");
  std::string schema = RunCommand("mdb-schema '" + path + "' access");
  const char* expected[] = {"[id]\t\t\tLong Integer",
                            "[yes_no]\t\t\tBoolean",
                            "[byte]\t\t\tByte",
                            "[short]\t\t\tInteger",
                            "[money]\t\t\tCurrency",
                            "[single]\t\t\tSingle",
                            "[double]\t\t\tDouble",
                            "[when]\t\t\tDateTime",
                            "[bin]\t\t\tBinary",
                            "[text]\t\t\tText (50)",
                            "[ole]\t\t\tOLE",
                            "[memo]\t\t\tMemo/Hyperlink",
                            "[guid]\t\t\tReplication ID",
                            "[dec]\t\t\tNumeric (28, 6)",
                            "CREATE TABLE [Second]",
                            "[k]\t\t\tText (10),",
                            "[must]\t\t\tLong Integer NOT NULL"};
  for (const char* e : expected)
    EXPECT_NE(schema.find(e), std::string::npos) << e << "\n" << schema;
  EXPECT_EQ(schema.find("Gone"), std::string::npos);
}

// A table with more long-value columns than one page of usage maps holds
// (two maps each): its maps continue on further pages, and the table reads,
// takes rows and drops like any other.
TEST_F(MdbToolsTest, ManyLongValueColumnsSpreadTheirMapsOverPages) {
  std::string path = TempPath("mdbtools_many_memos.mdb");
  {
    auto db = Database::Create(path);
    ASSERT_TRUE(db.ok());
    TableSpec t;
    t.name = "Many Memos";
    t.columns.push_back(Column("id", ColumnType::kLong));
    for (int c = 0; c < 100; ++c) {
      t.columns.push_back(
          Column("m" + std::to_string(c), c % 2 ? ColumnType::kMemo : ColumnType::kOle));
    }
    t.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true}};
    auto created = (*db)->CreateTable(t);
    ASSERT_TRUE(created.ok()) << created.ToString();
    for (int r = 0; r < 20; ++r) {
      std::vector<Value> row{Value::Long(r)};
      for (int c = 0; c < 100; ++c) {
        if ((r + c) % 7 == 0) {
          row.emplace_back();
        } else if (c % 2) {
          row.push_back(Value::Text("row " + std::to_string(r) + " " + std::string(c * 20, 'q')));
        } else {
          row.push_back(
              Value::Binary(std::vector<std::uint8_t>(c * 15 + r, static_cast<std::uint8_t>(c))));
        }
      }
      ASSERT_TRUE((*db)->Insert(t.name, row).ok()) << r;
    }
    t.name = "Dropped Too";
    ASSERT_TRUE((*db)->CreateTable(t).ok());
    ASSERT_TRUE((*db)->DropTable("Dropped Too").ok());
  }
  auto db = Database::Open(path, {.read_only = true});
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto info = (*db)->GetTable("Many Memos");
  ASSERT_TRUE(info.ok());
  auto def = ReadTableDef(DatabaseInternals::Store(**db), info->tdef_page);
  ASSERT_TRUE(def.ok());
  EXPECT_NE(def->columns.back().lv_free.page, def->owned_map.page);  // more than one page
  std::vector<std::string> errors;
  EXPECT_EQ(CompareTableWithMdbExport(**db, path, "Many Memos", &errors), 20u);
  for (std::size_t i = 0; i < errors.size() && i < 20; ++i) ADD_FAILURE() << errors[i];
  EXPECT_EQ(RunCommand("mdb-tables -1 '" + path + "'"), "Many Memos\n");
}

}  // namespace
}  // namespace velquin::jet
