// The in-process image writer and reader behind the two codecs that need no
// external tool, "HEIF" and "JPEG" (shown with " (System)"), and the decoder of
// every codec without a decoding tool of its own (JPEG (libjpeg-turbo) too).
// Both run on libvips, block, and may run on any thread.
#pragma once

#include <filesystem>

#include "core/codecs/CodecCatalog.h"

namespace quorlin {

// Encodes the first image of `input` (the prepared 16-bit "source.png") into
// `output`: for `heif`, HEIC with HEVC at quality `quality` (1-100) and 8 bits
// per sample, or 10 bits when the input's colour space is linear or HDR (PQ,
// HLG), which 8 bits would band; for `jpeg`, a baseline JPEG at quality
// `quality`. The input's ICC profile is embedded; alpha is kept by HEIF and
// dropped by JPEG.
//
// Failures: the input cannot be opened, the output cannot be created or the
// codec is not one of the two -> CompressionError::processFailed(raw value,
// "ImageIO could not create encoder."); the encoder fails ->
// processFailed(raw value, "ImageIO failed to finalize encoded file."); a write
// to the file fails (full disk) -> std::filesystem::filesystem_error naming it.
void encodeWithImageIO(const std::filesystem::path& input, const std::filesystem::path& output,
                       CompressionCodec codec, int quality);

// Decodes `encoded` (any format the image reader opens) and writes it to
// `decoded` as a PNG of 8 or 16 bits per sample, as deep as the decoded
// samples, with the file's ICC profile and no other metadata. An unreadable
// or truncated file -> CompressionError::unreadableImage naming `encoded`; a
// write failure -> std::filesystem::filesystem_error naming `decoded`.
void decodeWithPlatform(const std::filesystem::path& encoded, const std::filesystem::path& decoded);

}  // namespace quorlin
