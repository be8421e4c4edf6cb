// TipsPane: the "Tips" page. Read-only, bold red text that begins with
// "F1 to Help:"; commands put their hints right after that line.
#pragma once

#include <QTextEdit>

namespace velquin::ui {

inline constexpr char kTipsHeader[] = "F1 to Help:";
inline constexpr char kFirstTip[] =
    "Before you fill out connection properties, Please confirm that your ODBC/OLEDB config is "
    "true !";

class TipsPane : public QTextEdit {
  Q_OBJECT
 public:
  explicit TipsPane(QWidget* parent = nullptr);
  // Inserts `hint` as the line after "F1 to Help:" (newest first).
  void InsertHint(const QString& hint);
};

}  // namespace velquin::ui
