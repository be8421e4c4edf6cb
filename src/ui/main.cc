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
  parser.addOption(demo);
  parser.addOption(shot);
  parser.process(app);

  velquin::ui::LocalBackend backend(velquin::ui::DemoSourceCatalog(),
                                    velquin::ui::DemoTargetCatalog());
  velquin::ui::MainWindow window(&backend);
  window.show();
  if (parser.isSet(demo)) window.RunCommand(velquin::ui::cmd::kConnect);
  if (parser.isSet(shot)) {
    const QString file = parser.value(shot);
    QTimer::singleShot(1500, &window, [&window, file] {
      window.grab().save(file, "PNG");
      QApplication::exit(0);
    });
  }
  return app.exec();
}
