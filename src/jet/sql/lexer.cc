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

// Reads the token at *pos and moves past it. Texts that are not a slice of
// `text` (unescaped strings, error messages) go into `storage`.
static Token NextToken(std::string_view text, size_t& pos,
                       std::forward_list<std::string>& storage) {
  while (pos < text.size() && IsBlank(static_cast<unsigned char>(text[pos]))) ++pos;
  Token t;
  t.offset = pos;
  if (pos >= text.size()) {
    t.kind = TokenKind::kEnd;
    return t;
  }
  const size_t start = pos;
  const auto c = static_cast<unsigned char>(text[pos]);
  // Every path ends in `return t;` so that the token is built in place.
  auto finish = [&](TokenKind kind) {
    t.kind = kind;
    t.source = text.substr(start, pos - start);
  };
  auto invalid = [&](std::string why) {
    t.error = storage.emplace_front(std::move(why));
    finish(TokenKind::kInvalid);
  };

  if (c == '`' || c == '[') {
    const char close = c == '`' ? '`' : ']';
    const size_t end = text.find(close, pos + 1);
    if (end == std::string_view::npos) {
      pos = text.size();
      {
        invalid(c == '`' ? "The name has no closing back quote."
                         : "The name has no closing bracket.");
        return t;
      }
    }
    t.value = text.substr(pos + 1, end - pos - 1);
    pos = end + 1;
    if (c == '[' && t.value.find('[') != std::string_view::npos) {
      {
        invalid("A name in brackets cannot contain '['.");
        return t;
      }
    }
    finish(TokenKind::kQuotedName);
    return t;
  }

  if (c == '\'' || c == '"') {
    ++pos;
    const size_t begin = pos;
    bool doubled = false;
    while (true) {
      if (pos >= text.size()) {
        invalid("The text has no closing quote.");
        return t;
      }
      if (static_cast<unsigned char>(text[pos]) == c) {
        if (pos + 1 < text.size() && static_cast<unsigned char>(text[pos + 1]) == c) {
          doubled = true;
          pos += 2;
          continue;
        }
        break;
      }
      ++pos;
    }
    const std::string_view inside = text.substr(begin, pos - begin);
    ++pos;  // the closing quote
    if (!doubled) {
      t.value = inside;
    } else {
      std::string& value = storage.emplace_front();
      for (size_t i = 0; i < inside.size(); ++i) {
        value.push_back(inside[i]);
        if (static_cast<unsigned char>(inside[i]) == c) ++i;  // the doubled quote's twin
      }
      t.value = value;
    }
    finish(TokenKind::kString);
    return t;
  }

  if (c == '#') {
    const size_t end = text.find('#', pos + 1);
    if (end == std::string_view::npos) {
      pos = text.size();
      {
        invalid("The date has no closing '#'.");
        return t;
      }
    }
    t.value = text.substr(pos + 1, end - pos - 1);
    pos = end + 1;
    auto date = ParseDateTimeText(t.value);
    if (!date.ok()) {
      invalid(date.status().message());
      return t;
    }
    t.date = *date;
    finish(TokenKind::kDate);
    return t;
  }

  if (c == '0' && pos + 1 < text.size() && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
    pos += 2;
    while (pos < text.size() && HexValue(static_cast<unsigned char>(text[pos])) >= 0) ++pos;
    if (pos < text.size() && IsWordPart(static_cast<unsigned char>(text[pos]))) {
      while (pos < text.size() && IsWordPart(static_cast<unsigned char>(text[pos]))) ++pos;
      {
        invalid("A binary literal holds only hexadecimal digits.");
        return t;
      }
    }
    t.value = text.substr(start, pos - start);
    finish(TokenKind::kBinary);
    return t;
  }

  if (IsDigit(c) ||
      (c == '.' && pos + 1 < text.size() && IsDigit(static_cast<unsigned char>(text[pos + 1])))) {
    while (pos < text.size() && IsDigit(static_cast<unsigned char>(text[pos]))) ++pos;
    if (pos < text.size() && text[pos] == '.') {
      ++pos;
      while (pos < text.size() && IsDigit(static_cast<unsigned char>(text[pos]))) ++pos;
    }
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
      size_t p = pos + 1;
      if (p < text.size() && (text[p] == '+' || text[p] == '-')) ++p;
      if (p < text.size() && IsDigit(static_cast<unsigned char>(text[p]))) {
        pos = p;
        while (pos < text.size() && IsDigit(static_cast<unsigned char>(text[pos]))) ++pos;
      }
    }
    if (pos < text.size() && IsWordPart(static_cast<unsigned char>(text[pos]))) {
      while (pos < text.size() && IsWordPart(static_cast<unsigned char>(text[pos]))) ++pos;
      {
        invalid("A number cannot run into letters.");
        return t;
      }
    }
    t.value = text.substr(start, pos - start);
    finish(TokenKind::kNumber);
    return t;
  }

  if (IsWordStart(c)) {
    while (pos < text.size() && IsWordPart(static_cast<unsigned char>(text[pos]))) ++pos;
    // Mid$(, Left$(, ...: the "$" forms of the text functions are one word.
    if (pos < text.size() && text[pos] == '$') {
      std::size_t after = pos + 1;
      while (after < text.size() && IsBlank(static_cast<unsigned char>(text[after]))) ++after;
      if (after < text.size() && text[after] == '(') ++pos;
    }
    t.value = text.substr(start, pos - start);
    finish(TokenKind::kWord);
    return t;
  }

  // Symbols: two-character operators first.
  if (pos + 1 < text.size()) {
    const std::string_view two = text.substr(pos, 2);
    if (two == "<>" || two == "<=" || two == ">=") {
      pos += 2;
      t.value = two;
      finish(TokenKind::kSymbol);
      return t;
    }
  }
  ++pos;
  t.value = text.substr(start, 1);
  finish(TokenKind::kSymbol);
  return t;
}

std::vector<uint8_t> Token::Bytes() const {
  std::vector<uint8_t> bytes;
  if (kind != TokenKind::kBinary || source.size() < 2) return bytes;
  std::string_view digits = source.substr(2);
  size_t i = 0;
  if (digits.size() % 2 != 0) {  // 0xA reads as 0x0A
    bytes.push_back(static_cast<uint8_t>(HexValue(static_cast<unsigned char>(digits[0]))));
    i = 1;
  }
  for (; i + 1 < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(HexValue(static_cast<unsigned char>(digits[i])) * 16 +
                                         HexValue(static_cast<unsigned char>(digits[i + 1]))));
  }
  return bytes;
}

TokenList Tokenize(std::string_view text) {
  TokenList list;
  list.tokens_.reserve(text.size() / 3 + 2);
  size_t pos = 0;
  while (true) {
    list.tokens_.push_back(NextToken(text, pos, list.storage_));
    const TokenKind k = list.tokens_.back().kind;
    if (k == TokenKind::kEnd) break;
    if (k == TokenKind::kInvalid) {
      Token end;
      end.kind = TokenKind::kEnd;
      end.offset = text.size();
      list.tokens_.push_back(end);
      break;
    }
  }
  return list;
}

}  // namespace velquin::jet::sql
