// Text encoding: see text_codec.h and [TEXT-*] in docs/jet4-format.md.
#include "jet/table/text_codec.h"

#include <cstring>

namespace velquin::jet {

Result<std::u16string> Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    }
    int n;
    char32_t cp;
    if ((c & 0xE0) == 0xC0) {
      n = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3;
      cp = c & 0x07;
    } else {
      return Status::InvalidArgument("invalid UTF-8 at byte " + std::to_string(i));
    }
    if (i + n >= s.size()) {
      return Status::InvalidArgument("truncated UTF-8 at byte " + std::to_string(i));
    }
    for (int k = 1; k <= n; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) {
        return Status::InvalidArgument("invalid UTF-8 at byte " + std::to_string(i));
      }
      cp = (cp << 6) | (cc & 0x3F);
    }
    static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return Status::InvalidArgument("invalid UTF-8 at byte " + std::to_string(i));
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += n + 1;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
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
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::size_t Utf16Length(std::string_view s) {
  std::size_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) n += (c >= 0xF0) ? 2 : 1;
  }
  return n;
}

void EncodeText(std::u16string_view text, bool allow_compression, std::vector<std::uint8_t>* out) {
  bool compress = allow_compression && text.size() >= 3 && text.size() <= 1024;
  if (compress) {
    for (char16_t c : text) {
      if (c == 0 || c > 0xFF) {
        compress = false;
        break;
      }
    }
  }
  if (compress) {
    out->reserve(out->size() + text.size() + 2);
    out->push_back(0xFF);
    out->push_back(0xFE);
    for (char16_t c : text) out->push_back(static_cast<std::uint8_t>(c));
    return;
  }
  out->reserve(out->size() + text.size() * 2);
  for (char16_t c : text) {
    out->push_back(static_cast<std::uint8_t>(c));
    out->push_back(static_cast<std::uint8_t>(c >> 8));
  }
}

Result<std::size_t> EncodeTextUtf8(std::string_view utf8, bool allow_compression,
                                   std::vector<std::uint8_t>* out) {
  bool ascii = true;
  for (char c : utf8) {
    if (static_cast<unsigned char>(c) >= 0x80 || c == 0) {
      ascii = false;
      break;
    }
  }
  if (!ascii) {
    VELQUIN_ASSIGN_OR_RETURN(std::u16string u, Utf8ToUtf16(utf8));
    EncodeText(u, allow_compression, out);
    return u.size();
  }
  std::size_t n = utf8.size();
  std::size_t at = out->size();
  if (allow_compression && n >= 3 && n <= 1024) {
    out->resize(at + 2 + n);
    (*out)[at] = 0xFF;
    (*out)[at + 1] = 0xFE;
    std::memcpy(out->data() + at + 2, utf8.data(), n);
  } else {
    out->resize(at + 2 * n);
    std::uint8_t* p = out->data() + at;
    for (char c : utf8) {
      *p++ = static_cast<std::uint8_t>(c);
      *p++ = 0;
    }
  }
  return n;
}

std::string DecodeText(Bytes b) {
  std::u16string u;
  if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
    bool one_byte = true;
    std::size_t i = 2;
    u.reserve(b.size());
    while (i < b.size()) {
      if (b[i] == 0) {
        one_byte = !one_byte;
        ++i;
      } else if (one_byte) {
        u.push_back(b[i++]);
      } else {
        if (i + 1 >= b.size()) break;  // odd trailing byte: ignored
        u.push_back(static_cast<char16_t>(b[i] | (b[i + 1] << 8)));
        i += 2;
      }
    }
  } else {
    u.reserve(b.size() / 2);
    for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
      u.push_back(static_cast<char16_t>(b[i] | (b[i + 1] << 8)));
    }
  }
  return Utf16ToUtf8(u);
}

}  // namespace velquin::jet
