// The quick comparison's file side: the CRC-32 the server's CRC32() gives,
// and each row's text as the server's CONCAT_WS spells it.
#include "migrate/verify_checksum.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "db/memory_cursor.h"

namespace velquin::quick_check {
namespace {

// The CRC one bit at a time, as the polynomial defines it.
uint32_t BitwiseCrc32(std::string_view bytes) {
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xFFFFFFFFu;
}

TEST(VerifyChecksumTest, Crc32IsTheServersForEveryLength) {
  // What SELECT CRC32(...) answers on MariaDB and MySQL.
  EXPECT_EQ(Crc32(""), 0u);
  EXPECT_EQ(Crc32("MySQL"), 3259397556u);
  EXPECT_EQ(Crc32("mysql"), 2501908538u);
  EXPECT_EQ(Crc32("123456789"), 3421780262u);
  // Every length around the eight-byte steps, and bytes above 0x7f.
  std::string text;
  for (int i = 0; i < 41; ++i) {
    EXPECT_EQ(Crc32(text), BitwiseCrc32(text)) << "length " << i;
    text.push_back(static_cast<char>(i * 37 + 200));
  }
}

jet::Value Day(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
               int millisecond = 0) {
  return jet::Value::Date(
      jet::DateTime::FromParts(year, month, day, hour, minute, second, millisecond));
}

TEST(VerifyChecksumTest, RowsAreSummedAsTheServerSpellsThem) {
  const std::vector<Canon> canons = {Canon::kInteger, Canon::kText, Canon::kDate, Canon::kDateTime};
  struct Case {
    std::vector<jet::Value> row;
    std::string text;  // the server's CONCAT_WS of the row
  } cases[] = {
      {{jet::Value::Long(10001), jet::Value::Text("Zoë"), Day(1986, 6, 26), Day(1986, 6, 26)},
       "10001\x1fZo\xc3\xab\x1f"
       "1986-06-26\x1f"
       "1986-06-26 00:00:00"},
      // The same days again (kept from the row before), and days 8192 apart
      // (the same place in the table of days).
      {{jet::Value::Long(-7), jet::Value::Text(""), Day(1986, 6, 26), Day(2008, 11, 29)},
       "-7\x1f\x1f"
       "1986-06-26\x1f"
       "2008-11-29 00:00:00"},
      // A time of day, milliseconds, a day before 1900, the last day, NULLs.
      {{jet::Value::Short(0), jet::Value::Null(), Day(1899, 12, 29, 6),
        Day(9999, 12, 31, 23, 59, 59)},
       "0\x1f\xff\x1f"
       "1899-12-29 06:00:00\x1f"
       "9999-12-31 23:59:59"},
      {{jet::Value::Null(), jet::Value::Text("a\x1f"), Day(1700, 1, 1),
        Day(2000, 2, 29, 0, 0, 1, 5)},
       "\xff\x1f"
       "a\x1f\x1f"
       "1700-01-01\x1f"
       "2000-02-29 00:00:01.005"},
  };
  FileRowSummer summer(canons);
  ASSERT_TRUE(summer.Columns(std::vector<jet::sql::ResultColumn>(canons.size())).ok());
  QuickSums expected;
  for (const Case& c : cases) {
    ASSERT_TRUE(summer.Row(c.row).ok());
    ++expected.rows;
    expected.sum += Crc32(c.text);
    // Each row alone, so a wrong text names its row.
    FileRowSummer one(canons);
    ASSERT_TRUE(one.Row(c.row).ok());
    EXPECT_TRUE(one.Equals({1, Crc32(c.text)})) << c.text;
  }
  EXPECT_TRUE(summer.Equals(expected));
  // Another row count, or a value of another kind than its column's, differs.
  EXPECT_FALSE(summer.Equals({expected.rows + 1, expected.sum}));
  FileRowSummer wrong_kind(canons);
  ASSERT_TRUE(wrong_kind
                  .Row({jet::Value::Text("10001"), jet::Value::Text("Zoë"), Day(1986, 6, 26),
                        Day(1986, 6, 26)})
                  .ok());
  EXPECT_FALSE(wrong_kind.Equals({1, Crc32(cases[0].text)}));
}

// Answers a checksum query "qN" with N rows and a sum of 11 * N; fails "bad".
class SumsSession : public Session {
 public:
  std::mutex mu;
  std::vector<std::string> asked;
  Result<ExecuteOutcome> Execute(std::string_view) override { return ExecuteOutcome::kNoRowset; }
  Result<std::unique_ptr<QueryCursor>> OpenQuery(std::string_view sql) override {
    {
      std::lock_guard<std::mutex> lock(mu);
      asked.emplace_back(sql);
    }
    if (sql == "bad") return Status::IOError("Lost connection to server during query");
    const int n = std::stoi(std::string(sql.substr(1)));
    std::vector<ColumnInfo> columns(2);
    columns[0].name = "count";
    columns[1].name = "sum";
    return std::unique_ptr<QueryCursor>(
        new MemoryCursor(columns, {{std::to_string(n), std::to_string(11 * n)}}));
  }
  Result<std::unique_ptr<QueryCursor>> OpenSchemaRowset(SchemaRowset,
                                                        const SchemaRestrictions&) override {
    return Status::NotSupported("no catalogue");
  }
  Result<std::string> DbmsName() override { return std::string("Fake"); }
  Result<std::string> DbmsVersion() override { return std::string("1"); }
  Result<std::string> DataSourceName() override { return std::string(); }
  Result<std::string> CurrentCatalog() override { return std::string(); }
  std::string QuoteString(std::string_view text) const override {
    return "'" + std::string(text) + "'";
  }
};

TEST(VerifyChecksumTest, SumsAheadAnswersEachQueuedQueryOnceInOrder) {
  SumsSession second, first;
  std::vector<std::optional<QuickSums>> got;
  {
    // Queued: q1, none (an object without a quick comparison), a failure,
    // q2, and q1 again (another object with the same query).
    SumsAhead ahead(&second, {"q1", "", "bad", "q2", "q1"});
    got.push_back(ServerSums(&first, "q2", &ahead));   // waits for the ones before it
    got.push_back(ServerSums(&first, "bad", &ahead));  // failed: the row-by-row comparison's
    got.push_back(ServerSums(&first, "q1", &ahead));
    got.push_back(ServerSums(&first, "q1", &ahead));
    got.push_back(ServerSums(&first, "q1", &ahead));  // taken twice already: asked on `first`
    got.push_back(ServerSums(&first, "q7", &ahead));  // never queued: likewise
    got.push_back(ServerSums(&first, "", &ahead));    // no query, no sums
  }
  ASSERT_EQ(got.size(), 7u);
  for (std::size_t i : {0, 2, 3, 4, 5}) ASSERT_TRUE(got[i].has_value()) << i;
  EXPECT_EQ(got[0]->rows, 2u);
  EXPECT_EQ(got[0]->sum, 22u);
  EXPECT_FALSE(got[1].has_value());
  EXPECT_EQ(got[2]->sum, 11u);
  EXPECT_EQ(got[3]->sum, 11u);
  EXPECT_EQ(got[5]->rows, 7u);
  EXPECT_FALSE(got[6].has_value());
  // The second connection ran the queue once, in its order; the first only
  // what was not queued.
  EXPECT_EQ(second.asked, (std::vector<std::string>{"q1", "bad", "q2", "q1"}));
  EXPECT_EQ(first.asked, (std::vector<std::string>{"q1", "q7"}));
}

}  // namespace
}  // namespace velquin::quick_check
