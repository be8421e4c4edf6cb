#include "db/provider_error.h"

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include "db/odbc_error.h"
#include "db/session.h"
#include "db/statements.h"

namespace velquin {
namespace {

TEST(FormatProviderErrorTest, UnknownCodePrintsTheNullMarker) {
  EXPECT_EQ(FormatProviderError("Create DB", 0x80004005u, std::nullopt),
            "Create DB \r\n failed with error code:[0x80004005] \r\n discription:(null)");
}

TEST(FormatProviderErrorTest, CodeHasEightLowerCaseDigitsWithLeadingZeros) {
  std::string text = FormatProviderError("Bind Entry", 0x2au, std::nullopt);
  EXPECT_NE(text.find("[0x0000002a]"), std::string::npos) << text;
  text = FormatProviderError("Bind Entry", 0xABCDEF01u, std::nullopt);
  EXPECT_NE(text.find("[0xabcdef01]"), std::string::npos) << text;
}

TEST(FormatProviderErrorTest, MessageTextEndsWithItsLineBreak) {
  EXPECT_EQ(FormatProviderError("Drop Database", 5, "Access is denied.\r\n"),
            "Drop Database \r\n failed with error code:[0x00000005] \r\n "
            "discription:Access is denied.\r\n");
  // A diagnostic text has no line break of its own: it gets one.
  EXPECT_EQ(FormatProviderError("Open tables Error: ", 1, "Table missing"),
            "Open tables Error:  \r\n failed with error code:[0x00000001] \r\n "
            "discription:Table missing\r\n");
}

TEST(FormatProviderErrorTest, DiagnosticRecordUsesNativeErrorAndMessage) {
  ProviderDiagnostic diagnostic{"28000", 1045, "Access denied for user 'x'"};
  EXPECT_EQ(FormatProviderError("Database Init", diagnostic),
            "Database Init \r\n failed with error code:[0x00000415] \r\n "
            "discription:Access denied for user 'x'\r\n");
  ProviderDiagnostic empty{"", 0, ""};
  EXPECT_EQ(FormatProviderError("Database Init", empty),
            "Database Init \r\n failed with error code:[0x00000000] \r\n discription:(null)");
}

TEST(DescribeOleDbErrorTest, NoErrorInformationIsUnknownError) {
  EXPECT_EQ(DescribeOleDbError(SQL_HANDLE_STMT, SQL_NULL_HANDLE), "Unknown Error!");
  SQLHENV env = SQL_NULL_HENV;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)));
  EXPECT_EQ(DescribeOleDbError(SQL_HANDLE_ENV, env), "Unknown Error!");
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

TEST(DescribeOleDbErrorTest, FirstRecordOnlyOfSeveral) {
  SQLHENV env = SQL_NULL_HENV;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)));
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLHDBC dbc = SQL_NULL_HDBC;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)));
  // Connecting to a driver that does not exist leaves a diagnostic on the handle.
  SQLCHAR text[] = "DRIVER={No Such Driver Velquin};";
  SQLRETURN rc =
      SQLDriverConnect(dbc, nullptr, text, SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  EXPECT_FALSE(SQL_SUCCEEDED(rc));
  std::vector<ProviderDiagnostic> records = ReadDiagnostics(SQL_HANDLE_DBC, dbc);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(DescribeOleDbError(SQL_HANDLE_DBC, dbc), records.front().message);
  EXPECT_FALSE(records.front().message.empty());
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

TEST(ExecuteStatementTest, NoSessionWritesErrorLineWhateverTheReportFlag) {
  for (bool report : {false, true}) {
    std::vector<std::string> lines;
    EXPECT_FALSE(ExecuteStatement(nullptr, "DROP TABLE x", report,
                                  [&](const std::string& l) { lines.push_back(l); }));
    EXPECT_EQ(lines, std::vector<std::string>{"E::No Connection!"});
  }
}

TEST(RunSourceQueryTest, NoSessionGivesNoConnection) {
  std::vector<std::string> lines;
  bool called = false;
  SourceQueryResult result = RunSourceQuery(
      nullptr, "select 1", [&](const QueryCursor&) { called = true; },
      [&](const std::string& l) { lines.push_back(l); });
  EXPECT_EQ(result.status, SourceQueryStatus::kNoConnection);
  EXPECT_EQ(result.text, "No Connection!");
  EXPECT_EQ(lines, std::vector<std::string>{"No Connection!"});
  EXPECT_FALSE(called);
  EXPECT_EQ(GetServerVersion(nullptr, nullptr), "No Connection!");
}

TEST(SchemaRowsetColumnsTest, RestrictionCountsAndKeyColumns) {
  EXPECT_EQ(SchemaRestrictionCount(SchemaRowset::kCatalogs), 1u);
  EXPECT_EQ(SchemaRestrictionCount(SchemaRowset::kTables), 4u);
  EXPECT_EQ(SchemaRestrictionCount(SchemaRowset::kColumns), 4u);
  EXPECT_EQ(SchemaRestrictionCount(SchemaRowset::kIndexes), 5u);
  EXPECT_EQ(SchemaRowsetColumns(SchemaRowset::kTables).size(), 6u);
  EXPECT_EQ(SchemaRowsetColumns(SchemaRowset::kColumns).size(), 28u);
  EXPECT_EQ(SchemaRowsetColumns(SchemaRowset::kCatalogs).size(), 2u);
  EXPECT_EQ(SchemaRowsetColumns(SchemaRowset::kIndexes)[5], "INDEX_NAME");
  EXPECT_EQ(SchemaRowsetColumns(SchemaRowset::kColumns)[3], "COLUMN_NAME");
}

}  // namespace
}  // namespace velquin
