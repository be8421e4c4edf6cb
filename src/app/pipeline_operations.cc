#include "app/pipeline_operations.h"

#include <algorithm>
#include <filesystem>

#include "app/db_session_handle.h"
#include "app/load_verification.h"
#include "db/jet_session.h"
#include "db/statements.h"
#include "log/output_log.h"
#include "log/system_error.h"
#include "migrate/target_objects.h"

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
                [&controller](const std::string& line) { controller.log().Write(line); }),
      default_existing_(pipeline_.settings().existing),
      default_existing_objects_(pipeline_.settings().existing_objects) {}

Result<std::vector<std::string>> TaskPlannedNames(MigrationPipeline& planner, Session* source,
                                                  TaskKind kind, const std::string& database,
                                                  const std::string& object) {
  VELQUIN_ASSIGN_OR_RETURN(auto objects, planner.PlannedObjects(source, database));
  const bool views = !planner.settings().no_views;
  std::vector<std::string> out;
  for (const auto& o : objects) {
    const bool table = o.kind == ObjectKind::kTable;
    bool wanted = false;
    switch (kind) {
      case TaskKind::kCloneDatabase:
      case TaskKind::kConvertDatabase:
        wanted = table || views;
        break;
      case TaskKind::kConvertTables:
        wanted = table;
        break;
      case TaskKind::kConvertViews:
        wanted = !table;
        break;
      case TaskKind::kConvertTable:
        wanted = table && o.source_name == object;
        break;
      case TaskKind::kConvertView:
        wanted = !table && o.source_name == object;
        break;
      default:
        break;
    }
    if (wanted) out.push_back(o.access_name);
  }
  return out;
}

void PipelineOperations::BeginTask(const TaskRecord& record) {
  pipeline_.BeginRun();
  pipeline_.SetExisting(default_existing_, default_existing_objects_);
  task_ = record;
  first_report_ = pipeline_.Reports().size();
  target_checked_ = false;
  target_refused_ = false;
}

void PipelineOperations::Refuse(const std::string& message) {
  Out("E::" + message);
  if (on_message_box) on_message_box(message);
  target_refused_ = true;
}

bool PipelineOperations::TargetReady(Session* source, Session* target,
                                     const std::string& database) {
  if (target_checked_) return !target_refused_;
  target_checked_ = true;
  if (target == nullptr) {
    // Its open failed and said why; nothing would reach the file.
    Out(SystemErrorText(kNoConnection));
    target_refused_ = true;
    return false;
  }
  JetSession* jet = target->AsJetSession();
  if (jet == nullptr || source == nullptr) return true;  // the steps report what is missing
  auto planned = TaskPlannedNames(pipeline_, source, task_.kind, database, task_.source_object);
  if (!planned.ok()) return true;  // the steps list the source again and report it
  std::unique_lock<std::mutex> lock = jet->Lock();
  auto held = ExistingTargetObjects(jet->database(), *planned);
  if (!held.ok()) {
    lock.unlock();
    Refuse("cannot read the target: " + held.status().message());
    return false;
  }
  std::set<std::string, CaseInsensitiveLess> answered;
  if (task_.existing != ExistingObjects::kStop) {
    answered.insert(task_.existing_names.begin(), task_.existing_names.end());
  }
  std::vector<std::string> unasked, chosen;
  for (const std::string& name : *held) {
    if (answered.count(name)) {
      chosen.push_back(name);
    } else if (!default_existing_objects_.count(name)) {
      unasked.push_back(name);
    }
  }
  if (!unasked.empty()) {
    lock.unlock();
    std::string list;
    for (const std::string& name : unasked) list += (list.empty() ? "" : ", ") + name;
    Refuse("Target database [" + task_.target_database + "] already holds " +
           std::to_string(unasked.size()) +
           " of the objects to migrate; nothing was changed: " + list);
    return false;
  }
  if (chosen.empty()) return true;
  if (task_.existing == ExistingObjects::kReplace) {
    std::vector<std::string> lines;
    Status dropped = DropTargetObjects(
        jet->database(), chosen, [&lines](const std::string& line) { lines.push_back(line); });
    lock.unlock();
    for (const std::string& line : lines) Out(line);
    if (!dropped.ok()) {
      Refuse("cannot replace the objects in the target: " + dropped.message());
      return false;
    }
    Out("Replace: " + std::to_string(chosen.size()) + " objects of Target database [" +
        task_.target_database + "] dropped, to be created again.");
    return true;
  }
  lock.unlock();
  std::set<std::string, CaseInsensitiveLess> append = default_existing_objects_;
  append.insert(chosen.begin(), chosen.end());
  pipeline_.SetExisting(PipelineSettings::Existing::kAppend, std::move(append));
  Out("Append: the rows go into the " + std::to_string(chosen.size()) +
      " objects Target database [" + task_.target_database + "] holds already.");
  return true;
}

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
    return HeldSession(keep->get());
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
    return HeldSession(keep->get());
  }
  return SessionIn(controller_.session(side), keep);
}

void PipelineOperations::TaskEnded() {
  if (!target_opener_) return;
  SetTaskTarget(nullptr);
  current_target_.clear();
}

void PipelineOperations::TargetOpenFailed(const Status& status) {
  Out("T::" + status.message());
  // Another program writing the file is the user's to end: the window says
  // so in a box, not only in the log.
  if (status.code() == StatusCode::kBusy && on_message_box) on_message_box(status.message());
}

bool PipelineOperations::SwitchTargetDatabase(const std::string& target_database) {
  if (target_opener_) {
    if (TaskTarget() != nullptr && current_target_ == target_database) return true;
    SetTaskTarget(nullptr);
    auto opened = target_opener_(target_database, false);
    if (!opened.ok()) {
      TargetOpenFailed(opened.status());
      return true;  // as the routines expect; the task's first step fails without a target
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
    TargetOpenFailed(opened.status());
    return true;  // as the routines expect; the task's first step fails without a target
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
  if (!TargetReady(source, target, source_database)) return false;
  const std::size_t before = pipeline_.Reports().size();
  const int walked = pipeline_.ConvertDatabaseTables(source, target, source_database);
  return walked == 0 && AllOk(pipeline_.Reports(), before, ObjectKind::kTable);
}

bool PipelineOperations::ConvertDatabaseViews(const std::string& source_database) {
  std::shared_ptr<SessionHandle> keep_source, keep_target;
  Session* source = SessionFor(Side::kSource, &keep_source);
  Session* target = SessionFor(Side::kTarget, &keep_target);
  if (!TargetReady(source, target, source_database)) return false;
  const std::size_t before = pipeline_.Reports().size();
  const int walked = pipeline_.ConvertDatabaseViews(source, target, source_database);
  return walked == 0 && AllOk(pipeline_.Reports(), before, ObjectKind::kView);
}

bool PipelineOperations::MigrateTable(const std::string& source_database,
                                      const std::string& table) {
  std::shared_ptr<SessionHandle> keep_source, keep_target;
  Session* source = SessionFor(Side::kSource, &keep_source);
  Session* target = SessionFor(Side::kTarget, &keep_target);
  if (!TargetReady(source, target, source_database)) return false;
  return pipeline_.MigrateTable(source, target, source_database, table) == 1 &&
         AllOk(pipeline_.Reports(), pipeline_.Reports().size() - 1, ObjectKind::kTable);
}

bool PipelineOperations::MigrateView(const std::string& source_database, const std::string& view) {
  std::shared_ptr<SessionHandle> keep_source, keep_target;
  Session* source = SessionFor(Side::kSource, &keep_source);
  Session* target = SessionFor(Side::kTarget, &keep_target);
  if (!TargetReady(source, target, source_database)) return false;
  return pipeline_.MigrateView(source, target, source_database, view);
}

bool PipelineOperations::VerifyLoad(const std::string& source_database) {
  std::shared_ptr<SessionHandle> keep_source, keep_target;
  Session* source = SessionFor(Side::kSource, &keep_source);
  Session* target = SessionFor(Side::kTarget, &keep_target);
  JetSession* jet = target != nullptr ? target->AsJetSession() : nullptr;
  Out("Verify Target database [" + task_.target_database + "] against Source database [" +
      source_database + "]:");
  std::vector<MigrationReport> reports = pipeline_.Reports();
  if (task_.existing == ExistingObjects::kAppend) {
    // Rows appended to the rows a table held already cannot equal the
    // server's: such tables are left out, and said so.
    const std::set<std::string, CaseInsensitiveLess> appended(task_.existing_names.begin(),
                                                              task_.existing_names.end());
    for (std::size_t i = first_report_; i < reports.size(); ++i) {
      if (!appended.count(reports[i].access_name)) continue;
      Out("Verify [" + reports[i].source_name +
          "]: not compared: the rows were appended to the rows the file held already");
      reports[i].status = "appended";
    }
  }
  const LoadVerification v = VerifyLoadedReports(
      pipeline_, source, jet ? &jet->database() : nullptr, "the target file is not open",
      source_database, reports, std::min(first_report_, reports.size()),
      [this](const MigrationReport& r, bool equal) {
        Out(std::string(equal ? "" : "E::") + "Verify " +
            (r.kind == ObjectKind::kView ? "view" : "table") + " [" + r.source_name +
            "]: " + r.verified);
      },
      [jet] { return jet->Lock(); });
  Out(std::string(v.all_equal() ? "" : "E::") + LoadVerificationText(v));
  return v.all_equal();
}

backup::Backup& PipelineOperations::BackupNow() {
  const std::string folder = controller_.BackupFolder();
  if (!backup_ || folder != backup_folder_) {
    // No folder chosen: "backup" in the program's folder.
    std::filesystem::path root = folder;
    if (folder.empty()) {
      std::error_code ec;
      const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
      root = (ec ? std::filesystem::current_path(ec) : exe.parent_path()) / "backup";
    }
    if (!backup_) {
      backup::BackupOptions options;
      options.out = [this](const std::string& line) { Out(line); };
      options.stop_requested = [this] { return controller_.run_state().StopRequested(); };
      // A single table's task shows its rows as they are written (up to 75).
      options.rows_progress = [this](const std::string& table, std::uint64_t rows,
                                     std::uint64_t expected) {
        if (expected == 0) return;
        for (const TaskRecord& r : controller_.queue().Snapshot()) {
          if (r.state_text == kStateWorking && r.kind == TaskKind::kBackupObject &&
              r.target_object == table) {
            const auto percent = static_cast<int32_t>(75 * std::min(rows, expected) / expected);
            if (percent > r.progress) controller_.queue().SetProgress(r.id, percent);
          }
        }
      };
      backup_ = std::make_unique<backup::Backup>(root, options);
    } else {
      backup_->SetRoot(root);
    }
    backup_folder_ = folder;
  }
  backup_->set_write_data(controller_.AutoBackup());
  backup_->ClearReports();
  return *backup_;
}

bool PipelineOperations::BackupDatabaseTables(const std::string& target_database) {
  std::shared_ptr<SessionHandle> keep;
  Session* target = SessionIn(controller_.session(Side::kTarget), &keep);
  backup::Backup& b = BackupNow();
  return b.BackupDatabaseTables(target, target_database) == 0 && b.AllDone() &&
         !controller_.run_state().StopRequested();
}

bool PipelineOperations::BackupDatabaseViews(const std::string& target_database) {
  std::shared_ptr<SessionHandle> keep;
  Session* target = SessionIn(controller_.session(Side::kTarget), &keep);
  backup::Backup& b = BackupNow();
  return b.BackupDatabaseViews(target, target_database) == 0 && b.AllDone() &&
         !controller_.run_state().StopRequested();
}

bool PipelineOperations::BackupTable(const std::string& target_database, const std::string& table) {
  std::shared_ptr<SessionHandle> keep;
  Session* target = SessionIn(controller_.session(Side::kTarget), &keep);
  return BackupNow().BackupTable(target, target_database, table) == 1;
}

bool PipelineOperations::BackupView(const std::string& target_database, const std::string& view) {
  std::shared_ptr<SessionHandle> keep;
  Session* target = SessionIn(controller_.session(Side::kTarget), &keep);
  return BackupNow().BackupView(target, target_database, view) == 1;
}

}  // namespace velquin
