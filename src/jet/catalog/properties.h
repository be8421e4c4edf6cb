// Property blobs (MSysObjects.LvProp): Access keeps column and table
// properties such as "Required" and "DefaultValue" here. Rule [CAT-9] in
// docs/jet4-format.md.
//
//   off  size  field
//   0    4     "MR2\0"
//   then chunks: uint32 length (header included), uint16 kind
//     kind 0x80: property names, each uint16 byte length + UTF-16LE text
//     kind 0x00 (table) / 0x01 (column): property block
//       uint32 block header length, uint16 name byte length, UTF-16LE name
//       then properties: uint16 length, uint8 DDL flag, uint8 type code,
//       uint16 index into the name list, uint16 value length, value bytes
//
// Access writes "Required" as BOOL (one byte, 0 or 1) and "DefaultValue" as
// MEMO (type 0x0C) holding UTF-16LE text without the compression marker,
// both with DDL flag 1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/format/bytes.h"

namespace velquin::jet {

// The column properties this engine writes and reads.
struct ColumnProperties {
  std::string column{};
  bool required = false;        // "Required" (BOOL): Yes for NOT NULL
  std::string default_value{};  // "DefaultValue" (MEMO): Access's expression text; empty = none
};

// A blob with an empty table block and one block per column that has a
// property to keep: "Required" = Yes and/or "DefaultValue". Columns with
// neither are left out; the name list holds only the names used. Empty when
// no column has a property.
std::vector<std::uint8_t> EncodeColumnProperties(const std::vector<ColumnProperties>& columns);

// The column blocks of a blob, in stored order, with the properties above
// (other properties are skipped). Corruption when the blob is not a property
// blob or a length runs past its end.
Result<std::vector<ColumnProperties>> ReadColumnProperties(Bytes blob);

}  // namespace velquin::jet
