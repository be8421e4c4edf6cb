#include "ui/tips_pane.h"

namespace velquin::ui {

TipsPane::TipsPane(QWidget* parent) : QTextEdit(parent) {
  setReadOnly(true);
  setObjectName("TipsPane");
  QFont f = font();
  f.setBold(true);
  f.setPointSize(12);
  setFont(f);
  QPalette p = palette();
  p.setColor(QPalette::Text, QColor(255, 0, 0));
  setPalette(p);
  setPlainText(QString::fromLatin1(kTipsHeader));
  InsertHint(QString::fromLatin1(kFirstTip));
}

void TipsPane::InsertHint(const QString& hint) {
  QString text = toPlainText();
  const QString header = QString::fromLatin1(kTipsHeader);
  const qsizetype at = text.startsWith(header) ? header.size() : 0;
  text.insert(at, QStringLiteral("\n") + hint);
  setPlainText(text);
}

}  // namespace velquin::ui
