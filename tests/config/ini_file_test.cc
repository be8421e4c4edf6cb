#include "config/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/unicode.h"

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

// The same file as bytes in each encoding Windows programs write.
std::string Utf16(std::string_view utf8, bool little) {
  std::u16string units = *Utf8ToUtf16(utf8);
  std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
  for (char16_t c : units) {
    const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
    out.push_back(little ? lo : hi);
    out.push_back(little ? hi : lo);
  }
  return out;
}

// Files from Windows come in UTF-16 (with a byte-order mark) or in the ANSI
// code page; each reads as UTF-8 text and is saved in its own encoding, every
// untouched line as it was.
TEST(IniFileEncodings, ReadInTheirEncodingAndSavedInItAgain) {
  const std::string utf8 =
      "[shop]\r\norders=name = 'M\xC3\xBCller' and total > 5 \xE2\x82\xAC\r\n; caf\xC3\xA9\r\n";
  const std::string cp1252 =
      "[shop]\r\norders=name = 'M\xFCller' and total > 5 \x80\r\n; caf\xE9\r\n";
  struct Case {
    const char* name;
    std::string bytes;
    IniFile::Encoding encoding;
  };
  for (const Case& c :
       {Case{"UTF-8", utf8, IniFile::Encoding::kUtf8},
        Case{"UTF-8 with mark", "\xEF\xBB\xBF" + utf8, IniFile::Encoding::kUtf8WithMark},
        Case{"UTF-16 LE", Utf16(utf8, true), IniFile::Encoding::kUtf16Le},
        Case{"UTF-16 BE", Utf16(utf8, false), IniFile::Encoding::kUtf16Be},
        Case{"Windows-1252", cp1252, IniFile::Encoding::kWindows1252}}) {
    SCOPED_TRACE(c.name);
    IniFile ini = IniFile::Parse(c.bytes);
    EXPECT_EQ(ini.encoding(), c.encoding);
    EXPECT_EQ(ini.GetString("shop", "orders"), "name = 'M\xC3\xBCller' and total > 5 \xE2\x82\xAC");
    EXPECT_EQ(ini.Text(), c.bytes);  // unchanged: the same bytes
    ASSERT_TRUE(ini.SetString("shop", "customers", "city = 'K\xC3\xB6ln'").ok());
    const IniFile again = IniFile::Parse(ini.Text());
    EXPECT_EQ(again.encoding(), c.encoding);
    EXPECT_EQ(again.GetString("shop", "customers"), "city = 'K\xC3\xB6ln'");
    EXPECT_EQ(again.GetString("shop", "orders"), ini.GetString("shop", "orders"));
  }
}

TEST(IniFileEncodings, Windows1252FilesRefuseWhatTheCodePageCannotHold) {
  const std::string bytes =
      "[s]\r\nk=\x81\x8D\x8F\x90\x9D\x9F\r\n";  // undefined bytes, then Y-diaeresis
  IniFile ini = IniFile::Parse(bytes);
  ASSERT_EQ(ini.encoding(), IniFile::Encoding::kWindows1252);
  EXPECT_EQ(ini.Text(), bytes);  // every byte survives, undefined ones too
  Status st = ini.SetString("s", "k", "\xE6\x9D\xB1\xE4\xBA\xAC");  // CJK
  EXPECT_EQ(st.code(), StatusCode::kInvalidArgument);
  EXPECT_NE(st.message().find("1252"), std::string::npos);
  EXPECT_EQ(ini.Text(), bytes);  // nothing changed
  ASSERT_TRUE(ini.SetString("s", "k", "\xC5\x92uvre \xE2\x80\x9Cquoted\xE2\x80\x9D").ok());
  EXPECT_EQ(ini.Text(), "[s]\r\nk=\x8Cuvre \x93quoted\x94\r\n");
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
