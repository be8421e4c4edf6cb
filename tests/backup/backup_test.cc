// Backup scripts and their restore: a database full of value traps goes
// through backup and restore into a new file, which must equal the first
// value by value, index by index, relationship by relationship and query by
// query, also as mdbtools and mdb-reader read the two files.
#include "backup/backup.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "../jet/core/test_util.h"
#include "backup/restore.h"
#include "backup/script_text.h"
#include "db/jet_session.h"

namespace velquin::backup {
namespace {

namespace fs = std::filesystem;
using jet::ColumnType;
using jet::Value;
using jet::testing::ReadAllRows;
using jet::testing::RunCommand;

fs::path FreshDir(const std::string& name) {
  fs::path p = fs::temp_directory_path() / ("velquin_backup_" + std::to_string(::getpid())) / name;
  fs::remove_all(p);
  fs::create_directories(p);
  return p;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::unique_ptr<JetSession> Create(const fs::path& path) {
  auto s = JetSession::Open(path.string(), true);
  EXPECT_TRUE(s.ok()) << s.status().ToString();
  return std::move(*s);
}

void Exec(JetSession& s, const std::string& sql) {
  auto r = s.Execute(sql);
  ASSERT_TRUE(r.ok()) << sql << ": " << r.status().ToString();
}

jet::DateTime Days(double d) { return jet::DateTime{d}; }

// Every type with its extremes, NULLs, quotes, line breaks, CJK, emoji, a
// 300 KB memo and binary values holding zero bytes.
void BuildTraps(JetSession& s) {
  Exec(s,
       "CREATE TABLE traps (id COUNTER PRIMARY KEY, yes BIT, b BYTE DEFAULT 7, sh SHORT, "
       "l LONG NOT NULL DEFAULT 0, m CURRENCY DEFAULT 12.3456, f SINGLE, d DOUBLE DEFAULT -1.5, "
       "dt DATETIME DEFAULT #2001-02-03 04:05:06#, bin BINARY(20), t TEXT(255) DEFAULT 'O''Brien', "
       "ole LONGBINARY, memo MEMO, g GUID, x DECIMAL(28, 6), small DECIMAL(5, 2) NOT NULL, "
       "code TEXT(10))");
  Exec(s, "CREATE UNIQUE INDEX ux_code ON traps (code DESC) WITH IGNORE NULL");
  Exec(s, "CREATE INDEX ix_pair ON traps (l, dt DESC, t)");
  jet::Database& db = s.database();
  auto guid = [](std::uint8_t fill) {
    jet::Guid g;
    for (std::size_t i = 0; i < 16; ++i) g.bytes[i] = static_cast<std::uint8_t>(fill + i * 17);
    return Value::Uuid(g);
  };
  auto dec = [](const char* text, std::uint8_t scale) {
    return Value::Numeric(*jet::Decimal::Parse(text, scale));
  };
  std::string memo;
  for (int i = 0; memo.size() < 300 * 1024; ++i)
    memo += "line " + std::to_string(i) + " 'é' 漢\r\n";
  std::vector<std::uint8_t> zeros = {0, 0, 1, 0, 255, 0};
  std::vector<std::uint8_t> ole(70000);
  for (std::size_t i = 0; i < ole.size(); ++i)
    ole[i] = static_cast<std::uint8_t>(i % 7 == 0 ? 0 : i);
  const std::vector<std::vector<Value>> rows = {
      {Value::Long(1), Value::Bool(true), Value::Byte(255), Value::Short(-32768),
       Value::Long(std::numeric_limits<std::int32_t>::max()),
       Value::Money({std::numeric_limits<std::int64_t>::max()}), Value::Single(FLT_MAX),
       Value::Double(DBL_MAX), Value::Date(jet::DateTime::FromParts(9999, 12, 31, 23, 59, 59, 999)),
       Value::Binary(zeros), Value::Text("it's \"quoted\"; [x] `y` -- ; 'end'"), Value::Binary(ole),
       Value::Text(memo), guid(1), dec("9999999999999999999999.999999", 6), dec("999.99", 2),
       Value::Text("A")},
      {Value::Long(2), Value::Bool(false), Value::Byte(0), Value::Short(32767),
       Value::Long(std::numeric_limits<std::int32_t>::min()),
       Value::Money({std::numeric_limits<std::int64_t>::min()}), Value::Single(-FLT_MIN),
       Value::Double(-DBL_MIN), Value::Date(jet::DateTime::FromParts(100, 1, 1)), Value::Binary({}),
       Value::Text("line1\nline2\r\nline3\rtab\tend"), Value::Binary({0}),
       Value::Text("漢字かな한국어 emoji 😀🎉 and a lone quote '"), guid(200),
       dec("-9999999999999999999999.999999", 6), dec("-999.99", 2), Value::Text("b")},
      {Value::Long(3), Value::Bool(false), Value::Null(), Value::Null(), Value::Long(0),
       Value::Null(), Value::Null(), Value::Null(), Value::Null(), Value::Null(), Value::Null(),
       Value::Null(), Value::Null(), Value::Null(), Value::Null(), dec("0", 2), Value::Null()},
      {Value::Long(7), Value::Bool(true), Value::Byte(1), Value::Short(-1), Value::Long(-1),
       Value::Money({1}), Value::Single(std::numeric_limits<float>::denorm_min()),
       Value::Double(0.1 + 0.2), Value::Date(Days(-0.5)), Value::Binary({0, 0, 0}), Value::Text(""),
       Value::Binary({}), Value::Text(""), guid(0), dec("0.000001", 6), dec("0.01", 2),
       Value::Text("")},
      {Value::Long(9), Value::Bool(true), Value::Byte(2), Value::Short(2), Value::Long(2),
       Value::Money({-1}), Value::Single(-0.0f), Value::Double(5e-324),
       Value::Date(Days(45000.123456789012)), Value::Binary({0x27, 0x3B, 0x0A}),
       Value::Text("semicolon; inside"), Value::Null(), Value::Text("NUL\x01 bytes"), guid(255),
       dec("123.4", 6), dec("-0.5", 2), Value::Text("c")},
  };
  for (const auto& r : rows) ASSERT_TRUE(db.Insert("traps", r).ok());

  // A table whose name holds a blank, with a composite key, a relationship
  // with rules onto traps, and rows in it.
  Exec(s,
       "CREATE TABLE [order lines] ([trap id] LONG NOT NULL, n SHORT NOT NULL, note TEXT(50), "
       "CONSTRAINT pk_lines PRIMARY KEY ([trap id], n))");
  Exec(s,
       "ALTER TABLE [order lines] ADD CONSTRAINT fk_lines_traps FOREIGN KEY ([trap id]) "
       "REFERENCES traps (id) ON UPDATE CASCADE ON DELETE CASCADE");
  Exec(s, "CREATE TABLE notes (id LONG PRIMARY KEY, trap LONG, body MEMO)");
  Exec(s,
       "ALTER TABLE notes ADD CONSTRAINT fk_notes FOREIGN KEY (trap) REFERENCES traps ON DELETE "
       "SET NULL");
  for (int i = 0; i < 2500; ++i) {
    Exec(s, "INSERT INTO [order lines] VALUES (" + std::to_string(i % 2 ? 1 : 2) + ", " +
                std::to_string(i) + ", 'n" + std::to_string(i) + "')");
  }
  Exec(s, "INSERT INTO notes VALUES (1, 7, 'x')");
  Exec(s, "CREATE TABLE empty (a LONG)");
  // Saved queries with a join, grouping, ordering and mixed-case literals,
  // one reading another.
  Exec(s,
       "CREATE VIEW [Lines Per Trap] AS SELECT t.id, t.t AS Title, Count(o.n) AS Lines FROM "
       "traps AS t INNER JOIN [order lines] AS o ON t.id = o.[trap id] WHERE t.t <> 'MiXeD "
       "Case' GROUP BY t.id, t.t HAVING Count(o.n) > 1 ORDER BY t.id DESC");
  Exec(s, "CREATE VIEW busy AS SELECT * FROM [Lines Per Trap] WHERE Lines > 1000");
}

std::vector<std::string> ViewRows(jet::Database& db, const std::string& view) {
  std::vector<std::string> out;
  auto stored = db.QueryRows(view);
  EXPECT_TRUE(stored.ok()) << stored.status().ToString();
  if (!stored.ok()) return out;
  auto rows = ToQueryRows(*stored);
  EXPECT_TRUE(rows.ok());
  for (const auto& q : *rows) {
    out.push_back(std::to_string(static_cast<int>(q.attribute)) + "|" +
                  (q.flag ? std::to_string(*q.flag) : "-") + "|" + q.name1.value_or("-") + "|" +
                  q.name2.value_or("-") + "|" + q.expression.value_or("-"));
  }
  return out;
}

std::string Describe(const jet::TableInfo& t) {
  std::string out = t.name + "\n";
  for (const auto& c : t.columns) {
    out += c.name + " " + std::to_string(static_cast<int>(c.type)) + " " + std::to_string(c.size) +
           " " + std::to_string(c.precision) + "," + std::to_string(c.scale) +
           (c.auto_increment ? " auto" : "") + (c.not_null ? " notnull" : "") + " [" +
           c.default_value + "]\n";
  }
  for (const auto& ix : t.indexes) {
    out += "index " + ix.name + (ix.primary_key ? " pk" : "") + (ix.unique ? " unique" : "") +
           (ix.ignore_nulls ? " ignorenull" : "") + (ix.required ? " required" : "") +
           (ix.foreign_key ? " fk" : "") + ":";
    for (const auto& [col, asc] : ix.columns) out += " " + col + (asc ? "" : " desc");
    out += "\n";
  }
  return out;
}

TEST(BackupRestoreTest, ValueTrapsComeBackEqualInEveryReader) {
  const fs::path dir = FreshDir("traps");
  const fs::path original = dir / "shop.mdb";
  const fs::path restored = dir / "restored.mdb";
  auto src = Create(original);
  BuildTraps(*src);
  if (HasFailure()) return;

  std::vector<std::string> lines;
  BackupOptions options;
  options.out = [&](const std::string& l) { lines.push_back(l); };
  Backup backup(dir / "backup", options);
  EXPECT_EQ(backup.BackupDatabaseTables(src.get(), (dir / "shop").string()), 0);
  EXPECT_EQ(backup.BackupDatabaseViews(src.get(), (dir / "shop").string()), 0);
  EXPECT_TRUE(backup.AllDone());
  for (const auto& r : backup.reports()) EXPECT_EQ(r.status, ObjectStatus::kDone) << r.message;

  auto dst = Create(restored);
  auto report = Restore(dir / "backup" / "shop", *dst, {});
  ASSERT_TRUE(report.ok()) << report.status().ToString();
  EXPECT_EQ(report->refused, 0u);
  EXPECT_EQ(report->tables, 4u);
  EXPECT_EQ(report->rows, 5u + 2500u + 1u);
  EXPECT_EQ(report->relationships, 2u);
  EXPECT_EQ(report->views, 2u);

  jet::Database& a = src->database();
  jet::Database& b = dst->database();
  auto names_a = a.ListTables(), names_b = b.ListTables();
  ASSERT_TRUE(names_a.ok() && names_b.ok());
  std::vector<std::string> sa = *names_a, sb = *names_b;
  std::sort(sa.begin(), sa.end());
  std::sort(sb.begin(), sb.end());
  ASSERT_EQ(sa, sb);
  for (const std::string& table : sa) {
    auto ia = a.GetTable(table), ib = b.GetTable(table);
    ASSERT_TRUE(ia.ok() && ib.ok());
    EXPECT_EQ(Describe(*ia), Describe(*ib));
    const auto ra = ReadAllRows(a, table), rb = ReadAllRows(b, table);
    ASSERT_EQ(ra.size(), rb.size()) << table;
    for (std::size_t r = 0; r < ra.size(); ++r) {
      for (std::size_t c = 0; c < ra[r].size(); ++c) {
        // Bitwise: -0.0 and 0.0 compare equal as doubles, but are two values.
        EXPECT_TRUE(ra[r][c] == rb[r][c] && ra[r][c].ToString() == rb[r][c].ToString())
            << table << " row " << r << " column " << ia->columns[c].name << ": "
            << ra[r][c].ToString().substr(0, 60) << " vs " << rb[r][c].ToString().substr(0, 60);
        if (ra[r][c].kind() == jet::ValueKind::kSingle &&
            rb[r][c].kind() == jet::ValueKind::kSingle) {
          EXPECT_EQ(std::signbit(ra[r][c].single_value()), std::signbit(rb[r][c].single_value()));
        }
      }
    }
  }
  auto rel_a = ReadRelationships(a), rel_b = ReadRelationships(b);
  ASSERT_TRUE(rel_a.ok() && rel_b.ok());
  std::vector<std::string> rels_a, rels_b;
  for (const auto& r : *rel_a) rels_a.push_back(RelationshipStatement(r));
  for (const auto& r : *rel_b) rels_b.push_back(RelationshipStatement(r));
  std::sort(rels_a.begin(), rels_a.end());
  std::sort(rels_b.begin(), rels_b.end());
  EXPECT_EQ(rels_a, rels_b);
  ASSERT_EQ(a.ListQueries().size(), b.ListQueries().size());
  for (const std::string& q : a.ListQueries()) EXPECT_EQ(ViewRows(a, q), ViewRows(b, q)) << q;

  // The independent readers see the same tables in both files.
  if (jet::testing::HaveMdbTools()) {
    for (const std::string& table : sa) {
      auto dump = [&](const fs::path& f) {
        return RunCommand("mdb-export -b hex -D '%Y-%m-%d %H:%M:%S' '" + f.string() + "' '" +
                          table + "'");
      };
      const std::string ea = dump(original);
      EXPECT_FALSE(ea.empty()) << table;
      EXPECT_TRUE(ea == dump(restored)) << table;
    }
    EXPECT_EQ(RunCommand("mdb-queries '" + original.string() + "' busy"),
              RunCommand("mdb-queries '" + restored.string() + "' busy"));
  }
  const std::string script = std::string(VELQUIN_SOURCE_DIR) + "/tests/readers/dump.js";
  if (fs::exists(std::string(VELQUIN_SOURCE_DIR) + "/tests/readers/node_modules/mdb-reader")) {
    // Table by table: the catalogue lists the restored tables in the order
    // they were made again.
    std::size_t compared = 0;
    for (const std::string& table : sa) {
      int sa_status = 0, sb_status = 0;
      auto dump = [&](const fs::path& f, int* status) {
        return RunCommand("TZ=UTC node '" + script + "' '" + f.string() + "' '" + table + "'",
                          status);
      };
      const std::string ja = dump(original, &sa_status), jb = dump(restored, &sb_status);
      EXPECT_EQ(sa_status, 0);
      EXPECT_EQ(sb_status, 0);
      compared += ja.size();
      const auto diff = std::mismatch(ja.begin(), ja.end(), jb.begin(), jb.end());
      EXPECT_TRUE(ja == jb) << table << ": first difference at byte " << (diff.first - ja.begin())
                            << ": " << std::string(diff.first, ja.end()).substr(0, 120) << " vs "
                            << std::string(diff.second, jb.end()).substr(0, 120);
    }
    EXPECT_GT(compared, 300u * 1024u);
  }
}

TEST(BackupTest, ScriptsLinesProgressStopAndAutoBackup) {
  const fs::path dir = FreshDir("lines");
  auto s = Create(dir / "db.mdb");
  Exec(*s, "CREATE TABLE [with blank] (a LONG, t TEXT(10))");
  for (int i = 0; i < 2500; ++i) {
    ASSERT_TRUE(s->database().Insert("with blank", {Value::Long(i), Value::Text("x")}).ok());
  }
  std::vector<std::string> lines;
  BackupOptions options;
  options.out = [&](const std::string& l) { lines.push_back(l); };
  Backup backup(dir / "root", options);
  ASSERT_EQ(backup.BackupDatabaseTables(s.get(), "C:\\data\\Shop"), 0);
  const fs::path base = dir / "root" / "Shop";
  EXPECT_EQ(backup.position(), base);
  const std::string tbl = ReadFile(base / "TABLES" / "with blank.tbl");
  const std::string data = ReadFile(base / "DATA" / "with blank.data");
  EXPECT_EQ(tbl, "CREATE TABLE [with blank] (a LONG, t TEXT(10));\r\n");
  EXPECT_EQ(data.substr(0, 48), "INSERT INTO [with blank] VALUES (0,'x');\r\nINSERT");
  for (std::size_t at = data.find('\n'); at != std::string::npos; at = data.find('\n', at + 1)) {
    ASSERT_EQ(data[at - 1], '\r') << at;
  }
  const std::vector<std::string> want = {
      "Backup Tables of database [C:\\data\\Shop]", "[with blank] 1000 records backuped!",
      "[with blank] 2000 records backuped!", "[with blank]    2500 records backuped!"};
  EXPECT_EQ(lines, want);

  // A stop request ends the rows after the row in progress, and the walk.
  Exec(*s, "CREATE TABLE zz (a LONG)");
  int asked = 0;
  lines.clear();
  options.stop_requested = [&] { return ++asked >= 3; };
  Backup stopping(dir / "root", options);
  stopping.BackupDatabaseTables(s.get(), "Shop");
  ASSERT_EQ(stopping.reports().size(), 1u);
  EXPECT_EQ(stopping.reports()[0].rows, 3u);
  EXPECT_EQ(stopping.reports()[0].status, ObjectStatus::kStopped);
  EXPECT_FALSE(stopping.AllDone());
  EXPECT_EQ(lines[lines.size() - 3], "Data Backup Terminaled!");
  EXPECT_EQ(lines.back(), "Tables Backup Terminaled!");

  // AutoBackup off: no data script at all (an earlier one goes), and the
  // log says so; a single table lands at the working position.
  options.stop_requested = nullptr;
  options.write_data = false;
  lines.clear();
  Backup no_data(dir / "root", options);
  EXPECT_EQ(no_data.BackupDatabaseTables(s.get(), "Shop"), 0);
  EXPECT_FALSE(fs::exists(base / "DATA" / "with blank.data"));
  EXPECT_EQ(lines[1], "[with blank] rows not backed up: AutoBackup is off");
  EXPECT_EQ(no_data.BackupTable(s.get(), "Shop", "zz"), 1);
  EXPECT_TRUE(fs::exists(base / "TABLES" / "zz.tbl"));
}

TEST(BackupTest, FileThatCannotBeCreatedFailsThatObjectAndTheWalkGoesOn) {
  const fs::path dir = FreshDir("badname");
  auto s = Create(dir / "db.mdb");
  Exec(*s, "CREATE TABLE [a/b] (a LONG)");
  Exec(*s, "CREATE TABLE good (a LONG)");
  std::vector<std::string> lines;
  BackupOptions options;
  options.out = [&](const std::string& l) { lines.push_back(l); };
  Backup backup(dir, options);
  EXPECT_EQ(backup.BackupDatabaseTables(s.get(), "db"), 0);
  ASSERT_EQ(backup.reports().size(), 2u);
  EXPECT_EQ(backup.reports()[0].status, ObjectStatus::kFailed);
  EXPECT_EQ(backup.reports()[1].status, ObjectStatus::kDone);
  EXPECT_FALSE(backup.AllDone());
  EXPECT_NE(std::find(lines.begin(), lines.end(), kLineCharsetHint), lines.end());
  EXPECT_TRUE(fs::exists(dir / "db" / "DATA" / "good.data"));
  EXPECT_EQ(backup.BackupTable(s.get(), "db", "a/b"), -2);
  // A database without views still gets its folder: its backup is one.
  EXPECT_EQ(backup.BackupDatabaseViews(s.get(), "db"), 0);
  EXPECT_TRUE(fs::is_directory(dir / "db" / "VIEWS"));
}

TEST(BackupTest, WindowsCodePageOnlyWhenEveryCharacterFits) {
  const fs::path dir = FreshDir("cp");
  auto s = Create(dir / "db.mdb");
  Exec(*s, "CREATE TABLE latin (t TEXT(20))");
  Exec(*s, "INSERT INTO latin VALUES ('café €')");
  Exec(*s, "CREATE TABLE cjk (t TEXT(20))");
  Exec(*s, "INSERT INTO cjk VALUES ('漢字')");
  BackupOptions options;
  options.encoding = ScriptEncoding::kWindows1252;
  Backup backup(dir, options);
  EXPECT_EQ(backup.BackupTable(s.get(), "db", "latin"), 1);
  EXPECT_EQ(backup.BackupTable(s.get(), "db", "cjk"), -1);
  EXPECT_EQ(ReadFile(dir / "DATA" / "latin.data"),
            "INSERT INTO latin VALUES ('caf\xE9 \x80');\r\n");
  EXPECT_FALSE(fs::exists(dir / "DATA" / "cjk.data"));

  auto dst = Create(dir / "back.mdb");
  RestoreOptions ro;
  ro.encoding = ScriptEncoding::kWindows1252;
  fs::remove(dir / "TABLES" / "cjk.tbl");
  auto report = Restore(dir, *dst, ro);
  ASSERT_TRUE(report.ok());
  EXPECT_EQ(report->refused, 0u);
  auto rows = ReadAllRows(dst->database(), "latin");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].text_value(), "café €");
}

TEST(StatementReaderTest, SplitsAtSemicolonsOutsideQuotesAndNames) {
  StatementReader reader(std::string("  A 'x;''y' \"q;\" [n;] `m;`;\r\n\r\nB\n'multi\nline';;  C"));
  std::string s;
  std::uint64_t line = 0;
  std::vector<std::pair<std::string, std::uint64_t>> got;
  while (reader.Next(&s, &line)) got.emplace_back(s, line);
  const std::vector<std::pair<std::string, std::uint64_t>> want = {
      {"A 'x;''y' \"q;\" [n;] `m;`", 1}, {"B\n'multi\nline'", 3}, {"C", 5}};
  EXPECT_EQ(got, want);
}

TEST(ScriptTextTest, LiteralsOfValuesNoLiteralHoldsAreRefused) {
  std::string out;
  EXPECT_FALSE(AppendLiteral(Value::Double(std::numeric_limits<double>::infinity()), &out));
  EXPECT_FALSE(AppendLiteral(Value::Single(std::nanf("")), &out));
  EXPECT_EQ(out, "");
  EXPECT_TRUE(AppendLiteral(Value::Date(jet::DateTime::FromParts(2024, 2, 29, 13, 5, 0, 7)), &out));
  EXPECT_EQ(out, "#2024-02-29 13:05:00.007#");
  EXPECT_EQ(DatabaseDirectoryName("D:/x/C:\\y\\shop"), "shop");
  EXPECT_EQ(DatabaseDirectoryName("/srv/data/shop"), "shop");
}

}  // namespace
}  // namespace velquin::backup
