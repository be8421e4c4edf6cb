// TDEF encoding and decoding: see table_def.h and [TDEF-*] in
// docs/jet4-format.md.
#include "jet/table/table_def.h"

#include <algorithm>
#include <set>

#include "base/text.h"
#include "jet/format/bytes.h"
#include "jet/table/text_codec.h"

namespace velquin::jet {
namespace {

constexpr std::uint32_t kTdefMagic = 1625;
constexpr std::uint32_t kRealIndexMagic = 1923;
constexpr std::size_t kHeaderSize = 63;
constexpr std::size_t kColumnSize = 25;
constexpr std::size_t kRealIndexSize = 52;
constexpr std::size_t kLogicalIndexSize = 28;
constexpr std::size_t kPagePayload = kPageSize - 8;

void PutName(ByteBuilder& b, const std::string& name) {
  auto u = Utf8ToUtf16(name);
  std::u16string s = u.ok() ? *u : std::u16string();
  b.U16(static_cast<std::uint16_t>(s.size() * 2));
  for (char16_t c : s) b.U16(c);
}

}  // namespace

int CompareNames(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(AsciiLower(a[i]));
    unsigned char y = static_cast<unsigned char>(AsciiLower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

const Column* TableDef::FindColumn(std::string_view name) const {
  for (const auto& c : columns) {
    if (CompareNames(c.name, name) == 0) return &c;
  }
  return nullptr;
}

std::uint16_t TableDef::VarColumnCount() const {
  std::uint16_t n = max_var_columns;
  for (const auto& c : columns) {
    if (!c.is_fixed()) n = std::max<std::uint16_t>(n, static_cast<std::uint16_t>(c.var_index + 1));
  }
  return n;
}

std::size_t TableDef::FixedAreaSize() const {
  std::size_t end = 0;
  for (const auto& c : columns) {
    if (c.is_fixed() && c.type != ColumnType::kBool) {
      end = std::max<std::size_t>(end, c.fixed_offset + c.length);
    }
  }
  return end;
}

std::vector<std::uint8_t> EncodeTableDef(const TableDef& def) {
  ByteBuilder b;
  b.U8(kPageTypeTdef);
  b.U8(0x01);
  b.U16(0);  // free space, set per page when written
  b.U32(0);  // next page, set when written
  b.U32(0);  // length, patched below
  b.U32(kTdefMagic);
  b.U32(def.row_count);
  b.U32(def.last_autonumber);
  b.U8(1);
  b.Append(Bytes(def.reserved));
  b.U8(def.table_type);
  b.U16(def.max_columns);
  b.U16(def.VarColumnCount());
  b.U16(static_cast<std::uint16_t>(def.columns.size()));
  b.U32(static_cast<std::uint32_t>(def.logical_indexes.size()));
  b.U32(static_cast<std::uint32_t>(def.real_indexes.size()));
  b.U32(def.owned_map.Encode());
  b.U32(def.free_map.Encode());
  for (const auto& ri : def.real_indexes) {
    b.U32(0);
    b.U32(ri.unique_entries);
    b.U32(0);
  }
  // Descriptors and names in name order, as Jet writes them.
  std::vector<const Column*> by_name;
  for (const auto& c : def.columns) by_name.push_back(&c);
  std::stable_sort(by_name.begin(), by_name.end(), [](const Column* x, const Column* y) {
    return CompareNames(x->name, y->name) < 0;
  });
  for (const Column* c : by_name) {
    b.U8(static_cast<std::uint8_t>(c->type));
    b.U32(kTdefMagic);
    b.U16(c->number);
    b.U16(c->var_index);
    b.U16(c->display_index);
    b.Append(Bytes(c->misc));
    b.U8(c->flags);
    b.U8(c->ext_flags);
    b.U32(0);
    b.U16(c->fixed_offset);
    b.U16(c->length);
  }
  for (const Column* c : by_name) PutName(b, c->name);
  for (const auto& ri : def.real_indexes) {
    b.U32(kRealIndexMagic);
    for (std::size_t k = 0; k < 10; ++k) {
      if (k < ri.columns.size()) {
        b.U16(ri.columns[k].column_number);
        b.U8(ri.columns[k].ascending ? 1 : 0);
      } else {
        b.U16(0xFFFF);
        b.U8(0);
      }
    }
    b.U32(ri.usage_map.Encode());
    b.U32(ri.root);
    b.U32(ri.reserved);
    b.U8(ri.flags);
    b.Zeros(5);
  }
  std::vector<const LogicalIndex*> li_by_name;
  for (const auto& li : def.logical_indexes) li_by_name.push_back(&li);
  std::stable_sort(li_by_name.begin(), li_by_name.end(),
                   [](const LogicalIndex* x, const LogicalIndex* y) {
                     return CompareNames(x->name, y->name) < 0;
                   });
  for (const LogicalIndex* li : li_by_name) {
    b.U32(kTdefMagic);
    b.U32(li->number);
    b.U32(li->real_index);
    b.U8(li->related_type);
    b.U32(static_cast<std::uint32_t>(li->related_index));
    b.U32(li->related_tdef);
    b.U8(li->cascade_update);
    b.U8(li->cascade_delete);
    b.U8(li->index_type);
    b.U32(0);
  }
  for (const LogicalIndex* li : li_by_name) PutName(b, li->name);
  for (const Column* c : by_name) {
    if (!c->is_long_value()) continue;
    b.U16(c->number);
    b.U32(c->lv_owned.Encode());
    b.U32(c->lv_free.Encode());
  }
  b.U8(0xFF);
  b.U8(0xFF);
  Put32(MutableBytes(b.buf()), 8, static_cast<std::uint32_t>(b.size()));
  return std::move(b.buf());
}

Result<TableDef> DecodeTableDef(Bytes s, PageNumber page) {
  auto bad = [&](std::string_view field, std::string what) {
    return PageCorruption(page, field, "table definition: " + what);
  };
  if (s.size() < kHeaderSize) return bad("length", "shorter than its header");
  std::uint32_t len = Get32(s, 8);
  if (len < kHeaderSize || len > s.size()) {
    return bad("length", "stream length " + std::to_string(len) + " does not fit the " +
                             std::to_string(s.size()) + " bytes of its pages");
  }
  s = s.first(len);
  if (Get32(s, 12) != kTdefMagic) return bad("magic", "missing 1625 marker");
  TableDef d;
  d.tdef_page = page;
  d.row_count = Get32(s, 16);
  d.last_autonumber = Get32(s, 20);
  std::copy_n(s.begin() + 25, 15, d.reserved.begin());
  d.table_type = s[40];
  d.max_columns = Get16(s, 41);
  std::uint16_t var_count = Get16(s, 43);
  d.max_var_columns = var_count;
  std::uint16_t col_count = Get16(s, 45);
  std::uint32_t logical_count = Get32(s, 47);
  std::uint32_t real_count = Get32(s, 51);
  d.owned_map = RowPointer::Decode(Get32(s, 55));
  d.free_map = RowPointer::Decode(Get32(s, 59));
  if (col_count == 0 || col_count > 256 || col_count > d.max_columns) {
    return bad("column count", std::to_string(col_count) + " columns with " +
                                   std::to_string(d.max_columns) + " as maximum");
  }
  if (d.max_columns > 1024) return bad("max column count", std::to_string(d.max_columns));
  if (real_count > 256 || logical_count > 256) {
    return bad("index count", std::to_string(real_count) + " real, " +
                                  std::to_string(logical_count) + " logical indexes");
  }
  std::size_t off = kHeaderSize;
  auto need = [&](std::size_t n, std::string_view field) -> Status {
    if (!Fits(s.size(), off, n)) {
      return bad(field, "section at offset " + std::to_string(off) + " runs past the end (" +
                            std::to_string(s.size()) + " bytes)");
    }
    return Status::Ok();
  };
  VELQUIN_RETURN_IF_ERROR(need(12 * real_count, "index statistics"));
  d.real_indexes.resize(real_count);
  for (auto& ri : d.real_indexes) {
    ri.unique_entries = Get32(s, off + 4);
    off += 12;
  }
  VELQUIN_RETURN_IF_ERROR(need(kColumnSize * col_count, "column descriptors"));
  d.columns.resize(col_count);
  for (auto& c : d.columns) {
    c.type = static_cast<ColumnType>(s[off]);
    c.number = Get16(s, off + 5);
    c.var_index = Get16(s, off + 7);
    c.display_index = Get16(s, off + 9);
    std::copy_n(s.begin() + off + 11, 4, c.misc.begin());
    c.flags = s[off + 15];
    c.ext_flags = s[off + 16];
    c.fixed_offset = Get16(s, off + 21);
    c.length = Get16(s, off + 23);
    off += kColumnSize;
  }
  for (auto& c : d.columns) {
    VELQUIN_RETURN_IF_ERROR(need(2, "column name length"));
    std::size_t n = Get16(s, off);
    off += 2;
    VELQUIN_RETURN_IF_ERROR(need(n, "column name"));
    c.name = DecodeText(s.subspan(off, n));
    off += n;
  }
  std::set<std::uint16_t> numbers;
  for (const auto& c : d.columns) {
    if (c.number >= d.max_columns || !numbers.insert(c.number).second) {
      return bad("column number", "column \"" + c.name + "\" has number " +
                                      std::to_string(c.number) +
                                      " (duplicate or >= " + std::to_string(d.max_columns) + ")");
    }
    if (c.is_fixed()) {
      if (c.type != ColumnType::kBool &&
          static_cast<std::size_t>(c.fixed_offset) + c.length > kMaxRowSize) {
        return bad("column fixed offset", "column \"" + c.name + "\" at " +
                                              std::to_string(c.fixed_offset) + "+" +
                                              std::to_string(c.length));
      }
    } else if (c.var_index >= var_count) {
      return bad("column var index", "column \"" + c.name + "\" has variable index " +
                                         std::to_string(c.var_index) + " of " +
                                         std::to_string(var_count));
    }
  }
  VELQUIN_RETURN_IF_ERROR(need(kRealIndexSize * real_count, "real index definitions"));
  for (auto& ri : d.real_indexes) {
    for (std::size_t k = 0; k < 10; ++k) {
      std::uint16_t col = Get16(s, off + 4 + 3 * k);
      if (col == 0xFFFF) continue;
      if (!numbers.count(col)) {
        return bad("index column", "index refers to missing column " + std::to_string(col));
      }
      ri.columns.push_back({col, s[off + 6 + 3 * k] != 0});
    }
    ri.usage_map = RowPointer::Decode(Get32(s, off + 34));
    ri.root = Get32(s, off + 38);
    ri.reserved = Get32(s, off + 42);
    ri.flags = s[off + 46];
    off += kRealIndexSize;
  }
  VELQUIN_RETURN_IF_ERROR(need(kLogicalIndexSize * logical_count, "logical index definitions"));
  d.logical_indexes.resize(logical_count);
  for (auto& li : d.logical_indexes) {
    li.number = Get32(s, off + 4);
    li.real_index = Get32(s, off + 8);
    li.related_type = s[off + 12];
    li.related_index = static_cast<std::int32_t>(Get32(s, off + 13));
    li.related_tdef = Get32(s, off + 17);
    li.cascade_update = s[off + 21];
    li.cascade_delete = s[off + 22];
    li.index_type = s[off + 23];
    if (li.real_index >= real_count) {
      return bad("logical index", "refers to real index " + std::to_string(li.real_index) + " of " +
                                      std::to_string(real_count));
    }
    off += kLogicalIndexSize;
  }
  for (auto& li : d.logical_indexes) {
    VELQUIN_RETURN_IF_ERROR(need(2, "index name length"));
    std::size_t n = Get16(s, off);
    off += 2;
    VELQUIN_RETURN_IF_ERROR(need(n, "index name"));
    li.name = DecodeText(s.subspan(off, n));
    off += n;
  }
  // Long-value columns' usage maps, in descriptor order.
  for (std::size_t k = 0; k < d.columns.size(); ++k) {
    if (!d.columns[k].is_long_value()) continue;
    if (!Fits(s.size(), off, 10)) break;  // some writers omit them
    std::uint16_t num = Get16(s, off);
    if (num == 0xFFFF) break;
    for (auto& c : d.columns) {
      if (c.number == num && c.is_long_value()) {
        c.lv_owned = RowPointer::Decode(Get32(s, off + 2));
        c.lv_free = RowPointer::Decode(Get32(s, off + 6));
      }
    }
    off += 10;
  }
  std::sort(d.columns.begin(), d.columns.end(),
            [](const Column& a, const Column& b) { return a.number < b.number; });
  std::sort(d.logical_indexes.begin(), d.logical_indexes.end(),
            [](const LogicalIndex& a, const LogicalIndex& b) { return a.number < b.number; });
  return d;
}

Result<std::vector<PageNumber>> TableDefPages(PageStore& store, PageNumber page) {
  std::vector<PageNumber> pages;
  std::set<PageNumber> seen;
  PageNumber p = page;
  Page buf;
  while (p != 0) {
    if (!seen.insert(p).second) {
      return PageCorruption(p, "next TDEF page", "the definition chain loops");
    }
    if (p >= store.PageCount()) {
      return PageCorruption(pages.empty() ? page : pages.back(), "next TDEF page",
                            "page " + std::to_string(p) + " past the end of the file");
    }
    VELQUIN_RETURN_IF_ERROR(store.ReadPage(p, buf));
    if (buf[0] != kPageTypeTdef) {
      return PageCorruption(
          p, "page type", "expected a table definition page (2), found " + std::to_string(buf[0]));
    }
    pages.push_back(p);
    p = Get32(Bytes(buf), 4);
  }
  return pages;
}

Result<TableDef> ReadTableDef(PageStore& store, PageNumber page) {
  std::vector<std::uint8_t> stream;
  Page buf;
  std::set<PageNumber> seen;
  PageNumber p = page;
  std::size_t want = 0;
  while (p != 0) {
    if (!seen.insert(p).second) return PageCorruption(p, "next TDEF page", "the chain loops");
    if (p >= store.PageCount() || p == 0) {
      return PageCorruption(page, "next TDEF page",
                            "page " + std::to_string(p) + " past the end of the file");
    }
    VELQUIN_RETURN_IF_ERROR(store.ReadPage(p, buf));
    if (buf[0] != kPageTypeTdef) {
      return PageCorruption(
          p, "page type", "expected a table definition page (2), found " + std::to_string(buf[0]));
    }
    if (stream.empty()) {
      stream.assign(buf.begin(), buf.end());
      want = Get32(Bytes(buf), 8);
    } else {
      stream.insert(stream.end(), buf.begin() + 8, buf.end());
    }
    p = Get32(Bytes(buf), 4);
    if (stream.size() >= want) break;  // later pages, if any, are not needed
  }
  return DecodeTableDef(Bytes(stream), page);
}

Status WriteTableDef(PageStore& store, const TableDef& def) {
  std::vector<std::uint8_t> stream = EncodeTableDef(def);
  std::size_t pages_needed = 1;
  if (stream.size() > kPageSize) {
    pages_needed += (stream.size() - kPageSize + kPagePayload - 1) / kPagePayload;
  }
  std::vector<PageNumber> existing;
  {
    Page first;
    VELQUIN_RETURN_IF_ERROR(store.ReadPage(def.tdef_page, first));
    if (first[0] == kPageTypeTdef) {
      auto chain = TableDefPages(store, def.tdef_page);
      if (chain.ok()) existing = *chain;
    }
  }
  if (existing.empty()) existing.push_back(def.tdef_page);
  std::vector<PageNumber> pages(existing.begin(),
                                existing.begin() + std::min(existing.size(), pages_needed));
  while (pages.size() < pages_needed) {
    VELQUIN_ASSIGN_OR_RETURN(PageNumber pn, store.AllocatePage());
    pages.push_back(pn);
  }
  // Continuation pages first, the first page last [TDEF-2].
  for (std::size_t k = pages.size(); k-- > 0;) {
    Page p{};
    std::size_t used;
    if (k == 0) {
      used = std::min(stream.size(), kPageSize);
      std::copy_n(stream.begin(), used, p.begin());
    } else {
      std::size_t from = kPageSize + (k - 1) * kPagePayload;
      used = std::min(stream.size() - from, kPagePayload);
      std::copy_n(stream.begin() + from, used, p.begin() + 8);
      used += 8;
    }
    p[0] = kPageTypeTdef;
    p[1] = 0x01;
    std::size_t free = kPageSize > used + 8 ? kPageSize - used - 8 : 0;
    Put16(MutableBytes(p), 2, static_cast<std::uint16_t>(free));
    Put32(MutableBytes(p), 4, k + 1 < pages.size() ? pages[k + 1] : 0);
    VELQUIN_RETURN_IF_ERROR(store.WritePage(pages[k], p));
  }
  for (std::size_t k = pages.size(); k < existing.size(); ++k) {
    VELQUIN_RETURN_IF_ERROR(store.ReleasePage(existing[k]));
  }
  return Status::Ok();
}

}  // namespace velquin::jet
