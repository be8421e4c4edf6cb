#include <QScrollBar>

#include "gui_test_support.h"
#include "ui/task_list_page.h"

namespace velquin::ui {
namespace {

std::vector<TaskGridRow> Rows(int n, const QString& state = "Waiting") {
  std::vector<TaskGridRow> rows;
  for (int i = 1; i <= n; ++i) {
    TaskGridRow r;
    r.cells = {QString::asprintf("%02d", i), " ",      "MIGRATION", state, "MySQL", "shop",
               QString("t%1").arg(i),        "ACCESS", "out",       ""};
    r.progress = i % 101;
    rows.push_back(r);
  }
  return rows;
}

TEST(TaskList, ElevenColumnsWithHeadings) {
  testing_support::App();
  TaskListPage page;
  QStringList headings;
  for (int c = 0; c < page.model()->columnCount(); ++c) {
    headings << page.model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
  }
  EXPECT_EQ(headings,
            (QStringList{"NO.", "Progress", "Type", "State", "Source DBMS", "Source DB",
                         "Source T(V)", "Targert DBMS", "Target DB", "Target T(V)", "Time Left"}));
  // Designed widths are minimums; fixed texts always fit.
  EXPECT_GE(page.view()->columnWidth(0), 32);
  EXPECT_GE(page.view()->columnWidth(1), 72);
  EXPECT_GE(page.view()->columnWidth(4), 200);
  const QFontMetrics fm(page.view()->font());
  EXPECT_GT(page.view()->columnWidth(2), fm.horizontalAdvance("MIGRATION"));
}

TEST(TaskList, RebuildKeepsSelectionAndScroll) {
  testing_support::App();
  TaskListPage page;
  page.resize(600, 200);
  page.show();
  page.Rebuild(Rows(60));
  page.SelectRow(42);
  page.view()->verticalScrollBar()->setValue(30);
  const int h_before = page.view()->verticalScrollBar()->value();
  page.Rebuild(Rows(60, "Working"));
  EXPECT_EQ(page.SelectedRow(), 42);
  EXPECT_EQ(page.view()->verticalScrollBar()->value(), h_before);
  EXPECT_EQ(page.model()->index(42, 3).data().toString(), "Working");
}

TEST(TaskList, ButtonsReportSelectedRowAndRefuseImpossibleMoves) {
  testing_support::App();
  TaskListPage page;
  page.Rebuild(Rows(3));
  std::vector<std::string> events;
  QObject::connect(&page, &TaskListPage::DeleteRequested,
                   [&](int r) { events.push_back("del" + std::to_string(r)); });
  QObject::connect(&page, &TaskListPage::MoveUpRequested,
                   [&](int r) { events.push_back("up" + std::to_string(r)); });
  QObject::connect(&page, &TaskListPage::MoveDownRequested,
                   [&](int r) { events.push_back("down" + std::to_string(r)); });
  page.delete_action()->trigger();  // nothing selected
  page.SelectRow(0);
  page.up_action()->trigger();  // first row cannot go up
  page.down_action()->trigger();
  page.SelectRow(2);
  page.down_action()->trigger();  // last row cannot go down
  page.up_action()->trigger();
  page.delete_action()->trigger();
  EXPECT_EQ(events, (std::vector<std::string>{"down0", "up2", "del2"}));
}

TEST(TaskList, StartStopLooksFollowRunState) {
  testing_support::App();
  TaskListPage page;
  EXPECT_EQ(page.start_stop_action()->toolTip(), "Stop Tasks");
  page.ShowWorkerState(2);
  EXPECT_EQ(page.start_stop_action()->toolTip(), "Stop tasks");
  page.ShowWorkerState(0);
  EXPECT_EQ(page.start_stop_action()->toolTip(), "Start tasks");
}

}  // namespace
}  // namespace velquin::ui
