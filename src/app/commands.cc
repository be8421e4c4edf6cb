#include "app/commands.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "catalog/catalog_listing.h"
#include "log/output_log.h"

namespace velquin {

namespace {

// Replaces each "%s" in `pattern`, in order, with the next argument; names
// containing "%s" themselves are inserted unchanged.
std::string Sub(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string out;
  auto arg = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' && arg != args.end()) {
      out.append(*arg++);
      ++i;
    } else {
      out.push_back(pattern[i]);
    }
  }
  return out;
}

Refusal R(std::string hint, std::string box, std::string title = "") {
  return Refusal{std::move(hint), std::move(box), std::move(title)};
}

void Apply(CommandUi& ui, const Refusal& r) { ui.Refuse(r.hint, r.box, r.title); }

TaskRequest Migration(TaskKind kind) {
  TaskRequest t;
  t.type = TaskType::kMigration;
  t.kind = kind;
  return t;
}

bool SelectionOf(DbTree& tree, NodeSelection* out) { return tree.Selection(out); }

}  // namespace

MigratePlan PlanMigrate(bool target_connected, const NodeSelection* source,
                        const NodeSelection* target) {
  MigratePlan plan;
  if (!target_connected) {
    plan.refusal = R("Please confirm your Target Database Connection is valid!",
                     "No Target DataSource Connection!");
    return plan;
  }
  if (source == nullptr) {
    plan.refusal = R("Please Select a Object to Convert in Source Databases Tree!",
                     "No Selected Source Database Object!");
    return plan;
  }
  if (target == nullptr) {
    plan.refusal = R("Please Select a object in Target Tree!", "No Selected Target Objects!");
    return plan;
  }
  const Refusal no_database =
      R("Please select a database in Target Database Tree!", "Please select a target Database!");
  if (target->level == NodeLevel::kRoot) {
    if (source->level != NodeLevel::kDatabase) {
      plan.refusal = no_database;
      return plan;
    }
    plan.question = Sub("Clone database [%s] of source tree?", {source->name});
    TaskRequest t = Migration(TaskKind::kCloneDatabase);
    t.source_database = source->name;
    t.target_database = source->name;
    plan.task = t;
    plan.start_worker = true;
    return plan;
  }
  if (target->level != NodeLevel::kDatabase) {
    plan.refusal = no_database;
    return plan;
  }
  const std::string& target_db = target->name;
  TaskRequest t;
  switch (source->level) {
    case NodeLevel::kDatabase:
      plan.question =
          Sub("Convert database [%s] into Target database [%s]?", {source->name, target_db});
      t = Migration(TaskKind::kConvertDatabase);
      t.source_database = source->name;
      break;
    case NodeLevel::kTable:
      plan.question =
          Sub("Convert table [%s] into Target database [%s]?", {source->name, target_db});
      t = Migration(TaskKind::kConvertTable);
      t.source_object = source->name;
      t.source_database = source->database;
      break;
    case NodeLevel::kTablesFolder:
      plan.question =
          Sub("Convert tables of [%s] into Target database [%s]?", {source->database, target_db});
      t = Migration(TaskKind::kConvertTables);
      t.source_database = source->database;
      break;
    case NodeLevel::kView:
      plan.question =
          Sub("Convert view [%s] into Target database [%s]?", {source->name, target_db});
      t = Migration(TaskKind::kConvertView);
      t.source_object = source->name;
      t.source_database = source->database;
      break;
    case NodeLevel::kViewsFolder:
      plan.question =
          Sub("Convert views of [%s] into Target database [%s]?", {source->database, target_db});
      t = Migration(TaskKind::kConvertViews);
      t.source_database = source->database;
      break;
    default:
      // Nothing to convert, but the worker is started for waiting tasks.
      plan.start_worker = true;
      return plan;
  }
  t.target_database = target_db;
  plan.task = t;
  plan.start_worker = true;
  return plan;
}

BackupPlan PlanBackup(bool target_connected, const NodeSelection* target) {
  BackupPlan plan;
  if (!target_connected) {
    plan.refusal = R("Please confirm your target Database connected SUCCESSFULLY!",
                     "No Target DataSource Connection!");
    return plan;
  }
  if (target == nullptr) {
    plan.refusal = R("Please select a Object in Target Databases Tree to backup!",
                     "No selected Objects to backup!");
    plan.start_worker_after_refusal = true;
    return plan;
  }
  plan.choose_folder = true;
  TaskRequest t;
  t.type = TaskType::kBackup;
  switch (target->level) {
    case NodeLevel::kDatabase:
      t.kind = TaskKind::kBackupDatabaseObjects;
      t.object_letter = "A";
      break;
    case NodeLevel::kTable:
      t.kind = TaskKind::kBackupObject;
      t.object_letter = "T";
      t.target_object = target->name;
      break;
    case NodeLevel::kTablesFolder:
      t.kind = TaskKind::kBackupDatabaseObjects;
      t.object_letter = "T";
      break;
    case NodeLevel::kView:
      t.kind = TaskKind::kBackupObject;
      t.object_letter = "V";
      t.target_object = target->name;
      break;
    case NodeLevel::kViewsFolder:
      t.kind = TaskKind::kBackupDatabaseObjects;
      t.object_letter = "V";
      break;
    default:
      return plan;  // a folder is asked for, nothing is queued
  }
  t.target_database = target->database;
  plan.task = t;
  return plan;
}

std::string BackupFolderFor(const std::string& chosen) {
  if (!chosen.empty() && (chosen.back() == '/' || chosen.back() == '\\')) {
    return chosen + "Backup.Script";
  }
  return chosen;
}

DeletePlan PlanDelete(bool target_connected, const NodeSelection* target) {
  DeletePlan plan;
  if (!target_connected) {
    // The box names the target: it is the target connection that is missing.
    plan.refusal = R("Press Config button, and get a successful target Connection!",
                     "No Target DataSource Connection!", "Delete");
    return plan;
  }
  if (target == nullptr) {
    plan.refusal = R("Please select a table, tables, views or database on target Database Tree!",
                     "No selected Object to delete!");
    return plan;
  }
  const std::string& db = target->database;
  const std::string& name = target->name;
  switch (target->level) {
    case NodeLevel::kDatabase:
      plan.first_question = Sub("Delete database [%s]?", {name});
      plan.second_question =
          Sub("After remove, you can not restore [%s] again! Continue?\nPress YES to Continue "
              "Removing!",
              {name});
      plan.second_icon = BoxIcon::kWarning;
      break;
    case NodeLevel::kTable:
      plan.first_question = Sub("Delete the table [%s.%s]?", {db, name});
      plan.second_question = Sub(
          "After remove, you can not restore the table [%s.%s]! Continue?\nPress YES to Continue "
          "Removing!",
          {db, name});
      break;
    case NodeLevel::kTablesFolder:
      plan.first_question = Sub("Delete all the tables of [%s]?", {db});
      plan.second_question =
          Sub("After remove, you can not restore [%s] again! Continue?\nPress YES to Continue "
              "Removing!",
              {db});
      break;
    case NodeLevel::kView:
      plan.first_question = Sub("Delete the view [%s.%s]?", {db, name});
      plan.second_question =
          Sub("After remove, you can not restore the view [%s.%s] again! Continue?\nPress YES to "
              "Continue Removing!",
              {db, name});
      break;
    case NodeLevel::kViewsFolder:
      plan.first_question = Sub("Delete all the views of [%s]?", {db});
      plan.second_question =
          Sub("After remove, you can not restore the views of [%s] again! Continue?\nPress YES to "
              "Continue Removing!",
              {db});
      plan.second_icon = BoxIcon::kWarning;
      break;
    default:
      break;  // nothing to delete for other nodes
  }
  return plan;
}

bool PassBusyCheck(CommandHost& host, CommandUi& ui) {
  if (host.Running()) {
    if (ui.AskOkCancel("Some Tasks is Processing, STOP ALL?")) host.StopAll();
    return false;
  }
  if (host.Stopping()) {
    ui.Inform("Some Tasks is Stopping, Please try again later!!!");
    return false;
  }
  return true;
}

void Connect(CommandHost& host, CommandUi& ui) {
  if (!PassBusyCheck(host, ui)) return;
  for (bool target : {false, true}) {
    Result<std::string> dbms = host.ConnectSide(target);
    if (!dbms.ok()) {
      host.WriteLine("E::" + dbms.status().message());
      if (target) {
        // A file another program is writing: the box says which and why.
        ui.Refuse("Target Connection error! Please comfirm target database connection properties !",
                  dbms.status().code() == StatusCode::kBusy ? dbms.status().message()
                                                            : "Target Connection error!");
      } else {
        ui.Refuse("Source Connection error! Please comfirm source database connection properties !",
                  "Source Connection error!");
      }
      continue;
    }
    ui.SetTreeTitle(target, *dbms);
    FillReport report = FillTree(target ? host.target_tree() : host.source_tree());
    for (const std::string& box : report.message_boxes) ui.Inform(box);
    for (const std::string& line : report.output_lines) host.WriteLine("T::" + line);
  }
  host.SetCharsetName("LATIN1");
}

std::string ExistingObjectsQuestion(const std::string& target_database,
                                    const std::vector<std::string>& names) {
  constexpr std::size_t kListed = 20;
  std::string list;
  for (std::size_t i = 0; i < names.size() && i < kListed; ++i) list += "\n  " + names[i];
  if (names.size() > kListed) {
    list += "\n  ... and " + std::to_string(names.size() - kListed) + " more";
  }
  return Sub(
      "Target database [%s] already holds %s of the objects to migrate:%s\n\n"
      "Replace: drop them and create them again.\n"
      "Append: add the rows to the existing tables.\n"
      "Cancel: change nothing.",
      {target_database, std::to_string(names.size()), list});
}

std::string ExistingObjectsCancelled(const std::string& target_database) {
  return Sub("Migration into Target database [%s] cancelled: nothing was changed.",
             {target_database});
}

std::string PlanCancelled(const std::string& target_database) {
  return Sub("Migration into Target database [%s] cancelled at its plan: nothing was changed.",
             {target_database});
}

namespace {

// A database task's plan, computed while a busy box shows, then shown with
// Start and Cancel; the plan's estimate goes into the task. False when
// nothing is to be queued (Cancel, a plan over Access's size limit, or a
// catalogue that could not be read).
bool ShowPlan(CommandHost& host, CommandUi& ui, TaskRequest* task) {
  std::optional<Result<std::optional<TaskPlanPreview>>> planned;
  ui.RunBusy(Sub("Planning the migration of Source database [%s] ...", {task->source_database}),
             [&] { planned.emplace(host.PlanTask(*task)); });
  if (!planned) planned.emplace(Status::Cancelled("the plan was not computed"));
  if (!planned->ok()) {
    const std::string message = Sub("Cannot plan the migration of Source database [%s]: %s",
                                    {task->source_database, planned->status().message()});
    host.WriteLine("E::" + message);
    ui.Show(message, BoxButtons::kOk, BoxIcon::kWarning, "");
    return false;
  }
  if (!**planned) return true;  // no source catalogue to plan from here
  const TaskPlanPreview& plan = ***planned;
  if (!plan.warning.empty()) host.WriteLine("E::" + plan.warning);
  if (!ui.ConfirmPlan(plan) || plan.over_limit) {
    if (plan.over_limit) host.WriteLine("E::" + plan.refusal);
    host.WriteLine(PlanCancelled(task->target_database));
    return false;
  }
  task->planned_rows = plan.rows;
  task->planned_seconds = plan.seconds;
  return true;
}

// Asks once about the objects the task's target holds already and puts the
// answer into the task; false when nothing is to be queued (Cancel, or a
// target another program is writing).
bool AskAboutExistingObjects(CommandHost& host, CommandUi& ui, TaskRequest* task) {
  Result<HeldTargetObjects> held = host.HeldObjects(*task);
  if (!held.ok()) {
    host.WriteLine("E::" + held.status().message());
    ui.Show(held.status().message(), BoxButtons::kOk, BoxIcon::kWarning, "");
    return false;
  }
  if (!held->checked || held->names.empty()) return true;
  switch (ui.Show(ExistingObjectsQuestion(task->target_database, held->names),
                  BoxButtons::kReplaceAppendCancel, BoxIcon::kQuestion, "")) {
    case BoxAnswer::kReplace:
      task->existing = ExistingObjects::kReplace;
      break;
    case BoxAnswer::kAppend:
      task->existing = ExistingObjects::kAppend;
      break;
    default:
      host.WriteLine(ExistingObjectsCancelled(task->target_database));
      return false;
  }
  task->existing_names = held->names;
  return true;
}

}  // namespace

void Migrate(CommandHost& host, CommandUi& ui) {
  NodeSelection source, target;
  const bool has_source = SelectionOf(host.source_tree(), &source);
  const bool has_target = SelectionOf(host.target_tree(), &target);
  MigratePlan plan = PlanMigrate(host.target_tree().connected(), has_source ? &source : nullptr,
                                 has_target ? &target : nullptr);
  if (plan.refusal) return Apply(ui, *plan.refusal);
  if (plan.task) {
    if (!ui.AskOkCancel(plan.question)) {
      if (plan.task->kind == TaskKind::kCloneDatabase) ui.ClearDropHighlight();
      return;
    }
    if (IsDatabaseTaskKind(static_cast<TaskKind>(plan.task->kind)) &&
        !ShowPlan(host, ui, &*plan.task)) {
      return;
    }
    if (!AskAboutExistingObjects(host, ui, &*plan.task)) return;
    host.AppendTask(*plan.task);
  }
  if (plan.start_worker) {
    host.StartWorker();
    ui.ShowWorkerButton(host.run_state());
    ui.RefreshTaskList();
  }
}

void Backup(CommandHost& host, CommandUi& ui) {
  NodeSelection target;
  const bool has_target = SelectionOf(host.target_tree(), &target);
  BackupPlan plan = PlanBackup(host.target_tree().connected(), has_target ? &target : nullptr);
  if (plan.refusal) {
    Apply(ui, *plan.refusal);
    if (plan.start_worker_after_refusal) {
      host.StartWorker();
      ui.ShowWorkerButton(host.run_state());
      ui.RefreshTaskList();
    }
    return;
  }
  std::optional<std::string> folder = ui.ChooseFolder(kBackupFolderTitle);
  if (!folder || folder->empty()) return;
  host.SetBackupFolder(BackupFolderFor(*folder));
  if (plan.task) host.AppendTask(*plan.task);
  host.StartWorker();
  ui.ShowWorkerButton(host.run_state());
  ui.RefreshTaskList();
}

void Delete(CommandHost& host, CommandUi& ui) {
  if (!PassBusyCheck(host, ui)) return;
  DbTree& tree = host.target_tree();
  NodeSelection target;
  const bool has_target = SelectionOf(tree, &target);
  DeletePlan plan = PlanDelete(tree.connected(), has_target ? &target : nullptr);
  if (plan.refusal) return Apply(ui, *plan.refusal);
  if (plan.first_question.empty()) return;
  if (!ui.AskOkCancel(plan.first_question)) return;
  if (!ui.AskYesNo(plan.second_question, plan.second_icon)) return;

  TreeNode* node = tree.selected();
  switch (target.level) {
    case NodeLevel::kDatabase:
      host.WriteLine("Remove Database [" + target.name + "]!");
      // A failed drop is written to the output by the access layer; its node stays.
      if (!host.DropTargetDatabase(target.name).ok()) break;
      tree.Remove(node);
      tree.set_catalog_name("");
      break;
    case NodeLevel::kTable:
    case NodeLevel::kView: {
      host.WriteLine(plan.first_question);
      const bool table = target.level == NodeLevel::kTable;
      Status st = table ? host.DropTargetTable(target.name) : host.DropTargetView(target.name);
      // A failed drop is written to the output by the access layer; its node stays.
      if (!st.ok()) break;
      tree.Remove(node);
      break;
    }
    case NodeLevel::kTablesFolder:
    case NodeLevel::kViewsFolder: {
      host.WriteLine(plan.first_question);
      const bool tables = target.level == NodeLevel::kTablesFolder;
      int removed = 0;
      for (int row = 0; row < node->child_count();) {
        TreeNode* object = node->child(row);
        Status st =
            tables ? host.DropTargetTable(object->text()) : host.DropTargetView(object->text());
        if (st.ok()) {
          tree.Remove(object);
          ++removed;
        } else {
          ++row;  // a failed drop keeps its node
        }
      }
      host.WriteLine("[" + std::to_string(removed) +
                     (tables ? "] tables removed!" : "] views removed!"));
      break;
    }
    default:
      break;
  }
}

void StartStopTasks(CommandHost& host, CommandUi& ui) {
  if (host.Running()) {
    if (ui.AskOkCancel("Some Tasks is Processing, STOP ALL?")) {
      host.StopAll();
      ui.ShowWorkerButton(host.run_state());
    }
    return;
  }
  if (host.Stopping()) {
    ui.Inform("Some Tasks is Stopping, Please Wait!!!");
    return;
  }
  host.StartWorker();
  ui.ShowWorkerButton(host.run_state());
  ui.RefreshTaskList();
}

bool CheckNewDatabase(CommandHost& host, CommandUi& ui) {
  const TreeNode* selected = host.target_tree().selected();
  if (selected == nullptr || selected->level() != NodeLevel::kRoot) {
    ui.Inform(
        "Can only create database in TARGET!!!\nPlease Select Target ROOT to create new "
        "database!");
    return false;
  }
  return true;
}

bool ConfirmClose(CommandHost& host, CommandUi& ui) {
  if (!host.Running()) return true;
  if (!ui.AskOkCancel("Some Tasks is Processing, STOP ALL and EXIT?")) return false;
  host.StopAll();
  return true;
}

// ---------------- ControllerHost ----------------

ControllerHost::ControllerHost(MainController& controller, DatabaseAccess& access)
    : controller_(controller),
      access_(access),
      source_(TreeSide::kSource, TreeKind::kMySql),
      target_(TreeSide::kTarget, TreeKind::kAccess) {}

bool ControllerHost::Running() const { return controller_.run_state().IsRunning(); }
bool ControllerHost::Stopping() const { return controller_.run_state().StopRequested(); }
int ControllerHost::run_state() const { return static_cast<int>(controller_.run_state().Load()); }
void ControllerHost::StopAll() { controller_.StopAll(); }
void ControllerHost::StartWorker() { controller_.StartWorker(); }

void ControllerHost::AppendTask(const TaskRequest& r) {
  const TaskKind kind = r.kind;
  if (r.type == TaskType::kBackup) {
    controller_.AppendBackupTask(kind, r.object_letter, r.target_database, r.target_object);
  } else {
    controller_.AppendMigrationTask(
        kind, {r.source_object, r.source_database, r.target_database, r.existing, r.existing_names,
               r.planned_rows, r.planned_seconds});
  }
}

void ControllerHost::WriteLine(const std::string& line) { controller_.log().Write(line); }

Result<std::string> ControllerHost::ConnectSide(bool target) {
  const Side side = target ? Side::kTarget : Side::kSource;
  DbTree& tree = target ? target_ : source_;
  tree.set_side(target ? TreeSide::kTarget : TreeSide::kSource);
  Result<std::string> dbms = access_.Connect(side, tree);
  if (!dbms.ok()) {
    tree.set_source(nullptr);
    tree.Clear();
    return dbms.status();
  }
  controller_.descriptor(side).dbms_name = *dbms;
  return dbms;
}

Status ControllerHost::DropTargetDatabase(const std::string& name) {
  return access_.DropDatabase(name);
}
Status ControllerHost::DropTargetTable(const std::string& table) {
  return access_.DropTable(table);
}
Status ControllerHost::DropTargetView(const std::string& view) { return access_.DropView(view); }

// ---------------- task grid ----------------

std::vector<TaskGridText> TaskGridRows(const std::vector<TaskRecord>& records) {
  std::vector<TaskGridText> rows;
  rows.reserve(records.size());
  int number = 1;
  for (const TaskRecord& r : records) {
    TaskGridText row;
    char num[16];
    std::snprintf(num, sizeof num, "%02d", number++);
    row.cells = {num,
                 " ",
                 TaskTypeName(r.type),
                 r.state_text,
                 r.source_dbms,
                 r.source_database,
                 r.source_object,
                 r.target_dbms,
                 r.target_database,
                 r.target_object};
    row.progress = r.progress == 0 ? 5 : r.progress;
    rows.push_back(std::move(row));
  }
  return rows;
}

void ChooseDatabase(CommandHost& host, CommandUi& ui, DatabaseAccess& access, DbTree& tree,
                    const std::string& name) {
  tree.set_catalog_name(name);
  host.WriteLine("Select Database [" + name + "]");
  const Side side = tree.side() == TreeSide::kTarget ? Side::kTarget : Side::kSource;
  if (Status st = access.UseDatabase(side, name); !st.ok()) {
    host.WriteLine("E::" + st.message());
    if (st.code() == StatusCode::kBusy)
      ui.Show(st.message(), BoxButtons::kOk, BoxIcon::kWarning, "");
  }
  if (side == Side::kTarget && access.TargetBusy()) {
    // Listing it would wait for the task's statements.
    ui.Inform(kTargetBusy);
    return;
  }
  FillReport report = FillTree(tree);
  for (const std::string& box : report.message_boxes) ui.Inform(box);
  for (const std::string& line : report.output_lines) host.WriteLine("T::" + line);
}

bool FinishRename(DatabaseAccess& access, DbTree& tree, TreeNode* node,
                  const std::string& new_name) {
  const bool commit = tree.rename_commit();
  tree.set_rename_commit(false);
  if (!commit || node == nullptr || node->level() != NodeLevel::kTable) return false;
  if (new_name.empty() || new_name == node->text()) return false;
  if (!access.RenameTable(node->text(), new_name).ok()) return false;
  tree.SetText(node, new_name);
  return true;
}

namespace commands_internal {
bool ReadsAsNegativeNumber(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const double v = std::strtod(begin, &end);
  return end != begin && v < 0;
}
}  // namespace commands_internal

}  // namespace velquin
