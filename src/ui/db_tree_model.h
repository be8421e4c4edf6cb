// DbTreeModel: a thin Qt item model over a DbTree. The node's level is its
// icon; every change of the core tree reaches views through DbTreeObserver.
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <array>
#include <functional>

#include "catalog/db_tree.h"

namespace velquin::ui {

class DbTreeModel : public QAbstractItemModel, private DbTreeObserver {
  Q_OBJECT
 public:
  static constexpr int kLevelRole = Qt::UserRole + 1;

  explicit DbTreeModel(DbTree* tree, QObject* parent = nullptr);
  ~DbTreeModel() override;

  DbTree* tree() const { return tree_; }
  TreeNode* NodeAt(const QModelIndex& index) const;
  QModelIndex IndexOf(const TreeNode* node) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  // Called at the end of a label edit; true accepts the new text. Only set
  // for the target tree, whose tables can be renamed in place.
  void SetRenameHandler(std::function<bool(TreeNode*, const std::string&)> handler) {
    rename_handler_ = std::move(handler);
  }
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override;
  Qt::DropActions supportedDropActions() const override;

 private:
  void OnBeginReset() override;
  void OnEndReset() override;
  void OnBeginInsert(const TreeNode* parent, int row) override;
  void OnEndInsert() override;
  void OnBeginRemove(const TreeNode* parent, int row) override;
  void OnEndRemove() override;
  void OnNodeChanged(const TreeNode* node) override;

  DbTree* tree_;
  std::function<bool(TreeNode*, const std::string&)> rename_handler_;
  std::array<QIcon, kNodeLevelCount> icons_;
};

// The drag payload's type: a tree node being dragged onto the other tree.
inline constexpr char kNodeMimeType[] = "application/x-velquin-tree-node";

}  // namespace velquin::ui
