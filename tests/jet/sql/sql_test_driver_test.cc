// Runs every .test file of this folder through the SQL front end: the
// `parse` and `saved-query` records fully, and for the records that need a
// database (statement, query) the part the front end decides: the statement
// must parse, and a syntax error must be the one expected.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "jet/sql/format.h"
#include "jet/sql/parser.h"
#include "jet/sql/saved_query.h"
#include "sql_test_file.h"

namespace velquin::jet::sql {
namespace {

namespace fs = std::filesystem;
using sqltest::JoinLines;
using sqltest::SqlTestRecord;

std::vector<std::string> TestFiles() {
  std::vector<std::string> files;
  const fs::path dir = fs::path(VELQUIN_SOURCE_DIR) / "tests" / "jet" / "sql";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (entry.path().extension() == ".test") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string RowText(const QueryRow& r) {
  std::vector<std::string> fields = {
      std::to_string(static_cast<int>(r.attribute)),
      r.flag ? std::to_string(*r.flag) : "",
      r.name1.value_or(""),
      r.name2.value_or(""),
      r.expression.value_or(""),
  };
  // A union query's part texts break lines with CR LF: shown as \r\n.
  std::string shown;
  for (char c : fields[4]) shown += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  fields[4] = shown;
  while (fields.size() > 1 && fields.back().empty()) fields.pop_back();
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += " | ";
    out += fields[i];
  }
  return out;
}

// Messages that only the front end gives: a statement expected to fail with
// one of these must fail to parse.
bool IsFrontEndMessage(const std::string& m) {
  return m.starts_with("Syntax error") || m.starts_with("Invalid SQL statement") ||
         m.find("is not a valid name") != std::string::npos ||
         m.starts_with("Characters found after end");
}

// A parsed statement must survive formatting and parsing again unchanged.
void ExpectStableFormat(const Statement& s) {
  const std::string text = FormatStatement(s);
  auto again = ParseStatement(text);
  ASSERT_TRUE(again.ok()) << "normalized form does not parse: " << text << "\n"
                          << again.status().message();
  EXPECT_TRUE(*again == s) << "normalized form parses differently: " << text << "\nthen "
                           << FormatStatement(*again);
}

void RunSavedQuery(const SqlTestRecord& r) {
  auto parsed = ParseStatement(r.sql);
  ASSERT_TRUE(parsed.ok()) << parsed.status().message();
  Result<std::vector<QueryRow>> rows = Status::InvalidArgument("no SELECT");
  if (const auto* view = std::get_if<CreateView>(&*parsed)) {
    rows = ViewToQueryRows(*view);
  } else if (const auto* select = std::get_if<Select>(&*parsed)) {
    rows = SelectToQueryRows(*select);
  } else {
    FAIL() << "a saved-query record needs a SELECT or a CREATE VIEW";
  }
  if (!r.expected.empty() && r.expected[0].starts_with("error: ")) {
    ASSERT_FALSE(rows.ok()) << "expected a refusal";
    EXPECT_EQ(rows.status().message(), r.expected[0].substr(7));
    return;
  }
  ASSERT_TRUE(rows.ok()) << rows.status().message();
  std::vector<std::string> got;
  for (const QueryRow& row : *rows) got.push_back(RowText(row));
  EXPECT_EQ(JoinLines(got), JoinLines(r.expected));

  auto text = QueryRowsToSql(*rows);
  ASSERT_TRUE(text.ok()) << text.status().message();
  EXPECT_EQ(*text, JoinLines(r.expected2));

  // Read back as a SELECT and stored again: the same rows.
  auto select = QueryRowsToSelect(*rows);
  ASSERT_TRUE(select.ok()) << select.status().message();
  auto rows_again = SelectToQueryRows(*select);
  ASSERT_TRUE(rows_again.ok()) << rows_again.status().message();
  std::vector<std::string> got_again;
  for (const QueryRow& row : *rows_again) got_again.push_back(RowText(row));
  EXPECT_EQ(JoinLines(got_again), JoinLines(got));
}

class SqlFileTest : public testing::TestWithParam<std::string> {};

TEST_P(SqlFileTest, FrontEndGivesTheExpectedResults) {
  auto records = sqltest::ReadSqlTestFile(GetParam());
  ASSERT_TRUE(records.ok()) << records.status().ToString();
  ASSERT_FALSE(records->empty());
  const std::string file = fs::path(GetParam()).filename().string();
  for (const SqlTestRecord& r : *records) {
    SCOPED_TRACE(file + ":" + std::to_string(r.line) + ": " + r.sql);
    if (r.kind == "reopen") continue;  // needs a database file
    if (r.kind == "saved-query") {
      RunSavedQuery(r);
      continue;
    }
    auto parsed = ParseStatement(r.sql);
    const bool expect_error = r.argument == "error";
    if (r.kind == "parse" && expect_error) {
      if (parsed.ok()) {
        ADD_FAILURE() << "expected a refusal, got " << FormatStatement(*parsed);
        continue;
      }
      EXPECT_EQ(parsed.status().message(), JoinLines(r.expected));
      continue;
    }
    if (r.kind == "statement" && expect_error) {
      const std::string message = JoinLines(r.expected);
      if (!parsed.ok()) {
        EXPECT_EQ(parsed.status().message(), message);
      } else {
        EXPECT_FALSE(IsFrontEndMessage(message))
            << "parsed, though the expected error is the front end's";
      }
      continue;
    }
    if (!parsed.ok()) {
      ADD_FAILURE() << parsed.status().message();
      continue;
    }
    if (r.kind == "parse" && r.has_expected) {
      EXPECT_EQ(FormatStatement(*parsed), JoinLines(r.expected));
    }
    ExpectStableFormat(*parsed);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, SqlFileTest, testing::ValuesIn(TestFiles()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = fs::path(info.param).stem().string();
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

TEST(SqlFileTest, TheFolderHoldsTestFiles) { EXPECT_GE(TestFiles().size(), 3u); }

}  // namespace
}  // namespace velquin::jet::sql
