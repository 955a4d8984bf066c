// Test pictures and PNG files for the metric tests.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "metric/DecodedImage.h"

namespace quorlin::metric::test {

// A deterministic picture with smooth gradients, a soft texture and some hard
// edges, as 8-bit interleaved samples (channels 1-4; alpha, when present,
// ramps from transparent to opaque across the picture with a fully
// transparent band on the left).
std::vector<std::uint8_t> makePicture(int width, int height, int channels, unsigned seed = 1);

// Adds deterministic noise of the given amplitude (in 8-bit levels) to the
// colour channels, leaving alpha alone.
std::vector<std::uint8_t> addNoise(std::vector<std::uint8_t> samples, int channels, int amplitude, unsigned seed = 7);

// The 8-bit samples as 16-bit (v * 257).
std::vector<std::uint16_t> widen(const std::vector<std::uint8_t>& samples);

// How to write a test PNG: ancillary chunks and layout.
struct PngChunks {
  bool interlaced = false;
  int greyBits = 8;  // 1, 2 or 4 for low-bit grey (samples then hold 0..2^bits-1)
  bool srgb = false;
  std::optional<std::uint32_t> gamma;                          // gAMA, times 100000
  std::optional<std::array<std::uint32_t, 8>> chromaticities;  // cHRM
  std::optional<std::array<std::uint8_t, 4>> cicp;
  std::vector<std::uint8_t> iccProfile;                        // iCCP when not empty
};

// Writes an 8- or 16-bit PNG (16-bit when `samples16` is given). Throws on failure.
void writePng(const std::filesystem::path& file, int width, int height, int channels,
              const std::vector<std::uint8_t>& samples8, const PngChunks& chunks = {},
              const std::vector<std::uint16_t>* samples16 = nullptr);

}  // namespace quorlin::metric::test
