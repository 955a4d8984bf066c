#include "core/engine/CoreBudget.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

namespace quorlin {
namespace {

TEST(CoreBudgetTest, AutoIsTheHardwareAndAChosenCountReplacesIt) {
  CoreBudget budget(8);
  EXPECT_EQ(budget.totalThreads(), 8);
  budget.setThreadsPerPass(3);
  EXPECT_EQ(budget.totalThreads(), 3);
  budget.setThreadsPerPass(0);
  EXPECT_EQ(budget.totalThreads(), 8) << "counts below one are Auto";
  budget.setThreadsPerPass(12);
  budget.setThreadsPerPass(std::nullopt);
  EXPECT_EQ(budget.totalThreads(), 8);
  EXPECT_EQ(CoreBudget(0).totalThreads(), 1);
  EXPECT_GE(CoreBudget::availableHardwareThreads(), 1);
}

TEST(CoreBudgetTest, EachToolGetsTheTotalDividedAmongTheRunningPanelsRoundedDownButAtLeastOne) {
  CoreBudget budget(8);
  EXPECT_EQ(budget.threadsPerTool(), 8) << "a run outside any counted panel";
  std::vector<CoreBudget::RunningPanel> panels;
  // 8 / 1, 8 / 2, 8 / 3 = 2.67, 8 / 4; then more panels than threads.
  const int expected[] = {8, 4, 2, 2, 1, 1, 1, 1, 1};
  for (int share : expected) {
    panels.push_back(budget.panelStarted());
    EXPECT_EQ(budget.threadsPerTool(), share) << panels.size() << " running";
  }
  // As panels finish, the ones still running get more; a moved-from panel counts nothing.
  while (panels.size() > 1) panels.pop_back();
  EXPECT_EQ(budget.runningPanels(), 1);
  CoreBudget::RunningPanel moved = std::move(panels.front());
  panels.clear();
  EXPECT_EQ(budget.runningPanels(), 1);
  budget.setThreadsPerPass(2);
  EXPECT_EQ(budget.threadsPerTool(), 2);
}

}  // namespace
}  // namespace quorlin
