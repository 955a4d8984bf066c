#include "core/workspace/WorkspaceTabList.h"

#include <gtest/gtest.h>

#include "support/WorkspaceFixture.h"

namespace quorlin::test {
namespace {

class WorkspaceTabListTest : public WorkspaceFixture {
 protected:
  void SetUp() override {
    tabs = std::make_unique<WorkspaceTabList>([this](const WorkspaceTab& tab) {
      return std::make_unique<CompressionWorkspace>(services(), tab.title, tab.rateControlMode,
                                                    [this] { ++reactivations; });
    });
    subscription = tabs->observe([this] { ++notifications; });
  }
  void TearDown() override {
    subscription.reset();
    tabs.reset();
    WorkspaceFixture::TearDown();
  }

  std::vector<Uuid> ids() const {
    std::vector<Uuid> list;
    for (const auto& tab : tabs->tabs()) list.push_back(tab.id);
    return list;
  }

  std::unique_ptr<WorkspaceTabList> tabs;
  Subscription subscription;
  int notifications = 0;
};

TEST_F(WorkspaceTabListTest, StartsWithOneActiveUntitledTabThatCannotBeClosedAndAppendsAndSelectsNewOnes) {
  ASSERT_EQ(tabs->tabCount(), 1u);
  const WorkspaceTab first = tabs->tabs()[0];
  EXPECT_EQ(first.title, "Untitled");
  EXPECT_EQ(first.rateControlMode, RateControlMode::manual);
  EXPECT_EQ(tabs->selectedTabID(), first.id);
  EXPECT_TRUE(tabs->selectedWorkspace().isActive());
  EXPECT_EQ(reactivations, 1);
  EXPECT_FALSE(tabs->canCloseSelectedTab());
  tabs->closeSelectedTab();
  EXPECT_EQ(ids(), std::vector<Uuid>{first.id});

  tabs->addTab(RateControlMode::targetScore);
  ASSERT_EQ(tabs->tabCount(), 2u);
  const WorkspaceTab added = tabs->tabs()[1];
  EXPECT_EQ(added.title, "Untitled");
  EXPECT_EQ(tabs->selectedTabID(), added.id);
  EXPECT_EQ(tabs->selectedIndex(), 1u);
  EXPECT_EQ(tabs->workspace(added.id)->panel(0).rateControlMode, RateControlMode::targetScore);
  EXPECT_TRUE(tabs->canCloseSelectedTab());
  EXPECT_GE(notifications, 1);
}

TEST_F(WorkspaceTabListTest, ClosingSelectsTheTabAfterTheClosedOneOrElseTheOneBefore) {
  // Closing the first, a middle and the last of three tabs.
  const std::pair<int, std::vector<int>> cases[] = {{0, {1, 2}}, {1, {0, 2}}, {2, {0, 1}}};
  const int selectedAfter[] = {1, 2, 1};
  for (int c = 0; c < 3; ++c) {
    while (tabs->tabCount() < 3) tabs->addTab(RateControlMode::manual);
    auto before = ids();
    tabs->selectTab(before[static_cast<std::size_t>(cases[c].first)]);
    tabs->closeSelectedTab();
    std::vector<Uuid> expected;
    for (int index : cases[c].second) expected.push_back(before[static_cast<std::size_t>(index)]);
    EXPECT_EQ(ids(), expected) << c;
    EXPECT_EQ(tabs->selectedTabID(), before[static_cast<std::size_t>(selectedAfter[c])]) << c;
  }
}

TEST_F(WorkspaceTabListTest, SelectingATabMovesActivationAndTheRegistryHandlers) {
  auto& first = tabs->selectedWorkspace();
  tabs->addTab(RateControlMode::manual);
  auto& second = tabs->selectedWorkspace();
  EXPECT_FALSE(first.isActive());
  EXPECT_TRUE(second.isActive());
  registry.showDifference();
  EXPECT_TRUE(second.canvasView().isShowingDifference());
  EXPECT_FALSE(first.canvasView().isShowingDifference());

  tabs->selectTab(tabs->tabs()[0].id);
  EXPECT_TRUE(first.isActive());
  EXPECT_FALSE(second.canvasView().isShowingDifference()) << "the old tab's hold is released";
  registry.showOriginal();
  EXPECT_TRUE(first.canvasView().isShowingOriginal());
  EXPECT_FALSE(second.canvasView().isShowingOriginal());

  tabs->selectTab(Uuid::random());
  EXPECT_TRUE(first.isActive()) << "an unknown id selects nothing";
}

TEST_F(WorkspaceTabListTest, LoadingRenamesOnlyThatTabAndClosingItWhileItRunsReturnsAtOnceLeavingNothing) {
  tabs->addTab(RateControlMode::manual);
  auto& second = tabs->selectedWorkspace();
  const int before = notifications;
  load(second, writeImage("a rather long holiday photo name.png"));
  auto list = tabs->tabs();
  EXPECT_EQ(list[0].title, "Untitled");
  EXPECT_EQ(list[1].title, "a rather long holiday photo name.png");
  EXPECT_EQ(WorkspaceTabList::label(list[1]), "a rather long ho... name.png");
  EXPECT_EQ(WorkspaceTabList::label(list[0]), "Untitled");
  EXPECT_GT(notifications, before);

  second.generateAll();
  auto runs = waitingRuns(4);
  tabs->closeSelectedTab();
  EXPECT_EQ(tabs->tabCount(), 1u);
  EXPECT_EQ(workers->runningCount(), 4u) << "closing did not wait for the runs";
  for (const auto& run : runs) engine->finishRun(run.number);
  ASSERT_TRUE(quiesce());
  EXPECT_TRUE(rootEntries().empty());
}

}  // namespace
}  // namespace quorlin::test
