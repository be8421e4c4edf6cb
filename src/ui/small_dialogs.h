// The character-set dialog, the migration condition dialog and the About
// box. Each decides nothing of its own: the choices and texts come from
// app/tree_commands.h.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <string>
#include <vector>

#include "app/commands.h"

namespace velquin::ui {

// 36 radio buttons in two columns of the group box "Character Sets";
// Select (default) and Cancel.
class CharsetDialog : public QDialog {
  Q_OBJECT
 public:
  // Opens with the radio whose name equals `name` exactly checked (none
  // when no name matches).
  CharsetDialog(const std::string& name, QWidget* parent = nullptr);
  // The name of the checked radio (the opening name until one is clicked).
  const std::string& name() const { return name_; }
  QRadioButton* radio(int index) const { return radios_[static_cast<size_t>(index)]; }
  QPushButton* select_button() const { return select_; }

 private:
  std::string name_;
  std::vector<QRadioButton*> radios_;
  QPushButton* select_ = nullptr;
};

// The migration condition of one source table.
class ConditionDialog : public QDialog {
  Q_OBJECT
 public:
  ConditionDialog(DatabaseAccess& access, std::string database, std::string table,
                  QWidget* parent = nullptr);
  QLabel* statement_label() const { return label_; }
  QPlainTextEdit* condition_box() const { return condition_; }
  QPlainTextEdit* result_box() const { return result_; }
  QPushButton* test_button() const { return test_; }
  QPushButton* save_button() const { return save_; }

 private:
  void Test();
  void Save();

  DatabaseAccess& access_;
  std::string database_, table_;
  QLabel* label_ = nullptr;
  QPlainTextEdit* condition_ = nullptr;
  QPlainTextEdit* result_ = nullptr;
  QPushButton* test_ = nullptr;
  QPushButton* save_ = nullptr;
};

// The About box: the product line, the version, and the manual.
class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  // `manual` is the manual's file (opened in the user's browser).
  AboutDialog(const QString& manual, QWidget* parent = nullptr);
};

}  // namespace velquin::ui
