// Data pages: the page type that holds table rows, long-value rows and
// usage-map rows. Rules [PAGE-2], [ROW-1]..[ROW-3] in docs/jet4-format.md.
//
//   off   size  field
//   0     1     0x01 (data page)
//   1     1     0x01
//   2     2     free space in bytes
//   4     4     owner: TDEF page of the table, "LVAL" for long values,
//               0 for a page of usage-map rows
//   8     4     0
//   12    2     row count n (at most 255)
//   14    2*n   row offsets; bit 15 deleted, bit 14 overflow pointer,
//               bits 0-12 the row start. Rows are packed downwards from the
//               page end: row 0 ends at 4096, row i ends where row i-1 starts.
// A row whose offset has the overflow bit (and not the deleted bit) holds
// only a row pointer (4 bytes) to where the row really is [ROW-6]; the target
// row is flagged deleted so that scans do not list it twice; a target with
// the overflow flag is one more pointer.
#pragma once

#include <cstdint>
#include <optional>

#include "base/status.h"
#include "jet/format/bytes.h"
#include "jet/format/page_store.h"

namespace velquin::jet {

inline constexpr std::uint8_t kPageTypeData = 0x01;
inline constexpr std::uint8_t kPageTypeTdef = 0x02;
inline constexpr std::uint8_t kPageTypeIndexNode = 0x03;
inline constexpr std::uint8_t kPageTypeIndexLeaf = 0x04;
inline constexpr std::uint8_t kPageTypeUsageMap = 0x05;

inline constexpr std::size_t kDataPageHeader = 14;
inline constexpr std::size_t kMaxRowsPerPage = 255;
inline constexpr std::size_t kMaxRowSize = 4060;
inline constexpr std::uint32_t kLvalOwner = 0x4C41564C;  // "LVAL" read as LE uint32

inline constexpr std::uint16_t kRowDeleted = 0x8000;
inline constexpr std::uint16_t kRowOverflow = 0x4000;
inline constexpr std::uint16_t kRowOffsetMask = 0x1FFF;

// A row pointer: the row number in its low byte, the page above it [ROW-4].
struct RowPointer {
  PageNumber page = 0;
  std::uint8_t row = 0;
  std::uint32_t Encode() const { return (page << 8) | row; }
  static RowPointer Decode(std::uint32_t v) { return {v >> 8, static_cast<std::uint8_t>(v)}; }
  bool operator==(const RowPointer&) const = default;
};

struct RowSlot {
  std::size_t start = 0;
  std::size_t end = 0;
  bool deleted = false;
  bool overflow = false;
  std::size_t size() const { return end - start; }
};

// Views a page buffer as a data page. Does not own the page.
class DataPage {
 public:
  DataPage(Page& page, PageNumber number) : p_(page), number_(number) {}

  // Starts an empty data page owned by `owner`.
  void Init(std::uint32_t owner);

  std::uint8_t type() const { return p_[0]; }
  std::uint32_t owner() const { return Get32(Bytes(p_), 4); }
  std::uint16_t free_space() const { return Get16(Bytes(p_), 2); }
  std::uint16_t row_count() const { return Get16(Bytes(p_), 12); }

  // Checks the page type, row count and every row offset.
  Status Validate() const;

  // Bounds of row `i`; Corruption when they fall outside the page.
  Result<RowSlot> Slot(std::size_t i) const;
  Bytes RowBytes(const RowSlot& s) const { return Bytes(p_).subspan(s.start, s.size()); }
  MutableBytes MutableRowBytes(const RowSlot& s) {
    return MutableBytes(p_).subspan(s.start, s.size());
  }

  // Whether a row of `size` bytes fits (with its 2-byte offset entry).
  bool CanAdd(std::size_t size) const;
  // Appends a row; returns its row number. The caller checks CanAdd first.
  std::uint8_t Add(Bytes row);
  // Marks row `i` deleted (its space is not reclaimed): sets both flag bits,
  // since mdbtools reads 0x4000 as "deleted" where Jet uses 0x8000.
  void MarkDeleted(std::size_t i);
  // Repacks the live rows so that deleted rows take no bytes: their space
  // becomes free space. Row numbers, flags and live rows' bytes stay.
  // False (page unchanged) when the page does not validate.
  bool Compact();
  // Whether some row is not marked deleted.
  bool HasLiveRows() const;
  // Whether some row is marked deleted.
  bool HasDeletedRows() const;
  // Replaces row `i` with `row`, repacking the page; row numbers stay.
  // False (page unchanged) when the rows no longer fit.
  bool Replace(std::size_t i, Bytes row);

 private:
  std::size_t RowsStart() const;  // start of the lowest row (or 4096)
  Page& p_;
  PageNumber number_;
};

// Follows the overflow pointer held by `*row` (the bytes of a slot with the
// overflow flag, at `*where`) to the row it names, at most 8 hops: each must
// point inside the file at a row on a valid data page. On return `*row` is
// the row's bytes (in `buf`) and `*where` its place.
Status FollowOverflow(PageStore& store, Page& buf, Bytes* row, RowPointer* where);

}  // namespace velquin::jet
