// Runs the `statement`, `query` and `reopen` records of every .test file of
// this folder against a real database file, then checks every index of every
// user table against a full scan of its rows (the B-tree walked in key order
// must hold exactly one entry per row, keys as the rows give them).
// Independent readers (mdbtools, mdb-reader) look at a file the statements
// built.
#include "jet/sql/executor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <variant>

#include "../../support/index_check.h"
#include "jet/database.h"
#include "jet/sql/parser.h"
#include "jet/table/table.h"
#include "jet/table/table_indexes.h"
#include "sql_test_file.h"

namespace velquin::jet::sql {
namespace {

namespace fs = std::filesystem;
using sqltest::JoinLines;
using sqltest::SqlTestRecord;

std::string TempPath(const std::string& name) {
  auto dir = fs::temp_directory_path() / ("velquin_jet_exec_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  auto p = dir / name;
  fs::remove(p);
  return p.string();
}

std::string RunCommand(const std::string& cmd, int* status) {
  std::string out;
  FILE* f = ::popen(cmd.c_str(), "r");
  if (!f) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  *status = ::pclose(f);
  return out;
}

std::vector<std::string> TestFiles() {
  std::vector<std::string> files;
  const fs::path dir = fs::path(VELQUIN_SOURCE_DIR) / "tests" / "jet" / "sql";
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".test") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string RowsText(const ExecResult& r) {
  std::vector<std::string> lines;
  for (const auto& row : r.rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i) line += '\t';
      line += row[i].is_null() ? "NULL" : DisplayText(row[i]);
    }
    lines.push_back(line);
  }
  return JoinLines(lines);
}

class ExecutorFileTest : public testing::TestWithParam<std::string> {};

TEST_P(ExecutorFileTest, StatementsGiveTheExpectedResults) {
  auto records = sqltest::ReadSqlTestFile(GetParam());
  ASSERT_TRUE(records.ok()) << records.status().ToString();
  const std::string file = fs::path(GetParam()).filename().string();
  const std::string path = TempPath(file + ".mdb");
  auto db = Database::Create(path);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto ex = std::make_unique<Executor>(db->get());
  for (const SqlTestRecord& r : *records) {
    SCOPED_TRACE(file + ":" + std::to_string(r.line) + ": " + r.sql);
    if (r.kind == "reopen") {
      ex.reset();
      db->reset();
      db = Database::Open(path);
      ASSERT_TRUE(db.ok()) << db.status().ToString();
      ex = std::make_unique<Executor>(db->get());
      continue;
    }
    if (r.kind != "statement" && r.kind != "query") continue;  // the front end's driver runs them
    auto result = ex->Execute(r.sql);
    if (r.kind == "statement" && r.argument == "error") {
      ASSERT_FALSE(result.ok()) << "expected: " << JoinLines(r.expected);
      EXPECT_EQ(result.status().message(), JoinLines(r.expected));
      continue;
    }
    ASSERT_TRUE(result.ok()) << result.status().message();
    if (r.kind == "statement" && r.has_expected) {
      EXPECT_EQ(std::to_string(result->rows_affected), JoinLines(r.expected));
    }
    if (r.kind == "query") {
      EXPECT_TRUE(result->has_rows);
      EXPECT_EQ(RowsText(*result), JoinLines(r.expected));
    }
  }
  CheckIndexes(**db);
  // Everything the statements wrote survives closing the file.
  db->reset();
  auto again = Database::Open(path);
  ASSERT_TRUE(again.ok()) << again.status().ToString();
  CheckIndexes(**again);
}

INSTANTIATE_TEST_SUITE_P(Files, ExecutorFileTest, testing::ValuesIn(TestFiles()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string n = fs::path(info.param).stem().string();
                           for (char& c : n) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return n;
                         });

// A file built by statements, for the independent readers.
std::string BuildSampleFile() {
  std::string path = TempPath("readers.mdb");
  auto db = Database::Create(path);
  EXPECT_TRUE(db.ok());
  Executor ex(db->get());
  const char* script[] = {
      "CREATE TABLE customers (id LONG NOT NULL, name TEXT(50), CONSTRAINT pk_customers PRIMARY "
      "KEY (id))",
      "CREATE TABLE orders (id COUNTER, cust LONG, placed DATETIME, total CURRENCY, note MEMO)",
      "INSERT INTO customers VALUES (1, 'Zoë')",
      "INSERT INTO customers VALUES (2, 'O''Brien')",
      "INSERT INTO orders (cust, placed, total, note) VALUES (1, #2024-01-31 10:20:30#, 12.5, "
      "'first')",
      "INSERT INTO orders (cust, placed, total, note) VALUES (2, '2024-02-01', 7, NULL)",
      "ALTER TABLE orders ADD CONSTRAINT pk_orders PRIMARY KEY (id)",
      "CREATE INDEX ix_cust ON orders (cust DESC, placed)",
      "CREATE UNIQUE INDEX ux_name ON customers (name)",
      "ALTER TABLE orders ADD CONSTRAINT fk_cust FOREIGN KEY (cust) REFERENCES customers (id)",
      "CREATE VIEW v_orders AS SELECT o.id AS id, c.name AS name FROM orders o, customers c "
      "WHERE (o.cust = c.id)",
  };
  for (const char* s : script) {
    auto r = ex.Execute(s);
    EXPECT_TRUE(r.ok()) << s << ": " << r.status().message();
  }
  return path;
}

TEST(ExecutorReaders, MdbtoolsShowsKeysIndexesAndQueries) {
  int st = 0;
  RunCommand("command -v mdb-schema >/dev/null 2>&1", &st);
  if (st != 0) GTEST_SKIP() << "mdbtools is not installed";
  const std::string path = BuildSampleFile();
  // The mysql back end of mdb-schema prints the indexes and keys it reads.
  std::string schema = RunCommand("mdb-schema '" + path + "' mysql 2>&1", &st);
  ASSERT_EQ(st, 0) << schema;
  EXPECT_NE(schema.find("ALTER TABLE `customers` ADD PRIMARY KEY (`id`);"), std::string::npos)
      << schema;
  EXPECT_NE(schema.find("ALTER TABLE `orders` ADD PRIMARY KEY (`id`);"), std::string::npos)
      << schema;
  EXPECT_NE(schema.find("ALTER TABLE `orders` ADD INDEX `ix_cust` (`cust` DESC, `placed`);"),
            std::string::npos)
      << schema;
  EXPECT_NE(schema.find("ALTER TABLE `customers` ADD UNIQUE INDEX `ux_name` (`name`);"),
            std::string::npos)
      << schema;
  // Relationships are printed by the postgres back end.
  std::string rels = RunCommand("mdb-schema '" + path + "' postgres 2>&1", &st);
  EXPECT_NE(rels.find("ALTER TABLE \"orders\" ADD CONSTRAINT \"orders_cust_fk\" FOREIGN KEY "
                      "(\"cust\") REFERENCES \"customers\"(\"id\")"),
            std::string::npos)
      << rels;
  std::string list = RunCommand("mdb-queries -L '" + path + "' 2>&1", &st);
  EXPECT_NE(list.find("v_orders"), std::string::npos) << list;
  std::string q = RunCommand("mdb-queries '" + path + "' v_orders 2>&1", &st);
  EXPECT_NE(q.find("SELECT o.id,c.name FROM [orders],[customers] WHERE (o.cust = c.id)"),
            std::string::npos)
      << q;
  std::string rows = RunCommand("mdb-export '" + path + "' customers 2>&1", &st);
  EXPECT_NE(rows.find("O'Brien"), std::string::npos) << rows;
}

TEST(ExecutorReaders, MdbReaderReadsEveryTable) {
  const fs::path readers = fs::path(VELQUIN_SOURCE_DIR) / "tests" / "readers";
  int st = 0;
  RunCommand("command -v node >/dev/null 2>&1", &st);
  if (st != 0 || !fs::exists(readers / "node_modules" / "mdb-reader")) {
    GTEST_SKIP() << "node or mdb-reader is not installed (npm ci in tests/readers)";
  }
  const std::string path = BuildSampleFile();
  std::string out =
      RunCommand("node '" + (readers / "dump.js").string() + "' '" + path + "' 2>&1", &st);
  ASSERT_EQ(st, 0) << out;
  EXPECT_NE(out.find("Zo\xc3\xab"), std::string::npos) << out;
  EXPECT_NE(out.find("first"), std::string::npos) << out;
  EXPECT_NE(out.find("2024-01-31T10:20:30"), std::string::npos) << out;
}

}  // namespace
// Rows handed out one by one, and a sink that can stop the query.
class CollectingSink : public RowSink {
 public:
  Status Columns(const std::vector<ResultColumn>& columns) override {
    ++columns_calls;
    for (const auto& c : columns) {
      names.push_back(c.name);
      types.push_back(c.type);
    }
    return Status::Ok();
  }
  Status Row(std::vector<Value> row) override {
    if (stop_after && result.rows.size() == *stop_after) return Status::Cancelled("stopped");
    result.rows.push_back(std::move(row));
    return Status::Ok();
  }
  int columns_calls = 0;
  std::vector<std::string> names;
  std::vector<ColumnType> types;
  ExecResult result;
  std::optional<std::size_t> stop_after;
};

TEST(ExecutorStream, GivesTheRowsAndColumnsExecuteGives) {
  const std::string path = TempPath("stream.mdb");
  auto db = Database::Create(path);
  ASSERT_TRUE(db.ok()) << db.status().message();
  Executor ex(db->get());
  for (const char* sql :
       {"CREATE TABLE t (id LONG NOT NULL PRIMARY KEY, name TEXT(20), n LONG, note MEMO)",
        "CREATE TABLE u (id LONG NOT NULL PRIMARY KEY, t_id LONG, tag TEXT(5))",
        "INSERT INTO t VALUES (3, 'b', 30, 'x')", "INSERT INTO t VALUES (1, 'B', NULL, NULL)",
        "INSERT INTO t VALUES (2, NULL, 20, 'y')", "INSERT INTO t VALUES (4, 'a', 30, 'z')",
        "INSERT INTO u VALUES (1, 3, 'p')", "INSERT INTO u VALUES (2, 3, 'q')",
        "INSERT INTO u VALUES (3, 9, 'r')",
        "CREATE VIEW v AS SELECT name, n FROM t WHERE n IS NOT NULL",
        "CREATE VIEW tu AS SELECT t.name, u.tag AS tag FROM t INNER JOIN u ON t.id = u.t_id",
        "CREATE VIEW over_v AS SELECT * FROM v",
        "CREATE VIEW names AS SELECT name FROM t GROUP BY name",
        "CREATE VIEW counted AS SELECT n, COUNT(*) AS c FROM t GROUP BY n",
        // One statement in two pieces:
        // NOLINTNEXTLINE(bugprone-suspicious-missing-comma)
        "CREATE VIEW top_n AS SELECT n, MAX(name) AS m FROM t GROUP BY n HAVING COUNT(*) > 0 "
        "ORDER BY n DESC"}) {
    ASSERT_TRUE(ex.Execute(sql).ok()) << sql;
  }
  // Streamed as the table gives them, and run whole first: the same rows.
  for (const char* sql :
       {"SELECT * FROM t", "SELECT name, n * 2 AS twice FROM t WHERE n > 20 OR n IS NULL",
        "SELECT TOP 2 * FROM t", "SELECT note FROM t",
        "SELECT t.id, u.tag FROM t LEFT JOIN u ON t.id = u.t_id",
        "SELECT t.name, u.tag FROM t, u WHERE t.id = u.t_id", "SELECT * FROM v",
        "SELECT name, COUNT(*) FROM t GROUP BY name", "SELECT DISTINCT n FROM t",
        "SELECT COUNT(*) FROM t", "SELECT TOP 50 PERCENT id FROM t ORDER BY n DESC, id",
        "SELECT id FROM t UNION SELECT t_id FROM u", "SELECT * FROM t ORDER BY name",
        "SELECT * FROM tu", "SELECT * FROM over_v", "SELECT * FROM names", "SELECT * FROM counted",
        "SELECT * FROM top_n", "SELECT n, SUM(id) FROM t GROUP BY n HAVING SUM(id) > 2"}) {
    auto whole = ex.Execute(sql);
    ASSERT_TRUE(whole.ok()) << sql << ": " << whole.status().message();
    auto parsed = ParseStatement(sql);
    ASSERT_TRUE(parsed.ok()) << sql;
    CollectingSink sink;
    ASSERT_TRUE(ex.Stream(std::get<Select>(*parsed), &sink).ok()) << sql;
    EXPECT_EQ(sink.columns_calls, 1) << sql;
    EXPECT_EQ(RowsText(sink.result), RowsText(*whole)) << sql;
    std::vector<std::string> names;
    for (const auto& c : whole->columns) names.push_back(c.name);
    EXPECT_EQ(sink.names, names) << sql;
    // A saved query's columns keep their types, streamed or not.
    if (std::string_view(sql).starts_with("SELECT * FROM")) {
      std::vector<ColumnType> types;
      for (const auto& c : whole->columns) types.push_back(c.type);
      EXPECT_EQ(sink.types, types) << sql;
    }
  }
  // The sink's failure ends the query with it; a query that cannot run gives
  // its error and no rows.
  CollectingSink stopping;
  stopping.stop_after = 1;
  Status s = ex.Stream(std::get<Select>(*ParseStatement("SELECT * FROM t")), &stopping);
  EXPECT_EQ(s.code(), StatusCode::kCancelled) << s.message();
  EXPECT_EQ(stopping.result.rows.size(), 1u);
  CollectingSink none;
  s = ex.Stream(std::get<Select>(*ParseStatement("SELECT nosuch FROM t")), &none);
  EXPECT_FALSE(s.ok());
  EXPECT_TRUE(none.result.rows.empty());
  // A saved query streamed through another that reaches it again is refused.
  for (const char* sql : {"CREATE VIEW loop_b AS SELECT * FROM over_v", "DROP VIEW over_v",
                          "CREATE VIEW over_v AS SELECT * FROM loop_b"}) {
    ASSERT_TRUE(ex.Execute(sql).ok()) << sql;
  }
  CollectingSink circle;
  s = ex.Stream(std::get<Select>(*ParseStatement("SELECT * FROM loop_b")), &circle);
  EXPECT_EQ(s.message(), "Circular reference caused by 'loop_b'.");
}

// Over many index pages, walking the primary key forward and backward gives
// the rows sorting gives (an expression in the ORDER BY forces the sort).
TEST(ExecutorIndexOrder, WalkingTheKeyGivesTheSortedRowsAcrossPages) {
  const std::string path = TempPath("index_order.mdb");
  auto db = Database::Create(path);
  ASSERT_TRUE(db.ok()) << db.status().message();
  Executor ex(db->get());
  ASSERT_TRUE(ex.Execute("CREATE TABLE s (k LONG NOT NULL, d DATETIME NOT NULL, v LONG, "
                         "CONSTRAINT pk PRIMARY KEY (k, d))")
                  .ok());
  for (std::int32_t i = 0; i < 3000; ++i) {
    const std::int32_t k = (i * 7919) % 1000 - 500;  // scrambled, negative ones too
    const Value d = Value::Date(DateTime{static_cast<double>((i * 31) % 3) - 1.5});
    ASSERT_TRUE(ex.InsertRow("s", {Value::Long(k), d, Value::Long(i)}).ok()) << i;
  }
  for (const auto& [walked, sorted] : std::vector<std::pair<std::string, std::string>>{
           {"SELECT * FROM s ORDER BY k, d", "SELECT * FROM s ORDER BY k + 0, d"},
           {"SELECT * FROM s ORDER BY k DESC, d DESC",
            "SELECT * FROM s ORDER BY k + 0 DESC, d DESC"},
           {"SELECT TOP 7 v, k FROM s WHERE v > 100 ORDER BY k DESC, d DESC",
            "SELECT TOP 7 v, k FROM s WHERE v > 100 ORDER BY k + 0 DESC, d DESC"}}) {
    auto a = ex.Execute(walked);
    auto b = ex.Execute(sorted);
    ASSERT_TRUE(a.ok() && b.ok()) << walked;
    EXPECT_GT(a->rows.size(), 6u) << walked;
    EXPECT_EQ(RowsText(*a), RowsText(*b)) << walked;
  }
}

}  // namespace velquin::jet::sql
