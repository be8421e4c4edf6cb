// MainWindow: the program's one window. Menu bar, toolbar, the two trees
// side by side, the lower tabs ("Log", "Task List", "Tips") and the status
// bar. It presents and forwards: every decision is a command of app/.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QTabWidget>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "app/commands.h"
#include "catalog/menu_state.h"
#include "ui/db_tree_view.h"
#include "ui/output_pane.h"
#include "ui/task_list_page.h"
#include "ui/tips_pane.h"

namespace velquin::ui {

// Command ids of the menu bar and the toolbar.
namespace cmd {
inline constexpr int kConfig = 32777;
inline constexpr int kConnect = 32780;
inline constexpr int kDriverCheck = 32793;
inline constexpr int kExit = 2;
inline constexpr int kMigrate = 32778;
inline constexpr int kDeleteSelected = 32779;
inline constexpr int kBackup = 32782;
inline constexpr int kManual = 32783;
inline constexpr int kWebsite = 32785;
inline constexpr int kToolConfigure = 1026;
inline constexpr int kToolConnect = 1028;
inline constexpr int kToolMigrate = 1035;
inline constexpr int kToolDelete = 1030;
inline constexpr int kToolBackup = 1034;
inline constexpr int kToolAbout = 1032;
}  // namespace cmd

class WindowRelay;

class MainWindow : public QMainWindow, public CommandUi {
  Q_OBJECT
 public:
  explicit MainWindow(ControllerHost* host, QWidget* parent = nullptr);
  ~MainWindow() override;

  // ---- for tests and the screenshot ----
  void SetMessageBoxes(MessageBoxes* boxes) { boxes_ = boxes; }
  void SetFolderChooser(std::function<std::optional<std::string>(const std::string&)> chooser) {
    folder_chooser_ = std::move(chooser);
  }
  // The file picker of New Database (a test answers it instead).
  void SetNewFileChooser(std::function<std::optional<std::string>(const std::string&)> chooser) {
    new_file_chooser_ = std::move(chooser);
  }
  // migrator.cfg, which the configuration dialog reads and writes.
  void SetConfigFile(std::filesystem::path file) { config_file_ = std::move(file); }
  void OpenConfig();
  void OpenDriverCheck();
  // Shows or hides the "Tips" tab (the Tips option of migrator.cfg).
  void SetTipsShown(bool shown);
  bool tips_shown() const;
  // The manual's file; opened by F1, Manual and the About box.
  static QString ManualPath();
  // Set when the window waits for a stopped task before it closes.
  bool closing() const { return closing_; }
  QAction* Action(int id) const;
  QMenu* ObjectMenu(velquin::ObjectMenu which) const;
  QTabWidget* tabs() const { return tabs_; }
  TipsPane* tips() const { return tips_; }
  OutputModel* output_model() const { return output_model_; }
  OutputPane* output_pane() const { return output_pane_; }
  TaskListPage* task_page() const { return task_page_; }
  DbTreeView* source_view() const { return source_view_; }
  DbTreeView* target_view() const { return target_view_; }
  QLabel* status_pane(int i) const { return status_[i]; }
  // The status bar's time left of the whole queue.
  QLabel* queue_time_pane() const { return queue_time_; }
  QLabel* tree_title(bool target) const { return target ? target_title_ : source_title_; }
  // One tick of the one-second timer: clock and task list refresh.
  void Tick();
  // A function any thread may call to have the target tree listed again on
  // this window's thread (the task routines' refill); harmless once the
  // window is gone.
  std::function<void()> TargetRefillPoster();
  // A function any thread may call to have a warning box shown on this
  // window's thread (a task's busy target); it never waits for the box.
  std::function<void(const std::string&)> MessageBoxPoster();

  // ---- CommandUi ----
  BoxAnswer Show(const std::string& text, BoxButtons buttons, BoxIcon icon,
                 const std::string& title) override;
  void Hint(const std::string& text) override;
  void ShowPage(int index) override;
  std::optional<std::string> ChooseFolder(const std::string& title) override;
  void RefreshTaskList() override;
  void SetTreeTitle(bool target, const std::string& title) override;
  void ShowWorkerButton(int run_state) override;
  std::optional<std::string> ChooseNewDatabaseFile(const std::string& folder) override;
  bool ChooseCharset(std::string* name) override;
  void RunBusy(const std::string& text, const std::function<void()>& work) override;
  bool ConfirmPlan(const TaskPlanPreview& plan) override;

 public slots:
  void AppendOutput(int line_class, const QString& line);
  void ShowStatusText(const QString& text);
  void ShowStartStopToolTip(const QString& text);
  void ForceTaskRefresh() { RefreshTaskList(); }
  void RefillTree(bool target);
  void RunCommand(int id);
  void ShowWarningBox(const QString& text);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildMenus();
  void BuildToolbar();
  QWidget* BuildTreeFolder(DbTreeView* view, QLabel** title, const QString& text);
  void BuildLowerTabs();
  void BuildStatusBar();
  void OnNodeSelected(DbTreeView* view, TreeNode* node);
  void OnTreeCommand(DbTreeView* view, int command);
  void OnDrop(DbTreeView* receiver, DbTreeView* from, bool move);
  void OnDatabaseActivated(DbTreeView* view, TreeNode* node);
  void ApplyMenuState(const MenuState& state);
  void UpdateSourceToolTip(const QPoint& pos);

  std::vector<TaskGridRow> TaskRows();

  ControllerHost* host_;
  std::shared_ptr<WindowRelay> relay_;
  std::unique_ptr<MessageBoxes> own_boxes_;
  MessageBoxes* boxes_;
  std::function<std::optional<std::string>(const std::string&)> folder_chooser_;
  std::function<std::optional<std::string>(const std::string&)> new_file_chooser_;
  void OpenConditionDialog();
  std::filesystem::path config_file_;
  std::function<std::optional<std::string>()> open_file_chooser_;
  void CloseWhenStopped();
  bool closing_ = false;
  std::map<int, QAction*> actions_;
  std::map<velquin::ObjectMenu, QMenu*> object_menus_;
  std::unique_ptr<DbTreeModel> source_model_, target_model_;
  DbTreeView* source_view_ = nullptr;
  DbTreeView* target_view_ = nullptr;
  QLabel* source_title_ = nullptr;
  QLabel* target_title_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  OutputModel* output_model_ = nullptr;
  OutputPane* output_pane_ = nullptr;
  TaskListPage* task_page_ = nullptr;
  TipsPane* tips_ = nullptr;
  QLabel* status_[3] = {nullptr, nullptr, nullptr};
  QLabel* queue_time_ = nullptr;
  QTimer timer_;
  int refresh_counter_ = 0;
};

}  // namespace velquin::ui
