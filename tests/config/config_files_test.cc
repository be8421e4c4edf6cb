#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "config/condition_file.h"
#include "config/migrator_config.h"
#include "config/odbc_sources.h"

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

TEST_F(ConfigFiles, ConditionMustStayInsideItsStatement) {
  struct Case {
    const char* condition;
    bool ok;
  };
  const Case cases[] = {
      {"", true},
      {"id > 100 and name <> 'a;b'", true},
      {"note = 'it''s; fine'", true},
      {"note = \"x\\\"; y\"", false},
      {"`odd;name` = 1", true},
      {"1--1 = 2", true},
      {"1; DROP TABLE x", false},
      {"id = 1;", false},
      {"name = 'open", false},
      {"id = 1 -- rest", false},
      {"id = 1 # rest", false},
      {"id = 1 /* rest", false},
      {"note = 'it\\'s'", false},  // without backslash escapes the string ends early
      // One string with backslash escapes, a statement after it without.
      {"note = 'a\\'; DROP TABLE x; -- '", false},
      {"note = 'a\\\\'; DROP TABLE x", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckCondition(c.condition).ok(), c.ok) << c.condition;
  }
  // Neither stored by Save nor taken from a file written by hand.
  ConditionFile conditions = ConditionFile::InFolder(dir_);
  EXPECT_FALSE(conditions.Write("shop", "orders", "1; DROP TABLE x").ok());
  WriteFile(conditions.path(), "[shop]\r\norders=1; DROP TABLE x\r\n");
  EXPECT_FALSE(conditions.Read("shop", "orders").ok());
}

TEST_F(ConfigFiles, MigratorConfigIsPrivateToItsOwner) {
  const fs::path file = dir_ / "migrator.cfg";
  MigratorConfig config;
  config.options.config = true;
  config.source.password = "secret";
  ASSERT_TRUE(SaveMigratorConfig(file, config).ok());
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(file, fs::perms::all);
  ASSERT_TRUE(SaveMigratorConfigOnConnect(file, config).ok());
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

// unixODBC's files, pointed at this test's folder.
class OdbcFiles : public ConfigFiles {
 protected:
  void SetUp() override {
    ConfigFiles::SetUp();
    fs::create_directories(dir_ / "sys");
    fs::create_directories(dir_ / "home");
    Set("ODBCSYSINI", (dir_ / "sys").string());
    Set("ODBCINI", (dir_ / "home" / "odbc.ini").string());
    Set("HOME", (dir_ / "home").string());
    Set("ODBCINSTINI", "");
  }
  void TearDown() override {
    for (auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
    ConfigFiles::TearDown();
  }
  void Set(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value.empty()) {
      unsetenv(name.c_str());
    } else {
      setenv(name.c_str(), value.c_str(), 1);
    }
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(OdbcFiles, DataSourcesOfMySqlDriversFromUserAndSystemFiles) {
  const fs::path lib = dir_ / "libmaodbc.so";
  WriteFile(lib, "x");
  WriteFile(dir_ / "sys" / "odbcinst.ini",
            "[MariaDB Unicode]\nDriver=" + lib.string() + "\n[PostgreSQL]\nDriver=psqlodbcw.so\n");
  WriteFile(dir_ / "home" / "odbc.ini",
            "[ODBC Data Sources]\nshop=MariaDB\n[shop]\nDriver=MariaDB Unicode\n"
            "[pg]\nDriver=PostgreSQL\n");
  WriteFile(dir_ / "sys" / "odbc.ini",
            "[legacy]\nDriver=/usr/lib/libmyodbc5w.so\n[shop]\nDriver=MariaDB Unicode\n");
  EXPECT_EQ(MySqlDataSources(), (std::vector<std::string>{"shop", "legacy"}));
}

TEST_F(OdbcFiles, DriverRowsSayWhatIsUsable) {
  const fs::path driver = dir_ / "libmaodbc.so";
  WriteFile(driver, "x");
  WriteFile(dir_ / "sys" / "odbcinst.ini",
            "[MariaDB Unicode]\nDriver=" + driver.string() + "\n[MySQL ODBC 8.0]\nDriver=" +
                driver.string() + "\nSetup=" + (dir_ / "missing.so").string() +
                "\n[MySQL ODBC dir]\nDriver=" + dir_.string() +
                "\n[SQLite3]\nDriver=" + (dir_ / "libsqlite3odbc.so").string() + "\n");
  std::vector<DriverRow> rows = MySqlDriverRows();
  if (rows.front().usable != "Usable") GTEST_SKIP() << "no unixODBC driver manager here";
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[1].Text(), "MariaDB Unicode|Installed|Usable|");
  EXPECT_EQ(rows[2].Text(), "MySQL ODBC 8.0|Installed|Unusable|");  // its Setup file is missing
  EXPECT_EQ(rows[3].Text(), "MySQL ODBC dir|Installed|Unusable|");  // a folder is no driver
  EXPECT_EQ(TcpIpRow(rows).Text(), "TCP/IP:Port|N/A|Usable|");

  fs::remove(dir_ / "sys" / "odbcinst.ini");
  rows = MySqlDriverRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].Text(), "MySQL ODBC Driver|Not installed|Unusable|");
  EXPECT_EQ(TcpIpRow(rows).Text(), "TCP/IP:Port|N/A|Unusable|");
}

TEST_F(OdbcFiles, InstallRegistersBundledDriverOrSaysWhereOneComesFrom) {
  const fs::path odbcinst = dir_ / "home" / ".odbcinst.ini";
  Status none = InstallBundledDriver(dir_ / "MyODBC3.51", dir_ / "lib", odbcinst);
  EXPECT_EQ(none.code(), StatusCode::kNotFound);
  EXPECT_NE(none.message().find("odbc-mariadb"), std::string::npos);
  EXPECT_FALSE(fs::exists(odbcinst));

  fs::create_directories(dir_ / "MyODBC3.51");
  WriteFile(dir_ / "MyODBC3.51" / "libmyodbc3.so", "driver");
  WriteFile(dir_ / "MyODBC3.51" / "libmyodbc3S.so", "setup");
  fs::create_directories(dir_ / "lib");
  WriteFile(dir_ / "lib" / "libmyodbc3.so", "kept");
  ASSERT_TRUE(InstallBundledDriver(dir_ / "MyODBC3.51", dir_ / "lib", odbcinst).ok());
  ASSERT_TRUE(InstallBundledDriver(dir_ / "MyODBC3.51", dir_ / "lib", odbcinst).ok());
  EXPECT_EQ(Slurp(dir_ / "lib" / "libmyodbc3.so"), "kept");  // never overwritten
  EXPECT_EQ(Slurp(dir_ / "lib" / "libmyodbc3S.so"), "setup");
  const std::string ini = Slurp(odbcinst);
  EXPECT_NE(ini.find("[MySQL ODBC 3.51 Driver]"), std::string::npos);
  EXPECT_NE(ini.find("Driver=" + (dir_ / "lib" / "libmyodbc3.so").string()), std::string::npos);
  EXPECT_NE(ini.find("Setup=" + (dir_ / "lib" / "libmyodbc3S.so").string()), std::string::npos);
  EXPECT_NE(ini.find("UsageCount=2"), std::string::npos);
  EXPECT_NE(ini.find("MySQL ODBC 3.51 Driver=Installed"), std::string::npos);
}

}  // namespace
}  // namespace velquin
