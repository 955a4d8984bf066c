// encodeLinearPixels: the last step of every float rendering path.
//
// Turns RGBA floats (linear light with the sRGB primaries, already within the
// bitmap's range; straight alpha 0..1) into the bitmap's bytes: sRGB-encoded
// through the table of TransferFunctions, alpha rounded to 8 bits,
// colour premultiplied by it. Values below 0 (and NaN) become 0, above 1
// become 1.
//
// Works in chunks that stay in the first-level cache: first all the float
// arithmetic (which the compiler vectorises), then the table lookups.
// Thread-safe.
#pragma once

#include <cstdint>

namespace quorlin {

void encodeLinearPixels(const float* rgba, int pixelCount, std::uint8_t* out);

}  // namespace quorlin
