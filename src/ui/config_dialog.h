// The configuration dialog: how to reach the MySQL source and the Access
// target, Test Connections, the three options, Save Config and Connect.
// Settings are kept in migrator.cfg (see config/migrator_config.h).
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <optional>
#include <string>

#include "app/commands.h"
#include "config/migrator_config.h"

namespace velquin::ui {

// The providers each side offers, in list order.
std::vector<std::string> SourceProviders();
std::vector<std::string> TargetProviders();

class ConfigDialog : public QDialog {
  Q_OBJECT
 public:
  struct Hooks {
    // Shows or hides the main window's "Tips" tab at once.
    std::function<void(bool)> show_tips;
    // Chooses an .mdb file to open (nothing when cancelled).
    std::function<std::optional<std::string>()> choose_file;
    // The target tree's current catalog name (its file without ".mdb").
    std::string target_catalog;
  };
  ConfigDialog(DatabaseAccess& access, MessageBoxes& boxes, std::filesystem::path config_file,
               Hooks hooks, QWidget* parent = nullptr);

  // After Connect: the settings and options handed to the main window.
  const MigratorConfig& config() const { return config_; }
  ConnectionDescriptor SourceDescriptor() const;
  ConnectionDescriptor TargetDescriptor() const;
  bool connect_pressed() const { return connect_pressed_; }

  struct Side {
    QGroupBox* group = nullptr;
    QComboBox* dbms = nullptr;
    QComboBox* provider = nullptr;
    QLabel* source_label = nullptr;
    QComboBox* source = nullptr;
    QLineEdit* user = nullptr;
    QLineEdit* password = nullptr;
    QLineEdit* catalog = nullptr;
  };
  Side& source_side() { return sides_[0]; }
  Side& target_side() { return sides_[1]; }
  QCheckBox* config_box() const { return config_box_; }
  QCheckBox* backup_box() const { return backup_box_; }
  QCheckBox* tips_box() const { return tips_box_; }
  QPushButton* test_button() const { return test_; }
  QPushButton* save_button() const { return save_; }
  QPushButton* connect_button() const { return connect_; }

  void TestConnections();
  void SaveConfig();
  void ConnectPressed();

 private:
  void BuildSide(int index, const ConnectionSettings& stored);
  void ProviderChanged(int index, bool initialising);
  void ReadFields();
  void Browse();

  DatabaseAccess& access_;
  MessageBoxes& boxes_;
  std::filesystem::path config_file_;
  Hooks hooks_;
  MigratorConfig config_;
  Side sides_[2];
  QCheckBox* config_box_ = nullptr;
  QCheckBox* backup_box_ = nullptr;
  QCheckBox* tips_box_ = nullptr;
  QPushButton* test_ = nullptr;
  QPushButton* save_ = nullptr;
  QPushButton* connect_ = nullptr;
  bool connect_pressed_ = false;
};

}  // namespace velquin::ui
