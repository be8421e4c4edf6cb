// velquin migrate --resume: after a run that was stopped, killed or failed,
// which of the tables the file holds that run finished, and the file made
// ready for the rest. A table is finished when its copy left no marker in
// the data folder (copy_marker.h) and the file holds as many rows as the
// server (under the run's row condition); the others are dropped to be made
// again. The relationships of every table kept are dropped too, so that the
// run makes each relationship once, whole and checked; queries kept as they
// are (a query is written whole or not at all).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/status.h"
#include "db/session.h"
#include "migrate/pipeline.h"

namespace velquin {

struct ResumePlan {
  std::vector<std::string> reused;                            // Access names of the tables kept
  std::map<std::string, uint64_t, CaseInsensitiveLess> rows;  // their row counts
  std::vector<std::string> kept_queries;
  std::vector<std::string> redone;  // tables dropped to be made again
  std::vector<std::string> lines;   // one per decision, for the log
};

// Decides, then drops what is redone and the relationships of what is kept.
// `held`: the planned names the file holds (ExistingTargetObjects).
Result<ResumePlan> PrepareResume(Session& source, const std::string& database,
                                 const std::filesystem::path& target,
                                 const std::filesystem::path& data_dir,
                                 const std::filesystem::path& condition_file,
                                 const std::vector<MigrationPipeline::PlannedObject>& planned,
                                 const std::vector<std::string>& held);

}  // namespace velquin
