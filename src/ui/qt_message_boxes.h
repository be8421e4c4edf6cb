// MessageBoxes shown with QMessageBox.
#pragma once

#include <QWidget>

#include "app/message_boxes.h"

namespace velquin::ui {

class QtMessageBoxes : public MessageBoxes {
 public:
  explicit QtMessageBoxes(QWidget* parent) : parent_(parent) {}
  BoxAnswer Show(const std::string& text, BoxButtons buttons, BoxIcon icon,
                 const std::string& title) override;

 private:
  QWidget* parent_;
};

}  // namespace velquin::ui
