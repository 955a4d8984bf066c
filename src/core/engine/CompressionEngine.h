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
  // `decodedSource`, when given, is what readDisplayImage returned for `source`
  // with neither colour space nor headroom; it spares decoding the file again.
  virtual PreparedCompressionSource prepareSource(const std::filesystem::path& source,
                                                  std::shared_ptr<const DecodedImage> decodedSource = nullptr) = 0;
  // One encode, decode and score in a new work directory owned by the result.
  virtual CompressionResult runPanel(const CodecPanel& panel, const PreparedCompressionSource& source,
                                     std::stop_token stopToken) = 0;
  // The exiftool listing of `file`, filtered of the lines about the file itself.
  virtual std::string readExifToolMetadata(const std::filesystem::path& file, std::stop_token stopToken) = 0;
};

}  // namespace quorlin
