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
// SELECT ... UNION [ALL] SELECT ... [ORDER BY fields] becomes a Jet union
// query: each SELECT is translated on its own (with its own table aliases);
// a part Jet cannot express, parts returning different numbers of columns, a
// SELECT in parentheses and a LIMIT on the union are refused, the reason
// naming the part ("UNION part 2: ...").
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace velquin {

// The names a view uses, mapped to the names Access was given.
// `object`: a table or view name -> its Access name. `is_object`: whether a
// name is a table or view of the database. `column`: a column of a table or
// view (named as in the source; empty when the query names none) -> the
// name that table's column was given. `alias`: a column alias of this view
// -> its Access name. A table alias (`from t x`) is not an object: it keeps
// its name, made safe for Access, and never clashes with a table. Unset
// members map names by the naming rule alone.
struct ViewNameMapper {
  std::function<std::string(std::string_view)> object;
  std::function<bool(std::string_view)> is_object;
  std::function<std::string(std::string_view table, std::string_view column)> column;
  std::function<std::string(std::string_view)> alias;
};

// The tables and views a SHOW CREATE VIEW text reads (names as the source
// spells them, each once, in order of appearance), among `is_object`.
Result<std::vector<std::string>> ViewReadsObjects(
    std::string_view show_create_view, const std::function<bool(std::string_view)>& is_object);

// The column aliases of a SHOW CREATE VIEW text (the names after AS).
Result<std::vector<std::string>> ViewColumnAliases(std::string_view show_create_view);

// `access_view_name` is the view's name in Access. InvalidArgument with the
// reason when the definition uses something Access cannot express.
Result<std::string> RewriteViewDefinition(std::string_view show_create_view,
                                          std::string_view access_view_name,
                                          const ViewNameMapper& names);

}  // namespace velquin
