// The canvas's view values, activation and the workspace's registry handlers.
#include <gtest/gtest.h>

#include "support/WorkspaceFixture.h"

namespace quorlin::test {
namespace {

class WorkspaceActivationTest : public WorkspaceFixture {};

TEST_F(WorkspaceActivationTest, ViewValuesStartAtTheirDefaultsAndSettersTellObserversOnlyOfRealChanges) {
  EXPECT_EQ(workspace->canvasView().displayedImageScalePercent(), 100);
  EXPECT_EQ(workspace->canvasView().differenceGain(), 2);
  EXPECT_EQ(workspace->canvasView().canvasCommandToken(), 0);
  int viewChanges = 0;
  auto subscription = workspace->observe([&](const WorkspaceChange& change) {
    if (change.contains(WorkspaceAspect::viewValues)) ++viewChanges;
  });
  workspace->canvasView().setZoom(2.0);
  workspace->canvasView().setZoom(2.0);
  workspace->canvasView().setDisplayedImageScalePercent(250);
  workspace->canvasView().setPanOffset({3, 4});
  workspace->canvasView().resetPan();
  workspace->canvasView().resetPan();
  workspace->canvasView().setComparisonPoint(0.25, 0.75);
  EXPECT_EQ(viewChanges, 5);
  EXPECT_EQ(workspace->canvasView().panOffset(), (SizeF{0, 0}));
  subscription.reset();
  workspace->canvasView().setZoom(4.0);
  EXPECT_EQ(viewChanges, 5);
}

TEST_F(WorkspaceActivationTest, ActivationInstallsHandlersThatSetTheHoldFlagsAndDeactivationReleasesThem) {
  workspace->setActive(true);
  EXPECT_TRUE(workspace->isActive());
  EXPECT_EQ(reactivations, 1);
  EXPECT_EQ(workspace->canvasView().canvasCommandToken(), 1);
  ASSERT_TRUE(registry.generate && registry.showOriginal && registry.showDifference && registry.hideComparisonOverlay &&
              registry.hideDifference && registry.stepDifferenceGain && registry.setDifferenceGainStep);
  // Window became key again.
  workspace->activate();
  EXPECT_EQ(reactivations, 2);
  EXPECT_EQ(workspace->canvasView().canvasCommandToken(), 2);

  registry.showOriginal();
  EXPECT_TRUE(workspace->canvasView().isShowingOriginal());
  EXPECT_FALSE(workspace->canvasView().isShowingDifference());
  registry.showDifference();
  EXPECT_FALSE(workspace->canvasView().isShowingOriginal());
  EXPECT_TRUE(workspace->canvasView().isShowingDifference());
  // Shift held, Space pressed and released: back to the difference.
  registry.showOriginal();
  registry.hideDifference();
  EXPECT_TRUE(workspace->canvasView().isShowingOriginal()) << "hideDifference leaves the original alone";
  registry.hideComparisonOverlay();
  EXPECT_FALSE(workspace->canvasView().isShowingOriginal());
  EXPECT_FALSE(workspace->canvasView().isShowingDifference());

  registry.showDifference();
  workspace->canvasView().setShowingOriginal(true);
  workspace->setActive(false);
  EXPECT_FALSE(workspace->canvasView().isShowingOriginal());
  EXPECT_FALSE(workspace->canvasView().isShowingDifference());
  EXPECT_EQ(reactivations, 2) << "deactivation registers nothing";
}

TEST_F(WorkspaceActivationTest, GainHandlersReachTheCanvasGain) {
  workspace->setActive(true);
  registry.stepDifferenceGain(+1);
  EXPECT_EQ(workspace->canvasView().differenceGain(), 4);
  registry.setDifferenceGainStep(4);
  EXPECT_EQ(workspace->canvasView().differenceGain(), 16);
}

TEST_F(WorkspaceActivationTest, TheGenerateHandlerStartsOnePassAndHandlersOfAClosedWorkspaceDoNothing) {
  workspace->setActive(true);
  load(writeImage("photo.png"));
  registry.generate();
  auto runs = waitingRuns(4);
  registry.generate();
  ASSERT_TRUE(quiesce());
  EXPECT_EQ(engine->preparationCount(), 1);
  for (const auto& run : runs) finishAndApply(run.number);
  workspace.reset();
  registry.generate();
  registry.showOriginal();
  registry.stepDifferenceGain(1);
  ASSERT_TRUE(quiesce());
  EXPECT_EQ(engine->preparationCount(), 1);
}

}  // namespace
}  // namespace quorlin::test
