// Text values: UTF-8 (the engine's API) <-> UTF-16LE (the file), and the
// Jet 4 Unicode compression. Rules [TEXT-1]..[TEXT-3] in docs/jet4-format.md.
//
// Stored text is either plain UTF-16LE or, when the column allows it, the
// compressed form: FF FE, then bytes starting in one-byte mode (each byte is a
// character U+0001..U+00FF); a 00 byte switches between one-byte mode and
// two-byte (UTF-16LE) mode.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "base/unicode.h"
#include "jet/format/bytes.h"

namespace velquin::jet {

// UTF-8 <-> UTF-16 (base/unicode.h).
using velquin::Utf16ToUtf8;
using velquin::Utf8ToUtf16;

// Encodes UTF-16 text for storage, compressed when `allow_compression` and
// every character is in U+0001..U+00FF and the text has 3..1024 characters.
void EncodeText(std::u16string_view text, bool allow_compression, std::vector<std::uint8_t>* out);

// Encodes UTF-8 text straight to its stored form (fast for ASCII); returns
// the length in UTF-16 code units, InvalidArgument for malformed UTF-8.
Result<std::size_t> EncodeTextUtf8(std::string_view utf8, bool allow_compression,
                                   std::vector<std::uint8_t>* out);

// Decodes stored text (either form) to UTF-8.
std::string DecodeText(Bytes stored);

// UTF-16 length of UTF-8 text without converting (for length checks).
std::size_t Utf16Length(std::string_view utf8);

}  // namespace velquin::jet
