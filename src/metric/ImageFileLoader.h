// ImageFileLoader: reads an image file for the metric. PNG files (the app
// only passes PNG) are decoded with libpng (PngDecoder.h); anything else goes
// to libvips (VipsDecoder.h). Safe to call from several threads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "metric/DecodedImage.h"

namespace quorlin::metric {

enum class LoadFailure {
  unreadable,   // the file does not exist, is not a regular file, or cannot be read
  undecodable,  // the bytes are not an image we can decode (or are truncated)
  refused,      // the declared size is over the pixel limit or more than the file can hold
};

struct ImageLoadResult {
  std::optional<DecodedImage> image;
  LoadFailure failure = LoadFailure::undecodable;  // meaningful when image is empty
  std::string reason;                              // for refused: the message
  std::string warning;                             // e.g. an embedded profile that was ignored
};

// The declared size is checked before any pixel is decoded (see
// DeclaredImageSize.h): more than `pixelLimit` pixels, or a PNG or JPEG too
// small for its size, is refused. Throws std::bad_alloc when the decoded
// samples do not fit in memory.
ImageLoadResult loadImageFile(const std::filesystem::path& path, std::uint64_t pixelLimit);

}  // namespace quorlin::metric
