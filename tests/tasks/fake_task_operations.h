// A test double for TaskOperations: records every call (with the running
// task's progress at that moment), answers with configurable results, and
// can hold the worker inside a chosen step so a test can edit the queue
// while a task runs.
#pragma once

#include <fmt/format.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tasks/task_operations.h"
#include "tasks/task_queue.h"

namespace velquin::testing {

// Holds one thread at a step until the test releases it.
class Gate {
 public:
  // Called on the worker thread: announces arrival and waits for Release().
  void Arrive() {
    std::unique_lock<std::mutex> lock(mu_);
    arrived_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return released_; });
  }
  // Called by the test: true once the worker is held (false after 10 s,
  // which only guards against a hang).
  bool WaitArrived() {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [this] { return arrived_; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mu_);
    released_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool arrived_ = false;
  bool released_ = false;
};

class FakeTaskOperations : public TaskOperations {
 public:
  // When set, each call is recorded as "Name(args)@progress", the progress
  // being that of the record with `current_task` at the time of the call.
  TaskQueue* queue = nullptr;
  std::atomic<TaskId> current_task{0};

  std::atomic<bool> create_ok{true};
  std::atomic<bool> select_ok{true};
  std::atomic<bool> migrate_view_ok{true};
  std::atomic<bool> migrate_table_ok{true};
  std::atomic<bool> convert_tables_ok{true};
  std::atomic<bool> convert_views_ok{true};
  std::atomic<bool> verify_ok{true};
  std::atomic<bool> backup_ok{true};
  std::atomic<bool> backup_tables_ok{true};
  std::atomic<bool> backup_views_ok{true};
  // Statements (per side) that fail; all others succeed.
  std::set<std::string> failing_source_statements;
  std::set<std::string> failing_target_statements;
  // Called after a call is recorded, with the call's text (without the
  // progress part); may block (Gate) or edit the queue.
  std::function<void(const std::string&)> on_call;

  std::vector<std::string> Calls() const {
    std::lock_guard<std::mutex> lock(mu_);
    return calls_;
  }
  size_t CountCalls(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(mu_);
    size_t n = 0;
    for (const auto& c : calls_) n += c.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }

  bool SwitchTargetDatabase(const std::string& db) override {
    Record(fmt::format("SwitchTargetDatabase({})", db));
    return true;
  }
  bool CreateAccessDatabase(const std::string& db) override {
    Record(fmt::format("CreateAccessDatabase({})", db));
    return create_ok;
  }
  bool SelectDatabase(const std::string& db, Side side) override {
    Record(fmt::format("SelectDatabase({},{})", db, static_cast<int>(side)));
    return select_ok;
  }
  bool ExecuteStatement(Side side, const std::string& statement) override {
    Record(fmt::format("ExecuteStatement({},{})", static_cast<int>(side), statement));
    const auto& failing =
        side == Side::kSource ? failing_source_statements : failing_target_statements;
    return failing.count(statement) == 0;
  }
  void SetTreeCurrentDatabase(Side side, const std::string& db) override {
    Record(fmt::format("SetTreeCurrentDatabase({},{})", static_cast<int>(side), db));
  }
  bool ConvertDatabaseTables(const std::string& db) override {
    Record(fmt::format("ConvertDatabaseTables({})", db));
    return convert_tables_ok;
  }
  bool ConvertDatabaseViews(const std::string& db) override {
    Record(fmt::format("ConvertDatabaseViews({})", db));
    return convert_views_ok;
  }
  bool MigrateTable(const std::string& db, const std::string& table) override {
    Record(fmt::format("MigrateTable({},{})", db, table));
    return migrate_table_ok;
  }
  bool MigrateView(const std::string& db, const std::string& view) override {
    Record(fmt::format("MigrateView({},{})", db, view));
    return migrate_view_ok;
  }
  bool VerifyLoad(const std::string& db) override {
    Record(fmt::format("VerifyLoad({})", db));
    return verify_ok;
  }
  bool BackupDatabaseTables(const std::string& db) override {
    Record(fmt::format("BackupDatabaseTables({})", db));
    return backup_tables_ok;
  }
  bool BackupDatabaseViews(const std::string& db) override {
    Record(fmt::format("BackupDatabaseViews({})", db));
    return backup_views_ok;
  }
  bool BackupTable(const std::string& db, const std::string& table) override {
    Record(fmt::format("BackupTable({},{})", db, table));
    return backup_ok;
  }
  bool BackupView(const std::string& db, const std::string& view) override {
    Record(fmt::format("BackupView({},{})", db, view));
    return backup_ok;
  }
  void RefillTargetTree() override { Record("RefillTargetTree()"); }

 private:
  void Record(const std::string& call) {
    std::string entry = call;
    if (queue != nullptr) {
      auto r = queue->Find(current_task.load());
      entry += fmt::format("@{}", r ? r->progress : -1);
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      calls_.push_back(entry);
    }
    if (on_call) on_call(call);
  }

  mutable std::mutex mu_;
  std::vector<std::string> calls_;
};

}  // namespace velquin::testing
