// The core budget may only change how long a run takes: each codec of the
// catalog, run with the real tools on one small photograph with a budget of
// one thread and of two, must write the same encoded and decoded files, get
// the same score and store the same command. Codecs whose tools are missing
// or refused by the installed release are skipped.
#include <gtest/gtest.h>
#include <vips/vips8>

#include <algorithm>
#include <cctype>
#include <sstream>

#include "EngineHarness.h"
#include "core/common/CompressionError.h"
#include "core/engine/CoreBudget.h"
#include "core/engine/PanelRunner.h"
#include "core/engine/VipsRuntime.h"
#include "core/tools/ToolThreadFlags.h"
#include "core/tools/ToolVersionRules.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;

class ThreadCountTest : public ::testing::TestWithParam<CompressionCodec> {
 protected:
  // The console line of the latest run of `tool`.
  std::string latestCommand(std::string_view tool) {
    auto entries = harness.consoleEntries();
    auto found = std::find_if(entries.rbegin(), entries.rend(), [&](const CommandConsoleEntry& entry) {
      return entry.commandLine.starts_with(std::string(tool) + " ");
    });
    return found == entries.rend() ? std::string() : found->commandLine;
  }

  test::EngineHarness harness{test::ToolSet::installed};
};

TEST_P(ThreadCountTest, OneThreadAndTwoGiveTheSameBytesScoreAndCommand) {
  const CompressionCodec codec = GetParam();
  const CodecInfo& info = codecInfo(codec);
  for (std::string_view tool : {info.encoderTool, info.decoderTool, std::string_view("ssimulacra2")}) {
    if (!tool.empty() && !findTool(tool, harness.searchPath.toolSearchDirectories())) {
      GTEST_SKIP() << tool << " is not installed";
    }
  }
  // 256 pixels wide: at 128, avifenc's one-job and two-job files are still alike.
  ensureVipsInitialized();
  fs::path photo = harness.scratch / "cups.png";
  vips::VImage::thumbnail((fs::path(QUORLIN_SOURCE_DIR) / "samples" / "colorful-cups.jpg").c_str(), 256)
      .pngsave(photo.c_str());
  PreparedCompressionSource source = harness.prepare(photo);

  CodecPanel panel;
  panel.codec = codec;
  panel.quality = 80;
  panel.effort = 5;
  CoreBudget budget(2);
  EngineContext context = harness.context();
  context.budget = &budget;

  std::optional<CompressionResult> results[2];
  for (int threads : {1, 2}) {
    budget.setThreadsPerPass(threads);
    try {
      results[threads - 1] = runPanel(panel, source, context);
    } catch (const CompressionError& error) {
      if (error.kind() != CompressionError::Kind::unsupportedByTool) throw;
      GTEST_SKIP() << error.message();
    }
    if (!info.encoderTool.empty()) {
      // The console shows the flag the encoder really got.
      std::string expected = std::string(info.encoderTool);
      for (const auto& argument : threadArguments(info.encoderTool, threads, codec)) expected += " " + argument;
      EXPECT_TRUE(latestCommand(info.encoderTool).starts_with(expected + " ")) << latestCommand(info.encoderTool);
    }
  }
  const CompressionResult& one = *results[0];
  const CompressionResult& two = *results[1];
  // Compared whole, reported by size: a dump of two binary files helps nobody.
  auto expectSameBytes = [](const fs::path& a, const fs::path& b) {
    EXPECT_TRUE(test::readTextFile(a) == test::readTextFile(b))
        << a.filename() << " differs: " << fs::file_size(a) << " bytes with one thread, " << fs::file_size(b)
        << " with two";
  };
  expectSameBytes(one.encodedURL, two.encodedURL);
  expectSameBytes(one.decodedURL, two.decodedURL);
  EXPECT_EQ(one.ssimulacra2Score, two.ssimulacra2Score);
  // The stored command is the result's settings only.
  EXPECT_EQ(one.commandLine, two.commandLine);
  const auto flag = threadArguments(info.encoderTool, 2, codec);
  std::istringstream words(two.commandLine);
  for (std::string word; words >> word;) {
    EXPECT_TRUE(flag.empty() || word != flag.front()) << two.commandLine;
  }
  one.removeWorkDirectory();
  two.removeWorkDirectory();
}

INSTANTIATE_TEST_SUITE_P(EveryCodec, ThreadCountTest, ::testing::ValuesIn(allCompressionCodecs()),
                         [](const ::testing::TestParamInfo<CompressionCodec>& codecParameter) {
                           std::string name;
                           for (char c : rawValue(codecParameter.param)) {
                             if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                           }
                           return name;
                         });

TEST(CoreBudgetTest, AutoIsTheHardwareAndAChosenCountReplacesIt) {
  CoreBudget budget(8);
  EXPECT_EQ(budget.totalThreads(), 8);
  budget.setThreadsPerPass(3);
  EXPECT_EQ(budget.totalThreads(), 3);
  budget.setThreadsPerPass(0);
  EXPECT_EQ(budget.totalThreads(), 8) << "counts below one are Auto";
  budget.setThreadsPerPass(12);
  budget.setThreadsPerPass(std::nullopt);
  EXPECT_EQ(budget.totalThreads(), 8);
  EXPECT_EQ(CoreBudget(0).totalThreads(), 1);
  EXPECT_GE(CoreBudget::availableHardwareThreads(), 1);
}

TEST(CoreBudgetTest, EachToolGetsTheTotalDividedAmongTheRunningPanelsRoundedDownButAtLeastOne) {
  CoreBudget budget(8);
  EXPECT_EQ(budget.threadsPerTool(), 8) << "a run outside any counted panel";
  std::vector<CoreBudget::RunningPanel> panels;
  // 8 / 1, 8 / 2, 8 / 3 = 2.67, 8 / 4; then more panels than threads.
  const int expected[] = {8, 4, 2, 2, 1, 1, 1, 1, 1};
  for (int share : expected) {
    panels.push_back(budget.panelStarted());
    EXPECT_EQ(budget.threadsPerTool(), share) << panels.size() << " running";
  }
  // As panels finish, the ones still running get more; a moved-from panel counts nothing.
  while (panels.size() > 1) panels.pop_back();
  EXPECT_EQ(budget.runningPanels(), 1);
  CoreBudget::RunningPanel moved = std::move(panels.front());
  panels.clear();
  EXPECT_EQ(budget.runningPanels(), 1);
  budget.setThreadsPerPass(2);
  EXPECT_EQ(budget.threadsPerTool(), 2);
}

}  // namespace
}  // namespace quorlin
