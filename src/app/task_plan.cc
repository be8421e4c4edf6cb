#include "app/task_plan.h"

#include <fmt/format.h>

#include "migrate/plan.h"

namespace velquin {

TaskPlanPreview MakeTaskPlanPreview(const MigrationPlan& plan) {
  TaskPlanPreview p;
  p.database = plan.database;
  p.text = PlanText(plan);
  p.seconds = plan.estimated_seconds;
  for (const PlannedTable& t : plan.tables) p.rows += t.rows;
  p.over_limit = plan.over_limit();
  if (p.over_limit) {
    std::string largest;
    for (const PlannedTable* t : LargestTables(plan, 5)) {
      largest += fmt::format("{}{} ({:.1f} MB)", largest.empty() ? "" : ", ", t->name,
                             t->projected_bytes / 1048576.0);
    }
    p.refusal = fmt::format(
        "The file would pass Access's size limit ({:.1f} MB projected, {:.1f} MB allowed): the "
        "task cannot start. The largest tables: {}. Migrate the tables in groups that each stay "
        "under the limit, into separate files.",
        plan.projected_bytes / 1048576.0, plan.size_limit / 1048576.0, largest);
  } else if (plan.near_limit()) {
    p.warning = "The projected size of the file is within 10 % of Access's 2 GB limit.";
  }
  return p;
}

}  // namespace velquin
