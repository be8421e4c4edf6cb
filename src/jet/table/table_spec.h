// Table specifications (what a caller asks for) and their layout into a
// TableDef: column numbers, variable indexes, fixed offsets, lengths and
// flags [TDEF-4], [COL-1].
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/table/table_def.h"
#include "jet/table/value.h"

namespace velquin::jet {

struct ColumnSpec {
  std::string name{};
  ColumnType type = ColumnType::kLong;
  std::uint16_t size = 0;          // TEXT: characters (1..255, 0 = 255); BINARY: bytes (1..255)
  std::uint8_t precision = 18;     // NUMERIC: 1..28
  std::uint8_t scale = 0;          // NUMERIC: 0..precision
  bool not_null = false;           // enforced by this engine on insert
  bool auto_increment = false;     // COUNTER: LONG AutoNumber
  bool compressed_unicode = true;  // TEXT/MEMO, as Access sets by default
  std::uint8_t extra_flags = 0;    // flag bits Jet sets on system columns (0x10, 0x20)
  // The column's default as Access keeps it (the "DefaultValue" property):
  // an expression text such as 0, "abc", #2001-01-01#, True or Now(); empty
  // for none. Stored as given; the SQL layer fills omitted columns with it.
  std::string default_value{};
};

struct IndexSpec {
  std::string name{};
  std::vector<IndexColumn> columns{};  // column numbers; filled from names by the caller
  bool primary_key = false;
  bool unique = false;
  bool ignore_nulls = false;
  bool required = false;
};

struct TableSpec {
  std::string name{};
  std::vector<ColumnSpec> columns{};
  std::vector<IndexSpec> indexes{};
  bool system = false;
};

// Access keeps at most this many characters in a column's DefaultValue.
inline constexpr std::size_t kMaxDefaultValueLength = 255;

// Checks a column list (names, types, sizes) the way Access does: at most 255
// columns, names 1..64 characters without . ! ` [ ] or leading space, unique
// case-insensitively; at most one AutoNumber, which has no default; defaults
// of at most 255 characters.
Status ValidateTableSpec(const TableSpec& spec);

// Checks the indexes of a table specification: at most 32, names of 1 to 64
// characters unique without regard to case, 1 to 10 existing columns, no OLE
// column, at most one primary key.
Status ValidateIndexes(const TableSpec& spec);

// Lays out the columns of `spec` into `def` (numbers in list order).
void LayoutColumns(const TableSpec& spec, TableDef* def);

// Fixed storage length of a type (0 for variable-length and long values).
std::uint16_t FixedLength(ColumnType type);
bool IsFixedType(ColumnType type);

}  // namespace velquin::jet
