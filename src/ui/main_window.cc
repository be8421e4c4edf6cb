#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTime>
#include <QToolBar>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>
#include <mutex>

#include "app/tree_commands.h"
#include "base/version.h"
#include "catalog/catalog_listing.h"
#include "log/output_log.h"
#include "tasks/task_eta.h"
#include "ui/config_dialog.h"
#include "ui/driver_check_dialog.h"
#include "ui/plan_dialog.h"
#include "ui/qt_message_boxes.h"
#include "ui/small_dialogs.h"

namespace velquin::ui {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
QString Q(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

int PaneClassOf(LineClass c) {
  switch (c) {
    case LineClass::kError:
      return static_cast<int>(PaneLineClass::kError);
    case LineClass::kSuccess:
      return static_cast<int>(PaneLineClass::kSuccess);
    case LineClass::kProvider:
      return static_cast<int>(PaneLineClass::kProvider);
    case LineClass::kPlain:
      break;
  }
  return static_cast<int>(PaneLineClass::kPlain);
}
}  // namespace

// Carries log lines and the worker's texts to the window's thread. Called on
// any thread; it only posts, and once the window is gone it drops.
class WindowRelay : public LogSink, public WorkerObserver {
 public:
  explicit WindowRelay(MainWindow* window) : window_(window) {}
  void Detach() {
    std::lock_guard<std::mutex> lock(mu_);
    window_ = nullptr;
  }
  void OnLine(const LogLine& line) override {
    Post("AppendOutput", Q_ARG(int, PaneClassOf(line.line_class)),
         Q_ARG(QString, Q(line.Display())));
  }
  void OnStatusText(std::string_view text) override {
    Post("ShowStatusText", Q_ARG(QString, Q(text)));
  }
  void OnStartStopToolTip(std::string_view text) override {
    Post("ShowStartStopToolTip", Q_ARG(QString, Q(text)));
  }
  void OnStartStopPicture(StartStopPicture picture) override {
    const int state = picture == StartStopPicture::kRunning    ? 2
                      : picture == StartStopPicture::kStopping ? 99
                                                               : 0;
    std::lock_guard<std::mutex> lock(mu_);
    if (window_ != nullptr) {
      QMetaObject::invokeMethod(
          window_, [w = window_, state] { w->ShowWorkerButton(state); }, Qt::QueuedConnection);
    }
  }
  void OnTaskListChanged() override { Post("ForceTaskRefresh"); }
  void PostRefill(bool target) { Post("RefillTree", Q_ARG(bool, target)); }
  void PostWarning(const std::string& text) { Post("ShowWarningBox", Q_ARG(QString, Q(text))); }

 private:
  template <typename... Args>
  void Post(const char* method, Args... args) {
    std::lock_guard<std::mutex> lock(mu_);
    if (window_ != nullptr)
      QMetaObject::invokeMethod(window_, method, Qt::QueuedConnection, args...);
  }
  std::mutex mu_;
  MainWindow* window_;
};

MainWindow::MainWindow(ControllerHost* host, QWidget* parent)
    : QMainWindow(parent),
      host_(host),
      own_boxes_(std::make_unique<QtMessageBoxes>(this)),
      boxes_(own_boxes_.get()) {
  setObjectName("MainWindow");
  setWindowTitle(Q(ProductLine()));
  setWindowIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
  folder_chooser_ = [this](const std::string& title) -> std::optional<std::string> {
    const QString dir = QFileDialog::getExistingDirectory(this, Q(title));
    if (dir.isEmpty()) return std::nullopt;
    return dir.toStdString();
  };

  new_file_chooser_ = [this](const std::string& folder) -> std::optional<std::string> {
    const QString file =
        QFileDialog::getSaveFileName(this, "New Database", Q(folder), "Access File (*.mdb)");
    if (file.isEmpty()) return std::nullopt;
    return file.toStdString();
  };

  open_file_chooser_ = [this]() -> std::optional<std::string> {
    const QString file =
        QFileDialog::getOpenFileName(this, "Open the database file", ".", "Access File (*.mdb)");
    if (file.isEmpty()) return std::nullopt;
    return file.toStdString();
  };
  config_file_ = std::filesystem::absolute(std::string(kMigratorConfigFileName));

  BuildMenus();
  BuildToolbar();

  source_model_ = std::make_unique<DbTreeModel>(&host_->source_tree());
  target_model_ = std::make_unique<DbTreeModel>(&host_->target_tree());
  source_view_ = new DbTreeView(source_model_.get());
  source_view_->setObjectName("SourceTree");
  target_view_ = new DbTreeView(target_model_.get());
  target_view_->setObjectName("TargetTree");
  auto* splitter = new QSplitter(Qt::Horizontal);
  splitter->setObjectName("TreesSplitter");
  splitter->addWidget(BuildTreeFolder(source_view_, &source_title_, "MySQL"));
  splitter->addWidget(BuildTreeFolder(target_view_, &target_title_, "Access"));
  splitter->setSizes({1, 1});

  BuildLowerTabs();
  auto* vertical = new QSplitter(Qt::Vertical);
  vertical->addWidget(splitter);
  vertical->addWidget(tabs_);
  vertical->setStretchFactor(0, 3);
  vertical->setStretchFactor(1, 2);
  setCentralWidget(vertical);
  BuildStatusBar();

  for (DbTreeView* view : {source_view_, target_view_}) {
    connect(view, &DbTreeView::NodeSelected, this,
            [this, view](TreeNode* node) { OnNodeSelected(view, node); });
    connect(view, &DbTreeView::CommandChosen, this,
            [this, view](int command) { OnTreeCommand(view, command); });
    connect(view, &DbTreeView::NodeDropped, this,
            [this, view](DbTreeView* from, bool move) { OnDrop(view, from, move); });
    connect(view, &DbTreeView::DatabaseActivated, this,
            [this, view](TreeNode* node) { OnDatabaseActivated(view, node); });
  }
  target_model_->SetRenameHandler([this](TreeNode* node, const std::string& name) {
    if (host_->access().TargetBusy()) {
      host_->target_tree().set_rename_commit(false);
      Inform(kTargetBusy);
      return false;
    }
    return FinishRename(host_->access(), host_->target_tree(), node, name);
  });
  source_view_->viewport()->setMouseTracking(true);
  source_view_->viewport()->installEventFilter(this);

  TaskQueue& queue = host_->controller().queue();
  connect(task_page_, &TaskListPage::ClearAllRequested, this, [this, &queue] {
    queue.Clear();
    RefreshTaskList();
  });
  connect(task_page_, &TaskListPage::DeleteRequested, this, [this, &queue](int row) {
    queue.Delete(static_cast<size_t>(row));
    RefreshTaskList();
  });
  connect(task_page_, &TaskListPage::MoveUpRequested, this, [this, &queue](int row) {
    if (auto to = queue.MoveUp(static_cast<size_t>(row))) {
      RefreshTaskList();
      task_page_->SelectRow(static_cast<int>(*to));
    }
  });
  connect(task_page_, &TaskListPage::MoveDownRequested, this, [this, &queue](int row) {
    if (auto to = queue.MoveDown(static_cast<size_t>(row))) {
      RefreshTaskList();
      task_page_->SelectRow(static_cast<int>(*to));
    }
  });
  connect(task_page_, &TaskListPage::StartStopRequested, this,
          [this] { StartStopTasks(*host_, *this); });

  // Lines already written, then every new one and the worker's texts, which
  // may come from the worker thread: the relay queues them to this thread.
  MainController& controller = host_->controller();
  for (const LogLine& line : controller.log().model().Snapshot()) {
    output_model_->Append(PaneClassOf(line.line_class), Q(line.Display()));
  }
  relay_ = std::make_shared<WindowRelay>(this);
  controller.log().AddSink(relay_);
  controller.SetWorkerObserver(relay_);

  qApp->installEventFilter(this);
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, &MainWindow::Tick);
  timer_.start();
  resize(1000, 760);
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  relay_->Detach();
  host_->controller().log().RemoveSink(relay_);
  host_->controller().SetWorkerObserver(nullptr);
  // The views go before their models.
  delete centralWidget();
}

QAction* MainWindow::Action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

QMenu* MainWindow::ObjectMenu(velquin::ObjectMenu which) const {
  auto it = object_menus_.find(which);
  return it == object_menus_.end() ? nullptr : it->second;
}

void MainWindow::BuildMenus() {
  struct Item {
    const char* text;
    int id;
  };
  struct Popup {
    const char* title;
    std::vector<Item> items;
  };
  const Popup popups[] = {
      {"&Connect",
       {{"&Config", cmd::kConfig},
        {"Co&nnect", cmd::kConnect},
        {"Driver Check", cmd::kDriverCheck},
        {"E&xit", cmd::kExit}}},
      {"&Operation",
       {{"Migrate", cmd::kMigrate},
        {"Delete Selected", cmd::kDeleteSelected},
        {"&Backup", cmd::kBackup}}},
      {"D&atabases",
       {{"New Database", 32775},
        {"Change Charset", 32774},
        {"Change Storage Engine(MyISAM)", 32794}}},
      {"&Database",
       {{"Delete Database", 32772}, {"Clear all tables", 32773}, {"Clear all Data", 32790}}},
      {"&Table",
       {{"Migration Condition", 32776},
        {"Drop Table", 32787},
        {"Drop View", 32788},
        {"Rename Table", 32789}}},
      {"&Help", {{"&Manual", cmd::kManual}}},
      {"&About", {{"Omdara website", cmd::kWebsite}}},
  };
  QStyle* s = style();
  for (const Popup& p : popups) {
    QMenu* menu = menuBar()->addMenu(QString::fromLatin1(p.title));
    for (const Item& item : p.items) {
      if (item.id == cmd::kExit) menu->addSeparator();
      QAction* a = menu->addAction(QString::fromLatin1(item.text));
      a->setData(item.id);
      actions_[item.id] = a;
      connect(a, &QAction::triggered, this, [this, id = item.id] { RunCommand(id); });
    }
  }
  object_menus_[velquin::ObjectMenu::kDatabases] = qobject_cast<QMenu*>(Action(32775)->parent());
  object_menus_[velquin::ObjectMenu::kDatabase] = qobject_cast<QMenu*>(Action(32772)->parent());
  object_menus_[velquin::ObjectMenu::kTable] = qobject_cast<QMenu*>(Action(32776)->parent());
  for (TreeCommand c : kAllTreeCommands) Action(static_cast<int>(c))->setEnabled(false);
  Action(cmd::kConfig)->setIcon(s->standardIcon(QStyle::SP_FileDialogDetailedView));
  Action(cmd::kConnect)->setIcon(s->standardIcon(QStyle::SP_DriveNetIcon));
  Action(cmd::kMigrate)->setIcon(s->standardIcon(QStyle::SP_ArrowRight));
  Action(cmd::kDeleteSelected)->setIcon(s->standardIcon(QStyle::SP_TrashIcon));
  Action(cmd::kBackup)->setIcon(s->standardIcon(QStyle::SP_DialogSaveButton));
  Action(cmd::kManual)->setShortcut(QKeySequence(Qt::Key_F1));
}

void MainWindow::BuildToolbar() {
  QToolBar* bar = addToolBar("    ");
  bar->setObjectName("Minitools");
  bar->setIconSize(QSize(24, 24));
  bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  bar->setMovable(false);
  QStyle* s = style();
  struct Button {
    int id;
    const char* caption;
    const char* tip;
    QStyle::StandardPixmap icon;
  };
  const Button buttons[] = {
      {cmd::kToolConfigure, " Configure ", "Database Connections Config",
       QStyle::SP_FileDialogDetailedView},
      {cmd::kToolConnect, " Connect ", "Connect the DataSources", QStyle::SP_DriveNetIcon},
      {cmd::kToolMigrate, " Migrate ", "Convert from source into target", QStyle::SP_ArrowRight},
      {cmd::kToolDelete, " Delete ", "Delete the selected object", QStyle::SP_TrashIcon},
      {cmd::kToolBackup, " Backup ", "Backup the selected object", QStyle::SP_DialogSaveButton},
      {cmd::kToolAbout, " About ", "", QStyle::SP_MessageBoxInformation},
  };
  for (const Button& b : buttons) {
    QAction* a = bar->addAction(s->standardIcon(b.icon), QString::fromLatin1(b.caption));
    a->setToolTip(QString::fromLatin1(b.tip));
    a->setData(b.id);
    actions_[b.id] = a;
    connect(a, &QAction::triggered, this, [this, id = b.id] { RunCommand(id); });
  }
}

QWidget* MainWindow::BuildTreeFolder(DbTreeView* view, QLabel** title, const QString& text) {
  auto* folder = new QWidget;
  auto* layout = new QVBoxLayout(folder);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  *title = new QLabel(text);
  (*title)->setObjectName(text == "MySQL" ? "SourceFolderTitle" : "TargetFolderTitle");
  (*title)->setMargin(4);
  (*title)->setStyleSheet(
      "QLabel { background: palette(mid); color: palette(bright-text); "
      "font-weight: bold; }");
  layout->addWidget(*title);
  layout->addWidget(view);
  return folder;
}

void MainWindow::BuildLowerTabs() {
  tabs_ = new QTabWidget;
  tabs_->setObjectName("LowerTabs");
  output_model_ = new OutputModel(tabs_);
  output_pane_ = new OutputPane(output_model_);
  output_pane_->setFont(QApplication::font());
  task_page_ = new TaskListPage;
  tips_ = new TipsPane;
  QStyle* s = style();
  tabs_->addTab(output_pane_, s->standardIcon(QStyle::SP_FileDialogListView), "Log");
  tabs_->addTab(task_page_, s->standardIcon(QStyle::SP_FileDialogDetailedView), "Task List");
  tabs_->addTab(tips_, s->standardIcon(QStyle::SP_MessageBoxInformation), "Tips");
  tabs_->setCurrentIndex(kTaskListPage);
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    if (index == kTaskListPage) task_page_->Rebuild(TaskRows());
  });
}

void MainWindow::BuildStatusBar() {
  for (int i = 0; i < 3; ++i) {
    status_[i] = new QLabel;
    status_[i]->setObjectName(QString("StatusPane%1").arg(i));
  }
  status_[0]->setText(Q(ProductLine()));
  status_[1]->setText("Main Controller:IDLE");
  status_[2]->setText(QTime::currentTime().toString("HH:mm:ss"));
  statusBar()->addWidget(status_[0], 5);
  statusBar()->addWidget(status_[1], 2);
  queue_time_ = new QLabel;
  queue_time_->setObjectName("QueueTimeLeft");
  statusBar()->addPermanentWidget(queue_time_);
  statusBar()->addPermanentWidget(status_[2]);
}

void MainWindow::Tick() {
  status_[2]->setText(QTime::currentTime().toString("HH:mm:ss"));
  const TaskQueue& queue = host_->controller().queue();
  queue_time_->setText(Q(QueueTimeLeftText(QueueSecondsLeft(queue.Snapshot(), queue.Now()))));
  if (tabs_->currentIndex() != kTaskListPage) return;
  if (refresh_counter_ < 4) {
    ++refresh_counter_;
    return;
  }
  task_page_->Rebuild(TaskRows());
  refresh_counter_ = 0;
}

std::function<void()> MainWindow::TargetRefillPoster() {
  std::weak_ptr<WindowRelay> relay = relay_;
  return [relay] {
    if (auto r = relay.lock()) r->PostRefill(true);
  };
}

std::function<void(const std::string&)> MainWindow::MessageBoxPoster() {
  std::weak_ptr<WindowRelay> relay = relay_;
  return [relay](const std::string& text) {
    if (auto r = relay.lock()) r->PostWarning(text);
  };
}

void MainWindow::ShowWarningBox(const QString& text) {
  Show(text.toStdString(), BoxButtons::kOk, BoxIcon::kWarning, "");
}

void MainWindow::RefillTree(bool target) {
  DbTree& tree = target ? host_->target_tree() : host_->source_tree();
  if (!tree.connected()) return;
  if (target && host_->access().TargetBusy()) {
    host_->WriteLine("The target tree is listed again when the running task has ended.");
    return;
  }
  // An Access target is one file, and a task may have switched the side to
  // another (a clone, a database switch): the listing then takes the
  // session's own current database instead of the one it had.
  if (target && tree.kind() == TreeKind::kAccess && tree.provider() == "Microsoft.Jet.OLEDB.4.0") {
    tree.set_catalog_name("");
  }
  RefillSide(*host_, *this, host_->access(), target);
  (target ? target_view_ : source_view_)->ApplyExpansion();
}

std::vector<TaskGridRow> MainWindow::TaskRows() {
  std::vector<TaskGridRow> rows;
  const TaskQueue& queue = host_->controller().queue();
  const std::vector<TaskRecord> records = queue.Snapshot();
  const std::vector<TaskGridText> texts = TaskGridRows(records);
  const int32_t now = queue.Now();
  for (std::size_t i = 0; i < texts.size(); ++i) {
    TaskGridRow row;
    for (int c = 0; c < kTaskGridColumns; ++c) {
      row.cells[static_cast<size_t>(c)] = Q(texts[i].cells[static_cast<size_t>(c)]);
    }
    row.cells[kTimeLeftColumn] = Q(TaskTimeLeftText(records[i], now));
    row.progress = texts[i].progress;
    rows.push_back(std::move(row));
  }
  return rows;
}

void MainWindow::RefreshTaskList() {
  refresh_counter_ = 5;
  Tick();
}

BoxAnswer MainWindow::Show(const std::string& text, BoxButtons buttons, BoxIcon icon,
                           const std::string& title) {
  return boxes_->Show(text, buttons, icon, title);
}

void MainWindow::Hint(const std::string& text) { tips_->InsertHint(Q(text)); }

void MainWindow::ShowPage(int index) { tabs_->setCurrentIndex(index); }

std::optional<std::string> MainWindow::ChooseFolder(const std::string& title) {
  return folder_chooser_(title);
}

void MainWindow::SetTreeTitle(bool target, const std::string& title) {
  (target ? target_title_ : source_title_)->setText(Q(title));
}

void MainWindow::ShowWorkerButton(int run_state) { task_page_->ShowWorkerState(run_state); }

std::optional<std::string> MainWindow::ChooseNewDatabaseFile(const std::string& folder) {
  return new_file_chooser_(folder);
}

void MainWindow::RunBusy(const std::string& text, const std::function<void()>& work) {
  RunWithBusyBox(this, text, work);
}

bool MainWindow::ConfirmPlan(const TaskPlanPreview& plan) {
  PlanDialog dialog(plan, this);
  return dialog.exec() == QDialog::Accepted && !plan.over_limit;
}

bool MainWindow::ChooseCharset(std::string* name) {
  CharsetDialog dialog(*name, this);
  if (dialog.exec() != QDialog::Accepted) return false;
  *name = dialog.name();
  return true;
}

void MainWindow::SetTipsShown(bool shown) {
  const int at = tabs_->indexOf(tips_);
  if (shown && at < 0) {
    tabs_->addTab(tips_, style()->standardIcon(QStyle::SP_MessageBoxInformation), "Tips");
  } else if (!shown && at >= 0) {
    tabs_->removeTab(at);
  }
}

bool MainWindow::tips_shown() const { return tabs_->indexOf(tips_) >= 0; }

QString MainWindow::ManualPath() {
  const QDir dir(QCoreApplication::applicationDirPath());
  for (const QString& candidate :
       {dir.filePath("velquin-manual.html"), dir.filePath("../share/doc/velquin/manual.html")}) {
    if (QFileInfo::exists(candidate)) return QFileInfo(candidate).canonicalFilePath();
  }
  return dir.filePath("velquin-manual.html");
}

void MainWindow::AppendOutput(int line_class, const QString& line) {
  output_model_->Append(line_class, line);
}

void MainWindow::ShowStatusText(const QString& text) { status_[1]->setText(text); }

void MainWindow::ShowStartStopToolTip(const QString& text) {
  task_page_->start_stop_action()->setToolTip(text);
}

void MainWindow::RunCommand(int id) {
  switch (id) {
    case cmd::kConnect:
    case cmd::kToolConnect:
      Connect(*host_, *this);
      source_view_->ApplyExpansion();
      target_view_->ApplyExpansion();
      return;
    case cmd::kMigrate:
    case cmd::kToolMigrate:
      return Migrate(*host_, *this);
    case cmd::kBackup:
    case cmd::kToolBackup:
      return Backup(*host_, *this);
    case cmd::kDeleteSelected:
    case cmd::kToolDelete:
      return Delete(*host_, *this);
    case cmd::kExit:
      close();
      return;
    case cmd::kToolAbout: {
      AboutDialog about(ManualPath(), this);
      about.exec();
      return;
    }
    case cmd::kManual:
      if (!QFileInfo::exists(ManualPath())) {
        Inform("The manual is not installed beside the program: " + ManualPath().toStdString());
        return;
      }
      QDesktopServices::openUrl(QUrl::fromLocalFile(ManualPath()));
      return;
    case cmd::kWebsite:
      QDesktopServices::openUrl(QUrl("https://www.omdara.com/velquin"));
      return;
    case cmd::kConfig:
    case cmd::kToolConfigure:
      OpenConfig();
      return;
    case cmd::kDriverCheck:
      OpenDriverCheck();
      return;
    case static_cast<int>(TreeCommand::kNewDatabase):
      NewDatabase(*host_, *this, host_->access());
      target_view_->ApplyExpansion();
      return;
    case static_cast<int>(TreeCommand::kChangeCharset):
      if (source_view_->hasFocus()) OnTreeCommand(source_view_, id);
      return;
    case static_cast<int>(TreeCommand::kMigrationCondition):
      // A condition belongs to a source table, whichever tree had the focus.
      OnTreeCommand(source_view_, id);
      return;
    default:
      // The remaining tree operations go to the target tree.
      OnTreeCommand(target_view_, id);
      return;
  }
}

void MainWindow::OnTreeCommand(DbTreeView* view, int command) {
  DatabaseAccess& access = host_->access();
  const bool target = view == target_view_;
  switch (static_cast<TreeCommand>(command)) {
    case TreeCommand::kRenameTable:
      if (target) {
        const TreeNode* node = view->tree()->selected();
        if (node != nullptr && node->level() == NodeLevel::kTable) {
          view->tree()->set_rename_commit(false);
          view->edit(target_model_->IndexOf(node));
        }
      }
      return;
    case TreeCommand::kNewDatabase:
      if (target) NewDatabase(*host_, *this, access);
      break;
    case TreeCommand::kChangeCharset:
      if (!target) ChangeCharset(*host_, *this, access);
      break;
    case TreeCommand::kStorageEngine: {
      QAction* item = Action(command);
      const EngineToggle toggle = ToggleStorageEngine(item->text().toStdString());
      item->setText(Q(toggle.menu_text));
      Inform(toggle.message);
      view->tree()->set_storage_engine(toggle.engine);
      return;
    }
    case TreeCommand::kDeleteDatabase:
      if (target) DeleteDatabase(*host_, *this, access);
      break;
    case TreeCommand::kClearAllTables:
      if (target) ClearAllTables(*host_, *this, access);
      break;
    case TreeCommand::kClearAllData:
      if (target) ClearAllData(*host_, *this, access);
      return;
    case TreeCommand::kMigrationCondition:
      if (!target) OpenConditionDialog();
      return;
    case TreeCommand::kDropTable:
      if (target) DropSelectedTable(*host_, *this, access);
      return;
    case TreeCommand::kDropView:
      if (target) DropSelectedView(*host_, *this, access);
      return;
  }
  view->ApplyExpansion();
}

void MainWindow::OpenConfig() {
  ConfigDialog::Hooks hooks;
  hooks.show_tips = [this](bool on) { SetTipsShown(on); };
  hooks.choose_file = open_file_chooser_;
  hooks.target_catalog = host_->target_tree().catalog_name();
  ConfigDialog dialog(host_->access(), *boxes_, config_file_, hooks, this);
  dialog.exec();
  if (!dialog.connect_pressed()) return;
  host_->access().UseDescriptors(dialog.SourceDescriptor(), dialog.TargetDescriptor());
  // As a posted command: the dialog is gone before the connection starts.
  QTimer::singleShot(0, this, [this] {
    RunCommand(cmd::kConnect);
    ShowPage(kTaskListPage);
  });
}

void MainWindow::OpenDriverCheck() {
  DriverCheckDialog::Hooks hooks;
  hooks.choose_folder = folder_chooser_;
  hooks.bundle =
      std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) / "MyODBC3.51";
  hooks.odbcinst = UserOdbcInstIni();
  DriverCheckDialog dialog(*boxes_, hooks, this);
  dialog.exec();
  if (dialog.open_config()) {
    QTimer::singleShot(0, this, [this] { OpenConfig(); });
  } else if (dialog.check_again()) {
    QTimer::singleShot(0, this, [this] { OpenDriverCheck(); });
  }
}

void MainWindow::OpenConditionDialog() {
  const TreeNode* node = host_->source_tree().selected();
  if (node == nullptr || node->level() != NodeLevel::kTable) return;
  const NodeSelection s = DbTree::SelectionOf(*node);
  ConditionDialog dialog(host_->access(), s.database, s.name, this);
  dialog.exec();
}

void MainWindow::OnNodeSelected(DbTreeView* view, TreeNode* node) {
  ApplyMenuState(MenuStateFor(node->level(), view->tree()->side(), view->tree()->kind()));
}

void MainWindow::ApplyMenuState(const MenuState& state) {
  for (auto& [which, menu] : object_menus_) menu->menuAction()->setVisible(which == state.shown);
  if (!state.change_items) return;
  for (TreeCommand c : state.enabled) Action(static_cast<int>(c))->setEnabled(true);
  for (TreeCommand c : state.greyed) Action(static_cast<int>(c))->setEnabled(false);
}

void MainWindow::OnDrop(DbTreeView* /*receiver*/, DbTreeView* from, bool move) {
  // Runs after the drop has returned, as a posted command would.
  TreeNode* dragged = from->tree()->selected();
  QTimer::singleShot(0, this, [this, from, dragged, move] {
    Migrate(*host_, *this);
    if (move && dragged != nullptr && from->tree()->selected() == dragged) {
      from->tree()->Remove(dragged);
    }
  });
}

void MainWindow::OnDatabaseActivated(DbTreeView* view, TreeNode* node) {
  // A copy: the refill below destroys `node` and its text.
  const std::string name = node->text();  // NOLINT(performance-unnecessary-copy-initialization)
  ChooseDatabase(*host_, *this, host_->access(), *view->tree(), name);
  view->ApplyExpansion();
  // The listing made new nodes: the database that was activated stays the
  // selection (not whatever node the refilled tree puts under the mouse).
  auto reselect = [view, name] {
    const TreeNode* root = view->tree()->root();
    if (root == nullptr) return;
    if (const TreeNode* again = root->FindChild(name)) view->SelectNode(again);
  };
  reselect();
  QTimer::singleShot(0, this, reselect);
}

void MainWindow::UpdateSourceToolTip(const QPoint& pos) {
  const QModelIndex index = source_view_->indexAt(pos);
  const TreeNode* node = source_model_->NodeAt(index);
  if (node == nullptr) return;
  QString tip;
  if (node->level() == NodeLevel::kTable) {
    const NodeSelection s = DbTree::SelectionOf(*node);
    const std::string condition = host_->access().TableCondition(s.database, s.name);
    tip = condition.empty() ? QString("Convert All") : "Condition : " + Q(condition);
  }
  source_view_->setToolTip(tip);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    // Enter commits a label edit of the target tree; Escape abandons it.
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) host_->target_tree().set_rename_commit(true);
    if (key == Qt::Key_Escape) host_->target_tree().set_rename_commit(false);
  }
  if (watched == source_view_->viewport() && event->type() == QEvent::MouseMove) {
    UpdateSourceToolTip(static_cast<QMouseEvent*>(event)->position().toPoint());
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  // Enter and Escape neither press a button nor close the window.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
      event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closing_) {
    // Already waiting for the stopped task.
    if (host_->Running() || host_->Stopping()) {
      event->ignore();
      return;
    }
    timer_.stop();
    event->accept();
    return;
  }
  if (!ConfirmClose(*host_, *this)) {
    event->ignore();
    return;
  }
  if (host_->Running() || host_->Stopping()) {
    // The window stays until the task has ended, saying so: a program that
    // went on invisibly could not be told apart from one that hangs.
    event->ignore();
    CloseWhenStopped();
    return;
  }
  timer_.stop();
  event->accept();
}

void MainWindow::CloseWhenStopped() {
  closing_ = true;
  const std::string text = "Stopping the running task; the window closes when it has ended...";
  status_[1]->setText(Q(text));
  host_->WriteLine(text);
  ShowPage(kTaskListPage);
  auto* poll = new QTimer(this);
  connect(poll, &QTimer::timeout, this, [this, poll] {
    if (host_->Running() || host_->Stopping()) return;
    poll->stop();
    close();
  });
  poll->start(100);
}

}  // namespace velquin::ui
