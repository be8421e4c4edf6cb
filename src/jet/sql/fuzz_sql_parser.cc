// libFuzzer target for the Jet SQL front end (built with -DVELQUIN_FUZZ=ON
// and clang; run by bench/fuzz-sql-parser). Besides "no crash, no leak, no
// undefined behaviour" it checks the front end's promises:
//   - a statement that parses prints to a text that parses to the same tree;
//   - a SELECT stored as saved-query rows reads back, and the rows of what
//     is read back are stable (rows -> SQL -> rows gives the same rows).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "jet/sql/datetime_text.h"
#include "jet/sql/format.h"
#include "jet/sql/names.h"
#include "jet/sql/parser.h"
#include "jet/sql/saved_query.h"

namespace {

using namespace velquin::jet::sql;  // NOLINT

[[noreturn]] void Broken(const char* what, std::string_view a, std::string_view b = {}) {
  std::fprintf(stderr, "%s\n--- first:\n%.*s\n--- second:\n%.*s\n", what,
               static_cast<int>(a.size()), a.data(), static_cast<int>(b.size()), b.data());
  std::abort();
}

void CheckSavedQuery(const Select& select, const std::vector<std::string>& names) {
  auto rows = SelectToQueryRows(select, names);
  if (!rows.ok()) return;  // refused with a reason: fine
  (void)QueryRowsToMdbQueriesText(*rows);
  auto sql = QueryRowsToSql(*rows);
  if (!sql.ok()) Broken("stored rows do not read back as SQL", sql.status().message());
  auto back = QueryRowsToSelect(*rows);
  if (!back.ok()) Broken("stored rows do not parse back", *sql, back.status().message());
  auto rows2 = SelectToQueryRows(*back);
  if (!rows2.ok())
    Broken("a read-back query cannot be stored again", *sql, rows2.status().message());
  auto back2 = QueryRowsToSelect(*rows2);
  if (!back2.ok()) Broken("second read-back fails", *sql, back2.status().message());
  auto rows3 = SelectToQueryRows(*back2);
  if (!rows3.ok() || !(*rows3 == *rows2)) {
    Broken("saved-query rows are not stable", *sql, QueryRowsToSql(*rows2).value());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)ValidateObjectName(text);
  (void)SameObjectName(text, "MSysObjects");
  if (size <= 64) (void)ParseDateTimeText(text);
  (void)SplitStatements(text);
  (void)ParseExpression(text);

  auto parsed = ParseStatement(text);
  if (!parsed.ok()) {
    if (parsed.status().message().empty()) Broken("an error without a message", text);
    return 0;
  }
  const std::string normalized = FormatStatement(*parsed);
  auto again = ParseStatement(normalized);
  if (!again.ok()) Broken("normalized form does not parse", normalized, again.status().message());
  if (!(*again == *parsed))
    Broken("normalized form parses differently", normalized, FormatStatement(*again));
  if (const auto* select = std::get_if<Select>(&*parsed)) CheckSavedQuery(*select, {});
  if (const auto* view = std::get_if<CreateView>(&*parsed)) {
    CheckSavedQuery(view->select, view->columns);
  }
  return 0;
}
