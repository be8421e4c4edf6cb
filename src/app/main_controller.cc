#include "app/main_controller.h"

#include <utility>

namespace velquin {

MainController::MainController(OutputLog& log, MainControllerOptions options)
    : log_(log),
      queue_(std::move(options.clock)),
      worker_(queue_, run_state_, task_list_lock_, log_, options.timings) {}

MainController::~MainController() { worker_.Shutdown(); }

TaskId MainController::AppendMigrationTask(TaskKind kind, const MigrationTaskNames& names) {
  TaskRecord record;
  record.type = TaskType::kMigration;
  record.kind = kind;
  record.source_dbms = source_descriptor_.dbms_name;
  record.target_dbms = target_descriptor_.dbms_name;
  record.source_object = names.source_object;
  record.source_database = names.source_database;
  record.target_database = names.target_database;
  record.existing = names.existing;
  record.existing_names = names.existing_names;
  record.planned_rows = names.planned_rows;
  record.planned_seconds = names.planned_seconds;
  record.verify = names.verify;
  const TaskId id = queue_.Append(std::move(record));
  worker_.StartWorker();
  return id;
}

TaskId MainController::AppendBackupTask(TaskKind kind, const std::string& letter,
                                        const std::string& target_database,
                                        const std::string& target_object) {
  TaskRecord record;
  record.type = TaskType::kBackup;
  record.kind = kind;
  record.object_letter = letter;
  record.target_dbms = target_descriptor_.dbms_name;
  record.target_database = target_database;
  record.target_object = target_object;
  const TaskId id = queue_.Append(std::move(record));
  worker_.StartWorker();
  return id;
}

}  // namespace velquin
