#include "core/engine/TargetSearch.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <stdexcept>
#include <vector>

#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

// A fake evaluator: scores and sizes come from functions of the probed
// parameter; every probe gets a real work directory so deletion can be checked.
class FakeProbes {
 public:
  FakeProbes(const test::ScratchDirectory& scratch, std::function<double(double)> score,
             std::function<std::int64_t(double)> size)
      : scratch_(scratch), score_(std::move(score)), size_(std::move(size)) {}

  CompressionResult operator()(const CodecPanel& panel) {
    panels.push_back(panel);
    const bool isDistance = codecInfo(panel.codec).rateParameter == RateParameterKind::distance;
    const double parameter = isDistance ? panel.distance : panel.quality;
    parameters.push_back(parameter);
    CompressionResult result;
    result.id = Uuid::random();
    result.codec = panel.codec;
    result.workDirectory = scratch_.path() / result.id.uuidString();
    std::filesystem::create_directories(result.workDirectory);
    result.ssimulacra2Score = score_(parameter);
    result.encodedSize = size_(parameter);
    directories.push_back(result.workDirectory);
    return result;
  }

  std::vector<std::filesystem::path> remainingDirectories() const {
    std::vector<std::filesystem::path> remaining;
    for (const auto& directory : directories) {
      if (std::filesystem::exists(directory)) remaining.push_back(directory);
    }
    return remaining;
  }

  std::vector<CodecPanel> panels;
  std::vector<double> parameters;
  std::vector<std::filesystem::path> directories;

 private:
  const test::ScratchDirectory& scratch_;
  std::function<double(double)> score_;
  std::function<std::int64_t(double)> size_;
};

CodecPanel targetPanel(CompressionCodec codec, double target = 85.0) {
  CodecPanel panel;
  panel.selectCodec(codec);
  panel.rateControlMode = RateControlMode::targetScore;
  panel.targetScore = target;
  return panel;
}

CompressionResult runSearch(const CodecPanel& panel, FakeProbes& probes, std::vector<std::string>* messages = nullptr) {
  return searchTargetScore(
      panel, [&](const std::string& message) { if (messages) messages->push_back(message); },
      std::ref(probes));
}

TEST(TargetSearchTest, FirstProbeWithinHalfAPointEndsTheSearch) {
  test::ScratchDirectory scratch;
  FakeProbes probes(scratch, [](double) { return 85.3; }, [](double q) { return static_cast<std::int64_t>(q * 100); });
  auto result = runSearch(targetPanel(CompressionCodec::webP), probes);
  EXPECT_EQ(probes.parameters, std::vector<double>{85});
  EXPECT_EQ(result.foundQuality, 85);
  EXPECT_FALSE(result.foundDistance);
}

TEST(TargetSearchTest, QualityDescendsGeometricallyAndStopsAfterEightProbes) {
  test::ScratchDirectory scratch;
  // Every probe scores far above the target; smaller quality, smaller file.
  FakeProbes probes(scratch, [](double) { return 95.0; }, [](double q) { return static_cast<std::int64_t>(q * 100); });
  auto result = runSearch(targetPanel(CompressionCodec::avif), probes);
  EXPECT_EQ(probes.parameters, (std::vector<double>{85, 56, 37, 24, 16, 11, 8, 6}));
  EXPECT_EQ(result.foundQuality, 6);
  EXPECT_EQ(result.encodedSize, 600);
  // Only the returned probe's directory is left.
  EXPECT_EQ(probes.remainingDirectories(), std::vector<std::filesystem::path>{result.workDirectory});
}

TEST(TargetSearchTest, DistanceDividesByTwoAndAHalfUntilTheBestEnd) {
  test::ScratchDirectory scratch;
  // All below the target; lower distance scores higher.
  FakeProbes probes(scratch, [](double d) { return 70.0 - d; }, [](double d) { return static_cast<std::int64_t>(1000 / d); });
  auto result = runSearch(targetPanel(CompressionCodec::jpegXL), probes);
  EXPECT_EQ(probes.parameters, (std::vector<double>{1.0, 0.4, 0.15, 0.05}));
  ASSERT_TRUE(result.foundDistance);
  EXPECT_DOUBLE_EQ(*result.foundDistance, 0.05);  // nearest to the target
  EXPECT_FALSE(result.foundQuality);
}

TEST(TargetSearchTest, WorkedExampleInterpolatesBetweenTheBracketEnds) {
  test::ScratchDirectory scratch;
  std::map<double, double> scores{{85, 88}, {56, 79}};
  FakeProbes probes(
      scratch, [&](double q) { return scores.count(q) ? scores[q] : 85.2; },
      [](double q) { return static_cast<std::int64_t>(q); });
  std::vector<std::string> messages;
  auto result = runSearch(targetPanel(CompressionCodec::webP), probes, &messages);
  // f = (85 - 79) / (88 - 79) = 0.667; 56 + 29 * 0.667 = 75.3 -> 75.
  EXPECT_EQ(probes.parameters, (std::vector<double>{85, 56, 75}));
  EXPECT_EQ(result.foundQuality, 75);
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "Probe 1: quality 85...", "Probe 1: quality 85 scored 88.0 (target 85)",
                          "Probe 2: quality 56...", "Probe 2: quality 56 scored 79.0 (target 85)",
                          "Probe 3: quality 75...", "Probe 3: quality 75 scored 85.2 (target 85)"}));
}

TEST(TargetSearchTest, ProgressTextsForDistanceProbesUseTheDistanceText) {
  test::ScratchDirectory scratch;
  FakeProbes probes(scratch, [](double d) { return d < 1.5 ? 90.0 : 84.9; }, [](double) { return 10; });
  std::vector<std::string> messages;
  runSearch(targetPanel(CompressionCodec::jpegli), probes, &messages);
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ(messages[0], "Probe 1: distance 1...");
  EXPECT_EQ(messages[1], "Probe 1: distance 1 scored 90.0 (target 85)");
  EXPECT_EQ(messages[2], "Probe 2: distance 2.5...");
}

TEST(TargetSearchTest, EqualSizedAcceptableProbesKeepTheEarlierOne) {
  test::ScratchDirectory scratch;
  FakeProbes probes(scratch, [](double) { return 95.0; }, [](double) { return 1234; });
  auto result = runSearch(targetPanel(CompressionCodec::webP), probes);
  EXPECT_EQ(result.foundQuality, 85);
  EXPECT_EQ(result.workDirectory, probes.directories.front());
  EXPECT_EQ(probes.remainingDirectories().size(), 1u);
}

TEST(TargetSearchTest, AnAcceptableBestIsNeverReplacedByAnUnacceptableSmallerProbe) {
  test::ScratchDirectory scratch;
  std::map<double, double> scores{{85, 90}, {56, 70}};
  FakeProbes probes(
      scratch, [&](double q) { return scores.count(q) ? scores[q] : (q > 70 ? 86.0 : 80.0); },
      [](double q) { return static_cast<std::int64_t>(q); });
  auto result = runSearch(targetPanel(CompressionCodec::webP), probes);
  EXPECT_GE(result.ssimulacra2Score, 84.5);
  for (size_t i = 0; i < probes.parameters.size(); ++i) {
    // No acceptable probe was smaller than the one returned.
    const double q = probes.parameters[i];
    const double s = scores.count(q) ? scores[q] : (q > 70 ? 86.0 : 80.0);
    if (s >= 84.5) {
      EXPECT_GE(static_cast<std::int64_t>(q), result.encodedSize);
    }
  }
}

TEST(TargetSearchTest, LosslessSwitchesAreOffOnEveryProbe) {
  test::ScratchDirectory scratch;
  FakeProbes probes(scratch, [](double q) { return q; }, [](double q) { return static_cast<std::int64_t>(q); });
  auto panel = targetPanel(CompressionCodec::webP);
  panel.isWebPLossless = panel.isAVIFLossless = panel.isHEIFLossless = panel.isJPEGLosslessTranscode = true;
  panel.effort = 3;
  runSearch(panel, probes);
  ASSERT_FALSE(probes.panels.empty());
  for (const auto& probe : probes.panels) {
    EXPECT_FALSE(probe.isWebPLossless || probe.isAVIFLossless || probe.isHEIFLossless || probe.isJPEGLosslessTranscode);
    EXPECT_EQ(probe.effort, 3);  // everything else as the user set it
  }
}

TEST(TargetSearchTest, InterpolatesWithTheClampedFractionOnceBracketed) {
  test::ScratchDirectory scratch;
  // Odd qualities score 90, even ones 80: never within 0.5 of 85.
  // f = 0.5 throughout: 56 + 15 * 0.5 = 63.5 -> 64, 64 + 3.5 = 67.5 -> 68, 68 + 1.5 = 69.5 -> 70; then the
  // bracket [70, 71] is one step wide.
  FakeProbes probes(scratch, [](double q) { return static_cast<int>(q) % 2 ? 90.0 : 80.0; },
                    [](double q) { return static_cast<std::int64_t>(q); });
  auto result = runSearch(targetPanel(CompressionCodec::heifLibheif), probes);
  EXPECT_EQ(probes.parameters, (std::vector<double>{85, 56, 71, 64, 68, 70}));
  EXPECT_EQ(result.foundQuality, 71);  // the smallest acceptable file
}

TEST(TargetSearchTest, StopsWhenTheBracketIsOneQualityStepWide) {
  test::ScratchDirectory scratch;
  // Quality 60 and above reach 86, below reaches 84: the bracket closes at 59..60.
  FakeProbes probes(scratch, [](double q) { return q >= 60 ? 86.0 : 84.0; },
                    [](double q) { return static_cast<std::int64_t>(q); });
  auto result = runSearch(targetPanel(CompressionCodec::webP), probes);
  EXPECT_EQ(probes.parameters, (std::vector<double>{85, 56, 71, 64, 60, 58, 59}));
  EXPECT_EQ(result.foundQuality, 60);
}

TEST(TargetSearchTest, EvaluatorErrorsEndTheSearchUnchanged) {
  test::ScratchDirectory scratch;
  int calls = 0;
  auto evaluate = [&](const CodecPanel&) -> CompressionResult {
    ++calls;
    throw CompressionError::missingTool("cwebp");
  };
  try {
    searchTargetScore(targetPanel(CompressionCodec::webP), nullptr, evaluate);
    FAIL() << "expected an error";
  } catch (const CompressionError& error) {
    EXPECT_EQ(error, CompressionError::missingTool("cwebp"));
  }
  EXPECT_EQ(calls, 1);
}

TEST(TargetSearchTest, CancellationIsNoticedBeforeTheFirstAndBetweenProbes) {
  test::ScratchDirectory scratch;
  std::stop_source stop;
  stop.request_stop();
  int calls = 0;
  auto counting = [&](const CodecPanel&) -> CompressionResult {
    ++calls;
    return {};
  };
  EXPECT_THROW(searchTargetScore(targetPanel(CompressionCodec::webP), nullptr, counting, stop.get_token()),
               CancellationError);
  EXPECT_EQ(calls, 0);

  std::stop_source later;
  FakeProbes probes(scratch, [](double) { return 99.0; }, [](double) { return 1; });
  auto cancelDuringProbe = [&](const CodecPanel& panel) {
    later.request_stop();  // the running probe finishes; the next one never starts
    return probes(panel);
  };
  EXPECT_THROW(searchTargetScore(targetPanel(CompressionCodec::webP), nullptr, cancelDuringProbe, later.get_token()),
               CancellationError);
  EXPECT_EQ(probes.parameters.size(), 1u);
}

}  // namespace
}  // namespace quorlin
