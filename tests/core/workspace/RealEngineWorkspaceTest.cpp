// A workspace over the production engine and the codec tools installed on this
// system, scored by the project's own ssimulacra2 from the build tree. Until
// that is built, a stand-in scorer that prints a fixed score takes its place,
// so the encoders, decoders and the workspace still run for real. Skips,
// saying why, when a codec tool is missing.
#include <gtest/gtest.h>

#include <cmath>

#include <chrono>
#include <fstream>
#include <set>

#include <signal.h>

#include "core/comparison/KeyboardCommandRegistry.h"
#include "core/engine/CompressionRunner.h"
#include "core/engine/VipsRuntime.h"
#include "core/tools/CommandConsole.h"
#include "core/tools/ProcessRunner.h"
#include "core/tools/ToolLookup.h"
#include "core/tools/ToolVersionCache.h"
#include "core/workspace/AppSettings.h"
#include "core/workspace/BackgroundWorkers.h"
#include "core/workspace/CompressionWorkspace.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class RealEngineWorkspaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path standIns = scratch / "stand-ins";
    fs::create_directories(standIns);
    test::writeFakeTool(standIns, "ssimulacra2", "echo 90.0");
    settings.setCustomToolDirectories({(test::buildDirectory() / "src" / "metric").string(), standIns.string()});
    for (const char* tool : {"cjxl", "djxl", "avifenc", "avifdec", "cwebp", "dwebp"}) {
      if (!executables.locate(tool, searchPath.toolSearchDirectories())) GTEST_SKIP() << tool << " is not installed";
    }
    ensureVipsInitialized();
    source = scratch / "images" / "small picture.png";
    fs::create_directories(source.parent_path());
    test::makeTestPicture(64, 48).pngsave(source.c_str());
    workspace = std::make_unique<CompressionWorkspace>(
        WorkspaceServices{settings, temporaryDirectories, registry, engine, dispatcher, workers}, "Untitled",
        RateControlMode::manual, std::function<void()>{});
    // The fourth default codec has no tools on many systems; the in-process JPEG needs none.
    workspace->updatePanel(3, [](CodecPanel& p) { p.selectCodec(CompressionCodec::jpeg); });
  }

  void TearDown() override {
    workspace.reset();
    EXPECT_TRUE(workers->waitUntilIdle(std::chrono::duration_cast<std::chrono::milliseconds>(120s)));
    dispatcher->runPending();
    EXPECT_TRUE(rootEntries().empty()) << "work directories stayed after the tab closed";
  }

  bool pumpUntil(const std::function<bool()>& done) {
    return dispatcher->runUntil(done, std::chrono::duration_cast<std::chrono::milliseconds>(300s));
  }

  void load() {
    workspace->loadSource(source);
    ASSERT_TRUE(pumpUntil([&] { return !workspace->isLoadingSource(); }));
    ASSERT_EQ(workspace->sourceURL(), source) << workspace->statusMessage();
  }

  std::set<fs::path> rootEntries() const {
    std::error_code error;
    return fs::exists(root) ? std::set<fs::path>(fs::directory_iterator(root, error), {}) : std::set<fs::path>();
  }

  test::ScratchDirectory scratch;
  fs::path root = scratch / "Brimwell";
  fs::path source;
  std::shared_ptr<QueueDispatcher> dispatcher = std::make_shared<QueueDispatcher>();
  ExecutableURLCache executables;
  ToolSearchPath searchPath{executables};
  CommandConsoleStore console;
  ToolRunner runner{executables, searchPath, *dispatcher, console, ChildStandardInput::nullDevice};
  ToolVersionCache versions;
  AppSettings settings{std::make_shared<InMemorySettingsStore>(), searchPath};
  TemporaryDirectoryManager temporaryDirectories{root};
  KeyboardCommandRegistry registry;
  std::shared_ptr<CompressionEngine> engine = std::make_shared<CompressionRunner>(
      EngineContext{runner, executables, searchPath, versions, root});
  std::shared_ptr<BackgroundWorkers> workers = std::make_shared<BackgroundWorkers>();
  std::unique_ptr<CompressionWorkspace> workspace;
};

TEST_F(RealEngineWorkspaceTest, AParallelPassProducesFourScoredResultsAndClosingDeletesTheirDirectories) {
  settings.setEncodeInParallel(true);
  load();
  // A file that is gone can no longer be shown to hold the prepared pixels,
  // so every encoder gets the prepared copy of the image loaded earlier.
  fs::remove(source);
  workspace->generateAll();
  ASSERT_TRUE(pumpUntil([&] { return !workspace->isRunning(); })) << "the pass never ended";
  std::set<fs::path> resultDirectories;
  for (int i = 0; i < 4; ++i) {
    const CodecPanel& panel = workspace->panel(i);
    SCOPED_TRACE(std::string(rawValue(panel.codec)));
    ASSERT_TRUE(panel.result.has_value()) << panel.errorMessage.value_or("no error either");
    EXPECT_EQ(panel.result->encodedSize, static_cast<std::int64_t>(fs::file_size(panel.result->encodedURL)));
    // A tiny synthetic picture can score below zero after lossy coding; what
    // matters is that a real score arrived (the stand-in scorer prints 90).
    EXPECT_TRUE(std::isfinite(panel.result->ssimulacra2Score) && panel.result->ssimulacra2Score < 100.0);
    EXPECT_FALSE(panel.needsRegeneration());
    resultDirectories.insert(panel.result->workDirectory);
  }
  // Only the four results remain on disk: the prepared source went with its pass.
  EXPECT_EQ(rootEntries(), resultDirectories);
  EXPECT_EQ(workspace->statusMessage().rfind("Generated ", 0), 0u) << workspace->statusMessage();
  dispatcher->runPending();
  EXPECT_FALSE(console.entries().empty()) << "every tool run is logged";
}

// Exited: gone, or a zombie nobody has reaped yet.
bool hasEnded(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  return ::kill(pid, 0) != 0 || std::string(std::istreambuf_iterator<char>(stat), {}).find(") Z ") != std::string::npos;
}

// Stop by each of its ways (the workspace's, a panel's own, during a search,
// closing the tab), on a cjxl that ignores SIGTERM, starts a helper and is never released.
TEST_F(RealEngineWorkspaceTest, StopEndsTheToolsKeepsThePreviousResultsAndGenerateWorksAgainAtOnce) {
  settings.setAutoRegenerate(false);
  load();
  workspace->generateAll();
  ASSERT_TRUE(pumpUntil([&] { return !workspace->isRunning(); })) << "the pass never ended";
  const CompressionResult previous = *workspace->panel(0).result;
  const fs::path pids = scratch / "pids";
  const fs::path blocking = test::writeFakeTool(scratch / "stand-ins", "cjxl",
                                                "trap '' TERM\n(while :; do sleep 0.05; done) &\necho \"$$ $!\" > '" +
                                                    pids.string() + "~'\nmv '" + pids.string() + "~' '" +
                                                    pids.string() + "'\nwhile :; do sleep 0.05; done");
  executables.invalidate();
  for (int way : {0, 1, 2}) {
    SCOPED_TRACE(way);
    fs::remove(pids);
    if (way == 2) workspace->setRateControlMode(RateControlMode::targetScore);
    way == 1 ? workspace->generatePanel(workspace->panel(0).id) : workspace->generateAll();
    ASSERT_TRUE(test::eventually([&] { return dispatcher->runPending(), fs::exists(pids); }, 60s));
    way == 1 ? workspace->stopPanel(workspace->panel(0).id) : workspace->stop();
    EXPECT_TRUE(workspace->canGenerate() && workspace->statusMessage() == "Stopped.");
    EXPECT_TRUE(workspace->panel(0).result->id == previous.id && workspace->panel(0).needsRegeneration());
    ASSERT_TRUE(workers->waitUntilIdle(20s)) << "the encoder outlived its SIGKILL";
    dispatcher->runPending();
    pid_t tool = 0, helper = 0;
    std::ifstream(pids) >> tool >> helper;
    EXPECT_TRUE(test::eventually([&] { return hasEnded(tool) && hasEnded(helper); }, 5s));
    std::set<fs::path> kept;
    for (const auto& panel : workspace->panels()) kept.insert(panel.result->workDirectory);
    EXPECT_EQ(rootEntries(), kept) << "the stopped pass left a directory";
  }
  fs::remove(blocking);
  executables.invalidate();
  workspace->generateAll();
  ASSERT_TRUE(pumpUntil([&] { return !workspace->isRunning(); }));
  EXPECT_FALSE(workspace->panel(0).needsRegeneration());
  test::writeFakeTool(scratch / "stand-ins", "cjxl", "echo \"$$ $$\" > '" + pids.string() + "'\nwhile :; do sleep 0.05; done");
  executables.invalidate();
  fs::remove(pids);
  workspace->generateAll();
  ASSERT_TRUE(test::eventually([&] { return dispatcher->runPending(), fs::exists(pids) && fs::file_size(pids) > 0; }, 60s));
  pid_t tool = 0;
  std::ifstream(pids) >> tool;
  workspace.reset();
  EXPECT_TRUE(test::eventually([&] { return hasEnded(tool); }, 30s)) << "cjxl kept running after its tab closed";
}

}  // namespace
}  // namespace quorlin
