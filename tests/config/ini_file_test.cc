#include "config/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace velquin {
namespace {

namespace fs = std::filesystem;

// A file as the Windows profile functions write it (CRLF), later edited by
// hand: spaces around "=", a comment, a blank line, case differences, a
// duplicate section and a duplicate key.
constexpr std::string_view kWindowsFile =
    "[Public]\r\n"
    "Config=true\r\n"
    "Tips = false\r\n"
    "; hand-written comment\r\n"
    "\r\n"
    "[shop]\r\n"
    "orders=id > 100 and status = 'open'\r\n"
    "Customers = name like 'A%'  \r\n"
    "orders=second value ignored\r\n"
    "[SHOP]\r\n"
    "items=in the duplicate section\r\n"
    "  [Other]  trailing text\r\n"
    "  quoted = \"kept\"\r\n"
    "weird=a=b\r\n";

TEST(IniFileRead, ProfileSemantics) {
  IniFile ini = IniFile::Parse(kWindowsFile);
  EXPECT_EQ(ini.GetString("Public", "Config"), "true");
  EXPECT_EQ(ini.GetString("public", "TIPS"), "false") << "section and key ignore case";
  EXPECT_EQ(ini.GetString("Shop", "orders"), "id > 100 and status = 'open'");
  EXPECT_EQ(ini.GetString("shop", "customers"), "name like 'A%'") << "blanks trimmed";
  EXPECT_EQ(ini.GetString("other", "quoted"), "\"kept\"") << "quotes are not removed";
  EXPECT_EQ(ini.GetString("other", "weird"), "a=b") << "the first = splits";
}

TEST(IniFileRead, FirstDuplicateWins) {
  IniFile ini = IniFile::Parse(kWindowsFile);
  EXPECT_EQ(ini.GetString("shop", "orders"), "id > 100 and status = 'open'");
  // Only the first section of a name is searched, as the profile functions do.
  EXPECT_FALSE(ini.Find("shop", "items").has_value());
  EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"Public", "shop", "Other"}));
}

TEST(IniFileRead, MissingReadsAsEmpty) {
  IniFile ini = IniFile::Parse(kWindowsFile);
  EXPECT_EQ(ini.GetString("nosuch", "orders"), "");
  EXPECT_EQ(ini.GetString("shop", "nosuch"), "");
  EXPECT_FALSE(ini.Find("shop", "nosuch").has_value());
  EXPECT_FALSE(ini.Find("Public", "; hand-written comment").has_value());
  EXPECT_EQ(IniFile::Parse("").GetString("a", "b"), "");
}

TEST(IniFileRead, LinesBeforeAnySectionAndBrokenHeadersIgnored) {
  IniFile ini = IniFile::Parse("k=v\n[broken\nk2=v2\n[s]\nk=1\n");
  EXPECT_EQ(ini.GetString("s", "k"), "1");
  EXPECT_EQ(ini.SectionNames(), std::vector<std::string>{"s"});
}

TEST(IniFileRead, Utf8ByteOrderMarkIgnoredAndKept) {
  std::string text = "\xEF\xBB\xBF[s]\r\nk=v\r\n";
  IniFile ini = IniFile::Parse(text);
  EXPECT_EQ(ini.GetString("s", "k"), "v");
  EXPECT_EQ(ini.Text(), text);
}

TEST(IniFileWrite, UnchangedFileRoundTripsByteForByte) {
  EXPECT_EQ(IniFile::Parse(kWindowsFile).Text(), kWindowsFile);
  std::string no_final_eol = "[a]\nk=v";
  EXPECT_EQ(IniFile::Parse(no_final_eol).Text(), no_final_eol);
}

TEST(IniFileWrite, ReplacingAKeyChangesOnlyItsLine) {
  IniFile ini = IniFile::Parse(kWindowsFile);
  ASSERT_TRUE(ini.SetString("PUBLIC", "tips", "true").ok());
  std::string expected(kWindowsFile);
  expected.replace(expected.find("Tips = false"), 12, "Tips=true");
  EXPECT_EQ(ini.Text(), expected) << "key keeps its spelling, other lines stay";
}

TEST(IniFileWrite, NewKeyGoesAfterTheSectionsLastEntry) {
  IniFile ini = IniFile::Parse(kWindowsFile);
  ASSERT_TRUE(ini.SetString("public", "AutoBackup", "false").ok());
  std::string expected(kWindowsFile);
  expected.insert(expected.find("\r\n\r\n[shop]") + 2, "AutoBackup=false\r\n");
  EXPECT_EQ(ini.Text(), expected);
  EXPECT_EQ(ini.GetString("Public", "autobackup"), "false");
}

TEST(IniFileWrite, NewSectionAppendedWithTheFilesLineEnding) {
  IniFile crlf = IniFile::Parse("[a]\r\nk=v");
  ASSERT_TRUE(crlf.SetString("b", "x", "1").ok());
  EXPECT_EQ(crlf.Text(), "[a]\r\nk=v\r\n[b]\r\nx=1\r\n");

  IniFile lf = IniFile::Parse("[a]\nk=v\n");
  ASSERT_TRUE(lf.SetString("b", "x", "").ok());
  EXPECT_EQ(lf.Text(), "[a]\nk=v\n[b]\nx=\n");

  IniFile empty;
  ASSERT_TRUE(empty.SetString("Public", "Config", "true").ok());
  EXPECT_EQ(empty.Text(), "[Public]\r\nConfig=true\r\n");
}

TEST(IniFileWrite, ValuesThatWouldNotSurviveAreRefused) {
  IniFile ini = IniFile::Parse(kWindowsFile);
  const std::string before = ini.Text();
  struct Bad {
    const char* section;
    const char* key;
    std::string value;
  };
  const Bad bad[] = {
      {"s", "k", "line1\r\nline2"},
      {"s", "k", "a\nb"},
      {"s", "k", std::string("a\0b", 3)},
      {"s", "k", " leading"},
      {"s", "k", "trailing "},
      {"s]x", "k", "v"},
      {"", "k", "v"},
      {"s", "a=b", "v"},
      {"s", " k", "v"},
      {"s", ";k", "v"},
      {"s", "[k", "v"},
      {"s", "", "v"},
  };
  for (const Bad& b : bad) {
    Status st = ini.SetString(b.section, b.key, b.value);
    EXPECT_EQ(st.code(), StatusCode::kInvalidArgument) << b.section << "/" << b.key;
  }
  EXPECT_EQ(ini.Text(), before) << "a refused write changes nothing";
}

TEST(IniFileWrite, DeleteKeyAndSection) {
  IniFile ini = IniFile::Parse(kWindowsFile);
  EXPECT_TRUE(ini.DeleteKey("shop", "customers"));
  EXPECT_FALSE(ini.DeleteKey("shop", "customers"));
  EXPECT_EQ(ini.GetString("shop", "customers"), "");
  EXPECT_TRUE(ini.DeleteSection("Shop"));
  EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"Public", "Other"}));
  EXPECT_EQ(ini.GetString("Public", "Config"), "true");
}

class IniFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(VELQUIN_BINARY_DIR) / "test-tmp" /
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  static std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_;
};

TEST_F(IniFileOnDisk, MissingFileReadsEmptyAndWriteCreatesIt) {
  fs::path file = dir_ / "new.cfg";
  auto value = ReadProfileString(file, "a", "b");
  ASSERT_TRUE(value.ok());
  EXPECT_EQ(*value, "");
  EXPECT_FALSE(fs::exists(file)) << "reading creates nothing";
  ASSERT_TRUE(WriteProfileString(file, "Sec", "Key", "v 1").ok());
  EXPECT_EQ(Slurp(file), "[Sec]\r\nKey=v 1\r\n");
  ASSERT_TRUE(WriteProfileString(file, "sec", "other", "v2").ok());
  EXPECT_EQ(Slurp(file), "[Sec]\r\nKey=v 1\r\nother=v2\r\n");
  EXPECT_EQ(*ReadProfileString(file, "SEC", "key"), "v 1");
}

TEST_F(IniFileOnDisk, FailedWriteLeavesTheFileAlone) {
  fs::path file = dir_ / "keep.cfg";
  {
    std::ofstream out(file, std::ios::binary);
    out << "[s]\r\nk=v\r\n";
  }
  EXPECT_FALSE(WriteProfileString(file, "s", "k", "two\nlines").ok());
  EXPECT_EQ(Slurp(file), "[s]\r\nk=v\r\n");
}

TEST_F(IniFileOnDisk, UnreadablePathIsAnError) {
  // A directory where the file should be.
  fs::create_directories(dir_ / "dir.cfg");
  EXPECT_FALSE(ReadProfileString(dir_ / "dir.cfg", "a", "b").ok());
  EXPECT_FALSE(WriteProfileString(dir_ / "dir.cfg", "a", "b", "c").ok());
}

}  // namespace
}  // namespace velquin
