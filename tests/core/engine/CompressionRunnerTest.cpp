#include "core/engine/CompressionRunner.h"

#include <gtest/gtest.h>


#include "EngineHarness.h"
#include "core/common/CompressionError.h"
#include "core/engine/DisplayImageReader.h"
#include "core/engine/ExifToolMetadata.h"
#include "support/TestImages.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;

class CompressionRunnerTest : public ::testing::Test {
 protected:
  test::EngineHarness harness;
  CompressionRunner engine{harness.context()};
};

TEST_F(CompressionRunnerTest, SearchRunsProbesThroughRunPanelOnTheGivenSource) {
  harness.recordingEncoder("cwebp");
  harness.recordingDecoder("dwebp");
  harness.fakeScorer("85.2");  // within 0.5 of the target at the first probe
  auto source = engine.prepareSource(harness.makeSource("photo.png"));
  EXPECT_EQ(source.temporaryDirectory.parent_path(), harness.temporaryRoot);
  CodecPanel panel;
  panel.codec = CompressionCodec::webP;
  panel.rateControlMode = RateControlMode::targetScore;
  panel.isWebPLossless = true;  // the search encodes lossy all the same
  std::vector<std::string> progress;
  CompressionResult result =
      engine.searchTargetScore(panel, source, [&](const std::string& text) { progress.push_back(text); }, {});
  EXPECT_EQ(result.foundQuality, 85);
  EXPECT_EQ(result.commandLine, "cwebp -q 85 -m 7 -metadata all");
  EXPECT_EQ(progress, (std::vector<std::string>{"Probe 1: quality 85...", "Probe 1: quality 85 scored 85.2 (target 85)"}));
  EXPECT_EQ(harness.workDirectories(source), std::vector<fs::path>{result.workDirectory});
  EXPECT_EQ(harness.recordedArguments("ssimulacra2").at(2), source.preparedURL.string());
  result.removeWorkDirectory();
  source.removeTemporaryDirectory();
  EXPECT_TRUE(fs::is_empty(harness.temporaryRoot));
}

TEST_F(CompressionRunnerTest, PrepareSourceReusesTheImageTheCallerDecoded) {
  fs::path file = harness.makeSource("photo.png", false, 24, 16);
  // A different picture than the file holds: the prepared PNG must be made from it.
  fs::path other = harness.makeSource("other.png", false, 10, 6);
  auto decoded = engine.readDisplayImage(other, nullptr, std::nullopt);
  ASSERT_TRUE(decoded);
  auto source = engine.prepareSource(file, decoded->image);
  EXPECT_EQ(source.sourceURL, file);
  EXPECT_EQ(test::readPNGHeader(source.preparedURL).width, 10);
  source.removeTemporaryDirectory();
}

TEST_F(CompressionRunnerTest, ReadsMetadataAndExifToolListingThroughItsContext) {
  fs::path file = harness.makeSource("photo.png", true);
  auto display = engine.readDisplayImage(file, nullptr, 3.0);
  ASSERT_TRUE(display);
  EXPECT_EQ(display->contentHeadroom, 3.0);
  EXPECT_EQ(engine.readSourceImageMetadata(file, display->displaySize).bitDepth, 16);
  harness.recordingToolPrinting("exiftool", "File Name : photo.png\nFile Type : PNG");
  EXPECT_EQ(engine.readExifToolMetadata(file, {}), "File Type : PNG");
}

// An engine that implements only the required calls still searches through its own runPanel.
class ScriptedEngine : public CompressionEngine {
 public:
  std::optional<DisplayImage> readDisplayImage(const fs::path&, const ColorSpaceRef&, std::optional<double>) override {
    return std::nullopt;
  }
  SourceImageMetadata readSourceImageMetadata(const fs::path&, PixelSize) override { return {}; }
  PreparedCompressionSource prepareSource(const fs::path& source) override {
    PreparedCompressionSource prepared;
    prepared.sourceURL = source;
    return prepared;
  }
  CompressionResult runPanel(const CodecPanel& panel, const PreparedCompressionSource& source,
                             std::stop_token) override {
    sources.push_back(source.sourceURL);
    CompressionResult result;
    result.codec = panel.codec;
    result.ssimulacra2Score = panel.distance <= 1.0 ? 85.1 : 70;
    return result;
  }
  std::string readExifToolMetadata(const fs::path&, std::stop_token) override { return {}; }

  std::vector<fs::path> sources;
};

TEST(CompressionEngineDefaultsTest, SearchAndPreparationFallBackToTheRequiredCalls) {
  ScriptedEngine engine;
  CompressionEngine& base = engine;
  auto prepared = base.prepareSource("/photos/a.png", nullptr);
  EXPECT_EQ(prepared.sourceURL, "/photos/a.png");
  CodecPanel panel;  // JPEG XL: a distance search starting at 1
  panel.rateControlMode = RateControlMode::targetScore;
  CompressionResult result = base.searchTargetScore(panel, prepared, [](const std::string&) {}, {});
  EXPECT_EQ(result.foundDistance, 1.0);
  EXPECT_EQ(engine.sources, std::vector<fs::path>{"/photos/a.png"});
}

TEST(ExifToolFilterTest, DropsTheSevenFileKeysFromARealListing) {
  std::string listing = test::readTextFile(std::filesystem::path(QUORLIN_SOURCE_DIR) / "tests" / "core" / "engine" /
                                           "fixtures" / "exiftool-12.57-avif.txt");
  std::string filtered = filterExifToolOutput(listing);
  EXPECT_TRUE(filtered.starts_with("ExifTool Version Number         : 12.57\n"
                                   "File Type                       : AVIF\n"
                                   "File Type Extension             : avif\n"
                                   "MIME Type                       : image/avif\n"))
      << filtered;
  for (const char* key : {"File Name", "Directory", "File Size", "File Modification", "File Access",
                          "File Inode Change", "File Permissions"}) {
    EXPECT_EQ(filtered.find(std::string("\n") + key), std::string::npos) << key;
  }
  EXPECT_NE(filtered.find("\nImage Size                      : 64x48"), std::string::npos);
  EXPECT_FALSE(filtered.ends_with('\n'));
}

TEST(ExifToolFilterTest, KeysAreTrimmedAndMatchedExactly) {
  EXPECT_EQ(filterExifToolOutput("   File Name   : a.jxl\nImage Size  : 1x1"), "Image Size  : 1x1");
  // A value full of colons does not move the key's end.
  EXPECT_EQ(filterExifToolOutput("File Modification Date/Time : 2026:12:05 17:13:40+00:00\nCreate Date : 2026:12:05"),
            "Create Date : 2026:12:05");
  // Only the exact keys: case and longer keys stay.
  EXPECT_EQ(filterExifToolOutput("file name : x\nFile Names : y\nFile Type Extension : jxl"),
            "file name : x\nFile Names : y\nFile Type Extension : jxl");
  // Empty lines and lines without a colon stay; the whole text is trimmed.
  EXPECT_EQ(filterExifToolOutput("\n  Header\n\nDirectory : /tmp\nKey : v\n\n"), "Header\n\nKey : v");
  EXPECT_EQ(filterExifToolOutput("File Name : a\nDirectory : b\nFile Size : 3 kB\n"), "");
}

TEST(ExifToolReadTest, RunsExiftoolWithThePathAlone) {
  test::EngineHarness harness;
  harness.recordingToolPrinting("exiftool", "ExifTool Version Number : 12.57\nFile Name : my photo.jxl\n"
                                            "File Type : JXL");
  std::filesystem::path file = harness.scratch / "my photo.jxl";
  EXPECT_EQ(readExifToolMetadata(harness.runner, file), "ExifTool Version Number : 12.57\nFile Type : JXL");
  EXPECT_EQ(harness.recordedArguments("exiftool"), std::vector<std::string>{file.string()});
}

TEST(ExifToolReadTest, FailuresPassUpUnchanged) {
  test::EngineHarness harness;
  harness.tool("exiftool", "echo 'Error: File not found - /nowhere/x.jxl'\nexit 1");
  try {
    readExifToolMetadata(harness.runner, "/nowhere/x.jxl");
    ADD_FAILURE() << "no error";
  } catch (const CompressionError& error) {
    EXPECT_EQ(error.message(), "exiftool failed. Error: File not found - /nowhere/x.jxl");
  }
}

}  // namespace
}  // namespace quorlin
