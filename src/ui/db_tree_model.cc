#include "ui/db_tree_model.h"

#include <QApplication>
#include <QMimeData>
#include <QStyle>

namespace velquin::ui {

namespace {
QIcon IconFor(NodeLevel level) {
  QStyle* s = QApplication::style();
  switch (level) {
    case NodeLevel::kRoot:
      return s->standardIcon(QStyle::SP_DriveNetIcon);
    case NodeLevel::kDatabase:
      return s->standardIcon(QStyle::SP_DriveHDIcon);
    case NodeLevel::kTable:
      return s->standardIcon(QStyle::SP_FileDialogDetailedView);
    case NodeLevel::kView:
      return s->standardIcon(QStyle::SP_FileDialogContentsView);
    case NodeLevel::kField:
      return s->standardIcon(QStyle::SP_FileIcon);
    case NodeLevel::kIndex:
      return s->standardIcon(QStyle::SP_FileLinkIcon);
    case NodeLevel::kTablesFolder:
    case NodeLevel::kFieldsFolder:
    case NodeLevel::kIndexesFolder:
    case NodeLevel::kViewsFolder:
      return s->standardIcon(QStyle::SP_DirIcon);
  }
  return {};
}
}  // namespace

DbTreeModel::DbTreeModel(DbTree* tree, QObject* parent) : QAbstractItemModel(parent), tree_(tree) {
  for (int i = 0; i < kNodeLevelCount; ++i) icons_[static_cast<size_t>(i)] = IconFor(NodeLevel(i));
  tree_->AddObserver(this);
}

DbTreeModel::~DbTreeModel() { tree_->RemoveObserver(this); }

TreeNode* DbTreeModel::NodeAt(const QModelIndex& index) const {
  if (!index.isValid()) return nullptr;
  return static_cast<TreeNode*>(index.internalPointer());
}

QModelIndex DbTreeModel::IndexOf(const TreeNode* node) const {
  if (node == nullptr || node == tree_->top()) return {};
  return createIndex(node->Row(), 0, const_cast<TreeNode*>(node));
}

QModelIndex DbTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0) return {};
  const TreeNode* p = parent.isValid() ? NodeAt(parent) : tree_->top();
  TreeNode* child = p->child(row);
  return child ? createIndex(row, 0, child) : QModelIndex();
}

QModelIndex DbTreeModel::parent(const QModelIndex& child) const {
  const TreeNode* node = NodeAt(child);
  if (node == nullptr) return {};
  return IndexOf(node->parent());
}

int DbTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  const TreeNode* p = parent.isValid() ? NodeAt(parent) : tree_->top();
  return p->child_count();
}

int DbTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant DbTreeModel::data(const QModelIndex& index, int role) const {
  const TreeNode* node = NodeAt(index);
  if (node == nullptr) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      return QString::fromStdString(node->text());
    case Qt::DecorationRole:
      return icons_[static_cast<size_t>(node->level())];
    case kLevelRole:
      return static_cast<int>(node->level());
    default:
      return {};
  }
}

Qt::ItemFlags DbTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::ItemIsDropEnabled;
  Qt::ItemFlags f =
      Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
  if (rename_handler_ && NodeAt(index)->level() == NodeLevel::kTable) f |= Qt::ItemIsEditable;
  return f;
}

bool DbTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  TreeNode* node = NodeAt(index);
  if (role != Qt::EditRole || node == nullptr || !rename_handler_) return false;
  return rename_handler_(node, value.toString().toStdString());
}

QStringList DbTreeModel::mimeTypes() const { return {QString::fromLatin1(kNodeMimeType)}; }

QMimeData* DbTreeModel::mimeData(const QModelIndexList&) const {
  // The payload carries no data: the drop reads both trees' selections.
  auto* mime = new QMimeData;
  mime->setData(QString::fromLatin1(kNodeMimeType), QByteArray());
  return mime;
}

Qt::DropActions DbTreeModel::supportedDragActions() const {
  return Qt::CopyAction | Qt::MoveAction;
}
Qt::DropActions DbTreeModel::supportedDropActions() const {
  return Qt::CopyAction | Qt::MoveAction;
}

void DbTreeModel::OnBeginReset() { beginResetModel(); }
void DbTreeModel::OnEndReset() { endResetModel(); }
void DbTreeModel::OnBeginInsert(const TreeNode* parent, int row) {
  beginInsertRows(IndexOf(parent), row, row);
}
void DbTreeModel::OnEndInsert() { endInsertRows(); }
void DbTreeModel::OnBeginRemove(const TreeNode* parent, int row) {
  beginRemoveRows(IndexOf(parent), row, row);
}
void DbTreeModel::OnEndRemove() { endRemoveRows(); }
void DbTreeModel::OnNodeChanged(const TreeNode* node) {
  const QModelIndex i = IndexOf(node);
  emit dataChanged(i, i);
}

}  // namespace velquin::ui
