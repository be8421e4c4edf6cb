// Text index keys in Access's "General" sort order (legacy, sort order 1033
// version 0: the only text order of Jet 4 .mdb files).
//
// Byte layout of one encoded text value (after the column's flag byte), see
// docs/jet4-format.md [IDX-20]..[IDX-27]:
//
//   | part              | bytes                                               |
//   |-------------------|-----------------------------------------------------|
//   | inline codes      | 1..4 per character that has inline codes            |
//   | end of text       | 01                                                  |
//   | extra codes       | one per inline character, 02 as placeholder,        |
//   |                   | trailing 00..02 trimmed; omitted when empty         |
//   | if crazy/unprint. | 01 01                                               |
//   |  crazy codes      | 2 bits each, 3 per byte under 0x80, then            |
//   |                   | FF 02 80 FF 80 (+ FF when unprintables follow)      |
//   |  unprintables     | 01, then per character: BE16 0x8000|(7+4*pos), 06,  |
//   |                   | its code bytes                                      |
//   | end               | 00                                                  |
//
// Descending: everything from the first inline byte up to and including one
// extra 00 is inverted, then a final 00 follows [IDX-26].
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace velquin::jet {

// Characters of a text value that take part in its index key: Access keys
// only the first 255 UTF-16 code units [IDX-21].
inline constexpr std::size_t kMaxIndexedTextChars = 255;

// Appends the key bytes of a non-null text value (everything after the
// column's flag byte) to `out`. Case-insensitive, trailing spaces ignored,
// accents significant, as Access does.
void AppendGeneralTextKey(std::u16string_view text, bool ascending, std::vector<std::uint8_t>& out);

// The codes the General sort order gives one UTF-16 code unit (for tests and
// diagnostics). kind: 'X' ignored, 'S' simple, 'I' international, 'U'
// unprintable, 'P' modifier of the previous extra code, 'Z' international
// with a "crazy" flag, 'Q' surrogate (computed).
struct GeneralSortCode {
  char kind = 'X';
  std::vector<std::uint8_t> inline_bytes;
  std::vector<std::uint8_t> extra_bytes;
  std::vector<std::uint8_t> unprintable_bytes;
  std::uint8_t extra_modifier = 0;
  std::uint8_t crazy_flag = 0;
};
GeneralSortCode LookupGeneralSortCode(char16_t c);

}  // namespace velquin::jet
