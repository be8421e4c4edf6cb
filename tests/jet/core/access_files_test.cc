// Writing into files made by Access, through the SQL layer: on copies of
// every reference file, and of a file whose global usage map is of the
// list-of-map-pages kind, tables, indexes, relationships (new to new, and new
// to one of the file's own tables) and saved queries are created and dropped
// again. After every step every original row is still there, no page in use
// before is marked free, every index holds its table's rows, and mdbtools and
// mdb-reader read every table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "../../support/index_check.h"
#include "jet/database.h"
#include "jet/database_internal.h"
#include "jet/format/page_file.h"
#include "jet/format/usage_map.h"
#include "jet/sql/executor.h"
#include "jet/sql/saved_query.h"
#include "jet/table/table_def.h"
#include "test_util.h"

namespace velquin::jet {
namespace {

namespace fs = std::filesystem;
using testing::RunCommand;

using Contents = std::map<std::string, std::vector<std::string>>;

Contents ReadAll(Database& db) {
  Contents out;
  auto tables = db.ListTables();
  EXPECT_TRUE(tables.ok());
  if (!tables.ok()) return out;
  for (const auto& t : *tables) {
    auto cur = db.Scan(t);
    EXPECT_TRUE(cur.ok()) << t << ": " << cur.status().ToString();
    if (!cur.ok()) continue;
    std::vector<Value> row;
    for (;;) {
      auto more = (*cur)->Next(&row);
      EXPECT_TRUE(more.ok()) << t << ": " << more.status().ToString();
      if (!more.ok() || !*more) break;
      std::string line;
      for (const auto& v : row) line += v.ToString() + "\x1f";
      out[t].push_back(line);
    }
  }
  return out;
}

// Pages the global usage map records as in use (a set bit there means free).
std::vector<bool> PagesInUse(Database& db) {
  auto map = LoadUsageMap(DatabaseInternals::Store(db), {kGlobalMapPage, 0});
  EXPECT_TRUE(map.ok()) << map.status().ToString();
  std::vector<bool> used(DatabaseInternals::Store(db).PageCount(), true);
  for (PageNumber p = 0; map.ok() && p < used.size(); ++p) used[p] = !map->Contains(p);
  return used;
}

bool HaveMdbReader() {
  return fs::exists(std::string(VELQUIN_SOURCE_DIR) + "/tests/readers/node_modules/mdb-reader") &&
         fs::exists("/usr/bin/node");
}

// mdb-reader over every user table of each file, in one node process.
void MdbReaderAccepts(const std::vector<std::string>& paths) {
  if (!HaveMdbReader() || paths.empty()) return;
  std::string script =
      "const {readFileSync}=require('fs');const "
      "M=require('mdb-reader').default||require('mdb-reader');"
      "for(const f of process.argv.slice(1)){try{const r=new M(readFileSync(f));"
      "for(const t of r.getTableNames())r.getTable(t).getData();}"
      "catch(e){console.log(f+': '+e.message);process.exitCode=1;}}";
  std::string cmd =
      "cd '" + std::string(VELQUIN_SOURCE_DIR) + "/tests/readers' && node -e \"" + script + "\"";
  for (const auto& p : paths) cmd += " '" + p + "'";
  int st = 0;
  std::string out = RunCommand(cmd + " 2>&1", &st);
  EXPECT_EQ(st, 0) << "mdb-reader: " << out;
}

// mdbtools lists and exports every user table.
void MdbToolsAccept(const std::string& path) {
  int st = 0;
  std::string out = RunCommand("f='" + path +
                                   "'; mdb-tables -1 \"$f\" | while IFS= read -r t; do "
                                   "mdb-export \"$f\" \"$t\" >/dev/null || echo \"$t\"; done 2>&1",
                               &st);
  EXPECT_TRUE(st == 0 && out.empty()) << "mdbtools: " << out;
}

// A table of the file with a one-column LONG or TEXT key: its SQL type and
// its first key value.
struct AccessKey {
  std::string table, column, type, value = "NULL";
};

std::optional<AccessKey> FindAccessKey(Database& db) {
  auto tables = db.ListTables();
  for (const auto& t : tables.ok() ? *tables : std::vector<std::string>{}) {
    auto info = db.GetTable(t);
    for (std::size_t i = 0; info.ok() && i < info->columns.size(); ++i) {
      const ColumnInfo& c = info->columns[i];
      bool key = std::any_of(info->indexes.begin(), info->indexes.end(), [&](const IndexInfo& x) {
        return x.unique && x.columns.size() == 1 && x.columns[0].first == c.name;
      });
      const bool text = c.type == ColumnType::kText;
      if (!key || (!text && c.type != ColumnType::kLong)) continue;
      AccessKey k{t, c.name, text ? "TEXT(" + std::to_string(c.size) + ")" : "LONG"};
      auto cur = db.Scan(t);
      std::vector<Value> row;
      if (cur.ok() && (*cur)->Next(&row).ok() && !row.empty() && !row[i].is_null()) {
        k.value = text ? "'" + row[i].text_value() + "'" : row[i].ToString();
      }
      return k;
    }
  }
  return std::nullopt;
}

// The SQL text of a saved query, read from its MSysQueries rows.
std::string StoredQueryText(Database& db, const std::string& name) {
  auto stored = db.QueryRows(name);
  EXPECT_TRUE(stored.ok()) << stored.status().ToString();
  if (!stored.ok()) return "";
  std::vector<sql::QueryRow> rows;
  for (const auto& v : *stored) {
    sql::QueryRow q;
    std::int64_t n = 0;
    EXPECT_TRUE(v[1].AsInt64(&n));
    q.attribute = static_cast<sql::QueryAttribute>(n);
    if (v[6].AsInt64(&n)) q.flag = static_cast<std::int16_t>(n);
    if (!v[3].is_null()) q.name1 = v[3].text_value();
    if (!v[4].is_null()) q.name2 = v[4].text_value();
    if (!v[5].is_null()) q.expression = v[5].text_value();
    rows.push_back(std::move(q));
  }
  auto text = sql::QueryRowsToSql(rows);
  EXPECT_TRUE(text.ok()) << text.status().ToString();
  return text.ok() ? *text : "";
}

// Creates and drops every kind of object in the file at `path`, checking the
// file after every step. Returns whether a relationship to one of the file's
// own tables was made.
bool WriteAndCheck(const std::string& path) {
  Contents before;
  std::vector<bool> used_before;
  std::optional<AccessKey> key;
  {
    auto db = Database::Open(path, {.read_only = true});
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    if (!db.ok()) return false;
    before = ReadAll(**db);
    used_before = PagesInUse(**db);
    key = FindAccessKey(**db);
  }
  std::vector<std::string> steps = {
      "CREATE TABLE vq_parent (id LONG NOT NULL PRIMARY KEY, name TEXT(40), note MEMO)",
      "INSERT INTO vq_parent VALUES (1, 'eins', 'kurz')",
      "INSERT INTO vq_parent (id, name, note) VALUES (2, 'zwei', '" + std::string(5000, 'z') + "')",
      "CREATE TABLE vq_child (id COUNTER PRIMARY KEY, parent_id LONG, ref " +
          (key ? key->type : "LONG") +
          ", CONSTRAINT fk_vq FOREIGN KEY (parent_id) REFERENCES vq_parent (id))",
      "INSERT INTO vq_child (parent_id) VALUES (1)",
      "INSERT INTO vq_child (parent_id) VALUES (2)",
      "CREATE INDEX ix_vq_ref ON vq_child (ref, parent_id DESC)",
      "CREATE VIEW vq_view AS SELECT c.id AS id, p.name AS name FROM vq_child AS c, vq_parent AS p "
      "WHERE (c.parent_id = p.id)",
      "CREATE VIEW vq_union AS SELECT c.id AS id FROM vq_child AS c WHERE c.parent_id = 1 "
      "UNION ALL SELECT p.id FROM vq_parent AS p ORDER BY id DESC",
  };
  if (key) {
    steps.push_back(
        "ALTER TABLE vq_child ADD CONSTRAINT fk_vq_access FOREIGN KEY (ref) REFERENCES [" +
        key->table + "] ([" + key->column + "])");
    steps.push_back("INSERT INTO vq_child (parent_id, ref) VALUES (1, " + key->value + ")");
    steps.push_back("CREATE VIEW vq_access AS SELECT * FROM [" + key->table + "]");
    steps.push_back("DROP VIEW vq_access");
    steps.push_back("ALTER TABLE vq_child DROP CONSTRAINT fk_vq_access");
  }
  for (const char* s :
       {"DROP VIEW vq_union", "DROP VIEW vq_view", "DROP INDEX ix_vq_ref ON vq_child",
        "ALTER TABLE vq_child DROP CONSTRAINT fk_vq", "DROP TABLE vq_child",
        "DROP TABLE vq_parent"}) {
    steps.push_back(s);
  }
  std::vector<std::string> snapshots;  // the file after each step
  for (const std::string& step : steps) {
    SCOPED_TRACE(path + ": " + step);
    {
      auto db = Database::Open(path);
      EXPECT_TRUE(db.ok()) << db.status().ToString();
      if (!db.ok()) return false;
      sql::Executor exec(db->get());
      auto r = exec.Execute(step);
      EXPECT_TRUE(r.ok()) << r.status().ToString();
      if (!r.ok()) return false;
    }
    auto db = Database::Open(path, {.read_only = true});
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    if (!db.ok()) return false;
    Contents now = ReadAll(**db);
    for (const auto& [table, rows] : before) EXPECT_EQ(now[table], rows) << table;
    std::vector<bool> used = PagesInUse(**db);
    for (PageNumber p = 0; p < used_before.size(); ++p) {
      EXPECT_TRUE(!used_before[p] || used[p]) << "page " << p << " was in use and is now free";
    }
    CheckIndexes(**db, /*exact_counts=*/false);
    MdbToolsAccept(path);
    if ((*db)->IsQuery("vq_union")) {
      // The union query reads back whole, and mdb-queries lists it.
      EXPECT_EQ(StoredQueryText(**db, "vq_union"),
                "SELECT c.id AS id\nFROM vq_child AS c\nWHERE c.parent_id = 1\nUNION ALL\n"
                "SELECT p.id\nFROM vq_parent AS p\nORDER BY id DESC;");
      EXPECT_NE(RunCommand("mdb-queries -L -1 '" + path + "'").find("vq_union\n"),
                std::string::npos);
    }
    if (::testing::Test::HasFailure()) return false;
    snapshots.push_back(path + "." + std::to_string(snapshots.size()));
    fs::copy_file(path, snapshots.back(), fs::copy_options::overwrite_existing);
  }
  MdbReaderAccepts(snapshots);
  for (const auto& s : snapshots) fs::remove(s);
  // Everything made is gone again: the same tables, no query, no relationship.
  auto db = Database::Open(path, {.read_only = true});
  EXPECT_TRUE(db.ok());
  if (!db.ok()) return false;
  EXPECT_EQ(ReadAll(**db).size(), before.size());
  EXPECT_FALSE((*db)->IsQuery("vq_view"));
  EXPECT_FALSE((*db)->IsQuery("vq_access"));
  return key.has_value();
}

std::string Copy(const std::string& from, const std::string& name) {
  std::string path = testing::TempPath(name);
  fs::copy_file(from, path, fs::copy_options::overwrite_existing);
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
  return path;
}

TEST(AccessFiles, EveryKindOfObjectComesAndGoesInEveryReferenceFile) {
  if (!testing::HaveShared()) GTEST_SKIP() << "reference files absent";
  if (!testing::HaveMdbTools()) GTEST_SKIP() << "mdbtools absent";
  int with_access_key = 0;
  for (const auto& entry : fs::directory_iterator(testing::TestDataDir() + "/reference-mdb")) {
    if (entry.path().extension() != ".mdb") continue;
    SCOPED_TRACE(entry.path().filename().string());
    std::string path = Copy(entry.path().string(), "acc_" + entry.path().filename().string());
    with_access_key += WriteAndCheck(path) ? 1 : 0;
  }
  // indexTestV2000 and queryTestV2000 have tables with primary keys.
  EXPECT_GE(with_access_key, 2);
}

// A file whose global usage map is of the list-of-map-pages kind, as Access
// writes some: page 1 holds a 101-byte row 0 of type 1 with 25 slots, none
// naming a bitmap page: 24 zeros and 0xFFFFFF80 in the last one (so no page
// of the file is free), then row 1 of 69 zero bytes. Made here from a file of
// our own whose page 1 is rewritten that way.
std::string ListMapFile() {
  std::string path = testing::TempPath("list_map.mdb");
  {
    auto db = Database::Create(path);
    EXPECT_TRUE(db.ok());
    sql::Executor exec(db->get());
    EXPECT_TRUE(exec.Execute("CREATE TABLE Kunden (Nr LONG NOT NULL PRIMARY KEY, Name TEXT(30), "
                             "Notiz MEMO)")
                    .ok());
    for (int i = 1; i <= 200; ++i) {
      auto r = exec.Execute("INSERT INTO Kunden VALUES (" + std::to_string(i) + ", 'Kunde " +
                            std::to_string(i) + "', '" + std::string(i * 37 % 4500, 'n') + "')");
      EXPECT_TRUE(r.ok()) << r.status().ToString();
    }
  }
  Page p{};
  DataPage dp(p, kGlobalMapPage);
  dp.Init(kGlobalMapPage);
  std::vector<std::uint8_t> row0(101, 0);
  row0[0] = 1;
  Put32(MutableBytes(row0), 97, 0xFFFFFF80u);
  dp.Add(Bytes(row0));
  dp.Add(Bytes(std::vector<std::uint8_t>(69, 0)));
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  EXPECT_NE(f, nullptr);
  if (!f) return path;
  std::fseek(f, kPageSize * kGlobalMapPage, SEEK_SET);
  EXPECT_EQ(std::fwrite(p.data(), 1, p.size(), f), p.size());
  std::fclose(f);
  return path;
}

TEST(AccessFiles, ListUsageMapFileTakesWritesAndKeepsItsPages) {
  if (!testing::HaveMdbTools()) GTEST_SKIP() << "mdbtools absent";
  std::string path = ListMapFile();
  PageNumber pages = 0;
  {
    auto db = Database::Open(path, {.read_only = true});
    ASSERT_TRUE(db.ok());
    pages = DatabaseInternals::Store(**db).PageCount();
    auto used = PagesInUse(**db);
    EXPECT_TRUE(std::all_of(used.begin(), used.end(), [](bool u) { return u; }));
  }
  EXPECT_TRUE(WriteAndCheck(path));
  // Pages the drops released are free now, and only pages past the
  // original end.
  auto db = Database::Open(path);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  EXPECT_GT(DatabaseInternals::Pages(**db).FreePageCount(), 0u);
  for (PageNumber p = 0; p < pages; ++p)
    EXPECT_FALSE(DatabaseInternals::Pages(**db).IsFree(p)) << p;
  (*db).reset();
  auto back = Database::Open(path, {.read_only = true});
  ASSERT_TRUE(back.ok());
  // The map row keeps its length and its last slot's bytes.
  Page p1;
  ASSERT_TRUE(DatabaseInternals::Store(**back).ReadPage(kGlobalMapPage, p1).ok());
  DataPage dp(p1, kGlobalMapPage);
  auto s = dp.Slot(0);
  ASSERT_TRUE(s.ok());
  ASSERT_EQ(s->size(), 101u);
  EXPECT_EQ(Get32(dp.RowBytes(*s), 97), 0xFFFFFF80u);
  EXPECT_NE(Get32(dp.RowBytes(*s), 1), 0u);  // slot 0 now names a bitmap page
}

// The Ids of the catalogue, by object name.
std::map<std::string, std::int64_t> ObjectIds(Database& db) {
  std::map<std::string, std::int64_t> ids;
  auto info = db.GetTable("MSysObjects");
  EXPECT_TRUE(info.ok());
  if (!info.ok()) return ids;
  std::size_t id_col = 0, name_col = 0;
  for (std::size_t i = 0; i < info->columns.size(); ++i) {
    if (info->columns[i].name == "Id") id_col = i;
    if (info->columns[i].name == "Name") name_col = i;
  }
  auto cur = db.Scan("MSysObjects");
  EXPECT_TRUE(cur.ok());
  if (!cur.ok()) return ids;
  std::vector<Value> row;
  for (;;) {
    auto more = (*cur)->Next(&row);
    EXPECT_TRUE(more.ok());
    if (!more.ok() || !*more) break;
    std::int64_t id = 0;
    EXPECT_TRUE(row[id_col].AsInt64(&id));
    ids[row[name_col].text_value()] = id;
  }
  return ids;
}

constexpr std::int64_t kMinId = -2147483648LL;

// Objects without a definition page are numbered as Access numbers them:
// upwards from -2147483648, after the highest negative Id in use; an Id that
// only stray MSysQueries rows name is in use too, and when -1 is taken the
// lowest free Id is next.
TEST(AccessFiles, NewObjectIdsCountUpAsAccessCountsThem) {
  std::string path = testing::TempPath("ids.mdb");
  auto db = Database::Create(path);
  ASSERT_TRUE(db.ok());
  sql::Executor exec(db->get());
  for (const char* s : {"CREATE TABLE a (id LONG PRIMARY KEY)",
                        "CREATE TABLE b (x LONG, CONSTRAINT r FOREIGN KEY (x) REFERENCES a (id))",
                        "CREATE VIEW v1 AS SELECT id FROM a", "CREATE VIEW v2 AS SELECT x FROM b",
                        "DROP VIEW v2", "CREATE VIEW v3 AS SELECT x FROM b"}) {
    ASSERT_TRUE(exec.Execute(s).ok()) << s;
  }
  auto ids = ObjectIds(**db);
  EXPECT_EQ(ids["r"], kMinId);
  EXPECT_EQ(ids["v1"], kMinId + 1);
  EXPECT_EQ(ids["v3"], kMinId + 2);
  // Stray MSysQueries rows (no catalogue row) at the next Id and at -1.
  auto q = (*db)->GetTable("MSysQueries");
  ASSERT_TRUE(q.ok());
  for (std::int64_t stray : {kMinId + 3, std::int64_t{-1}}) {
    std::vector<Value> row(q->columns.size());
    row[0] = Value::Long(static_cast<std::int32_t>(stray));
    row[1] = Value::Byte(0);
    ASSERT_TRUE((*db)->Insert("MSysQueries", row).ok());
  }
  ASSERT_TRUE(exec.Execute("CREATE VIEW v4 AS SELECT id FROM a").ok());
  ids = ObjectIds(**db);
  EXPECT_EQ(ids["v4"], kMinId + 4);
  auto rows = (*db)->QueryRows("v4");
  ASSERT_TRUE(rows.ok());
  for (const auto& r : *rows) EXPECT_EQ(r[0].long_value(), kMinId + 4);

  // An Access file: the next Id follows its highest one.
  if (!testing::HaveShared()) return;
  std::string copy = Copy(testing::ReferenceFile("indexTestV2000.mdb"), "ids_access.mdb");
  auto adb = Database::Open(copy);
  ASSERT_TRUE(adb.ok());
  std::int64_t top = kMinId;
  for (const auto& [name, id] : ObjectIds(**adb)) {
    if (id < 0) top = std::max(top, id);
  }
  ASSERT_GT(top, kMinId);  // the file holds -2147483648 and more
  sql::Executor aexec(adb->get());
  ASSERT_TRUE(aexec.Execute("CREATE VIEW v AS SELECT * FROM Table1").ok());
  EXPECT_EQ(ObjectIds(**adb)["v"], top + 1);
}

// Rows Access moved off their page (an overflow pointer to a row flagged
// deleted, as Access flags it) are read and deleted like any other, and the
// definition of a table that lost a column in Access is written back whole.
TEST(AccessFiles, OverflowRowsOfAccessAreReadAndDeleted) {
  if (!testing::HaveShared()) GTEST_SKIP() << "reference files absent";
  if (!testing::HaveMdbTools()) GTEST_SKIP() << "mdbtools absent";
  std::string path = Copy(testing::ReferenceFile("overflowTestV2000.mdb"), "overflow_del.mdb");
  auto db = Database::Open(path);
  ASSERT_TRUE(db.ok());
  sql::Executor exec(db->get());
  auto tables = (*db)->ListTables();
  ASSERT_TRUE(tables.ok());
  for (const auto& t : *tables) {
    auto r = exec.Execute("DELETE FROM [" + t + "]");
    ASSERT_TRUE(r.ok()) << t << ": " << r.status().ToString();
    EXPECT_GT(r->rows_affected, 0u) << t;
  }
  // Table1 lost a column in Access (its variable indexes skip one): a new
  // row keeps every value.
  auto info = (*db)->GetTable("Table1");
  ASSERT_TRUE(info.ok());
  std::vector<Value> row;
  for (const auto& c : info->columns) row.push_back(Value::Text("neu " + c.name));
  ASSERT_TRUE((*db)->Insert("Table1", row).ok());
  (*db).reset();
  auto back = Database::Open(path, {.read_only = true});
  ASSERT_TRUE(back.ok());
  Contents all = ReadAll(**back);
  for (const auto& [t, rows] : all) {
    if (t != "Table1") {
      EXPECT_TRUE(rows.empty()) << t;
    }
  }
  std::string want;
  for (const auto& v : row) want += v.ToString() + "\x1f";
  EXPECT_EQ(all["Table1"], std::vector<std::string>{want});
  std::vector<std::string> errors;
  EXPECT_EQ(testing::CompareTableWithMdbExport(**back, path, "Table1", &errors), 1u);
  for (const auto& e : errors) ADD_FAILURE() << e;
  CheckIndexes(**back, /*exact_counts=*/false);
  MdbToolsAccept(path);
  MdbReaderAccepts({path});
}

// Up to 255 columns: a definition over several pages takes indexes and rows
// and every reader reads it; a table whose rows cannot fit a page is refused
// before anything is written.
TEST(AccessFiles, WideTablesSpanPagesOrAreRefusedWhole) {
  if (!testing::HaveMdbTools()) GTEST_SKIP() << "mdbtools absent";
  std::string path = testing::TempPath("wide.mdb");
  auto db = Database::Create(path);
  ASSERT_TRUE(db.ok());
  sql::Executor exec(db->get());
  std::string decimals = "CREATE TABLE dec250 (";
  for (int i = 0; i < 250; ++i)
    decimals += (i ? ", d" : "d") + std::to_string(i) + " DECIMAL(10,2)";
  const PageNumber pages = DatabaseInternals::Store(**db).PageCount();
  const std::size_t objects = ObjectIds(**db).size();
  auto refused = exec.Execute(decimals + ")");
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.status().message().find("Too many fields defined."), std::string::npos)
      << refused.status().ToString();
  EXPECT_EQ(DatabaseInternals::Store(**db).PageCount(), pages);
  EXPECT_EQ(DatabaseInternals::Pages(**db).FreePageCount(), 0u);
  EXPECT_EQ(ObjectIds(**db).size(), objects);

  std::string wide = "CREATE TABLE wide (";
  std::string values = "INSERT INTO wide VALUES (";
  for (int i = 0; i < 255; ++i) {
    std::string name = "c" + std::to_string(i) + "_" + std::string(58, 'x');
    const char* type = i % 3 == 0 ? " LONG" : i % 3 == 1 ? " TEXT(10)" : " MEMO";
    wide += (i ? ", " : "") + name + type;
    values += (i ? ", " : "") + (i % 3 == 0 ? std::to_string(i) : "'v" + std::to_string(i) + "'");
  }
  ASSERT_TRUE(exec.Execute(wide + ")").ok());
  std::string c0 = "c0_" + std::string(58, 'x'), c3 = "c3_" + std::string(58, 'x');
  ASSERT_TRUE(exec.Execute("ALTER TABLE wide ADD PRIMARY KEY (" + c0 + ")").ok());
  ASSERT_TRUE(exec.Execute("CREATE INDEX ix_wide ON wide (" + c3 + " DESC)").ok());
  auto ins = exec.Execute(values + ")");
  ASSERT_TRUE(ins.ok()) << ins.status().ToString();
  auto info = (*db)->GetTable("wide");
  ASSERT_TRUE(info.ok());
  auto chain = TableDefPages(DatabaseInternals::Store(**db), info->tdef_page);
  ASSERT_TRUE(chain.ok());
  EXPECT_GE(chain->size(), 5u);  // 255 descriptors and 64-character names
  (*db).reset();
  auto back = Database::Open(path, {.read_only = true});
  ASSERT_TRUE(back.ok());
  std::vector<std::string> errors;
  EXPECT_EQ(testing::CompareTableWithMdbExport(**back, path, "wide", &errors), 1u);
  for (const auto& e : errors) ADD_FAILURE() << e;
  auto winfo = (*back)->GetTable("wide");
  ASSERT_TRUE(winfo.ok());
  EXPECT_EQ(winfo->columns.size(), 255u);
  EXPECT_EQ(winfo->indexes.size(), 2u);
  CheckIndexes(**back);
  MdbToolsAccept(path);
  MdbReaderAccepts({path});
}

}  // namespace
}  // namespace velquin::jet
