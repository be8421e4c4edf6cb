// Column defaults in the file: the "DefaultValue" property in a table's
// LvProp blob, written beside "Required", read back by this engine and by
// mdbtools, and read from Access-made files.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "jet/catalog/properties.h"
#include "jet/database.h"
#include "test_util.h"

namespace velquin::jet {
namespace {

using testing::Column;
using testing::ReferenceFile;
using testing::RunCommand;
using testing::TempPath;

TEST(PropertyBlobTest, ColumnPropertiesRoundTrip) {
  struct Case {
    const char* what;
    std::vector<ColumnProperties> columns;
  };
  const Case cases[] = {
      {"required only", {{.column = "a", .required = true}}},
      {"default only", {{.column = "n", .default_value = "0"}}},
      {"both on one column", {{.column = "s", .required = true, .default_value = "\"abc\""}}},
      {"several columns, mixed",
       {{.column = "id", .default_value = "0"},
        {.column = "when", .default_value = "Now()"},
        {.column = "name", .required = true},
        {.column = "Zoë €", .required = true, .default_value = "\"Ærø \"\"q\"\" 日本\""}}},
      {"longest default", {{.column = "t", .default_value = std::string(255, 'x')}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> blob = EncodeColumnProperties(c.columns);
    auto back = ReadColumnProperties(Bytes(blob));
    ASSERT_TRUE(back.ok()) << back.status().ToString();
    ASSERT_EQ(back->size(), c.columns.size());
    for (std::size_t i = 0; i < c.columns.size(); ++i) {
      EXPECT_EQ((*back)[i].column, c.columns[i].column);
      EXPECT_EQ((*back)[i].required, c.columns[i].required);
      EXPECT_EQ((*back)[i].default_value, c.columns[i].default_value);
    }
  }
  // Columns without a property get no block; no property at all, no blob.
  EXPECT_TRUE(EncodeColumnProperties({{.column = "plain"}}).empty());
  auto two = ReadColumnProperties(
      Bytes(EncodeColumnProperties({{.column = "plain"}, {.column = "d", .default_value = "1"}})));
  ASSERT_TRUE(two.ok());
  ASSERT_EQ(two->size(), 1u);
  EXPECT_EQ((*two)[0].column, "d");
}

// The bytes Access writes for DefaultValue = "0" on column "id" (seen in
// Access 2000 files): a MEMO property, DDL flag 1, UTF-16LE text without the
// compression marker.
TEST(PropertyBlobTest, DefaultValueBytesMatchAccess) {
  std::vector<std::uint8_t> blob = EncodeColumnProperties({{.column = "id", .default_value = "0"}});
  std::vector<std::uint8_t> names = {24, 0};  // "DefaultValue" in UTF-16LE
  for (char ch : std::string("DefaultValue")) {
    names.push_back(static_cast<std::uint8_t>(ch));
    names.push_back(0);
  }
  std::vector<std::uint8_t> expected = {'M', 'R', '2', 0};
  auto chunk = [&](std::uint16_t kind, const std::vector<std::uint8_t>& body) {
    std::uint32_t len = static_cast<std::uint32_t>(body.size() + 6);
    for (int i = 0; i < 4; ++i) expected.push_back(static_cast<std::uint8_t>(len >> (8 * i)));
    expected.push_back(static_cast<std::uint8_t>(kind));
    expected.push_back(static_cast<std::uint8_t>(kind >> 8));
    expected.insert(expected.end(), body.begin(), body.end());
  };
  chunk(0x80, names);
  chunk(0x00, {6, 0, 0, 0, 0, 0});  // the table's block: header length 6, empty name
  chunk(0x01, {10, 0, 0, 0,    4, 0, 'i', 0, 'd', 0,  // block header: length 10, name "id"
               10, 0, 1, 0x0C, 0, 0, 2,   0, '0', 0});
  EXPECT_EQ(blob, expected);
}

TEST(PropertyBlobTest, DamagedBlobsAreCorruption) {
  std::vector<std::uint8_t> blob = EncodeColumnProperties(
      {{.column = "id", .required = true, .default_value = "\"some text\""}});
  // Chunk starts: the name list, the table's block, the column's block.
  std::vector<std::size_t> starts = {4};
  while (starts.back() < blob.size())
    starts.push_back(starts.back() + Get32(Bytes(blob), starts.back()));
  ASSERT_EQ(starts.size(), 4u);
  ASSERT_EQ(starts.back(), blob.size());
  for (std::size_t cut = 4; cut < blob.size(); ++cut) {
    std::vector<std::uint8_t> part(blob.begin(), blob.begin() + cut);
    auto r = ReadColumnProperties(Bytes(part));
    std::size_t start = 4;
    for (std::size_t s : starts) {
      if (s <= cut) start = s;
    }
    // A chunk whose header is there but whose body is cut is refused; with
    // its header cut too, the whole chunks before it are read.
    if (cut - start >= 6) {
      EXPECT_EQ(r.status().code(), StatusCode::kCorruption) << cut;
    } else {
      ASSERT_TRUE(r.ok()) << cut;
      EXPECT_TRUE(r->empty()) << cut;
    }
  }
  // A property length past its block.
  std::vector<std::uint8_t> bad = blob;
  bad[bad.size() - 30] = 0xFF;  // the DefaultValue property's length
  EXPECT_FALSE(ReadColumnProperties(Bytes(bad)).ok());
  EXPECT_EQ(
      ReadColumnProperties(Bytes(std::vector<std::uint8_t>{'X', 'Y', 'Z', 0})).status().code(),
      StatusCode::kCorruption);
}

TableSpec DefaultsTable() {
  TableSpec t;
  t.name = "Defaults";
  t.columns = {Column("id", ColumnType::kLong),     Column("n", ColumnType::kLong),
               Column("s", ColumnType::kText, 20),  Column("when", ColumnType::kDateTime),
               Column("flag", ColumnType::kBool),   Column("memo", ColumnType::kMemo),
               Column("plain", ColumnType::kDouble)};
  t.columns[0].auto_increment = true;
  t.columns[1].default_value = "0";
  t.columns[1].not_null = true;
  t.columns[2].default_value = "\"Zoë \"\"q\"\"\"";
  t.columns[3].default_value = "Now()";
  t.columns[4].default_value = "True";
  t.columns[5].default_value = "#2001-01-01#";
  t.columns[5].not_null = true;
  t.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true}};
  return t;
}

void ExpectDefaults(Database& db) {
  const TableSpec want = DefaultsTable();
  auto info = db.GetTable("Defaults");
  ASSERT_TRUE(info.ok()) << info.status().ToString();
  auto spec = db.TableSpecOf("Defaults");
  ASSERT_TRUE(spec.ok()) << spec.status().ToString();
  ASSERT_EQ(info->columns.size(), want.columns.size());
  for (std::size_t i = 0; i < want.columns.size(); ++i) {
    SCOPED_TRACE(want.columns[i].name);
    EXPECT_EQ(info->columns[i].default_value, want.columns[i].default_value);
    EXPECT_EQ(info->columns[i].not_null, want.columns[i].not_null);
    EXPECT_EQ(spec->columns[i].default_value, want.columns[i].default_value);
  }
}

TEST(ColumnDefaultsTest, KeptInTheFileThroughReopenAndRebuild) {
  const std::string path = TempPath("defaults.mdb");
  {
    auto db = Database::Create(path);
    ASSERT_TRUE(db.ok());
    ASSERT_TRUE((*db)->CreateTable(DefaultsTable()).ok());
    ExpectDefaults(**db);
  }
  auto db = Database::Open(path);
  ASSERT_TRUE(db.ok());
  ExpectDefaults(**db);
  // A new index rebuilds the table; its properties come along.
  ASSERT_TRUE(
      (*db)->CreateIndex("Defaults", IndexSpec{.name = "ix_n", .columns = {{1, true}}}).ok());
  ExpectDefaults(**db);
  // NOT NULL is still enforced beside the default.
  EXPECT_EQ((*db)
                ->Insert("Defaults", {Value(), Value(), Value::Text("x"), Value(),
                                      Value::Bool(true), Value::Text("m"), Value()})
                .code(),
            StatusCode::kConstraint);
}

TEST(ColumnDefaultsTest, RefusedWhereAccessRefusesThem) {
  auto db = Database::CreateOn(std::make_unique<MemoryFile>());
  ASSERT_TRUE(db.ok());
  TableSpec t;
  t.name = "T";
  t.columns = {Column("id", ColumnType::kLong), Column("s", ColumnType::kText, 10)};
  t.columns[0].auto_increment = true;
  t.columns[0].default_value = "5";
  EXPECT_EQ((*db)->CreateTable(t).code(), StatusCode::kInvalidArgument);
  t.columns[0].default_value.clear();
  t.columns[1].default_value = "\"" + std::string(254, 'y') + "\"";  // 256 characters
  EXPECT_EQ((*db)->CreateTable(t).code(), StatusCode::kInvalidArgument);
  t.columns[1].default_value = "\"" + std::string(253, 'y') + "\"";  // 255
  EXPECT_TRUE((*db)->CreateTable(t).ok());
  EXPECT_EQ((*db)->GetTable("T")->columns[1].default_value.size(), 255u);
}

// mdb-prop prints a table's properties in blocks: "name: <column>" then one
// "\t<property>: <value>" line each. Column -> property -> value.
std::map<std::string, std::map<std::string, std::string>> MdbProp(const std::string& path,
                                                                  const std::string& table,
                                                                  int* status) {
  std::string out = RunCommand("mdb-prop '" + path + "' '" + table + "' 2>/dev/null", status);
  std::map<std::string, std::map<std::string, std::string>> props;
  std::istringstream in(out);
  std::string line, current;
  while (std::getline(in, line)) {
    if (line.rfind("name: ", 0) == 0) {
      current = line.substr(6);
    } else if (!line.empty() && line[0] == '\t') {
      auto colon = line.find(": ");
      if (colon != std::string::npos)
        props[current][line.substr(1, colon - 1)] = line.substr(colon + 2);
    }
  }
  return props;
}

TEST(ColumnDefaultsTest, MdbtoolsReadsTheProperties) {
  if (!testing::HaveMdbTools()) GTEST_SKIP() << "mdbtools absent";
  int st = 0;
  RunCommand("command -v mdb-prop >/dev/null 2>&1", &st);
  if (st != 0) GTEST_SKIP() << "mdb-prop absent";
  const std::string path = TempPath("defaults_mdbtools.mdb");
  {
    auto db = Database::Create(path);
    ASSERT_TRUE(db.ok());
    ASSERT_TRUE((*db)->CreateTable(DefaultsTable()).ok());
  }
  auto props = MdbProp(path, "Defaults", &st);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(props["n"]["DefaultValue"], "0");
  EXPECT_EQ(props["n"]["Required"], "yes");
  EXPECT_EQ(props["s"]["DefaultValue"], "\"Zoë \"\"q\"\"\"");
  EXPECT_EQ(props["s"].count("Required"), 0u);
  EXPECT_EQ(props["when"]["DefaultValue"], "Now()");
  EXPECT_EQ(props["flag"]["DefaultValue"], "True");
  EXPECT_EQ(props["memo"]["DefaultValue"], "#2001-01-01#");
  EXPECT_EQ(props["memo"]["Required"], "yes");
  EXPECT_EQ(props.count("plain"), 0u);
  EXPECT_EQ(props.count("id"), 0u);
}

// Access 2000 gives number fields DefaultValue "0"; the engine reads the
// same properties mdb-prop reads, table by table.
TEST(ColumnDefaultsTest, AccessMadeFilesShowTheirDefaults) {
  if (!testing::HaveShared()) GTEST_SKIP() << "reference files absent";
  {
    auto db = Database::Open(ReferenceFile("indexTestV2000.mdb"), {.read_only = true});
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    auto t = (*db)->GetTable("Table1");
    ASSERT_TRUE(t.ok()) << t.status().ToString();
    std::map<std::string, std::string> got;
    for (const auto& c : t->columns) got[c.name] = c.default_value;
    EXPECT_EQ(got["id"], "0");
    EXPECT_EQ(got["otherfk1"], "0");
    EXPECT_EQ(got["otherfk2"], "0");
    EXPECT_EQ(got["otherfk3"], "0");
    EXPECT_EQ(got["data"], "");
  }
  int st = 0;
  RunCommand("command -v mdb-prop >/dev/null 2>&1", &st);
  if (st != 0) GTEST_SKIP() << "mdb-prop absent";
  int with_default = 0;
  for (const char* file : {"compIndexTestV2000.mdb", "indexTestV2000.mdb",
                           "testIndexPropertiesV2000.mdb", "queryTestV2000.mdb"}) {
    const std::string path = ReferenceFile(file);
    auto db = Database::Open(path, {.read_only = true});
    ASSERT_TRUE(db.ok()) << file;
    auto tables = (*db)->ListTables();
    ASSERT_TRUE(tables.ok());
    for (const auto& name : *tables) {
      SCOPED_TRACE(std::string(file) + ": " + name);
      auto info = (*db)->GetTable(name);
      ASSERT_TRUE(info.ok()) << info.status().ToString();
      auto props = MdbProp(path, name, &st);
      for (const auto& c : info->columns) {
        auto it = props[c.name].find("DefaultValue");
        EXPECT_EQ(c.default_value, it == props[c.name].end() ? "" : it->second) << c.name;
        if (!c.default_value.empty()) ++with_default;
      }
    }
  }
  EXPECT_GE(with_default, 7);
}

}  // namespace
}  // namespace velquin::jet
