// One source session shared by two threads (the worker and the user
// interface do this): the session serialises its calls itself. Built with
// ThreadSanitizer as well (label tsan).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "db/odbc_session.h"
#include "mysql_test_support.h"

namespace velquin {
namespace {

class SessionThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto server = testing::MySqlFromEnv();
    if (!server || testing::MariaDbDriverLibrary().empty()) {
      GTEST_SKIP() << "VELQUIN_MYSQL_* not set or no MariaDB Connector/ODBC";
    }
    db_ = testing::TestDatabase::Create(*server, "vq_threads");
    ASSERT_NE(db_, nullptr);
    db_->Exec("CREATE TABLE n (id INT PRIMARY KEY, v VARCHAR(10))");
    db_->Exec("INSERT INTO n SELECT seq, CONCAT('v', seq) FROM seq_1_to_300");
  }
  std::unique_ptr<testing::TestDatabase> db_;
};

// Counts the rows of a cursor; -1 on an error.
int CountRows(Result<std::unique_ptr<QueryCursor>> cursor) {
  if (!cursor.ok()) return -1;
  int rows = 0;
  for (;;) {
    auto next = (*cursor)->MoveNext();
    if (!next.ok()) return -1;
    if (!*next) return rows;
    ++rows;
  }
}

TEST_F(SessionThreadsTest, QueriesStatementsAndRowsetsFromTwoThreads) {
  OdbcSession& s = db_->session();
  std::atomic<int> failures{0};
  auto reader = [&] {
    for (int i = 0; i < 30; ++i) {
      if (CountRows(s.OpenQuery("SELECT * FROM n")) != 300) ++failures;
      TableReadOptions options;
      options.table = "n";
      options.chunk_rows = 64;
      if (CountRows(s.OpenTableReader(options)) != 300) ++failures;
    }
  };
  auto writer = [&] {
    for (int i = 0; i < 30; ++i) {
      if (!s.Execute("CREATE TABLE IF NOT EXISTS scratch (a INT)").ok()) ++failures;
      if (!s.Execute("DROP TABLE scratch").ok()) ++failures;
      if (CountRows(
              s.OpenSchemaRowset(SchemaRowset::kColumns, {std::nullopt, std::nullopt, "n"})) != 2) {
        ++failures;
      }
    }
  };
  std::thread a(reader), b(writer);
  a.join();
  b.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST_F(SessionThreadsTest, CursorOutlivesItsSession) {
  auto server = *testing::MySqlFromEnv();
  auto session = OdbcSession::Connect(testing::DriverConnectionString(server, db_->name()));
  ASSERT_TRUE(session.ok());
  auto cursor = (*session)->OpenQuery("SELECT id FROM n ORDER BY id");
  ASSERT_TRUE(cursor.ok());
  std::thread([&] { session->reset(); }).join();
  EXPECT_EQ(CountRows(std::move(cursor)), 300);
}

}  // namespace
}  // namespace velquin
