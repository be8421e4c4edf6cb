#include "ui/db_tree_view.h"

#include <QContextMenuEvent>
#include <QDrag>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

namespace velquin::ui {

DbTreeView::DbTreeView(DbTreeModel* model, QWidget* parent) : QTreeView(parent), model_(model) {
  setModel(model);
  setHeaderHidden(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setDragEnabled(true);
  setAcceptDrops(true);
  setDropIndicatorShown(true);
  setDragDropMode(QAbstractItemView::DragDrop);
  setExpandsOnDoubleClick(true);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { OnCurrentChanged(current); });
  connect(model, &QAbstractItemModel::modelReset, this, [this] { ApplyExpansion(); });
}

void DbTreeView::OnCurrentChanged(const QModelIndex& current) {
  TreeNode* node = model_->NodeAt(current);
  if (node == nullptr) return;
  if (tree()->Select(node)) emit NodeSelected(node);
}

void DbTreeView::SelectNode(const TreeNode* node) {
  const QModelIndex i = model_->IndexOf(node);
  setCurrentIndex(i);
  tree()->Select(const_cast<TreeNode*>(node));
}

void DbTreeView::ApplyExpansion() {
  for (const TreeNode* n : tree()->Walk()) {
    if (n->expanded()) expand(model_->IndexOf(n));
  }
}

void DbTreeView::contextMenuEvent(QContextMenuEvent* event) {
  QModelIndex index = indexAt(viewport()->mapFromGlobal(event->globalPos()));
  const TreeNode* node = model_->NodeAt(index);
  if (node == nullptr) node = tree()->root();  // empty space: the root
  if (node == nullptr) return;
  SelectNode(node);
  const auto items = ContextMenuFor(node->level(), tree()->side(), tree()->kind(), node->text());
  if (items.empty()) return;
  QMenu menu(this);
  for (const ContextItem& item : items) {
    QAction* a = menu.addAction(QString::fromStdString(item.title));
    a->setData(static_cast<int>(item.command));
  }
  if (QAction* chosen = menu.exec(event->globalPos())) emit CommandChosen(chosen->data().toInt());
}

void DbTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
  TreeNode* node = model_->NodeAt(indexAt(event->position().toPoint()));
  // Expand or collapse as usual first, while the nodes under the mouse are
  // still the ones the user saw: the activation lists the tree again.
  QTreeView::mouseDoubleClickEvent(event);
  if (node != nullptr && node->level() == NodeLevel::kDatabase) emit DatabaseActivated(node);
}

void DbTreeView::startDrag(Qt::DropActions actions) {
  const QModelIndex index = currentIndex();
  if (!index.isValid()) return;
  auto* drag = new QDrag(this);
  drag->setMimeData(model_->mimeData({index}));
  drag->setHotSpot(QPoint(8, 8));
  drag->setPixmap(model_->data(index, Qt::DecorationRole).value<QIcon>().pixmap(16, 16));
  drag->exec(actions, Qt::CopyAction);
}

void DbTreeView::dragEnterEvent(QDragEnterEvent* event) {
  if (!event->mimeData()->hasFormat(QString::fromLatin1(kNodeMimeType))) return;
  event->setDropAction((event->modifiers() & Qt::ShiftModifier) ? Qt::MoveAction : Qt::CopyAction);
  event->accept();
}

void DbTreeView::dragMoveEvent(QDragMoveEvent* event) {
  if (!event->mimeData()->hasFormat(QString::fromLatin1(kNodeMimeType))) return;
  QTreeView::dragMoveEvent(event);
  const QModelIndex index = indexAt(event->position().toPoint());
  const TreeNode* node = model_->NodeAt(index);
  if (node != nullptr && tree()->side() == TreeSide::kTarget &&
      (node->level() == NodeLevel::kRoot || node->level() == NodeLevel::kDatabase)) {
    expand(index);
  }
  event->setDropAction((event->modifiers() & Qt::ShiftModifier) ? Qt::MoveAction : Qt::CopyAction);
  event->accept();
}

void DbTreeView::dropEvent(QDropEvent* event) {
  auto* from = qobject_cast<DbTreeView*>(event->source());
  if (from == nullptr || !event->mimeData()->hasFormat(QString::fromLatin1(kNodeMimeType))) return;
  const TreeNode* node = model_->NodeAt(indexAt(event->position().toPoint()));
  if (node == nullptr) node = tree()->root();
  if (node != nullptr) SelectNode(node);
  const bool move = (event->modifiers() & Qt::ShiftModifier) != 0;
  event->setDropAction(move ? Qt::MoveAction : Qt::CopyAction);
  event->accept();
  emit NodeDropped(from, move);
}

}  // namespace velquin::ui
