// Index B-tree pages: leaf (0x04) and intermediate "node" (0x03) pages.
//
// This file and index_page.cc are the one place that reads and writes them
// (docs/jet4-format.md [IDX-30]..[IDX-38]). Header fields are little-endian;
// entry bytes are big-endian so that entries compare as byte strings.
//
//   | offset | size | field                                                  |
//   |--------|------|--------------------------------------------------------|
//   | 0      | 1    | page type: 0x04 leaf, 0x03 node                [IDX-30] |
//   | 1      | 1    | 0x01                                                   |
//   | 2      | 2    | free space = 4096 - end of the last entry      [IDX-31] |
//   | 4      | 4    | TDEF page of the table that owns the index             |
//   | 8      | 4    | 0 (unknown; written as 0)                               |
//   | 12     | 4    | previous page at the same level, 0 = none      [IDX-35] |
//   | 16     | 4    | next page at the same level, 0 = none          [IDX-35] |
//   | 20     | 4    | node: child tail page (rightmost child); leaf: 0 [IDX-36] |
//   | 24     | 2    | length of the prefix shared by every entry     [IDX-34] |
//   | 26     | 1    | 0 (unknown; Access sometimes writes 1 on nodes)         |
//   | 27     | 453  | entry bitmap: bit k set = an entry ends at 480+k [IDX-32] |
//   | 480    | 3616 | entries, one after the other                            |
//
//   leaf entry: key bytes | data page (3 bytes, BE) | row number (1 byte)   [IDX-33]
//   node entry: the child's last entry (key | page | row) | child page (4 bytes, BE)
//
// With a shared prefix of n bytes, the first entry is stored whole and every
// later entry omits its first n bytes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/status.h"
#include "jet/format/page_store.h"

namespace velquin::jet {

inline constexpr std::uint8_t kIndexNodePageType = 0x03;
inline constexpr std::uint8_t kIndexLeafPageType = 0x04;
inline constexpr std::size_t kIndexBitmapOffset = 27;
inline constexpr std::size_t kIndexBitmapSize = 453;
inline constexpr std::size_t kIndexEntriesOffset = 480;
// Room for entry bytes on one page [IDX-31].
inline constexpr std::size_t kIndexEntryAreaSize = kPageSize - kIndexEntriesOffset;  // 3616
// Longest key the engine writes: keeps room for at least two entries per page
// so that a full page can always be split [IDX-37].
inline constexpr std::size_t kMaxIndexKeySize = kIndexEntryAreaSize / 2 - 16;

// Where a row lives: its data page (24 bits) and row number on that page.
struct RowId {
  PageNumber page = 0;
  std::uint8_t row = 0;
  friend bool operator==(const RowId&, const RowId&) = default;
};

// One index entry: the encoded key and the row it points at.
struct IndexEntry {
  std::vector<std::uint8_t> key;
  RowId row;
  friend bool operator==(const IndexEntry&, const IndexEntry&) = default;
};

// Entry order [IDX-33]: key bytes as unsigned bytes (a key that is a prefix of
// another sorts first), then data page, then row number.
int CompareEntries(const IndexEntry& a, const IndexEntry& b);
int CompareKeys(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);
inline bool EntryLess(const IndexEntry& a, const IndexEntry& b) { return CompareEntries(a, b) < 0; }

// A decoded index page. For node pages `children[i]` is the child whose last
// entry is `entries[i]`; the rightmost child has no entry and is `tail`
// [IDX-36].
struct IndexPage {
  bool leaf = true;
  PageNumber tdef_page = 0;
  PageNumber prev = 0;
  PageNumber next = 0;
  PageNumber tail = 0;
  std::vector<IndexEntry> entries;
  std::vector<PageNumber> children;
};

// Bytes one entry takes on a page without prefix compression.
inline std::size_t EntryBytes(const IndexEntry& e, bool leaf) {
  return e.key.size() + (leaf ? 4 : 8);
}

// Bytes the page's entries take when written by EncodeIndexPage (with the
// shared prefix removed from all but the first entry).
std::size_t EncodedEntryAreaSize(const IndexPage& page);
inline bool FitsOnPage(const IndexPage& page) {
  return EncodedEntryAreaSize(page) <= kIndexEntryAreaSize;
}

// Decodes page `number`. Corruption (naming the page and field) for anything
// that does not follow the layout: wrong type, bitmap past the page, entries
// shorter than their pointers, entries out of order, a zero child page.
Result<IndexPage> DecodeIndexPage(const Page& page, PageNumber number);

// Encodes a page, writing the shared prefix of its entries when they do not
// fit whole. The entries must be in order: IndexTree inserts in place into
// decoded (checked) pages, checks changed node pages, and BulkLoad checks its
// input; checking every page here would double the cost of a write.
// InvalidArgument when the entries do not fit or a row page exceeds 24 bits.
Result<Page> EncodeIndexPage(const IndexPage& page);

}  // namespace velquin::jet
