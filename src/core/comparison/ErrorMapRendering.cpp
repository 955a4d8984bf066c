#include "core/comparison/ErrorMapRendering.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <span>

#include "core/comparison/LinearLightDecoder.h"
#include "core/comparison/MipChain.h"
#include "core/comparison/RowParallel.h"
#include "core/comparison/TransferFunctions.h"

namespace quorlin {

namespace {

// Rec. 709 luminance weights on linear sRGB.
constexpr float redWeight = 0.2126f;
constexpr float greenWeight = 0.7152f;
constexpr float blueWeight = 0.0722f;

// position byte (0..255) for each 16-bit map code on this scale.
std::vector<std::uint8_t> positionTable(double scale) {
  std::vector<std::uint8_t> table(1 << 16);
  for (std::size_t code = 0; code < table.size(); ++code) {
    const double share = ErrorMapPlane::shareOfCode(static_cast<std::uint16_t>(code));
    table[code] = static_cast<std::uint8_t>(std::lround(255.0 * errorMapPosition(share, scale)));
  }
  return table;
}

// Opaque RGBA bytes for each (position byte × 256 + grey).
std::vector<std::uint32_t> blendTable() {
  std::vector<std::uint32_t> table(256 * 256);
  for (int position = 0; position < 256; ++position) {
    for (int grey = 0; grey < 256; ++grey) {
      const auto colour = errorMapPixel(position / 255.0, grey);
      const std::uint8_t bytes[4] = {colour[0], colour[1], colour[2], 255};
      std::memcpy(&table[static_cast<std::size_t>(position) * 256 + static_cast<std::size_t>(grey)], bytes, 4);
    }
  }
  return table;
}

// Fixed-point luminance share (of 65535) of each sample code, per channel.
std::array<std::vector<std::uint32_t>, 3> luminanceTables(std::span<const float> linear) {
  std::array<std::vector<std::uint32_t>, 3> tables;
  const float weights[3] = {redWeight, greenWeight, blueWeight};
  for (std::size_t c = 0; c < 3; ++c) {
    tables[c].resize(linear.size());
    for (std::size_t code = 0; code < linear.size(); ++code) {
      const float value = std::clamp(linear[code], 0.0f, 1.0f) * weights[c] * 65535.0f;
      tables[c][code] = static_cast<std::uint32_t>(std::lround(value));
    }
  }
  return tables;
}

inline unsigned alphaOf(std::uint8_t value) { return value; }
inline unsigned alphaOf(std::uint16_t value) { return (value + 128u) / 257u; }

struct RowWriter {
  const std::uint8_t* positions;   // by map code
  const std::uint32_t* pixels;     // by position × 256 + grey
  const ErrorMapPlane* map;

  // Writes `width` pixels of row y from their greys.
  void write(int y, const std::uint8_t* __restrict greys, int width, std::uint8_t* __restrict out) const {
    int covered = 0;
    if (map && y < map->height) {
      covered = std::min(width, map->width);
      const std::uint16_t* codes = map->codes.data() + static_cast<std::size_t>(y) * map->width;
      for (int x = 0; x < covered; ++x) {
        std::memcpy(out + 4 * x, &pixels[(unsigned{positions[codes[x]]} << 8) | greys[x]], 4);
      }
    }
    for (int x = covered; x < width; ++x) std::memcpy(out + 4 * x, &pixels[greys[x]], 4);
  }
};

template <typename Sample>
void greysByTables(const DecodedImage& image, const std::array<std::vector<std::uint32_t>, 3>& tables, int y,
                   std::uint8_t* greys) {
  const int channels = image.channels();
  const auto* samples = reinterpret_cast<const Sample*>(image.data()) +
                        static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width()) * channels;
  const std::uint8_t* encode = linearToSRGB8FixedTable().data();
  const std::uint32_t* red = tables[0].data();
  const std::uint32_t* green = tables[1].data();
  const std::uint32_t* blue = tables[2].data();
  for (int x = 0; x < image.width(); ++x) {
    const Sample* s = samples + static_cast<std::size_t>(x) * channels;
    const std::uint32_t luminance = std::min<std::uint32_t>(red[s[0]] + green[s[1]] + blue[s[2]], 65535u);
    const std::uint8_t grey = encode[luminance];
    greys[x] = channels == 4 ? premultiplyByAlpha(grey, alphaOf(s[3])) : grey;
  }
}

void greysByRows(const LinearLightDecoder& decoder, int y, float* rgba, std::uint8_t* greys) {
  const int width = decoder.image().width();
  decoder.decodeRow(y, 0, width, rgba);
  const auto& encode = linearToSRGB8Table();
  for (int x = 0; x < width; ++x) {
    const float* p = rgba + 4 * x;
    const float luminance = redWeight * p[0] + greenWeight * p[1] + blueWeight * p[2];
    greys[x] = premultiplyByAlpha(encode[static_cast<std::size_t>(linearToSRGB8Index(luminance))],
                                  static_cast<unsigned>(std::lround(std::clamp(p[3], 0.0f, 1.0f) * 255.0f)));
  }
}

}  // namespace

std::array<std::uint8_t, 3> errorMapPixel(double position, int grey) {
  const double t = std::clamp(std::isnan(position) ? 0.0 : position, 0.0, 1.0);
  const double opacity = t;
  const double backdrop = std::clamp(grey, 0, 255) * errorMapBackdropLevel;
  const auto heat = infernoColour(t);
  std::array<std::uint8_t, 3> colour{};
  for (std::size_t c = 0; c < 3; ++c) {
    colour[c] = static_cast<std::uint8_t>(std::lround(backdrop + (heat[c] - backdrop) * opacity));
  }
  return colour;
}

std::shared_ptr<const RasterizedImage> rasterizeErrorMap(const DecodedImage& result, const ErrorMapPlane* map,
                                                         double scale) {
  auto decoder = LinearLightDecoder::create(result);
  if (!decoder) return nullptr;
  const std::vector<std::uint8_t> positions = positionTable(scale);
  const std::vector<std::uint32_t> pixels = blendTable();
  const RowWriter writer{positions.data(), pixels.data(), map && !map->codes.empty() ? map : nullptr};
  const std::span<const float> channelTable = decoder->channelTable();
  const auto tables = channelTable.empty() ? std::array<std::vector<std::uint32_t>, 3>{}
                                           : luminanceTables(channelTable);
  const int width = result.width();

  auto bitmap = RasterBitmap::allocate(width, result.height());
  parallelForRows(bitmap->height, [&](int firstRow, int endRow) {
    std::vector<std::uint8_t> greys(static_cast<std::size_t>(width));
    std::vector<float> rgba(channelTable.empty() ? static_cast<std::size_t>(width) * 4 : 0);
    for (int y = firstRow; y < endRow; ++y) {
      if (channelTable.empty()) {
        greysByRows(*decoder, y, rgba.data(), greys.data());
      } else if (result.format() == SampleFormat::uint16) {
        greysByTables<std::uint16_t>(result, tables, y, greys.data());
      } else {
        greysByTables<std::uint8_t>(result, tables, y, greys.data());
      }
      writer.write(y, greys.data(), width, bitmap->row(y));
    }
  });
  return std::make_shared<const RasterizedImage>(makeRasterizedImage(std::move(bitmap), false));
}

std::vector<ErrorMapLegendTick> errorMapLegendTicks(double scale) {
  std::vector<ErrorMapLegendTick> ticks;
  if (!(scale > 0.0)) return ticks;
  const int decades = static_cast<int>(kErrorMapDecades);
  for (int decade = decades; decade >= 0; --decade) {
    const double value = scale / std::pow(10.0, decade);
    ticks.push_back({errorMapPosition(value, scale), formatErrorShare(value)});
  }
  return ticks;
}

std::string formatErrorShare(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", share);
  return text;
}

}  // namespace quorlin
