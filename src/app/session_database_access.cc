#include "app/session_database_access.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <system_error>

#include "app/db_session_handle.h"
#include "app/task_plan.h"
#include "base/text.h"
#include "db/access_operations.h"
#include "db/jet_session.h"
#include "db/source_connection.h"
#include "db/statements.h"
#include "log/output_log.h"
#include "migrate/jet_row_inserter.h"
#include "migrate/target_objects.h"

namespace velquin {
namespace {}  // namespace

std::string ProviderProgId(std::string_view display_name) {
  static constexpr std::pair<std::string_view, std::string_view> kMap[] = {
      {"Microsoft OLE DB Provider for ODBC Divers", "MSDASQL"},
      {"TCP/IP:Port", "MSDASQL"},
      {"Microsoft Jet 4.0 OLE DB Provider", "Microsoft.Jet.OLEDB.4.0"},
      {"Microsoft Jet 3.51 OLE DB Provider", "Microsoft.Jet.OLEDB.4.0"},
      {"Driver do Microsoft Access", "MSDASQL"},
      {"Microsoft Access Driver", "MSDASQL"},
  };
  for (const auto& [display, prog_id] : kMap) {
    if (EqualsIgnoreCase(display, display_name)) return std::string(prog_id);
  }
  return std::string(display_name);
}

ConnectionDescriptor DescriptorFromSettings(const ConnectionSettings& settings) {
  ConnectionDescriptor d;
  d.provider_display_name = settings.provider;
  d.provider_prog_id = ProviderProgId(settings.provider);
  d.source_name = settings.source_name;
  d.user_id = settings.user_id;
  d.password = settings.password;
  d.catalog = settings.catalog_name;
  return d;
}

Status CreateAccessFile(const std::string& path) {
  VELQUIN_ASSIGN_OR_RETURN(std::unique_ptr<JetSession> created, JetSession::Open(path, true));
  return Status::Ok();
}

std::filesystem::path TargetDatabaseFile(const std::string& database,
                                         const std::filesystem::path& folder) {
  std::string name = database;
  if (name.find(".mdb") == std::string::npos) name += ".mdb";
  std::filesystem::path path(name);
  if (!path.has_parent_path() && !folder.empty()) path = folder / path;
  return path;
}

SessionDatabaseAccess::SessionDatabaseAccess(MainController& controller,
                                             std::filesystem::path config_file,
                                             std::filesystem::path condition_file)
    : controller_(controller),
      config_file_(std::move(config_file)),
      conditions_(std::move(condition_file)),
      source_catalog_([this] { return SessionOf(Side::kSource); }),
      target_catalog_([this] { return SessionOf(Side::kTarget); }) {
  // The condition dialog and the source tree's tool tips read this file.
  if (Status st = conditions_.EnsureExists(); !st.ok()) Out("E::" + st.message());
}

void SessionDatabaseAccess::Out(const std::string& line) { controller_.log().Write(line); }

std::shared_ptr<Session> SessionDatabaseAccess::SessionOf(Side side) const {
  std::shared_ptr<SessionHandle> keep;
  Session* session = SessionIn(controller_.session(side), &keep);
  if (session == nullptr) return nullptr;
  return std::shared_ptr<Session>(keep, session);
}

Result<std::string> SessionDatabaseAccess::Connect(Side side, DbTree& tree) {
  const LineSink out = [this](const std::string& line) { Out(line); };
  controller_.session(side).Reset();
  MigratorConfig config;
  if (!given_[0] || !given_[1]) {
    VELQUIN_ASSIGN_OR_RETURN(config, LoadMigratorConfig(config_file_));
    controller_.SetAutoBackup(config.options.auto_backup);
  }
  if (side == Side::kSource) {
    ConnectionDescriptor descriptor =
        given_[0] ? *given_[0] : DescriptorFromSettings(config.source);
    if (descriptor.source_name.empty()) {
      return Status::InvalidArgument("No source connection in " + config_file_.string());
    }
    SourceConnectResult connected = ConnectSource(descriptor, out);
    if (!connected.session) {
      return connected.status.ok() ? Status::IOError(connected.message_box) : connected.status;
    }
    std::string dbms = connected.dbms_name;
    if (dbms.empty()) dbms = GetServerVersion(connected.session.get(), out);
    controller_.session(Side::kSource)
        .Set(std::make_shared<DbSessionHandle>(std::move(connected.session)));
    controller_.descriptor(Side::kSource) = descriptor;
    tree.set_source(&source_catalog_);
    tree.set_provider(descriptor.provider_prog_id);
    tree.set_catalog_name(descriptor.catalog);
    return dbms;
  }

  TargetContext target;
  target.descriptor = given_[1] ? *given_[1] : DescriptorFromSettings(config.target);
  if (target.descriptor.source_name.empty()) {
    return Status::InvalidArgument("No target connection in " + config_file_.string());
  }
  if (!ConnectTarget(target, out)) {
    if (target.failure.code() == StatusCode::kBusy) return target.failure;  // names the file
    return Status::IOError("Cannot open the Access database " + target.descriptor.source_name);
  }
  std::string dbms = target.descriptor.dbms_name;
  if (dbms.empty()) dbms = AccessDbmsName(target.session.get(), out);
  {
    std::lock_guard<std::mutex> lock(folder_mu_);
    target_folder_ = std::filesystem::path(target.session->path()).parent_path();
  }
  const std::string opened_path = target.session->path();
  controller_.session(Side::kTarget)
      .Set(Register(opened_path, std::make_shared<DbSessionHandle>(std::move(target.session))));
  controller_.descriptor(Side::kTarget) = target.descriptor;
  tree.set_source(&target_catalog_);
  tree.set_provider(target.descriptor.provider_prog_id);
  tree.set_catalog_name(target.current_path);
  return dbms;
}

Status SessionDatabaseAccess::UseDatabase(Side side, const std::string& name) {
  const LineSink out = [this](const std::string& line) { Out(line); };
  if (side == Side::kSource) {
    std::shared_ptr<Session> session = SessionOf(Side::kSource);
    if (!SelectDatabase(session.get(), name, out)) {
      return Status::IOError("Cannot use the database " + name);
    }
    return Status::Ok();
  }
  // A target database is a file: switching opens it in place of the old one
  // (or shares the session a task has open on it).
  VELQUIN_ASSIGN_OR_RETURN(std::shared_ptr<SessionHandle> session, OpenTargetShared(name, false));
  controller_.session(Side::kTarget).Set(std::move(session));
  return Status::Ok();
}

Status SessionDatabaseAccess::CreateConfiguredTarget() {
  VELQUIN_ASSIGN_OR_RETURN(MigratorConfig config, LoadMigratorConfig(config_file_));
  const std::string& path = config.target.source_name;
  if (path.empty())
    return Status::InvalidArgument("No target connection in " + config_file_.string());
  if (std::filesystem::exists(path)) return Status::Ok();
  Out("Create Access MDB File [" + path + "]");
  VELQUIN_ASSIGN_OR_RETURN(std::unique_ptr<JetSession> created, JetSession::Open(path, true));
  return Status::Ok();
}

std::filesystem::path SessionDatabaseAccess::TargetFolder() const {
  std::lock_guard<std::mutex> lock(folder_mu_);
  return target_folder_;
}

Result<std::unique_ptr<Session>> SessionDatabaseAccess::OpenTargetDatabase(
    const std::string& database, bool create) {
  const std::filesystem::path file = TargetDatabaseFile(database, TargetFolder());
  if (create) Out("Create Access MDB File [" + file.string() + "]");
  VELQUIN_ASSIGN_OR_RETURN(std::unique_ptr<JetSession> session,
                           JetSession::Open(file.string(), create));
  return std::unique_ptr<Session>(std::move(session));
}

std::shared_ptr<SessionHandle> SessionDatabaseAccess::Register(
    const std::string& path, std::shared_ptr<SessionHandle> handle) {
  std::lock_guard<std::mutex> lock(folder_mu_);
  for (auto it = open_targets_.begin(); it != open_targets_.end();) {
    it = it->second.expired() ? open_targets_.erase(it) : std::next(it);
  }
  open_targets_[path] = handle;
  return handle;
}

Result<std::shared_ptr<SessionHandle>> SessionDatabaseAccess::OpenTargetShared(
    const std::string& database, bool create) {
  const std::string path = TargetDatabaseFile(database, TargetFolder()).string();
  if (!create) {
    std::lock_guard<std::mutex> lock(folder_mu_);
    auto it = open_targets_.find(path);
    if (it != open_targets_.end()) {
      if (std::shared_ptr<SessionHandle> open = it->second.lock()) return open;
    }
  }
  VELQUIN_ASSIGN_OR_RETURN(std::unique_ptr<Session> session, OpenTargetDatabase(database, create));
  return Register(path, std::make_shared<DbSessionHandle>(std::move(session)));
}

Result<std::shared_ptr<SessionHandle>> SessionDatabaseAccess::OpenTaskSource() {
  ConnectionDescriptor descriptor = controller_.descriptor(Side::kSource);
  if (descriptor.source_name.empty()) return Status::InvalidArgument("The source is not connected");
  // Its connect lines would only repeat the window's.
  SourceConnectResult connected = ConnectSource(descriptor, [](const std::string&) {});
  if (!connected.session) {
    return connected.status.ok() ? Status::IOError(connected.message_box) : connected.status;
  }
  std::unique_ptr<Session> session = std::move(connected.session);
  return std::shared_ptr<SessionHandle>(std::make_shared<DbSessionHandle>(std::move(session)));
}

void SessionDatabaseAccess::UseDescriptors(const ConnectionDescriptor& source,
                                           const ConnectionDescriptor& target) {
  given_[0] = source;
  given_[1] = target;
}

Status SessionDatabaseAccess::TestConnection(Side side, const ConnectionDescriptor& descriptor) {
  if (side == Side::kSource) {
    ConnectionDescriptor d = descriptor;
    SourceConnectResult connected = ConnectSource(d, [](const std::string&) {});
    if (connected.session) return Status::Ok();
    return connected.status.ok() ? Status::IOError(connected.message_box) : connected.status;
  }
  if (descriptor.source_name.empty()) return Status::InvalidArgument("No database file given");
  if (!std::filesystem::exists(descriptor.source_name)) {
    return Status::NotFound("The file " + descriptor.source_name + " does not exist");
  }
  VELQUIN_ASSIGN_OR_RETURN(std::unique_ptr<JetSession> opened,
                           JetSession::Open(descriptor.source_name, false));
  return Status::Ok();
}

bool SessionDatabaseAccess::TargetBusy() {
  if (controller_.run_state().IsIdle() || !task_target_probe_) return false;
  std::shared_ptr<SessionHandle> task = task_target_probe_();
  return task != nullptr && task == controller_.session(Side::kTarget).Get();
}

Result<HeldTargetObjects> SessionDatabaseAccess::HeldObjects(const TaskRequest& task) {
  HeldTargetObjects held;
  // A clone makes a new file.
  if (task.type != TaskType::kMigration || task.kind == TaskKind::kCloneDatabase) return held;
  const std::string path = TargetDatabaseFile(task.target_database, TargetFolder()).string();
  if (!std::filesystem::exists(path)) return held;  // the task reports the missing file
  if (!controller_.run_state().IsIdle() && task_target_probe_) {
    const std::shared_ptr<SessionHandle> probe = task_target_probe_();  // kept while looked at
    Session* running = HeldSession(probe.get());
    JetSession* jet = running ? running->AsJetSession() : nullptr;
    // Looking would wait for the running task's statements.
    if (jet != nullptr && jet->path() == path) return held;
  }
  std::shared_ptr<Session> source = SessionOf(Side::kSource);
  if (source == nullptr) return held;
  MigrationPipeline planner(PipelineSettings{}, nullptr);
  auto planned =
      TaskPlannedNames(planner, source.get(), task.kind, task.source_database, task.source_object);
  if (!planned.ok()) return held;  // the task lists the source again and reports it
  VELQUIN_ASSIGN_OR_RETURN(std::shared_ptr<SessionHandle> handle,
                           OpenTargetShared(task.target_database, false));
  Session* opened = HeldSession(handle.get());
  JetSession* jet = opened ? opened->AsJetSession() : nullptr;
  if (jet == nullptr) return held;
  std::unique_lock<std::mutex> lock = jet->Lock();
  VELQUIN_ASSIGN_OR_RETURN(held.names, ExistingTargetObjects(jet->database(), *planned));
  held.checked = true;
  return held;
}

Result<std::optional<TaskPlanPreview>> SessionDatabaseAccess::PlanTask(const TaskRequest& task) {
  if (task.type != TaskType::kMigration || !IsDatabaseTaskKind(task.kind)) {
    return std::optional<TaskPlanPreview>{};
  }
  std::shared_ptr<Session> source = SessionOf(Side::kSource);
  if (source == nullptr) return Status::InvalidArgument("the source is not connected");
  // As the task's run will: its row conditions, and no views for the tables alone.
  PipelineSettings settings;
  settings.condition_file = conditions_.path();
  settings.no_views = task.kind == TaskKind::kConvertTables;
  MigrationPipeline planner(settings, nullptr);
  VELQUIN_ASSIGN_OR_RETURN(MigrationPlan plan,
                           planner.Plan(source.get(), task.source_database, plan_size_limit_));
  return std::optional<TaskPlanPreview>(MakeTaskPlanPreview(plan));
}

Status SessionDatabaseAccess::CreateDatabase(const std::string& path) {
  if (std::filesystem::exists(path)) {
    return Status::InvalidArgument("The file " + path + " exists already");
  }
  Out("Create Access MDB File [" + path + "]");
  VELQUIN_ASSIGN_OR_RETURN(std::shared_ptr<SessionHandle> session, OpenTargetShared(path, true));
  {
    std::lock_guard<std::mutex> lock(folder_mu_);
    target_folder_ = std::filesystem::path(path).parent_path();
  }
  controller_.session(Side::kTarget).Set(std::move(session));
  return Status::Ok();
}

Status SessionDatabaseAccess::ClearTable(const std::string& table) {
  std::shared_ptr<Session> session = SessionOf(Side::kTarget);
  if (session == nullptr) return Status::InvalidArgument(std::string(kNoConnection));
  Result<ExecuteOutcome> done = session->Execute("DELETE FROM [" + table + "]");
  if (!done.ok()) {
    Out("T::" + done.status().message());
    return done.status();
  }
  Out("Delete all the data of [" + table + "]!");
  return Status::Ok();
}

bool SessionDatabaseAccess::PrintSourceQuery(const std::string& sql, bool report) {
  std::shared_ptr<Session> session = SessionOf(Side::kSource);
  return PrintQuery(controller_.log(), session.get(), sql, report);
}

std::string SessionDatabaseAccess::SourceQueryValue(const std::string& sql) {
  std::shared_ptr<Session> session = SessionOf(Side::kSource);
  return QueryValue(controller_.log(), session.get(), sql, false);
}

Status SessionDatabaseAccess::SaveCondition(const std::string& database, const std::string& table,
                                            const std::string& condition) {
  return conditions_.Write(database, table, condition);
}

Status SessionDatabaseAccess::DropDatabase(const std::string& name) {
  const std::filesystem::path file = TargetDatabaseFile(name, TargetFolder());
  if (std::shared_ptr<Session> current = SessionOf(Side::kTarget)) {
    JetSession* jet = current->AsJetSession();
    if (jet != nullptr && std::filesystem::path(jet->path()) == file) {
      Out(std::string(kConnectedDatabaseDropped));
      controller_.session(Side::kTarget).Reset();
    }
  }
  std::error_code ec;
  if (!std::filesystem::remove(file, ec)) {
    const std::string why = ec ? ec.message() : "no such file";
    Out("E::Drop Database: " + why);
    return Status::IOError("Cannot remove " + file.string() + ": " + why);
  }
  Out(std::string(kDropDatabaseSuccess));
  return Status::Ok();
}

Status SessionDatabaseAccess::DropTable(const std::string& table) {
  std::shared_ptr<Session> session = SessionOf(Side::kTarget);
  if (!DropAccessTable(session.get(), table, [this](const std::string& l) { Out(l); })) {
    return Status::IOError("Cannot drop the table " + table);
  }
  return Status::Ok();
}

Status SessionDatabaseAccess::DropView(const std::string& view) {
  std::shared_ptr<Session> session = SessionOf(Side::kTarget);
  if (!DropAccessView(session.get(), view, [this](const std::string& l) { Out(l); })) {
    return Status::IOError("Cannot drop the view " + view);
  }
  return Status::Ok();
}

Status SessionDatabaseAccess::RenameTable(const std::string& old_name,
                                          const std::string& new_name) {
  std::shared_ptr<Session> session = SessionOf(Side::kTarget);
  if (!RenameAccessTable(session.get(), old_name, new_name,
                         [this](const std::string& l) { Out(l); })) {
    return Status::IOError("Cannot rename the table " + old_name);
  }
  return Status::Ok();
}

std::string SessionDatabaseAccess::TableCondition(const std::string& database,
                                                  const std::string& table) {
  Result<std::string> condition = conditions_.Read(database, table);
  if (!condition.ok()) {
    Out("E::" + condition.status().message());
    return std::string();
  }
  return *condition;
}

PipelineSettings WindowPipelineSettings(MainController& controller, SessionDatabaseAccess& access,
                                        const std::filesystem::path& data_dir) {
  PipelineSettings settings;
  settings.data_dir = data_dir;
  settings.condition_file = access.conditions().path();
  settings.inserter_factory = JetRowInserterFactory();
  // A single table's task shows its rows as they are copied (5 to 95). A
  // task over all tables of a database moves through its tables' share (up
  // to 50 where views follow, else up to 90) table by table and, within a
  // table, row by row; it never goes back.
  // The running task's rows copied so far (for its time left) are those of
  // the tables done before the current one and the current one's.
  struct Place {
    std::size_t index = 0;
    std::size_t count = 0;
    uint64_t rows_before = 0;
    uint64_t current_read = 0;
  };
  auto place = std::make_shared<Place>();
  auto tables_share = [](TaskKind kind) -> int32_t {
    switch (kind) {
      case TaskKind::kConvertDatabase:
      case TaskKind::kCloneDatabase:
        return 50;
      case TaskKind::kConvertTables:
        return 90;
      default:
        return 0;
    }
  };
  auto advance = [&controller, place, tables_share](double within_table) {
    if (place->count == 0) return;
    for (const TaskRecord& r : controller.queue().Snapshot()) {
      const int32_t share = tables_share(r.kind);
      if (r.state_text != kStateWorking || share == 0) continue;
      const auto percent =
          static_cast<int32_t>(share * (static_cast<double>(place->index) + within_table) /
                               static_cast<double>(place->count));
      if (percent > r.progress) controller.queue().SetProgress(r.id, percent);
    }
  };
  settings.table_started = [place, advance](std::size_t index, std::size_t count) {
    place->rows_before = index == 0 ? 0 : place->rows_before + place->current_read;
    place->current_read = 0;
    place->index = index;
    place->count = count;
    advance(0.0);
  };
  settings.rows_progress = [&controller, advance, place, tables_share](
                               const std::string& table, uint64_t read, uint64_t expected) {
    place->current_read = read;
    for (const TaskRecord& r : controller.queue().Snapshot()) {
      if (r.state_text != kStateWorking) continue;
      if (r.kind == TaskKind::kConvertTable && r.source_object == table) {
        controller.queue().SetRows(r.id, read, expected);
      } else if (tables_share(r.kind) != 0) {
        controller.queue().SetRows(r.id, place->rows_before + read, 0);
      }
    }
    if (expected == 0) return;
    for (const TaskRecord& r : controller.queue().Snapshot()) {
      if (r.state_text == kStateWorking && r.kind == TaskKind::kConvertTable &&
          r.source_object == table) {
        controller.queue().SetProgress(
            r.id, 5 + static_cast<int32_t>(90 * std::min(read, expected) / expected));
      }
    }
    advance(static_cast<double>(std::min(read, expected)) / static_cast<double>(expected));
  };
  return settings;
}

void GiveTasksOwnSessions(PipelineOperations& ops, SessionDatabaseAccess& access) {
  ops.SetTaskSessions([&access] { return access.OpenTaskSource(); },
                      [&access](const std::string& database, bool create) {
                        return access.OpenTargetShared(database, create);
                      });
  access.SetTaskTargetProbe([&ops] { return ops.TaskTarget(); });
}

std::shared_ptr<WindowPipelineOperations> MakeWindowPipelineOperations(
    MainController& controller, SessionDatabaseAccess& access,
    const std::filesystem::path& data_dir) {
  auto ops = std::make_shared<WindowPipelineOperations>(
      controller, WindowPipelineSettings(controller, access, data_dir),
      [&access](const std::string& database, bool create) {
        return access.OpenTargetDatabase(database, create);
      });
  GiveTasksOwnSessions(*ops, access);
  return ops;
}

}  // namespace velquin
