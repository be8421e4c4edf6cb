#include "app/pipeline_operations.h"

#include "app/db_session_handle.h"
#include "db/statements.h"
#include "log/output_log.h"

namespace velquin {
namespace {

PipelineSettings WithStop(PipelineSettings settings, RunState& run_state) {
  settings.stop_requested = [&run_state] { return run_state.StopRequested(); };
  return settings;
}

// True when every report of `kind` from index `from` on went well.
bool AllOk(const std::vector<MigrationReport>& reports, std::size_t from, ObjectKind kind) {
  for (std::size_t i = from; i < reports.size(); ++i) {
    if (reports[i].kind == kind && !reports[i].ok) return false;
  }
  return true;
}

}  // namespace

PipelineOperations::PipelineOperations(MainController& controller, PipelineSettings settings,
                                       TargetDatabaseOpener opener)
    : controller_(controller),
      opener_(std::move(opener)),
      pipeline_(WithStop(std::move(settings), controller.run_state()),
                [&controller](const std::string& line) { controller.log().Write(line); }) {}

void PipelineOperations::Out(const std::string& line) { controller_.log().Write(line); }

void PipelineOperations::SetTaskSessions(SourceSessionOpener source, TargetSessionOpener target) {
  source_opener_ = std::move(source);
  target_opener_ = std::move(target);
}

std::shared_ptr<SessionHandle> PipelineOperations::TaskTarget() const {
  std::lock_guard<std::mutex> lock(target_mu_);
  return task_target_;
}

void PipelineOperations::SetTaskTarget(std::shared_ptr<SessionHandle> handle) {
  std::lock_guard<std::mutex> lock(target_mu_);
  task_target_ = std::move(handle);
}

Session* PipelineOperations::SessionFor(Side side, std::shared_ptr<SessionHandle>* keep) {
  if (side == Side::kTarget && target_opener_) {
    *keep = TaskTarget();
    auto* handle = dynamic_cast<DbSessionHandle*>(keep->get());
    return handle ? handle->session() : nullptr;
  }
  if (side == Side::kSource && source_opener_) {
    // The window's session tells whether the source is connected (and to
    // which server): the task's own connection follows it.
    std::shared_ptr<SessionHandle> origin = controller_.session(Side::kSource).Get();
    if (origin == nullptr) {
      task_source_.reset();
      source_origin_.reset();
      return nullptr;
    }
    if (task_source_ == nullptr || origin != source_origin_) {
      task_source_.reset();
      auto opened = source_opener_();
      if (!opened.ok()) {
        Out("T::" + opened.status().message());
        return nullptr;
      }
      task_source_ = std::move(*opened);
      source_origin_ = origin;
    }
    *keep = task_source_;
    auto* handle = dynamic_cast<DbSessionHandle*>(keep->get());
    return handle ? handle->session() : nullptr;
  }
  return SessionIn(controller_.session(side), keep);
}

void PipelineOperations::TaskEnded() {
  if (!target_opener_) return;
  SetTaskTarget(nullptr);
  current_target_.clear();
}

bool PipelineOperations::SwitchTargetDatabase(const std::string& target_database) {
  if (target_opener_) {
    if (TaskTarget() != nullptr && current_target_ == target_database) return true;
    SetTaskTarget(nullptr);
    auto opened = target_opener_(target_database, false);
    if (!opened.ok()) {
      Out("T::" + opened.status().message());
      return true;  // as the routines expect; the following steps report "No Connection!"
    }
    SetTaskTarget(std::move(*opened));
    current_target_ = target_database;
    return true;
  }
  std::shared_ptr<SessionHandle> keep;
  if (SessionIn(controller_.session(Side::kTarget), &keep) && current_target_ == target_database) {
    return true;
  }
  if (!opener_) return true;
  controller_.session(Side::kTarget).Reset();
  auto opened = opener_(target_database, false);
  if (!opened.ok()) {
    Out("T::" + opened.status().message());
    return true;  // as the routines expect; the following steps report "No Connection!"
  }
  controller_.session(Side::kTarget).Set(std::make_shared<DbSessionHandle>(std::move(*opened)));
  current_target_ = target_database;
  return true;
}

bool PipelineOperations::CreateAccessDatabase(const std::string& database) {
  if (target_opener_) {
    auto created = target_opener_(database, true);
    if (!created.ok()) {
      Out("T::" + created.status().message());
      return false;
    }
    SetTaskTarget(*created);
    current_target_ = database;
    // The window goes on with the new file, as after Connect: its tree
    // lists the clone once the task has ended.
    controller_.session(Side::kTarget).Set(std::move(*created));
    return true;
  }
  if (!opener_) return false;
  auto created = opener_(database, true);
  if (!created.ok()) {
    Out("T::" + created.status().message());
    return false;
  }
  controller_.session(Side::kTarget).Set(std::make_shared<DbSessionHandle>(std::move(*created)));
  current_target_ = database;
  return true;
}

bool PipelineOperations::SelectDatabase(const std::string& database, Side side) {
  std::shared_ptr<SessionHandle> keep;
  Session* session = SessionFor(side, &keep);
  return velquin::SelectDatabase(session, database, [this](const std::string& l) { Out(l); });
}

bool PipelineOperations::ExecuteStatement(Side side, const std::string& statement) {
  // An Access target has no "use": its databases are files, so the task
  // switches its target file instead.
  if (side == Side::kTarget && target_opener_ && statement.rfind("use ", 0) == 0) {
    std::string database = statement.substr(4);
    while (!database.empty() && (database.back() == ';' || database.back() == ' ')) {
      database.pop_back();
    }
    SwitchTargetDatabase(database);
    return TaskTarget() != nullptr;
  }
  std::shared_ptr<SessionHandle> keep;
  Session* session = SessionFor(side, &keep);
  return velquin::ExecuteStatement(session, statement, false,
                                   [this](const std::string& l) { Out(l); });
}

void PipelineOperations::SetTreeCurrentDatabase(Side side, const std::string& database) {
  std::lock_guard<std::mutex> lock(tree_mu_);
  tree_database_[static_cast<int>(side)] = database;
}

std::string PipelineOperations::TreeCurrentDatabase(Side side) const {
  std::lock_guard<std::mutex> lock(tree_mu_);
  return tree_database_[static_cast<int>(side)];
}

bool PipelineOperations::ConvertDatabaseTables(const std::string& source_database) {
  std::shared_ptr<SessionHandle> keep_source, keep_target;
  Session* source = SessionFor(Side::kSource, &keep_source);
  Session* target = SessionFor(Side::kTarget, &keep_target);
  const std::size_t before = pipeline_.Reports().size();
  const int walked = pipeline_.ConvertDatabaseTables(source, target, source_database);
  return walked == 0 && AllOk(pipeline_.Reports(), before, ObjectKind::kTable);
}

bool PipelineOperations::ConvertDatabaseViews(const std::string& source_database) {
  std::shared_ptr<SessionHandle> keep_source, keep_target;
  Session* source = SessionFor(Side::kSource, &keep_source);
  Session* target = SessionFor(Side::kTarget, &keep_target);
  const std::size_t before = pipeline_.Reports().size();
  const int walked = pipeline_.ConvertDatabaseViews(source, target, source_database);
  return walked == 0 && AllOk(pipeline_.Reports(), before, ObjectKind::kView);
}

bool PipelineOperations::MigrateTable(const std::string& source_database,
                                      const std::string& table) {
  std::shared_ptr<SessionHandle> keep_source, keep_target;
  Session* source = SessionFor(Side::kSource, &keep_source);
  Session* target = SessionFor(Side::kTarget, &keep_target);
  return pipeline_.MigrateTable(source, target, source_database, table) == 1 &&
         AllOk(pipeline_.Reports(), pipeline_.Reports().size() - 1, ObjectKind::kTable);
}

bool PipelineOperations::MigrateView(const std::string& source_database, const std::string& view) {
  std::shared_ptr<SessionHandle> keep_source, keep_target;
  Session* source = SessionFor(Side::kSource, &keep_source);
  Session* target = SessionFor(Side::kTarget, &keep_target);
  return pipeline_.MigrateView(source, target, source_database, view);
}

void PipelineOperations::BackupDatabaseTables(const std::string&) {
  Out("E::Backup is not available in this build");
}
void PipelineOperations::BackupDatabaseViews(const std::string&) {
  Out("E::Backup is not available in this build");
}
bool PipelineOperations::BackupTable(const std::string&, const std::string&) {
  Out("E::Backup is not available in this build");
  return false;
}
bool PipelineOperations::BackupView(const std::string&, const std::string&) {
  Out("E::Backup is not available in this build");
  return false;
}

}  // namespace velquin
