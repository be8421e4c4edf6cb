// Property blobs (MSysObjects.LvProp): Access keeps column and table
// properties such as "Required" here. Rule [CAT-9] in docs/jet4-format.md.
//
//   off  size  field
//   0    4     "MR2\0"
//   then chunks: uint32 length (header included), uint16 kind
//     kind 0x80: property names, each uint16 byte length + UTF-16LE text
//     kind 0x00 (table) / 0x01 (column): property block
//       uint32 block header length, uint16 name byte length, UTF-16LE name
//       then properties: uint16 length, uint8 DDL flag, uint8 type code,
//       uint16 index into the name list, uint16 value length, value bytes
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/format/bytes.h"

namespace velquin::jet {

// A blob with an empty table block and "Required" = Yes for each column named.
std::vector<std::uint8_t> EncodeRequiredProperties(const std::vector<std::string>& columns);

// Names of the columns whose "Required" property is Yes. Corruption when the
// blob is not a property blob or a length runs past its end.
Result<std::vector<std::string>> RequiredColumns(Bytes blob);

}  // namespace velquin::jet
