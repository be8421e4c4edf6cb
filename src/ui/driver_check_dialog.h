// The driver check: whether the drivers both connections need are present
// and usable, with download links, the install button and "Open Config".
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/message_boxes.h"
#include "config/odbc_sources.h"

namespace velquin::ui {

class DriverCheckDialog : public QDialog {
  Q_OBJECT
 public:
  struct Hooks {
    std::function<std::optional<std::string>(const std::string&)> choose_folder;
    std::filesystem::path bundle;    // the driver files beside the program
    std::filesystem::path odbcinst;  // where a driver is registered
  };
  DriverCheckDialog(MessageBoxes& boxes, Hooks hooks, QWidget* parent = nullptr);

  // The texts of the rows' cells, in order (for tests).
  std::vector<QLabel*> cells() const { return cells_; }
  QPushButton* install_button() const { return install_; }
  QPushButton* open_config_button() const { return open_config_; }
  // True when the dialog was closed to open the configuration dialog, or
  // to run the check again after an installation.
  bool open_config() const { return open_config_chosen_; }
  bool check_again() const { return check_again_; }

  void Install();

 private:
  void AddSection(QVBoxLayout* layout, const QString& title, const std::vector<DriverRow>& rows,
                  const QString& link_text, const QString& url, const QString& note, bool install);

  MessageBoxes& boxes_;
  Hooks hooks_;
  std::vector<QLabel*> cells_;
  QPushButton* install_ = nullptr;
  QPushButton* open_config_ = nullptr;
  bool open_config_chosen_ = false;
  bool check_again_ = false;
};

}  // namespace velquin::ui
