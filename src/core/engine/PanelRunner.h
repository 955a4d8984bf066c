// runPanel: one whole panel run. Encode (Encoding.h), decode with the codec's
// decoder, check both files, describe the encoded file (jxlinfo for JPEG XL,
// avifdec's output for AVIF), read the decoded image for display, measure the
// encoded size, score the decoded image against the prepared "source.png" with
// ssimulacra2, and return the result, which owns the run's work directory.
// The decoder and ssimulacra2 get their thread flags as the encoder does.
//
// Blocks while the tools run; any worker thread; runs share only the
// read-only prepared source. Errors are those of encodePanel plus the
// decoder's and ssimulacra2's (missingTool, processFailed), missingOutput for
// a decoded file that was not written, and unreadableImage for a decoded file
// that cannot be read (or an encoded file the in-process reader cannot open).
// A missing or failing jxlinfo or "avifdec --info" is no error: the result then
// has no description. On every error the work directory has been deleted.
// Cancellation (CancellationError) is noticed only before each tool starts.
#pragma once

#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

#include "core/common/CompressionError.h"
#include "core/engine/CodecPanel.h"
#include "core/engine/CompressionResult.h"
#include "core/engine/EngineContext.h"
#include "core/engine/PreparedSource.h"

namespace quorlin {

// Adds a failed step to the console for `error` when it carries a detail (the
// reason libvips gave), so the console shows why a file could not be read.
void logErrorDetail(const EngineContext& context, const CompressionError& error);

CompressionResult runPanel(const CodecPanel& panel, const PreparedCompressionSource& source,
                           const EngineContext& context, std::stop_token stopToken = {});

// The decoder's argument list for `codec`: ENC DEC, or ENC -o DEC for dwebp.
// Empty for the codecs decoded in process (decodeWithPlatform).
struct DecoderCommand {
  std::string tool;  // empty: in process
  std::vector<std::string> arguments;
};
DecoderCommand decoderCommand(CompressionCodec codec, const std::filesystem::path& encoded,
                              const std::filesystem::path& decoded);

}  // namespace quorlin
