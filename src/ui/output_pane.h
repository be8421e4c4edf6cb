// The "Log" page: the output pane as a list view over OutputModel, drawn by
// OutputDelegate in the colours of the line classes (red errors, green
// successes, orange provider texts, plain lines in the list's colours).
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QStyledItemDelegate>
#include <deque>

#include "log/output_log.h"

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
  static constexpr int kMaxLines = static_cast<int>(OutputLog::kCapacity);
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
  // Every row has the same size: one text line high, as wide as the widest
  // line written so far (plus 10), so that line can be scrolled into view.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  // Widens the rows for `text`; true when the width grew. It never shrinks.
  bool Measure(const QFont& font, const QString& text);
  int extent() const { return extent_; }

 private:
  int extent_ = 0;
};

class OutputPane : public QListView {
  Q_OBJECT
 public:
  explicit OutputPane(OutputModel* model, QWidget* parent = nullptr);
  // The width of the widest line written so far, plus 10.
  int horizontal_extent() const { return delegate_->extent(); }

 private:
  OutputDelegate* delegate_;
};

}  // namespace velquin::ui
