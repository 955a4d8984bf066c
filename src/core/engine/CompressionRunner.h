// CompressionRunner: the production engine. It runs the real tools through
// the logged ToolRunner, locates them with the tool search path, adapts to
// their installed versions with the version cache, and makes every work
// directory under the temporary root of its context. Each runPanel and
// searchTargetScore call counts as one running panel in the context's core
// budget while it lasts, so the tools it starts get their share of it.
//
// Holds only its context (references the owner keeps alive); every call
// blocks and is meant for worker threads, many at once.
#pragma once

#include "core/engine/CompressionEngine.h"
#include "core/engine/EngineContext.h"

namespace quorlin {

class CompressionRunner final : public CompressionEngine {
 public:
  explicit CompressionRunner(EngineContext context) : context_(std::move(context)) {}

  std::optional<DisplayImage> readDisplayImage(const std::filesystem::path& file, const ColorSpaceRef& colorSpace,
                                               std::optional<double> contentHeadroom) override;
  SourceImageMetadata readSourceImageMetadata(const std::filesystem::path& file, PixelSize fallbackSize) override;
  PreparedCompressionSource prepareSource(const std::filesystem::path& source) override;
  PreparedCompressionSource prepareSource(const std::filesystem::path& source,
                                          std::shared_ptr<const DecodedImage> decodedSource) override;
  CompressionResult runPanel(const CodecPanel& panel, const PreparedCompressionSource& source,
                             std::stop_token stopToken) override;
  CompressionResult searchTargetScore(const CodecPanel& panel, const PreparedCompressionSource& source,
                                      const SearchProgress& progress, std::stop_token stopToken) override;
  std::string readExifToolMetadata(const std::filesystem::path& file, std::stop_token stopToken) override;
  std::optional<std::string> codecUnavailableReason(CompressionCodec codec) override;

  const EngineContext& context() const { return context_; }

 private:
  EngineContext context_;
};

}  // namespace quorlin
