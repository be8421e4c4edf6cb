// Long values: see long_value.h and [LVAL-*] in docs/jet4-format.md.
#include "jet/table/long_value.h"

#include <set>

namespace velquin::jet {
namespace {

Result<Bytes> ReadLvalRow(PageStore& store, RowPointer rp, Page& buf, PageNumber from) {
  if (rp.page == 0 || rp.page >= store.PageCount()) {
    return PageCorruption(from, "long value pointer",
                          "LVAL page " + std::to_string(rp.page) + " outside the file");
  }
  VELQUIN_RETURN_IF_ERROR(store.ReadPage(rp.page, buf));
  DataPage dp(buf, rp.page);
  if (dp.type() != kPageTypeData) {
    return PageCorruption(rp.page, "page type", "long value page is not a data page");
  }
  VELQUIN_ASSIGN_OR_RETURN(RowSlot s, dp.Slot(rp.row));
  return dp.RowBytes(s);
}

}  // namespace

Status ReadLongValue(PageStore& store, Bytes h, PageNumber page, std::vector<std::uint8_t>* out) {
  out->clear();
  if (h.size() < kLvHeaderSize) {
    return PageCorruption(page, "long value header", "only " + std::to_string(h.size()) + " bytes");
  }
  std::uint32_t word = Get32(h, 0);
  std::uint8_t flags = static_cast<std::uint8_t>(word >> 24) & 0xC0;
  std::size_t length = word & kLvMaxLength;
  RowPointer rp = RowPointer::Decode(Get32(h, 4));
  if (flags == kLvInline) {
    if (length > h.size() - kLvHeaderSize) {
      return PageCorruption(page, "long value length",
                            "inline length " + std::to_string(length) + " past the row");
    }
    out->assign(h.begin() + kLvHeaderSize, h.begin() + kLvHeaderSize + length);
    return Status::Ok();
  }
  Page buf;
  if (flags == kLvSingle) {
    VELQUIN_ASSIGN_OR_RETURN(Bytes row, ReadLvalRow(store, rp, buf, page));
    if (row.size() < length) {
      return PageCorruption(rp.page, "long value length",
                            "length " + std::to_string(length) + " but the LVAL row has " +
                                std::to_string(row.size()) + " bytes");
    }
    out->assign(row.begin(), row.begin() + length);
    return Status::Ok();
  }
  if (flags != 0) {
    return PageCorruption(page, "long value flags", "unknown flags " + std::to_string(flags));
  }
  std::set<std::uint32_t> seen;
  out->reserve(std::min<std::size_t>(length, 1 << 24));
  while (out->size() < length) {
    if (rp.page == 0) {
      return PageCorruption(page, "long value chain",
                            "chain ends after " + std::to_string(out->size()) + " of " +
                                std::to_string(length) + " bytes");
    }
    if (!seen.insert(rp.Encode()).second) {
      return PageCorruption(rp.page, "long value chain", "the chain loops");
    }
    VELQUIN_ASSIGN_OR_RETURN(Bytes row, ReadLvalRow(store, rp, buf, page));
    if (row.size() < 4) return PageCorruption(rp.page, "long value chain", "row too short");
    RowPointer next = RowPointer::Decode(Get32(row, 0));
    std::size_t take = std::min(row.size() - 4, length - out->size());
    out->insert(out->end(), row.begin() + 4, row.begin() + 4 + take);
    rp = next;
  }
  return Status::Ok();
}

}  // namespace velquin::jet
