// Saved queries against Access's own: the queries of an Access 2000 file
// (read with mdbtools' mdb-export) must read back as SQL, and our reading of
// their rows must agree with what mdbtools' mdb-queries prints for them.
#include "jet/sql/saved_query.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "jet/sql/parser.h"

namespace velquin::jet::sql {
namespace {

namespace fs = std::filesystem;

std::string ReferenceFile() {
  return (fs::path(VELQUIN_TEST_DATA_DIR) / "reference-mdb" / "queryTestV2000.mdb").string();
}

bool HaveMdbTools() {
  return std::system("command -v mdb-export mdb-queries >/dev/null 2>&1") == 0;
}

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out.push_back(c);
    }
  }
  return out + "'";
}

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  pclose(pipe);
  return out;
}

// mdb-export's CSV: fields separated by ",", text in double quotes with the
// quote doubled inside (line breaks allowed), NULL as an empty field.
std::vector<std::vector<std::optional<std::string>>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::optional<std::string>>> rows;
  std::vector<std::optional<std::string>> row;
  size_t i = 0;
  while (i < text.size()) {
    std::optional<std::string> field;
    if (text[i] == '"') {
      std::string value;
      ++i;
      while (i < text.size()) {
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            value.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        value.push_back(text[i++]);
      }
      field = value;
    } else {
      std::string value;
      while (i < text.size() && text[i] != ',' && text[i] != '\n') value.push_back(text[i++]);
      if (!value.empty()) field = value;
    }
    row.push_back(field);
    if (i < text.size() && text[i] == ',') {
      ++i;
    } else {
      if (i < text.size()) ++i;  // line feed
      rows.push_back(std::move(row));
      row.clear();
    }
  }
  return rows;
}

struct StoredQuery {
  std::string name;
  std::vector<QueryRow> rows;  // in the file's order
};

// Every saved query of the file, by name.
std::map<std::string, StoredQuery> ReadQueries(const std::string& file) {
  std::map<std::string, StoredQuery> by_id;
  auto objects = ParseCsv(RunCommand("mdb-export -b strip " + ShellQuote(file) + " MSysObjects"));
  if (objects.empty()) return {};
  const auto& head = objects[0];
  auto column = [&](const char* name) {
    for (size_t i = 0; i < head.size(); ++i) {
      if (head[i] == name) return i;
    }
    ADD_FAILURE() << "no column " << name;
    return size_t{0};
  };
  const size_t id_col = column("Id"), name_col = column("Name"), type_col = column("Type");
  for (size_t r = 1; r < objects.size(); ++r) {
    if (objects[r].size() != head.size()) continue;
    if (objects[r][type_col].value_or("") != "5") continue;
    by_id[objects[r][id_col].value_or("")].name = objects[r][name_col].value_or("");
  }
  auto queries = ParseCsv(RunCommand("mdb-export -b strip " + ShellQuote(file) + " MSysQueries"));
  if (queries.empty()) return {};
  const auto& qhead = queries[0];
  auto qcolumn = [&](const char* name) {
    for (size_t i = 0; i < qhead.size(); ++i) {
      if (qhead[i] == name) return i;
    }
    ADD_FAILURE() << "no column " << name;
    return size_t{0};
  };
  const size_t obj = qcolumn("ObjectId"), attr = qcolumn("Attribute"), flag = qcolumn("Flag"),
               n1 = qcolumn("Name1"), n2 = qcolumn("Name2"), ex = qcolumn("Expression");
  for (size_t r = 1; r < queries.size(); ++r) {
    const auto& f = queries[r];
    if (f.size() != qhead.size()) continue;
    QueryRow row;
    row.attribute = static_cast<QueryAttribute>(std::stoi(f[attr].value_or("0")));
    if (f[flag]) row.flag = static_cast<int16_t>(std::stoi(*f[flag]));
    row.name1 = f[n1];
    row.name2 = f[n2];
    row.expression = f[ex];
    by_id[f[obj].value_or("")].rows.push_back(row);
  }
  std::map<std::string, StoredQuery> by_name;
  for (auto& [id, q] : by_id) {
    if (!q.name.empty()) by_name[q.name] = q;
  }
  return by_name;
}

class ReferenceQueries : public testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(ReferenceFile())) GTEST_SKIP() << "reference files not available";
    if (!HaveMdbTools()) GTEST_SKIP() << "mdbtools not installed";
    queries_ = ReadQueries(ReferenceFile());
    ASSERT_EQ(queries_.size(), 9u);
  }
  std::map<std::string, StoredQuery> queries_;
};

TEST_F(ReferenceQueries, WeReadTheRowsAsMdbQueriesDoes) {
  for (const auto& [name, q] : queries_) {
    SCOPED_TRACE(name);
    const std::string printed = RunCommand("mdb-queries " + ShellQuote(ReferenceFile()) + " " +
                                           ShellQuote(name) + " 2>/dev/null");
    EXPECT_EQ(QueryRowsToMdbQueriesText(q.rows), printed);
  }
}

TEST_F(ReferenceQueries, AccessSelectQueryReadsBackAsSql) {
  auto sql = QueryRowsToSql(queries_.at("SelectQuery").rows);
  ASSERT_TRUE(sql.ok()) << sql.status().message();
  // Jackcess prints the same query; it lists the two conditions of the
  // Table3-Table2 join in the other order.
  EXPECT_EQ(*sql,
            "SELECT DISTINCT Table1.*, Table2.col1, Table2.col2, Table3.col3\n"
            "FROM (Table1 LEFT JOIN Table3 ON Table1.col1 = Table3.col1) INNER JOIN Table2 ON "
            "(Table3.col1 = Table2.col1) AND (Table3.col1 = Table2.col2)\n"
            "WHERE (((Table2.col2)=\"foo\" Or (Table2.col2) In (\"buzz\",\"bazz\")))\n"
            "ORDER BY Table2.col1;");

  // Read as a SELECT and stored again, it keeps its meaning: the rows we
  // write read back to rows that are the same again.
  auto select = QueryRowsToSelect(queries_.at("SelectQuery").rows);
  ASSERT_TRUE(select.ok()) << select.status().message();
  EXPECT_EQ(select->quantifier, SelectQuantifier::kDistinct);
  EXPECT_EQ(select->items.size(), 4u);
  auto rows = SelectToQueryRows(*select);
  ASSERT_TRUE(rows.ok()) << rows.status().message();
  auto select2 = QueryRowsToSelect(*rows);
  ASSERT_TRUE(select2.ok()) << select2.status().message();
  auto rows2 = SelectToQueryRows(*select2);
  ASSERT_TRUE(rows2.ok());
  EXPECT_EQ(*rows2, *rows);
  // Our rows for it: the three tables, four fields, two joins, one WHERE.
  int tables = 0, fields = 0, joins = 0;
  for (const QueryRow& r : *rows) {
    tables += r.attribute == QueryAttribute::kTable;
    fields += r.attribute == QueryAttribute::kColumn;
    joins += r.attribute == QueryAttribute::kJoin;
  }
  EXPECT_EQ(tables, 3);
  EXPECT_EQ(fields, 4);
  EXPECT_EQ(joins, 2);
}

// Access keeps "A UNION B UNION ALL C" as the text "A UNION B" and the text
// "C", with the flag of the last join (1: UNION ALL).
TEST_F(ReferenceQueries, AccessUnionQueryReadsBackAsSql) {
  const std::vector<QueryRow>& stored = queries_.at("UnionQuery").rows;
  auto sql = QueryRowsToSql(stored);
  ASSERT_TRUE(sql.ok()) << sql.status().message();
  EXPECT_EQ(*sql,
            "Select Table1.col1, Table1.col2\n"
            "where Table1.col1 = \"foo\"\n"
            "UNION\n"
            "Select Table2.col1, Table2.col2\n"
            "UNION ALL\n"
            "Select Table3.col1, Table3.col2\n"
            "where Table3.col3 > \"blah\";");
  auto select = QueryRowsToSelect(stored);
  ASSERT_TRUE(select.ok()) << select.status().message();
  ASSERT_EQ(select->unions.size(), 2u);
  EXPECT_FALSE(select->unions[0].all);
  EXPECT_TRUE(select->unions[1].all);
  // Stored our way it is the same kind of query with the same SELECTs.
  auto rows = SelectToQueryRows(*select);
  ASSERT_TRUE(rows.ok()) << rows.status().message();
  EXPECT_EQ(QueryObjectFlags(*rows), kUnionQueryObjectFlags);
  auto again = QueryRowsToSelect(*rows);
  ASSERT_TRUE(again.ok()) << again.status().message();
  EXPECT_EQ(*again, *select);
}

TEST_F(ReferenceQueries, OtherQueryKindsAreRefusedNotMisread) {
  for (const char* name : {"DeleteQuery", "AppendQuery", "UpdateQuery", "MakeTableQuery",
                           "CrosstabQuery", "PassthroughQuery", "DataDefinitionQuery"}) {
    SCOPED_TRACE(name);
    auto sql = QueryRowsToSql(queries_.at(name).rows);
    ASSERT_FALSE(sql.ok()) << *sql;
    EXPECT_EQ(sql.status().code(), StatusCode::kNotSupported);
    EXPECT_TRUE(sql.status().message().find("not a select query") != std::string::npos)
        << sql.status().message();
  }
}

QueryRow MakeRow(QueryAttribute a, std::optional<int16_t> flag = std::nullopt,
                 std::optional<std::string> name1 = std::nullopt,
                 std::optional<std::string> name2 = std::nullopt,
                 std::optional<std::string> expression = std::nullopt) {
  return QueryRow{a, flag, std::move(name1), std::move(name2), std::move(expression)};
}

TEST(QueryRowsToSql, RefusesRowsThatDoNotMakeAQuery) {
  using A = QueryAttribute;
  const std::vector<QueryRow> base = {MakeRow(A::kStart, 0), MakeRow(A::kType, 1),
                                      MakeRow(A::kTable, {}, "t"),
                                      MakeRow(A::kColumn, 0, {}, {}, "a")};
  ASSERT_TRUE(QueryRowsToSql(base).ok());

  struct Case {
    std::vector<QueryRow> extra;
    StatusCode code;
    const char* message;
  };
  const Case cases[] = {
      {{MakeRow(A::kJoin, 1, "t", "u", "t.a = u.a")},
       StatusCode::kCorruption,
       "A join row of the saved query names a table that is not in FROM."},
      {{MakeRow(A::kJoin, 7, "t", "t", "x")},
       StatusCode::kCorruption,
       "A join row of the saved query is incomplete."},
      {{MakeRow(A::kWhere, {}, {}, {}, "a = 1"), MakeRow(A::kWhere, {}, {}, {}, "a = 2")},
       StatusCode::kCorruption,
       "The saved query has two WHERE rows."},
      {{MakeRow(A::kOrderBy)},
       StatusCode::kCorruption,
       "A clause row of the saved query has no expression."},
      {{MakeRow(static_cast<A>(42))},
       StatusCode::kCorruption,
       "The saved query has a row of unknown attribute 42."},
      {{MakeRow(A::kParameter, 10, "p")},
       StatusCode::kNotSupported,
       "The saved query has parameters, which are not supported."},
      {{MakeRow(A::kType, 1)}, StatusCode::kCorruption, "The saved query has two query-type rows."},
      {{MakeRow(A::kFlag, kTopFlag)},
       StatusCode::kCorruption,
       "The saved query's TOP row has no number."},
  };
  for (const Case& c : cases) {
    std::vector<QueryRow> rows = base;
    rows.insert(rows.end(), c.extra.begin(), c.extra.end());
    auto sql = QueryRowsToSql(rows);
    ASSERT_FALSE(sql.ok()) << *sql;
    EXPECT_EQ(sql.status().code(), c.code);
    EXPECT_EQ(sql.status().message(), c.message);
  }
  EXPECT_FALSE(QueryRowsToSql({MakeRow(A::kStart, 0), MakeRow(A::kTable, {}, "t")}).ok());
  EXPECT_FALSE(QueryRowsToSql({MakeRow(A::kType, 1), MakeRow(A::kTable, {}, "t")}).ok());
}

TEST(QueryRowsToSql, RefusesUnionRowsThatDoNotMakeAUnion) {
  using A = QueryAttribute;
  const QueryRow one = MakeRow(A::kTable, {}, {}, kUnionPart1, "SELECT a FROM t");
  const QueryRow two = MakeRow(A::kTable, {}, {}, kUnionPart2, "SELECT b FROM u");
  const std::vector<QueryRow> head = {MakeRow(A::kStart, 0), MakeRow(A::kType, kQueryTypeUnion)};
  std::vector<QueryRow> whole = head;
  whole.insert(whole.end(), {one, two});
  auto ok = QueryRowsToSql(whole);
  ASSERT_TRUE(ok.ok()) << ok.status().message();
  EXPECT_EQ(*ok, "SELECT a FROM t\nUNION ALL\nSELECT b FROM u;");

  // A line break inside a literal is data: kept as it is both ways.
  auto parsed = ParseStatement("select 'a' & chr(13) as x from t union select 'l1\r\n\nl2' from u");
  ASSERT_TRUE(parsed.ok()) << parsed.status().message();
  auto rows = SelectToQueryRows(std::get<Select>(*parsed));
  ASSERT_TRUE(rows.ok()) << rows.status().message();
  EXPECT_EQ((*rows)[4].expression, "SELECT \"l1\r\n\nl2\"\r\nFROM u");
  auto back = QueryRowsToSelect(*rows);
  ASSERT_TRUE(back.ok()) << back.status().message();
  EXPECT_EQ(*back, std::get<Select>(*parsed));

  const std::pair<std::vector<QueryRow>, const char*> cases[] = {
      {{one}, "The union query lacks one of its two parts."},
      {{one, one, two}, "The union query has a part twice."},
      {{one, two, MakeRow(A::kTable, {}, "t")},
       "A row of the union query is not one of its two parts."},
      {{one, two, MakeRow(A::kColumn, 0, {}, {}, "a")},
       "The union query has a row of attribute 6, which a union query does not have."},
      {{one, MakeRow(A::kTable, {}, {}, kUnionPart2, " \r\n ")},
       "A part of the union query is empty."},
  };
  for (const auto& [extra, message] : cases) {
    std::vector<QueryRow> rows = head;
    rows.insert(rows.end(), extra.begin(), extra.end());
    auto sql = QueryRowsToSql(rows);
    ASSERT_FALSE(sql.ok()) << *sql;
    EXPECT_EQ(sql.status().code(), StatusCode::kCorruption);
    EXPECT_EQ(sql.status().message(), message);
  }
}

TEST(QueryRowsToMdbQueriesText, MatchesMdbQueriesLayout) {
  // The layout of mdb-queries 1.0: no blank between fields, tables in
  // brackets, the WHERE text as stored, only the first ORDER BY.
  auto parsed =
      ParseStatement("SELECT TOP 3 a, b AS c FROM t, u AS v WHERE a > 1 ORDER BY a DESC, b");
  ASSERT_TRUE(parsed.ok());
  auto rows = SelectToQueryRows(std::get<Select>(*parsed));
  ASSERT_TRUE(rows.ok());
  EXPECT_EQ(QueryRowsToMdbQueriesText(*rows),
            "SELECT TOP 3 a,b FROM [t],[u] WHERE a > 1 ORDER BY a DESCENDING\n");
}

}  // namespace
}  // namespace velquin::jet::sql
