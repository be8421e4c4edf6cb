// Chunked table reads: every row exactly once, in key order when there is a
// usable key, across chunk boundaries, with conditions and awkward keys.
#include <gtest/gtest.h>

#include <set>

#include "db/odbc_session.h"
#include "db/sql_quote.h"
#include "mysql_test_support.h"

namespace velquin {
namespace {

using testing::TestDatabase;

class TableReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto server = testing::MySqlFromEnv();
    if (!server || testing::MariaDbDriverLibrary().empty()) {
      GTEST_SKIP() << "VELQUIN_MYSQL_* not set or no MariaDB Connector/ODBC";
    }
    db_ = TestDatabase::Create(*server, "vq_reader");
    ASSERT_NE(db_, nullptr);
  }

  // Reads the whole table through OpenTableReader; each row as its columns
  // joined by '|' (null as "<null>"). Without a database named, the table is
  // read twice: in the current database (one connection) and by its
  // qualified name (the next chunk read ahead on a second connection); both
  // must give the same rows in the same order.
  std::vector<std::string> ReadTable(const std::string& table, std::size_t chunk_rows,
                                     TableReadMode* mode, const std::string& where = "",
                                     const std::string& database = "") {
    if (database.empty()) {
      TableReadMode ahead_mode = *mode;
      auto ahead = ReadOnce(table, chunk_rows, &ahead_mode, where, db_->name());
      auto plain = ReadOnce(table, chunk_rows, mode, where, "");
      EXPECT_EQ(ahead, plain) << table << ", chunks of " << chunk_rows;
      EXPECT_EQ(ahead_mode, *mode) << table;
      return plain;
    }
    return ReadOnce(table, chunk_rows, mode, where, database);
  }

  std::vector<std::string> ReadOnce(const std::string& table, std::size_t chunk_rows,
                                    TableReadMode* mode, const std::string& where,
                                    const std::string& database) {
    TableReadOptions options;
    options.database = database;
    options.table = table;
    options.where = where;
    options.chunk_rows = chunk_rows;
    std::vector<std::string> rows;
    auto cursor = db_->session().OpenTableReader(options, mode);
    EXPECT_TRUE(cursor.ok()) << cursor.status().ToString();
    if (!cursor.ok()) return rows;
    for (;;) {
      auto next = (*cursor)->MoveNext();
      EXPECT_TRUE(next.ok()) << next.status().ToString();
      if (!next.ok() || !*next) break;
      std::string row;
      for (std::size_t i = 0; i < (*cursor)->Columns().size(); ++i) {
        if (i) row += "|";
        row += (*cursor)->IsNull(i) ? "<null>" : (*cursor)->Value(i);
      }
      rows.push_back(row);
    }
    return rows;
  }

  std::unique_ptr<TestDatabase> db_;
};

// Chunks smaller and larger than the 1024-row rowsets the driver fills
// (the read ahead looks at a chunk's last row through its last rowset).
TEST_F(TableReaderTest, IntegerKeyAcrossChunkBoundaries) {
  db_->Exec("CREATE TABLE n (id INT PRIMARY KEY, v VARCHAR(10))");
  db_->Exec("INSERT INTO n SELECT seq, CONCAT('v', seq) FROM seq_1_to_3000");
  for (std::size_t chunk : {64u, 1000u, 1024u, 1025u, 2049u, 3000u, 3001u, 1u}) {
    TableReadMode mode = TableReadMode::kOffset;
    const int count = chunk == 1 ? 300 : 3000;  // one query a row: fewer
    auto rows = ReadTable("n", chunk, &mode, chunk == 1 ? "id <= 300" : "");
    EXPECT_EQ(mode, TableReadMode::kKeyset);
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(count)) << "chunk " << chunk;
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(rows[i], std::to_string(i + 1) + "|v" + std::to_string(i + 1)) << chunk;
    }
  }
}

TEST_F(TableReaderTest, CompositeTextKeyWithQuotesBackslashesAndUnicode) {
  db_->Exec("CREATE TABLE c (name VARCHAR(20) NOT NULL, n INT NOT NULL, PRIMARY KEY (name, n))");
  const char* names[] = {"a", "B", "it's", "back\\slash", "é", "日本", "😀", "Z", "q\"q", "`"};
  std::set<std::string> expected;
  for (const char* name : names) {
    for (int n = 1; n <= 3; ++n) {
      db_->Exec("INSERT INTO c VALUES (" + db_->session().QuoteString(name) + ", " +
                std::to_string(n) + ")");
      expected.insert(std::string(name) + "|" + std::to_string(n));
    }
  }
  for (std::size_t chunk : {1u, 2u, 3u, 7u, 100u}) {
    TableReadMode mode = TableReadMode::kOffset;
    auto rows = ReadTable("c", chunk, &mode);
    EXPECT_EQ(mode, TableReadMode::kKeyset);
    EXPECT_EQ(rows.size(), expected.size()) << "chunk " << chunk;
    EXPECT_EQ(std::set<std::string>(rows.begin(), rows.end()), expected) << "chunk " << chunk;
  }
}

TEST_F(TableReaderTest, BinaryKeyWithZeroBytes) {
  db_->Exec("CREATE TABLE b (k VARBINARY(8) PRIMARY KEY, v INT)");
  std::set<std::string> expected;
  for (int i = 0; i < 20; ++i) {
    std::string key("\0\0", 2);
    key.push_back(static_cast<char>(i * 13));
    key.append(static_cast<std::size_t>(i % 3), '\0');
    db_->Exec("INSERT INTO b VALUES (" + HexLiteral(key) + ", " + std::to_string(i) + ")");
    expected.insert(key + "|" + std::to_string(i));
  }
  TableReadMode mode = TableReadMode::kOffset;
  auto rows = ReadTable("b", 3, &mode);
  EXPECT_EQ(mode, TableReadMode::kKeyset);
  EXPECT_EQ(rows.size(), 20u);
  EXPECT_EQ(std::set<std::string>(rows.begin(), rows.end()), expected);
}

// Without a key every page costs the server a scan of the rows before it, so
// the first pages take their size from the server's average row length:
// never below the rows asked for, never above the cap. With a key the first
// page is the rows asked for; later pages of both grow to the budget.
TEST_F(TableReaderTest, PagesWithoutAKeyGrowToTheirByteBudget) {
  db_->Exec("CREATE TABLE nokey (id INT, v VARCHAR(100))");
  db_->Exec("INSERT INTO nokey SELECT seq, REPEAT('x', 50) FROM seq_1_to_3000");
  db_->Exec("CREATE TABLE keyed (id INT PRIMARY KEY, v VARCHAR(100))");
  db_->Exec("INSERT INTO keyed SELECT seq, REPEAT('x', 50) FROM seq_1_to_3000");
  db_->Exec("ANALYZE TABLE nokey, keyed");
  auto average = db_->session().OpenQuery(
      "SELECT AVG_ROW_LENGTH FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_SCHEMA = DATABASE() "
      "AND TABLE_NAME = 'nokey'");
  ASSERT_TRUE(average.ok());
  ASSERT_TRUE(*(*average)->MoveNext());
  const std::size_t row_bytes = std::stoul((*average)->Value(0));
  ASSERT_GT(row_bytes, 0u);
  struct Case {
    const char* table;
    std::size_t budget;
    std::size_t expected_rows;
  };
  for (const Case& c :
       {Case{"nokey", 0, 100}, Case{"nokey", 1, 100}, Case{"nokey", row_bytes * 700, 700},
        Case{"nokey", std::size_t{1} << 40, kMaxChunkRows}, Case{"keyed", row_bytes * 700, 100}}) {
    // Read ahead on a second connection (database named) and without.
    for (const std::string& database : {db_->name(), std::string()}) {
      SCOPED_TRACE(std::string(c.table) + " " + std::to_string(c.budget) + " in \"" + database +
                   "\"");
      TableReadOptions options;
      options.database = database;
      options.table = c.table;
      options.chunk_rows = 100;
      options.chunk_bytes = c.budget;
      std::size_t used = 0;
      auto cursor = db_->session().OpenTableReader(options, nullptr, &used);
      ASSERT_TRUE(cursor.ok()) << cursor.status().ToString();
      EXPECT_EQ(used, c.expected_rows);
      // Every row once and in the table's order, while later pages take the
      // size the rows read so far give them.
      std::vector<int> ids;
      for (;;) {
        auto next = (*cursor)->MoveNext();
        ASSERT_TRUE(next.ok()) << next.status().ToString();
        if (!*next) break;
        ids.push_back(std::stoi((*cursor)->Value(0)));
      }
      ASSERT_EQ(ids.size(), 3000u);
      for (int i = 0; i < 3000; ++i) ASSERT_EQ(ids[i], i + 1) << "row " << i;
    }
  }
}

TEST_F(TableReaderTest, KeyChoice) {
  struct Case {
    const char* ddl;
    TableReadMode mode;
    std::vector<std::string> key;
  } cases[] = {
      {"CREATE TABLE k1 (a INT, b INT)", TableReadMode::kOffset, {}},
      {"CREATE TABLE k2 (a INT, b INT, UNIQUE KEY (a))", TableReadMode::kOffset, {}},
      {"CREATE TABLE k3 (a INT, b INT NOT NULL, UNIQUE KEY u (b))", TableReadMode::kKeyset, {"b"}},
      {"CREATE TABLE k4 (f DOUBLE PRIMARY KEY)", TableReadMode::kOffset, {}},
      {"CREATE TABLE k5 (e ENUM('x','y') PRIMARY KEY)", TableReadMode::kOffset, {}},
      {"CREATE TABLE k6 (t VARCHAR(200) NOT NULL, UNIQUE KEY (t(10)))", TableReadMode::kOffset, {}},
      {"CREATE TABLE k7 (a INT NOT NULL, b DATE NOT NULL, c INT NOT NULL, PRIMARY KEY (b, a), "
       "UNIQUE KEY (c))",
       TableReadMode::kKeyset,
       {"b", "a"}},
  };
  int i = 0;
  for (const auto& c : cases) {
    db_->Exec(c.ddl);
    const std::string table = "k" + std::to_string(++i);
    auto key = db_->session().FindKeysetColumns("", table);
    ASSERT_TRUE(key.ok()) << key.status().ToString();
    EXPECT_EQ(*key, c.key) << c.ddl;
    TableReadMode mode =
        c.mode == TableReadMode::kKeyset ? TableReadMode::kOffset : TableReadMode::kKeyset;
    ReadTable(table, 10, &mode);
    EXPECT_EQ(mode, c.mode) << c.ddl;
  }
}

TEST_F(TableReaderTest, WithoutKeyEveryRowOnceIncludingDuplicates) {
  db_->Exec("CREATE TABLE d (a INT, b VARCHAR(5))");
  db_->Exec("INSERT INTO d SELECT seq % 7, 'x' FROM seq_1_to_250");
  TableReadMode mode = TableReadMode::kKeyset;
  auto rows = ReadTable("d", 16, &mode);
  EXPECT_EQ(mode, TableReadMode::kOffset);
  ASSERT_EQ(rows.size(), 250u);
  std::multiset<std::string> got(rows.begin(), rows.end());
  EXPECT_EQ(got.count("0|x"), 35u);  // 7, 14, ..., 245
  EXPECT_EQ(got.count("1|x"), 36u);  // 1, 8, ..., 246
}

TEST_F(TableReaderTest, ConditionAppliesToEveryChunk) {
  db_->Exec("CREATE TABLE w (id INT PRIMARY KEY, grp VARCHAR(5))");
  db_->Exec("INSERT INTO w SELECT seq, IF(seq % 3 = 0, 'yes', 'no') FROM seq_1_to_300");
  TableReadMode mode;
  auto rows = ReadTable("w", 7, &mode, "grp = 'yes' OR id = 1");
  ASSERT_EQ(rows.size(), 101u);
  EXPECT_EQ(rows.front(), "1|no");
  EXPECT_EQ(rows.back(), "300|yes");
  // A condition with OR keeps its meaning next to the key condition.
  for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_NE(rows[i].find("|yes"), std::string::npos);
}

TEST_F(TableReaderTest, AwkwardNamesOtherDatabaseAndEmptyTables) {
  const std::string other = testing::UniqueName("vq other.db`");
  db_->Exec("CREATE DATABASE " + QuoteIdentifier(other));
  const std::string table = "we.ird `t' \"x\"";
  db_->Exec("CREATE TABLE " + QuoteQualifiedName(other, table) +
            " (`key col` INT PRIMARY KEY, `select` VARCHAR(5))");
  db_->Exec("INSERT INTO " + QuoteQualifiedName(other, table) + " VALUES (1, 'a'), (2, NULL)");
  TableReadMode mode;
  auto rows = ReadTable(table, 1, &mode, "", other);
  EXPECT_EQ(mode, TableReadMode::kKeyset);
  EXPECT_EQ(rows, (std::vector<std::string>{"1|a", "2|<null>"}));

  db_->Exec("CREATE TABLE e (id INT PRIMARY KEY)");
  TableReadOptions options;
  options.table = "e";
  auto cursor = db_->session().OpenTableReader(options);
  ASSERT_TRUE(cursor.ok());
  EXPECT_EQ((*cursor)->Columns().size(), 1u);
  EXPECT_FALSE(*(*cursor)->MoveNext());
  db_->Exec("DROP DATABASE " + QuoteIdentifier(other));

  options.table = "no such table";
  EXPECT_FALSE(db_->session().OpenTableReader(options).ok());
}

}  // namespace
}  // namespace velquin
