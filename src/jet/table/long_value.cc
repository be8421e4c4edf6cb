// Long values: see long_value.h and [LVAL-*] in docs/jet4-format.md.
#include "jet/table/long_value.h"

#include <algorithm>
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

LongValueKind LongValueKindFor(std::size_t size, bool allow_inline) {
  if (allow_inline && size <= kLvMaxInline) return LongValueKind::kInline;
  return size <= kLvMaxRow ? LongValueKind::kSingle : LongValueKind::kChain;
}

Result<LongValueHeader> DecodeLongValueHeader(Bytes h, PageNumber page) {
  if (h.size() < kLvHeaderSize) {
    return PageCorruption(page, "long value header", "only " + std::to_string(h.size()) + " bytes");
  }
  const std::uint32_t word = Get32(h, 0);
  const std::uint8_t flags = static_cast<std::uint8_t>(word >> 24) & 0xC0;
  LongValueHeader out;
  out.length = word & kLvMaxLength;
  out.first = RowPointer::Decode(Get32(h, 4));
  switch (flags) {
    case 0x80:
      out.kind = LongValueKind::kInline;
      if (out.length > h.size() - kLvHeaderSize) {
        return PageCorruption(page, "long value length",
                              "inline length " + std::to_string(out.length) + " past the row");
      }
      out.inline_data = h.subspan(kLvHeaderSize, out.length);
      return out;
    case 0x40:
      out.kind = LongValueKind::kSingle;
      return out;
    case 0x00:
      out.kind = LongValueKind::kChain;
      return out;
    default:
      return PageCorruption(page, "long value flags", "unknown flags " + std::to_string(flags));
  }
}

void EncodeLongValueHeader(LongValueKind kind, std::uint32_t length, Bytes inline_data,
                           std::vector<std::uint8_t>* out) {
  const std::size_t at = out->size();
  out->resize(at + kLvHeaderSize, 0);
  Put32(MutableBytes(*out).subspan(at), 0,
        (length & kLvMaxLength) | (static_cast<std::uint32_t>(kind) << 24));
  if (kind == LongValueKind::kInline)
    out->insert(out->end(), inline_data.begin(), inline_data.end());
}

void SetLongValuePointer(MutableBytes header, RowPointer first) {
  Put32(header, 4, first.Encode());
}

void EncodeChainRow(RowPointer next, Bytes data, std::vector<std::uint8_t>* row) {
  row->assign(4, 0);
  if (next.page != 0) Put32(MutableBytes(*row), 0, next.Encode());
  row->insert(row->end(), data.begin(), data.end());
}

Status VisitLongValueRows(PageStore& store, const LongValueHeader& h, PageNumber page,
                          const LongValueVisitor& visit) {
  Page buf;
  if (h.kind == LongValueKind::kInline) return Status::Ok();
  RowPointer rp = h.first;
  if (h.kind == LongValueKind::kSingle) {
    VELQUIN_ASSIGN_OR_RETURN(Bytes row, ReadLvalRow(store, rp, buf, page));
    if (row.size() < h.length) {
      return PageCorruption(rp.page, "long value length",
                            "length " + std::to_string(h.length) + " but the LVAL row has " +
                                std::to_string(row.size()) + " bytes");
    }
    return visit(rp, row.first(h.length));
  }
  std::set<std::uint32_t> seen;
  std::size_t got = 0;
  while (got < h.length) {
    if (rp.page == 0) {
      return PageCorruption(
          page, "long value chain",
          "chain ends after " + std::to_string(got) + " of " + std::to_string(h.length) + " bytes");
    }
    if (!seen.insert(rp.Encode()).second) {
      return PageCorruption(rp.page, "long value chain", "the chain loops");
    }
    VELQUIN_ASSIGN_OR_RETURN(Bytes row, ReadLvalRow(store, rp, buf, page));
    if (row.size() < 4) return PageCorruption(rp.page, "long value chain", "row too short");
    const std::size_t take = std::min<std::size_t>(row.size() - 4, h.length - got);
    VELQUIN_RETURN_IF_ERROR(visit(rp, row.subspan(4, take)));
    got += take;
    rp = RowPointer::Decode(Get32(row, 0));
  }
  return Status::Ok();
}

Status ReadLongValue(PageStore& store, Bytes header, PageNumber page,
                     std::vector<std::uint8_t>* out) {
  out->clear();
  VELQUIN_ASSIGN_OR_RETURN(LongValueHeader h, DecodeLongValueHeader(header, page));
  if (h.kind == LongValueKind::kInline) {
    out->assign(h.inline_data.begin(), h.inline_data.end());
    return Status::Ok();
  }
  out->reserve(std::min<std::size_t>(h.length, 1 << 24));
  return VisitLongValueRows(store, h, page, [&](RowPointer, Bytes data) {
    out->insert(out->end(), data.begin(), data.end());
    return Status::Ok();
  });
}

}  // namespace velquin::jet
