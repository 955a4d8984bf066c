// Reading any image file (a source or a decoded result) into a DisplayImage.
//
// Decoding applies the EXIF orientation and never clips or tone-maps: 16-bit
// and float samples stay as they are. Grey and CMYK files come out as RGB in
// linear sRGB; RGB files keep their own ICC space (sRGB when untagged). With a
// colour space given, the pixel values are taken as values of that space
// whatever the file declares. Blocks; any thread. Never throws: an unreadable,
// truncated, oversized or implausible file gives nothing (see ImageDecoding.h
// for the checks made before decoding).
#pragma once

#include <filesystem>
#include <optional>

#include "core/engine/DisplayImage.h"

namespace quorlin {

// `contentHeadroom` is passed through unchanged into the result; `colorSpace`
// may be null (the file's own space) and is ignored unless it is an RGB space.
std::optional<DisplayImage> readDisplayImage(const std::filesystem::path& file, const ColorSpaceRef& colorSpace,
                                             std::optional<double> contentHeadroom);

}  // namespace quorlin
