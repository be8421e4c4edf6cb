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
#include <forward_list>
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
  std::string_view source;  // the token as written
  size_t offset = 0;        // byte offset in the statement
  // The name without its quotes, the string's value, the number's digits,
  // the symbol, the inside of a date literal. Points into the statement or
  // into the token list's storage (a string with doubled quotes).
  std::string_view value;
  DateTimeValue date;      // kDate
  std::string_view error;  // kInvalid: why

  // kBinary: the bytes of the literal (an odd digit count reads with a leading 0).
  std::vector<uint8_t> Bytes() const;

  // True for a bare word equal to `upper_word` without regard to case.
  bool IsWord(std::string_view upper_word) const;
  bool IsSymbol(std::string_view symbol) const {
    return kind == TokenKind::kSymbol && value == symbol;
  }
};

// The tokens of one statement, with the texts some of them refer to.
class TokenList {
 public:
  size_t size() const { return tokens_.size(); }
  const Token& operator[](size_t i) const { return tokens_[i]; }
  std::vector<Token>::const_iterator begin() const { return tokens_.begin(); }
  std::vector<Token>::const_iterator end() const { return tokens_.end(); }

 private:
  friend TokenList Tokenize(std::string_view text);
  std::vector<Token> tokens_;
  std::forward_list<std::string> storage_;  // stable addresses: tokens point into it
};

// All tokens of `text`, ending with one kEnd token (or stopping after the
// first kInvalid token). The list refers to `text`, which must outlive it.
TokenList Tokenize(std::string_view text);

// ASCII upper-casing of a word, for keyword comparison.
std::string UpperAscii(std::string_view s);

}  // namespace velquin::jet::sql
