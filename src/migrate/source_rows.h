// Rows of a source query as the pipeline's pure builders consume them: one
// row = the values of the result's columns in the server's order, each a
// text or NULL. The ODBC session fills these; tests build them by hand.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velquin {

using SourceValue = std::optional<std::string>;
using SourceRow = std::vector<SourceValue>;
using SourceRows = std::vector<SourceRow>;

// Column `index` (0-based) of `row`, or nullopt when NULL or absent.
inline std::optional<std::string_view> ValueAt(const SourceRow& row, std::size_t index) {
  if (index >= row.size() || !row[index]) return std::nullopt;
  return std::string_view(*row[index]);
}

}  // namespace velquin
