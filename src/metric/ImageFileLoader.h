// ImageFileLoader: reads an image file for the metric with libvips (PNG above
// all, 8 or 16 bits, any colour type; also anything else libvips decodes),
// keeping the samples compact and working out their colour encoding (for PNG
// from the file's own colour chunks, see PngColourChunks.h).
//
// Palette images become RGB, tRNS becomes alpha, 1/2/4-bit grey is expanded
// to 8 bits (0..255), 16-bit stays 16-bit, sBIT is ignored; only the first
// frame or page is used. Safe to call from several threads.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "metric/DecodedImage.h"

namespace quorlin::metric {

enum class LoadFailure {
  unreadable,   // the file cannot be opened or read
  undecodable,  // the bytes are not an image we can decode (or are truncated)
};

struct ImageLoadResult {
  std::optional<DecodedImage> image;
  LoadFailure failure = LoadFailure::undecodable;  // when image is empty
};

ImageLoadResult loadImageFile(const std::filesystem::path& path);

}  // namespace quorlin::metric
