// WorkspaceEditBench: what the workspace costs the main thread.
//
// Prints the median wall time (over 2000 rounds after 200 warm-up rounds) of
//   - one panel edit through updatePanel with auto-regeneration on (four
//     settings signatures compared, the delayed regeneration rescheduled),
//     as a quality slider causes on every step;
//   - shortening one 60-character tab title (ICU grapheme clusters);
// and, over 50 rounds, the time to close a workspace whose four panels are
// still running (the runs block until released afterwards), which must not
// depend on how long the runs take.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "core/comparison/KeyboardCommandRegistry.h"
#include "core/common/Cancellation.h"
#include "core/common/MainThreadDispatcher.h"
#include "core/tools/TemporaryFiles.h"
#include "core/tools/ToolLookup.h"
#include "core/workspace/AppSettings.h"
#include "core/workspace/BackgroundWorkers.h"
#include "core/workspace/CompressionWorkspace.h"
#include "core/workspace/TabTitle.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace quorlin;

double median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

double microseconds(const std::function<void()>& body) {
  auto start = Clock::now();
  body();
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Reads every file as a 64 x 48 picture; prepares nothing on disk; runs block
// until released.
class BlockingEngine final : public CompressionEngine {
 public:
  std::optional<DisplayImage> readDisplayImage(const fs::path&, const ColorSpaceRef&, std::optional<double>) override {
    auto image = std::make_shared<const DecodedImage>(64, 48, 3, SampleFormat::uint8,
                                                      std::vector<std::byte>(64 * 48 * 3), nullptr);
    return DisplayImage{image, PixelSize{64, 48}, std::nullopt};
  }
  SourceImageMetadata readSourceImageMetadata(const fs::path&, PixelSize size) override {
    SourceImageMetadata metadata;
    metadata.pixelWidth = static_cast<int>(size.width);
    metadata.pixelHeight = static_cast<int>(size.height);
    return metadata;
  }
  PreparedCompressionSource prepareSource(const fs::path& source) override {
    PreparedCompressionSource prepared;
    prepared.sourceURL = source;
    return prepared;
  }
  PreparedCompressionSource prepareSource(const fs::path& source, std::shared_ptr<const DecodedImage>) override {
    return prepareSource(source);
  }
  CompressionResult runPanel(const CodecPanel&, const PreparedCompressionSource&, std::stop_token) override {
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
    --waiting_;
    throw CancellationError();
  }
  std::string readExifToolMetadata(const fs::path&, std::stop_token) override { return {}; }

  void waitForRuns(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_ >= count; });
  }
  void release(bool released) {
    std::lock_guard lock(mutex_);
    released_ = released;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int waiting_ = 0;
  bool released_ = false;
};

}  // namespace

int main() {
  auto dispatcher = std::make_shared<QueueDispatcher>(QueueDispatcher::ClockMode::manual);
  ExecutableURLCache cache;
  ToolSearchPath searchPath(cache, {});
  AppSettings settings(std::make_shared<InMemorySettingsStore>(), searchPath);
  settings.setAutoRegenerate(true);
  TemporaryDirectoryManager directories(fs::temp_directory_path() / "quorlin-workspace-bench");
  KeyboardCommandRegistry registry;
  auto engine = std::make_shared<BlockingEngine>();
  auto workers = std::make_shared<BackgroundWorkers>();
  WorkspaceServices services{settings, directories, registry, engine, dispatcher, workers};

  {
    CompressionWorkspace workspace(services, "Untitled", RateControlMode::manual, {});
    workspace.loadSource("/nonexistent/bench.png");
    dispatcher->runUntil([&] { return !workspace.isLoadingSource(); });
    std::vector<double> edits;
    for (int round = 0; round < 2200; ++round) {
      double time = microseconds([&] { workspace.updatePanel(1, [&](CodecPanel& p) { p.quality = round % 100; }); });
      if (round >= 200) edits.push_back(time);
    }
    std::printf("panel edit with auto-regeneration on: median %.2f us\n", median(edits));
  }

  std::vector<double> labels;
  const std::string title = "a-long-holiday-photo-name-from-the-lake-2024-\U0001F1EB\U0001F1F7-sunset-pano.png";
  for (int round = 0; round < 2200; ++round) {
    double time = microseconds([&] { (void)shortenedTabTitle(title); });
    if (round >= 200) labels.push_back(time);
  }
  std::printf("tab label of a %zu-character title: median %.2f us\n", userPerceivedCharacterCount(title),
              median(labels));

  std::vector<double> closes;
  for (int round = 0; round < 50; ++round) {
    engine->release(false);
    auto workspace = std::make_unique<CompressionWorkspace>(services, "Untitled", RateControlMode::manual,
                                                            std::function<void()>{});
    workspace->loadSource("/nonexistent/bench.png");
    dispatcher->runUntil([&] { return !workspace->isLoadingSource(); });
    workspace->generateAll();
    // Preparation comes back through the queue; then the four runs start.
    dispatcher->runUntil([&] { return workers->runningCount() >= 4; }, std::chrono::seconds(10));
    engine->waitForRuns(4);
    closes.push_back(microseconds([&] { workspace.reset(); }));
    engine->release(true);
    workers->waitUntilIdle(std::chrono::seconds(10));
    dispatcher->runPending();
  }
  std::printf("closing a workspace with four panels running: median %.1f us, worst %.1f us\n", median(closes),
              *std::max_element(closes.begin(), closes.end()));
  workers->waitUntilIdle(std::chrono::seconds(10));
  dispatcher->runPending();
  return 0;
}
