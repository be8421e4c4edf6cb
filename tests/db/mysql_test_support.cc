#include "mysql_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "db/source_connection.h"
#include "db/sql_quote.h"

namespace velquin::testing {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << contents;
}

// Runs before main: unixODBC reads ODBCSYSINI once per process.
std::string SetUpOdbcConfig() {
  std::string base = Env("TMPDIR").empty() ? "/tmp" : Env("TMPDIR");
  std::string dir = base + "/velquin-odbc-" + std::to_string(::getpid());
  std::filesystem::create_directories(dir);
  ::setenv("ODBCSYSINI", dir.c_str(), 1);
  ::setenv("ODBCINSTINI", "odbcinst.ini", 1);
  std::string user_ini = dir + "/user-odbc.ini";
  ::setenv("ODBCINI", user_ini.c_str(), 1);
  WriteFile(user_ini, "");
  return dir;
}

const std::string kConfigDir = SetUpOdbcConfig();
const bool kDefaultsWritten = (RestoreDefaultOdbcConfig(), true);

struct DirRemover {
  ~DirRemover() {
    std::error_code ignored;
    std::filesystem::remove_all(kConfigDir, ignored);
  }
} remover;

}  // namespace

std::optional<MySqlServer> MySqlFromEnv() {
  MySqlServer server{Env("VELQUIN_MYSQL_HOST"), Env("VELQUIN_MYSQL_PORT"),
                     Env("VELQUIN_MYSQL_SOCKET"), Env("VELQUIN_MYSQL_USER"),
                     Env("VELQUIN_MYSQL_PASSWORD")};
  if (server.host.empty() || server.port.empty() || server.user.empty()) return std::nullopt;
  return server;
}

const std::string& OdbcConfigDir() { return kConfigDir; }

std::string MariaDbDriverLibrary() {
#ifdef VELQUIN_MARIADB_ODBC_LIBDIR
  std::string path = std::string(VELQUIN_MARIADB_ODBC_LIBDIR) + "/libmaodbc.so";
  if (std::filesystem::is_regular_file(path)) return std::filesystem::canonical(path).string();
#endif
  return ResolveDriverFile("libmaodbc.so");
}

void WriteOdbcInstIni(const std::string& contents) {
  WriteFile(kConfigDir + "/odbcinst.ini", contents);
}

void WriteOdbcIni(const std::string& contents) { WriteFile(kConfigDir + "/odbc.ini", contents); }

void RestoreDefaultOdbcConfig() {
  std::string library = MariaDbDriverLibrary();
  WriteOdbcInstIni(library.empty() ? std::string()
                                   : std::string("[") + kTestDriverName + "]\nDriver=" + library +
                                         "\nThreading=0\n");
  WriteOdbcIni("");
}

std::string DriverConnectionString(const MySqlServer& server, std::string_view database,
                                   std::string_view port_override) {
  std::string s = std::string("DRIVER={") + kTestDriverName + "};SERVER=" + server.host +
                  ";PORT=" + std::string(port_override.empty() ? server.port : port_override) +
                  ";UID=" + QuoteConnectionValue(server.user) +
                  ";PWD=" + QuoteConnectionValue(server.password) + ";";
  if (!database.empty()) s += "DATABASE=" + QuoteConnectionValue(database) + ";";
  return s + "CHARSET=utf8mb4;";
}

std::string UniqueName(std::string_view prefix) {
  static std::atomic<int> counter{0};
  return std::string(prefix) + "_" + std::to_string(::getpid()) + "_" +
         std::to_string(counter.fetch_add(1));
}

std::unique_ptr<TestDatabase> TestDatabase::Create(const MySqlServer& server,
                                                   std::string_view prefix) {
  auto db = std::unique_ptr<TestDatabase>(new TestDatabase());
  db->name_ = UniqueName(prefix);
  auto admin = OdbcSession::Connect(DriverConnectionString(server));
  EXPECT_TRUE(admin.ok()) << admin.status().ToString();
  if (!admin.ok()) return nullptr;
  auto created =
      (*admin)->Execute("CREATE DATABASE " + QuoteIdentifier(db->name_) + " CHARACTER SET utf8mb4");
  EXPECT_TRUE(created.ok()) << created.status().ToString();
  auto session = OdbcSession::Connect(DriverConnectionString(server, db->name_));
  EXPECT_TRUE(session.ok()) << session.status().ToString();
  if (!session.ok()) return nullptr;
  db->session_ = std::move(*session);
  return db;
}

TestDatabase::~TestDatabase() {
  if (session_) {
    (void)session_->Execute("DROP DATABASE IF EXISTS " + QuoteIdentifier(name_));
  }
}

void TestDatabase::Exec(std::string_view sql) {
  auto result = session_->Execute(sql);
  ASSERT_TRUE(result.ok()) << sql << "\n" << result.status().ToString();
}

}  // namespace velquin::testing
