#include "catalog/db_tree.h"

#include <gtest/gtest.h>

namespace velquin {
namespace {

class CountingObserver : public DbTreeObserver {
 public:
  void OnBeginReset() override { ++resets; }
  void OnBeginInsert(const TreeNode*, int row) override { last_insert_row = row; }
  void OnBeginRemove(const TreeNode*, int row) override { last_remove_row = row; }
  void OnNodeChanged(const TreeNode* node) override { changed = node; }
  int resets = 0;
  int last_insert_row = -1;
  int last_remove_row = -1;
  const TreeNode* changed = nullptr;
};

struct Built {
  TreeNode* root;
  TreeNode* db;
  TreeNode* tables;
  TreeNode* table;
  TreeNode* views;
  TreeNode* view;
};

Built Build(DbTree& t) {
  Built b;
  b.root = t.Append(nullptr, NodeLevel::kRoot, "srv");
  b.db = t.Append(b.root, NodeLevel::kDatabase, "shop");
  b.tables = t.Append(b.db, NodeLevel::kTablesFolder, "Tables");
  b.views = t.Append(b.db, NodeLevel::kViewsFolder, "Views");
  b.table = t.Append(b.tables, NodeLevel::kTable, "orders");
  b.view = t.Append(b.views, NodeLevel::kView, "v1");
  return b;
}

TEST(DbTree, SelectionNamesTheNodesDatabase) {
  DbTree t(TreeSide::kTarget, TreeKind::kAccess);
  Built b = Build(t);
  struct Case {
    TreeNode* node;
    NodeLevel level;
    const char* name;
    const char* db;
  } cases[] = {
      {b.root, NodeLevel::kRoot, "srv", ""},
      {b.db, NodeLevel::kDatabase, "shop", "shop"},
      {b.tables, NodeLevel::kTablesFolder, "Tables", "shop"},
      {b.table, NodeLevel::kTable, "orders", "shop"},
      {b.views, NodeLevel::kViewsFolder, "Views", "shop"},
      {b.view, NodeLevel::kView, "v1", "shop"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(t.Select(c.node));
    NodeSelection s;
    ASSERT_TRUE(t.Selection(&s));
    EXPECT_EQ(s.level, c.level);
    EXPECT_EQ(s.name, c.name);
    EXPECT_EQ(s.database, c.db) << c.name;
  }
}

TEST(DbTree, SelectionIgnoredWhileLoading) {
  DbTree t(TreeSide::kSource, TreeKind::kMySql);
  Built b = Build(t);
  t.set_loading(true);
  EXPECT_FALSE(t.Select(b.db));
  EXPECT_EQ(t.selected(), nullptr);
}

TEST(DbTree, RemovingSubtreeClearsSelectionInsideAndNotifies) {
  DbTree t(TreeSide::kTarget, TreeKind::kAccess);
  CountingObserver obs;
  t.AddObserver(&obs);
  Built b = Build(t);
  EXPECT_EQ(obs.last_insert_row, 0);
  ASSERT_TRUE(t.Select(b.table));
  t.set_current_database(b.db);
  t.Remove(b.db);
  EXPECT_EQ(obs.last_remove_row, 0);
  EXPECT_EQ(t.selected(), nullptr);
  EXPECT_EQ(t.current_database(), nullptr);
  EXPECT_EQ(b.root->child_count(), 0);
  t.RemoveObserver(&obs);
}

TEST(DbTree, RemovingSiblingKeepsSelection) {
  DbTree t(TreeSide::kTarget, TreeKind::kAccess);
  Built b = Build(t);
  ASSERT_TRUE(t.Select(b.table));
  t.Remove(b.views);
  EXPECT_EQ(t.selected(), b.table);
  EXPECT_EQ(b.tables->Row(), 0);
}

TEST(DbTree, SetTextNotifiesAndClearNotifiesReset) {
  DbTree t(TreeSide::kTarget, TreeKind::kAccess);
  CountingObserver obs;
  t.AddObserver(&obs);
  Built b = Build(t);
  t.SetText(b.table, "orders2");
  EXPECT_EQ(obs.changed, b.table);
  EXPECT_EQ(b.tables->FindChild("orders2"), b.table);
  t.Clear();
  EXPECT_EQ(obs.resets, 1);
  EXPECT_EQ(t.root(), nullptr);
  t.RemoveObserver(&obs);
}

}  // namespace
}  // namespace velquin
