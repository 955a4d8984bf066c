// Reading any image file (a source or a decoded result) into a DisplayImage.
//
// Decoding applies the EXIF orientation and never clips or tone-maps: 16-bit
// and float samples stay as they are. Grey and CMYK files come out as RGB in
// linear sRGB; RGB files keep their own ICC space (sRGB when untagged). With a
// colour space given, the pixel values are taken as values of that space
// whatever the file declares. Blocks; any thread. Never throws: an unreadable,
// truncated, oversized or implausible file gives nothing (see ImageDecoding.h
// for the checks made before decoding), and imageRejectionReason() says why.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/engine/DisplayImage.h"

namespace quorlin {

// `contentHeadroom` is passed through unchanged into the result; `colorSpace`
// may be null (the file's own space) and is ignored unless it is an RGB space.
std::optional<DisplayImage> readDisplayImage(const std::filesystem::path& file, const ColorSpaceRef& colorSpace,
                                             std::optional<double> contentHeadroom);

// The most pixels any image may declare to be decoded; process-wide, the
// default defaultMaximumPixelCount. Any thread.
std::uint64_t maximumDecodedPixelCount();
void setMaximumDecodedPixelCount(std::uint64_t pixels);

// Why the last read on this thread that gave nothing failed, in one or a few
// lines: the size limit, a file too small for its size, libvips' own text
// ("VipsJpeg: Premature end of input file"), ... Empty after a success.
const std::string& imageRejectionReason();

// Opens `file` and reads its header only (no pixels, no size limit): nothing
// when it opens as an image, else the reason it does not.
std::optional<std::string> imageHeaderRefusal(const std::filesystem::path& file);

}  // namespace quorlin
