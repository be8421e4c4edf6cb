// A minimal, test-only reader for real .mdb files: just enough of the table
// definition and row layout to find every physical index and the values of
// the rows its entries point at. The engine's own table layer lives
// elsewhere; this stays independent of it on purpose so that the index code
// is checked against the file, not against another part of the engine.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "jet/format/page_store.h"
#include "jet/index/index_key.h"
#include "jet/index/index_page.h"

namespace velquin::jet::testing {

// Read-only PageStore over a file's bytes.
class FilePageStore : public PageStore {
 public:
  explicit FilePageStore(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  static std::optional<FilePageStore> Open(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    return FilePageStore(std::move(bytes));
  }
  PageNumber PageCount() const override {
    return static_cast<PageNumber>(bytes_.size() / kPageSize);
  }
  Status ReadPage(PageNumber n, Page& out) override {
    if (n >= PageCount()) return Status::IOError("page " + std::to_string(n) + " past the end");
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(std::size_t{n} * kPageSize), kPageSize,
                out.begin());
    return Status::Ok();
  }
  Status WritePage(PageNumber, const Page&) override { return Status::NotSupported("read-only"); }
  Result<PageNumber> AllocatePage() override { return Status::NotSupported("read-only"); }
  Status ReleasePage(PageNumber) override { return Status::NotSupported("read-only"); }
  const std::uint8_t* page(PageNumber n) const {
    return bytes_.data() + std::size_t{n} * kPageSize;
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

inline std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

struct RefColumn {
  std::uint8_t type = 0;
  std::uint16_t number = 0;
  std::uint16_t var_index = 0;
  std::uint8_t flags = 0;
  std::uint16_t fixed_offset = 0;
  std::uint16_t length = 0;
  std::u16string name;
  bool fixed() const { return (flags & 0x01) != 0; }
};

struct RefIndex {
  PageNumber root = 0;
  std::uint8_t flags = 0;
  std::vector<std::pair<std::uint16_t, bool>> columns;  // column number, ascending
};

struct RefTable {
  PageNumber tdef = 0;
  std::vector<RefColumn> columns;
  std::vector<RefIndex> indexes;
  const RefColumn* Column(std::uint16_t number) const {
    for (const auto& c : columns) {
      if (c.number == number) return &c;
    }
    return nullptr;
  }
};

// TDEF first pages: type 0x02 pages that no other TDEF page continues into.
inline std::vector<PageNumber> TdefPages(const FilePageStore& f) {
  std::vector<PageNumber> all, out;
  std::vector<PageNumber> continued;
  for (PageNumber n = 1; n < f.PageCount(); ++n) {
    if (f.page(n)[0] == 0x02 && f.page(n)[1] == 0x01) {
      all.push_back(n);
      continued.push_back(U32(f.page(n) + 4));
    }
  }
  for (PageNumber n : all) {
    if (std::find(continued.begin(), continued.end(), n) == continued.end()) out.push_back(n);
  }
  return out;
}

inline std::optional<RefTable> ParseTdef(const FilePageStore& f, PageNumber first) {
  std::vector<std::uint8_t> d(f.page(first), f.page(first) + kPageSize);
  for (PageNumber next = U32(f.page(first) + 4); next != 0 && d.size() < 64 * kPageSize;
       next = U32(f.page(next) + 4)) {
    if (next >= f.PageCount()) return std::nullopt;
    d.insert(d.end(), f.page(next) + 8, f.page(next) + kPageSize);
  }
  RefTable t;
  t.tdef = first;
  const std::uint16_t ncols = U16(&d[45]);
  const std::uint32_t nreal = U32(&d[51]);
  std::size_t pos = 63 + 12 * std::size_t{nreal};
  for (std::uint16_t i = 0; i < ncols; ++i, pos += 25) {
    RefColumn c;
    c.type = d[pos];
    c.number = U16(&d[pos + 5]);
    c.var_index = U16(&d[pos + 7]);
    c.flags = d[pos + 15];
    c.fixed_offset = U16(&d[pos + 21]);
    c.length = U16(&d[pos + 23]);
    t.columns.push_back(c);
  }
  for (auto& c : t.columns) {
    const std::uint16_t len = U16(&d[pos]);
    pos += 2;
    for (std::uint16_t k = 0; k + 1 < len; k += 2)
      c.name.push_back(static_cast<char16_t>(U16(&d[pos + k])));
    pos += len;
  }
  for (std::uint32_t i = 0; i < nreal; ++i, pos += 52) {
    RefIndex x;
    for (int k = 0; k < 10; ++k) {
      const std::uint16_t col = U16(&d[pos + 4 + 3 * k]);
      if (col == 0xFFFF) continue;
      x.columns.emplace_back(col, d[pos + 6 + 3 * k] != 0);
    }
    x.root = U32(&d[pos + 38]);
    x.flags = d[pos + 46];
    t.indexes.push_back(x);
  }
  return t;
}

inline std::u16string DecodeText(const std::uint8_t* p, std::size_t n) {
  std::u16string out;
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    bool compressed = true;
    std::size_t start = 2;
    auto segment = [&](std::size_t a, std::size_t b) {
      if (compressed) {
        for (std::size_t i = a; i < b; ++i) out.push_back(p[i]);
      } else {
        for (std::size_t i = a; i + 1 < b; i += 2)
          out.push_back(static_cast<char16_t>(p[i] | p[i + 1] << 8));
      }
    };
    for (std::size_t i = 2; i < n; ++i) {
      if (p[i] == 0) {
        segment(start, i);
        compressed = !compressed;
        start = i + 1;
      }
    }
    segment(start, n);
    return out;
  }
  for (std::size_t i = 0; i + 1 < n; i += 2)
    out.push_back(static_cast<char16_t>(p[i] | p[i + 1] << 8));
  return out;
}

// The value of `col` in the row at `row`; nullopt when the row cannot be
// read (or the column is a long value, which these tests do not follow).
inline std::optional<KeyValue> ReadValue(const FilePageStore& f, RowId row, const RefColumn& col) {
  for (int hop = 0; hop < 3; ++hop) {
    if (row.page == 0 || row.page >= f.PageCount()) return std::nullopt;
    const std::uint8_t* p = f.page(row.page);
    if (p[0] != 0x01) return std::nullopt;
    const std::uint16_t count = U16(p + 12);
    if (row.row >= count) return std::nullopt;
    const std::uint16_t raw = U16(p + 14 + 2 * row.row);
    const std::size_t start = raw & 0x1FFF;
    const std::size_t end = row.row == 0 ? kPageSize : (U16(p + 14 + 2 * (row.row - 1)) & 0x1FFF);
    if (start >= end || end > kPageSize) return std::nullopt;
    if (raw & 0x4000) {  // overflow: the row lives elsewhere
      row = RowId{U32(p + start) >> 8, p[start]};
      continue;
    }
    const std::uint8_t* r = p + start;
    const std::size_t len = end - start;
    const std::uint16_t row_cols = U16(r);
    const std::size_t mask = (row_cols + 7) / 8;
    if (len < 2 + mask) return std::nullopt;
    const bool present =
        col.number < row_cols && (r[len - mask + col.number / 8] >> (col.number % 8) & 1) != 0;
    if (col.type == 0x01) return KeyValue(present);
    if (!present) return KeyValue(std::monostate{});
    std::vector<std::uint8_t> bytes;
    if (col.fixed()) {
      if (2 + std::size_t{col.fixed_offset} + col.length > len) return std::nullopt;
      bytes.assign(r + 2 + col.fixed_offset, r + 2 + col.fixed_offset + col.length);
    } else {
      const std::size_t var_count_at = len - mask - 2;
      const std::uint16_t var_count = U16(r + var_count_at);
      if (col.var_index >= var_count) return KeyValue(std::monostate{});
      auto offset = [&](std::size_t i) -> std::size_t {
        if (i == var_count) return U16(r + var_count_at - 2 * (var_count + 1));  // end of data
        return U16(r + var_count_at - 2 * (i + 1));
      };
      const std::size_t a = offset(col.var_index), b = offset(col.var_index + 1u);
      if (a > b || b > len) return std::nullopt;
      bytes.assign(r + a, r + b);
    }
    const auto type = static_cast<KeyColumnType>(col.type);
    if (type == KeyColumnType::kText) return KeyValue(DecodeText(bytes.data(), bytes.size()));
    if (type == KeyColumnType::kMemo || col.type == 0x0B) return std::nullopt;
    auto v = KeyValueFromStored(type, bytes);
    if (!v.ok()) return std::nullopt;
    return *v;
  }
  return std::nullopt;
}

}  // namespace velquin::jet::testing
