// A compression engine for workspace tests: runs finish when the test says.
//
// Images: a file is readable when its text begins with "fake image W H"
// (optionally followed by " alpha"); it decodes to a W x H picture. A name
// ending in ".jpg" or ".jpeg" counts as a JPEG.
//
// Preparation makes a real work directory under the given root (holding
// "source.png"), so tests can watch it being deleted; it fails with the set
// preparation error, or with unreadableImage when no decoded source is given
// and the file is gone. Each runPanel call is a numbered run (from 1, in call
// order) that blocks its worker until the test finishes, fails or cancels it;
// a finished run makes its own work directory with an encoded file of the
// requested size and a 2 x 2 decoded image. Every change wakes the
// dispatcher, so a test can wait with QueueDispatcher::runUntil.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/common/CompressionError.h"
#include "core/common/MainThreadDispatcher.h"
#include "core/engine/CompressionEngine.h"

namespace quorlin::test {

class FakeCompressionEngine final : public CompressionEngine {
 public:
  FakeCompressionEngine(std::filesystem::path temporaryRoot, std::shared_ptr<MainThreadDispatcher> dispatcher);

  static void writeFakeImage(const std::filesystem::path& file, int width, int height, bool hasAlpha = false);

  std::optional<DisplayImage> readDisplayImage(const std::filesystem::path& file, const ColorSpaceRef& colorSpace,
                                               std::optional<double> contentHeadroom) override;
  SourceImageMetadata readSourceImageMetadata(const std::filesystem::path& file, PixelSize fallbackSize) override;
  PreparedCompressionSource prepareSource(const std::filesystem::path& source) override {
    return prepareSource(source, nullptr);
  }
  PreparedCompressionSource prepareSource(const std::filesystem::path& source,
                                          std::shared_ptr<const DecodedImage> decodedSource) override;
  CompressionResult runPanel(const CodecPanel& panel, const PreparedCompressionSource& source,
                             std::stop_token stopToken) override;
  std::string readExifToolMetadata(const std::filesystem::path& file, std::stop_token stopToken) override;
  std::optional<std::string> codecUnavailableReason(CompressionCodec codec) override {
    auto found = unavailableCodecs.find(codec);
    return found == unavailableCodecs.end() ? std::nullopt : std::optional(found->second);
  }
  // Codecs that cannot run, with the reason the picker shows (set before the workspace is made).
  std::map<CompressionCodec, std::string> unavailableCodecs;

  struct Run {
    int number = 0;
    CodecPanel panel;
    std::filesystem::path preparedDirectory;
  };

  // Runs waiting for the test, in run-number order.
  std::vector<Run> waitingRuns() const;
  int startedRunCount() const;
  // Ends run `number` with a result of `encodedSize` bytes scoring `score`.
  void finishRun(int number, double score = 90.0, std::int64_t encodedSize = 1000);
  void failRun(int number, const CompressionError& error);
  // From now on every waiting and future run ends cancelled at once.
  void shutDown();
  // When set, a run whose stop is requested ends cancelled by itself.
  void setHonoursCancellation(bool honours);

  void setPreparationError(std::optional<CompressionError> error);
  int preparationCount() const;
  std::vector<std::filesystem::path> preparedDirectories() const;
  std::shared_ptr<const DecodedImage> lastDecodedSource() const;

  void setExifToolOutput(std::string output);
  void setExifToolError(std::optional<CompressionError> error);

 private:
  enum class Ending { none, finished, failed, cancelled };
  struct State {
    Run run;
    std::stop_token stopToken;
    Ending ending = Ending::none;
    double score = 0;
    std::int64_t encodedSize = 0;
    std::optional<CompressionError> error;
  };

  // Runs `f` under the lock, returning what it returns.
  template <typename F>
  auto locked(F f) const {
    std::lock_guard lock(mutex_);
    return f();
  }
  void resolve(int number, Ending ending, double score, std::int64_t size, std::optional<CompressionError> error);
  void wake() const;

  const std::filesystem::path root_;
  const std::shared_ptr<MainThreadDispatcher> dispatcher_;
  mutable std::mutex mutex_;
  std::condition_variable_any changed_;
  std::map<int, State> runs_;
  int nextRun_ = 1;
  bool isShutDown_ = false;
  bool honoursCancellation_ = false;
  std::optional<CompressionError> preparationError_;
  int preparationCount_ = 0;
  std::vector<std::filesystem::path> preparedDirectories_;
  std::shared_ptr<const DecodedImage> lastDecodedSource_;
  std::string exifToolOutput_;
  std::optional<CompressionError> exifToolError_;
};

}  // namespace quorlin::test
