// The database walks against the private MariaDB and a real Access file,
// through a target that records every statement (and refuses chosen ones).
// The recording target has no fast path, so every row also goes in as its
// INSERT statement: the statements written to the data files are proven to
// be Jet SQL that the engine takes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "../db/mysql_test_support.h"
#include "db/jet_session.h"
#include "db/odbc_session.h"
#include "migrate/pipeline.h"

namespace velquin {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

class RecordingTarget : public Session {
 public:
  explicit RecordingTarget(std::unique_ptr<JetSession> inner) : inner_(std::move(inner)) {}
  std::vector<std::string> statements;
  std::string refuse_prefix;  // statements starting with it fail

  Result<ExecuteOutcome> Execute(std::string_view sql) override {
    statements.emplace_back(sql);
    if (!refuse_prefix.empty() && sql.substr(0, refuse_prefix.size()) == refuse_prefix) {
      return Status::InvalidArgument("refused by the test");
    }
    return inner_->Execute(sql);
  }
  Result<std::unique_ptr<QueryCursor>> OpenQuery(std::string_view sql) override {
    return inner_->OpenQuery(sql);
  }
  Result<std::unique_ptr<QueryCursor>> OpenSchemaRowset(SchemaRowset k,
                                                        const SchemaRestrictions& r) override {
    return inner_->OpenSchemaRowset(k, r);
  }
  Result<std::string> DbmsName() override { return inner_->DbmsName(); }
  Result<std::string> DbmsVersion() override { return inner_->DbmsVersion(); }
  Result<std::string> DataSourceName() override { return inner_->DataSourceName(); }
  Result<std::string> CurrentCatalog() override { return inner_->CurrentCatalog(); }
  std::string QuoteString(std::string_view t) const override { return inner_->QuoteString(t); }

 private:
  std::unique_ptr<JetSession> inner_;
};

// The source, with chosen queries failing as a lost connection would.
class FailingSource : public Session {
 public:
  explicit FailingSource(Session& inner) : inner_(inner) {}
  std::string fail_queries_with;  // OpenQuery of a text holding it fails
  bool fail_view_listing = false;

  Result<ExecuteOutcome> Execute(std::string_view sql) override { return inner_.Execute(sql); }
  Result<std::unique_ptr<QueryCursor>> OpenQuery(std::string_view sql) override {
    if (!fail_queries_with.empty() && sql.find(fail_queries_with) != std::string_view::npos) {
      return Status::IOError("Lost connection to server during query (test)");
    }
    return inner_.OpenQuery(sql);
  }
  Result<std::unique_ptr<QueryCursor>> OpenSchemaRowset(SchemaRowset k,
                                                        const SchemaRestrictions& r) override {
    if (fail_view_listing && r.size() > 3 && r[3] == "VIEW") {
      return Status::IOError("Lost connection to server during query (test)");
    }
    return inner_.OpenSchemaRowset(k, r);
  }
  Result<std::string> DbmsName() override { return inner_.DbmsName(); }
  Result<std::string> DbmsVersion() override { return inner_.DbmsVersion(); }
  Result<std::string> DataSourceName() override { return inner_.DataSourceName(); }
  Result<std::string> CurrentCatalog() override { return inner_.CurrentCatalog(); }
  std::string QuoteString(std::string_view t) const override { return inner_.QuoteString(t); }

 private:
  Session& inner_;
};

class PipelineMariaDbTest : public ::testing::Test {
 protected:
  // An empty database and an empty Access file.
  void PrepareEmpty(const velquin::testing::MySqlServer& server) {
    db_ = velquin::testing::TestDatabase::Create(server, "pipe");
    ASSERT_TRUE(db_);
    dir_ = fs::temp_directory_path() / ("velquin-pipe-" + db_->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    auto jet = JetSession::Open((dir_ / "t.mdb").string(), true);
    ASSERT_TRUE(jet.ok()) << jet.status().ToString();
    target_ = std::make_unique<RecordingTarget>(std::move(*jet));
  }
  void Prepare(const velquin::testing::MySqlServer& server) {
    PrepareEmpty(server);
    if (!db_) return;
    db_->Exec("CREATE TABLE parent (id int PRIMARY KEY, name varchar(20))");
    db_->Exec(
        "CREATE TABLE child (id int PRIMARY KEY, parent_id int, note varchar(40), "
        "CONSTRAINT fk_child FOREIGN KEY (parent_id) REFERENCES parent (id))");
    db_->Exec(
        "CREATE TABLE `odd.name` (id int PRIMARY KEY, `x.y` int, "
        "CONSTRAINT `fk.odd` FOREIGN KEY (`x.y`) REFERENCES child (id))");
    db_->Exec("CREATE TABLE `with space` (id int PRIMARY KEY, v varchar(10))");
    db_->Exec("INSERT INTO parent VALUES (1, 'p')");
    db_->Exec("INSERT INTO child VALUES (1, 1, 'it''s'), (2, NULL, NULL)");
    db_->Exec("INSERT INTO `odd.name` VALUES (1, 2)");
    db_->Exec("INSERT INTO `with space` VALUES (1, 'a b')");
    db_->Exec("CREATE VIEW v AS SELECT c.note FROM child c JOIN `odd.name` o ON o.`x.y` = c.id");
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  MigrationPipeline Make(PipelineSettings settings = {}) {
    settings.data_dir = dir_;
    return MigrationPipeline(std::move(settings),
                             [this](const std::string& l) { lines_.push_back(l); });
  }
  std::size_t Count(const std::string& text) const {
    return std::count(lines_.begin(), lines_.end(), text);
  }
  std::ptrdiff_t FirstIndex(const std::string& prefix) const {
    for (std::size_t i = 0; i < target_->statements.size(); ++i) {
      if (target_->statements[i].rfind(prefix, 0) == 0) return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
  }
  std::ptrdiff_t LastIndex(const std::string& prefix) const {
    std::ptrdiff_t last = -1;
    for (std::size_t i = 0; i < target_->statements.size(); ++i) {
      if (target_->statements[i].rfind(prefix, 0) == 0) last = static_cast<std::ptrdiff_t>(i);
    }
    return last;
  }

  const MigrationReport* Report(const MigrationPipeline& p, const std::string& name) {
    reports_ = p.Reports();
    for (const MigrationReport& r : reports_) {
      if (r.source_name == name) return &r;
    }
    return nullptr;
  }
  const std::string* Statement(const std::string& prefix) const {
    std::ptrdiff_t i = FirstIndex(prefix);
    return i < 0 ? nullptr : &target_->statements[static_cast<std::size_t>(i)];
  }
  bool Runs(const std::string& sql) { return target_->Execute(sql).ok(); }

  std::vector<MigrationReport> reports_;
  std::unique_ptr<velquin::testing::TestDatabase> db_;
  fs::path dir_;
  std::unique_ptr<RecordingTarget> target_;
  std::vector<std::string> lines_;
};

TEST_F(PipelineMariaDbTest, TablesThenRelationshipsThenViewsWithConsistentNames) {
  VELQUIN_REQUIRE_MYSQL(server);
  Prepare(server);
  auto pipeline = Make();
  ASSERT_EQ(pipeline.ConvertDatabaseTables(&db_->session(), target_.get(), db_->name()), 0);
  ASSERT_EQ(pipeline.ConvertDatabaseViews(&db_->session(), target_.get(), db_->name()), 0);

  // Order: every CREATE TABLE, then the relationships, then the view.
  EXPECT_LT(LastIndex("create table"), FirstIndex("Alter Table"));
  EXPECT_LT(LastIndex("Alter Table"), FirstIndex("create view"));
  // Names renamed once and used everywhere.
  EXPECT_THAT(target_->statements, Contains(HasSubstr("create table `odd_name`")));
  EXPECT_THAT(target_->statements,
              Contains(HasSubstr("ADD CONSTRAINT `fk_odd` FOREIGN KEY (`x_y`)")));
  EXPECT_THAT(target_->statements, Contains(HasSubstr("`o`.`x_y`")));
  EXPECT_THAT(lines_, Contains("Renamed for Access: table or view `odd.name` -> `odd_name`"));
  // The table with a space is migrated.
  EXPECT_THAT(target_->statements,
              Contains("insert into `with space` (`id`,`v`) values (1,'a b')\n"));
  // Rows went in as their statements, exactly.
  EXPECT_THAT(target_->statements,
              Contains("insert into `child` (`id`,`parent_id`,`note`) values (1,1,'it''s')\n"));
  EXPECT_THAT(target_->statements,
              Contains("insert into `child` (`id`,`parent_id`,`note`) values (2,NULL,NULL)\n"));
  for (const MigrationReport& r : pipeline.Reports()) {
    if (r.kind == ObjectKind::kTable) {
      EXPECT_EQ(r.read, r.written) << r.source_name;
      EXPECT_EQ(r.refused, 0u) << r.source_name;
    }
    if (r.source_name != "child" && r.source_name != "odd.name") {
      EXPECT_TRUE(r.ok) << r.source_name << ": " << r.reason;
    }
  }
}

TEST_F(PipelineMariaDbTest, RelationshipsToAFailedTableAreReportedOnceByName) {
  VELQUIN_REQUIRE_MYSQL(server);
  Prepare(server);
  target_->refuse_prefix = "create table `parent`";
  auto pipeline = Make();
  pipeline.ConvertDatabaseTables(&db_->session(), target_.get(), db_->name());
  EXPECT_EQ(Count("E::Relationship [fk_child] of table [child] not created: the table [parent] "
                  "it references was not migrated"),
            1u);
  bool parent_failed = false, child_failed = false;
  for (const MigrationReport& r : pipeline.Reports()) {
    if (r.source_name == "parent") parent_failed = !r.ok && r.status == "failed";
    if (r.source_name == "child") child_failed = !r.ok;
  }
  EXPECT_TRUE(parent_failed);
  EXPECT_TRUE(child_failed);
  EXPECT_THAT(lines_, Contains(HasSubstr("E::TABLE: Create [")));
  // No row of the failed table was sent.
  EXPECT_EQ(FirstIndex("insert into `parent`"), -1);
}

TEST_F(PipelineMariaDbTest, ATableMigratedAgainInANewRunIsPlannedFromItsNewDefinition) {
  VELQUIN_REQUIRE_MYSQL(server);
  Prepare(server);
  auto pipeline = Make();
  ASSERT_EQ(pipeline.MigrateTable(&db_->session(), target_.get(), db_->name(), "parent"), 1);
  db_->Exec("ALTER TABLE parent ADD COLUMN extra varchar(5) NOT NULL DEFAULT 'x'");
  ASSERT_TRUE(target_->Execute("DROP TABLE `parent`").ok());
  pipeline.BeginRun();
  ASSERT_EQ(pipeline.MigrateTable(&db_->session(), target_.get(), db_->name(), "parent"), 1);
  const MigrationReport r = pipeline.Reports().back();
  EXPECT_TRUE(r.ok) << r.reason;
  EXPECT_EQ(r.written, 1u);
  EXPECT_EQ(r.refused, 0u);
  EXPECT_THAT(target_->statements, Contains(HasSubstr("values (1,'p','x')")));
}

TEST_F(PipelineMariaDbTest, FailedCatalogueQueriesFailTheirObjectsLinesWithTheReason) {
  VELQUIN_REQUIRE_MYSQL(server);
  Prepare(server);
  FailingSource source(db_->session());
  source.fail_queries_with = "REFERENTIAL_CONSTRAINTS";
  source.fail_view_listing = true;
  auto pipeline = Make();
  pipeline.ConvertDatabaseTables(&source, target_.get(), db_->name());
  EXPECT_EQ(pipeline.ConvertDatabaseViews(&source, target_.get(), db_->name()), -1);
  std::size_t tables = 0;
  bool views_line = false;
  for (const MigrationReport& r : pipeline.Reports()) {
    if (r.kind == ObjectKind::kTable) {
      ++tables;
      EXPECT_FALSE(r.ok) << r.source_name;
      EXPECT_THAT(r.reason, HasSubstr("the foreign keys could not be read: Lost connection"))
          << r.source_name;
    } else {
      views_line = r.source_name == "(views)" && r.status == "failed" &&
                   r.reason.find("the views could not be listed") != std::string::npos;
    }
  }
  EXPECT_EQ(tables, 4u);
  EXPECT_TRUE(views_line);
}

TEST_F(PipelineMariaDbTest, StopRequestEndsTheCopyTheWalkAndSkipsTheRest) {
  VELQUIN_REQUIRE_MYSQL(server);
  Prepare(server);
  db_->Exec("CREATE TABLE aaa_many (id int PRIMARY KEY, v int)");
  db_->Exec("INSERT INTO aaa_many SELECT seq, seq FROM seq_1_to_5000");
  PipelineSettings settings;
  int asked = 0;
  settings.stop_requested = [&] { return ++asked > 2500; };
  auto pipeline = Make(settings);
  pipeline.ConvertDatabaseTables(&db_->session(), target_.get(), db_->name());
  auto at = [&](const std::string& text) {
    return std::find(lines_.begin(), lines_.end(), text) - lines_.begin();
  };
  const auto terminated = at("Data Converting Terminaled!");
  ASSERT_LT(terminated, static_cast<std::ptrdiff_t>(lines_.size()));
  // (The walk asked once before the table, the copy after each row.)
  EXPECT_EQ(lines_[terminated + 1], "[aaa_many] rows read 2500, written 2500, refused 0");
  EXPECT_EQ(at("[aaa_many] 2500 records converted, convertion completed SUCCESSFULLY!"),
            static_cast<std::ptrdiff_t>(lines_.size()));
  EXPECT_LT(at("Tables Converting Terminaled!"), static_cast<std::ptrdiff_t>(lines_.size()));
  // Nothing after the stop: no relationships, no view; every other table
  // is in the reports as not started.
  EXPECT_EQ(at("Convert Relationships of database [" + db_->name() + "]"),
            static_cast<std::ptrdiff_t>(lines_.size()));
  pipeline.ConvertDatabaseViews(&db_->session(), target_.get(), db_->name());
  EXPECT_EQ(std::count_if(lines_.begin(), lines_.end(),
                          [](const std::string& l) { return l.starts_with("VIEW: ["); }),
            0);
  const auto reports = pipeline.Reports();
  ASSERT_GE(reports.size(), 3u);
  EXPECT_EQ(reports.front().status, "stopped");
  for (std::size_t i = 1; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].status, "not started") << reports[i].source_name;
  }
  // The next run into the same file names the table left half copied.
  auto next = Make();
  EXPECT_EQ(next.MigrateTable(&db_->session(), target_.get(), db_->name(), "aaa_many"), -1);
  EXPECT_THAT(next.Reports().back().reason,
              HasSubstr("an earlier run left this table half copied (stopped after 2500 of its "
                        "rows); drop it from the target and run again"));
  // A whole copy leaves no marker behind: the table existing is then all
  // that is said.
  ASSERT_TRUE(target_->Execute("DROP TABLE `aaa_many`").ok());
  EXPECT_EQ(next.MigrateTable(&db_->session(), target_.get(), db_->name(), "aaa_many"), 1);
  EXPECT_TRUE(next.Reports().back().ok) << next.Reports().back().reason;
  EXPECT_EQ(next.MigrateTable(&db_->session(), target_.get(), db_->name(), "aaa_many"), -1);
  EXPECT_THAT(next.Reports().back().reason, Not(HasSubstr("half copied")));
}

TEST_F(PipelineMariaDbTest, EveryForeignKeyBecomesAnEnforcedRelationship) {
  VELQUIN_REQUIRE_MYSQL(server);
  PrepareEmpty(server);
  // A foreign key without its own index (InnoDB names its index after the
  // constraint), one beside an index of its own on the same column, a cycle
  // between AutoNumber keys met first through a third table, a composite
  // key, a self-reference, and names Access keeps for itself.
  db_->Exec("SET FOREIGN_KEY_CHECKS = 0");
  db_->Exec(
      "CREATE TABLE a_customer (id int PRIMARY KEY, store_id tinyint unsigned NOT NULL, "
      "CONSTRAINT fk_customer_store FOREIGN KEY (store_id) REFERENCES store (store_id))");
  db_->Exec(
      "CREATE TABLE store (store_id tinyint unsigned AUTO_INCREMENT PRIMARY KEY, "
      "manager_staff_id tinyint unsigned NOT NULL, KEY idx_manager (manager_staff_id), "
      "CONSTRAINT fk_store_staff FOREIGN KEY (manager_staff_id) REFERENCES staff (staff_id))");
  db_->Exec(
      "CREATE TABLE staff (staff_id tinyint unsigned AUTO_INCREMENT PRIMARY KEY, "
      "store_id tinyint unsigned NOT NULL, boss tinyint unsigned, "
      "CONSTRAINT fk_staff_store FOREIGN KEY (store_id) REFERENCES store (store_id), "
      "CONSTRAINT fk_staff_boss FOREIGN KEY (boss) REFERENCES staff (staff_id))");
  db_->Exec("CREATE TABLE pair (a int, b smallint, PRIMARY KEY (a, b))");
  db_->Exec(
      "CREATE TABLE pair_use (id int PRIMARY KEY, a int, b smallint, "
      "CONSTRAINT fk_pair FOREIGN KEY (a, b) REFERENCES pair (a, b))");
  db_->Exec(
      "CREATE TABLE MSysObjects (id int PRIMARY KEY, v smallint, KEY PrimaryKey (v), "
      "CONSTRAINT fk_sys_pair FOREIGN KEY (id, v) REFERENCES pair (a, b))");
  db_->Exec("INSERT INTO store VALUES (1, 1)");
  db_->Exec("INSERT INTO staff VALUES (1, 1, NULL), (2, 1, 1)");
  db_->Exec("INSERT INTO a_customer VALUES (10, 1)");
  db_->Exec("INSERT INTO pair VALUES (1, 2)");
  db_->Exec("INSERT INTO pair_use VALUES (1, 1, 2)");
  db_->Exec("INSERT INTO MSysObjects VALUES (1, 2)");
  db_->Exec("SET FOREIGN_KEY_CHECKS = 1");

  auto pipeline = Make();
  ASSERT_EQ(pipeline.ConvertDatabaseTables(&db_->session(), target_.get(), db_->name()), 0);
  for (const MigrationReport& r : pipeline.Reports()) {
    EXPECT_TRUE(r.ok) << r.source_name << ": " << r.reason;
    EXPECT_EQ(r.status, "migrated") << r.source_name;
    EXPECT_EQ(r.written, r.read) << r.source_name;
  }
  EXPECT_EQ(Count("Create FOREIGN KEY SUCCESSFULLY!!!"), 6u);
  EXPECT_EQ(Count("E::Create Relationship failure!"), 0u);
  // The cycle's columns take the type of the AutoNumber they reference.
  const std::string* staff = Statement("create table `staff`");
  ASSERT_NE(staff, nullptr);
  EXPECT_THAT(*staff, HasSubstr("`store_id` LONG "));
  // Access's own names are not taken.
  EXPECT_EQ(Report(pipeline, "MSysObjects")->access_name, "_MSysObjects");
  EXPECT_THAT(target_->statements, Contains("CREATE INDEX `PrimaryKey_2` ON `_MSysObjects` (`v`)"));
  // Every relationship is enforced: orphans are refused, related rows go in.
  EXPECT_FALSE(Runs("insert into `a_customer` (`id`,`store_id`) values (11,9)"));
  EXPECT_FALSE(Runs("insert into `staff` (`staff_id`,`store_id`,`boss`) values (3,1,7)"));
  EXPECT_FALSE(Runs("insert into `pair_use` (`id`,`a`,`b`) values (2,1,3)"));
  EXPECT_FALSE(Runs("insert into `_MSysObjects` (`id`,`v`) values (5,5)"));
  EXPECT_TRUE(Runs("insert into `staff` (`staff_id`,`store_id`,`boss`) values (3,1,2)"));
}

TEST_F(PipelineMariaDbTest, TextOfSourceQueriesHonoursNoBackslashEscapes) {
  VELQUIN_REQUIRE_MYSQL(server);
  PrepareEmpty(server);
  db_->Exec("CREATE TABLE `o\\p` (id int PRIMARY KEY)");
  db_->Exec(
      "CREATE TABLE `o'child` (id int PRIMARY KEY, pid int, "
      "CONSTRAINT fk_o FOREIGN KEY (pid) REFERENCES `o\\p` (id))");
  auto session =
      OdbcSession::Connect(velquin::testing::DriverConnectionString(server, db_->name()) +
                           "INITSTMT={SET SESSION sql_mode='NO_BACKSLASH_ESCAPES'};");
  ASSERT_TRUE(session.ok()) << session.status().ToString();
  auto pipeline = Make();
  ASSERT_EQ(pipeline.ConvertDatabaseTables(session->get(), target_.get(), db_->name()), 0);
  EXPECT_EQ(Count("Create FOREIGN KEY SUCCESSFULLY!!!"), 1u);
  for (const MigrationReport& r : pipeline.Reports()) EXPECT_TRUE(r.ok) << r.source_name;
  EXPECT_FALSE(Runs("insert into `o'child` (`id`,`pid`) values (1,5)"));
}

TEST_F(PipelineMariaDbTest, ViewsUseTheNamesTheirTablesWereGivenInDependencyOrder) {
  VELQUIN_REQUIRE_MYSQL(server);
  PrepareEmpty(server);
  db_->Exec("CREATE TABLE `d.t` (id int PRIMARY KEY, `a.b` int, a_b int, `x y` int)");
  db_->Exec("CREATE TABLE region (id int PRIMARY KEY)");
  db_->Exec("INSERT INTO `d.t` VALUES (1, 1, 2, 0), (2, 2, 1, 0)");
  // Read in catalogue order, each view comes before the view it reads.
  db_->Exec(
      "CREATE VIEW v3 AS SELECT d.`a.b`, d.a_b, d.`x y`, r.id AS Region FROM `d.t` d "
      "JOIN region r ON r.id = d.id WHERE d.`a.b` = 1");
  db_->Exec("CREATE VIEW v2 AS SELECT `a.b` AS `k.k`, Region FROM v3");
  db_->Exec("CREATE VIEW v1 AS SELECT v.`k.k` FROM v2 v");
  auto pipeline = Make();
  ASSERT_EQ(pipeline.ConvertDatabaseTables(&db_->session(), target_.get(), db_->name()), 0);
  ASSERT_EQ(pipeline.ConvertDatabaseViews(&db_->session(), target_.get(), db_->name()), 0);
  for (const MigrationReport& r : pipeline.Reports())
    EXPECT_TRUE(r.ok) << r.source_name << ": " << r.reason;
  EXPECT_LT(FirstIndex("create view `v3`"), FirstIndex("create view `v2`"));
  EXPECT_LT(FirstIndex("create view `v2`"), FirstIndex("create view `v1`"));
  const std::string* v3 = Statement("create view `v3`");
  ASSERT_NE(v3, nullptr);
  EXPECT_THAT(*v3, HasSubstr("`d`.`a_b_2` AS `a_b_2`,`d`.`a_b` AS `a_b`,`d`.`x y` AS `x y`"));
  EXPECT_THAT(*v3, HasSubstr("`r`.`id` AS `Region` from (`d_t` `d` inner join `region` `r`"));
  EXPECT_THAT(*v3, HasSubstr("where `d`.`a_b_2` = 1"));
  EXPECT_THAT(*Statement("create view `v2`"),
              HasSubstr("select `v3`.`a_b_2` AS `k_k`,`v3`.`Region` AS `Region` from `v3`"));
  EXPECT_THAT(*Statement("create view `v1`"), HasSubstr("select `v`.`k_k` AS `k_k` from `v2` `v`"));
  // An alias is not an object: no table was renamed for it.
  EXPECT_EQ(Report(pipeline, "region")->access_name, "region");
  EXPECT_THAT(pipeline.RenameLines(),
              ::testing::UnorderedElementsAre(
                  "table or view `d.t` -> `d_t`", "column `d.t`.`a.b` -> `a_b_2`",
                  "column `v1`.`k.k` -> `k_k`", "column `v2`.`k.k` -> `k_k`",
                  "column `v3`.`a.b` -> `a_b_2`"));
}

TEST_F(PipelineMariaDbTest, AViewReadingAFailedViewIsReportedByName) {
  VELQUIN_REQUIRE_MYSQL(server);
  PrepareEmpty(server);
  db_->Exec("CREATE TABLE t (id int PRIMARY KEY, g int)");
  db_->Exec("CREATE VIEW w1 AS SELECT g, GROUP_CONCAT(id) AS ids FROM t GROUP BY g");
  db_->Exec("CREATE VIEW w0 AS SELECT g FROM w1");
  auto pipeline = Make();
  pipeline.ConvertDatabaseTables(&db_->session(), target_.get(), db_->name());
  pipeline.ConvertDatabaseViews(&db_->session(), target_.get(), db_->name());
  const MigrationReport* w0 = Report(pipeline, "w0");
  ASSERT_NE(w0, nullptr);
  EXPECT_FALSE(w0->ok);
  EXPECT_EQ(w0->reason, "the view [w1] it reads was not migrated");
  EXPECT_THAT(lines_,
              Contains("E::VIEW [w0] not created: the view [w1] it reads was not migrated"));
}

// A unique text key whose values Access takes as equal keeps its unique
// index: the later row is refused with the reason, nothing else is lost.
// Without data files the rows go in all the same, and the run's stages are
// timed.
TEST_F(PipelineMariaDbTest, TextKeyClashesRefuseTheLaterRowAndDataFilesAreOptional) {
  VELQUIN_REQUIRE_MYSQL(server);
  Prepare(server);
  db_->Exec(
      "CREATE TABLE codes (id int PRIMARY KEY, code varchar(10) COLLATE utf8mb4_bin NOT NULL, "
      "UNIQUE KEY uq_code (code))");
  db_->Exec("INSERT INTO codes VALUES (1, 'Abc'), (2, 'abc '), (3, 'b')");
  PipelineSettings settings;
  settings.only_tables = {"codes", "parent", "child"};
  settings.data_files = false;
  auto pipeline = Make(settings);
  ASSERT_EQ(pipeline.ConvertDatabaseTables(&db_->session(), target_.get(), db_->name()), 0);

  EXPECT_THAT(target_->statements, Contains("CREATE UNIQUE INDEX `uq_code` ON `codes` (`code`)"));
  const MigrationReport* codes = nullptr;
  const std::vector<MigrationReport> reports = pipeline.Reports();  // a copy: keep it alive
  for (const MigrationReport& r : reports) {
    if (r.source_name == "codes") codes = &r;
    if (r.kind == ObjectKind::kTable) {
      EXPECT_TRUE(r.data_file.empty()) << r.source_name;
    }
  }
  ASSERT_NE(codes, nullptr);
  EXPECT_EQ(codes->read, 3u);
  EXPECT_EQ(codes->written, 2u);
  EXPECT_EQ(codes->refused, 1u);
  EXPECT_THAT(lines_, Contains(HasSubstr("E::[codes] row 2 refused: ")));
  EXPECT_FALSE(fs::exists(dir_ / "codes.data"));
  EXPECT_FALSE(fs::exists(dir_ / "child.data"));
  // The refused row is kept as its statement all the same.
  std::ifstream rejects(dir_ / "codes.rejects");
  std::string text((std::istreambuf_iterator<char>(rejects)), std::istreambuf_iterator<char>());
  EXPECT_THAT(text, HasSubstr("insert into `codes` (`id`,`code`) values (2,'abc ')"));

  std::vector<std::string> stages;
  for (const auto& s : pipeline.timings().Stages()) {
    EXPECT_GE(s.seconds, 0.0) << s.name;
    stages.push_back(s.name);
  }
  for (const char* want : {"source catalogue queries", "create tables", "primary keys and indexes",
                           "rows codes", "rows child", "relationships child"}) {
    EXPECT_THAT(stages, Contains(std::string(want)));
  }
}

}  // namespace
}  // namespace velquin
