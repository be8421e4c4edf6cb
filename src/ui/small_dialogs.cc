#include "ui/small_dialogs.h"

#include <QButtonGroup>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QUrl>
#include <QVBoxLayout>

#include "app/tree_commands.h"
#include "base/version.h"

namespace velquin::ui {
namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

CharsetDialog::CharsetDialog(const std::string& name, QWidget* parent)
    : QDialog(parent), name_(name) {
  setWindowTitle("Change Charset");
  setObjectName("CharsetDialog");
  auto* group = new QGroupBox("Character Sets");
  auto* grid = new QGridLayout(group);
  auto* buttons = new QButtonGroup(this);
  const int checked = CharsetIndex(name);
  constexpr int kRows = kCharsetCount / 2;
  for (int i = 0; i < kCharsetCount; ++i) {
    auto* radio = new QRadioButton(QString::fromLatin1(kCharsets[i].radio));
    radio->setObjectName(QString("charset_%1").arg(kCharsets[i].radio));
    auto* description = new QLabel(QString::fromLatin1(kCharsets[i].description));
    const int column = (i / kRows) * 2;
    grid->addWidget(radio, i % kRows, column);
    grid->addWidget(description, i % kRows, column + 1);
    buttons->addButton(radio, i);
    radio->setChecked(i == checked);
    radios_.push_back(radio);
  }
  connect(buttons, &QButtonGroup::idClicked, this, [this](int id) { name_ = kCharsets[id].name; });
  select_ = new QPushButton("Select");
  select_->setDefault(true);
  auto* cancel = new QPushButton("Cancel");
  connect(select_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(select_);
  row->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addLayout(row);
}

ConditionDialog::ConditionDialog(DatabaseAccess& access, std::string database, std::string table,
                                 QWidget* parent)
    : QDialog(parent), access_(access), database_(std::move(database)), table_(std::move(table)) {
  setWindowTitle("Migration Condition");
  setObjectName("ConditionDialog");
  label_ = new QLabel(Q(ConditionLabel(table_)));
  condition_ = new QPlainTextEdit;
  condition_->setObjectName("ConditionBox");
  condition_->setPlainText(Q(access_.TableCondition(database_, table_)));
  result_ = new QPlainTextEdit;
  result_->setObjectName("ResultBox");
  result_->setReadOnly(true);
  test_ = new QPushButton("Test");
  test_->setDefault(true);
  save_ = new QPushButton("Save");
  save_->setEnabled(false);
  auto* close = new QPushButton("Close");
  connect(test_, &QPushButton::clicked, this, [this] { Test(); });
  connect(save_, &QPushButton::clicked, this, [this] { Save(); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(test_);
  buttons->addWidget(save_);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Condition(SQL WHERE clause):"));
  layout->addWidget(label_);
  layout->addWidget(condition_);
  layout->addWidget(new QLabel("Result:"));
  layout->addWidget(result_);
  layout->addLayout(buttons);
  resize(460, 360);
}

void ConditionDialog::Test() {
  std::string condition = condition_->toPlainText().left(1024).toStdString();
  ConditionTest test = TestCondition(access_, table_, condition);
  result_->setPlainText(Q(test.result));
  save_->setEnabled(test.can_save);
}

void ConditionDialog::Save() {
  Status st = access_.SaveCondition(database_, table_, condition_->toPlainText().toStdString());
  save_->setEnabled(false);
  // A condition that cannot be stored is said so: the copy would otherwise
  // take rows the user did not mean.
  if (!st.ok()) result_->setPlainText("Save failed!\r\n  Because:  " + Q(st.message()));
}

AboutDialog::AboutDialog(const QString& manual, QWidget* parent) : QDialog(parent) {
  setObjectName("AboutDialog");
  setWindowTitle(Q("About " + ProductLine()));
  auto* title = new QLabel("<b>" + Q(ProductLine()).toHtmlEscaped() + "</b>");
  auto* version = new QLabel("Version " + Q(std::string(kVersion)));
  version->setObjectName("AboutVersion");
  auto* link = new QLabel(QString("<a href=\"%1\">The manual</a>: the window, the velquin "
                                  "command and migrator.cfg")
                              .arg(QUrl::fromLocalFile(manual).toString()));
  link->setObjectName("AboutManualLink");
  link->setOpenExternalLinks(true);
  auto* close = new QPushButton("Close");
  auto* help = new QPushButton("Help");
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  connect(help, &QPushButton::clicked, this,
          [manual] { QDesktopServices::openUrl(QUrl::fromLocalFile(manual)); });
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(help);
  row->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title);
  layout->addWidget(version);
  layout->addWidget(link);
  layout->addLayout(row);
}

}  // namespace velquin::ui
