// Single-row inserts keep their table's writer open between calls. Whatever
// else changes the file in between (another table's inserts, a new index, a
// refused row, a bulk load, a drop) must leave rows, counters and indexes as
// if every insert had opened the table afresh.
#include <gtest/gtest.h>

#include "../../support/index_check.h"
#include "jet/database.h"
#include "test_util.h"

namespace velquin::jet {
namespace {

TableSpec Spec(const std::string& name) {
  TableSpec t;
  t.name = name;
  t.columns = {testing::Column("id", ColumnType::kLong),
               testing::Column("code", ColumnType::kText, 30),
               testing::Column("note", ColumnType::kMemo)};
  t.columns[0].auto_increment = true;
  t.indexes = {IndexSpec{.name = "PrimaryKey",
                         .columns = {{0, true}},
                         .primary_key = true,
                         .unique = true,
                         .required = true}};
  return t;
}

std::vector<Value> Row(const std::string& code, std::size_t note_size = 10) {
  return {Value(), Value::Text(code), Value::Text(std::string(note_size, 'n'))};
}

TEST(InsertWriterTest, ChangesBetweenInsertsLeaveTablesAndIndexesRight) {
  const std::string path = testing::TempPath("insert_writer.mdb");
  auto db = Database::Create(path);
  ASSERT_TRUE(db.ok());
  Database& d = **db;
  ASSERT_TRUE(d.CreateTable(Spec("A")).ok());
  ASSERT_TRUE(d.CreateTable(Spec("B")).ok());

  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(d.Insert("A", Row("a" + std::to_string(i), i % 60 == 0 ? 6000 : 10)).ok());
    if (i % 7 == 0) {
      ASSERT_TRUE(d.Insert("B", Row("b" + std::to_string(i))).ok());
    }
  }
  // Rows are visible to a scan at once, AutoNumbers continue across the
  // switches between tables.
  auto a = testing::ReadAllRows(d, "A");
  ASSERT_EQ(a.size(), 300u);
  EXPECT_EQ(a.back()[0], Value::Long(300));

  // A unique index added between inserts; then a refused row and a good one.
  ASSERT_TRUE(
      d.CreateIndex("A", IndexSpec{.name = "code", .columns = {{1, true}}, .unique = true}).ok());
  EXPECT_EQ(d.Insert("A", Row("A17")).code(), StatusCode::kConstraint);
  ASSERT_TRUE(d.Insert("A", Row("a-new")).ok());
  EXPECT_EQ(testing::ReadAllRows(d, "A").back()[0], Value::Long(301));

  // A bulk load into the same table, then single inserts again.
  {
    auto w = d.BulkAppend("A");
    ASSERT_TRUE(w.ok());
    for (int i = 0; i < 50; ++i) ASSERT_TRUE((*w)->Append(Row("bulk" + std::to_string(i))).ok());
    ASSERT_TRUE((*w)->Finish().ok());
  }
  ASSERT_TRUE(d.Insert("A", Row("after bulk")).ok());
  EXPECT_EQ(d.Insert("A", Row("BULK3")).code(), StatusCode::kConstraint);

  // Dropping the other table while A's writer is open.
  ASSERT_TRUE(d.Insert("B", Row("last b")).ok());
  ASSERT_TRUE(d.DropTable("B").ok());
  ASSERT_TRUE(d.Insert("A", Row("after drop")).ok());

  CheckIndexes(d);
  auto info = d.GetTable("A");
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info->row_count, 353u);
  EXPECT_EQ(info->last_autonumber, 353u);

  db->reset();
  auto again = Database::Open(path);
  ASSERT_TRUE(again.ok());
  CheckIndexes(**again);
  auto rows = testing::ReadAllRows(**again, "A");
  ASSERT_EQ(rows.size(), 353u);
  EXPECT_EQ(rows[0][2].text_value().size(), 6000u);
  EXPECT_EQ(rows.back()[1], Value::Text("after drop"));
  if (testing::HaveMdbTools()) {
    std::vector<std::string> errors;
    EXPECT_EQ(testing::CompareTableWithMdbExport(**again, path, "A", &errors), 353u);
    for (std::size_t k = 0; k < errors.size() && k < 5; ++k) ADD_FAILURE() << errors[k];
  }
}

}  // namespace
}  // namespace velquin::jet
