// The checks velquin migrate makes before it writes anything.
#include "cli/migrate_checks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "db/jet_session.h"

namespace velquin {
namespace {

namespace fs = std::filesystem;

class MigrateChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("velquin-checks-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return dir_ / name;
  }
  fs::path dir_;
};

TEST(SplitNameListTest, TrimsBlanksKeepsOrderDropsEmptiesAndRepeats) {
  EXPECT_EQ(SplitNameList("actor, film,Category"),
            (std::vector<std::string>{"actor", "film", "Category"}));
  EXPECT_EQ(SplitNameList(" a ,, b\t,a,"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(SplitNameList("with space , x"), (std::vector<std::string>{"with space", "x"}));
  EXPECT_TRUE(SplitNameList(" , ").empty());
}

TEST_F(MigrateChecksTest, OutputPathsMustBeDistinctFiles) {
  const fs::path cwd = fs::current_path();
  fs::current_path(dir_);
  Write("t.mdb", "x");
  fs::create_symlink(dir_ / "t.mdb", dir_ / "link.mdb");
  struct Case {
    std::vector<OutputPath> outputs;
    bool ok;
  } cases[] = {
      {{{"--target", "t.mdb"}, {"--summary", "s.json"}, {"--log", "l.txt"}}, true},
      {{{"--target", "t.mdb"}, {"--summary", ""}, {"--log", ""}}, true},
      {{{"--target", "t.mdb"}, {"--summary", dir_ / "t.mdb"}}, false},
      {{{"--target", "t.mdb"}, {"--summary", "./sub/../t.mdb"}}, false},
      {{{"--target", "t.mdb"}, {"--log", "link.mdb"}}, false},
      {{{"--target", "new.mdb"}, {"--summary", "s.csv"}, {"--log", "./s.csv"}}, false},
      {{{"--target", "new.mdb"}, {"--data-dir", "new.mdb"}}, false},
  };
  for (const auto& c : cases) {
    Status s = CheckOutputPaths(c.outputs);
    EXPECT_EQ(s.ok(), c.ok) << c.outputs[1].path << " " << s.message();
    if (!s.ok()) {
      EXPECT_NE(s.message().find("name the same file"), std::string::npos);
    }
  }
  fs::current_path(cwd);
}

TEST_F(MigrateChecksTest, ConditionsFileMustBeAReadableFile) {
  EXPECT_TRUE(CheckConditionsFile(Write("Condition.cfg", "[db]\r\nt=id > 1\r\n")).ok());
  EXPECT_TRUE(CheckConditionsFile(Write("empty.cfg", "")).ok());
  EXPECT_FALSE(CheckConditionsFile(dir_ / "missing.cfg").ok());
  EXPECT_FALSE(CheckConditionsFile(dir_).ok());
}

TEST_F(MigrateChecksTest, ATargetThatIsNotAnAccessDatabaseIsNamedSo) {
  const fs::path good = dir_ / "good.mdb";
  ASSERT_TRUE(JetSession::Open(good.string(), true).ok());
  EXPECT_TRUE(CheckExistingTarget(good).ok());
  std::ifstream in(good, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  std::mt19937 random(7);
  std::string noise(8192, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  fs::create_directories(dir_ / "folder.mdb");
  const fs::path bad[] = {
      Write("text.mdb", "just some text\n"),
      Write("image.mdb", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(600, '\0')),
      Write("empty.mdb", ""),
      Write("cut.mdb", bytes.substr(0, 3000)),
      Write("noise.mdb", noise),
      dir_ / "folder.mdb",
  };
  for (const fs::path& p : bad) {
    Status s = CheckExistingTarget(p);
    ASSERT_FALSE(s.ok()) << p;
    EXPECT_EQ(s.message().rfind(p.string() + " is not an Access database: ", 0), 0u) << s.message();
  }
}

}  // namespace
}  // namespace velquin
