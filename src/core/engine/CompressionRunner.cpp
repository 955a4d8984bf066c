#include "core/engine/CompressionRunner.h"

#include <optional>

#include "core/engine/CodecAvailability.h"
#include "core/engine/DisplayImageReader.h"
#include "core/engine/ExifToolMetadata.h"
#include "core/engine/PanelRunner.h"

namespace quorlin {

namespace {

// A run counts in the budget for as long as it lasts (the whole search, for Target Score).
std::optional<CoreBudget::RunningPanel> countRunning(const EngineContext& context) {
  if (!context.budget) return std::nullopt;
  return context.budget->panelStarted();
}

}  // namespace

std::optional<DisplayImage> CompressionRunner::readDisplayImage(const std::filesystem::path& file,
                                                                const ColorSpaceRef& colorSpace,
                                                                std::optional<double> contentHeadroom) {
  return quorlin::readDisplayImage(file, colorSpace, contentHeadroom);
}

SourceImageMetadata CompressionRunner::readSourceImageMetadata(const std::filesystem::path& file,
                                                               PixelSize fallbackSize) {
  return quorlin::readSourceImageMetadata(file, fallbackSize);
}

PreparedCompressionSource CompressionRunner::prepareSource(const std::filesystem::path& source) {
  return prepareSource(source, nullptr);
}

PreparedCompressionSource CompressionRunner::prepareSource(const std::filesystem::path& source,
                                                           std::shared_ptr<const DecodedImage> decodedSource) {
  try {
    return decodedSource ? quorlin::prepareSource(source, context_.temporaryRoot, std::move(decodedSource))
                         : quorlin::prepareSource(source, context_.temporaryRoot);
  } catch (const CompressionError& error) {
    logErrorDetail(context_, error);
    throw;
  }
}

CompressionResult CompressionRunner::runPanel(const CodecPanel& panel, const PreparedCompressionSource& source,
                                              std::stop_token stopToken) {
  auto running = countRunning(context_);
  return quorlin::runPanel(panel, source, context_, stopToken);
}

CompressionResult CompressionRunner::searchTargetScore(const CodecPanel& panel,
                                                       const PreparedCompressionSource& source,
                                                       const SearchProgress& progress, std::stop_token stopToken) {
  auto running = countRunning(context_);
  return quorlin::searchTargetScore(
      panel, progress, [&](const CodecPanel& probe) { return quorlin::runPanel(probe, source, context_, stopToken); },
      stopToken);
}

std::string CompressionRunner::readExifToolMetadata(const std::filesystem::path& file, std::stop_token stopToken) {
  return quorlin::readExifToolMetadata(context_.runner, file, stopToken);
}

std::optional<std::string> CompressionRunner::codecUnavailableReason(CompressionCodec codec) {
  return quorlin::codecUnavailableReason(codec, context_);
}

}  // namespace quorlin
