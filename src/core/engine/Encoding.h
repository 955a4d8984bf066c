// The encode stage of one panel run: the run's own work directory, the file
// names, the encoder's input, the encoder's exact argument list (adapted to
// the installed release by the older-tool rules), the encoder run, the guard
// against a false success and the encode time.
//
// encodePanel blocks while the encoder runs and may run on any worker thread;
// panels running at once share only the read-only prepared source and the
// temporary root. Errors: CompressionError (missingTool, processFailed,
// missingOutput, unreadableImage, unsupportedByTool), a file-system error, or
// CancellationError when `stopToken` was triggered before the encoder started.
// On any error after the work directory was made, it has been deleted.
#pragma once

#include <chrono>
#include <filesystem>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine/CodecPanel.h"
#include "core/engine/EngineContext.h"
#include "core/engine/PreparedSource.h"

namespace quorlin {

// What the encode stage hands to decoding.
struct EncodeStageResult {
  std::filesystem::path workDirectory;  // new, directly under the temporary root, 0700
  std::filesystem::path encodedURL;     // base name + "." + the codec's extension
  std::filesystem::path decodedURL;     // base name + "-decoded.png" (not written yet)
  std::chrono::system_clock::time_point encodeStartTime;
  double encodeDuration = 0;            // seconds: the encoder, plus the JPEG check or PPM writing
  std::string commandLine;              // settingsCommandLine of what really ran, or the "ImageIO " text
};

// Runs the encode stage. The encoder gets:
//   cjxl      --lossless_jpeg=1 --effort E SOURCE OUT (a JPEG source with the
//             transcode switch on), else --lossless_jpeg=0 --effort E
//             [--progressive] [--group_order=1] --distance D IN OUT
//   avifenc   --speed (10 - effort), -l or --qcolor Q (--min N --max N before
//             1.0), [-d 8|10|12] [-y 444|422|420] [--progressive] IN OUT
//   cwebp     -q Q -m E -metadata all IN -o OUT, or lossless
//             -lossless -z Z -metadata all IN -o OUT
//   cjpegli   --distance=D [--chroma_subsampling=444|440|422|420]
//             --progressive_level=L IN OUT
//   heif-enc  [--avif|--jpeg2000] -L or -q Q [-b 8|10|12] IN -o OUT (HEVC is
//             its default, so no flag)
//   cjpeg     -quality Q [-progressive] [-optimize] [-sample 1x1|1x2|2x1|2x2]
//             -outfile OUT IN, IN being "source.ppm" unless the source is a
//             direct input cjpeg reads
// and the two in-process codecs encodeWithImageIO of the prepared PNG. In
// front of these goes, as the encoder starts, its thread flag for its share of
// the core budget (EngineContext::withThreadFlag); it changes only the time,
// so the stored commandLine leaves it out.
// Refused before anything runs (CompressionError::unsupportedByTool with the
// rule's message): JPEG 2000 on heif-enc < 1.16; 16-bit input as AVIF on
// heif-enc < 1.16 below bit depth 12; progressive AVIF on avifenc < 1.0.
// After an encoder's zero exit its output must exist (else missingOutput) and
// start like the codec's container (else unsupportedByTool "ENCODER wrote no
// CODEC data.").
EncodeStageResult encodePanel(const CodecPanel& panel, const PreparedCompressionSource& source,
                              const EngineContext& context, std::stop_token stopToken = {});

// The command text a result stores: `tool`, then every argument except
// absolute paths (those beginning with "/") and "-o"/"-outfile", each quoted
// for display, joined by single spaces: "cwebp -q 85 -m 5 -metadata all".
std::string settingsCommandLine(std::string_view tool, const std::vector<std::string>& arguments);

// The command text of the in-process codecs: "ImageIO HEIF quality=85".
std::string imageIOCommandLine(CompressionCodec codec, int quality);

// The source's file name without its last extension ("photo.final.tiff" -> "photo.final").
std::string encodedBaseName(const std::filesystem::path& sourceURL);

}  // namespace quorlin
