#include "core/ratedistortion/RateDistortionSession.h"

#include <gtest/gtest.h>

#include <map>

#include "support/WorkspaceFixture.h"

namespace quorlin {
namespace {

// A session over the fake engine, one point at a time so the test can finish
// every run in turn: each point scores its setting's share of the ladder and
// grows with it, so every curve is clean.
class RateDistortionSessionTest : public test::WorkspaceFixture {
 protected:
  void SetUp() override {
    settings->setEncodeInParallel(false);
    load(writeImage("photo.png", 40, 25));
    session = std::make_unique<RateDistortionSession>(*workspace, services());
    subscription = session->observe([this] { ++changes; });
  }
  void TearDown() override { session.reset(); WorkspaceFixture::TearDown(); }

  // Finishes every run the sweep makes; panel `failing` fails its third point.
  void finishSweep(int failing = -1) {
    std::map<int, int> pointOf;
    for (int guard = 0; guard < 100 && session->isSweeping(); ++guard) {
      ASSERT_TRUE(quiesce());
      auto runs = engine->waitingRuns();
      if (runs.empty()) continue;
      const auto& run = runs.front();
      const int panel = panelIndexOf(run);
      const int point = pointOf[panel]++;
      if (panel == failing && point == 2) engine->failRun(run.number, CompressionError::processFailed("cwebp", "broken"));
      else engine->finishRun(run.number, 30 + 7 * point + panel, 1000 + 500 * point - 100 * panel);
      ASSERT_TRUE(quiesce());
    }
    ASSERT_FALSE(session->isSweeping());
  }

  std::unique_ptr<RateDistortionSession> session;
  Subscription subscription;
  int changes = 0;
};

TEST_F(RateDistortionSessionTest, SweepAllGivesEachPanelItsCurveOnOnePreparationDeltasAgainstTheAnchorAndStaleness) {
  session->sweepAll();
  EXPECT_TRUE(session->isSweeping() && session->totalPoints() == 36);
  finishSweep(2);
  EXPECT_TRUE(engine->preparationCount() == 1 && session->completedPoints() == 35);
  EXPECT_EQ(session->statusText(), "Sweep finished; 1 points failed.");
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(session->sweep(i));
    EXPECT_TRUE(session->sweep(i)->samples.size() == (i == 2 ? 8u : 9u) && !session->isStale(i));
  }
  EXPECT_EQ(session->sweep(2)->failures.size(), 1u);
  auto deltas = session->deltas();
  ASSERT_EQ(deltas.size(), 3u);
  EXPECT_EQ(std::pair(deltas[0].panelNumber, deltas[0].anchorNumber), std::pair(2, 1));
  EXPECT_LT(*deltas[0].rate.value, 0);  // more score for fewer bytes than the anchor
  session->setAnchor(3);
  EXPECT_EQ(session->deltas().front().anchorNumber, 4);
  EXPECT_TRUE(session->json().find("\"bd\": [") != std::string::npos && changes > 36);
  // Changing a setting other than the swept value makes the curve stale.
  workspace->updatePanel(0, [](CodecPanel& panel) { panel.distance = 3; });
  EXPECT_FALSE(session->isStale(0));
  workspace->updatePanel(0, [](CodecPanel& panel) { panel.effort = 3; });
  EXPECT_TRUE(session->isStale(0) && !session->isStale(1));
}

TEST_F(RateDistortionSessionTest, ShowingAPointSetsTheValueAndTheResultWithoutEncoding) {
  session->sweepPanel(2);  // WebP
  EXPECT_EQ(session->totalPoints(), 9u);
  finishSweep();
  const int runsBefore = engine->startedRunCount();
  const RateDistortionSample& sample = session->sweep(2)->samples[4];
  ASSERT_TRUE(session->showSample(2, 4));
  const CodecPanel& panel = workspace->panel(2);
  ASSERT_TRUE(panel.result && panel.result->decodedImage.image);
  EXPECT_EQ(std::tuple(panel.quality, panel.result->encodedSize, panel.result->ssimulacra2Score, panel.needsRegeneration()),
            std::tuple(70, sample.encodedSize, sample.ssimulacra2Score, false));
  EXPECT_NE(panel.result->workDirectory, sample.workDirectory);  // the curve keeps its own files
  dispatcher->advanceClock(std::chrono::seconds(60));  // any auto-regeneration is due
  ASSERT_TRUE(quiesce());
  EXPECT_EQ(engine->startedRunCount(), runsBefore);
  // Another point replaces the result; the first point's files stay with the curve.
  const auto firstCopy = panel.result->workDirectory;
  ASSERT_TRUE(session->showSample(2, 1));
  EXPECT_TRUE(!exists(firstCopy) && exists(sample.encodedURL));
}

TEST_F(RateDistortionSessionTest, CancellingKeepsTheEarlierCurvesAndRemovesTheNewFiles) {
  session->sweepPanel(1);
  finishSweep();
  const auto kept = session->sweep(1)->samples.front().workDirectory;
  session->sweepAll();
  auto runs = waitingRuns(1);
  engine->finishRun(runs.front().number, 50, 2000);
  ASSERT_TRUE(quiesce());
  engine->setHonoursCancellation(true);
  session->cancel();
  ASSERT_TRUE(quiesce());
  EXPECT_EQ(session->statusText(), "Sweep cancelled.");
  EXPECT_FALSE(session->isSweeping() || session->sweep(0) || session->isStale(0)) << "never swept";
  EXPECT_TRUE(exists(kept));
  EXPECT_EQ(rootEntries().size(), 9u);  // the old curve's points only
}

TEST_F(RateDistortionSessionTest, TargetScoreProbesAreFreePointsOfThePanelsCurve) {
  workspace->setRateControlMode(RateControlMode::targetScore);  // target 85
  workspace->generatePanel(workspace->panel(2).id);
  for (double score : {70.0, 90.0, 85.0}) finishAndApply(waitingRuns(1).front().number, score, std::int64_t(20 * score));
  ASSERT_TRUE(session->sweep(2) && session->sweep(2)->samples.size() == 3);
  EXPECT_EQ(session->sweep(2)->samples.back().encodedSize, 1700);
  EXPECT_FALSE(session->showSample(2, 0));  // numbers only: no pictures to show
  session->sweepPanel(2);
  finishSweep();
  EXPECT_GT(session->sweep(2)->samples.size(), 9u);  // the ladder's and the probes off it
}

}  // namespace
}  // namespace quorlin
