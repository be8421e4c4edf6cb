// MainController: the core object behind the main window and the velquin
// command. It owns the task queue, RunState, TaskListLock, the worker, both
// sides' connection descriptors and session places, and refers to the
// output log. Commands are plain functions over it, so the GUI and the
// command line run the same code.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/session_place.h"
#include "base/connection_descriptor.h"
#include "tasks/run_state.h"
#include "tasks/task_list_lock.h"
#include "tasks/task_operations.h"
#include "tasks/task_queue.h"
#include "tasks/task_worker.h"
#include "tasks/worker_observer.h"

namespace velquin {

class OutputLog;

// The names a migration task carries (which are used depends on the kind).
struct MigrationTaskNames {
  std::string source_object;  // table or view (kinds 261, 262)
  std::string source_database;
  std::string target_database;
  // What the task does with the objects the target holds already.
  ExistingObjects existing = ExistingObjects::kStop;
  std::vector<std::string> existing_names{};
  // Database tasks: the estimate of the plan shown before queuing (0: none).
  uint64_t planned_rows = 0;
  double planned_seconds = 0;
  // Database tasks compare the file with the server after the load (the
  // window's default). The command line verifies by itself, only when asked.
  bool verify = true;
};

struct MainControllerOptions {
  WorkerTimings timings;
  TaskQueue::Clock clock;  // seconds since 1970; null for the system clock
};

class MainController {
 public:
  explicit MainController(OutputLog& log, MainControllerOptions options = {});
  // Stops the worker and waits for the task it runs to finish.
  ~MainController();
  MainController(const MainController&) = delete;
  MainController& operator=(const MainController&) = delete;

  OutputLog& log() { return log_; }
  TaskQueue& queue() { return queue_; }
  RunState& run_state() { return run_state_; }
  TaskListLock& task_list_lock() { return task_list_lock_; }
  TaskWorker& worker() { return worker_; }

  ConnectionDescriptor& descriptor(Side side) {
    return side == Side::kSource ? source_descriptor_ : target_descriptor_;
  }
  SessionPlace& session(Side side) {
    return side == Side::kSource ? source_session_ : target_session_;
  }

  // The operations the task routines call, and the window's observer of the
  // worker. Take effect at the next start of the worker.
  void SetTaskOperations(std::shared_ptr<TaskOperations> ops) {
    worker_.SetOperations(std::move(ops));
  }
  void SetWorkerObserver(std::shared_ptr<WorkerObserver> observer) {
    worker_.SetObserver(std::move(observer));
  }

  // Append helpers for the Migrate and Backup commands: fill one record of
  // the kind (type, names, DBMS display names of the connected sides), queue
  // it, then StartWorker. Return the new record's id.
  TaskId AppendMigrationTask(TaskKind kind, const MigrationTaskNames& names);
  // `letter` is "A", "T" or "V"; `target_object` is used by kind 514.
  TaskId AppendBackupTask(TaskKind kind, const std::string& letter,
                          const std::string& target_database,
                          const std::string& target_object = "");

  StartResult StartWorker() { return worker_.StartWorker(); }

  // The folder the Backup command chose (empty: none chosen yet) and the
  // AutoBackup option; the backup routines read them on the worker thread.
  void SetBackupFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(backup_mu_);
    backup_folder_ = folder;
  }
  std::string BackupFolder() const {
    std::lock_guard<std::mutex> lock(backup_mu_);
    return backup_folder_;
  }
  void SetAutoBackup(bool on) {
    std::lock_guard<std::mutex> lock(backup_mu_);
    auto_backup_ = on;
  }
  bool AutoBackup() const {
    std::lock_guard<std::mutex> lock(backup_mu_);
    return auto_backup_;
  }
  bool StopAll() { return worker_.StopAll(); }

 private:
  OutputLog& log_;
  TaskQueue queue_;
  RunState run_state_;
  TaskListLock task_list_lock_;
  ConnectionDescriptor source_descriptor_;
  ConnectionDescriptor target_descriptor_;
  SessionPlace source_session_;
  SessionPlace target_session_;
  mutable std::mutex backup_mu_;
  std::string backup_folder_;
  bool auto_backup_ = false;
  // Last: it is stopped (in its destructor) before the objects it uses go.
  TaskWorker worker_;
};

}  // namespace velquin
