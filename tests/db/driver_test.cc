// FindMySqlOdbcDriver and the driver and data source lists, over
// odbcinst.ini / odbc.ini files written by the test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "db/source_connection.h"
#include "mysql_test_support.h"

namespace velquin {
namespace {

using testing::OdbcConfigDir;

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size()) {
    text.replace(pos, from.size(), to);
  }
  return text;
}

struct DriverCase {
  const char* description;
  const char* odbcinst;  // '#' is replaced by a suffix unique to the case
  int n;
  const char* expected;  // '#' likewise; "" = no driver
};

// {OK} names an existing file, {MISSING} a path that does not exist, {DIR} a folder.
const DriverCase kCases[] = {
    {"MariaDB driver without a Setup entry counts when its Driver file exists",
     "[MariaDB Unicode#]\nDriver={OK}\n", 1, "MariaDB Unicode#"},
    {"MySQL ODBC driver with Driver and Setup files",
     "[MySQL ODBC 8.0 Unicode Driver#]\nDriver={OK}\nSetup={OK}\n", 1,
     "MySQL ODBC 8.0 Unicode Driver#"},
    {"Setup entry whose file is missing makes the driver unusable",
     "[MySQL ODBC 5.3 Driver#]\nDriver={OK}\nSetup={MISSING}\n", 1, ""},
    {"Driver file missing", "[MariaDB#]\nDriver={MISSING}\n", 1, ""},
    {"Driver path that is a folder is not a file", "[MariaDB#]\nDriver={DIR}\n", 1, ""},
    {"first candidate unusable: n = 1 yields nothing although the second is usable",
     "[MySQL ODBC 3.51 Driver#]\nDriver={OK}\nSetup={MISSING}\n\n"
     "[MySQL ODBC 5.1 Driver#]\nDriver={OK}\nSetup={OK}\n",
     1, ""},
    {"second candidate asked for directly",
     "[MySQL ODBC 3.51 Driver#]\nDriver={OK}\nSetup={MISSING}\n\n"
     "[MySQL ODBC 5.1 Driver#]\nDriver={OK}\nSetup={OK}\n",
     2, "MySQL ODBC 5.1 Driver#"},
    {"other drivers are not candidates",
     "[PostgreSQL#]\nDriver={OK}\n\n[MDBTools#]\nDriver={OK}\n\n[MariaDB ODBC 3.1 Driver#]\n"
     "Driver={OK}\n",
     1, "MariaDB ODBC 3.1 Driver#"},
    {"names are matched case-sensitively", "[mysql odbc driver#]\nDriver={OK}\n", 1, ""},
    {"n beyond the candidates", "[MariaDB#]\nDriver={OK}\n", 2, ""},
    {"n = 0 is no driver", "[MariaDB#]\nDriver={OK}\n", 0, ""},
    {"keys compared without regard to case",
     "[MySQL ODBC 8.0 ANSI Driver#]\nDRIVER={OK}\nsetup={MISSING}\n", 1, ""},
    {"environment references in paths are expanded",
     "[MariaDB#]\nDriver=%VQ_DRIVER_DIR%/driver.so\n", 1, "MariaDB#"},
    {"no drivers at all", "", 1, ""},
};

class FindMySqlOdbcDriverTest : public ::testing::TestWithParam<std::size_t> {
 protected:
  void SetUp() override {
    folder_ = OdbcConfigDir() + "/drivers";
    std::filesystem::create_directories(folder_ + "/folder.so");
    std::ofstream(folder_ + "/driver.so") << "not really a library";
    ::setenv("VQ_DRIVER_DIR", folder_.c_str(), 1);
  }
  void TearDown() override { testing::RestoreDefaultOdbcConfig(); }

  std::string folder_;
};

TEST_P(FindMySqlOdbcDriverTest, FindsTheNthUsableDriver) {
  const DriverCase& c = kCases[GetParam()];
  // unixODBC caches lookups per driver name for a while: names unique to the case.
  const std::string suffix = " " + testing::UniqueName("case");
  std::string ini = ReplaceAll(c.odbcinst, "#", suffix);
  ini = ReplaceAll(ini, "{OK}", folder_ + "/driver.so");
  ini = ReplaceAll(ini, "{MISSING}", folder_ + "/missing.so");
  ini = ReplaceAll(ini, "{DIR}", folder_ + "/folder.so");
  testing::WriteOdbcInstIni(ini);
  EXPECT_EQ(FindMySqlOdbcDriver(c.n), ReplaceAll(c.expected, "#", suffix)) << c.description;
}

INSTANTIATE_TEST_SUITE_P(Cases, FindMySqlOdbcDriverTest,
                         ::testing::Range<std::size_t>(0, std::size(kCases)));

TEST(FindMySqlOdbcDriverInstalledTest, BareLibraryNameResolvesLikeTheDriverManager) {
  if (testing::MariaDbDriverLibrary().empty()) GTEST_SKIP() << "no MariaDB Connector/ODBC";
  // Debian registers the driver by its bare file name.
  const std::string name = "MariaDB Unicode " + testing::UniqueName("bare");
  testing::WriteOdbcInstIni("[" + name + "]\nDriver=libmaodbc.so\nThreading=0\n");
  EXPECT_EQ(FindMySqlOdbcDriver(1), name);
  testing::RestoreDefaultOdbcConfig();
}

TEST(ListOdbcDriversTest, ListsSectionsInFileOrderWithAttributes) {
  const std::string a = "Zeta " + testing::UniqueName("drv");
  const std::string b = "Alpha " + testing::UniqueName("drv");
  testing::WriteOdbcInstIni("[" + a + "]\nDriver=/nowhere/a.so\nSetup=/nowhere/as.so\n\n[" + b +
                            "]\nDriver=/nowhere/b.so\n");
  std::vector<OdbcDriverEntry> drivers = ListOdbcDrivers();
  testing::RestoreDefaultOdbcConfig();
  ASSERT_EQ(drivers.size(), 2u);
  EXPECT_EQ(drivers[0].name, a);
  EXPECT_EQ(drivers[1].name, b);
  EXPECT_EQ(drivers[0].attributes["Driver"], "/nowhere/a.so");
  EXPECT_EQ(drivers[0].attributes["Setup"], "/nowhere/as.so");
  EXPECT_EQ(drivers[1].attributes.count("Setup"), 0u);
}

TEST(IsMySqlOdbcDriverNameTest, MatchesMySqlAndMariaDbDrivers) {
  EXPECT_TRUE(IsMySqlOdbcDriverName("MySQL ODBC 3.51 Driver"));
  EXPECT_TRUE(IsMySqlOdbcDriverName("MariaDB Unicode"));
  EXPECT_TRUE(IsMySqlOdbcDriverName("MariaDB ODBC 3.1 Driver"));
  EXPECT_FALSE(IsMySqlOdbcDriverName("MDBTools"));
  EXPECT_FALSE(IsMySqlOdbcDriverName("MySQL"));
  EXPECT_FALSE(IsMySqlOdbcDriverName("mariadb"));
}

}  // namespace
}  // namespace velquin
