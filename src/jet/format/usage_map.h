// Usage maps: sets of page numbers stored as a row on a data page.
// Rules [UMAP-1]..[UMAP-5] in docs/jet4-format.md.
//
// Inline map row (type 0), 69 bytes when written by us:
//   off  size  field
//   0    1     0x00
//   1    4     first page covered
//   5    n     bitmap, bit i (LSB first) = page start + i
// Reference map row (type 1):
//   0    1     0x01
//   1    4*k   page numbers of type-0x05 bitmap pages; pointer j covers
//              pages j*32736 .. j*32736+32735. A slot of 0 or with the top
//              bit set names no page: Access leaves unused slots 0, and its
//              global maps of this kind (25 slots, 101-byte row) hold
//              0xFFFFFF80 in the last one. Unused slots keep their bytes.
// Type-0x05 bitmap page:
//   0    4     05 01 00 00
//   4    4092  bitmap, bit i = page j*32736 + i
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/status.h"
#include "jet/format/bytes.h"
#include "jet/format/data_page.h"
#include "jet/format/page_store.h"

namespace velquin::jet {

inline constexpr std::size_t kUsageMapRowSize = 69;
inline constexpr std::uint32_t kPagesPerMapPage = (kPageSize - 4) * 8;  // 32736

using PageAllocator = std::function<Result<PageNumber>()>;

class UsageMap {
 public:
  UsageMap() = default;

  // A new, empty inline map starting at page `start`.
  static UsageMap NewInline(PageNumber start = 0);
  // A new, empty reference map (no bitmap pages yet).
  static UsageMap NewReference();

  // Decodes a map row that lives at `where`; reads reference bitmap pages.
  static Result<UsageMap> Decode(PageStore& store, RowPointer where, Bytes row);

  bool Contains(PageNumber page) const;
  // Every page whose bit is set, ascending. Bounded by `limit` (page count).
  std::vector<PageNumber> Pages(PageNumber limit) const;
  // Highest set page below `limit`, or 0 when none.
  PageNumber LastPage(PageNumber limit) const;

  // Sets or clears the bit of `page`. An inline map that cannot cover the page
  // becomes a reference map; new bitmap pages come from `alloc`.
  Status Set(PageNumber page, bool on, const PageAllocator& alloc, bool fill_new_with_ones = false);

  // Encodes the row (kUsageMapRowSize bytes, or the size it was read with) and
  // writes changed bitmap pages to `store`.
  Result<std::vector<std::uint8_t>> Save(PageStore& store);

  bool is_reference() const { return reference_; }
  // Inline maps: the first page past what the bitmap describes.
  std::uint64_t InlineEnd() const { return reference_ ? 0 : start_ + inline_bits_.size() * 8ull; }
  bool dirty() const { return dirty_; }
  std::size_t row_size() const { return row_size_; }

  // For a free-page map (the global map): new bitmap pages leave the bits of
  // pages below `floor` clear (in use) and set the rest. A reference map read
  // from a file describes none of the pages of a slot without a bitmap page as
  // free, and those pages stay in use when the slot gets one.
  void set_fill_floor(PageNumber floor) { fill_floor_ = floor; }

  // Pages of this map's own bitmap pages (reference maps), for release.
  std::vector<PageNumber> BitmapPages() const;

 private:
  struct MapPage {
    PageNumber number = 0;
    std::uint32_t unused_value = 0;  // what an unused slot held, written back
    Page bits{};
    bool dirty = false;
  };
  Status ToReference(const PageAllocator& alloc, bool fill_new_with_ones);

  bool reference_ = false;
  std::size_t row_size_ = kUsageMapRowSize;
  PageNumber start_ = 0;
  std::vector<std::uint8_t> inline_bits_;  // inline maps
  std::vector<MapPage> pages_;             // reference maps, one per pointer slot
  bool dirty_ = false;
  PageNumber fill_floor_ = 0;
};

}  // namespace velquin::jet

namespace velquin::jet {

// Reads the usage map stored as the row at `where`.
Result<UsageMap> LoadUsageMap(PageStore& store, RowPointer where);
// Writes `map` back into its row at `where` (and its bitmap pages).
Status StoreUsageMap(PageStore& store, RowPointer where, UsageMap& map);

}  // namespace velquin::jet
