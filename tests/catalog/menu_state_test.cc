#include "catalog/menu_state.h"

#include <gtest/gtest.h>

namespace velquin {
namespace {

using C = TreeCommand;

struct MenuCase {
  NodeLevel level;
  TreeSide side;
  TreeKind kind;
  ObjectMenu shown;
  std::vector<C> enabled;
  std::vector<C> greyed;
};

class MenuStateTable : public testing::TestWithParam<MenuCase> {};

TEST_P(MenuStateTable, ShowsMenuAndEnablesItems) {
  const MenuCase& c = GetParam();
  MenuState m = MenuStateFor(c.level, c.side, c.kind);
  EXPECT_EQ(m.shown, c.shown);
  EXPECT_TRUE(m.change_items);
  EXPECT_EQ(m.enabled, c.enabled);
  EXPECT_EQ(m.greyed, c.greyed);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, MenuStateTable,
    testing::Values(MenuCase{NodeLevel::kRoot,
                             TreeSide::kSource,
                             TreeKind::kMySql,
                             ObjectMenu::kDatabases,
                             {C::kChangeCharset, C::kStorageEngine},
                             {C::kNewDatabase}},
                    MenuCase{NodeLevel::kRoot,
                             TreeSide::kTarget,
                             TreeKind::kAccess,
                             ObjectMenu::kDatabases,
                             {C::kNewDatabase},
                             {C::kChangeCharset, C::kStorageEngine}},
                    MenuCase{NodeLevel::kDatabase,
                             TreeSide::kTarget,
                             TreeKind::kAccess,
                             ObjectMenu::kDatabase,
                             {C::kDeleteDatabase, C::kClearAllTables, C::kClearAllData},
                             {}},
                    MenuCase{NodeLevel::kDatabase,
                             TreeSide::kSource,
                             TreeKind::kMySql,
                             ObjectMenu::kDatabase,
                             {},
                             {C::kDeleteDatabase, C::kClearAllTables, C::kClearAllData}},
                    MenuCase{NodeLevel::kTable,
                             TreeSide::kSource,
                             TreeKind::kMySql,
                             ObjectMenu::kTable,
                             {C::kMigrationCondition},
                             {C::kDropTable, C::kDropView, C::kRenameTable}},
                    MenuCase{NodeLevel::kTable,
                             TreeSide::kTarget,
                             TreeKind::kAccess,
                             ObjectMenu::kTable,
                             {C::kDropTable, C::kRenameTable},
                             {C::kMigrationCondition, C::kDropView}},
                    MenuCase{NodeLevel::kView,
                             TreeSide::kSource,
                             TreeKind::kMySql,
                             ObjectMenu::kTable,
                             {C::kMigrationCondition},
                             {C::kDropTable, C::kDropView, C::kRenameTable}},
                    MenuCase{NodeLevel::kView,
                             TreeSide::kTarget,
                             TreeKind::kAccess,
                             ObjectMenu::kTable,
                             {C::kDropView},
                             {C::kMigrationCondition, C::kDropTable, C::kRenameTable}}));

TEST(MenuState, OtherLevelsShowNoObjectMenu) {
  for (NodeLevel l : {NodeLevel::kTablesFolder, NodeLevel::kField, NodeLevel::kFieldsFolder,
                      NodeLevel::kIndex, NodeLevel::kIndexesFolder, NodeLevel::kViewsFolder}) {
    MenuState m = MenuStateFor(l, TreeSide::kTarget, TreeKind::kAccess);
    EXPECT_EQ(m.shown, ObjectMenu::kNone) << NodeLevelName(l);
    EXPECT_TRUE(m.enabled.empty());
  }
}

TEST(MenuState, ReconnectingSideLeavesObjectItemsUnchanged) {
  MenuState m = MenuStateFor(NodeLevel::kTable, TreeSide::kReconnecting, TreeKind::kAccess);
  EXPECT_EQ(m.shown, ObjectMenu::kTable);
  EXPECT_FALSE(m.change_items);
}

std::vector<std::string> Titles(const std::vector<ContextItem>& items) {
  std::vector<std::string> out;
  for (const ContextItem& i : items) out.push_back(i.title);
  return out;
}

TEST(ContextMenu, TrimmedPerSideAndKind) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Titles(ContextMenuFor(NodeLevel::kRoot, TreeSide::kSource, TreeKind::kMySql, "srv")),
            (V{"Change Charset", "Storage Engines"}));
  EXPECT_EQ(Titles(ContextMenuFor(NodeLevel::kRoot, TreeSide::kTarget, TreeKind::kAccess, "a.mdb")),
            (V{"New Database"}));
  EXPECT_TRUE(
      ContextMenuFor(NodeLevel::kDatabase, TreeSide::kSource, TreeKind::kMySql, "shop").empty());
  EXPECT_EQ(
      Titles(ContextMenuFor(NodeLevel::kDatabase, TreeSide::kTarget, TreeKind::kAccess, "shop")),
      (V{"Delete Database", "Clear all tables", "Clear all Data"}));
  EXPECT_EQ(Titles(ContextMenuFor(NodeLevel::kTable, TreeSide::kSource, TreeKind::kMySql, "t")),
            (V{"Migration Condition"}));
  EXPECT_EQ(Titles(ContextMenuFor(NodeLevel::kTable, TreeSide::kTarget, TreeKind::kAccess, "t")),
            (V{"Drop Table t", "Rename Table t"}));
  EXPECT_EQ(Titles(ContextMenuFor(NodeLevel::kView, TreeSide::kTarget, TreeKind::kAccess, "v")),
            (V{"Drop View v"}));
  EXPECT_TRUE(ContextMenuFor(NodeLevel::kField, TreeSide::kTarget, TreeKind::kAccess, "f").empty());
}

TEST(ContextMenu, BlankNodeTextShowsNothing) {
  EXPECT_TRUE(
      ContextMenuFor(NodeLevel::kRoot, TreeSide::kTarget, TreeKind::kAccess, "   ").empty());
  EXPECT_TRUE(ContextMenuFor(NodeLevel::kTable, TreeSide::kSource, TreeKind::kMySql, "").empty());
}

}  // namespace
}  // namespace velquin
