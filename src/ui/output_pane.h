// The "Log" page: the output pane as a list view over OutputModel, drawn by
// OutputDelegate in the colours of the line classes (red errors, green
// successes, orange provider texts, plain lines in the list's colours).
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QStyledItemDelegate>
#include <deque>

namespace velquin::ui {

enum class PaneLineClass { kPlain, kError, kSuccess, kProvider };

struct PaneLine {
  PaneLineClass cls = PaneLineClass::kPlain;
  QString text;  // timestamp + message, prefix removed
};

// The newest lines; never more than kMaxLines (1001).
class OutputModel : public QAbstractListModel {
  Q_OBJECT
 public:
  static constexpr int kMaxLines = 1001;
  static constexpr int kClassRole = Qt::UserRole + 1;

  using QAbstractListModel::QAbstractListModel;
  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 public slots:
  void Append(int line_class, const QString& text);

 signals:
  void LineAppended(int row);

 private:
  std::deque<PaneLine> lines_;
};

// Text and background colours of a class: {text, background}; invalid colours
// for plain lines (the list's own colours).
std::pair<QColor, QColor> LineColours(PaneLineClass cls);

class OutputDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class OutputPane : public QListView {
  Q_OBJECT
 public:
  explicit OutputPane(OutputModel* model, QWidget* parent = nullptr);
};

}  // namespace velquin::ui
