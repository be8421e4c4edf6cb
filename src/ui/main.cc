// velquin-gui: the desktop face of the migrator.
//
//   velquin-gui [--config FILE] [--create-target] [--connect [--migrate]] [--tab INDEX]
//   [--screenshot FILE [--delay MS] [--at-progress PERCENT] [--dialog NAME]]
// Connect opens both sides from the connection settings in migrator.cfg
// (--config FILE, default: migrator.cfg in the current folder); Condition.cfg
// beside it is created empty when missing, and the statement and data files
// of the migrations go to its "data_cache" folder. --connect connects at
// start; --screenshot saves a PNG of the main window
// once it is laid out (after --delay, or as soon as the first task has
// reached --at-progress percent and is still running), then quits.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "app/commands.h"
#include "app/main_controller.h"
#include "app/session_database_access.h"
#include "base/version.h"
#include "log/output_log.h"
#include "ui/config_dialog.h"
#include "ui/driver_check_dialog.h"
#include "ui/main_window.h"
#include "ui/qt_message_boxes.h"
#include "ui/small_dialogs.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("velquin-gui");
  QApplication::setApplicationVersion(QString::fromStdString(velquin::ProductLine()));
  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromStdString(velquin::ProductLine()));
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption shot("screenshot", "Save a PNG of the main window to FILE and quit.", "FILE");
  QCommandLineOption tab("tab", "Show lower tab INDEX (0 Log, 1 Task List, 2 Tips).", "INDEX");
  QCommandLineOption delay("delay", "Milliseconds before the screenshot (default 1500).", "MS");
  QCommandLineOption at_progress(
      "at-progress",
      "Take the screenshot once the first task is running at PERCENT or more (--delay is then "
      "the longest wait).",
      "PERCENT");
  QCommandLineOption config("config", "The connection settings (default: ./migrator.cfg).", "FILE");
  QCommandLineOption connect("connect", "Connect both sides at start.");
  QCommandLineOption create_target(
      "create-target", "Create the target .mdb named in the configuration when it is missing.");
  QCommandLineOption migrate("migrate",
                             "With --connect: queue a migration of the source's current database.");
  parser.addOption(config);
  parser.addOption(connect);
  parser.addOption(migrate);
  parser.addOption(create_target);
  parser.addOption(shot);
  parser.addOption(tab);
  parser.addOption(delay);
  parser.addOption(at_progress);
  QCommandLineOption dialog_option(
      "dialog",
      "With --screenshot: take the picture of a dialog instead (config, drivers, charset, "
      "condition, about).",
      "NAME");
  parser.addOption(dialog_option);
  parser.process(app);

  namespace fs = std::filesystem;
  velquin::OutputLog& log = velquin::OutputLog::Global();
  velquin::MainController controller(log);
  const fs::path config_file =
      fs::absolute(parser.isSet(config) ? fs::path(parser.value(config).toStdString())
                                        : fs::path(std::string(velquin::kMigratorConfigFileName)));
  const fs::path folder = config_file.parent_path();
  velquin::ConditionFile conditions = velquin::ConditionFile::InFolder(folder);
  velquin::SessionDatabaseAccess access(controller, config_file, conditions.path());
  const fs::path data_dir = folder / "data_cache";
  std::error_code ec;
  fs::create_directories(data_dir, ec);
  if (ec) {
    // A migration's statement and data files cannot be written there: its task says so.
    log.Write("E::Cannot create " + data_dir.string() + ": " + ec.message());
  }
  auto ops = velquin::MakeWindowPipelineOperations(controller, access, data_dir);
  controller.SetTaskOperations(ops);
  velquin::ControllerHost host(controller, access);

  int rc = 0;
  {
    velquin::ui::MainWindow window(&host);
    ops->on_refill = window.TargetRefillPoster();
    ops->on_message_box = window.MessageBoxPoster();
    window.SetConfigFile(config_file);
    {
      // The Tips tab follows the Tips option; a missing file means off.
      auto stored = velquin::LoadMigratorConfig(config_file);
      window.SetTipsShown(stored.ok() && stored->options.tips);
    }
    window.show();
    // The driver check opens once at start, unless the window is driven
    // from the command line.
    if (!parser.isSet(shot) && !parser.isSet(connect)) {
      QTimer::singleShot(0, &window,
                         [&window] { window.RunCommand(velquin::ui::cmd::kDriverCheck); });
    }
    if (parser.isSet(create_target)) {
      if (velquin::Status st = access.CreateConfiguredTarget(); !st.ok()) {
        log.Write("E::" + st.message());
      }
    }
    if (parser.isSet(connect)) {
      window.RunCommand(velquin::ui::cmd::kConnect);
      const velquin::DbTree& source = host.source_tree();
      const velquin::DbTree& target = host.target_tree();
      if (parser.isSet(migrate) && source.connected() && target.connected() &&
          !source.catalog_name().empty()) {
        velquin::TaskRequest whole;
        whole.type = velquin::TaskType::kMigration;
        whole.kind = velquin::TaskKind::kConvertDatabase;
        whole.source_database = source.catalog_name();
        whole.target_database = target.catalog_name();
        host.AppendTask(whole);
        host.StartWorker();
        window.RefreshTaskList();
      }
    }
    if (parser.isSet(tab)) window.ShowPage(parser.value(tab).toInt());
    // A dialog for its picture, shown without waiting on it.
    velquin::ui::QtMessageBoxes dialog_boxes(&window);
    std::unique_ptr<QDialog> dialog;
    if (parser.isSet(shot) && parser.isSet(dialog_option)) {
      const QString name = parser.value(dialog_option);
      if (name == "config") {
        velquin::ui::ConfigDialog::Hooks hooks;
        hooks.show_tips = [&window](bool on) { window.SetTipsShown(on); };
        hooks.target_catalog = host.target_tree().catalog_name();
        dialog = std::make_unique<velquin::ui::ConfigDialog>(access, dialog_boxes, config_file,
                                                             hooks, &window);
      } else if (name == "drivers") {
        dialog = std::make_unique<velquin::ui::DriverCheckDialog>(
            dialog_boxes, velquin::ui::DriverCheckDialog::Hooks{}, &window);
      } else if (name == "charset") {
        dialog = std::make_unique<velquin::ui::CharsetDialog>("LATIN1", &window);
      } else if (name == "condition") {
        const std::string database =
            host.source_tree().catalog_name().empty() ? "shop" : host.source_tree().catalog_name();
        dialog =
            std::make_unique<velquin::ui::ConditionDialog>(access, database, "orders", &window);
      } else if (name == "about") {
        dialog = std::make_unique<velquin::ui::AboutDialog>(velquin::ui::MainWindow::ManualPath(),
                                                            &window);
      } else {
        log.Write("E::No dialog named " + name.toStdString());
        return 2;
      }
      dialog->show();
    }
    if (parser.isSet(shot)) {
      const QString file = parser.value(shot);
      const int ms = parser.isSet(delay) ? parser.value(delay).toInt() : 1500;
      QWidget* pictured = dialog ? static_cast<QWidget*>(dialog.get()) : &window;
      auto take = [&window, file, pictured] {
        window.RefreshTaskList();
        pictured->grab().save(file, "PNG");
        QApplication::exit(0);
      };
      QTimer::singleShot(ms, &window, take);
      if (parser.isSet(at_progress)) {
        const int percent = parser.value(at_progress).toInt();
        auto* poll = new QTimer(&window);
        QObject::connect(poll, &QTimer::timeout, &window, [&controller, percent, poll, take] {
          const auto records = controller.queue().Snapshot();
          if (!records.empty() && records.front().status == velquin::TaskStatus::kWaiting &&
              records.front().state_text == velquin::kStateWorking &&
              records.front().progress >= percent) {
            poll->stop();
            take();
          }
        });
        poll->start(50);
      }
    }
    rc = app.exec();
  }
  // The task operations use the database access: end the worker first.
  controller.StopAll();
  while (!controller.worker().WaitUntilIdle(std::chrono::milliseconds(500))) {
  }
  return rc;
}
