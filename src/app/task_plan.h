// What the window shows before it queues a database task: the pre-flight
// plan of the task (per object what will happen, the projected size against
// Access's limit and the time estimate), and whether it may start.
#pragma once

#include <cstdint>
#include <string>

namespace velquin {

struct MigrationPlan;

struct TaskPlanPreview {
  std::string database;  // the source database planned
  std::string text;      // the plan as the command line's --plan prints it
  // The projected file passes Access's size limit: the task cannot start,
  // and `refusal` says why, naming the largest tables.
  bool over_limit = false;
  std::string refusal;
  std::string warning;  // within 10 % of the limit
  uint64_t rows = 0;    // the server's estimate of the rows to move
  double seconds = 0;   // the time estimate
};

TaskPlanPreview MakeTaskPlanPreview(const MigrationPlan& plan);

}  // namespace velquin
