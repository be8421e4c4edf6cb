#include "ui/config_dialog.h"

#include <unistd.h>

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <system_error>

#include "app/session_database_access.h"
#include "config/odbc_sources.h"

namespace velquin::ui {
namespace fs = std::filesystem;
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

bool IsJet(const std::string& provider) {
  return ProviderProgId(provider) == "Microsoft.Jet.OLEDB.4.0";
}

const char* const kDbmsNames[] = {"Text Data File", "MSSQL", "MySQL",  "Sybase",
                                  "Access",         "Excel", "Oracle", "SybaseIQ"};

bool Writable(const fs::path& folder) {
  return !folder.empty() && ::access(folder.c_str(), W_OK) == 0;
}

}  // namespace

std::vector<std::string> SourceProviders() {
  return {"Microsoft OLE DB Provider for ODBC Divers", "TCP/IP:Port"};
}

std::vector<std::string> TargetProviders() {
  return {"Driver do Microsoft Access", "Microsoft Access Driver",
          "Microsoft Jet 3.51 OLE DB Provider", "Microsoft Jet 4.0 OLE DB Provider"};
}

ConfigDialog::ConfigDialog(DatabaseAccess& access, MessageBoxes& boxes, fs::path config_file,
                           Hooks hooks, QWidget* parent)
    : QDialog(parent),
      access_(access),
      boxes_(boxes),
      config_file_(std::move(config_file)),
      hooks_(std::move(hooks)) {
  setWindowTitle("Config");
  setObjectName("ConfigDialog");
  // A missing or unreadable file is no error: everything starts empty.
  Result<MigratorConfig> loaded = LoadMigratorConfig(config_file_);
  if (loaded.ok()) config_ = *loaded;

  auto* sides = new QHBoxLayout;
  BuildSide(0, config_.source);
  BuildSide(1, config_.target);
  sides->addWidget(sides_[0].group);
  sides->addWidget(sides_[1].group);

  config_box_ = new QCheckBox("Properties from and to config file");
  backup_box_ = new QCheckBox("Auto Backup (need more time and disk space)");
  tips_box_ = new QCheckBox("Display Tips");
  config_box_->setChecked(config_.options.config);
  backup_box_->setChecked(config_.options.auto_backup);
  tips_box_->setChecked(config_.options.tips);
  auto* overwrite_db = new QCheckBox("Overwrite the same-name database");
  auto* overwrite_table = new QCheckBox("Overwrite the same-name table");
  overwrite_db->setEnabled(false);
  overwrite_table->setEnabled(false);
  connect(config_box_, &QCheckBox::toggled, this, [this](bool on) { config_.options.config = on; });
  connect(backup_box_, &QCheckBox::toggled, this,
          [this](bool on) { config_.options.auto_backup = on; });
  connect(tips_box_, &QCheckBox::toggled, this, [this](bool on) {
    config_.options.tips = on;
    if (hooks_.show_tips) hooks_.show_tips(on);
  });
  if (hooks_.show_tips) hooks_.show_tips(config_.options.tips);

  auto* options = new QGroupBox("Options");
  auto* grid = new QVBoxLayout(options);
  for (QCheckBox* box : {config_box_, backup_box_, tips_box_, overwrite_db, overwrite_table}) {
    grid->addWidget(box);
  }

  test_ = new QPushButton("&Test Connections");
  save_ = new QPushButton("Save Config");
  connect_ = new QPushButton("Connect");
  connect_->setDefault(true);
  auto* close = new QPushButton("Close");
  connect(test_, &QPushButton::clicked, this, [this] { TestConnections(); });
  connect(save_, &QPushButton::clicked, this, [this] { SaveConfig(); });
  connect(connect_, &QPushButton::clicked, this, [this] { ConnectPressed(); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(test_);
  buttons->addStretch();
  buttons->addWidget(save_);
  buttons->addWidget(connect_);
  buttons->addWidget(close);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(sides);
  layout->addWidget(options);
  layout->addLayout(buttons);
}

void ConfigDialog::BuildSide(int index, const ConnectionSettings& stored) {
  Side& side = sides_[index];
  const bool target = index == 1;
  side.dbms = new QComboBox;
  for (const char* name : kDbmsNames) side.dbms->addItem(QString::fromLatin1(name));
  side.dbms->setCurrentIndex(target ? 4 : 2);
  side.dbms->setEnabled(false);
  side.group = new QGroupBox(side.dbms->currentText());
  side.group->setObjectName(target ? "TargetGroup" : "SourceGroup");
  side.provider = new QComboBox;
  side.provider->setEditable(true);
  for (const std::string& p : target ? TargetProviders() : SourceProviders()) {
    side.provider->addItem(Q(p));
  }
  side.source_label = new QLabel("Source Name");
  side.source = new QComboBox;
  side.source->setEditable(true);
  side.source->setMinimumContentsLength(28);
  side.user = new QLineEdit(Q(stored.user_id));
  side.password = new QLineEdit(Q(stored.password));
  side.password->setEchoMode(QLineEdit::Password);
  side.catalog = new QLineEdit(Q(stored.catalog_name));

  // A stored provider not in the list falls back to the first entry.
  int found = side.provider->findText(Q(stored.provider), Qt::MatchFixedString);
  side.provider->setCurrentIndex(found < 0 ? 0 : found);
  ProviderChanged(index, true);
  // The stored source name is offered again (a server and port, or a file).
  if (!stored.source_name.empty()) side.source->setCurrentText(Q(stored.source_name));
  connect(side.provider, &QComboBox::currentIndexChanged, this,
          [this, index] { ProviderChanged(index, false); });

  auto* form = new QFormLayout(side.group);
  form->addRow("DBMS", side.dbms);
  form->addRow("DB Provider", side.provider);
  if (target) {
    auto* row = new QHBoxLayout;
    row->addWidget(side.source, 1);
    auto* browse = new QPushButton("...");
    browse->setObjectName("BrowseTarget");
    browse->setToolTip("Open the database file");
    connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
    row->addWidget(browse);
    form->addRow(side.source_label, row);
  } else {
    form->addRow(side.source_label, side.source);
  }
  form->addRow("User ID", side.user);
  form->addRow("Password", side.password);
  form->addRow("Catalog Name", side.catalog);
}

void ConfigDialog::ProviderChanged(int index, bool initialising) {
  Side& side = sides_[index];
  side.source->clear();
  const std::string provider = side.provider->currentText().toStdString();
  if (provider == "TCP/IP:Port") {
    side.source_label->setText("Server:Port");
    side.source->setCurrentText("127.0.0.1");
    return;
  }
  side.source_label->setText("Source Name");
  if (!IsJet(provider)) {
    if (index == 0) {
      for (const std::string& dsn : MySqlDataSources()) side.source->addItem(Q(dsn));
    }
    if (side.source->count() > 0) side.source->setCurrentIndex(0);
    return;
  }
  if (index != 1 || initialising) return;
  // A Jet provider on the target: offer a new database beside the target's
  // current one (or beside migrator.cfg), in a folder we may write to.
  fs::path folder = fs::path(hooks_.target_catalog).parent_path();
  if (!Writable(folder)) folder = config_file_.parent_path();
  if (!Writable(folder)) folder = fs::path(qgetenv("HOME").toStdString());
  const fs::path path = folder / "Access_New.mdb";
  std::error_code ec;
  if (fs::is_directory(path, ec)) fs::remove_all(path, ec);
  if (!fs::exists(path, ec)) {
    if (Status st = CreateAccessFile(path.string()); !st.ok()) {
      boxes_.Inform("Cannot create " + path.string() + ": " + st.message());
      return;
    }
  }
  side.source->addItem(Q(path.string()));
  side.source->setCurrentIndex(0);
}

void ConfigDialog::Browse() {
  if (!hooks_.choose_file) return;
  std::optional<std::string> file = hooks_.choose_file();
  if (!file || file->empty()) return;
  Side& side = sides_[1];
  side.catalog->clear();
  side.source->insertItem(0, Q(*file));
  side.source->setCurrentIndex(0);
}

void ConfigDialog::ReadFields() {
  ConnectionSettings* settings[2] = {&config_.source, &config_.target};
  for (int i = 0; i < 2; ++i) {
    const Side& side = sides_[i];
    settings[i]->provider = side.provider->currentText().toStdString();
    settings[i]->source_name = side.source->currentText().trimmed().toStdString();
    settings[i]->user_id = side.user->text().toStdString();
    settings[i]->password = side.password->text().toStdString();
    settings[i]->catalog_name = side.catalog->text().trimmed().toStdString();
  }
}

ConnectionDescriptor ConfigDialog::SourceDescriptor() const {
  return DescriptorFromSettings(config_.source);
}
ConnectionDescriptor ConfigDialog::TargetDescriptor() const {
  return DescriptorFromSettings(config_.target);
}

void ConfigDialog::TestConnections() {
  ReadFields();
  if (Status st = access_.TestConnection(velquin::Side::kSource, SourceDescriptor()); st.ok()) {
    boxes_.Inform("Source Connection Successful!");
  } else {
    boxes_.Inform("Source DB Connect ERROR!");
    boxes_.Inform(st.message());
  }
  if (Status st = access_.TestConnection(velquin::Side::kTarget, TargetDescriptor()); st.ok()) {
    boxes_.Inform("Target Connection Successful!");
  } else {
    boxes_.Inform("Target DB Connect ERROR!");
    boxes_.Inform(st.message());
  }
}

void ConfigDialog::SaveConfig() {
  ReadFields();
  if (Status st = SaveMigratorConfig(config_file_, config_); !st.ok()) {
    boxes_.Inform("The Config Infomation could not be saved: " + st.message());
    return;
  }
  boxes_.Inform("The Config Infomation saved successfully!");
}

void ConfigDialog::ConnectPressed() {
  ReadFields();
  if (Status st = SaveMigratorConfigOnConnect(config_file_, config_); !st.ok()) {
    boxes_.Inform("The Config Infomation could not be saved: " + st.message());
  }
  connect_pressed_ = true;
  accept();
}

}  // namespace velquin::ui
