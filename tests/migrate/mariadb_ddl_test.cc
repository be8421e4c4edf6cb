// The DDL rewrite and key builders against real SHOW CREATE TABLE / SHOW
// INDEX / INFORMATION_SCHEMA output of the private MariaDB server, read with
// the `mariadb` command-line client. Skipped when VELQUIN_MYSQL_* is unset.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "db/sql_quote.h"
#include "migrate/key_sql.h"
#include "migrate/table_ddl.h"

namespace velquin {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

// One database per test process: ctest runs the cases of this file as
// separate processes, possibly at the same time.
const std::string kDatabase = "velquin ddl test " + std::to_string(getpid());

// Undoes the client's batch-mode escapes; "NULL" is NULL.
SourceValue Unescape(const std::string& field) {
  if (field == "NULL") return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 1 < field.size()) {
      char e = field[++i];
      out += e == 'n' ? '\n' : e == 't' ? '\t' : e == '0' ? '\0' : e;
    } else {
      out += field[i];
    }
  }
  return out;
}

class MariaDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* host = std::getenv("VELQUIN_MYSQL_HOST");
    const char* port = std::getenv("VELQUIN_MYSQL_PORT");
    const char* user = std::getenv("VELQUIN_MYSQL_USER");
    const char* password = std::getenv("VELQUIN_MYSQL_PASSWORD");
    if (!host || !port || !user || !password) return;
    setenv("MYSQL_PWD", password, 1);
    client_ = std::string("mariadb --no-defaults --default-character-set=utf8mb4 -N -B -h ") +
              host + " -P " + port + " -u " + user;
    std::string script =
        ReadFile(fs::path(VELQUIN_SOURCE_DIR) / "tests/migrate/data/every_type.sql");
    for (auto at = script.find("`velquin ddl test`"); at != std::string::npos;
         at = script.find("`velquin ddl test`", at + 1)) {
      script.replace(at, 18, QuoteIdentifier(kDatabase));
    }
    std::string out;
    loaded_ = Run(script, out);
    if (!loaded_) load_error_ = out;
  }

  static void TearDownTestSuite() {
    std::string out;
    if (!client_.empty()) Run("DROP DATABASE IF EXISTS " + QuoteIdentifier(kDatabase) + ";", out);
  }

  void SetUp() override {
    if (client_.empty()) GTEST_SKIP() << "VELQUIN_MYSQL_* not set: no private MariaDB";
    ASSERT_TRUE(loaded_) << load_error_;
  }

  static std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Runs SQL through the client; true on success, the output in `out`.
  static bool Run(const std::string& sql, std::string& out) {
    fs::path file = fs::path(VELQUIN_BINARY_DIR) / "test-tmp" /
                    ("mariadb_ddl_test." + std::to_string(getpid()) + ".sql");
    fs::create_directories(file.parent_path());
    {
      std::ofstream f(file, std::ios::binary);
      f << sql;
    }
    std::string command = client_ + " < '" + file.string() + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    char buffer[4096];
    std::size_t n;
    out.clear();
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    return pclose(pipe) == 0;
  }

  static SourceRows Query(const std::string& sql) {
    std::string out;
    bool ok = Run("USE " + QuoteIdentifier(kDatabase) + ";\n" + sql + ";\n", out);
    EXPECT_TRUE(ok) << sql << "\n" << out;
    SourceRows rows;
    std::size_t start = 0;
    while (ok && start < out.size()) {
      std::size_t end = out.find('\n', start);
      if (end == std::string::npos) end = out.size();
      std::string line = out.substr(start, end - start);
      SourceRow row;
      std::size_t f = 0;
      while (true) {
        std::size_t tab = line.find('\t', f);
        row.push_back(Unescape(line.substr(f, tab == std::string::npos ? tab : tab - f)));
        if (tab == std::string::npos) break;
        f = tab + 1;
      }
      rows.push_back(std::move(row));
      start = end + 1;
    }
    return rows;
  }

  static std::string ShowCreate(const std::string& table) {
    SourceRows rows = Query(ShowCreateTableQuery(kDatabase, table));
    if (rows.size() != 1 || rows[0].size() != 2 || !rows[0][1]) return "";
    return *rows[0][1];
  }

  // Converts a table with the facts its columns need, queried from the server.
  static Result<TableDdl> ConvertWithFacts(const std::string& table,
                                           const TableDdlInput& base = {}) {
    std::string text = ShowCreate(table);
    VELQUIN_ASSIGN_OR_RETURN(auto columns, ParseCreateTableColumns(text));
    TableDdlInput input = base;
    std::string facts_query = BuildColumnFactsQuery(kDatabase, table, columns);
    if (!facts_query.empty()) {
      VELQUIN_ASSIGN_OR_RETURN(input.facts, ReadColumnFacts(columns, Query(facts_query)));
    }
    return ConvertTableDdl(text, input);
  }

  static inline std::string client_;
  static inline bool loaded_ = false;
  static inline std::string load_error_;
};

TEST_F(MariaDb, EveryTypeBecomesTheDocumentedAccessType) {
  auto ddl = ConvertWithFacts("Every Type");
  ASSERT_TRUE(ddl.ok()) << ddl.status().ToString();
  const std::map<std::string, std::string> expected = {
      {"id", "COUNTER"},  // int unsigned, values 1..2
      {"Key Id", "LONG"},
      {"monkey", "varchar(20)"},
      {"unsigned_total", "LONG"},  // bigint unsigned zerofill, only NULLs
      {"b_small", "LONG"},         // bigint, -1
      {"b_big", "DECIMAL(19,0)"},  // bigint holding 9000000000
      {"u_big", "DECIMAL(10,0)"},  // int unsigned holding 4294967295
      {"t1", "SHORT"},
      {"t2", "SHORT"},
      {"s1", "SHORT"},
      {"s2", "LONG"},
      {"m1", "LONG"},
      {"m2", "LONG"},
      {"d1", "DECIMAL(10,2)"},
      {"d2", "VARCHAR(67)"},  // decimal(65,30): scale beyond 28
      {"d3", "DECIMAL(28,28)"},
      {"d4", "DECIMAL(10,0)"},
      {"f1", "SINGLE"},
      {"f2", "SINGLE"},
      {"f3", "DOUBLE"},
      {"f4", "DOUBLE"},
      {"f5", "DOUBLE"},
      {"bt1", "BIT"},
      {"bt_null", "BYTE"},   // a NULL is present
      {"bt_nonull", "BIT"},  // nullable, but no NULL present
      {"bt3", "SHORT"},
      {"bt4", "LONG"},  // bit(64), only NULLs
      {"dt", "DATETIME"},
      {"tm", "DATETIME"},
      {"tm2", "DATETIME"},
      {"dtm", "DATETIME"},
      {"ts", "DATETIME"},
      {"yr", "SHORT"},
      {"c1", "VARCHAR(10)"},
      {"c2", "VARCHAR(1)"},
      {"v1", "varchar(255)"},
      {"v2", "LONGTEXT"},
      {"bn", "binary(16)"},
      {"vb", "varbinary(255)"},
      {"vb2", "LONGBINARY"},
      {"tt", "VARCHAR(255)"},
      {"tx", "MEMO"},
      {"mt", "MEMO"},
      {"lt", "MEMO"},
      {"tb", "VARBINARY(255)"},
      {"bb", "LONGBINARY"},
      {"mb", "LONGBINARY"},
      {"lb", "LONGBINARY"},
      {"e1", "VARCHAR(4)"},
      {"st", "VARCHAR(5)"},
      {"j", "MEMO"},
      {"g", "LONGBINARY"},
      {"pt", "LONGBINARY"},
      {"ls", "LONGBINARY"},
      {"pg", "LONGBINARY"},
      {"mp", "LONGBINARY"},
      {"ml", "LONGBINARY"},
      {"mpg", "LONGBINARY"},
      {"gc", "LONGBINARY"},
      {"u", "VARCHAR(36)"},
      {"i4", "VARCHAR(15)"},
      {"i6", "VARCHAR(39)"},
      {"gen", "LONG"},
      {"gen2", "varchar(20)"},
      {"inv", "LONG"},
      {"chk", "LONG"},
      {"Select", "varchar(5)"},
      {"x.y", "LONG"},
      {"ts2", "DATETIME"},
  };
  ASSERT_EQ(ddl->columns.size(), expected.size()) << ddl->sql;
  for (const ColumnPlan& plan : ddl->columns) {
    auto it = expected.find(plan.name);
    ASSERT_NE(it, expected.end()) << "unexpected column " << plan.name;
    EXPECT_EQ(plan.access_type, it->second) << plan.name << " (" << plan.declared << ")";
    // Each column has its own line with its type right after its name.
    EXPECT_THAT(ddl->sql, HasSubstr("\n  `" + plan.name + "` " + plan.access_type)) << plan.name;
  }
  EXPECT_THAT(ddl->sql, ::testing::StartsWith("create table `Every Type` (\n"));
  EXPECT_THAT(ddl->sql, ::testing::EndsWith("\n)\n"));
  // Nothing MySQL-only is left outside names.
  std::string outside_names;
  bool in_name = false;
  for (char c : ddl->sql) {
    if (c == '`') in_name = !in_name;
    if (!in_name && c != '`') outside_names += c;
  }
  for (const char* word : {"default", "collate", "character", "comment", "check", "unsigned",
                           "zerofill", "auto_increment", "primary", "key", "generated", "invisible",
                           "engine", "current_timestamp"}) {
    EXPECT_THAT(outside_names, Not(HasSubstr(word))) << ddl->sql;
  }
  // NULL only as part of NOT NULL.
  auto count = [&](const std::string& what) {
    std::size_t n = 0;
    for (auto at = outside_names.find(what); at != std::string::npos;
         at = outside_names.find(what, at + 1)) {
      ++n;
    }
    return n;
  };
  EXPECT_EQ(count("null"), count("not null"));
  EXPECT_THAT(ddl->sql, HasSubstr("  `Select` varchar(5) not null ,\n"));
  EXPECT_THAT(ddl->sql, HasSubstr("  `id` COUNTER   not null ,\n"));
  EXPECT_THAT(ddl->sql, HasSubstr("  `ts2` DATETIME not null \n)\n"));
  // The data-decided choices are logged.
  std::string log;
  for (const std::string& line : ddl->log) log += line + "\n";
  EXPECT_THAT(log, HasSubstr("`b_big`"));
  EXPECT_THAT(log, HasSubstr("largest 9000000000"));
  EXPECT_THAT(log, HasSubstr("`bt_null`"));
}

TEST_F(MariaDb, ForeignKeyColumnsTakeTheParentsType) {
  auto parent = ConvertWithFacts("parent");
  ASSERT_TRUE(parent.ok()) << parent.status().ToString();
  EXPECT_EQ(parent->columns[0].access_type, "COUNTER");  // bigint unsigned holding 1..2

  std::string text = ShowCreate("child table");
  auto keys = ParseForeignKeys(text);
  ASSERT_TRUE(keys.ok());
  ASSERT_EQ(keys->size(), 2u);
  TableDdlInput input;
  for (const ForeignKeyDecl& fk : *keys) {
    if (fk.referenced_table != "parent") continue;
    for (std::size_t i = 0; i < fk.columns.size(); ++i) {
      for (const ColumnPlan& p : parent->columns) {
        if (p.name == fk.referenced_columns[i]) input.referenced[fk.columns[i]] = p;
      }
    }
  }
  auto child = ConvertWithFacts("child table", input);
  ASSERT_TRUE(child.ok()) << child.status().ToString();
  EXPECT_THAT(child->sql, HasSubstr("  `parent id` LONG   not null,\n"))
      << "bigint unsigned referencing an AutoNumber becomes LONG";
}

TEST_F(MariaDb, KeysOfTheRealCatalogue) {
  SourceRows index_rows = Query(ShowIndexQuery(kDatabase, "Every Type"));
  auto pk = BuildPrimaryKeySql("Every Type", index_rows);
  ASSERT_TRUE(pk.ok()) << pk.status().ToString();
  EXPECT_EQ(pk->Text(), "ALTER TABLE `Every Type` add PRIMARY KEY (`id`)\n");

  auto indexes = BuildIndexSql("Every Type", index_rows);
  ASSERT_TRUE(indexes.ok()) << indexes.status().ToString();
  EXPECT_THAT(indexes->statements,
              ElementsAre("CREATE UNIQUE INDEX `Key Id` ON `Every Type` (`Key Id`)",
                          "CREATE UNIQUE INDEX `uq2` ON `Every Type` (`monkey`, `t1`)",
                          "CREATE INDEX `idx_desc` ON `Every Type` (`s1` DESC, `s2`)",
                          "CREATE INDEX `pfx` ON `Every Type` (`tx`)"));
  ASSERT_EQ(indexes->notes.size(), 3u);

  SourceRows child_rows = Query(ShowIndexQuery(kDatabase, "child table"));
  auto child_indexes = BuildIndexSql("child table", child_rows);
  ASSERT_TRUE(child_indexes.ok());
  // `code` is named like a key column of parent and customer_id like a
  // column: both are built (the historical query dropped them).
  EXPECT_THAT(child_indexes->statements,
              ElementsAre("CREATE INDEX `code` ON `child table` (`parent code`)",
                          "CREATE INDEX `customer_id` ON `child table` (`customer_id`)",
                          "CREATE INDEX `fk parent` ON `child table` (`parent id`, `parent code`)",
                          "CREATE INDEX `fk_self` ON `child table` (`up`)"));

  auto parent_pk = BuildPrimaryKeySql("parent", Query(ShowIndexQuery(kDatabase, "parent")));
  ASSERT_TRUE(parent_pk.ok());
  EXPECT_EQ(parent_pk->Text(), "ALTER TABLE `parent` add PRIMARY KEY (`id`, `code`)\n");

  auto fks = BuildForeignKeySql(
      kDatabase, "child table",
      Query(ForeignKeyQuery(kDatabase, "child table",
                            [](std::string_view t) { return QuoteMySqlString(t); })));
  ASSERT_TRUE(fks.ok()) << fks.status().ToString();
  EXPECT_THAT(fks->statements,
              ElementsAre("Alter Table `child table` ADD CONSTRAINT `fk parent` FOREIGN KEY "
                          "(`parent id`, `parent code`)\n REFERENCES `parent`(`id`, `code`) ON "
                          "UPDATE CASCADE ON DELETE CASCADE",
                          "Alter Table `child table` ADD CONSTRAINT `fk_self` FOREIGN KEY "
                          "(`up`)\n REFERENCES `child table`(`child id`) ON DELETE SET NULL"));
  EXPECT_TRUE(fks->notes.empty());
}

}  // namespace
}  // namespace velquin
