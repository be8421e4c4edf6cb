#include "tasks/task_record.h"

namespace velquin {

TaskType TaskTypeOf(TaskKind kind) {
  switch (kind) {
    case TaskKind::kBackupDatabaseObjects:
    case TaskKind::kBackupObject:
      return TaskType::kBackup;
    default:
      return TaskType::kMigration;
  }
}

const char* TaskTypeName(TaskType type) {
  switch (type) {
    case TaskType::kMigration:
      return "MIGRATION";
    case TaskType::kBackup:
      return "BACKUP";
  }
  return "";
}

const char* TaskKindName(TaskKind kind) {
  switch (kind) {
    case TaskKind::kCloneDatabase:
      return "CloneDatabase";
    case TaskKind::kConvertDatabase:
      return "ConvertDatabase";
    case TaskKind::kConvertTables:
      return "ConvertTables";
    case TaskKind::kConvertViews:
      return "ConvertViews";
    case TaskKind::kConvertTable:
      return "ConvertTable";
    case TaskKind::kConvertView:
      return "ConvertView";
    case TaskKind::kBackupDatabaseObjects:
      return "BackupDatabaseObjects";
    case TaskKind::kBackupObject:
      return "BackupObject";
  }
  return "";
}

bool IsDatabaseTaskKind(TaskKind kind) {
  return kind == TaskKind::kCloneDatabase || kind == TaskKind::kConvertDatabase ||
         kind == TaskKind::kConvertTables;
}

bool VerifiesLoad(const TaskRecord& record) {
  return record.verify && IsDatabaseTaskKind(record.kind);
}

}  // namespace velquin
