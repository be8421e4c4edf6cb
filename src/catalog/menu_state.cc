#include "catalog/menu_state.h"

#include <algorithm>

namespace velquin {

const char* TreeCommandTitle(TreeCommand command) {
  switch (command) {
    case TreeCommand::kNewDatabase:
      return "New Database";
    case TreeCommand::kChangeCharset:
      return "Change Charset";
    case TreeCommand::kStorageEngine:
      return "Change Storage Engine(MyISAM)";
    case TreeCommand::kDeleteDatabase:
      return "Delete Database";
    case TreeCommand::kClearAllTables:
      return "Clear all tables";
    case TreeCommand::kClearAllData:
      return "Clear all Data";
    case TreeCommand::kMigrationCondition:
      return "Migration Condition";
    case TreeCommand::kDropTable:
      return "Drop Table";
    case TreeCommand::kDropView:
      return "Drop View";
    case TreeCommand::kRenameTable:
      return "Rename Table";
  }
  return "";
}

namespace {
void Put(MenuState& m, TreeCommand c, bool on) { (on ? m.enabled : m.greyed).push_back(c); }
}  // namespace

MenuState MenuStateFor(NodeLevel level, TreeSide side, TreeKind kind) {
  MenuState m;
  const bool target = side == TreeSide::kTarget;
  const bool source = side == TreeSide::kSource;
  switch (level) {
    case NodeLevel::kRoot:
      m.shown = ObjectMenu::kDatabases;
      Put(m, TreeCommand::kNewDatabase, target);
      Put(m, TreeCommand::kChangeCharset, kind == TreeKind::kMySql);
      Put(m, TreeCommand::kStorageEngine, kind == TreeKind::kMySql);
      break;
    case NodeLevel::kDatabase:
      m.shown = ObjectMenu::kDatabase;
      Put(m, TreeCommand::kDeleteDatabase, target);
      Put(m, TreeCommand::kClearAllTables, target);
      Put(m, TreeCommand::kClearAllData, target);
      break;
    case NodeLevel::kTable:
    case NodeLevel::kView: {
      m.shown = ObjectMenu::kTable;
      if (side == TreeSide::kReconnecting) {
        m.change_items = false;
        break;
      }
      const bool table = level == NodeLevel::kTable;
      Put(m, TreeCommand::kMigrationCondition, source);
      Put(m, TreeCommand::kDropTable, target && table);
      Put(m, TreeCommand::kDropView, target && !table);
      Put(m, TreeCommand::kRenameTable, target && table);
      break;
    }
    default:
      m.change_items = false;
      break;
  }
  return m;
}

std::vector<ContextItem> ContextMenuFor(NodeLevel level, TreeSide side, TreeKind kind,
                                        const std::string& text) {
  std::vector<ContextItem> items;
  if (text.find_first_not_of(' ') == std::string::npos) return items;
  const bool target = side == TreeSide::kTarget;
  const bool source = side == TreeSide::kSource;
  switch (level) {
    case NodeLevel::kRoot:
      if (!source) items.push_back({TreeCommand::kNewDatabase, "New Database"});
      if (kind == TreeKind::kMySql) {
        items.push_back({TreeCommand::kChangeCharset, "Change Charset"});
        items.push_back({TreeCommand::kStorageEngine, "Storage Engines"});
      }
      break;
    case NodeLevel::kDatabase:
      if (target) {
        items.push_back({TreeCommand::kDeleteDatabase, "Delete Database"});
        items.push_back({TreeCommand::kClearAllTables, "Clear all tables"});
        items.push_back({TreeCommand::kClearAllData, "Clear all Data"});
      }
      break;
    case NodeLevel::kTable:
    case NodeLevel::kView:
      if (source) {
        items.push_back({TreeCommand::kMigrationCondition, "Migration Condition"});
      } else if (target) {
        if (level == NodeLevel::kTable) {
          items.push_back({TreeCommand::kDropTable, "Drop Table " + text});
          items.push_back({TreeCommand::kRenameTable, "Rename Table " + text});
        } else {
          items.push_back({TreeCommand::kDropView, "Drop View " + text});
        }
      } else {
        items.push_back({TreeCommand::kMigrationCondition, "Migration Condition"});
        items.push_back({TreeCommand::kDropTable, "Drop Table"});
        items.push_back({TreeCommand::kDropView, "Drop View"});
        items.push_back({TreeCommand::kRenameTable, "Rename Table"});
      }
      break;
    default:
      break;
  }
  return items;
}

}  // namespace velquin
