// The "Task List" page: the task queue as a grid of eleven columns with a
// progress bar in "Progress", and a small toolbar to clear, delete, move and
// start or stop. The grid is rebuilt from rows the window hands it; a rebuild
// keeps the selected row and the scroll position.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolBar>
#include <QWidget>
#include <array>
#include <vector>

namespace velquin::ui {

// The ten columns of the queue's records, then the time left.
inline constexpr int kTaskColumns = 11;
inline constexpr int kProgressColumn = 1;
inline constexpr int kTimeLeftColumn = 10;

struct TaskGridRow {
  std::array<QString, kTaskColumns> cells;
  int progress = 0;
};

class TaskTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int kProgressRole = Qt::UserRole + 1;
  using QAbstractTableModel::QAbstractTableModel;

  static const std::array<const char*, kTaskColumns>& Headings();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void SetRows(std::vector<TaskGridRow> rows);

 private:
  std::vector<TaskGridRow> rows_;
};

// Draws a smooth bar in RGB(27, 156, 213), range 0..100, over the cell.
class ProgressDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
};

class TaskListPage : public QWidget {
  Q_OBJECT
 public:
  explicit TaskListPage(QWidget* parent = nullptr);

  QTableView* view() const { return view_; }
  TaskTableModel* model() const { return model_; }
  QAction* clear_action() const { return clear_; }
  QAction* delete_action() const { return delete_; }
  QAction* down_action() const { return down_; }
  QAction* up_action() const { return up_; }
  QAction* start_stop_action() const { return start_stop_; }

  // Rebuilds the grid, keeping the selected row and the scroll position.
  void Rebuild(std::vector<TaskGridRow> rows);
  // The selected row, or -1.
  int SelectedRow() const;
  void SelectRow(int row);
  // The start/stop button's look for RunState 0 (idle), 2 (running), 99.
  void ShowWorkerState(int run_state);

 signals:
  void ClearAllRequested();
  void DeleteRequested(int row);
  void MoveUpRequested(int row);
  void MoveDownRequested(int row);
  void StartStopRequested();

 private:
  QToolBar* tools_;
  QTableView* view_;
  TaskTableModel* model_;
  QAction* clear_;
  QAction* delete_;
  QAction* down_;
  QAction* up_;
  QAction* start_stop_;
};

}  // namespace velquin::ui
