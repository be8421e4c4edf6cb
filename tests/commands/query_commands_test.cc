#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/commands.h"
#include "log/output_log.h"

namespace velquin {
namespace {

// A result set in memory, shaped like the database layer's cursors.
class FakeCursor {
 public:
  using Row = std::vector<std::optional<std::string>>;
  FakeCursor(std::vector<std::string> columns, std::vector<Row> rows, int fail_at = -1)
      : columns_(std::move(columns)), rows_(std::move(rows)), fail_at_(fail_at) {}
  const std::vector<std::string>& Columns() const { return columns_; }
  Result<bool> MoveNext() {
    ++pos_;
    ++fetched;
    if (pos_ == fail_at_) return Status::IOError("connection lost");
    return pos_ < static_cast<int>(rows_.size());
  }
  bool IsNull(size_t c) const { return !rows_[static_cast<size_t>(pos_)][c].has_value(); }
  const std::string& Value(size_t c) const { return *rows_[static_cast<size_t>(pos_)][c]; }
  int fetched = 0;

 private:
  std::vector<std::string> columns_;
  std::vector<Row> rows_;
  int fail_at_;
  int pos_ = -1;
};

class FakeSession {
 public:
  Result<std::unique_ptr<FakeCursor>> OpenQuery(const std::string& sql) {
    last_sql = sql;
    if (fail) return Status::InvalidArgument("You have an error in your SQL syntax");
    return std::make_unique<FakeCursor>(next);
  }
  bool fail = false;
  FakeCursor next{{}, {}};
  std::string last_sql;
};

std::vector<std::string> Texts(const OutputLog& log) {
  std::vector<std::string> out;
  for (const LogLine& l : log.model().Snapshot()) out.push_back(l.text);
  return out;
}

TEST(PrintQuery, WritesHundredRowsOfValuesThenResultLine) {
  std::vector<FakeCursor::Row> rows;
  for (int i = 0; i < 150; ++i) {
    rows.push_back({std::to_string(i), std::nullopt, "x"});
  }
  FakeSession session;
  session.next = FakeCursor({"a", "b", "c"}, rows);
  OutputLog log(5000);
  EXPECT_TRUE(PrintQuery(log, &session, "select a,b,c from t", true));
  std::vector<std::string> lines = Texts(log);
  ASSERT_EQ(lines.size(), 301u);  // 100 rows x 3 columns + result
  EXPECT_EQ(lines[0], "0");
  EXPECT_EQ(lines[1], "(NULL)");
  EXPECT_EQ(lines[2], "x");
  EXPECT_EQ(lines[297], "99");
  EXPECT_EQ(lines[300], "RESULT: The operation completed SUCCESSFULLY");
}

TEST(PrintQuery, NoReportNoResultLineAndNoSessionIsRefused) {
  FakeSession session;
  OutputLog log;
  EXPECT_TRUE(PrintQuery(log, &session, "use `shop`", false));
  EXPECT_TRUE(Texts(log).empty());
  EXPECT_FALSE(PrintQuery<FakeSession>(log, nullptr, "use `shop`", true));
  ASSERT_EQ(Texts(log).size(), 1u);
  EXPECT_EQ(Texts(log)[0].rfind("No Connection! \r\n failed with error code:[0x", 0), 0u);
}

TEST(PrintQuery, FailuresWriteProviderTextAndReturnFalse) {
  FakeSession session;
  session.fail = true;
  OutputLog log;
  EXPECT_FALSE(PrintQuery(log, &session, "selec 1", true));
  ASSERT_EQ(log.model().Snapshot().size(), 1u);
  EXPECT_EQ(log.model().Snapshot()[0].line_class, LineClass::kProvider);
  EXPECT_EQ(log.model().Snapshot()[0].text, "You have an error in your SQL syntax");
  // A fetch that fails half-way is a failure, not a short success.
  session.fail = false;
  session.next = FakeCursor({"a"}, {{"1"}, {"2"}, {"3"}}, 2);
  OutputLog log2;
  EXPECT_FALSE(PrintQuery(log2, &session, "select a from t", true));
  EXPECT_EQ(Texts(log2), (std::vector<std::string>{"1", "2", "connection lost"}));
}

struct ValueCase {
  const char* name;
  std::vector<FakeCursor::Row> rows;
  bool report;
  std::string expected;
  std::vector<std::string> lines;
};

TEST(QueryValue, FirstQualifyingValue) {
  const std::string ok = "RESULT: The operation completed SUCCESSFULLY";
  const ValueCase cases[] = {
      {"first value", {{"42", "7"}}, false, "42", {}},
      {"null skipped", {{std::nullopt, "7"}}, false, "7", {"(NULL)"}},
      {"negative skipped", {{"-1", "5"}}, true, "5", {ok, ok}},
      {"negative fraction skipped", {{"-0.5", "abc"}}, false, "abc", {}},
      {"next row", {{"-3"}, {"8"}}, false, "8", {}},
      {"report line before value", {{"x"}}, true, "x", {ok}},
      {"nothing qualifies", {{"-1"}, {std::nullopt}}, false, ok, {"(NULL)"}},
      {"no rows with report", {}, true, ok, {ok}},
      {"no rows without report", {}, false, ok, {}},
  };
  for (const ValueCase& c : cases) {
    FakeSession session;
    session.next = FakeCursor({"a", "b"}, c.rows);
    if (!c.rows.empty() && c.rows[0].size() == 1) session.next = FakeCursor({"a"}, c.rows);
    OutputLog log;
    EXPECT_EQ(QueryValue(log, &session, "select", c.report), c.expected) << c.name;
    EXPECT_EQ(Texts(log), c.lines) << c.name;
  }
}

TEST(QueryValue, RowsAfterTheHundredthAreNotLookedAt) {
  std::vector<FakeCursor::Row> rows(100, FakeCursor::Row{"-1"});
  rows.push_back({"9"});
  FakeSession session;
  session.next = FakeCursor({"a"}, rows);
  OutputLog log;
  EXPECT_EQ(QueryValue(log, &session, "select", false), kResultSuccess);
}

TEST(QueryValue, ErrorsReturnDescriptionWithoutLine) {
  FakeSession session;
  session.fail = true;
  OutputLog log;
  EXPECT_EQ(QueryValue(log, &session, "selec", true), "You have an error in your SQL syntax");
  EXPECT_TRUE(Texts(log).empty());
  EXPECT_EQ(QueryValue<FakeSession>(log, nullptr, "select 1", true), "");
  EXPECT_EQ(Texts(log).size(), 1u);
}

}  // namespace
}  // namespace velquin
