// Connecting the source: connection strings, DSN and TCP/IP:Port connects,
// and the failures (wrong port, wrong password, server stopped mid-read).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "db/source_connection.h"
#include "db/sql_quote.h"
#include "db/statements.h"
#include "mysql_test_support.h"

namespace velquin {
namespace {

// A loopback port with nothing listening on it.
std::string FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t length = sizeof(addr);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  int port = ntohs(addr.sin_port);
  ::close(fd);
  return std::to_string(port);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// ---- Connection strings (no server needed) -------------------------------------------

class BuildSourcePropertiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    driver_file_ = testing::OdbcConfigDir() + "/fake-driver.so";
    std::FILE* f = std::fopen(driver_file_.c_str(), "w");
    std::fputs("x", f);
    std::fclose(f);
  }
  void TearDown() override { testing::RestoreDefaultOdbcConfig(); }

  // Registers `count` usable MariaDB-named drivers; returns their names.
  std::vector<std::string> RegisterDrivers(int count) {
    std::vector<std::string> names;
    std::string ini;
    for (int i = 0; i < count; ++i) {
      names.push_back("MariaDB " + testing::UniqueName("fake"));
      ini += "[" + names.back() + "]\nDriver=" + driver_file_ + "\n\n";
    }
    testing::WriteOdbcInstIni(ini);
    return names;
  }

  std::string driver_file_;
};

TEST_F(BuildSourcePropertiesTest, DataSourceNameForm) {
  ConnectionDescriptor d;
  d.provider_display_name = "MySQL ODBC";
  d.source_name = "shop dsn";
  d.user_id = "reader";
  d.password = "pa;ss";
  d.catalog = "shop";
  auto p = BuildSourceProperties(d);
  ASSERT_TRUE(p.ok());
  EXPECT_FALSE(p->tcp_ip);
  EXPECT_EQ(p->connection_string,
            "DSN={shop dsn};UID=reader;PWD={pa;ss};DATABASE=shop;CHARSET=utf8mb4;");
}

TEST_F(BuildSourcePropertiesTest, DataSourceKeepsItsStoredUserAndPasswordWhenNoneIsGiven) {
  ConnectionDescriptor d;
  d.source_name = "shop dsn";
  d.catalog = "shop";
  auto p = BuildSourceProperties(d);
  ASSERT_TRUE(p.ok());
  // An empty UID or PWD would override the ones stored with the data source.
  EXPECT_EQ(p->connection_string, "DSN={shop dsn};DATABASE=shop;CHARSET=utf8mb4;");
  d.user_id = "reader";
  EXPECT_EQ(BuildSourceProperties(d)->connection_string,
            "DSN={shop dsn};UID=reader;DATABASE=shop;CHARSET=utf8mb4;");
}

TEST_F(BuildSourcePropertiesTest, ServerAndPortSplitAtTheFirstColon) {
  auto names = RegisterDrivers(1);
  struct Case {
    const char* source_name;
    const char* server_port;
  } cases[] = {
      {"db.example:3307", "SERVER=db.example;PORT=3307;"},
      {"db.example", "SERVER=db.example;PORT=3306;"},
      {"db.example:33:06", "SERVER=db.example;PORT=33:06;"},
      {"[::1]:3307", "SERVER=::1;PORT=3307;"},
      {"[fe80::2]", "SERVER=fe80::2;PORT=3306;"},
  };
  for (const auto& c : cases) {
    ConnectionDescriptor d;
    d.provider_display_name = "tcp/ip:port";  // compared without regard to case
    d.source_name = c.source_name;
    d.user_id = "velquin";
    d.password = "pw";
    auto p = BuildSourceProperties(d, [](const std::string&) { return Status::Ok(); });
    ASSERT_TRUE(p.ok()) << p.status().ToString();
    EXPECT_TRUE(p->tcp_ip);
    // The given user, not root; no DATABASE without a catalog.
    EXPECT_EQ(p->connection_string,
              "DRIVER={" + names[0] + "};" + c.server_port + "UID=velquin;PWD=pw;CHARSET=utf8mb4;")
        << c.source_name;
  }
}

TEST_F(BuildSourcePropertiesTest, TriesDriversInOrderUntilOneOpens) {
  auto names = RegisterDrivers(3);
  ConnectionDescriptor d;
  d.provider_display_name = "TCP/IP:Port";
  d.source_name = "h:1";
  d.catalog = "db";
  int calls = 0;
  auto p = BuildSourceProperties(d, [&](const std::string&) {
    return ++calls == 2 ? Status::Ok() : Status::IOError("refused");
  });
  ASSERT_TRUE(p.ok());
  ASSERT_EQ(p->attempts.size(), 2u);
  EXPECT_TRUE(Contains(p->attempts[0], "{" + names[0] + "}"));
  EXPECT_TRUE(Contains(p->attempts[1], "{" + names[1] + "}"));
  EXPECT_EQ(p->connection_string, p->attempts[1]);
  EXPECT_TRUE(Contains(p->connection_string, "DATABASE=db;"));
  EXPECT_FALSE(p->attempt_results[0].ok());
  EXPECT_TRUE(p->attempt_results[1].ok());

  // All three fail: the third string is still the one handed back.
  p = BuildSourceProperties(d, [](const std::string&) { return Status::IOError("refused"); });
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p->attempts.size(), 3u);
  EXPECT_EQ(p->connection_string, p->attempts[2]);
}

TEST_F(BuildSourcePropertiesTest, RunningOutOfDriversFails) {
  RegisterDrivers(1);
  ConnectionDescriptor d;
  d.provider_display_name = "TCP/IP:Port";
  d.source_name = "h";
  auto p = BuildSourceProperties(d, [](const std::string&) { return Status::IOError("refused"); });
  ASSERT_FALSE(p.ok());
  EXPECT_EQ(p.status().message(), "No appropriate Config, Please correct!!!");
  testing::WriteOdbcInstIni("");
  p = BuildSourceProperties(d, [](const std::string&) { return Status::Ok(); });
  EXPECT_FALSE(p.ok());
}

// ---- Against the private server ------------------------------------------------------

class ConnectSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto server = testing::MySqlFromEnv();
    if (!server || testing::MariaDbDriverLibrary().empty()) {
      GTEST_SKIP() << "VELQUIN_MYSQL_* not set or no MariaDB Connector/ODBC";
    }
    server_ = *server;
    testing::RestoreDefaultOdbcConfig();
    db_ = testing::TestDatabase::Create(server_, "vq_connect");
    ASSERT_NE(db_, nullptr);
  }
  void TearDown() override { testing::RestoreDefaultOdbcConfig(); }

  ConnectionDescriptor TcpDescriptor(const std::string& port) {
    ConnectionDescriptor d;
    d.provider_prog_id = "MSDASQL";
    d.provider_display_name = "TCP/IP:Port";
    d.source_name = server_.host + ":" + port;
    d.user_id = server_.user;
    d.password = server_.password;
    d.catalog = db_->name();
    return d;
  }
  LineSink Sink() {
    return [this](const std::string& line) { lines_.push_back(line); };
  }

  testing::MySqlServer server_;
  std::unique_ptr<testing::TestDatabase> db_;
  std::vector<std::string> lines_;
};

TEST_F(ConnectSourceTest, ConnectsByServerAndPort) {
  ConnectionDescriptor d = TcpDescriptor(server_.port);
  SourceConnectResult r = ConnectSource(d, Sink());
  ASSERT_NE(r.session, nullptr) << r.status.ToString();
  EXPECT_EQ(lines_, (std::vector<std::string>{"Connect Source Database!",
                                              "RESULT: The operation completed SUCCESSFULLY"}));
  EXPECT_EQ(r.dbms_name.rfind("MariaDB[", 0), 0u) << r.dbms_name;
  EXPECT_EQ(r.dbms_name.back(), ']');
  EXPECT_EQ(d.dbms_name, r.dbms_name);
  EXPECT_EQ(*r.session->CurrentCatalog(), db_->name());
  // The session is the given user's, not root's.
  auto user = r.session->OpenQuery("SELECT CURRENT_USER()");
  ASSERT_TRUE(user.ok());
  ASSERT_TRUE(*(*user)->MoveNext());
  EXPECT_EQ((*user)->Value(0).rfind(server_.user + "@", 0), 0u) << (*user)->Value(0);
}

TEST_F(ConnectSourceTest, ConnectsByDataSourceName) {
  const std::string dsn = "velquin test " + testing::UniqueName("dsn");
  testing::WriteOdbcIni("[" + dsn + "]\nDriver=" + testing::kTestDriverName + "\nServer=" +
                        server_.host + "\nPort=" + server_.port + "\nCHARSET=latin1\n");
  ConnectionDescriptor d;
  d.provider_display_name = "MySQL ODBC 3.51 Driver";
  d.source_name = dsn;
  d.user_id = server_.user;
  d.password = server_.password;
  d.catalog = db_->name();
  SourceConnectResult r = ConnectSource(d, Sink());
  ASSERT_NE(r.session, nullptr) << r.status.ToString();
  EXPECT_EQ(*r.session->CurrentCatalog(), db_->name());
  auto name = r.session->DataSourceName();
  ASSERT_TRUE(name.ok());
  EXPECT_EQ(*name, dsn);
  // The data source says latin1; text still arrives as UTF-8, whole.
  auto text = r.session->OpenQuery("SELECT CONVERT(X'C3A9E697A5F09F9880' USING utf8mb4)");
  ASSERT_TRUE(text.ok());
  ASSERT_TRUE(*(*text)->MoveNext());
  EXPECT_EQ((*text)->Value(0), "\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80");
}

TEST_F(ConnectSourceTest, PasswordWithSeparatorsCannotAddAttributes) {
  const std::string user = testing::UniqueName("vq_user");
  const std::string password = "a;b}c{d=e";
  // Both loopback host names: the server's anonymous users would shadow '%'.
  const std::string accounts = db_->session().QuoteString(user) + "@'localhost', " +
                               db_->session().QuoteString(user) + "@'127.0.0.1'";
  db_->Exec("CREATE USER " + db_->session().QuoteString(user) + "@'localhost' IDENTIFIED BY " +
            db_->session().QuoteString(password) + ", " + db_->session().QuoteString(user) +
            "@'127.0.0.1' IDENTIFIED BY " + db_->session().QuoteString(password));
  db_->Exec("GRANT SELECT ON " + QuoteIdentifier(db_->name()) + ".* TO " + accounts);
  ConnectionDescriptor d = TcpDescriptor(server_.port);
  d.user_id = user;
  d.password = password;
  SourceConnectResult r = ConnectSource(d, Sink());
  EXPECT_NE(r.session, nullptr) << r.status.ToString();
  db_->Exec("DROP USER " + accounts);
}

TEST_F(ConnectSourceTest, WrongPortGivesTheConnectionMessages) {
  ConnectionDescriptor d = TcpDescriptor(FreePort());
  SourceConnectResult r = ConnectSource(d, Sink());
  EXPECT_EQ(r.session, nullptr);
  EXPECT_EQ(r.help_text,
            "Source Connection error! Please comfirm source database connection properties !");
  EXPECT_EQ(r.message_box, "Source Connection error!");
  EXPECT_FALSE(r.status.ok());
  EXPECT_TRUE(lines_.empty());
  // The trial's own description says why.
  auto p = BuildSourceProperties(d);
  ASSERT_TRUE(p.ok() || p.status().message() == "No appropriate Config, Please correct!!!");
  auto direct = OdbcSession::Connect(testing::DriverConnectionString(server_, "", FreePort()));
  ASSERT_FALSE(direct.ok());
  EXPECT_TRUE(Contains(direct.status().message(), "connect")) << direct.status().message();
}

TEST_F(ConnectSourceTest, WrongPasswordGivesTheConnectionMessages) {
  ConnectionDescriptor d = TcpDescriptor(server_.port);
  d.password = "not the password";
  SourceConnectResult r = ConnectSource(d, Sink());
  EXPECT_EQ(r.session, nullptr);
  EXPECT_EQ(r.message_box, "Source Connection error!");
  EXPECT_EQ(r.help_text,
            "Source Connection error! Please comfirm source database connection properties !");
  // By DSN form the real open's own error is kept.
  d.provider_display_name = "";
  const std::string dsn = "velquin pw " + testing::UniqueName("dsn");
  testing::WriteOdbcIni("[" + dsn + "]\nDriver=" + testing::kTestDriverName +
                        "\nServer=" + server_.host + "\nPort=" + server_.port + "\n");
  d.source_name = dsn;
  r = ConnectSource(d, Sink());
  EXPECT_EQ(r.session, nullptr);
  EXPECT_TRUE(Contains(r.status.message(), "Access denied")) << r.status.message();
  EXPECT_TRUE(lines_.empty());
}

// ---- A server stopped while it is being read ----------------------------------------

class StoppedServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::MySqlFromEnv() || testing::MariaDbDriverLibrary().empty()) {
      GTEST_SKIP() << "VELQUIN_MYSQL_* not set or no MariaDB Connector/ODBC";
    }
    testing::RestoreDefaultOdbcConfig();
    port_ = FreePort();
    dir_ = testing::OdbcConfigDir() + "/second-server";
    std::string out = Script("start");
    started_ = Contains(out, "VELQUIN_MYSQL_PORT=" + port_);
    ASSERT_TRUE(started_) << out;
    server_ = *testing::MySqlFromEnv();
    server_.port = port_;
  }
  void TearDown() override {
    if (started_) Script("stop");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string Script(const std::string& command) {
    // TMPDIR too: a starting server clears "#sql*" files from its tmpdir.
    std::string line = "TMPDIR='" + dir_ + "' VELQUIN_MYSQL_DIR='" + dir_ +
                       "' VELQUIN_MYSQL_PORT=" + port_ + " '" + std::string(VELQUIN_SOURCE_DIR) +
                       "/scripts/mariadb-private' " + command + " 2>&1";
    std::string out;
    if (std::FILE* pipe = ::popen(line.c_str(), "r")) {
      char buffer[512];
      while (std::fgets(buffer, sizeof(buffer), pipe)) out += buffer;
      ::pclose(pipe);
    }
    return out;
  }

  std::string port_;
  std::string dir_;
  bool started_ = false;
  testing::MySqlServer server_;
};

TEST_F(StoppedServerTest, ReadsAndStatementsFailCleanlyAfterTheServerStops) {
  auto session = OdbcSession::Connect(testing::DriverConnectionString(server_));
  ASSERT_TRUE(session.ok()) << session.status().ToString();
  OdbcSession& s = **session;
  ASSERT_TRUE(s.Execute("CREATE DATABASE stop_test").ok());
  ASSERT_TRUE(s.Execute("CREATE TABLE stop_test.t (id INT PRIMARY KEY, v VARCHAR(20))").ok());
  ASSERT_TRUE(s.Execute("INSERT INTO stop_test.t SELECT seq, CONCAT('row ', seq) "
                        "FROM stop_test.seq_1_to_1000")
                  .ok());
  TableReadOptions options;
  options.database = "stop_test";
  options.table = "t";
  options.chunk_rows = 100;
  auto reader = s.OpenTableReader(options);
  ASSERT_TRUE(reader.ok()) << reader.status().ToString();
  int rows = 0;
  for (; rows < 150; ++rows) ASSERT_TRUE(*(*reader)->MoveNext());

  Script("stop");
  started_ = false;

  // The walk ends with an error, never as if the table had ended.
  Result<bool> next = true;
  while (next.ok() && *next && rows < 1000) {
    next = (*reader)->MoveNext();
    if (next.ok() && *next) ++rows;
  }
  EXPECT_FALSE(next.ok()) << "read " << rows << " rows";
  EXPECT_LT(rows, 1000);
  EXPECT_FALSE(next.status().message().empty());

  std::vector<std::string> lines;
  LineSink sink = [&](const std::string& l) { lines.push_back(l); };
  EXPECT_EQ(GetServerVersion(&s, sink), "FALSE");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_FALSE(lines[0].empty());
  lines.clear();
  EXPECT_FALSE(ExecuteStatement(&s, "DROP DATABASE stop_test", true, sink));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("T::", 0), 0u);
}

}  // namespace
}  // namespace velquin
