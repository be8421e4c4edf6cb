#include "jet/sql/functions.h"

#include <string>

namespace velquin::jet::sql {

Result<Value> CallFunction(std::string_view name, std::span<const Value> args) {
  (void)args;  // no function is known yet: every name is undefined
  return Status::InvalidArgument("Undefined function '" + std::string(name) + "' in expression.");
}

}  // namespace velquin::jet::sql
