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

#include "../db/mysql_test_support.h"
#include "db/jet_session.h"
#include "migrate/pipeline.h"

namespace velquin {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;

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

class PipelineMariaDbTest : public ::testing::Test {
 protected:
  void Prepare(const velquin::testing::MySqlServer& server) {
    db_ = velquin::testing::TestDatabase::Create(server, "pipe");
    ASSERT_TRUE(db_);
    dir_ = fs::temp_directory_path() / ("velquin-pipe-" + db_->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    auto jet = JetSession::Open((dir_ / "t.mdb").string(), true);
    ASSERT_TRUE(jet.ok()) << jet.status().ToString();
    target_ = std::make_unique<RecordingTarget>(std::move(*jet));
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

TEST_F(PipelineMariaDbTest, StopRequestEndsTheCopyAndTheWalkButNotTheRelationships) {
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
  EXPECT_EQ(lines_[terminated + 1],
            "E::[aaa_many] 2501 records converted, convertion stopped before the end of the "
            "table!");
  // A stop skips the relationships: they are what takes minutes on large tables.
  EXPECT_LT(at("Tables Converting Terminaled!"), static_cast<std::ptrdiff_t>(lines_.size()));
  EXPECT_EQ(at("Convert Relationships of database [" + db_->name() + "]"),
            static_cast<std::ptrdiff_t>(lines_.size()));
  EXPECT_EQ(pipeline.Reports().front().status, "stopped");
}

}  // namespace
}  // namespace velquin
