#pragma once

#include <functional>
#include <span>
#include <string_view>

#include "base/status.h"
#include "jet/sql/ast.h"
#include "jet/table/value.h"

namespace velquin::jet::sql {

// Access's built-in functions of query expressions (IIf, Mid, Year, CLng,
// ...), called by name with their evaluated arguments. The name is matched
// without regard to case. A name that is no built-in function gives
// "Undefined function 'name' in expression.", as Access says; aggregates
// (Count, Sum, ...) are not functions here: the executor folds them. The
// "$" forms of the text functions (Mid$, Left$, Format$, ...) are known too:
// they give text only, so where the plain form gives NULL they fail with
// "Invalid use of Null".
//
// NULL rules as Jet applies them: most functions give NULL for a NULL
// argument (Mid, Len, Year, Abs, ...); the conversions (CLng, CStr, ...) and
// a NULL where a function needs a number (Mid's start, Left's length) give
// "Invalid use of Null"; IsNull, Nz, IIf and Switch take NULL as a value.
// Other errors carry Access's texts: "Overflow", "Invalid procedure call",
// "Data type mismatch in criteria expression.", and for a wrong number of
// arguments "Wrong number of arguments used with function in query
// expression 'Left('abc')'." (here the call is written with the values it
// received).
Result<Value> CallFunction(std::string_view name, std::span<const Value> args);

// The same for the call `call` (a kFunction expression) whose arguments are
// evaluated by `eval` only when the function needs them: IIf evaluates only
// the branch it returns and Switch stops at the first true condition, as
// Access does, and the wrong-number-of-arguments message quotes the call as
// written.
Result<Value> CallFunction(const Expr& call, const std::function<Result<Value>(const Expr&)>& eval);

}  // namespace velquin::jet::sql
