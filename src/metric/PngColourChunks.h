// PngColourChunks: the colour chunks of a PNG file (cICP, sRGB, gAMA, cHRM,
// and whether an iCCP is present), read straight from the file bytes, since
// the image decoder exposes only the ICC profile. colourEncodingForPng then
// decides what the samples mean, in this order of precedence:
//   1. cICP with code points we can express (RGB, full range);
//   2. iCCP (the profile itself);
//   3. sRGB, whatever gAMA and cHRM say;
//   4. gAMA and/or cHRM: a pure power law (not the sRGB curve, even for
//      gAMA 45455) and/or custom primaries; absent parts stay sRGB;
//   5. nothing: sRGB.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "metric/ColourEncoding.h"

namespace quorlin::metric {

struct PngColourChunks {
  struct Cicp {
    std::uint8_t primaries, transfer, matrix, fullRange;
  };
  std::optional<Cicp> cicp;
  bool srgb = false;
  bool iccp = false;
  std::optional<std::uint32_t> gamma;                  // gAMA value, times 100000
  std::optional<std::array<std::uint32_t, 8>> chromaticities;  // cHRM: white, red, green, blue (x, y) times 100000
};

// True when `file` starts with the PNG signature.
bool isPng(std::span<const std::uint8_t> file);

// Chunks before the first IDAT; malformed or truncated chunk lists simply end
// the scan.
PngColourChunks readPngColourChunks(std::span<const std::uint8_t> file);

// The encoding of a PNG's samples; `iccProfile` is the decoded iCCP profile
// (empty when none).
ColourEncoding colourEncodingForPng(const PngColourChunks& chunks, std::vector<std::uint8_t> iccProfile);

}  // namespace quorlin::metric
