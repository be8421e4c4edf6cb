#include "ui/qt_message_boxes.h"

#include <QMessageBox>
#include <QPushButton>

#include "base/version.h"

namespace velquin::ui {

BoxAnswer QtMessageBoxes::Show(const std::string& text, BoxButtons buttons, BoxIcon icon,
                               const std::string& title) {
  QMessageBox box(parent_);
  box.setWindowTitle(QString::fromStdString(title.empty() ? ProductLine() : title));
  box.setText(QString::fromStdString(text));
  switch (icon) {
    case BoxIcon::kNone:
      box.setIcon(QMessageBox::NoIcon);
      break;
    case BoxIcon::kInformation:
      box.setIcon(QMessageBox::Information);
      break;
    case BoxIcon::kQuestion:
      box.setIcon(QMessageBox::Question);
      break;
    case BoxIcon::kWarning:
      box.setIcon(QMessageBox::Warning);
      break;
  }
  switch (buttons) {
    case BoxButtons::kOk:
      box.setStandardButtons(QMessageBox::Ok);
      box.exec();
      return BoxAnswer::kOk;
    case BoxButtons::kOkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      return box.exec() == QMessageBox::Ok ? BoxAnswer::kOk : BoxAnswer::kCancel;
    case BoxButtons::kYesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      return box.exec() == QMessageBox::Yes ? BoxAnswer::kYes : BoxAnswer::kNo;
    case BoxButtons::kReplaceAppendCancel: {
      QPushButton* replace = box.addButton("Replace", QMessageBox::DestructiveRole);
      QPushButton* append = box.addButton("Append", QMessageBox::AcceptRole);
      box.addButton(QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Cancel);
      box.exec();
      if (box.clickedButton() == replace) return BoxAnswer::kReplace;
      if (box.clickedButton() == append) return BoxAnswer::kAppend;
      return BoxAnswer::kCancel;
    }
  }
  return BoxAnswer::kCancel;
}

}  // namespace velquin::ui
