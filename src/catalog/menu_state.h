// Which object menu and which items a selected tree node enables.
//
// The menu bar has three object menus ("D&atabases", "&Database", "&Table");
// selecting a node shows the one that fits its level and enables the items
// that make sense for the tree's side and kind. A right click offers a
// context menu trimmed the same way.
#pragma once

#include <string>
#include <vector>

#include "catalog/db_tree.h"

namespace velquin {

// Menu command ids of the tree operations.
enum class TreeCommand : int {
  kNewDatabase = 32775,
  kChangeCharset = 32774,
  kStorageEngine = 32794,
  kDeleteDatabase = 32772,
  kClearAllTables = 32773,
  kClearAllData = 32790,
  kMigrationCondition = 32776,
  kDropTable = 32787,
  kDropView = 32788,
  kRenameTable = 32789,
};
inline constexpr TreeCommand kAllTreeCommands[] = {
    TreeCommand::kNewDatabase,        TreeCommand::kChangeCharset,  TreeCommand::kStorageEngine,
    TreeCommand::kDeleteDatabase,     TreeCommand::kClearAllTables, TreeCommand::kClearAllData,
    TreeCommand::kMigrationCondition, TreeCommand::kDropTable,      TreeCommand::kDropView,
    TreeCommand::kRenameTable,
};

// The item's text in the menu bar.
const char* TreeCommandTitle(TreeCommand command);

enum class ObjectMenu { kNone, kDatabases, kDatabase, kTable };

struct MenuState {
  ObjectMenu shown = ObjectMenu::kNone;
  // When false, the item states stay as they were (a table or view selected
  // while the side reconnects).
  bool change_items = true;
  std::vector<TreeCommand> enabled;  // items of the shown menu that are enabled
  std::vector<TreeCommand> greyed;   // items of the shown menu that are greyed
};

MenuState MenuStateFor(NodeLevel level, TreeSide side, TreeKind kind);

struct ContextItem {
  TreeCommand command;
  std::string title;
};

// The right-click menu for a node; empty when the level has none or the
// node's text is blank.
std::vector<ContextItem> ContextMenuFor(NodeLevel level, TreeSide side, TreeKind kind,
                                        const std::string& text);

}  // namespace velquin
