// Page 0, the database definition page. Rules [HDR-1]..[HDR-8] in
// docs/jet4-format.md.
//
//   off    size  field
//   0x000  4     00 01 00 00                                   [HDR-1]
//   0x004  16    "Standard Jet DB\0"                            [HDR-1]
//   0x014  1     engine version, 1 = Jet 4                      [HDR-2]
//   0x018  128   obfuscated block (XOR with a fixed keystream)  [HDR-3]
//     0x018 36   fixed constant bytes (meaning unknown)         [HDR-4]
//     0x03C 2    code page (1252)                               [HDR-4]
//     0x03E 4    database encryption key, 0 = none              [HDR-5]
//     0x042 40   password, UCS-2, XOR password mask             [HDR-6]
//     0x06A 4    constant (meaning unknown; Jet writes 1C 26 00 00)
//     0x06E 2    sort order LCID (1033 General)                 [HDR-4]
//     0x071 1    sort order version (0)                         [HDR-4]
//     0x072 8    creation date, Jet date double                 [HDR-6]
//   0x098  8     54 06 00 00 "4.0\0" (constant)                 [HDR-7]
//   0xE00  512   01 01, then 00 01 repeated (constant)          [HDR-7]
#pragma once

#include <cstdint>
#include <string>

#include "base/status.h"
#include "jet/format/page_store.h"

namespace velquin::jet {

struct HeaderInfo {
  std::uint8_t version = 1;
  std::uint16_t code_page = 1252;
  std::uint16_t sort_order = 1033;
  std::uint8_t sort_version = 0;
  double creation_date = 0;   // Jet date (days since 1899-12-30)
  std::uint32_t db_key = 0;   // non-zero: pages are encrypted (unsupported)
  std::u16string password{};  // empty when the database has none
};

// Builds page 0 for a new database.
Page EncodeHeaderPage(const HeaderInfo& info);

// Reads page 0; Corruption for a non-Jet or unsupported file.
Result<HeaderInfo> DecodeHeaderPage(const Page& page);

// The 128-byte keystream XORed over the block at 0x18 [HDR-3].
const std::uint8_t* HeaderMask();

}  // namespace velquin::jet
