#ifndef VELQUIN_JET_SQL_FUNCTIONS_H_
#define VELQUIN_JET_SQL_FUNCTIONS_H_

#include <span>
#include <string_view>

#include "base/status.h"
#include "jet/table/value.h"

namespace velquin::jet::sql {

// Access's built-in functions of query expressions (IIf, Mid, Year, CLng,
// ...), called by name with their evaluated arguments. The name is matched
// without regard to case. A name that is no built-in function gives
// "Undefined function 'name' in expression.", as Access says; aggregates
// (Count, Sum, ...) are not functions here: the executor folds them.
Result<Value> CallFunction(std::string_view name, std::span<const Value> args);

}  // namespace velquin::jet::sql

#endif  // VELQUIN_JET_SQL_FUNCTIONS_H_
