// Row layout of Jet 4 data rows. Rules [ROW-1]..[ROW-7] in docs/jet4-format.md.
//
//   off          size      field
//   0            2         column count of the row (TDEF max columns)
//   2            F         fixed area: each fixed column at its fixed offset,
//                          full width even when NULL; BOOL columns take none
//   2+F          ..        variable data, in variable-index order
//   E            2         end of variable data (offset from row start)
//   ..           2*v       variable offsets, last variable column first
//   ..           2         variable column count v
//   end-m        m         null mask, ceil(count/8) bytes, bit per column
//                          number (LSB first), 1 = present / BOOL true
// Tables without variable columns omit E, the offsets and v.
#pragma once

#include <cstdint>
#include <vector>

#include "base/status.h"
#include "jet/format/bytes.h"
#include "jet/table/table_def.h"

namespace velquin::jet {

// One cell as stored: presence (for BOOL: the value) and its bytes.
struct Cell {
  bool present = false;
  Bytes data{};
};

// Encodes a row; `cells` is indexed like def.columns. Bytes of fixed cells
// must be exactly the column length.
void EncodeRow(const TableDef& def, const std::vector<Cell>& cells, std::vector<std::uint8_t>* out);

// Splits a stored row into cells (indexed like def.columns), checking every
// offset; `page`/`row` name the place in errors.
Status DecodeRow(const TableDef& def, Bytes row, PageNumber page, std::size_t row_number,
                 std::vector<Cell>* cells);

}  // namespace velquin::jet
