// ConvertViewDdl's rewrite: MySQL's SHOW CREATE VIEW text -> an Access
// CREATE VIEW statement.
//
// Only the header is replaced: "CREATE ALGORITHM=... DEFINER=... SQL
// SECURITY ... VIEW `v` AS " becomes "create view `v` as ". In the select
// text, names keep their case (renamed by the Access naming rule where
// needed, access_names.h), string literals keep their case and their
// characters (MySQL's escapes become Jet's doubled apostrophes; character-set
// introducers such as _utf8mb4 are dropped), "join" is rewritten only as a
// whole word: a join with an ON condition becomes "inner join", one without
// becomes a comma, and the parentheses MySQL puts around a comma list go.
// A few functions have Access equivalents and are renamed (upper -> ucase,
// lower -> lcase, length/char_length -> len, substring/substr -> mid, if ->
// iif, sqrt -> sqr; concat(a, b) -> (a & b); != -> <>). Anything else Access
// cannot express (CASE, LIMIT, GROUP_CONCAT, CAST, other MySQL functions
// ...) refuses the view with a reason naming it: no half-converted view.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "base/status.h"

namespace velquin {

// Maps a source table (or view) name to its Access name; a column name to
// its Access name.
struct ViewNameMapper {
  std::function<std::string(std::string_view)> object;
  std::function<std::string(std::string_view)> column;
};

// `access_view_name` is the view's name in Access. InvalidArgument with the
// reason when the definition uses something Access cannot express.
Result<std::string> RewriteViewDefinition(std::string_view show_create_view,
                                          std::string_view access_view_name,
                                          const ViewNameMapper& names);

}  // namespace velquin
