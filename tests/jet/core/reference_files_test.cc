// Reads every table of the Access-made reference files and compares every
// value with mdbtools' reading of the same file.
#include <gtest/gtest.h>

#include "jet/database.h"
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
