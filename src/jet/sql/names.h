// Access's rules for object names (tables, queries, columns, indexes,
// relationships): at most 64 characters; no period, exclamation mark, back
// quote or square brackets; no leading space; no control characters. A file
// holding a name that breaks them is a file Access cannot use, so such names
// are refused before anything is written.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"

namespace velquin::jet::sql {

inline constexpr size_t kMaxObjectNameLength = 64;  // UTF-16 units, as Access counts

// OK, or InvalidArgument with a message that quotes the name and names the
// rule it breaks: "'a.b' is not a valid name: a name cannot contain a period (.)."
// `name` is UTF-8; its length is counted in UTF-16 units (a character
// outside the Basic Multilingual Plane counts twice), as Access counts it.
Status ValidateObjectName(std::string_view name);

// Compares two names as Access does: without regard to case (ASCII and the
// Latin-1 letters of UTF-8 text).
bool SameObjectName(std::string_view a, std::string_view b);

// ASCII letters in lower case, other bytes as they are (keywords, function
// names).
std::string LowerAscii(std::string_view s);

}  // namespace velquin::jet::sql
