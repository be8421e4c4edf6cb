// velquin-gui: the desktop face of the migrator.
//
//   velquin-gui [--demo] [--tab INDEX] [--screenshot FILE]
// --demo connects both sides to built-in sample catalogues, queues two tasks
// that take a few seconds each (without it, until the database layer is
// wired in, Connect reports that database access is not available); --screenshot saves a PNG of the main window
// once it is laid out, then quits.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include "app/commands.h"
#include "app/main_controller.h"
#include "base/version.h"
#include "log/output_log.h"
#include "ui/demo_access.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("velquin-gui");
  QApplication::setApplicationVersion(QString::fromStdString(velquin::ProductLine()));
  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromStdString(velquin::ProductLine()));
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption demo("demo", "Connect both sides to built-in sample catalogues.");
  QCommandLineOption shot("screenshot", "Save a PNG of the main window to FILE and quit.", "FILE");
  QCommandLineOption tab("tab", "Show lower tab INDEX (0 Log, 1 Task List, 2 Tips).", "INDEX");
  QCommandLineOption delay("delay", "Milliseconds before the screenshot (default 1500).", "MS");
  parser.addOption(demo);
  parser.addOption(shot);
  parser.addOption(tab);
  parser.addOption(delay);
  parser.process(app);

  velquin::OutputLog& log = velquin::OutputLog::Global();
  velquin::MainController controller(log);
  // Until the database layer is wired in, --demo connects both sides to the
  // sample catalogues (and tasks only take time); otherwise Connect reports
  // that database access is not available.
  velquin::ui::MemoryDatabaseAccess demo_access(velquin::ui::DemoSourceCatalog(),
                                                velquin::ui::DemoTargetCatalog());
  velquin::ui::UnavailableDatabaseAccess no_access;
  velquin::DatabaseAccess& access =
      parser.isSet(demo) ? static_cast<velquin::DatabaseAccess&>(demo_access) : no_access;
  auto ops =
      std::make_shared<velquin::ui::DemoTaskOperations>(log, std::chrono::milliseconds(1500));
  controller.SetTaskOperations(ops);
  velquin::ControllerHost host(controller, access);

  int rc = 0;
  {
    velquin::ui::MainWindow window(&host);
    ops->on_refill = window.TargetRefillPoster();
    window.show();
    if (parser.isSet(demo)) {
      window.RunCommand(velquin::ui::cmd::kConnect);
      velquin::TaskRequest table;
      table.type = velquin::kTaskTypeMigration;
      table.kind = velquin::kKindConvertTable;
      table.source_object = "orders";
      table.source_database = "shop";
      table.target_database = "/srv/data/shop";
      host.AppendTask(table);
      velquin::TaskRequest tables = table;
      tables.kind = velquin::kKindConvertTables;
      tables.source_object.clear();
      host.AppendTask(tables);
      log.Write("T::[MySQL][ODBC 3.51 Driver] sample provider text");
      log.Write("E::No Connection!");
      window.RefreshTaskList();
    }
    if (parser.isSet(tab)) window.ShowPage(parser.value(tab).toInt());
    if (parser.isSet(shot)) {
      const QString file = parser.value(shot);
      const int ms = parser.isSet(delay) ? parser.value(delay).toInt() : 1500;
      QTimer::singleShot(ms, &window, [&window, file] {
        window.RefreshTaskList();
        window.grab().save(file, "PNG");
        QApplication::exit(0);
      });
    }
    rc = app.exec();
  }
  return rc;
}
