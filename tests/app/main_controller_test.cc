// MainController: the append helpers the Migrate and Backup commands use,
// the session places that routines read at each step, and shutdown.
#include "app/main_controller.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "../tasks/fake_task_operations.h"
#include "log/output_log.h"

namespace velquin {
namespace {

using namespace std::chrono_literals;
using testing::FakeTaskOperations;

MainControllerOptions FastOptions(std::chrono::milliseconds pass_interval = 2ms) {
  MainControllerOptions o;
  o.timings.thread_start_wait = 1ms;
  o.timings.pass_interval = pass_interval;
  o.timings.routine_wait = 0ms;
  o.timings.start_worker_wait = 0ms;
  o.clock = [] { return int32_t{1304431329}; };
  return o;
}

class MainControllerTest : public ::testing::Test {
 protected:
  MainControllerTest() : controller_(log_, FastOptions()) {
    fake_ = std::make_shared<FakeTaskOperations>();
    controller_.SetTaskOperations(fake_);
    controller_.descriptor(Side::kSource).dbms_name = "MySQL 8.0.36";
    controller_.descriptor(Side::kTarget).dbms_name = "ACCESS 04.00.0000";
  }

  OutputLog log_{1001};
  MainController controller_;
  std::shared_ptr<FakeTaskOperations> fake_;
};

TEST_F(MainControllerTest, MigrationTaskCarriesItsNamesAndRuns) {
  const TaskId id = controller_.AppendMigrationTask(
      TaskKind::kConvertTable,
      {.source_object = "orders", .source_database = "shop", .target_database = "archive"});
  // Appending started the worker.
  EXPECT_NE(controller_.run_state().Load(), RunStateValue::kIdle);
  ASSERT_TRUE(controller_.worker().WaitUntilIdle(10s));

  const auto r = controller_.queue().Find(id);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->type, TaskType::kMigration);
  EXPECT_EQ(r->kind, TaskKind::kConvertTable);
  EXPECT_EQ(r->source_object, "orders");
  EXPECT_EQ(r->source_database, "shop");
  EXPECT_EQ(r->target_database, "archive");
  EXPECT_EQ(r->source_dbms, "MySQL 8.0.36");
  EXPECT_EQ(r->target_dbms, "ACCESS 04.00.0000");
  EXPECT_EQ(r->object_letter, "");
  EXPECT_EQ(r->stamp, 1304431329);
  EXPECT_EQ(r->status, TaskStatus::kSucceeded);
  EXPECT_EQ(fake_->CountCalls("MigrateTable(shop,orders)"), 1u);
  EXPECT_EQ(fake_->CountCalls("SwitchTargetDatabase(archive)"), 1u);
}

TEST_F(MainControllerTest, BackupTaskCarriesLetterAndTargetOnly) {
  const TaskId id =
      controller_.AppendBackupTask(TaskKind::kBackupObject, kLetterViews, "archive", "v_sales");
  ASSERT_TRUE(controller_.worker().WaitUntilIdle(10s));
  const auto r = controller_.queue().Find(id);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->type, TaskType::kBackup);
  EXPECT_EQ(r->object_letter, "V");
  EXPECT_EQ(r->target_database, "archive");
  EXPECT_EQ(r->target_object, "v_sales");
  EXPECT_EQ(r->target_dbms, "ACCESS 04.00.0000");
  EXPECT_EQ(r->source_dbms, "");  // backup records carry no source
  EXPECT_EQ(r->status, TaskStatus::kSucceeded);
  EXPECT_EQ(fake_->CountCalls("BackupView(archive,v_sales)"), 1u);
}

TEST_F(MainControllerTest, TasksAppendedOneAfterAnotherRunInOrder) {
  for (const char* table : {"a", "b", "c"}) {
    controller_.AppendMigrationTask(
        TaskKind::kConvertTable,
        {.source_object = table, .source_database = "s", .target_database = "t"});
  }
  // Start again until nothing waits (a task appended just as the worker
  // wound down waits for the next start).
  for (int i = 0; i < 10 && controller_.queue().HasPending(); ++i) {
    ASSERT_TRUE(controller_.worker().WaitUntilIdle(10s));
    controller_.StartWorker();
  }
  ASSERT_TRUE(controller_.worker().WaitUntilIdle(10s));
  std::vector<std::string> tables;
  for (const auto& call : fake_->Calls()) {
    if (call.rfind("MigrateTable", 0) == 0) tables.push_back(call);
  }
  EXPECT_THAT(tables, ::testing::ElementsAre("MigrateTable(s,a)", "MigrateTable(s,b)",
                                             "MigrateTable(s,c)"));
}

// ---- Session places ----

struct FakeSession : SessionHandle {
  explicit FakeSession(std::string n) : name(std::move(n)) {}
  std::string name;
};

// Operations as the real ones are built: they look the session up in the
// controller at every step.
class SessionReadingOperations : public FakeTaskOperations {
 public:
  explicit SessionReadingOperations(MainController& c) : controller_(c) {}
  bool SwitchTargetDatabase(const std::string& db) override {
    // A database switch reconnects the target side.
    controller_.session(Side::kTarget).Set(std::make_shared<FakeSession>("target:" + db));
    return FakeTaskOperations::SwitchTargetDatabase(db);
  }
  bool MigrateTable(const std::string& db, const std::string& table) override {
    auto s = std::static_pointer_cast<FakeSession>(controller_.session(Side::kTarget).Get());
    seen_target = s ? s->name : "none";
    return FakeTaskOperations::MigrateTable(db, table);
  }
  std::string seen_target;

 private:
  MainController& controller_;
};

TEST(SessionPlaceTest, ReconnectDuringATaskIsSeenByItsLaterSteps) {
  OutputLog log(100);
  MainController controller(log, FastOptions());
  auto ops = std::make_shared<SessionReadingOperations>(controller);
  controller.SetTaskOperations(ops);
  controller.session(Side::kTarget).Set(std::make_shared<FakeSession>("target:old"));

  controller.AppendMigrationTask(
      TaskKind::kConvertTable,
      {.source_object = "t", .source_database = "s", .target_database = "new"});
  ASSERT_TRUE(controller.worker().WaitUntilIdle(10s));
  EXPECT_EQ(ops->seen_target, "target:new");
}

TEST(SessionPlaceTest, SessionInUseOutlivesItsReplacement) {
  SessionPlace place;
  EXPECT_FALSE(place.connected());
  place.Set(std::make_shared<FakeSession>("first"));
  std::shared_ptr<SessionHandle> in_use = place.Get();
  std::weak_ptr<SessionHandle> watch = in_use;
  place.Set(std::make_shared<FakeSession>("second"));
  EXPECT_FALSE(watch.expired());  // still used by the step that holds it
  in_use.reset();
  EXPECT_TRUE(watch.expired());
  place.Reset();
  EXPECT_FALSE(place.connected());
}

class EndObserver : public WorkerObserver {
 public:
  void OnStatusText(std::string_view text) override {
    std::lock_guard<std::mutex> lock(mu_);
    last_ = text;
  }
  std::string last() {
    std::lock_guard<std::mutex> lock(mu_);
    return last_;
  }

 private:
  std::mutex mu_;
  std::string last_;
};

TEST(MainControllerLifetimeTest, DestroyedWhileTheWorkerSleepsEndsTheWorker) {
  OutputLog log(100);
  auto fake = std::make_shared<FakeTaskOperations>();
  auto observer = std::make_shared<EndObserver>();
  {
    // A pass interval far beyond any test: destruction must cut it short.
    MainController controller(log, FastOptions(std::chrono::hours(1)));
    controller.SetTaskOperations(fake);
    controller.SetWorkerObserver(observer);
    const TaskId odd = controller.queue().Append([] {
      TaskRecord r;
      r.kind = static_cast<TaskKind>(300);  // keeps the worker alive
      return r;
    }());
    controller.StartWorker();
    while (controller.queue().Find(odd)->state_text != "Working") std::this_thread::yield();
  }
  // The destructor cut the hour-long sleep short and the worker ended
  // properly, telling the window so.
  EXPECT_EQ(observer->last(), "NO PROCESSING!!!");
}

}  // namespace
}  // namespace velquin
