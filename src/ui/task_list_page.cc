#include "ui/task_list_page.h"

#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

namespace velquin::ui {

const std::array<const char*, kTaskColumns>& TaskTableModel::Headings() {
  static const std::array<const char*, kTaskColumns> kHeadings = {
      "NO.",         "Progress",     "Type",      "State",       "Source DBMS", "Source DB",
      "Source T(V)", "Targert DBMS", "Target DB", "Target T(V)", "Time Left"};
  return kHeadings;
}

int TaskTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TaskTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kTaskColumns;
}

QVariant TaskTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const TaskGridRow& row = rows_[static_cast<size_t>(index.row())];
  if (role == Qt::DisplayRole) return row.cells[static_cast<size_t>(index.column())];
  if (role == kProgressRole) return row.progress;
  return {};
}

QVariant TaskTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
      section < kTaskColumns) {
    return QString::fromLatin1(Headings()[static_cast<size_t>(section)]);
  }
  return QAbstractTableModel::headerData(section, orientation, role);
}

void TaskTableModel::SetRows(std::vector<TaskGridRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  const int progress = std::clamp(index.data(TaskTableModel::kProgressRole).toInt(), 0, 100);
  const QRect r = option.rect.adjusted(1, 1, -1, -1);
  painter->save();
  painter->fillRect(r, QColor(255, 255, 255));
  QRect bar = r;
  bar.setWidth(r.width() * progress / 100);
  painter->fillRect(bar, QColor(27, 156, 213));
  painter->restore();
}

TaskListPage::TaskListPage(QWidget* parent) : QWidget(parent) {
  setObjectName("TasksViewer");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  tools_ = new QToolBar(this);
  tools_->setIconSize(QSize(16, 16));
  QStyle* s = style();
  clear_ = tools_->addAction(s->standardIcon(QStyle::SP_DialogResetButton), "Clear All Tasks");
  delete_ = tools_->addAction(s->standardIcon(QStyle::SP_TrashIcon), "Delete");
  down_ = tools_->addAction(s->standardIcon(QStyle::SP_ArrowDown), "Item Down");
  up_ = tools_->addAction(s->standardIcon(QStyle::SP_ArrowUp), "Item Up");
  start_stop_ = tools_->addAction(s->standardIcon(QStyle::SP_MediaPlay), "Start tasks");
  for (QAction* a : {clear_, delete_, down_, up_, start_stop_}) a->setToolTip(a->text());
  start_stop_->setToolTip("Stop Tasks");
  layout->addWidget(tools_);

  view_ = new QTableView(this);
  model_ = new TaskTableModel(view_);
  view_->setModel(model_);
  view_->setShowGrid(true);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->verticalHeader()->hide();
  view_->setItemDelegateForColumn(kProgressColumn, new ProgressDelegate(view_));
  view_->setWordWrap(false);
  // Widths in pixels as designed; a column is widened when this font needs
  // more room for its heading or its fixed texts ("MIGRATION", "FAILURE").
  const QFontMetrics fm(view_->horizontalHeader()->font());
  const QFontMetrics cell(view_->font());
  const int widths[kTaskColumns] = {32, 72, 62, 60, 200, -1, -1, 200, -1, -1, 90};
  for (int c = 0; c < kTaskColumns; ++c) {
    const int heading =
        fm.horizontalAdvance(TaskTableModel::Headings()[static_cast<size_t>(c)]) + 15;
    int w = widths[c] < 0 ? heading : std::max(widths[c], heading);
    if (c == 2) w = std::max(w, cell.horizontalAdvance("MIGRATION") + 12);
    if (c == 3) w = std::max(w, cell.horizontalAdvance("SUCCESS") + 12);
    view_->setColumnWidth(c, w);
  }
  layout->addWidget(view_);

  connect(clear_, &QAction::triggered, this, [this] { emit ClearAllRequested(); });
  connect(delete_, &QAction::triggered, this, [this] {
    if (int row = SelectedRow(); row >= 0) emit DeleteRequested(row);
  });
  connect(up_, &QAction::triggered, this, [this] {
    if (int row = SelectedRow(); row > 0) emit MoveUpRequested(row);
  });
  connect(down_, &QAction::triggered, this, [this] {
    const int row = SelectedRow();
    if (row >= 0 && row + 1 < model_->rowCount()) emit MoveDownRequested(row);
  });
  connect(start_stop_, &QAction::triggered, this, [this] { emit StartStopRequested(); });
}

int TaskListPage::SelectedRow() const {
  const QModelIndexList rows = view_->selectionModel()->selectedRows();
  if (!rows.isEmpty()) return rows.first().row();
  const QModelIndex current = view_->currentIndex();
  return current.isValid() ? current.row() : -1;
}

void TaskListPage::SelectRow(int row) {
  if (row < 0 || row >= model_->rowCount()) return;
  view_->selectionModel()->setCurrentIndex(
      model_->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TaskListPage::Rebuild(std::vector<TaskGridRow> rows) {
  const int h = view_->horizontalScrollBar()->value();
  const int v = view_->verticalScrollBar()->value();
  const int selected = SelectedRow();
  model_->SetRows(std::move(rows));
  if (selected >= 0) SelectRow(selected);
  view_->horizontalScrollBar()->setValue(h);
  view_->verticalScrollBar()->setValue(v);
}

void TaskListPage::ShowWorkerState(int run_state) {
  QStyle* s = style();
  if (run_state == 2) {
    start_stop_->setIcon(s->standardIcon(QStyle::SP_MediaStop));
    start_stop_->setToolTip("Stop tasks");
  } else if (run_state == 99) {
    start_stop_->setIcon(s->standardIcon(QStyle::SP_BrowserStop));
    start_stop_->setToolTip("Stop tasks");
  } else {
    start_stop_->setIcon(s->standardIcon(QStyle::SP_MediaPlay));
    start_stop_->setToolTip("Start tasks");
  }
}

}  // namespace velquin::ui
