// The regular-expression service: every text rewrite of the pipeline goes
// through these functions.
//
// The dialect is the one of the VBScript RegExp object that stored rewrite
// rules were written for, reproduced over PCRE2:
//   - global: every non-overlapping match is replaced, scanning left to right;
//     replaced text is not scanned again; a pattern that can match the empty
//     string matches where it consumes nothing ("^0*" always matches at the
//     start), and after an empty match the scan moves on by one character;
//   - case-sensitive;
//   - `^` and `$` only at the very start and the very end of the whole input
//     (no multi-line mode; `$` does not match before a final line feed);
//   - `.` matches any character except a line feed ("\r" included);
//   - `\s` is space, tab, CR, LF, VT and FF; `\w` is ASCII letters, digits and
//     underscore; `[...]` classes keep `\s`, `\w`, `\W` and take `*`, `|`, `(`
//     literally; `*`, `+`, `{m,n}` are greedy;
//   - replacement: "$" followed by a digit n (1-9) is the text of group n (empty
//     when the group did not take part); "$0", "$" followed by anything else,
//     and references to groups the pattern does not have are copied as they
//     stand, like every other character.
// Texts are UTF-8; a character is a whole code point (bytes that are not
// valid UTF-8 are never matched by `.` or a class, but pass through).
//
// Errors are values: a pattern that does not compile, or a match that runs
// into PCRE2's backtracking limit, gives InvalidArgument with the reason.
// Compiled patterns are cached (the system uses a small fixed set), so the
// functions are cheap to call per value; they are safe to call from several
// threads at once.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace velquin {

// The input with every match of `pattern` replaced by `replacement`.
Result<std::string> RegexReplace(std::string_view input, std::string_view pattern,
                                 std::string_view replacement);

// One match, as handed to RegexReplaceEach's callback.
struct RegexMatch {
  std::size_t offset = 0;  // byte offset of the match in the input
  std::string_view text;   // the whole match
  // groups[0] is the whole match; groups[n] is group n, or nullopt when the
  // group did not take part in the match.
  std::vector<std::optional<std::string_view>> groups;

  // Group n's text, empty when it did not take part or does not exist.
  std::string_view Group(std::size_t n) const {
    return n < groups.size() && groups[n] ? *groups[n] : std::string_view();
  }
};

// Like RegexReplace, with the replacement of each match computed by `replace`.
Result<std::string> RegexReplaceEach(std::string_view input, std::string_view pattern,
                                     const std::function<std::string(const RegexMatch&)>& replace);

// Every match of `pattern` in `input`, in order (the same scan as above).
Result<std::vector<RegexMatch>> RegexFindAll(std::string_view input, std::string_view pattern);

}  // namespace velquin
