// Column defaults: the DEFAULT of CREATE TABLE as Access keeps it (the
// column property "DefaultValue", rule [CAT-9] in docs/jet4-format.md), and
// the value an INSERT gives a column it does not name.
//
//   DEFAULT 'abc'          ->  "abc"         (text in double quotes)
//   DEFAULT -1.5           ->  -1.5
//   DEFAULT #2001-01-01#   ->  #2001-01-01#
//   DEFAULT TRUE / NULL    ->  True / Null
//   DEFAULT now()          ->  Now()         (Now, Date and Time: Access's spelling)
//
// Evaluated on insert: the literal forms (numbers, "text" or 'text', #dates#,
// 0x.. bytes, True/False/Yes/No/On/Off, Null), Now(), Date() and Time() (the
// local date and time), and & joining those. Anything else stays stored
// and is refused only when an insert needs it.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "jet/database.h"
#include "jet/sql/ast.h"
#include "jet/sql/datetime_text.h"

namespace velquin::jet::sql {

// The text Access stores for a DEFAULT expression.
std::string DefaultValueText(const Expr& expr);

// The stored text in SQL form ('text' single-quoted), for printing a CREATE
// TABLE statement; the text unchanged when it does not parse.
std::string DefaultValueSql(std::string_view stored);

// The value of `column`'s default for a row inserted into `table` at local
// time `now`, converted to the column's type as an inserted literal is.
// A column without a default gets NULL. An expression this engine cannot
// evaluate, or whose value does not fit the column, is InvalidArgument with a
// message naming the field.
Result<Value> EvaluateDefault(const ColumnInfo& column, std::string_view table,
                              const DateTimeValue& now);

// The local date and time now, to the second (what Now() gives in Access).
DateTimeValue LocalNow();

}  // namespace velquin::jet::sql
