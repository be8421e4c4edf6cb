// The window over real sides: the private MariaDB as the source and an .mdb
// file written by our Jet engine as the target, connected from migrator.cfg.
// What the tasks write is read back with mdbtools, an independent reader.
// Skipped when VELQUIN_MYSQL_* is not set (scripts/mariadb-private).
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "app/db_session_handle.h"
#include "app/session_database_access.h"
#include "app/tree_commands.h"
#include "db/jet_session.h"
#include "gui_test_support.h"
#include "jet/database.h"
#include "log/output_log.h"
#include "mysql_test_support.h"
#include "tasks/task_routines.h"
#include "ui/config_dialog.h"
#include "ui/main_window.h"
#include "ui/plan_dialog.h"
#include "ui/small_dialogs.h"

namespace velquin::ui {
namespace {

namespace fs = std::filesystem;
using testing_support::App;
using testing_support::ScriptedBoxes;
using testing_support::WhenOpen;

// Output of a command line (stdout only); empty when it could not run.
std::string RunCommandLine(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  std::array<char, 4096> buf;
  for (size_t n; (n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0;) out.append(buf.data(), n);
  ::pclose(pipe);
  return out;
}
std::string Quoted(const std::string& s) { return "'" + s + "'"; }
// The table names mdb-tables reads from the file, one per line.
std::vector<std::string> MdbTables(const fs::path& file) {
  std::vector<std::string> names;
  std::string text = RunCommandLine("mdb-tables -1 " + Quoted(file.string()) + " 2>/dev/null");
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (end > at) names.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return names;
}
std::string MdbExport(const fs::path& file, const std::string& table) {
  return RunCommandLine("mdb-export -H " + Quoted(file.string()) + " " + Quoted(table) +
                        " 2>/dev/null");
}
bool Contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

// The real operations, with a gate before each table step when asked.
class GatedPipeline : public WindowPipelineOperations {
 public:
  using WindowPipelineOperations::WindowPipelineOperations;
  bool MigrateTable(const std::string& db, const std::string& table) override {
    {
      std::unique_lock<std::mutex> lock(mu_);
      arrived_ = true;
      cv_.notify_all();
      cv_.wait(lock, [this] { return open_; });
    }
    return WindowPipelineOperations::MigrateTable(db, table);
  }
  bool VerifyLoad(const std::string& db) override {
    if (before_verify) before_verify(*this);
    return WindowPipelineOperations::VerifyLoad(db);
  }
  // Runs on the worker thread between the load and its verification.
  std::function<void(GatedPipeline&)> before_verify;
  bool ConvertDatabaseTables(const std::string& db) override {
    {
      std::unique_lock<std::mutex> lock(mu_);
      arrived_ = true;
      cv_.notify_all();
      cv_.wait(lock, [this] { return open_; });
    }
    return WindowPipelineOperations::ConvertDatabaseTables(db);
  }
  void Rearm() {
    std::lock_guard<std::mutex> lock(mu_);
    arrived_ = false;
    open_ = false;
  }
  bool WaitArrived() {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(20), [this] { return arrived_; });
  }
  void Open(bool open) {
    std::lock_guard<std::mutex> lock(mu_);
    open_ = open;
    cv_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool arrived_ = false;
  bool open_ = true;
};

class RealSidesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto server = testing::MySqlFromEnv();
    if (!server) GTEST_SKIP() << "VELQUIN_MYSQL_* not set (scripts/mariadb-private)";
    if (testing::MariaDbDriverLibrary().empty()) GTEST_SKIP() << "no MariaDB Connector/ODBC";
    if (RunCommandLine("command -v mdb-export").empty())
      GTEST_SKIP() << "mdbtools is not installed";
    App();
    source_db_ = testing::TestDatabase::Create(*server, "gui");
    ASSERT_NE(source_db_, nullptr);
    source_db_->Exec(
        "CREATE TABLE customers (id INT PRIMARY KEY, name VARCHAR(40) NOT NULL, "
        "KEY ix_name (name, id))");
    source_db_->Exec("INSERT INTO customers VALUES (1,'Ada'),(2,'Grace'),(3,'Linus')");
    source_db_->Exec(
        "CREATE TABLE orders (id INT PRIMARY KEY, customer_id INT, total DECIMAL(10,2))");
    source_db_->Exec("INSERT INTO orders VALUES (10,1,12.50),(11,2,99.99),(12,1,NULL)");
    source_db_->Exec("CREATE TABLE `order lines` (order_id INT, sku VARCHAR(10))");
    source_db_->Exec("INSERT INTO `order lines` VALUES (10,'A-1'),(11,'B-2')");
    source_db_->Exec("CREATE VIEW big_orders AS SELECT id, total FROM orders WHERE total > 50");

    dir_ = fs::temp_directory_path() / testing::UniqueName("velquin_gui");
    fs::create_directories(dir_);
    target_file_ = dir_ / "target.mdb";
    {
      auto jet = JetSession::Open(target_file_.string(), true);
      ASSERT_TRUE(jet.ok()) << jet.status().message();
      ASSERT_TRUE((*jet)->Execute("CREATE TABLE existing (id INTEGER, note TEXT(20))").ok());
    }
    std::ofstream cfg(dir_ / "migrator.cfg");
    cfg << "[Public]\nConfig=true\nTips=false\nAutoBackup=false\n"
        << "[SourceDB]\nProvider=TCP/IP:Port\nSourceName=" << server->host << ":" << server->port
        << "\nUserID=" << server->user << "\nPassWord=" << server->password
        << "\nCatalogName=" << source_db_->name() << "\n"
        << "[TargetDB]\nProvider=Microsoft Jet 4.0 OLE DB Provider\nSourceName="
        << target_file_.string() << "\nUserID=\nPassWord=\nCatalogName=\n";
    cfg.close();

    MainControllerOptions o;
    o.timings.thread_start_wait = std::chrono::milliseconds(1);
    o.timings.pass_interval = std::chrono::milliseconds(20);
    o.timings.routine_wait = std::chrono::milliseconds(1);
    o.timings.start_worker_wait = std::chrono::milliseconds(1);
    controller_ = std::make_unique<MainController>(log_, o);
    access_ = std::make_unique<SessionDatabaseAccess>(*controller_, dir_ / "migrator.cfg",
                                                      dir_ / "Condition.cfg");
    fs::create_directories(dir_ / "data_cache");
    PipelineSettings settings = WindowPipelineSettings(*controller_, *access_, dir_ / "data_cache");
    SessionDatabaseAccess* access = access_.get();
    ops_ = std::make_shared<GatedPipeline>(*controller_, settings,
                                           [access](const std::string& db, bool create) {
                                             return access->OpenTargetDatabase(db, create);
                                           });
    GiveTasksOwnSessions(*ops_, *access_);
    controller_->SetTaskOperations(ops_);
    host_ = std::make_unique<ControllerHost>(*controller_, *access_);
    window_ = std::make_unique<MainWindow>(host_.get());
    ops_->on_refill = window_->TargetRefillPoster();
    ops_->on_message_box = window_->MessageBoxPoster();
    window_->SetMessageBoxes(&boxes_);
    // Database tasks show their plan first: each plan dialog is kept and
    // answered with Start (or Cancel when `start_plans_` is false).
    plan_poll_ = std::make_unique<QTimer>();
    QObject::connect(plan_poll_.get(), &QTimer::timeout, [this] {
      auto* dialog = qobject_cast<PlanDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      plans_.push_back({dialog->plan_box()->toPlainText().toStdString(),
                        dialog->problem_label()->text().toStdString(),
                        dialog->start_button()->isEnabled()});
      (start_plans_ && dialog->start_button()->isEnabled() ? dialog->start_button()
                                                           : dialog->cancel_button())
          ->click();
    });
    plan_poll_->start(10);
  }

  void TearDown() override {
    plan_poll_.reset();
    if (ops_) ops_->Open(true);
    if (controller_) controller_->worker().WaitUntilIdle(std::chrono::seconds(30));
    window_.reset();
    host_.reset();
    controller_.reset();  // stops the worker before the access goes
    access_.reset();
    source_db_.reset();
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  const TreeNode* Find(bool target, const std::string& text, NodeLevel level) {
    DbTree& tree = target ? host_->target_tree() : host_->source_tree();
    for (const TreeNode* n : tree.Walk()) {
      if (n->text() == text && n->level() == level) return n;
    }
    return nullptr;
  }
  void Select(bool target, const std::string& text, NodeLevel level) {
    const TreeNode* node = Find(target, text, level);
    ASSERT_NE(node, nullptr) << text;
    (target ? window_->target_view() : window_->source_view())->SelectNode(node);
  }
  // The target's database node: the file's path without ".mdb".
  std::string TargetDatabase() const { return (dir_ / "target").string(); }
  // Names of the children of a table's "Fields" or "Indexes" folder.
  std::vector<std::string> Children(bool target, const std::string& table, NodeLevel folder) {
    std::vector<std::string> names;
    const TreeNode* t = Find(target, table, NodeLevel::kTable);
    if (t == nullptr) return names;
    for (int i = 0; i < t->child_count(); ++i) {
      if (t->child(i)->level() != folder) continue;
      for (int j = 0; j < t->child(i)->child_count(); ++j) {
        names.push_back(t->child(i)->child(j)->text());
      }
    }
    return names;
  }
  // True when a line of the log contains `piece`.
  bool Logged(const std::string& piece) {
    for (const LogLine& line : log_.model().Snapshot()) {
      if (line.text.find(piece) != std::string::npos) return true;
    }
    return false;
  }
  bool WaitIdle() { return controller_->worker().WaitUntilIdle(std::chrono::seconds(60)); }
  std::vector<TaskRecord> Tasks() { return controller_->queue().Snapshot(); }
  QAbstractItemModel* Grid() { return window_->task_page()->view()->model(); }
  QString Cell(int row, int column) { return Grid()->index(row, column).data().toString(); }

  OutputLog log_;
  std::unique_ptr<testing::TestDatabase> source_db_;
  fs::path dir_, target_file_;
  std::unique_ptr<MainController> controller_;
  std::unique_ptr<SessionDatabaseAccess> access_;
  std::shared_ptr<GatedPipeline> ops_;
  std::unique_ptr<ControllerHost> host_;
  ScriptedBoxes boxes_;
  std::unique_ptr<MainWindow> window_;
  struct ShownPlan {
    std::string text, problem;
    bool startable = false;
  };
  std::vector<ShownPlan> plans_;
  bool start_plans_ = true;
  std::unique_ptr<QTimer> plan_poll_;
};

TEST_F(RealSidesTest, ConnectFillsBothTreesFromBothSides) {
  window_->RunCommand(cmd::kConnect);
  EXPECT_TRUE(boxes_.shown.empty()) << boxes_.shown.front();
  ASSERT_TRUE(host_->source_tree().connected());
  ASSERT_TRUE(host_->target_tree().connected());
  EXPECT_TRUE(controller_->descriptor(Side::kSource).dbms_name.starts_with("MariaDB"));
  EXPECT_EQ(controller_->descriptor(Side::kTarget).dbms_name, "MS Jet[04.00.0000]");

  // Source: the server's databases, the current one's tables (the name with
  // a space too), fields in column order, one index row per index column.
  EXPECT_NE(Find(false, source_db_->name(), NodeLevel::kDatabase), nullptr);
  EXPECT_NE(Find(false, "information_schema", NodeLevel::kDatabase), nullptr);
  EXPECT_NE(Find(false, "order lines", NodeLevel::kTable), nullptr);
  EXPECT_NE(Find(false, "big_orders", NodeLevel::kView), nullptr);
  EXPECT_EQ(Find(false, "big_orders", NodeLevel::kTable), nullptr);
  EXPECT_EQ(Children(false, "orders", NodeLevel::kFieldsFolder),
            (std::vector<std::string>{"id", "customer_id", "total"}));
  std::vector<std::string> indexes = Children(false, "customers", NodeLevel::kIndexesFolder);
  EXPECT_EQ(std::count(indexes.begin(), indexes.end(), "ix_name"), 2);
  EXPECT_EQ(std::count(indexes.begin(), indexes.end(), "PRIMARY"), 1);

  // Target: root = the file, one database = the file without ".mdb".
  const DbTree& target = host_->target_tree();
  ASSERT_NE(target.root(), nullptr);
  EXPECT_EQ(target.root()->text(), target_file_.string());
  EXPECT_NE(Find(true, TargetDatabase(), NodeLevel::kDatabase), nullptr);
  EXPECT_EQ(Children(true, "existing", NodeLevel::kFieldsFolder),
            (std::vector<std::string>{"id", "note"}));
}

TEST_F(RealSidesTest, ConnectWithABrokenTargetStillConnectsTheSource) {
  fs::remove(target_file_);
  window_->RunCommand(cmd::kConnect);
  EXPECT_TRUE(host_->source_tree().connected());
  EXPECT_FALSE(host_->target_tree().connected());
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{"Target Connection error!"});
  EXPECT_TRUE(window_->tips()->toPlainText().contains(
      "Target Connection error! Please comfirm target database connection properties !"));
}

TEST_F(RealSidesTest, MigrateOneTableLandsInTheFileAndTheTargetTree) {
  window_->RunCommand(cmd::kConnect);
  Select(false, "orders", NodeLevel::kTable);
  Select(true, TargetDatabase(), NodeLevel::kDatabase);
  boxes_.answers = {BoxAnswer::kOk};
  window_->RunCommand(cmd::kToolMigrate);
  ASSERT_EQ(Tasks().size(), 1u);
  EXPECT_EQ(Tasks()[0].kind, TaskKind::kConvertTable);
  ASSERT_TRUE(WaitIdle());
  window_->RefreshTaskList();
  EXPECT_EQ(Cell(0, 3), "SUCCESS");
  EXPECT_EQ(Cell(0, 6), "orders");
  // mdbtools reads what the task wrote: the three rows, a null as empty.
  const std::vector<std::string> tables = MdbTables(target_file_);
  EXPECT_TRUE(Contains(tables, "orders"));
  EXPECT_TRUE(Contains(tables, "existing"));
  EXPECT_FALSE(Contains(tables, "customers"));
  std::string rows = MdbExport(target_file_, "orders");
  EXPECT_NE(rows.find("10,1,12.5"), std::string::npos) << rows;
  EXPECT_NE(rows.find("11,2,99.99"), std::string::npos) << rows;
  EXPECT_NE(rows.find("12,1,\n"), std::string::npos) << rows;
  // The worker asked for a refill; the window lists the new table.
  QTRY_VERIFY(Find(true, "orders", NodeLevel::kTable) != nullptr);
}

TEST_F(RealSidesTest, MigrateTablesFolderAndWholeDatabase) {
  window_->RunCommand(cmd::kConnect);
  Select(false, "Tables", NodeLevel::kTablesFolder);
  Select(true, TargetDatabase(), NodeLevel::kDatabase);
  boxes_.answers = {BoxAnswer::kOk};
  window_->RunCommand(cmd::kMigrate);
  ASSERT_EQ(Tasks().size(), 1u);
  EXPECT_EQ(Tasks()[0].kind, TaskKind::kConvertTables);
  ASSERT_TRUE(WaitIdle());
  std::vector<std::string> tables = MdbTables(target_file_);
  for (const char* t : {"customers", "orders", "order lines", "existing"}) {
    EXPECT_TRUE(Contains(tables, t)) << t;
  }
  EXPECT_NE(MdbExport(target_file_, "order lines").find("11,\"B-2\""), std::string::npos);
  EXPECT_NE(MdbExport(target_file_, "customers").find("3,\"Linus\""), std::string::npos);

  // The whole database into a second, fresh file.
  const fs::path second = dir_ / "second.mdb";
  ASSERT_TRUE(JetSession::Open(second.string(), true).ok());
  ASSERT_TRUE(access_->UseDatabase(Side::kTarget, (dir_ / "second").string()).ok());
  window_->RefillTree(true);
  Select(false, source_db_->name(), NodeLevel::kDatabase);
  Select(true, (dir_ / "second").string(), NodeLevel::kDatabase);
  boxes_.answers = {BoxAnswer::kOk};
  window_->RunCommand(cmd::kMigrate);
  ASSERT_EQ(Tasks().size(), 2u);
  EXPECT_EQ(Tasks()[1].kind, TaskKind::kConvertDatabase);
  ASSERT_TRUE(WaitIdle());
  window_->RefreshTaskList();
  EXPECT_EQ(Cell(1, 3), "SUCCESS");
  tables = MdbTables(second);
  for (const char* t : {"customers", "orders", "order lines"})
    EXPECT_TRUE(Contains(tables, t)) << t;
  EXPECT_FALSE(Contains(tables, "existing"));
  EXPECT_NE(MdbExport(second, "orders").find("11,2,99.99"), std::string::npos);
}

TEST_F(RealSidesTest, CloneDatabaseOnTheTargetRootMakesANewFileBesideTheTarget) {
  window_->RunCommand(cmd::kConnect);
  Select(false, source_db_->name(), NodeLevel::kDatabase);
  Select(true, target_file_.string(), NodeLevel::kRoot);
  boxes_.answers = {BoxAnswer::kOk};
  window_->RunCommand(cmd::kMigrate);
  EXPECT_EQ(boxes_.shown.back(), "Clone database [" + source_db_->name() + "] of source tree?");
  ASSERT_EQ(Tasks().size(), 1u);
  EXPECT_EQ(Tasks()[0].kind, TaskKind::kCloneDatabase);
  ASSERT_TRUE(WaitIdle());
  const fs::path clone = dir_ / (source_db_->name() + ".mdb");
  ASSERT_TRUE(fs::exists(clone));
  const std::vector<std::string> tables = MdbTables(clone);
  for (const char* t : {"customers", "orders", "order lines"})
    EXPECT_TRUE(Contains(tables, t)) << t;
  EXPECT_NE(MdbExport(clone, "customers").find("1,\"Ada\""), std::string::npos);
  // The target side now works on the new file, and its tree lists it.
  QTRY_VERIFY(Find(true, (dir_ / source_db_->name()).string(), NodeLevel::kDatabase) != nullptr);
  QTRY_VERIFY(Find(true, "orders", NodeLevel::kTable) != nullptr);
  const TreeNode* orders = Find(true, "orders", NodeLevel::kTable);
  ASSERT_NE(orders->parent(), nullptr);
  ASSERT_NE(orders->parent()->parent(), nullptr);
  EXPECT_EQ(orders->parent()->parent()->text(), (dir_ / source_db_->name()).string());
}

TEST_F(RealSidesTest, DropOnTheTargetTreeMigratesLikeTheCommand) {
  window_->RunCommand(cmd::kConnect);
  Select(false, "customers", NodeLevel::kTable);
  Select(true, TargetDatabase(), NodeLevel::kDatabase);
  boxes_.answers = {BoxAnswer::kOk};
  emit window_->target_view()->NodeDropped(window_->source_view(), false);
  QCoreApplication::processEvents();
  ASSERT_EQ(Tasks().size(), 1u);
  EXPECT_EQ(boxes_.shown.back(),
            "Convert table [customers] into Target database [" + TargetDatabase() + "]?");
  EXPECT_EQ(Tasks()[0].kind, TaskKind::kConvertTable);
  EXPECT_EQ(Tasks()[0].source_object, "customers");
  ASSERT_TRUE(WaitIdle());
  EXPECT_NE(MdbExport(target_file_, "customers").find("2,\"Grace\""), std::string::npos);
}

TEST_F(RealSidesTest, DeleteDropsTheTargetTable) {
  window_->RunCommand(cmd::kConnect);
  Select(true, "existing", NodeLevel::kTable);
  boxes_.answers = {BoxAnswer::kOk, BoxAnswer::kYes};
  window_->RunCommand(cmd::kToolDelete);
  EXPECT_EQ(boxes_.shown[0], "Delete the table [" + TargetDatabase() + ".existing]?");
  EXPECT_EQ(Find(true, "existing", NodeLevel::kTable), nullptr);
  EXPECT_FALSE(Contains(MdbTables(target_file_), "existing"));
}

TEST_F(RealSidesTest, GridEditsWhileARealTaskRuns) {
  window_->RunCommand(cmd::kConnect);
  ops_->Open(false);
  Select(false, "orders", NodeLevel::kTable);
  Select(true, TargetDatabase(), NodeLevel::kDatabase);
  boxes_.answers = {BoxAnswer::kOk};
  window_->RunCommand(cmd::kMigrate);
  ASSERT_TRUE(ops_->WaitArrived());
  for (const char* table : {"customers", "order lines"}) {
    Select(false, table, NodeLevel::kTable);
    boxes_.answers = {BoxAnswer::kOk};
    window_->RunCommand(cmd::kMigrate);
  }
  // Delete and Connect refuse while the worker runs; Cancel keeps it going.
  boxes_.answers = {BoxAnswer::kCancel};
  window_->RunCommand(cmd::kToolDelete);
  EXPECT_EQ(boxes_.shown.back(), "Some Tasks is Processing, STOP ALL?");
  EXPECT_TRUE(host_->Running());

  window_->ShowPage(kTaskListPage);
  window_->RefreshTaskList();
  ASSERT_EQ(Grid()->rowCount(), 3);
  EXPECT_EQ(Cell(0, 3), "Working");
  TaskListPage* page = window_->task_page();
  page->SelectRow(0);
  page->down_action()->trigger();  // the running task moves, keeps running
  EXPECT_EQ(Cell(1, 6), "orders");
  EXPECT_EQ(Cell(1, 3), "Working");
  page->SelectRow(2);
  page->delete_action()->trigger();  // "order lines" leaves the queue
  ASSERT_EQ(Grid()->rowCount(), 2);
  ops_->Open(true);
  ASSERT_TRUE(WaitIdle());
  window_->RefreshTaskList();
  EXPECT_EQ(Cell(0, 3), "SUCCESS");
  EXPECT_EQ(Cell(1, 3), "SUCCESS");
  const std::vector<std::string> tables = MdbTables(target_file_);
  EXPECT_TRUE(Contains(tables, "orders"));
  EXPECT_TRUE(Contains(tables, "customers"));
  EXPECT_FALSE(Contains(tables, "order lines"));
  page->clear_action()->trigger();
  EXPECT_EQ(Grid()->rowCount(), 0);
  EXPECT_TRUE(Tasks().empty());
}

TEST_F(RealSidesTest, ATaskKeepsItsOwnDatabasesWhileTheUserWorksElsewhereAndStopsPromptly) {
  // Another source database and another target file to wander off to.
  auto server = testing::MySqlFromEnv();
  auto other_db = testing::TestDatabase::Create(*server, "gui_other");
  ASSERT_NE(other_db, nullptr);
  other_db->Exec("CREATE TABLE elsewhere (id INT PRIMARY KEY)");
  other_db->Exec("CREATE VIEW elsewhere_view AS SELECT id FROM elsewhere");
  const fs::path other_file = dir_ / "other.mdb";
  {
    auto jet = JetSession::Open(other_file.string(), true);
    ASSERT_TRUE(jet.ok());
    ASSERT_TRUE((*jet)->Execute("CREATE TABLE mine (id INTEGER)").ok());
  }
  window_->RunCommand(cmd::kConnect);
  ops_->Open(false);
  Select(false, source_db_->name(), NodeLevel::kDatabase);
  Select(true, TargetDatabase(), NodeLevel::kDatabase);
  boxes_.answers = {BoxAnswer::kOk};
  window_->RunCommand(cmd::kMigrate);
  ASSERT_TRUE(ops_->WaitArrived());  // the task has its source and target open

  // Every call the user makes returns at once: nothing waits for the task.
  QElapsedTimer clock;
  auto timed = [&](const char* what, const std::function<void()>& call) {
    clock.restart();
    call();
    std::printf("%s: %lld ms\n", what, static_cast<long long>(clock.elapsed()));
    EXPECT_LT(clock.elapsed(), 100) << what;
  };
  timed("double-click on another source database", [&] {
    const TreeNode* node = Find(false, other_db->name(), NodeLevel::kDatabase);
    ASSERT_NE(node, nullptr);
    emit window_->source_view()->DatabaseActivated(const_cast<TreeNode*>(node));
  });
  EXPECT_EQ(host_->source_tree().selected()->text(), other_db->name());
  timed("double-click on another target database", [&] {
    ChooseDatabase(*host_, *window_, *access_, host_->target_tree(), (dir_ / "other").string());
  });
  EXPECT_NE(Find(true, "mine", NodeLevel::kTable), nullptr);
  timed("rename in the other file", [&] {
    TreeNode* mine = const_cast<TreeNode*>(Find(true, "mine", NodeLevel::kTable));
    host_->target_tree().set_rename_commit(true);
    EXPECT_TRUE(FinishRename(*access_, host_->target_tree(), mine, "renamed"));
  });
  // Back on the task's own file: the window leaves it alone and says so.
  boxes_.shown.clear();
  timed("double-click on the task's target", [&] {
    ChooseDatabase(*host_, *window_, *access_, host_->target_tree(), TargetDatabase());
  });
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{kTargetBusy});
  // The tree still shows the other file (it is not listed while busy), but
  // the target side is the task's file now: a drop is refused.
  timed("drop a table while the file is busy", [&] {
    Select(true, "renamed", NodeLevel::kTable);
    DropSelectedTable(*host_, *window_, *access_);
  });
  EXPECT_EQ(boxes_.shown.back(), kTargetBusy);
  ops_->Open(true);
  ASSERT_TRUE(WaitIdle());
  ASSERT_EQ(Tasks().size(), 1u);
  EXPECT_EQ(Tasks()[0].state_text, kStateSuccess);
  // The task's file got exactly its own objects, the other file none of them.
  std::vector<std::string> tables = MdbTables(target_file_);
  std::sort(tables.begin(), tables.end());
  EXPECT_EQ(tables, (std::vector<std::string>{"customers", "existing", "order lines", "orders"}));
  EXPECT_EQ(MdbTables(other_file), std::vector<std::string>{"renamed"});
  // Its view went there too, and nothing of the other source database.
  const std::string queries =
      RunCommandLine("mdb-queries -1 " + Quoted(target_file_.string()) + " 2>/dev/null");
  EXPECT_NE(queries.find("big_orders"), std::string::npos) << queries;
  EXPECT_EQ(queries.find("elsewhere"), std::string::npos) << queries;
  EXPECT_EQ(RunCommandLine("mdb-queries -1 " + Quoted(other_file.string()) + " 2>/dev/null"), "");

  // Stop while the next task runs: it ends as a failure within 2 seconds.
  ops_->Rearm();
  Select(false, source_db_->name(), NodeLevel::kDatabase);
  window_->RunCommand(cmd::kConnect);  // the worker is idle: allowed
  Select(false, source_db_->name(), NodeLevel::kDatabase);
  Select(true, TargetDatabase(), NodeLevel::kDatabase);
  boxes_.answers = {BoxAnswer::kOk, BoxAnswer::kReplace};  // the file holds them now
  window_->RunCommand(cmd::kMigrate);
  ASSERT_TRUE(ops_->WaitArrived());
  boxes_.answers = {BoxAnswer::kOk};
  timed("Stop", [&] { StartStopTasks(*host_, *window_); });
  clock.restart();
  ops_->Open(true);
  while (Tasks().back().state_text == kStateWorking && clock.elapsed() < 10000) QTest::qWait(10);
  std::printf("Stop to FAILURE: %lld ms\n", static_cast<long long>(clock.elapsed()));
  EXPECT_LT(clock.elapsed(), 2000);
  EXPECT_EQ(Tasks().back().state_text, kStateFailure);
  ASSERT_TRUE(WaitIdle());
}

TEST_F(RealSidesTest, FromAFreshStartEverythingThroughTheWindow) {
  // A small sakila: actors, films and the table between them, with keys.
  auto server = testing::MySqlFromEnv();
  auto sakila = testing::TestDatabase::Create(*server, "sakila");
  ASSERT_NE(sakila, nullptr);
  sakila->Exec("CREATE TABLE actor (actor_id INT PRIMARY KEY, first_name VARCHAR(45))");
  sakila->Exec("INSERT INTO actor VALUES (1,'PENELOPE'),(2,'NICK'),(3,'ED')");
  sakila->Exec(
      "CREATE TABLE film (film_id INT PRIMARY KEY, title VARCHAR(128), rental_rate "
      "DECIMAL(4,2))");
  sakila->Exec(
      "INSERT INTO film VALUES (1,'ACADEMY DINOSAUR',0.99),(2,'ACE GOLDFINGER',4.99),"
      "(3,'ADAPTATION HOLES',2.99),(4,'AFFAIR PREJUDICE',2.99)");
  sakila->Exec(
      "CREATE TABLE film_actor (actor_id INT, film_id INT, PRIMARY KEY (actor_id, film_id), "
      "FOREIGN KEY (actor_id) REFERENCES actor (actor_id), FOREIGN KEY (film_id) REFERENCES "
      "film (film_id))");
  sakila->Exec("INSERT INTO film_actor VALUES (1,1),(1,2),(2,3),(3,4)");
  sakila->Exec("CREATE VIEW cheap_films AS SELECT film_id, title FROM film WHERE rental_rate < 1");

  const fs::path cfg = dir_ / "migrator.cfg";
  fs::remove(cfg);
  window_->SetConfigFile(cfg);
  const fs::path first = dir_ / "Access_New.mdb";
  WhenOpen<ConfigDialog>([&](ConfigDialog* d) {
    auto& src = d->source_side();
    src.provider->setCurrentIndex(src.provider->findText("TCP/IP:Port"));
    src.source->setCurrentText(QString::fromStdString(server->host + ":" + server->port));
    src.user->setText(QString::fromStdString(server->user));
    src.password->setText(QString::fromStdString(server->password));
    src.catalog->setText(QString::fromStdString(sakila->name()));
    auto& tgt = d->target_side();
    tgt.provider->setCurrentIndex(tgt.provider->findText("Microsoft Jet 4.0 OLE DB Provider"));
    EXPECT_EQ(tgt.source->currentText().toStdString(), first.string());
    d->config_box()->click();
    d->test_button()->click();
    d->connect_button()->click();
  });
  window_->RunCommand(cmd::kConfig);
  ASSERT_GE(boxes_.shown.size(), 2u);
  EXPECT_EQ(boxes_.shown[0], "Source Connection Successful!");
  EXPECT_EQ(boxes_.shown[1], "Target Connection Successful!");
  QTRY_VERIFY(host_->source_tree().connected() && host_->target_tree().connected());

  // Drag sakila onto the new file's database.
  Select(false, sakila->name(), NodeLevel::kDatabase);
  Select(true, (dir_ / "Access_New").string(), NodeLevel::kDatabase);
  boxes_.answers = {BoxAnswer::kOk};
  emit window_->target_view()->NodeDropped(window_->source_view(), false);
  QCoreApplication::processEvents();
  ASSERT_TRUE(WaitIdle());
  ASSERT_EQ(Tasks().size(), 1u);
  EXPECT_EQ(Tasks()[0].state_text, kStateSuccess);
  std::vector<std::string> tables = MdbTables(first);
  std::sort(tables.begin(), tables.end());
  EXPECT_EQ(tables, (std::vector<std::string>{"actor", "film", "film_actor"}));
  EXPECT_NE(MdbExport(first, "film").find("ACE GOLDFINGER"), std::string::npos);

  // A condition on film, tested and saved through its dialog.
  Select(false, "film", NodeLevel::kTable);
  WhenOpen<ConditionDialog>([](ConditionDialog* d) {
    d->condition_box()->setPlainText("rental_rate > 2");
    d->test_button()->click();
    EXPECT_EQ(d->result_box()->toPlainText(), "Test successfully!\n  3 Records can be converted.");
    d->save_button()->click();
    d->reject();
  });
  window_->RunCommand(32776);  // Migration Condition

  // A new file from New Database, and film dragged into it again.
  const fs::path second = dir_ / "second.mdb";
  window_->SetNewFileChooser(
      [&](const std::string&) -> std::optional<std::string> { return second.string(); });
  Select(true, host_->target_tree().root()->text(), NodeLevel::kRoot);
  window_->RunCommand(32775);  // New Database
  ASSERT_TRUE(fs::exists(second));
  Select(false, "film", NodeLevel::kTable);
  Select(true, (dir_ / "second").string(), NodeLevel::kDatabase);
  boxes_.answers = {BoxAnswer::kOk};
  emit window_->target_view()->NodeDropped(window_->source_view(), false);
  QCoreApplication::processEvents();
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Tasks().back().state_text, kStateSuccess);
  const std::string rows = MdbExport(second, "film");
  EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 3) << rows;
  EXPECT_EQ(rows.find("ACADEMY DINOSAUR"), std::string::npos);

  // Clear all Data on the first file: every row goes (rows that others
  // refer to after the rows referring to them), the tables stay.
  ChooseDatabase(*host_, *window_, *access_, host_->target_tree(), (dir_ / "Access_New").string());
  Select(true, (dir_ / "Access_New").string(), NodeLevel::kDatabase);
  boxes_.answers = {BoxAnswer::kOk, BoxAnswer::kYes};
  window_->RunCommand(32790);  // Clear all Data
  tables = MdbTables(first);
  std::sort(tables.begin(), tables.end());
  EXPECT_EQ(tables, (std::vector<std::string>{"actor", "film", "film_actor"}));
  for (const char* table : {"actor", "film", "film_actor"}) {
    EXPECT_EQ(MdbExport(first, table), "") << table;
  }
  EXPECT_NE(Find(true, "film_actor", NodeLevel::kTable), nullptr);
}

TEST_F(RealSidesTest, ChangeCharsetSetsTheSessionAndValuesStillArriveExactly) {
  source_db_->Exec("CREATE TABLE west (id INT PRIMARY KEY, v VARCHAR(20)) CHARACTER SET latin1");
  source_db_->Exec("INSERT INTO west VALUES (1, 'Grüße, café')");
  source_db_->Exec("CREATE TABLE wide (id INT PRIMARY KEY, v VARCHAR(20)) CHARACTER SET utf8mb4");
  source_db_->Exec("INSERT INTO wide VALUES (1, '日本語 Ωμέγα')");
  window_->RunCommand(cmd::kConnect);
  for (const char* name : {"latin1", "utf8"}) {
    WhenOpen<CharsetDialog>([name](CharsetDialog* d) {
      for (int i = 0; i < kCharsetCount; ++i) {
        if (d->radio(i)->text() == name) d->radio(i)->click();
      }
      d->select_button()->click();
    });
    emit window_->source_view()->CommandChosen(32774);  // Change Charset, from the tree's menu
    const std::string client = access_->SourceQueryValue("select @@character_set_client");
    EXPECT_EQ(client, std::string(name) == "utf8" ? "utf8mb3" : "latin1") << name;
    EXPECT_EQ(access_->SourceQueryValue("select @@character_set_results"), client);
  }
  for (const char* table : {"west", "wide"}) {
    Select(false, table, NodeLevel::kTable);
    Select(true, TargetDatabase(), NodeLevel::kDatabase);
    boxes_.answers = {BoxAnswer::kOk};
    window_->RunCommand(cmd::kMigrate);
  }
  ASSERT_TRUE(WaitIdle());
  EXPECT_NE(MdbExport(target_file_, "west").find("Grüße, café"), std::string::npos);
  EXPECT_NE(MdbExport(target_file_, "wide").find("日本語 Ωμέγα"), std::string::npos);
}

// The bytes of a file, to tell that nothing changed it.
std::string FileBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
size_t Lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

TEST_F(RealSidesTest, ASecondRunIntoTheSameFileAsksOnceAndDoesWhatTheAnswerSays) {
  window_->RunCommand(cmd::kConnect);
  auto migrate = [&](std::deque<BoxAnswer> answers) {
    Select(false, source_db_->name(), NodeLevel::kDatabase);
    Select(true, TargetDatabase(), NodeLevel::kDatabase);
    boxes_.shown.clear();
    boxes_.answers = std::move(answers);
    window_->RunCommand(cmd::kMigrate);
    EXPECT_TRUE(boxes_.answers.empty()) << "a question was not asked";
  };
  const std::vector<std::string> tables = {"customers", "orders", "order lines"};
  auto contents = [&] {
    std::map<std::string, std::string> rows;
    for (const std::string& t : tables) rows[t] = MdbExport(target_file_, t);
    return rows;
  };
  migrate({BoxAnswer::kOk});  // a first run asks nothing more
  ASSERT_TRUE(WaitIdle());
  ASSERT_EQ(Tasks().back().state_text, kStateSuccess);
  const auto first = contents();
  EXPECT_EQ(Lines(first.at("customers")), 3u);
  const std::string bytes = FileBytes(target_file_);

  // Again: one question naming how many objects and which; Cancel changes
  // nothing and queues nothing.
  migrate({BoxAnswer::kOk, BoxAnswer::kCancel});
  ASSERT_EQ(boxes_.shown.size(), 2u);
  const std::string& question = boxes_.shown[1];
  EXPECT_NE(question.find("[" + TargetDatabase() + "] already holds 4 of the objects"),
            std::string::npos)
      << question;
  for (const char* name : {"customers", "orders", "order lines", "big_orders"}) {
    EXPECT_NE(question.find("\n  " + std::string(name)), std::string::npos) << name;
  }
  EXPECT_EQ(question.find("\n  existing"), std::string::npos) << "not an object of the run";
  EXPECT_EQ(Tasks().size(), 1u);
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(Logged(ExistingObjectsCancelled(TargetDatabase())));
  EXPECT_EQ(FileBytes(target_file_), bytes);

  // Replace: the objects are dropped and made again, with the same rows.
  migrate({BoxAnswer::kOk, BoxAnswer::kReplace});
  ASSERT_EQ(Tasks().size(), 2u);
  EXPECT_EQ(Tasks()[1].existing, ExistingObjects::kReplace);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Tasks()[1].state_text, kStateSuccess);
  EXPECT_TRUE(Logged("drop table order lines"));
  EXPECT_TRUE(Logged("drop view big_orders"));
  EXPECT_EQ(contents(), first);
  std::vector<std::string> held = MdbTables(target_file_);
  std::sort(held.begin(), held.end());
  EXPECT_EQ(held, (std::vector<std::string>{"customers", "existing", "order lines", "orders"}));
  EXPECT_NE(RunCommandLine("mdb-queries -1 " + Quoted(target_file_.string())).find("big_orders"),
            std::string::npos);

  // Append: a table without a key gets its rows twice; rows whose key is
  // there already are refused, counted and written to the rejects file, and
  // the task is not a success.
  migrate({BoxAnswer::kOk, BoxAnswer::kAppend});
  ASSERT_EQ(Tasks().size(), 3u);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Tasks()[2].state_text, kStateFailure);
  EXPECT_TRUE(Logged("Append: the rows go into the 4 objects"));
  const auto appended = contents();
  EXPECT_EQ(Lines(appended.at("order lines")), 2 * Lines(first.at("order lines")));
  EXPECT_EQ(appended.at("customers"), first.at("customers"));
  EXPECT_EQ(appended.at("orders"), first.at("orders"));
  for (const char* keyed : {"customers", "orders"}) {
    const std::string rejects = FileBytes(dir_ / "data_cache" / (std::string(keyed) + ".rejects"));
    size_t refused = 0;
    for (size_t at = 0; (at = rejects.find("-- row ", at)) != std::string::npos; ++at) ++refused;
    EXPECT_EQ(refused, 3u) << keyed << ":\n" << rejects;
  }
  EXPECT_TRUE(Logged("[customers] rows read 3, written 0, refused 3"));
  EXPECT_TRUE(Logged("[order lines] rows read 2, written 2, refused 0"));
  // Tables appended to are not compared with the server (their rows cannot
  // equal its rows), and are not called different.
  EXPECT_TRUE(
      Logged("Verify [order lines]: not compared: the rows were appended to the rows the file held "
             "already"));
  EXPECT_FALSE(Logged("Verify table [order lines]: differs"));
}

// A child process holding `file` open for writing until the test ends.
class OtherWriter {
 public:
  explicit OtherWriter(const fs::path& file) {
    int ready[2], done[2];
    if (::pipe(ready) != 0 || ::pipe(done) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(done[1]);
      auto db = jet::Database::Open(file.string());
      const char c = db.ok() ? '1' : '0';
      (void)!::write(ready[1], &c, 1);
      char buf;
      while (::read(done[0], &buf, 1) > 0) {
      }
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(done[0]);
    done_ = done[1];
    char c = 0;
    holding_ = ::read(ready[0], &c, 1) == 1 && c == '1';
    ::close(ready[0]);
  }
  ~OtherWriter() {
    if (done_ >= 0) ::close(done_);
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
  }
  bool holding() const { return holding_; }

 private:
  pid_t pid_ = -1;
  int done_ = -1;
  bool holding_ = false;
};

TEST_F(RealSidesTest, AFileAnotherProgramWritesIsSaidInABoxAndNoTaskSucceedsOnIt) {
  const fs::path other = dir_ / "other.mdb";
  ASSERT_TRUE(JetSession::Open(other.string(), true).ok());
  window_->RunCommand(cmd::kConnect);
  ASSERT_TRUE(host_->target_tree().connected());
  OtherWriter writer(other);
  ASSERT_TRUE(writer.holding());
  const std::string bytes = FileBytes(other);
  const std::string busy = other.string() + ": the file is open for writing in another program";

  // Choosing it in the target tree.
  boxes_.shown.clear();
  ChooseDatabase(*host_, *window_, *access_, host_->target_tree(), (dir_ / "other").string());
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{busy});

  // Queuing a migration into it: the box, and nothing queued.
  TaskRequest task;
  task.type = TaskType::kMigration;
  task.kind = TaskKind::kConvertDatabase;
  task.source_database = source_db_->name();
  task.target_database = (dir_ / "other").string();
  auto held = host_->HeldObjects(task);
  ASSERT_FALSE(held.ok());
  EXPECT_EQ(held.status().message(), busy);

  // A task that meets it when it starts: a box, and a failure.
  boxes_.shown.clear();
  host_->AppendTask(task);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Tasks().back().state_text, kStateFailure);
  QTRY_VERIFY(std::find(boxes_.shown.begin(), boxes_.shown.end(), busy) != boxes_.shown.end());
  EXPECT_EQ(FileBytes(other), bytes);

  // Connecting to it.
  {
    std::ifstream in(dir_ / "migrator.cfg");
    std::string cfg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    cfg.replace(cfg.find(target_file_.string()), target_file_.string().size(), other.string());
    std::ofstream(dir_ / "migrator.cfg") << cfg;
  }
  boxes_.shown.clear();
  window_->RunCommand(cmd::kConnect);
  EXPECT_FALSE(host_->target_tree().connected());
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{busy});
  EXPECT_EQ(FileBytes(other), bytes);
}

TEST_F(RealSidesTest, ATaskQueuedWhileTheFileWasBusyStopsBeforeAnyChangeWhenItsObjectsExist) {
  window_->RunCommand(cmd::kConnect);
  ops_->Open(false);
  Select(false, "customers", NodeLevel::kTable);
  Select(true, TargetDatabase(), NodeLevel::kDatabase);
  boxes_.answers = {BoxAnswer::kOk};
  window_->RunCommand(cmd::kMigrate);
  ASSERT_TRUE(ops_->WaitArrived());  // the first task holds the file
  // The same table again: the window cannot look without waiting, so it
  // does not ask; the task looks when it starts.
  boxes_.answers = {BoxAnswer::kOk};
  window_->RunCommand(cmd::kMigrate);
  ASSERT_EQ(Tasks().size(), 2u);
  EXPECT_EQ(Tasks()[1].existing, ExistingObjects::kStop);
  ops_->Open(true);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Tasks()[0].state_text, kStateSuccess);
  EXPECT_EQ(Tasks()[1].state_text, kStateFailure);
  const std::string said = "Target database [" + TargetDatabase() +
                           "] already holds 1 of the objects to migrate; nothing was changed: "
                           "customers";
  EXPECT_TRUE(Logged(said));
  QTRY_VERIFY(std::find(boxes_.shown.begin(), boxes_.shown.end(), said) != boxes_.shown.end());
  EXPECT_EQ(Lines(MdbExport(target_file_, "customers")), 3u);
}

}  // namespace
}  // namespace velquin::ui

namespace velquin::ui {
namespace {

// A database task through the window: its plan comes first (the case-only
// clash renamed, the zero date's transform), Start queues it, and after the
// load the task compares the file with the server table by table. A plan
// over the size limit cannot start; a value changed in the file before the
// comparison fails the task, naming the table and the row's key.
TEST_F(RealSidesTest, ADatabaseTaskShowsItsPlanThenVerifiesItsLoad) {
  source_db_->Exec("SET SESSION sql_mode = ''");
  source_db_->Exec("CREATE TABLE CaseTest (id INT PRIMARY KEY, label VARCHAR(10))");
  source_db_->Exec("CREATE TABLE casetest (id INT PRIMARY KEY)");
  source_db_->Exec("INSERT INTO CaseTest VALUES (1, 'upper'), (2, 'two')");
  source_db_->Exec("INSERT INTO casetest VALUES (7)");
  source_db_->Exec("CREATE TABLE dates (id INT PRIMARY KEY, born DATE NOT NULL, note VARCHAR(20))");
  source_db_->Exec("INSERT INTO dates VALUES (1, '0000-00-00', 'zero'), (2, '2020-02-29', 'leap')");
  window_->RunCommand(cmd::kConnect);
  auto migrate_into = [&](const std::string& name) {
    const fs::path file = dir_ / (name + ".mdb");
    if (!fs::exists(file)) {
      ASSERT_TRUE(JetSession::Open(file.string(), true).ok());
    }
    ASSERT_TRUE(access_->UseDatabase(Side::kTarget, (dir_ / name).string()).ok());
    window_->RefillTree(true);
    Select(false, source_db_->name(), NodeLevel::kDatabase);
    Select(true, (dir_ / name).string(), NodeLevel::kDatabase);
    boxes_.answers = {BoxAnswer::kOk};
    window_->RunCommand(cmd::kMigrate);
    EXPECT_TRUE(boxes_.answers.empty()) << "the first question was not asked";
  };

  // Over the (lowered) size limit: no Start, the largest table named, nothing queued.
  access_->SetPlanSizeLimit(1);
  migrate_into("over");
  ASSERT_EQ(plans_.size(), 1u);
  EXPECT_FALSE(plans_[0].startable);
  EXPECT_NE(plans_[0].problem.find("cannot start"), std::string::npos) << plans_[0].problem;
  EXPECT_NE(plans_[0].problem.find("The largest tables: "), std::string::npos);
  EXPECT_TRUE(Tasks().empty());
  EXPECT_TRUE(Logged(PlanCancelled((dir_ / "over").string())));
  access_->SetPlanSizeLimit(kJetSizeLimit);

  migrate_into("planned");
  ASSERT_EQ(plans_.size(), 2u);
  const std::string& plan = plans_[1].text;
  EXPECT_TRUE(plans_[1].startable);
  EXPECT_TRUE(plans_[1].problem.empty()) << plans_[1].problem;
  EXPECT_NE(plan.find("casetest -> casetest_2"), std::string::npos) << plan;
  EXPECT_NE(plan.find("`casetest` -> `casetest_2`"), std::string::npos) << plan;
  EXPECT_NE(plan.find("dates.born"), std::string::npos) << plan;
  EXPECT_NE(plan.find("zero date"), std::string::npos) << plan;
  EXPECT_NE(plan.find("big_orders"), std::string::npos) << plan;
  ASSERT_EQ(Tasks().size(), 1u);
  EXPECT_GT(Tasks()[0].planned_seconds, 0);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Tasks()[0].state_text, kStateSuccess);
  for (const char* line : {"Verify table [CaseTest]: equal: 2 rows (by the server's checksum)",
                           "Verify table [casetest]: equal: 1 rows (by the server's checksum)",
                           "Verify table [dates]: equal: 2 rows",
                           "Verify table [customers]: equal: 3 rows (by the server's checksum)",
                           "Verify view [big_orders]: equal: 1 rows",
                           "Verification: 7 equal, 0 differ, 0 not verified"}) {
    EXPECT_TRUE(Logged(line)) << line;
  }
  // The file holds the renamed table; the zero date arrived as NULL, which
  // is the plan's transform and no difference.
  EXPECT_TRUE(Contains(MdbTables(dir_ / "planned.mdb"), "casetest_2"));
  EXPECT_NE(MdbExport(dir_ / "planned.mdb", "dates").find("1,,\"zero\""), std::string::npos);

  // A row deleted from the file between the load and its comparison.
  ops_->before_verify = [](GatedPipeline& ops) {
    auto* handle = dynamic_cast<DbSessionHandle*>(ops.TaskTarget().get());
    ASSERT_NE(handle, nullptr);
    auto done = handle->session()->Execute("DELETE FROM dates WHERE id = 2");
    ASSERT_TRUE(done.ok()) << done.status().message();
  };
  migrate_into("changed");
  ASSERT_EQ(Tasks().size(), 2u);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Tasks()[1].state_text, kStateFailure);
  EXPECT_TRUE(Logged(kLineVerifyFailed));
  EXPECT_TRUE(Logged("Verification: 6 equal, 1 differ, 0 not verified"));
  std::string differs;
  for (const LogLine& line : log_.model().Snapshot()) {
    if (line.text.starts_with("Verify table [dates]: differs")) differs = line.text;
  }
  EXPECT_NE(differs.find("2 rows on the server, 1 in the file"), std::string::npos) << differs;
  EXPECT_NE(differs.find("row id=2 is missing from the file"), std::string::npos) << differs;
}

}  // namespace
}  // namespace velquin::ui
