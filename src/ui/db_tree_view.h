// DbTreeView: one side's tree. Selection, right-click menus, double click on
// a database, and drag and drop onto the other tree (which runs Migrate).
#pragma once

#include <QTreeView>

#include "catalog/menu_state.h"
#include "ui/db_tree_model.h"

namespace velquin::ui {

class DbTreeView : public QTreeView {
  Q_OBJECT
 public:
  DbTreeView(DbTreeModel* model, QWidget* parent = nullptr);

  DbTreeModel* tree_model() const { return model_; }
  DbTree* tree() const { return model_->tree(); }
  // Selects `node` in the view and the core tree.
  void SelectNode(const TreeNode* node);
  // Expands the nodes the listing marked as expanded.
  void ApplyExpansion();

 signals:
  void NodeSelected(velquin::TreeNode* node);
  void CommandChosen(int command);
  void DatabaseActivated(velquin::TreeNode* node);
  // A node of `from` was dropped here; `move` when Shift was held.
  void NodeDropped(velquin::ui::DbTreeView* from, bool move);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void startDrag(Qt::DropActions actions) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void OnCurrentChanged(const QModelIndex& current);

  DbTreeModel* model_;
};

}  // namespace velquin::ui
