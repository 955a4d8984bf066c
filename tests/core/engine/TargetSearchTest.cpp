#include "core/engine/TargetSearch.h"

#include <gtest/gtest.h>

#include "EngineHarness.h"
#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/engine/CompressionRunner.h"
#include "core/engine/DisplayImageReader.h"
#include "core/engine/ExifToolMetadata.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using Parameters = std::vector<double>;

// A fake evaluator: scores and sizes come from functions of the probed
// parameter; every probe gets a real work directory so deletion can be checked.
struct FakeProbes {
  using Score = double (*)(double);
  using Size = std::int64_t (*)(double);
  explicit FakeProbes(Score scoreOf, Size sizeOf = nullptr)
      : score(scoreOf), size(sizeOf ? sizeOf : [](double p) { return static_cast<std::int64_t>(p * 100); }) {}
  Score score;
  Size size;

  CompressionResult operator()(const CodecPanel& panel) {
    panels.push_back(panel);
    const double parameter =
        codecInfo(panel.codec).rateParameter == RateParameterKind::distance ? panel.distance : panel.quality;
    parameters.push_back(parameter);
    CompressionResult result;
    result.id = Uuid::random();
    result.codec = panel.codec;
    result.workDirectory = scratch / result.id.uuidString();
    fs::create_directories(result.workDirectory);
    result.ssimulacra2Score = score(parameter);
    result.encodedSize = size(parameter);
    directories.push_back(result.workDirectory);
    return result;
  }

  std::vector<fs::path> remainingDirectories() const {
    std::vector<fs::path> remaining;
    for (const auto& directory : directories) {
      if (fs::exists(directory)) remaining.push_back(directory);
    }
    return remaining;
  }

  CompressionResult search(CompressionCodec codec, std::vector<std::string>* messages = nullptr) {
    return searchTargetScore(
        targetPanel(codec), [&](const std::string& message) { if (messages) messages->push_back(message); },
        std::ref(*this));
  }

  static CodecPanel targetPanel(CompressionCodec codec) {
    CodecPanel panel;
    panel.selectCodec(codec);
    panel.rateControlMode = RateControlMode::targetScore;
    panel.targetScore = 85.0;
    return panel;
  }

  std::vector<CodecPanel> panels;
  Parameters parameters;
  std::vector<fs::path> directories;
  test::ScratchDirectory scratch;
};

// Which probes a search makes and which it returns, for a target of 85; sizes
// follow the parameter unless said otherwise.
struct SearchCase {
  const char* name;
  CompressionCodec codec;
  double (*score)(double);
  std::int64_t (*size)(double);
  Parameters probes;
  double found;
};

const SearchCase searchCases[] = {
    {"FirstProbeWithinHalfAPointEndsTheSearch", CompressionCodec::webP, [](double) { return 85.3; }, nullptr, {85}, 85},
    // Every probe far above the target: the quality descends geometrically, eight probes at most.
    {"QualityDescendsGeometricallyForEightProbes", CompressionCodec::avif, [](double) { return 95.0; }, nullptr,
     {85, 56, 37, 24, 16, 11, 8, 6}, 6},
    // All below the target; a lower distance scores higher; the nearest one is returned.
    {"DistanceDividesByTwoAndAHalfUntilTheBestEnd", CompressionCodec::jpegXL, [](double d) { return 70.0 - d; },
     [](double d) { return static_cast<std::int64_t>(1000 / d); }, {1.0, 0.4, 0.15, 0.05}, 0.05},
    // f = (85 - 79) / (88 - 79) = 0.667; 56 + 29 * 0.667 = 75.3 -> 75.
    {"WorkedExampleInterpolatesBetweenTheBracketEnds", CompressionCodec::webP,
     [](double q) { return q == 85 ? 88.0 : q == 56 ? 79.0 : 85.2; }, nullptr, {85, 56, 75}, 75},
    // Odd qualities score 90, even ones 80: never within 0.5 of 85. f = 0.5 throughout:
    // 56 + 15 * 0.5 = 63.5 -> 64, 64 + 3.5 -> 68, 68 + 1.5 -> 70; then [70, 71] is one step wide.
    {"InterpolatesWithTheClampedFractionOnceBracketed", CompressionCodec::heifLibheif,
     [](double q) { return static_cast<int>(q) % 2 ? 90.0 : 80.0; }, nullptr, {85, 56, 71, 64, 68, 70}, 71},
    {"StopsWhenTheBracketIsOneQualityStepWide", CompressionCodec::webP,
     [](double q) { return q >= 60 ? 86.0 : 84.0; }, nullptr, {85, 56, 71, 64, 60, 58, 59}, 60},
    // Equal sizes: the earlier acceptable probe stays.
    {"EqualSizedAcceptableProbesKeepTheEarlierOne", CompressionCodec::webP, [](double) { return 95.0; },
     [](double) -> std::int64_t { return 1234; }, {85, 56, 37, 24, 16, 11, 8, 6}, 85},
};

void PrintTo(const SearchCase& c, std::ostream* out) { *out << c.name; }

class TargetSearchCaseTest : public ::testing::TestWithParam<SearchCase> {};

TEST_P(TargetSearchCaseTest, ProbesAndResult) {
  const SearchCase& c = GetParam();
  FakeProbes probes(c.score, c.size);
  CompressionResult result = probes.search(c.codec);
  EXPECT_EQ(probes.parameters, c.probes);
  if (codecInfo(c.codec).rateParameter == RateParameterKind::distance) {
    ASSERT_TRUE(result.foundDistance);
    EXPECT_DOUBLE_EQ(*result.foundDistance, c.found);
    EXPECT_FALSE(result.foundQuality);
  } else {
    EXPECT_EQ(result.foundQuality, c.found);
    EXPECT_FALSE(result.foundDistance);
  }
  EXPECT_EQ(result.encodedSize, probes.size(c.found));
  // Only the returned probe's directory is left.
  EXPECT_EQ(probes.remainingDirectories(), std::vector<fs::path>{result.workDirectory});
}

INSTANTIATE_TEST_SUITE_P(Searches, TargetSearchCaseTest, ::testing::ValuesIn(searchCases),
                         [](const ::testing::TestParamInfo<SearchCase>& c) { return std::string(c.param.name); });

TEST(TargetSearchTest, ProgressTextsNameEachProbeAndItsScore) {
  // The quality texts are checked through the engine's search.
  FakeProbes distance{[](double d) { return d < 1.5 ? 90.0 : 84.9; }};
  std::vector<std::string> messages;
  distance.search(CompressionCodec::jpegli, &messages);
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ(std::vector(messages.begin(), messages.begin() + 3),
            (std::vector<std::string>{"Probe 1: distance 1...", "Probe 1: distance 1 scored 90.0 (target 85)",
                                      "Probe 2: distance 2.5..."}));
}

TEST(TargetSearchTest, AnAcceptableBestIsNeverReplacedByAnUnacceptableSmallerProbe) {
  constexpr auto score = [](double q) { return q == 85 ? 90.0 : q == 56 ? 70.0 : q > 70 ? 86.0 : 80.0; };
  FakeProbes probes{score, [](double q) { return static_cast<std::int64_t>(q); }};
  auto result = probes.search(CompressionCodec::webP);
  EXPECT_GE(result.ssimulacra2Score, 84.5);
  for (double q : probes.parameters) {
    // No acceptable probe was smaller than the one returned.
    if (score(q) >= 84.5) {
      EXPECT_GE(static_cast<std::int64_t>(q), result.encodedSize);
    }
  }
}

TEST(TargetSearchTest, LosslessSwitchesAreOffOnEveryProbe) {
  FakeProbes probes{[](double q) { return q; }};
  auto panel = FakeProbes::targetPanel(CompressionCodec::webP);
  panel.isWebPLossless = panel.isAVIFLossless = panel.isHEIFLossless = panel.isJPEGLosslessTranscode = true;
  panel.effort = 3;
  searchTargetScore(panel, nullptr, std::ref(probes));
  ASSERT_FALSE(probes.panels.empty());
  for (const auto& probe : probes.panels) {
    EXPECT_FALSE(probe.isWebPLossless || probe.isAVIFLossless || probe.isHEIFLossless || probe.isJPEGLosslessTranscode);
    EXPECT_EQ(probe.effort, 3);  // everything else as the user set it
  }
}

TEST(TargetSearchTest, EvaluatorErrorsEndTheSearchUnchanged) {
  int calls = 0;
  auto evaluate = [&](const CodecPanel&) -> CompressionResult {
    ++calls;
    throw CompressionError::missingTool("cwebp");
  };
  try {
    searchTargetScore(FakeProbes::targetPanel(CompressionCodec::webP), nullptr, evaluate);
    FAIL() << "expected an error";
  } catch (const CompressionError& error) {
    EXPECT_EQ(error, CompressionError::missingTool("cwebp"));
  }
  EXPECT_EQ(calls, 1);
}

TEST(TargetSearchTest, CancellationIsNoticedBeforeTheFirstAndBetweenProbes) {
  const CodecPanel panel = FakeProbes::targetPanel(CompressionCodec::webP);
  std::stop_source stop;
  stop.request_stop();
  FakeProbes probes{[](double) { return 99.0; }};
  EXPECT_THROW(searchTargetScore(panel, nullptr, std::ref(probes), stop.get_token()), CancellationError);
  EXPECT_TRUE(probes.parameters.empty());
  std::stop_source later;
  auto cancelDuringProbe = [&](const CodecPanel& probe) {
    later.request_stop();  // the running probe finishes; the next one never starts
    return probes(probe);
  };
  EXPECT_THROW(searchTargetScore(panel, nullptr, cancelDuringProbe, later.get_token()), CancellationError);
  EXPECT_EQ(probes.parameters.size(), 1u);
}

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
