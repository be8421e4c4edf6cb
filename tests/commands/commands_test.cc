#include "app/commands.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "catalog/catalog_source.h"
#include "log/output_log.h"

namespace velquin {
namespace {

// Answers boxes from a script and records everything shown.
class ScriptedUi : public CommandUi {
 public:
  BoxAnswer Show(const std::string& text, BoxButtons buttons, BoxIcon,
                 const std::string& title) override {
    boxes.push_back(text);
    titles.push_back(title);
    if (buttons == BoxButtons::kOk) return BoxAnswer::kOk;
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected question: " << text;
      return BoxAnswer::kCancel;
    }
    BoxAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  void Hint(const std::string& text) override { hints.push_back(text); }
  void ShowPage(int index) override { pages.push_back(index); }
  std::optional<std::string> ChooseFolder(const std::string& title) override {
    folder_titles.push_back(title);
    return folder;
  }
  void RefreshTaskList() override { ++refreshes; }
  void SetTreeTitle(bool target, const std::string& title) override {
    (target ? target_title : source_title) = title;
  }
  void ClearDropHighlight() override { ++highlight_clears; }
  void RunBusy(const std::string& text, const std::function<void()>& work) override {
    busy.push_back(text);
    work();
  }

  std::deque<BoxAnswer> answers;
  std::optional<std::string> folder;
  std::vector<std::string> boxes, titles, hints, folder_titles, busy;
  std::vector<int> pages;
  int refreshes = 0;
  int highlight_clears = 0;
  std::string source_title, target_title;
};

class FakeHost : public CommandHost {
 public:
  FakeHost()
      : source_(TreeSide::kSource, TreeKind::kMySql),
        target_(TreeSide::kTarget, TreeKind::kAccess) {}
  DbTree& source_tree() override { return source_; }
  DbTree& target_tree() override { return target_; }
  bool Running() const override { return state == 2; }
  bool Stopping() const override { return state == 99; }
  int run_state() const override { return state; }
  void StopAll() override { state = 99; }
  void StartWorker() override {
    ++starts;
    if (state == 0) state = 2;
  }
  void AppendTask(const TaskRequest& r) override { tasks.push_back(r); }
  void WriteLine(const std::string& line) override { lines.push_back(line); }
  void SetBackupFolder(const std::string& f) override { backup_folder = f; }
  Result<std::string> ConnectSide(bool target) override {
    const bool fail = target ? fail_target : fail_source;
    if (fail) return Status::IOError("cannot open");
    DbTree& t = target ? target_ : source_;
    t.set_source(target ? &target_src : &source_src);
    return std::string(target ? "ACCESS 4.0" : "MySQL 10.11");
  }
  void SetCharsetName(const std::string& n) override { charset = n; }
  Result<HeldTargetObjects> HeldObjects(const TaskRequest&) override {
    return HeldTargetObjects{!held.empty(), held};
  }
  Result<std::optional<TaskPlanPreview>> PlanTask(const TaskRequest& task) override {
    planned_kinds.push_back(task.kind);
    return plan;
  }
  Status DropTargetDatabase(const std::string& n) override { return Drop(n); }
  Status DropTargetTable(const std::string& n) override { return Drop(n); }
  Status DropTargetView(const std::string& n) override { return Drop(n); }

  Status Drop(const std::string& n) {
    dropped.push_back(n);
    for (const std::string& f : refuse_drop) {
      if (f == n) return Status::Constraint("in use");
    }
    return Status::Ok();
  }

  int state = 0;
  int starts = 0;
  bool fail_source = false, fail_target = false;
  std::vector<TaskRequest> tasks;
  std::vector<std::string> lines, dropped, refuse_drop, held;
  Result<std::optional<TaskPlanPreview>> plan = std::optional<TaskPlanPreview>{};
  std::vector<TaskKind> planned_kinds;
  std::string backup_folder, charset;
  MemoryCatalogSource source_src, target_src;

 private:
  DbTree source_, target_;
};

struct Trees {
  TreeNode* s_root;
  TreeNode* s_db;
  TreeNode* s_tables;
  TreeNode* s_table;
  TreeNode* s_views;
  TreeNode* s_view;
  TreeNode* s_field;
  TreeNode* t_root;
  TreeNode* t_db;
  TreeNode* t_tables;
  TreeNode* t_table;
  TreeNode* t_table2;
  TreeNode* t_views;
  TreeNode* t_view;
};

Trees Build(FakeHost& host, bool connect_target = true) {
  Trees t;
  DbTree& s = host.source_tree();
  t.s_root = s.Append(nullptr, NodeLevel::kRoot, "srv");
  t.s_db = s.Append(t.s_root, NodeLevel::kDatabase, "shop");
  t.s_tables = s.Append(t.s_db, NodeLevel::kTablesFolder, "Tables");
  t.s_views = s.Append(t.s_db, NodeLevel::kViewsFolder, "Views");
  t.s_table = s.Append(t.s_tables, NodeLevel::kTable, "orders");
  t.s_view = s.Append(t.s_views, NodeLevel::kView, "v_orders");
  TreeNode* fields = s.Append(t.s_table, NodeLevel::kFieldsFolder, "Fields");
  t.s_field = s.Append(fields, NodeLevel::kField, "id");
  DbTree& d = host.target_tree();
  if (connect_target) d.set_source(&host.target_src);
  t.t_root = d.Append(nullptr, NodeLevel::kRoot, "/data/out.mdb");
  t.t_db = d.Append(t.t_root, NodeLevel::kDatabase, "/data/out");
  t.t_tables = d.Append(t.t_db, NodeLevel::kTablesFolder, "Tables");
  t.t_views = d.Append(t.t_db, NodeLevel::kViewsFolder, "Views");
  t.t_table = d.Append(t.t_tables, NodeLevel::kTable, "a");
  t.t_table2 = d.Append(t.t_tables, NodeLevel::kTable, "b");
  t.t_view = d.Append(t.t_views, NodeLevel::kView, "v");
  return t;
}

// ---------------- Migrate ----------------

struct MigrateCase {
  const char* source;  // node key
  const char* question;
  int kind;
  const char* source_object;
  const char* source_database;
  const char* target_database;
};

TreeNode* SourceNode(const Trees& t, std::string_view key) {
  if (key == "db") return t.s_db;
  if (key == "table") return t.s_table;
  if (key == "tables") return t.s_tables;
  if (key == "view") return t.s_view;
  if (key == "views") return t.s_views;
  return nullptr;
}

TEST(Migrate, QueuesOneTaskPerSourceSelectionIntoTargetDatabase) {
  const MigrateCase cases[] = {
      {"db", "Convert database [shop] into Target database [/data/out]?", 258, "", "shop",
       "/data/out"},
      {"table", "Convert table [orders] into Target database [/data/out]?", 261, "orders", "shop",
       "/data/out"},
      {"tables", "Convert tables of [shop] into Target database [/data/out]?", 259, "", "shop",
       "/data/out"},
      {"view", "Convert view [v_orders] into Target database [/data/out]?", 262, "v_orders", "shop",
       "/data/out"},
      {"views", "Convert views of [shop] into Target database [/data/out]?", 260, "", "shop",
       "/data/out"},
  };
  for (const MigrateCase& c : cases) {
    FakeHost host;
    Trees t = Build(host);
    ScriptedUi ui;
    ui.answers = {BoxAnswer::kOk};
    ASSERT_TRUE(host.source_tree().Select(SourceNode(t, c.source)));
    ASSERT_TRUE(host.target_tree().Select(t.t_db));
    Migrate(host, ui);
    ASSERT_EQ(ui.boxes, std::vector<std::string>{c.question}) << c.source;
    ASSERT_EQ(host.tasks.size(), 1u);
    const TaskRequest& r = host.tasks[0];
    EXPECT_EQ(r.type, TaskType::kMigration);
    EXPECT_EQ(static_cast<int>(r.kind), c.kind);
    EXPECT_EQ(r.source_object, c.source_object);
    EXPECT_EQ(r.source_database, c.source_database);
    EXPECT_EQ(r.target_database, c.target_database);
    EXPECT_EQ(host.starts, 1);
    EXPECT_EQ(ui.refreshes, 1);
    EXPECT_TRUE(ui.hints.empty());
  }
}

// A database task shows its plan (computed while the busy box shows) after
// the first question and before the question about objects the target
// holds; only Start queues it, with the plan's estimate.
TEST(Migrate, DatabaseTasksShowTheirPlanBeforeTheyAreQueued) {
  TaskPlanPreview good;
  good.text = "Plan for database [shop]";
  good.rows = 1200;
  good.seconds = 7.5;
  TaskPlanPreview over = good;
  over.over_limit = true;
  over.refusal = "The file would pass Access's size limit: orders (3000.0 MB)";
  const std::string question = "Convert database [shop] into Target database [/data/out]?";
  const std::string cancelled =
      "Migration into Target database [/data/out] cancelled at its plan: nothing was changed.";
  struct Case {
    const char* what;
    const char* source;
    Result<std::optional<TaskPlanPreview>> plan;
    std::vector<std::string> held;
    std::deque<BoxAnswer> answers;
    std::vector<std::string> boxes;  // after the first question
    bool queued;
    std::string line;  // the last line written
  };
  const Case cases[] = {
      {"Start",
       "db",
       std::optional(good),
       {},
       {BoxAnswer::kOk, BoxAnswer::kOk},
       {good.text},
       true,
       ""},
      {"Cancel",
       "db",
       std::optional(good),
       {},
       {BoxAnswer::kOk, BoxAnswer::kCancel},
       {good.text},
       false,
       cancelled},
      {"over the limit: no Start",
       "tables",
       std::optional(over),
       {},
       {BoxAnswer::kOk},
       {over.text + "\n" + over.refusal},
       false,
       cancelled},
      {"catalogue unreadable",
       "db",
       Status::IOError("gone away"),
       {},
       {BoxAnswer::kOk},
       {"Cannot plan the migration of Source database [shop]: gone away"},
       false,
       "E::Cannot plan the migration of Source database [shop]: gone away"},
      {"then the question about held objects",
       "db",
       std::optional(good),
       {"orders"},
       {BoxAnswer::kOk, BoxAnswer::kOk, BoxAnswer::kReplace},
       {good.text, ExistingObjectsQuestion("/data/out", {"orders"})},
       true,
       ""},
      {"a single table has no plan",
       "table",
       std::optional(good),
       {},
       {BoxAnswer::kOk},
       {},
       true,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeHost host;
    Trees t = Build(host);
    host.plan = c.plan;
    host.held = c.held;
    ScriptedUi ui;
    ui.answers = c.answers;
    ASSERT_TRUE(host.source_tree().Select(SourceNode(t, c.source)));
    ASSERT_TRUE(host.target_tree().Select(t.t_db));
    Migrate(host, ui);
    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(std::vector<std::string>(ui.boxes.begin() + 1, ui.boxes.end()), c.boxes);
    EXPECT_TRUE(ui.answers.empty());
    const bool planned = std::string(c.source) != "table";
    EXPECT_EQ(host.planned_kinds.size(), planned ? 1u : 0u);
    EXPECT_EQ(ui.busy.size(), planned ? 1u : 0u);
    ASSERT_EQ(host.tasks.size(), c.queued ? 1u : 0u);
    if (c.queued) {
      EXPECT_EQ(host.tasks[0].planned_rows, planned ? 1200u : 0u);
      EXPECT_DOUBLE_EQ(host.tasks[0].planned_seconds, planned ? 7.5 : 0.0);
    }
    EXPECT_EQ(host.lines.empty() ? "" : host.lines.back(), c.line);
  }
}

TEST(Migrate, SourceDatabaseOnTargetRootClonesIt) {
  FakeHost host;
  Trees t = Build(host);
  ScriptedUi ui;
  ui.answers = {BoxAnswer::kOk};
  ASSERT_TRUE(host.source_tree().Select(t.s_db));
  ASSERT_TRUE(host.target_tree().Select(t.t_root));
  Migrate(host, ui);
  EXPECT_EQ(ui.boxes, std::vector<std::string>{"Clone database [shop] of source tree?"});
  ASSERT_EQ(host.tasks.size(), 1u);
  EXPECT_EQ(host.tasks[0].kind, TaskKind::kCloneDatabase);
  EXPECT_EQ(host.tasks[0].source_database, "shop");
  EXPECT_EQ(host.tasks[0].target_database, "shop");
}

TEST(Migrate, CancelQueuesNothingAndStartsNothing) {
  for (bool clone : {false, true}) {
    FakeHost host;
    Trees t = Build(host);
    ScriptedUi ui;
    ui.answers = {BoxAnswer::kCancel};
    ASSERT_TRUE(host.source_tree().Select(t.s_db));
    ASSERT_TRUE(host.target_tree().Select(clone ? t.t_root : t.t_db));
    Migrate(host, ui);
    EXPECT_TRUE(host.tasks.empty());
    EXPECT_EQ(host.starts, 0);
    EXPECT_EQ(ui.refreshes, 0);
    EXPECT_EQ(ui.highlight_clears, clone ? 1 : 0);
  }
}

struct RefusalCase {
  const char* name;
  bool connected;
  TreeNode* Trees::*source;  // null member: no selection
  TreeNode* Trees::*target;
  const char* hint;
  const char* box;
};

TEST(Migrate, PreconditionsGiveHintTipsPageAndBox) {
  const RefusalCase cases[] = {
      {"no target connection", false, &Trees::s_table, &Trees::t_db,
       "Please confirm your Target Database Connection is valid!",
       "No Target DataSource Connection!"},
      {"no source selection", true, nullptr, &Trees::t_db,
       "Please Select a Object to Convert in Source Databases Tree!",
       "No Selected Source Database Object!"},
      {"no target selection", true, &Trees::s_table, nullptr,
       "Please Select a object in Target Tree!", "No Selected Target Objects!"},
      {"target table", true, &Trees::s_table, &Trees::t_table,
       "Please select a database in Target Database Tree!", "Please select a target Database!"},
      {"target root, source table", true, &Trees::s_table, &Trees::t_root,
       "Please select a database in Target Database Tree!", "Please select a target Database!"},
      {"target tables folder", true, &Trees::s_db, &Trees::t_tables,
       "Please select a database in Target Database Tree!", "Please select a target Database!"},
  };
  for (const RefusalCase& c : cases) {
    FakeHost host;
    Trees t = Build(host, c.connected);
    ScriptedUi ui;
    if (c.source) {
      ASSERT_TRUE(host.source_tree().Select(t.*(c.source)));
    }
    if (c.target) {
      ASSERT_TRUE(host.target_tree().Select(t.*(c.target)));
    }
    Migrate(host, ui);
    EXPECT_EQ(ui.hints, std::vector<std::string>{c.hint}) << c.name;
    EXPECT_EQ(ui.pages, std::vector<int>{kTipsPage}) << c.name;
    EXPECT_EQ(ui.boxes, std::vector<std::string>{c.box}) << c.name;
    EXPECT_TRUE(host.tasks.empty()) << c.name;
    EXPECT_EQ(host.starts, 0) << c.name;
  }
}

TEST(Migrate, FieldOnTargetDatabaseQueuesNothingButStartsWorker) {
  FakeHost host;
  Trees t = Build(host);
  ScriptedUi ui;
  ASSERT_TRUE(host.source_tree().Select(t.s_field));
  ASSERT_TRUE(host.target_tree().Select(t.t_db));
  Migrate(host, ui);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(host.tasks.empty());
  EXPECT_EQ(host.starts, 1);
}

TEST(Migrate, PercentInNamesIsKeptInQuestion) {
  NodeSelection s{NodeLevel::kTable, "50%s_off", "shop"};
  NodeSelection d{NodeLevel::kDatabase, "out", "out"};
  MigratePlan p = PlanMigrate(true, &s, &d);
  EXPECT_EQ(p.question, "Convert table [50%s_off] into Target database [out]?");
}

// ---------------- Backup ----------------

TEST(Backup, QueuesByTargetSelectionAfterFolderChosen) {
  struct Case {
    TreeNode* Trees::*target;
    int kind;
    const char* letter;
    const char* object;
  } cases[] = {
      {&Trees::t_db, 513, "A", ""},     {&Trees::t_table, 514, "T", "a"},
      {&Trees::t_tables, 513, "T", ""}, {&Trees::t_view, 514, "V", "v"},
      {&Trees::t_views, 513, "V", ""},
  };
  for (const Case& c : cases) {
    FakeHost host;
    Trees t = Build(host);
    ScriptedUi ui;
    ui.folder = "/home/u/bk";
    ASSERT_TRUE(host.target_tree().Select(t.*(c.target)));
    Backup(host, ui);
    EXPECT_EQ(ui.folder_titles, std::vector<std::string>{"Please choise your backup directory:"});
    ASSERT_EQ(host.tasks.size(), 1u);
    EXPECT_EQ(host.tasks[0].type, TaskType::kBackup);
    EXPECT_EQ(static_cast<int>(host.tasks[0].kind), c.kind);
    EXPECT_EQ(host.tasks[0].object_letter, c.letter);
    EXPECT_EQ(host.tasks[0].target_object, c.object);
    EXPECT_EQ(host.tasks[0].target_database, "/data/out");
    EXPECT_EQ(host.backup_folder, "/home/u/bk");
    EXPECT_EQ(host.starts, 1);
  }
}

TEST(Backup, CancelledFolderQueuesNothingAndStartsNothing) {
  FakeHost host;
  Trees t = Build(host);
  ScriptedUi ui;
  ASSERT_TRUE(host.target_tree().Select(t.t_db));
  Backup(host, ui);
  EXPECT_TRUE(host.tasks.empty());
  EXPECT_EQ(host.starts, 0);
  EXPECT_TRUE(host.backup_folder.empty());
}

TEST(Backup, TargetRootQueuesNothing) {
  FakeHost host;
  Trees t = Build(host);
  ScriptedUi ui;
  ui.folder = "/tmp/x";
  ASSERT_TRUE(host.target_tree().Select(t.t_root));
  Backup(host, ui);
  EXPECT_TRUE(host.tasks.empty());
}

TEST(Backup, Preconditions) {
  {
    FakeHost host;
    Trees t = Build(host, false);
    ScriptedUi ui;
    ASSERT_TRUE(host.target_tree().Select(t.t_db));
    Backup(host, ui);
    EXPECT_EQ(ui.hints, std::vector<std::string>{
                            "Please confirm your target Database connected SUCCESSFULLY!"});
    EXPECT_EQ(ui.boxes, std::vector<std::string>{"No Target DataSource Connection!"});
    EXPECT_EQ(ui.pages, std::vector<int>{kTipsPage});
    EXPECT_EQ(host.starts, 0);
    EXPECT_TRUE(ui.folder_titles.empty());
  }
  {
    FakeHost host;
    Build(host);
    ScriptedUi ui;
    Backup(host, ui);
    EXPECT_EQ(ui.hints, std::vector<std::string>{
                            "Please select a Object in Target Databases Tree to backup!"});
    EXPECT_EQ(ui.boxes, std::vector<std::string>{"No selected Objects to backup!"});
    EXPECT_EQ(host.starts, 1);  // waiting tasks still get a worker
    EXPECT_TRUE(ui.folder_titles.empty());
  }
}

TEST(Backup, DriveRootGetsBackupScriptFolder) {
  EXPECT_EQ(BackupFolderFor("C:\\"), "C:\\Backup.Script");
  EXPECT_EQ(BackupFolderFor("/"), "/Backup.Script");
  EXPECT_EQ(BackupFolderFor("/home/u"), "/home/u");
}

// ---------------- Delete ----------------

TEST(Delete, TableAskedTwiceThenDroppedAndNodeRemoved) {
  FakeHost host;
  Trees t = Build(host);
  ScriptedUi ui;
  ui.answers = {BoxAnswer::kOk, BoxAnswer::kYes};
  ASSERT_TRUE(host.target_tree().Select(t.t_table));
  Delete(host, ui);
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0], "Delete the table [/data/out.a]?");
  EXPECT_EQ(ui.boxes[1],
            "After remove, you can not restore the table [/data/out.a]! Continue?\nPress YES to "
            "Continue Removing!");
  EXPECT_EQ(host.dropped, std::vector<std::string>{"a"});
  EXPECT_EQ(t.t_tables->child_count(), 1);
  EXPECT_EQ(host.lines.front(), "Delete the table [/data/out.a]?");
}

TEST(Delete, NoOnSecondQuestionDropsNothing) {
  FakeHost host;
  Trees t = Build(host);
  ScriptedUi ui;
  ui.answers = {BoxAnswer::kOk, BoxAnswer::kNo};
  ASSERT_TRUE(host.target_tree().Select(t.t_db));
  Delete(host, ui);
  EXPECT_TRUE(host.dropped.empty());
  EXPECT_EQ(t.t_root->child_count(), 1);
}

TEST(Delete, TablesFolderCountsOnlyDroppedTables) {
  FakeHost host;
  Trees t = Build(host);
  host.refuse_drop = {"a"};
  ScriptedUi ui;
  ui.answers = {BoxAnswer::kOk, BoxAnswer::kYes};
  ASSERT_TRUE(host.target_tree().Select(t.t_tables));
  Delete(host, ui);
  EXPECT_EQ(host.dropped, (std::vector<std::string>{"a", "b"}));
  ASSERT_EQ(t.t_tables->child_count(), 1);
  EXPECT_EQ(t.t_tables->child(0)->text(), "a");
  EXPECT_EQ(host.lines.back(), "[1] tables removed!");
}

TEST(Delete, DatabaseDropClearsCatalogName) {
  FakeHost host;
  Trees t = Build(host);
  host.target_tree().set_catalog_name("/data/out");
  ScriptedUi ui;
  ui.answers = {BoxAnswer::kOk, BoxAnswer::kYes};
  ASSERT_TRUE(host.target_tree().Select(t.t_db));
  Delete(host, ui);
  EXPECT_EQ(host.lines.front(), "Remove Database [/data/out]!");
  EXPECT_EQ(t.t_root->child_count(), 0);
  EXPECT_EQ(host.target_tree().catalog_name(), "");
}

TEST(Delete, MissingTargetConnectionNamesTheTarget) {
  FakeHost host;
  Build(host, false);
  ScriptedUi ui;
  Delete(host, ui);
  EXPECT_EQ(ui.hints, std::vector<std::string>{
                          "Press Config button, and get a successful target Connection!"});
  EXPECT_EQ(ui.boxes, std::vector<std::string>{"No Target DataSource Connection!"});
  EXPECT_EQ(ui.titles, std::vector<std::string>{"Delete"});
}

TEST(Delete, BusyCheckOffersStopAndDoesNothingElse) {
  FakeHost host;
  Trees t = Build(host);
  host.state = 2;
  ScriptedUi ui;
  ui.answers = {BoxAnswer::kOk};
  ASSERT_TRUE(host.target_tree().Select(t.t_table));
  Delete(host, ui);
  EXPECT_EQ(ui.boxes, std::vector<std::string>{"Some Tasks is Processing, STOP ALL?"});
  EXPECT_EQ(host.state, 99);
  EXPECT_TRUE(host.dropped.empty());
  ui.boxes.clear();
  Delete(host, ui);
  EXPECT_EQ(ui.boxes,
            std::vector<std::string>{"Some Tasks is Stopping, Please try again later!!!"});
  EXPECT_TRUE(host.dropped.empty());
}

// ---------------- Connect, start/stop, close ----------------

TEST(Connect, FillsBothTreesAndTitlesFolders) {
  FakeHost host;
  host.source_src.data_source_name = "srv";
  host.source_src.databases = {{"shop", {}, {}}};
  host.target_src.data_source_name = "/d/x.mdb";
  ScriptedUi ui;
  Connect(host, ui);
  EXPECT_EQ(ui.source_title, "MySQL 10.11");
  EXPECT_EQ(ui.target_title, "ACCESS 4.0");
  ASSERT_NE(host.source_tree().root(), nullptr);
  EXPECT_EQ(host.source_tree().root()->text(), "srv");
  EXPECT_EQ(host.charset, "LATIN1");
}

TEST(Connect, FailedSourceStillConnectsTarget) {
  FakeHost host;
  host.fail_source = true;
  ScriptedUi ui;
  Connect(host, ui);
  EXPECT_EQ(ui.boxes, std::vector<std::string>{"Source Connection error!"});
  EXPECT_EQ(ui.hints, std::vector<std::string>{"Source Connection error! Please comfirm source "
                                               "database connection properties !"});
  EXPECT_FALSE(host.source_tree().connected());
  EXPECT_TRUE(host.target_tree().connected());
}

TEST(Connect, WhileRunningAsksAndConnectsNothing) {
  FakeHost host;
  host.state = 2;
  ScriptedUi ui;
  ui.answers = {BoxAnswer::kCancel};
  Connect(host, ui);
  EXPECT_EQ(host.state, 2);
  EXPECT_FALSE(host.target_tree().connected());
}

TEST(StartStop, ByRunState) {
  FakeHost host;
  ScriptedUi ui;
  StartStopTasks(host, ui);
  EXPECT_EQ(host.state, 2);
  ui.answers = {BoxAnswer::kOk};
  StartStopTasks(host, ui);
  EXPECT_EQ(host.state, 99);
  StartStopTasks(host, ui);
  EXPECT_EQ(ui.boxes.back(), "Some Tasks is Stopping, Please Wait!!!");
  EXPECT_EQ(host.starts, 1);
}

TEST(Close, AsksOnlyWhileRunning) {
  FakeHost host;
  ScriptedUi ui;
  EXPECT_TRUE(ConfirmClose(host, ui));
  EXPECT_TRUE(ui.boxes.empty());
  host.state = 2;
  ui.answers = {BoxAnswer::kCancel, BoxAnswer::kOk};
  EXPECT_FALSE(ConfirmClose(host, ui));
  EXPECT_EQ(host.state, 2);
  EXPECT_TRUE(ConfirmClose(host, ui));
  EXPECT_EQ(host.state, 99);
  EXPECT_EQ(ui.boxes[0], "Some Tasks is Processing, STOP ALL and EXIT?");
  EXPECT_TRUE(ConfirmClose(host, ui));  // stop already requested: closes at once
}

TEST(NewDatabase, OnlyOnTargetRoot) {
  FakeHost host;
  Trees t = Build(host);
  ScriptedUi ui;
  ASSERT_TRUE(host.target_tree().Select(t.t_db));
  EXPECT_FALSE(CheckNewDatabase(host, ui));
  EXPECT_EQ(ui.boxes, std::vector<std::string>{
                          "Can only create database in TARGET!!!\nPlease Select Target ROOT to "
                          "create new database!"});
  ASSERT_TRUE(host.target_tree().Select(t.t_root));
  EXPECT_TRUE(CheckNewDatabase(host, ui));
}

}  // namespace
}  // namespace velquin

namespace velquin {
namespace {

TEST(TaskGrid, RowsNumberFromOneAndShowTypeStateNamesAndBar) {
  TaskRecord migration;
  migration.type = TaskType::kMigration;
  migration.state_text = "Working";
  migration.source_dbms = "MySQL 8";
  migration.source_database = "shop";
  migration.source_object = "orders";
  migration.target_dbms = "ACCESS";
  migration.target_database = "out";
  migration.progress = 0;
  TaskRecord backup;
  backup.type = TaskType::kBackup;
  backup.state_text = "SUCCESS";
  backup.target_database = "out";
  backup.target_object = "t";
  backup.progress = 100;
  std::vector<TaskRecord> records(11, migration);
  records.push_back(backup);
  std::vector<TaskGridText> rows = TaskGridRows(records);
  ASSERT_EQ(rows.size(), 12u);
  const std::array<std::string, kTaskGridColumns> first = {
      "01", " ", "MIGRATION", "Working", "MySQL 8", "shop", "orders", "ACCESS", "out", ""};
  EXPECT_EQ(rows[0].cells, first);
  EXPECT_EQ(rows[0].progress, 5);  // a bar at 0 is shown at 5
  EXPECT_EQ(rows[9].cells[0], "10");
  EXPECT_EQ(rows[11].cells[0], "12");
  EXPECT_EQ(rows[11].cells[2], "BACKUP");
  EXPECT_EQ(rows[11].cells[3], "SUCCESS");
  EXPECT_EQ(rows[11].cells[9], "t");
  EXPECT_EQ(rows[11].progress, 100);
}

class FakeAccess : public DatabaseAccess {
 public:
  Result<std::string> Connect(Side side, DbTree& tree) override {
    if (side == Side::kTarget && fail_target) return Status::IOError("no file");
    tree.set_source(side == Side::kTarget ? &target : &source);
    return std::string(side == Side::kTarget ? "ACCESS" : "MySQL 8");
  }
  Status UseDatabase(Side, const std::string& name) override {
    used.push_back(name);
    source.current_catalog = name;
    return Status::Ok();
  }
  Status DropDatabase(const std::string&) override { return Status::Ok(); }
  Status DropTable(const std::string&) override { return Status::Ok(); }
  Status DropView(const std::string&) override { return Status::Ok(); }
  Status RenameTable(const std::string& from, const std::string& to) override {
    renames.push_back(from + "->" + to);
    return to == "taken" ? Status::Constraint("exists") : Status::Ok();
  }
  std::vector<std::string> renames;
  std::string TableCondition(const std::string&, const std::string&) override { return {}; }

  bool fail_target = false;
  std::vector<std::string> used;
  MemoryCatalogSource source, target;
};

TEST(ControllerHost, ConnectStoresDbmsNamesThatTasksCarry) {
  OutputLog log;
  MainController controller(log);
  FakeAccess access;
  access.source.data_source_name = "srv";
  access.source.current_catalog = "shop";
  access.source.databases = {{"shop", {{"orders", {"id"}, {}}}, {}}};
  access.target.data_source_name = "/d/out.mdb";
  ControllerHost host(controller, access);
  ScriptedUi ui;
  Connect(host, ui);
  EXPECT_EQ(controller.descriptor(Side::kSource).dbms_name, "MySQL 8");
  EXPECT_EQ(controller.descriptor(Side::kTarget).dbms_name, "ACCESS");
  EXPECT_EQ(host.charset_name(), "LATIN1");
  TaskRequest r;
  r.type = TaskType::kMigration;
  r.kind = TaskKind::kConvertTable;
  r.source_object = "orders";
  r.source_database = "shop";
  r.target_database = "out";
  controller.StopAll();
  host.AppendTask(r);
  controller.worker().Shutdown();
  std::vector<TaskRecord> q = controller.queue().Snapshot();
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0].kind, TaskKind::kConvertTable);
  EXPECT_EQ(q[0].source_dbms, "MySQL 8");
  EXPECT_EQ(q[0].target_dbms, "ACCESS");
  EXPECT_EQ(q[0].source_object, "orders");
}

TEST(ControllerHost, FailedTargetConnectLeavesTreeEmptyAndUnconnected) {
  OutputLog log;
  MainController controller(log);
  FakeAccess access;
  access.fail_target = true;
  ControllerHost host(controller, access);
  ScriptedUi ui;
  Connect(host, ui);
  EXPECT_FALSE(host.target_tree().connected());
  EXPECT_EQ(host.target_tree().root(), nullptr);
  EXPECT_EQ(ui.boxes, std::vector<std::string>{"Target Connection error!"});
  bool error_line = false;
  for (const LogLine& l : log.model().Snapshot()) {
    error_line |= l.line_class == LineClass::kError && l.text == "no file";
  }
  EXPECT_TRUE(error_line);
}

TEST(ChooseDatabase, WritesLineUsesDatabaseAndRelists) {
  OutputLog log;
  MainController controller(log);
  FakeAccess access;
  access.source.current_catalog = "a";
  access.source.databases = {{"a", {{"t1", {}, {}}}, {}}, {"b", {{"t2", {}, {}}}, {}}};
  ControllerHost host(controller, access);
  ScriptedUi ui;
  Connect(host, ui);
  ChooseDatabase(host, ui, access, host.source_tree(), "b");
  EXPECT_EQ(access.used, std::vector<std::string>{"b"});
  EXPECT_EQ(host.source_tree().catalog_name(), "b");
  ASSERT_NE(host.source_tree().current_database(), nullptr);
  EXPECT_EQ(host.source_tree().current_database()->text(), "b");
  EXPECT_EQ(log.model().Snapshot().back().text, "Select Database [b]");
}

}  // namespace
}  // namespace velquin

namespace velquin {
namespace {

TEST(FinishRename, OnlyAnEditEndedWithEnterRenames) {
  FakeAccess access;
  DbTree tree(TreeSide::kTarget, TreeKind::kAccess);
  TreeNode* tables = tree.Append(nullptr, NodeLevel::kTablesFolder, "Tables");
  TreeNode* t = tree.Append(tables, NodeLevel::kTable, "old");
  // Clicked elsewhere: no Enter, no rename.
  EXPECT_FALSE(FinishRename(access, tree, t, "new"));
  EXPECT_EQ(t->text(), "old");
  EXPECT_TRUE(access.renames.empty());
  // Enter: renamed, and the flag is cleared for the next edit.
  tree.set_rename_commit(true);
  EXPECT_TRUE(FinishRename(access, tree, t, "new"));
  EXPECT_EQ(t->text(), "new");
  EXPECT_FALSE(tree.rename_commit());
  // The database refuses: the node keeps its name.
  tree.set_rename_commit(true);
  EXPECT_FALSE(FinishRename(access, tree, t, "taken"));
  EXPECT_EQ(t->text(), "new");
  EXPECT_EQ(access.renames, (std::vector<std::string>{"old->new", "new->taken"}));
  // Only tables are renamed.
  tree.set_rename_commit(true);
  EXPECT_FALSE(FinishRename(access, tree, tables, "x"));
  EXPECT_EQ(tables->text(), "Tables");
}

}  // namespace
}  // namespace velquin
