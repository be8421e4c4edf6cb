// Table definitions (TDEF pages). Rules [TDEF-1]..[TDEF-9] in
// docs/jet4-format.md.
//
// TDEF page header, every page of the chain:
//   0  1  0x02    1  1  0x01    2  2  free space    4  4  next TDEF page (0 = last)
// The definition is one byte stream: the first page's bytes from offset 0,
// then each continuation page's bytes from offset 8. Offsets in the stream:
//   8   4   stream length (the first page's 8 header bytes included)
//   12  4   1625 (constant)
//   16  4   row count
//   20  4   last AutoNumber value handed out
//   24  1   1 (constant)           25 15  0 (Access: FF FF FF FF at 36)
//   40  1   0x4E user table, 0x53 system table
//   41  2   max column number + 1 (column count of every row)
//   43  2   variable-length column count (Access: including deleted ones)
//   45  2   column count
//   47  4   logical index count
//   51  4   real (physical) index count
//   55  4   owned-pages usage map (row pointer)
//   59  4   free-space usage map (row pointer)
//   63  12 per real index: 0, unique entry count, 0
//       25 per column: descriptor (see column layout below)
//       2+n per column: name length, UTF-16LE name
//       52 per real index: definition
//       28 per logical index: definition
//       2+n per logical index: name
//       10 per long-value column: column number, owned map, free map
//       FF FF
// Column descriptor (25 bytes):
//   0 type  1 1625(4)  5 number(2)  7 var index(2)  9 display index(2)
//   11 misc(4): text = sort order 1033 (2) + 0 + 0; numeric = precision, scale
//   15 flags: 01 fixed, 02 updatable/nullable, 04 AutoNumber, 40 GUID AutoNumber
//   16 ext flags: 01 Unicode compression   17 0(4)
//   21 fixed offset(2)   23 length(2)
// Real index (52 bytes): 1923(4), 10 x (column number(2), order(1)), usage
//   map(4), root page(4), 0(4), flags(1), 0(5).
// Logical index (28 bytes): 1625(4), number(4), real index(4), related type(1),
//   related index(4), related TDEF(4), cascade update(1), cascade delete(1),
//   index type(1), 0(4).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/format/data_page.h"
#include "jet/format/page_store.h"
#include "jet/table/value.h"

namespace velquin::jet {

inline constexpr std::uint8_t kColumnFixed = 0x01;
inline constexpr std::uint8_t kColumnUpdatable = 0x02;
inline constexpr std::uint8_t kColumnAutoNumber = 0x04;
inline constexpr std::uint8_t kColumnAutoGuid = 0x40;
inline constexpr std::uint8_t kColumnExtCompressed = 0x01;
inline constexpr std::uint8_t kTableTypeUser = 0x4E;
inline constexpr std::uint8_t kTableTypeSystem = 0x53;

struct Column {
  std::string name{};
  ColumnType type = ColumnType::kLong;
  std::uint16_t number = 0;
  std::uint16_t var_index = 0;
  std::uint16_t display_index = 0;
  std::array<std::uint8_t, 4> misc{};  // sort order or precision/scale
  std::uint8_t flags = 0;
  std::uint8_t ext_flags = 0;
  std::uint16_t fixed_offset = 0;
  std::uint16_t length = 0;  // bytes (TEXT: 2 x characters)
  // Long-value columns: their two usage maps.
  RowPointer lv_owned{};
  RowPointer lv_free{};

  bool is_fixed() const { return (flags & kColumnFixed) != 0; }
  bool is_long_value() const { return type == ColumnType::kMemo || type == ColumnType::kOle; }
  bool is_autonumber() const { return (flags & (kColumnAutoNumber | kColumnAutoGuid)) != 0; }
  bool compressed() const { return (ext_flags & kColumnExtCompressed) != 0; }
  std::uint8_t precision() const { return misc[0]; }
  std::uint8_t scale() const { return misc[1]; }
};

struct IndexColumn {
  std::uint16_t column_number = 0;
  bool ascending = true;
};

struct RealIndex {
  std::vector<IndexColumn> columns{};
  RowPointer usage_map{};
  PageNumber root = 0;
  std::uint8_t flags = 0;  // 01 unique, 02 ignore nulls, 08 required, 80 (Access 2000+)
  std::uint32_t unique_entries = 0;
  std::uint32_t reserved = 0;  // 4 bytes after the root page, kept as read
};

struct LogicalIndex {
  std::string name{};
  std::uint32_t number = 0;
  std::uint32_t real_index = 0;
  std::uint8_t related_type = 0;  // 1 primary side of a relationship, 2 foreign side
  std::int32_t related_index = -1;
  std::uint32_t related_tdef = 0;
  std::uint8_t cascade_update = 4;  // Jet writes 4/4 for indexes outside relationships
  std::uint8_t cascade_delete = 4;
  std::uint8_t index_type = 0;  // 1 primary key, 2 foreign key
};

struct TableDef {
  PageNumber tdef_page = 0;
  std::uint32_t row_count = 0;
  std::uint32_t last_autonumber = 0;
  std::uint8_t table_type = kTableTypeUser;
  std::uint16_t max_columns = 0;  // number of columns in every row
  // Variable-length columns as the definition counts them: Access keeps the
  // variable indexes of columns it deleted, so the count may exceed the
  // variable columns there are now, and indexes may skip numbers.
  std::uint16_t max_var_columns = 0;
  std::array<std::uint8_t, 15> reserved{};  // bytes 25..39, kept as read
  RowPointer owned_map{};
  RowPointer free_map{};
  std::vector<Column> columns{};  // sorted by column number
  std::vector<RealIndex> real_indexes{};
  std::vector<LogicalIndex> logical_indexes{};  // sorted by number

  const Column* FindColumn(std::string_view name) const;  // case-insensitive
  // Variable offsets in every row: the count as read, or one past the
  // highest variable index when that is more.
  std::uint16_t VarColumnCount() const;
  // Bytes of the fixed area (after the 2-byte column count).
  std::size_t FixedAreaSize() const;
};

// Encodes the whole definition stream (starting with the 8 page-header bytes).
std::vector<std::uint8_t> EncodeTableDef(const TableDef& def);
// Decodes and checks a definition stream; `page` names the first TDEF page.
Result<TableDef> DecodeTableDef(Bytes stream, PageNumber page);

// Reads the TDEF chain that starts at `page` (loop- and length-checked).
Result<TableDef> ReadTableDef(PageStore& store, PageNumber page);
// The pages of the TDEF chain at `page`.
Result<std::vector<PageNumber>> TableDefPages(PageStore& store, PageNumber page);
// Writes `def` into the chain at def.tdef_page, allocating continuation pages
// as needed and releasing ones no longer needed.
Status WriteTableDef(PageStore& store, const TableDef& def);

// Case-insensitive ASCII comparison Jet uses for the order of names.
int CompareNames(std::string_view a, std::string_view b);

}  // namespace velquin::jet
