// The output log on one thread: line classes, formatting, the timestamp
// layout, capacity, long messages and sinks that write lines themselves.
#include "log/output_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace velquin {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

std::chrono::system_clock::time_point At(int64_t seconds, int millis) {
  return std::chrono::system_clock::time_point(std::chrono::seconds(seconds)) +
         std::chrono::milliseconds(millis);
}

// 2011-05-03 14:02:09 UTC.
constexpr int64_t kMay3rd2011 = 1304431329;

struct ClassCase {
  const char* message;
  LineClass line_class;
  const char* shown;
};

class LineClassTest : public ::testing::TestWithParam<ClassCase> {};

TEST_P(LineClassTest, PrefixDecidesClassAndShownText) {
  const ClassCase& c = GetParam();
  OutputLog log(10);
  log.Write(c.message);
  const auto lines = log.model().Snapshot();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].line_class, c.line_class);
  EXPECT_EQ(lines[0].text, c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Prefixes, LineClassTest,
    ::testing::Values(
        ClassCase{"E::No Connection!", LineClass::kError, "No Connection!"},
        ClassCase{"S::", LineClass::kSuccess, ""},
        ClassCase{"S::Done", LineClass::kSuccess, "Done"},
        ClassCase{"T::[Microsoft][ODBC] error", LineClass::kProvider, "[Microsoft][ODBC] error"},
        ClassCase{"e::lower case", LineClass::kPlain, "e::lower case"},
        ClassCase{"s::x", LineClass::kPlain, "s::x"}, ClassCase{"t::x", LineClass::kPlain, "t::x"},
        ClassCase{"E:", LineClass::kPlain, "E:"}, ClassCase{"E:x:y", LineClass::kPlain, "E:x:y"},
        ClassCase{"X::other letter", LineClass::kPlain, "X::other letter"},
        ClassCase{" E::leading blank", LineClass::kPlain, " E::leading blank"},
        ClassCase{"", LineClass::kPlain, ""},
        // Only the first prefix is taken away.
        ClassCase{"E::E::twice", LineClass::kError, "E::twice"},
        ClassCase{"Remove Database [shop]!", LineClass::kPlain, "Remove Database [shop]!"}));

TEST(WriteOutputTest, FormatsPrintfStyleWithTypeCheckedArguments) {
  OutputLog log(10);
  WriteOutputTo(log, "Convert table [%s] into Target database [%s]?", "orders", "shop");
  WriteOutputTo(log, "[%d] tables removed!", 3);
  // Integer width does not matter: a 64-bit count with %d is printed whole.
  WriteOutputTo(log, "count %d", int64_t{5000000000});
  WriteOutputTo(log, "[%s](%d)Select Source Database[%s] Error!", std::string("src/x.cc"), 77,
                std::string_view("db"));
  const auto lines = log.model().Snapshot();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].text, "Convert table [orders] into Target database [shop]?");
  EXPECT_EQ(lines[1].text, "[3] tables removed!");
  EXPECT_EQ(lines[2].text, "count 5000000000");
  EXPECT_EQ(lines[3].text, "[src/x.cc](77)Select Source Database[db] Error!");
}

TEST(WriteOutputTest, PercentSignsInTextAreShownUnchanged) {
  OutputLog log(10);
  // Argument texts are never formatted again.
  WriteOutputTo(log, "%s", "SELECT * FROM t WHERE name LIKE 'a%s%d%'");
  WriteOutputTo(log, "T::%s", "100% failed");
  // A bare text without arguments is taken as it is.
  WriteOutputTo(log, "LIKE 'x%'");
  const auto lines = log.model().Snapshot();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].text, "SELECT * FROM t WHERE name LIKE 'a%s%d%'");
  EXPECT_EQ(lines[1].text, "100% failed");
  EXPECT_EQ(lines[1].line_class, LineClass::kProvider);
  EXPECT_EQ(lines[2].text, "LIKE 'x%'");
}

TEST(WriteOutputTest, BadFormatKeepsTheFormatTextInsteadOfThrowing) {
  OutputLog log(10);
  WriteOutputTo(log, "E::rows %d of %s", std::string("x"));  // wrong type, missing argument
  // %s with a number: no wild pointer is read, the format is kept.
  WriteOutputTo(log, "count %s", 42);
  const auto lines = log.model().Snapshot();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].line_class, LineClass::kError);
  EXPECT_EQ(lines[0].text, "rows %d of %s");
  EXPECT_EQ(lines[1].text, "count %s");
}

TEST(WriteOutputTest, GlobalLogReceivesWriteOutput) {
  const uint64_t before = OutputLog::Global().model().change_count();
  WriteOutput("S::%s", "global");
  const auto lines = OutputLog::Global().model().Snapshot();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().text, "global");
  EXPECT_EQ(lines.back().line_class, LineClass::kSuccess);
  EXPECT_EQ(OutputLog::Global().model().change_count(), before + 1);
}

TEST(WriteOutputTest, LongMessageIsKeptWhole) {
  OutputLog log(10);
  std::string provider_error(5000, 'x');
  provider_error += "THE END";
  WriteOutputTo(log, "T::%s", provider_error);
  const auto lines = log.model().Snapshot();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, provider_error);
  EXPECT_EQ(lines[0].Display().size(), 24 + provider_error.size());
}

// ---- Timestamps ----

class TimestampTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    had_tz_ = tz != nullptr;
    if (had_tz_) saved_tz_ = tz;
  }
  void TearDown() override {
    if (had_tz_) {
      setenv("TZ", saved_tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void UseZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  bool had_tz_ = false;
  std::string saved_tz_;
};

TEST_F(TimestampTest, LayoutIsYearMonthDayTimeAndMilliseconds) {
  UseZone("UTC");
  EXPECT_EQ(FormatTimestamp(At(kMay3rd2011, 45)), "2011/05/03 14:02:09:045 ");
  EXPECT_EQ(FormatTimestamp(At(kMay3rd2011, 999)), "2011/05/03 14:02:09:999 ");
  EXPECT_EQ(FormatTimestamp(At(kMay3rd2011, 0)), "2011/05/03 14:02:09:000 ");
  // Single-digit fields are zero-padded.
  EXPECT_EQ(FormatTimestamp(At(0, 7)), "1970/01/01 00:00:00:007 ");
  // Just before 1970: the milliseconds stay within their second.
  EXPECT_EQ(FormatTimestamp(At(0, -1)), "1969/12/31 23:59:59:999 ");
}

TEST_F(TimestampTest, UsesLocalTime) {
  UseZone("XYZ-2");  // two hours east of UTC
  EXPECT_EQ(FormatTimestamp(At(kMay3rd2011, 45)), "2011/05/03 16:02:09:045 ");
  UseZone("ABC+10");  // ten hours west: the previous evening... same day here
  EXPECT_EQ(FormatTimestamp(At(kMay3rd2011, 45)), "2011/05/03 04:02:09:045 ");
  UseZone("ABC+15");  // fifteen hours west: the day before
  EXPECT_EQ(FormatTimestamp(At(kMay3rd2011, 45)), "2011/05/02 23:02:09:045 ");
}

TEST_F(TimestampTest, EveryLineStartsWithTheTimestampOfItsWrite) {
  UseZone("UTC");
  auto now = At(kMay3rd2011, 45);
  OutputLog log(10, [&now] { return now; });
  log.Write("E::No Connection!");
  now += 1500ms;
  log.Write("plain");
  const auto lines = log.model().Snapshot();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].Display(), "2011/05/03 14:02:09:045 No Connection!");
  EXPECT_EQ(lines[1].Display(), "2011/05/03 14:02:10:545 plain");
}

// ---- Capacity ----

TEST(CapacityTest, The1002ndLinePushesOutTheFirst) {
  OutputLog log;  // the product's capacity
  ASSERT_EQ(log.model().capacity(), 1001u);
  for (int i = 1; i <= 1001; ++i) WriteOutputTo(log, "line %d", i);
  EXPECT_EQ(log.model().size(), 1001u);
  EXPECT_EQ(log.model().Snapshot().front().text, "line 1");

  WriteOutputTo(log, "line %d", 1002);
  const auto lines = log.model().Snapshot();
  ASSERT_EQ(lines.size(), 1001u);
  EXPECT_EQ(lines.front().text, "line 2");
  EXPECT_EQ(lines.back().text, "line 1002");
  EXPECT_EQ(lines.back().sequence, 1002u);

  for (int i = 0; i < 500; ++i) WriteOutputTo(log, "more");
  EXPECT_EQ(log.model().size(), 1001u);
  EXPECT_EQ(log.model().change_count(), 1502u);
}

// ---- Sinks ----

class CollectingSink : public LogSink {
 public:
  void OnLine(const LogLine& line) override { lines.push_back(line); }
  std::vector<LogLine> lines;
};

TEST(SinkTest, SinksSeeEveryLineAndRemovedSinksNoMore) {
  OutputLog log(2);
  auto sink = std::make_shared<CollectingSink>();
  log.AddSink(sink);
  log.Write("a");
  log.Write("E::b");
  log.Write("c");
  log.RemoveSink(sink);
  log.Write("d");
  ASSERT_EQ(sink->lines.size(), 3u);
  EXPECT_EQ(sink->lines[1].text, "b");
  EXPECT_EQ(sink->lines[1].line_class, LineClass::kError);
  // The model keeps only its capacity; sinks saw everything.
  EXPECT_EQ(log.model().size(), 2u);
}

// A sink that writes a line of its own for some lines (as a GUI sink might
// report a problem): no deadlock, and its line follows the one it saw.
class EchoingSink : public LogSink {
 public:
  explicit EchoingSink(OutputLog& log) : log_(log) {}
  void OnLine(const LogLine& line) override {
    seen.push_back(line.text);
    if (line.text == "trigger") WriteOutputTo(log_, "echo of %s", line.text);
  }
  std::vector<std::string> seen;

 private:
  OutputLog& log_;
};

TEST(SinkTest, SinkWritingToTheLogDoesNotDeadlockAndKeepsOrder) {
  OutputLog log(10);
  auto sink = std::make_shared<EchoingSink>(log);
  log.AddSink(sink);
  log.Write("first");
  log.Write("trigger");
  log.Write("last");
  EXPECT_THAT(sink->seen, ElementsAre("first", "trigger", "echo of trigger", "last"));
  std::vector<std::string> model;
  for (const auto& l : log.model().Snapshot()) model.push_back(l.text);
  EXPECT_THAT(model, ElementsAre("first", "trigger", "echo of trigger", "last"));
}

class ThrowingSink : public LogSink {
 public:
  void OnLine(const LogLine&) override { throw std::runtime_error("disk full"); }
};

TEST(SinkTest, ThrowingSinkDoesNotStopOtherSinksOrTheWriter) {
  OutputLog log(10);
  auto collecting = std::make_shared<CollectingSink>();
  log.AddSink(std::make_shared<ThrowingSink>());
  log.AddSink(collecting);
  EXPECT_NO_THROW(log.Write("x"));
  EXPECT_NO_THROW(log.Write("y"));
  EXPECT_EQ(collecting->lines.size(), 2u);
}

TEST(ModelTest, ChangeCallbackIsToldOfEachLine) {
  OutputLog log(3);
  std::vector<uint64_t> told;
  log.model().SetChangeCallback([&told](const LogLine& l) { told.push_back(l.sequence); });
  log.Write("a");
  log.Write("b");
  log.model().SetChangeCallback(nullptr);
  log.Write("c");
  EXPECT_THAT(told, ElementsAre(1u, 2u));
  EXPECT_EQ(log.model().change_count(), 3u);
}

}  // namespace
}  // namespace velquin
