// The Database API: creation compared with a Jet-made empty database, round
// trips of every type, boundaries, many pages, drop/reuse, rename, counters.
#include "jet/database.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include "../../support/index_check.h"
#include "jet/catalog/system_tables.h"
#include "jet/database_internal.h"
#include "jet/format/data_page.h"
#include "jet/format/header.h"
#include "jet/index/index_tree.h"
#include "jet/table/table_def.h"
#include "test_util.h"

namespace velquin::jet {
namespace {

using testing::Column;
using testing::TempPath;

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

Page PageOf(const std::vector<std::uint8_t>& file, PageNumber n) {
  Page p{};
  std::memcpy(p.data(), file.data() + static_cast<std::size_t>(n) * kPageSize, kPageSize);
  return p;
}

// A new database laid out as the Jet engine lays out an empty one.
TEST(CreateDatabaseTest, MatchesJetMadeEmptyDatabaseFieldByField) {
  if (!testing::HaveShared()) GTEST_SKIP() << "reference files absent";
  auto ref = ReadAll(testing::ReferenceFile("adox_jet4.mdb"));
  ASSERT_EQ(ref.size(), 16 * kPageSize);
  std::string path = TempPath("like_adox.mdb");
  auto ref_header = DecodeHeaderPage(PageOf(ref, 0));
  ASSERT_TRUE(ref_header.ok());
  {
    auto db = Database::Create(path, {.creation_date = ref_header->creation_date});
    ASSERT_TRUE(db.ok()) << db.status().ToString();
  }
  auto ours = ReadAll(path);
  ASSERT_EQ(ours.size(), ref.size()) << "page count";
  // Page 0: identical with the same creation date (header, obfuscated block,
  // password mask, constants).
  EXPECT_EQ(std::memcmp(ours.data(), ref.data(), kPageSize), 0);
  // Page types in the same places: 1 global map, 2-5 TDEFs, 6 maps, 7-13
  // index leaves, 14-15 data.
  for (PageNumber n = 1; n < 16; ++n) {
    EXPECT_EQ(ours[n * kPageSize], ref[n * kPageSize]) << "type of page " << n;
  }
  // Global map page and the usage-map page are byte-identical.
  EXPECT_EQ(std::memcmp(&ours[kPageSize], &ref[kPageSize], kPageSize), 0) << "page 1";
  EXPECT_EQ(std::memcmp(&ours[6 * kPageSize], &ref[6 * kPageSize], kPageSize), 0) << "page 6";
  // MSysACEs rows (no dates) are byte-identical.
  EXPECT_EQ(std::memcmp(&ours[15 * kPageSize], &ref[15 * kPageSize], kPageSize), 0) << "page 15";
  // Table definitions: every field a reader uses.
  MemoryFile a, b;
  ASSERT_TRUE(a.WriteAt(0, Bytes(ref)).ok());
  ASSERT_TRUE(b.WriteAt(0, Bytes(ours)).ok());
  auto pa = PageFile::Open(std::make_unique<MemoryFile>(a.data()), false);
  auto pb = PageFile::Open(std::make_unique<MemoryFile>(b.data()), false);
  ASSERT_TRUE(pa.ok() && pb.ok());
  for (PageNumber t = 2; t <= 5; ++t) {
    auto da = ReadTableDef(**pa, t);
    auto db = ReadTableDef(**pb, t);
    ASSERT_TRUE(da.ok() && db.ok());
    EXPECT_EQ(EncodeTableDef(*da).size(), EncodeTableDef(*db).size()) << "TDEF length " << t;
    EXPECT_EQ(da->row_count, db->row_count);
    EXPECT_EQ(da->table_type, db->table_type);
    EXPECT_EQ(da->max_columns, db->max_columns);
    EXPECT_EQ(da->owned_map, db->owned_map);
    EXPECT_EQ(da->free_map, db->free_map);
    ASSERT_EQ(da->columns.size(), db->columns.size());
    for (std::size_t i = 0; i < da->columns.size(); ++i) {
      const auto& x = da->columns[i];
      const auto& y = db->columns[i];
      EXPECT_EQ(x.name, y.name);
      EXPECT_EQ(x.type, y.type) << x.name;
      EXPECT_EQ(x.number, y.number) << x.name;
      EXPECT_EQ(x.var_index, y.var_index) << x.name;
      EXPECT_EQ(x.flags, y.flags) << x.name;
      EXPECT_EQ(x.ext_flags, y.ext_flags) << x.name;
      EXPECT_EQ(x.length, y.length) << x.name;
      EXPECT_EQ(x.misc, y.misc) << x.name;
      if (x.is_fixed()) {
        EXPECT_EQ(x.fixed_offset, y.fixed_offset) << x.name;
      }
      EXPECT_EQ(x.lv_owned, y.lv_owned) << x.name;
      EXPECT_EQ(x.lv_free, y.lv_free) << x.name;
    }
    ASSERT_EQ(da->real_indexes.size(), db->real_indexes.size());
    for (std::size_t i = 0; i < da->real_indexes.size(); ++i) {
      const auto& x = da->real_indexes[i];
      const auto& y = db->real_indexes[i];
      EXPECT_EQ(x.root, y.root);
      EXPECT_EQ(x.flags, y.flags);
      EXPECT_EQ(x.usage_map, y.usage_map);
      EXPECT_EQ(x.unique_entries, y.unique_entries);
      ASSERT_EQ(x.columns.size(), y.columns.size());
      for (std::size_t k = 0; k < x.columns.size(); ++k) {
        EXPECT_EQ(x.columns[k].column_number, y.columns[k].column_number);
        EXPECT_EQ(x.columns[k].ascending, y.columns[k].ascending);
      }
    }
    ASSERT_EQ(da->logical_indexes.size(), db->logical_indexes.size());
    for (std::size_t i = 0; i < da->logical_indexes.size(); ++i) {
      const auto& x = da->logical_indexes[i];
      const auto& y = db->logical_indexes[i];
      EXPECT_EQ(x.name, y.name);
      EXPECT_EQ(x.real_index, y.real_index);
      EXPECT_EQ(x.index_type, y.index_type);
      EXPECT_EQ(x.related_index, y.related_index);
      EXPECT_EQ(x.cascade_update, y.cascade_update);
      EXPECT_EQ(x.cascade_delete, y.cascade_delete);
    }
  }
  // MSysObjects rows: same ids, parents, names, types, owners and flags.
  auto ra = Database::OpenOn(std::make_unique<MemoryFile>(a.data()), {.read_only = true});
  auto rb = Database::OpenOn(std::make_unique<MemoryFile>(b.data()), {.read_only = true});
  ASSERT_TRUE(ra.ok() && rb.ok());
  auto rows_a = testing::ReadAllRows(**ra, "MSysObjects");
  auto rows_b = testing::ReadAllRows(**rb, "MSysObjects");
  ASSERT_EQ(rows_a.size(), 8u);
  ASSERT_EQ(rows_a.size(), rows_b.size());
  for (std::size_t r = 0; r < rows_a.size(); ++r) {
    for (std::size_t c : {kObjId, kObjParentId, kObjName, kObjType, kObjOwner, kObjFlags}) {
      EXPECT_EQ(rows_a[r][c], rows_b[r][c]) << "row " << r << " column " << c;
    }
    for (std::size_t c = kObjDatabase; c < kObjColumnCount; ++c)
      EXPECT_TRUE(rows_b[r][c].is_null());
  }
  // Index pages: the same entries (keys and row pointers) in both files.
  for (PageNumber t = 2; t <= 5; ++t) {
    auto da = ReadTableDef(**pa, t);
    for (const auto& ri : da->real_indexes) {
      IndexTreeOptions o;
      o.tdef_page = t;
      o.column_count = ri.columns.size();
      IndexTree ta(**pa, ri.root, o), tb(**pb, ri.root, o);
      auto ea = ta.ReadAll();
      auto eb = tb.ReadAll();
      ASSERT_TRUE(ea.ok() && eb.ok()) << "index root " << ri.root;
      EXPECT_EQ(*ea, *eb) << "entries of the index rooted at page " << ri.root;
      EXPECT_TRUE(tb.Verify().ok()) << ri.root;
    }
  }
}

TEST(CreateDatabaseTest, RefusesToOverwriteAnExistingFile) {
  std::string path = TempPath("exists.mdb");
  { std::ofstream(path) << "x"; }
  auto db = Database::Create(path);
  EXPECT_FALSE(db.ok());
  EXPECT_EQ(ReadAll(path).size(), 1u);  // untouched
}

TEST(CreateDatabaseTest, HeaderHasCodePageSortOrderAndNoPassword) {
  auto db = Database::CreateOn(std::make_unique<MemoryFile>(),
                               {.creation_date = DateTime::FromParts(2024, 5, 6, 7, 8, 9).days});
  ASSERT_TRUE(db.ok());
  EXPECT_EQ((*db)->header().code_page, 1252);
  EXPECT_EQ((*db)->header().sort_order, 1033);
  EXPECT_EQ((*db)->header().sort_version, 0);
  EXPECT_EQ((*db)->header().version, 1);
  EXPECT_TRUE((*db)->header().password.empty());
  EXPECT_EQ(DateTime{(*db)->header().creation_date}.ToString(), "2024-05-06 07:08:09");
}

TableSpec AllTypesSpec() {
  TableSpec t;
  t.name = "AllTypes";
  t.columns = {Column("id", ColumnType::kLong),       Column("flag", ColumnType::kBool),
               Column("b", ColumnType::kByte),        Column("s", ColumnType::kShort),
               Column("l", ColumnType::kLong),        Column("money", ColumnType::kCurrency),
               Column("f", ColumnType::kSingle),      Column("d", ColumnType::kDouble),
               Column("dt", ColumnType::kDateTime),   Column("bin", ColumnType::kBinary, 255),
               Column("txt", ColumnType::kText, 255), Column("ole", ColumnType::kOle),
               Column("memo", ColumnType::kMemo),     Column("g", ColumnType::kGuid),
               Column("num", ColumnType::kNumeric)};
  t.columns[0].auto_increment = true;
  t.columns.back().precision = 28;
  t.columns.back().scale = 4;
  return t;
}

std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i)
    v[i] = static_cast<std::uint8_t>((i * 131 + seed * 7) ^ (i >> 8));
  return v;
}

std::vector<std::vector<Value>> BoundaryRows() {
  auto guid = [](const char* s) { return Value::Uuid(*Guid::Parse(s)); };
  auto dec = [](const char* s) { return Value::Numeric(*Decimal::Parse(s, 4)); };
  std::string big_memo;
  for (int i = 0; i < 1 << 20; ++i) big_memo.push_back(static_cast<char>('a' + i % 26));
  std::vector<std::vector<Value>> rows;
  // Minimums.
  rows.push_back({Value(), Value::Bool(false), Value::Byte(0), Value::Short(-32768),
                  Value::Long(std::numeric_limits<std::int32_t>::min()),
                  Value::Money(Currency{std::numeric_limits<std::int64_t>::min()}),
                  Value::Single(-std::numeric_limits<float>::max()),
                  Value::Double(-std::numeric_limits<double>::max()),
                  Value::Date(DateTime::FromParts(100, 1, 1)), Value::Binary({}), Value::Text(""),
                  Value::Binary({}), Value::Text(""),
                  guid("{00000000-0000-0000-0000-000000000000}"),
                  dec("-999999999999999999999999.9999")});
  // Maximums.
  rows.push_back(
      {Value(), Value::Bool(true), Value::Byte(255), Value::Short(32767),
       Value::Long(std::numeric_limits<std::int32_t>::max()),
       Value::Money(Currency{std::numeric_limits<std::int64_t>::max()}),
       Value::Single(std::numeric_limits<float>::max()),
       Value::Double(std::numeric_limits<double>::max()),
       Value::Date(DateTime::FromParts(9999, 12, 31, 23, 59, 59)), Value::Binary(Pattern(255, 1)),
       Value::Text(std::string(255, 'Z')), Value::Binary(Pattern(70000, 2)), Value::Text(big_memo),
       guid("{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}"), dec("999999999999999999999999.9999")});
  // Unicode: accented, CJK, emoji (surrogate pairs), mixed; small values.
  rows.push_back({Value(), Value::Bool(true), Value::Byte(1), Value::Short(-1), Value::Long(0),
                  Value::Money(Currency{-1}), Value::Single(1.5f), Value::Double(-0.0),
                  Value::Date(DateTime::FromParts(1899, 12, 29, 6, 0, 0)), Value::Binary({0, 1, 0}),
                  Value::Text("Zoë Ærøskøbing façade"), Value::Binary(Pattern(64, 3)),
                  Value::Text("日本語のテキスト 😀🎉 mixed ü"),
                  guid("{00112233-4455-6677-8899-AABBCCDDEEFF}"), dec("0.0001")});
  rows.push_back(
      {Value(), Value::Bool(false), Value::Byte(128), Value::Short(12345), Value::Long(-7),
       Value::Money(Currency{123456789}), Value::Single(-0.25f), Value::Double(3.141592653589793),
       Value::Date(DateTime::FromParts(2024, 2, 29, 12, 30, 45)), Value::Binary(Pattern(9, 4)),
       Value::Text("😀"), Value::Binary(Pattern(4000, 5)), Value::Text(std::string(5000, 'x') + "é"),
       guid("{12345678-9ABC-DEF0-1234-56789ABCDEF0}"), dec("-1.5")});
  return rows;
}

class RoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = TempPath("roundtrip.mdb");
    auto db = Database::Create(path_);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    db_ = std::move(*db);
    ASSERT_TRUE(db_->CreateTable(AllTypesSpec()).ok());
  }
  void Reopen() {
    db_.reset();
    auto db = Database::Open(path_);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    db_ = std::move(*db);
  }
  std::string path_;
  std::unique_ptr<Database> db_;
};

TEST_F(RoundTripTest, EveryTypeAtItsBoundariesSurvivesReopen) {
  auto rows = BoundaryRows();
  for (const auto& r : rows) ASSERT_TRUE(db_->Insert("AllTypes", r).ok());
  Reopen();
  auto back = testing::ReadAllRows(*db_, "AllTypes");
  ASSERT_EQ(back.size(), rows.size());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    EXPECT_EQ(back[r][0], Value::Long(static_cast<std::int32_t>(r + 1))) << "AutoNumber";
    for (std::size_t c = 1; c < rows[r].size(); ++c) {
      if (rows[r][c].kind() == ValueKind::kText || rows[r][c].kind() == ValueKind::kBinary) {
        EXPECT_TRUE(back[r][c] == rows[r][c])
            << "row " << r << " column " << c << " size " << rows[r][c].ToString().size();
      } else {
        EXPECT_EQ(back[r][c], rows[r][c])
            << "row " << r << " column " << c << ": " << back[r][c].ToString() << " vs "
            << rows[r][c].ToString();
      }
    }
  }
  auto info = db_->GetTable("alltypes");
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info->row_count, rows.size());
  EXPECT_EQ(info->last_autonumber, rows.size());
}

TEST_F(RoundTripTest, NullInEveryNullableColumn) {
  std::vector<Value> nulls(AllTypesSpec().columns.size());
  ASSERT_TRUE(db_->Insert("AllTypes", nulls).ok());
  Reopen();
  auto back = testing::ReadAllRows(*db_, "AllTypes");
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0][0], Value::Long(1));      // AutoNumber filled in
  EXPECT_EQ(back[0][1], Value::Bool(false));  // Yes/No has no NULL
  for (std::size_t c = 2; c < back[0].size(); ++c) EXPECT_TRUE(back[0][c].is_null()) << c;
}

TEST_F(RoundTripTest, AutoNumberFollowsExplicitValues) {
  std::vector<Value> row(AllTypesSpec().columns.size());
  ASSERT_TRUE(db_->Insert("AllTypes", row).ok());  // 1
  row[0] = Value::Long(100);
  ASSERT_TRUE(db_->Insert("AllTypes", row).ok());  // 100
  row[0] = Value();
  ASSERT_TRUE(db_->Insert("AllTypes", row).ok());  // 101
  Reopen();
  ASSERT_TRUE(db_->Insert("AllTypes", row).ok());  // 102 after reopen
  auto back = testing::ReadAllRows(*db_, "AllTypes");
  std::vector<std::int32_t> ids;
  for (auto& r : back) ids.push_back(r[0].long_value());
  EXPECT_EQ(ids, (std::vector<std::int32_t>{1, 100, 101, 102}));
  EXPECT_EQ(db_->GetTable("AllTypes")->last_autonumber, 102u);
}

struct BadValueCase {
  std::size_t column;
  Value value;
  StatusCode code;
};

TEST_F(RoundTripTest, RefusesValuesThatDoNotFitAndKeepsTheRest) {
  const BadValueCase cases[] = {
      {2, Value::Long(256), StatusCode::kConstraint},
      {2, Value::Long(-1), StatusCode::kConstraint},
      {3, Value::Long(40000), StatusCode::kConstraint},
      {10, Value::Text(std::string(256, 'a')), StatusCode::kConstraint},
      {9, Value::Binary(std::vector<std::uint8_t>(256)), StatusCode::kConstraint},
      {8, Value::Date(DateTime::FromParts(10000, 1, 1)), StatusCode::kConstraint},
      {14, Value::Text("12345678901234567890123456.5"), StatusCode::kConstraint},
      {4, Value::Text("seven"), StatusCode::kInvalidArgument},
      {10, Value::Long(5), StatusCode::kInvalidArgument},
      {13, Value::Text("not-a-guid"), StatusCode::kInvalidArgument},
  };
  std::vector<Value> good(AllTypesSpec().columns.size());
  ASSERT_TRUE(db_->Insert("AllTypes", good).ok());
  for (const auto& c : cases) {
    std::vector<Value> row(good.size());
    row[c.column] = c.value;
    Status st = db_->Insert("AllTypes", row);
    EXPECT_EQ(st.code(), c.code) << "column " << c.column << " value " << c.value.ToString() << ": "
                                 << st.ToString();
  }
  ASSERT_TRUE(db_->Insert("AllTypes", good).ok());
  Reopen();
  EXPECT_EQ(testing::ReadAllRows(*db_, "AllTypes").size(), 2u);
  EXPECT_EQ(db_->GetTable("AllTypes")->row_count, 2u);
}

TEST(DatabaseTest, ThousandsOfRowsOverManyPagesInOrder) {
  std::string path = TempPath("many.mdb");
  auto db = Database::Create(path);
  ASSERT_TRUE(db.ok());
  TableSpec t;
  t.name = "Many";
  t.columns = {Column("n", ColumnType::kLong), Column("s", ColumnType::kText, 100),
               Column("m", ColumnType::kMemo)};
  ASSERT_TRUE((*db)->CreateTable(t).ok());
  constexpr int kRows = 20000;
  {
    auto w = (*db)->BulkAppend("Many", 3000);
    ASSERT_TRUE(w.ok());
    for (int i = 0; i < kRows; ++i) {
      std::string memo = (i % 3 == 0) ? std::string(100 + i % 500, 'm') : "short";
      ASSERT_TRUE(
          (*w)->Append({Value::Long(i), Value::Text("row " + std::to_string(i)), Value::Text(memo)})
              .ok());
    }
    ASSERT_TRUE((*w)->Finish().ok());
  }
  db->reset();
  auto re = Database::Open(path, {.read_only = true});
  ASSERT_TRUE(re.ok());
  auto rows = testing::ReadAllRows(**re, "Many");
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRows));
  for (int i = 0; i < kRows; ++i) {
    ASSERT_EQ(rows[i][0], Value::Long(i));
    ASSERT_EQ(rows[i][1], Value::Text("row " + std::to_string(i)));
    ASSERT_EQ(rows[i][2].text_value().size(), (i % 3 == 0) ? 100u + i % 500 : 5u);
  }
  EXPECT_EQ((*re)->GetTable("Many")->row_count, static_cast<std::uint32_t>(kRows));
  EXPECT_GT(DatabaseInternals::Pages(**re).PageCount(), 512u);  // past what one inline map covers
}

TEST(DatabaseTest, DroppedTablePagesAreReused) {
  std::string path = TempPath("drop.mdb");
  auto db = Database::Create(path);
  ASSERT_TRUE(db.ok());
  TableSpec t;
  t.name = "Temp";
  t.columns = {Column("n", ColumnType::kLong), Column("blob", ColumnType::kOle)};
  t.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true}};
  ASSERT_TRUE((*db)->CreateTable(t).ok());
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE((*db)->Insert("Temp", {Value::Long(i), Value::Binary(Pattern(5000, i))}).ok());
  }
  PageNumber pages_before = DatabaseInternals::Pages(**db).PageCount();
  ASSERT_TRUE((*db)->DropTable("temp").ok());
  EXPECT_FALSE((*db)->GetTable("Temp").ok());
  EXPECT_GT(DatabaseInternals::Pages(**db).FreePageCount(), 300u);
  // A new table of the same size fits into the freed pages.
  t.name = "Again";
  ASSERT_TRUE((*db)->CreateTable(t).ok());
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE((*db)->Insert("Again", {Value::Long(i), Value::Binary(Pattern(5000, i))}).ok());
  }
  EXPECT_LE(DatabaseInternals::Pages(**db).PageCount(), pages_before + 2);
  db->reset();
  auto re = Database::Open(path);
  ASSERT_TRUE(re.ok());
  auto names = (*re)->ListTables();
  EXPECT_EQ(*names, std::vector<std::string>{"Again"});
  auto rows = testing::ReadAllRows(**re, "Again");
  ASSERT_EQ(rows.size(), 300u);
  EXPECT_EQ(rows[299][1], Value::Binary(Pattern(5000, 299)));
  // The catalogue keeps only the system tables and "Again" (with its ACEs).
  auto aces = testing::ReadAllRows(**re, "MSysACEs");
  std::size_t again_aces = 0;
  for (auto& r : aces) again_aces += r[0] == Value::Long((*re)->GetTable("Again")->tdef_page);
  EXPECT_EQ(aces.size(), 16u + again_aces);
  EXPECT_EQ(again_aces, 3u);
}

TEST(DatabaseTest, RenameKeepsRowsAndRefusesClashes) {
  auto db = Database::CreateOn(std::make_unique<MemoryFile>());
  ASSERT_TRUE(db.ok());
  TableSpec t;
  t.name = "Old";
  t.columns = {Column("n", ColumnType::kLong)};
  ASSERT_TRUE((*db)->CreateTable(t).ok());
  t.name = "Other";
  ASSERT_TRUE((*db)->CreateTable(t).ok());
  ASSERT_TRUE((*db)->Insert("Old", {Value::Long(42)}).ok());
  EXPECT_EQ((*db)->RenameTable("Old", "OTHER").code(), StatusCode::kInvalidArgument);
  EXPECT_EQ((*db)->RenameTable("Missing", "X").code(), StatusCode::kNotFound);
  EXPECT_EQ((*db)->RenameTable("MSysObjects", "X").code(), StatusCode::kInvalidArgument);
  ASSERT_TRUE((*db)->RenameTable("Old", "Neu").ok());
  EXPECT_FALSE((*db)->GetTable("Old").ok());
  auto rows = testing::ReadAllRows(**db, "Neu");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], Value::Long(42));
  auto names = (*db)->ListTables();
  std::sort(names->begin(), names->end());
  EXPECT_EQ(*names, (std::vector<std::string>{"Neu", "Other"}));
}

// Readers find tables through the catalogue's (ParentId, Name) index, so it
// must follow every create, drop and rename, also when its tree spans pages.
TEST(DatabaseTest, CatalogueIndexesFollowManyCreatesDropsAndRenames) {
  std::string path = TempPath("catalogue.mdb");
  std::set<std::string> expected;
  {
    auto db = Database::Create(path);
    ASSERT_TRUE(db.ok());
    TableSpec t;
    t.columns = {Column("id", ColumnType::kLong), Column("Straße", ColumnType::kText, 20)};
    t.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true}};
    for (int i = 0; i < 400; ++i) {
      // Mixed case, accents and spaces: keys in the General sort order.
      char number[12];  // room for any int, as the compiler checks
      std::snprintf(number, sizeof number, "%03d", i);
      t.name = std::string(i % 3 == 0 ? "Ärger " : (i % 3 == 1 ? "order " : "Zeile ")) + number;
      ASSERT_TRUE((*db)->CreateTable(t).ok()) << t.name;
      expected.insert(t.name);
      if (i % 4 == 1) {
        ASSERT_TRUE((*db)->Insert(t.name, {Value::Long(i), Value::Text("x")}).ok());
      }
    }
    int n = 0;
    for (auto it = expected.begin(); it != expected.end(); ++n) {
      if (n % 3 == 0) {
        ASSERT_TRUE((*db)->DropTable(*it).ok()) << *it;
        it = expected.erase(it);
      } else if (n % 5 == 0) {
        std::string to = "renamed " + std::to_string(n);
        ASSERT_TRUE((*db)->RenameTable(*it, to).ok()) << *it;
        it = expected.erase(it);
        expected.insert(to);
      } else {
        ++it;
      }
    }
    // A name freed by a drop can be taken again.
    t.name = "Ärger 000";
    ASSERT_TRUE((*db)->CreateTable(t).ok());
    expected.insert(t.name);
    CheckIndexes(**db);
  }
  auto re = Database::Open(path);
  ASSERT_TRUE(re.ok()) << re.status().ToString();
  CheckIndexes(**re);
  auto names = (*re)->ListTables();
  ASSERT_TRUE(names.ok());
  EXPECT_EQ(std::set<std::string>(names->begin(), names->end()), expected);
  if (testing::HaveMdbTools()) {
    std::string listed = testing::RunCommand("mdb-tables -1 '" + path + "'");
    std::set<std::string> by_mdbtools;
    std::istringstream lines(listed);
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty()) by_mdbtools.insert(line);
    }
    EXPECT_EQ(by_mdbtools, expected);
  }
}

TEST(DatabaseTest, CreateTableValidatesLikeAccess) {
  auto db = Database::CreateOn(std::make_unique<MemoryFile>());
  ASSERT_TRUE(db.ok());
  auto spec = [](std::string name, std::vector<ColumnSpec> cols) {
    TableSpec t;
    t.name = std::move(name);
    t.columns = std::move(cols);
    return t;
  };
  EXPECT_FALSE((*db)->CreateTable(spec("", {Column("a", ColumnType::kLong)})).ok());
  EXPECT_FALSE((*db)->CreateTable(spec("a.b", {Column("a", ColumnType::kLong)})).ok());
  EXPECT_FALSE((*db)->CreateTable(spec("T", {})).ok());
  EXPECT_FALSE(
      (*db)
          ->CreateTable(spec("T", {Column("a", ColumnType::kLong), Column("A", ColumnType::kText)}))
          .ok());
  EXPECT_FALSE((*db)->CreateTable(spec("T", {Column("a", ColumnType::kText, 256)})).ok());
  EXPECT_FALSE((*db)->CreateTable(spec("MSysObjects", {Column("a", ColumnType::kLong)})).ok());
  std::vector<ColumnSpec> many;
  for (int i = 0; i < 256; ++i) many.push_back(Column("c" + std::to_string(i), ColumnType::kByte));
  EXPECT_FALSE((*db)->CreateTable(spec("T", many)).ok());
  many.pop_back();
  EXPECT_TRUE((*db)->CreateTable(spec("Wide", many)).ok());  // 255 columns: a multi-page TDEF
  auto info = (*db)->GetTable("Wide");
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info->columns.size(), 255u);
  EXPECT_EQ(info->columns[254].name, "c254");
  EXPECT_EQ((*db)->ListTables()->size(), 1u);  // failed attempts left nothing behind
}

TEST(DatabaseTest, NotNullAndUniqueIndexAreEnforced) {
  auto db = Database::CreateOn(std::make_unique<MemoryFile>());
  ASSERT_TRUE(db.ok());
  TableSpec t;
  t.name = "People";
  t.columns = {Column("id", ColumnType::kLong), Column("name", ColumnType::kText, 50)};
  t.columns[1].not_null = true;
  t.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true},
               IndexSpec{.name = "name", .columns = {{1, true}}, .unique = true}};
  ASSERT_TRUE((*db)->CreateTable(t).ok());
  EXPECT_TRUE((*db)->Insert("People", {Value::Long(1), Value::Text("Ann")}).ok());
  EXPECT_EQ((*db)->Insert("People", {Value::Long(2), Value()}).code(), StatusCode::kConstraint);
  EXPECT_EQ((*db)->Insert("People", {Value::Long(1), Value::Text("Bob")}).code(),
            StatusCode::kConstraint);
  // Text keys follow Access's case-insensitive General sort order.
  EXPECT_EQ((*db)->Insert("People", {Value::Long(3), Value::Text("ANN")}).code(),
            StatusCode::kConstraint);
  EXPECT_TRUE((*db)->Insert("People", {Value::Long(4), Value::Text("Ánn")}).ok());
  EXPECT_EQ(testing::ReadAllRows(**db, "People").size(), 2u);
  auto info = (*db)->GetTable("People");
  ASSERT_TRUE(info.ok());
  ASSERT_EQ(info->indexes.size(), 2u);
  EXPECT_TRUE(info->indexes[0].primary_key);
  EXPECT_TRUE(info->indexes[1].unique);
  EXPECT_EQ(info->row_count, 2u);
  // The index trees hold exactly the rows, in key order.
  auto def = ReadTableDef(DatabaseInternals::Store(**db), info->tdef_page);
  ASSERT_TRUE(def.ok());
  for (const auto& ri : def->real_indexes) {
    IndexTreeOptions o;
    o.tdef_page = info->tdef_page;
    o.unique = true;
    o.column_count = 1;
    IndexTree tree(DatabaseInternals::Store(**db), ri.root, o);
    auto all = tree.ReadAll();
    ASSERT_TRUE(all.ok());
    EXPECT_EQ(all->size(), 2u);
    EXPECT_EQ(ri.unique_entries, 2u);
    EXPECT_TRUE(tree.Verify().ok());
  }
}

// Live rows on long-value pages in the whole file: each value kept apart
// from its row takes one (a chain one per page).
std::size_t LongValueRows(Database& db) {
  std::size_t rows = 0;
  for (PageNumber n = 1; n < DatabaseInternals::Pages(db).PageCount(); ++n) {
    Page p;
    if (!DatabaseInternals::Store(db).ReadPage(n, p).ok()) continue;
    DataPage dp(p, n);
    if (dp.type() != kPageTypeData || dp.owner() != kLvalOwner) continue;
    for (std::size_t r = 0; r < dp.row_count(); ++r) {
      auto slot = dp.Slot(r);
      if (slot.ok() && !slot->deleted) ++rows;
    }
  }
  return rows;
}

// A row the table refuses leaves nothing behind: its long values are only
// written once the row is taken, and a row laid out twice (its long values
// moved out of it to make it fit a page) writes each value once.
TEST(DatabaseTest, RefusedRowsLeaveNoLongValuesBehind) {
  std::string path = TempPath("refused_lv.mdb");
  const std::string memo(6000, 'm');  // a chain over pages
  TableSpec other;
  other.columns = {Column("x", ColumnType::kLong)};
  {
    auto db = Database::Create(path);
    ASSERT_TRUE(db.ok());
    TableSpec t;
    t.name = "Docs";
    t.columns = {Column("id", ColumnType::kLong), Column("blob", ColumnType::kOle),
                 Column("note", ColumnType::kMemo)};
    t.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true}};
    ASSERT_TRUE((*db)->CreateTable(t).ok());
    ASSERT_TRUE(
        (*db)
            ->Insert("Docs", {Value::Long(1), Value::Binary(Pattern(3000, 1)), Value::Text(memo)})
            .ok());
    // Creating a table closes the open insert writer, so its pages are on disk.
    other.name = "Then1";
    ASSERT_TRUE((*db)->CreateTable(other).ok());
    const std::size_t after_first = LongValueRows(**db);
    EXPECT_GE(after_first, 3u);
    for (int i = 0; i < 40; ++i) {
      EXPECT_EQ(
          (*db)
              ->Insert("Docs", {Value::Long(1), Value::Binary(Pattern(3000, i)), Value::Text(memo)})
              .code(),
          StatusCode::kConstraint);
    }
    other.name = "Then2";
    ASSERT_TRUE((*db)->CreateTable(other).ok());
    EXPECT_EQ(LongValueRows(**db), after_first);
    // Sixty short memos fit inline one by one but not together, so the row is
    // laid out again with every value apart: 61 values, each written once.
    TableSpec wide;
    wide.name = "Wide";
    for (int c = 0; c < 61; ++c) {
      wide.columns.push_back(Column("m" + std::to_string(c), ColumnType::kMemo));
    }
    auto created = (*db)->CreateTable(wide);
    ASSERT_TRUE(created.ok()) << created.ToString();
    std::vector<Value> row;
    row.push_back(Value::Text(std::string(2000, 'w')));
    for (int c = 1; c < 61; ++c) row.push_back(Value::Text(std::string(60, 'a' + c % 26)));
    ASSERT_TRUE((*db)->Insert("Wide", row).ok());
    other.name = "Then3";
    ASSERT_TRUE((*db)->CreateTable(other).ok());
    EXPECT_EQ(LongValueRows(**db), after_first + 61u);
  }
  auto db = Database::Open(path);
  ASSERT_TRUE(db.ok());
  auto docs = testing::ReadAllRows(**db, "Docs");
  ASSERT_EQ(docs.size(), 1u);
  EXPECT_EQ(docs[0][1], Value::Binary(Pattern(3000, 1)));
  EXPECT_EQ(docs[0][2], Value::Text(memo));
  auto wide_rows = testing::ReadAllRows(**db, "Wide");
  ASSERT_EQ(wide_rows.size(), 1u);
  EXPECT_EQ(wide_rows[0][0], Value::Text(std::string(2000, 'w')));
  EXPECT_EQ(wide_rows[0][60], Value::Text(std::string(60, 'a' + 60 % 26)));
}

// An index on a MEMO column (Jackcess and later Access versions make them)
// keys each row by its text, which the writer must have stored before the
// key is made: inline, single-row and chained values, by single inserts and
// by a bulk load into an empty table.
TEST(DatabaseTest, IndexesOnMemoColumnsKeyEveryValue) {
  std::string path = TempPath("memo_index.mdb");
  {
    auto db = Database::Create(path);
    ASSERT_TRUE(db.ok());
    TableSpec t;
    t.columns = {Column("id", ColumnType::kLong), Column("note", ColumnType::kMemo)};
    t.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true},
                 IndexSpec{.name = "note", .columns = {{1, true}}}};
    for (const char* name : {"Single", "Bulk"}) {
      t.name = name;
      ASSERT_TRUE((*db)->CreateTable(t).ok());
    }
    auto note = [](int i) {
      const std::size_t sizes[] = {10, 64, 65, 500, 4100, 9000};
      return Value::Text(std::string(sizes[i % 6], static_cast<char>('a' + i % 26)));
    };
    for (int i = 0; i < 60; ++i) {
      Status st = (*db)->Insert("Single", {Value::Long(i), note(i)});
      ASSERT_TRUE(st.ok()) << st.ToString();
    }
    auto bulk = (*db)->BulkAppend("Bulk");
    ASSERT_TRUE(bulk.ok());
    for (int i = 0; i < 60; ++i) ASSERT_TRUE((*bulk)->Append({Value::Long(i), note(i)}).ok());
    ASSERT_TRUE((*bulk)->Finish().ok());
    CheckIndexes(**db);
  }
  auto db = Database::Open(path);
  ASSERT_TRUE(db.ok());
  CheckIndexes(**db);
  EXPECT_EQ(testing::ReadAllRows(**db, "Single").size(), 60u);
  EXPECT_EQ(testing::ReadAllRows(**db, "Bulk").size(), 60u);
}

TEST(DatabaseTest, ReadOnlyDatabaseRefusesWrites) {
  std::string path = TempPath("ro.mdb");
  { ASSERT_TRUE(Database::Create(path).ok()); }
  auto db = Database::Open(path, {.read_only = true});
  ASSERT_TRUE(db.ok());
  TableSpec t;
  t.name = "T";
  t.columns = {Column("a", ColumnType::kLong)};
  EXPECT_FALSE((*db)->CreateTable(t).ok());
  EXPECT_FALSE((*db)->DropTable("MSysACEs").ok());
}

}  // namespace
}  // namespace velquin::jet

namespace velquin::jet {
namespace {

TEST(DatabaseTest, SingleInsertsShareLongValuePages) {
  auto file = std::make_unique<MemoryFile>();
  auto db = Database::CreateOn(std::move(file));
  ASSERT_TRUE(db.ok());
  TableSpec t;
  t.name = "Notes";
  t.columns = {testing::Column("memo", ColumnType::kMemo)};
  ASSERT_TRUE((*db)->CreateTable(t).ok());
  PageNumber before = DatabaseInternals::Pages(**db).PageCount();
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE((*db)->Insert("Notes", {Value::Text(std::string(300, 'n'))}).ok());
  }
  // 200 x 300 bytes of long values and ~3 KB of rows: about 16 pages, not 200.
  EXPECT_LT(DatabaseInternals::Pages(**db).PageCount() - before, 30u);
  auto cur = (*db)->Scan("Notes");
  std::vector<Value> row;
  int n = 0;
  while (*(*cur)->Next(&row)) {
    ASSERT_EQ(row[0].text_value().size(), 300u);
    ++n;
  }
  EXPECT_EQ(n, 200);
}

}  // namespace
}  // namespace velquin::jet

namespace velquin::jet {
namespace {

TEST(DatabaseTest, NotNullIsKeptInTheFileAsTheRequiredProperty) {
  std::string path = testing::TempPath("required.mdb");
  {
    auto db = Database::Create(path);
    ASSERT_TRUE(db.ok());
    TableSpec t;
    t.name = "R";
    t.columns = {testing::Column("a", ColumnType::kLong),
                 testing::Column("b", ColumnType::kText, 9),
                 testing::Column("c", ColumnType::kMemo)};
    t.columns[1].not_null = true;
    t.columns[2].not_null = true;
    ASSERT_TRUE((*db)->CreateTable(t).ok());
  }
  auto db = Database::Open(path);
  ASSERT_TRUE(db.ok());
  auto info = (*db)->GetTable("R");
  ASSERT_TRUE(info.ok());
  EXPECT_FALSE(info->columns[0].not_null);
  EXPECT_TRUE(info->columns[1].not_null);
  EXPECT_TRUE(info->columns[2].not_null);
  EXPECT_EQ((*db)->Insert("R", {Value::Long(1), Value(), Value::Text("m")}).code(),
            StatusCode::kConstraint);
  auto w = (*db)->BulkAppend("R");
  ASSERT_TRUE(w.ok());
  EXPECT_EQ((*w)->Append({Value(), Value::Text("b"), Value()}).code(), StatusCode::kConstraint);
  EXPECT_TRUE(
      (*w)->Append({Value(), Value::Text("b"), Value::Text("")}).ok());  // empty is not NULL
  EXPECT_TRUE((*w)->Finish().ok());
  EXPECT_EQ((*db)->GetTable("R")->row_count, 1u);
}

}  // namespace
}  // namespace velquin::jet

namespace velquin::jet {
namespace {

TEST(DatabaseTest, IndexesOfABulkLoadedTableSpanManyPages) {
  auto db = Database::CreateOn(std::make_unique<MemoryFile>());
  ASSERT_TRUE(db.ok());
  TableSpec t;
  t.name = "Indexed";
  t.columns = {testing::Column("id", ColumnType::kLong),
               testing::Column("name", ColumnType::kText, 60)};
  t.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true},
               IndexSpec{.name = "name", .columns = {{1, false}}}};
  ASSERT_TRUE((*db)->CreateTable(t).ok());
  constexpr int kRows = 5000;
  auto w = (*db)->BulkAppend("Indexed");
  ASSERT_TRUE(w.ok());
  for (int i = 0; i < kRows; ++i) {
    ASSERT_TRUE((*w)->Append({Value::Long((i * 7919) % kRows),
                              Value::Text("name number " + std::to_string(i % 1000))})
                    .ok());
  }
  EXPECT_EQ((*w)->Append({Value::Long(17), Value::Text("dup")}).code(), StatusCode::kConstraint);
  ASSERT_TRUE((*w)->Finish().ok());
  auto info = (*db)->GetTable("Indexed");
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info->row_count, static_cast<std::uint32_t>(kRows));
  auto def = ReadTableDef(DatabaseInternals::Store(**db), info->tdef_page);
  ASSERT_TRUE(def.ok());
  ASSERT_EQ(def->real_indexes.size(), 2u);
  EXPECT_EQ(def->real_indexes[0].unique_entries, static_cast<std::uint32_t>(kRows));
  EXPECT_EQ(def->real_indexes[1].unique_entries, 1000u);
  for (std::size_t k = 0; k < 2; ++k) {
    IndexTreeOptions o;
    o.tdef_page = info->tdef_page;
    o.unique = k == 0;
    o.column_count = 1;
    IndexTree tree(DatabaseInternals::Store(**db), def->real_indexes[k].root, o);
    auto stats = tree.Verify();
    ASSERT_TRUE(stats.ok()) << stats.status().ToString();
    EXPECT_EQ(stats->entries, static_cast<std::uint64_t>(kRows));
    EXPECT_GT(stats->leaf_pages, 1u);
    // Every index page is recorded in the index's usage map.
    auto map = LoadUsageMap(DatabaseInternals::Store(**db), def->real_indexes[k].usage_map);
    ASSERT_TRUE(map.ok());
    EXPECT_EQ(map->Pages(DatabaseInternals::Pages(**db).PageCount()).size(),
              static_cast<std::size_t>(stats->leaf_pages + stats->node_pages));
  }
}

}  // namespace
}  // namespace velquin::jet

namespace velquin::jet {
namespace {

// The bulk writer keeps its index trees and index usage maps in memory
// between rows; commits in the middle of the load, refused rows and later
// writers must all see the same index.
TEST(DatabaseTest, BulkWriterIndexesStayRightAcrossCommitsAndRefusedRows) {
  auto db = Database::CreateOn(std::make_unique<MemoryFile>());
  ASSERT_TRUE(db.ok());
  TableSpec t;
  t.name = "Pairs";
  t.columns = {testing::Column("a", ColumnType::kLong), testing::Column("b", ColumnType::kLong)};
  t.indexes = {
      IndexSpec{.name = "PrimaryKey", .columns = {{0, true}, {1, true}}, .primary_key = true},
      IndexSpec{.name = "b", .columns = {{1, false}}}};
  ASSERT_TRUE((*db)->CreateTable(t).ok());
  constexpr int kRows = 4000;
  {
    auto w = (*db)->BulkAppend("Pairs", 97);  // many commits during the load
    ASSERT_TRUE(w.ok());
    for (int i = 0; i < kRows; ++i) {
      ASSERT_TRUE((*w)->Append({Value::Long(i / 64), Value::Long(i % 64)}).ok()) << i;
      if (i == 1000 || i == kRows - 1) {
        // A key written several commits ago and the one just written.
        EXPECT_EQ((*w)->Append({Value::Long(0), Value::Long(5)}).code(), StatusCode::kConstraint);
        EXPECT_EQ((*w)->Append({Value::Long(i / 64), Value::Long(i % 64)}).code(),
                  StatusCode::kConstraint);
      }
    }
    ASSERT_TRUE((*w)->Finish().ok());
  }
  // A later writer reads the index afresh and still refuses old keys.
  EXPECT_EQ((*db)->Insert("Pairs", {Value::Long(10), Value::Long(10)}).code(),
            StatusCode::kConstraint);
  EXPECT_TRUE((*db)->Insert("Pairs", {Value::Long(-1), Value::Long(99)}).ok());
  {
    auto w = (*db)->BulkAppend("Pairs", 7);
    ASSERT_TRUE(w.ok());
    EXPECT_EQ((*w)->Append({Value::Long(-1), Value::Long(99)}).code(), StatusCode::kConstraint);
    ASSERT_TRUE((*w)->Append({Value::Long(-2), Value::Long(99)}).ok());
    ASSERT_TRUE((*w)->Finish().ok());
  }
  constexpr int kTotal = kRows + 2;
  EXPECT_EQ(testing::ReadAllRows(**db, "Pairs").size(), static_cast<std::size_t>(kTotal));
  auto info = (*db)->GetTable("Pairs");
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info->row_count, static_cast<std::uint32_t>(kTotal));
  auto def = ReadTableDef(DatabaseInternals::Store(**db), info->tdef_page);
  ASSERT_TRUE(def.ok());
  ASSERT_EQ(def->real_indexes.size(), 2u);
  EXPECT_EQ(def->real_indexes[0].unique_entries, static_cast<std::uint32_t>(kTotal));
  EXPECT_EQ(def->real_indexes[1].unique_entries, 65u);  // b = 0..63 and 99
  for (std::size_t k = 0; k < 2; ++k) {
    IndexTreeOptions o;
    o.tdef_page = info->tdef_page;
    o.unique = k == 0;
    o.column_count = k == 0 ? 2 : 1;
    IndexTree tree(DatabaseInternals::Store(**db), def->real_indexes[k].root, o);
    auto stats = tree.Verify();
    ASSERT_TRUE(stats.ok()) << stats.status().ToString();
    EXPECT_EQ(stats->entries, static_cast<std::uint64_t>(kTotal));
    EXPECT_GT(stats->leaf_pages, 1u);
    auto map = LoadUsageMap(DatabaseInternals::Store(**db), def->real_indexes[k].usage_map);
    ASSERT_TRUE(map.ok());
    EXPECT_EQ(map->Pages(DatabaseInternals::Pages(**db).PageCount()).size(),
              static_cast<std::size_t>(stats->leaf_pages + stats->node_pages));
  }
}

}  // namespace
}  // namespace velquin::jet
