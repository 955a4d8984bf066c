// Loading a source, dropping items, and the texts the workspace shows for them.
#include <gtest/gtest.h>

#include <unistd.h>

#include "support/WorkspaceFixture.h"

namespace quorlin::test {
namespace {

namespace fs = std::filesystem;

class WorkspaceSourceTest : public WorkspaceFixture {};

TEST_F(WorkspaceSourceTest, ANewWorkspaceWaitsForAnImageAndLoadingSetsTheSourceRenamesTheTabAndResetsTheView) {
  EXPECT_EQ(workspace->statusMessage(), "Choose an image to begin.");
  EXPECT_FALSE(workspace->sourcePixelCount().has_value());
  ASSERT_EQ(workspace->panels().size(), 4u);
  const CompressionCodec expected[] = {CompressionCodec::jpegXL, CompressionCodec::avif, CompressionCodec::webP,
                                       CompressionCodec::jpegli};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(workspace->panel(i).codec, expected[i]);
  // A missing file cannot be loaded.
  load(scratch / "images" / "gone.png");
  EXPECT_EQ(workspace->statusMessage(), "Could not load gone.png.");
  EXPECT_FALSE(workspace->sourceURL().has_value());
  EXPECT_EQ(workspace->tabTitle(), "Untitled");
  EXPECT_EQ(workspace->sourceGeneration(), 0);

  const fs::path file = writeImage("sunset over the bay.png", 40, 30, true);
  workspace->canvasView().setZoom(3.0);
  workspace->canvasView().setPanOffset({12, -7});
  workspace->canvasView().setComparisonPoint(0.2, 0.9);
  load(file);
  EXPECT_EQ(workspace->sourceURL(), file);
  EXPECT_EQ(workspace->tabTitle(), "sunset over the bay.png");
  EXPECT_EQ(workspace->statusMessage(), "Loaded sunset over the bay.png.");
  EXPECT_EQ(workspace->sourceFileSize(), static_cast<std::int64_t>(std::string("fake image 40 30 alpha\n").size()));
  ASSERT_TRUE(workspace->sourceImage().has_value());
  EXPECT_EQ(workspace->sourceImage()->displaySize, (PixelSize{40, 30}));
  EXPECT_EQ(workspace->sourcePixelCount(), 1200);
  EXPECT_TRUE(workspace->usesTransparencyBackground());
  EXPECT_EQ(workspace->canvasView().zoom(), 1.0);
  EXPECT_EQ(workspace->canvasView().panOffset(), (SizeF{0, 0}));
  EXPECT_EQ(std::pair(workspace->canvasView().comparisonX(), workspace->canvasView().comparisonY()), std::pair(0.5, 0.5));
  EXPECT_EQ(workspace->sourceGeneration(), 1);
  EXPECT_TRUE(workspace->canGenerate());
}

TEST_F(WorkspaceSourceTest, LoadingClearsEveryPanelsResultAndDeletesItsFilesButAnUnreadableFileKeepsThePrevious) {
  const fs::path good = writeImage("a.png");
  load(good);
  generateAllAndFinish();
  std::vector<fs::path> directories;
  for (const auto& panel : workspace->panels()) directories.push_back(panel.result->workDirectory);
  const fs::path bad = scratch / "images" / "notes “draft”.txt";
  writeTextFile(bad, "not an image");
  load(bad);
  EXPECT_EQ(workspace->statusMessage(), "Could not load notes “draft”.txt.");
  EXPECT_EQ(workspace->loadErrorMessage(),
            "“notes “draft”.txt” could not be read as an image. Choose a still image in a format supported by "
            "the system's image library, such as PNG, JPEG, TIFF, or HEIC.");
  EXPECT_EQ(workspace->sourceURL(), good);
  EXPECT_EQ(workspace->tabTitle(), "a.png");
  EXPECT_EQ(workspace->sourceGeneration(), 1);
  for (const auto& directory : directories) EXPECT_TRUE(exists(directory));
  workspace->dismissLoadError();
  EXPECT_FALSE(workspace->loadErrorMessage().has_value());

  workspace->updatePanel(2, [](CodecPanel& p) { p.errorMessage = "old"; });
  load(writeImage("b.png"));
  for (const auto& panel : workspace->panels()) {
    EXPECT_FALSE(panel.result.has_value());
    EXPECT_FALSE(panel.errorMessage.has_value());
    EXPECT_FALSE(panel.progressMessage.has_value());
  }
  for (const auto& directory : directories) EXPECT_FALSE(exists(directory));
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
  EXPECT_EQ(workspace->sourceURL(), second);
  EXPECT_EQ(workspace->sourceGeneration(), 1);
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
  EXPECT_EQ(proposal->proposedFileName, encoded.filename().string());
  EXPECT_EQ(proposal->contentType, "public.jpeg-xl");
  EXPECT_EQ(workspace->exportProposal(2)->contentType, "org.webmproject.webp");
  // Without a result nothing is proposed or written.
  workspace->updatePanel(1, [](CodecPanel& p) { p.selectCodec(CompressionCodec::webP); });
  workspace->exportResult(1, scratch / "out.webp");
  EXPECT_FALSE(workspace->exportProposal(1).has_value());
  EXPECT_FALSE(exists(scratch / "out.webp"));
  EXPECT_NE(workspace->statusMessage().rfind("Export", 0), 0u);
  const fs::path destination = scratch / "exports" / "my photo.jxl";
  writeTextFile(destination, "an older file that is longer than the encoded one ....");
  workspace->exportResult(0, destination);
  EXPECT_EQ(workspace->statusMessage(), "Exported my photo.jxl.");
  EXPECT_EQ(readTextFile(destination), readTextFile(encoded));
  EXPECT_TRUE(exists(encoded));
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
  EXPECT_EQ(shown[0].title, "JPEG XL Metadata");
  EXPECT_EQ(shown[0].fileName, encoded.filename().string());
  EXPECT_EQ(shown[0].text, "Image Width : 4\nImage Height : 3");

  engine->setExifToolError(CompressionError::missingTool("exiftool"));
  workspace->inspectEncodedMetadata(1);
  ASSERT_TRUE(quiesce());
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].title, "ExifTool Failed");
  EXPECT_EQ(shown[1].fileName, workspace->panel(1).result->encodedURL.filename().string());
  EXPECT_EQ(shown[1].text, "Missing command-line tool: exiftool. Install it with your package manager (see Required Tools) or add it to PATH.");

  // Nothing reaches the presenter of a closed tab.
  workspace->inspectEncodedMetadata(2);
  workspace.reset();
  ASSERT_TRUE(quiesce());
  EXPECT_EQ(shown.size(), 2u);
}

}  // namespace
}  // namespace quorlin::test
