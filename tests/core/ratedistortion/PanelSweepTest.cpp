#include "core/ratedistortion/PanelSweep.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <thread>

#include "support/TestSupport.h"

#include "EngineHarness.h"
#include "core/common/Cancellation.h"
#include "core/engine/CompressionRunner.h"
#include "core/engine/VipsRuntime.h"
#include "core/tools/ToolLookup.h"
#include "core/tools/ToolVersionRules.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The value as the encoders are given it: "30", "1.5".
std::string valueText(CompressionCodec codec, double value) {
  std::string text = settingText(codec, value);
  return text.substr(text.find(' ') + 1);
}

// Sweeps through the real engine on fake tools that append one line per run
// ("ARGS...") to a log, so every point's argument list can be checked.
class PanelSweepTest : public ::testing::Test {
 protected:
  explicit PanelSweepTest(test::ToolSet tools = test::ToolSet::fakesOnly)
      : harness(tools),
        runner(harness.executables, harness.searchPath, harness.dispatcher, harness.console,
               ChildStandardInput::nullDevice, &tracker),
        engine(EngineContext{runner, harness.executables, harness.searchPath, harness.versions,
                             harness.temporaryRoot}) {}

  // A fake encoder: logs its arguments, fails for value `failing`, waits for
  // the file "release" for value `blocking`, then writes a genuine sample.
  void loggingEncoder(std::string_view name, std::string_view failing = "", std::string_view blocking = "") {
    const fs::path log = harness.logs / (std::string(name) + ".runs");
    std::string body = "case \"$1\" in --version|-version|-ver) exit 0;; esac\n"
                       "echo \"$*\" >> '" + log.string() + "'\n"
                       "for a in \"$@\"; do\n"
                       "  case \"$a\" in *[!0-9.=a-z_-]*) ;; *" + std::string(failing.empty() ? "NONE" : failing) +
                       ") exit 3;; esac\n"
                       "  case \"$a\" in *[!0-9.=a-z_-]*) ;; *" + std::string(blocking.empty() ? "NONE" : blocking) +
                       ") touch '" + (harness.logs / "blocked").string() + "'\n"
                       "    while [ ! -e '" + (harness.logs / "release").string() + "' ]; do sleep 0.02; done;; esac\n"
                       "done\nout=; prev=\n"
                       "for a in \"$@\"; do if [ \"$prev\" = -o ] || [ \"$prev\" = -outfile ]; then out=$a; fi; prev=$a; done\n"
                       "[ -n \"$out\" ] || out=$a\n"
                       "cp '" + harness.samples.string() + "'/sample.\"${out##*.}\" \"$out\"\n";
    harness.tool(name, body);
  }

  Lines runs(std::string_view name) const {
    std::istringstream text(test::readTextFile(harness.logs / (std::string(name) + ".runs")));
    Lines lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }

  void fakeDecodersAndScorer(std::string_view score = "70") {
    for (std::string_view decoder : {"djxl", "avifdec", "dwebp", "djpegli", "heif-dec"}) harness.recordingDecoder(decoder);
    harness.recordingToolPrinting("jxlinfo", "");
    harness.fakeScorer(score);
  }

  SweepPlan plan(CompressionCodec codec, int panelNumber = 1, std::vector<double> ladder = {}) {
    SweepPlan plan;
    plan.panel.codec = codec;
    plan.panel.effort = 5;
    plan.panelNumber = panelNumber;
    plan.ladder = std::move(ladder);
    return plan;
  }

  test::EngineHarness harness;
  ChildProcessTracker tracker;
  ToolRunner runner;
  CompressionRunner engine;
  SweepSettings settings{0, 24 * 16};
  Lines progress;
  std::mutex progressLock;
  SweepEvents events{[this](const std::string& text) {
                       std::lock_guard guard(progressLock);
                       progress.push_back(text);
                     },
                     {}};
};

TEST_F(PanelSweepTest, EveryCodecRunsItsLadderOnOnePreparedSourceInParallel) {
  fakeDecodersAndScorer();
  // A TIFF is no direct input of cjxl, cjpegli or avifenc: they get the prepared PNG.
  PreparedCompressionSource source = harness.prepare(harness.makeSource("photo.tif"));
  for (CompressionCodec codec : allCompressionCodecs()) {
    if (usesPlatformEncoder(codec)) continue;
    SCOPED_TRACE(rawValue(codec));
    const std::string encoder(codecInfo(codec).encoderTool);
    loggingEncoder(encoder);
    fs::remove(harness.logs / (encoder + ".runs"));
    SweepPlan request = plan(codec, 3);
    request.panel.isWebPLossless = request.panel.isAVIFLossless = request.panel.isHEIFLossless = true;
    PanelSweep sweep = sweepPanel(request, source, engine, settings, events, {});

    const auto ladder = defaultLadder(codec);
    Lines lines = runs(encoder);
    ASSERT_EQ(std::tuple(sweep.samples.size(), lines.size(), sweep.failures.size()), std::tuple(ladder.size(), ladder.size(), std::size_t{0}));
    for (std::size_t i = 0; i < ladder.size(); ++i) {
      const RateDistortionSample& sample = sweep.samples[i];
      EXPECT_EQ(sample.settingValue, ladder[i]);
      EXPECT_TRUE(fs::exists(sample.decodedURL) && sample.workDirectory.parent_path() == harness.temporaryRoot);
      EXPECT_DOUBLE_EQ(*sample.bitsPerPixel, sample.encodedSize * 8.0 / (24 * 16));
      // Its own run: the value as an argument, no lossless switch, the shared prepared source.
      std::string value = valueText(codec, ladder[i]);
      auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
        const std::string padded = l + " ";
        return padded.find(" " + value + " ") != std::string::npos ||
               padded.find("=" + value + " ") != std::string::npos;
      });
      ASSERT_NE(line, lines.end()) << value;
      EXPECT_NE(line->find(sample.workDirectory.string()), std::string::npos);
      EXPECT_TRUE(line->find("-l") == line->find("-lossless") && line->find(" -L ") == std::string::npos);
      if (codec != CompressionCodec::jpegTurbo) {
        EXPECT_NE(line->find(source.encoderInputURL(codec).string()), std::string::npos);
      }
    }
    const auto scored = harness.recordedArguments("ssimulacra2");
    EXPECT_NE(std::find(scored.begin(), scored.end(), source.preparedURL.string()), scored.end());
    EXPECT_EQ(std::count(progress.begin(), progress.end(), "Panel 3: point 5 of 9"), 1);
    progress.clear();
    sweep.removeFiles();
    EXPECT_TRUE(harness.workDirectories(source).empty());
  }
}

TEST_F(PanelSweepTest, AFailingPointIsReportedAndTheCurveGoesOn) {
  fakeDecodersAndScorer();
  loggingEncoder("cwebp", "50");
  PreparedCompressionSource source = harness.prepare(harness.makeSource("photo.png"));
  settings.parallelPoints = 1;
  PanelSweep sweep = sweepPanel(plan(CompressionCodec::webP, 1, {30, 50, 70, 90}), source, engine, settings, events, {});
  ASSERT_EQ(std::pair(sweep.samples.size(), sweep.failures.size()), std::pair(std::size_t{3}, std::size_t{1}));
  EXPECT_EQ(std::pair(sweep.samples[1].settingValue, sweep.samples[1].commandLine), std::pair(70.0, std::string("cwebp -q 70 -m 5 -metadata all")));
  EXPECT_EQ(std::pair(sweep.failures[0].value, sweep.failures[0].message), std::pair(50.0, std::string("cwebp exited with status 3.")));
  EXPECT_EQ(harness.workDirectories(source).size(), 3u);
  sweep.removeFiles();
}

TEST_F(PanelSweepTest, CancellingMidPointEndsTheToolAndLeavesNoDirectory) {
  fakeDecodersAndScorer();
  loggingEncoder("cwebp", "", "50");
  PreparedCompressionSource source = harness.prepare(harness.makeSource("photo.png"));
  SweepPlan request = plan(CompressionCodec::webP, 1, {30, 40, 50, 60, 70});
  settings.parallelPoints = 1;
  std::stop_source stop;
  bool isCancelled = false;
  std::jthread sweeping([&] {
    try {
      sweepPanel(request, source, engine, settings, events, stop.get_token());
    } catch (const CancellationError&) {
      isCancelled = true;
    }
  });
  ASSERT_TRUE(test::eventually([&] { return fs::exists(harness.logs / "blocked"); }, std::chrono::seconds(20)));
  EXPECT_EQ(harness.workDirectories(source).size(), 3u);  // two points done, the third running
  stop.request_stop();  // the blocked encoder is never released: only ending it unblocks the sweep
  sweeping.join();
  EXPECT_TRUE(isCancelled && harness.workDirectories(source).empty());
  EXPECT_EQ(runs("cwebp").size(), 3u);
  EXPECT_TRUE(fs::exists(source.preparedURL));  // the caller's to remove
}

TEST_F(PanelSweepTest, IsoScoreModeKeepsEveryProbeOfEverySearch) {
  // The score is the quality of the latest encode (one point at a time).
  harness.recordingDecoder("dwebp");
  harness.tool("ssimulacra2", "tail -n 1 '" + (harness.logs / "cwebp.runs").string() +
                                  "' | sed 's/^-q \\([0-9]*\\) .*/\\1/'\n");
  loggingEncoder("cwebp");
  PreparedCompressionSource source = harness.prepare(harness.makeSource("photo.png"));
  SweepPlan request = plan(CompressionCodec::webP, 2);
  request.targetScores = {60, 90};
  settings.parallelPoints = 1;
  PanelSweep sweep = sweepPanel(request, source, engine, settings, events, {});

  EXPECT_TRUE(sweep.failures.empty());
  std::vector<double> values;
  for (const auto& sample : sweep.samples) {
    EXPECT_EQ(sample.ssimulacra2Score, sample.settingValue);
    EXPECT_TRUE(fs::exists(sample.encodedURL) && (sample.targetScore == 60 || sample.targetScore == 90));
    values.push_back(sample.settingValue);
  }
  // Both searches start at quality 85; it is encoded once.
  EXPECT_TRUE(runs("cwebp").size() == sweep.samples.size() && std::count(values.begin(), values.end(), 85.0) == 1);
  EXPECT_TRUE(std::count(values.begin(), values.end(), 60.0) || std::count(values.begin(), values.end(), 90.0));
  EXPECT_TRUE(sweep.samples.size() > 2 && harness.workDirectories(source).size() == sweep.samples.size());
  EXPECT_NE(std::find(progress.begin(), progress.end(), "Panel 2: target 2 of 2: Probe 1: quality 85..."),
            progress.end());
  sweep.removeFiles();
}

// The real tools on a small photograph.
class RealToolSweepTest : public PanelSweepTest {
 protected:
  RealToolSweepTest() : PanelSweepTest(test::ToolSet::installed) {}
};

TEST_F(RealToolSweepTest, JpegXLAndWebPLaddersGiveMonotoneCurvesAndAFiniteDelta) {
  for (std::string_view tool : {"cjxl", "djxl", "cwebp", "dwebp", "ssimulacra2"}) {
    if (!findTool(tool, harness.searchPath.toolSearchDirectories())) GTEST_SKIP() << tool << " is not installed";
  }
  ensureVipsInitialized();
  const fs::path photo = harness.scratch / "cups.png";
  vips::VImage::thumbnail((fs::path(QUORLIN_SOURCE_DIR) / "samples" / "colorful-cups.jpg").c_str(), 160)
      .pngsave(photo.c_str());
  PreparedCompressionSource source = harness.prepare(photo);
  std::vector<SweepPlan> plans = {plan(CompressionCodec::jpegXL, 1, {6, 3, 1.5, 0.8, 0.4}), plan(CompressionCodec::webP, 2, {30, 50, 70, 85, 95})};
  settings.pixelCount.reset();
  std::vector<PanelSweep> sweeps = sweepPanels(plans, source, engine, settings, events, {});
  ASSERT_EQ(sweeps.size(), 2u);
  for (const auto& sweep : sweeps) {
    EXPECT_TRUE(sweep.failures.empty()) << sweep.failures.front().message;
    EXPECT_EQ(sweep.curve().keptCount(), 5u) << rawValue(sweep.panel.codec);
  }
  BjontegaardDelta delta = bjontegaardDeltaRate(sweeps[1].curve(), sweeps[0].curve());
  ASSERT_TRUE(delta.value);
  EXPECT_TRUE(std::isfinite(*delta.value) && delta.overlapRatio > 0);
  for (const auto& sweep : sweeps) sweep.removeFiles();
  EXPECT_TRUE(harness.workDirectories(source).empty());
}

}  // namespace
}  // namespace quorlin
