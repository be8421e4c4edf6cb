// Index page encode/decode; the byte layout is in index_page.h.
#include "jet/index/index_page.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace velquin::jet {
namespace {

std::uint32_t Le32(const Page& p, std::size_t off) {
  return std::uint32_t{p[off]} | std::uint32_t{p[off + 1]} << 8 | std::uint32_t{p[off + 2]} << 16 |
         std::uint32_t{p[off + 3]} << 24;
}
void PutLe32(Page& p, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutLe16(Page& p, std::size_t off, std::uint16_t v) {
  p[off] = static_cast<std::uint8_t>(v);
  p[off + 1] = static_cast<std::uint8_t>(v >> 8);
}

Status Bad(PageNumber n, const std::string& what) {
  return Status::Corruption("index page " + std::to_string(n) + ": " + what);
}

// Full on-page bytes of one entry.
void AppendEntryBytes(const IndexEntry& e, bool leaf, PageNumber child,
                      std::vector<std::uint8_t>& out) {
  out.insert(out.end(), e.key.begin(), e.key.end());
  out.push_back(static_cast<std::uint8_t>(e.row.page >> 16));
  out.push_back(static_cast<std::uint8_t>(e.row.page >> 8));
  out.push_back(static_cast<std::uint8_t>(e.row.page));
  out.push_back(e.row.row);
  if (!leaf) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(child >> (8 * i)));
  }
}

// Shared prefix length to write for the page [IDX-34]: none while the
// entries fit whole (as Access and Jet write); otherwise the common prefix of
// the first and last entries, capped so that every later entry keeps at least
// one byte of its own (an entry's end must be a distinct bitmap bit).
std::size_t PrefixLength(const IndexPage& page) {
  const auto& es = page.entries;
  if (es.size() < 2) return 0;
  std::size_t whole = 0;
  for (const auto& e : es) whole += EntryBytes(e, page.leaf);
  if (whole <= kIndexEntryAreaSize) return 0;
  std::vector<std::uint8_t> first, last;
  AppendEntryBytes(es.front(), page.leaf, page.leaf ? 0 : page.children.front(), first);
  AppendEntryBytes(es.back(), page.leaf, page.leaf ? 0 : page.children.back(), last);
  std::size_t n = 0;
  while (n < first.size() && n < last.size() && first[n] == last[n]) ++n;
  for (std::size_t i = 1; i < es.size(); ++i) {
    const std::size_t len = EntryBytes(es[i], page.leaf);
    n = std::min(n, len - 1);
  }
  return std::min<std::size_t>(n, 0xFFFF);
}

}  // namespace

int CompareKeys(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  const std::size_t n = std::min(a.size(), b.size());
  if (n > 0) {
    const int c = std::memcmp(a.data(), b.data(), n);
    if (c != 0) return c < 0 ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int CompareEntries(const IndexEntry& a, const IndexEntry& b) {
  const int c = CompareKeys(a.key, b.key);
  if (c != 0) return c;
  if (a.row.page != b.row.page) return a.row.page < b.row.page ? -1 : 1;
  if (a.row.row != b.row.row) return a.row.row < b.row.row ? -1 : 1;
  return 0;
}

std::size_t EncodedEntryAreaSize(const IndexPage& page) {
  std::size_t total = 0;
  for (const auto& e : page.entries) total += EntryBytes(e, page.leaf);
  const std::size_t prefix = PrefixLength(page);
  if (page.entries.size() > 1) total -= prefix * (page.entries.size() - 1);
  return total;
}

Result<IndexPage> DecodeIndexPage(const Page& p, PageNumber number) {
  IndexPage page;
  if (p[0] == kIndexLeafPageType) {
    page.leaf = true;
  } else if (p[0] == kIndexNodePageType) {
    page.leaf = false;
  } else {
    return Bad(number, "page type " + std::to_string(p[0]) + " is not an index page");
  }
  page.tdef_page = Le32(p, 4);
  page.prev = Le32(p, 12);
  page.next = Le32(p, 16);
  page.tail = Le32(p, 20);
  const std::size_t prefix_len = std::size_t{p[24]} | std::size_t{p[25]} << 8;
  if (page.leaf && page.tail != 0) return Bad(number, "leaf page has a child tail");

  const std::size_t pointer_len = page.leaf ? 4 : 8;
  std::vector<std::uint8_t> prefix;
  std::vector<std::uint8_t> bytes;
  std::size_t start = 0;  // start of the current entry in the entry area
  for (std::size_t i = 0; i < kIndexBitmapSize; ++i) {
    const std::uint8_t bits = p[kIndexBitmapOffset + i];
    if (bits == 0) continue;
    for (int j = 0; j < 8; ++j) {
      if ((bits & (1u << j)) == 0) continue;
      const std::size_t end = i * 8 + static_cast<std::size_t>(j);
      if (end > kIndexEntryAreaSize) {
        return Bad(number, "entry bitmap: entry ends at " + std::to_string(end) +
                               ", past the end of the page");
      }
      if (end <= start) return Bad(number, "entry bitmap: empty entry at " + std::to_string(end));
      bytes.clear();
      if (!page.entries.empty()) bytes = prefix;
      bytes.insert(bytes.end(),
                   p.begin() + static_cast<std::ptrdiff_t>(kIndexEntriesOffset + start),
                   p.begin() + static_cast<std::ptrdiff_t>(kIndexEntriesOffset + end));
      if (page.entries.empty()) {
        if (prefix_len > bytes.size()) {
          return Bad(number, "shared prefix length " + std::to_string(prefix_len) +
                                 " exceeds the first entry (" + std::to_string(bytes.size()) +
                                 " bytes)");
        }
        prefix.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(prefix_len));
      }
      if (bytes.size() < pointer_len) {
        return Bad(number, "entry " + std::to_string(page.entries.size()) + " has " +
                               std::to_string(bytes.size()) + " bytes, less than its pointer");
      }
      IndexEntry e;
      const std::size_t key_len = bytes.size() - pointer_len;
      e.key.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(key_len));
      e.row.page = std::uint32_t{bytes[key_len]} << 16 | std::uint32_t{bytes[key_len + 1]} << 8 |
                   std::uint32_t{bytes[key_len + 2]};
      e.row.row = bytes[key_len + 3];
      if (!page.leaf) {
        const PageNumber child = std::uint32_t{bytes[key_len + 4]} << 24 |
                                 std::uint32_t{bytes[key_len + 5]} << 16 |
                                 std::uint32_t{bytes[key_len + 6]} << 8 | bytes[key_len + 7];
        if (child == 0) {
          return Bad(number, "entry " + std::to_string(page.entries.size()) + " has child page 0");
        }
        page.children.push_back(child);
      }
      if (!page.entries.empty() && CompareEntries(page.entries.back(), e) >= 0) {
        return Bad(number, "entry " + std::to_string(page.entries.size()) +
                               " is not greater than the entry before it");
      }
      page.entries.push_back(std::move(e));
      start = end;
    }
  }
  if (page.entries.empty() && prefix_len != 0) {
    return Bad(number, "shared prefix length set on a page without entries");
  }
  const std::size_t free_space = std::size_t{p[2]} | std::size_t{p[3]} << 8;
  if (free_space != kIndexEntryAreaSize - start) {
    // Access keeps this right; a mismatch means the bitmap or the field is damaged.
    return Bad(number, "free space field " + std::to_string(free_space) + " but entries end at " +
                           std::to_string(start));
  }
  return page;
}

Result<Page> EncodeIndexPage(const IndexPage& page) {
  if (!page.leaf && page.children.size() != page.entries.size()) {
    return Status::InvalidArgument("index node page: entries and children differ in number");
  }
  if (page.leaf && page.tail != 0) {
    return Status::InvalidArgument("index leaf page with a child tail");
  }
  for (std::size_t i = 0; i < page.entries.size(); ++i) {
    if (page.entries[i].row.page > 0xFFFFFF) {
      return Status::InvalidArgument("index entry row page " +
                                     std::to_string(page.entries[i].row.page) +
                                     " does not fit 24 bits");
    }
  }
  const std::size_t prefix = PrefixLength(page);
  Page p{};
  p[0] = page.leaf ? kIndexLeafPageType : kIndexNodePageType;
  p[1] = 0x01;
  PutLe32(p, 4, page.tdef_page);
  PutLe32(p, 12, page.prev);
  PutLe32(p, 16, page.next);
  PutLe32(p, 20, page.leaf ? 0 : page.tail);
  PutLe16(p, 24, static_cast<std::uint16_t>(prefix));
  std::size_t pos = 0;
  for (std::size_t i = 0; i < page.entries.size(); ++i) {
    const IndexEntry& e = page.entries[i];
    const std::size_t whole = EntryBytes(e, page.leaf);
    const std::size_t skip = i == 0 ? 0 : prefix;
    if (pos + whole - skip > kIndexEntryAreaSize) {
      return Status::InvalidArgument("index page entries need more than " +
                                     std::to_string(kIndexEntryAreaSize) + " bytes");
    }
    // Entry bytes straight onto the page, leaving out the shared prefix.
    std::uint8_t* out = p.data() + kIndexEntriesOffset + pos;
    std::size_t k = 0;
    auto put = [&](std::uint8_t b) {
      if (k++ >= skip) *out++ = b;
    };
    for (std::uint8_t b : e.key) put(b);
    put(static_cast<std::uint8_t>(e.row.page >> 16));
    put(static_cast<std::uint8_t>(e.row.page >> 8));
    put(static_cast<std::uint8_t>(e.row.page));
    put(e.row.row);
    if (!page.leaf) {
      const PageNumber child = page.children[i];
      for (int b = 3; b >= 0; --b) put(static_cast<std::uint8_t>(child >> (8 * b)));
    }
    pos += whole - skip;
    p[kIndexBitmapOffset + pos / 8] |= static_cast<std::uint8_t>(1u << (pos % 8));
  }
  PutLe16(p, 2, static_cast<std::uint16_t>(kIndexEntryAreaSize - pos));
  return p;
}

}  // namespace velquin::jet
