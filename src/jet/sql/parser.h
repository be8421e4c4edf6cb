// The Jet SQL front end: text to syntax tree (ast.h).
//
// Accepted statements (keywords in any case, names bare, in `back quotes` or
// in [brackets]):
//   CREATE TABLE t (col type [(size)] [WITH COMPRESSION] [NOT NULL | NULL]
//                   [DEFAULT value] [PRIMARY KEY | UNIQUE | REFERENCES ...]
//                   [CONSTRAINT name ...], ..., [CONSTRAINT name] table-constraint, ...)
//   ALTER TABLE t ADD [CONSTRAINT name] PRIMARY KEY (c, ...)
//                                     | UNIQUE (c, ...)
//                                     | FOREIGN KEY (c, ...) REFERENCES t2 [(c, ...)]
//                                       [ON UPDATE|DELETE CASCADE|SET NULL|NO ACTION]
//   CREATE [UNIQUE] INDEX i ON t (c [ASC|DESC], ...) [WITH PRIMARY|DISALLOW NULL|IGNORE NULL]
//   DROP INDEX i ON t          DROP TABLE t          DROP VIEW v
//   INSERT INTO t [(c, ...)] VALUES (e, ...)
//   DELETE [* | t.*] FROM t [WHERE e]
//   CREATE VIEW v [(c, ...)] AS SELECT ...
//   SELECT [ALL|DISTINCT|DISTINCTROW] [TOP n [PERCENT]] * | items [INTO t]
//     [FROM t [AS a] | joins (INNER|LEFT|RIGHT JOIN ... ON ...), ...]
//     [WHERE e] [GROUP BY e, ...] [HAVING e]
//     [UNION [ALL] SELECT ... (no INTO, no ORDER BY), ...]
//     [ORDER BY e [ASC|DESC], ...]   (after a UNION: the whole union's order)
// Expressions: literals (numbers, 'text', "text", #date#, 0x..., NULL, TRUE,
// FALSE), [t.]column, function calls, arithmetic (+ - * / \ MOD ^), & , the
// comparisons, AND/OR/XOR/NOT, IS [NOT] NULL, [NOT] LIKE, [NOT] IN (list),
// [NOT] BETWEEN ... AND ... . Subqueries: (SELECT ...) as a value,
// [NOT] EXISTS (SELECT ...), x [NOT] IN (SELECT ...), x op ANY|SOME|ALL
// (SELECT ...), and (SELECT ...) [AS a] in FROM, joined or not.
//
// Anything else is refused, never guessed at: the error reads like Jet's
// ("Syntax error in CREATE TABLE statement near 'x'."). Names of objects a
// statement creates are checked against Access's rules (names.h), and the
// checks that need no catalogue are made here too (sizes, duplicate fields,
// one primary key, at most 255 fields and 10 fields per index).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "jet/sql/ast.h"

namespace velquin::jet::sql {

inline constexpr size_t kMaxColumnsPerTable = 255;
inline constexpr size_t kMaxColumnsPerIndex = 10;
inline constexpr int kMaxTextSize = 255;
inline constexpr int kMaxDecimalPrecision = 28;

// One statement; a trailing ";" is allowed. Errors are InvalidArgument.
Result<Statement> ParseStatement(std::string_view sql);

// One expression (as stored in a saved query's rows).
Result<Expr> ParseExpression(std::string_view text);

// Splits a script at the ";" that are outside quotes, brackets and #dates#;
// pieces holding only blanks are dropped, the others are returned trimmed. A
// leading UTF-8 byte-order mark is skipped.
std::vector<std::string> SplitStatements(std::string_view script);

// "CREATE TABLE", "SELECT", ...: the statement's kind in Jet's words.
std::string_view StatementKindName(const Statement& statement);

// True for the words that cannot be used as a bare name (SELECT, FROM, KEY, ...).
bool IsReservedWord(std::string_view word);

}  // namespace velquin::jet::sql
