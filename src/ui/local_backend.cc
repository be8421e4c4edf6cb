#include "ui/local_backend.h"

#include <QDateTime>

#include "ui/output_pane.h"

namespace velquin::ui {

LocalBackend::LocalBackend(MemoryCatalogSource source, MemoryCatalogSource target)
    : source_src_(std::move(source)),
      target_src_(std::move(target)),
      source_tree_(TreeSide::kSource, TreeKind::kMySql),
      target_tree_(TreeSide::kTarget, TreeKind::kAccess) {}

void LocalBackend::StopAll() {
  run_state_ = 99;
  if (status_) status_("NO PROCESSING!!!");
}

void LocalBackend::StartWorker() {
  if (run_state_ != 0) return;
  run_state_ = 2;
  if (status_) status_("Some Tasks are WORKING!!!");
}

void LocalBackend::AppendTask(const TaskRequest& request) {
  tasks_.push_back(request);
  queue_.push_back({request});
}

void LocalBackend::WriteLine(const std::string& line) {
  if (!lines_) return;
  PaneLineClass cls = PaneLineClass::kPlain;
  std::string text = line;
  if (line.rfind("E::", 0) == 0) cls = PaneLineClass::kError;
  if (line.rfind("S::", 0) == 0) cls = PaneLineClass::kSuccess;
  if (line.rfind("T::", 0) == 0) cls = PaneLineClass::kProvider;
  if (cls != PaneLineClass::kPlain) text = line.substr(3);
  const QString stamp = QDateTime::currentDateTime().toString("yyyy/MM/dd HH:mm:ss:zzz ");
  lines_(static_cast<int>(cls), stamp + QString::fromStdString(text));
}

Result<std::string> LocalBackend::ConnectSide(bool target) {
  DbTree& tree = target ? target_tree_ : source_tree_;
  if (target ? fail_target_ : fail_source_) {
    tree.set_source(nullptr);
    return Status::IOError(target ? "Target data source cannot be opened"
                                  : "Source data source cannot be opened");
  }
  WriteLine(target ? "Connect Target Database!" : "Connect Source Database!");
  tree.set_source(target ? &target_src_ : &source_src_);
  tree.set_provider(target ? "Microsoft.Jet.OLEDB.4.0" : "MSDASQL");
  tree.set_catalog_name(target ? target_src_.current_catalog : source_src_.current_catalog);
  WriteLine("S::RESULT: The operation completed SUCCESSFULLY");
  return std::string(target ? "ACCESS 4.0" : "MySQL 10.11.6");
}

Status LocalBackend::DropTargetDatabase(const std::string&) {
  WriteLine("E::Dropping is not available yet.");
  return Status::NotSupported("dropping is not available yet");
}
Status LocalBackend::DropTargetTable(const std::string& t) { return DropTargetDatabase(t); }
Status LocalBackend::DropTargetView(const std::string& v) { return DropTargetDatabase(v); }

std::vector<TaskGridRow> LocalBackend::TaskRows() {
  std::vector<TaskGridRow> rows;
  int i = 1;
  for (Task& t : queue_) {
    if (t.progress == 0) t.progress = 5;
    TaskGridRow r;
    const bool migration = t.request.type == kTaskTypeMigration;
    r.cells = {QString::asprintf("%02d", i++),
               " ",
               migration ? "MIGRATION" : "BACKUP",
               QString::fromStdString(t.state),
               migration ? "MySQL 10.11.6" : "",
               QString::fromStdString(t.request.source_database),
               QString::fromStdString(t.request.source_object),
               "ACCESS 4.0",
               QString::fromStdString(t.request.target_database),
               QString::fromStdString(t.request.target_object)};
    r.progress = t.progress;
    rows.push_back(r);
  }
  return rows;
}

void LocalBackend::DeleteTask(int row) {
  if (row >= 0 && row < static_cast<int>(queue_.size())) queue_.erase(queue_.begin() + row);
}

void LocalBackend::MoveTask(int row, int delta) {
  const int to = row + delta;
  if (row < 0 || to < 0 || row >= static_cast<int>(queue_.size()) ||
      to >= static_cast<int>(queue_.size())) {
    return;
  }
  std::swap(queue_[static_cast<size_t>(row)], queue_[static_cast<size_t>(to)]);
}

void LocalBackend::ClearTasks() { queue_.clear(); }

void LocalBackend::SetSinks(LineSink lines, TextSink status) {
  lines_ = std::move(lines);
  status_ = std::move(status);
}

void LocalBackend::UseDatabase(bool target, const std::string& name) {
  MemoryCatalogSource& src = target ? target_src_ : source_src_;
  src.current_catalog = name;
}

}  // namespace velquin::ui
