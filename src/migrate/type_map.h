// The MySQL-to-Access type map: which Access type each MySQL column becomes,
// and how its values are carried. docs/type-map.md shows the same map as one
// table, row by row; type_map_test.cc checks every row.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "migrate/sql_text.h"

namespace velquin {

// A column as SHOW CREATE TABLE declares it.
struct SourceColumn {
  std::string name;               // as MySQL spells it
  std::string type;               // the type word in lower case: "int", "decimal", "enum"
  std::vector<std::string> args;  // "(10,2)" -> {"10","2"}; enum/set: the labels, unescaped
  bool is_unsigned = false;
  bool zerofill = false;
  bool not_null = false;
  bool auto_increment = false;
  bool generated = false;  // GENERATED ALWAYS AS (...) / AS (...)
  std::string declared;    // the declared type as written (lower case), for log lines

  bool operator==(const SourceColumn&) const = default;
};

// What the data of one column holds, queried by the caller when the type map
// asks for it (NeedsColumnFacts). min/max are decimal texts as MySQL returns
// MIN()/MAX() (bit columns as numbers, e.g. MIN(`b` + 0)); both nullopt when
// the table holds no non-NULL value.
struct ColumnFacts {
  std::optional<std::string> min;
  std::optional<std::string> max;
  bool has_nulls = false;
};
using ColumnFactsMap = std::map<std::string, ColumnFacts, CaseInsensitiveLess>;

enum class AccessType {
  kYesNo,       // BIT
  kByte,        // BYTE
  kShort,       // SHORT
  kLong,        // LONG
  kCounter,     // COUNTER (AutoNumber, a LONG)
  kSingle,      // SINGLE
  kDouble,      // DOUBLE
  kDecimal,     // DECIMAL(p,s)
  kDateTime,    // DATETIME
  kText,        // VARCHAR(n) / TEXT(n), n <= 255
  kMemo,        // MEMO / LONGTEXT
  kBinary,      // BINARY(n) / VARBINARY(n), n <= 255
  kLongBinary,  // LONGBINARY (OLE Object)
  kUnknown,     // a type the map does not know: passed through as written
};

// How a value (as MySQL delivers it) becomes the Access value.
enum class ValueTransform {
  kAsIs,          // the value as it stands (numbers, texts)
  kBitToYesNo,    // bit(1) byte 0x00/0x01 -> False/True
  kBitsToNumber,  // bit(n) bytes, big-endian -> unsigned integer
  kDate,          // 'YYYY-MM-DD' -> date at midnight
  kDateTime,      // 'YYYY-MM-DD hh:mm:ss[.ffffff]' -> date, fraction truncated to ms
  kTimeOfDay,     // '[-]hhh:mm:ss[.ffffff]' -> 1899-12-30 plus the time
  kBytes,         // binary values byte for byte (never as text)
  kGeometry,      // MySQL's internal geometry bytes (4-byte SRID + WKB), byte for byte
};

// The decision for one column.
struct ColumnPlan {
  std::string name;      // as in MySQL
  std::string declared;  // MySQL type as declared
  AccessType type = AccessType::kUnknown;
  std::string
      access_type;    // as written into CREATE TABLE: "COUNTER", "DECIMAL(10,2)", "varchar(20)"
  int precision = 0;  // kDecimal: p; kText/kBinary: n
  int scale = 0;      // kDecimal: s
  ValueTransform transform = ValueTransform::kAsIs;
  std::string reason;  // why, when the choice depended on data or lost something; else ""
};

// True when the map's choice for `column` depends on the data (declared
// ranges beyond LONG, wide decimals, nullable bit(1)): the caller should
// query ColumnFacts for it.
bool NeedsColumnFacts(const SourceColumn& column);

// The Access type for `column`. `facts` is nullptr when not queried (the map
// then assumes the widest values the declaration allows). `referenced_type`
// is the planned Access type of the column a foreign key of this column
// references, when there is one (integer columns take it over).
ColumnPlan MapColumnType(const SourceColumn& column, const ColumnFacts* facts,
                         const ColumnPlan* referenced_type);

// The Jet SQL keyword of a type: "BIT", "LONG", "DECIMAL", "VARCHAR" ... ("" for kUnknown).
std::string JetTypeKeyword(AccessType type);

}  // namespace velquin
