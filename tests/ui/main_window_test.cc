#include "ui/main_window.h"

#include <QLineEdit>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/version.h"
#include "demo_access.h"
#include "gui_test_support.h"
#include "log/output_log.h"

namespace velquin::ui {
namespace {

using testing_support::App;
using testing_support::ScriptedBoxes;

// Task operations whose table step waits until the test opens the gate.
class GatedOperations : public DemoTaskOperations {
 public:
  explicit GatedOperations(OutputLog& log)
      : DemoTaskOperations(log, std::chrono::milliseconds(0)) {}
  bool MigrateTable(const std::string& db, const std::string& t) override {
    std::unique_lock<std::mutex> lock(mu_);
    arrived_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return open_; });
    return DemoTaskOperations::MigrateTable(db, t);
  }
  bool WaitArrived() {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [this] { return arrived_; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mu_);
    open_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool arrived_ = false;
  bool open_ = false;
};

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest()
      : controller_(log_, Options()),
        access_(DemoSourceCatalog(), DemoTargetCatalog()),
        backend_(controller_, access_) {
    App();
    controller_.SetTaskOperations(gate_);
    window_ = std::make_unique<MainWindow>(&backend_);
    window_->SetMessageBoxes(&boxes_);
    window_->SetFolderChooser([this](const std::string& title) {
      folder_titles_.push_back(title);
      return folder_;
    });
  }

  void ConnectBoth() { window_->RunCommand(cmd::kConnect); }

  // The node with `text` and `level` in one side's tree.
  TreeNode* Find(bool target, const std::string& text, NodeLevel level) {
    DbTree& tree = target ? backend_.target_tree() : backend_.source_tree();
    for (const TreeNode* n : tree.Walk()) {
      if (n->text() == text && n->level() == level) return const_cast<TreeNode*>(n);
    }
    ADD_FAILURE() << "no node " << text;
    return nullptr;
  }
  void Select(bool target, const std::string& text, NodeLevel level) {
    TreeNode* node = Find(target, text, level);
    ASSERT_NE(node, nullptr);
    (target ? window_->target_view() : window_->source_view())->SelectNode(node);
  }
  QString Tips() const { return window_->tips()->toPlainText(); }

  static MainControllerOptions Options() {
    MainControllerOptions o;
    o.timings.thread_start_wait = std::chrono::milliseconds(1);
    o.timings.pass_interval = std::chrono::milliseconds(20);
    o.timings.routine_wait = std::chrono::milliseconds(1);
    o.timings.start_worker_wait = std::chrono::milliseconds(1);
    return o;
  }
  // Tasks queued by the commands, as records.
  std::vector<TaskRecord> Tasks() { return controller_.queue().Snapshot(); }

  ~MainWindowTest() override {
    gate_->Open();
    window_.reset();
  }
  // Queues "shop.orders" into the target database through Migrate.
  void MigrateOrders() {
    Select(false, "orders", NodeLevel::kTable);
    Select(true, "/srv/data/shop", NodeLevel::kDatabase);
    boxes_.answers.push_back(BoxAnswer::kOk);
    window_->RunCommand(cmd::kToolMigrate);
  }
  bool HasLine(const QString& text) {
    OutputModel* m = window_->output_model();
    for (int r = 0; r < m->rowCount(); ++r) {
      if (m->index(r).data().toString().endsWith(text)) return true;
    }
    return false;
  }
  QAbstractItemModel* Grid() { return window_->task_page()->view()->model(); }
  QString Cell(int row, int column) { return Grid()->index(row, column).data().toString(); }

  OutputLog log_;
  std::shared_ptr<GatedOperations> gate_ = std::make_shared<GatedOperations>(log_);
  MainController controller_;
  MemoryDatabaseAccess access_;
  ControllerHost backend_;
  ScriptedBoxes boxes_;
  std::optional<std::string> folder_;
  std::vector<std::string> folder_titles_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, StartUpCaptionStatusPanesTabsAndTips) {
  EXPECT_EQ(window_->windowTitle().toStdString(), ProductLine());
  EXPECT_EQ(window_->windowTitle(), "Omdara MySQL To Access Velquin Version: 1.0");
  EXPECT_EQ(window_->status_pane(0)->text().toStdString(), ProductLine());
  EXPECT_EQ(window_->status_pane(1)->text(), "Main Controller:IDLE");
  EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$")
                  .match(window_->status_pane(2)->text())
                  .hasMatch());
  QTabWidget* tabs = window_->tabs();
  ASSERT_EQ(tabs->count(), 3);
  EXPECT_EQ(tabs->tabText(0), "Log");
  EXPECT_EQ(tabs->tabText(1), "Task List");
  EXPECT_EQ(tabs->tabText(2), "Tips");
  EXPECT_EQ(tabs->currentIndex(), kTaskListPage);
  EXPECT_EQ(Tips(),
            "F1 to Help:\nBefore you fill out connection properties, Please confirm that your "
            "ODBC/OLEDB config is true !");
  EXPECT_EQ(window_->tree_title(false)->text(), "MySQL");
  EXPECT_EQ(window_->tree_title(true)->text(), "Access");
}

TEST_F(MainWindowTest, MenuBarHasPopupsItemsAndTreeItemsStartGreyed) {
  QStringList titles;
  for (QAction* a : window_->menuBar()->actions()) titles << a->text();
  EXPECT_EQ(titles, (QStringList{"&Connect", "&Operation", "D&atabases", "&Database", "&Table",
                                 "&Help", "&About"}));
  const std::pair<int, const char*> items[] = {
      {32777, "&Config"},         {32780, "Co&nnect"},
      {32793, "Driver Check"},    {2, "E&xit"},
      {32778, "Migrate"},         {32779, "Delete Selected"},
      {32782, "&Backup"},         {32775, "New Database"},
      {32774, "Change Charset"},  {32794, "Change Storage Engine(MyISAM)"},
      {32772, "Delete Database"}, {32773, "Clear all tables"},
      {32790, "Clear all Data"},  {32776, "Migration Condition"},
      {32787, "Drop Table"},      {32788, "Drop View"},
      {32789, "Rename Table"},    {32783, "&Manual"},
      {32785, "Omdara website"},
  };
  for (auto [id, text] : items) {
    QAction* a = window_->Action(id);
    ASSERT_NE(a, nullptr) << id;
    EXPECT_EQ(a->text(), text);
  }
  for (TreeCommand c : kAllTreeCommands) {
    EXPECT_FALSE(window_->Action(static_cast<int>(c))->isEnabled()) << TreeCommandTitle(c);
  }
  EXPECT_TRUE(window_->Action(cmd::kMigrate)->isEnabled());
}

TEST_F(MainWindowTest, ToolbarButtonsInOrderWithToolTips) {
  auto* bar = window_->findChild<QToolBar*>("Minitools");
  ASSERT_NE(bar, nullptr);
  QStringList captions, tips;
  for (QAction* a : bar->actions()) {
    captions << a->text();
    tips << a->toolTip();
  }
  EXPECT_EQ(captions, (QStringList{" Configure ", " Connect ", " Migrate ", " Delete ", " Backup ",
                                   " About "}));
  EXPECT_EQ(tips.mid(0, 5),
            (QStringList{"Database Connections Config", "Connect the DataSources",
                         "Convert from source into target", "Delete the selected object",
                         "Backup the selected object"}));
}

TEST_F(MainWindowTest, ConnectFillsBothTreesAndRetitlesFolders) {
  ConnectBoth();
  EXPECT_EQ(window_->tree_title(false)->text(), "MySQL 10.11.6");
  EXPECT_EQ(window_->tree_title(true)->text(), "ACCESS 4.0");
  EXPECT_EQ(window_->source_view()->model()->rowCount(), 1);
  const QModelIndex root = window_->source_view()->model()->index(0, 0);
  EXPECT_EQ(root.data().toString(), "localhost");
  EXPECT_EQ(window_->source_view()->model()->rowCount(root), 3);
  // The listing's expansion reaches the view.
  EXPECT_TRUE(window_->source_view()->isExpanded(root));
  EXPECT_NE(Find(false, "order items", NodeLevel::kTable), nullptr);
}

struct MenuExpectation {
  bool target;
  const char* node;
  NodeLevel level;
  velquin::ObjectMenu shown;
  std::vector<int> enabled;
  std::vector<int> greyed;
};

TEST_F(MainWindowTest, MenusFollowSelectedLevelAndSide) {
  ConnectBoth();
  const MenuExpectation cases[] = {
      {false,
       "localhost",
       NodeLevel::kRoot,
       velquin::ObjectMenu::kDatabases,
       {32774, 32794},
       {32775}},
      {true,
       "/srv/data/shop.mdb",
       NodeLevel::kRoot,
       velquin::ObjectMenu::kDatabases,
       {32775},
       {32774, 32794}},
      {false,
       "shop",
       NodeLevel::kDatabase,
       velquin::ObjectMenu::kDatabase,
       {},
       {32772, 32773, 32790}},
      {true,
       "/srv/data/shop",
       NodeLevel::kDatabase,
       velquin::ObjectMenu::kDatabase,
       {32772, 32773, 32790},
       {}},
      {false,
       "orders",
       NodeLevel::kTable,
       velquin::ObjectMenu::kTable,
       {32776},
       {32787, 32788, 32789}},
      {true,
       "customers",
       NodeLevel::kTable,
       velquin::ObjectMenu::kTable,
       {32787, 32789},
       {32776, 32788}},
      {false,
       "v_big_orders",
       NodeLevel::kView,
       velquin::ObjectMenu::kTable,
       {32776},
       {32787, 32788, 32789}},
  };
  for (const MenuExpectation& c : cases) {
    Select(c.target, c.node, c.level);
    for (auto which : {velquin::ObjectMenu::kDatabases, velquin::ObjectMenu::kDatabase,
                       velquin::ObjectMenu::kTable}) {
      EXPECT_EQ(window_->ObjectMenu(which)->menuAction()->isVisible(), which == c.shown) << c.node;
    }
    for (int id : c.enabled) EXPECT_TRUE(window_->Action(id)->isEnabled()) << c.node << " " << id;
    for (int id : c.greyed) EXPECT_FALSE(window_->Action(id)->isEnabled()) << c.node << " " << id;
  }
  // A folder hides all three object menus.
  Select(false, "Tables", NodeLevel::kTablesFolder);
  for (auto which : {velquin::ObjectMenu::kDatabases, velquin::ObjectMenu::kDatabase,
                     velquin::ObjectMenu::kTable}) {
    EXPECT_FALSE(window_->ObjectMenu(which)->menuAction()->isVisible());
  }
}

TEST_F(MainWindowTest, MigrateWithoutTargetConnectionShowsHintTipsPageAndBox) {
  window_->RunCommand(cmd::kToolMigrate);
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{"No Target DataSource Connection!"});
  EXPECT_EQ(window_->tabs()->currentIndex(), kTipsPage);
  EXPECT_TRUE(Tips().startsWith(
      "F1 to Help:\nPlease confirm your Target Database Connection is valid!\nBefore you"));
}

TEST_F(MainWindowTest, MigratePreconditionsThroughTheWindow) {
  ConnectBoth();
  window_->source_view()->selectionModel()->clearCurrentIndex();
  backend_.source_tree().Select(nullptr);
  backend_.target_tree().Select(nullptr);
  window_->RunCommand(cmd::kMigrate);
  EXPECT_EQ(boxes_.shown.back(), "No Selected Source Database Object!");
  Select(false, "orders", NodeLevel::kTable);
  window_->RunCommand(cmd::kMigrate);
  EXPECT_EQ(boxes_.shown.back(), "No Selected Target Objects!");
  Select(true, "customers", NodeLevel::kTable);
  window_->RunCommand(cmd::kMigrate);
  EXPECT_EQ(boxes_.shown.back(), "Please select a target Database!");
  EXPECT_TRUE(Tips().startsWith("F1 to Help:\nPlease select a database in Target Database Tree!"));
  EXPECT_TRUE(Tasks().empty());
}

TEST_F(MainWindowTest, MigratedTableRunsAndGridShowsStatesAndProgress) {
  ConnectBoth();
  MigrateOrders();
  EXPECT_EQ(boxes_.shown.back(), "Convert table [orders] into Target database [/srv/data/shop]?");
  ASSERT_EQ(Tasks().size(), 1u);
  EXPECT_EQ(Tasks()[0].kind, TaskKind::kConvertTable);
  EXPECT_EQ(Tasks()[0].source_dbms, "MySQL 10.11.6");
  ASSERT_TRUE(gate_->WaitArrived());
  window_->ShowPage(kTaskListPage);
  window_->RefreshTaskList();
  ASSERT_EQ(Grid()->rowCount(), 1);
  EXPECT_EQ(Cell(0, 0), "01");
  EXPECT_EQ(Cell(0, 1), " ");
  EXPECT_EQ(Cell(0, 2), "MIGRATION");
  EXPECT_EQ(Cell(0, 3), "Working");
  EXPECT_EQ(Cell(0, 4), "MySQL 10.11.6");
  EXPECT_EQ(Cell(0, 5), "shop");
  EXPECT_EQ(Cell(0, 6), "orders");
  EXPECT_EQ(Cell(0, 7), "ACCESS 4.0");
  EXPECT_EQ(Cell(0, 8), "/srv/data/shop");
  const int running_progress = Grid()->index(0, 1).data(TaskTableModel::kProgressRole).toInt();
  EXPECT_GE(running_progress, 5);
  EXPECT_LT(running_progress, 100);
  // Status text comes from the worker thread through the queued relay.
  QTRY_COMPARE(window_->status_pane(1)->text(), QString("Some Tasks are WORKING!!!"));
  gate_->Open();
  ASSERT_TRUE(controller_.worker().WaitUntilIdle(std::chrono::seconds(10)));
  window_->RefreshTaskList();
  EXPECT_EQ(Cell(0, 3), "SUCCESS");
  EXPECT_EQ(Grid()->index(0, 1).data(TaskTableModel::kProgressRole).toInt(), 100);
  // The routine's lines, written on the worker thread, reach the Log page.
  QTRY_VERIFY(HasLine("Operation completed SUCCESSFULLY!"));
  QTRY_VERIFY(HasLine("Migrate table shop.orders"));
}

TEST_F(MainWindowTest, GridEditsWhileATaskRuns) {
  ConnectBoth();
  MigrateOrders();
  ASSERT_TRUE(gate_->WaitArrived());
  // Two more tasks queue behind the running one.
  Select(false, "Tables", NodeLevel::kTablesFolder);
  boxes_.answers = {BoxAnswer::kOk};
  window_->RunCommand(cmd::kMigrate);
  Select(false, "v_big_orders", NodeLevel::kView);
  boxes_.answers = {BoxAnswer::kOk};
  window_->RunCommand(cmd::kMigrate);
  window_->ShowPage(kTaskListPage);
  window_->RefreshTaskList();
  ASSERT_EQ(Grid()->rowCount(), 3);
  TaskListPage* page = window_->task_page();
  // Move the running task down: it keeps running and its row follows.
  page->SelectRow(0);
  page->down_action()->trigger();
  EXPECT_EQ(page->SelectedRow(), 1);
  EXPECT_EQ(Cell(1, 6), "orders");
  EXPECT_EQ(Cell(1, 3), "Working");
  EXPECT_EQ(Cell(0, 0), "01");
  EXPECT_EQ(Cell(1, 0), "02");
  // Delete the view task (last row).
  page->SelectRow(2);
  page->delete_action()->trigger();
  ASSERT_EQ(Grid()->rowCount(), 2);
  EXPECT_EQ(Cell(0, 3), "Waiting");
  gate_->Open();
  ASSERT_TRUE(controller_.worker().WaitUntilIdle(std::chrono::seconds(10)));
  window_->RefreshTaskList();
  EXPECT_EQ(Cell(0, 3), "SUCCESS");
  EXPECT_EQ(Cell(1, 3), "SUCCESS");
  page->clear_action()->trigger();
  EXPECT_EQ(Grid()->rowCount(), 0);
  EXPECT_TRUE(Tasks().empty());
}

TEST_F(MainWindowTest, BackupPreconditionAndCancelledFolder) {
  window_->RunCommand(cmd::kBackup);
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{"No Target DataSource Connection!"});
  EXPECT_TRUE(Tips().startsWith(
      "F1 to Help:\nPlease confirm your target Database connected SUCCESSFULLY!"));
  ConnectBoth();
  Select(true, "customers", NodeLevel::kTable);
  window_->RunCommand(cmd::kToolBackup);  // folder chooser answers "cancel"
  EXPECT_EQ(folder_titles_, std::vector<std::string>{"Please choise your backup directory:"});
  EXPECT_TRUE(Tasks().empty());
  EXPECT_FALSE(backend_.Running());
  folder_ = "/tmp/bk";
  window_->RunCommand(cmd::kToolBackup);
  ASSERT_EQ(Tasks().size(), 1u);
  EXPECT_EQ(Tasks()[0].object_letter, "T");
  EXPECT_EQ(Tasks()[0].target_object, "customers");
}

TEST_F(MainWindowTest, DropOnTargetDatabaseRunsMigrate) {
  ConnectBoth();
  Select(false, "shop", NodeLevel::kDatabase);
  TreeNode* target_db = Find(true, "/srv/data/shop", NodeLevel::kDatabase);
  window_->target_view()->SelectNode(target_db);
  boxes_.answers = {BoxAnswer::kOk};
  emit window_->target_view()->NodeDropped(window_->source_view(), false);
  QCoreApplication::processEvents();
  EXPECT_EQ(boxes_.shown.back(), "Convert database [shop] into Target database [/srv/data/shop]?");
  ASSERT_EQ(Tasks().size(), 1u);
  EXPECT_EQ(Tasks()[0].kind, TaskKind::kConvertDatabase);
  // A copy leaves the dragged node in place.
  EXPECT_NE(backend_.source_tree().selected(), nullptr);
}

TEST_F(MainWindowTest, ShiftDropRemovesDraggedNodeAfterMigrate) {
  ConnectBoth();
  Select(false, "orders", NodeLevel::kTable);
  Select(true, "/srv/data/shop", NodeLevel::kDatabase);
  boxes_.answers = {BoxAnswer::kOk};
  emit window_->target_view()->NodeDropped(window_->source_view(), true);
  QCoreApplication::processEvents();
  ASSERT_EQ(Tasks().size(), 1u);
  EXPECT_EQ(Tasks()[0].source_object, "orders");
  for (const TreeNode* n : backend_.source_tree().Walk()) EXPECT_NE(n->text(), "orders");
}

TEST_F(MainWindowTest, EnterAndEscapeDoNotCloseTheWindow) {
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  QTest::keyClick(window_.get(), Qt::Key_Escape);
  QTest::keyClick(window_.get(), Qt::Key_Return);
  QTest::keyClick(window_->source_view(), Qt::Key_Escape);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(MainWindowTest, CloseWhileRunningAsksAndCancelKeepsWindow) {
  window_->show();
  ConnectBoth();
  MigrateOrders();
  ASSERT_TRUE(gate_->WaitArrived());
  boxes_.shown.clear();
  boxes_.answers = {BoxAnswer::kCancel};
  window_->close();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{"Some Tasks is Processing, STOP ALL and EXIT?"});
  EXPECT_TRUE(backend_.Running());
  boxes_.answers = {BoxAnswer::kOk};
  window_->close();
  // The window stays, saying so, until the stopped task has ended.
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->closing());
  EXPECT_TRUE(backend_.Stopping());
  EXPECT_TRUE(window_->status_pane(1)->text().startsWith("Stopping the running task"));
  gate_->Open();
  QTRY_VERIFY_WITH_TIMEOUT(!window_->isVisible(), 5000);
  // The stopped task did not complete: it failed.
  ASSERT_EQ(Tasks().size(), 1u);
  EXPECT_EQ(Tasks()[0].state_text, kStateFailure);
}

TEST_F(MainWindowTest, DoubleClickOnDatabaseRefillsWithIt) {
  ConnectBoth();
  TreeNode* mysql = Find(false, "mysql", NodeLevel::kDatabase);
  window_->source_view()->SelectNode(mysql);
  emit window_->source_view()->DatabaseActivated(mysql);
  EXPECT_EQ(backend_.source_tree().catalog_name(), "mysql");
  // "mysql" has no tables in the sample; "shop"'s tables are gone.
  for (const TreeNode* n : backend_.source_tree().Walk()) EXPECT_NE(n->text(), "orders");
  ASSERT_NE(backend_.source_tree().current_database(), nullptr);
  EXPECT_EQ(backend_.source_tree().current_database()->text(), "mysql");
}

}  // namespace
}  // namespace velquin::ui

namespace velquin::ui {
namespace {

class MainWindowLogTest : public ::testing::Test {
 protected:
  MainWindowLogTest()
      : controller_(log_),
        access_(DemoSourceCatalog(), DemoTargetCatalog()),
        host_(controller_, access_) {
    testing_support::App();
  }
  OutputLog log_;
  MainController controller_;
  MemoryDatabaseAccess access_;
  ControllerHost host_;
};

TEST_F(MainWindowLogTest, LinesShowClassWithoutPrefixAndEarlierLinesAreLoaded) {
  log_.Write("written before the window");
  MainWindow window(&host_);
  struct Case {
    const char* message;
    PaneLineClass cls;
    const char* shown;
  } cases[] = {
      {"E::No Connection!", PaneLineClass::kError, "No Connection!"},
      {"S::", PaneLineClass::kSuccess, ""},
      {"T::[MySQL] 100% done", PaneLineClass::kProvider, "[MySQL] 100% done"},
      {"e::lower case", PaneLineClass::kPlain, "e::lower case"},
  };
  for (const Case& c : cases) log_.Write(c.message);
  OutputModel* m = window.output_model();
  QTRY_COMPARE(m->rowCount(), 5);
  EXPECT_TRUE(m->index(0).data().toString().endsWith("written before the window"));
  const QRegularExpression stamp("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3} ");
  for (int i = 0; i < 4; ++i) {
    const QString text = m->index(i + 1).data().toString();
    ASSERT_TRUE(stamp.match(text).hasMatch()) << text.toStdString();
    EXPECT_EQ(text.mid(24), cases[i].shown);
    EXPECT_EQ(m->index(i + 1).data(OutputModel::kClassRole).toInt(),
              static_cast<int>(cases[i].cls));
  }
  // The newest line is the selected one.
  EXPECT_EQ(window.output_pane()->currentIndex().row(), 4);
}

TEST_F(MainWindowLogTest, SourceTableToolTipShowsConditionOrConvertAll) {
  access_.conditions["shop.orders"] = "total > 100 AND placed >= '2024-01-01'";
  MainWindow window(&host_);
  window.resize(1000, 760);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.RunCommand(cmd::kConnect);
  DbTreeView* view = window.source_view();
  auto tip_over = [&](const std::string& text) {
    for (const TreeNode* n : host_.source_tree().Walk()) {
      if (n->text() != text) continue;
      const QRect r = view->visualRect(view->tree_model()->IndexOf(n));
      QMouseEvent move(QEvent::MouseMove, r.center(), view->viewport()->mapToGlobal(r.center()),
                       Qt::NoButton, Qt::NoButton, Qt::NoModifier);
      QCoreApplication::sendEvent(view->viewport(), &move);
      return view->toolTip().toStdString();
    }
    return std::string("<no node>");
  };
  EXPECT_EQ(tip_over("orders"), "Condition : total > 100 AND placed >= '2024-01-01'");
  EXPECT_EQ(tip_over("customers"), "Convert All");
  EXPECT_EQ(tip_over("Tables"), "");
}

}  // namespace
}  // namespace velquin::ui

namespace velquin::ui {
namespace {

TEST_F(MainWindowLogTest, RenameInPlaceCommitsOnlyWithEnter) {
  MainWindow window(&host_);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.RunCommand(cmd::kConnect);
  DbTreeView* view = window.target_view();
  TreeNode* table = nullptr;
  for (const TreeNode* n : host_.target_tree().Walk()) {
    if (n->text() == "customers") table = const_cast<TreeNode*>(n);
  }
  ASSERT_NE(table, nullptr);
  auto rename = [&](const QString& text, Qt::Key end) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // earlier editors
    view->SelectNode(table);
    window.RunCommand(32789);  // Rename Table
    auto* editor = view->findChild<QLineEdit*>();
    if (editor == nullptr) return false;
    editor->selectAll();
    QTest::keyClicks(editor, text);
    if (end == Qt::Key_unknown) {
      view->SelectNode(host_.target_tree().root());  // click elsewhere
      QCoreApplication::processEvents();
    } else {
      QTest::keyClick(editor, end);
      QCoreApplication::processEvents();  // the delegate commits by a queued call
    }
    return true;
  };
  ASSERT_TRUE(rename("clients", Qt::Key_Escape));
  EXPECT_EQ(table->text(), "customers");
  ASSERT_TRUE(rename("clients", Qt::Key_unknown));
  EXPECT_EQ(table->text(), "customers");
  ASSERT_TRUE(rename("clients", Qt::Key_Return));
  EXPECT_EQ(table->text(), "clients");
  EXPECT_EQ(access_.target().databases[0].tables[0].name, "clients");
}

}  // namespace
}  // namespace velquin::ui

namespace velquin::ui {
namespace {

TEST_F(MainWindowLogTest, GridRebuildsEveryFifthTickOnlyWhileTaskListShown) {
  MainWindow window(&host_);
  QAbstractItemModel* grid = window.task_page()->view()->model();
  controller_.StopAll();
  TaskRecord r;
  r.kind = TaskKind::kConvertTable;
  r.source_object = "orders";
  controller_.queue().Append(r);  // behind the window's back: no forced refresh
  ASSERT_EQ(window.tabs()->currentIndex(), kTaskListPage);
  for (int i = 0; i < 4; ++i) {
    window.Tick();
    EXPECT_EQ(grid->rowCount(), 0) << "tick " << i + 1;
  }
  window.Tick();
  EXPECT_EQ(grid->rowCount(), 1);
  // While the Log page is shown nothing is rebuilt.
  window.ShowPage(kLogPage);
  controller_.queue().Append(r);
  for (int i = 0; i < 10; ++i) window.Tick();
  EXPECT_EQ(grid->rowCount(), 1);
  // Showing the Task List again rebuilds at once.
  window.ShowPage(kTaskListPage);
  EXPECT_EQ(grid->rowCount(), 2);
}

// The time left: per task in the grid's last column (a planned task that
// has not started shows its plan's estimate, a task without one nothing)
// and for the whole queue in the status bar, whichever page is shown.
TEST_F(MainWindowLogTest, TaskListAndStatusBarShowTheTimeLeft) {
  MainWindow window(&host_);
  controller_.StopAll();
  TaskRecord planned;
  planned.kind = TaskKind::kConvertDatabase;
  planned.planned_seconds = 125;
  controller_.queue().Append(planned);
  window.RefreshTaskList();
  QAbstractItemModel* grid = window.task_page()->view()->model();
  EXPECT_EQ(grid->headerData(kTimeLeftColumn, Qt::Horizontal).toString(), "Time Left");
  EXPECT_EQ(grid->index(0, kTimeLeftColumn).data().toString(), "2 min 05 s");
  EXPECT_EQ(window.queue_time_pane()->text(), "Queue: 2 min 05 s left");

  TaskRecord table;
  table.kind = TaskKind::kConvertTable;
  controller_.queue().Append(table);
  window.ShowPage(kLogPage);
  window.Tick();
  EXPECT_EQ(window.queue_time_pane()->text(), "Queue: at least 2 min 05 s left");
  window.ShowPage(kTaskListPage);
  EXPECT_EQ(grid->index(1, kTimeLeftColumn).data().toString(), "");
  controller_.queue().Clear();
  window.Tick();
  EXPECT_EQ(window.queue_time_pane()->text(), "");
}

}  // namespace
}  // namespace velquin::ui

namespace velquin::ui {
namespace {

TEST_F(MainWindowLogTest, RefillPostedFromAnotherThreadRelistsTargetOnWindowThread) {
  auto window = std::make_unique<MainWindow>(&host_);
  window->RunCommand(cmd::kConnect);
  access_.target().databases[0].tables.push_back({"orders", {"id"}, {}});
  std::function<void()> post = window->TargetRefillPoster();
  std::thread([post] { post(); }).join();
  auto has_orders = [&] {
    for (const TreeNode* n : host_.target_tree().Walk()) {
      if (n->text() == "orders") return true;
    }
    return false;
  };
  EXPECT_FALSE(has_orders());  // nothing happens on the posting thread
  QTRY_VERIFY(has_orders());
  // The relisted tree shows its root and database expanded again.
  const QModelIndex root = window->target_view()->model()->index(0, 0);
  EXPECT_TRUE(window->target_view()->isExpanded(root));
  EXPECT_TRUE(window->target_view()->isExpanded(window->target_view()->model()->index(0, 0, root)));
  window.reset();
  post();  // after the window is gone: dropped
  QCoreApplication::processEvents();
}

}  // namespace
}  // namespace velquin::ui

namespace velquin::ui {
namespace {

TEST_F(MainWindowTest, DeleteTargetTableAfterBothQuestionsRemovesNodeAndTable) {
  ConnectBoth();
  Select(true, "customers", NodeLevel::kTable);
  boxes_.answers = {BoxAnswer::kOk, BoxAnswer::kYes};
  window_->RunCommand(cmd::kToolDelete);
  ASSERT_EQ(boxes_.shown.size(), 2u);
  EXPECT_EQ(boxes_.shown[0], "Delete the table [/srv/data/shop.customers]?");
  EXPECT_TRUE(access_.target().databases[0].tables.empty());
  for (const TreeNode* n : backend_.target_tree().Walk()) EXPECT_NE(n->text(), "customers");
  QTRY_VERIFY(HasLine("Delete the table [/srv/data/shop.customers]?"));
}

TEST_F(MainWindowTest, DeleteWithoutTargetConnectionNamesTheTarget) {
  window_->RunCommand(cmd::kDeleteSelected);
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{"No Target DataSource Connection!"});
  EXPECT_EQ(boxes_.titles, std::vector<std::string>{"Delete"});
  EXPECT_EQ(window_->tabs()->currentIndex(), kTipsPage);
  EXPECT_TRUE(Tips().startsWith(
      "F1 to Help:\nPress Config button, and get a successful target Connection!"));
}

}  // namespace
}  // namespace velquin::ui
