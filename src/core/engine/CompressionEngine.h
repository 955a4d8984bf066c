// CompressionEngine: what a workspace asks of the engine. Every call blocks and
// is made on a worker thread (never the main thread); the workspace posts the
// outcome back through its MainThreadDispatcher. Errors are thrown as
// CompressionError, std::filesystem::filesystem_error or CancellationError.
//
// The production implementation runs the real tools; tests substitute a fake
// whose runs finish when the test says.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "core/engine/CodecPanel.h"
#include "core/engine/CompressionResult.h"
#include "core/engine/DisplayImage.h"
#include "core/engine/PreparedSource.h"
#include "core/engine/SourceMetadata.h"
#include "core/engine/TargetSearch.h"

namespace quorlin {

class CompressionEngine {
 public:
  virtual ~CompressionEngine() = default;

  // Nothing when the file cannot be decoded.
  virtual std::optional<DisplayImage> readDisplayImage(const std::filesystem::path& file,
                                                       const ColorSpaceRef& colorSpace,
                                                       std::optional<double> contentHeadroom) = 0;
  virtual SourceImageMetadata readSourceImageMetadata(const std::filesystem::path& file,
                                                      PixelSize fallbackSize) = 0;
  // A new directory under the temporary root holding "source.png".
  virtual PreparedCompressionSource prepareSource(const std::filesystem::path& source) = 0;
  // The same, reusing the image readDisplayImage decoded from `source` (with
  // neither colour space nor headroom) when the caller holds one, so the
  // source is not decoded again for every pass. The default ignores it.
  virtual PreparedCompressionSource prepareSource(const std::filesystem::path& source,
                                                  std::shared_ptr<const DecodedImage> decodedSource) {
    (void)decodedSource;
    return prepareSource(source);
  }
  // One encode, decode and score in a new work directory owned by the result.
  virtual CompressionResult runPanel(const CodecPanel& panel, const PreparedCompressionSource& source,
                                     std::stop_token stopToken) = 0;
  // Target Score mode: the search for the panel's target with runPanel on
  // `source` as the probe evaluator. Only the returned result's directory is
  // left on disk; progress texts ("Probe 1: quality 85...") go to `progress`.
  virtual CompressionResult searchTargetScore(const CodecPanel& panel, const PreparedCompressionSource& source,
                                              const SearchProgress& progress, std::stop_token stopToken) {
    return quorlin::searchTargetScore(
        panel, progress, [&](const CodecPanel& probe) { return runPanel(probe, source, stopToken); }, stopToken);
  }
  // The exiftool listing of `file`, filtered of the lines about the file itself.
  virtual std::string readExifToolMetadata(const std::filesystem::path& file, std::stop_token stopToken) = 0;
  // Why `codec` cannot run with the tools installed ("cjpegli not installed");
  // nothing when it can, or when the engine cannot tell.
  virtual std::optional<std::string> codecUnavailableReason(CompressionCodec codec) {
    (void)codec;
    return std::nullopt;
  }
};

}  // namespace quorlin
