// ErrorMapImage: ssimulacra2's error map (the --map PFM: per pixel, its
// share of the weighted error sum in three layers, structure, artifacts and
// blur) read back and drawn in colour for viewing.
//
// The shares are heavy-tailed (the 4-norm terms single out the worst
// pixels), so colours follow a logarithmic scale over three decades below a
// top value that several maps share, so that the same share has the same
// colour in each of them and the worse result shows more heat.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <string_view>
#include <vector>

namespace quorlin {

// Which of the map's layers to look at; `all` adds the three.
enum class ErrorMapLayer { all, structure, artifacts, blur };
inline constexpr ErrorMapLayer errorMapLayers[] = {ErrorMapLayer::all, ErrorMapLayer::structure,
                                                   ErrorMapLayer::artifacts, ErrorMapLayer::blur};
// "All", "Structure", "Artifacts", "Blur".
std::string_view errorMapLayerName(ErrorMapLayer layer);

struct ErrorMapTotals {
  int width = 0;
  int height = 0;
  std::vector<float> totals;  // per pixel, the three layers added; top row first
};

// Nothing when the file is missing or not a three-channel PFM.
std::optional<ErrorMapTotals> readErrorMapTotals(const std::filesystem::path& file,
                                                 ErrorMapLayer layer = ErrorMapLayer::all);

// One layer of a map as the canvas keeps it: each share rounded to its upper
// 16 bits (a bfloat16, three significant digits, the precision a colour or a
// readout needs) so four 24-megapixel maps take 190 MB, not 380 MB.
struct ErrorMapPlane {
  int width = 0;
  int height = 0;
  std::vector<std::uint16_t> codes;   // top row first
  double topShare = 0;                // the 99.9th percentile (see sharedErrorMapScale)

  double shareAt(int x, int y) const;
  static double shareOfCode(std::uint16_t code);
};

// Nothing when the file is missing or not a three-channel PFM, or when `stop`
// is requested before the last row is read.
std::shared_ptr<const ErrorMapPlane> readErrorMapPlane(const std::filesystem::path& file, ErrorMapLayer layer,
                                                       std::stop_token stop = {});

// The top of a colour scale shared by these maps: the largest of their
// 99.9th percentiles (a few hot pixels may lie above it); 0 when all are zero.
double sharedErrorMapScale(const std::vector<const ErrorMapTotals*>& maps);

inline constexpr double kErrorMapDecades = 3.0;

// Position 0..1 of a share on the scale with top `scale`: 0 at or below
// scale/10^3, 1 at or above scale, logarithmic between.
double errorMapPosition(double share, double scale);

// The inferno colour map (perceptually uniform, black through purple and
// orange to pale yellow) at position t in 0..1, as 8-bit sRGB.
std::array<std::uint8_t, 3> infernoColour(double t);

// Writes the map as an 8-bit RGB PNG coloured on `scale`. Throws
// std::runtime_error naming the file when it cannot be written.
void writeErrorMapPng(const ErrorMapTotals& map, double scale, const std::filesystem::path& file);

}  // namespace quorlin
