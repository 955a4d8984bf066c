// The P6 PPM writer that feeds cjpeg sources it cannot read itself.
//
// Output: the ASCII header "P6\n" WIDTH " " HEIGHT "\n255\n", then WIDTH x
// HEIGHT pixels of three bytes (R, G, B), rows top to bottom, no padding. The
// pixels are the input's first image, orientation applied, converted to 8-bit
// sRGB; transparency is composited onto black. Blocks; any thread.
#pragma once

#include <filesystem>

namespace quorlin {

// Throws CompressionError::unreadableImage naming `input` when it cannot be
// decoded, std::filesystem::filesystem_error naming `output` when writing fails.
void writePPM(const std::filesystem::path& input, const std::filesystem::path& output);

}  // namespace quorlin
