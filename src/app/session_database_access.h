// SessionDatabaseAccess: the main window's database side over real sessions.
//
// Connect reads the two connection settings from migrator.cfg at each use;
// the source is opened over ODBC (ConnectSource), the target over our Jet
// engine (ConnectTarget). The open sessions live in the controller's session
// places, where the task routines find them too; the trees list them through
// SessionCatalogSource, which looks the session up at each query, so a
// target switched by a task is listed from its new file.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/commands.h"
#include "app/main_controller.h"
#include "app/pipeline_operations.h"
#include "base/connection_descriptor.h"
#include "catalog/session_catalog_source.h"
#include "config/condition_file.h"
#include "config/migrator_config.h"
#include "db/session.h"

namespace velquin {

// The provider's ProgID for a provider display name (compared without
// regard to case; any other text is its own ProgID).
std::string ProviderProgId(std::string_view display_name);

// One side's stored settings as a connection descriptor. Names keep their
// case: database names and file paths are case-sensitive on this platform.
ConnectionDescriptor DescriptorFromSettings(const ConnectionSettings& settings);

// Creates an empty Access database file (it must not exist).
Status CreateAccessFile(const std::string& path);

// The .mdb file a task's target database name stands for: ".mdb" is added
// when the name has none, and a name without a folder goes into `folder`.
std::filesystem::path TargetDatabaseFile(const std::string& database,
                                         const std::filesystem::path& folder);

class SessionDatabaseAccess : public DatabaseAccess {
 public:
  // Creates `condition_file` empty when it is missing.
  SessionDatabaseAccess(MainController& controller, std::filesystem::path config_file,
                        std::filesystem::path condition_file);

  Result<std::string> Connect(Side side, DbTree& tree) override;
  Status UseDatabase(Side side, const std::string& name) override;
  Status DropDatabase(const std::string& name) override;
  Status DropTable(const std::string& table) override;
  Status DropView(const std::string& view) override;
  Status RenameTable(const std::string& old_name, const std::string& new_name) override;
  std::string TableCondition(const std::string& database, const std::string& table) override;
  bool TargetBusy() override;
  // Lists the source on the window's session and reads the target file (the
  // window's session on it, or the file opened for the call); unchecked
  // while a running task has that file open.
  Result<HeldTargetObjects> HeldObjects(const TaskRequest& task) override;
  // Plans a database task on the window's source session (any thread; the
  // window waits for it).
  Result<std::optional<TaskPlanPreview>> PlanTask(const TaskRequest& task) override;
  // The size a planned file may reach (Access's 2 GB); tests set less.
  void SetPlanSizeLimit(uint64_t bytes) { plan_size_limit_ = bytes; }
  Status TestConnection(Side side, const ConnectionDescriptor& descriptor) override;
  void UseDescriptors(const ConnectionDescriptor& source,
                      const ConnectionDescriptor& target) override;
  Status CreateDatabase(const std::string& path) override;
  Status ClearTable(const std::string& table) override;
  bool PrintSourceQuery(const std::string& sql, bool report) override;
  std::string SourceQueryValue(const std::string& sql) override;
  Status SaveCondition(const std::string& database, const std::string& table,
                       const std::string& condition) override;

  // Opens (or, with `create`, creates) the Access database a task names; the
  // opener the pipeline's task operations use.
  Result<std::unique_ptr<Session>> OpenTargetDatabase(const std::string& database, bool create);
  // The same as a shared session: a file that the window or a task has open
  // already is not opened a second time (both then use one session, whose
  // lock serialises them).
  Result<std::shared_ptr<SessionHandle>> OpenTargetShared(const std::string& database, bool create);
  // A new connection to the source with the window's connection settings,
  // for the tasks.
  Result<std::shared_ptr<SessionHandle>> OpenTaskSource();
  // Where the running tasks' target session is found (for TargetBusy).
  void SetTaskTargetProbe(std::function<std::shared_ptr<SessionHandle>()> probe) {
    task_target_probe_ = std::move(probe);
  }

  // Creates the target .mdb that migrator.cfg names when it does not exist.
  Status CreateConfiguredTarget();

  const std::filesystem::path& config_file() const { return config_file_; }
  const ConditionFile& conditions() const { return conditions_; }

 private:
  void Out(const std::string& line);
  // The side's current session (null when not connected).
  std::shared_ptr<Session> SessionOf(Side side) const;

  MainController& controller_;
  std::filesystem::path config_file_;
  ConditionFile conditions_;
  SessionCatalogSource source_catalog_;
  SessionCatalogSource target_catalog_;
  std::filesystem::path TargetFolder() const;
  mutable std::mutex folder_mu_;
  std::filesystem::path target_folder_;  // the connected target file's folder
  // Target files open in this process, by path.
  std::map<std::string, std::weak_ptr<SessionHandle>> open_targets_;
  std::shared_ptr<SessionHandle> Register(const std::string& path,
                                          std::shared_ptr<SessionHandle> handle);
  std::function<std::shared_ptr<SessionHandle>()> task_target_probe_;
  // Set by the configuration dialog; otherwise Connect reads migrator.cfg.
  std::optional<ConnectionDescriptor> given_[2];
  uint64_t plan_size_limit_ = kJetSizeLimit;
};

// The pipeline's task operations for the window: after a task the target
// tree is listed again through `on_refill` (set before the worker starts).
class WindowPipelineOperations : public PipelineOperations {
 public:
  using PipelineOperations::PipelineOperations;
  // The refill is posted once the task has let go of its target file, so
  // that the window does not find the file busy.
  void RefillTargetTree() override { refill_pending_ = true; }
  void TaskEnded() override {
    PipelineOperations::TaskEnded();
    if (refill_pending_ && on_refill) on_refill();
    refill_pending_ = false;
  }
  std::function<void()> on_refill;

 private:
  bool refill_pending_ = false;  // worker thread only
};

// The pipeline's settings for the window: statement, data and rejects files
// go to `data_dir`, row conditions come from `access`'s Condition.cfg, rows
// go through the Jet fast path, and a running task shows its copied rows as
// progress (a single table's rows, or a database's tables and their rows).
PipelineSettings WindowPipelineSettings(MainController& controller, SessionDatabaseAccess& access,
                                        const std::filesystem::path& data_dir);
// Tasks get sessions of their own from `access` (a connection to the source,
// the target file shared with the window only when both have it open), and
// `access` learns which target the tasks hold.
void GiveTasksOwnSessions(PipelineOperations& ops, SessionDatabaseAccess& access);
// Task operations over `access`'s sessions with those settings.
std::shared_ptr<WindowPipelineOperations> MakeWindowPipelineOperations(
    MainController& controller, SessionDatabaseAccess& access,
    const std::filesystem::path& data_dir);

}  // namespace velquin
