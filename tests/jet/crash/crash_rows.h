// The tables and rows the crash writer writes, shared with the test that
// checks them after killing it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/database.h"

namespace velquin::jet::crash {

inline constexpr int kTables = 6;

// Rows of table `t`; tables with t % 3 == 2 are written one Insert at a time.
inline int RowsOf(int t) { return t % 3 == 2 ? 60 : 300 + 250 * t; }
inline bool SingleInserts(int t) { return t % 3 == 2; }
inline std::string TableName(int t) { return "Crash" + std::to_string(t); }

inline TableSpec Spec(int t) {
  auto col = [](std::string name, ColumnType type, std::uint16_t size = 0) {
    ColumnSpec c;
    c.name = std::move(name);
    c.type = type;
    c.size = size;
    return c;
  };
  TableSpec s;
  s.name = TableName(t);
  s.columns = {col("id", ColumnType::kLong),       col("name", ColumnType::kText, 40),
               col("amount", ColumnType::kDouble), col("at", ColumnType::kDateTime),
               col("note", ColumnType::kMemo),     col("blob", ColumnType::kOle)};
  s.columns[0].auto_increment = true;
  s.indexes = {IndexSpec{.name = "PrimaryKey",
                         .columns = {{0, true}},
                         .primary_key = true,
                         .unique = true,
                         .required = true}};
  return s;
}

// Added once table 3 is done: an index on Crash0's name column and a
// relationship from Crash2's ids to Crash0's (its 60 ids are among those).
inline IndexSpec ExtraIndex() { return IndexSpec{.name = "ByName", .columns = {{1, true}}}; }
inline Database::RelationshipSpec Relationship() {
  Database::RelationshipSpec r;
  r.name = "Crash0Crash2";
  r.table = TableName(2);
  r.columns = {"id"};
  r.referenced_table = TableName(0);
  return r;
}

// Once every table is written, the rows of this table whose id is a
// multiple of 3 are deleted in one statement.
inline constexpr int kDeleteTable = 4;
inline bool DeletedLater(std::int64_t id) { return id % 3 == 0; }

// Row i of table t as written (the AutoNumber column NULL: it becomes i + 1).
inline std::vector<Value> Row(int t, int i) {
  std::vector<Value> r(6);
  r[1] = Value::Text("t" + std::to_string(t) + " row " + std::to_string(i) + " ü日");
  r[2] = Value::Double(i * 1.25 + t);
  r[3] = Value::Date(DateTime::FromParts(2000 + i % 30, 1 + i % 12, 1 + i % 28, i % 24));
  if (i % 50 == 0) {
    r[4] = Value::Text(std::string(5000 + i, static_cast<char>('a' + i % 26)));
  } else if (i % 7 != 0) {
    r[4] = Value::Text("note " + std::to_string(i));
  }
  if (i % 40 == 0) {
    std::vector<std::uint8_t> b(9000 + static_cast<std::size_t>(i));
    for (std::size_t k = 0; k < b.size(); ++k) b[k] = static_cast<std::uint8_t>(k * 7 + i);
    r[5] = Value::Binary(std::move(b));
  }
  return r;
}

}  // namespace velquin::jet::crash
