#include "jet/sql/lexer.h"

#include <gtest/gtest.h>

namespace velquin::jet::sql {
namespace {

std::vector<TokenKind> Kinds(std::string_view text) {
  std::vector<TokenKind> out;
  for (const Token& t : Tokenize(text)) out.push_back(t.kind);
  return out;
}

TEST(Lexer, SplitsTokensAndKeepsTheirSource) {
  auto tokens = Tokenize("SELECT [a b],`c`,'x''y' FROM t WHERE d<>#2024-01-02# AND e>=0x0A");
  ASSERT_EQ(tokens.size(), 17u);
  EXPECT_TRUE(tokens[0].IsWord("SELECT"));
  EXPECT_EQ(tokens[1].kind, TokenKind::kQuotedName);
  EXPECT_EQ(tokens[1].value, "a b");
  EXPECT_EQ(tokens[1].source, "[a b]");
  EXPECT_EQ(tokens[3].value, "c");
  EXPECT_EQ(tokens[5].kind, TokenKind::kString);
  EXPECT_EQ(tokens[5].value, "x'y");
  EXPECT_EQ(tokens[5].offset, 17u);
  EXPECT_TRUE(tokens[10].IsSymbol("<>"));
  EXPECT_EQ(tokens[11].kind, TokenKind::kDate);
  EXPECT_EQ(tokens[11].date, (DateTimeValue{2024, 1, 2, 0, 0, 0, 0}));
  EXPECT_TRUE(tokens[14].IsSymbol(">="));
  EXPECT_EQ(tokens[15].kind, TokenKind::kBinary);
  EXPECT_EQ(tokens[15].Bytes(), std::vector<uint8_t>{0x0A});
  EXPECT_EQ(tokens[16].kind, TokenKind::kEnd);
}

TEST(Lexer, KeywordsCompareWithoutRegardToCase) {
  auto tokens = Tokenize("sElEcT");
  EXPECT_TRUE(tokens[0].IsWord("SELECT"));
  EXPECT_FALSE(tokens[0].IsWord("SELEC"));
  // A quoted name is never a keyword.
  EXPECT_FALSE(Tokenize("[select]")[0].IsWord("SELECT"));
}

TEST(Lexer, BinaryLiteralsOfAnyLength) {
  EXPECT_TRUE(Tokenize("0x")[0].Bytes().empty());
  EXPECT_EQ(Tokenize("0x1")[0].Bytes(), std::vector<uint8_t>{0x01});
  EXPECT_EQ(Tokenize("0XfF00a")[0].Bytes(), (std::vector<uint8_t>{0x0F, 0xF0, 0x0A}));
  EXPECT_EQ(Tokenize("0x0g")[0].kind, TokenKind::kInvalid);
}

TEST(Lexer, NumbersAndTheirNeighbours) {
  EXPECT_EQ(Kinds("1.5e-3"), (std::vector<TokenKind>{TokenKind::kNumber, TokenKind::kEnd}));
  // "1e" is not an exponent, and a number may not run into a word.
  EXPECT_EQ(Tokenize("1e")[0].kind, TokenKind::kInvalid);
  EXPECT_EQ(Kinds("a.b"), (std::vector<TokenKind>{TokenKind::kWord, TokenKind::kSymbol,
                                                  TokenKind::kWord, TokenKind::kEnd}));
  EXPECT_EQ(Tokenize(".5")[0].value, ".5");
}

TEST(Lexer, StopsAtTheFirstUnreadableToken) {
  for (const char* text : {"'open", "\"open", "[open", "`open", "#2024-01-01", "#not a date#"}) {
    SCOPED_TRACE(text);
    auto tokens = Tokenize(std::string("a ") + text + " b");
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[1].kind, TokenKind::kInvalid);
    EXPECT_FALSE(tokens[1].error.empty());
    EXPECT_EQ(tokens[2].kind, TokenKind::kEnd);
  }
}

TEST(Lexer, BytesOfUtf8NamesArePartOfWords) {
  auto tokens = Tokenize("café=1");
  EXPECT_EQ(tokens[0].value, "café");
  EXPECT_TRUE(tokens[1].IsSymbol("="));
}

}  // namespace
}  // namespace velquin::jet::sql
