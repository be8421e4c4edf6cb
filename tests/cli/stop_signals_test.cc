// Stop signals of velquin migrate and the summary of a stopped run.
#include "cli/stop_signals.h"

#include <gtest/gtest.h>

#include <csignal>

namespace velquin {
namespace {

TEST(StopSignalsTest, TheFirstSignalIsKeptAndGivesItsExitCode) {
  InstallStopSignals();
  EXPECT_EQ(StopSignalReceived(), 0);
  std::raise(SIGTERM);  // handled: the process goes on
  EXPECT_EQ(StopSignalReceived(), SIGTERM);
  RemoveStopSignals();
  EXPECT_EQ(StopExitCode(SIGINT), 130);
  EXPECT_EQ(StopExitCode(SIGTERM), 143);
}

TEST(StopSignalsTest, EveryPlannedObjectWithoutALineIsStoppedOrNotStarted) {
  MigrationReport done;
  done.source_name = "a";
  done.status = "migrated";
  const auto reports =
      CompleteStoppedReports({done}, {"a", "b", "c"}, {"v", "b"}, ObjectKind::kTable, "b");
  ASSERT_EQ(reports.size(), 5u);
  const std::pair<std::string, std::string> want[] = {{"a", "migrated"},
                                                      {"b", "stopped"},
                                                      {"c", "not started"},
                                                      {"v", "not started"},
                                                      {"b", "not started"}};  // the view b
  for (std::size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].source_name, want[i].first) << i;
    EXPECT_EQ(reports[i].status, want[i].second) << i;
  }
  EXPECT_EQ(reports[4].kind, ObjectKind::kView);
}

}  // namespace
}  // namespace velquin
