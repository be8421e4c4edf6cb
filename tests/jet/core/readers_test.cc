// Files this engine writes, read by the independent reader mdb-reader
// (tests/readers/dump.js) and compared value for value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include "../../support/json_reader.h"
#include "jet/database.h"
#include "test_util.h"

namespace velquin::jet {
namespace {

using testing::Column;
using testing::RunCommand;
using testing::TempPath;

using test_json::Json;
using test_json::JsonParser;

std::string ReadersDir() { return std::string(VELQUIN_SOURCE_DIR) + "/tests/readers"; }

bool HaveMdbReader() {
  return std::filesystem::exists(ReadersDir() + "/node_modules/mdb-reader") &&
         std::filesystem::exists("/usr/bin/node");
}

// Our value against what dump.js printed; "" when equal.
std::string Compare(const Value& v, const Json& j) {
  auto fail = [&](const std::string& theirs) {
    return "ours \"" + v.ToString().substr(0, 60) + "\" mdb-reader \"" + theirs.substr(0, 60) +
           "\"";
  };
  switch (v.kind()) {
    case ValueKind::kNull:
      return j.kind == Json::Kind::kNull ? "" : fail("non-null");
    case ValueKind::kBool:
      return j.kind == Json::Kind::kBool && j.b == v.bool_value() ? "" : fail(j.text);
    case ValueKind::kByte:
    case ValueKind::kShort:
    case ValueKind::kLong:
      return j.kind == Json::Kind::kNumber && j.text == v.ToString() ? "" : fail(j.text);
    case ValueKind::kSingle:
    case ValueKind::kDouble: {
      if (j.kind != Json::Kind::kNumber) return fail("?");
      double ours = v.kind() == ValueKind::kSingle ? v.single_value() : v.double_value();
      double theirs = std::strtod(j.text.c_str(), nullptr);
      return ours == theirs ? "" : fail(j.text);
    }
    case ValueKind::kCurrency: {
      auto c = Currency::Parse(j.text);
      return c.ok() && c->units == v.currency_value().units ? "" : fail(j.text);
    }
    case ValueKind::kDecimal: {
      auto d = Decimal::Parse(j.text, v.decimal_value().scale);
      return d.ok() && d->ToString() == v.ToString() ? "" : fail(j.text);
    }
    case ValueKind::kDateTime: {
      // mdb-reader turns the Jet date into a JavaScript Date in UTC.
      auto p = v.datetime_value().ToParts();
      char buf[40];
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", p.year, p.month, p.day,
                    p.hour, p.minute, p.second, p.millisecond);
      return j["date"].text == buf ? "" : fail(j["date"].text + " vs " + buf);
    }
    case ValueKind::kGuid: {
      std::string a, b;
      for (char c : v.guid_value().ToString())
        if (std::isxdigit(static_cast<unsigned char>(c)))
          a.push_back(static_cast<char>(std::toupper(c)));
      for (char c : j.text)
        if (std::isxdigit(static_cast<unsigned char>(c)))
          b.push_back(static_cast<char>(std::toupper(c)));
      return a == b ? "" : fail(j.text);
    }
    case ValueKind::kText:
      return j.kind == Json::Kind::kString && j.text == v.text_value() ? "" : fail(j.text);
    case ValueKind::kBinary: {
      std::string hex = v.ToString();  // lower-case hex
      return j["hex"].text == hex ? "" : fail(j["hex"].text);
    }
  }
  return fail("?");
}

TEST(MdbReaderTest, ReadsEveryValueOfEveryTypeWeWrite) {
  if (!HaveMdbReader()) GTEST_SKIP() << "mdb-reader not installed (npm ci in tests/readers)";
  std::string path = TempPath("mdb_reader.mdb");
  std::vector<std::vector<Value>> rows;
  {
    auto db = Database::Create(path);
    ASSERT_TRUE(db.ok());
    TableSpec t;
    t.name = "Types";
    t.columns = {Column("id", ColumnType::kLong),        Column("yes", ColumnType::kBool),
                 Column("b", ColumnType::kByte),         Column("s", ColumnType::kShort),
                 Column("money", ColumnType::kCurrency), Column("f", ColumnType::kSingle),
                 Column("d", ColumnType::kDouble),       Column("when", ColumnType::kDateTime),
                 Column("bin", ColumnType::kBinary, 40), Column("txt", ColumnType::kText, 100),
                 Column("ole", ColumnType::kOle),        Column("memo", ColumnType::kMemo),
                 Column("g", ColumnType::kGuid),         Column("dec", ColumnType::kNumeric)};
    t.columns[0].auto_increment = true;
    t.columns.back().precision = 28;
    t.columns.back().scale = 5;
    ASSERT_TRUE((*db)->CreateTable(t).ok());
    const char* texts[] = {"plain", "Zoë Ærø", "日本語", "emoji 😀🎉", "", "tab\there \"q\""};
    for (int i = 0; i < 400; ++i) {
      std::vector<Value> r(14);
      if (i % 9 != 4) {
        r[1] = Value::Bool(i % 2);
        r[2] = Value::Byte(static_cast<std::uint8_t>(i % 256));
        r[3] = Value::Short(static_cast<std::int16_t>(i % 2 ? -32768 + i : 32767 - i));
        r[4] = Value::Money(Currency{static_cast<std::int64_t>(i) * 987654321 - 123456789});
        r[5] = Value::Single(static_cast<float>(i) * 0.375f);
        r[6] = Value::Double(i * 3.14159265358979 - 500);
        r[7] = Value::Date(DateTime::FromParts(1950 + i % 100, 1 + i % 12, 1 + i % 28, i % 24,
                                               (i * 7) % 60, (i * 13) % 60));
        std::vector<std::uint8_t> bin(static_cast<std::size_t>(i % 40));
        for (std::size_t k = 0; k < bin.size(); ++k) bin[k] = static_cast<std::uint8_t>(k * 31 + i);
        r[8] = Value::Binary(bin);
        r[9] = Value::Text(texts[i % 6] + std::to_string(i));
        std::vector<std::uint8_t> ole(static_cast<std::size_t>((i * 331) % 12000));
        for (std::size_t k = 0; k < ole.size(); ++k) ole[k] = static_cast<std::uint8_t>(k ^ i);
        r[10] = Value::Binary(ole);
        r[11] =
            Value::Text(std::string(static_cast<std::size_t>((i * 97) % 5000), 'm') + texts[i % 6]);
        r[12] = Value::Uuid(*Guid::Parse("{A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F" +
                                         std::to_string(10 + i % 90) + "}"));
        r[13] = Value::Numeric(*Decimal::Parse("-" + std::to_string(i) + "12345.67891", 5));
      }
      ASSERT_TRUE((*db)->Insert("Types", r).ok()) << i;
      r[0] = Value::Long(i + 1);
      if (i % 9 == 4) r[1] = Value::Bool(false);
      rows.push_back(r);
    }
  }
  std::string out = RunCommand("node '" + ReadersDir() + "/dump.js' '" + path + "'");
  Json j;
  ASSERT_TRUE(JsonParser(out).Parse(&j)) << out.substr(0, 300);
  ASSERT_EQ(j["tables"].kind, Json::Kind::kArray);
  ASSERT_EQ(j["tables"].array->size(), 1u);
  const Json& t = (*j["tables"].array)[0];
  EXPECT_EQ(t["name"].text, "Types");
  EXPECT_EQ(t["rowCount"].text, "400");
  ASSERT_EQ(t["columns"].kind, Json::Kind::kArray);
  ASSERT_EQ(t["columns"].array->size(), 14u);
  EXPECT_EQ((*t["columns"].array)[0]["autoLong"].b, true);
  EXPECT_EQ((*t["columns"].array)[13]["precision"].text, "28");
  EXPECT_EQ((*t["columns"].array)[13]["scale"].text, "5");
  ASSERT_EQ(t["rows"].kind, Json::Kind::kArray);
  ASSERT_EQ(t["rows"].array->size(), rows.size());
  int errors = 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < 14; ++c) {
      std::string why = Compare(rows[r][c], (*(*t["rows"].array)[r].array)[c]);
      if (!why.empty() && ++errors < 20)
        ADD_FAILURE() << "row " << r << " column " << c << ": " << why;
    }
  }
  EXPECT_EQ(errors, 0);
}

}  // namespace
}  // namespace velquin::jet
