// PngDecoder: decodes a PNG file with libpng into a DecodedImage.
//
// Palette images become RGB, tRNS becomes an alpha channel, 1/2/4-bit grey is
// scaled to 8 bits (0..255), 16-bit samples stay 16-bit, interlaced images are
// de-interlaced, sBIT is ignored. Any libpng error (a corrupt or truncated
// stream included) makes the decode fail. The colour encoding comes from the
// file's colour chunks (PngColourChunks.h).
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "metric/DecodedImage.h"

namespace quorlin::metric {

// `file` is positioned at the start of a PNG file. When the file's ICC
// profile is ignored, `ignoredProfile` (if given) receives the reason.
std::optional<DecodedImage> decodePng(std::FILE* file, std::string* ignoredProfile = nullptr);

}  // namespace quorlin::metric
