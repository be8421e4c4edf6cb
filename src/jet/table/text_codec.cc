// Text encoding: see text_codec.h and [TEXT-*] in docs/jet4-format.md.
#include "jet/table/text_codec.h"

#include <cstring>

namespace velquin::jet {

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
