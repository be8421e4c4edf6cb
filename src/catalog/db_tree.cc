#include "catalog/db_tree.h"

#include <algorithm>
#include <functional>

namespace velquin {

const char* NodeLevelName(NodeLevel level) {
  switch (level) {
    case NodeLevel::kRoot:
      return "root";
    case NodeLevel::kDatabase:
      return "database";
    case NodeLevel::kTable:
      return "table";
    case NodeLevel::kTablesFolder:
      return "tables folder";
    case NodeLevel::kField:
      return "field";
    case NodeLevel::kFieldsFolder:
      return "fields folder";
    case NodeLevel::kIndex:
      return "index";
    case NodeLevel::kIndexesFolder:
      return "indexes folder";
    case NodeLevel::kView:
      return "view";
    case NodeLevel::kViewsFolder:
      return "views folder";
  }
  return "unknown";
}

TreeNode* TreeNode::child(int row) const {
  if (row < 0 || row >= child_count()) return nullptr;
  return children_[static_cast<size_t>(row)].get();
}

int TreeNode::Row() const {
  if (parent_ == nullptr) return 0;
  const auto& siblings = parent_->children_;
  for (size_t i = 0; i < siblings.size(); ++i) {
    if (siblings[i].get() == this) return static_cast<int>(i);
  }
  return 0;
}

TreeNode* TreeNode::FindChild(std::string_view text) const {
  for (const auto& c : children_) {
    if (c->text_ == text) return c.get();
  }
  return nullptr;
}

DbTree::DbTree(TreeSide side, TreeKind kind) : side_(side), kind_(kind) {}

TreeNode* DbTree::root() const {
  for (const auto& c : top_.children_) {
    if (c->level() == NodeLevel::kRoot) return c.get();
  }
  return nullptr;
}

void DbTree::Clear() {
  for (DbTreeObserver* o : observers_) o->OnBeginReset();
  top_.children_.clear();
  selected_ = nullptr;
  current_database_ = nullptr;
  for (DbTreeObserver* o : observers_) o->OnEndReset();
}

TreeNode* DbTree::Append(TreeNode* parent, NodeLevel level, std::string text) {
  if (parent == nullptr) parent = &top_;
  const int row = parent->child_count();
  for (DbTreeObserver* o : observers_) o->OnBeginInsert(parent, row);
  parent->children_.push_back(std::make_unique<TreeNode>(level, std::move(text), parent));
  TreeNode* node = parent->children_.back().get();
  for (DbTreeObserver* o : observers_) o->OnEndInsert();
  return node;
}

bool DbTree::Contains(const TreeNode* subtree, const TreeNode* node) const {
  for (const TreeNode* n = node; n != nullptr; n = n->parent()) {
    if (n == subtree) return true;
  }
  return false;
}

void DbTree::Remove(TreeNode* node) {
  if (node == nullptr || node == &top_) return;
  TreeNode* parent = node->parent();
  const int row = node->Row();
  if (selected_ != nullptr && Contains(node, selected_)) selected_ = nullptr;
  if (current_database_ != nullptr && Contains(node, current_database_)) {
    current_database_ = nullptr;
  }
  for (DbTreeObserver* o : observers_) o->OnBeginRemove(parent, row);
  parent->children_.erase(parent->children_.begin() + row);
  for (DbTreeObserver* o : observers_) o->OnEndRemove();
}

void DbTree::SetText(TreeNode* node, std::string text) {
  node->text_ = std::move(text);
  for (DbTreeObserver* o : observers_) o->OnNodeChanged(node);
}

std::vector<const TreeNode*> DbTree::Walk() const {
  std::vector<const TreeNode*> out;
  std::function<void(const TreeNode&)> visit = [&](const TreeNode& n) {
    for (const auto& c : n.children_) {
      out.push_back(c.get());
      visit(*c);
    }
  };
  visit(top_);
  return out;
}

bool DbTree::Select(TreeNode* node) {
  if (loading_) return false;
  selected_ = node;
  return true;
}

NodeSelection DbTree::SelectionOf(const TreeNode& node) {
  NodeSelection s;
  s.level = node.level();
  s.name = node.text();
  const TreeNode* parent = node.parent();
  switch (node.level()) {
    case NodeLevel::kDatabase:
      s.database = node.text();
      break;
    case NodeLevel::kTablesFolder:
    case NodeLevel::kViewsFolder:
      if (parent != nullptr && parent->level() == NodeLevel::kDatabase) s.database = parent->text();
      break;
    case NodeLevel::kTable:
    case NodeLevel::kView:
      if (parent != nullptr && parent->parent() != nullptr &&
          parent->parent()->level() == NodeLevel::kDatabase) {
        s.database = parent->parent()->text();
      }
      break;
    default:
      for (const TreeNode* n = parent; n != nullptr; n = n->parent()) {
        if (n->level() == NodeLevel::kDatabase) {
          s.database = n->text();
          break;
        }
      }
      break;
  }
  return s;
}

bool DbTree::Selection(NodeSelection* out) const {
  if (selected_ == nullptr) return false;
  *out = SelectionOf(*selected_);
  return true;
}

void DbTree::AddObserver(DbTreeObserver* observer) { observers_.push_back(observer); }

void DbTree::RemoveObserver(DbTreeObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

}  // namespace velquin
