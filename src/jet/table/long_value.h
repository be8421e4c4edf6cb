// Long values (MEMO, OLE). Rules [LVAL-1]..[LVAL-5] in docs/jet4-format.md.
//
// In the row, a long-value column holds a 12-byte header:
//   0  4  length in the low 30 bits; top byte flags: 0x80 inline, 0x40 one
//         LVAL row, 0x00 chain of LVAL rows
//   4  4  row pointer of the (first) LVAL row (not used when inline)
//   8  4  0
//   12 .. inline data (flag 0x80 only)
// An LVAL row of a chain: 4-byte row pointer of the next row (0 in the last),
// then data. LVAL rows live on data pages whose owner field is "LVAL".
#pragma once

#include <cstdint>
#include <vector>

#include "base/status.h"
#include "jet/format/bytes.h"
#include "jet/format/data_page.h"
#include "jet/format/page_store.h"

namespace velquin::jet {

inline constexpr std::uint8_t kLvInline = 0x80;
inline constexpr std::uint8_t kLvSingle = 0x40;
inline constexpr std::size_t kLvHeaderSize = 12;
inline constexpr std::size_t kLvMaxInline = 64;
inline constexpr std::size_t kLvMaxRow = kMaxRowSize;  // one LVAL row
inline constexpr std::uint32_t kLvMaxLength = 0x3FFFFFFF;

// Reads the data a long-value header refers to. `page` names the data page
// of the row for errors.
Status ReadLongValue(PageStore& store, Bytes header, PageNumber page,
                     std::vector<std::uint8_t>* out);

}  // namespace velquin::jet
