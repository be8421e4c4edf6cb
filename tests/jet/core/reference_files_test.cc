// Reads every table of the Access-made reference files and compares every
// value with mdbtools' reading of the same file.
#include <gtest/gtest.h>

#include <filesystem>

#include "../../support/index_check.h"
#include "jet/database.h"
#include "jet/index/index_tree.h"
#include "jet/table/table.h"
#include "test_util.h"

namespace velquin::jet {
namespace {

using testing::CompareTableWithMdbExport;
using testing::ReferenceFile;

class ReferenceFileTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ReferenceFileTest, ReadsEveryTableAsMdbToolsDoes) {
  if (!testing::HaveShared()) GTEST_SKIP() << "reference files absent";
  if (!testing::HaveMdbTools()) GTEST_SKIP() << "mdbtools absent";
  std::string path = ReferenceFile(GetParam());
  auto db = Database::Open(path, {.read_only = true});
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto tables = (*db)->ListTables(true);
  ASSERT_TRUE(tables.ok());
  ASSERT_GE(tables->size(), 4u);
  std::vector<std::string> errors;
  std::size_t rows = 0;
  for (const auto& t : *tables) {
    auto info = (*db)->GetTable(t);
    ASSERT_TRUE(info.ok()) << t << ": " << info.status().ToString();
    EXPECT_FALSE(info->columns.empty()) << t;
    rows += CompareTableWithMdbExport(**db, path, t, &errors);
  }
  EXPECT_GT(rows, 0u);
  for (std::size_t i = 0; i < errors.size() && i < 20; ++i) ADD_FAILURE() << errors[i];
}

TEST_P(ReferenceFileTest, TableListMatchesMdbTables) {
  if (!testing::HaveShared()) GTEST_SKIP() << "reference files absent";
  if (!testing::HaveMdbTools()) GTEST_SKIP() << "mdbtools absent";
  std::string path = ReferenceFile(GetParam());
  auto db = Database::Open(path, {.read_only = true});
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto tables = (*db)->ListTables(false);
  ASSERT_TRUE(tables.ok());
  std::string theirs = testing::RunCommand("mdb-tables -1 '" + path + "'");
  std::vector<std::string> expected;
  std::size_t start = 0;
  while (start < theirs.size()) {
    std::size_t end = theirs.find('\n', start);
    if (end == std::string::npos) end = theirs.size();
    if (end > start) expected.push_back(theirs.substr(start, end - start));
    start = end + 1;
  }
  std::sort(expected.begin(), expected.end());
  std::vector<std::string> ours = *tables;
  std::sort(ours.begin(), ours.end());
  EXPECT_EQ(ours, expected);
}

INSTANTIATE_TEST_SUITE_P(AccessFiles, ReferenceFileTest,
                         ::testing::Values("adox_jet4.mdb", "compIndexTestV2000.mdb",
                                           "fixedNumericTestV2000.mdb", "indexTestV2000.mdb",
                                           "overflowTestV2000.mdb", "queryTestV2000.mdb",
                                           "testIndexPropertiesV2000.mdb"),
                         [](const auto& info) {
                           std::string n = info.param;
                           return n.substr(0, n.find('.'));
                         });

}  // namespace
}  // namespace velquin::jet

namespace velquin::jet {
namespace {

// Writing into Access-made files leaves what was there readable, value for
// value, and adds a table every reader sees.
TEST_P(ReferenceFileTest, WritingIntoTheFileKeepsEverythingElse) {
  if (!testing::HaveShared()) GTEST_SKIP() << "reference files absent";
  if (!testing::HaveMdbTools()) GTEST_SKIP() << "mdbtools absent";
  std::string path = testing::TempPath(std::string("write_") + GetParam());
  std::filesystem::copy_file(ReferenceFile(GetParam()), path,
                             std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  std::vector<std::string> before;
  {
    auto db = Database::Open(path);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    before = *(*db)->ListTables(true);
    TableSpec t;
    t.name = "Added By Velquin";
    t.columns = {testing::Column("id", ColumnType::kLong),
                 testing::Column("txt", ColumnType::kText, 40),
                 testing::Column("memo", ColumnType::kMemo)};
    t.columns[0].auto_increment = true;
    t.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true}};
    ASSERT_TRUE((*db)->CreateTable(t).ok());
    for (int i = 0; i < 300; ++i) {
      ASSERT_TRUE((*db)
                      ->Insert(t.name, {Value(), Value::Text("zeile " + std::to_string(i)),
                                        Value::Text(std::string(i * 10, 'w'))})
                      .ok());
    }
    // A table renamed and dropped again leaves Access's catalogue as it was.
    t.name = "Short Lived";
    ASSERT_TRUE((*db)->CreateTable(t).ok());
    ASSERT_TRUE((*db)->RenameTable("Short Lived", "Renamed Short Lived").ok());
    ASSERT_TRUE((*db)->DropTable("Renamed Short Lived").ok());
  }
  auto db = Database::Open(path, {.read_only = true});
  ASSERT_TRUE(db.ok());
  std::vector<std::string> errors;
  for (const auto& name : before) CompareTableWithMdbExport(**db, path, name, &errors);
  EXPECT_EQ(CompareTableWithMdbExport(**db, path, "Added By Velquin", &errors), 300u);
  for (std::size_t i = 0; i < errors.size() && i < 20; ++i) ADD_FAILURE() << errors[i];
  // Every index, the catalogue's included, holds exactly its table's rows.
  CheckIndexes(**db, /*exact_counts=*/false);
  std::string tables = testing::RunCommand("mdb-tables -1 '" + path + "'");
  EXPECT_NE(tables.find("Added By Velquin\n"), std::string::npos);
}

}  // namespace
}  // namespace velquin::jet
