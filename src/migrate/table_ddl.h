// ConvertTableDdl: MySQL's SHOW CREATE TABLE text -> the Access CREATE TABLE
// statement, by a fixed chain of rewrites over the text.
//
// The chain works on the whole statement with quoted names and literals set
// aside (so no rule can touch a name or a literal, and they keep their case):
//
//   1. lower-case everything outside quoted names and literals;
//   2. cut after the ")" that closes the column list (table options go);
//   3. remove the key and constraint lines (primary, unique, index,
//      fulltext, spatial, foreign key, check, period): keys are built after
//      the table exists (key_sql.h);
//   4. remove the words "unsigned" and "zerofill";
//   5. remove the word "auto_increment";
//   6. column types: each column's declared type becomes its Access type from
//      the type map (type_map.h, docs/type-map.md), taking the data facts and
//      foreign-key references given by the caller into account;
//   7. remove character-set and collation clauses;
//   8. remove generated-column clauses (the values are copied as data);
//   9. remove INVISIBLE;
//  10. remove column CHECK clauses;
//  11. remove column comments;
//  12. remove ON UPDATE clauses;
//  13. remove DEFAULT and everything after it on the column's line, keeping
//      the line's final comma;
//  14. remove a bare NULL (not part of NOT NULL);
//  15. remove the comma left before the closing ")";
// then one line feed is appended. The layout is MySQL's: one line per
// column, two spaces of indent, back-quoted names.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "migrate/source_rows.h"
#include "migrate/sql_text.h"
#include "migrate/type_map.h"

namespace velquin {

// What the caller knows beyond the text.
struct TableDdlInput {
  // Data facts per column name, for the columns NeedsColumnFacts() names.
  ColumnFactsMap facts;
  // For each foreign-key column: the plan of the column it references (from
  // converting the referenced table first). Keys into the same table are
  // resolved by ConvertTableDdl itself.
  std::map<std::string, ColumnPlan, CaseInsensitiveLess> referenced;
};

struct TableDdl {
  std::string table_name;           // as MySQL spells it
  std::string sql;                  // "create table `t` (\n ... \n)\n"
  std::vector<ColumnPlan> columns;  // in table order
  std::vector<std::string> log;     // one line per decision worth telling
};

// A foreign key as SHOW CREATE TABLE declares it.
struct ForeignKeyDecl {
  std::string name;
  std::vector<std::string> columns;
  std::string referenced_database;  // empty: the same database
  std::string referenced_table;
  std::vector<std::string> referenced_columns;
  std::string on_delete;  // lower case: "cascade", "set null", "restrict", "no action", ""
  std::string on_update;
};

// "SHOW CREATE TABLE `db`.`t`".
std::string ShowCreateTableQuery(std::string_view database, std::string_view table);

// The columns declared by a SHOW CREATE TABLE text, in order.
Result<std::vector<SourceColumn>> ParseCreateTableColumns(std::string_view show_create_table);

// The foreign keys declared by a SHOW CREATE TABLE text.
Result<std::vector<ForeignKeyDecl>> ParseForeignKeys(std::string_view show_create_table);

// The query for the facts of the columns among `columns` that need them
// (NeedsColumnFacts), or "" when none does. Per such column, three values:
// MIN, MAX (bit columns as numbers) and the count of NULLs.
std::string BuildColumnFactsQuery(std::string_view database, std::string_view table,
                                  const std::vector<SourceColumn>& columns);
// Reads the one row of that query back into facts per column name.
Result<ColumnFactsMap> ReadColumnFacts(const std::vector<SourceColumn>& columns,
                                       const SourceRows& rows);

// The Access CREATE TABLE statement for a SHOW CREATE TABLE text. A text
// that is not a CREATE TABLE statement, or that was cut before its column
// list closes, gives InvalidArgument.
Result<TableDdl> ConvertTableDdl(std::string_view show_create_table,
                                 const TableDdlInput& input = {});

}  // namespace velquin
