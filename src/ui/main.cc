// velquin-gui: the desktop face of the migrator.
//
//   velquin-gui [--demo] [--screenshot FILE]
// --demo connects both sides to built-in sample catalogues; --screenshot
// saves a PNG of the main window once it is laid out, then quits.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include "base/version.h"
#include "ui/demo_catalogs.h"
#include "ui/local_backend.h"
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
  parser.addOption(demo);
  parser.addOption(shot);
  parser.addOption(tab);
  parser.process(app);

  velquin::ui::LocalBackend backend(velquin::ui::DemoSourceCatalog(),
                                    velquin::ui::DemoTargetCatalog());
  velquin::ui::MainWindow window(&backend);
  window.show();
  if (parser.isSet(demo)) {
    window.RunCommand(velquin::ui::cmd::kConnect);
    velquin::TaskRequest table;
    table.type = velquin::kTaskTypeMigration;
    table.kind = velquin::kKindConvertTable;
    table.source_object = "orders";
    table.source_database = "shop";
    table.target_database = "/srv/data/shop";
    backend.AppendTask(table);
    velquin::TaskRequest tables = table;
    tables.kind = velquin::kKindConvertTables;
    tables.source_object.clear();
    backend.AppendTask(tables);
    backend.WriteLine("Convert table [orders] into Target database [/srv/data/shop]?");
    backend.WriteLine("T::[Microsoft][ODBC Driver] sample provider text");
    backend.WriteLine("E::No Connection!");
    backend.WriteLine("S::Operation completed SUCCESSFULLY!");
    window.RefreshTaskList();
  }
  if (parser.isSet(tab)) window.ShowPage(parser.value(tab).toInt());
  if (parser.isSet(shot)) {
    const QString file = parser.value(shot);
    QTimer::singleShot(1500, &window, [&window, file] {
      window.grab().save(file, "PNG");
      QApplication::exit(0);
    });
  }
  return app.exec();
}
