// The text of backup scripts: Jet SQL that `velquin mdb exec` (the engine's
// executor) reads back to the same objects and the same bytes.
//
//   schema script   CREATE TABLE with every column, its exact type and size,
//                   NOT NULL, its default in Access's form and AutoNumber; then
//                   one CREATE INDEX per index (primary key WITH PRIMARY,
//                   unique, descending and composite keys kept)
//   relationships   ALTER TABLE ... ADD CONSTRAINT ... FOREIGN KEY ...
//                   REFERENCES ... with ON UPDATE / ON DELETE rules, one per
//                   relationship in which the table is the referencing side
//   data script     INSERT INTO [t] VALUES (...); one statement per row
//   view script     CREATE VIEW [v] AS and the saved query's whole SELECT
//
// Literals (AppendLiteral): NULL stays NULL; text is quoted with the quote
// doubled, line breaks and every other byte kept as they are; numbers are
// written in the shortest form that reads back to the same bits (floats and
// doubles) or exactly (currency, decimal); dates as #yyyy-mm-dd hh:mm:ss.fff#
// when that text reads back to the same stored day count, else as the day
// count itself; GUIDs as '{...}'; binary and OLE values as 0x and hex.
// Statements end with ";" and a line break; a script is split back into
// statements at ";" outside quotes (StatementReader in restore.h).
#pragma once

#include <string>
#include <vector>

#include "base/status.h"
#include "jet/database.h"
#include "jet/sql/saved_query.h"
#include "jet/table/value.h"

namespace velquin::backup {

// Appends `value` as a literal. False (nothing appended) for a value no
// literal can hold: a floating-point infinity or NaN.
bool AppendLiteral(const jet::Value& value, std::string* out);

// The statement that creates the table, without its indexes. NotSupported
// when a column's default cannot be written as SQL.
Result<std::string> CreateTableStatement(const jet::TableInfo& table);

// One statement per index of the table (those a relationship made are left
// to the relationship script).
std::vector<std::string> IndexStatements(const jet::TableInfo& table);

// A relationship as the catalogue (MSysRelationships) records it.
struct Relationship {
  std::string name;
  std::string table;  // the referencing table
  std::vector<std::string> columns;
  std::string referenced_table;
  std::vector<std::string> referenced_columns;
  bool cascade_update = false;
  bool cascade_delete = false;
  bool cascade_set_null = false;
};

// The relationships of the database, in catalogue order, their columns in
// key order. Corruption when the catalogue rows do not fit together.
Result<std::vector<Relationship>> ReadRelationships(jet::Database& db);

std::string RelationshipStatement(const Relationship& relationship);

// The MSysQueries rows of a saved query as stored (ObjectId, Attribute,
// Order, Name1, Name2, Expression, Flag, LvExtra) to QueryRow.
Result<std::vector<jet::sql::QueryRow>> ToQueryRows(
    const std::vector<std::vector<jet::Value>>& stored);

// CREATE VIEW for a saved query: its whole SELECT, case kept.
Result<std::string> CreateViewStatement(jet::Database& db, const std::string& view);

// "INSERT INTO [t] VALUES (" for the table: the part every row shares.
std::string InsertPrefix(const std::string& table);

}  // namespace velquin::backup
