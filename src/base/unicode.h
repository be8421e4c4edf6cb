// Text encodings shared by every module (standard library only): strict
// UTF-8 decoding, UTF-8 <-> UTF-16, and Windows-1252 (the ANSI code page of
// files written by Windows programs) <-> UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/status.h"

namespace velquin {

// Decodes the UTF-8 sequence at s[*pos] into *cp and moves *pos past it.
// False, with nothing moved, for a malformed, overlong or truncated sequence,
// a surrogate or a value above U+10FFFF.
inline bool DecodeUtf8(std::string_view s, std::size_t* pos, char32_t* cp) {
  const auto b0 = static_cast<unsigned char>(s[*pos]);
  std::size_t extra = 0;
  char32_t value = 0;
  if (b0 < 0x80) {
    value = b0;
  } else if ((b0 & 0xE0) == 0xC0) {
    extra = 1, value = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, value = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, value = b0 & 0x07;
  } else {
    return false;
  }
  if (*pos + extra >= s.size()) return false;
  for (std::size_t i = 1; i <= extra; ++i) {
    const auto b = static_cast<unsigned char>(s[*pos + i]);
    if ((b & 0xC0) != 0x80) return false;
    value = (value << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (value < kMin[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return false;
  }
  *pos += extra + 1;
  *cp = value;
  return true;
}

inline bool IsValidUtf8(std::string_view s) {
  char32_t cp;
  for (std::size_t i = 0; i < s.size();) {
    if (!DecodeUtf8(s, &i, &cp)) return false;
  }
  return true;
}

inline void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// InvalidArgument for malformed UTF-8, naming the byte. Characters above
// U+FFFF become surrogate pairs.
inline Result<std::u16string> Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t at = i;
    char32_t cp;
    if (!DecodeUtf8(s, &i, &cp)) {
      return Status::InvalidArgument("invalid UTF-8 at byte " + std::to_string(at));
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

// Unpaired surrogates become U+FFFD.
inline std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(cp, &out);
  }
  return out;
}

// Windows-1252: bytes 0x80..0x9F map to these characters; the five the code
// page leaves undefined map to the control character of the same number, as
// Windows converts them, so every byte survives a round trip. Every other
// byte is the character of the same number.
inline constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

inline std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    AppendUtf8(b >= 0x80 && b < 0xA0 ? char32_t{kWindows1252High[b - 0x80]} : char32_t{b}, &out);
  }
  return out;
}

// False when the text is not valid UTF-8 or holds a character Windows-1252
// cannot store.
inline bool Utf8ToWindows1252(std::string_view s, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp;
    if (!DecodeUtf8(s, &i, &cp)) return false;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out->push_back(static_cast<char>(cp));
      continue;
    }
    std::size_t k = 0;
    while (k < 32 && kWindows1252High[k] != cp) ++k;
    if (k == 32) return false;
    out->push_back(static_cast<char>(0x80 + k));
  }
  return true;
}

}  // namespace velquin
