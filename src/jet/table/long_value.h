// Long values (MEMO, OLE): the one place that reads and writes their header
// and their LVAL rows. Rules [LVAL-1]..[LVAL-5] in docs/jet4-format.md.
//
// In the row, a long-value column holds a 12-byte header:
//   off  size  field
//   0    4     length in the low 30 bits; top byte flags: 0x80 inline,
//              0x40 one LVAL row, 0x00 chain of LVAL rows
//   4    4     row pointer of the (first) LVAL row (0 when inline)
//   8    4     0
//   12   n     inline data (flag 0x80 only)
// An LVAL row of flag 0x40 is the data itself. An LVAL row of a chain:
//   0    4     row pointer of the next row (0 in the last)
//   4    n     data, up to 4056 bytes
// LVAL rows live on data pages whose owner field is "LVAL".
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/status.h"
#include "jet/format/bytes.h"
#include "jet/format/data_page.h"
#include "jet/format/page_store.h"

namespace velquin::jet {

inline constexpr std::size_t kLvHeaderSize = 12;
inline constexpr std::size_t kLvMaxInline = 64;
inline constexpr std::size_t kLvMaxRow = kMaxRowSize;        // one LVAL row
inline constexpr std::size_t kLvChainChunk = kLvMaxRow - 4;  // data per chain row
inline constexpr std::uint32_t kLvMaxLength = 0x3FFFFFFF;

enum class LongValueKind : std::uint8_t { kInline = 0x80, kSingle = 0x40, kChain = 0x00 };

struct LongValueHeader {
  LongValueKind kind = LongValueKind::kInline;
  std::uint32_t length = 0;
  RowPointer first{};   // kSingle, kChain
  Bytes inline_data{};  // kInline: `length` bytes, inside the row
};

// How data of `size` bytes is kept: inline only when allowed and small
// enough, else one LVAL row or a chain.
LongValueKind LongValueKindFor(std::size_t size, bool allow_inline);

// Decodes and checks a header (and inline data); `page` names the row's page.
Result<LongValueHeader> DecodeLongValueHeader(Bytes header, PageNumber page);
// Appends the header (and, for kInline, `inline_data`) to `out`. The row
// pointer of an LVAL row goes in with SetLongValuePointer once it is known.
void EncodeLongValueHeader(LongValueKind kind, std::uint32_t length, Bytes inline_data,
                           std::vector<std::uint8_t>* out);
void SetLongValuePointer(MutableBytes header, RowPointer first);
// A chain row: the next row's pointer (none for the last) and its data.
void EncodeChainRow(RowPointer next, Bytes data, std::vector<std::uint8_t>* row);

// Visits the LVAL rows of a long value in order with their data part (a
// single row's whole data, a chain row's bytes after the pointer; the last
// row's data cut to the length). Checks [LVAL-5]: the rows are inside the
// file on data pages, lengths fit, chains deliver the whole length and never
// loop. Inline values visit nothing.
using LongValueVisitor = std::function<Status(RowPointer, Bytes)>;
Status VisitLongValueRows(PageStore& store, const LongValueHeader& header, PageNumber page,
                          const LongValueVisitor& visit);

// Reads the data a long-value header refers to.
Status ReadLongValue(PageStore& store, Bytes header, PageNumber page,
                     std::vector<std::uint8_t>* out);

}  // namespace velquin::jet
