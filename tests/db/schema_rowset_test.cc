// Catalogue rowsets of the MySQL source: tables, columns, indexes, catalogs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>

#include "db/odbc_session.h"
#include "db/sql_quote.h"
#include "mysql_test_support.h"

namespace velquin {
namespace {

using testing::TestDatabase;

// Rows of a schema rowset as maps from column name to value ("<null>" for null).
std::vector<std::map<std::string, std::string>> ReadRowset(Session& session, SchemaRowset kind,
                                                           const SchemaRestrictions& r) {
  std::vector<std::map<std::string, std::string>> rows;
  auto cursor = session.OpenSchemaRowset(kind, r);
  EXPECT_TRUE(cursor.ok()) << cursor.status().ToString();
  if (!cursor.ok()) return rows;
  const auto& columns = (*cursor)->Columns();
  const auto& expected = SchemaRowsetColumns(kind);
  EXPECT_EQ(columns.size(), expected.size());
  for (std::size_t i = 0; i < columns.size() && i < expected.size(); ++i) {
    EXPECT_EQ(columns[i].name, expected[i]);
  }
  for (;;) {
    auto next = (*cursor)->MoveNext();
    EXPECT_TRUE(next.ok());
    if (!next.ok() || !*next) break;
    std::map<std::string, std::string> row;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      row[columns[i].name] = (*cursor)->IsNull(i) ? "<null>" : (*cursor)->Value(i);
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<std::string> Column(const std::vector<std::map<std::string, std::string>>& rows,
                                const std::string& name) {
  std::vector<std::string> out;
  out.reserve(rows.size());
  for (const auto& row : rows) out.push_back(row.at(name));
  return out;
}

class SchemaRowsetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto server = testing::MySqlFromEnv();
    if (!server || testing::MariaDbDriverLibrary().empty()) {
      GTEST_SKIP() << "VELQUIN_MYSQL_* not set or no MariaDB Connector/ODBC";
    }
    db_ = TestDatabase::Create(*server, "vq_schema");
    ASSERT_NE(db_, nullptr);
    db_->Exec(
        "CREATE TABLE orders (id INT UNSIGNED NOT NULL AUTO_INCREMENT, "
        "customer VARCHAR(40) NOT NULL, total DECIMAL(10,2) DEFAULT 0, note TEXT, "
        "PRIMARY KEY (id), UNIQUE KEY by_customer (customer, total), KEY note_key (note(10)))");
    db_->Exec("CREATE TABLE `it's a ``table``` (x INT) COMMENT 'quoted'");
    db_->Exec("CREATE VIEW big_orders AS SELECT id, total FROM orders WHERE total > 100");
  }
  std::unique_ptr<TestDatabase> db_;
};

TEST_F(SchemaRowsetTest, TablesByTypeInTheCurrentDatabase) {
  auto tables = ReadRowset(db_->session(), SchemaRowset::kTables,
                           {std::nullopt, std::nullopt, std::nullopt, "TABLE"});
  EXPECT_EQ(Column(tables, "TABLE_NAME"), (std::vector<std::string>{"it's a `table`", "orders"}));
  EXPECT_EQ(Column(tables, "TABLE_TYPE"), (std::vector<std::string>{"TABLE", "TABLE"}));
  EXPECT_EQ(tables[0].at("TABLE_CATALOG"), db_->name());
  EXPECT_EQ(tables[0].at("DESCRIPTION"), "quoted");
  auto views = ReadRowset(db_->session(), SchemaRowset::kTables,
                          {db_->name(), std::nullopt, std::nullopt, "VIEW"});
  EXPECT_EQ(Column(views, "TABLE_NAME"), (std::vector<std::string>{"big_orders"}));
  auto one = ReadRowset(db_->session(), SchemaRowset::kTables,
                        {std::nullopt, std::nullopt, "it's a `table`"});
  ASSERT_EQ(one.size(), 1u);
  auto none = ReadRowset(db_->session(), SchemaRowset::kTables,
                         {"no such database", std::nullopt, std::nullopt, std::nullopt});
  EXPECT_TRUE(none.empty());
}

TEST_F(SchemaRowsetTest, ColumnsInOrderWithTypesAndNullability) {
  auto columns =
      ReadRowset(db_->session(), SchemaRowset::kColumns, {std::nullopt, std::nullopt, "orders"});
  EXPECT_EQ(Column(columns, "COLUMN_NAME"),
            (std::vector<std::string>{"id", "customer", "total", "note"}));
  EXPECT_EQ(Column(columns, "ORDINAL_POSITION"), (std::vector<std::string>{"1", "2", "3", "4"}));
  // OLE DB type codes: 19 unsigned 4-byte integer, 129 text, 131 numeric.
  EXPECT_EQ(Column(columns, "DATA_TYPE"), (std::vector<std::string>{"19", "129", "131", "129"}));
  EXPECT_EQ(Column(columns, "IS_NULLABLE"),
            (std::vector<std::string>{"False", "False", "True", "True"}));
  EXPECT_EQ(columns[2].at("NUMERIC_PRECISION"), "10");
  EXPECT_EQ(columns[2].at("NUMERIC_SCALE"), "2");
  EXPECT_EQ(columns[1].at("CHARACTER_MAXIMUM_LENGTH"), "40");
  EXPECT_EQ(columns[2].at("COLUMN_HASDEFAULT"), "True");
  auto one = ReadRowset(db_->session(), SchemaRowset::kColumns,
                        {std::nullopt, std::nullopt, "big_orders", "total"});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].at("TABLE_NAME"), "big_orders");
}

TEST_F(SchemaRowsetTest, IndexesOneRowPerColumnWithUniqueness) {
  auto indexes = ReadRowset(db_->session(), SchemaRowset::kIndexes,
                            {std::nullopt, std::nullopt, std::nullopt, std::nullopt, "orders"});
  // Unique indexes first, each in column order; a two-column index shows twice.
  EXPECT_EQ(Column(indexes, "INDEX_NAME"),
            (std::vector<std::string>{"by_customer", "by_customer", "PRIMARY", "note_key"}));
  EXPECT_EQ(Column(indexes, "COLUMN_NAME"),
            (std::vector<std::string>{"customer", "total", "id", "note"}));
  EXPECT_EQ(Column(indexes, "ORDINAL_POSITION"), (std::vector<std::string>{"1", "2", "1", "1"}));
  EXPECT_EQ(Column(indexes, "UNIQUE"), (std::vector<std::string>{"True", "True", "True", "False"}));
  EXPECT_EQ(Column(indexes, "PRIMARY_KEY"),
            (std::vector<std::string>{"False", "False", "True", "False"}));
}

TEST_F(SchemaRowsetTest, WithoutACurrentDatabaseEveryDatabaseIsSearched) {
  auto server = *testing::MySqlFromEnv();
  auto bare = OdbcSession::Connect(testing::DriverConnectionString(server));
  ASSERT_TRUE(bare.ok());
  EXPECT_EQ(*(*bare)->CurrentCatalog(), "");
  auto tables = ReadRowset(**bare, SchemaRowset::kTables,
                           {std::nullopt, std::nullopt, "it's a `table`", std::nullopt});
  auto catalogs = Column(tables, "TABLE_CATALOG");
  EXPECT_NE(std::find(catalogs.begin(), catalogs.end(), db_->name()), catalogs.end());
}

TEST_F(SchemaRowsetTest, CatalogsListDatabases) {
  auto all = ReadRowset(db_->session(), SchemaRowset::kCatalogs, {});
  auto names = Column(all, "CATALOG_NAME");
  EXPECT_NE(std::find(names.begin(), names.end(), db_->name()), names.end());
  // In the server's order: its catalogue compares names without regard to case
  // (so "a_b" follows "aB", as '_' follows the capitals).
  auto folded_less = [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](unsigned char x, unsigned char y) { return std::toupper(x) < std::toupper(y); });
  };
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), folded_less));
  auto one = ReadRowset(db_->session(), SchemaRowset::kCatalogs, {db_->name()});
  EXPECT_EQ(Column(one, "CATALOG_NAME"), std::vector<std::string>{db_->name()});
}

}  // namespace
}  // namespace velquin
