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

std::optional<ErrorMapTotals> readErrorMapTotals(const std::filesystem::path& file) {
  std::ifstream stream(file, std::ios::binary);
  std::string magic;
  ErrorMapTotals map;
  double scale = 0;
  if (!(stream >> magic >> map.width >> map.height >> scale) || magic != "PF" || map.width <= 0 ||
      map.height <= 0 || scale == 0 || map.width > 1 << 16 || map.height > 1 << 16) {
    return std::nullopt;
  }
  stream.get();  // the single whitespace before the samples
  // A negative scale means little-endian samples.
  const bool swap = (scale < 0) != (std::endian::native == std::endian::little);
  const std::size_t width = static_cast<std::size_t>(map.width);
  std::vector<float> row(width * 3);
  map.totals.resize(width * static_cast<std::size_t>(map.height));
  for (int y = map.height - 1; y >= 0; --y) {  // bottom row first
    if (!stream.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(row.size() * sizeof(float)))) {
      return std::nullopt;
    }
    if (swap) {
      for (float& value : row) value = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<std::uint32_t>(value)));
    }
    float* totals = map.totals.data() + width * static_cast<std::size_t>(y);
    for (std::size_t x = 0; x < width; ++x) totals[x] = row[3 * x] + row[3 * x + 1] + row[3 * x + 2];
  }
  return map;
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
