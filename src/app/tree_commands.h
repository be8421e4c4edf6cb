// The commands of the database trees: New Database, Change Charset, the
// storage-engine toggle, Delete Database, Clear all tables, Clear all Data,
// Drop Table and Drop View. Like the main commands they decide here and ask
// and show through CommandUi; the database work goes through DatabaseAccess.
#pragma once

#include <string>
#include <vector>

#include "app/commands.h"

namespace velquin {

inline constexpr char kNoTargetDatabaseSelected[] = "No Database in TARGET Side be Selected!";
inline constexpr char kRemoveConfirm[] =
    "After remove, you can not restore [%s] again! Continue?\nPress YES to Continue Removing!";

// The storage-engine menu item names the engine in force; each use switches.
struct EngineToggle {
  std::string menu_text;  // the item's new text
  std::string message;    // shown to the user
  std::string engine;     // the tree's new storage engine
};
EngineToggle ToggleStorageEngine(const std::string& menu_text);

// One choice of the character-set dialog, in the dialog's order: radio text,
// description (shown as it stands) and the name handed back.
struct CharsetChoice {
  const char* radio;
  const char* description;
  const char* name;
};
inline constexpr int kCharsetCount = 36;
extern const CharsetChoice kCharsets[kCharsetCount];
// The index whose name equals `name` exactly, or -1.
int CharsetIndex(const std::string& name);

// The condition dialog's statement head and its Test.
std::string ConditionLabel(const std::string& table);
struct ConditionTest {
  std::string result;  // the result box text
  bool can_save = false;
};
// Counts the rows the condition selects on the source; a condition that
// would not stay inside the statement is refused before anything is sent.
ConditionTest TestCondition(DatabaseAccess& access, const std::string& table,
                            const std::string& condition);

// The five statements that make `charset` the source session's character
// set, in the order they are sent.
std::vector<std::string> CharsetStatements(const std::string& charset);

// New Database: asks for the new file (in the folder of the target's current
// database), creates it and lists the target again. True when created.
bool NewDatabase(CommandHost& host, CommandUi& ui, DatabaseAccess& access);

// Change Charset: the character-set dialog, then the five statements on the
// source session, then the source tree is listed again.
void ChangeCharset(CommandHost& host, CommandUi& ui, DatabaseAccess& access);

// Delete Database, Clear all tables, Clear all Data: on the selected target
// database, after both questions.
void DeleteDatabase(CommandHost& host, CommandUi& ui, DatabaseAccess& access);
void ClearAllTables(CommandHost& host, CommandUi& ui, DatabaseAccess& access);
// Empties every table of the database and keeps the tables (with their keys,
// indexes and relationships) and their nodes. Tables that refer to others
// are emptied first; a table that cannot be emptied is reported.
void ClearAllData(CommandHost& host, CommandUi& ui, DatabaseAccess& access);

// Drop Table and Drop View: the selected target object, without a question;
// its node goes when the drop succeeded.
void DropSelectedTable(CommandHost& host, CommandUi& ui, DatabaseAccess& access);
void DropSelectedView(CommandHost& host, CommandUi& ui, DatabaseAccess& access);

// Lists a side's tree again, reporting what the listing reports. The target
// is left alone (with a message) while a task works on its file.
void RefillSide(CommandHost& host, CommandUi& ui, DatabaseAccess& access, bool target);

}  // namespace velquin
