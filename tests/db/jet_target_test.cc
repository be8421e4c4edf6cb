// The Access target: JetSession under the statement routines, its schema
// rowsets, the database and table operations, the target's property list and
// both AccessTypeName tables.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "db/access_operations.h"
#include "db/jet_session.h"
#include "db/statements.h"

namespace velquin {
namespace {

namespace fs = std::filesystem;

std::string TempDir() {
  auto dir = fs::temp_directory_path() / ("velquin_jet_target_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  return dir.string() + "/";
}

std::string FreshPath(const std::string& name) {
  std::string p = TempDir() + name;
  fs::remove(p);
  return p;
}

struct Lines {
  std::vector<std::string> lines;
  LineSink sink() {
    return [this](const std::string& l) { lines.push_back(l); };
  }
};

// ----- AccessTypeName, both tables row by row -----

struct TypeCase {
  std::uint32_t flags;
  int type;
  std::uint64_t length;
  const char* expected;
};

const TypeCase kJetCases[] = {
    // flags 234: long values; other types continue as flags 90.
    {234, 128, 0, "LONGBINARY"},
    {234, 130, 0, "LONGTEXT"},
    {234, 3, 0, "LONG"},
    {234, 11, 0, "BIT"},
    // flags 90 and 122: fixed-length types.
    {90, 2, 0, "SHORT"},
    {90, 3, 0, "LONG"},
    {90, 4, 0, "SINGLE"},
    {90, 5, 0, "NUMERIC"},
    {90, 6, 0, "CURRENCY"},
    {90, 131, 0, "CURRENCY"},
    {90, 7, 0, "DATETIME"},
    {90, 17, 0, "BYTE"},
    {90, 72, 0, "GUID"},
    {122, 2, 0, "SHORT"},
    {122, 7, 0, "DATETIME"},
    {122, 131, 0, "CURRENCY"},
    // ... falling through to 24, 106, 202, 74.
    {90, 11, 0, "BIT"},
    {122, 128, 0, "BINARY"},
    {90, 130, 0, "TEXT"},
    {122, 64, 0, "USERDEFINE"},
    // flags 24: AutoNumber and Yes/No.
    {24, 3, 0, "COUNTER"},
    {24, 11, 0, "BIT"},
    {24, 130, 0, "TEXT"},
    {24, 2, 0, "USERDEFINE"},
    // flags 106.
    {106, 128, 50, "BINARY"},
    {106, 130, 50, "TEXT"},
    {106, 3, 0, "USERDEFINE"},
    // flags 202: VARBINARY with the length, 512 when it is 0; text falls to 74.
    {202, 128, 100, "VARBINARY(100) "},
    {202, 128, 0, "VARBINARY(512) "},
    {202, 130, 40, "VARCHAR(40) "},
    {202, 7, 0, "USERDEFINE"},
    // flags 74.
    {74, 128, 16, "CHAR(16) "},
    {74, 130, 20, "VARCHAR(20) "},
    {74, 130, 0, "VARCHAR(0) "},
    {74, 3, 0, "USERDEFINE"},
    // anything else.
    {0, 3, 0, "USERDEFINE"},
    {66, 130, 10, "USERDEFINE"},
    {0xFFFFFFFFu, 128, 1, "USERDEFINE"},
};

const TypeCase kGeneralCases[] = {
    {232, 128, 0, "LONGBINARY"}, {232, 130, 0, "LONGTEXT"},   {232, 135, 0, "DATETIME"},
    {120, 2, 0, "SHORT"},        {120, 3, 0, "LONG"},         {120, 4, 0, "SINGLE"},
    {120, 5, 0, "NUMERIC"},      {120, 16, 0, "BYTE"},        {120, 72, 0, "GUID"},
    {120, 128, 8, "BINARY"},     {120, 131, 0, "CURRENCY"},   {120, 135, 0, "DATETIME"},
    {120, 11, 0, "BIT"},         {120, 130, 9, "CHAR(9)"},    {120, 6, 0, "USERDEFINE"},
    {120, 7, 0, "USERDEFINE"},   {120, 17, 0, "USERDEFINE"},  {24, 3, 0, "COUNTER"},
    {24, 11, 0, "BIT"},          {24, 128, 0, "VARBINARY "},  {104, 128, 255, "VARBINARY(255)"},
    {104, 128, 0, "VARBINARY "}, {104, 130, 30, "CHAR(30)"},  {104, 130, 0, "CHAR "},
    {104, 3, 0, "USERDEFINE"},   {234, 128, 0, "USERDEFINE"}, {90, 3, 0, "USERDEFINE"},
    {0, 130, 5, "USERDEFINE"},
};

TEST(AccessTypeName, JetProviderTableRowByRow) {
  for (const TypeCase& c : kJetCases) {
    SCOPED_TRACE(std::to_string(c.flags) + "/" + std::to_string(c.type));
    EXPECT_EQ(AccessTypeName(c.flags, c.type, c.length, "Microsoft.Jet.OLEDB.4.0"), c.expected);
  }
  // The provider is recognised without regard to case.
  EXPECT_EQ(AccessTypeName(24, 3, 0, "microsoft.jet.oledb.4.0"), "COUNTER");
}

TEST(AccessTypeName, OtherProvidersTableRowByRow) {
  for (const TypeCase& c : kGeneralCases) {
    SCOPED_TRACE(std::to_string(c.flags) + "/" + std::to_string(c.type));
    EXPECT_EQ(AccessTypeName(c.flags, c.type, c.length, "MSDASQL"), c.expected);
  }
}

// ----- JetSession under the statement routines -----

class JetSessionTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = FreshPath(std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) +
                      ".mdb");
    auto s = JetSession::Open(path_, true);
    ASSERT_TRUE(s.ok()) << s.status().ToString();
    session_ = std::move(*s);
  }
  std::string path_;
  std::unique_ptr<JetSession> session_;
  Lines out_;
};

TEST_F(JetSessionTest, ExecuteStatementReportsAsTheAccessLayerDoes) {
  EXPECT_TRUE(ExecuteStatement(session_.get(), "CREATE TABLE t (id LONG, name TEXT(20))", true,
                               out_.sink()));
  ASSERT_EQ(out_.lines.size(), 1u);
  EXPECT_EQ(out_.lines[0], "RESULT: The operation completed SUCCESSFULLY");
  // A failure is never counted as success: false and the description.
  EXPECT_FALSE(ExecuteStatement(session_.get(), "CREATE TABLE T (x LONG)", true, out_.sink()));
  ASSERT_EQ(out_.lines.size(), 2u);
  EXPECT_EQ(out_.lines[1], "T::Table 'T' already exists.");
  // Silent failure; a SELECT is true and writes nothing.
  EXPECT_FALSE(ExecuteStatement(session_.get(), "DROP TABLE nope", false, out_.sink()));
  EXPECT_TRUE(ExecuteStatement(session_.get(), "SELECT * FROM t", true, out_.sink()));
  EXPECT_EQ(out_.lines.size(), 2u);
  EXPECT_FALSE(ExecuteStatement(nullptr, "SELECT 1", false, out_.sink()));
  EXPECT_EQ(out_.lines.back(), "E::No Connection!");
}

TEST_F(JetSessionTest, QueryValuesArriveWholeAsTextWithNullStatus) {
  ASSERT_TRUE(session_->Execute("CREATE TABLE t (id LONG, note MEMO, ok BIT, d DATETIME)").ok());
  const std::string long_text(20000, 'x');
  ASSERT_TRUE(
      session_
          ->Execute("INSERT INTO t VALUES (1, '" + long_text + "', TRUE, #2024-02-29 13:14:15#)")
          .ok());
  ASSERT_TRUE(session_->Execute("INSERT INTO t (id) VALUES (2)").ok());
  auto cur = session_->OpenQuery("SELECT id, note, ok, d FROM t ORDER BY id");
  ASSERT_TRUE(cur.ok()) << cur.status().ToString();
  ASSERT_EQ((*cur)->Columns().size(), 4u);
  EXPECT_EQ((*cur)->Columns()[1].name, "note");
  ASSERT_TRUE(*(*cur)->MoveNext());
  EXPECT_EQ((*cur)->Value(0), "1");
  EXPECT_EQ((*cur)->Value(1).size(), 20000u);  // no 8191-byte cut
  EXPECT_EQ((*cur)->Value(2), "True");
  EXPECT_EQ((*cur)->Value(3), "2024-02-29 13:14:15");
  ASSERT_TRUE(*(*cur)->MoveNext());
  EXPECT_TRUE((*cur)->IsNull(1));
  EXPECT_EQ((*cur)->Value(1), "");  // never the earlier row's text
  EXPECT_EQ((*cur)->Value(2), "False");
  EXPECT_FALSE(*(*cur)->MoveNext());
  auto bad = session_->OpenQuery("SELECT * FROM missing");
  ASSERT_FALSE(bad.ok());
  EXPECT_NE(bad.status().message().find("'missing'"), std::string::npos);
}

TEST_F(JetSessionTest, CatalogueRowsetsDescribeTablesViewsColumnsAndIndexes) {
  ASSERT_TRUE(session_
                  ->Execute("CREATE TABLE t (id COUNTER, code TEXT(12) NOT NULL, note MEMO, "
                            "amount CURRENCY, flag BIT, PRIMARY KEY (id))")
                  .ok());
  ASSERT_TRUE(session_->Execute("CREATE INDEX ix_code ON t (code DESC)").ok());
  ASSERT_TRUE(session_->Execute("CREATE VIEW v AS SELECT code FROM t").ok());
  auto tables = session_->OpenSchemaRowset(SchemaRowset::kTables, {});
  ASSERT_TRUE(tables.ok());
  std::map<std::string, std::string> types;
  while (*(*tables)->MoveNext()) types[(*tables)->Value(2)] = (*tables)->Value(3);
  EXPECT_EQ(types["t"], "TABLE");
  EXPECT_EQ(types["v"], "VIEW");
  EXPECT_EQ(types["MSysObjects"], "SYSTEM TABLE");
  auto only_views = session_->OpenSchemaRowset(SchemaRowset::kTables,
                                               {std::nullopt, std::nullopt, std::nullopt, "VIEW"});
  ASSERT_TRUE(only_views.ok());
  ASSERT_TRUE(*(*only_views)->MoveNext());
  EXPECT_EQ((*only_views)->Value(2), "v");
  EXPECT_FALSE(*(*only_views)->MoveNext());

  // Column flags and types read back through the Jet AccessTypeName table.
  auto cols = session_->OpenSchemaRowset(SchemaRowset::kColumns, {std::nullopt, std::nullopt, "T"});
  ASSERT_TRUE(cols.ok());
  std::vector<std::string> names;
  std::map<std::string, std::string> access_types;
  while (*(*cols)->MoveNext()) {
    const auto& c = (*cols)->Columns();
    auto at = [&](const char* n) {
      for (std::size_t i = 0; i < c.size(); ++i) {
        if (c[i].name == n) return (*cols)->IsNull(i) ? std::string() : (*cols)->Value(i);
      }
      return std::string("?");
    };
    names.push_back(at("COLUMN_NAME"));
    std::string len = at("CHARACTER_MAXIMUM_LENGTH");
    access_types[at("COLUMN_NAME")] =
        AccessTypeName(std::stoul(at("COLUMN_FLAGS")), std::stoi(at("DATA_TYPE")),
                       len.empty() ? 0 : std::stoull(len), kJetProgId);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"id", "code", "note", "amount", "flag"}));
  EXPECT_EQ(access_types["id"], "COUNTER");
  EXPECT_EQ(access_types["code"], "VARCHAR(12) ");  // NOT NULL text: flags 74
  EXPECT_EQ(access_types["note"], "LONGTEXT");
  EXPECT_EQ(access_types["amount"], "CURRENCY");
  EXPECT_EQ(access_types["flag"], "BIT");

  auto idx = session_->OpenSchemaRowset(SchemaRowset::kIndexes,
                                        {std::nullopt, std::nullopt, "ix_code", std::nullopt, "t"});
  ASSERT_TRUE(idx.ok());
  ASSERT_TRUE(*(*idx)->MoveNext());
  EXPECT_EQ((*idx)->Value(5), "ix_code");  // INDEX_NAME
  EXPECT_EQ((*idx)->Value(6), "False");    // PRIMARY_KEY
  EXPECT_EQ((*idx)->Value(17), "code");    // COLUMN_NAME
  EXPECT_EQ((*idx)->Value(20), "2");       // COLLATION: descending
  EXPECT_FALSE(*(*idx)->MoveNext());
}

// A column's default is reported as the provider reports the DefaultValue
// property: COLUMN_HASDEFAULT and the stored text in COLUMN_DEFAULT.
TEST_F(JetSessionTest, ColumnsRowsetReportsDefaults) {
  ASSERT_TRUE(
      session_->Execute("CREATE TABLE d (n LONG DEFAULT 0, s TEXT(5) DEFAULT 'x', p LONG)").ok());
  auto cols = session_->OpenSchemaRowset(SchemaRowset::kColumns, {std::nullopt, std::nullopt, "d"});
  ASSERT_TRUE(cols.ok());
  std::map<std::string, std::pair<std::string, std::string>> got;  // name -> has, default
  while (*(*cols)->MoveNext()) {
    const auto& c = (*cols)->Columns();
    auto at = [&](const char* n) {
      for (std::size_t i = 0; i < c.size(); ++i) {
        if (c[i].name == n) return (*cols)->IsNull(i) ? std::string("NULL") : (*cols)->Value(i);
      }
      return std::string("?");
    };
    got[at("COLUMN_NAME")] = {at("COLUMN_HASDEFAULT"), at("COLUMN_DEFAULT")};
  }
  EXPECT_EQ(got["n"], std::make_pair(std::string("True"), std::string("0")));
  EXPECT_EQ(got["s"], std::make_pair(std::string("True"), std::string("\"x\"")));
  EXPECT_EQ(got["p"], std::make_pair(std::string("False"), std::string("NULL")));
}

TEST_F(JetSessionTest, InsertRowTakesTheFastPathWithTheSameChecks) {
  ASSERT_TRUE(
      session_->Execute("CREATE TABLE t (id LONG NOT NULL PRIMARY KEY, name TEXT(5))").ok());
  EXPECT_TRUE(session_->InsertRow("t", {jet::Value::Long(1), jet::Value::Text("a")}).ok());
  Status dup = session_->InsertRow("t", {jet::Value::Long(1), jet::Value::Text("b")});
  EXPECT_FALSE(dup.ok());
  EXPECT_NE(dup.message().find("duplicate values"), std::string::npos);
  EXPECT_FALSE(session_->InsertRow("t", {jet::Value::Long(2)}).ok());
  auto cur = session_->OpenQuery("SELECT name FROM t");
  ASSERT_TRUE(cur.ok());
  ASSERT_TRUE(*(*cur)->MoveNext());
  EXPECT_EQ((*cur)->Value(0), "a");
  EXPECT_FALSE(*(*cur)->MoveNext());
}

// ----- target connection and Access operations -----

TEST(TargetProperties, JetListAndCatalog) {
  ConnectionDescriptor d;
  d.provider_prog_id = "Microsoft.Jet.OLEDB.4.0";
  d.source_name = "/data/Shop.mdb";
  d.user_id = "Admin";
  auto p = BuildTargetProperties(d);
  std::vector<std::uint32_t> ids;
  for (const auto& e : p) ids.push_back(e.id);
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{5, 6, 8, 9, 12, 59, 63, 64, 186, 160}));
  EXPECT_EQ(std::get<std::string>(p.back().value), ";COUNTRY=0;CP=1252;LANGID=0x0409");
  EXPECT_EQ(std::get<std::int16_t>(p[7].value), 4);
  EXPECT_EQ(d.catalog, "/data/Shop");  // case kept
  d.source_name = "/data/a.mdb.old";
  BuildTargetProperties(d);
  EXPECT_EQ(d.catalog, "/data/a.mdb.old");
}

TEST(TargetProperties, OtherProviderNamesTheAccessDriver) {
  ConnectionDescriptor d;
  d.provider_prog_id = "MSDASQL";
  d.catalog = "x";
  ::setenv("USERPROFILE", "/home/u", 1);
  auto p = BuildTargetProperties(d);
  EXPECT_EQ(p[5].id, 233u);
  EXPECT_EQ(std::get<std::string>(p.back().value),
            "Driver={Microsoft Access Driver (*.mdb)};SystemDB=/home/u\\Application "
            "Data\\Microsoft\\Access\\System.MDW;");
  EXPECT_EQ(d.catalog, "x");
}

TEST(AccessOperations, CreateConnectRenameDropAndSwitch) {
  const std::string dir = TempDir() + "ops/";
  fs::remove_all(dir);
  fs::create_directories(dir);
  TargetContext t;
  t.descriptor.provider_prog_id = std::string(kJetProgId);
  t.current_path = dir + "Current";
  std::vector<std::string> boxes;
  t.message_box = [&](const std::string& m) { boxes.push_back(m); };
  Lines out;
  // A bare name goes into the current database's folder, ".mdb" appended.
  ASSERT_TRUE(CreateAccessDatabase(t, "Shop", true, out.sink()));
  EXPECT_EQ(out.lines.back(), "Create Access MDB File [" + dir + "Shop.mdb]");
  EXPECT_TRUE(fs::exists(dir + "Shop.mdb"));
  // The test for ".mdb" is case-sensitive.
  ASSERT_TRUE(CreateAccessDatabase(t, "Big.MDB", true, out.sink()));
  EXPECT_TRUE(fs::exists(dir + "Big.MDB.mdb"));
  EXPECT_FALSE(CreateAccessDatabase(t, "Shop", true, out.sink()));  // exists already
  EXPECT_NE(out.lines.back().find("Create DB"), std::string::npos);

  ASSERT_TRUE(SwitchTargetDatabase(t, "Shop", out.sink()));
  ASSERT_TRUE(t.connected);
  EXPECT_EQ(t.descriptor.source_name, dir + "Shop.mdb");
  EXPECT_EQ(t.current_path, dir + "Shop");
  EXPECT_EQ(t.descriptor.dbms_name, "MS Jet[04.00.0000]");
  EXPECT_EQ(out.lines.back(), "RESULT: The operation completed SUCCESSFULLY");
  EXPECT_EQ(AccessDbmsName(t.session.get(), out.sink()), "");

  Session* s = t.session.get();
  ASSERT_TRUE(s->Execute("CREATE TABLE [old one] (id LONG NOT NULL PRIMARY KEY, v TEXT(5))").ok());
  ASSERT_TRUE(s->Execute("INSERT INTO [old one] VALUES (7, 'x')").ok());
  ASSERT_TRUE(s->Execute("CREATE TABLE taken (id LONG)").ok());
  out.lines.clear();
  EXPECT_FALSE(RenameAccessTable(s, "old one", "taken", out.sink()));
  EXPECT_EQ(out.lines, (std::vector<std::string>{"Rename [old one] ERROR!"}));
  EXPECT_TRUE(RenameAccessTable(s, "old one", "new one", out.sink()));
  auto rows = s->OpenQuery("SELECT id, v FROM [new one]");
  ASSERT_TRUE(rows.ok());
  ASSERT_TRUE(*(*rows)->MoveNext());
  EXPECT_EQ((*rows)->Value(1), "x");
  EXPECT_FALSE(s->OpenQuery("SELECT * FROM [old one]").ok());
  // A table in a relationship is renamed whole: no copy is left behind and
  // the relationship holds under the new name, from either side.
  ASSERT_TRUE(s->Execute("CREATE TABLE kid (id LONG NOT NULL PRIMARY KEY, p LONG)").ok());
  ASSERT_TRUE(s->Execute("ALTER TABLE kid ADD CONSTRAINT fk_kid FOREIGN KEY (p) "
                         "REFERENCES [new one] (id)")
                  .ok());
  ASSERT_TRUE(RenameAccessTable(s, "new one", "parent", out.sink()));
  ASSERT_TRUE(RenameAccessTable(s, "kid", "child", out.sink()));
  EXPECT_FALSE(s->OpenQuery("SELECT * FROM [new one]").ok());
  EXPECT_FALSE(s->OpenQuery("SELECT * FROM kid").ok());
  EXPECT_TRUE(s->Execute("INSERT INTO child VALUES (1, 7)").ok());
  EXPECT_FALSE(s->Execute("INSERT INTO child VALUES (2, 8)").ok());
  EXPECT_FALSE(s->Execute("DROP TABLE parent").ok());  // still related
  // Related tables are dropped together, or not at all.
  auto* jet = dynamic_cast<JetSession*>(s);
  ASSERT_NE(jet, nullptr);
  EXPECT_FALSE(jet->database().DropTablesWithRelationships({"parent"}).ok());  // child stays
  EXPECT_TRUE(s->OpenQuery("SELECT * FROM parent").ok());
  ASSERT_TRUE(jet->database().DropTablesWithRelationships({"parent", "child"}).ok());
  EXPECT_FALSE(s->OpenQuery("SELECT * FROM child").ok());
  ASSERT_TRUE(s->Execute("CREATE TABLE parent (id LONG NOT NULL PRIMARY KEY)").ok());
  ASSERT_TRUE(s->Execute("CREATE TABLE child (id LONG NOT NULL PRIMARY KEY, p LONG)").ok());
  EXPECT_TRUE(s->Execute("ALTER TABLE child ADD CONSTRAINT fk_kid FOREIGN KEY (p) "
                         "REFERENCES parent (id)")
                  .ok());  // the relationship's name is free again

  out.lines.clear();
  EXPECT_TRUE(DropAccessTable(s, "taken", out.sink()));
  EXPECT_EQ(out.lines, (std::vector<std::string>{"drop table taken",
                                                 "RESULT: The operation completed SUCCESSFULLY"}));
  out.lines.clear();
  EXPECT_FALSE(DropAccessView(s, "nothing", out.sink()));
  EXPECT_EQ(out.lines,
            (std::vector<std::string>{"drop view nothing", "T::Query 'nothing' does not exist."}));

  // Dropping the connected database disconnects first.
  out.lines.clear();
  EXPECT_TRUE(DropAccessDatabase(t, dir + "Shop", out.sink()));
  EXPECT_FALSE(t.connected);
  EXPECT_EQ(t.session, nullptr);
  EXPECT_EQ(boxes,
            (std::vector<std::string>{"Connected Database Dropped, Please Connect Another!"}));
  EXPECT_EQ(out.lines.back(), "Drop Database SUCCESSFULLY!!!");
  EXPECT_FALSE(fs::exists(dir + "Shop.mdb"));
  EXPECT_FALSE(DropAccessDatabase(t, dir + "Shop", out.sink()));
  EXPECT_NE(out.lines.back().find("Drop Database"), std::string::npos);

  // Connecting to a file that is not there fails with the target's texts.
  boxes.clear();
  t.descriptor.source_name = dir + "missing.mdb";
  EXPECT_FALSE(ConnectTarget(t, out.sink()));
  EXPECT_EQ(boxes, (std::vector<std::string>{"Target Connection error!"}));
  EXPECT_EQ(t.help_text,
            "Target Connection error! Please comfirm target database connection properties !");
}

TEST(AccessOperations, NoSessionMeansNoConnection) {
  Lines out;
  EXPECT_EQ(AccessDbmsName(nullptr, out.sink()), "No Connection!");
  EXPECT_FALSE(RenameAccessTable(nullptr, "a", "b", out.sink()));
  EXPECT_FALSE(DropAccessTable(nullptr, "a", out.sink()));
  EXPECT_EQ(out.lines.back(), "E::No Connection!");
}

}  // namespace
}  // namespace velquin
