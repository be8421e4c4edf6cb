// CopyTableRows against a scripted source and a recording target: exact
// statements, refused rows kept with their reasons, progress every 2000
// rows, the stop request, the row condition and the fast path.
#include "migrate/row_copy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "db/memory_cursor.h"

namespace velquin {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// A cursor that fails after `fail_after` rows (a lost connection).
class FailingCursor : public MemoryCursor {
 public:
  FailingCursor(std::vector<ColumnInfo> c, std::vector<Row> r, std::size_t fail_after)
      : MemoryCursor(std::move(c), std::move(r)), fail_after_(fail_after) {}
  Result<bool> MoveNext() override {
    if (read_++ == fail_after_) return Status::IOError("Lost connection to server during query");
    return MemoryCursor::MoveNext();
  }

 private:
  std::size_t fail_after_;
  std::size_t read_ = 0;
};

class FakeSession : public Session {
 public:
  std::vector<ColumnInfo> columns;
  std::vector<MemoryCursor::Row> rows;
  std::optional<std::size_t> fail_after;
  std::vector<std::string> queries;
  std::vector<std::string> executed;
  std::string refuse_marker = "REFUSE";

  Result<ExecuteOutcome> Execute(std::string_view sql) override {
    executed.emplace_back(sql);
    if (sql.find(refuse_marker) != std::string_view::npos) {
      return Status::Constraint("The changes you requested to the table were not successful.");
    }
    return ExecuteOutcome::kNoRowset;
  }
  Result<std::unique_ptr<QueryCursor>> OpenQuery(std::string_view sql) override {
    queries.emplace_back(sql);
    if (fail_after)
      return std::unique_ptr<QueryCursor>(new FailingCursor(columns, rows, *fail_after));
    return std::unique_ptr<QueryCursor>(new MemoryCursor(columns, rows));
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

ColumnPlan Plan(const std::string& name, AccessType type,
                ValueTransform transform = ValueTransform::kAsIs) {
  ColumnPlan p;
  p.name = name;
  p.declared = "x";
  p.type = type;
  p.transform = transform;
  return p;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class RowCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("velquin-rowcopy-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    options_.database = "shop";
    options_.table = "t";
    options_.access_table = "t";
    options_.data_dir = dir_;
    options_.batch_rows = 7;  // several hand-overs between the threads
    options_.queue_batches = 2;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // An (integer, text) table with `n` rows 1..n.
  void IntTextRows(int n) {
    source_.columns = MemoryCursor::TextColumns({"id", "name"});
    for (int i = 1; i <= n; ++i)
      source_.rows.push_back({std::to_string(i), "n" + std::to_string(i)});
    options_.columns = {Plan("id", AccessType::kLong), Plan("name", AccessType::kText)};
  }

  CopyRowsResult Copy() {
    return CopyTableRows(&source_, &target_, options_,
                         [this](const std::string& line) { lines_.push_back(line); });
  }

  fs::path dir_;
  FakeSession source_, target_;
  CopyRowsOptions options_;
  std::vector<std::string> lines_;
};

TEST_F(RowCopyTest, EveryValueArrivesExactOneStatementPerRow) {
  source_.columns = MemoryCursor::TextColumns({"id", "name", "born", "n", "data"});
  source_.columns[4].binary = true;
  source_.rows = {{"5", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
                  {"6", "O'Brien", "2001-02-03 04:05:06", "0", std::string("10\0\0", 4)}};
  options_.columns = {Plan("id", AccessType::kLong), Plan("name", AccessType::kText),
                      Plan("born", AccessType::kDateTime, ValueTransform::kDateTime),
                      Plan("n", AccessType::kLong),
                      Plan("data", AccessType::kBinary, ValueTransform::kBytes)};
  CopyRowsResult r = Copy();
  ASSERT_TRUE(r.ok()) << r.status.message();
  const std::string head = "insert into `t` (`id`,`name`,`born`,`n`,`data`) values ";
  const std::vector<std::string> expected = {
      head + "(5,NULL,NULL,NULL,NULL)\n",
      head + "(6,'O''Brien',#2001-02-03 04:05:06#,0,0x31300000)\n"};
  EXPECT_EQ(target_.executed, expected);
  EXPECT_EQ(ReadFile(r.data_file), expected[0] + expected[1]);
  EXPECT_EQ(r.read, 2u);
  EXPECT_EQ(r.written, 2u);
  EXPECT_THAT(source_.queries, ElementsAre("select * from `shop`.`t`"));
}

TEST_F(RowCopyTest, ProgressEvery2000RowsThenTheSummary) {
  IntTextRows(4500);
  CopyRowsResult r = Copy();
  ASSERT_TRUE(r.ok());
  EXPECT_THAT(lines_, ElementsAre("[t] 2000 records converted!", "[t] 4000 records converted!",
                                  "[t] 4500 records converted, convertion completed SUCCESSFULLY!",
                                  "[t] rows read 4500, written 4500, refused 0"));
}

TEST_F(RowCopyTest, EmptyTableGivesAnEmptyDataFileAndTheSummary) {
  IntTextRows(0);
  CopyRowsResult r = Copy();
  EXPECT_TRUE(r.ok());
  EXPECT_TRUE(target_.executed.empty());
  EXPECT_TRUE(fs::exists(r.data_file));
  EXPECT_EQ(fs::file_size(r.data_file), 0u);
  EXPECT_THAT(lines_, Contains("[t] 0 records converted, convertion completed SUCCESSFULLY!"));
}

TEST_F(RowCopyTest, RefusedRowsAreCountedShownAndKeptWithTheirReason) {
  IntTextRows(20);
  for (int i : {3, 5, 7, 9, 11}) source_.rows[i - 1][1] = "REFUSE" + std::to_string(i);
  options_.reasons_shown = 2;
  CopyRowsResult r = Copy();
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.read, 20u);
  EXPECT_EQ(r.written, 15u);
  EXPECT_EQ(r.refused, 5u);
  EXPECT_THAT(lines_, Contains("E::[t] row 3 refused: The changes you requested to the table "
                               "were not successful."));
  EXPECT_THAT(lines_, Contains("E::[t] 3 more rows refused"));
  EXPECT_THAT(lines_, Contains(HasSubstr("E::[t] rows read 20, written 15, refused 5")));
  // Not the success line.
  for (const auto& l : lines_) EXPECT_THAT(l, ::testing::Not(HasSubstr("SUCCESSFULLY")));
  ASSERT_EQ(r.rejects_file, dir_ / "t.rejects");
  const std::string rejects = ReadFile(r.rejects_file);
  EXPECT_THAT(rejects, HasSubstr("-- row 11: The changes you requested"));
  EXPECT_THAT(rejects, HasSubstr("values (11,'REFUSE11')\n"));
  // The data file still holds every row's statement.
  const std::string data = ReadFile(r.data_file);
  EXPECT_EQ(std::count(data.begin(), data.end(), '\n'), 20);
}

TEST_F(RowCopyTest, AValueAccessCannotHoldRefusesItsRowOnly) {
  source_.columns = MemoryCursor::TextColumns({"id", "d"});
  source_.rows = {{"1", "0050-01-01"}, {"2", "2020-01-01"}, {"3", "0000-00-00"}};
  options_.columns = {Plan("id", AccessType::kLong),
                      Plan("d", AccessType::kDateTime, ValueTransform::kDate)};
  CopyRowsResult r = Copy();
  EXPECT_EQ(r.refused, 1u);
  EXPECT_EQ(r.written, 2u);
  EXPECT_THAT(ReadFile(r.rejects_file), HasSubstr("before the year 100"));
  EXPECT_THAT(target_.executed, Contains(HasSubstr("(3,NULL)")));  // zero date: no date
  // The change is counted for the column, with the source value.
  EXPECT_EQ(r.transforms,
            (std::vector<TransformCount>{{"d", TransformKind::kZeroDateToNull, 1, "0000-00-00"}}));
  EXPECT_THAT(lines_, Contains("[t] changed for Access: `d`: zero date to NULL, 1 value (e.g. "
                               "'0000-00-00')"));
}

TEST_F(RowCopyTest, RefusedZeroDatesKeepTheSourceValueInTheReasonAndTheRejectsFile) {
  source_.columns = MemoryCursor::TextColumns({"id", "d"});
  source_.rows = {{"1", "0000-00-00 00:00:00"}, {"2", "2020-01-01 00:00:00"}};
  options_.columns = {Plan("id", AccessType::kLong),
                      Plan("d", AccessType::kDateTime, ValueTransform::kDateTime)};
  options_.zero_dates = ZeroDates::kRefuse;
  CopyRowsResult r = Copy();
  EXPECT_EQ(r.refused, 1u);
  EXPECT_TRUE(r.transforms.empty());
  const std::string rejects = ReadFile(r.rejects_file);
  EXPECT_THAT(rejects, HasSubstr("-- row 1: column `d`: the zero date '0000-00-00 00:00:00'"));
  EXPECT_THAT(rejects, HasSubstr("values (1,'0000-00-00 00:00:00')\n"));
}

TEST_F(RowCopyTest, StopRequestEndsTheCopyWithTheSummary) {
  IntTextRows(100);
  std::atomic<int> asked{0};
  options_.stop_requested = [&] { return ++asked >= 3; };
  CopyRowsResult r = Copy();
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.read, 3u);
  EXPECT_EQ(target_.executed.size(), 3u);
  // A stopped copy never calls itself complete.
  EXPECT_THAT(lines_,
              ElementsAre("Data Converting Terminaled!", "[t] rows read 3, written 3, refused 0"));
}

TEST_F(RowCopyTest, ConditionNarrowsTheQuery) {
  IntTextRows(1);
  options_.condition = "id > 100";
  Copy();
  EXPECT_THAT(source_.queries, ElementsAre("select * from `shop`.`t` where id > 100"));
}

TEST_F(RowCopyTest, AFailedReadIsAFailureNotACompleteCopy) {
  IntTextRows(50);
  source_.fail_after = 20;
  CopyRowsResult r = Copy();
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.read, 20u);
  EXPECT_THAT(lines_, Contains("T::Lost connection to server during query"));
  for (const auto& l : lines_) EXPECT_THAT(l, ::testing::Not(HasSubstr("SUCCESSFULLY")));
}

TEST_F(RowCopyTest, FastPathTakesTheRowsInsteadOfStatements) {
  IntTextRows(10);
  struct Recorder : RowInserter {
    std::vector<std::vector<TargetValue>>* rows;
    bool* finished;
    Status Insert(const std::vector<TargetValue>& row, std::string_view) override {
      if (row[0].text == "4") return Status::Constraint("duplicate key");
      rows->push_back(row);
      return Status::Ok();
    }
    Status Finish() override {
      *finished = true;
      return Status::Ok();
    }
  };
  std::vector<std::vector<TargetValue>> got;
  bool finished = false;
  options_.inserter_factory =
      [&](Session&, const std::string& table,
          const std::vector<ColumnPlan>&) -> Result<std::unique_ptr<RowInserter>> {
    EXPECT_EQ(table, "t");
    auto r = std::make_unique<Recorder>();
    r->rows = &got;
    r->finished = &finished;
    return std::unique_ptr<RowInserter>(std::move(r));
  };
  CopyRowsResult r = Copy();
  EXPECT_TRUE(target_.executed.empty());
  EXPECT_TRUE(finished);
  EXPECT_EQ(got.size(), 9u);
  EXPECT_EQ(r.refused, 1u);
  EXPECT_EQ(got[0][1].text, "n1");
}

TEST_F(RowCopyTest, RowsPreparedOnTheReaderAreInsertedInOrderAndItsRefusalsCounted) {
  IntTextRows(20);
  // Takes the id as a Long; refuses row 4 while preparing and row 9 when
  // inserting.
  struct Preparer : RowInserter {
    std::vector<int32_t>* ids;
    Status Insert(const std::vector<TargetValue>&, std::string_view) override {
      return Status::NotSupported("a preparing inserter is given prepared rows");
    }
    bool Prepares() const override { return true; }
    Status Prepare(const std::vector<TargetValue>& row,
                   std::vector<jet::Value>* out) const override {
      if (row[0].text == "4") return Status::Constraint("column `id`: too large");
      out->assign({jet::Value::Long(std::stoi(row[0].text)), jet::Value::Text(row[1].text)});
      return Status::Ok();
    }
    Status InsertPrepared(const std::vector<jet::Value>& row) override {
      if (row[0].long_value() == 9) return Status::Constraint("duplicate key");
      ids->push_back(row[0].long_value());
      return Status::Ok();
    }
    Status Finish() override { return Status::Ok(); }
    bool NeedsStatements() const override { return false; }
  };
  std::vector<int32_t> ids;
  options_.inserter_factory =
      [&](Session&, const std::string&,
          const std::vector<ColumnPlan>&) -> Result<std::unique_ptr<RowInserter>> {
    auto r = std::make_unique<Preparer>();
    r->ids = &ids;
    return std::unique_ptr<RowInserter>(std::move(r));
  };
  options_.data_file = false;
  CopyRowsResult r = Copy();
  std::vector<int32_t> expected;
  for (int i = 1; i <= 20; ++i) {
    if (i != 4 && i != 9) expected.push_back(i);
  }
  EXPECT_EQ(ids, expected);
  EXPECT_EQ(r.read, 20u);
  EXPECT_EQ(r.written, 18u);
  EXPECT_EQ(r.refused, 2u);
  EXPECT_THAT(lines_, Contains(HasSubstr("row 4 refused: column `id`: too large")));
  EXPECT_THAT(lines_, Contains(HasSubstr("row 9 refused: duplicate key")));
  const std::string rejects = ReadFile(r.rejects_file);
  EXPECT_THAT(rejects, HasSubstr("-- row 4: column `id`: too large\ninsert into `t`"));
  EXPECT_THAT(rejects, HasSubstr("values (9,'n9')"));
}

TEST_F(RowCopyTest, AFailedWriteEndsTheCopyAndCountsTheRowsTheTargetKept) {
  // A target that commits every 4 rows and fails at the 11th (the disk is
  // full): its last commit kept 8 rows.
  for (bool at_finish : {false, true}) {
    SCOPED_TRACE(at_finish ? "failing at Finish" : "failing at row 11");
    source_.rows.clear();
    IntTextRows(30);
    lines_.clear();
    struct Full : RowInserter {
      bool at_finish = false;
      uint64_t inserted = 0;
      Status Insert(const std::vector<TargetValue>&, std::string_view) override {
        if (!at_finish && inserted == 10) return Status::IOError("x.mdb: No space left on device");
        ++inserted;
        return Status::Ok();
      }
      Status Finish() override {
        return at_finish ? Status::IOError("x.mdb: No space left on device") : Status::Ok();
      }
      std::optional<uint64_t> RowsKept() const override { return inserted / 4 * 4; }
    };
    options_.inserter_factory =
        [&](Session&, const std::string&,
            const std::vector<ColumnPlan>&) -> Result<std::unique_ptr<RowInserter>> {
      auto r = std::make_unique<Full>();
      r->at_finish = at_finish;
      return std::unique_ptr<RowInserter>(std::move(r));
    };
    CopyRowsResult r = Copy();
    EXPECT_FALSE(r.ok());
    EXPECT_THAT(r.status.message(), HasSubstr("No space left on device"));
    EXPECT_EQ(r.refused, 0u);
    EXPECT_TRUE(r.rejects_file.empty());
    EXPECT_EQ(r.written, at_finish ? 28u : 8u);
    EXPECT_EQ(r.read, at_finish ? 30u : 11u);
  }
}

TEST_F(RowCopyTest, MissingSessionsAreReported) {
  auto r = CopyTableRows(nullptr, &target_, options_,
                         [this](const std::string& l) { lines_.push_back(l); });
  EXPECT_FALSE(r.status.ok());
  r = CopyTableRows(&source_, nullptr, options_,
                    [this](const std::string& l) { lines_.push_back(l); });
  EXPECT_FALSE(r.status.ok());
  EXPECT_THAT(lines_, ElementsAre("No Source Connection!", "No Target Connection!"));
}

}  // namespace
}  // namespace velquin
