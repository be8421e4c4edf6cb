// Quoting names and literals for the statements the pipeline builds: MySQL
// statements sent to the source, Jet statements sent to the target.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "base/status.h"
#include "base/text.h"
#include "db/sql_quote.h"

namespace velquin {

// A text as a MySQL string literal. Only the source session knows whether
// the server runs with NO_BACKSLASH_ESCAPES, so statements that carry text
// take its quoter (Session::QuoteString) rather than quoting by themselves.
using StringQuoter = std::function<std::string(std::string_view)>;

// A name for a Jet statement: `name` when it holds no back quote, [name] when
// it holds a back quote but no bracket. A name with both cannot be written in
// Jet SQL (Access forbids both characters in names anyway): InvalidArgument.
Result<std::string> QuoteJetName(std::string_view name);

// QuoteJetName for statement text that is built whole before it runs: a name
// it refuses is bracketed as it is, so the statement fails when it runs and
// that failure is reported with the object it belongs to.
std::string QuoteJetNameInText(std::string_view name);

// Compares without regard to ASCII case; usable as a std::map comparator.
struct CaseInsensitiveLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

}  // namespace velquin
