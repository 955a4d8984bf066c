#include "core/engine/PanelRunner.h"

#include <gtest/gtest.h>

#include "EngineHarness.h"
#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/engine/CompressionRunner.h"
#include "core/engine/DisplayImageReader.h"
#include "core/engine/ExifToolMetadata.h"
#include "core/engine/PNGColour.h"
#include "core/engine/TargetSearch.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using Arguments = std::vector<std::string>;

fs::path fixture(std::string_view name) {
  return fs::path(QUORLIN_SOURCE_DIR) / "tests" / "core" / "engine" / "fixtures" / name;
}

CodecPanel panelFor(CompressionCodec codec) {
  CodecPanel panel;
  panel.codec = codec;
  return panel;
}

class PanelRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override { source = harness.prepare(harness.makeSource("photo.png")); }

  test::EngineHarness harness;
  PreparedCompressionSource source;
};

TEST_F(PanelRunnerTest, WebPRunMakesACompleteResultWithoutDescription) {
  harness.recordingEncoder("cwebp");
  harness.recordingDecoder("dwebp");
  harness.recordingToolPrinting("jxlinfo", "JPEG XL image, 16x16, lossy, 8-bit RGB");
  harness.fakeScorer("85.3");
  CodecPanel panel = panelFor(CompressionCodec::webP);
  panel.quality = 72;

  CompressionResult result = runPanel(panel, source, harness.context());
  EXPECT_EQ(result.encodedURL, result.workDirectory / "photo.webp");
  EXPECT_EQ(result.decodedURL, result.workDirectory / "photo-decoded.png");
  EXPECT_EQ(result.encodedSize, static_cast<std::int64_t>(fs::file_size(harness.sample("sample.webp"))));
  EXPECT_DOUBLE_EQ(result.ssimulacra2Score, 85.3);
  EXPECT_EQ(result.commandLine, "cwebp -q 72 -m 7 -metadata all");
  EXPECT_EQ(result.settingsSignature, panel.settingsSignature());
  EXPECT_TRUE(result.encodedMetadataLines.empty());
  ASSERT_TRUE(result.decodedImage.image);
  EXPECT_EQ(result.decodedImage.displaySize, (PixelSize{16, 16}));

  EXPECT_EQ(harness.recordedArguments("dwebp"),
            (Arguments{result.encodedURL.string(), "-o", result.decodedURL.string()}));
  // Scored against the prepared PNG, never the user's file.
  EXPECT_EQ(harness.recordedArguments("ssimulacra2"),
            (Arguments{"--map", (result.workDirectory / "photo-error-map.pfm").string(), source.preparedURL.string(),
                       result.decodedURL.string()}));
  EXPECT_FALSE(harness.hasRun("jxlinfo"));

  auto entries = harness.consoleEntries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_TRUE(entries[0].commandLine.starts_with("cwebp -q 72"));
  EXPECT_TRUE(entries[1].commandLine.starts_with("dwebp "));
  EXPECT_TRUE(entries[2].commandLine.starts_with("ssimulacra2 "));
  result.removeWorkDirectory();
  EXPECT_TRUE(harness.workDirectories(source).empty());
}

// One colour rule for display and score: a decoded PNG that says nothing
// about its colours gets the source's profile (pixels untouched); one with
// its own description, or any result of an untagged source, stays as it is.
TEST_F(PanelRunnerTest, DecodedPNGWithoutColourInformationIsGivenTheSourceProfile) {
  const auto& p3 = ColorSpace::wellKnown(ColorSpace::WellKnown::displayP3)->iccProfile();
  vips::VImage wide = test::makeTestPicture(16, 16).copy();
  vips_image_set_blob_copy(wide.get_image(), VIPS_META_ICC_NAME, p3.data(), p3.size());
  wide.pngsave((harness.scratch / "wide.png").c_str());
  const fs::path ownProfile = harness.scratch / "own.png";
  insertPNGChunk(harness.sample("decoded.png"), "sRGB", {0});
  fs::copy_file(harness.sample("decoded.png"), ownProfile);
  auto wideSource = harness.prepare(harness.scratch / "wide.png");
  harness.recordingEncoder("cwebp");
  harness.recordingEncoder("cjxl");
  harness.fakeScorer("99.5");

  // dwebp drops the profile: its PNG says nothing about colours.
  const fs::path untagged = harness.scratch / "untagged.png";
  test::makeTestPicture(16, 16).pngsave(untagged.c_str());
  harness.recordingDecoder("dwebp", {}, untagged);
  CompressionResult tagged = runPanel(panelFor(CompressionCodec::webP), wideSource, harness.context());
  EXPECT_TRUE(tagged.scoredWithSourceProfile);
  auto colour = readPNGColourDescription(tagged.decodedURL);
  ASSERT_TRUE(colour && colour->isICCProfile);
  EXPECT_EQ(colour->colorSpace->iccProfile(), p3);
  EXPECT_EQ(test::decodedSamples(tagged.decodedURL), test::decodedSamples(untagged));
  EXPECT_EQ(tagged.decodedImage.image->colorSpace()->name(), "Display P3");
  // The console shows the step between decoding and scoring.
  auto entries = harness.consoleEntries();
  ASSERT_GE(entries.size(), 4u);
  EXPECT_TRUE(entries[1].commandLine.starts_with("dwebp "));
  EXPECT_EQ(entries[2].commandLine, "Tag wide-decoded.png with the source's profile");
  EXPECT_NE(entries[2].output.find("Display P3"), std::string::npos);
  EXPECT_TRUE(entries[3].commandLine.starts_with("ssimulacra2 "));

  harness.recordingDecoder("djxl", {}, ownProfile);
  CompressionResult own = runPanel(panelFor(CompressionCodec::jpegXL), wideSource, harness.context());
  EXPECT_FALSE(own.scoredWithSourceProfile);
  EXPECT_EQ(test::pngChunkTypes(own.decodedURL), test::pngChunkTypes(ownProfile));

  harness.recordingDecoder("dwebp", {}, untagged);
  CompressionResult plain = runPanel(panelFor(CompressionCodec::webP), source, harness.context());
  EXPECT_FALSE(plain.scoredWithSourceProfile);
  EXPECT_EQ(test::pngChunkTypes(plain.decodedURL), test::pngChunkTypes(untagged));
  for (const auto* result : {&tagged, &own, &plain}) result->removeWorkDirectory();
  wideSource.removeTemporaryDirectory();
}

// The map stays with the result; a scorer that does not know --map is asked
// again for the score alone.
TEST_F(PanelRunnerTest, TheErrorMapIsKeptWithTheResultOrLeftOutByAScorerWithoutIt) {
  harness.recordingEncoder("cwebp");
  harness.recordingDecoder("dwebp");
  harness.tool("ssimulacra2", "if [ \"$1\" = --map ]; then printf map > \"$2\"; fi\necho 85.5");
  CompressionResult mapped = runPanel(panelFor(CompressionCodec::webP), source, harness.context());
  ASSERT_TRUE(mapped.errorMapURL);
  EXPECT_EQ(*mapped.errorMapURL, mapped.workDirectory / "photo-error-map.pfm");
  EXPECT_EQ(test::readTextFile(*mapped.errorMapURL), "map");
  mapped.removeWorkDirectory();
  EXPECT_FALSE(fs::exists(*mapped.errorMapURL));

  harness.tool("ssimulacra2",
               "if [ \"$1\" = --map ]; then echo 'Usage: ssimulacra2 orig.png distorted.png' >&2; exit 1; fi\n"
               "echo 71.25");
  CompressionResult unmapped = runPanel(panelFor(CompressionCodec::webP), source, harness.context());
  EXPECT_DOUBLE_EQ(unmapped.ssimulacra2Score, 71.25);
  EXPECT_FALSE(unmapped.errorMapURL);
  unmapped.removeWorkDirectory();
}

// ---- Descriptions --------------------------------------------------------------

// Without jxlinfo, or with a failing one, the result is shown in the source's
// space; with an HDR description, in PQ with its headroom.
TEST_F(PanelRunnerTest, JPEGXLIsShownAsJxlinfoDescribesIt) {
  harness.recordingEncoder("cjxl");
  harness.recordingDecoder("djxl");
  harness.fakeScorer("-12.5");
  for (const char* jxlinfo : {"", "echo 'Error reading file' >&2\nexit 1"}) {
    if (*jxlinfo) harness.tool("jxlinfo", jxlinfo);
    harness.executables.invalidate();  // the lookup remembers the earlier miss
    CompressionResult result = runPanel(panelFor(CompressionCodec::jpegXL), source, harness.context());
    EXPECT_EQ(result.decodedImage.image->colorSpace(), source.displayMetadata.colorSpace);
    EXPECT_FALSE(result.decodedImage.contentHeadroom);
    EXPECT_TRUE(result.encodedMetadataLines.empty());
    result.removeWorkDirectory();
  }
  EXPECT_EQ(harness.consoleEntries().size(), 3u + 4u);  // the second run's jxlinfo was logged
  harness.recordingToolPrinting("jxlinfo", test::readTextFile(fixture("jxlinfo-0.7-pq-intensity-10000.txt")));
  CompressionResult result = runPanel(panelFor(CompressionCodec::jpegXL), source, harness.context());
  EXPECT_EQ(harness.recordedArguments("jxlinfo"), (Arguments{result.encodedURL.string()}));
  EXPECT_EQ(result.decodedImage.image->colorSpace()->kind(), ColorSpace::WellKnown::bt2100PQ);
  EXPECT_EQ(result.decodedImage.contentHeadroom, 100.0);
  EXPECT_EQ(result.encodedMetadataLines.size(), 6u);
  EXPECT_DOUBLE_EQ(result.ssimulacra2Score, -12.5);
  result.removeWorkDirectory();
}

// The description comes from the decode output; only when that has no details
// is avifdec run once more with "--info", whose failure gives no lines and no error.
TEST_F(PanelRunnerTest, AVIFDescriptionComesFromTheDecodeOutputOrOneInfoRun) {
  harness.recordingEncoder("avifenc");
  harness.recordingDecoder("avifdec", test::readTextFile(fixture("avifdec-0.11-decode.txt")));
  harness.fakeScorer("80");
  CompressionResult result = runPanel(panelFor(CompressionCodec::avif), source, harness.context());
  EXPECT_EQ(result.encodedMetadataLines, (Arguments{"Pixel Depth: 8-bit"}));
  EXPECT_EQ(harness.recordedArguments("avifdec").size(), 2u);
  EXPECT_EQ(harness.consoleEntries().size(), 3u);
  result.removeWorkDirectory();

  fs::path info = harness.scratch / "info.txt";
  test::writeTextFile(info, "Image format: YUV420 (AV1)\n * Bit Depth : 10\n");
  harness.tool("avifdec",
               "printf '%s\\n' \"$@\" >> '" + (harness.logs / "avifdec.calls").string() + "'\n"
               "if [ \"$1\" = --info ]; then cat '" + info.string() + "'; exit 0; fi\n"
               "cp '" + harness.sample("decoded.png").string() + "' \"$2\"\n");
  result = runPanel(panelFor(CompressionCodec::avif), source, harness.context());
  EXPECT_EQ(result.encodedMetadataLines, (Arguments{"Format: YUV420", "Pixel Depth: 10-bit"}));
  EXPECT_EQ(test::readTextFile(harness.logs / "avifdec.calls"),
            result.encodedURL.string() + "\n" + result.decodedURL.string() + "\n--info\n" +
                result.encodedURL.string() + "\n");
  result.removeWorkDirectory();
  harness.tool("avifdec", "if [ \"$1\" = --info ]; then exit 1; fi\ncp '" + harness.sample("decoded.png").string() +
                              "' \"$2\"\n");
  result = runPanel(panelFor(CompressionCodec::avif), source, harness.context());
  EXPECT_TRUE(result.encodedMetadataLines.empty());
  result.removeWorkDirectory();
}

// ---- Every failure leaves nothing behind ------------------------------------------

using H = test::EngineHarness&;
const std::string missingScorer =
    "Missing command-line tool: ssimulacra2. Install it with your package manager (see Required Tools) or add it to "
    "PATH.";

struct FailureRow {
  const char* name;
  CompressionCodec codec;
  void (*arrange)(H);
  std::string message;
};

const FailureRow failureRows[] = {
    {"decoder missing", CompressionCodec::jpegXL, [](H h) { h.recordingEncoder("cjxl"); h.fakeScorer("80"); },
     "Missing command-line tool: djxl. Install it with your package manager (see Required Tools) or add it to PATH."},
    {"decoder exits non-zero", CompressionCodec::jpegXL,
     [](H h) { h.recordingEncoder("cjxl"); h.tool("djxl", "echo 'Failed to decode' >&2\nexit 1"); h.fakeScorer("80"); },
     "djxl failed. Failed to decode"},
    {"decoder exits 0 without output", CompressionCodec::jpegXL,
     [](H h) { h.recordingEncoder("cjxl"); h.recordingToolPrinting("djxl", "Decoded."); h.fakeScorer("80"); },
     "Expected output was not created: photo-decoded.png."},
    {"decoder writes garbage", CompressionCodec::jpegXL,
     [](H h) {
       test::writeTextFile(h.scratch / "garbage.png", "\x89PNG\r\n\x1a\n this is not a picture");
       h.recordingEncoder("cjxl"); h.recordingDecoder("djxl", {}, h.scratch / "garbage.png"); h.fakeScorer("80");
     },
     "Could not read decoded image: photo-decoded.png."},
    {"ssimulacra2 prints no number", CompressionCodec::jpegXL,
     [](H h) { h.recordingEncoder("cjxl"); h.recordingDecoder("djxl"); h.fakeScorer("no score today"); },
     "ssimulacra2 failed. no score today"},
    {"ssimulacra2 fails", CompressionCodec::jpegXL,
     [](H h) {
       h.recordingEncoder("cjxl"); h.recordingDecoder("djxl");
       h.tool("ssimulacra2", "echo 'Image size mismatch.' >&2\nexit 1");
     },
     "ssimulacra2 failed. Image size mismatch."},
    {"ssimulacra2 missing", CompressionCodec::jpegXL, [](H h) { h.recordingEncoder("cjxl"); h.recordingDecoder("djxl"); },
     missingScorer},
    {"no tool at all for an in-process codec", CompressionCodec::jpeg, [](H) {}, missingScorer},
    // cjpeg "succeeds" with a JPEG that ends after its first bytes.
    {"corrupt file for the in-process decoder", CompressionCodec::jpegTurbo,
     [](H h) {
       test::writeTextFile(h.scratch / "cut.jpg", test::readTextFile(h.sample("sample.jpg")).substr(0, 40));
       h.recordingEncoder("cjpeg", {}, "../cut.jpg"); h.fakeScorer("80");
     },
     "Could not read decoded image: photo.jpg."},
    // The user's file went away after preparation; cwebp reads it directly.
    {"source deleted after preparation", CompressionCodec::webP,
     [](H h) {
       h.tool("cwebp", "[ -f \"$7\" ] || { echo \"Could not read input file $7\" >&2; exit 255; }\nexit 9");
       fs::remove(h.scratch / "photo.png");
     },
     "cwebp failed. Could not read input file PHOTO"},
};

TEST(PanelRunnerFailureTest, EveryFailureRowReportsItsMessageAndDeletesTheWorkDirectory) {
  for (const auto& row : failureRows) {
    SCOPED_TRACE(row.name);
    test::EngineHarness harness;
    auto source = harness.prepare(harness.makeSource("photo.png"));
    row.arrange(harness);
    std::string message = row.message;
    if (message.ends_with("PHOTO")) message.replace(message.size() - 5, 5, source.sourceURL.string());
    try {
      runPanel(panelFor(row.codec), source, harness.context());
      ADD_FAILURE() << "the run succeeded";
    } catch (const CompressionError& error) {
      EXPECT_EQ(error.message(), message);
      // libvips' reason, for which the message has no room, gets a failed console entry of its own.
      EXPECT_EQ(error.detail().empty(), error.kind() != CompressionError::Kind::unreadableImage);
      const auto entries = harness.consoleEntries();
      EXPECT_EQ(std::any_of(entries.begin(), entries.end(), [&](const CommandConsoleEntry& entry) {
                  return entry.commandLine == message && entry.output == error.detail() && entry.exitStatus == 1;
                }), !error.detail().empty());
    }
    EXPECT_TRUE(harness.workDirectories(source).empty());
    EXPECT_TRUE(fs::exists(source.preparedURL));  // the pass's source stays
  }
}

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

TEST(TargetSearchTest, CancellationBeforeOrBetweenProbesAndEvaluatorErrorsEndTheSearch) {
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
  // An evaluator's error ends the search unchanged.
  int calls = 0;
  auto failing = [&](const CodecPanel&) -> CompressionResult {
    throw CompressionError::missingTool(++calls ? "cwebp" : "");
  };
  try {
    searchTargetScore(panel, nullptr, failing);
    ADD_FAILURE() << "expected an error";
  } catch (const CompressionError& error) {
    EXPECT_EQ(error, CompressionError::missingTool("cwebp"));
  }
  EXPECT_EQ(calls, 1);
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
