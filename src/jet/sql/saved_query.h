// Saved queries (views) as Jet stores them: one MSysQueries row per clause
// element, all sharing the query's MSysObjects Id as ObjectId.
//
//   Attribute  meaning          fields used
//   0          start            Flag 0
//   1          query type       Flag 1 = select (2 make-table, 3 append, 4 update,
//                               5 delete, 6 crosstab, 7 DDL, 8 pass-through, 9 union)
//   2          parameter        Name1 = name, Flag = data type       (not written)
//   3          select options   Flag bits below; Name1 = n of TOP n  (only when a bit is set)
//   4          remote database  Name1 / Expression                   (not written)
//   5          FROM table       Name1 = table or query, Name2 = alias; for a
//                               derived table ((SELECT ...) AS a) Name1 is NULL,
//                               Name2 = a, Expression = the SELECT's text
//   6          output field     Expression, Name1 = alias, Flag 0
//   7          join             Name1 = left table, Name2 = right table (aliases
//                               where given), Expression = ON condition,
//                               Flag 1 inner, 2 left, 3 right
//   8          WHERE            Expression
//   9          GROUP BY         Expression, Flag 0
//   10         HAVING           Expression
//   11         ORDER BY         Expression, Name1 = "D" when descending
//   255        end              -
// Every table of the FROM clause has a row 5, joined or not; the joins come on
// top as rows 7.
//
// A union query (SELECT ... UNION [ALL] SELECT ...) keeps its SELECTs as text,
// the way Access does:
//   0          start            Flag 0
//   1          query type       Flag 9
//   3          union options    Flag 0x01 always (Access sets it on every
//                               union), | 0x02 for UNION (repeated rows
//                               dropped); without 0x02 it is UNION ALL
//   5          first part       Name2 "X7YZ_____1", Expression = SQL text
//   5          second part      Name2 "X7YZ_____2", Expression = SQL text
//   11         ORDER BY         of the whole union, as for a select query
//   255        end
// There are always exactly two parts: a union of three or more SELECTs keeps
// all but the last one, with their own UNION [ALL] words, as the text of the
// first part, and the flag tells how the last one is joined on. The texts
// are laid out as a saved select query's text (below), lines broken by
// CR LF (a line break inside a "text" literal stays as it is), without a
// ";". Name1 is NULL on the part rows. Expressions are stored as Access writes
// them ("text" in double quotes, And/Or/Not, names in brackets where needed). The Order and LvExtra
// columns stay null, as in the queries Access itself writes.
//
// The MSysObjects row of a query has Type 5, ParentId 251658241 (the Tables
// container: queries and tables share one namespace) and Flags 0 for a
// select query, 128 for a union query (QueryObjectFlags); the caller writes
// it and sets ObjectId on these rows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/sql/ast.h"
#include "jet/table/value.h"

namespace velquin::jet::sql {

enum class QueryAttribute : uint8_t {
  kStart = 0,
  kType = 1,
  kParameter = 2,
  kFlag = 3,
  kRemoteDatabase = 4,
  kTable = 5,
  kColumn = 6,
  kJoin = 7,
  kWhere = 8,
  kGroupBy = 9,
  kHaving = 10,
  kOrderBy = 11,
  kEnd = 255,
};

// Attribute 1's Flag for a select query and for a union query.
inline constexpr int16_t kQueryTypeSelect = 1;
inline constexpr int16_t kQueryTypeUnion = 9;
// Attribute 3's Flag bits.
inline constexpr int16_t kSelectStarFlag = 0x01;
inline constexpr int16_t kDistinctFlag = 0x02;
inline constexpr int16_t kOwnerAccessFlag = 0x04;
inline constexpr int16_t kDistinctRowFlag = 0x08;
inline constexpr int16_t kTopFlag = 0x10;
inline constexpr int16_t kPercentFlag = 0x20;
// On a union query's attribute 3: UNION rather than UNION ALL.
inline constexpr int16_t kUnionDistinctFlag = 0x02;
// Name2 of a union query's two part rows.
inline constexpr char kUnionPart1[] = "X7YZ_____1";
inline constexpr char kUnionPart2[] = "X7YZ_____2";
// MSysObjects values of a saved select query.
inline constexpr int kQueryObjectType = 5;
inline constexpr int32_t kTablesContainerId = 251658241;
inline constexpr int32_t kSelectQueryObjectFlags = 0;
inline constexpr int32_t kUnionQueryObjectFlags = 128;

// One MSysQueries row without its ObjectId (the caller's query Id).
// Absent optionals are NULL in the table.
struct QueryRow {
  QueryAttribute attribute = QueryAttribute::kStart;
  std::optional<int16_t> flag;
  std::optional<std::string> name1;
  std::optional<std::string> name2;
  std::optional<std::string> expression;

  bool operator==(const QueryRow&) const = default;
};

// The rows for a SELECT, in the order to store them (0, 1, 3, 5..., 6...,
// 7..., 8, 9..., 10, 11..., 255); for a union, the rows of a union query.
// `output_names`, when not empty, names the output fields (CREATE VIEW v (a,
// b) AS ...) in place of their aliases (a union's first SELECT names them).
// A SELECT the rows cannot hold is refused (NotSupported) with the reason:
// SELECT ... INTO, a join whose right side is itself a join, a join whose ON
// condition names no single table on its left, the same table twice without
// an alias, a bare * that is not the last output field, SELECTs of a union
// that return different numbers of fields.
Result<std::vector<QueryRow>> SelectToQueryRows(const Select& select,
                                                const std::vector<std::string>& output_names = {});
Result<std::vector<QueryRow>> ViewToQueryRows(const CreateView& view);

// MSysObjects Flags for a query made of these rows: 128 for a union query, 0
// for a select query.
int32_t QueryObjectFlags(const std::vector<QueryRow>& rows);

// The SQL text of a saved select query, laid out as Access shows it:
//   SELECT [DISTINCT |DISTINCTROW |TOP n [PERCENT] ]fields
//   FROM tables, with joins as (a INNER JOIN b ON x) LEFT JOIN c ON y
//   [WHERE ...] [GROUP BY ...] [HAVING ...] [ORDER BY e [DESC], ...];
// one clause per line, ending with ";". A union query reads as
//   <first part>
//   UNION [ALL]
//   <second part>
//   [ORDER BY e [DESC], ...];
// with the parts' line breaks made "\n" (those inside literals kept). Rows of
// other query kinds (action, crosstab, pass-through, DDL), parameters and
// remote tables are refused (NotSupported); malformed rows are Corruption.
Result<std::string> QueryRowsToSql(const std::vector<QueryRow>& rows);

// MSysQueries rows as the database hands them out (whole rows, one value
// per column: ObjectId, Attribute, Order, Name1, Name2, Expression, Flag,
// ...) as QueryRows. Corruption for a row too short or without Attribute.
Result<std::vector<QueryRow>> QueryRowsFromStored(const std::vector<std::vector<Value>>& stored);

// The stored query as a SELECT tree (QueryRowsToSql, then parsed).
Result<Select> QueryRowsToSelect(const std::vector<QueryRow>& rows);

// The single line mdbtools' `mdb-queries FILE NAME` (version 1.0) prints for
// these rows, newline included. It reads only attributes 3, 5, 6, 8 and 11
// (the first ORDER BY only, joins ignored), so it is a check of what an
// independent reader sees, not a full rendering.
std::string QueryRowsToMdbQueriesText(const std::vector<QueryRow>& rows);

}  // namespace velquin::jet::sql
