#include "cli/CommandEngine.h"

#include <csignal>
#include <iostream>
#include <system_error>

#include "cli/VerboseLine.h"
#include "core/common/CompressionError.h"
#include "core/engine/DisplayImageReader.h"
#include "core/tools/TemporaryFiles.h"

namespace quorlin::cli {

namespace fs = std::filesystem;

CommandEngine::CommandEngine(const CommandEngineSettings& settings, ProgressLine& progress) : progress_(progress) {
  searchPath_.setCustomToolDirectories(settings.toolDirectories);
  if (settings.toolTimeoutSeconds) runner_.setTimeLimit(*settings.toolTimeoutSeconds);
  if (settings.pixelLimit) setMaximumDecodedPixelCount(*settings.pixelLimit);
  budget_.setThreadsPerPass(settings.threads);
  engine_.emplace(
      EngineContext{runner_, executables_, searchPath_, versions_, fs::absolute(defaultTemporaryRoot()), &budget_,
                    settings.keepsErrorMaps});
  if (settings.isVerbose) {
    console_.addChangeObserver([this](const CommandConsoleChange& change) {
      if (change.kind != CommandConsoleChange::Kind::finished &&
          change.kind != CommandConsoleChange::Kind::launchFailed) {
        return;
      }
      for (const auto& entry : console_.entries()) {
        if (entry.id == change.id) progress_.printLine(verboseLine(entry));
      }
    });
  }
}

void CommandEngine::interrupt(int count) {
  // Watcher thread. The stop ends every running tool as the desktop's Stop
  // does (SIGTERM, then SIGKILL); a second signal kills them at once.
  stop_.request_stop();
  if (count > 1) children_.terminateAll(SIGKILL);
}

std::optional<DisplayImage> CommandEngine::readSource(const fs::path& source) {
  auto display = engine_->readDisplayImage(source, nullptr, std::nullopt);
  if (!display) {
    std::cerr << CompressionError::unreadableImage(source).message() << "\n";
    if (!imageRejectionReason().empty()) std::cerr << imageRejectionReason() << "\n";
  }
  return display;
}

RateDistortionSource CommandEngine::describeSource(const fs::path& source, const DisplayImage& display) {
  SourceImageMetadata metadata = engine_->readSourceImageMetadata(source, display.displaySize);
  std::error_code sizeError;
  auto size = fs::file_size(source, sizeError);
  return RateDistortionSource{source,
                              metadata.pixelWidth,
                              metadata.pixelHeight,
                              sizeError ? 0 : static_cast<std::int64_t>(size),
                              metadata.colorProfileName,
                              metadata.contentHeadroom};
}

}  // namespace quorlin::cli
