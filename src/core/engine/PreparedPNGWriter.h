// The writer of the prepared "source.png": the source's precision, the image's
// colour space embedded as an ICC profile unless it is plain sRGB (then the
// file is untagged, as the source was), and nothing else that could change
// how a reader sees the pixels (no gAMA, cHRM or sRGB chunk, no EXIF, XMP or
// text; only a pHYs chunk stating 72 dpi, which libvips always writes). PQ and
// HLG images carry a cICP chunk besides the profile (9/16 or 9/18, RGB, full
// range), which readers that know cICP take first.
//
// 8-bit samples are written as they are, 16-bit too; a float is written as
// round(v x 65535) clipped to 0..65535, except linear light reaching above 1,
// which is written as PQ (BT.2020 primaries, 1.0 = 203 nits) with its peak as
// the content headroom. The alpha channel is kept only when some sample is not
// opaque: RGBA with real transparency, else RGB (older djxl cannot write back
// 16-bit RGBA, and an opaque alpha changes no score).
#pragma once

#include <filesystem>

#include "core/engine/DisplayImage.h"
#include "core/engine/ImageDecoding.h"

namespace quorlin {

// zlib level of the prepared PNG, chosen by measurement on 24-megapixel
// images (PrepareSourceBench --levels): level 0 writes the 144 MB file in
// 0.3-0.6 s; level 1 makes it 2.3-3.8 times smaller but takes 1.6-2.2 s, and
// level 6 takes 6-15 s; reading is equally fast at every level. The file is
// temporary, deleted after each pass, and written once per pass while the
// user waits, so time wins over disk space.
inline constexpr int preparedPNGCompressionLevel = 0;

// Writes `image` to `output`. A file-system failure (full disk, no permission)
// throws std::filesystem::filesystem_error naming `output`; a failure to
// encode throws CompressionError::unreadableImage naming `sourceForErrors`.
// Returns the colour space and content headroom the file is written in.
DisplayMetadata writePreparedPNG(const DecodedImage& image, const std::filesystem::path& output,
                      const std::filesystem::path& sourceForErrors,
                      int compressionLevel = preparedPNGCompressionLevel);

// The same, pulling the pixels of a streaming decode as it writes.
DisplayMetadata writePreparedPNG(const StreamingDecode& decode, const std::filesystem::path& output,
                      const std::filesystem::path& sourceForErrors,
                      int compressionLevel = preparedPNGCompressionLevel);

}  // namespace quorlin
