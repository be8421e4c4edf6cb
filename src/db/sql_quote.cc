#include "db/sql_quote.h"

#include <cstdlib>

namespace velquin {

std::string QuoteIdentifier(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 2);
  out.push_back('`');
  for (char c : name) {
    if (c == '`') out.push_back('`');
    out.push_back(c);
  }
  out.push_back('`');
  return out;
}

std::string QuoteQualifiedName(std::string_view database, std::string_view table) {
  if (database.empty()) return QuoteIdentifier(table);
  return QuoteIdentifier(database) + "." + QuoteIdentifier(table);
}

std::string QuoteMySqlString(std::string_view text, bool no_backslash_escapes) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('\'');
  for (char c : text) {
    if (no_backslash_escapes) {
      if (c == '\'') out.push_back('\'');
      out.push_back(c);
      continue;
    }
    switch (c) {
      case '\'':
        out += "\\'";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\0':
        out += "\\0";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\x1a':
        out += "\\Z";
        break;
      default:
        out.push_back(c);
    }
  }
  out.push_back('\'');
  return out;
}

std::string HexLiteral(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out = "X'";
  out.reserve(bytes.size() * 2 + 3);
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 0xF]);
  }
  out.push_back('\'');
  return out;
}

std::string QuoteConnectionValue(std::string_view value) {
  bool needs_braces = !value.empty() && (value.front() == ' ' || value.back() == ' ');
  for (char c : value) {
    if (c == ';' || c == '{' || c == '}' || c == '=') needs_braces = true;
  }
  if (!needs_braces) return std::string(value);
  std::string out = "{";
  for (char c : value) {
    if (c == '}') out.push_back('}');
    out.push_back(c);
  }
  out.push_back('}');
  return out;
}

std::string ExpandEnvironmentReferences(std::string_view text) {
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t open = text.find('%', pos);
    if (open == std::string_view::npos) break;
    std::size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    out.append(text.substr(pos, open - pos));
    std::string name(text.substr(open + 1, close - open - 1));
    if (const char* value = name.empty() ? nullptr : std::getenv(name.c_str())) out += value;
    pos = close + 1;
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace velquin
