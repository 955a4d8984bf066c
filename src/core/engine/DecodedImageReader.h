// Reading a decoder's PNG back for display, in the colour space the result is
// shown in (the source's, or the one the encoded file's own description names).
//
// Decoders disagree about colour: djxl writes lossy files made from ICC-tagged
// sources as linear sRGB with that profile embedded, avifdec and heif-convert
// embed the source's profile, dwebp drops it. So a PNG that describes its own
// colours (any colour chunk, read as the scorer reads it) is read in them and
// converted into the wanted space; one without is taken to be in the wanted
// space already (runPanel has given it the source's profile by then).
// Blocks; any thread; never throws.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "core/engine/DisplayImage.h"

namespace quorlin {

// `display.colorSpace` is the space the result is shown in (null: the file's
// own); `display.contentHeadroom` passes into the result unchanged. Nothing
// when the file cannot be decoded or the conversion is impossible.
std::optional<DisplayImage> readDecodedImage(const std::filesystem::path& file, const DisplayMetadata& display);

// `image`'s samples converted into `target` (relative colorimetric, alpha
// copied): 16-bit samples for 8- and 16-bit input, unclipped floats for float
// input. The image itself when it already is in `target`. Null when lcms2
// cannot build the conversion.
std::shared_ptr<const DecodedImage> convertColorSpace(const std::shared_ptr<const DecodedImage>& image,
                                                      const ColorSpaceRef& target);

}  // namespace quorlin
