// ComparisonRenderBench: what the four-way canvas costs for big pictures.
//
// Builds a 24-megapixel source (6000 × 4000) and four 24-megapixel results
// that differ from it slightly, then drives the canvas model with the real
// rasteriser as the comparison view would:
//   1. first update: the five normal bitmaps with their mip chains;
//   2. difference on: four difference bitmaps;
//   3. gain changes (2 → 4 → 8 → 16 → 32): four difference bitmaps each;
//   4. zoom, pan and split changes: no rendering at all;
//   5. error maps: four 24-megapixel PFM files (written to a temporary folder
//      first) named while the error map is off, which starts reading them in
//      the background; the time until they are read; the first switch to the
//      error map (four error map bitmaps); a layer change (the update itself,
//      showing the results while the layer's maps are read, then the maps read
//      and the four bitmaps made); a scale change (one result's map replaced:
//      its map read, all four bitmaps made again); frames of zoom, pan and
//      split with the error map showing;
// and reports the wall time of each step with the process CPU time it took
// (user and system; on a shared machine the CPU time is the steadier figure,
// and system time there is the kernel zeroing fresh pages), and the memory
// held at the end (resident set and its peak from /proc/self/status, the
// decoded images, the bitmap cache and the idle pooled bitmap memory).
//
// Usage: ComparisonRenderBench [--source-bits 8|16] [--result-bits 8|16]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "core/comparison/FourWayCanvasModel.h"

namespace {

using quorlin::ColorSpace;
using quorlin::DecodedImage;
using quorlin::DisplayImage;
using quorlin::SampleFormat;

constexpr int imageWidth = 6000;
constexpr int imageHeight = 4000;

// A smooth picture with some texture; results add a small per-panel error.
template <typename Sample>
std::shared_ptr<const DecodedImage> makePicture(int panel) {
  constexpr double maximum = sizeof(Sample) == 1 ? 255.0 : 65535.0;
  const std::size_t count = static_cast<std::size_t>(imageWidth) * imageHeight * 3;
  std::vector<std::byte> bytes(count * sizeof(Sample));
  auto* samples = reinterpret_cast<Sample*>(bytes.data());
  std::uint32_t noise = 12345u + static_cast<std::uint32_t>(panel) * 977u;
  for (int y = 0; y < imageHeight; ++y) {
    for (int x = 0; x < imageWidth; ++x) {
      noise = noise * 1664525u + 1013904223u;
      double error = panel == 0 ? 0.0 : static_cast<double>((noise >> 24) % 5) - 2.0;
      std::size_t i = (static_cast<std::size_t>(y) * imageWidth + x) * 3;
      double base[3] = {x / double(imageWidth), y / double(imageHeight), ((x ^ y) & 255) / 255.0};
      for (int c = 0; c < 3; ++c) {
        double value = std::clamp(base[c] * maximum + error * (maximum / 255.0), 0.0, maximum);
        samples[i + static_cast<std::size_t>(c)] = static_cast<Sample>(value);
      }
    }
  }
  SampleFormat format = sizeof(Sample) == 1 ? SampleFormat::uint8 : SampleFormat::uint16;
  return std::make_shared<const DecodedImage>(imageWidth, imageHeight, 3, format, std::move(bytes),
                                              ColorSpace::wellKnown(ColorSpace::WellKnown::sRGB));
}

std::shared_ptr<const DecodedImage> makePicture(int bits, int panel) {
  return bits == 16 ? makePicture<std::uint16_t>(panel) : makePicture<std::uint8_t>(panel);
}

DisplayImage displayImageOf(std::shared_ptr<const DecodedImage> image) {
  return {std::move(image), {double(imageWidth), double(imageHeight)}, std::nullopt};
}

// A three-layer PFM map of a 24-megapixel result: heavy-tailed shares, more
// of them for higher panels, so the maps differ in heat.
std::filesystem::path writeMap(const std::filesystem::path& folder, int panel) {
  const std::filesystem::path file = folder / ("map" + std::to_string(panel) + ".pfm");
  std::ofstream stream(file, std::ios::binary);
  stream << "PF\n" << imageWidth << ' ' << imageHeight << "\n-1.0\n";
  std::vector<float> row(static_cast<std::size_t>(imageWidth) * 3);
  std::uint32_t noise = 777u * static_cast<std::uint32_t>(panel);
  for (int y = 0; y < imageHeight; ++y) {
    for (float& value : row) {
      noise = noise * 1664525u + 1013904223u;
      const double uniform = ((noise >> 8) + 1) / 16777217.0;
      value = static_cast<float>(1e-7 * panel * std::pow(uniform, -1.5));
    }
    stream.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(row.size() * sizeof(float)));
  }
  return file;
}

std::pair<double, double> lastCpu;

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// "VmRSS" or "VmHWM" in megabytes.
double statusMegabytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stod(line.substr(std::strlen(field) + 1)) / 1024.0;
  }
  return 0;
}

// Process CPU time (user, system) in milliseconds.
std::pair<double, double> cpuMilliseconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto ms = [](timeval t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  return {ms(usage.ru_utime), ms(usage.ru_stime)};
}

// Wall time of `step` in milliseconds; prints the CPU time it took beside it,
// since other programs on a shared machine stretch wall time.
template <typename Step>
double timed(Step step) {
  auto cpuBefore = cpuMilliseconds();
  auto start = std::chrono::steady_clock::now();
  step();
  double wall = millisecondsSince(start);
  auto cpuAfter = cpuMilliseconds();
  lastCpu = {cpuAfter.first - cpuBefore.first, cpuAfter.second - cpuBefore.second};
  return wall;
}

}  // namespace

int main(int argc, char** argv) {
  int sourceBits = 8;
  int resultBits = 8;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    int value = std::atoi(argv[i + 1]);
    if ((value != 8 && value != 16) || (option != "--source-bits" && option != "--result-bits")) {
      std::fprintf(stderr, "Usage: %s [--source-bits 8|16] [--result-bits 8|16]\n", argv[0]);
      return 2;
    }
    (option == "--source-bits" ? sourceBits : resultBits) = value;
  }

  std::printf("Source %d-bit and four results %d-bit, %d x %d (%.1f megapixels each)\n", sourceBits, resultBits,
              imageWidth, imageHeight, imageWidth * double(imageHeight) / 1e6);
  quorlin::FourWayImageCanvas values;
  values.sourceImage = displayImageOf(makePicture(sourceBits, 0));
  std::size_t decodedBytes = values.sourceImage->image->byteCount();
  for (int panel = 1; panel <= 4; ++panel) {
    values.panelImages.push_back(displayImageOf(makePicture(resultBits, panel)));
    decodedBytes += values.panelImages.back()->image->byteCount();
  }
  std::printf("Decoded images: %.0f MB; resident after decoding: %.0f MB\n", decodedBytes / 1e6,
              statusMegabytes("VmRSS:"));

  quorlin::FourWayCanvasModel model;
  const quorlin::SizeF view{1400, 900};
  double normal = timed([&] { model.update(values, view, 1.0); });
  std::printf("Normal bitmaps with mip chains (5 images):   %8.1f ms  (cpu user %.0f, system %.0f)\n", normal,
              lastCpu.first, lastCpu.second);

  values.isShowingDifference = true;
  double firstDifference = timed([&] { model.update(values, view, 1.0); });
  std::printf("Difference on, gain 2 (4 bitmaps):            %8.1f ms  (cpu user %.0f, system %.0f)\n",
              firstDifference, lastCpu.first, lastCpu.second);

  std::vector<double> gainChanges;
  for (int gain : {4, 8, 16, 32}) {
    values.differenceGain = gain;
    gainChanges.push_back(timed([&] { model.update(values, view, 1.0); }));
    std::printf("Gain change to %2d (4 difference bitmaps):     %8.1f ms  (cpu user %.0f, system %.0f)\n", gain,
                gainChanges.back(), lastCpu.first, lastCpu.second);
  }
  std::sort(gainChanges.begin(), gainChanges.end());
  std::printf("Gain change, median of 4:                     %8.1f ms (goal < 300 ms)\n",
              (gainChanges[1] + gainChanges[2]) / 2);

  values.isShowingDifference = false;
  double backToNormal = timed([&] { model.update(values, view, 1.0); });
  std::printf("Difference off again (cached normals):        %8.3f ms\n", backToNormal);
  values.isShowingDifference = true;
  double backToDifference = timed([&] { model.update(values, view, 1.0); });
  std::printf("Difference on again, same gain (cached):      %8.3f ms\n", backToDifference);

  double moves = timed([&] {
    for (int i = 0; i < 100; ++i) {
      values.zoom = 1.0 + i * 0.05;
      values.panOffset = {double(i), double(-i)};
      values.comparisonX = 0.3 + i * 0.004;
      model.update(values, view, 1.0);
    }
  });
  std::printf("Zoom, pan and split update (mean of 100):     %8.3f ms\n", moves / 100);

  std::printf("Writing four 24-megapixel error maps (PFM)...\n");
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "quorlin-errormap-bench";
  std::filesystem::create_directories(folder);
  for (int panel = 1; panel <= 4; ++panel) values.panelErrorMaps.push_back(writeMap(folder, panel));
  values.zoom = 1.0;
  values.panOffset = {};
  values.comparisonX = 0.5;
  values.isShowingDifference = false;
  double mapsNamed = timed([&] { model.update(values, view, 1.0); });
  std::printf("Maps named, error map off (reads start):      %8.3f ms\n", mapsNamed);
  double backgroundRead = timed([&] { model.waitForErrorMaps(); });
  std::printf("  4 maps read in the background:              %8.1f ms  (cpu user %.0f, system %.0f)\n",
              backgroundRead, lastCpu.first, lastCpu.second);
  values.isShowingErrorMap = true;
  double firstMap = timed([&] { model.update(values, view, 1.0); });
  std::printf("Error map on, first switch: 4 bitmaps:        %8.1f ms  (cpu user %.0f, system %.0f)\n", firstMap,
              lastCpu.first, lastCpu.second);
  // The update that starts a read returns at once, the results showing; the
  // one after the reads takes the maps in.
  auto changeWithRead = [&](const char* what) {
    double start = timed([&] { model.update(values, view, 1.0); });
    std::printf("%-45s %8.3f ms (results shown while reading)\n", what, start);
    double read = timed([&] { model.waitForErrorMaps(); });
    std::printf("  maps read in the background:                %8.1f ms  (cpu user %.0f, system %.0f)\n", read,
                lastCpu.first, lastCpu.second);
    double maps = timed([&] { model.update(values, view, 1.0); });
    std::printf("  maps in, 4 bitmaps:                         %8.1f ms  (cpu user %.0f, system %.0f)\n", maps,
                lastCpu.first, lastCpu.second);
  };
  values.errorMapLayer = quorlin::ErrorMapLayer::structure;
  changeWithRead("Layer change: 4 maps to read:");
  // A new result in panel 4 with a hotter map: the shared scale moves, so
  // every quadrant is coloured again; only the new map is read.
  values.panelImages[3] = displayImageOf(makePicture(resultBits, 5));
  values.panelErrorMaps[3] = writeMap(folder, 5);
  changeWithRead("New result, new scale: 1 map to read:");
  std::vector<double> renders;
  {
    // Rendering alone, the maps already read (what a scale change costs
    // besides reading the one new map).
    quorlin::ImageRasterizer rasterizer;
    std::vector<const quorlin::ErrorMapPlane*> maps;
    for (int quadrant = 0; quadrant < 4; ++quadrant) maps.push_back(model.quadrantErrorMap(quadrant));
    for (int round = 0; round < 4; ++round) {
      renders.push_back(timed([&] {
        for (int quadrant = 0; quadrant < 4; ++quadrant) {
          auto image = rasterizer.rasterizeErrorMap(*values.panelImages[static_cast<std::size_t>(quadrant)]->image,
                                                    maps[static_cast<std::size_t>(quadrant)],
                                                    model.errorMapScale() * (1.0 + round * 0.1));
        }
      }));
      std::printf("Four error map bitmaps, maps in memory:       %8.1f ms  (cpu user %.0f, system %.0f)\n",
                  renders.back(), lastCpu.first, lastCpu.second);
    }
    std::sort(renders.begin(), renders.end());
    std::printf("Four error map bitmaps, median of 4:          %8.1f ms (goal < 300 ms)\n",
                (renders[1] + renders[2]) / 2);
  }
  std::vector<double> frames;
  for (int i = 0; i < 100; ++i) {
    values.zoom = 1.0 + i * 0.05;
    values.panOffset = {double(i), double(-i)};
    values.comparisonX = 0.3 + i * 0.004;
    frames.push_back(timed([&] {
      model.update(values, view, 1.0);
      (void)model.errorMapReadingAt({700, 450});
    }));
  }
  std::sort(frames.begin(), frames.end());
  std::printf("Error map frame: zoom, pan, split, readout:   %8.3f ms median, %.3f ms worst (goal < 16 ms)\n",
              frames[50], frames.back());
  std::filesystem::remove_all(folder);

  std::printf("Bitmap cache: %zu entries, %.0f MB; idle pooled bitmap memory: %.0f MB\n",
              model.rasterCache().size(), model.rasterCache().byteCount() / 1e6,
              quorlin::idleBitmapMemory() / 1e6);
  std::printf("Resident now: %.0f MB; peak resident: %.0f MB (goal < 2500 MB)\n", statusMegabytes("VmRSS:"),
              statusMegabytes("VmHWM:"));
  return 0;
}
