// CSV and MySQL tab-separated readers, the CSV writer, text -> typed value
// conversion per column type, and the Jet SQL schema text.
#include "cli/mdb_text.h"

#include <gtest/gtest.h>

#include <limits>

#include "jet/database.h"
#include "jet/sql/executor.h"
#include "jet/sql/parser.h"

namespace velquin::cli {
namespace {

using jet::ColumnInfo;
using jet::ColumnType;
using jet::Value;

std::vector<Record> ReadAll(TextFormat f, std::string text, std::vector<std::string>* errors,
                            std::vector<StatusCode>* codes = nullptr) {
  RecordReader r(f, std::move(text));
  std::vector<Record> out;
  Record rec;
  for (int guard = 0; guard < 1000; ++guard) {
    auto got = r.Next(&rec);
    if (!got.ok()) {
      errors->push_back(got.status().message());
      if (codes) codes->push_back(got.status().code());
      continue;
    }
    if (!*got) break;
    out.push_back(rec);
  }
  return out;
}

TEST(CsvReaderTest, QuotingNullsAndLineNumbers) {
  std::vector<std::string> errors;
  auto recs = ReadAll(TextFormat::kCsv,
                      "a,b,c\r\n"
                      "1,,\"\"\n"
                      "\"x, y\",\"say \"\"hi\"\"\",\"two\nlines\"\n"
                      "last,row,no newline",
                      &errors);
  EXPECT_TRUE(errors.empty());
  ASSERT_EQ(recs.size(), 4u);
  EXPECT_EQ(recs[0].line, 1u);
  EXPECT_EQ(recs[1].line, 2u);
  ASSERT_EQ(recs[1].fields.size(), 3u);
  EXPECT_EQ(recs[1].fields[0], Field("1"));
  EXPECT_EQ(recs[1].fields[1], std::nullopt);  // empty unquoted: NULL
  EXPECT_EQ(recs[1].fields[2], Field(""));     // "" : empty text
  EXPECT_EQ(recs[2].line, 3u);
  EXPECT_EQ(recs[2].fields[0], Field("x, y"));
  EXPECT_EQ(recs[2].fields[1], Field("say \"hi\""));
  EXPECT_EQ(recs[2].fields[2], Field("two\nlines"));
  EXPECT_EQ(recs[3].line, 5u);  // the quoted line break counted
  EXPECT_EQ(recs[3].fields[2], Field("no newline"));
}

TEST(CsvReaderTest, MalformedRecordsAreErrorsAndReadingGoesOn) {
  std::vector<std::string> errors;
  std::vector<StatusCode> codes;
  auto recs = ReadAll(TextFormat::kCsv, "ok,1\nbad\"quote,2\n\"x\"y,3\nfine,4\n\"open,5\n", &errors,
                      &codes);
  ASSERT_EQ(errors.size(), 3u);
  // Only the open quote ends the input: the importer stops on that code.
  EXPECT_EQ(codes,
            (std::vector<StatusCode>{StatusCode::kInvalidArgument, StatusCode::kInvalidArgument,
                                     StatusCode::kCorruption}));
  EXPECT_NE(errors[0].find("line 2"), std::string::npos) << errors[0];
  EXPECT_NE(errors[1].find("line 3"), std::string::npos) << errors[1];
  EXPECT_NE(errors[2].find("line 5"), std::string::npos) << errors[2];
  EXPECT_NE(errors[2].find("not closed"), std::string::npos) << errors[2];
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[1].fields[0], Field("fine"));
  EXPECT_EQ(recs[1].line, 4u);
}

TEST(TsvReaderTest, MySqlClientEscapesAndNull) {
  std::vector<std::string> errors;
  std::string text =
      "id\tname\n"
      "1\t\\N\n"
      "2\ta\\tb\\nc\\\\d\\0e\\Zf\\bg\\rh\\'\n"
      "3\t\\\\N\n"  // the two characters \N, not NULL
      "4\t\\Nx\n"   // N after an escape is just text
      "5\t\n";      // empty text, not NULL
  auto recs = ReadAll(TextFormat::kTsv, text, &errors);
  EXPECT_TRUE(errors.empty());
  ASSERT_EQ(recs.size(), 6u);
  EXPECT_EQ(recs[1].fields[1], std::nullopt);
  EXPECT_EQ(recs[2].fields[1], Field(std::string("a\tb\nc\\d\0e\x1A"
                                                 "f\bg\rh'",
                                                 16)));
  EXPECT_EQ(recs[3].fields[1], Field("\\N"));
  EXPECT_EQ(recs[4].fields[1], Field("Nx"));
  EXPECT_EQ(recs[5].fields[1], Field(""));
  EXPECT_EQ(recs[5].line, 6u);
}

TEST(CsvReaderTest, ByteOrderMarkIsNotData) {
  std::vector<std::string> errors;
  auto recs = ReadAll(TextFormat::kCsv, "\xEF\xBB\xBFid,name\n1,x\n", &errors);
  EXPECT_TRUE(errors.empty());
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].fields[0], Field("id"));
  EXPECT_EQ(recs[1].line, 2u);
  // Only at the start: elsewhere the bytes are text.
  recs = ReadAll(TextFormat::kTsv,
                 "a\n\xEF\xBB\xBF"
                 "b\n",
                 &errors);
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[1].fields[0], Field("\xEF\xBB\xBF"
                                     "b"));
  EXPECT_TRUE(errors.empty());
}

TEST(TsvReaderTest, CrLfLineEndsAndMissingFinalNewline) {
  std::vector<std::string> errors;
  auto recs = ReadAll(TextFormat::kTsv, "1\tx\r\n2\ty", &errors);
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].fields[1], Field("x"));
  EXPECT_EQ(recs[1].fields[1], Field("y"));
}

TEST(CsvWriterTest, QuotesOnlyWhatNeedsQuotingAndReadsBack) {
  std::vector<Field> fields = {Field("plain"),    std::nullopt,     Field(""),
                               Field("a,b"),      Field("q\"uote"), Field("line\r\nbreak"),
                               Field(" spaced "), Field("日本 😀")};
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) line.push_back(',');
    AppendCsvField(fields[i], &line);
  }
  EXPECT_EQ(line, "plain,,\"\",\"a,b\",\"q\"\"uote\",\"line\r\nbreak\", spaced ,日本 😀");
  std::vector<std::string> errors;
  auto recs = ReadAll(TextFormat::kCsv, line + "\r\n", &errors);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].fields, fields);
}

ColumnInfo Col(ColumnType t, std::uint16_t size = 0) {
  ColumnInfo c;
  c.name = "c";
  c.type = t;
  c.size = size;
  return c;
}

struct ConvertCase {
  const char* what;
  ColumnInfo column;
  const char* text;
  bool ok;
  Value expected;
};

class ConvertTest : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertTest, Converts) {
  const auto& k = GetParam();
  auto v = ConvertField(k.column, Field(k.text), false);
  ASSERT_EQ(v.ok(), k.ok) << k.what << ": " << (v.ok() ? v->ToString() : v.status().ToString());
  if (k.ok) {
    EXPECT_EQ(*v, k.expected) << k.what << ": " << v->ToString();
  } else {
    EXPECT_NE(v.status().message().find("\"c\""), std::string::npos)
        << "names the column: " << v.status().message();
  }
}

ColumnInfo Counter() {
  ColumnInfo c = Col(ColumnType::kLong);
  c.auto_increment = true;
  return c;
}
ColumnInfo Dec(int p, int s) {
  ColumnInfo c = Col(ColumnType::kNumeric);
  c.precision = static_cast<std::uint8_t>(p);
  c.scale = static_cast<std::uint8_t>(s);
  return c;
}
Value D(const char* s, int scale) {
  return Value::Numeric(*jet::Decimal::Parse(s, static_cast<std::uint8_t>(scale)));
}

const ConvertCase kCases[] = {
    {"bool 1", Col(ColumnType::kBool), "1", true, Value::Bool(true)},
    {"bool -1 (Access true)", Col(ColumnType::kBool), "-1", true, Value::Bool(true)},
    {"bool word", Col(ColumnType::kBool), "False", true, Value::Bool(false)},
    {"bool junk", Col(ColumnType::kBool), "maybe", false, {}},
    {"byte max", Col(ColumnType::kByte), "255", true, Value::Byte(255)},
    {"byte over", Col(ColumnType::kByte), "256", false, {}},
    {"byte negative", Col(ColumnType::kByte), "-1", false, {}},
    {"short min", Col(ColumnType::kShort), "-32768", true, Value::Short(-32768)},
    {"short over", Col(ColumnType::kShort), "32768", false, {}},
    {"long min", Col(ColumnType::kLong), "-2147483648", true,
     Value::Long(std::numeric_limits<std::int32_t>::min())},
    {"long spaces and plus", Col(ColumnType::kLong), " +42 ", true, Value::Long(42)},
    {"long over", Col(ColumnType::kLong), "2147483648", false, {}},
    {"long huge", Col(ColumnType::kLong), "99999999999999999999999", false, {}},
    {"long fraction", Col(ColumnType::kLong), "1.5", false, {}},
    {"long text", Col(ColumnType::kLong), "12abc", false, {}},
    {"counter zero", Counter(), "0", false, {}},
    {"counter value", Counter(), "7", true, Value::Long(7)},
    {"currency exact", Col(ColumnType::kCurrency), "-922337203685477.5808", true,
     Value::Money(jet::Currency{std::numeric_limits<std::int64_t>::min()})},
    {"currency over", Col(ColumnType::kCurrency), "922337203685477.5808", false, {}},
    {"single", Col(ColumnType::kSingle), "0.25", true, Value::Single(0.25f)},
    {"single over", Col(ColumnType::kSingle), "1e39", false, {}},
    {"single max as printed", Col(ColumnType::kSingle), "-3.40282347e+38", true,
     Value::Single(-std::numeric_limits<float>::max())},
    {"single just past max", Col(ColumnType::kSingle), "3.4028236e+38", false, {}},
    {"double exponent", Col(ColumnType::kDouble), "-1.5e300", true, Value::Double(-1.5e300)},
    {"double nan", Col(ColumnType::kDouble), "nan", false, {}},
    {"double inf", Col(ColumnType::kDouble), "1e999", false, {}},
    {"date", Col(ColumnType::kDateTime), "2024-02-29 12:30:45", true,
     Value::Date(jet::DateTime::FromParts(2024, 2, 29, 12, 30, 45))},
    {"date T form", Col(ColumnType::kDateTime), "9999-12-31T23:59:59", true,
     Value::Date(jet::DateTime::FromParts(9999, 12, 31, 23, 59, 59))},
    {"date MySQL zero", Col(ColumnType::kDateTime), "0000-00-00 00:00:00", false, {}},
    {"date Feb 30", Col(ColumnType::kDateTime), "2023-02-29", false, {}},
    {"guid braces", Col(ColumnType::kGuid), "{00112233-4455-6677-8899-AABBCCDDEEFF}", true,
     Value::Uuid(*jet::Guid::Parse("{00112233-4455-6677-8899-AABBCCDDEEFF}"))},
    {"guid bare", Col(ColumnType::kGuid), "00112233-4455-6677-8899-aabbccddeeff", true,
     Value::Uuid(*jet::Guid::Parse("{00112233-4455-6677-8899-AABBCCDDEEFF}"))},
    {"guid short", Col(ColumnType::kGuid), "0011", false, {}},
    {"decimal 28 digits", Dec(28, 4), "-999999999999999999999999.9999", true,
     D("-999999999999999999999999.9999", 4)},
    {"decimal too many integer digits", Dec(5, 2), "1234.5", false, {}},
    {"decimal fits", Dec(5, 2), "999.994", true, D("999.99", 2)},
    {"decimal rounds past precision", Dec(5, 2), "999.995", false, {}},
    {"decimal junk", Dec(10, 2), "1,5", false, {}},
    {"text fits", Col(ColumnType::kText, 3), "日本😀", false, {}},  // 4 UTF-16 units
    {"text exactly", Col(ColumnType::kText, 4), "日本😀", true, Value::Text("日本😀")},
    {"text bad utf8", Col(ColumnType::kText, 10), "\xC3\x28", false, {}},
    {"text surrogate utf8", Col(ColumnType::kText, 10), "\xED\xA0\x80", false, {}},
    {"memo empty stays text", Col(ColumnType::kMemo), "", true, Value::Text("")},
    {"binary hex", Col(ColumnType::kBinary, 4), "00FFa0", true, Value::Binary({0, 255, 0xA0})},
    {"binary 0x", Col(ColumnType::kBinary, 4), "0x0102", true, Value::Binary({1, 2})},
    {"binary too long", Col(ColumnType::kBinary, 2), "010203", false, {}},
    {"binary odd hex", Col(ColumnType::kOle), "ABC", false, {}},
    {"empty number is NULL", Col(ColumnType::kLong), "", true, Value()},
};

INSTANTIATE_TEST_SUITE_P(Cases, ConvertTest, ::testing::ValuesIn(kCases));

TEST(ConvertTsvTest, BinaryIsRawUnlessHexPrefixed) {
  auto col = Col(ColumnType::kOle);
  std::string raw(
      "\0\x01"
      "AB",
      4);
  EXPECT_EQ(*ConvertField(col, Field(raw), true), Value::Binary({0, 1, 'A', 'B'}));
  EXPECT_EQ(*ConvertField(col, Field("0x4142"), true), Value::Binary({'A', 'B'}));
  EXPECT_EQ(*ConvertField(col, Field("0xZZ"), true), Value::Binary({'0', 'x', 'Z', 'Z'}));
  EXPECT_EQ(*ConvertField(col, std::nullopt, true), Value());
}

TEST(ExportTextTest, EveryKindReadsBackThroughConvert) {
  // What export writes, import takes back to the same value.
  struct Item {
    ColumnInfo col;
    Value v;
  };
  std::vector<Item> items = {
      {Col(ColumnType::kBool), Value::Bool(true)},
      {Col(ColumnType::kByte), Value::Byte(200)},
      {Col(ColumnType::kShort), Value::Short(-5)},
      {Col(ColumnType::kLong), Value::Long(std::numeric_limits<std::int32_t>::max())},
      {Col(ColumnType::kCurrency), Value::Money(jet::Currency{-12345})},
      {Col(ColumnType::kSingle), Value::Single(0.1f)},
      {Col(ColumnType::kSingle), Value::Single(std::numeric_limits<float>::max())},
      {Col(ColumnType::kDouble), Value::Double(0.1)},
      {Col(ColumnType::kDouble), Value::Double(-std::numeric_limits<double>::max())},
      {Col(ColumnType::kDateTime), Value::Date(jet::DateTime::FromParts(100, 1, 1))},
      {Col(ColumnType::kDateTime),
       Value::Date(jet::DateTime::FromParts(1899, 12, 29, 6, 0, 0, 250))},
      {Col(ColumnType::kGuid),
       Value::Uuid(*jet::Guid::Parse("{12345678-9ABC-DEF0-1234-56789ABCDEF0}"))},
      {Dec(28, 6), D("-1234567890123456789012.123456", 6)},
      {Col(ColumnType::kBinary, 10), Value::Binary({0, 1, 0xFE})},
      {Col(ColumnType::kBinary, 10), Value::Binary({})},
      {Col(ColumnType::kText, 20), Value::Text("Zoë, \"quoted\"\n😀")},
      {Col(ColumnType::kMemo), Value::Text("")},
  };
  for (const auto& it : items) {
    Field f = ExportText(it.v);
    ASSERT_TRUE(f.has_value());
    std::string line;
    AppendCsvField(f, &line);
    std::vector<std::string> errors;
    auto recs = ReadAll(TextFormat::kCsv, line + "\r\n", &errors);
    ASSERT_EQ(recs.size(), 1u) << line;
    auto back = ConvertField(it.col, recs[0].fields[0], false);
    ASSERT_TRUE(back.ok()) << line << ": " << back.status().ToString();
    EXPECT_EQ(*back, it.v) << line;
  }
  EXPECT_EQ(ExportText(Value()), std::nullopt);
  EXPECT_EQ(ExportText(Value::Binary({0xAB, 0x01})), Field("AB01"));
  EXPECT_EQ(ExportText(Value::Bool(false)), Field("0"));
}

TEST(SchemaSqlTest, TypesSizesNotNullAndIndexes) {
  jet::TableInfo t;
  t.name = "Order Lines";
  auto add = [&](std::string name, ColumnType type, std::uint16_t size = 0) -> ColumnInfo& {
    ColumnInfo c = Col(type, size);
    c.name = std::move(name);
    t.columns.push_back(c);
    return t.columns.back();
  };
  add("id", ColumnType::kLong).auto_increment = true;
  add("order", ColumnType::kLong);
  add("line", ColumnType::kShort);
  add("sku", ColumnType::kText, 20).not_null = true;
  add("price", ColumnType::kNumeric).precision = 12;
  t.columns.back().scale = 2;
  add("flag", ColumnType::kBool);
  add("blob", ColumnType::kBinary, 16);
  add("notes", ColumnType::kMemo);
  t.indexes.push_back({.name = "PrimaryKey",
                       .columns = {{"order", true}, {"line", true}},
                       .primary_key = true,
                       .unique = true,
                       .required = true});
  t.indexes.push_back(
      {.name = "sku_desc", .columns = {{"sku", false}}, .unique = true, .ignore_nulls = true});
  t.indexes.push_back({.name = "fk", .columns = {{"order", true}}, .foreign_key = true});
  EXPECT_EQ(TableSchemaSql(t),
            "CREATE TABLE [Order Lines] (\n"
            "  [id] COUNTER,\n"
            "  [order] LONG NOT NULL,\n"
            "  [line] SHORT NOT NULL,\n"
            "  [sku] TEXT(20) NOT NULL,\n"
            "  [price] DECIMAL(12,2),\n"
            "  [flag] BIT,\n"
            "  [blob] BINARY(16),\n"
            "  [notes] MEMO\n"
            ");\n"
            "CREATE INDEX [PrimaryKey] ON [Order Lines] ([order], [line]) WITH PRIMARY;\n"
            "CREATE UNIQUE INDEX [sku_desc] ON [Order Lines] ([sku] DESC) WITH IGNORE NULL;\n");
}

// Defaults print in SQL form, and the printed statement makes a table with
// the same stored defaults.
TEST(SchemaSqlTest, DefaultsPrintAsSqlAndReadBack) {
  auto db = jet::Database::CreateOn(std::make_unique<jet::MemoryFile>());
  ASSERT_TRUE(db.ok());
  jet::sql::Executor ex(db->get());
  auto made = ex.Execute(
      "CREATE TABLE d (id COUNTER, n LONG NOT NULL DEFAULT 0, s TEXT(20) DEFAULT 'O''Brien', "
      "w DATETIME DEFAULT now(), f BIT DEFAULT true, x DOUBLE DEFAULT -1.5, "
      "t DATETIME DEFAULT #2001-02-03 04:05:06#, u TEXT(5) DEFAULT UCase(\"x\") & 'y', z LONG)");
  ASSERT_TRUE(made.ok()) << made.status().message();
  auto info = (*db)->GetTable("d");
  ASSERT_TRUE(info.ok());
  const std::string sql = TableSchemaSql(*info);
  EXPECT_EQ(sql,
            "CREATE TABLE [d] (\n"
            "  [id] COUNTER,\n"
            "  [n] LONG DEFAULT 0 NOT NULL,\n"
            "  [s] TEXT(20) DEFAULT 'O''Brien',\n"
            "  [w] DATETIME DEFAULT Now(),\n"
            "  [f] BIT DEFAULT True,\n"
            "  [x] DOUBLE DEFAULT -1.5,\n"
            "  [t] DATETIME DEFAULT #2001-02-03 04:05:06#,\n"
            "  [u] TEXT(5) DEFAULT UCase('x') & 'y',\n"
            "  [z] LONG\n"
            ");\n");
  auto copy = jet::Database::CreateOn(std::make_unique<jet::MemoryFile>());
  ASSERT_TRUE(copy.ok());
  jet::sql::Executor ex2(copy->get());
  for (const std::string& st : jet::sql::SplitStatements(sql)) {
    auto r = ex2.Execute(st);
    ASSERT_TRUE(r.ok()) << st << ": " << r.status().message();
  }
  auto back = (*copy)->GetTable("d");
  ASSERT_TRUE(back.ok());
  ASSERT_EQ(back->columns.size(), info->columns.size());
  for (std::size_t i = 0; i < info->columns.size(); ++i) {
    EXPECT_EQ(back->columns[i].default_value, info->columns[i].default_value)
        << info->columns[i].name;
  }
  // A stored text that does not parse as SQL is printed as it is.
  ColumnInfo odd = Col(ColumnType::kText, 10);
  odd.name = "o";
  odd.default_value = "\"open";
  jet::TableInfo t;
  t.name = "o";
  t.columns = {odd};
  EXPECT_EQ(TableSchemaSql(t), "CREATE TABLE [o] (\n  [o] TEXT(10) DEFAULT \"open\n);\n");
}

}  // namespace
}  // namespace velquin::cli
