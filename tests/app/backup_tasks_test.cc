// Backup tasks (kinds 513 and 514) run by the worker through the real task
// operations: the chosen folder, AutoBackup, the output lines and a task
// that ends FAILURE when an object could not be written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main_controller.h"
#include "app/pipeline_operations.h"
#include "db/jet_session.h"
#include "log/output_log.h"

namespace velquin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class BackupTasksTest : public ::testing::Test {
 protected:
  BackupTasksTest() {
    dir_ = fs::temp_directory_path() / ("velquin_backup_tasks_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    MainControllerOptions o;
    o.timings.thread_start_wait = 1ms;
    o.timings.pass_interval = 5ms;
    o.timings.routine_wait = 0ms;
    o.timings.start_worker_wait = 0ms;
    controller_ = std::make_unique<MainController>(log_, o);
    auto opener = [](const std::string& database, bool create) -> Result<std::unique_ptr<Session>> {
      auto s = JetSession::Open(database + ".mdb", create);
      if (!s.ok()) return s.status();
      return std::unique_ptr<Session>(std::move(*s));
    };
    controller_->SetTaskOperations(
        std::make_shared<PipelineOperations>(*controller_, PipelineSettings{}, opener));
    auto shop = JetSession::Open((dir_ / "shop.mdb").string(), true);
    EXPECT_TRUE(shop.ok());
    for (const char* sql :
         {"CREATE TABLE t (id LONG PRIMARY KEY, name TEXT(20))", "INSERT INTO t VALUES (1, 'a')",
          "INSERT INTO t VALUES (2, 'b''c')", "CREATE VIEW v AS SELECT name FROM t WHERE id > 1"}) {
      EXPECT_TRUE((*shop)->Execute(sql).ok()) << sql;
    }
  }
  ~BackupTasksTest() override {
    controller_.reset();
    fs::remove_all(dir_);
  }

  TaskStatus Run(TaskKind kind, const std::string& letter, const std::string& object = "") {
    const TaskId id = controller_->AppendBackupTask(kind, letter, (dir_ / "shop").string(), object);
    EXPECT_TRUE(controller_->worker().WaitUntilIdle(30s));
    return controller_->queue().Find(id)->status;
  }
  bool Logged(const std::string& text) const {
    for (const LogLine& l : log_.model().Snapshot()) {
      if (l.text == text) return true;
    }
    return false;
  }

  fs::path dir_;
  OutputLog log_{5000};
  std::unique_ptr<MainController> controller_;
};

TEST_F(BackupTasksTest, DatabaseBackupWritesScriptsUnderTheChosenFolder) {
  controller_->SetBackupFolder((dir_ / "chosen").string());
  controller_->SetAutoBackup(true);
  EXPECT_EQ(Run(TaskKind::kBackupDatabaseObjects, "A"), TaskStatus::kSucceeded);
  const fs::path base = dir_ / "chosen" / "shop";
  EXPECT_TRUE(fs::exists(base / "TABLES" / "t.tbl"));
  EXPECT_TRUE(fs::exists(base / "VIEWS" / "v.vw"));
  EXPECT_EQ(
      fs::file_size(base / "DATA" / "t.data"),
      std::string("INSERT INTO t VALUES (1,'a');\r\nINSERT INTO t VALUES (2,'b''c');\r\n").size());
  EXPECT_TRUE(Logged("Backup Tables of database [" + (dir_ / "shop").string() + "]"));
  EXPECT_TRUE(Logged("[t]       2 records backuped!"));
  EXPECT_TRUE(Logged("Bakcup View [" + (dir_ / "shop").string() + "].[v]"));
  EXPECT_TRUE(Logged("Operation completed SUCCESSFULLY!"));

  // AutoBackup off: the one table's script is written where the database
  // backup left off, its data script is not.
  controller_->SetAutoBackup(false);
  EXPECT_EQ(Run(TaskKind::kBackupObject, "T", "t"), TaskStatus::kSucceeded);
  EXPECT_FALSE(fs::exists(base / "DATA" / "t.data"));
  EXPECT_TRUE(Logged("[t] rows not backed up: AutoBackup is off"));
}

TEST_F(BackupTasksTest, AnObjectThatCannotBeWrittenFailsTheTask) {
  {
    auto shop = JetSession::Open((dir_ / "shop.mdb").string());
    ASSERT_TRUE(shop.ok());
    ASSERT_TRUE((*shop)->Execute("CREATE TABLE [x/y] (a LONG)").ok());
  }
  controller_->SetBackupFolder((dir_ / "chosen").string());
  controller_->SetAutoBackup(true);
  EXPECT_EQ(Run(TaskKind::kBackupDatabaseObjects, "T"), TaskStatus::kFailed);
  EXPECT_TRUE(Logged("Perhaps CHARACTER SET not correct!\nPlease change and try again."));
  EXPECT_TRUE(Logged("Operation FAILURE!"));
  // The other table was written all the same.
  EXPECT_TRUE(fs::exists(dir_ / "chosen" / "shop" / "DATA" / "t.data"));
  EXPECT_EQ(Run(TaskKind::kBackupObject, "V", "no such view"), TaskStatus::kFailed);
}

}  // namespace
}  // namespace velquin
