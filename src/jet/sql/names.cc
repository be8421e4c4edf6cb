#include "jet/sql/names.h"

#include <cstdint>

#include "base/unicode.h"

namespace velquin::jet::sql {
namespace {

// Decodes one UTF-8 sequence at s[*pos]; returns false for a malformed one.
bool NextCodePoint(std::string_view s, size_t* pos, uint32_t* cp) {
  char32_t value;
  if (!DecodeUtf8(s, pos, &value)) return false;
  *cp = value;
  return true;
}

// The name as it can be shown in a message: control characters as '?',
// cut after 80 bytes.
std::string Printable(std::string_view name) {
  std::string out;
  for (char c : name.substr(0, 80)) {
    out.push_back(static_cast<unsigned char>(c) < 32 ? '?' : c);
  }
  if (name.size() > 80) out += "...";
  return out;
}

Status Broken(std::string_view name, std::string_view rule) {
  return Status::InvalidArgument("'" + Printable(name) +
                                 "' is not a valid name: " + std::string(rule) + ".");
}

uint32_t FoldCase(uint32_t cp) {
  if (cp >= 'a' && cp <= 'z') return cp - 32;
  if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return cp - 32;
  return cp;
}

}  // namespace

Status ValidateObjectName(std::string_view name) {
  if (name.empty()) return Status::InvalidArgument("A name cannot be empty.");
  if (name.front() == ' ') return Broken(name, "a name cannot start with a space");
  size_t chars = 0;
  size_t pos = 0;
  while (pos < name.size()) {
    uint32_t cp = 0;
    if (!NextCodePoint(name, &pos, &cp)) return Broken(name, "a name must be valid UTF-8 text");
    chars += cp >= 0x10000 ? 2 : 1;  // Access counts UTF-16 units
    if (cp < 32) return Broken(name, "a name cannot contain control characters (codes 0 to 31)");
    switch (cp) {
      case '.':
        return Broken(name, "a name cannot contain a period (.)");
      case '!':
        return Broken(name, "a name cannot contain an exclamation mark (!)");
      case '`':
        return Broken(name, "a name cannot contain a back quote (`)");
      case '[':
      case ']':
        return Broken(name, "a name cannot contain square brackets ([ ])");
      default:
        break;
    }
  }
  if (chars > kMaxObjectNameLength) {
    return Broken(name, "a name can be at most 64 characters long");
  }
  return Status::Ok();
}

bool SameObjectName(std::string_view a, std::string_view b) {
  size_t pa = 0, pb = 0;
  while (pa < a.size() && pb < b.size()) {
    uint32_t ca = 0, cb = 0;
    const bool ok_a = NextCodePoint(a, &pa, &ca);
    const bool ok_b = NextCodePoint(b, &pb, &cb);
    if (!ok_a || !ok_b) return a == b;  // malformed text: only an exact match
    if (FoldCase(ca) != FoldCase(cb)) return false;
  }
  return pa == a.size() && pb == b.size();
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace velquin::jet::sql
