// A database with every column type, NULLs, boundary values and thousands of
// rows, read back by three independent readers: our own, mdbtools
// (mdb-tables, mdb-schema, mdb-export) and mdb-reader (node dump.js), value
// for value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "../jet/core/test_util.h"
#include "../support/json_reader.h"
#include "jet/database.h"

namespace velquin::jet {
namespace {

namespace fs = std::filesystem;
using testing::RunCommand;

using test_json::Json;
using test_json::JsonParser;

// ---------------------------------------------------------------------------
// The database.

ColumnSpec Col(std::string name, ColumnType type, std::uint16_t size = 0) {
  ColumnSpec c;
  c.name = std::move(name);
  c.type = type;
  c.size = size;
  return c;
}

TableSpec AllTypes() {
  TableSpec t;
  t.name = "All Types";
  t.columns = {Col("id", ColumnType::kLong),        Col("yes_no", ColumnType::kBool),
               Col("byte", ColumnType::kByte),      Col("short", ColumnType::kShort),
               Col("long", ColumnType::kLong),      Col("money", ColumnType::kCurrency),
               Col("single", ColumnType::kSingle),  Col("double", ColumnType::kDouble),
               Col("when", ColumnType::kDateTime),  Col("bin", ColumnType::kBinary, 255),
               Col("text", ColumnType::kText, 255), Col("ole", ColumnType::kOle),
               Col("memo", ColumnType::kMemo),      Col("guid", ColumnType::kGuid),
               Col("dec28", ColumnType::kNumeric),  Col("dec", ColumnType::kNumeric)};
  t.columns[0].auto_increment = true;
  t.columns[14].precision = 28;
  t.columns[14].scale = 10;
  t.columns[15].precision = 9;
  t.columns[15].scale = 3;
  t.indexes = {IndexSpec{.name = "PrimaryKey",
                         .columns = {{0, true}},
                         .primary_key = true,
                         .unique = true,
                         .required = true}};
  return t;
}
constexpr std::size_t kColumns = 16;

std::vector<std::uint8_t> Pattern(std::size_t n, int seed) {
  std::vector<std::uint8_t> b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 31 + seed * 7) % 256);
  return b;
}
Value Dec(const char* s, int scale) {
  return Value::Numeric(*Decimal::Parse(s, static_cast<std::uint8_t>(scale)));
}
Value Uuid(const char* s) { return Value::Uuid(*Guid::Parse(s)); }

std::vector<std::vector<Value>> Rows() {
  std::vector<std::vector<Value>> rows;
  // All NULL (the Yes/No column has no NULL: it reads as No).
  rows.emplace_back(kColumns);
  std::string mb_memo;
  for (int i = 0; i < (1 << 20); ++i) mb_memo.push_back(static_cast<char>('A' + i % 26));
  std::string text255;
  for (int i = 0; i < 85; ++i) text255 += i % 2 ? "é" : "日";
  text255 += std::string(170, 'z');
  rows.push_back({Value(), Value::Bool(false), Value::Byte(0), Value::Short(-32768),
                  Value::Long(std::numeric_limits<std::int32_t>::min()),
                  Value::Money(Currency{std::numeric_limits<std::int64_t>::min()}),
                  Value::Single(-std::numeric_limits<float>::max()),
                  Value::Double(-std::numeric_limits<double>::max()),
                  Value::Date(DateTime::FromParts(100, 1, 1)), Value::Binary({}), Value::Text(""),
                  Value::Binary({}), Value::Text(""),
                  Uuid("{00000000-0000-0000-0000-000000000000}"),
                  Dec("-999999999999999999.9999999999", 10), Dec("-999999.999", 3)});
  rows.push_back({Value(), Value::Bool(true), Value::Byte(255), Value::Short(32767),
                  Value::Long(std::numeric_limits<std::int32_t>::max()),
                  Value::Money(Currency{std::numeric_limits<std::int64_t>::max()}),
                  Value::Single(std::numeric_limits<float>::max()),
                  Value::Double(std::numeric_limits<double>::max()),
                  Value::Date(DateTime::FromParts(9999, 12, 31, 23, 59, 59)),
                  Value::Binary(Pattern(255, 1)), Value::Text(text255),
                  Value::Binary(Pattern(70000, 2)), Value::Text(mb_memo),
                  Uuid("{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}"),
                  Dec("999999999999999999.9999999999", 10), Dec("999999.999", 3)});
  rows.push_back({Value(), Value::Bool(true), Value::Byte(1), Value::Short(-1), Value::Long(0),
                  Value::Money(Currency{-1}), Value::Single(1.17549435e-38f),
                  Value::Double(std::numeric_limits<double>::denorm_min()),
                  Value::Date(DateTime::FromParts(1899, 12, 30)), Value::Binary({0, 1, 0}),
                  Value::Text("Zoë Ærøskøbing façade naïve"), Value::Binary(Pattern(1, 3)),
                  Value::Text("日本語のテキスト 😀🎉 mixed ü — end"),
                  Uuid("{00112233-4455-6677-8899-AABBCCDDEEFF}"), Dec("0.0000000001", 10),
                  Dec("-0.001", 3)});
  rows.push_back({Value(), Value(), Value(), Value(), Value(), Value(), Value(), Value(),
                  Value::Date(DateTime::FromParts(2024, 2, 29, 12, 30, 45, 123)), Value(),
                  Value::Text("😀"), Value(), Value::Text(std::string(5000, 'x') + "é"), Value(),
                  Value(), Value()});
  // Thousands of ordinary rows over many pages.
  static const char* kTexts[] = {"plain",    "Zoë",       "中文字符",   "emoji 🚀",
                                 "\"q\", c", "tab\there", "line\nbreak"};
  for (int i = 0; i < 3000; ++i) {
    std::vector<Value> r(kColumns);
    r[1] = Value::Bool(i % 3 == 0);
    r[2] = Value::Byte(static_cast<std::uint8_t>(i));
    r[3] = Value::Short(static_cast<std::int16_t>(i * 7 - 10000));
    r[4] = Value::Long(i * 104729 - 150000000);
    r[5] = Value::Money(Currency{static_cast<std::int64_t>(i) * 987654321 - 12345});
    r[6] = Value::Single(static_cast<float>(i) / 3.0f);
    r[7] = Value::Double(std::pow(-1.7, i % 200) * i);
    r[8] = Value::Date(DateTime::FromParts(1900 + i % 250, 1 + i % 12, 1 + i % 28, i % 24,
                                           (i * 7) % 60, (i * 13) % 60));
    if (i % 5) r[9] = Value::Binary(Pattern(static_cast<std::size_t>(i % 64), i));
    r[10] = Value::Text(std::string(kTexts[i % 7]) + " " + std::to_string(i));
    if (i % 97 == 0) r[11] = Value::Binary(Pattern(static_cast<std::size_t>(2000 + i * 3), i));
    if (i % 4 == 0) r[12] = Value::Text(std::string(static_cast<std::size_t>(i % 300), 'm') + "ü");
    char g[40];
    std::snprintf(g, sizeof g, "{%08X-0000-4000-8000-%012X}",
                  static_cast<unsigned>(i * 2654435761u), static_cast<unsigned>(i));
    r[13] = Uuid(g);
    r[14] = Dec((std::to_string(i * 12345) + "." + std::to_string(1000000000 + i)).c_str(), 10);
    if (i % 6) r[15] = Dec((std::to_string(i - 1500) + ".5").c_str(), 3);
    rows.push_back(std::move(r));
  }
  return rows;
}

// What a row reads back as: AutoNumber filled in, Yes/No NULL as No.
std::vector<Value> AsStored(std::vector<Value> r, std::size_t index) {
  r[0] = Value::Long(static_cast<std::int32_t>(index + 1));
  if (r[1].is_null()) r[1] = Value::Bool(false);
  return r;
}

class ReadersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    path_ = new std::string(testing::TempPath("readers_all_types.mdb"));
    rows_ = new std::vector<std::vector<Value>>(Rows());
    auto db = Database::Create(*path_);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    ASSERT_TRUE((*db)->CreateTable(AllTypes()).ok());
    TableSpec empty;
    empty.name = "Empty Table";
    empty.columns = {Col("only", ColumnType::kText, 10)};
    ASSERT_TRUE((*db)->CreateTable(empty).ok());
    auto w = (*db)->BulkAppend("All Types");
    ASSERT_TRUE(w.ok());
    for (const auto& r : *rows_) ASSERT_TRUE((*w)->Append(r).ok());
    ASSERT_TRUE((*w)->Finish().ok());
  }
  static void TearDownTestSuite() {
    fs::remove(*path_);
    delete path_;
    delete rows_;
  }
  static std::string* path_;
  static std::vector<std::vector<Value>>* rows_;
};
std::string* ReadersTest::path_ = nullptr;
std::vector<std::vector<Value>>* ReadersTest::rows_ = nullptr;

TEST_F(ReadersTest, OurReaderReadsEveryValue) {
  auto db = Database::Open(*path_, {.read_only = true});
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto cur = (*db)->Scan("All Types");
  ASSERT_TRUE(cur.ok());
  std::vector<Value> row;
  std::size_t n = 0;
  while (*(*cur)->Next(&row)) {
    ASSERT_LT(n, rows_->size());
    auto want = AsStored((*rows_)[n], n);
    for (std::size_t c = 0; c < kColumns; ++c) {
      ASSERT_TRUE(row[c] == want[c])
          << "row " << n << " column " << c << ": " << row[c].ToString().substr(0, 60) << " vs "
          << want[c].ToString().substr(0, 60);
    }
    ++n;
  }
  EXPECT_EQ(n, rows_->size());
  auto info = (*db)->GetTable("All Types");
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info->row_count, rows_->size());
  EXPECT_EQ(info->last_autonumber, rows_->size());
}

TEST_F(ReadersTest, MdbToolsReadsEveryValue) {
  if (!testing::HaveMdbTools()) GTEST_SKIP() << "mdbtools absent";
  int status = 0;
  EXPECT_EQ(RunCommand("mdb-tables -1 '" + *path_ + "'", &status), "All Types\nEmpty Table\n");
  EXPECT_EQ(status, 0);
  std::string schema = RunCommand("mdb-schema '" + *path_ + "' access", &status);
  EXPECT_EQ(status, 0);
  for (const char* want :
       {"[dec28]\t\t\tNumeric (28, 10)", "[dec]\t\t\tNumeric (9, 3)", "[bin]\t\t\tBinary",
        "[text]\t\t\tText (255)", "CREATE TABLE [Empty Table]"}) {
    EXPECT_NE(schema.find(want), std::string::npos) << want << "\n" << schema;
  }
  auto db = Database::Open(*path_, {.read_only = true});
  ASSERT_TRUE(db.ok());
  auto info = (*db)->GetTable("All Types");
  ASSERT_TRUE(info.ok());
  auto csv =
      testing::ParseCsv(RunCommand("mdb-export -b hex -D '%Y-%m-%d %H:%M:%S' -T "
                                   "'%Y-%m-%d %H:%M:%S' '" +
                                   *path_ + "' 'All Types'"));
  ASSERT_EQ(csv.size(), rows_->size() + 1);
  // mdbtools may list rows out of order: match them by the AutoNumber.
  std::map<std::string, const std::vector<std::string>*> by_id;
  for (std::size_t k = 1; k < csv.size(); ++k) by_id[csv[k].at(0)] = &csv[k];
  int failures = 0;
  for (std::size_t r = 0; r < rows_->size() && failures < 20; ++r) {
    auto want = AsStored((*rows_)[r], r);
    auto it = by_id.find(std::to_string(r + 1));
    ASSERT_NE(it, by_id.end()) << "row " << r << " missing";
    ASSERT_EQ(it->second->size(), kColumns);
    for (std::size_t c = 0; c < kColumns; ++c) {
      const std::string& text = (*it->second)[c];
      // mdb-export prints doubles with 16 significant digits, so the largest
      // double comes out rounded past the range ("1.797693134862316e+308").
      if (want[c].kind() == ValueKind::kDouble &&
          std::fabs(want[c].double_value()) == std::numeric_limits<double>::max()) {
        EXPECT_EQ(text, want[c].double_value() < 0 ? "-1.797693134862316e+308"
                                                   : "1.797693134862316e+308");
        continue;
      }
      // mdbtools formats only day numbers from 0 to 1e6 (1899-12-30 to
      // about 4637) and prints "1900-01-00 00:00:00" for any other.
      if (want[c].kind() == ValueKind::kDateTime &&
          (want[c].datetime_value().days < 0 || want[c].datetime_value().days > 1e6)) {
        EXPECT_EQ(text, "1900-01-00 00:00:00") << "row " << r;
        continue;
      }
      // mdb-export binds at most 199,999 bytes of a value (its bind buffer);
      // mdb-reader above checks the whole of longer ones.
      constexpr std::size_t kMdbExportBind = 199999;
      if (want[c].kind() == ValueKind::kText && want[c].text_value().size() > kMdbExportBind) {
        EXPECT_TRUE(text == want[c].text_value().substr(0, kMdbExportBind)) << "row " << r;
        continue;
      }
      std::string why = testing::CompareWithMdbExport(info->columns[c], want[c], text);
      if (!why.empty()) {
        ADD_FAILURE() << "row " << r << ": " << why.substr(0, 300) << " (ours "
                      << want[c].ToString().size() << " bytes, mdb-export " << text.size() << ")";
        ++failures;
      }
    }
  }
  EXPECT_EQ(RunCommand("mdb-export '" + *path_ + "' 'Empty Table'"), "only\n");
}

// Days since 1970-01-01 of a civil date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// "YYYY-MM-DDTHH:MM:SS.mmmZ" as milliseconds since 1970.
bool IsoToMillis(const std::string& s, std::int64_t* ms) {
  int y, mo, d, h, mi, se, mss;
  if (std::sscanf(s.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &y, &mo, &d, &h, &mi, &se, &mss) != 7) {
    return false;
  }
  *ms =
      ((DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 24 + h) * 60 + mi) *
          60000 +
      se * 1000 + mss;
  return true;
}

std::string HexDigits(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
  }
  return out;
}

std::string LowerHex(const std::vector<std::uint8_t>& b) {
  static const char* kHex = "0123456789abcdef";
  std::string s;
  for (auto x : b) {
    s.push_back(kHex[x >> 4]);
    s.push_back(kHex[x & 15]);
  }
  return s;
}

// Empty when mdb-reader's value `j` matches ours, else why not.
std::string CompareWithMdbReader(const Value& v, const Json& j, std::uint8_t scale) {
  using K = Json::Kind;
  auto fail = [&]() {
    return "ours " + v.ToString().substr(0, 60) + ", mdb-reader " +
           (j.kind == K::kNull ? std::string("null") : j.text.substr(0, 60));
  };
  if (v.is_null()) return j.kind == K::kNull ? "" : fail();
  switch (v.kind()) {
    case ValueKind::kBool:
      return j.kind == K::kBool && j.b == v.bool_value() ? "" : fail();
    case ValueKind::kByte:
    case ValueKind::kShort:
    case ValueKind::kLong:
      return j.kind == K::kNumber && j.text == v.ToString() ? "" : fail();
    case ValueKind::kSingle:
      return j.kind == K::kNumber &&
                     std::strtod(j.text.c_str(), nullptr) == static_cast<double>(v.single_value())
                 ? ""
                 : fail();
    case ValueKind::kDouble:
      return j.kind == K::kNumber && std::strtod(j.text.c_str(), nullptr) == v.double_value()
                 ? ""
                 : fail();
    case ValueKind::kCurrency: {
      auto c = Currency::Parse(j.text);
      return j.kind == K::kString && c.ok() && *c == v.currency_value() ? "" : fail();
    }
    case ValueKind::kDecimal: {
      auto d = Decimal::Parse(j.text, scale);
      return j.kind == K::kString && d.ok() && d->ToString() == v.ToString() ? "" : fail();
    }
    case ValueKind::kDateTime: {
      // mdb-reader maps the stored day number linearly onto milliseconds
      // (exact for dates from 1899-12-30 on, which is what Access means too
      // for dates without a time before it).
      std::int64_t ms;
      if (j.kind != K::kObject || !IsoToMillis(j["date"].text, &ms)) return fail() + " (no date)";
      auto want = static_cast<std::int64_t>(
          std::llround((v.datetime_value().days - 25569.0) * 86400.0 * 1000.0));
      return ms == want ? "" : fail() + " " + j["date"].text;
    }
    case ValueKind::kGuid:
      return j.kind == K::kString && HexDigits(j.text) == HexDigits(v.ToString()) ? "" : fail();
    case ValueKind::kText:
      return j.kind == K::kString && j.text == v.text_value() ? "" : fail();
    case ValueKind::kBinary:
      return j.kind == K::kObject && j["hex"].text == LowerHex(v.binary_value()) ? "" : fail();
    default:
      return fail();
  }
}

TEST_F(ReadersTest, MdbReaderReadsEveryValue) {
  std::string script = std::string(VELQUIN_SOURCE_DIR) + "/tests/readers/dump.js";
  int status = 0;
  RunCommand("node --version >/dev/null 2>&1", &status);
  if (status != 0) GTEST_SKIP() << "node absent";
  if (!fs::exists(std::string(VELQUIN_SOURCE_DIR) + "/tests/readers/node_modules/mdb-reader")) {
    GTEST_SKIP() << "mdb-reader absent (run npm ci in tests/readers)";
  }
  std::string out = RunCommand("TZ=UTC node '" + script + "' '" + *path_ + "'", &status);
  ASSERT_EQ(status, 0) << out.substr(0, 300);
  Json doc;
  ASSERT_TRUE(JsonParser(out).Parse(&doc)) << out.substr(0, 300);
  const Json& tables = doc["tables"];
  ASSERT_EQ(tables.kind, Json::Kind::kArray);
  ASSERT_EQ(tables.array->size(), 2u);
  const Json* all = nullptr;
  for (const auto& t : *tables.array) {
    if (t["name"].text == "All Types") all = &t;
    if (t["name"].text == "Empty Table") {
      EXPECT_EQ(t["rowCount"].text, "0");
      EXPECT_TRUE(t["rows"].array && t["rows"].array->empty());
    }
  }
  ASSERT_NE(all, nullptr);
  EXPECT_EQ((*all)["rowCount"].text, std::to_string(rows_->size()));

  // Column definitions as mdb-reader sees them.
  const auto& cols = *(*all)["columns"].array;
  const auto spec = AllTypes();
  ASSERT_EQ(cols.size(), kColumns);
  for (std::size_t c = 0; c < kColumns; ++c) {
    EXPECT_EQ(cols[c]["name"].text, spec.columns[c].name);
  }
  EXPECT_TRUE(cols[0]["autoLong"].b) << "AutoNumber";
  EXPECT_EQ(cols[14]["precision"].text, "28");
  EXPECT_EQ(cols[14]["scale"].text, "10");
  EXPECT_EQ(cols[10]["size"].text, "510") << "TEXT(255) is 510 bytes";

  const auto& rows = *(*all)["rows"].array;
  ASSERT_EQ(rows.size(), rows_->size());
  int failures = 0;
  for (std::size_t r = 0; r < rows.size() && failures < 20; ++r) {
    auto want = AsStored((*rows_)[r], r);
    ASSERT_EQ(rows[r].array->size(), kColumns);
    for (std::size_t c = 0; c < kColumns; ++c) {
      std::string why = CompareWithMdbReader(want[c], (*rows[r].array)[c], spec.columns[c].scale);
      if (!why.empty()) {
        ADD_FAILURE() << "row " << r << " column " << spec.columns[c].name << ": " << why;
        ++failures;
      }
    }
  }
}

}  // namespace
}  // namespace velquin::jet
