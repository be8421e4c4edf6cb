#include "jet/database.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace velquin::jet {
namespace {

std::string TempPath(const std::string& name) {
  auto dir = std::filesystem::temp_directory_path() / "velquin_jet_core_test";
  std::filesystem::create_directories(dir);
  auto p = dir / name;
  std::filesystem::remove(p);
  return p.string();
}

TEST(DatabaseTest, CreatesAndReopensEmptyDatabase) {
  std::string path = TempPath("empty.mdb");
  {
    auto db = Database::Create(path);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
  }
  auto db = Database::Open(path);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto tables = (*db)->ListTables(true);
  ASSERT_TRUE(tables.ok());
  EXPECT_EQ(*tables, (std::vector<std::string>{"MSysObjects", "MSysACEs", "MSysQueries",
                                               "MSysRelationships"}));
}

}  // namespace
}  // namespace velquin::jet
