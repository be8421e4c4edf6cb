#include "app/tree_commands.h"

#include <filesystem>

#include "catalog/catalog_listing.h"
#include "config/condition_file.h"

namespace velquin {
namespace {

std::string WithName(const std::string& pattern, const std::string& name) {
  std::string out = pattern;
  const size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, name);
  return out;
}

// The selected target database node, or null after telling the user.
TreeNode* SelectedTargetDatabase(CommandHost& host, CommandUi& ui) {
  TreeNode* node = host.target_tree().selected();
  std::string text = node != nullptr ? node->text() : std::string();
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (node == nullptr || text.empty() || node->level() != NodeLevel::kDatabase) {
    ui.Inform(kNoTargetDatabaseSelected);
    return nullptr;
  }
  return node;
}

bool Confirm(CommandUi& ui, const std::string& first, const std::string& name) {
  if (!ui.AskOkCancel(WithName(first, name))) return false;
  return ui.AskYesNo(WithName(kRemoveConfirm, name), BoxIcon::kWarning);
}

// The children of a database node's "Tables" or "Views" folder, by name.
std::vector<std::string> ObjectsUnder(const TreeNode* database, NodeLevel folder_level) {
  std::vector<std::string> names;
  for (int i = 0; i < database->child_count(); ++i) {
    const TreeNode* folder = database->child(i);
    if (folder->level() != folder_level) continue;
    for (int j = 0; j < folder->child_count(); ++j) names.push_back(folder->child(j)->text());
  }
  return names;
}

bool RefuseWhileBusy(CommandUi& ui, DatabaseAccess& access) {
  if (!access.TargetBusy()) return false;
  ui.Inform(kTargetBusy);
  return true;
}

}  // namespace

const CharsetChoice kCharsets[kCharsetCount] = {
    {"big5", "Big5 Traditional Chinese", "BIG5"},
    {"dec8", "DEC West European ", "DEC8"},
    {"cp850", "DOS West European", "CP850"},
    {"hp8", "HP West European", "HP8"},
    {"koi8r", "KOI8-R Relcom Russian", "KOI8R"},
    {"latin1", "cp1252 West European", "LATIN1"},
    {"latin2", "ISO 8859-2 Central European", "LATIN2"},
    {"swe7", "7bit Swedish", "SWE7"},
    {"ascii", "US ASCII", "ASCII"},
    {"ujis", "EUC-JP Japanese", "UJIS"},
    {"sjis", "Shift-JIS Japanese", "SJIS"},
    {"hebrew", "ISO 8859-8 Hebrew", "HEBREW"},
    {"tis620", "TIS620 Thai", "TIS620"},
    {"euckr", "EUC-KR Korean", "EUCKR"},
    {"koi8u", "KOI8-U Ukrainian", "KOI8U"},
    {"gb2312", "GB2312 Simplified Chinese", "GB2312"},
    {"greek", "ISO 8859-7 Greek", "GREEK"},
    {"cp1250", " Windows Central European", "CP1250"},
    {"gbk", "GBK Simplified Chinese", "GBK"},
    {"latin5", "ISO 8859-9 Turkish", "LATIN5"},
    {"armscii8", "ARMSCII-8 Armenian", "ARMSCII8"},
    {"utf8", "UTF-8 Unicode", "UTF8"},
    {"ucs2", "UCS-2 Unicode", "UCS2"},
    {"cp866", "DOS Russian", "CP866"},
    {"keybcs2", "DOS Kamenicky Czech-Slovak", "KEYBCS2"},
    {"macce", "Mac Central European", "MACCE"},
    {"macroman", "Mac West European", "MACROMAN"},
    {"cp852", "DOS Central European", "CP852"},
    {"latin7", "ISO 8859-13 Baltic", "LATIN7"},
    {"cp1251", " Windows Cyrillic", "CP1251"},
    {"cp1256", " Windows Arabic", "CP1256"},
    {"cp1257", " Windows Baltic", "CP1257"},
    {"binary", "Binary pseudo charset", "BINARY"},
    {"geostd8", "GEOSTD8 Georgian", "GEOSTD8"},
    {"cp932", "SJIS for Windows Japanese", "CP932"},
    {"eucjpms", "UJIS for Windows Japanese", "EUCJPMS"},
};

int CharsetIndex(const std::string& name) {
  for (int i = 0; i < kCharsetCount; ++i) {
    if (name == kCharsets[i].name) return i;
  }
  return -1;
}

std::string ConditionLabel(const std::string& table) { return "select * from " + table + " where"; }

ConditionTest TestCondition(DatabaseAccess& access, const std::string& table,
                            const std::string& condition) {
  ConditionTest test;
  if (Status st = CheckCondition(condition); !st.ok()) {
    test.result = "Test failed!\r\n  Because:  " + st.message();
    return test;
  }
  // The name is quoted so that names with blanks or odd characters count too.
  std::string quoted = "`";
  for (char c : table) quoted += c == '`' ? std::string("``") : std::string(1, c);
  quoted += "`";
  std::string sql = "select count(*) from " + quoted;
  if (!condition.empty()) sql += " where " + condition;
  const std::string value = access.SourceQueryValue(sql);
  const bool digits = value.find_first_not_of("0123456789") == std::string::npos;
  if (digits) {
    test.result = "Test successfully!\r\n  " + value + " Records can be converted.";
    test.can_save = true;
  } else {
    test.result = "Test failed!\r\n  Because:  " + value;
  }
  return test;
}

EngineToggle ToggleStorageEngine(const std::string& menu_text) {
  const size_t at = menu_text.find("MyISAM");
  if (at == std::string::npos || at == 0) {
    return {"Change Storage Engine(MyISAM)", "Now Storage Engine of MySQL is MyISAM!", "MyISAM"};
  }
  return {"Change Storage Engine(InnoDB)", "Now Storage Engine of MySQL is InnoDB!", "InnoDB"};
}

std::vector<std::string> CharsetStatements(const std::string& charset) {
  std::vector<std::string> out;
  for (const char* variable :
       {"character_set_client", "character_set_connection", "character_set_database",
        "character_set_results", "character_set_server"}) {
    out.push_back(std::string("set ") + variable + "=" + charset + ";");
  }
  return out;
}

void RefillSide(CommandHost& host, CommandUi& ui, DatabaseAccess& access, bool target) {
  DbTree& tree = target ? host.target_tree() : host.source_tree();
  if (!tree.connected()) return;
  if (target && access.TargetBusy()) {
    host.WriteLine("The target tree is listed again when the running task has ended.");
    return;
  }
  FillReport report = FillTree(tree);
  for (const std::string& box : report.message_boxes) ui.Inform(box);
  for (const std::string& line : report.output_lines) host.WriteLine("T::" + line);
}

bool NewDatabase(CommandHost& host, CommandUi& ui, DatabaseAccess& access) {
  if (!CheckNewDatabase(host, ui)) return false;
  if (RefuseWhileBusy(ui, access)) return false;
  DbTree& tree = host.target_tree();
  std::string folder = std::filesystem::path(tree.catalog_name()).parent_path().string();
  std::optional<std::string> file = ui.ChooseNewDatabaseFile(folder);
  if (!file || file->empty()) return false;
  std::string path = *file;
  if (std::filesystem::path(path).extension() != ".mdb") path += ".mdb";
  if (Status st = access.CreateDatabase(path); !st.ok()) {
    host.WriteLine("E::" + st.message());
    ui.Inform(st.message());
    return false;
  }
  std::string name = path.substr(0, path.size() - 4);
  tree.set_catalog_name(name);
  RefillSide(host, ui, access, true);
  return true;
}

void ChangeCharset(CommandHost& host, CommandUi& ui, DatabaseAccess& access) {
  if (host.source_tree().kind() != TreeKind::kMySql) return;
  std::string name = host.CharsetName();
  if (!ui.ChooseCharset(&name)) return;
  host.SetCharsetName(name);
  const std::vector<std::string> statements = CharsetStatements(name);
  for (size_t i = 0; i < statements.size(); ++i) {
    access.PrintSourceQuery(statements[i], i > 0);
  }
  RefillSide(host, ui, access, false);
}

void DeleteDatabase(CommandHost& host, CommandUi& ui, DatabaseAccess& access) {
  TreeNode* node = SelectedTargetDatabase(host, ui);
  if (node == nullptr) return;
  const std::string name = node->text();
  if (!Confirm(ui, "Remove database [%s]?", name)) return;
  if (RefuseWhileBusy(ui, access)) return;
  if (Status st = access.DropDatabase(name); !st.ok()) host.WriteLine("E::" + st.message());
  if (host.target_tree().catalog_name() == name) host.target_tree().set_catalog_name("");
  RefillSide(host, ui, access, true);
}

void ClearAllTables(CommandHost& host, CommandUi& ui, DatabaseAccess& access) {
  TreeNode* node = SelectedTargetDatabase(host, ui);
  if (node == nullptr) return;
  const std::string name = node->text();
  if (!Confirm(ui, "Remove all the tables of [%s]?", name)) return;
  if (RefuseWhileBusy(ui, access)) return;
  const std::vector<std::string> views = ObjectsUnder(node, NodeLevel::kViewsFolder);
  const std::vector<std::string> tables = ObjectsUnder(node, NodeLevel::kTablesFolder);
  // Views first: they read the tables.
  for (const std::string& view : views) {
    if (Status st = access.DropView(view); !st.ok()) host.WriteLine("E::" + st.message());
  }
  for (const std::string& table : tables) {
    if (Status st = access.DropTable(table); !st.ok()) host.WriteLine("E::" + st.message());
  }
  RefillSide(host, ui, access, true);
}

void ClearAllData(CommandHost& host, CommandUi& ui, DatabaseAccess& access) {
  TreeNode* node = SelectedTargetDatabase(host, ui);
  if (node == nullptr) return;
  const std::string name = node->text();
  if (!Confirm(ui, "Delete all the data of [%s]?", name)) return;
  if (RefuseWhileBusy(ui, access)) return;
  // A row that other tables refer to cannot go before the rows referring to
  // it: tables that refuse are tried again after the others, as long as each
  // round empties at least one more.
  std::vector<std::string> left = ObjectsUnder(node, NodeLevel::kTablesFolder);
  std::vector<std::pair<std::string, std::string>> failures;
  while (!left.empty()) {
    std::vector<std::string> refused;
    failures.clear();
    for (const std::string& table : left) {
      Status st = access.ClearTable(table);
      if (!st.ok()) {
        refused.push_back(table);
        failures.emplace_back(table, st.message());
      }
    }
    if (refused.size() == left.size()) break;
    left = std::move(refused);
  }
  for (const auto& [table, why] : failures) {
    std::string line = "E::The data of [" + table + "] could not be deleted: ";
    line += why;
    host.WriteLine(line);
  }
}

void DropSelectedTable(CommandHost& host, CommandUi& ui, DatabaseAccess& access) {
  DbTree& tree = host.target_tree();
  TreeNode* node = tree.selected();
  if (node == nullptr || node->level() != NodeLevel::kTable) return;
  if (RefuseWhileBusy(ui, access)) return;
  // A failed drop has written its reason to the output; its node stays.
  if (access.DropTable(node->text()).ok()) tree.Remove(node);
}

void DropSelectedView(CommandHost& host, CommandUi& ui, DatabaseAccess& access) {
  DbTree& tree = host.target_tree();
  TreeNode* node = tree.selected();
  if (node == nullptr || node->level() != NodeLevel::kView) return;
  if (RefuseWhileBusy(ui, access)) return;
  // A failed drop has written its reason to the output; its node stays.
  if (access.DropView(node->text()).ok()) tree.Remove(node);
}

}  // namespace velquin
