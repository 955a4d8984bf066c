// Generation passes of a workspace: generate-all, a panel's own Generate,
// serial and parallel runs, overlapping passes, stale results and closing.
#include <gtest/gtest.h>

#include <set>

#include "support/WorkspaceFixture.h"

namespace quorlin::test {
namespace {

namespace fs = std::filesystem;

class WorkspaceGenerationTest : public WorkspaceFixture {
 protected:
  // Loads a fresh source and records every notification the workspace sends.
  void SetUp() override {
    source = writeImage("photo.png");
    subscription = workspace->observe([this](const WorkspaceChange& change) { changes.push_back(change); });
  }

  fs::path source;
  std::vector<WorkspaceChange> changes;
  Subscription subscription;
};

TEST_F(WorkspaceGenerationTest, GenerateWithoutSourceDoesNothingAndKeepsTheStatus) {
  workspace->startGenerateTask();
  workspace->generateAll();
  workspace->generatePanel(workspace->panel(0).id);
  workspace->regenerateChangedPanels();
  ASSERT_TRUE(quiesce());
  EXPECT_EQ(workspace->statusMessage(), "Choose an image to begin.");
  EXPECT_FALSE(workspace->isRunning());
  EXPECT_FALSE(workspace->canGenerate());
  EXPECT_EQ(engine->preparationCount(), 0);
  EXPECT_TRUE(changes.empty());
  for (const auto& panel : workspace->panels()) EXPECT_FALSE(panel.isRunning);
}

TEST_F(WorkspaceGenerationTest, GenerateAllRunsEveryPanelOnOnePreparedSourceAndAppliesEachResult) {
  load(source);
  // Passes hand the loaded image to preparation, so a deleted source file is not read again.
  fs::remove(source);
  changes.clear();
  workspace->startGenerateTask();
  // One notification for the whole start: running, status and all four panels.
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_TRUE(changes[0].contains(WorkspaceAspect::running));
  EXPECT_TRUE(changes[0].contains(WorkspaceAspect::status));
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(changes[0].containsPanel(i));
  EXPECT_TRUE(workspace->isRunning());
  EXPECT_FALSE(workspace->canGenerate());
  EXPECT_EQ(workspace->statusMessage(), "Encoding all panels...");

  auto runs = waitingRuns(4);
  EXPECT_EQ(engine->preparationCount(), 1);
  EXPECT_EQ(engine->lastDecodedSource(), workspace->sourceImage()->image);
  std::set<fs::path> preparedDirectories;
  for (const auto& run : runs) preparedDirectories.insert(run.preparedDirectory);
  ASSERT_EQ(preparedDirectories.size(), 1u);
  const fs::path prepared = *preparedDirectories.begin();
  EXPECT_TRUE(exists(prepared / "source.png"));
  for (const auto& panel : workspace->panels()) EXPECT_TRUE(panel.isRunning);

  // Outcomes are applied in completion order; the pass runs until the last.
  std::vector<std::string> statuses;
  for (int index : {2, 0, 3, 1}) {
    auto run = std::find_if(runs.begin(), runs.end(), [&](const auto& r) { return panelIndexOf(r) == index; });
    finishAndApply(run->number, 90.0, 1000 * (index + 1));
    statuses.push_back(workspace->statusMessage());
    EXPECT_TRUE(workspace->panel(index).result.has_value());
    EXPECT_EQ(workspace->isRunning(), index != 1);
  }
  EXPECT_EQ(statuses, (std::vector<std::string>{"Generated WebP: 3.0 KB.", "Generated JPEG XL: 1.0 KB.",
                                                "Generated JPEGli: 4.0 KB.", "Generated AVIF: 2.0 KB."}));
  EXPECT_FALSE(exists(prepared)) << "the prepared source outlived its pass";
  for (int i = 0; i < 4; ++i) {
    const CodecPanel& panel = workspace->panel(i);
    ASSERT_TRUE(panel.result.has_value()) << "panel " << i;
    EXPECT_EQ(panel.result->encodedSize, 1000 * (i + 1));
    EXPECT_FALSE(panel.isRunning);
    EXPECT_FALSE(panel.needsRegeneration());
    EXPECT_TRUE(workspace->temporaryFiles().directories().contains(panel.result->workDirectory));
  }
}

TEST_F(WorkspaceGenerationTest, FailedRunsAndPreparationsClearTheResultsOfThePanelsTheyConcernAndReportTheError) {
  load(source);
  generateAllAndFinish();
  std::vector<fs::path> oldDirectories;
  for (const auto& panel : workspace->panels()) oldDirectories.push_back(panel.result->workDirectory);
  workspace->generatePanel(workspace->panel(1).id);
  failAndApply(waitingRuns(1)[0].number, CompressionError::missingTool("avifenc"));
  const std::string missing = "Missing command-line tool: avifenc. Install it with your package manager (see "
                              "Required Tools) or add it to PATH.";
  EXPECT_FALSE(workspace->panel(1).result.has_value());
  EXPECT_EQ(workspace->panel(1).errorMessage, missing);
  EXPECT_EQ(workspace->statusMessage(), "AVIF failed: " + missing);
  EXPECT_FALSE(exists(oldDirectories[1]));
  for (int i : {0, 2, 3}) EXPECT_TRUE(workspace->panel(i).result.has_value());

  // A panel's own Generate reports a failed preparation on that panel only.
  engine->setPreparationError(CompressionError::processFailed("vips", "out of memory\n"));
  workspace->generatePanel(workspace->panel(2).id);
  ASSERT_TRUE(quiesce());
  EXPECT_EQ(workspace->panel(2).errorMessage, "vips failed. out of memory");
  EXPECT_EQ(workspace->statusMessage(), "WebP failed: vips failed. out of memory");
  EXPECT_TRUE(workspace->panel(0).result.has_value());
  EXPECT_EQ(workspace->panel(1).errorMessage, missing);
  EXPECT_FALSE(workspace->panel(3).errorMessage.has_value());

  // A failed preparation of a whole pass marks every panel with the same error; the status shows the last.
  engine->setPreparationError(CompressionError::unreadableImage(source));
  workspace->generateAll();
  ASSERT_TRUE(quiesce());
  const std::string message = "Could not read decoded image: photo.png.";
  for (const auto& panel : workspace->panels()) {
    EXPECT_FALSE(panel.result.has_value());
    EXPECT_EQ(panel.errorMessage, message);
    EXPECT_FALSE(panel.isRunning);
  }
  for (const auto& directory : oldDirectories) EXPECT_FALSE(exists(directory));
  EXPECT_EQ(workspace->statusMessage(), "JPEGli failed: " + message);
  EXPECT_FALSE(workspace->isRunning());
}

TEST_F(WorkspaceGenerationTest, LoadingDuringAPassDropsItsResultsDeletesTheirDirectoriesAndStopsRunningAtOnce) {
  load(source);
  workspace->generateAll();
  auto runs = waitingRuns(4);
  const fs::path prepared = runs[0].preparedDirectory;

  load(writeImage("second.png"));
  EXPECT_FALSE(workspace->isRunning());
  EXPECT_TRUE(workspace->canGenerate());
  EXPECT_EQ(workspace->statusMessage(), "Loaded second.png.");
  for (const auto& panel : workspace->panels()) EXPECT_FALSE(panel.isRunning);

  // The engine runs its children to the end; what they produce is dropped.
  for (const auto& run : runs) finishAndApply(run.number);
  for (const auto& panel : workspace->panels()) {
    EXPECT_FALSE(panel.result.has_value());
    EXPECT_FALSE(panel.errorMessage.has_value());
  }
  EXPECT_EQ(workspace->statusMessage(), "Loaded second.png.");
  EXPECT_FALSE(exists(prepared));
  EXPECT_TRUE(rootEntries().empty());
}

TEST_F(WorkspaceGenerationTest, LoadingCancelsTheRunningPassSoAnEngineThatHonoursItStopsEarlyAndNoFurtherRunStarts) {
  engine->setHonoursCancellation(true);
  load(source);
  for (bool isParallel : {true, false}) {
    SCOPED_TRACE(isParallel ? "parallel" : "serial");
    settings->setEncodeInParallel(isParallel);
    const int startedBefore = engine->startedRunCount();
    workspace->generateAll();
    waitingRuns(isParallel ? 4 : 1);
    load(writeImage(isParallel ? "second.png" : "third.png"));
    // Every run noticed the cancellation by itself.
    EXPECT_TRUE(engine->waitingRuns().empty());
    EXPECT_FALSE(workspace->isRunning());
    for (const auto& panel : workspace->panels()) EXPECT_FALSE(panel.errorMessage.has_value());
    EXPECT_TRUE(rootEntries().empty());
    EXPECT_EQ(engine->startedRunCount() - startedBefore, isParallel ? 4 : 1);
  }
}

TEST_F(WorkspaceGenerationTest, SerialPassRunsOnePanelAtATimeEachFromTheSettingsWhenItStarts) {
  settings->setEncodeInParallel(false);
  load(source);
  workspace->generateAll();
  auto first = waitingRuns(1);
  EXPECT_EQ(panelIndexOf(first[0]), 0);
  // Edited while panel 0 runs: panel 1's run starts from the edited settings.
  workspace->updatePanel(1, [](CodecPanel& p) { p.quality = 42; });
  finishAndApply(first[0].number);
  EXPECT_TRUE(workspace->panel(0).result.has_value()) << "applied before the next run starts";
  auto second = waitingRuns(1);
  EXPECT_EQ(panelIndexOf(second[0]), 1);
  EXPECT_EQ(second[0].panel.quality, 42);
  for (int expected = 2; expected < 4; ++expected) {
    finishAndApply(engine->waitingRuns().front().number);
    auto next = waitingRuns(1);
    EXPECT_EQ(panelIndexOf(next[0]), expected);
  }
  finishAndApply(engine->waitingRuns().front().number);
  EXPECT_EQ(engine->startedRunCount(), 4);
  EXPECT_EQ(engine->preparationCount(), 1);
  EXPECT_FALSE(workspace->isRunning());
}

// Generate is refused while a pass runs, but a panel's own Generate starts a
// second pass: whichever outcome is applied last wins for the panel, and the
// result it replaces has its directory deleted.
class OverlappingPassesTest : public WorkspaceGenerationTest, public ::testing::WithParamInterface<bool> {};

TEST_P(OverlappingPassesTest, TheOutcomeAppliedLastWinsAndTheReplacedDirectoryIsDeleted) {
  const bool panelPassFinishesFirst = GetParam();
  load(source);
  workspace->generateAll();
  auto allRuns = waitingRuns(4);
  workspace->startGenerateTask();
  ASSERT_TRUE(quiesce());
  EXPECT_EQ(workspace->statusMessage(), "Encoding all panels...");
  workspace->generatePanel(workspace->panel(0).id);
  EXPECT_EQ(workspace->statusMessage(), "Encoding JPEG XL...");
  auto runs = waitingRuns(5);
  EXPECT_EQ(engine->preparationCount(), 2);
  const auto panelRun = runs.back();
  const auto generateAllRun = *std::find_if(allRuns.begin(), allRuns.end(), [&](const auto& r) { return panelIndexOf(r) == 0; });
  ASSERT_EQ(panelIndexOf(panelRun), 0);

  const auto& firstRun = panelPassFinishesFirst ? panelRun : generateAllRun;
  const auto& lastRun = panelPassFinishesFirst ? generateAllRun : panelRun;
  finishAndApply(firstRun.number, 90.0, 111);
  const fs::path replaced = workspace->panel(0).result->workDirectory;
  finishAndApply(lastRun.number, 90.0, 222);
  ASSERT_TRUE(workspace->panel(0).result.has_value());
  EXPECT_EQ(workspace->panel(0).result->encodedSize, 222);
  EXPECT_EQ(workspace->statusMessage(), "Generated JPEG XL: 222 bytes.");
  EXPECT_FALSE(exists(replaced));
  EXPECT_TRUE(exists(workspace->panel(0).result->workDirectory));
}

INSTANTIATE_TEST_SUITE_P(EitherOrder, OverlappingPassesTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& order) { return order.param ? "PanelPassFirst" : "GenerateAllFirst"; });

TEST_F(WorkspaceGenerationTest, ClosingATabDeletesTheDirectoriesOfItsResults) {
  load(source);
  generateAllAndFinish();
  auto other = makeWorkspace();
  load(*other, writeImage("other.png"));
  other->generateAll();
  auto runs = waitingRuns(4);
  for (const auto& run : runs) engine->finishRun(run.number);
  ASSERT_TRUE(quiesce());
  std::vector<fs::path> otherDirectories;
  for (const auto& panel : other->panels()) otherDirectories.push_back(panel.result->workDirectory);
  std::vector<fs::path> ownDirectories;
  for (const auto& panel : workspace->panels()) ownDirectories.push_back(panel.result->workDirectory);

  other.reset();
  for (const auto& directory : otherDirectories) EXPECT_FALSE(exists(directory));
  for (const auto& directory : ownDirectories) EXPECT_TRUE(exists(directory));
  // Termination still knows every directory handed out.
  for (const auto& directory : otherDirectories) EXPECT_TRUE(temporaryDirectories->trackedDirectories().contains(directory));
}

TEST_F(WorkspaceGenerationTest, OutcomesOfAnOlderGenerationOnlyDeleteTheirDirectoryAndOnesWithoutErrorTextSaySo) {
  load(source);
  generateAllAndFinish();
  const auto before = workspace->panel(3).result->id;
  CompressionTaskOutcome outcome{3, "JPEGli", workspace->panel(3).result, std::nullopt};
  fs::path stray = temporaryDirectories->createWorkDirectory();
  outcome.result->id = Uuid::random();
  outcome.result->workDirectory = stray;
  workspace->applyOutcome(outcome, workspace->sourceGeneration() - 1);
  EXPECT_FALSE(exists(stray));
  EXPECT_EQ(workspace->panel(3).result->id, before);
  workspace->applyOutcome(CompressionTaskOutcome{2, "WebP", std::nullopt, std::nullopt}, workspace->sourceGeneration());
  EXPECT_EQ(workspace->statusMessage(), "WebP failed: Unknown error");
  EXPECT_FALSE(workspace->panel(2).errorMessage.has_value());
}

TEST_F(WorkspaceGenerationTest, StatusNamesTheCodecByRawValue) {
  load(source);
  workspace->updatePanel(3, [](CodecPanel& p) { p.selectCodec(CompressionCodec::heif); });
  workspace->generatePanel(workspace->panel(3).id);
  EXPECT_EQ(workspace->statusMessage(), "Encoding HEIF...");
  finishAndApply(waitingRuns(1)[0].number, 90.0, 999);
  EXPECT_EQ(workspace->statusMessage(), "Generated HEIF: 999 bytes.");
}

}  // namespace
}  // namespace quorlin::test
