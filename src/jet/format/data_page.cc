// Data page layout: see data_page.h and [PAGE-2], [ROW-1] in docs/jet4-format.md.
#include "jet/format/data_page.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace velquin::jet {

void DataPage::Init(std::uint32_t owner) {
  p_.fill(0);
  p_[0] = kPageTypeData;
  p_[1] = 0x01;
  MutableBytes b(p_);
  Put16(b, 2, static_cast<std::uint16_t>(kPageSize - kDataPageHeader));
  Put32(b, 4, owner);
  Put16(b, 12, 0);
}

Status DataPage::Validate() const {
  if (p_[0] != kPageTypeData) {
    return PageCorruption(number_, "page type",
                          "expected a data page (1), found " + std::to_string(p_[0]));
  }
  std::size_t n = row_count();
  if (n > kMaxRowsPerPage || kDataPageHeader + 2 * n > kPageSize) {
    return PageCorruption(number_, "row count", std::to_string(n) + " rows cannot fit a page");
  }
  for (std::size_t i = 0; i < n; ++i) {
    auto s = Slot(i);
    if (!s.ok()) return s.status();
  }
  return Status::Ok();
}

Result<RowSlot> DataPage::Slot(std::size_t i) const {
  std::size_t n = row_count();
  if (i >= n || kDataPageHeader + 2 * n > kPageSize) {
    return PageCorruption(number_, "row number",
                          "row " + std::to_string(i) + " of " + std::to_string(n) + " rows");
  }
  Bytes b(p_);
  std::uint16_t raw = Get16(b, kDataPageHeader + 2 * i);
  RowSlot s;
  s.start = raw & kRowOffsetMask;
  s.deleted = (raw & kRowDeleted) != 0;
  s.overflow = (raw & kRowOverflow) != 0;
  s.end = kPageSize;
  // A row ends where the closest earlier live-or-deleted row starts.
  if (i > 0) s.end = Get16(b, kDataPageHeader + 2 * (i - 1)) & kRowOffsetMask;
  if (s.start < kDataPageHeader + 2 * n || s.start > s.end || s.end > kPageSize) {
    if (s.deleted) {
      s.start = s.end = 0;  // deleted rows may carry stale offsets; never read them
      return s;
    }
    return PageCorruption(number_, "row offset",
                          "row " + std::to_string(i) + " spans " + std::to_string(s.start) + ".." +
                              std::to_string(s.end) + " outside the page");
  }
  return s;
}

std::size_t DataPage::RowsStart() const {
  std::size_t n = row_count();
  if (n == 0) return kPageSize;
  return Get16(Bytes(p_), kDataPageHeader + 2 * (n - 1)) & kRowOffsetMask;
}

bool DataPage::CanAdd(std::size_t size) const {
  std::size_t n = row_count();
  if (n >= kMaxRowsPerPage) return false;
  std::size_t rows_start = RowsStart();
  std::size_t table_end = kDataPageHeader + 2 * (n + 1);
  return rows_start >= table_end && rows_start - table_end >= size;
}

std::uint8_t DataPage::Add(Bytes row) {
  std::size_t n = row_count();
  std::size_t start = RowsStart() - row.size();
  if (!row.empty()) std::memcpy(p_.data() + start, row.data(), row.size());
  MutableBytes b(p_);
  Put16(b, kDataPageHeader + 2 * n, static_cast<std::uint16_t>(start));
  Put16(b, 12, static_cast<std::uint16_t>(n + 1));
  std::size_t used_end = kDataPageHeader + 2 * (n + 1);
  Put16(b, 2, static_cast<std::uint16_t>(start - used_end));
  return static_cast<std::uint8_t>(n);
}

void DataPage::MarkDeleted(std::size_t i) {
  MutableBytes b(p_);
  std::uint16_t raw = Get16(Bytes(p_), kDataPageHeader + 2 * i);
  // Both flag bits: readers disagree on which one means "deleted" [ROW-2].
  Put16(b, kDataPageHeader + 2 * i, raw | kRowDeleted | kRowOverflow);
}

bool DataPage::Replace(std::size_t i, Bytes row) {
  std::size_t n = row_count();
  if (i >= n) return false;
  std::vector<std::vector<std::uint8_t>> rows(n);
  std::vector<std::uint16_t> flags(n);
  for (std::size_t k = 0; k < n; ++k) {
    auto s = Slot(k);
    if (!s.ok()) return false;
    flags[k] = static_cast<std::uint16_t>(Get16(Bytes(p_), kDataPageHeader + 2 * k) &
                                          (kRowDeleted | kRowOverflow));
    if (k == i) {
      rows[k].assign(row.begin(), row.end());
      flags[k] = 0;
    } else if (!s->deleted) {
      Bytes b = RowBytes(*s);
      rows[k].assign(b.begin(), b.end());
    }
  }
  std::size_t total = kDataPageHeader + 2 * n;
  for (const auto& r : rows) total += r.size();
  if (total > kPageSize) return false;
  Page copy = p_;
  std::size_t end = kPageSize;
  MutableBytes b(copy);
  for (std::size_t k = 0; k < n; ++k) {
    std::size_t start = end - rows[k].size();
    if (!rows[k].empty()) std::memcpy(copy.data() + start, rows[k].data(), rows[k].size());
    Put16(b, kDataPageHeader + 2 * k, static_cast<std::uint16_t>(start | flags[k]));
    end = start;
  }
  std::fill(copy.begin() + kDataPageHeader + 2 * n, copy.begin() + end, 0);
  Put16(b, 2, static_cast<std::uint16_t>(end - (kDataPageHeader + 2 * n)));
  p_ = copy;
  return true;
}

bool DataPage::Compact() {
  if (!Validate().ok()) return false;
  std::size_t n = row_count();
  Page copy{};
  std::copy(p_.begin(), p_.begin() + kDataPageHeader + 2 * n, copy.begin());
  MutableBytes b(copy);
  std::size_t end = kPageSize;
  for (std::size_t k = 0; k < n; ++k) {
    std::uint16_t raw = Get16(Bytes(p_), kDataPageHeader + 2 * k);
    auto s = Slot(k);
    if (s.ok() && !s->deleted) {
      std::size_t start = end - s->size();
      if (s->size() > 0) std::memcpy(copy.data() + start, p_.data() + s->start, s->size());
      end = start;
    }
    Put16(b, kDataPageHeader + 2 * k,
          static_cast<std::uint16_t>(end | (raw & (kRowDeleted | kRowOverflow))));
  }
  Put16(b, 2, static_cast<std::uint16_t>(end - (kDataPageHeader + 2 * n)));
  p_ = copy;
  return true;
}

bool DataPage::HasDeletedRows() const {
  for (std::size_t k = 0; k < row_count(); ++k) {
    if (Get16(Bytes(p_), kDataPageHeader + 2 * k) & kRowDeleted) return true;
  }
  return false;
}

bool DataPage::HasLiveRows() const {
  for (std::size_t k = 0; k < row_count(); ++k) {
    auto s = Slot(k);
    if (s.ok() && !s->deleted) return true;
  }
  return false;
}

Status FollowOverflow(PageStore& store, Page& buf, Bytes* row, RowPointer* where) {
  for (int hop = 0;; ++hop) {
    if (row->size() < 4) return PageCorruption(where->page, "overflow row", "pointer too short");
    if (hop >= 8) return PageCorruption(where->page, "overflow row", "pointer chain too long");
    const RowPointer rp = RowPointer::Decode(Get32(*row, 0));
    if (rp.page == 0 || rp.page >= store.PageCount()) {
      return PageCorruption(where->page, "overflow row",
                            "points to page " + std::to_string(rp.page) + " outside the file");
    }
    VELQUIN_RETURN_IF_ERROR(store.ReadPage(rp.page, buf));
    DataPage dp(buf, rp.page);
    if (dp.type() != kPageTypeData) {
      return PageCorruption(rp.page, "page type", "overflow row target is not a data page");
    }
    VELQUIN_RETURN_IF_ERROR(dp.Validate());
    VELQUIN_ASSIGN_OR_RETURN(RowSlot s, dp.Slot(rp.row));
    *row = dp.RowBytes(s);
    *where = rp;
    // Targets carry the deleted flag (Access's do), so only the overflow
    // flag says whether this is the row or one more pointer.
    if (!s.overflow) return Status::Ok();
  }
}

}  // namespace velquin::jet
