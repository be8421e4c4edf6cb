#include "app/migration_run.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "app/db_session_handle.h"
#include "app/main_controller.h"
#include "app/pipeline_operations.h"
#include "app/resume.h"
#include "db/jet_session.h"
#include "db/odbc_session.h"
#include "db/source_connection.h"
#include "db/sql_quote.h"
#include "jet/database.h"
#include "migrate/jet_row_inserter.h"
#include "migrate/target_objects.h"

namespace velquin {
namespace fs = std::filesystem;

// What a stop that cannot wait for the worker needs for its summary: the
// object being migrated and the renames so far (both written by the worker
// thread).
struct MigrationRun::Progress {
  std::mutex mu;
  ObjectKind current_kind = ObjectKind::kTable;
  std::string current;
  std::vector<std::string> renames;
};

namespace {

// Opens the run's target file as a Session, or creates it (a file that
// exists already is not created anew).
Result<std::unique_ptr<Session>> OpenTargetFile(const std::string& path, bool create) {
  if (create && fs::exists(path)) {
    return Status::InvalidArgument("the database file " + path + " exists already");
  }
  VELQUIN_ASSIGN_OR_RETURN(std::unique_ptr<JetSession> session, JetSession::Open(path, create));
  return std::unique_ptr<Session>(std::move(session));
}

}  // namespace

MigrationRun::MigrationRun(OutputLog& log, std::unique_ptr<Session> source, std::string database)
    : log_(log),
      source_session_(source.get()),
      source_(std::make_shared<DbSessionHandle>(std::move(source))),
      database_(std::move(database)),
      progress_(std::make_shared<Progress>()) {}

MigrationRun::~MigrationRun() = default;

Result<std::unique_ptr<MigrationRun>> MigrationRun::Connect(const SourceUrl& url, OutputLog& log) {
  ConnectionDescriptor descriptor = SourceDescriptor(url);
  SourceConnectResult connected =
      ConnectSource(descriptor, [&log](const std::string& line) { log.Write(line); });
  if (!connected.session) {
    // The driver search hides the server's own answer (a wrong password, an
    // unknown database): ask the first MySQL driver once more for it, with
    // the same database, so the answer is the one for this connection.
    const std::string driver = FindMySqlOdbcDriver(1);
    if (!url.odbc && !driver.empty()) {
      auto direct = OdbcSession::Connect(
          "DRIVER=" + QuoteConnectionValue(driver) + ";SERVER=" + QuoteConnectionValue(url.host) +
          ";PORT=" + url.port + ";UID=" + QuoteConnectionValue(url.user) +
          ";PWD=" + QuoteConnectionValue(url.password) +
          (url.database.empty() ? "" : ";DATABASE=" + QuoteConnectionValue(url.database)) +
          ";CHARSET=utf8mb4;");
      if (!direct.ok()) return direct.status();
    }
    if (connected.status.ok()) return Status::IOError("the source gave no connection");
    return connected.status;
  }
  std::string database = url.database;
  if (database.empty()) {
    auto current = connected.session->CurrentCatalog();
    // No current catalogue is the same answer as an empty one: the caller says so.
    if (current.ok()) database = *current;
  }
  std::unique_ptr<MigrationRun> run(
      new MigrationRun(log, std::move(connected.session), std::move(database)));
  MainControllerOptions controller_options;
  controller_options.timings.pass_interval = std::chrono::milliseconds(100);
  controller_options.timings.routine_wait = std::chrono::milliseconds(0);
  controller_options.timings.thread_start_wait = std::chrono::milliseconds(0);
  controller_options.timings.start_worker_wait = std::chrono::milliseconds(0);
  run->controller_ = std::make_unique<MainController>(log, controller_options);
  run->controller_->descriptor(Side::kSource) = descriptor;
  run->controller_->descriptor(Side::kTarget).dbms_name = "MS Jet";
  run->controller_->session(Side::kSource).Set(run->source_);
  return run;
}

void MigrationRun::Configure(MigrationRunOptions options) { options_ = std::move(options); }

PipelineSettings MigrationRun::Settings() const {
  PipelineSettings settings;
  if (!options_.data_dir.empty()) settings.data_dir = options_.data_dir;
  settings.condition_file = options_.condition_file;
  settings.only_tables = options_.only_tables;
  settings.only_views = options_.only_views;
  settings.no_views = options_.no_views;
  settings.stop_requested = options_.stop_requested;
  settings.zero_dates = options_.zero_dates;
  settings.inserter_factory = JetRowInserterFactory();
  settings.object_started = [progress = progress_](ObjectKind kind, const std::string& name) {
    std::lock_guard<std::mutex> lock(progress->mu);
    progress->current_kind = kind;
    progress->current = name;
  };
  settings.data_files = options_.data_files;
  settings.rows_started = options_.rows_started;
  settings.rows_progress = options_.rows_progress;
  settings.materialize_views = options_.materialize_views;
  settings.existing = existing_;
  settings.existing_objects = existing_objects_;
  settings.reused_rows = reused_rows_;
  return settings;
}

Result<MigrationPlan> MigrationRun::Plan(uint64_t size_limit, bool sizes_only) {
  MigrationPipeline planner(Settings(), nullptr);
  return planner.Plan(source_session_, database_, size_limit, sizes_only);
}

Result<std::vector<std::string>> MigrationRun::PrepareTarget(ExistingTarget mode) {
  const std::string target = options_.target.string();
  MigrationPipeline planner(Settings(), nullptr);
  auto planned = planner.PlannedNames(source_session_, database_);
  if (!planned.ok()) return planned.status().WithContext("cannot list the source");
  auto held = ExistingTargetObjects(target, *planned);
  if (!held.ok()) return held.status().WithContext("cannot read the target");
  if (held->empty()) return std::vector<std::string>{};
  switch (mode) {
    case ExistingTarget::kRefuse:
      return held;
    case ExistingTarget::kResume: {
      auto objects = planner.PlannedObjects(source_session_, database_);
      if (!objects.ok()) return objects.status().WithContext("cannot list the source");
      auto resumed = PrepareResume(*source_session_, database_, options_.target, options_.data_dir,
                                   options_.condition_file, *objects, *held);
      if (!resumed.ok()) return resumed.status().WithContext("cannot resume");
      for (const std::string& line : resumed->lines) log_.Write(line);
      existing_ = PipelineSettings::Existing::kResume;
      existing_objects_.insert(resumed->reused.begin(), resumed->reused.end());
      existing_objects_.insert(resumed->kept_queries.begin(), resumed->kept_queries.end());
      reused_rows_ = resumed->rows;
      return std::vector<std::string>{};
    }
    case ExistingTarget::kReplace: {
      Status dropped =
          DropTargetObjects(target, *held, [this](const std::string& line) { log_.Write(line); });
      if (!dropped.ok()) return dropped.WithContext("cannot replace the objects in the target");
      return std::vector<std::string>{};
    }
    case ExistingTarget::kAppend:
      existing_ = PipelineSettings::Existing::kAppend;
      existing_objects_.insert(held->begin(), held->end());
      return std::vector<std::string>{};
  }
  return Status::InvalidArgument("an unknown way to treat the objects the target holds");
}

MigrationOutcome MigrationRun::Run() {
  const bool exists = fs::exists(options_.target);
  PipelineSettings settings = Settings();
  settings.object_done = [this](const MigrationReport&) {
    if (options_.object_done) options_.object_done();
    std::lock_guard<std::mutex> lock(progress_->mu);
    if (ops_) progress_->renames = ops_->pipeline().RenameLines();
  };
  ops_ = std::make_shared<PipelineOperations>(*controller_, settings, OpenTargetFile);
  controller_->SetTaskOperations(ops_);
  // Every object the run means to migrate, for the summary of a stopped run.
  std::vector<std::string> planned_tables, planned_views;
  for (const std::string& t : options_.all_tables) {
    if (settings.only_tables.empty() || settings.only_tables.count(t)) planned_tables.push_back(t);
  }
  for (const std::string& v : options_.all_views) {
    if (!settings.no_views && (settings.only_views.empty() || settings.only_views.count(v))) {
      planned_views.push_back(v);
    }
  }

  MigrationTaskNames names;
  names.source_database = database_;
  names.target_database = options_.target.string();
  // The caller verifies after the task (Verify), so that its summary carries it.
  names.verify = false;
  const TaskId id = controller_->AppendMigrationTask(
      exists ? TaskKind::kConvertDatabase : TaskKind::kCloneDatabase, names);
  auto stopping = [this] { return options_.stop_requested && options_.stop_requested(); };
  // When the worker is still inside one long statement (an index or a
  // relationship over many rows) 1.5 s after a stop, the outcome is made
  // from what is known without waiting; the file stays sound as after any
  // interrupted write.
  MigrationOutcome out;
  std::optional<std::chrono::steady_clock::time_point> stop_seen;
  while (!controller_->worker().WaitUntilIdle(std::chrono::milliseconds(100))) {
    if (!stop_seen && stopping()) stop_seen = std::chrono::steady_clock::now();
    if (stop_seen &&
        std::chrono::steady_clock::now() - *stop_seen > std::chrono::milliseconds(1500)) {
      out.forced = true;
      break;
    }
  }
  const auto record = controller_->queue().Find(id);
  out.task_succeeded = record && record->status == TaskStatus::kSucceeded;
  out.reports = ops_->pipeline().Reports();
  if (out.forced) {
    std::lock_guard<std::mutex> lock(progress_->mu);
    out.renames = progress_->renames;
    out.reports = CompleteStoppedReports(std::move(out.reports), planned_tables, planned_views,
                                         progress_->current_kind, progress_->current);
  } else {
    out.renames = ops_->pipeline().RenameLines();
    if (stopping()) {
      out.reports = CompleteStoppedReports(std::move(out.reports), planned_tables, planned_views,
                                           ObjectKind::kTable, "");
    }
  }
  return out;
}

std::vector<StageTimings::Stage> MigrationRun::Stages() const {
  if (!ops_) return {};
  return ops_->pipeline().timings().Stages();
}

bool MigrationRun::Verify(std::vector<MigrationReport>& reports, const VerifiedReportSink& told) {
  auto file = jet::Database::Open(options_.target.string(), {.read_only = true});
  PipelineSettings settings = Settings();
  MigrationPipeline verifier(settings, nullptr);
#ifdef __GLIBC__
  // A query of a view builds and frees large tables (its joins and groups).
  // Left to itself the allocator raises its threshold for mapping blocks
  // of their own past those sizes once one is freed, and keeps the freed
  // memory of the next ones in its heap: a fixed threshold gives every
  // large block back to the system when it is freed (the peak of the
  // employees database's verification falls from 265 to 235 MB).
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
  // A second connection lets the server compute the checksums of the
  // objects to come while the file's side of earlier ones is read. Without
  // it every object is compared as before, one after another.
  std::unique_ptr<OdbcSession> second;
  if (auto properties = BuildSourceProperties(controller_->descriptor(Side::kSource));
      properties.ok()) {
    auto connected = OdbcSession::Connect(properties->connection_string);
    if (connected.ok()) second = std::move(*connected);
  }
  const LoadVerification v =
      VerifyLoadedReports(verifier, source_session_, file.ok() ? file->get() : nullptr,
                          file.ok() ? std::string() : file.status().message(), database_, reports,
                          0, told, {}, second.get());
  return v.all_equal();
}

std::vector<std::string> DifferencesFromPlan(const MigrationPlan& plan,
                                             const std::vector<MigrationReport>& reports,
                                             const std::vector<std::string>& renames) {
  std::vector<std::string> out;
  auto report = [&](ObjectKind kind, const std::string& name) -> const MigrationReport* {
    for (const MigrationReport& r : reports) {
      if (r.kind == kind && r.source_name == name) return &r;
    }
    return nullptr;
  };
  for (const PlannedTable& t : plan.tables) {
    const MigrationReport* r =
        report(t.materialized_view ? ObjectKind::kView : ObjectKind::kTable, t.name);
    const std::string want = t.materialized_view ? "materialized" : "migrated";
    if (!t.error.empty()) {
      if (r && r->status == want) out.push_back(t.name + ": planned to fail, " + r->status);
    } else if (!r) {
      out.push_back(t.name + ": planned as a table, not in the run");
    } else if (r->status != want) {
      out.push_back(t.name + ": planned as a table, " + r->status +
                    (r->reason.empty() ? "" : ": " + r->reason));
    } else if (r->access_name != t.access_name) {
      out.push_back(t.name + ": planned as [" + t.access_name + "], made as [" + r->access_name +
                    "]");
    }
  }
  for (const PlannedView& v : plan.views) {
    const MigrationReport* r = report(ObjectKind::kView, v.name);
    const bool query = r && r->status == "migrated";
    if (v.query && !query) {
      out.push_back(v.name + ": planned as a query, " +
                    (r ? r->status + ": " + r->reason : "not in the run"));
    } else if (!v.query && query) {
      out.push_back(v.name + ": planned as no query, made one");
    }
  }
  for (const std::string& line : renames) {
    if (std::find(plan.renames.begin(), plan.renames.end(), line) == plan.renames.end()) {
      out.push_back("renamed, not in the plan: " + line);
    }
  }
  return out;
}

std::vector<MigrationReport> CompleteStoppedReports(std::vector<MigrationReport> reports,
                                                    const std::vector<std::string>& tables,
                                                    const std::vector<std::string>& views,
                                                    ObjectKind current_kind,
                                                    const std::string& current) {
  auto add_missing = [&](ObjectKind kind, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      bool reported = false;
      for (const MigrationReport& r : reports) reported |= r.kind == kind && r.source_name == name;
      if (reported) continue;
      MigrationReport r;
      r.kind = kind;
      r.source_name = name;
      r.access_name = name;
      if (kind == current_kind && name == current) {
        r.status = "stopped";
        r.stopped = true;
        r.reason = "the run was stopped while it was being migrated";
      } else {
        r.status = "not started";
        r.reason = "the run was stopped before it";
      }
      reports.push_back(std::move(r));
    }
  };
  add_missing(ObjectKind::kTable, tables);
  add_missing(ObjectKind::kView, views);
  return reports;
}

}  // namespace velquin
