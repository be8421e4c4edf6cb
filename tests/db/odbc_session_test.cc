// OdbcSession against the private MariaDB: every MySQL type read back as
// text or bytes, nulls, quoting, Unicode, long values, statements.
#include "db/odbc_session.h"

#include <gtest/gtest.h>

#include "db/sql_quote.h"
#include "mysql_test_support.h"

namespace velquin {
namespace {

using testing::TestDatabase;

// Reads every row of `sql`; a null value is std::nullopt.
using Row = std::vector<std::optional<std::string>>;
std::vector<Row> ReadAll(Session& session, const std::string& sql) {
  std::vector<Row> rows;
  auto cursor = session.OpenQuery(sql);
  EXPECT_TRUE(cursor.ok()) << sql << "\n" << cursor.status().ToString();
  if (!cursor.ok()) return rows;
  for (;;) {
    auto next = (*cursor)->MoveNext();
    EXPECT_TRUE(next.ok()) << next.status().ToString();
    if (!next.ok() || !*next) break;
    Row row;
    for (std::size_t i = 0; i < (*cursor)->Columns().size(); ++i) {
      if ((*cursor)->IsNull(i)) {
        row.push_back(std::nullopt);
      } else {
        row.push_back((*cursor)->Value(i));
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

class OdbcSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto server = testing::MySqlFromEnv();
    if (!server || testing::MariaDbDriverLibrary().empty()) {
      GTEST_SKIP() << "VELQUIN_MYSQL_* not set or no MariaDB Connector/ODBC";
    }
    db_ = TestDatabase::Create(*server, "vq_session");
    ASSERT_NE(db_, nullptr);
  }
  std::unique_ptr<TestDatabase> db_;
};

TEST_F(OdbcSessionTest, EveryMySqlTypeArrivesAsExactTextOrBytes) {
  db_->Exec(
      "CREATE TABLE `all types` (id INT NOT NULL PRIMARY KEY, ti TINYINT, tiu TINYINT UNSIGNED, "
      "si SMALLINT, mi MEDIUMINT, i INT, iu INT UNSIGNED, bi BIGINT, biu BIGINT UNSIGNED, "
      "de DECIMAL(30,10), fl FLOAT, do DOUBLE, b1 BIT(1), b9 BIT(9), dt DATE, dtt DATETIME(6), "
      "ts TIMESTAMP NULL, tm TIME(3), yr YEAR, ch CHAR(10), vc VARCHAR(255), tt TINYTEXT, "
      "tx TEXT, bn BINARY(8), vb VARBINARY(64), bl BLOB, en ENUM('small','it''s'), "
      "st SET('a','b','c'), js JSON, pt POINT)");
  db_->Exec(
      "INSERT INTO `all types` VALUES (1, -128, 255, -32768, -8388608, -2147483648, 4294967295, "
      "-9223372036854775808, 18446744073709551615, -12345678901234567890.0123456789, 1.5, 0.1, "
      "b'1', b'100000001', '1000-01-01', '9999-12-31 23:59:59.999999', '2038-01-19 03:14:07', "
      "'-838:59:59.000', 2155, 'pad', 'it''s \\\\ \"q\" `b`', 'é日本😀', 'line1\\nline2', "
      "X'0102', X'00FF00', X'000000', 'it''s', 'a,c', '{\"k\": [1, \"é\"]}', "
      "ST_GeomFromText('POINT(1 2)'))");
  db_->Exec("INSERT INTO `all types` (id) VALUES (2)");
  auto rows = ReadAll(db_->session(), "SELECT * FROM `all types` ORDER BY id");
  ASSERT_EQ(rows.size(), 2u);
  const Row& r = rows[0];
  ASSERT_EQ(r.size(), 30u);
  const char* const expected_text[] = {"1",
                                       "-128",
                                       "255",
                                       "-32768",
                                       "-8388608",
                                       "-2147483648",
                                       "4294967295",
                                       "-9223372036854775808",
                                       "18446744073709551615",
                                       "-12345678901234567890.0123456789",
                                       "1.5",
                                       "0.1"};
  for (std::size_t i = 0; i < std::size(expected_text); ++i) {
    EXPECT_EQ(r[i], expected_text[i]) << "column " << i;
  }
  EXPECT_EQ(r[12], Bytes({1}));
  EXPECT_EQ(r[13], Bytes({1, 1}));
  EXPECT_EQ(r[14], "1000-01-01");
  EXPECT_EQ(r[15], "9999-12-31 23:59:59.999999");
  EXPECT_EQ(r[16], "2038-01-19 03:14:07");
  EXPECT_EQ(r[17], "-838:59:59.000");
  EXPECT_EQ(r[18], "2155");
  EXPECT_EQ(r[19], "pad");
  EXPECT_EQ(r[20], "it's \\ \"q\" `b`");
  EXPECT_EQ(r[21], "é日本😀");
  EXPECT_EQ(r[22], "line1\nline2");
  EXPECT_EQ(r[23], Bytes({1, 2, 0, 0, 0, 0, 0, 0}));  // BINARY(8) keeps its zero padding
  EXPECT_EQ(r[24], Bytes({0, 0xFF, 0}));
  EXPECT_EQ(r[25], Bytes({0, 0, 0}));
  EXPECT_EQ(r[26], "it's");
  EXPECT_EQ(r[27], "a,c");
  EXPECT_EQ(r[28], "{\"k\": [1, \"é\"]}");
  ASSERT_TRUE(r[29].has_value());
  EXPECT_EQ(r[29]->size(), 25u);  // SRID (4 bytes) + WKB point (21 bytes)

  // The second row is null everywhere but its key: the status says so and no
  // earlier text shows through.
  for (std::size_t i = 1; i < rows[1].size(); ++i) {
    EXPECT_FALSE(rows[1][i].has_value()) << "column " << i;
  }
}

TEST_F(OdbcSessionTest, RowsetReadsGiveTheSameValuesAsValueByValueReads) {
  // Columns of bounded size are fetched many rows at a time into bound
  // buffers; a long column in the result makes the read go value by value.
  // Both must give the same text and bytes, over several rowsets, with
  // nulls, extremes, zero dates and text that fills its declared size.
  db_->Exec("SET SESSION sql_mode = ''");
  db_->Exec(
      "CREATE TABLE r (id INT PRIMARY KEY, ti TINYINT, biu BIGINT UNSIGNED, bi BIGINT, "
      "de DECIMAL(30,10), fl FLOAT, do DOUBLE, b9 BIT(9), b64 BIT(64), dt DATE, "
      "dtt DATETIME(6), tm TIME(3), yr YEAR, ch CHAR(3), vc VARCHAR(40), bn BINARY(4), "
      "vb VARBINARY(9), en ENUM('x','yy'), st SET('a','b'), lt LONGTEXT)");
  db_->Exec(
      "INSERT INTO r SELECT seq, seq % 256 - 128, 18446744073709551615 - seq, "
      "-9223372036854775807 + seq * 7919, seq * 1234567.0123456789 - 99999999, "
      "seq / 7, seq / 3e10, seq % 512, ~0 - seq, "
      "CASE seq % 97 WHEN 0 THEN '0000-00-00' WHEN 1 THEN '2020-00-15' WHEN 2 THEN '2020-02-00' "
      "ELSE '1000-01-01' + INTERVAL seq * 3 DAY END, "
      "'2020-02-29 23:59:59.999999' - INTERVAL seq SECOND, "
      "IF(seq % 2, '-838:59:59.000', SEC_TO_TIME(seq) + INTERVAL 0.5 SECOND), "
      "IF(seq % 5, 1901 + seq % 255, 0), IF(seq % 4, '日😀é', 'a'), "
      "REPEAT(IF(seq % 3, '😀', 'é'), seq % 41), UNHEX(LPAD(HEX(seq), 4, '0')), "
      "IF(seq % 6, UNHEX(REPEAT('00', seq % 10)), NULL), 1 + seq % 2, seq % 4, 'long' "
      "FROM (SELECT CAST(seq AS SIGNED) AS seq FROM seq_1_to_2500) s");
  db_->Exec("INSERT INTO r (id) VALUES (3000)");  // null everywhere
  const std::string columns =
      "id, ti, biu, bi, de, fl, do, b9, b64, dt, dtt, tm, yr, ch, vc, bn, vb, en, st";
  auto bound = ReadAll(db_->session(), "SELECT " + columns + " FROM r ORDER BY id");
  auto one_by_one = ReadAll(db_->session(), "SELECT " + columns + ", lt FROM r ORDER BY id");
  ASSERT_EQ(bound.size(), 2501u);
  ASSERT_EQ(one_by_one.size(), bound.size());
  for (std::size_t i = 0; i < bound.size(); ++i) {
    one_by_one[i].pop_back();
    ASSERT_EQ(bound[i], one_by_one[i]) << "row " << i;
  }
  EXPECT_EQ(bound[96][9], "0000-00-00");
  std::string full;  // VARCHAR(40) filled with four-byte characters
  for (int i = 0; i < 40; ++i) full += "\xF0\x9F\x98\x80";
  EXPECT_EQ(bound[39][14], full);
  Row nulls(19, std::nullopt);
  nulls[0] = "3000";
  EXPECT_EQ(bound[2500], nulls);
}

TEST_F(OdbcSessionTest, ZeroAndPartialDatesArriveAsTheServerWroteThem) {
  // Legacy MySQL data: zero dates are not errors and not nulls.
  db_->Exec("SET SESSION sql_mode = ''");
  db_->Exec("CREATE TABLE z (d DATE, dt DATETIME, t TIME, y YEAR)");
  db_->Exec(
      "INSERT INTO z VALUES ('0000-00-00', '0000-00-00 00:00:00', '-00:00:01', 0), "
      "('2020-00-15', '2020-02-00 10:00:00', '00:00:00', 1901)");
  auto rows = ReadAll(db_->session(), "SELECT * FROM z");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (Row{"0000-00-00", "0000-00-00 00:00:00", "-00:00:01", "0000"}));
  EXPECT_EQ(rows[1], (Row{"2020-00-15", "2020-02-00 10:00:00", "00:00:00", "1901"}));
}

TEST_F(OdbcSessionTest, NotNullZeroDatesInRowsetsArriveAsTheServersText) {
  // A rowset's dates must give the server's text, zero and partial zero
  // dates of NOT NULL columns included (bound as binary timestamps, the
  // driver would report a whole zero date as NULL), with each column's
  // fraction digits.
  db_->Exec("SET SESSION sql_mode = ''");
  db_->Exec(
      "CREATE TABLE n (id INT PRIMARY KEY, d DATE NOT NULL, dt DATETIME NOT NULL, "
      "d3 DATETIME(3) NOT NULL, d6 DATETIME(6) NOT NULL, dn DATE)");
  db_->Exec(
      "INSERT INTO n VALUES (1, '0000-00-00', '0000-00-00 00:00:00', '0000-00-00 00:00:00', "
      "'0000-00-00 00:00:00', NULL), "
      "(2, '2020-00-15', '2020-02-00 10:00:00', '0000-00-00 12:00:00.5', "
      "'0000-01-00 00:00:00.000001', '0000-00-00'), "
      "(3, '0001-01-01', '0100-01-01 00:00:00', '1899-12-30 23:59:59.999', "
      "'9999-12-31 23:59:59.999999', '2024-02-29')");
  auto bound = ReadAll(db_->session(), "SELECT id, d, dt, d3, d6, dn FROM n ORDER BY id");
  auto text = ReadAll(db_->session(),
                      "SELECT id, CAST(d AS CHAR), CAST(dt AS CHAR), CAST(d3 AS CHAR), "
                      "CAST(d6 AS CHAR), CAST(dn AS CHAR) FROM n ORDER BY id");
  ASSERT_EQ(bound.size(), 3u);
  EXPECT_EQ(bound, text);
  EXPECT_EQ(bound[0], (Row{"1", "0000-00-00", "0000-00-00 00:00:00", "0000-00-00 00:00:00.000",
                           "0000-00-00 00:00:00.000000", std::nullopt}));
  EXPECT_EQ(bound[1][5], "0000-00-00");
}

TEST_F(OdbcSessionTest, StringLiteralsFollowTheSessionsBackslashMode) {
  auto server = *testing::MySqlFromEnv();
  const std::string tricky = "a'b\\c\\'d\\";
  for (const char* init : {"", "INITSTMT={SET SESSION sql_mode='NO_BACKSLASH_ESCAPES'};"}) {
    std::string connection = testing::DriverConnectionString(server, db_->name()) + init;
    auto session = OdbcSession::Connect(connection);
    ASSERT_TRUE(session.ok()) << session.status().ToString();
    auto rows = ReadAll(**session, "SELECT " + (*session)->QuoteString(tricky) + ", @@sql_mode");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], tricky) << "sql_mode " << rows[0][1].value_or("");
    EXPECT_EQ(rows[0][1].value_or("").find("NO_BACKSLASH_ESCAPES") != std::string::npos,
              *init != '\0');
  }
}

TEST_F(OdbcSessionTest, ColumnInfoMarksBinaryColumns) {
  db_->Exec(
      "CREATE TABLE t (a INT, b VARBINARY(4), c VARCHAR(4) NOT NULL, d BLOB, e BIT(3), "
      "f TEXT, g DECIMAL(7,2))");
  auto cursor = db_->session().OpenQuery("SELECT * FROM t");
  ASSERT_TRUE(cursor.ok());
  const auto& cols = (*cursor)->Columns();
  ASSERT_EQ(cols.size(), 7u);
  const bool binary[] = {false, true, false, true, true, false, false};
  for (std::size_t i = 0; i < cols.size(); ++i) {
    EXPECT_EQ(cols[i].binary, binary[i]) << cols[i].name;
    EXPECT_EQ(cols[i].ordinal, static_cast<int>(i) + 1);
  }
  EXPECT_EQ(cols[0].name, "a");
  EXPECT_FALSE(cols[2].nullable);
  EXPECT_TRUE(cols[0].nullable);
  EXPECT_EQ(cols[6].decimal_digits, 2);
  auto next = (*cursor)->MoveNext();
  ASSERT_TRUE(next.ok());
  EXPECT_FALSE(*next);  // no rows: the first MoveNext ends the walk
}

TEST_F(OdbcSessionTest, NamesWithSpacesDotsQuotesAndReservedWordsWork) {
  const std::string table = "we.ird `name' \"x\"";
  const std::string q = QuoteIdentifier(table);
  db_->Exec("CREATE TABLE " + q +
            " (`select` INT, `col with space` VARCHAR(20), "
            "`dot.col` VARCHAR(20), `back``quote` VARCHAR(20))");
  db_->Exec("INSERT INTO " + q + " VALUES (1, " + db_->session().QuoteString("a'b") + ", " +
            db_->session().QuoteString("c\\d") + ", " + db_->session().QuoteString("é`") + ")");
  auto rows = ReadAll(db_->session(),
                      "SELECT `select`, `col with space`, `dot.col`, "
                      "`back``quote` FROM " +
                          q);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (Row{"1", "a'b", "c\\d", "é`"}));
  auto cursor = db_->session().OpenQuery("SELECT * FROM " + q);
  ASSERT_TRUE(cursor.ok());
  EXPECT_EQ((*cursor)->Columns()[3].name, "back`quote");
}

TEST_F(OdbcSessionTest, LongValuesArriveWholeAndBinaryKeepsTrailingZeros) {
  db_->Exec("CREATE TABLE big (id INT PRIMARY KEY, t LONGTEXT, b LONGBLOB, v VARCHAR(9000))");
  std::string text;
  for (int i = 0; text.size() < 200000; ++i) text += "line " + std::to_string(i) + " é日😀\n";
  std::string blob;
  for (int i = 0; i < 3 * 1024 * 1024; ++i) blob.push_back(static_cast<char>((i * 7) % 251));
  blob.append(4096, '\0');  // trailing zero bytes must survive
  std::string varchar(8192 + 100, 'x');
  varchar[8191] = 'Y';
  db_->Exec("INSERT INTO big VALUES (1, " + db_->session().QuoteString(text) + ", " +
            HexLiteral(blob) + ", '" + varchar + "')");
  db_->Exec("INSERT INTO big VALUES (2, '', X'', '')");
  auto rows = ReadAll(db_->session(), "SELECT t, b, v FROM big ORDER BY id");
  ASSERT_EQ(rows.size(), 2u);
  ASSERT_TRUE(rows[0][0] && rows[0][1] && rows[0][2]);
  EXPECT_EQ(rows[0][0]->size(), text.size());
  EXPECT_TRUE(*rows[0][0] == text);
  EXPECT_EQ(rows[0][1]->size(), blob.size());
  EXPECT_TRUE(*rows[0][1] == blob);
  EXPECT_EQ(*rows[0][2], varchar);  // longer than 8191 bytes: no cut
  // Empty values are present, not null.
  EXPECT_EQ(rows[1], (Row{"", "", ""}));
}

TEST_F(OdbcSessionTest, ValuesAroundThePieceSizeArriveWhole) {
  // Long values are read in 64 KiB pieces: lengths at the edges of a piece,
  // and a four-byte character split across two pieces.
  db_->Exec("CREATE TABLE edge (id INT PRIMARY KEY, t LONGTEXT, b LONGBLOB)");
  const std::size_t lengths[] = {65534, 65535, 65536, 65537, 131071, 131072, 131073};
  std::vector<std::pair<std::string, std::string>> expected;
  int id = 0;
  for (std::size_t length : lengths) {
    for (std::size_t offset : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3}}) {
      std::string text(length - 4 - offset, 'a');
      text += "\xF0\x9F\x98\x80";  // U+1F600, four bytes
      text.append(offset, 'z');
      std::string blob(length, '\0');
      for (std::size_t i = 0; i < length; i += 97) blob[i] = static_cast<char>(i % 256);
      db_->Exec("INSERT INTO edge VALUES (" + std::to_string(++id) + ", " +
                db_->session().QuoteString(text) + ", " + HexLiteral(blob) + ")");
      expected.emplace_back(text, blob);
    }
  }
  auto rows = ReadAll(db_->session(), "SELECT t, b FROM edge ORDER BY id");
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ASSERT_TRUE(rows[i][0] && rows[i][1]);
    EXPECT_EQ(rows[i][0]->size(), expected[i].first.size()) << "row " << i;
    EXPECT_TRUE(*rows[i][0] == expected[i].first) << "row " << i;
    EXPECT_TRUE(*rows[i][1] == expected[i].second) << "row " << i;
  }
}

TEST_F(OdbcSessionTest, ExecuteTellsRowsetsFromStatements) {
  auto created = db_->session().Execute("CREATE TABLE e (a INT)");
  ASSERT_TRUE(created.ok()) << created.status().ToString();
  EXPECT_EQ(*created, ExecuteOutcome::kNoRowset);
  auto selected = db_->session().Execute("SELECT * FROM e");
  ASSERT_TRUE(selected.ok());
  EXPECT_EQ(*selected, ExecuteOutcome::kRowset);
  // An UPDATE that touches no row still succeeds.
  auto updated = db_->session().Execute("UPDATE e SET a = 1 WHERE a = 2");
  ASSERT_TRUE(updated.ok()) << updated.status().ToString();
  EXPECT_EQ(*updated, ExecuteOutcome::kNoRowset);
  auto bad = db_->session().Execute("SELEC 1");
  ASSERT_FALSE(bad.ok());
  EXPECT_NE(bad.status().message().find("SQL syntax"), std::string::npos) << bad.status().message();
  auto missing = db_->session().OpenQuery("SELECT * FROM no_such_table");
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.status().message().find("no_such_table"), std::string::npos);
}

TEST_F(OdbcSessionTest, InformationAboutTheServer) {
  auto name = db_->session().DbmsName();
  ASSERT_TRUE(name.ok());
  EXPECT_TRUE(*name == "MariaDB" || *name == "MySQL") << *name;
  auto version = db_->session().DbmsVersion();
  ASSERT_TRUE(version.ok());
  EXPECT_FALSE(version->empty());
  auto catalog = db_->session().CurrentCatalog();
  ASSERT_TRUE(catalog.ok());
  EXPECT_EQ(*catalog, db_->name());
}

}  // namespace
}  // namespace velquin
