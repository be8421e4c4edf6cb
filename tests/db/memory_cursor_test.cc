#include "db/memory_cursor.h"

#include <gtest/gtest.h>

#include "db/statements.h"

namespace velquin {
namespace {

TEST(MemoryCursorTest, WalksRowsWithNullsAndShortRows) {
  MemoryCursor cursor(MemoryCursor::TextColumns({"a", "b"}),
                      {{"1", "x"}, {"2", std::nullopt}, {"3"}});
  ASSERT_EQ(cursor.Columns().size(), 2u);
  EXPECT_EQ(cursor.Columns()[1].ordinal, 2);
  std::vector<std::string> seen;
  while (*cursor.MoveNext()) {
    seen.push_back(cursor.Value(0) + ":" + (cursor.IsNull(1) ? "null" : cursor.Value(1)));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"1:x", "2:null", "3:null"}));
  // Past the end there is no current row, and it stays at the end.
  EXPECT_TRUE(cursor.IsNull(0));
  EXPECT_FALSE(*cursor.MoveNext());
}

TEST(MemoryCursorTest, CloseEndsTheWalk) {
  MemoryCursor cursor(MemoryCursor::TextColumns({"a"}), {{"1"}, {"2"}});
  ASSERT_TRUE(*cursor.MoveNext());
  cursor.Close();
  EXPECT_FALSE(*cursor.MoveNext());
  EXPECT_EQ(cursor.Value(0), "");
}

// A session that answers every query with a fixed cursor, to drive the
// statement routines without a server.
class ScriptedSession : public Session {
 public:
  Result<ExecuteOutcome> Execute(std::string_view) override { return ExecuteOutcome::kNoRowset; }
  Result<std::unique_ptr<QueryCursor>> OpenQuery(std::string_view sql) override {
    last_sql = std::string(sql);
    return std::unique_ptr<QueryCursor>(
        new MemoryCursor(MemoryCursor::TextColumns({"v"}), {{"5.5.1"}, {"10.11.19-MariaDB"}}));
  }
  Result<std::unique_ptr<QueryCursor>> OpenSchemaRowset(SchemaRowset,
                                                        const SchemaRestrictions&) override {
    return Status::NotSupported("no rowsets");
  }
  Result<std::string> DbmsName() override { return std::string("x"); }
  Result<std::string> DbmsVersion() override { return std::string("1"); }
  Result<std::string> DataSourceName() override { return std::string(); }
  Result<std::string> CurrentCatalog() override { return std::string(); }
  std::string QuoteString(std::string_view text) const override { return std::string(text); }

  std::string last_sql;
};

TEST(GetServerVersionTest, LastRowWins) {
  ScriptedSession session;
  EXPECT_EQ(GetServerVersion(&session, nullptr), "10.11.19-MariaDB");
  EXPECT_EQ(session.last_sql, "select @@Version");
}

}  // namespace
}  // namespace velquin
