// Jet SQL tokens.
//
// Lexical rules (as Jet reads them):
//   - blanks, tabs and line breaks separate tokens; there are no comments;
//   - a bare word starts with a letter or "_" (or any byte of a UTF-8
//     sequence) and goes on with letters, digits and "_"; keywords are bare
//     words, compared without regard to case;
//   - `name` and [name] are quoted names: anything up to the closing quote or
//     bracket, with no escape inside;
//   - 'text' and "text" are strings; the quote is doubled inside ('O''Brien');
//     a backslash is an ordinary character;
//   - #...# is a date literal (see datetime_text.h);
//   - 0x followed by hexadecimal digits (possibly none) is a binary literal;
//   - numbers: digits with an optional fraction and exponent;
//   - operators and punctuation: ( ) , . ; * + - / \ = < > <= >= <> & ^
// A token that cannot be read (an unclosed quote, a bad date) comes back as
// kInvalid with the reason; the parser reports it in its statement's words.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/sql/datetime_text.h"

namespace velquin::jet::sql {

enum class TokenKind : uint8_t {
  kEnd,
  kWord,        // bare word (identifier or keyword)
  kQuotedName,  // `...` or [...]
  kString,
  kNumber,
  kDate,
  kBinary,
  kSymbol,
  kInvalid,
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string_view source;     // the token as written
  size_t offset = 0;           // byte offset in the statement
  std::string value;           // name without quotes, string value, number text, symbol
  std::vector<uint8_t> bytes;  // kBinary
  DateTimeValue date;          // kDate
  std::string error;           // kInvalid: why

  // True for a bare word equal to `upper_word` without regard to case.
  bool IsWord(std::string_view upper_word) const;
  bool IsSymbol(std::string_view symbol) const {
    return kind == TokenKind::kSymbol && value == symbol;
  }
};

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}
  Token Next();

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// All tokens of `text`, ending with one kEnd token (or stopping after the
// first kInvalid token).
std::vector<Token> Tokenize(std::string_view text);

// ASCII upper-casing of a word, for keyword comparison.
std::string UpperAscii(std::string_view s);

}  // namespace velquin::jet::sql
