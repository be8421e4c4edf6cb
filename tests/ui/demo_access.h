// Database access and task operations over in-memory catalogues, for the GUI
// tests of the window's behaviour (no database server needed). Nothing here
// uses Qt.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/commands.h"
#include "catalog/catalog_source.h"
#include "log/output_log.h"
#include "tasks/task_operations.h"

namespace velquin::ui {

MemoryCatalogSource DemoSourceCatalog();
MemoryCatalogSource DemoTargetCatalog();

class MemoryDatabaseAccess : public DatabaseAccess {
 public:
  MemoryDatabaseAccess(MemoryCatalogSource source, MemoryCatalogSource target)
      : source_(std::move(source)), target_(std::move(target)) {}

  Result<std::string> Connect(Side side, DbTree& tree) override;
  Status UseDatabase(Side side, const std::string& name) override;
  Status DropDatabase(const std::string& name) override;
  Status DropTable(const std::string& table) override;
  Status DropView(const std::string& view) override;
  Status RenameTable(const std::string& old_name, const std::string& new_name) override;
  std::string TableCondition(const std::string& database, const std::string& table) override;
  bool TargetBusy() override { return target_busy; }
  Status CreateDatabase(const std::string& path) override;
  Status ClearTable(const std::string& table) override;
  bool PrintSourceQuery(const std::string& sql, bool report) override;
  std::string SourceQueryValue(const std::string& sql) override;
  Status SaveCondition(const std::string& database, const std::string& table,
                       const std::string& condition) override;
  Status TestConnection(Side side, const ConnectionDescriptor& descriptor) override;
  void UseDescriptors(const ConnectionDescriptor& source,
                      const ConnectionDescriptor& target) override {
    used_source = source;
    used_target = target;
  }
  ConnectionDescriptor used_source, used_target;

  MemoryCatalogSource& source() { return source_; }
  MemoryCatalogSource& target() { return target_; }
  bool fail_source = false;
  bool fail_target = false;
  // "database.table" -> condition
  std::map<std::string, std::string> conditions;
  bool target_busy = false;
  // Statements sent to the source, and what a QueryValue answers: the
  // answer of the first key that the statement contains, else "0".
  std::vector<std::string> source_statements;
  std::map<std::string, std::string> query_answers;
  std::vector<std::string> cleared_tables;

 private:
  MemoryCatalogSource source_, target_;
};

// Task operations that only take time and write lines: each migration or
// backup step waits `step` and reports what it would have done.
class DemoTaskOperations : public TaskOperations {
 public:
  DemoTaskOperations(OutputLog& log, std::chrono::milliseconds step) : log_(log), step_(step) {}

  bool SwitchTargetDatabase(const std::string&) override { return true; }
  bool CreateAccessDatabase(const std::string&) override { return true; }
  bool SelectDatabase(const std::string&, Side) override { return true; }
  bool ExecuteStatement(Side, const std::string&) override { return true; }
  void SetTreeCurrentDatabase(Side, const std::string&) override {}
  bool ConvertDatabaseTables(const std::string& db) override {
    Step("Convert tables of " + db);
    return true;
  }
  bool ConvertDatabaseViews(const std::string& db) override {
    Step("Convert views of " + db);
    return true;
  }
  bool MigrateTable(const std::string& db, const std::string& t) override {
    Step("Migrate table " + db + "." + t);
    return true;
  }
  bool MigrateView(const std::string& db, const std::string& v) override {
    Step("Migrate view " + db + "." + v);
    return true;
  }
  // The demo writes no file: there is nothing to compare, and nothing differs.
  bool VerifyLoad(const std::string& db) override {
    Step("Nothing to verify for " + db + ": the demo writes no file");
    return true;
  }
  bool BackupDatabaseTables(const std::string& db) override {
    Step("Backup tables of " + db);
    return true;
  }
  bool BackupDatabaseViews(const std::string& db) override {
    Step("Backup views of " + db);
    return true;
  }
  bool BackupTable(const std::string& db, const std::string& t) override {
    Step("Backup table " + db + "." + t);
    return true;
  }
  bool BackupView(const std::string& db, const std::string& v) override {
    Step("Backup view " + db + "." + v);
    return true;
  }
  void RefillTargetTree() override {
    if (on_refill) on_refill();
  }
  // Set before the worker first starts.
  std::function<void()> on_refill;

 private:
  void Step(const std::string& what);
  OutputLog& log_;
  std::chrono::milliseconds step_;
};

}  // namespace velquin::ui
