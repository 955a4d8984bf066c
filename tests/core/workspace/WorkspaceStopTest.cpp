// Stop over the production engine: a JPEG XL encoder that blocks (and ignores
// SIGTERM, with a helper process of its own) while the test's gate file
// exists, and otherwise runs the installed cjxl. The other panels use the
// in-process JPEG encoder; a stand-in scorer prints a fixed score. The
// desktop sweep's Cancel is checked on the same encoder.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "core/comparison/KeyboardCommandRegistry.h"
#include "core/common/MainThreadDispatcher.h"
#include "core/engine/CompressionRunner.h"
#include "core/engine/VipsRuntime.h"
#include "core/ratedistortion/RateDistortionSession.h"
#include "core/tools/CommandConsole.h"
#include "core/tools/ProcessRunner.h"
#include "core/tools/TemporaryFiles.h"
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

// A process that has exited (gone, or a zombie nobody reaped yet).
bool hasEnded(pid_t pid) {
  if (::kill(pid, 0) != 0) return true;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  auto state = text.rfind(") ");
  return state != std::string::npos && text[state + 2] == 'Z';
}

enum class StopWay { workspace, panel, targetScoreSearch };

class StopTest : public ::testing::Test {
 protected:
  void SetUp() override { setUpWith(RateControlMode::manual); }
  void setUpWith(RateControlMode mode) {
    ExecutableURLCache installed;
    auto cjxl = installed.locate("cjxl", searchPath.toolSearchDirectories());
    if (!cjxl || !installed.locate("djxl", searchPath.toolSearchDirectories())) GTEST_SKIP() << "no cjxl/djxl";
    const fs::path fakes = scratch / "fakes";
    test::writeFakeTool(fakes, "ssimulacra2", "echo 90.0");
    test::writeFakeTool(fakes, "cjxl",
                        "if [ -e '" + gate.string() + "' ] && [ \"$1\" != --version ]; then\n"
                        "  trap '' TERM\n"
                        "  sleep 600 &\n"
                        "  echo \"$$ $!\" > '" + pids.string() + ".new'; mv '" + pids.string() + ".new' '" +
                            pids.string() + "'\n"
                        "  while [ -e '" + gate.string() + "' ]; do sleep 0.02; done\n"
                        "fi\n"
                        "exec '" + cjxl->string() + "' \"$@\"");
    settings.setCustomToolDirectories({fakes.string()});
    ensureVipsInitialized();
    source = scratch / "picture.png";
    test::makeTestPicture(48, 32).pngsave(source.c_str());
    workspace = std::make_unique<CompressionWorkspace>(
        WorkspaceServices{settings, temporaryDirectories, registry, engine, dispatcher, workers}, "Untitled", mode,
        std::function<void()>{});
    for (int i : {1, 2, 3}) workspace->updatePanel(i, [](CodecPanel& p) { p.selectCodec(CompressionCodec::jpeg); });
  }

  void TearDown() override {
    workspace.reset();
    EXPECT_TRUE(workers->waitUntilIdle(60s));
    dispatcher->runPending();
  }

  bool pumpUntil(const std::function<bool()>& done) { return dispatcher->runUntil(done, 120s); }

  void loadSource() {
    workspace->loadSource(source);
    ASSERT_TRUE(pumpUntil([&] { return !workspace->isLoadingSource(); }));
  }

  bool encoderHasStarted() {
    return test::eventually([&] { return dispatcher->runPending(), fs::exists(pids); }, 60000ms);
  }

  // The encoder ignores SIGTERM: only the SIGKILL that follows ends it.
  void expectNoToolLeft() {
    ASSERT_TRUE(workers->waitUntilIdle(20s)) << "the stopped encoder is still running";
    dispatcher->runPending();
    pid_t tool = 0;
    pid_t helper = 0;
    std::ifstream(pids) >> tool >> helper;
    EXPECT_TRUE(hasEnded(tool));
    EXPECT_TRUE(test::eventually([&] { return hasEnded(helper); }, 5000ms)) << "the encoder's helper survived";
    EXPECT_EQ(children.runningCount(), 0u);
  }

  void generateAndFinish() {
    workspace->generateAll();
    ASSERT_TRUE(pumpUntil([&] { return !workspace->isRunning(); }));
    for (const auto& panel : workspace->panels()) ASSERT_TRUE(panel.result) << panel.errorMessage.value_or("");
  }

  std::set<fs::path> entries(const fs::path& directory) const {
    std::set<fs::path> found;
    for (const auto& entry : fs::directory_iterator(directory)) found.insert(entry.path());
    return found;
  }

  test::ScratchDirectory scratch;
  fs::path root = scratch / "work";
  fs::path gate = scratch / "gate";
  fs::path pids = scratch / "pids";
  fs::path source;
  std::shared_ptr<QueueDispatcher> dispatcher = std::make_shared<QueueDispatcher>();
  ExecutableURLCache executables;
  ToolSearchPath searchPath{executables};
  CommandConsoleStore console;
  ChildProcessTracker children;
  ToolRunner runner{executables, searchPath, *dispatcher, console, ChildStandardInput::nullDevice, &children};
  ToolVersionCache versions;
  AppSettings settings{std::make_shared<InMemorySettingsStore>(), searchPath};
  TemporaryDirectoryManager temporaryDirectories{root};
  KeyboardCommandRegistry registry;
  std::shared_ptr<CompressionEngine> engine =
      std::make_shared<CompressionRunner>(EngineContext{runner, executables, searchPath, versions, root});
  std::shared_ptr<BackgroundWorkers> workers = std::make_shared<BackgroundWorkers>();
  std::unique_ptr<CompressionWorkspace> workspace;
};

class WorkspaceStopTest : public StopTest, public ::testing::WithParamInterface<StopWay> {
 protected:
  void SetUp() override {
    setUpWith(GetParam() == StopWay::targetScoreSearch ? RateControlMode::targetScore : RateControlMode::manual);
  }
};

TEST_P(WorkspaceStopTest, StopEndsTheToolsAndTheirHelpersKeepsThePreviousResultsAndLeavesNothingBehind) {
  loadSource();
  generateAndFinish();
  const CompressionResult previous = *workspace->panel(0).result;

  test::writeTextFile(gate, "");
  if (GetParam() == StopWay::panel) {
    workspace->generatePanel(workspace->panel(0).id);
  } else {
    workspace->generateAll();
  }
  ASSERT_TRUE(encoderHasStarted());
  if (GetParam() == StopWay::panel) {
    workspace->stopPanel(workspace->panel(0).id);
  } else {
    workspace->stop();
  }
  EXPECT_TRUE(workspace->canGenerate());
  EXPECT_EQ(workspace->statusMessage(), "Stopped.");
  const CodecPanel& stopped = workspace->panel(0);
  EXPECT_FALSE(stopped.isRunning);
  ASSERT_TRUE(stopped.result);
  EXPECT_EQ(stopped.result->id, previous.id);
  EXPECT_TRUE(stopped.needsRegeneration());

  expectNoToolLeft();
  std::set<fs::path> resultDirectories;
  for (const auto& panel : workspace->panels()) resultDirectories.insert(panel.result->workDirectory);
  EXPECT_EQ(entries(root), resultDirectories) << "the stopped pass left a directory";

  fs::remove(gate);
  generateAndFinish();
  EXPECT_NE(workspace->panel(0).result->id, previous.id);
  EXPECT_FALSE(workspace->panel(0).needsRegeneration());
  EXPECT_FALSE(fs::exists(previous.workDirectory));
}

INSTANTIATE_TEST_SUITE_P(Ways, WorkspaceStopTest,
                         ::testing::Values(StopWay::workspace, StopWay::panel, StopWay::targetScoreSearch));

TEST_F(StopTest, CancellingADesktopSweepEndsItsToolsAndRemovesItsFiles) {
  loadSource();
  RateDistortionSession session(*workspace, WorkspaceServices{settings, temporaryDirectories, registry, engine,
                                                              dispatcher, workers});
  test::writeTextFile(gate, "");
  session.sweepPanel(0);
  ASSERT_TRUE(encoderHasStarted());
  session.cancel();
  expectNoToolLeft();
  EXPECT_FALSE(session.isSweeping());
  EXPECT_EQ(session.statusText(), "Sweep cancelled.");
  EXPECT_FALSE(session.sweep(0));
  EXPECT_TRUE(entries(root).empty()) << "the cancelled sweep left a directory";
}

}  // namespace
}  // namespace quorlin
