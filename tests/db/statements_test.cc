// ExecuteStatement, RunSourceQuery, SelectDatabase and GetServerVersion
// against the private MariaDB: results and the lines they write.
#include "db/statements.h"

#include <gtest/gtest.h>

#include "db/sql_quote.h"
#include "mysql_test_support.h"

namespace velquin {
namespace {

using testing::TestDatabase;

class StatementsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto server = testing::MySqlFromEnv();
    if (!server || testing::MariaDbDriverLibrary().empty()) {
      GTEST_SKIP() << "VELQUIN_MYSQL_* not set or no MariaDB Connector/ODBC";
    }
    server_ = *server;
    db_ = TestDatabase::Create(*server, "vq_stmt");
    ASSERT_NE(db_, nullptr);
  }
  LineSink Sink() {
    return [this](const std::string& line) { lines_.push_back(line); };
  }
  Session* session() { return &db_->session(); }

  testing::MySqlServer server_;
  std::unique_ptr<TestDatabase> db_;
  std::vector<std::string> lines_;
};

TEST_F(StatementsTest, ExecuteStatementReportsOnlyWhenAsked) {
  EXPECT_TRUE(ExecuteStatement(session(), "CREATE TABLE a (x INT)", true, Sink()));
  EXPECT_EQ(lines_, std::vector<std::string>{"RESULT: The operation completed SUCCESSFULLY"});
  lines_.clear();
  EXPECT_TRUE(ExecuteStatement(session(), "CREATE TABLE b (x INT)", false, Sink()));
  EXPECT_TRUE(lines_.empty());
  // A select succeeds and writes no RESULT line.
  EXPECT_TRUE(ExecuteStatement(session(), "SELECT * FROM a", true, Sink()));
  EXPECT_TRUE(lines_.empty());
}

TEST_F(StatementsTest, FailingStatementWritesTheProviderTextOnlyWithReport) {
  EXPECT_FALSE(ExecuteStatement(session(), "DROP TABLE no_such_table", false, Sink()));
  EXPECT_TRUE(lines_.empty());
  EXPECT_FALSE(ExecuteStatement(session(), "DROP TABLE no_such_table", true, Sink()));
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0].rfind("T::", 0), 0u) << lines_[0];
  EXPECT_NE(lines_[0].find("no_such_table"), std::string::npos) << lines_[0];
}

TEST_F(StatementsTest, RunSourceQueryHandsEveryRowToTheHandler) {
  db_->Exec("CREATE TABLE t (a INT, b VARCHAR(10))");
  db_->Exec("INSERT INTO t VALUES (1, 'x'), (2, NULL), (3, 'z')");
  std::vector<std::string> seen;
  SourceQueryResult result = RunSourceQuery(
      session(), "SELECT a, b FROM t ORDER BY a",
      [&](const QueryCursor& row) {
        seen.push_back(row.Value(0) + "=" + (row.IsNull(1) ? "null" : row.Value(1)));
      },
      Sink());
  EXPECT_EQ(result.status, SourceQueryStatus::kRows);
  EXPECT_EQ(seen, (std::vector<std::string>{"1=x", "2=null", "3=z"}));
  EXPECT_TRUE(lines_.empty());
  // The text form: the handler's own result.
  std::string text = RunSourceQueryText(
      session(), "SELECT b FROM t WHERE a = 3",
      [](const QueryCursor& row, std::string& out) { out += row.Value(0); }, Sink());
  EXPECT_EQ(text, "z");
}

TEST_F(StatementsTest, RunSourceQueryFixedTexts) {
  // A statement without a rowset.
  SourceQueryResult no_rowset =
      RunSourceQuery(session(), "CREATE TABLE c (x INT)", nullptr, Sink());
  EXPECT_EQ(no_rowset.status, SourceQueryStatus::kNoRowset);
  EXPECT_EQ(no_rowset.text, "RESULT: The operation completed SUCCESSFULLY");
  EXPECT_EQ(lines_, std::vector<std::string>{"RESULT: The operation completed SUCCESSFULLY"});
  lines_.clear();
  // A name that needs back quotes, inserted without them: the query fails.
  db_->Exec("CREATE TABLE `my table` (x INT)");
  std::string text = RunSourceQueryText(
      session(), "SHOW CREATE TABLE my table",
      [](const QueryCursor&, std::string& out) { out = "unexpected"; }, Sink());
  EXPECT_EQ(text, "FALSE");
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_NE(lines_[0].find("SQL syntax"), std::string::npos) << lines_[0];
  // With the name quoted it works.
  lines_.clear();
  text = RunSourceQueryText(
      session(), "SHOW CREATE TABLE " + QuoteIdentifier("my table"),
      [](const QueryCursor& row, std::string& out) { out = row.Value(1); }, Sink());
  EXPECT_EQ(text.rfind("CREATE TABLE `my table`", 0), 0u) << text;
  EXPECT_TRUE(lines_.empty());
}

TEST_F(StatementsTest, GetServerVersionReadsVersionText) {
  std::string version = GetServerVersion(session(), Sink());
  ASSERT_FALSE(version.empty());
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(version[0]))) << version;
  EXPECT_NE(version.find('.'), std::string::npos) << version;
  EXPECT_TRUE(lines_.empty());
}

TEST_F(StatementsTest, SelectDatabaseStripsThePathAndQuotesTheName) {
  const std::string other = testing::UniqueName("vq sel`db");
  db_->Exec("CREATE DATABASE " + QuoteIdentifier(other));
  std::string stored;
  EXPECT_TRUE(SelectDatabase(session(), "C:\\data\\files\\" + other, Sink(), &stored));
  EXPECT_EQ(stored, other);
  EXPECT_EQ(*session()->CurrentCatalog(), other);
  EXPECT_TRUE(SelectDatabase(session(), "/srv/" + db_->name(), Sink(), &stored));
  EXPECT_EQ(*session()->CurrentCatalog(), db_->name());
  EXPECT_TRUE(SelectDatabase(session(), other, Sink(), &stored));
  EXPECT_EQ(*session()->CurrentCatalog(), other);
  db_->Exec("DROP DATABASE " + QuoteIdentifier(other));
  // A database that does not exist: false, nothing written, the name stored anyway.
  EXPECT_FALSE(SelectDatabase(session(), "dir/no such db", Sink(), &stored));
  EXPECT_EQ(stored, "no such db");
  EXPECT_TRUE(lines_.empty());
  std::vector<std::string> none;
  EXPECT_FALSE(SelectDatabase(nullptr, "x", [&](const std::string& l) { none.push_back(l); }));
  EXPECT_EQ(none, std::vector<std::string>{"E::No Connection!"});
}

}  // namespace
}  // namespace velquin
