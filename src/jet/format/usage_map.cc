// Usage map rows and bitmap pages: see usage_map.h and [UMAP-*] in
// docs/jet4-format.md.
#include "jet/format/usage_map.h"

#include <algorithm>

namespace velquin::jet {
namespace {

bool GetBit(const std::uint8_t* bits, std::size_t i) { return (bits[i / 8] >> (i % 8)) & 1; }
void SetBit(std::uint8_t* bits, std::size_t i, bool on) {
  if (on) {
    bits[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
  } else {
    bits[i / 8] &= static_cast<std::uint8_t>(~(1u << (i % 8)));
  }
}

}  // namespace

UsageMap UsageMap::NewInline(PageNumber start) {
  UsageMap m;
  m.start_ = start;
  m.inline_bits_.assign(kUsageMapRowSize - 5, 0);
  m.dirty_ = true;
  return m;
}

UsageMap UsageMap::NewReference() {
  UsageMap m;
  m.reference_ = true;
  m.pages_.resize((kUsageMapRowSize - 1) / 4);
  m.dirty_ = true;
  return m;
}

Result<UsageMap> UsageMap::Decode(PageStore& store, RowPointer where, Bytes row) {
  UsageMap m;
  m.row_size_ = row.size();
  if (row.empty()) return PageCorruption(where.page, "usage map", "empty map row");
  if (row[0] == 0) {
    if (row.size() < 5) return PageCorruption(where.page, "usage map", "inline map row too short");
    m.start_ = Get32(row, 1);
    m.inline_bits_.assign(row.begin() + 5, row.end());
    return m;
  }
  if (row[0] != 1) {
    return PageCorruption(
        where.page, "usage map type",
        "unknown map type " + std::to_string(row[0]) + " in row " + std::to_string(where.row));
  }
  m.reference_ = true;
  std::size_t slots = (row.size() - 1) / 4;
  m.pages_.resize(slots);
  for (std::size_t k = 0; k < slots; ++k) {
    PageNumber pn = Get32(row, 1 + 4 * k);
    if (pn == 0 || pn >= 0x80000000u) {  // [UMAP-3] an unused slot, not a page
      m.pages_[k].unused_value = pn;
      continue;
    }
    if (pn >= store.PageCount()) {
      return PageCorruption(where.page, "usage map page",
                            "bitmap page " + std::to_string(pn) + " past the end of the file");
    }
    m.pages_[k].number = pn;
    VELQUIN_RETURN_IF_ERROR(store.ReadPage(pn, m.pages_[k].bits));
    if (m.pages_[k].bits[0] != kPageTypeUsageMap) {
      return PageCorruption(pn, "page type", "expected a usage map page (5)");
    }
  }
  return m;
}

bool UsageMap::Contains(PageNumber page) const {
  if (!reference_) {
    if (page < start_) return false;
    std::size_t i = page - start_;
    if (i >= inline_bits_.size() * 8) return false;
    return GetBit(inline_bits_.data(), i);
  }
  std::size_t slot = page / kPagesPerMapPage;
  if (slot >= pages_.size() || pages_[slot].number == 0) return false;
  return GetBit(pages_[slot].bits.data() + 4, page % kPagesPerMapPage);
}

std::vector<PageNumber> UsageMap::Pages(PageNumber limit) const {
  std::vector<PageNumber> out;
  if (!reference_) {
    for (std::size_t byte = 0; byte < inline_bits_.size(); ++byte) {
      if (inline_bits_[byte] == 0) continue;
      for (int bit = 0; bit < 8; ++bit) {
        if (!((inline_bits_[byte] >> bit) & 1)) continue;
        std::uint64_t pn = static_cast<std::uint64_t>(start_) + byte * 8 + bit;
        if (pn < limit) out.push_back(static_cast<PageNumber>(pn));
      }
    }
    return out;
  }
  for (std::size_t slot = 0; slot < pages_.size(); ++slot) {
    if (pages_[slot].number == 0) continue;
    const std::uint8_t* bits = pages_[slot].bits.data() + 4;
    for (std::size_t byte = 0; byte < kPageSize - 4; ++byte) {
      if (bits[byte] == 0) continue;
      for (int bit = 0; bit < 8; ++bit) {
        if (!((bits[byte] >> bit) & 1)) continue;
        std::uint64_t pn = slot * static_cast<std::uint64_t>(kPagesPerMapPage) + byte * 8 + bit;
        if (pn < limit) out.push_back(static_cast<PageNumber>(pn));
      }
    }
  }
  return out;
}

PageNumber UsageMap::LastPage(PageNumber limit) const {
  auto all = Pages(limit);
  return all.empty() ? 0 : all.back();
}

Status UsageMap::ToReference(const PageAllocator& alloc, bool fill_new_with_ones) {
  std::vector<std::uint8_t> old_bits = std::move(inline_bits_);
  PageNumber old_start = start_;
  reference_ = true;
  pages_.assign((row_size_ - 1) / 4, MapPage{});
  inline_bits_.clear();
  start_ = 0;
  dirty_ = true;
  // Every page the inline map described keeps its bit. New bitmap pages start
  // all-clear, or all-set for a free-page map (the global map), where the
  // pages the inline map described as in use must then be cleared.
  for (std::size_t i = 0; i < old_bits.size() * 8; ++i) {
    bool bit = GetBit(old_bits.data(), i);
    if (bit || fill_new_with_ones) {
      VELQUIN_RETURN_IF_ERROR(
          Set(old_start + static_cast<PageNumber>(i), bit, alloc, fill_new_with_ones));
    }
  }
  return Status::Ok();
}

Status UsageMap::Set(PageNumber page, bool on, const PageAllocator& alloc,
                     bool fill_new_with_ones) {
  if (!reference_) {
    if (page >= start_ && page - start_ < inline_bits_.size() * 8) {
      if (GetBit(inline_bits_.data(), page - start_) != on) {
        SetBit(inline_bits_.data(), page - start_, on);
        dirty_ = true;
      }
      return Status::Ok();
    }
    if (!on && !fill_new_with_ones) return Status::Ok();  // already clear
    VELQUIN_RETURN_IF_ERROR(ToReference(alloc, fill_new_with_ones));
  }
  std::size_t slot = page / kPagesPerMapPage;
  if (slot >= pages_.size()) {
    return Status::NotSupported("page " + std::to_string(page) +
                                " is beyond what a usage map can describe");
  }
  MapPage& mp = pages_[slot];
  if (mp.number == 0) {
    if (!on && !fill_new_with_ones) return Status::Ok();
    VELQUIN_ASSIGN_OR_RETURN(PageNumber pn, alloc());
    mp.number = pn;
    mp.bits.fill(fill_new_with_ones ? 0xFF : 0);
    mp.bits[0] = kPageTypeUsageMap;
    mp.bits[1] = 0x01;
    mp.bits[2] = 0;
    mp.bits[3] = 0;
    mp.dirty = true;
    dirty_ = true;
    if (fill_new_with_ones) {
      const std::uint64_t first = slot * static_cast<std::uint64_t>(kPagesPerMapPage);
      for (std::uint64_t q = first; q < fill_floor_ && q < first + kPagesPerMapPage; ++q) {
        SetBit(mp.bits.data() + 4, static_cast<std::size_t>(q - first), false);
      }
    }
    if (fill_new_with_ones && pn / kPagesPerMapPage == slot) {
      SetBit(mp.bits.data() + 4, pn % kPagesPerMapPage, false);  // the bitmap page is in use
    }
  }
  if (GetBit(mp.bits.data() + 4, page % kPagesPerMapPage) != on) {
    SetBit(mp.bits.data() + 4, page % kPagesPerMapPage, on);
    mp.dirty = true;
    dirty_ = true;
  }
  return Status::Ok();
}

Result<std::vector<std::uint8_t>> UsageMap::Save(PageStore& store) {
  std::vector<std::uint8_t> row(row_size_, 0);
  if (!reference_) {
    row[0] = 0;
    Put32(MutableBytes(row), 1, start_);
    std::copy_n(inline_bits_.begin(), std::min(inline_bits_.size(), row_size_ - 5),
                row.begin() + 5);
  } else {
    row[0] = 1;
    for (std::size_t k = 0; k < pages_.size() && 1 + 4 * k + 4 <= row_size_; ++k) {
      Put32(MutableBytes(row), 1 + 4 * k,
            pages_[k].number != 0 ? pages_[k].number : pages_[k].unused_value);
      if (pages_[k].number != 0 && pages_[k].dirty) {
        VELQUIN_RETURN_IF_ERROR(store.WritePage(pages_[k].number, pages_[k].bits));
        pages_[k].dirty = false;
      }
    }
  }
  dirty_ = false;
  return row;
}

std::vector<PageNumber> UsageMap::BitmapPages() const {
  std::vector<PageNumber> out;
  for (const auto& p : pages_) {
    if (p.number != 0) out.push_back(p.number);
  }
  return out;
}

}  // namespace velquin::jet

namespace velquin::jet {

Result<UsageMap> LoadUsageMap(PageStore& store, RowPointer where) {
  if (where.page == 0 || where.page >= store.PageCount()) {
    return PageCorruption(where.page, "usage map pointer",
                          "map page " + std::to_string(where.page) + " outside the file");
  }
  Page p;
  VELQUIN_RETURN_IF_ERROR(store.ReadPage(where.page, p));
  DataPage dp(p, where.page);
  if (dp.type() != kPageTypeData) {
    return PageCorruption(where.page, "page type", "usage map row is not on a data page");
  }
  VELQUIN_ASSIGN_OR_RETURN(RowSlot s, dp.Slot(where.row));
  return UsageMap::Decode(store, where, dp.RowBytes(s));
}

Status StoreUsageMap(PageStore& store, RowPointer where, UsageMap& map) {
  Page p;
  VELQUIN_RETURN_IF_ERROR(store.ReadPage(where.page, p));
  DataPage dp(p, where.page);
  VELQUIN_ASSIGN_OR_RETURN(RowSlot s, dp.Slot(where.row));
  VELQUIN_ASSIGN_OR_RETURN(auto row, map.Save(store));
  if (row.size() != s.size()) {
    return PageCorruption(where.page, "usage map", "row size differs from the stored row");
  }
  std::copy(row.begin(), row.end(), p.begin() + s.start);
  return store.WritePage(where.page, p);
}

}  // namespace velquin::jet
