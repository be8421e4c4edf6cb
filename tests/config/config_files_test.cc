#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "config/condition_file.h"
#include "config/migrator_config.h"

namespace velquin {
namespace {

namespace fs = std::filesystem;

class ConfigFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(VELQUIN_BINARY_DIR) / "test-tmp" /
           (std::string("cfg-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void WriteFile(const fs::path& p, std::string_view text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
  }
  static std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_;
};

TEST_F(ConfigFiles, ConditionsPerDatabaseAndTable) {
  ConditionFile conditions = ConditionFile::InFolder(dir_);
  EXPECT_EQ(conditions.path().filename(), "Condition.cfg");
  ASSERT_TRUE(conditions.EnsureExists().ok());
  EXPECT_TRUE(fs::exists(conditions.path()));
  EXPECT_EQ(Slurp(conditions.path()), "");
  EXPECT_EQ(*conditions.Read("shop", "orders"), "") << "no condition: every row";

  ASSERT_TRUE(conditions.Write("shop", "orders", "  id > 100 ").ok());
  ASSERT_TRUE(conditions.Write("archive", "orders", "year(created) = 2001").ok());
  ASSERT_TRUE(conditions.Write("shop", "customers", "").ok());
  EXPECT_EQ(*conditions.Read("shop", "orders"), "id > 100");
  EXPECT_EQ(*conditions.Read("SHOP", "Orders"), "id > 100");
  EXPECT_EQ(*conditions.Read("archive", "orders"), "year(created) = 2001");
  EXPECT_EQ(*conditions.Read("shop", "customers"), "");
  EXPECT_EQ(Slurp(conditions.path()),
            "[shop]\r\norders=id > 100\r\ncustomers=\r\n[archive]\r\norders=year(created) = "
            "2001\r\n");
  // EnsureExists leaves an existing file alone.
  ASSERT_TRUE(conditions.EnsureExists().ok());
  EXPECT_EQ(*conditions.Read("shop", "orders"), "id > 100");
}

TEST_F(ConfigFiles, ConditionValuesStandAsTheyAre) {
  // A file written on Windows, with a condition that starts and ends with a
  // quote: it must come back whole, not with its outer quotes removed.
  ConditionFile conditions = ConditionFile::InFolder(dir_);
  WriteFile(conditions.path(),
            "[shop]\r\norders='A' = grade or name = 'B'\r\nlines = qty > 0 \r\n");
  EXPECT_EQ(*conditions.Read("shop", "orders"), "'A' = grade or name = 'B'");
  EXPECT_EQ(*conditions.Read("shop", "lines"), "qty > 0");
  ASSERT_TRUE(conditions.Write("shop", "LINES", "qty > 1").ok());
  EXPECT_EQ(Slurp(conditions.path()),
            "[shop]\r\norders='A' = grade or name = 'B'\r\nlines=qty > 1\r\n");
}

TEST_F(ConfigFiles, MultiLineConditionRefusedAndNothingLost) {
  ConditionFile conditions = ConditionFile::InFolder(dir_);
  ASSERT_TRUE(conditions.Write("shop", "orders", "id > 1").ok());
  Status st = conditions.Write("shop", "orders", "id > 2\r\nand x = 1");
  EXPECT_EQ(st.code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(*conditions.Read("shop", "orders"), "id > 1");
  // A table name the file cannot hold as a key gives an error, not a wrong key.
  EXPECT_FALSE(conditions.Write("shop", "a=b", "id > 1").ok());
}

TEST_F(ConfigFiles, MigratorConfigMissingFileIsAllOff) {
  auto config = LoadMigratorConfig(dir_ / "migrator.cfg");
  ASSERT_TRUE(config.ok());
  EXPECT_EQ(*config, MigratorConfig{});
}

TEST_F(ConfigFiles, MigratorConfigReadsAWindowsWrittenFile) {
  WriteFile(dir_ / "migrator.cfg",
            "[Public]\r\nConfig=true\r\nTips=false\r\nAutoBackup=TRUE\r\n"
            "[SourceDB]\r\nProvider=TCP/IP:Port\r\nSourceName=127.0.0.1:3306\r\nUserID=root\r\n"
            "PassWord=p;w =x\r\nCatalogName=Shop\r\n"
            "[targetdb]\r\nprovider = Microsoft Jet 4.0 OLE DB Provider\r\n"
            "SOURCENAME=C:\\data\\Shop.mdb\r\n");
  auto config = LoadMigratorConfig(dir_ / "migrator.cfg");
  ASSERT_TRUE(config.ok());
  EXPECT_TRUE(config->options.config);
  EXPECT_FALSE(config->options.tips);
  EXPECT_FALSE(config->options.auto_backup) << "the flag test is case-sensitive";
  EXPECT_EQ(config->source,
            (ConnectionSettings{"TCP/IP:Port", "127.0.0.1:3306", "root", "p;w =x", "Shop"}));
  EXPECT_EQ(config->target.provider, "Microsoft Jet 4.0 OLE DB Provider");
  EXPECT_EQ(config->target.source_name, "C:\\data\\Shop.mdb");
  EXPECT_EQ(config->target.user_id, "");
}

TEST_F(ConfigFiles, FlagIsASubstringTest) {
  EXPECT_TRUE(ProfileFlagIsSet("true"));
  EXPECT_TRUE(ProfileFlagIsSet("nottrue!"));
  EXPECT_FALSE(ProfileFlagIsSet("TRUE"));
  EXPECT_FALSE(ProfileFlagIsSet(""));
  EXPECT_FALSE(ProfileFlagIsSet("1"));
}

TEST_F(ConfigFiles, ConnectionSettingsIgnoredWhenConfigIsOff) {
  WriteFile(dir_ / "migrator.cfg",
            "[Public]\r\nConfig=false\r\nTips=true\r\n[SourceDB]\r\nUserID=root\r\n");
  auto config = LoadMigratorConfig(dir_ / "migrator.cfg");
  ASSERT_TRUE(config.ok());
  EXPECT_FALSE(config->options.config);
  EXPECT_TRUE(config->options.tips);
  EXPECT_EQ(config->source.user_id, "");
}

TEST_F(ConfigFiles, SaveWithConfigOnWritesEverythingAndRoundTrips) {
  MigratorConfig config;
  config.options = {true, true, false};
  config.source = {"TCP/IP:Port", "db.example:3307", "Velquin", "s3cr=t;x", "Shop"};
  config.target = {"Microsoft Jet 4.0 OLE DB Provider", "/data/Shop.mdb", "", "", ""};
  ASSERT_TRUE(SaveMigratorConfig(dir_ / "migrator.cfg", config).ok());
  EXPECT_EQ(Slurp(dir_ / "migrator.cfg"),
            "[Public]\r\nConfig=true\r\nTips=true\r\nAutoBackup=false\r\n"
            "[SourceDB]\r\nProvider=TCP/IP:Port\r\nSourceName=db.example:3307\r\n"
            "UserID=Velquin\r\nPassWord=s3cr=t;x\r\nCatalogName=Shop\r\n"
            "[TargetDB]\r\nProvider=Microsoft Jet 4.0 OLE DB Provider\r\n"
            "SourceName=/data/Shop.mdb\r\nUserID=\r\nPassWord=\r\nCatalogName=\r\n");
  auto back = LoadMigratorConfig(dir_ / "migrator.cfg");
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(*back, config);
}

TEST_F(ConfigFiles, SaveWithConfigOffWritesOnlyTheConfigFlag) {
  const std::string before =
      "[Public]\r\nConfig=true\r\nTips=true\r\nAutoBackup=true\r\n[SourceDB]\r\nUserID=u\r\n";
  WriteFile(dir_ / "migrator.cfg", before);
  MigratorConfig config;  // everything off
  ASSERT_TRUE(SaveMigratorConfig(dir_ / "migrator.cfg", config).ok());
  std::string expected = before;
  expected.replace(expected.find("Config=true"), 11, "Config=false");
  EXPECT_EQ(Slurp(dir_ / "migrator.cfg"), expected);
}

TEST_F(ConfigFiles, ConnectAlwaysWritesTipsAndAutoBackup) {
  WriteFile(dir_ / "migrator.cfg", "[Public]\r\nConfig=true\r\n[SourceDB]\r\nUserID=u\r\n");
  MigratorConfig config;
  config.options.auto_backup = true;
  ASSERT_TRUE(SaveMigratorConfigOnConnect(dir_ / "migrator.cfg", config).ok());
  EXPECT_EQ(
      Slurp(dir_ / "migrator.cfg"),
      "[Public]\r\nConfig=false\r\nTips=false\r\nAutoBackup=true\r\n[SourceDB]\r\nUserID=u\r\n");
}

TEST_F(ConfigFiles, PasswordWithTrailingBlankIsRefusedNotCut) {
  MigratorConfig config;
  config.options.config = true;
  config.source.password = "secret ";
  EXPECT_EQ(SaveMigratorConfig(dir_ / "migrator.cfg", config).code(), StatusCode::kInvalidArgument);
  EXPECT_FALSE(fs::exists(dir_ / "migrator.cfg"));
}

TEST_F(ConfigFiles, LongValuesAreNotCut) {
  MigratorConfig config;
  config.options.config = true;
  config.source.password = std::string(200, 'x');
  ASSERT_TRUE(SaveMigratorConfig(dir_ / "migrator.cfg", config).ok());
  EXPECT_EQ(LoadMigratorConfig(dir_ / "migrator.cfg")->source.password, std::string(200, 'x'));
}

}  // namespace
}  // namespace velquin
