// Values compared, read as numbers, matched with LIKE and taken as truth
// values the way Jet does in query expressions.
#include "jet/sql/value_ops.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>

#include "base/unicode.h"
#include "jet/index/general_sort_order.h"
#include "jet/sql/datetime_text.h"
#include "jet/sql/executor_internal.h"
#include "jet/sql/functions_internal.h"
#include "jet/sql/names.h"

namespace velquin::jet::sql {

bool IsNumeric(const Value& v) {
  switch (v.kind()) {
    case ValueKind::kBool:
    case ValueKind::kByte:
    case ValueKind::kShort:
    case ValueKind::kLong:
    case ValueKind::kCurrency:
    case ValueKind::kSingle:
    case ValueKind::kDouble:
    case ValueKind::kDecimal:
    case ValueKind::kDateTime:
      return true;
    default:
      return false;
  }
}

double ToDouble(const Value& v) {
  std::int64_t i;
  if (v.kind() == ValueKind::kBool) return v.bool_value() ? -1 : 0;  // Jet's True is -1
  if (v.AsInt64(&i)) return static_cast<double>(i);
  switch (v.kind()) {
    case ValueKind::kCurrency:
      return static_cast<double>(v.currency_value().units) / 10000.0;
    case ValueKind::kSingle:
      return v.single_value();
    case ValueKind::kDouble:
      return v.double_value();
    case ValueKind::kDateTime:
      return v.datetime_value().days;
    case ValueKind::kDecimal:
      return std::strtod(v.decimal_value().ToString().c_str(), nullptr);
    case ValueKind::kText:
      return std::strtod(v.text_value().c_str(), nullptr);
    default:
      return 0;
  }
}

// A number written in SQL ("12", "-1.5E3") as a double; false if it is not one.
bool ParseNumber(std::string_view text, double* out) {
  std::string s(text);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  std::size_t start = 0;
  while (start < s.size() && std::isspace(static_cast<unsigned char>(s[start]))) ++start;
  if (start == s.size()) return false;
  char* end = nullptr;
  double d = std::strtod(s.c_str() + start, &end);
  if (end != s.c_str() + s.size()) return false;
  if (!std::isfinite(d)) return false;
  *out = d;
  return true;
}

// Compares two non-null values as Jet does: numbers and dates by value, text
// without regard to case. nullopt when they cannot be compared.
std::string TextSortKey(std::string_view utf8) {
  auto wide = Utf8ToUtf16(utf8);
  if (!wide.ok()) return "\xff" + LowerAscii(utf8);  // not UTF-8: after every real text
  std::u16string_view rest = *wide;
  std::vector<std::uint8_t> key;
  do {
    // A piece never ends inside a surrogate pair.
    std::size_t n = std::min(rest.size(), kMaxIndexedTextChars);
    if (n < rest.size() && n > 0 && rest[n - 1] >= 0xD800 && rest[n - 1] <= 0xDBFF) --n;
    AppendGeneralTextKey(rest.substr(0, n), true, key);
    rest.remove_prefix(n);
  } while (!rest.empty());
  return std::string(key.begin(), key.end());
}

int CompareForSort(const Value& a, const Value& b) {
  if (a.is_null() || b.is_null()) return a.is_null() == b.is_null() ? 0 : (a.is_null() ? -1 : 1);
  return CompareValues(a, b).value_or(0);
}

void AppendGroupKey(const Value& v, std::string* out) {
  auto append_sized = [&](char tag, std::string_view bytes) {
    out->push_back(tag);
    const auto n = static_cast<std::uint32_t>(bytes.size());
    out->append(reinterpret_cast<const char*>(&n), sizeof n);
    out->append(bytes);
  };
  if (v.is_null()) {
    out->push_back('\0');
  } else if (IsNumeric(v)) {
    double d = ToDouble(v);
    if (d == 0) d = 0;  // -0 and 0 are one value
    out->push_back('\1');
    out->append(reinterpret_cast<const char*>(&d), sizeof d);
  } else if (v.kind() == ValueKind::kText) {
    append_sized('\2', TextSortKey(v.text_value()));
  } else if (v.kind() == ValueKind::kBinary) {
    const auto& b = v.binary_value();
    append_sized('\3', std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
  } else {
    append_sized('\4', LowerAscii(v.ToString()));
  }
}

std::optional<int> CompareValues(const Value& a, const Value& b) {
  auto cmp = [](auto x, auto y) { return x < y ? -1 : (x > y ? 1 : 0); };
  bool an = IsNumeric(a), bn = IsNumeric(b);
  if (an && bn) return cmp(ToDouble(a), ToDouble(b));
  if (a.kind() == ValueKind::kText && b.kind() == ValueKind::kText) {
    return cmp(TextSortKey(a.text_value()), TextSortKey(b.text_value()));
  }
  // Text against a number or date: the text is read as one.
  auto as_number = [](const Value& text, const Value& other) -> std::optional<double> {
    double d;
    if (other.kind() == ValueKind::kDateTime) {
      auto dt = ParseDateTimeText(text.text_value());
      if (dt.ok()) return dt->ToJetDays();
    }
    if (ParseNumber(text.text_value(), &d)) return d;
    return std::nullopt;
  };
  if (a.kind() == ValueKind::kText && bn) {
    auto d = as_number(a, b);
    if (!d) return std::nullopt;
    return cmp(*d, ToDouble(b));
  }
  if (an && b.kind() == ValueKind::kText) {
    auto d = as_number(b, a);
    if (!d) return std::nullopt;
    return cmp(ToDouble(a), *d);
  }
  if (a.kind() == ValueKind::kBinary && b.kind() == ValueKind::kBinary) {
    // Byte by byte, then the shorter first (memcmp directly: GCC's inlined
    // vector comparison trips its own -Wstringop-overread here).
    const auto& x = a.binary_value();
    const auto& y = b.binary_value();
    const std::size_t n = std::min(x.size(), y.size());
    const int c = n == 0 ? 0 : std::memcmp(x.data(), y.data(), n);
    if (c != 0) return c < 0 ? -1 : 1;
    return cmp(x.size(), y.size());
  }
  if (a.kind() == ValueKind::kGuid && b.kind() == ValueKind::kGuid) {
    return cmp(a.guid_value().bytes, b.guid_value().bytes);
  }
  if (a.kind() == ValueKind::kGuid && b.kind() == ValueKind::kText) {
    return cmp(LowerAscii(a.ToString()), LowerAscii(b.text_value()));
  }
  return std::nullopt;
}

namespace {

// A text as code points (a byte that is no UTF-8 stands for itself).
std::u32string CodePoints(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp;
    const std::size_t at = i;
    if (!DecodeUtf8(utf8, &i, &cp)) {
      cp = static_cast<unsigned char>(utf8[at]);
      i = at + 1;
    }
    out.push_back(cp);
  }
  return out;
}

char32_t LowerAsciiChar(char32_t c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// One character's key in the General sort order (as `=` compares text),
// worked out once per character.
const std::string& CharKey(char32_t c) {
  thread_local std::unordered_map<char32_t, std::string> keys;
  auto it = keys.find(c);
  if (it != keys.end()) return it->second;
  std::string utf8;
  AppendUtf8(c, &utf8);
  return keys.emplace(c, TextSortKey(utf8)).first->second;
}

// Two characters are one to LIKE when `=` takes them as one: the same
// letter in either case (é and É), the same character.
bool SameChar(char32_t a, char32_t b) {
  if (a == b) return true;
  if (a < 0x80 && b < 0x80) return LowerAsciiChar(a) == LowerAsciiChar(b);
  static const std::string kEmpty = TextSortKey("");
  const std::string& ka = CharKey(a);
  return ka != kEmpty && ka == CharKey(b);
}

// c within [lo-hi]: by the sort order, as Access compares ranges.
bool InRange(char32_t c, char32_t lo, char32_t hi) {
  if (c < 0x80 && lo < 0x80 && hi < 0x80) {
    c = LowerAsciiChar(c);
    return c >= LowerAsciiChar(lo) && c <= LowerAsciiChar(hi);
  }
  const std::string& k = CharKey(c);
  return k >= CharKey(lo) && k <= CharKey(hi);
}

}  // namespace

// Access's LIKE: * any run, ? one character, # one digit, [list] one of,
// [!list] none of; letters match in either case, characters are Unicode
// characters (not bytes).
bool LikeMatch(std::string_view text, std::string_view pattern) {
  const std::u32string t = CodePoints(text), p = CodePoints(pattern);
  std::size_t ti = 0, pi = 0, star_p = std::u32string::npos, star_t = 0;
  auto one = [&](std::size_t& pp, char32_t c) -> bool {
    const char32_t pc = p[pp];
    if (pc == U'?') {
      ++pp;
      return true;
    }
    if (pc == U'#') {
      ++pp;
      return c >= U'0' && c <= U'9';
    }
    if (pc == U'[') {
      const std::size_t close = p.find(U']', pp + 1);
      if (close == std::u32string::npos) {
        ++pp;
        return c == U'[';
      }
      std::u32string set = p.substr(pp + 1, close - pp - 1);
      pp = close + 1;
      const bool negate = !set.empty() && set[0] == U'!';
      if (negate) set.erase(0, 1);
      bool in = false;
      for (std::size_t k = 0; k < set.size(); ++k) {
        if (k + 2 < set.size() && set[k + 1] == U'-') {
          if (InRange(c, set[k], set[k + 2])) in = true;
          k += 2;
        } else if (SameChar(set[k], c)) {
          in = true;
        }
      }
      return in != negate;
    }
    ++pp;
    return SameChar(pc, c);
  };
  while (ti < t.size()) {
    if (pi < p.size() && p[pi] == U'*') {
      star_p = ++pi;
      star_t = ti;
      continue;
    }
    if (pi < p.size()) {
      const std::size_t save = pi;
      if (one(pi, t[ti])) {
        ++ti;
        continue;
      }
      pi = save;
    }
    if (star_p == std::u32string::npos) return false;
    pi = star_p;
    ti = ++star_t;
  }
  while (pi < p.size() && p[pi] == U'*') ++pi;
  return pi == p.size();
}

std::optional<bool> AsTruth(const Value& v) {
  if (v.is_null()) return std::nullopt;
  if (v.kind() == ValueKind::kBool) return v.bool_value();
  if (IsNumeric(v)) return ToDouble(v) != 0;
  if (v.kind() == ValueKind::kText) {
    double d;
    if (ParseNumber(v.text_value(), &d)) return d != 0;
    if (SameName(v.text_value(), "true")) return true;
    if (SameName(v.text_value(), "false")) return false;
  }
  return std::nullopt;
}

ColumnType TypeOfValue(const Value& v) {
  switch (v.kind()) {
    case ValueKind::kBool:
      return ColumnType::kBool;
    case ValueKind::kByte:
      return ColumnType::kByte;
    case ValueKind::kShort:
      return ColumnType::kShort;
    case ValueKind::kLong:
      return ColumnType::kLong;
    case ValueKind::kCurrency:
      return ColumnType::kCurrency;
    case ValueKind::kSingle:
      return ColumnType::kSingle;
    case ValueKind::kDouble:
      return ColumnType::kDouble;
    case ValueKind::kDateTime:
      return ColumnType::kDateTime;
    case ValueKind::kDecimal:
      return ColumnType::kNumeric;
    case ValueKind::kGuid:
      return ColumnType::kGuid;
    case ValueKind::kBinary:
      return ColumnType::kOle;
    default:
      return ColumnType::kMemo;
  }
}

std::string ValueText(const Value& v) {
  switch (v.kind()) {
    case ValueKind::kNull:
      return "";
    case ValueKind::kBool:
      return v.bool_value() ? "True" : "False";
    case ValueKind::kBinary: {
      const auto& b = v.binary_value();
      return std::string(b.begin(), b.end());
    }
    case ValueKind::kCurrency:
    case ValueKind::kDecimal: {
      std::string s = v.ToString();
      if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
      }
      if (s == "-0") s = "0";
      return s;
    }
    case ValueKind::kDateTime: {
      std::string s = v.ToString();
      if (s.size() > 10 && s.substr(10) == " 00:00:00") s.resize(10);
      return s;
    }
    default:
      return v.ToString();
  }
}

std::string DisplayText(const Value& v) {
  if (v.kind() == ValueKind::kDouble) return fn::NumberText(v.double_value());
  if (v.kind() == ValueKind::kSingle) return fn::NumberText(v.single_value(), 7);
  return ValueText(v);
}

std::size_t KeyIndex::Slot(std::string_view key, std::uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  const auto tag = static_cast<std::uint32_t>(hash >> 32);
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const std::uint64_t s = slots_[i];
    if (s == 0) return i;
    const auto n = static_cast<std::uint32_t>(s) - 1;
    if (static_cast<std::uint32_t>(s >> 32) == tag && Key(n) == key) return i;
  }
}

void KeyIndex::Rehash(std::size_t slots) {
  std::vector<std::uint64_t>(slots, 0).swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t n = 0; n < count_; ++n) {
    const std::uint64_t hash = std::hash<std::string_view>()(Key(n));
    std::size_t i = hash & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = SlotValue(hash, n);
  }
}

void KeyIndex::Reserve(std::size_t keys) {
  std::size_t slots = 64;
  while (slots * 3 < 4 * keys) slots *= 2;
  if (slots > slots_.size()) Rehash(slots);
  reserved_ = std::max(reserved_, keys);
}

std::pair<std::size_t, bool> KeyIndex::FindOrAdd(std::string_view key) {
  if ((count_ + 1) * 4 > slots_.size() * 3) Rehash(std::max<std::size_t>(64, slots_.size() * 2));
  const std::uint64_t hash = std::hash<std::string_view>()(key);
  const std::size_t at = Slot(key, hash);
  if (slots_[at] != 0) return {static_cast<std::uint32_t>(slots_[at]) - 1, false};
  const std::size_t n = count_++;
  slots_[at] = SlotValue(hash, n);
  if (n == 0) {
    width_ = key.size();
    // Keys often all have the first one's length: room for as many as were
    // reserved (no copying of the arena as it grows).
    arena_.reserve(reserved_ * key.size());
  }
  if (width_ != kVarying && key.size() != width_) {
    // The first key of another length: from now on every key's start is kept.
    starts_.reserve(n + 2);
    for (std::size_t k = 0; k <= n; ++k) starts_.push_back(k * width_);
    width_ = kVarying;
  }
  arena_.append(key);
  if (width_ == kVarying) starts_.push_back(arena_.size());
  return {n, true};
}

std::optional<std::size_t> KeyIndex::Find(std::string_view key) const {
  if (slots_.empty()) return std::nullopt;
  const std::size_t at = Slot(key, std::hash<std::string_view>()(key));
  if (slots_[at] == 0) return std::nullopt;
  return static_cast<std::uint32_t>(slots_[at]) - 1;
}

void KeyIndex::Clear() {
  std::string().swap(arena_);
  std::vector<std::size_t>().swap(starts_);
  std::vector<std::uint64_t>().swap(slots_);
  count_ = 0;
  width_ = 0;
  reserved_ = 0;
}

}  // namespace velquin::jet::sql
