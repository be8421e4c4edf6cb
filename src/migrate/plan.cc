#include "migrate/plan.h"

#include <fmt/format.h>

#include <algorithm>
#include <vector>

#include "base/json_text.h"

namespace velquin {
namespace {

std::string Megabytes(uint64_t bytes) { return fmt::format("{:.1f} MB", bytes / 1048576.0); }

}  // namespace

std::vector<const PlannedTable*> LargestTables(const MigrationPlan& plan, std::size_t n) {
  std::vector<const PlannedTable*> by_size;
  for (const PlannedTable& t : plan.tables) by_size.push_back(&t);
  std::stable_sort(by_size.begin(), by_size.end(),
                   [](const PlannedTable* a, const PlannedTable* b) {
                     return a->projected_bytes > b->projected_bytes;
                   });
  if (by_size.size() > n) by_size.resize(n);
  return by_size;
}

std::string PlanText(const MigrationPlan& plan) {
  std::string out =
      fmt::format("Plan for database [{}] (nothing has been written)\n\n", plan.database);
  out += fmt::format("{:<5} {:<40} {:>12} {:>12}  {}\n", "KIND", "OBJECT", "ROWS (EST.)",
                     "SIZE (EST.)", "BECOMES");
  for (const PlannedTable& t : plan.tables) {
    std::string name = t.name == t.access_name ? t.name : t.name + " -> " + t.access_name;
    out += fmt::format("{:<5} {:<40} {:>12} {:>12}  {}\n", t.materialized_view ? "view" : "table",
                       name, t.rows, Megabytes(t.projected_bytes),
                       !t.error.empty()      ? "cannot be planned: " + t.error
                       : t.materialized_view ? "a table of the view's rows"
                                             : "a table");
  }
  for (const PlannedView& v : plan.views) {
    std::string name = v.name == v.access_name ? v.name : v.name + " -> " + v.access_name;
    out += fmt::format("{:<5} {:<40} {:>12} {:>12}  {}\n", "view", name, "", "",
                       v.query ? "a saved query" : "no query: " + v.reason);
  }
  bool header = false;
  for (const PlannedTable& t : plan.tables) {
    for (const PlannedColumn& c : t.columns) {
      const bool renamed = c.name != c.access_name;
      if (c.note.empty() && !renamed) continue;
      if (!header) out += "\nColumns that change on the way:\n";
      header = true;
      out += fmt::format("  {}.{}{}: {} -> {}{}\n", t.name, c.name,
                         renamed ? " -> " + c.access_name : "", c.declared, c.access_type,
                         c.note.empty() ? "" : "; " + c.note);
    }
  }
  if (!plan.renames.empty()) {
    out += "\nRenamed for Access:\n";
    for (const std::string& r : plan.renames) out += "  " + r + "\n";
  }
  out += fmt::format("\nProjected size of the .mdb: {} of Access's {} limit",
                     Megabytes(plan.projected_bytes), Megabytes(plan.size_limit));
  if (plan.over_limit()) {
    out += ": OVER THE LIMIT. The largest tables:";
    for (const PlannedTable* t : LargestTables(plan, 5)) {
      out += fmt::format(" {} ({})", t->name, Megabytes(t->projected_bytes));
    }
    out += ". Split the run with --tables into files that each stay under the limit.";
  } else if (plan.near_limit()) {
    out += ": within 10 % of the limit.";
  }
  out += fmt::format("\nEstimated time: {:.0f} s\n", plan.estimated_seconds);
  return out;
}

std::string PlanJson(const MigrationPlan& plan) {
  std::string out = "{\n  \"database\": " + JsonQuote(plan.database) + ",\n  \"tables\": [";
  for (std::size_t i = 0; i < plan.tables.size(); ++i) {
    const PlannedTable& t = plan.tables[i];
    out += std::string(i ? "," : "") + "\n    {\"name\": " + JsonQuote(t.name) +
           ", \"access_name\": " + JsonQuote(t.access_name) +
           ", \"materialized_view\": " + (t.materialized_view ? "true" : "false") +
           ", \"rows\": " + std::to_string(t.rows) +
           ", \"projected_bytes\": " + std::to_string(t.projected_bytes) +
           ", \"error\": " + JsonQuote(t.error) + ", \"columns\": [";
    for (std::size_t c = 0; c < t.columns.size(); ++c) {
      const PlannedColumn& col = t.columns[c];
      out += std::string(c ? ", " : "") + "{\"name\": " + JsonQuote(col.name) +
             ", \"access_name\": " + JsonQuote(col.access_name) +
             ", \"declared\": " + JsonQuote(col.declared) +
             ", \"access_type\": " + JsonQuote(col.access_type) +
             ", \"note\": " + JsonQuote(col.note) + "}";
    }
    out += "], \"notes\": [";
    for (std::size_t n = 0; n < t.notes.size(); ++n)
      out += std::string(n ? ", " : "") + JsonQuote(t.notes[n]);
    out += "]}";
  }
  out += "\n  ],\n  \"views\": [";
  for (std::size_t i = 0; i < plan.views.size(); ++i) {
    const PlannedView& v = plan.views[i];
    out += std::string(i ? "," : "") + "\n    {\"name\": " + JsonQuote(v.name) +
           ", \"access_name\": " + JsonQuote(v.access_name) +
           ", \"query\": " + (v.query ? "true" : "false") + ", \"reason\": " + JsonQuote(v.reason) +
           "}";
  }
  out += "\n  ],\n  \"renamed\": [";
  for (std::size_t i = 0; i < plan.renames.size(); ++i)
    out += std::string(i ? ", " : "") + JsonQuote(plan.renames[i]);
  out += fmt::format(
      "],\n  \"projected_bytes\": {},\n  \"size_limit\": {},\n  \"over_limit\": {},\n  "
      "\"near_limit\": {},\n"
      "  \"estimated_seconds\": {:.1f}\n}}\n",
      plan.projected_bytes, plan.size_limit, plan.over_limit() ? "true" : "false",
      plan.near_limit() ? "true" : "false", plan.estimated_seconds);
  return out;
}

}  // namespace velquin
