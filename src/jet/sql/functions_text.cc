// Access's text functions: Mid, Left, Right, Len, Trim, LTrim, RTrim, UCase,
// LCase, InStr, InStrRev, Replace, Space, String, StrComp, StrReverse, Asc,
// AscW, Chr, ChrW.
//
// Text is counted in UTF-16 units, as Access counts it. Comparisons (InStr,
// Replace, StrComp) ignore case unless the compare argument is 0 (binary),
// as a query does under Access's default "Option Compare Database". Case
// mapping knows ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic; other
// characters are left as they are.
#include <algorithm>
#include <string>
#include <vector>

#include "base/unicode.h"
#include "jet/index/general_sort_order.h"
#include "jet/sql/functions_internal.h"

namespace velquin::jet::sql::fn {

std::u16string ToUtf16(std::string_view utf8) {
  auto r = Utf8ToUtf16(utf8);
  if (r.ok()) return *r;
  // Text from the engine is valid UTF-8; keep what we can of anything else.
  std::u16string out;
  for (unsigned char c : utf8) out.push_back(c < 0x80 ? c : u'\uFFFD');
  return out;
}

std::string FromUtf16(std::u16string_view s) { return Utf16ToUtf8(s); }

namespace {

char16_t ToUpper(char16_t c) {
  if (c >= u'a' && c <= u'z') return c - 32;
  if (c < 0x80) return c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
      c != 0x17F) {
    // Latin Extended-A pairs: even upper, odd lower, except 0x139..0x148 and
    // 0x179..0x17E where the pairs start at odd numbers.
    const bool odd_pairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    const bool lower = odd_pairs ? (c % 2 == 0) : (c % 2 == 1);
    return lower ? c - 1 : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  return c;
}

char16_t ToLower(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c + 32;
  if (c < 0x80) return c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x17F && ToUpper(c) == c && ToUpper(static_cast<char16_t>(c + 1)) == c &&
      c != 0x130) {
    return c + 1;
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

std::u16string Folded(std::u16string s) {
  for (auto& c : s) c = FoldCase(c);
  return s;
}

Value Text16(std::u16string_view s) { return Value::Text(FromUtf16(s)); }

// The compare argument of InStr, Replace and StrComp: true for text (case
// ignored), false for binary.
Result<bool> TextCompare(std::span<const Value> a, std::size_t at) {
  if (a.size() <= at) return true;
  if (a[at].is_null()) return Fail(kInvalidNull);
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t c, WholeArgument(a[at]));
  if (c < -1 || c > 2) return Fail(kInvalidCall);
  return c != 0;
}

// Position (0-based) of `what` in `in` from `from`, or npos.
std::size_t Find(const std::u16string& in, const std::u16string& what, std::size_t from,
                 bool text) {
  if (!text) return in.find(what, from);
  return Folded(in).find(Folded(what), from);
}

Result<Value> Mid(std::span<const Value> a) {
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t start, WholeArgument(a[1]));
  std::int64_t length = -1;
  if (a.size() > 2) {
    VELQUIN_ASSIGN_OR_RETURN(length, WholeArgument(a[2]));
  }
  if (start < 1 || (a.size() > 2 && length < 0)) return Fail(kInvalidCall);
  if (a[0].is_null()) return Value();
  const std::u16string s = ToUtf16(ToText(a[0]));
  if (static_cast<std::size_t>(start) > s.size()) return Value::Text("");
  const std::size_t n = length < 0 ? std::u16string::npos : static_cast<std::size_t>(length);
  return Text16(std::u16string_view(s).substr(static_cast<std::size_t>(start - 1), n));
}

template <bool kLeft>
Result<Value> Side(std::span<const Value> a) {
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t n, WholeArgument(a[1]));
  if (n < 0) return Fail(kInvalidCall);
  if (a[0].is_null()) return Value();
  const std::u16string s = ToUtf16(ToText(a[0]));
  const std::size_t k = std::min(s.size(), static_cast<std::size_t>(n));
  return Text16(kLeft ? std::u16string_view(s).substr(0, k)
                      : std::u16string_view(s).substr(s.size() - k));
}

Result<Value> Len(std::span<const Value> a) {
  if (a[0].is_null()) return Value();
  return Value::Long(static_cast<std::int32_t>(ToUtf16(ToText(a[0])).size()));
}

template <bool kLeading, bool kTrailing>
Result<Value> TrimSpaces(std::span<const Value> a) {
  if (a[0].is_null()) return Value();
  std::string s = ToText(a[0]);
  std::size_t b = 0, e = s.size();
  if (kLeading) {
    while (b < e && s[b] == ' ') ++b;
  }
  if (kTrailing) {
    while (e > b && s[e - 1] == ' ') --e;
  }
  return Value::Text(s.substr(b, e - b));
}

template <bool kUpper>
Result<Value> ChangeCase(std::span<const Value> a) {
  if (a[0].is_null()) return Value();
  std::u16string s = ToUtf16(ToText(a[0]));
  for (auto& c : s) c = kUpper ? ToUpper(c) : ToLower(c);
  return Text16(s);
}

// InStr([start,] text, find[, compare]): 1-based position, 0 when not found.
Result<Value> InStr(std::span<const Value> a) {
  std::int64_t start = 1;
  std::size_t at = 0;
  if (a.size() >= 3) {
    VELQUIN_ASSIGN_OR_RETURN(start, WholeArgument(a[0]));
    if (start < 1) return Fail(kInvalidCall);
    at = 1;
  }
  VELQUIN_ASSIGN_OR_RETURN(bool text, TextCompare(a, at + 2));
  if (a[at].is_null() || a[at + 1].is_null()) return Value();
  const std::u16string in = ToUtf16(ToText(a[at])), what = ToUtf16(ToText(a[at + 1]));
  if (static_cast<std::size_t>(start) > in.size()) return Value::Long(0);
  if (what.empty()) return Value::Long(static_cast<std::int32_t>(start));
  std::size_t p = Find(in, what, static_cast<std::size_t>(start - 1), text);
  return Value::Long(p == std::u16string::npos ? 0 : static_cast<std::int32_t>(p + 1));
}

// InStrRev(text, find[, start[, compare]]): the last match that ends at or
// before `start` (-1: the end).
Result<Value> InStrRev(std::span<const Value> a) {
  std::int64_t start = -1;
  if (a.size() > 2) {
    VELQUIN_ASSIGN_OR_RETURN(start, WholeArgument(a[2]));
  }
  if (start == 0 || start < -1) return Fail(kInvalidCall);
  VELQUIN_ASSIGN_OR_RETURN(bool text, TextCompare(a, 3));
  if (a[0].is_null() || a[1].is_null()) return Value();
  std::u16string in = ToUtf16(ToText(a[0])), what = ToUtf16(ToText(a[1]));
  if (text) in = Folded(in), what = Folded(what);
  const std::size_t end = start == -1 ? in.size() : static_cast<std::size_t>(start);
  if (end > in.size()) return Value::Long(0);
  if (what.empty()) return Value::Long(static_cast<std::int32_t>(end));
  if (what.size() > end) return Value::Long(0);
  std::size_t p = in.rfind(what, end - what.size());
  return Value::Long(p == std::u16string::npos ? 0 : static_cast<std::int32_t>(p + 1));
}

// Replace(text, find, with[, start[, count[, compare]]]): the result begins
// at `start`, as in Access; count -1 replaces every match.
Result<Value> Replace(std::span<const Value> a) {
  std::int64_t start = 1, count = -1;
  if (a.size() > 3) {
    VELQUIN_ASSIGN_OR_RETURN(start, WholeArgument(a[3]));
  }
  if (a.size() > 4) {
    VELQUIN_ASSIGN_OR_RETURN(count, WholeArgument(a[4]));
  }
  if (start < 1 || count < -1) return Fail(kInvalidCall);
  VELQUIN_ASSIGN_OR_RETURN(bool text, TextCompare(a, 5));
  if (a[0].is_null() || a[1].is_null() || a[2].is_null()) return Fail(kInvalidNull);
  const std::u16string all = ToUtf16(ToText(a[0]));
  if (static_cast<std::size_t>(start) > all.size()) return Value::Text("");
  const std::u16string in = all.substr(static_cast<std::size_t>(start - 1));
  const std::u16string what = ToUtf16(ToText(a[1])), with = ToUtf16(ToText(a[2]));
  if (what.empty() || count == 0) return Text16(in);
  std::u16string out;
  std::size_t from = 0;
  for (std::int64_t done = 0; count < 0 || done < count; ++done) {
    std::size_t p = Find(in, what, from, text);
    if (p == std::u16string::npos) break;
    out.append(in, from, p - from);
    out += with;
    from = p + what.size();
  }
  out.append(in, from);
  return Text16(out);
}

Result<Value> Space(std::span<const Value> a) {
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t n, WholeArgument(a[0]));
  if (n < 0) return Fail(kInvalidCall);
  // Access's texts hold up to about a billion characters; refuse the rest.
  if (n > (1 << 30)) return Fail("Out of memory");
  return Value::Text(std::string(static_cast<std::size_t>(n), ' '));
}

// String(count, character): the character as a code or as the first
// character of a text; NULL in either gives NULL.
Result<Value> RepeatChar(std::span<const Value> a) {
  if (a[0].is_null() || a[1].is_null()) return Value();
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t n, WholeArgument(a[0]));
  if (n < 0) return Fail(kInvalidCall);
  if (n > (1 << 30)) return Fail("Out of memory");
  char16_t c;
  if (a[1].kind() == ValueKind::kText) {
    const std::u16string s = ToUtf16(a[1].text_value());
    if (s.empty()) return Fail(kInvalidCall);
    c = s[0];
  } else {
    VELQUIN_ASSIGN_OR_RETURN(std::int64_t code, WholeArgument(a[1]));
    // A code past 255 is taken modulo 256, as Access does.
    if (code < 0) return Fail(kInvalidCall);
    c = static_cast<char16_t>(code % 256);
  }
  return Text16(std::u16string(static_cast<std::size_t>(n), c));
}

// StrComp: -1, 0 or 1. A text compare orders as Access's General sort order
// (the order of text index keys: case ignored, accents after the plain
// letter, é between e and f); texts equal there are told apart by their
// folded characters (trailing blanks, text past the keyed 255 characters).
Result<Value> StrComp(std::span<const Value> a) {
  VELQUIN_ASSIGN_OR_RETURN(bool text, TextCompare(a, 2));
  if (a[0].is_null() || a[1].is_null()) return Value();
  std::u16string x = ToUtf16(ToText(a[0])), y = ToUtf16(ToText(a[1]));
  int c = 0;
  if (text) {
    std::vector<std::uint8_t> kx, ky;
    AppendGeneralTextKey(x, true, kx);
    AppendGeneralTextKey(y, true, ky);
    c = kx < ky ? -1 : ky < kx ? 1 : Folded(x).compare(Folded(y));
  } else {
    c = x.compare(y);
  }
  return Value::Short(static_cast<std::int16_t>(c < 0 ? -1 : c > 0 ? 1 : 0));
}

Result<Value> StrReverse(std::span<const Value> a) {
  if (a[0].is_null()) return Fail(kInvalidNull);
  std::u16string s = ToUtf16(ToText(a[0]));
  std::reverse(s.begin(), s.end());
  return Text16(s);
}

// Asc gives the Windows-1252 code of the first character ('?' for one the
// code page lacks); AscW its UTF-16 code, as a signed 16-bit number.
template <bool kWide>
Result<Value> Asc(std::span<const Value> a) {
  if (a[0].is_null()) return Fail(kInvalidNull);
  const std::u16string s = ToUtf16(ToText(a[0]));
  if (s.empty()) return Fail(kInvalidCall);
  const char16_t c = s[0];
  if (kWide) return Value::Short(static_cast<std::int16_t>(c));
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return Value::Short(static_cast<std::int16_t>(c));
  for (int i = 0; i < 32; ++i) {
    if (kWindows1252High[i] == c) return Value::Short(static_cast<std::int16_t>(0x80 + i));
  }
  return Value::Short(63);
}

// Chr takes a Windows-1252 code (0..255), ChrW a UTF-16 code.
template <bool kWide>
Result<Value> Chr(std::span<const Value> a) {
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t code, WholeArgument(a[0]));
  if (kWide) {
    if (code < -32768 || code > 65535) return Fail(kInvalidCall);
    const char16_t c = static_cast<char16_t>(code < 0 ? code + 65536 : code);
    return Text16(std::u16string(1, c));
  }
  if (code < 0 || code > 255) return Fail(kInvalidCall);
  const char16_t c =
      code >= 0x80 && code < 0xA0 ? kWindows1252High[code - 0x80] : static_cast<char16_t>(code);
  return Text16(std::u16string(1, c));
}

const FunctionDef kFunctions[] = {
    {"Mid", 2, 3, Mid, nullptr},
    {"Left", 2, 2, Side<true>, nullptr},
    {"Right", 2, 2, Side<false>, nullptr},
    {"Len", 1, 1, Len, nullptr},
    {"Trim", 1, 1, TrimSpaces<true, true>, nullptr},
    {"LTrim", 1, 1, TrimSpaces<true, false>, nullptr},
    {"RTrim", 1, 1, TrimSpaces<false, true>, nullptr},
    {"UCase", 1, 1, ChangeCase<true>, nullptr},
    {"LCase", 1, 1, ChangeCase<false>, nullptr},
    {"InStr", 2, 4, InStr, nullptr},
    {"InStrRev", 2, 4, InStrRev, nullptr},
    {"Replace", 3, 6, Replace, nullptr},
    {"Space", 1, 1, Space, nullptr},
    {"String", 2, 2, RepeatChar, nullptr},
    {"StrComp", 2, 3, StrComp, nullptr},
    {"StrReverse", 1, 1, StrReverse, nullptr},
    {"Asc", 1, 1, Asc<false>, nullptr},
    {"AscW", 1, 1, Asc<true>, nullptr},
    {"Chr", 1, 1, Chr<false>, nullptr},
    {"ChrW", 1, 1, Chr<true>, nullptr},
};

}  // namespace

char16_t FoldCase(char16_t c) { return ToLower(ToUpper(c)); }

std::span<const FunctionDef> TextFunctions() { return kFunctions; }

}  // namespace velquin::jet::sql::fn
