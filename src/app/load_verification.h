// Verification after a load, over the reports of the objects a run or a task
// moved: every table it filled (and every view it materialized as a table)
// is compared with the server (verify.h), and every view that became a saved
// query by running the query in the file against the view on the server. The command line's
// --verify and the window's database tasks both go through here.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "db/session.h"
#include "migrate/pipeline.h"

namespace velquin {
namespace jet {
class Database;
}

struct LoadVerification {
  std::size_t equal = 0;
  std::size_t differing = 0;        // tables whose rows differ
  std::size_t not_verified = 0;     // tables that could not be compared
  std::size_t queries_not_run = 0;  // saved queries that could not be compared: not a failure
  bool all_equal() const { return differing == 0 && not_verified == 0; }
};

// Told once per report looked at, after its `verified` text is set; `equal`
// is false for a difference or a table that could not be compared.
using VerifiedReportSink = std::function<void(const MigrationReport& report, bool equal)>;

// Verifies `reports[from..]` of `database` through `verifier` (its settings
// read the source as the run did) against `file`; a null `file` leaves every
// table "not verified: " + `file_problem`. `lock_file` is held around each
// table's comparison (the file's session lock; may be null). With
// `second_source` (another connection to the same server; may be null) the
// server computes the checksums of the objects to come on it while the file
// side of earlier ones is read; the objects are still told in order.
LoadVerification VerifyLoadedReports(
    MigrationPipeline& verifier, Session* source, jet::Database* file,
    const std::string& file_problem, const std::string& database,
    std::vector<MigrationReport>& reports, std::size_t from, const VerifiedReportSink& told,
    const std::function<std::unique_lock<std::mutex>()>& lock_file = {},
    Session* second_source = nullptr);

// "Verification: 3 equal, 1 differ, 0 not verified" (tables and views; with
// the saved queries that could not be compared when there are any).
std::string LoadVerificationText(const LoadVerification& v);

}  // namespace velquin
