// LocalBackend: a GuiBackend without a worker, over in-memory catalogues.
// Tasks are listed but never run. Stands in until the core controller is
// wired in.
#pragma once

#include "catalog/catalog_source.h"
#include "ui/gui_backend.h"

namespace velquin::ui {

class LocalBackend : public GuiBackend {
 public:
  LocalBackend(MemoryCatalogSource source, MemoryCatalogSource target);

  DbTree& source_tree() override { return source_tree_; }
  DbTree& target_tree() override { return target_tree_; }
  bool Running() const override { return run_state_ == 2; }
  bool Stopping() const override { return run_state_ == 99; }
  int run_state() const override { return run_state_; }
  void StopAll() override;
  void StartWorker() override;
  void AppendTask(const TaskRequest& request) override;
  void WriteLine(const std::string& line) override;
  void SetBackupFolder(const std::string& folder) override { backup_folder_ = folder; }
  Result<std::string> ConnectSide(bool target) override;
  void SetCharsetName(const std::string& name) override { charset_ = name; }
  Status DropTargetDatabase(const std::string& name) override;
  Status DropTargetTable(const std::string& table) override;
  Status DropTargetView(const std::string& view) override;

  std::vector<TaskGridRow> TaskRows() override;
  void DeleteTask(int row) override;
  void MoveTask(int row, int delta) override;
  void ClearTasks() override;
  void SetSinks(LineSink lines, TextSink status) override;
  std::string TableCondition(const std::string&, const std::string&) override { return {}; }
  void UseDatabase(bool target, const std::string& name) override;

  const std::vector<TaskRequest>& tasks() const { return tasks_; }
  void set_fail_connect(bool source, bool target) {
    fail_source_ = source;
    fail_target_ = target;
  }

 private:
  struct Task {
    TaskRequest request;
    std::string state = "Waiting";
    int progress = 0;
  };

  MemoryCatalogSource source_src_, target_src_;
  DbTree source_tree_, target_tree_;
  std::vector<TaskRequest> tasks_;
  std::vector<Task> queue_;
  int run_state_ = 0;
  bool fail_source_ = false, fail_target_ = false;
  std::string backup_folder_, charset_;
  LineSink lines_;
  TextSink status_;
};

}  // namespace velquin::ui
