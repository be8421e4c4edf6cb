// The mdb exec / mdb query commands: statements from the argument and from
// standard input, tab-separated rows with escapes, failures with exit status 1
// and nothing of the failing statement written.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "jet/database.h"

namespace {

namespace fs = std::filesystem;

struct CliRun {
  int status = -1;
  std::string out;
};

CliRun Velquin(const std::string& args, const std::string& stdin_text = "") {
  std::string cmd = std::string("'") + VELQUIN_EXE + "' " + args + " 2>&1";
  if (!stdin_text.empty()) {
    const std::string in =
        fs::temp_directory_path() / ("velquin_cli_in_" + std::to_string(::getpid()));
    FILE* f = std::fopen(in.c_str(), "wb");
    std::fwrite(stdin_text.data(), 1, stdin_text.size(), f);
    std::fclose(f);
    cmd += " < '" + in + "'";
  }
  CliRun r;
  FILE* p = ::popen(cmd.c_str(), "r");
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

TEST(MdbSqlCli, ExecAndQueryRoundTrip) {
  const std::string path =
      (fs::temp_directory_path() / ("velquin_cli_" + std::to_string(::getpid()) + ".mdb")).string();
  fs::remove(path);
  CliRun created = Velquin("mdb exec --create '" + path +
                           "' \"CREATE TABLE t (id LONG PRIMARY KEY, s TEXT(20)); "
                           "INSERT INTO t VALUES (1, 'a;b'); INSERT INTO t (id) VALUES (2)\"");
  ASSERT_EQ(created.status, 0) << created.out;
  // Statements from standard input; a tab and a backslash inside a value.
  CliRun piped = Velquin("mdb exec '" + path + "'", "INSERT INTO t VALUES (3, 'x\ty\\z');\n");
  ASSERT_EQ(piped.status, 0) << piped.out;
  CliRun q =
      Velquin("mdb query '" + path + "' \"SELECT id, s FROM t ORDER BY id\" --header --null NULL");
  ASSERT_EQ(q.status, 0) << q.out;
  EXPECT_EQ(q.out, "id\ts\n1\ta;b\n2\tNULL\n3\tx\\ty\\\\z\n");

  // A failing statement stops the script with status 1; earlier ones stay.
  CliRun dup = Velquin("mdb exec '" + path +
                       "' \"INSERT INTO t VALUES (4, 'd'); INSERT INTO t VALUES (1, 'again')\"");
  EXPECT_EQ(dup.status, 1);
  EXPECT_NE(dup.out.find("statement 2: The changes you requested"), std::string::npos) << dup.out;
  CliRun count =
      Velquin("mdb query '" + path + "' \"SELECT id FROM t WHERE s = 'again' OR id = 4\"");
  EXPECT_EQ(count.out, "4\n");
  // A union view is stored and dropped; a UNION runs, its repeated rows dropped.
  CliRun view = Velquin("mdb exec '" + path +
                        "' \"CREATE VIEW u AS SELECT id FROM t UNION ALL SELECT id FROM t\"");
  EXPECT_EQ(view.status, 0) << view.out;
  CliRun union_query =
      Velquin("mdb query '" + path + "' \"SELECT id FROM t UNION SELECT id FROM t\"");
  EXPECT_EQ(union_query.status, 0) << union_query.out;
  EXPECT_EQ(union_query.out, "1\n2\n3\n4\n");
  EXPECT_EQ(Velquin("mdb exec '" + path + "' \"DROP VIEW u\"").status, 0);
  // query runs only a SELECT, and leaves the file as it was.
  CliRun refused = Velquin("mdb query '" + path + "' \"DROP TABLE t\"");
  EXPECT_EQ(refused.status, 1);
  auto db = velquin::jet::Database::Open(path);
  ASSERT_TRUE(db.ok());
  EXPECT_TRUE((*db)->GetTable("t").ok());
  // A file that is not there is an error, not a new file, without --create.
  CliRun missing = Velquin("mdb exec '" + path + ".none' \"SELECT 1\"");
  EXPECT_EQ(missing.status, 1);
  EXPECT_FALSE(fs::exists(path + ".none"));
}

TEST(MdbSqlCli, ExecDeletesRows) {
  const std::string path =
      (fs::temp_directory_path() / ("velquin_cli_del_" + std::to_string(::getpid()) + ".mdb"))
          .string();
  fs::remove(path);
  CliRun created = Velquin("mdb exec --create '" + path +
                           "' \"CREATE TABLE t (id LONG PRIMARY KEY, s MEMO); "
                           "INSERT INTO t VALUES (1, 'a'); INSERT INTO t VALUES (2, 'b'); "
                           "INSERT INTO t VALUES (3, 'c')\"");
  ASSERT_EQ(created.status, 0) << created.out;
  CliRun del = Velquin("mdb exec '" + path + "' \"DELETE * FROM t WHERE id >= 2 AND s <> 'c'\"");
  EXPECT_EQ(del.status, 0) << del.out;
  CliRun q = Velquin("mdb query '" + path + "' \"SELECT id, s FROM t ORDER BY id\"");
  EXPECT_EQ(q.out, "1\ta\n3\tc\n");
  // mdb query runs only a SELECT: a DELETE there changes nothing.
  CliRun refused = Velquin("mdb query '" + path + "' \"DELETE FROM t\"");
  EXPECT_EQ(refused.status, 1);
  CliRun missing = Velquin("mdb exec '" + path + "' \"DELETE FROM nowhere\"");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("cannot find the input table or query 'nowhere'"), std::string::npos)
      << missing.out;
  CliRun all = Velquin("mdb exec '" + path + "' \"DELETE FROM t\"");
  EXPECT_EQ(all.status, 0) << all.out;
  auto db = velquin::jet::Database::Open(path);
  ASSERT_TRUE(db.ok());
  auto info = (*db)->GetTable("t");
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info->row_count, 0u);
}

}  // namespace
