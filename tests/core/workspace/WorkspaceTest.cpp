#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <unistd.h>

#include "core/workspace/WorkspaceTabList.h"
#include "support/WorkspaceFixture.h"

namespace quorlin::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The workspace as its window shows it: source file, tab title, source generation and status.
std::string shown(const CompressionWorkspace& w) {
  return (w.sourceURL() ? w.sourceURL()->filename().string() : "-") + " | " + w.tabTitle() + " | " +
         std::to_string(w.sourceGeneration()) + " | " + w.statusMessage();
}

// Per panel: r result, e error, R running, p progress, s needs regeneration ("-" where not).
std::string states(const CompressionWorkspace& w) {
  std::string text;
  for (const auto& p : w.panels()) {
    const bool flags[] = {p.result.has_value(), p.errorMessage.has_value(), p.isRunning, p.progressMessage.has_value(),
                          p.needsRegeneration()};
    for (int i = 0; i < 5; ++i) text += flags[i] ? "reRps"[i] : '-';
    text += ' ';
  }
  return text;
}

std::vector<fs::path> resultDirectories(const CompressionWorkspace& w) {
  std::vector<fs::path> directories;
  for (const auto& panel : w.panels()) directories.push_back(panel.result->workDirectory);
  return directories;
}

long existing(const std::vector<fs::path>& paths) {
  return std::count_if(paths.begin(), paths.end(), [](const fs::path& path) { return fs::exists(path); });
}

// Loading a source, dropping items, and the texts the workspace shows for them.
class WorkspaceSourceTest : public WorkspaceFixture {};

TEST_F(WorkspaceSourceTest, ANewWorkspaceWaitsForAnImageAndLoadingSetsTheSourceRenamesTheTabAndResetsTheView) {
  EXPECT_EQ(workspace->statusMessage(), "Choose an image to begin.");
  EXPECT_FALSE(workspace->sourcePixelCount().has_value());
  std::vector<CompressionCodec> codecs;
  for (const auto& panel : workspace->panels()) codecs.push_back(panel.codec);
  EXPECT_EQ(codecs, (std::vector{CompressionCodec::jpegXL, CompressionCodec::avif, CompressionCodec::webP, CompressionCodec::jpegli}));
  // A missing file cannot be loaded.
  load(scratch / "images" / "gone.png");
  EXPECT_EQ(shown(*workspace), "- | Untitled | 0 | Could not load gone.png.");

  const fs::path file = writeImage("sunset over the bay.png", 40, 30, true);
  workspace->canvasView().setZoom(3.0);
  workspace->canvasView().setPanOffset({12, -7});
  workspace->canvasView().setComparisonPoint(0.2, 0.9);
  load(file);
  EXPECT_EQ(workspace->sourceURL(), file);
  EXPECT_EQ(shown(*workspace), "sunset over the bay.png | sunset over the bay.png | 1 | Loaded sunset over the bay.png.");
  EXPECT_EQ(workspace->sourceFileSize(), static_cast<std::int64_t>(std::string("fake image 40 30 alpha\n").size()));
  ASSERT_TRUE(workspace->sourceImage().has_value());
  EXPECT_EQ(workspace->sourceImage()->displaySize, (PixelSize{40, 30}));
  EXPECT_EQ(workspace->sourcePixelCount(), 1200);
  EXPECT_TRUE(workspace->usesTransparencyBackground());
  const auto& view = workspace->canvasView();
  EXPECT_EQ(std::tuple(view.zoom(), view.panOffset(), view.comparisonX(), view.comparisonY()), std::tuple(1.0, SizeF{0, 0}, 0.5, 0.5));
  EXPECT_TRUE(workspace->canGenerate());
}

TEST_F(WorkspaceSourceTest, LoadingClearsEveryPanelsResultAndDeletesItsFilesButAnUnreadableFileKeepsThePrevious) {
  const fs::path good = writeImage("a.png");
  load(good);
  generateAllAndFinish();
  const auto directories = resultDirectories(*workspace);
  const fs::path bad = scratch / "images" / "notes “draft”.txt";
  writeTextFile(bad, "not an image");
  load(bad);
  EXPECT_EQ(shown(*workspace), "a.png | a.png | 1 | Could not load notes “draft”.txt.");
  EXPECT_EQ(workspace->loadErrorMessage(),
            "“notes “draft”.txt” could not be read as an image. Choose a still image in a format supported by "
            "the system's image library, such as PNG, JPEG, TIFF, or HEIC.");
  EXPECT_EQ(workspace->sourceURL(), good);
  EXPECT_EQ(existing(directories), 4);
  workspace->dismissLoadError();
  EXPECT_FALSE(workspace->loadErrorMessage().has_value());

  workspace->updatePanel(2, [](CodecPanel& p) { p.errorMessage = "old"; });
  load(writeImage("b.png"));
  EXPECT_EQ(states(*workspace), "----- ----- ----- ----- ");
  EXPECT_EQ(existing(directories), 0);
}

TEST_F(WorkspaceSourceTest, DropsAndQuickLoadsApplyOnlyTheLatestAndNothingReachesAClosedTab) {
  workspace->loadDroppedItem(std::nullopt);
  EXPECT_EQ(workspace->statusMessage(), "Could not read the dropped item.");
  EXPECT_EQ(workspace->loadErrorMessage(),
            "The dropped item could not be read as a file. Drop a still image file, such as PNG, JPEG, TIFF, or HEIC.");
  const fs::path first = writeImage("first.png");
  const fs::path second = writeImage("second.png");
  workspace->loadDroppedItem(first);
  workspace->loadSource(second);
  EXPECT_TRUE(workspace->isLoadingSource());
  ASSERT_TRUE(quiesce());
  EXPECT_FALSE(workspace->isLoadingSource());
  EXPECT_EQ(shown(*workspace), "second.png | second.png | 1 | Loaded second.png.");
  workspace->loadDroppedItem(first);
  ASSERT_TRUE(quiesce());
  EXPECT_EQ(workspace->sourceURL(), first);
  workspace->loadSource(writeImage("late.png"));
  workspace.reset();
  ASSERT_TRUE(quiesce());
}

// ---- Export and metadata

class WorkspaceResultActionsTest : public WorkspaceFixture {
 protected:
  void SetUp() override {
    load(writeImage("photo.png"));
    generateAllAndFinish();
    encoded = workspace->panel(0).result->encodedURL;
  }
  fs::path encoded;
};

TEST_F(WorkspaceResultActionsTest, ExportProposesTheEncodedNameAndReplacesAnExistingFileOrTheEncodedItself) {
  auto proposal = workspace->exportProposal(0);
  ASSERT_TRUE(proposal.has_value());
  EXPECT_EQ(std::pair(proposal->proposedFileName, proposal->contentType), std::pair(encoded.filename().string(), std::string("public.jpeg-xl")));
  EXPECT_EQ(workspace->exportProposal(2)->contentType, "org.webmproject.webp");
  // Without a result nothing is proposed or written.
  workspace->updatePanel(1, [](CodecPanel& p) { p.selectCodec(CompressionCodec::webP); });
  workspace->exportResult(1, scratch / "out.webp");
  EXPECT_FALSE(workspace->exportProposal(1).has_value() || exists(scratch / "out.webp"));
  EXPECT_NE(workspace->statusMessage().rfind("Export", 0), 0u);
  const fs::path destination = scratch / "exports" / "my photo.jxl";
  writeTextFile(destination, "an older file that is longer than the encoded one ....");
  workspace->exportResult(0, destination);
  EXPECT_EQ(workspace->statusMessage(), "Exported my photo.jxl.");
  EXPECT_TRUE(readTextFile(destination) == readTextFile(encoded) && exists(encoded));
  workspace->exportResult(0, encoded);
  EXPECT_EQ(workspace->statusMessage(), "Exported " + encoded.filename().string() + ".");
  EXPECT_EQ(fs::file_size(encoded), 1000u);
}

TEST_F(WorkspaceResultActionsTest, ExportFailuresNameTheReasonAndKeepWhatWasThere) {
  const fs::path missing = scratch / "no such folder" / "out.jxl";
  workspace->exportResult(0, missing);
  EXPECT_EQ(workspace->statusMessage(), "Export failed: No such file or directory: " + missing.string() + ".");
  const fs::path folder = scratch / "exports" / "folder.jxl";
  writeTextFile(folder / "inside.txt", "keep me");
  workspace->exportResult(0, folder);
  EXPECT_EQ(workspace->statusMessage(), "Export failed: Directory not empty: " + folder.string() + ".");
  EXPECT_EQ(readTextFile(folder / "inside.txt"), "keep me");
  fs::path directory = scratch / "read-only";
  if (::geteuid() != 0) {
    fs::create_directories(directory);
    fs::permissions(directory, fs::perms::owner_read | fs::perms::owner_exec);
  } else if (fs::is_directory("/sys")) {
    // Permissions do not stop root; sysfs refuses new files even to root.
    directory = "/sys";
  } else {
    GTEST_SKIP() << "running as root without a directory that refuses root";
  }
  workspace->exportResult(0, directory / "out.jxl");
  EXPECT_EQ(workspace->statusMessage(), "Export failed: Permission denied: " + (directory / "out.jxl").string() + ".");
  EXPECT_FALSE(exists(directory / "out.jxl"));
}

TEST_F(WorkspaceResultActionsTest, MetadataInspectionHandsTheListingOrTheErrorToThePresenter) {
  std::vector<EncodedMetadataInspection> shown;
  workspace->setMetadataPresenter([&](const EncodedMetadataInspection& inspection) { shown.push_back(inspection); });
  engine->setExifToolOutput("Image Width : 4\nImage Height : 3");
  workspace->inspectEncodedMetadata(0);
  ASSERT_TRUE(quiesce());
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(std::tuple(shown[0].title, shown[0].fileName, shown[0].text),
            std::tuple("JPEG XL Metadata", encoded.filename().string(), "Image Width : 4\nImage Height : 3"));

  engine->setExifToolError(CompressionError::missingTool("exiftool"));
  workspace->inspectEncodedMetadata(1);
  ASSERT_TRUE(quiesce());
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(std::tuple(shown[1].title, shown[1].fileName, shown[1].text),
            std::tuple("ExifTool Failed", workspace->panel(1).result->encodedURL.filename().string(),
                       "Missing command-line tool: exiftool. Install it with your package manager (see Required Tools) or add it to PATH."));

  // Nothing reaches the presenter of a closed tab.
  workspace->inspectEncodedMetadata(2);
  workspace.reset();
  ASSERT_TRUE(quiesce());
  EXPECT_EQ(shown.size(), 2u);
}

// The canvas's view values, activation and the workspace's registry handlers.
class WorkspaceActivationTest : public WorkspaceFixture {};

TEST_F(WorkspaceActivationTest, ViewValuesStartAtTheirDefaultsAndSettersTellObserversOnlyOfRealChanges) {
  const auto& view = workspace->canvasView();
  EXPECT_EQ(std::tuple(view.displayedImageScalePercent(), view.differenceGain(), view.canvasCommandToken()), std::tuple(100, 2, 0));
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
  EXPECT_EQ(std::pair(reactivations, workspace->canvasView().canvasCommandToken()), std::pair(1, 1));
  ASSERT_TRUE(registry.generate && registry.showOriginal && registry.showDifference && registry.hideComparisonOverlay &&
              registry.hideDifference && registry.stepDifferenceGain && registry.setDifferenceGainStep);
  // Window became key again.
  workspace->activate();
  EXPECT_EQ(std::pair(reactivations, workspace->canvasView().canvasCommandToken()), std::pair(2, 2));

  auto holds = [&] { return std::pair(workspace->canvasView().isShowingOriginal(), workspace->canvasView().isShowingDifference()); };
  registry.showOriginal();
  EXPECT_EQ(holds(), std::pair(true, false));
  registry.showDifference();
  EXPECT_EQ(holds(), std::pair(false, true));
  // Shift held, Space pressed and released: back to the difference.
  registry.showOriginal();
  registry.hideDifference();
  EXPECT_TRUE(workspace->canvasView().isShowingOriginal()) << "hideDifference leaves the original alone";
  registry.hideComparisonOverlay();
  EXPECT_EQ(holds(), std::pair(false, false));

  registry.showDifference();
  workspace->canvasView().setShowingOriginal(true);
  workspace->setActive(false);
  EXPECT_EQ(holds(), std::pair(false, false));
  EXPECT_EQ(reactivations, 2) << "deactivation registers nothing";
  // The gain handlers reach the canvas gain.
  registry.stepDifferenceGain(+1);
  registry.setDifferenceGainStep(4);
  EXPECT_EQ(workspace->canvasView().differenceGain(), 16);
  registry.stepDifferenceGain(+1);
  EXPECT_EQ(workspace->canvasView().differenceGain(), 32);
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

// Generation passes of a workspace: generate-all, a panel's own Generate,
// serial and parallel runs, overlapping passes, stale results and closing.
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
  EXPECT_EQ(shown(*workspace), "- | Untitled | 0 | Choose an image to begin.");
  EXPECT_FALSE(workspace->isRunning() || workspace->canGenerate());
  EXPECT_EQ(engine->preparationCount(), 0);
  EXPECT_TRUE(changes.empty());
  EXPECT_EQ(states(*workspace), "----- ----- ----- ----- ");
}

TEST_F(WorkspaceGenerationTest, GenerateAllRunsEveryPanelOnOnePreparedSourceAndAppliesEachResult) {
  load(source);
  // Passes hand the loaded image to preparation, so a deleted source file is not read again.
  fs::remove(source);
  changes.clear();
  workspace->startGenerateTask();
  // One notification for the whole start: running, status and all four panels.
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_TRUE(changes[0].contains(WorkspaceAspect::running) && changes[0].contains(WorkspaceAspect::status));
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(changes[0].containsPanel(i));
  EXPECT_TRUE(workspace->isRunning() && !workspace->canGenerate());
  EXPECT_EQ(workspace->statusMessage(), "Encoding all panels...");

  auto runs = waitingRuns(4);
  EXPECT_EQ(engine->preparationCount(), 1);
  EXPECT_EQ(engine->lastDecodedSource(), workspace->sourceImage()->image);
  std::set<fs::path> preparedDirectories;
  for (const auto& run : runs) preparedDirectories.insert(run.preparedDirectory);
  ASSERT_EQ(preparedDirectories.size(), 1u);
  const fs::path prepared = *preparedDirectories.begin();
  EXPECT_TRUE(exists(prepared / "source.png"));
  EXPECT_EQ(states(*workspace), "--R-- --R-- --R-- --R-- ");

  // Outcomes are applied in completion order; the pass runs until the last.
  std::vector<std::string> statuses;
  for (int index : {2, 0, 3, 1}) {
    auto run = std::find_if(runs.begin(), runs.end(), [&](const auto& r) { return panelIndexOf(r) == index; });
    finishAndApply(run->number, 90.0, 1000 * (index + 1));
    statuses.push_back(workspace->statusMessage());
    EXPECT_EQ(workspace->isRunning() && workspace->panel(index).result.has_value(), index != 1);
  }
  EXPECT_EQ(statuses, (std::vector<std::string>{"Generated WebP: 3.0 KB.", "Generated JPEG XL: 1.0 KB.",
                                                "Generated JPEGli: 4.0 KB.", "Generated AVIF: 2.0 KB."}));
  EXPECT_FALSE(exists(prepared)) << "the prepared source outlived its pass";
  EXPECT_EQ(states(*workspace), "r---- r---- r---- r---- ");
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(workspace->panel(i).result->encodedSize, 1000 * (i + 1));
    EXPECT_TRUE(workspace->temporaryFiles().directories().contains(workspace->panel(i).result->workDirectory));
  }
}

TEST_F(WorkspaceGenerationTest, FailedRunsAndPreparationsClearTheResultsOfThePanelsTheyConcernAndReportTheError) {
  load(source);
  generateAllAndFinish();
  const auto oldDirectories = resultDirectories(*workspace);
  workspace->generatePanel(workspace->panel(1).id);
  failAndApply(waitingRuns(1)[0].number, CompressionError::missingTool("avifenc"));
  const std::string missing = "Missing command-line tool: avifenc. Install it with your package manager (see "
                              "Required Tools) or add it to PATH.";
  EXPECT_EQ(states(*workspace), "r---- -e--- r---- r---- ");
  EXPECT_EQ(workspace->panel(1).errorMessage, missing);
  EXPECT_EQ(workspace->statusMessage(), "AVIF failed: " + missing);
  EXPECT_FALSE(exists(oldDirectories[1]));

  // A panel's own Generate reports a failed preparation on that panel only.
  engine->setPreparationError(CompressionError::processFailed("vips", "out of memory\n"));
  workspace->generatePanel(workspace->panel(2).id);
  ASSERT_TRUE(quiesce());
  EXPECT_EQ(workspace->panel(2).errorMessage, "vips failed. out of memory");
  EXPECT_EQ(workspace->statusMessage(), "WebP failed: vips failed. out of memory");
  EXPECT_EQ(states(*workspace), "r---- -e--- -e--- r---- ");
  EXPECT_EQ(workspace->panel(1).errorMessage, missing);

  // A failed preparation of a whole pass marks every panel with the same error; the status shows the last.
  engine->setPreparationError(CompressionError::unreadableImage(source));
  workspace->generateAll();
  ASSERT_TRUE(quiesce());
  const std::string message = "Could not read decoded image: photo.png.";
  EXPECT_EQ(states(*workspace), "-e--- -e--- -e--- -e--- ");
  for (const auto& panel : workspace->panels()) EXPECT_EQ(panel.errorMessage, message);
  EXPECT_EQ(existing(oldDirectories), 0);
  EXPECT_EQ(workspace->statusMessage(), "JPEGli failed: " + message);
  EXPECT_FALSE(workspace->isRunning());
}

TEST_F(WorkspaceGenerationTest, LoadingDuringAPassDropsItsResultsDeletesTheirDirectoriesAndStopsRunningAtOnce) {
  load(source);
  workspace->generateAll();
  auto runs = waitingRuns(4);
  const fs::path prepared = runs[0].preparedDirectory;

  load(writeImage("second.png"));
  EXPECT_TRUE(!workspace->isRunning() && workspace->canGenerate());
  EXPECT_EQ(states(*workspace), "----- ----- ----- ----- ");
  // The engine runs its children to the end; what they produce is dropped.
  for (const auto& run : runs) finishAndApply(run.number);
  EXPECT_EQ(states(*workspace), "----- ----- ----- ----- ");
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
    EXPECT_TRUE(engine->waitingRuns().empty() && !workspace->isRunning());
    EXPECT_EQ(states(*workspace), "----- ----- ----- ----- ");
    EXPECT_TRUE(rootEntries().empty());
    EXPECT_EQ(engine->startedRunCount() - startedBefore, isParallel ? 4 : 1);
  }
}

TEST_F(WorkspaceGenerationTest, SerialPassRunsOnePanelAtATimeEachFromTheSettingsWhenItStarts) {
  settings->setEncodeInParallel(false);
  load(source);
  workspace->generateAll();
  // Edited while panel 0 runs: panel 1's run starts from the edited settings.
  for (int expected = 0; expected < 4; ++expected) {
    auto next = waitingRuns(1);
    EXPECT_EQ(panelIndexOf(next[0]), expected);
    if (expected == 0) workspace->updatePanel(1, [](CodecPanel& p) { p.quality = 42; });
    EXPECT_TRUE(expected != 1 || next[0].panel.quality == 42);
    finishAndApply(next[0].number);
    EXPECT_TRUE(workspace->panel(expected).result.has_value()) << "applied before the next run starts";
  }
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
  // The status names a codec by its raw value, not "HEIF (System)".
  workspace->updatePanel(0, [](CodecPanel& p) { p.selectCodec(CompressionCodec::heif); });
  workspace->generateAll();
  auto allRuns = waitingRuns(4);
  workspace->startGenerateTask();
  ASSERT_TRUE(quiesce());
  EXPECT_EQ(workspace->statusMessage(), "Encoding all panels...");
  workspace->generatePanel(workspace->panel(0).id);
  EXPECT_EQ(workspace->statusMessage(), "Encoding HEIF...");
  const auto panelRun = waitingRuns(5).back();
  EXPECT_EQ(engine->preparationCount(), 2);
  const auto generateAllRun = *std::find_if(allRuns.begin(), allRuns.end(), [&](const auto& r) { return panelIndexOf(r) == 0; });
  ASSERT_EQ(panelIndexOf(panelRun), 0);
  finishAndApply((panelPassFinishesFirst ? panelRun : generateAllRun).number, 90.0, 111);
  const fs::path replaced = workspace->panel(0).result->workDirectory;
  finishAndApply((panelPassFinishesFirst ? generateAllRun : panelRun).number, 90.0, 222);
  ASSERT_TRUE(workspace->panel(0).result.has_value());
  EXPECT_EQ(std::pair(workspace->panel(0).result->encodedSize, workspace->statusMessage()), std::pair(std::int64_t{222}, std::string("Generated HEIF: 222 bytes.")));
  EXPECT_TRUE(!exists(replaced) && exists(workspace->panel(0).result->workDirectory));
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
  const auto otherDirectories = resultDirectories(*other);
  other.reset();
  EXPECT_EQ(existing(otherDirectories), 0);
  EXPECT_EQ(existing(resultDirectories(*workspace)), 4);
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


// Delayed auto-regeneration and the tab's rate control (Set Quality / Target Score).
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
  EXPECT_TRUE(engine->preparationCount() == preparationsBefore && workspace->hasPendingAutoRegeneration());
  advance(1ms);
  EXPECT_EQ(engine->preparationCount(), preparationsBefore + 1);
  EXPECT_EQ(workspace->statusMessage(), "Regenerating changed panels...");
  EXPECT_EQ(states(*workspace), "r---- r-R-s r-R-s r---- ");
  for (const auto& run : engine->waitingRuns()) EXPECT_TRUE(panelIndexOf(run) != 1 || run.panel.quality == 61);

  for (const auto& run : engine->waitingRuns()) finishAndApply(run.number);
  advance(60'000ms);
  EXPECT_EQ(engine->preparationCount(), preparationsBefore + 1) << "exactly one regeneration";
  EXPECT_EQ(states(*workspace), "r---- r---- r---- r---- ");
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
  EXPECT_EQ(states(*workspace), "re--- r---- r---- --R-- ");
}

TEST_F(WorkspaceAutoRegenerationTest, NothingIsScheduledWithoutASourceOrWhenSwitchedOff) {
  for (int effort : {9, 8}) {
    if (effort == 8) {
      load(writeImage("photo.png"));
      settings->setAutoRegenerate(false);
    }
    workspace->updatePanel(0, [&](CodecPanel& p) { p.effort = effort; });
    EXPECT_FALSE(workspace->hasPendingAutoRegeneration());
    advance(10'000ms);
    EXPECT_EQ(engine->preparationCount(), 0);
  }
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
  EXPECT_FALSE(workspace->sourceIsJPEG() || workspace->panel(0).isJPEGLosslessTranscode);
  EXPECT_TRUE(workspace->hasPendingAutoRegeneration());
  advance(2000ms);
  EXPECT_EQ(engine->preparationCount(), 1);
  EXPECT_EQ(states(*workspace), "--R-- --R-- --R-- --R-- ");
}

TEST_F(WorkspaceAutoRegenerationTest, AnEditDuringARegenerationCancelsItAndSchedulesAnother) {
  engine->setHonoursCancellation(true);
  load(writeImage("photo.png"));
  generateAllAndFinish();
  const auto keptResult = workspace->panel(1).result->id;
  workspace->updatePanel(1, [](CodecPanel& p) { p.quality = 50; });
  advance(2000ms);
  ASSERT_EQ(states(*workspace), "r---- r-R-s r---- r---- ");
  workspace->updatePanel(1, [](CodecPanel& p) { p.quality = 51; });
  ASSERT_TRUE(quiesce());
  // The superseded run ended without an outcome: the old result stays, marked stale.
  EXPECT_TRUE(engine->waitingRuns().empty());
  EXPECT_EQ(states(*workspace), "r---- r---s r---- r---- ");
  EXPECT_EQ(workspace->panel(1).result->id, keptResult);
  advance(2000ms);
  auto runs = engine->waitingRuns();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].panel.quality, 51);
}

// ---- Rate control

class WorkspaceRateControlTest : public WorkspaceFixture {};

TEST_F(WorkspaceRateControlTest, TheTabsModeReachesEveryPanelAndSearchesWriteTheFoundValueBackWithoutNeedingRegeneration) {
  workspace = makeWorkspace(RateControlMode::targetScore);
  workspace->setTargetScore(72.0);
  for (const auto& panel : workspace->panels()) EXPECT_EQ(std::pair(panel.rateControlMode, panel.targetScore), std::pair(RateControlMode::targetScore, 72.0));
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
  EXPECT_EQ(states(*workspace), "r---- ----- ----- ----- ");
  EXPECT_EQ(std::pair(workspace->panel(0).result->foundDistance, workspace->panel(0).distance), std::pair(std::optional(1.0), 1.0));

  workspace->generatePanel(workspace->panel(1).id);
  probe = waitingRuns(1)[0];
  EXPECT_EQ(probe.panel.quality, 85);
  finishAndApply(probe.number, 84.8);
  EXPECT_EQ(std::pair(workspace->panel(1).result->foundQuality, workspace->panel(1).quality), std::pair(std::optional(85), 85));

  // Set Quality puts the mode and the quality or distance into the signature.
  workspace->setRateControlMode(RateControlMode::manual);
  for (const auto& panel : workspace->panels()) EXPECT_EQ(panel.rateControlMode, RateControlMode::manual);
  EXPECT_EQ(states(*workspace), "r---s r---s ----- ----- ") << "no result, nothing to regenerate against";
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
  EXPECT_EQ(states(*workspace), "----- ----- -e--- ----- ");
  EXPECT_TRUE(rootEntries().empty()) << "the first probe's directory stayed behind";
}

class WorkspaceTabListTest : public WorkspaceFixture {
 protected:
  void SetUp() override {
    tabs = std::make_unique<WorkspaceTabList>([this](const WorkspaceTab& tab) {
      return std::make_unique<CompressionWorkspace>(services(), tab.title, tab.rateControlMode,
                                                    [this] { ++reactivations; });
    });
    subscription = tabs->observe([this] { ++notifications; });
  }
  void TearDown() override { subscription.reset(); tabs.reset(); WorkspaceFixture::TearDown(); }

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
  EXPECT_EQ(std::tuple(first.title, first.rateControlMode, tabs->selectedTabID(), reactivations),
            std::tuple("Untitled", RateControlMode::manual, first.id, 1));
  EXPECT_TRUE(tabs->selectedWorkspace().isActive() && !tabs->canCloseSelectedTab());
  tabs->closeSelectedTab();
  EXPECT_EQ(ids(), std::vector<Uuid>{first.id});

  tabs->addTab(RateControlMode::targetScore);
  ASSERT_EQ(tabs->tabCount(), 2u);
  const WorkspaceTab added = tabs->tabs()[1];
  EXPECT_EQ(std::tuple(added.title, tabs->selectedTabID(), tabs->selectedIndex(), tabs->workspace(added.id)->panel(0).rateControlMode),
            std::tuple("Untitled", added.id, std::size_t{1}, RateControlMode::targetScore));
  EXPECT_TRUE(tabs->canCloseSelectedTab() && notifications >= 1);
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
  EXPECT_TRUE(!first.isActive() && second.isActive());
  registry.showDifference();
  EXPECT_TRUE(second.canvasView().isShowingDifference() && !first.canvasView().isShowingDifference());

  tabs->selectTab(tabs->tabs()[0].id);
  EXPECT_TRUE(first.isActive());
  EXPECT_FALSE(second.canvasView().isShowingDifference()) << "the old tab's hold is released";
  registry.showOriginal();
  EXPECT_TRUE(first.canvasView().isShowingOriginal() && !second.canvasView().isShowingOriginal());

  tabs->selectTab(Uuid::random());
  EXPECT_TRUE(first.isActive()) << "an unknown id selects nothing";
}

TEST_F(WorkspaceTabListTest, LoadingRenamesOnlyThatTabAndClosingItWhileItRunsReturnsAtOnceLeavingNothing) {
  tabs->addTab(RateControlMode::manual);
  auto& second = tabs->selectedWorkspace();
  const int before = notifications;
  load(second, writeImage("a rather long holiday photo name.png"));
  auto list = tabs->tabs();
  EXPECT_EQ(list[0].title + "|" + WorkspaceTabList::label(list[0]) + "|" + list[1].title + "|" + WorkspaceTabList::label(list[1]),
            "Untitled|Untitled|a rather long holiday photo name.png|a rather long ho... name.png");
  EXPECT_GT(notifications, before);

  second.generateAll();
  auto runs = waitingRuns(4);
  tabs->closeSelectedTab();
  EXPECT_EQ(std::pair(tabs->tabCount(), workers->runningCount()), std::pair(std::size_t{1}, std::size_t{4})) << "closing did not wait for the runs";
  for (const auto& run : runs) engine->finishRun(run.number);
  ASSERT_TRUE(quiesce());
  EXPECT_TRUE(rootEntries().empty());
}

}  // namespace
}  // namespace quorlin::test
