// Test pictures and PNG files for the metric tests.
#pragma once

#include <vips/vips8>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <span>
#include <stdexcept>
#include <vector>

#include "core/engine/VipsRuntime.h"
#include "metric/DecodedImage.h"
#include "support/TestSupport.h"

namespace quorlin::metric::test {

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

// A deterministic picture with smooth gradients, a soft texture and some hard
// edges, as 8-bit interleaved samples (channels 1-4; alpha, when present,
// ramps from transparent to opaque across the picture with a fully
// transparent band on the left).
inline std::vector<std::uint8_t> makePicture(int width, int height, int channels, unsigned seed = 1) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> jitter(-6.0, 6.0);
  std::vector<std::uint8_t> samples(static_cast<std::size_t>(width) * height * channels);
  const int colours = channels == 2 || channels == 4 ? channels - 1 : channels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double u = static_cast<double>(x) / std::max(1, width - 1);
      const double v = static_cast<double>(y) / std::max(1, height - 1);
      const bool square = x > width / 3 && x < width / 2 && y > height / 4 && y < height / 2;
      for (int c = 0; c < colours; ++c) {
        double value = 40 + 150 * (c == 0 ? u : c == 1 ? v : 1 - u * v);
        value += 25 * std::sin(0.21 * x + 0.13 * y * (c + 1)) + jitter(random);
        if (square) value = c == 0 ? 230 : 20;
        samples[(static_cast<std::size_t>(y) * width + x) * channels + c] =
            static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
      }
      if (colours < channels) {
        const long alpha = x < width / 8 ? 0 : std::lround(255 * u);
        samples[(static_cast<std::size_t>(y) * width + x) * channels + colours] =
            static_cast<std::uint8_t>(std::clamp(alpha, 0L, 255L));
      }
    }
  }
  return samples;
}

// Adds deterministic noise of the given amplitude (in 8-bit levels) to the
// colour channels, leaving alpha alone.
inline std::vector<std::uint8_t> addNoise(std::vector<std::uint8_t> samples, int channels, int amplitude,
                                          unsigned seed = 7) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> noise(-amplitude, amplitude);
  const int colours = channels == 2 || channels == 4 ? channels - 1 : channels;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (static_cast<int>(i % channels) >= colours) continue;
    samples[i] = static_cast<std::uint8_t>(std::clamp(samples[i] + noise(random), 0, 255));
  }
  return samples;
}

// The 8-bit samples as 16-bit (v * 257).
inline std::vector<std::uint16_t> widen(const std::vector<std::uint8_t>& samples) {
  std::vector<std::uint16_t> wide(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) wide[i] = static_cast<std::uint16_t>(samples[i] * 257);
  return wide;
}

namespace detail {

inline std::string bigEndian32(std::span<const std::uint32_t> values) {
  std::string bytes;
  for (std::uint32_t value : values) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>((value >> shift) & 0xff));
  }
  return bytes;
}

inline std::string pngChunk(const char* type, const std::string& data) {
  std::string chunk = bigEndian32(std::array{static_cast<std::uint32_t>(data.size())}) + type + data;
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(chunk.data() + 4), static_cast<uInt>(chunk.size() - 4));
  return chunk + bigEndian32(std::array{static_cast<std::uint32_t>(crc)});
}

}  // namespace detail

// Writes an 8- or 16-bit PNG (16-bit when `samples16` is given). Throws on failure.
inline void writePng(const std::filesystem::path& file, int width, int height, int channels,
                     const std::vector<std::uint8_t>& samples8, const PngChunks& chunks = {},
                     const std::vector<std::uint16_t>* samples16 = nullptr) {
  quorlin::ensureVipsInitialized();
  // Low-bit grey is written from full-range samples, as libvips keeps the top bits.
  std::vector<std::uint8_t> eight = samples8;
  if (channels == 1 && chunks.greyBits < 8) {
    for (auto& v : eight) v = static_cast<std::uint8_t>(v * (255 / ((1 << chunks.greyBits) - 1)));
  }
  const bool sixteen = samples16 != nullptr;
  vips::VImage image = vips::VImage::new_from_memory(
      sixteen ? static_cast<void*>(const_cast<std::uint16_t*>(samples16->data())) : static_cast<void*>(eight.data()),
      static_cast<std::size_t>(width) * height * channels * (sixteen ? 2 : 1), width, height, channels,
      sixteen ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR);
  const bool grey = channels < 3;
  image = image.copy(vips::VImage::option()->set(
      "interpretation", sixteen ? (grey ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_RGB16)
                                : (grey ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB)));
  image.pngsave(file.c_str(), vips::VImage::option()
                                  ->set("interlace", chunks.interlaced)
                                  ->set("bitdepth", sixteen ? 16 : channels == 1 ? chunks.greyBits : 8));
  // The colour chunks go in by hand, right after IHDR (signature 8 bytes + IHDR
  // 25): libpng refuses profiles that some tests need (wrong colour space, garbage).
  std::string extra;
  if (chunks.cicp) extra += detail::pngChunk("cICP", std::string(chunks.cicp->begin(), chunks.cicp->end()));
  if (!chunks.iccProfile.empty()) {
    uLongf compressedSize = compressBound(static_cast<uLong>(chunks.iccProfile.size()));
    std::vector<Bytef> compressed(compressedSize);
    if (compress(compressed.data(), &compressedSize, chunks.iccProfile.data(),
                 static_cast<uLong>(chunks.iccProfile.size())) != Z_OK) {
      throw std::runtime_error("cannot compress the profile");
    }
    extra += detail::pngChunk("iCCP", std::string("test\0\0", 6) +
                                  std::string(reinterpret_cast<const char*>(compressed.data()), compressedSize));
  }
  if (chunks.srgb) extra += detail::pngChunk("sRGB", std::string(1, '\0'));
  if (chunks.gamma) extra += detail::pngChunk("gAMA", detail::bigEndian32(std::array{*chunks.gamma}));
  if (chunks.chromaticities) extra += detail::pngChunk("cHRM", detail::bigEndian32(*chunks.chromaticities));
  std::string bytes = quorlin::test::readTextFile(file);
  bytes.insert(33, extra);
  quorlin::test::writeTextFile(file, bytes);
}

}  // namespace quorlin::metric::test
