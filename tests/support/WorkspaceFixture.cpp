#include "support/WorkspaceFixture.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace quorlin::test {

namespace fs = std::filesystem;

WorkspaceFixture::WorkspaceFixture()
    : root(scratch / "Brimwell"),
      dispatcher(std::make_shared<QueueDispatcher>(QueueDispatcher::ClockMode::manual)),
      toolSearchPath(toolCache, {}),
      store(std::make_shared<InMemorySettingsStore>()),
      settings(std::make_unique<AppSettings>(store, toolSearchPath)),
      temporaryDirectories(std::make_unique<TemporaryDirectoryManager>(root)),
      engine(std::make_shared<FakeCompressionEngine>(root, dispatcher)),
      workers(std::make_shared<BackgroundWorkers>()) {
  workspace = makeWorkspace();
}

WorkspaceServices WorkspaceFixture::services() {
  return WorkspaceServices{*settings, *temporaryDirectories, registry, engine, dispatcher, workers};
}

std::unique_ptr<CompressionWorkspace> WorkspaceFixture::makeWorkspace(RateControlMode mode) {
  return std::make_unique<CompressionWorkspace>(services(), "Untitled", mode, [this] { ++reactivations; });
}

void WorkspaceFixture::TearDown() {
  engine->shutDown();
  EXPECT_TRUE(quiesce());
  workspace.reset();
  EXPECT_TRUE(quiesce());
  EXPECT_EQ(workers->runningCount(), 0u);
  auto left = rootEntries();
  EXPECT_TRUE(left.empty()) << "left in the temporary root: " << left.size() << " entries, first "
                            << (left.empty() ? "" : left.front().string());
}

fs::path WorkspaceFixture::writeImage(const std::string& name, int width, int height, bool hasAlpha) {
  fs::path file = scratch / "images" / name;
  FakeCompressionEngine::writeFakeImage(file, width, height, hasAlpha);
  return file;
}

void WorkspaceFixture::load(CompressionWorkspace& target, const fs::path& file) {
  target.loadSource(file);
  ASSERT_TRUE(quiesce());
  ASSERT_FALSE(target.isLoadingSource());
}

bool WorkspaceFixture::quiesce() {
  // Workers only start from the main thread (this one), and a worker blocked
  // in a waiting run stays blocked until this thread resolves it. So once the
  // waiting runs (read first) account for every live worker (read second) and
  // the queue is empty, nothing is in flight.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    dispatcher->runPending();
    const std::size_t waiting = engine->waitingRuns().size();
    const std::size_t running = workers->runningCount();
    if (waiting == running && dispatcher->runPending() == 0) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::vector<FakeCompressionEngine::Run> WorkspaceFixture::waitingRuns(std::size_t count) {
  EXPECT_TRUE(quiesce());
  auto runs = engine->waitingRuns();
  EXPECT_EQ(runs.size(), count);
  return runs;
}

void WorkspaceFixture::finishAndApply(int number, double score, std::int64_t size) {
  engine->finishRun(number, score, size);
  EXPECT_TRUE(quiesce());
}

void WorkspaceFixture::failAndApply(int number, const CompressionError& error) {
  engine->failRun(number, error);
  EXPECT_TRUE(quiesce());
}

int WorkspaceFixture::panelIndexOf(const FakeCompressionEngine::Run& run) const {
  const auto& panels = workspace->panels();
  auto found = std::find_if(panels.begin(), panels.end(), [&](const CodecPanel& p) { return p.id == run.panel.id; });
  return found == panels.end() ? -1 : static_cast<int>(found - panels.begin());
}

void WorkspaceFixture::generateAllAndFinish() {
  workspace->generateAll();
  auto runs = waitingRuns(4);
  for (const auto& run : runs) engine->finishRun(run.number, 90.0, 1000 * (panelIndexOf(run) + 1));
  ASSERT_TRUE(quiesce());
  ASSERT_FALSE(workspace->isRunning());
}

std::vector<fs::path> WorkspaceFixture::rootEntries() const {
  std::vector<fs::path> entries;
  std::error_code error;
  for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(it->path());
  }
  return entries;
}

bool WorkspaceFixture::exists(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error);
}

}  // namespace quorlin::test
