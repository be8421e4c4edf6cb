// Row layout: see row_codec.h and [ROW-*] in docs/jet4-format.md.
#include "jet/table/row_codec.h"

#include <algorithm>
#include <cstring>

namespace velquin::jet {

void EncodeRow(const TableDef& def, const std::vector<Cell>& cells,
               std::vector<std::uint8_t>* out) {
  const std::size_t count = def.max_columns;
  const std::size_t fixed = def.FixedAreaSize();
  const std::size_t mask_size = (count + 7) / 8;
  const std::uint16_t var_count = def.VarColumnCount();
  // The column at each variable index, and the variable data's size, for
  // the row's size up front (one resize, no growth while it is filled).
  thread_local std::vector<std::size_t> by_var;
  by_var.assign(var_count, SIZE_MAX);
  for (std::size_t i = 0; i < def.columns.size(); ++i) {
    const Column& c = def.columns[i];
    if (!c.is_fixed() && c.var_index < var_count) by_var[c.var_index] = i;
  }
  std::size_t var_bytes = 0;
  for (std::size_t i : by_var) {
    if (i != SIZE_MAX && cells[i].present) var_bytes += cells[i].data.size();
  }
  const std::size_t var_end = 2 + fixed + var_bytes;
  const std::size_t total =
      var_end + (var_count > 0 ? 2 + 2 * static_cast<std::size_t>(var_count) + 2 : 0) + mask_size;
  out->assign(total, 0);
  std::uint8_t* row = out->data();
  std::uint8_t* mask = row + total - mask_size;
  auto put16 = [&](std::size_t at, std::size_t v) {
    row[at] = static_cast<std::uint8_t>(v);
    row[at + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  put16(0, count);
  // Fixed columns, and every column's presence bit.
  for (std::size_t i = 0; i < def.columns.size(); ++i) {
    const Column& c = def.columns[i];
    if (cells[i].present) mask[c.number / 8] |= static_cast<std::uint8_t>(1u << (c.number % 8));
    if (!c.is_fixed() || c.type == ColumnType::kBool || !cells[i].present) continue;
    std::memcpy(row + 2 + c.fixed_offset, cells[i].data.data(),
                std::min<std::size_t>(c.length, cells[i].data.size()));
  }
  if (var_count > 0) {
    // Variable columns in var-index order; the offsets go last column first
    // before the variable count.
    std::size_t at = 2 + fixed;
    const std::size_t offsets_end = var_end + 2 + 2 * static_cast<std::size_t>(var_count);
    for (std::uint16_t v = 0; v < var_count; ++v) {
      put16(offsets_end - 2 - 2 * static_cast<std::size_t>(v), at);
      const std::size_t i = by_var[v];
      if (i == SIZE_MAX || !cells[i].present || cells[i].data.empty()) continue;
      std::memcpy(row + at, cells[i].data.data(), cells[i].data.size());
      at += cells[i].data.size();
    }
    put16(var_end, var_end);
    put16(offsets_end, var_count);
  }
}

Status DecodeRow(const TableDef& def, Bytes row, PageNumber page, std::size_t row_number,
                 std::vector<Cell>* cells) {
  auto bad = [&](std::string_view field, const std::string& what) {
    return PageCorruption(page, field, "row " + std::to_string(row_number) + ": " + what);
  };
  cells->assign(def.columns.size(), Cell{});
  if (row.size() < 3) return bad("row length", "row of " + std::to_string(row.size()) + " bytes");
  std::size_t count = Get16(row, 0);
  std::size_t mask_len = (count + 7) / 8;
  if (count == 0 || mask_len + 2 > row.size()) {
    return bad("row column count", std::to_string(count) + " columns in a row of " +
                                       std::to_string(row.size()) + " bytes");
  }
  std::size_t mask_at = row.size() - mask_len;
  Bytes mask = row.subspan(mask_at);
  bool has_var = def.VarColumnCount() > 0;
  std::size_t var_count = 0;
  std::size_t var_table_at = mask_at;  // start of the var-offset structures
  std::size_t eod = mask_at;
  std::vector<std::uint16_t> offsets;
  if (has_var) {
    if (mask_at < 4) return bad("row variable count", "row too short");
    var_count = Get16(row, mask_at - 2);
    if (mask_at < 4 + 2 * var_count + 2) {
      return bad("row variable count", std::to_string(var_count) + " variable columns");
    }
    std::size_t eod_at = mask_at - 4 - 2 * var_count;
    eod = Get16(row, eod_at);
    var_table_at = eod_at;
    if (eod > var_table_at || eod < 2) {
      return bad("row end of data", "offset " + std::to_string(eod) + " past the row");
    }
    offsets.resize(var_count + 1);
    for (std::size_t v = 0; v < var_count; ++v) offsets[v] = Get16(row, mask_at - 4 - 2 * v);
    offsets[var_count] = static_cast<std::uint16_t>(eod);
  }
  for (std::size_t i = 0; i < def.columns.size(); ++i) {
    const Column& c = def.columns[i];
    if (c.number >= count) continue;  // column added after the row was written
    bool bit = (mask[c.number / 8] >> (c.number % 8)) & 1;
    Cell& cell = (*cells)[i];
    if (c.type == ColumnType::kBool) {
      cell.present = bit;
      continue;
    }
    if (!bit) continue;
    if (c.is_fixed()) {
      std::size_t at = 2 + static_cast<std::size_t>(c.fixed_offset);
      if (!Fits(var_table_at, at, c.length)) {
        return bad("fixed column offset", "column \"" + c.name + "\" at " + std::to_string(at) +
                                              "+" + std::to_string(c.length) +
                                              " past the fixed area");
      }
      cell.present = true;
      cell.data = row.subspan(at, c.length);
      continue;
    }
    if (c.var_index >= var_count) continue;
    std::size_t start = offsets[c.var_index];
    std::size_t end = offsets[c.var_index + 1];
    if (start > end || end > eod || start < 2) {
      return bad("variable column offset", "column \"" + c.name + "\" spans " +
                                               std::to_string(start) + ".." + std::to_string(end));
    }
    cell.present = true;
    cell.data = row.subspan(start, end - start);
  }
  return Status::Ok();
}

}  // namespace velquin::jet
