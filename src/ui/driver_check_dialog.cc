#include "ui/driver_check_dialog.h"

#include <QCommandLinkButton>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QUrl>
#include <QVBoxLayout>

namespace velquin::ui {
namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }

QLabel* Cell(const std::string& text) {
  auto* label = new QLabel(Q(text));
  if (text.rfind("Unusable", 0) == 0) label->setStyleSheet("color: red;");
  if (text.rfind("Usable", 0) == 0) label->setStyleSheet("color: green;");
  return label;
}
}  // namespace

DriverCheckDialog::DriverCheckDialog(MessageBoxes& boxes, Hooks hooks, QWidget* parent)
    : QDialog(parent), boxes_(boxes), hooks_(std::move(hooks)) {
  setWindowTitle("Driver Check");
  setObjectName("DriverCheckDialog");
  auto* layout = new QVBoxLayout(this);
  std::vector<DriverRow> mysql = MySqlDriverRows();
  mysql.push_back(TcpIpRow(mysql));
  AddSection(layout, "MySQL", mysql, "Go MySQL to get Setup",
             "https://dev.mysql.com/downloads/connector/odbc/",
             "Note: If there is no 'Usable' Driver, your computer can not connect to remote/local "
             "database. So, your must install/repair at least one of them. ('Installed' but "
             "'Unusable' need repair.) You can link to the authoritative site to get one. Or "
             "Press Button 'Install Mysql ODBC 3.51 Driver' to install from local.",
             true);
  AddSection(layout, "Access", AccessDriverRows(), "Go Microsoft to get Setup",
             "https://www.microsoft.com/en-us/download/details.aspx?id=13255",
             "Note: If there is no 'Usable' Driver, your computer can not connect to remote/local "
             "database. So, your must install/repair at least one of them. ('Installed' but "
             "'Unusable' need repair.)\r\nIf have not a Setup Software, you can link to the "
             "authoritative site to download.",
             false);
  open_config_ = new QPushButton("Open Config");
  open_config_->setDefault(true);
  auto* cancel = new QPushButton("Cancel");
  connect(open_config_, &QPushButton::clicked, this, [this] {
    open_config_chosen_ = true;
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(open_config_);
  row->addWidget(cancel);
  layout->addLayout(row);
}

void DriverCheckDialog::AddSection(QVBoxLayout* layout, const QString& title,
                                   const std::vector<DriverRow>& rows, const QString& link_text,
                                   const QString& url, const QString& note, bool install) {
  auto* group = new QGroupBox(title);
  auto* grid = new QGridLayout(group);
  int r = 0;
  for (const DriverRow& row : rows) {
    int c = 0;
    for (const std::string& text : {row.name, row.installed, row.usable}) {
      QLabel* cell = Cell(text);
      cells_.push_back(cell);
      grid->addWidget(cell, r, c++);
    }
    ++r;
  }
  auto* link = new QCommandLinkButton(link_text);
  link->setToolTip("Get Setup Program from Authoritative site");
  connect(link, &QPushButton::clicked, this, [url] { QDesktopServices::openUrl(QUrl(url)); });
  grid->addWidget(link, r, 0);
  if (install) {
    install_ = new QPushButton("Install Mysql ODBC 3.51 Driver");
    connect(install_, &QPushButton::clicked, this, [this] { Install(); });
    grid->addWidget(install_, r, 1, 1, 2);
  }
  layout->addWidget(group);
  auto* text = new QLabel(note);
  text->setWordWrap(true);
  layout->addWidget(text);
}

void DriverCheckDialog::Install() {
  std::optional<std::string> folder;
  if (hooks_.choose_folder) folder = hooks_.choose_folder("Please choise install directory:");
  if (folder && !folder->empty()) {
    Status st = InstallBundledDriver(hooks_.bundle, *folder, hooks_.odbcinst);
    if (!st.ok()) {
      // Nothing was registered: say why and what to do instead.
      boxes_.Inform(st.code() == StatusCode::kNotFound ? st.message()
                                                       : "Write Register Error! " + st.message());
      return;
    }
    boxes_.Inform("MySQL ODBC 3.51 Driver installed successfully!");
  }
  check_again_ = true;
  accept();
}

}  // namespace velquin::ui
