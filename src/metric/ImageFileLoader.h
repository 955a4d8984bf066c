// ImageFileLoader: reads an image file for the metric. PNG files (the app
// only passes PNG) are decoded with libpng (PngDecoder.h); anything else goes
// to libvips (VipsDecoder.h). Safe to call from several threads.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "metric/DecodedImage.h"

namespace quorlin::metric {

enum class LoadFailure {
  unreadable,   // the file does not exist, is not a regular file, or cannot be read
  undecodable,  // the bytes are not an image we can decode (or are truncated)
};

struct ImageLoadResult {
  std::optional<DecodedImage> image;
  LoadFailure failure = LoadFailure::undecodable;  // meaningful when image is empty
  std::string warning;                             // e.g. an embedded profile that was ignored
};

ImageLoadResult loadImageFile(const std::filesystem::path& path);

}  // namespace quorlin::metric
