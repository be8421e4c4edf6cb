// Backup of Access objects into script files, laid out as:
//
//   <backup root>/<database>/TABLES/<table>.tbl   CREATE TABLE, then its indexes
//                           /TABLES/<table>.rel   its relationships (when it has any)
//                           /DATA/<table>.data    one INSERT INTO per row
//                           /VIEWS/<view>.vw      CREATE VIEW with the whole SELECT
//
// A database-level backup (all tables, all views) works in the database's
// directory under the root and leaves its working position there; a single
// table or view is written at the working position: the root after the
// Backup command chose it, or the directory of the last database-level
// backup. Paths are built explicitly: the process's current directory is
// never changed. Existing files are overwritten.
//
// Scripts are UTF-8 unless the Windows code page is asked for; then a script
// holding a character outside it is refused and removed. Lines end in CR LF.
// The output lines keep the texts users know ("Backup Tables of database
// [%s]", "[%s] %d records backuped!", "Tables Backup Terminaled!", ...).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "db/session.h"

namespace velquin {
class JetSession;
}

namespace velquin::backup {

inline constexpr char kTablesDirectory[] = "TABLES";
inline constexpr char kDataDirectory[] = "DATA";
inline constexpr char kViewsDirectory[] = "VIEWS";
inline constexpr char kTableExtension[] = ".tbl";
inline constexpr char kRelationshipsExtension[] = ".rel";
inline constexpr char kDataExtension[] = ".data";
inline constexpr char kViewExtension[] = ".vw";

// The line written when a script file cannot be created.
inline constexpr char kLineCharsetHint[] =
    "Perhaps CHARACTER SET not correct!\nPlease change and try again.";

enum class ScriptEncoding { kUtf8, kWindows1252 };

struct BackupOptions {
  // AutoBackup: write the data scripts. Off: no .data file is written.
  bool write_data = true;
  ScriptEncoding encoding = ScriptEncoding::kUtf8;
  // Read after every row and after every object; true ends the walk.
  std::function<bool()> stop_requested;
  LineSink out;
  // Rows written so far of the table whose data is being written (every
  // 1000 rows and at its end) and the row count its definition records.
  std::function<void(const std::string& table, std::uint64_t rows, std::uint64_t expected)>
      rows_progress;
};

enum class ObjectStatus { kDone, kFailed, kStopped };

struct ObjectReport {
  bool view = false;
  std::string name;
  std::uint64_t rows = 0;   // rows written into the data script
  std::uint64_t bytes = 0;  // bytes of all the object's scripts
  ObjectStatus status = ObjectStatus::kDone;
  std::string message;  // why it failed
};

// The directory a database's scripts go in: its name (a path without
// ".mdb") without a drive designation, last path component only.
std::string DatabaseDirectoryName(const std::string& database);

class Backup {
 public:
  Backup(std::filesystem::path root, BackupOptions options);

  // A newly chosen root; it also becomes the working position.
  void SetRoot(std::filesystem::path root);
  const std::filesystem::path& root() const { return root_; }
  const std::filesystem::path& position() const { return position_; }
  // AutoBackup, for the objects backed up from now on.
  void set_write_data(bool on) { options_.write_data = on; }

  // Every table (names with blanks included) of the database, then returns
  // 0; -1 when the catalogue cannot be read. `only`, when given, limits the
  // walk to those names.
  int BackupDatabaseTables(Session* session, const std::string& database,
                           const std::vector<std::string>* only = nullptr);
  // Every saved query; 0, or -1 when the catalogue cannot be read.
  int BackupDatabaseViews(Session* session, const std::string& database,
                          const std::vector<std::string>* only = nullptr);
  // 1 when written whole; -2 when a script file cannot be created; -1 on
  // any other failure (no session, unreadable table, refused encoding).
  int BackupTable(Session* session, const std::string& database, const std::string& table);
  int BackupView(Session* session, const std::string& database, const std::string& view);

  // One report per object tried, in order; cleared by ClearReports.
  const std::vector<ObjectReport>& reports() const { return reports_; }
  void ClearReports() { reports_.clear(); }
  // True when every object since the last ClearReports was written whole.
  bool AllDone() const;

 private:
  void Out(const std::string& line) const;
  bool StopRequested() const { return options_.stop_requested && options_.stop_requested(); }
  std::filesystem::path EnterDatabase(const std::string& database);
  // Adds the object's report; its session as a JetSession, or null (the
  // report then says "No Connection!").
  JetSession* StartObject(Session* session, bool view, const std::string& name);
  // Marks the last report failed, writes why, returns `code`.
  int Fail(int code, const std::string& why);
  int TableAt(Session* session, const std::filesystem::path& dir, const std::string& table);
  int ViewAt(Session* session, const std::filesystem::path& dir, const std::string& database,
             const std::string& view);

  std::filesystem::path root_;
  std::filesystem::path position_;
  BackupOptions options_;
  std::vector<ObjectReport> reports_;
};

}  // namespace velquin::backup
