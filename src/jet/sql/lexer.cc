#include "jet/sql/lexer.h"

namespace velquin::jet::sql {
namespace {

bool IsWordStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsWordPart(unsigned char c) { return IsWordStart(c) || IsDigit(c); }
bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool Token::IsWord(std::string_view upper_word) const {
  if (kind != TokenKind::kWord || value.size() != upper_word.size()) return false;
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upper_word[i]) return false;
  }
  return true;
}

Token Lexer::Next() {
  while (pos_ < text_.size() && IsBlank(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  Token t;
  t.offset = pos_;
  if (pos_ >= text_.size()) {
    t.kind = TokenKind::kEnd;
    return t;
  }
  const size_t start = pos_;
  const auto c = static_cast<unsigned char>(text_[pos_]);
  auto finish = [&](TokenKind kind) {
    t.kind = kind;
    t.source = text_.substr(start, pos_ - start);
    return t;
  };
  auto invalid = [&](std::string why) {
    t.error = std::move(why);
    return finish(TokenKind::kInvalid);
  };

  if (c == '`' || c == '[') {
    const char close = c == '`' ? '`' : ']';
    const size_t end = text_.find(close, pos_ + 1);
    if (end == std::string_view::npos) {
      pos_ = text_.size();
      return invalid(c == '`' ? "The name has no closing back quote."
                              : "The name has no closing bracket.");
    }
    t.value = std::string(text_.substr(pos_ + 1, end - pos_ - 1));
    pos_ = end + 1;
    if (c == '[' && t.value.find('[') != std::string::npos) {
      return invalid("A name in brackets cannot contain '['.");
    }
    return finish(TokenKind::kQuotedName);
  }

  if (c == '\'' || c == '"') {
    ++pos_;
    std::string value;
    while (true) {
      if (pos_ >= text_.size()) {
        return invalid("The text has no closing quote.");
      }
      if (static_cast<unsigned char>(text_[pos_]) == c) {
        if (pos_ + 1 < text_.size() && static_cast<unsigned char>(text_[pos_ + 1]) == c) {
          value.push_back(static_cast<char>(c));
          pos_ += 2;
          continue;
        }
        ++pos_;
        break;
      }
      value.push_back(text_[pos_++]);
    }
    t.value = std::move(value);
    return finish(TokenKind::kString);
  }

  if (c == '#') {
    const size_t end = text_.find('#', pos_ + 1);
    if (end == std::string_view::npos) {
      pos_ = text_.size();
      return invalid("The date has no closing '#'.");
    }
    t.value = std::string(text_.substr(pos_ + 1, end - pos_ - 1));
    pos_ = end + 1;
    auto date = ParseDateTimeText(t.value);
    if (!date.ok()) return invalid(date.status().message());
    t.date = *date;
    return finish(TokenKind::kDate);
  }

  if (c == '0' && pos_ + 1 < text_.size() && (text_[pos_ + 1] == 'x' || text_[pos_ + 1] == 'X')) {
    pos_ += 2;
    std::string digits;
    while (pos_ < text_.size() && HexValue(static_cast<unsigned char>(text_[pos_])) >= 0) {
      digits.push_back(text_[pos_++]);
    }
    if (pos_ < text_.size() && IsWordPart(static_cast<unsigned char>(text_[pos_]))) {
      while (pos_ < text_.size() && IsWordPart(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      return invalid("A binary literal holds only hexadecimal digits.");
    }
    // An odd count of digits reads as if a leading 0 were written (0xA = 0x0A).
    if (digits.size() % 2 != 0) digits.insert(digits.begin(), '0');
    for (size_t i = 0; i < digits.size(); i += 2) {
      t.bytes.push_back(static_cast<uint8_t>(HexValue(digits[i]) * 16 + HexValue(digits[i + 1])));
    }
    t.value = std::string(text_.substr(start, pos_ - start));
    return finish(TokenKind::kBinary);
  }

  if (IsDigit(c) || (c == '.' && pos_ + 1 < text_.size() &&
                     IsDigit(static_cast<unsigned char>(text_[pos_ + 1])))) {
    while (pos_ < text_.size() && IsDigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      while (pos_ < text_.size() && IsDigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      size_t p = pos_ + 1;
      if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) ++p;
      if (p < text_.size() && IsDigit(static_cast<unsigned char>(text_[p]))) {
        pos_ = p;
        while (pos_ < text_.size() && IsDigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      }
    }
    if (pos_ < text_.size() && IsWordPart(static_cast<unsigned char>(text_[pos_]))) {
      while (pos_ < text_.size() && IsWordPart(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      return invalid("A number cannot run into letters.");
    }
    t.value = std::string(text_.substr(start, pos_ - start));
    return finish(TokenKind::kNumber);
  }

  if (IsWordStart(c)) {
    while (pos_ < text_.size() && IsWordPart(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    t.value = std::string(text_.substr(start, pos_ - start));
    return finish(TokenKind::kWord);
  }

  // Symbols: two-character operators first.
  if (pos_ + 1 < text_.size()) {
    const std::string_view two = text_.substr(pos_, 2);
    if (two == "<>" || two == "<=" || two == ">=") {
      pos_ += 2;
      t.value = std::string(two);
      return finish(TokenKind::kSymbol);
    }
  }
  ++pos_;
  t.value = std::string(1, static_cast<char>(c));
  return finish(TokenKind::kSymbol);
}

std::vector<Token> Tokenize(std::string_view text) {
  std::vector<Token> tokens;
  Lexer lexer(text);
  while (true) {
    tokens.push_back(lexer.Next());
    const TokenKind k = tokens.back().kind;
    if (k == TokenKind::kEnd) break;
    if (k == TokenKind::kInvalid) {
      Token end;
      end.kind = TokenKind::kEnd;
      end.offset = text.size();
      tokens.push_back(end);
      break;
    }
  }
  return tokens;
}

}  // namespace velquin::jet::sql
