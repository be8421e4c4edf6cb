// Key builders: the primary key, the other indexes and the foreign keys of a
// migrated table, as Jet statements built from the rows of MySQL's own
// catalogue queries. The queries are below; the rows come from the source
// session (or from a test). Names are taken exactly as the server returns
// them; to rename (names Access cannot hold), rename them in the rows first.
//
// Mended from the historical builders: unique indexes stay unique; only the
// indexes of this table of this database are read, and none is dropped for
// its name; composite keys stay whole, in their column order; ON DELETE /
// ON UPDATE CASCADE and SET NULL are carried; every name is quoted.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "migrate/source_rows.h"
#include "migrate/sql_text.h"

namespace velquin {

// The statements for one builder.
struct KeySql {
  std::vector<std::string> statements;  // each one Jet statement, without ";"
  std::vector<std::string> notes;       // what was not carried, and why
  // The statements joined by ";\n", with a final "\n" ("" when there is none):
  // the form written into the table's script file.
  std::string Text() const;
};

// "SHOW INDEX FROM `db`.`t`": rows of Table, Non_unique, Key_name,
// Seq_in_index, Column_name, Collation, Cardinality, Sub_part, Packed, Null,
// Index_type, ... (the same first eleven columns on MySQL 5.7/8.0 and MariaDB).
std::string ShowIndexQuery(std::string_view database, std::string_view table);

// The foreign keys of this table of this database: rows of CONSTRAINT_NAME,
// COLUMN_NAME, REFERENCED_TABLE_SCHEMA, REFERENCED_TABLE_NAME,
// REFERENCED_COLUMN_NAME, ORDINAL_POSITION, UPDATE_RULE, DELETE_RULE,
// ordered by constraint and column position. `quote` quotes the names as
// string literals for the server at hand (Session::QuoteString).
std::string ForeignKeyQuery(std::string_view database, std::string_view table,
                            const StringQuoter& quote);

// A foreign key of the table: its name and its columns in key order.
struct ForeignKeyColumns {
  std::string name;
  std::vector<std::string> columns;
};

// The SHOW INDEX rows without the plain indexes that only back a foreign key
// (named like the constraint, as InnoDB names the index it makes for one, or
// on exactly the constraint's columns): in Access the relationship makes
// that index itself, under the constraint's name, so building it first
// would make the relationship fail. A note per index left out.
SourceRows WithoutForeignKeyIndexes(const SourceRows& show_index_rows,
                                    const std::vector<ForeignKeyColumns>& foreign_keys,
                                    std::vector<std::string>* notes);

// "ALTER TABLE `t` add PRIMARY KEY (`a`, `b`)" from the SHOW INDEX rows;
// no statement when the table has no primary key. Text keys that Access
// takes as equal (it ignores letter case and trailing blanks) are found while
// the rows are loaded: the later rows of such a key are refused.
Result<KeySql> BuildPrimaryKeySql(std::string_view table, const SourceRows& show_index_rows);

// "CREATE [UNIQUE] INDEX `name` ON `t` (`a`, `b` DESC)" for every index but
// the primary key. FULLTEXT and SPATIAL indexes, indexes on expressions and
// indexes of more than 10 columns have no Access equivalent: they are left
// out with a note. A prefix index (`c`(10)) is built on the whole column.
Result<KeySql> BuildIndexSql(std::string_view table, const SourceRows& show_index_rows);

// "Alter Table `t` ADD CONSTRAINT `fk` FOREIGN KEY (`a`, `b`)\n REFERENCES
// `p`(`x`, `y`) [ON UPDATE CASCADE|SET NULL] [ON DELETE CASCADE|SET NULL]"
// from the ForeignKeyQuery rows. RESTRICT and NO ACTION are what Access does
// anyway; SET DEFAULT does not exist in Access (noted, key built without it);
// a key referencing another database is not built (noted).
Result<KeySql> BuildForeignKeySql(std::string_view database, std::string_view table,
                                  const SourceRows& foreign_key_rows);

}  // namespace velquin
