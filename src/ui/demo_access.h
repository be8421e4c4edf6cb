// Database access and task operations over in-memory catalogues, for running
// the window without database servers: --demo, the screenshots and the GUI
// tests. Nothing here uses Qt.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <string>

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

  MemoryCatalogSource& source() { return source_; }
  MemoryCatalogSource& target() { return target_; }
  bool fail_source = false;
  bool fail_target = false;
  // "database.table" -> condition
  std::map<std::string, std::string> conditions;

 private:
  MemoryCatalogSource source_, target_;
};

// Until the database layer is wired in: every connection fails with a
// clear message, so Connect reports the connection errors.
class UnavailableDatabaseAccess : public DatabaseAccess {
 public:
  Result<std::string> Connect(Side side, DbTree&) override {
    return Status::NotSupported(std::string(side == Side::kTarget ? "Target" : "Source") +
                                " database access is not available yet");
  }
  Status UseDatabase(Side, const std::string&) override { return Unavailable(); }
  Status DropDatabase(const std::string&) override { return Unavailable(); }
  Status DropTable(const std::string&) override { return Unavailable(); }
  Status DropView(const std::string&) override { return Unavailable(); }
  Status RenameTable(const std::string&, const std::string&) override { return Unavailable(); }
  std::string TableCondition(const std::string&, const std::string&) override { return {}; }

 private:
  static Status Unavailable() {
    return Status::NotSupported("database access is not available yet");
  }
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
