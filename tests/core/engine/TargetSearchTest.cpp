#include "core/engine/TargetSearch.h"

#include <gtest/gtest.h>


#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
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

}  // namespace
}  // namespace quorlin
