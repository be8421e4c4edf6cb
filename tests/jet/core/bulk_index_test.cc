// Bulk loads into tables with indexes. A table that is empty when the bulk
// writer opens has its index entries collected in memory and its trees built
// in one pass at Finish(); uniqueness must still be refused row by row, and
// the trees must end exactly as row-by-row inserts would leave them.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "../../support/index_check.h"
#include "jet/database.h"
#include "jet/database_internal.h"
#include "test_util.h"

namespace velquin::jet {
namespace {

// id LONG primary key, code TEXT unique (case-insensitive), amount DOUBLE
// with a descending index, and a two-column index (code, amount).
TableSpec PeopleSpec() {
  TableSpec t;
  t.name = "People";
  t.columns = {testing::Column("id", ColumnType::kLong),
               testing::Column("code", ColumnType::kText, 20),
               testing::Column("amount", ColumnType::kDouble)};
  t.indexes = {
      IndexSpec{.name = "PrimaryKey",
                .columns = {{0, true}},
                .primary_key = true,
                .unique = true,
                .required = true},
      IndexSpec{.name = "code", .columns = {{1, true}}, .unique = true},
      IndexSpec{.name = "amount", .columns = {{2, false}}},
      IndexSpec{.name = "code_amount", .columns = {{1, true}, {2, true}}},
  };
  return t;
}

std::vector<Value> Person(std::int32_t id, const std::string& code, double amount) {
  return {Value::Long(id), code.empty() ? Value() : Value::Text(code), Value::Double(amount)};
}

std::uint32_t CountRows(Database& db, const std::string& table) {
  return static_cast<std::uint32_t>(testing::ReadAllRows(db, table).size());
}

TEST(BulkIndexTest, ShuffledRowsIntoAnEmptyTableRefuseDuplicatesAndBuildEveryIndex) {
  const std::string path = testing::TempPath("bulk_shuffled.mdb");
  auto db = Database::Create(path);
  ASSERT_TRUE(db.ok());
  ASSERT_TRUE((*db)->CreateTable(PeopleSpec()).ok());

  constexpr int kRows = 30000;  // enough for node pages above the leaves
  std::vector<std::int32_t> ids(kRows);
  std::iota(ids.begin(), ids.end(), 1);
  std::mt19937 rng(7);
  std::shuffle(ids.begin(), ids.end(), rng);

  auto w = (*db)->BulkAppend("People", 1000);
  ASSERT_TRUE(w.ok());
  int refused = 0;
  for (int i = 0; i < kRows; ++i) {
    const std::int32_t id = ids[i];
    ASSERT_TRUE((*w)->Append(Person(id, "c" + std::to_string(id), (id % 97) * 1.5)).ok()) << i;
    if (i % 1000 == 999) {
      // A key already loaded, and a code differing only in case.
      Status dup_id = (*w)->Append(Person(ids[i / 2], "fresh" + std::to_string(i), 0));
      EXPECT_EQ(dup_id.code(), StatusCode::kConstraint) << dup_id.ToString();
      Status dup_code = (*w)->Append(Person(kRows + i, "C" + std::to_string(ids[i / 3]), 0));
      EXPECT_EQ(dup_code.code(), StatusCode::kConstraint) << dup_code.ToString();
      EXPECT_NE(dup_code.message().find("\"code\""), std::string::npos) << dup_code.message();
      // Only a text key's refusal says how Access compares text.
      EXPECT_NE(dup_code.message().find("letter case"), std::string::npos) << dup_code.message();
      EXPECT_EQ(dup_id.message().find("letter case"), std::string::npos) << dup_id.message();
      refused += 2;
    }
  }
  // NULL codes are not duplicates of each other in a unique index.
  for (int i = 0; i < 5; ++i) ASSERT_TRUE((*w)->Append(Person(kRows * 2 + i, "", i)).ok());
  ASSERT_TRUE((*w)->Finish().ok());
  EXPECT_EQ(refused, 60);
  EXPECT_EQ((*w)->rows_written(), static_cast<std::uint64_t>(kRows + 5));

  CheckIndexes(**db);
  auto info = (*db)->GetTable("People");
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info->row_count, static_cast<std::uint32_t>(kRows + 5));

  db->reset();
  auto again = Database::Open(path);
  ASSERT_TRUE(again.ok());
  CheckIndexes(**again);
  EXPECT_EQ(CountRows(**again, "People"), static_cast<std::uint32_t>(kRows + 5));
  // The rebuilt trees keep refusing duplicates once rows go in one by one.
  EXPECT_EQ((*again)->Insert("People", Person(ids[0], "other", 1)).code(), StatusCode::kConstraint);
  EXPECT_TRUE((*again)->Insert("People", Person(kRows * 3, "other", 1)).ok());
  CheckIndexes(**again);
}

TEST(BulkIndexTest, AscendingKeysThenRepeatsOfOldAndLastKeys) {
  const std::string path = testing::TempPath("bulk_ascending.mdb");
  auto db = Database::Create(path);
  ASSERT_TRUE(db.ok());
  ASSERT_TRUE((*db)->CreateTable(PeopleSpec()).ok());
  auto w = (*db)->BulkAppend("People");
  ASSERT_TRUE(w.ok());
  for (int id = 1; id <= 5000; ++id) {
    ASSERT_TRUE((*w)->Append(Person(id, "k" + std::to_string(100000 + id), id)).ok());
  }
  struct Case {
    std::int32_t id;
    std::string code;
    bool accepted;
  };
  const Case cases[] = {
      {5000, "new1", false},     // the last key again
      {4999, "new2", false},     // an older key, once keys stop ascending
      {6000, "K105000", false},  // the last code, other case
      {-5, "new3", true},        // smaller than all, not there yet
      {-5, "new4", false},       // and now it is
      {6001, "k100001", false},  // the first code
      {6002, "new5", true},
  };
  for (const Case& c : cases) {
    Status s = (*w)->Append(Person(c.id, c.code, 0));
    EXPECT_EQ(s.ok(), c.accepted) << c.id << " " << c.code << ": " << s.ToString();
  }
  ASSERT_TRUE((*w)->Finish().ok());
  CheckIndexes(**db);
  EXPECT_EQ(CountRows(**db, "People"), 5002u);
}

TEST(BulkIndexTest, ATableThatHoldsRowsKeepsItsTreesRowByRow) {
  const std::string path = testing::TempPath("bulk_second.mdb");
  auto db = Database::Create(path);
  ASSERT_TRUE(db.ok());
  ASSERT_TRUE((*db)->CreateTable(PeopleSpec()).ok());
  {
    auto w = (*db)->BulkAppend("People");
    ASSERT_TRUE(w.ok());
    for (int id = 1; id <= 2000; id += 2) ASSERT_TRUE((*w)->Append(Person(id, "", id)).ok());
    ASSERT_TRUE((*w)->Finish().ok());
  }
  auto w = (*db)->BulkAppend("People", 100);
  ASSERT_TRUE(w.ok());
  int refused = 0;
  for (int id = 2000; id >= 1; --id) {
    if (!(*w)->Append(Person(id, "x" + std::to_string(id), -id)).ok()) ++refused;
  }
  ASSERT_TRUE((*w)->Finish().ok());
  EXPECT_EQ(refused, 1000);
  CheckIndexes(**db);
  EXPECT_EQ(CountRows(**db, "People"), 2000u);
}

TEST(BulkIndexTest, RowsOfAnUnfinishedLoadStayInvisibleUntilTheIndexesAreBuilt) {
  const std::string path = testing::TempPath("bulk_unfinished.mdb");
  {
    auto db = Database::Create(path);
    ASSERT_TRUE(db.ok());
    ASSERT_TRUE((*db)->CreateTable(PeopleSpec()).ok());
  }
  auto db = Database::Open(path);
  ASSERT_TRUE(db.ok());
  auto w = (*db)->BulkAppend("People", 50);
  ASSERT_TRUE(w.ok());
  for (int id = 1; id <= 3000; ++id) ASSERT_TRUE((*w)->Append(Person(id, "", id)).ok());
  {
    // What a reader (or a crash) sees now: a table and indexes that agree.
    auto reader = Database::Open(path, {.read_only = true});
    ASSERT_TRUE(reader.ok());
    EXPECT_EQ(CountRows(**reader, "People"), 0u);
    CheckIndexes(**reader);
  }
  ASSERT_TRUE((*w)->Finish().ok());
  auto reader = Database::Open(path, {.read_only = true});
  ASSERT_TRUE(reader.ok());
  EXPECT_EQ(CountRows(**reader, "People"), 3000u);
  CheckIndexes(**reader);
}

TEST(BulkIndexTest, IndexesAddedLateInALargeFileAreBuiltAndRecorded) {
  const std::string path = testing::TempPath("bulk_late_index.mdb");
  auto db = Database::Create(path);
  ASSERT_TRUE(db.ok());
  TableSpec spec = PeopleSpec();
  spec.indexes.clear();  // no index yet
  ASSERT_TRUE((*db)->CreateTable(spec).ok());
  {
    auto w = (*db)->BulkAppend("People");
    ASSERT_TRUE(w.ok());
    for (int id = 1; id <= 90000; ++id) {
      // Codes repeat every 5000 rows (other case), so no unique index fits.
      std::string code = (id > 5000 ? "X" : "x") + std::to_string(id % 5000);
      ASSERT_TRUE((*w)->Append(Person(id, code, id % 13)).ok());
    }
    ASSERT_TRUE((*w)->Finish().ok());
  }
  ASSERT_GT(DatabaseInternals::Store(**db).PageCount(),
            600u);  // beyond what an inline map covers from page 0

  // A refused unique index leaves the table as it was.
  const PageNumber pages_before = DatabaseInternals::Store(**db).PageCount();
  Status refused = (*db)->CreateIndex(
      "People", IndexSpec{.name = "code", .columns = {{1, true}}, .unique = true});
  EXPECT_EQ(refused.code(), StatusCode::kConstraint) << refused.ToString();
  EXPECT_EQ(DatabaseInternals::Store(**db).PageCount(), pages_before);
  EXPECT_TRUE((*db)->GetTable("People")->indexes.empty());

  ASSERT_TRUE((*db)
                  ->CreateIndex(
                      "People",
                      IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true})
                  .ok());
  ASSERT_TRUE((*db)
                  ->CreateIndex("People", IndexSpec{.name = "code_amount",
                                                    .columns = {{1, true}, {2, false}}})
                  .ok());
  // A table created now gets its roots far into the file.
  TableSpec other = PeopleSpec();
  other.name = "Other";
  ASSERT_TRUE((*db)->CreateTable(other).ok());
  ASSERT_TRUE((*db)->Insert("Other", Person(1, "one", 1)).ok());
  EXPECT_EQ((*db)->Insert("People", Person(7, "dup", 0)).code(), StatusCode::kConstraint);
  CheckIndexes(**db);
  auto info = (*db)->GetTable("People");
  ASSERT_TRUE(info.ok());
  ASSERT_EQ(info->indexes.size(), 2u);
  EXPECT_TRUE(info->indexes[0].primary_key);

  db->reset();
  auto again = Database::Open(path);
  ASSERT_TRUE(again.ok());
  CheckIndexes(**again);
}

}  // namespace
}  // namespace velquin::jet
