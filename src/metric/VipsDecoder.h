// VipsDecoder: decodes non-PNG images (JPEG, TIFF, WebP, ...) with libvips.
//
// libvips is loaded on first use (dlopen) rather than linked: it pulls in some
// hundred shared libraries, and loading them would cost every run of the tool
// tens of milliseconds although the app only ever passes PNG files. When
// libvips is not installed, non-PNG files simply fail to decode.
//
// Grey, grey+alpha, RGB and RGBA come through as 8-bit, 16-bit or float
// samples; other colour spaces (CMYK, Lab, ...) are converted to sRGB by
// libvips; an embedded ICC profile is kept; float images that libvips marks
// as scRGB are taken as linear sRGB. Only the first frame or page is used.
// Thread-safe.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>

#include "metric/DecodedImage.h"

namespace quorlin::metric {

// `mayDecode` is asked with the header's size before any pixel is decoded;
// false stops the decode. Throws std::bad_alloc when the samples do not fit.
std::optional<DecodedImage> decodeWithVips(const std::filesystem::path& path,
                                           const std::function<bool(int width, int height)>& mayDecode);

}  // namespace quorlin::metric
