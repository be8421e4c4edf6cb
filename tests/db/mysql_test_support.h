// Shared by the database tests: the private MariaDB's settings from the
// environment, a private ODBC configuration folder for this process, and
// test databases with unique names (so test processes can run in parallel).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "db/odbc_session.h"

namespace velquin::testing {

struct MySqlServer {
  std::string host;
  std::string port;
  std::string socket;
  std::string user;
  std::string password;
};

// The private server's settings (VELQUIN_MYSQL_*), or nothing when unset.
std::optional<MySqlServer> MySqlFromEnv();

// The folder this process uses as ODBCSYSINI (set before main runs, so the
// machine's own odbc.ini and odbcinst.ini are never read).
const std::string& OdbcConfigDir();

// The MariaDB Connector/ODBC library, or "" when it is not installed.
std::string MariaDbDriverLibrary();

// The name under which the default odbcinst.ini registers that library.
inline constexpr const char* kTestDriverName = "MariaDB Unicode";

// Writes odbcinst.ini / the system odbc.ini of OdbcConfigDir().
void WriteOdbcInstIni(const std::string& contents);
void WriteOdbcIni(const std::string& contents);
// Restores the default odbcinst.ini (the MariaDB driver only) and an empty odbc.ini.
void RestoreDefaultOdbcConfig();

// "DRIVER={MariaDB Unicode};SERVER=...;PORT=...;UID=...;PWD=...;[DATABASE=...;]CHARSET=utf8mb4;"
std::string DriverConnectionString(const MySqlServer& server, std::string_view database = "",
                                   std::string_view port_override = "");

// A name unique to this process and call: "<prefix>_<pid>_<counter>".
std::string UniqueName(std::string_view prefix);

// A database created for one test and dropped when the object goes.
class TestDatabase {
 public:
  // Creates the database and connects a session with it as the current one.
  static std::unique_ptr<TestDatabase> Create(const MySqlServer& server, std::string_view prefix);
  ~TestDatabase();

  const std::string& name() const { return name_; }
  OdbcSession& session() { return *session_; }
  // Runs a statement and fails the test when it does not succeed.
  void Exec(std::string_view sql);

 private:
  std::string name_;
  std::unique_ptr<OdbcSession> session_;
};

}  // namespace velquin::testing

// Skips the test when no private server is configured.
#define VELQUIN_REQUIRE_MYSQL(var)                                                     \
  auto var##_opt = ::velquin::testing::MySqlFromEnv();                                 \
  if (!var##_opt) GTEST_SKIP() << "VELQUIN_MYSQL_* not set (scripts/mariadb-private)"; \
  if (::velquin::testing::MariaDbDriverLibrary().empty())                              \
    GTEST_SKIP() << "MariaDB Connector/ODBC is not installed";                         \
  const ::velquin::testing::MySqlServer& var = *var##_opt
