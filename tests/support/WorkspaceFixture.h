// The fixture of the workspace tests: a workspace over the fake engine, a
// manual-clock dispatcher pumped by the test thread (the "main thread"), and
// a private temporary root that must be empty when each test ends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/FakeCompressionEngine.h"
#include "core/comparison/KeyboardCommandRegistry.h"
#include "core/common/MainThreadDispatcher.h"
#include "core/tools/TemporaryFiles.h"
#include "core/tools/ToolLookup.h"
#include "core/workspace/AppSettings.h"
#include "core/workspace/BackgroundWorkers.h"
#include "core/workspace/CompressionWorkspace.h"
#include "support/TestSupport.h"

namespace quorlin::test {

class WorkspaceFixture : public ::testing::Test {
 protected:
  WorkspaceFixture();
  void TearDown() override;

  std::unique_ptr<CompressionWorkspace> makeWorkspace(RateControlMode mode = RateControlMode::manual);
  WorkspaceServices services();

  // A fake image file under the scratch directory.
  std::filesystem::path writeImage(const std::string& name, int width = 4, int height = 3, bool hasAlpha = false);
  // loadSource, then waits until the read has come back and been applied.
  void load(CompressionWorkspace& target, const std::filesystem::path& file);
  void load(const std::filesystem::path& file) { load(*workspace, file); }

  // Runs the main-thread queue until every live worker is blocked in a run
  // waiting for the test and nothing more is queued: all that can happen
  // without the test has happened. Returns false after a generous bound.
  bool quiesce();
  // quiesce(), then the waiting runs (expecting `count` of them).
  std::vector<FakeCompressionEngine::Run> waitingRuns(std::size_t count);
  void finishAndApply(int number, double score = 90.0, std::int64_t size = 1000);
  void failAndApply(int number, const CompressionError& error);
  // generateAll with every run finished: panel i gets a result of 1000 * (i + 1) bytes.
  void generateAllAndFinish();
  int panelIndexOf(const FakeCompressionEngine::Run& run) const;

  std::vector<std::filesystem::path> rootEntries() const;
  static bool exists(const std::filesystem::path& path);

  ScratchDirectory scratch;
  std::filesystem::path root;
  std::shared_ptr<QueueDispatcher> dispatcher;
  ExecutableURLCache toolCache;
  ToolSearchPath toolSearchPath;
  std::shared_ptr<InMemorySettingsStore> store;
  std::unique_ptr<AppSettings> settings;
  std::unique_ptr<TemporaryDirectoryManager> temporaryDirectories;
  KeyboardCommandRegistry registry;
  std::shared_ptr<FakeCompressionEngine> engine;
  std::shared_ptr<BackgroundWorkers> workers;
  int reactivations = 0;
  std::unique_ptr<CompressionWorkspace> workspace;
};

}  // namespace quorlin::test
