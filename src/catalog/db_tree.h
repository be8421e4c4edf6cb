// DbTree: one side's catalogue as a tree of nodes, without widgets.
//
// A node's level says what it is (the level is also its icon index):
//   0 root, 1 database, 2 table, 3 "Tables" folder, 4 field, 5 "Fields"
//   folder, 6 index, 7 "Indexes" folder, 8 view, 9 "Views" folder.
// The tree also carries its side's connection members (side, kind, provider,
// current catalogue) and the node the user selected. Views in the Qt layer
// follow changes through DbTreeObserver.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velquin {

class CatalogSource;

enum class NodeLevel : int {
  kRoot = 0,
  kDatabase = 1,
  kTable = 2,
  kTablesFolder = 3,
  kField = 4,
  kFieldsFolder = 5,
  kIndex = 6,
  kIndexesFolder = 7,
  kView = 8,
  kViewsFolder = 9,
};
inline constexpr int kNodeLevelCount = 10;

// What a level is called, for logs and tests ("table", "views folder" ...).
const char* NodeLevelName(NodeLevel level);

enum class TreeSide : int { kReconnecting = -1, kSource = 0, kTarget = 1 };
enum class TreeKind : int { kMySql = 2, kAccess = 4 };

class TreeNode {
 public:
  TreeNode(NodeLevel level, std::string text, TreeNode* parent)
      : level_(level), text_(std::move(text)), parent_(parent) {}

  NodeLevel level() const { return level_; }
  const std::string& text() const { return text_; }
  // The holder of the top-level nodes has no parent; every other node has one.
  TreeNode* parent() const { return parent_; }
  int child_count() const { return static_cast<int>(children_.size()); }
  TreeNode* child(int row) const;
  // This node's position among its parent's children.
  int Row() const;
  // Whether the listing asked for this node to be shown expanded.
  bool expanded() const { return expanded_; }
  // The first child whose text equals `text` (exact), or null.
  TreeNode* FindChild(std::string_view text) const;

 private:
  friend class DbTree;
  NodeLevel level_;
  std::string text_;
  TreeNode* parent_;
  bool expanded_ = false;
  std::vector<std::unique_ptr<TreeNode>> children_;
};

class DbTreeObserver {
 public:
  virtual ~DbTreeObserver() = default;
  virtual void OnBeginReset() {}
  virtual void OnEndReset() {}
  // `parent` is the holder (DbTree::top()) for top-level nodes.
  virtual void OnBeginInsert(const TreeNode* /*parent*/, int /*row*/) {}
  virtual void OnEndInsert() {}
  virtual void OnBeginRemove(const TreeNode* /*parent*/, int /*row*/) {}
  virtual void OnEndRemove() {}
  virtual void OnNodeChanged(const TreeNode* /*node*/) {}
};

// The names a command takes from a selected node.
struct NodeSelection {
  NodeLevel level = NodeLevel::kRoot;
  std::string name;      // the node's text
  std::string database;  // the database the node belongs to ("" for the root)
};

class DbTree {
 public:
  DbTree(TreeSide side, TreeKind kind);
  DbTree(const DbTree&) = delete;
  DbTree& operator=(const DbTree&) = delete;

  // ---- connection members (written when the side connects) ----
  TreeSide side() const { return side_; }
  void set_side(TreeSide side) { side_ = side; }
  TreeKind kind() const { return kind_; }
  // The side's catalogue; null until connected (then the tree stays empty).
  CatalogSource* source() const { return source_; }
  void set_source(CatalogSource* source) { source_ = source; }
  bool connected() const { return source_ != nullptr; }
  const std::string& provider() const { return provider_; }
  void set_provider(std::string provider) { provider_ = std::move(provider); }
  const std::string& catalog_name() const { return catalog_name_; }
  void set_catalog_name(std::string name) { catalog_name_ = std::move(name); }
  const std::string& storage_engine() const { return storage_engine_; }
  void set_storage_engine(std::string engine) { storage_engine_ = std::move(engine); }
  bool loading() const { return loading_; }
  void set_loading(bool loading) { loading_ = loading; }
  // Set when Enter is pressed during a label edit, cleared on Escape and
  // after every edit: only an edit ended with Enter renames.
  bool rename_commit() const { return rename_commit_; }
  void set_rename_commit(bool commit) { rename_commit_ = commit; }

  // ---- nodes ----
  // The holder of the top-level nodes (never shown).
  TreeNode* top() { return &top_; }
  const TreeNode* top() const { return &top_; }
  // The root node (the first top-level node of level 0), or null.
  TreeNode* root() const;
  void Clear();
  TreeNode* Append(TreeNode* parent, NodeLevel level, std::string text);
  // Removes `node` and its subtree; a selection inside it is cleared.
  void Remove(TreeNode* node);
  void SetText(TreeNode* node, std::string text);
  void SetExpanded(TreeNode* node, bool expanded) { node->expanded_ = expanded; }
  // Every node, depth first (for tests and searches).
  std::vector<const TreeNode*> Walk() const;

  // ---- selection ----
  // Selecting is ignored while the tree is loading (returns false then).
  bool Select(TreeNode* node);
  TreeNode* selected() const { return selected_; }
  // The selected node's level and names; nothing when nothing is selected.
  bool Selection(NodeSelection* out) const;
  static NodeSelection SelectionOf(const TreeNode& node);
  // The current database node chosen by the listing, or null.
  TreeNode* current_database() const { return current_database_; }
  void set_current_database(TreeNode* node) { current_database_ = node; }

  void AddObserver(DbTreeObserver* observer);
  void RemoveObserver(DbTreeObserver* observer);

 private:
  bool Contains(const TreeNode* subtree, const TreeNode* node) const;

  TreeSide side_;
  TreeKind kind_;
  CatalogSource* source_ = nullptr;
  std::string provider_;
  std::string catalog_name_;
  std::string storage_engine_ = "MyISAM";
  bool loading_ = false;
  bool rename_commit_ = false;
  TreeNode top_{NodeLevel::kRoot, "", nullptr};
  TreeNode* selected_ = nullptr;
  TreeNode* current_database_ = nullptr;
  std::vector<DbTreeObserver*> observers_;
};

}  // namespace velquin
