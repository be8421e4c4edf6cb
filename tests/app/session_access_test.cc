// SessionCatalogSource over real sessions (our Jet engine; the private
// MariaDB when VELQUIN_MYSQL_* is set) and the pieces of SessionDatabaseAccess
// that need no window: provider names, target file names, connecting from
// migrator.cfg, drops, renames and conditions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/session_database_access.h"
#include "catalog/catalog_listing.h"
#include "catalog/session_catalog_source.h"
#include "db/jet_session.h"
#include "log/output_log.h"
#include "mysql_test_support.h"

namespace velquin {
namespace {

namespace fs = std::filesystem;

TEST(ProviderProgIdTest, DisplayNamesMapAsTheConfigurationListsThem) {
  const struct {
    const char* display;
    const char* prog_id;
  } kCases[] = {
      {"Microsoft OLE DB Provider for ODBC Divers", "MSDASQL"},
      {"TCP/IP:Port", "MSDASQL"},
      {"tcp/ip:port", "MSDASQL"},
      {"Microsoft Jet 4.0 OLE DB Provider", "Microsoft.Jet.OLEDB.4.0"},
      {"MICROSOFT JET 3.51 OLE DB PROVIDER", "Microsoft.Jet.OLEDB.4.0"},
      {"Driver do Microsoft Access", "MSDASQL"},
      {"Microsoft Access Driver", "MSDASQL"},
      {"SQLOLEDB", "SQLOLEDB"},
      {"", ""},
  };
  for (const auto& c : kCases) EXPECT_EQ(ProviderProgId(c.display), c.prog_id) << c.display;
}

TEST(DescriptorFromSettingsTest, KeepsTheCaseOfNamesAndPaths) {
  ConnectionSettings s{"Microsoft Jet 4.0 OLE DB Provider", "/Data/Shop.mdb", "admin", "pw",
                       "Shop"};
  ConnectionDescriptor d = DescriptorFromSettings(s);
  EXPECT_EQ(d.provider_prog_id, "Microsoft.Jet.OLEDB.4.0");
  EXPECT_EQ(d.provider_display_name, "Microsoft Jet 4.0 OLE DB Provider");
  EXPECT_EQ(d.source_name, "/Data/Shop.mdb");  // a lower-cased path would not open
  EXPECT_EQ(d.catalog, "Shop");
  EXPECT_EQ(d.user_id, "admin");
  EXPECT_EQ(d.password, "pw");
}

TEST(TargetDatabaseFileTest, AddsTheSuffixAndTheFolder) {
  EXPECT_EQ(TargetDatabaseFile("/d/shop", "/x"), fs::path("/d/shop.mdb"));
  EXPECT_EQ(TargetDatabaseFile("/d/shop.mdb", "/x"), fs::path("/d/shop.mdb"));
  EXPECT_EQ(TargetDatabaseFile("shop", "/x"), fs::path("/x/shop.mdb"));
  EXPECT_EQ(TargetDatabaseFile("shop", ""), fs::path("shop.mdb"));
}

class TempDir {
 public:
  TempDir() : path_(fs::temp_directory_path() / testing::UniqueName("velquin_access")) {
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A target file with two tables (one with a space in its name) and an index
// over two columns.
fs::path MakeTarget(const fs::path& dir) {
  const fs::path file = dir / "shop.mdb";
  auto jet = JetSession::Open(file.string(), true);
  EXPECT_TRUE(jet.ok()) << jet.status().message();
  if (!jet.ok()) return file;
  for (const char* sql :
       {"CREATE TABLE items (id INTEGER, name TEXT(20), qty INTEGER)",
        "CREATE INDEX ix_name_qty ON items (name, qty)", "CREATE TABLE [old orders] (n INTEGER)"}) {
    auto r = (*jet)->Execute(sql);
    EXPECT_TRUE(r.ok()) << sql << ": " << r.status().message();
  }
  return file;
}

TEST(SessionCatalogSourceTest, ListsAJetFileAndFillsATree) {
  TempDir dir;
  const fs::path file = MakeTarget(dir.path());
  auto jet = JetSession::Open(file.string());
  ASSERT_TRUE(jet.ok());
  SessionCatalogSource source(jet->get());
  EXPECT_EQ(*source.DataSourceName(), file.string());
  EXPECT_EQ(*source.CurrentCatalog(), (dir.path() / "shop").string());
  auto tables = source.Tables("TABLE");
  ASSERT_TRUE(tables.ok());
  std::vector<std::string> names;
  for (const auto& t : *tables) names.push_back(t.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"items", "old orders"}));
  EXPECT_EQ(*source.Columns("items"), (std::vector<std::string>{"id", "name", "qty"}));
  auto indexes = source.Indexes("items");
  ASSERT_TRUE(indexes.ok());
  EXPECT_EQ(std::count(indexes->begin(), indexes->end(), "ix_name_qty"), 2);
  EXPECT_TRUE(source.Tables("VIEW")->empty());

  DbTree tree(TreeSide::kTarget, TreeKind::kAccess);
  tree.set_source(&source);
  tree.set_provider("Microsoft.Jet.OLEDB.4.0");
  tree.set_catalog_name((dir.path() / "shop").string());
  FillReport report = FillTree(tree);
  EXPECT_TRUE(report.message_boxes.empty());
  bool found_spaced = false;
  for (const TreeNode* n : tree.Walk()) {
    found_spaced |= n->level() == NodeLevel::kTable && n->text() == "old orders";
  }
  EXPECT_TRUE(found_spaced);
}

TEST(SessionCatalogSourceTest, WithoutASessionEveryQueryFails) {
  SessionCatalogSource source(SessionCatalogSource::Lookup([] { return nullptr; }));
  EXPECT_EQ(source.Catalogs().status().message(), "No Connection!");
  EXPECT_FALSE(source.Tables("TABLE").ok());
  EXPECT_FALSE(source.Columns("x").ok());
  EXPECT_FALSE(source.Indexes("x").ok());
  EXPECT_FALSE(source.DataSourceName().ok());
}

TEST(SessionCatalogSourceTest, ListsTheMariaDbCatalogue) {
  VELQUIN_REQUIRE_MYSQL(server);
  auto db = testing::TestDatabase::Create(server, "catalog");
  ASSERT_NE(db, nullptr);
  db->Exec("CREATE TABLE t1 (a INT PRIMARY KEY, b VARCHAR(5), c INT, KEY ix_bc (b, c))");
  db->Exec("CREATE TABLE `with space` (x INT)");
  db->Exec("CREATE VIEW v1 AS SELECT a FROM t1");
  SessionCatalogSource source(&db->session());
  auto catalogs = source.Catalogs();
  ASSERT_TRUE(catalogs.ok()) << catalogs.status().message();
  EXPECT_NE(std::find(catalogs->begin(), catalogs->end(), db->name()), catalogs->end());
  EXPECT_EQ(*source.CurrentCatalog(), db->name());
  auto tables = source.Tables("TABLE");
  ASSERT_TRUE(tables.ok()) << tables.status().message();
  std::vector<std::string> names;
  for (const auto& t : *tables) names.push_back(t.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"t1", "with space"}));
  auto views = source.Tables("VIEW");
  ASSERT_TRUE(views.ok());
  ASSERT_EQ(views->size(), 1u);
  EXPECT_EQ((*views)[0].name, "v1");
  EXPECT_EQ((*views)[0].type, "VIEW");
  EXPECT_EQ(*source.Columns("t1"), (std::vector<std::string>{"a", "b", "c"}));
  auto indexes = source.Indexes("t1");
  ASSERT_TRUE(indexes.ok());
  EXPECT_EQ(std::count(indexes->begin(), indexes->end(), "ix_bc"), 2);
  EXPECT_EQ(std::count(indexes->begin(), indexes->end(), "PRIMARY"), 1);
  EXPECT_EQ(*source.Columns("with space"), (std::vector<std::string>{"x"}));
}

class AccessTest : public ::testing::Test {
 protected:
  AccessTest() : controller_(log_) {}
  void WriteConfig(const std::string& text) { std::ofstream(dir_.path() / "migrator.cfg") << text; }
  std::unique_ptr<SessionDatabaseAccess> Make() {
    return std::make_unique<SessionDatabaseAccess>(controller_, dir_.path() / "migrator.cfg",
                                                   dir_.path() / "Condition.cfg");
  }
  TempDir dir_;
  OutputLog log_;
  MainController controller_;
};

TEST_F(AccessTest, CreatesAnEmptyConditionFileAndReadsConditions) {
  auto access = Make();
  ASSERT_TRUE(fs::exists(dir_.path() / "Condition.cfg"));
  EXPECT_EQ(fs::file_size(dir_.path() / "Condition.cfg"), 0u);
  EXPECT_EQ(access->TableCondition("shop", "orders"), "");
  ASSERT_TRUE(access->conditions().Write("shop", "orders", "total > 10").ok());
  EXPECT_EQ(access->TableCondition("shop", "orders"), "total > 10");
  EXPECT_EQ(access->TableCondition("shop", "items"), "");
  // An existing file is kept as it is.
  auto again = Make();
  EXPECT_EQ(again->TableCondition("shop", "orders"), "total > 10");
}

TEST_F(AccessTest, MissingOrSwitchedOffConfigurationConnectsNothing) {
  auto access = Make();
  DbTree tree(TreeSide::kSource, TreeKind::kMySql);
  EXPECT_FALSE(access->Connect(Side::kSource, tree).ok());  // no migrator.cfg
  EXPECT_FALSE(access->Connect(Side::kTarget, tree).ok());
  // Config=false: the stored settings are not used.
  WriteConfig(
      "[Public]\nConfig=false\n[TargetDB]\nProvider=Microsoft Jet 4.0 OLE DB Provider\n"
      "SourceName=" +
      MakeTarget(dir_.path()).string() + "\n");
  EXPECT_FALSE(access->Connect(Side::kTarget, tree).ok());
  EXPECT_FALSE(controller_.session(Side::kTarget).connected());
  EXPECT_FALSE(tree.connected());
}

TEST_F(AccessTest, TargetConnectsRenamesDropsAndSwitches) {
  const fs::path file = MakeTarget(dir_.path());
  WriteConfig(
      "[Public]\nConfig=true\n[TargetDB]\nProvider=Microsoft Jet 4.0 OLE DB Provider\n"
      "SourceName=" +
      file.string() + "\n");
  auto access = Make();
  DbTree tree(TreeSide::kTarget, TreeKind::kAccess);
  auto dbms = access->Connect(Side::kTarget, tree);
  ASSERT_TRUE(dbms.ok()) << dbms.status().message();
  EXPECT_EQ(*dbms, "MS Jet[04.00.0000]");
  EXPECT_TRUE(controller_.session(Side::kTarget).connected());
  EXPECT_EQ(tree.catalog_name(), (dir_.path() / "shop").string());
  FillTree(tree);
  ASSERT_NE(tree.root(), nullptr);

  EXPECT_TRUE(access->RenameTable("items", "goods").ok());
  EXPECT_FALSE(access->DropTable("items").ok());  // gone after the rename
  EXPECT_TRUE(access->DropTable("goods").ok());
  EXPECT_TRUE(access->DropTable("old orders").ok());
  EXPECT_FALSE(access->DropView("nothing").ok());
  auto reopened = JetSession::Open(file.string());
  ASSERT_TRUE(reopened.ok());
  EXPECT_TRUE((*reopened)->OpenSchemaRowset(SchemaRowset::kTables, {}).ok());
  SessionCatalogSource check(reopened->get());
  EXPECT_TRUE(check.Tables("TABLE")->empty());

  // A task's target name without a folder lands beside the connected file.
  auto created = access->OpenTargetDatabase("fresh", true);
  ASSERT_TRUE(created.ok()) << created.status().message();
  EXPECT_TRUE(fs::exists(dir_.path() / "fresh.mdb"));
  created->reset();
  EXPECT_TRUE(access->UseDatabase(Side::kTarget, "fresh").ok());
  EXPECT_FALSE(access->UseDatabase(Side::kTarget, "missing").ok());

  // Dropping a database removes its file; a missing one is an error.
  EXPECT_TRUE(access->DropDatabase((dir_.path() / "shop").string()).ok());
  EXPECT_FALSE(fs::exists(file));
  EXPECT_FALSE(access->DropDatabase((dir_.path() / "shop").string()).ok());
  // Dropping the connected database disconnects the target first.
  EXPECT_TRUE(access->DropDatabase("fresh").ok());
  EXPECT_FALSE(controller_.session(Side::kTarget).connected());
}

TEST_F(AccessTest, SourceConnectsToTheServerNamedInTheConfiguration) {
  VELQUIN_REQUIRE_MYSQL(server);
  auto db = testing::TestDatabase::Create(server, "access");
  ASSERT_NE(db, nullptr);
  db->Exec("CREATE TABLE t1 (a INT)");
  WriteConfig("[Public]\nConfig=true\n[SourceDB]\nProvider=TCP/IP:Port\nSourceName=" + server.host +
              ":" + server.port + "\nUserID=" + server.user + "\nPassWord=" + server.password +
              "\nCatalogName=" + db->name() + "\n");
  auto access = Make();
  DbTree tree(TreeSide::kSource, TreeKind::kMySql);
  auto dbms = access->Connect(Side::kSource, tree);
  ASSERT_TRUE(dbms.ok()) << dbms.status().message();
  EXPECT_NE(dbms->find("MariaDB"), std::string::npos);
  EXPECT_EQ(tree.catalog_name(), db->name());
  FillTree(tree);
  bool listed = false;
  for (const TreeNode* n : tree.Walk()) listed |= n->text() == "t1";
  EXPECT_TRUE(listed);
  EXPECT_TRUE(access->UseDatabase(Side::kSource, "information_schema").ok());
  EXPECT_FALSE(access->UseDatabase(Side::kSource, "no_such_database_here").ok());
}

TEST_F(AccessTest, WrongPasswordFailsTheSourceConnect) {
  VELQUIN_REQUIRE_MYSQL(server);
  WriteConfig("[Public]\nConfig=true\n[SourceDB]\nProvider=TCP/IP:Port\nSourceName=" + server.host +
              ":" + server.port + "\nUserID=" + server.user + "\nPassWord=wrong-" +
              server.password + "\n");
  auto access = Make();
  DbTree tree(TreeSide::kSource, TreeKind::kMySql);
  auto dbms = access->Connect(Side::kSource, tree);
  EXPECT_FALSE(dbms.ok());
  EXPECT_FALSE(controller_.session(Side::kSource).connected());
  EXPECT_FALSE(tree.connected());
}

}  // namespace
}  // namespace velquin

namespace velquin {
namespace {

// The window's pipeline settings over a controller whose queue the tests
// fill by hand.
class WindowPipelineSettingsTest : public ::testing::Test {
 protected:
  TempDir dir;
  OutputLog log;
  MainController controller{log};
  SessionDatabaseAccess access{controller, dir.path() / "migrator.cfg",
                               dir.path() / "Condition.cfg"};
  PipelineSettings settings = WindowPipelineSettings(controller, access, dir.path());
};

TEST_F(WindowPipelineSettingsTest, CopiedRowsMoveOnlyTheRunningSingleTableTask) {
  ASSERT_TRUE(settings.rows_progress);
  EXPECT_EQ(settings.condition_file, dir.path() / "Condition.cfg");
  EXPECT_TRUE(settings.inserter_factory);

  TaskRecord table;
  table.kind = TaskKind::kConvertTable;
  table.source_object = "orders";
  TaskRecord whole;
  whole.kind = TaskKind::kConvertDatabase;
  TaskRecord waiting = table;
  const TaskId table_id = controller.queue().Append(table);
  const TaskId whole_id = controller.queue().Append(whole);
  const TaskId waiting_id = controller.queue().Append(waiting);
  ASSERT_TRUE(controller.queue().DispatchNext({}).has_value());  // "orders" is Working
  settings.rows_progress("orders", 50, 100);
  EXPECT_EQ(controller.queue().Find(table_id)->progress, 50);    // 5 + 90 * 1/2
  EXPECT_EQ(controller.queue().Find(table_id)->rows_done, 50u);  // for its time left
  EXPECT_EQ(controller.queue().Find(table_id)->rows_total, 100u);
  settings.rows_progress("orders", 120, 100);  // more rows than counted
  EXPECT_EQ(controller.queue().Find(table_id)->progress, 95);
  settings.rows_progress("orders", 10, 0);  // no count: no change
  EXPECT_EQ(controller.queue().Find(table_id)->progress, 95);
  settings.rows_progress("customers", 100, 100);  // another table's rows
  EXPECT_EQ(controller.queue().Find(table_id)->progress, 95);
  EXPECT_EQ(controller.queue().Find(whole_id)->progress, 0);
  EXPECT_EQ(controller.queue().Find(waiting_id)->progress, 0);  // same table, not running
}

// A task over a whole database moves through its tables' share of the bar
// (up to 50, where views follow; up to 90 for tables alone) and never back.
TEST_F(WindowPipelineSettingsTest, DatabaseTasksAdvanceTableByTable) {
  ASSERT_TRUE(settings.table_started);
  struct Case {
    TaskKind kind;
    int32_t after_first_table_half, after_third_table_starts, at_end;
  };
  // Four tables: a quarter of the share each.
  for (const Case& c :
       {Case{TaskKind::kConvertDatabase, 6, 25, 50}, Case{TaskKind::kCloneDatabase, 6, 25, 50},
        Case{TaskKind::kConvertTables, 11, 45, 90}}) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    controller.queue().Clear();
    TaskRecord task;
    task.kind = c.kind;
    const TaskId id = controller.queue().Append(task);
    ASSERT_TRUE(controller.queue().DispatchNext({}).has_value());
    settings.table_started(0, 4);
    EXPECT_EQ(controller.queue().Find(id)->progress, 0);
    settings.rows_progress("a", 50, 100);
    EXPECT_EQ(controller.queue().Find(id)->progress, c.after_first_table_half);
    settings.table_started(2, 4);
    EXPECT_EQ(controller.queue().Find(id)->progress, c.after_third_table_starts);
    settings.rows_progress("c", 10, 0);  // no count: the table's start stands
    EXPECT_EQ(controller.queue().Find(id)->progress, c.after_third_table_starts);
    // The rows done count the earlier tables' and the current one's.
    EXPECT_EQ(controller.queue().Find(id)->rows_done, 60u);
    settings.table_started(1, 4);  // never back
    EXPECT_EQ(controller.queue().Find(id)->progress, c.after_third_table_starts);
    settings.table_started(3, 4);
    settings.rows_progress("d", 500, 100);  // more rows than counted
    EXPECT_EQ(controller.queue().Find(id)->progress, c.at_end);
  }
}

}  // namespace
}  // namespace velquin
