// Quoting names and literals for the statements the pipeline builds: MySQL
// statements sent to the source, Jet statements sent to the target.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "base/status.h"

namespace velquin {

// `name` for MySQL, with back quotes inside doubled: a`b -> `a``b`.
std::string QuoteMySqlName(std::string_view name);

// A text as a MySQL string literal. Only the source session knows whether
// the server runs with NO_BACKSLASH_ESCAPES, so statements that carry text
// take its quoter (Session::QuoteString) rather than quoting by themselves.
using StringQuoter = std::function<std::string(std::string_view)>;

// A name for a Jet statement: `name` when it holds no back quote, [name] when
// it holds a back quote but no bracket. A name with both cannot be written in
// Jet SQL (Access forbids both characters in names anyway): InvalidArgument.
Result<std::string> QuoteJetName(std::string_view name);

// Lower-cases ASCII letters only.
std::string AsciiLower(std::string_view text);

// Compares without regard to ASCII case; usable as a std::map comparator.
struct CaseInsensitiveLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

}  // namespace velquin
