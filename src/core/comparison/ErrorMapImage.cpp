#include "core/comparison/ErrorMapImage.h"

#include <vips/vips8>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>

namespace quorlin {

namespace {

// Reads a three-channel PFM: `start(width, height)` once, then `row(y, values)`
// for every row with the chosen layer's value per pixel (y counted from the
// top). False when the file is missing, malformed or cut short, or when `stop`
// is requested.
template <typename Start, typename Row>
bool readErrorMapRows(const std::filesystem::path& file, ErrorMapLayer layer, Start start, Row row,
                      const std::stop_token& stop = {}) {
  std::ifstream stream(file, std::ios::binary);
  std::string magic;
  int width = 0;
  int height = 0;
  double scale = 0;
  if (!(stream >> magic >> width >> height >> scale) || magic != "PF" || width <= 0 || height <= 0 || scale == 0 ||
      width > 1 << 16 || height > 1 << 16) {
    return false;
  }
  stream.get();  // the single whitespace before the samples
  // A negative scale means little-endian samples.
  const bool swap = (scale < 0) != (std::endian::native == std::endian::little);
  const std::size_t count = static_cast<std::size_t>(width);
  std::vector<float> samples(count * 3);
  std::vector<float> values(count);
  start(width, height);
  const int channel = static_cast<int>(layer) - 1;  // -1: all three
  for (int y = height - 1; y >= 0; --y) {  // bottom row first
    if (stop.stop_requested()) return false;
    if (!stream.read(reinterpret_cast<char*>(samples.data()),
                     static_cast<std::streamsize>(samples.size() * sizeof(float)))) {
      return false;
    }
    if (swap) {
      for (float& value : samples) {
        value = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<std::uint32_t>(value)));
      }
    }
    if (channel < 0) {
      for (std::size_t x = 0; x < count; ++x) values[x] = samples[3 * x] + samples[3 * x + 1] + samples[3 * x + 2];
    } else {
      for (std::size_t x = 0; x < count; ++x) values[x] = samples[3 * x + static_cast<std::size_t>(channel)];
    }
    row(y, values.data());
  }
  return true;
}

// The upper 16 bits of a float, rounded to nearest even; negative and NaN shares
// (which the metric never writes) become 0.
std::uint16_t bfloat16Of(float value) {
  if (!(value > 0.0f)) return 0;
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  return static_cast<std::uint16_t>((bits + 0x7fffu + ((bits >> 16) & 1u)) >> 16);
}

}  // namespace

std::string_view errorMapLayerName(ErrorMapLayer layer) {
  switch (layer) {
    case ErrorMapLayer::structure: return "Structure";
    case ErrorMapLayer::artifacts: return "Artifacts";
    case ErrorMapLayer::blur: return "Blur";
    case ErrorMapLayer::all: break;
  }
  return "All";
}

std::optional<ErrorMapTotals> readErrorMapTotals(const std::filesystem::path& file, ErrorMapLayer layer) {
  ErrorMapTotals map;
  const bool isRead = readErrorMapRows(
      file, layer,
      [&](int width, int height) {
        map.width = width;
        map.height = height;
        map.totals.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
      },
      [&](int y, const float* values) {
        std::copy(values, values + map.width, map.totals.data() + static_cast<std::size_t>(map.width) * y);
      });
  if (!isRead) return std::nullopt;
  return map;
}

double ErrorMapPlane::shareOfCode(std::uint16_t code) {
  return std::bit_cast<float>(static_cast<std::uint32_t>(code) << 16);
}

double ErrorMapPlane::shareAt(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0.0;
  return shareOfCode(codes[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x]);
}

std::shared_ptr<const ErrorMapPlane> readErrorMapPlane(const std::filesystem::path& file, ErrorMapLayer layer,
                                                       std::stop_token stop) {
  auto plane = std::make_shared<ErrorMapPlane>();
  // Codes of positive floats order like their values, so a histogram of the
  // codes gives the percentile without sorting 24 million values.
  std::vector<std::uint32_t> histogram(1 << 16);
  const bool isRead = readErrorMapRows(
      file, layer,
      [&](int width, int height) {
        plane->width = width;
        plane->height = height;
        plane->codes.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
      },
      [&](int y, const float* values) {
        std::uint16_t* codes = plane->codes.data() + static_cast<std::size_t>(plane->width) * y;
        for (int x = 0; x < plane->width; ++x) {
          codes[x] = bfloat16Of(values[x]);
          ++histogram[codes[x]];
        }
      },
      stop);
  if (!isRead) return nullptr;
  // The same rank sharedErrorMapScale takes.
  const std::size_t rank = (plane->codes.size() - 1) * 999 / 1000;
  std::size_t seen = 0;
  for (std::size_t code = 0; code < histogram.size(); ++code) {
    seen += histogram[code];
    if (seen > rank) {
      plane->topShare = ErrorMapPlane::shareOfCode(static_cast<std::uint16_t>(code));
      break;
    }
  }
  return plane;
}

double sharedErrorMapScale(const std::vector<const ErrorMapTotals*>& maps) {
  double scale = 0.0;
  for (const ErrorMapTotals* map : maps) {
    if (!map || map->totals.empty()) continue;
    std::vector<float> sorted = map->totals;
    const auto rank = sorted.begin() + static_cast<std::ptrdiff_t>((sorted.size() - 1) * 999 / 1000);
    std::nth_element(sorted.begin(), rank, sorted.end());
    scale = std::max(scale, static_cast<double>(*rank));
  }
  return scale;
}

double errorMapPosition(double share, double scale) {
  if (!(share > 0.0) || !(scale > 0.0)) return 0.0;
  return std::clamp(std::log10(share / scale) / kErrorMapDecades + 1.0, 0.0, 1.0);
}

std::array<std::uint8_t, 3> infernoColour(double t) {
  // The inferno map at nine evenly spaced positions; linear in between.
  static constexpr std::uint8_t stops[9][3] = {{0, 0, 4},     {31, 12, 72},  {85, 15, 109},
                                               {136, 34, 106}, {186, 54, 85}, {227, 89, 51},
                                               {249, 142, 9},  {248, 201, 50}, {252, 255, 164}};
  const double position = std::clamp(std::isnan(t) ? 0.0 : t, 0.0, 1.0) * 8.0;
  const int index = std::min(7, static_cast<int>(position));
  const double fraction = position - index;
  std::array<std::uint8_t, 3> colour{};
  for (int c = 0; c < 3; ++c) {
    const double value = stops[index][c] + (stops[index + 1][c] - stops[index][c]) * fraction;
    colour[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(std::lround(value));
  }
  return colour;
}

void writeErrorMapPng(const ErrorMapTotals& map, double scale, const std::filesystem::path& file) {
  std::vector<std::uint8_t> pixels(map.totals.size() * 3);
  for (std::size_t i = 0; i < map.totals.size(); ++i) {
    const auto colour = infernoColour(errorMapPosition(map.totals[i], scale));
    std::memcpy(pixels.data() + 3 * i, colour.data(), 3);
  }
  try {
    vips::VImage image = vips::VImage::new_from_memory(pixels.data(), pixels.size(), map.width, map.height, 3,
                                                       VIPS_FORMAT_UCHAR);
    image.pngsave(file.c_str());
  } catch (const vips::VError& error) {
    vips_error_clear();
    throw std::runtime_error("Could not write " + file.string() + ": " + error.what());
  }
}

}  // namespace quorlin
