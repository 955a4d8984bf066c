// Delayed auto-regeneration and the tab's rate control (Set Quality / Target Score).
#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include "support/WorkspaceFixture.h"

namespace quorlin::test {
namespace {

using namespace std::chrono_literals;

class WorkspaceAutoRegenerationTest : public WorkspaceFixture {
 protected:
  void SetUp() override {
    settings->setAutoRegenerate(true);
    settings->setAutoRegenerateDelay(2.0);
  }

  // Advances the manual clock, then lets whatever became due run.
  void advance(std::chrono::milliseconds amount) {
    dispatcher->advanceClock(amount);
    ASSERT_TRUE(quiesce());
  }

  std::set<int> waitingPanelIndices() {
    std::set<int> indices;
    for (const auto& run : engine->waitingRuns()) indices.insert(panelIndexOf(run));
    return indices;
  }
};

TEST_F(WorkspaceAutoRegenerationTest, ThreeQuickEditsGiveOneRegenerationOfTheChangedPanelsAfterTheLastEdit) {
  load(writeImage("photo.png"));
  generateAllAndFinish();
  ASSERT_FALSE(workspace->hasPendingAutoRegeneration());
  const int preparationsBefore = engine->preparationCount();

  workspace->updatePanel(1, [](CodecPanel& p) { p.quality = 60; });
  advance(1000ms);
  workspace->updatePanel(2, [](CodecPanel& p) { p.effort = 3; });
  advance(1000ms);
  workspace->updatePanel(1, [](CodecPanel& p) { p.quality = 61; });
  // 1.999 s after the last edit nothing has started.
  advance(1999ms);
  EXPECT_EQ(engine->preparationCount(), preparationsBefore);
  EXPECT_TRUE(workspace->hasPendingAutoRegeneration());
  advance(1ms);
  EXPECT_EQ(engine->preparationCount(), preparationsBefore + 1);
  EXPECT_EQ(workspace->statusMessage(), "Regenerating changed panels...");
  EXPECT_EQ(waitingPanelIndices(), (std::set<int>{1, 2}));
  for (const auto& run : engine->waitingRuns()) {
    if (panelIndexOf(run) == 1) {
      EXPECT_EQ(run.panel.quality, 61);
    }
  }
  EXPECT_FALSE(workspace->panel(0).isRunning);

  for (const auto& run : engine->waitingRuns()) finishAndApply(run.number);
  advance(60'000ms);
  EXPECT_EQ(engine->preparationCount(), preparationsBefore + 1) << "exactly one regeneration";
  for (const auto& panel : workspace->panels()) EXPECT_FALSE(panel.needsRegeneration());
}

TEST_F(WorkspaceAutoRegenerationTest, OnlySignatureChangesScheduleAndTheDelayIsReadWhenScheduling) {
  load(writeImage("photo.png"));
  generateAllAndFinish();
  const int preparationsBefore = engine->preparationCount();
  workspace->updatePanel(0, [](CodecPanel& p) { p.errorMessage = "note"; });
  EXPECT_FALSE(workspace->hasPendingAutoRegeneration());
  // Choosing another codec clears the panel's result (and deletes its files); it is regenerated too.
  const auto oldDirectory = workspace->panel(3).result->workDirectory;
  workspace->updatePanel(3, [](CodecPanel& p) { p.selectCodec(CompressionCodec::jpegTurbo); });
  EXPECT_FALSE(exists(oldDirectory));
  settings->setAutoRegenerateDelay(5.0);
  advance(2000ms);
  EXPECT_EQ(engine->preparationCount(), preparationsBefore + 1);
  EXPECT_EQ(waitingPanelIndices(), (std::set<int>{3}));
}

TEST_F(WorkspaceAutoRegenerationTest, NothingIsScheduledWithoutASourceOrWhenSwitchedOff) {
  workspace->updatePanel(0, [](CodecPanel& p) { p.effort = 9; });
  EXPECT_FALSE(workspace->hasPendingAutoRegeneration());
  advance(10'000ms);
  EXPECT_EQ(engine->preparationCount(), 0);

  load(writeImage("photo.png"));
  settings->setAutoRegenerate(false);
  workspace->updatePanel(0, [](CodecPanel& p) { p.effort = 8; });
  EXPECT_FALSE(workspace->hasPendingAutoRegeneration());
  advance(10'000ms);
  EXPECT_EQ(engine->preparationCount(), 0);
}

TEST_F(WorkspaceAutoRegenerationTest, LoadingCancelsAPendingRegenerationAndSwitchingOffTranscodeSchedulesOne) {
  load(writeImage("photo.jpg"));
  EXPECT_TRUE(workspace->sourceIsJPEG());
  workspace->updatePanel(0, [](CodecPanel& p) { p.isJPEGLosslessTranscode = true; });
  ASSERT_TRUE(workspace->hasPendingAutoRegeneration());
  load(writeImage("second.jpeg"));
  EXPECT_TRUE(workspace->panel(0).isJPEGLosslessTranscode) << "another JPEG keeps the switch";
  // A PNG turns the transcode switch off: that changes a signature, so the
  // load schedules a regeneration of its own, which runs every panel.
  load(writeImage("photo.png"));
  EXPECT_FALSE(workspace->sourceIsJPEG());
  EXPECT_FALSE(workspace->panel(0).isJPEGLosslessTranscode);
  EXPECT_TRUE(workspace->hasPendingAutoRegeneration());
  advance(2000ms);
  EXPECT_EQ(engine->preparationCount(), 1);
  EXPECT_EQ(waitingPanelIndices(), (std::set<int>{0, 1, 2, 3}));
}

TEST_F(WorkspaceAutoRegenerationTest, AnEditDuringARegenerationCancelsItAndSchedulesAnother) {
  engine->setHonoursCancellation(true);
  load(writeImage("photo.png"));
  generateAllAndFinish();
  const auto keptResult = workspace->panel(1).result->id;
  workspace->updatePanel(1, [](CodecPanel& p) { p.quality = 50; });
  advance(2000ms);
  ASSERT_EQ(waitingPanelIndices(), (std::set<int>{1}));
  workspace->updatePanel(1, [](CodecPanel& p) { p.quality = 51; });
  ASSERT_TRUE(quiesce());
  // The superseded run ended without an outcome: the old result stays, marked stale.
  EXPECT_TRUE(engine->waitingRuns().empty());
  EXPECT_FALSE(workspace->panel(1).isRunning);
  EXPECT_FALSE(workspace->panel(1).errorMessage.has_value());
  EXPECT_EQ(workspace->panel(1).result->id, keptResult);
  EXPECT_TRUE(workspace->panel(1).needsRegeneration());
  advance(2000ms);
  auto runs = engine->waitingRuns();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].panel.quality, 51);
}

// ---- Rate control

class WorkspaceRateControlTest : public WorkspaceFixture {};

TEST_F(WorkspaceRateControlTest, TheTabsModeReachesEveryPanelAndSearchesWriteTheFoundValueBackWithoutNeedingRegeneration) {
  workspace = makeWorkspace(RateControlMode::targetScore);
  for (const auto& panel : workspace->panels()) {
    EXPECT_EQ(panel.rateControlMode, RateControlMode::targetScore);
    EXPECT_EQ(panel.targetScore, 85.0);
  }
  workspace->setTargetScore(72.0);
  for (const auto& panel : workspace->panels()) EXPECT_EQ(panel.targetScore, 72.0);
  workspace->setTargetScore(85.0);
  load(writeImage("photo.png"));
  // Panel 0 searches a distance (first probe 1.0), panel 1 a quality (first probe 85).
  workspace->updatePanel(0, [](CodecPanel& p) { p.distance = 3.0; });
  workspace->generatePanel(workspace->panel(0).id);
  auto probe = waitingRuns(1)[0];
  EXPECT_EQ(probe.panel.distance, 1.0);
  EXPECT_EQ(workspace->panel(0).progressMessage, "Probe 1: distance 1...");
  // Within half a point of the target: the search ends after this probe.
  finishAndApply(probe.number, 85.3);
  const CodecPanel& distancePanel = workspace->panel(0);
  ASSERT_TRUE(distancePanel.result.has_value());
  EXPECT_EQ(distancePanel.result->foundDistance, 1.0);
  EXPECT_EQ(distancePanel.distance, 1.0);
  EXPECT_FALSE(distancePanel.progressMessage.has_value());
  EXPECT_FALSE(distancePanel.needsRegeneration());

  workspace->generatePanel(workspace->panel(1).id);
  probe = waitingRuns(1)[0];
  EXPECT_EQ(probe.panel.quality, 85);
  finishAndApply(probe.number, 84.8);
  EXPECT_EQ(workspace->panel(1).quality, 85);
  EXPECT_EQ(workspace->panel(1).result->foundQuality, 85);
  EXPECT_FALSE(workspace->panel(1).needsRegeneration());

  // Set Quality puts the mode and the quality or distance into the signature.
  workspace->setRateControlMode(RateControlMode::manual);
  for (const auto& panel : workspace->panels()) EXPECT_EQ(panel.rateControlMode, RateControlMode::manual);
  EXPECT_TRUE(workspace->panel(0).needsRegeneration());
  EXPECT_TRUE(workspace->panel(1).needsRegeneration());
  EXPECT_FALSE(workspace->panel(2).needsRegeneration()) << "no result, nothing to regenerate against";
}

TEST_F(WorkspaceRateControlTest, SearchProgressReachesThePanelAndAFailedSearchLeavesNoProbeBehind) {
  workspace = makeWorkspace(RateControlMode::targetScore);
  load(writeImage("photo.png"));
  workspace->generatePanel(workspace->panel(2).id);  // WebP, quality probes
  auto first = waitingRuns(1)[0];
  EXPECT_EQ(workspace->panel(2).progressMessage, "Probe 1: quality 85...");
  // Far above the target: the search steps to quality 56.
  finishAndApply(first.number, 95.0);
  auto second = waitingRuns(1)[0];
  EXPECT_EQ(second.panel.quality, 56);
  EXPECT_EQ(workspace->panel(2).progressMessage, "Probe 2: quality 56...");
  failAndApply(second.number, CompressionError::missingTool("cwebp"));
  EXPECT_EQ(workspace->panel(2).errorMessage,
            "Missing command-line tool: cwebp. Install it with your package manager (see Required Tools) or add it to PATH.");
  EXPECT_FALSE(workspace->panel(2).result.has_value());
  EXPECT_TRUE(rootEntries().empty()) << "the first probe's directory stayed behind";
}

}  // namespace
}  // namespace quorlin::test
