// Database::Delete: row counts, indexes, freed long values and reused space,
// relationships on delete, and files after deletes read by mdbtools.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "../../support/index_check.h"
#include "jet/database.h"
#include "jet/database_internal.h"
#include "jet/format/data_page.h"
#include "jet/table/long_value.h"
#include "test_util.h"

namespace velquin::jet {
namespace {

using testing::Column;
using testing::TempPath;

std::int64_t IdOf(const std::vector<Value>& row) {
  std::int64_t id = -1;
  EXPECT_TRUE(row[0].AsInt64(&id));
  return id;
}

RowFilter IdIn(std::set<std::int64_t> ids) {
  return [ids](const std::vector<Value>& row) -> Result<bool> {
    std::int64_t id;
    return row[0].AsInt64(&id) && ids.count(id) > 0;
  };
}

std::set<std::int64_t> Ids(Database& db, const std::string& table) {
  std::set<std::int64_t> ids;
  for (const auto& r : testing::ReadAllRows(db, table)) ids.insert(IdOf(r));
  return ids;
}

std::uint32_t RowCount(Database& db, const std::string& table) {
  auto info = db.GetTable(table);
  EXPECT_TRUE(info.ok());
  return info.ok() ? info->row_count : 0;
}

// A table with a primary key, a unique text index, a plain index and long
// values of every storage kind (inline, one LVAL row, a chain).
TableSpec ItemsSpec() {
  TableSpec t;
  t.name = "Items";
  t.columns = {Column("id", ColumnType::kLong), Column("code", ColumnType::kText, 20),
               Column("grp", ColumnType::kLong), Column("memo", ColumnType::kMemo),
               Column("ole", ColumnType::kOle)};
  t.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true},
               IndexSpec{.name = "ux_code", .columns = {{1, true}}, .unique = true},
               IndexSpec{.name = "ix_grp", .columns = {{2, false}}}};
  return t;
}

std::vector<Value> ItemRow(int i) {
  std::string memo;
  if (i % 3 == 1) memo = "short " + std::to_string(i);                            // inline
  if (i % 3 == 2) memo = std::string(1500 + i, static_cast<char>('a' + i % 26));  // one LVAL row
  std::vector<std::uint8_t> ole;
  if (i % 4 == 0) {
    ole.resize(9000 + i);  // a chain of three LVAL rows
    for (std::size_t k = 0; k < ole.size(); ++k) ole[k] = static_cast<std::uint8_t>(k * 7 + i);
  }
  return {Value::Long(i), Value::Text("code-" + std::to_string(i)), Value::Long(i % 5),
          memo.empty() ? Value::Null() : Value::Text(memo),
          ole.empty() ? Value::Null() : Value::Binary(ole)};
}

std::uintmax_t FileSize(const std::string& path) { return std::filesystem::file_size(path); }

TEST(DeleteTest, RemovesMatchingRowsAndKeepsCountsAndIndexesRight) {
  const std::string path = TempPath("delete_counts.mdb");
  auto db = Database::Create(path);
  ASSERT_TRUE(db.ok());
  ASSERT_TRUE((*db)->CreateTable(ItemsSpec()).ok());
  for (int i = 1; i <= 120; ++i) ASSERT_TRUE((*db)->Insert("Items", ItemRow(i)).ok());

  auto none =
      (*db)->Delete("Items", [](const std::vector<Value>&) -> Result<bool> { return false; });
  ASSERT_TRUE(none.ok());
  EXPECT_EQ(*none, 0u);
  EXPECT_EQ(RowCount(**db, "Items"), 120u);

  std::set<std::int64_t> doomed;
  for (int i = 3; i <= 120; i += 3) doomed.insert(i);
  auto n = (*db)->Delete("items", IdIn(doomed));  // names are case-insensitive
  ASSERT_TRUE(n.ok()) << n.status().ToString();
  EXPECT_EQ(*n, doomed.size());
  EXPECT_EQ(RowCount(**db, "Items"), 120u - doomed.size());
  std::set<std::int64_t> left = Ids(**db, "Items");
  EXPECT_EQ(left.size(), 120u - doomed.size());
  for (auto id : doomed) EXPECT_EQ(left.count(id), 0u) << id;
  // The rows left keep every value, long values included.
  for (const auto& row : testing::ReadAllRows(**db, "Items")) {
    EXPECT_EQ(row, ItemRow(static_cast<int>(IdOf(row)))) << IdOf(row);
  }
  CheckIndexes(**db);

  // A deleted key may be used again in the unique indexes; a live one not.
  EXPECT_TRUE((*db)->Insert("Items", ItemRow(3)).ok());
  EXPECT_EQ((*db)->Insert("Items", ItemRow(4)).code(), StatusCode::kConstraint);
  std::vector<Value> same_code = ItemRow(999);
  same_code[1] = Value::Text("CODE-7");  // unique text compares without case
  EXPECT_EQ((*db)->Insert("Items", same_code).code(), StatusCode::kConstraint);
  same_code[1] = Value::Text("code-7b");
  EXPECT_TRUE((*db)->Insert("Items", same_code).ok());
  EXPECT_EQ(RowCount(**db, "Items"), 120u - doomed.size() + 2);
  CheckIndexes(**db);

  // Deleting again what is already gone deletes nothing.
  auto again = (*db)->Delete("Items", IdIn({9, 12}));
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(*again, 0u);

  db->reset();
  auto re = Database::Open(path);
  ASSERT_TRUE(re.ok());
  EXPECT_EQ(RowCount(**re, "Items"), 120u - doomed.size() + 2);
  EXPECT_EQ(testing::ReadAllRows(**re, "Items").size(), RowCount(**re, "Items"));
  CheckIndexes(**re);
  auto all = (*re)->Delete("Items", [](const std::vector<Value>&) -> Result<bool> { return true; });
  ASSERT_TRUE(all.ok());
  EXPECT_EQ(*all, 120u - doomed.size() + 2);
  EXPECT_EQ(RowCount(**re, "Items"), 0u);
  EXPECT_TRUE(testing::ReadAllRows(**re, "Items").empty());
  CheckIndexes(**re);
}

TEST(DeleteTest, FreedPagesAreReusedSoTheFileDoesNotGrow) {
  const std::string path = TempPath("delete_reuse.mdb");
  auto db = Database::Create(path);
  ASSERT_TRUE(db.ok());
  ASSERT_TRUE((*db)->CreateTable(ItemsSpec()).ok());
  for (int i = 1; i <= 80; ++i) ASSERT_TRUE((*db)->Insert("Items", ItemRow(i)).ok());
  ASSERT_TRUE((*db)->Flush().ok());
  const auto size = FileSize(path);
  const auto free_before = DatabaseInternals::Pages(**db).FreePageCount();

  // Every other row: data pages keep live rows and gain free space, LVAL
  // pages and chains of the deleted rows are freed.
  std::set<std::int64_t> odd;
  for (int i = 1; i <= 80; i += 2) odd.insert(i);
  for (int round = 0; round < 3; ++round) {
    auto n = (*db)->Delete("Items", IdIn(odd));
    ASSERT_TRUE(n.ok()) << n.status().ToString();
    EXPECT_EQ(*n, odd.size());
    EXPECT_GT(DatabaseInternals::Pages(**db).FreePageCount(), free_before) << "no page went back";
    for (auto id : odd) ASSERT_TRUE((*db)->Insert("Items", ItemRow(static_cast<int>(id))).ok());
    ASSERT_TRUE((*db)->Flush().ok());
    EXPECT_LE(FileSize(path), size) << "round " << round;
  }
  // Every row, then the same rows again, in bulk.
  for (int round = 0; round < 2; ++round) {
    auto n = (*db)->Delete("Items", [](const std::vector<Value>&) -> Result<bool> { return true; });
    ASSERT_TRUE(n.ok());
    EXPECT_EQ(*n, 80u);
    auto w = (*db)->BulkAppend("Items");
    ASSERT_TRUE(w.ok());
    for (int i = 1; i <= 80; ++i) ASSERT_TRUE((*w)->Append(ItemRow(i)).ok());
    ASSERT_TRUE((*w)->Finish().ok());
    EXPECT_LE(FileSize(path), size) << "bulk round " << round;
  }
  std::set<std::int64_t> ids = Ids(**db, "Items");
  EXPECT_EQ(ids.size(), 80u);
  for (const auto& row : testing::ReadAllRows(**db, "Items")) {
    EXPECT_EQ(row, ItemRow(static_cast<int>(IdOf(row))));
  }
  EXPECT_EQ(RowCount(**db, "Items"), 80u);
  CheckIndexes(**db);
}

// Rows of about 500 bytes, several to a page, and long values several to an
// LVAL page: deleting every other row leaves room on every page, which later
// inserts must use.
TEST(DeleteTest, InsertsFillTheRoomDeletesLeftOnDataPages) {
  const std::string path = TempPath("delete_reuse_wide.mdb");
  auto db = Database::Create(path);
  ASSERT_TRUE(db.ok());
  TableSpec t;
  t.name = "Wide";
  t.columns = {Column("id", ColumnType::kLong), Column("text", ColumnType::kText, 255),
               Column("memo", ColumnType::kMemo)};
  t.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true}};
  ASSERT_TRUE((*db)->CreateTable(t).ok());
  auto row = [](int i) {
    std::string text;
    for (int k = 0; k < 250; ++k) text += (k + i) % 2 ? "Ж" : "Я";  // 2 bytes each, stored
    // Several to an LVAL page.
    std::string memo(600, static_cast<char>('a' + i % 26));
    return std::vector<Value>{Value::Long(i), Value::Text(text), Value::Text(memo)};
  };
  for (int i = 1; i <= 200; ++i) ASSERT_TRUE((*db)->Insert("Wide", row(i)).ok());
  ASSERT_TRUE((*db)->Flush().ok());
  const auto size = FileSize(path);
  std::set<std::int64_t> even;
  for (int i = 2; i <= 200; i += 2) even.insert(i);
  auto n = (*db)->Delete("Wide", IdIn(even));
  ASSERT_TRUE(n.ok());
  EXPECT_EQ(*n, 100u);
  {
    auto w = (*db)->BulkAppend("Wide");  // one writer for every row
    ASSERT_TRUE(w.ok());
    for (int i = 201; i <= 300; ++i) ASSERT_TRUE((*w)->Append(row(i)).ok());
    ASSERT_TRUE((*w)->Finish().ok());
  }
  EXPECT_LE(FileSize(path), size);
  EXPECT_EQ(Ids(**db, "Wide").size(), 200u);
  EXPECT_EQ(RowCount(**db, "Wide"), 200u);
  for (const auto& r : testing::ReadAllRows(**db, "Wide"))
    EXPECT_EQ(r, row(static_cast<int>(IdOf(r))));
  CheckIndexes(**db);
}

// Room left on pages by the appending writer (a row that did not fit) is not
// filled later: a table without deletes keeps its rows in insertion order.
TEST(DeleteTest, TablesWithoutDeletesKeepInsertionOrder) {
  auto db = Database::Create(TempPath("delete_order.mdb"));
  ASSERT_TRUE(db.ok());
  TableSpec t;
  t.name = "Order";
  t.columns = {Column("id", ColumnType::kLong), Column("text", ColumnType::kText, 255)};
  ASSERT_TRUE((*db)->CreateTable(t).ok());
  std::uint32_t x = 12345;
  for (int i = 0; i < 400; ++i) {
    x = x * 1103515245u + 12345u;
    std::string text;
    for (std::uint32_t k = 0, n = 5 + (x >> 16) % 250; k < n; ++k) text += "Ж";
    ASSERT_TRUE((*db)->Insert("Order", {Value::Long(i), Value::Text(text)}).ok());
  }
  std::int64_t expect = 0;
  for (const auto& r : testing::ReadAllRows(**db, "Order")) EXPECT_EQ(IdOf(r), expect++);
  EXPECT_EQ(expect, 400);
}

TEST(DeleteTest, RefusesBadRequestsAndChangesNothing) {
  auto db = Database::Create(TempPath("delete_refused.mdb"));
  ASSERT_TRUE(db.ok());
  ASSERT_TRUE((*db)->CreateTable(ItemsSpec()).ok());
  for (int i = 1; i <= 10; ++i) ASSERT_TRUE((*db)->Insert("Items", ItemRow(i)).ok());
  EXPECT_EQ((*db)->Delete("Nope", IdIn({1})).status().code(), StatusCode::kNotFound);
  EXPECT_FALSE((*db)->Delete("MSysObjects", IdIn({1})).ok());
  // A filter that fails part-way stops the statement before any change.
  int seen = 0;
  auto failing = (*db)->Delete("Items", [&](const std::vector<Value>&) -> Result<bool> {
    if (++seen == 5) return Status::InvalidArgument("bad condition");
    return true;
  });
  EXPECT_EQ(failing.status().message(), "bad condition");
  EXPECT_EQ(Ids(**db, "Items").size(), 10u);
  EXPECT_EQ(RowCount(**db, "Items"), 10u);
}

// A long-value chain that loops: the delete stops with Corruption and the
// file is byte for byte what it was.
TEST(DeleteTest, DamagedRowStopsTheDeleteBeforeAnyWrite) {
  auto file = std::make_unique<MemoryFile>();
  auto data = file->data();
  {
    auto db = Database::CreateOn(std::move(file));
    ASSERT_TRUE(db.ok());
    ASSERT_TRUE((*db)->CreateTable(ItemsSpec()).ok());
    for (int i = 1; i <= 8; ++i) ASSERT_TRUE((*db)->Insert("Items", ItemRow(i)).ok());
  }
  // The first LVAL row of a chain: a full row whose next pointer is set.
  bool damaged = false;
  for (std::size_t page = 2; page * kPageSize < data->size() && !damaged; ++page) {
    std::uint8_t* p = data->data() + page * kPageSize;
    if (p[0] != kPageTypeData || Get32(Bytes(p, kPageSize), 4) != kLvalOwner) continue;
    const std::uint16_t start = Get16(Bytes(p, kPageSize), kDataPageHeader) & kRowOffsetMask;
    if (kPageSize - start != kLvMaxRow || Get32(Bytes(p, kPageSize), start) == 0) continue;
    Put32(MutableBytes(p, kPageSize), start, RowPointer{static_cast<PageNumber>(page), 0}.Encode());
    damaged = true;
  }
  ASSERT_TRUE(damaged);
  const std::vector<std::uint8_t> before = *data;
  auto db = Database::OpenOn(std::make_unique<MemoryFile>(data));
  ASSERT_TRUE(db.ok());
  // Row 4 has the chain; rows 1..3 come first in the file.
  auto r = (*db)->Delete("Items", IdIn({1, 2, 3, 4}));
  EXPECT_EQ(r.status().code(), StatusCode::kCorruption) << r.status().ToString();
  db->reset();
  EXPECT_TRUE(*data == before);
}

// parent(id) <- child(pid) with the given cascade flags.
void MakeParentChild(Database& db, bool cascade_delete, bool set_null, bool child_fk_required) {
  TableSpec p;
  p.name = "Parent";
  p.columns = {Column("id", ColumnType::kLong), Column("name", ColumnType::kText, 20)};
  p.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true}};
  ASSERT_TRUE(db.CreateTable(p).ok());
  TableSpec c;
  c.name = "Child";
  c.columns = {Column("id", ColumnType::kLong), Column("pid", ColumnType::kLong),
               Column("note", ColumnType::kMemo)};
  c.columns[0].auto_increment = true;
  c.columns[1].not_null = child_fk_required;
  c.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true}};
  ASSERT_TRUE(db.CreateTable(c).ok());
  Database::RelationshipSpec r;
  r.name = "ParentChild";
  r.table = "Child";
  r.columns = {"pid"};
  r.referenced_table = "Parent";
  r.cascade_delete = cascade_delete;
  r.cascade_set_null = set_null;
  ASSERT_TRUE(db.CreateRelationship(r).ok());
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(db.Insert("Parent", {Value::Long(i), Value::Text("p" + std::to_string(i))}).ok());
  }
  for (int i = 1; i <= 6; ++i) {
    ASSERT_TRUE(db.Insert("Child", {Value::Null(), Value::Long(1 + i % 3),
                                    Value::Text(std::string(200 * i, 'n'))})
                    .ok());
  }
}

TEST(DeleteRelationshipTest, TablesOfARelationshipAreNotDropped) {
  auto db = Database::Create(TempPath("rel_drop.mdb"));
  ASSERT_TRUE(db.ok());
  MakeParentChild(**db, false, false, false);
  for (const char* table : {"Parent", "Child"}) {
    Status s = (*db)->DropTable(table);
    EXPECT_EQ(s.code(), StatusCode::kInvalidArgument) << table << ": " << s.ToString();
  }
  auto tables = (*db)->ListTables();
  ASSERT_TRUE(tables.ok());
  EXPECT_EQ(tables->size(), 2u);
  EXPECT_EQ(testing::ReadAllRows(**db, "Child").size(), 6u);
  // The relationship still holds.
  EXPECT_EQ((*db)->Insert("Child", {Value::Null(), Value::Long(9), Value::Null()}).code(),
            StatusCode::kConstraint);
}

TEST(DeleteRelationshipTest, RefusedWithoutCascadeNamingRelationshipAndTable) {
  auto db = Database::Create(TempPath("rel_restrict.mdb"));
  ASSERT_TRUE(db.ok());
  MakeParentChild(**db, false, false, false);
  auto r = (*db)->Delete("Parent", IdIn({1, 2}));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.status().code(), StatusCode::kConstraint);
  EXPECT_NE(r.status().message().find("'Child'"), std::string::npos) << r.status().message();
  EXPECT_NE(r.status().message().find("'ParentChild'"), std::string::npos);
  EXPECT_EQ(Ids(**db, "Parent"), (std::set<std::int64_t>{1, 2, 3}));
  // Once its children are gone, a parent can go.
  auto kids = (*db)->Delete("Child", [](const std::vector<Value>& row) -> Result<bool> {
    std::int64_t pid;
    return row[1].AsInt64(&pid) && pid == 2;
  });
  ASSERT_TRUE(kids.ok());
  EXPECT_EQ(*kids, 2u);
  auto p = (*db)->Delete("Parent", IdIn({2}));
  ASSERT_TRUE(p.ok()) << p.status().ToString();
  EXPECT_EQ(*p, 1u);
  // The child side is checked on insert against the rows left.
  EXPECT_EQ((*db)->Insert("Child", {Value::Null(), Value::Long(2), Value::Null()}).code(),
            StatusCode::kConstraint);
  CheckIndexes(**db);
}

TEST(DeleteRelationshipTest, CascadeDeletesReferencingRowsAndTheirLongValues) {
  const std::string path = TempPath("rel_cascade.mdb");
  auto db = Database::Create(path);
  ASSERT_TRUE(db.ok());
  MakeParentChild(**db, true, false, false);
  const auto free_before = DatabaseInternals::Pages(**db).FreePageCount();
  auto r = (*db)->Delete("Parent", IdIn({1}));
  ASSERT_TRUE(r.ok()) << r.status().ToString();
  EXPECT_EQ(*r, 1u);  // cascaded rows are not counted
  EXPECT_EQ(Ids(**db, "Parent"), (std::set<std::int64_t>{2, 3}));
  // Children 3 and 6 pointed at parent 1.
  EXPECT_EQ(Ids(**db, "Child"), (std::set<std::int64_t>{1, 2, 4, 5}));
  EXPECT_EQ(RowCount(**db, "Child"), 4u);
  EXPECT_GE(DatabaseInternals::Pages(**db).FreePageCount(), free_before);
  CheckIndexes(**db);
}

TEST(DeleteRelationshipTest, SetNullClearsTheKeyAndKeepsEveryOtherValue) {
  auto db = Database::Create(TempPath("rel_setnull.mdb"));
  ASSERT_TRUE(db.ok());
  MakeParentChild(**db, false, true, false);
  auto before = testing::ReadAllRows(**db, "Child");
  auto r = (*db)->Delete("Parent", IdIn({2}));
  ASSERT_TRUE(r.ok()) << r.status().ToString();
  auto after = testing::ReadAllRows(**db, "Child");
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t k = 0; k < after.size(); ++k) {
    std::int64_t pid = -1;
    bool had_two = before[k][1].AsInt64(&pid) && pid == 2;
    EXPECT_EQ(after[k][0], before[k][0]);  // AutoNumber kept
    EXPECT_EQ(after[k][2], before[k][2]);  // long value kept
    if (had_two) {
      EXPECT_TRUE(after[k][1].is_null());
    } else {
      EXPECT_EQ(after[k][1], before[k][1]);
    }
  }
  EXPECT_EQ(RowCount(**db, "Child"), 6u);
  CheckIndexes(**db);
  // The next AutoNumber follows the old ones.
  ASSERT_TRUE((*db)->Insert("Child", {Value::Null(), Value::Long(1), Value::Null()}).ok());
  EXPECT_EQ(Ids(**db, "Child").count(7), 1u);
}

TEST(DeleteRelationshipTest, SetNullOnARequiredColumnIsRefusedWithNothingChanged) {
  auto db = Database::Create(TempPath("rel_setnull_required.mdb"));
  ASSERT_TRUE(db.ok());
  MakeParentChild(**db, false, true, true);
  auto r = (*db)->Delete("Parent", IdIn({3}));
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.status().message().find("Child.pid"), std::string::npos) << r.status().message();
  EXPECT_EQ(Ids(**db, "Parent"), (std::set<std::int64_t>{1, 2, 3}));
  EXPECT_EQ(testing::ReadAllRows(**db, "Child").size(), 6u);
}

TEST(DeleteRelationshipTest, SetNullThatWouldDuplicateAUniqueKeyIsRefused) {
  auto db = Database::Create(TempPath("rel_setnull_unique.mdb"));
  ASSERT_TRUE(db.ok());
  TableSpec p;
  p.name = "Parent";
  p.columns = {Column("id", ColumnType::kLong)};
  p.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true}};
  ASSERT_TRUE((*db)->CreateTable(p).ok());
  TableSpec c;
  c.name = "Child";
  c.columns = {Column("pid", ColumnType::kLong), Column("code", ColumnType::kText, 5)};
  c.indexes = {IndexSpec{.name = "ux", .columns = {{0, true}, {1, true}}, .unique = true}};
  ASSERT_TRUE((*db)->CreateTable(c).ok());
  ASSERT_TRUE((*db)
                  ->CreateRelationship({.name = "rel",
                                        .table = "Child",
                                        .columns = {"pid"},
                                        .referenced_table = "Parent",
                                        .referenced_columns = {},
                                        .cascade_set_null = true})
                  .ok());
  for (int i = 1; i <= 2; ++i) ASSERT_TRUE((*db)->Insert("Parent", {Value::Long(i)}).ok());
  ASSERT_TRUE((*db)->Insert("Child", {Value::Null(), Value::Text("x")}).ok());
  ASSERT_TRUE((*db)->Insert("Child", {Value::Long(2), Value::Text("x")}).ok());
  ASSERT_TRUE((*db)->Insert("Child", {Value::Long(1), Value::Text("y")}).ok());
  auto r = (*db)->Delete("Parent", IdIn({2}));
  EXPECT_EQ(r.status().code(), StatusCode::kConstraint);
  EXPECT_EQ(Ids(**db, "Parent"), (std::set<std::int64_t>{1, 2}));
  // (1, y) becomes (NULL, y): no clash.
  auto ok = (*db)->Delete("Parent", IdIn({1}));
  ASSERT_TRUE(ok.ok()) << ok.status().ToString();
  EXPECT_EQ(Ids(**db, "Parent"), (std::set<std::int64_t>{2}));
  std::size_t nulls = 0;
  for (const auto& row : testing::ReadAllRows(**db, "Child")) nulls += row[0].is_null() ? 1 : 0;
  EXPECT_EQ(nulls, 2u);
  CheckIndexes(**db);
}

// Relationships that lead back to where they started: a self-relationship
// (a tree of rows) and two tables pointing at each other, all cascading.
TEST(DeleteRelationshipTest, CascadesFollowCyclesOnce) {
  auto db = Database::Create(TempPath("rel_cycles.mdb"));
  ASSERT_TRUE(db.ok());
  TableSpec e;
  e.name = "Staff";
  e.columns = {Column("id", ColumnType::kLong), Column("boss", ColumnType::kLong)};
  e.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true}};
  ASSERT_TRUE((*db)->CreateTable(e).ok());
  ASSERT_TRUE((*db)
                  ->CreateRelationship({.name = "StaffBoss",
                                        .table = "Staff",
                                        .columns = {"boss"},
                                        .referenced_table = "Staff",
                                        .referenced_columns = {},
                                        .cascade_delete = true})
                  .ok());
  // 1 <- 2 <- 3 <- 4, and 5 on its own.
  ASSERT_TRUE((*db)->Insert("Staff", {Value::Long(1), Value::Null()}).ok());
  for (int i = 2; i <= 4; ++i) {
    ASSERT_TRUE((*db)->Insert("Staff", {Value::Long(i), Value::Long(i - 1)}).ok());
  }
  ASSERT_TRUE((*db)->Insert("Staff", {Value::Long(5), Value::Null()}).ok());
  auto r = (*db)->Delete("Staff", IdIn({2}));
  ASSERT_TRUE(r.ok()) << r.status().ToString();
  EXPECT_EQ(Ids(**db, "Staff"), (std::set<std::int64_t>{1, 5}));

  // A and B refer to each other; the rows are there before the relationships.
  for (const char* name : {"A", "B"}) {
    TableSpec t;
    t.name = name;
    t.columns = {Column("id", ColumnType::kLong), Column("other", ColumnType::kLong)};
    t.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true}};
    ASSERT_TRUE((*db)->CreateTable(t).ok());
    for (int i = 1; i <= 3; ++i) {
      ASSERT_TRUE((*db)->Insert(name, {Value::Long(i), Value::Long(i)}).ok());
    }
  }
  ASSERT_TRUE((*db)
                  ->CreateRelationship({.name = "AtoB",
                                        .table = "A",
                                        .columns = {"other"},
                                        .referenced_table = "B",
                                        .referenced_columns = {},
                                        .cascade_delete = true})
                  .ok());
  ASSERT_TRUE((*db)
                  ->CreateRelationship({.name = "BtoA",
                                        .table = "B",
                                        .columns = {"other"},
                                        .referenced_table = "A",
                                        .referenced_columns = {},
                                        .cascade_delete = true})
                  .ok());
  auto c = (*db)->Delete("A", IdIn({2}));
  ASSERT_TRUE(c.ok()) << c.status().ToString();
  EXPECT_EQ(*c, 1u);
  EXPECT_EQ(Ids(**db, "A"), (std::set<std::int64_t>{1, 3}));
  EXPECT_EQ(Ids(**db, "B"), (std::set<std::int64_t>{1, 3}));
  EXPECT_EQ(RowCount(**db, "A"), 2u);
  EXPECT_EQ(RowCount(**db, "B"), 2u);
  CheckIndexes(**db);
}

TEST(DeleteMdbToolsTest, MdbExportShowsExactlyTheRowsLeft) {
  if (!testing::HaveMdbTools()) GTEST_SKIP() << "mdbtools absent";
  const std::string path = TempPath("delete_mdbtools.mdb");
  std::set<std::int64_t> expected;
  {
    auto db = Database::Create(path);
    ASSERT_TRUE(db.ok());
    ASSERT_TRUE((*db)->CreateTable(ItemsSpec()).ok());
    auto w = (*db)->BulkAppend("Items");
    ASSERT_TRUE(w.ok());
    for (int i = 1; i <= 300; ++i) ASSERT_TRUE((*w)->Append(ItemRow(i)).ok());
    ASSERT_TRUE((*w)->Finish().ok());
    std::set<std::int64_t> doomed;
    for (int i = 1; i <= 300; ++i) {
      if (i % 4 != 1 || (i > 100 && i <= 200))
        doomed.insert(i);  // whole pages go too
      else
        expected.insert(i);
    }
    auto n = (*db)->Delete("Items", IdIn(doomed));
    ASSERT_TRUE(n.ok()) << n.status().ToString();
    EXPECT_EQ(*n, doomed.size());
    // Some reinserted: they take space the deletes freed.
    for (int i : {2, 150, 300}) {
      ASSERT_TRUE((*db)->Insert("Items", ItemRow(i)).ok());
      expected.insert(i);
    }
  }
  int status = 0;
  std::string out = testing::RunCommand("mdb-export -H '" + path + "' Items", &status);
  ASSERT_EQ(status, 0);
  std::set<std::int64_t> exported;
  std::size_t lines = 0;
  for (const auto& row : testing::ParseCsv(out)) {
    ++lines;
    ASSERT_FALSE(row.empty());
    exported.insert(std::stoll(row[0]));
  }
  EXPECT_EQ(lines, expected.size());
  EXPECT_EQ(exported, expected);
  auto db = Database::Open(path, {.read_only = true});
  ASSERT_TRUE(db.ok());
  std::vector<std::string> errors;
  EXPECT_EQ(testing::CompareTableWithMdbExport(**db, path, "Items", &errors), expected.size());
  for (const auto& e : errors) ADD_FAILURE() << e;
}

}  // namespace
}  // namespace velquin::jet
