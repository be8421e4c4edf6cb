// Terminal and file sinks, and SystemErrorText.
#include "log/log_sinks.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "log/system_error.h"

namespace velquin {
namespace {

LogLine Line(LineClass c, std::string text) {
  LogLine l;
  l.line_class = c;
  l.timestamp = "2011/05/03 14:02:09:045 ";
  l.text = std::move(text);
  return l;
}

// Captures what a TerminalSink writes.
std::string Render(bool colour, const LogLine& line) {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* mem = open_memstream(&buffer, &size);
  {
    TerminalSink sink(mem, colour);
    sink.OnLine(line);
  }
  std::fclose(mem);
  std::string out(buffer, size);
  std::free(buffer);
  return out;
}

TEST(TerminalSinkTest, ColoursByClassOnATerminal) {
  EXPECT_EQ(Render(true, Line(LineClass::kError, "No Connection!")),
            "2011/05/03 14:02:09:045 \x1b[31mNo Connection!\x1b[0m\n");
  EXPECT_EQ(Render(true, Line(LineClass::kSuccess, "ok")),
            "2011/05/03 14:02:09:045 \x1b[32mok\x1b[0m\n");
  EXPECT_EQ(Render(true, Line(LineClass::kProvider, "driver")),
            "2011/05/03 14:02:09:045 \x1b[38;5;208mdriver\x1b[0m\n");
  // Plain lines keep the terminal's own colour.
  EXPECT_EQ(Render(true, Line(LineClass::kPlain, "plain")), "2011/05/03 14:02:09:045 plain\n");
}

TEST(TerminalSinkTest, NoEscapesWhenNotATerminal) {
  for (LineClass c : {LineClass::kError, LineClass::kSuccess, LineClass::kProvider}) {
    const std::string out = Render(false, Line(c, "text"));
    EXPECT_EQ(out, "2011/05/03 14:02:09:045 text\n");
  }
}

std::string TempPath(const char* name) {
  return std::string(VELQUIN_BINARY_DIR) + "/" + name + "." + std::to_string(getpid());
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(FileSinkTest, AppendsEachLineAsShownAndKeepsEarlierContent) {
  const std::string path = TempPath("file_sink_test.log");
  std::remove(path.c_str());
  {
    auto sink = FileSink::Open(path);
    ASSERT_TRUE(sink.ok()) << sink.status().ToString();
    OutputLog log(5);
    log.AddSink(*sink);
    log.Write("E::first");
    // Readable at once, before the log or the sink goes away.
    EXPECT_NE(ReadAll(path).find("first\n"), std::string::npos);
    log.Write(std::string(3000, 'L'));
  }
  {
    auto sink = FileSink::Open(path);
    ASSERT_TRUE(sink.ok());
    OutputLog log(5);
    log.AddSink(*sink);
    log.Write("again");
  }
  const std::string content = ReadAll(path);
  std::remove(path.c_str());
  std::istringstream lines(content);
  std::string l1, l2, l3, extra;
  ASSERT_TRUE(std::getline(lines, l1));
  ASSERT_TRUE(std::getline(lines, l2));
  ASSERT_TRUE(std::getline(lines, l3));
  EXPECT_FALSE(std::getline(lines, extra));
  EXPECT_EQ(l1.substr(24), "first");
  EXPECT_EQ(l2.substr(24), std::string(3000, 'L'));  // a long line kept whole
  EXPECT_EQ(l3.substr(24), "again");
}

TEST(FileSinkTest, UnwritablePathIsAnIOError) {
  auto sink = FileSink::Open(TempPath("no-such-dir") + "/x/y.log");
  ASSERT_FALSE(sink.ok());
  EXPECT_EQ(sink.status().code(), StatusCode::kIOError);
  EXPECT_NE(sink.status().message().find("no-such-dir"), std::string::npos);
}

TEST(SystemErrorTextTest, LayoutWithCodeAndDescription) {
  EXPECT_EQ(SystemErrorText("No Connection!", EACCES),
            "No Connection! \r\n failed with error code:[0x0000000d] \r\n discription:" +
                std::string(std::strerror(EACCES)));
}

TEST(SystemErrorTextTest, ReadsTheLastErrorOfTheThread) {
  errno = ENOENT;
  const std::string text = SystemErrorText("Main Controller Error!");
  EXPECT_EQ(
      text.rfind(
          "Main Controller Error! \r\n failed with error code:[0x00000002] \r\n discription:", 0),
      0u);
  EXPECT_GT(text.size(),
            std::string(
                "Main Controller Error! \r\n failed with error code:[0x00000002] \r\n discription:")
                .size());
}

TEST(SystemErrorTextTest, UnknownCodeHasAnEmptyDescription) {
  EXPECT_EQ(SystemErrorText("x", 123456),
            "x \r\n failed with error code:[0x0001e240] \r\n discription:");
}

}  // namespace
}  // namespace velquin
