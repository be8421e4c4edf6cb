#include "ui/output_pane.h"

#include <QPainter>

namespace velquin::ui {

int OutputModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant OutputModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(lines_.size())) return {};
  const PaneLine& line = lines_[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return line.text;
    case kClassRole:
      return static_cast<int>(line.cls);
    default:
      return {};
  }
}

void OutputModel::Append(int line_class, const QString& text) {
  if (static_cast<int>(lines_.size()) >= kMaxLines) {
    beginRemoveRows({}, 0, 0);
    lines_.pop_front();
    endRemoveRows();
  }
  const int row = static_cast<int>(lines_.size());
  beginInsertRows({}, row, row);
  lines_.push_back({static_cast<PaneLineClass>(line_class), text});
  endInsertRows();
  emit LineAppended(row);
}

std::pair<QColor, QColor> LineColours(PaneLineClass cls) {
  const QColor white(255, 255, 255);
  switch (cls) {
    case PaneLineClass::kError:
      return {QColor(255, 0, 0), white};
    case PaneLineClass::kSuccess:
      return {QColor(0, 255, 0), white};
    case PaneLineClass::kProvider:
      return {QColor(255, 128, 0), white};
    case PaneLineClass::kPlain:
      break;
  }
  return {QColor(), QColor()};
}

void OutputDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
  const auto cls = static_cast<PaneLineClass>(index.data(OutputModel::kClassRole).toInt());
  auto [fg, bg] = LineColours(cls);
  if (!fg.isValid()) {
    fg = QColor(0, 0, 0);
    bg = QColor(255, 255, 255);
    if (option.state & QStyle::State_Selected) {
      fg = QColor(255, 255, 255);
      bg = QColor(0, 0, 255);
    }
  } else if (option.state & QStyle::State_Selected) {
    std::swap(fg, bg);
  }
  painter->save();
  painter->fillRect(option.rect, bg);
  painter->setPen(fg);
  painter->setFont(option.font);
  painter->drawText(option.rect.adjusted(5, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                    index.data(Qt::DisplayRole).toString());
  painter->restore();
}

QSize OutputDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  const QFontMetrics fm(option.font);
  return {extent_, fm.height() + 2};
}

bool OutputDelegate::Measure(const QFont& font, const QString& text) {
  const int width = QFontMetrics(font).horizontalAdvance(text) + 10;
  if (width <= extent_) return false;
  extent_ = width;
  return true;
}

OutputPane::OutputPane(OutputModel* model, QWidget* parent) : QListView(parent) {
  setObjectName("OutputPane");
  setModel(model);
  delegate_ = new OutputDelegate(this);
  setItemDelegate(delegate_);
  // Uniform rows keep an append cheap with a full pane: nothing is measured
  // but the new line.
  setUniformItemSizes(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  connect(model, &OutputModel::LineAppended, this, [this, model](int row) {
    const QModelIndex idx = model->index(row);
    if (delegate_->Measure(font(), idx.data().toString())) scheduleDelayedItemsLayout();
    setCurrentIndex(idx);
    scrollTo(idx);
  });
}

}  // namespace velquin::ui
