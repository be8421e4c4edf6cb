// `velquin mdb ...` end to end: each command runs in a child process with
// its standard streams in files, as the velquin program would run it.
#include "cli/mdb_commands.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "jet/database.h"

namespace velquin {
namespace {

namespace fs = std::filesystem;

struct RunResult {
  int code = -1;
  std::string out;
  std::string err;
};

std::string Slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class MdbCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("velquin_cli_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) { return (dir_ / name).string(); }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream(Path(name), std::ios::binary) << text;
  }

  // Runs `velquin <args>` the way main.cc does, in a child process.
  RunResult Run(std::vector<std::string> args) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::string out = Path("stdout.txt"), err = Path("stderr.txt");
    pid_t pid = ::fork();
    if (pid == 0) {
      std::freopen(out.c_str(), "wb", stdout);
      std::freopen(err.c_str(), "wb", stderr);
      CLI::App app{"velquin", "velquin"};
      app.require_subcommand(0, 1);
      RegisterMdbCommands(app);
      std::vector<std::string> argv = {"velquin"};
      argv.insert(argv.end(), args.begin(), args.end());
      std::vector<char*> ptrs;
      for (auto& a : argv) ptrs.push_back(a.data());
      int code = 0;
      try {
        app.parse(static_cast<int>(ptrs.size()), ptrs.data());
      } catch (const CLI::RuntimeError& e) {
        code = e.get_exit_code();
      } catch (const CLI::ParseError& e) {
        code = app.exit(e) == 0 ? 0 : 2;
      } catch (...) {
        code = 99;  // an exception escaped: a fault
      }
      std::fflush(stdout);
      std::fflush(stderr);
      ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    RunResult r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = Slurp(out);
    r.err = Slurp(err);
    return r;
  }

  // A database with one table of mixed types and a two-column primary key.
  std::string MakeDatabase() {
    std::string db = Path("t.mdb");
    EXPECT_EQ(Run({"mdb", "create", db}).code, 0);
    auto d = jet::Database::Open(db);
    EXPECT_TRUE(d.ok());
    jet::TableSpec t;
    t.name = "Items";
    auto col = [](std::string n, jet::ColumnType ty, std::uint16_t size = 0) {
      jet::ColumnSpec c;
      c.name = std::move(n);
      c.type = ty;
      c.size = size;
      return c;
    };
    t.columns = {col("id", jet::ColumnType::kLong),       col("part", jet::ColumnType::kShort),
                 col("name", jet::ColumnType::kText, 10), col("price", jet::ColumnType::kCurrency),
                 col("seen", jet::ColumnType::kDateTime), col("blob", jet::ColumnType::kOle),
                 col("ok", jet::ColumnType::kBool),       col("n", jet::ColumnType::kNumeric)};
    t.columns[7].precision = 10;
    t.columns[7].scale = 3;
    t.indexes = {jet::IndexSpec{.name = "PrimaryKey",
                                .columns = {{0, true}, {1, true}},
                                .primary_key = true,
                                .unique = true,
                                .required = true}};
    EXPECT_TRUE((*d)->CreateTable(t).ok());
    return db;
  }

  fs::path dir_;
};

TEST_F(MdbCommandsTest, CreateTablesAndSchema) {
  std::string db = MakeDatabase();
  auto tables = Run({"mdb", "tables", db});
  EXPECT_EQ(tables.code, 0) << tables.err;
  EXPECT_EQ(tables.out, "Items\n");
  auto schema = Run({"mdb", "schema", db, "items"});
  EXPECT_EQ(schema.code, 0) << schema.err;
  EXPECT_NE(schema.out.find("CREATE TABLE [Items] (\n  [id] LONG NOT NULL,\n  [part] SHORT NOT "
                            "NULL,\n  [name] TEXT(10),\n  [price] CURRENCY,\n"),
            std::string::npos)
      << schema.out;
  EXPECT_NE(schema.out.find("[n] DECIMAL(10,3)\n);"), std::string::npos) << schema.out;
  EXPECT_NE(schema.out.find("CREATE INDEX [PrimaryKey] ON [Items] ([id], [part]) WITH PRIMARY;"),
            std::string::npos)
      << schema.out;
  // Creating over an existing file is refused and leaves it alone.
  auto again = Run({"mdb", "create", db});
  EXPECT_EQ(again.code, 1);
  EXPECT_EQ(Run({"mdb", "tables", db}).out, "Items\n");
}

// An Access-made file: Access 2000 gave its number fields the default 0.
TEST_F(MdbCommandsTest, SchemaShowsTheDefaultsOfAnAccessMadeFile) {
  const fs::path file = fs::path(VELQUIN_TEST_DATA_DIR) / "reference-mdb" / "indexTestV2000.mdb";
  if (!fs::exists(file)) GTEST_SKIP() << "reference files absent";
  auto schema = Run({"mdb", "schema", file.string(), "Table2"});
  EXPECT_EQ(schema.code, 0) << schema.err;
  EXPECT_NE(schema.out.find("CREATE TABLE [Table2] (\n  [id] LONG DEFAULT 0 NOT NULL,\n  [data] "
                            "TEXT(50)\n);"),
            std::string::npos)
      << schema.out;
}

TEST_F(MdbCommandsTest, NotNullColumnsShowInSchemaAndRefuseNull) {
  std::string db = MakeDatabase();
  {
    auto d = jet::Database::Open(db);
    ASSERT_TRUE(d.ok());
    jet::TableSpec t;
    t.name = "People";
    jet::ColumnSpec id, name, nick;
    id.name = "id";
    id.type = jet::ColumnType::kLong;
    id.auto_increment = true;
    name.name = "name";
    name.type = jet::ColumnType::kText;
    name.size = 30;
    name.not_null = true;
    nick.name = "nick";
    nick.type = jet::ColumnType::kText;
    nick.size = 30;
    t.columns = {id, name, nick};
    ASSERT_TRUE((*d)->CreateTable(t).ok());
  }
  auto schema = Run({"mdb", "schema", db, "People"});
  EXPECT_EQ(schema.code, 0) << schema.err;
  EXPECT_EQ(schema.out,
            "CREATE TABLE [People] (\n"
            "  [id] COUNTER,\n"
            "  [name] TEXT(30) NOT NULL,\n"
            "  [nick] TEXT(30)\n"
            ");\n");
  // Without a header the columns are in table order; the AutoNumber column
  // takes the next number when its field is empty.
  Write("people.csv", ",Ann,\n,,nobody\n5,\"\",empty name\n,Bob,b\n");
  auto r = Run({"mdb", "import", "--no-header", db, "People", Path("people.csv")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("people.csv:2: row refused: column \"name\" cannot be NULL"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Run({"mdb", "export", db, "People"}).out,
            "id,name,nick\r\n1,Ann,\r\n5,\"\",empty name\r\n6,Bob,b\r\n");
}

// Columns the header leaves out take their default; a field that is there
// but empty stays NULL. A default that cannot be evaluated stops the import
// before any row is written.
TEST_F(MdbCommandsTest, ImportFillsColumnsTheHeaderLeavesOut) {
  std::string db = MakeDatabase();
  {
    auto d = jet::Database::Open(db);
    ASSERT_TRUE(d.ok());
    jet::TableSpec t;
    t.name = "Stock";
    auto col = [](std::string n, jet::ColumnType ty, std::string dflt, bool not_null = false) {
      jet::ColumnSpec c;
      c.name = std::move(n);
      c.type = ty;
      c.size = ty == jet::ColumnType::kText ? 10 : 0;
      c.default_value = std::move(dflt);
      c.not_null = not_null;
      return c;
    };
    t.columns = {col("sku", jet::ColumnType::kText, ""),
                 col("qty", jet::ColumnType::kLong, "0", true),
                 col("unit", jet::ColumnType::kText, "\"pcs\""),
                 col("since", jet::ColumnType::kDateTime, "#2001-02-03#")};
    ASSERT_TRUE((*d)->CreateTable(t).ok());
    t.name = "Odd";
    t.columns = {col("sku", jet::ColumnType::kText, ""),
                 col("tag", jet::ColumnType::kText, "UCase(\"x\")")};
    ASSERT_TRUE((*d)->CreateTable(t).ok());
  }
  Write("stock.csv", "sku,unit\nA1,box\nB2,\n");
  auto r = Run({"mdb", "import", db, "Stock", Path("stock.csv")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Run({"mdb", "export", db, "Stock"}).out,
            "sku,qty,unit,since\r\nA1,0,box,2001-02-03 00:00:00\r\nB2,0,,2001-02-03 00:00:00\r\n");
  Write("odd.csv", "sku\nA1\n");
  r = Run({"mdb", "import", db, "Odd", Path("odd.csv")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("Unknown function 'UCase' in validation expression or default value on "
                       "'Odd.tag'."),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Run({"mdb", "export", db, "Odd"}).out, "sku,tag\r\n");
}

TEST_F(MdbCommandsTest, ErrorsAreMessagesWithExitCodes) {
  std::string db = MakeDatabase();
  Write("junk.mdb", std::string(8192, 'x'));
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* says;
  } cases[] = {
      {{"mdb", "tables", Path("missing.mdb")}, 1, "cannot open"},
      {{"mdb", "tables", Path("junk.mdb")}, 1, "cannot open"},
      {{"mdb", "export", db, "Nope"}, 1, "no table \"Nope\""},
      {{"mdb", "schema", db, "Nope"}, 1, "no table \"Nope\""},
      {{"mdb", "import", db, "Nope", Path("missing.csv")}, 1, "cannot read"},
      {{"mdb", "export", db}, 2, "TABLE"},
      {{"mdb", "import", "--bogus", db, "Items", "x"}, 2, "bogus"},
  };
  for (const auto& c : cases) {
    auto r = Run(c.args);
    EXPECT_EQ(r.code, c.code) << c.args[1] << " " << c.args.back() << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
}

TEST_F(MdbCommandsTest, CsvImportRefusesBadRowsByLineAndExportRoundTrips) {
  std::string db = MakeDatabase();
  Write("in.csv",
        "part,id,name,price,seen,blob,ok,n\n"                     // 1: columns out of order
        "1,1,plain,1.5,2024-01-02 03:04:05,00FF,1,1.5\n"          // 2
        "2,1,\"a, \"\"b\"\"\",,,,,\n"                             // 3: NULLs, empty name
        "3,1,\"\",-0.0001,9999-12-31 23:59:59,,0,-9999999.999\n"  // 4
        "1,1,dup key,,,,,\n"                                      // 5: duplicate key
        "x,2,bad short,,,,,\n"                                    // 6
        "4,2,much too long,,,,,\n"                                // 7: TEXT(10)
        "5,2,\"two\nlines\",,,,,\n"                               // 8-9
        ",3,null key,,,,,\n"                                      // 10: key part NULL
        "6,3,short row\n"                                         // 11
        "7,3,decimal,,,,,12345678.9\n"                            // 12: DECIMAL(10,3)
        "8,3,日本😀,,,,,\n");                                      // 13
  auto r = Run({"mdb", "import", db, "Items", Path("in.csv")});
  EXPECT_EQ(r.code, 1) << r.err;
  for (int line : {5, 6, 7, 10, 11, 12}) {
    EXPECT_NE(r.err.find("in.csv:" + std::to_string(line) + ": row refused"), std::string::npos)
        << line << "\n"
        << r.err;
  }
  for (int line : {2, 3, 4, 8, 13}) {
    EXPECT_EQ(r.err.find("in.csv:" + std::to_string(line) + ":"), std::string::npos) << line << "\n"
                                                                                     << r.err;
  }
  EXPECT_NE(r.err.find("5 rows imported"), std::string::npos) << r.err;

  auto out = Run({"mdb", "export", db, "Items"});
  EXPECT_EQ(out.code, 0) << out.err;
  EXPECT_EQ(out.out,
            "id,part,name,price,seen,blob,ok,n\r\n"
            "1,1,plain,1.5000,2024-01-02 03:04:05,00FF,1,1.500\r\n"
            "1,2,\"a, \"\"b\"\"\",,,,0,\r\n"
            "1,3,\"\",-0.0001,9999-12-31 23:59:59,,0,-9999999.999\r\n"
            "2,5,\"two\nlines\",,,,0,\r\n"
            "3,8,日本😀,,,,0,\r\n");

  // The export imports back into a fresh table, value for value.
  fs::remove(Path("t.mdb"));
  MakeDatabase();
  Write("export.csv", out.out);
  auto back = Run({"mdb", "import", Path("t.mdb"), "Items", Path("export.csv")});
  EXPECT_EQ(back.code, 0) << back.err;
  EXPECT_EQ(Run({"mdb", "export", Path("t.mdb"), "Items"}).out, out.out);
}

TEST_F(MdbCommandsTest, TsvImportAsTheMySqlClientWritesIt) {
  std::string db = MakeDatabase();
  // mysql --batch: header row, \N for NULL, escapes, raw binary bytes.
  std::string tsv =
      "id\tpart\tname\tprice\tseen\tblob\tok\tn\n"
      "1\t1\ttab\\there\t\\N\t2001-02-03 04:05:06\tA\\0B\t1\t\\N\n"
      "1\t2\tnl\\nback\\\\\t2.25\t\\N\t\\N\t0\t0.125\n"
      "1\t3\t\\N\t\\N\t\\N\t0x0102\t\\N\t\\N\n"
      "bad\t4\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\n";
  Write("in.tsv", tsv);
  auto r = Run({"mdb", "import", "--tsv", db, "Items", Path("in.tsv")});
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_NE(r.err.find("in.tsv:5: row refused"), std::string::npos) << r.err;
  auto d = jet::Database::Open(db, {.read_only = true});
  ASSERT_TRUE(d.ok());
  auto cur = (*d)->Scan("Items");
  ASSERT_TRUE(cur.ok());
  std::vector<std::vector<jet::Value>> rows;
  std::vector<jet::Value> row;
  while (*(*cur)->Next(&row)) rows.push_back(row);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][2], jet::Value::Text("tab\there"));
  EXPECT_TRUE(rows[0][3].is_null());
  EXPECT_EQ(rows[0][5], jet::Value::Binary({'A', 0, 'B'}));
  EXPECT_EQ(rows[1][2], jet::Value::Text("nl\nback\\"));
  EXPECT_EQ(rows[1][7], jet::Value::Numeric(*jet::Decimal::Parse("0.125", 3)));
  EXPECT_TRUE(rows[2][2].is_null());
  EXPECT_EQ(rows[2][5], jet::Value::Binary({1, 2}));

  // --no-header: columns in table order; the first line is data.
  Write("nohead.tsv", "2\t1\tfirst\t\\N\t\\N\t\\N\t\\N\t\\N\n");
  auto n = Run({"mdb", "import", "--tsv", "--no-header", db, "Items", Path("nohead.tsv")});
  EXPECT_EQ(n.code, 0) << n.err;
  EXPECT_NE(n.err.find("1 rows imported"), std::string::npos) << n.err;
}

TEST_F(MdbCommandsTest, LargeImportKeepsInputOrderAndReportsRefusalsInLineOrder) {
  // More rows than one hand-over between the reading thread and the writer
  // holds, with refused rows on both sides of the hand-overs.
  std::string db = MakeDatabase();
  constexpr int kRows = 10000;
  std::string tsv = "id\tpart\tname\n";
  std::vector<int> bad_lines;  // file lines (the header is line 1)
  for (int i = 1; i <= kRows; ++i) {
    const int line = i + 1;
    if (i == 4096 || i == 4097) {
      tsv += "x" + std::to_string(i) + "\t1\tbad number\n";  // conversion refused
      bad_lines.push_back(line);
    } else if (i == 8193) {
      tsv += "5\t1\tduplicate key\n";  // refused by the primary key
      bad_lines.push_back(line);
    } else if (i == 9000) {
      tsv += "9000\t1\n";  // a field short
      bad_lines.push_back(line);
    } else {
      tsv += std::to_string(i) + "\t1\tn" + std::to_string(i) + "\n";
    }
  }
  tsv.pop_back();  // the last line has no line break
  Write("big.tsv", tsv);
  auto r = Run({"mdb", "import", "--tsv", db, "Items", Path("big.tsv")});
  EXPECT_EQ(r.code, 1) << r.err;
  std::vector<int> reported;
  for (std::size_t at = r.err.find("big.tsv:"); at != std::string::npos;
       at = r.err.find("big.tsv:", at + 1)) {
    reported.push_back(std::atoi(r.err.c_str() + at + 8));
  }
  EXPECT_EQ(reported, bad_lines) << r.err;
  EXPECT_NE(r.err.find(std::to_string(kRows - 4) + " rows imported"), std::string::npos) << r.err;

  auto d = jet::Database::Open(db, {.read_only = true});
  ASSERT_TRUE(d.ok());
  auto cur = (*d)->Scan("Items");
  ASSERT_TRUE(cur.ok());
  std::vector<jet::Value> row;
  int count = 0, last_id = 0;
  bool ordered = true;
  while (*(*cur)->Next(&row)) {
    std::int64_t id = 0;
    ASSERT_TRUE(row[0].AsInt64(&id));
    ordered = ordered && id > last_id;
    last_id = static_cast<int>(id);
    ++count;
  }
  EXPECT_EQ(count, kRows - 4);
  EXPECT_TRUE(ordered);
  EXPECT_EQ(last_id, kRows);
}

TEST_F(MdbCommandsTest, HeaderNamingAnUnknownColumnImportsNothing) {
  std::string db = MakeDatabase();
  Write("in.csv", "id,part,colour\n1,1,red\n");
  auto r = Run({"mdb", "import", db, "Items", Path("in.csv")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("\"colour\""), std::string::npos) << r.err;
  auto out = Run({"mdb", "export", db, "Items"});
  EXPECT_EQ(out.out, "id,part,name,price,seen,blob,ok,n\r\n");
}

}  // namespace
}  // namespace velquin
