// The tree commands and the dialogs, driven through the window with the
// sample catalogues; every message box and modal dialog is answered here.
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "app/tree_commands.h"
#include "base/version.h"
#include "demo_access.h"
#include "gui_test_support.h"
#include "log/output_log.h"
#include "ui/config_dialog.h"
#include "ui/driver_check_dialog.h"
#include "ui/main_window.h"
#include "ui/plan_dialog.h"
#include "ui/qt_message_boxes.h"
#include "ui/small_dialogs.h"

namespace velquin::ui {
namespace {

namespace fs = std::filesystem;
using testing_support::App;
using testing_support::ScriptedBoxes;
using testing_support::WhenOpen;

class DialogsTest : public ::testing::Test {
 protected:
  DialogsTest()
      : controller_(log_),
        access_(DemoSourceCatalog(), DemoTargetCatalog()),
        host_(controller_, access_) {
    App();
    dir_ = fs::path(VELQUIN_BINARY_DIR) / "test-tmp" /
           (std::string("ui-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // A view and a second table in the target's database.
    auto& db = access_.target().databases[0];
    db.tables.push_back({"orders", {"id"}, {}});
    db.views.push_back({"big_orders", {"id"}, ""});
    window_ = std::make_unique<MainWindow>(&host_);
    window_->SetMessageBoxes(&boxes_);
    window_->SetConfigFile(dir_ / "migrator.cfg");
    window_->RunCommand(cmd::kConnect);
  }
  ~DialogsTest() override {
    window_.reset();
    fs::remove_all(dir_);
  }
  TreeNode* Find(bool target, const std::string& text) {
    DbTree& tree = target ? host_.target_tree() : host_.source_tree();
    for (const TreeNode* n : tree.Walk()) {
      if (n->text() == text) return const_cast<TreeNode*>(n);
    }
    return nullptr;
  }
  void Select(bool target, const std::string& text) {
    TreeNode* node = Find(target, text);
    ASSERT_NE(node, nullptr) << text;
    (target ? window_->target_view() : window_->source_view())->SelectNode(node);
  }

  OutputLog log_;
  MainController controller_;
  MemoryDatabaseAccess access_;
  ControllerHost host_;
  ScriptedBoxes boxes_;
  fs::path dir_;
  std::unique_ptr<MainWindow> window_;
};

constexpr int kDeleteDatabase = 32772, kClearAllTables = 32773, kClearAllData = 32790,
              kDropTable = 32787, kDropView = 32788, kStorageEngine = 32794, kChangeCharset = 32774,
              kNewDatabase = 32775, kCondition = 32776;

TEST_F(DialogsTest, DropTableAndViewAskNothingAndRemoveTheirNodes) {
  Select(true, "orders");
  window_->RunCommand(kDropTable);
  Select(true, "big_orders");
  window_->RunCommand(kDropView);
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_EQ(Find(true, "orders"), nullptr);
  EXPECT_EQ(Find(true, "big_orders"), nullptr);
  EXPECT_NE(Find(true, "customers"), nullptr);
  EXPECT_EQ(access_.target().databases[0].tables.size(), 1u);
  EXPECT_TRUE(access_.target().databases[0].views.empty());
}

TEST_F(DialogsTest, DatabaseCommandsNeedADatabaseAndBothAnswers) {
  Select(true, "customers");
  for (int command : {kDeleteDatabase, kClearAllTables, kClearAllData}) {
    boxes_.shown.clear();
    window_->RunCommand(command);
    EXPECT_EQ(boxes_.shown, std::vector<std::string>{"No Database in TARGET Side be Selected!"});
  }
  // Cancel on the first question, then No on the second: nothing changes.
  Select(true, "/srv/data/shop");
  for (auto answers : {std::deque<BoxAnswer>{BoxAnswer::kCancel},
                       std::deque<BoxAnswer>{BoxAnswer::kOk, BoxAnswer::kNo}}) {
    for (int command : {kDeleteDatabase, kClearAllTables, kClearAllData}) {
      boxes_.answers = answers;
      window_->RunCommand(command);
    }
  }
  EXPECT_EQ(access_.target().databases.size(), 1u);
  EXPECT_EQ(access_.target().databases[0].tables.size(), 2u);
  EXPECT_TRUE(access_.cleared_tables.empty());
}

TEST_F(DialogsTest, ClearAllDataEmptiesTablesAndKeepsThem) {
  Select(true, "/srv/data/shop");
  boxes_.answers = {BoxAnswer::kOk, BoxAnswer::kYes};
  window_->RunCommand(kClearAllData);
  EXPECT_EQ(boxes_.shown[0], "Delete all the data of [/srv/data/shop]?");
  EXPECT_EQ(boxes_.shown[1],
            "After remove, you can not restore [/srv/data/shop] again! Continue?\nPress YES to "
            "Continue Removing!");
  EXPECT_EQ(access_.cleared_tables, (std::vector<std::string>{"customers", "orders"}));
  EXPECT_EQ(access_.target().databases[0].tables.size(), 2u);
  EXPECT_NE(Find(true, "customers"), nullptr);
  EXPECT_NE(Find(true, "orders"), nullptr);
}

TEST_F(DialogsTest, ClearAllTablesDropsViewsThenTablesAndRelists) {
  Select(true, "/srv/data/shop");
  boxes_.answers = {BoxAnswer::kOk, BoxAnswer::kYes};
  window_->RunCommand(kClearAllTables);
  EXPECT_EQ(boxes_.shown[0], "Remove all the tables of [/srv/data/shop]?");
  EXPECT_TRUE(access_.target().databases[0].tables.empty());
  EXPECT_TRUE(access_.target().databases[0].views.empty());
  EXPECT_EQ(Find(true, "customers"), nullptr);
  EXPECT_NE(Find(true, "/srv/data/shop"), nullptr);
}

TEST_F(DialogsTest, TargetLeftAloneWhileATaskHoldsItsFile) {
  access_.target_busy = true;
  Select(true, "orders");
  window_->RunCommand(kDropTable);
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{kTargetBusy});
  EXPECT_NE(Find(true, "orders"), nullptr);
  Select(true, "/srv/data/shop");
  boxes_.answers = {BoxAnswer::kOk, BoxAnswer::kYes};
  window_->RunCommand(kClearAllData);
  EXPECT_EQ(boxes_.shown.back(), kTargetBusy);
  EXPECT_TRUE(access_.cleared_tables.empty());
}

TEST_F(DialogsTest, StorageEngineItemNamesTheEngineInForce) {
  QAction* item = window_->Action(kStorageEngine);
  window_->RunCommand(kStorageEngine);
  EXPECT_EQ(item->text(), "Change Storage Engine(InnoDB)");
  EXPECT_EQ(boxes_.shown.back(), "Now Storage Engine of MySQL is InnoDB!");
  EXPECT_EQ(host_.target_tree().storage_engine(), "InnoDB");
  window_->RunCommand(kStorageEngine);
  EXPECT_EQ(item->text(), "Change Storage Engine(MyISAM)");
  EXPECT_EQ(boxes_.shown.back(), "Now Storage Engine of MySQL is MyISAM!");
}

TEST_F(DialogsTest, ChangeCharsetSendsFiveStatementsWithTheChosenName) {
  window_->show();
  window_->source_view()->setFocus();
  QApplication::processEvents();
  // Right after Connect "latin1" is checked; cp850 and hp8 sit next to each other.
  WhenOpen<CharsetDialog>([](CharsetDialog* d) {
    EXPECT_TRUE(d->radio(5)->isChecked());
    EXPECT_EQ(d->radio(5)->text(), "latin1");
    d->radio(2)->click();
    EXPECT_EQ(d->name(), "CP850");
    d->radio(21)->click();
    d->select_button()->click();
  });
  window_->RunCommand(kChangeCharset);
  EXPECT_EQ(host_.charset_name(), "UTF8");
  EXPECT_EQ(access_.source_statements, CharsetStatements("UTF8"));
  EXPECT_EQ(access_.source_statements[0], "set character_set_client=UTF8;");
  EXPECT_EQ(access_.source_statements[4], "set character_set_server=UTF8;");
  // Cancel keeps the choice and sends nothing.
  WhenOpen<CharsetDialog>([](CharsetDialog* d) {
    EXPECT_TRUE(d->radio(21)->isChecked());
    d->radio(0)->click();
    d->reject();
  });
  window_->RunCommand(kChangeCharset);
  EXPECT_EQ(host_.charset_name(), "UTF8");
  EXPECT_EQ(access_.source_statements.size(), 5u);
}

TEST_F(DialogsTest, ConditionDialogTestsBeforeItSaves) {
  Select(false, "orders");
  access_.query_answers = {{"bogus", "Unknown column 'bogus' in 'where clause'"},
                           {"total > 100", "42"}};
  WhenOpen<ConditionDialog>([this](ConditionDialog* d) {
    EXPECT_EQ(d->statement_label()->text(), "select * from orders where");
    EXPECT_FALSE(d->save_button()->isEnabled());
    d->condition_box()->setPlainText("total > 100");
    d->test_button()->click();
    EXPECT_EQ(d->result_box()->toPlainText(), "Test successfully!\n  42 Records can be converted.");
    EXPECT_TRUE(d->save_button()->isEnabled());
    d->condition_box()->setPlainText("bogus = 1");
    d->test_button()->click();
    EXPECT_EQ(d->result_box()->toPlainText(),
              "Test failed!\n  Because:  Unknown column 'bogus' in 'where clause'");
    EXPECT_FALSE(d->save_button()->isEnabled());
    // A condition that would end the statement is not sent at all.
    const size_t sent = access_.source_statements.size();
    d->condition_box()->setPlainText("1; DROP TABLE orders");
    d->test_button()->click();
    EXPECT_TRUE(d->result_box()->toPlainText().startsWith("Test failed!"));
    EXPECT_EQ(access_.source_statements.size(), sent);
    EXPECT_FALSE(d->save_button()->isEnabled());
    d->condition_box()->setPlainText("total > 100");
    d->test_button()->click();
    d->save_button()->click();
    EXPECT_FALSE(d->save_button()->isEnabled());
    d->reject();
  });
  window_->RunCommand(kCondition);
  EXPECT_EQ(access_.conditions["shop.orders"], "total > 100");
  EXPECT_EQ(access_.source_statements.front(), "select count(*) from `orders` where total > 100");
}

TEST_F(DialogsTest, NewDatabaseCreatesTheFileChosenAndListsIt) {
  Select(true, "customers");
  window_->RunCommand(kNewDatabase);
  EXPECT_EQ(boxes_.shown.back(),
            "Can only create database in TARGET!!!\nPlease Select Target ROOT to create new "
            "database!");
  std::string asked_in;
  window_->SetNewFileChooser([&](const std::string& folder) -> std::optional<std::string> {
    asked_in = folder;
    return std::string("/srv/data/fresh");
  });
  Select(true, host_.target_tree().root()->text());
  window_->RunCommand(kNewDatabase);
  EXPECT_EQ(asked_in, "/srv/data");
  EXPECT_EQ(host_.target_tree().catalog_name(), "/srv/data/fresh");
  EXPECT_NE(Find(true, "/srv/data/fresh"), nullptr);
}

TEST_F(DialogsTest, DoubleClickKeepsTheActivatedDatabaseSelected) {
  window_->resize(900, 700);
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  DbTreeView* view = window_->source_view();
  view->expandAll();
  QApplication::processEvents();
  TreeNode* mysql = Find(false, "mysql");
  ASSERT_NE(mysql, nullptr);
  const QRect rect = view->visualRect(view->tree_model()->IndexOf(mysql));
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
  QApplication::processEvents();
  ASSERT_NE(host_.source_tree().selected(), nullptr);
  EXPECT_EQ(host_.source_tree().selected()->text(), "mysql");
  EXPECT_EQ(host_.source_tree().catalog_name(), "mysql");
}

TEST_F(DialogsTest, ConfigFromAFreshStartConnectsAndWritesAPrivateFile) {
  ASSERT_FALSE(fs::exists(dir_ / "migrator.cfg"));
  WhenOpen<ConfigDialog>([this](ConfigDialog* d) {
    auto& src = d->source_side();
    auto& tgt = d->target_side();
    EXPECT_FALSE(src.dbms->isEnabled());
    EXPECT_EQ(src.dbms->currentText(), "MySQL");
    EXPECT_EQ(tgt.dbms->currentText(), "Access");
    EXPECT_EQ(d->config_box()->isChecked(), false);
    src.provider->setCurrentIndex(src.provider->findText("TCP/IP:Port"));
    EXPECT_EQ(src.source_label->text(), "Server:Port");
    EXPECT_EQ(src.source->currentText(), "127.0.0.1");
    src.source->setCurrentText("127.0.0.1:3306");
    src.user->setText("Ada");
    src.password->setText("Se;cret");
    src.catalog->setText("Shop");
    tgt.provider->setCurrentIndex(tgt.provider->findText("Microsoft Jet 4.0 OLE DB Provider"));
    // A Jet provider offers a new database beside migrator.cfg.
    EXPECT_EQ(tgt.source->currentText().toStdString(), (dir_ / "Access_New.mdb").string());
    EXPECT_TRUE(fs::exists(dir_ / "Access_New.mdb"));
    d->tips_box()->click();
    EXPECT_TRUE(window_->tips_shown());
    d->tips_box()->click();
    EXPECT_FALSE(window_->tips_shown());
    d->config_box()->click();
    access_.fail_target = true;
    d->test_button()->click();
    d->connect_button()->click();
  });
  window_->RunCommand(cmd::kConfig);
  EXPECT_EQ(boxes_.shown[0], "Source Connection Successful!");
  EXPECT_EQ(boxes_.shown[1], "Target DB Connect ERROR!");
  EXPECT_NE(boxes_.shown[2].find("cannot reach"), std::string::npos);
  // The settings went to the next Connect, keeping their case.
  EXPECT_EQ(access_.used_source.provider_prog_id, "MSDASQL");
  EXPECT_EQ(access_.used_source.source_name, "127.0.0.1:3306");
  EXPECT_EQ(access_.used_source.user_id, "Ada");
  EXPECT_EQ(access_.used_source.password, "Se;cret");
  EXPECT_EQ(access_.used_target.provider_prog_id, "Microsoft.Jet.OLEDB.4.0");
  const fs::path cfg = dir_ / "migrator.cfg";
  ASSERT_TRUE(fs::exists(cfg));
  EXPECT_EQ(fs::status(cfg).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  Result<MigratorConfig> saved = LoadMigratorConfig(cfg);
  ASSERT_TRUE(saved.ok());
  EXPECT_TRUE(saved->options.config);
  EXPECT_FALSE(saved->options.tips);
  EXPECT_EQ(saved->source.password, "Se;cret");
  EXPECT_EQ(saved->source.catalog_name, "Shop");
  // Connect is posted: it runs once the dialog is gone.
  access_.fail_target = false;
  QTRY_COMPARE(window_->tabs()->currentIndex(), kTaskListPage);
}

TEST_F(DialogsTest, ConfigKeepsTipsAndBackupUntouchedWhenSavedWithConfigOff) {
  const fs::path cfg = dir_ / "migrator.cfg";
  {
    std::ofstream f(cfg);
    f << "[Public]\nConfig=false\nTips=true\nAutoBackup=true\n[SourceDB]\nProvider=Bogus\n";
  }
  WhenOpen<ConfigDialog>([](ConfigDialog* d) {
    EXPECT_TRUE(d->tips_box()->isChecked());
    // A stored provider not in the list falls back to the list's first.
    EXPECT_EQ(d->source_side().provider->currentIndex(), 0);
    d->tips_box()->click();
    d->save_button()->click();
    d->reject();
  });
  window_->RunCommand(cmd::kConfig);
  EXPECT_EQ(boxes_.shown.back(), "The Config Infomation saved successfully!");
  Result<MigratorConfig> saved = LoadMigratorConfig(cfg);
  ASSERT_TRUE(saved.ok());
  EXPECT_TRUE(saved->options.tips);  // only Config=false was written
  EXPECT_TRUE(saved->options.auto_backup);
}

TEST_F(DialogsTest, DriverCheckLeadsToConfigAndAboutNamesTheVersion) {
  WhenOpen<DriverCheckDialog>([](DriverCheckDialog* d) {
    std::vector<QString> texts;
    for (QLabel* cell : d->cells()) texts.push_back(cell->text());
    ASSERT_GE(texts.size(), 6u);
    // The built-in engine is the target's last row.
    EXPECT_EQ(texts[texts.size() - 3], "Velquin Jet 4 engine (built in)");
    EXPECT_EQ(texts.back(), "Usable");
    EXPECT_NE(d->cells().back()->styleSheet().indexOf("green"), -1);
    d->open_config_button()->click();
  });
  window_->RunCommand(cmd::kDriverCheck);
  bool config_opened = false;
  WhenOpen<ConfigDialog>([&](ConfigDialog* d) {
    config_opened = true;
    d->reject();
  });
  QTRY_VERIFY(config_opened);

  WhenOpen<AboutDialog>([](AboutDialog* d) {
    auto* version = d->findChild<QLabel*>("AboutVersion");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text().toStdString(), std::string("Version ") + kVersion);
    auto* link = d->findChild<QLabel*>("AboutManualLink");
    ASSERT_NE(link, nullptr);
    EXPECT_NE(link->text().indexOf("velquin-manual.html"), -1);
    d->accept();
  });
  window_->RunCommand(cmd::kToolAbout);
}

TEST(QtMessageBoxesTest, TheQuestionAboutExistingObjectsAnswersWithTheButtonPressed) {
  App();
  QtMessageBoxes boxes(nullptr);
  for (const auto& [button, answer] :
       std::vector<std::pair<QString, BoxAnswer>>{{"Replace", BoxAnswer::kReplace},
                                                  {"Append", BoxAnswer::kAppend},
                                                  {"Cancel", BoxAnswer::kCancel}}) {
    WhenOpen<QMessageBox>([button](QMessageBox* box) {
      EXPECT_EQ(box->buttons().size(), 3);
      for (QAbstractButton* b : box->buttons()) {
        if (b->text().remove('&') == button) b->click();
      }
    });
    EXPECT_EQ(boxes.Show("holds 2", BoxButtons::kReplaceAppendCancel, BoxIcon::kQuestion, ""),
              answer)
        << button.toStdString();
  }
}

}  // namespace
}  // namespace velquin::ui

namespace velquin::ui {
namespace {

TEST(PlanDialogTest, OffersStartOnlyWithinTheSizeLimitAndSaysWhy) {
  testing_support::App();
  struct Case {
    bool over;
    std::string warning;
    bool start_enabled;
    std::string problem;
  };
  const Case cases[] = {
      {false, "", true, ""},
      {false, "within 10 %", true, "within 10 %"},
      {true, "", false, "too big: orders"},
  };
  for (const Case& c : cases) {
    TaskPlanPreview plan;
    plan.database = "shop";
    plan.text = "Plan for database [shop] (nothing has been written)";
    plan.rows = 4200;
    plan.seconds = 75;
    plan.over_limit = c.over;
    plan.refusal = c.over ? "too big: orders" : "";
    plan.warning = c.warning;
    PlanDialog dialog(plan);
    EXPECT_EQ(dialog.start_button()->isEnabled(), c.start_enabled);
    EXPECT_EQ(dialog.problem_label()->text().toStdString(), c.problem);
    EXPECT_EQ(dialog.problem_label()->isVisibleTo(&dialog), !c.problem.empty());
    EXPECT_EQ(dialog.plan_box()->toPlainText().toStdString(), plan.text);
    EXPECT_TRUE(dialog.summary_label()->text().contains("4200 rows"));
    EXPECT_TRUE(dialog.summary_label()->text().contains("1 min 15 s"));
  }
}

// The busy box shows only when the work takes more than a moment; the work
// runs off the window's thread while the window's timers go on.
TEST(BusyBoxTest, ShowsForSlowWorkOnlyAndKeepsTheWindowsEventsGoing) {
  testing_support::App();
  QWidget parent;
  parent.show();
  bool box_seen = false;
  QString box_text;
  int ticks = 0;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    ++ticks;
    auto* box = parent.findChild<QProgressDialog*>("BusyBox");
    if (box != nullptr && box->isVisible()) {
      box_seen = true;
      box_text = box->labelText();
    }
  });
  probe.start(5);
  bool ran = false;
  RunWithBusyBox(
      &parent, "Planning", [&] { ran = true; }, 300);
  EXPECT_TRUE(ran);
  EXPECT_FALSE(box_seen);

  std::thread::id worker;
  RunWithBusyBox(
      &parent, "Planning the migration",
      [&] {
        worker = std::this_thread::get_id();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
      },
      20);
  EXPECT_TRUE(box_seen);
  EXPECT_EQ(box_text, "Planning the migration");
  EXPECT_NE(worker, std::this_thread::get_id());
  EXPECT_GT(ticks, 5);
  auto* box = parent.findChild<QProgressDialog*>("BusyBox");
  EXPECT_TRUE(box == nullptr || !box->isVisible());
}

}  // namespace
}  // namespace velquin::ui
