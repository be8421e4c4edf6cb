// MigrationRun: one run of `velquin migrate` (and the comparison of
// `velquin verify`), carried out the way the window carries out its tasks:
// the source connection, the pre-flight plan, the objects the target file
// holds already, the migration task on the controller's worker thread
// (PipelineOperations) and the comparison with the server afterwards.
//
// The command line keeps what is its own: the options, the checks before
// anything is written, what it prints and its exit codes. What it prints
// (reports, plan, renames, stage timings) are values handed out from here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/load_verification.h"
#include "app/source_url.h"
#include "base/status.h"
#include "db/session.h"
#include "log/output_log.h"
#include "migrate/pipeline.h"
#include "migrate/plan.h"
#include "migrate/stage_timings.h"

namespace velquin {

class DbSessionHandle;
class MainController;
class PipelineOperations;

// What a run is asked to do, besides its source.
struct MigrationRunOptions {
  std::filesystem::path target;          // the .mdb file, absolute
  std::filesystem::path data_dir;        // the statement, data and rejects files
  std::filesystem::path condition_file;  // Condition.cfg; empty: none
  // Only these tables and views (empty: all); no views at all.
  std::set<std::string> only_tables;
  std::set<std::string> only_views;
  bool no_views = false;
  // Every table and view of the database in the server's order: the
  // summary of a stopped run has a line for each one it meant to migrate.
  std::vector<std::string> all_tables;
  std::vector<std::string> all_views;
  ZeroDates zero_dates = ZeroDates::kNull;
  bool materialize_views = false;
  bool data_files = false;  // each table's rows as INSERT statements too
  std::function<bool()> stop_requested;
  // Progress (each may be empty): a table's rows begin, rows read so far,
  // an object is done.
  std::function<void(const std::string& table, uint64_t expected)> rows_started;
  std::function<void(const std::string& table, uint64_t read, uint64_t expected)> rows_progress;
  std::function<void()> object_done;
};

// What becomes of the objects to migrate that the target holds already.
enum class ExistingTarget {
  kRefuse,   // nothing is changed; the run is refused
  kReplace,  // dropped and made again
  kAppend,   // the rows are added to the tables
  kResume,   // finished tables kept, the rest made again (resume.h)
};

// What a migration left.
struct MigrationOutcome {
  // A stop that could not wait for the worker: it is still inside a long
  // statement and holds the file and the sessions.
  bool forced = false;
  bool task_succeeded = false;
  // One per object, with a line for every planned object a stop left out.
  std::vector<MigrationReport> reports;
  std::vector<std::string> renames;
};

class MigrationRun {
 public:
  // Connects to the source of `url`. On failure the message is the
  // server's own answer (a wrong password, an unknown database), asked for
  // once more without the driver search that hides it.
  static Result<std::unique_ptr<MigrationRun>> Connect(const SourceUrl& url, OutputLog& log);
  ~MigrationRun();
  MigrationRun(const MigrationRun&) = delete;
  MigrationRun& operator=(const MigrationRun&) = delete;

  Session& source() { return *source_session_; }
  // The database of the URL, or the one the data source selects ("" for none).
  const std::string& database() const { return database_; }

  // What the run does; before the calls below.
  void Configure(MigrationRunOptions options);

  // The pre-flight plan up to `size_limit` bytes; `sizes_only` projects
  // only the sizes. Nothing is written.
  Result<MigrationPlan> Plan(uint64_t size_limit, bool sizes_only);

  // Before any change, for a target that exists: the objects to create
  // that the file holds already are handled as `mode` says. With kRefuse
  // they are returned and nothing changes; otherwise the result is empty.
  // An error's message says which step failed ("cannot read the target:
  // ...").
  Result<std::vector<std::string>> PrepareTarget(ExistingTarget mode);

  // Runs the migration task and waits for it. A stop ends the run within 2
  // seconds: when the worker is still inside one long statement 1.5 s
  // after it, the outcome is made from what is known (`forced`).
  MigrationOutcome Run();

  // Where the time went so far, by stage.
  std::vector<StageTimings::Stage> Stages() const;

  // Compares every table of `reports` that a run filled (and every view
  // materialized as a table, or made a saved query) in the target with the
  // server; each report's `verified` is set and `told` called. False when
  // any differs or cannot be verified.
  bool Verify(std::vector<MigrationReport>& reports, const VerifiedReportSink& told);

 private:
  MigrationRun(OutputLog& log, std::unique_ptr<Session> source, std::string database);
  PipelineSettings Settings() const;

  struct Progress;
  OutputLog& log_;
  Session* source_session_;
  std::shared_ptr<DbSessionHandle> source_;
  std::string database_;
  MigrationRunOptions options_;
  PipelineSettings::Existing existing_ = PipelineSettings::Existing::kFail;
  std::set<std::string, CaseInsensitiveLess> existing_objects_;
  std::map<std::string, uint64_t, CaseInsensitiveLess> reused_rows_;
  std::unique_ptr<MainController> controller_;
  std::shared_ptr<PipelineOperations> ops_;
  std::shared_ptr<Progress> progress_;
};

// Where a run's outcome differs from what its plan said: a table planned
// that did not arrive whole, a view planned as a query that is none (or the
// other way round), a rename the plan did not list.
std::vector<std::string> DifferencesFromPlan(const MigrationPlan& plan,
                                             const std::vector<MigrationReport>& reports,
                                             const std::vector<std::string>& renames);

// The reports of a run that was stopped, completed with a line for every
// planned object that has none: the object being migrated (`current_kind`,
// `current`; "" for none) as "stopped", every other one as "not started".
std::vector<MigrationReport> CompleteStoppedReports(std::vector<MigrationReport> reports,
                                                    const std::vector<std::string>& tables,
                                                    const std::vector<std::string>& views,
                                                    ObjectKind current_kind,
                                                    const std::string& current);

}  // namespace velquin
