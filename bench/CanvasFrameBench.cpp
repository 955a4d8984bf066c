// CanvasFrameBench: what a frame of the comparison view costs with big pictures.
//
// A 24-megapixel source (6000 × 4000) and four 24-megapixel results that
// differ from it slightly, shown in a 1600 × 1000 comparison view (the real
// widget with its overlay, on the offscreen platform at one device pixel per
// point). Reports:
//   1. the first update: the five normal bitmaps with their mip chains;
//   2. frames after pan and zoom changes (new values handed to the view, then
//      the whole view painted into an offscreen image of its size), at fit,
//      200 %-ish, 100 % and 800 %, and with the difference shown: median,
//      90th percentile and maximum over the frames of each scene;
//   3. turning the difference on, and each gain change after it (four
//      difference bitmaps each);
//   4. the process's peak resident memory with all of it cached.
// Renderings print the process CPU time beside the wall time: on a shared
// machine the CPU time is the steadier figure (they run on every core).
//
// Usage: CanvasFrameBench [--source-bits 8|16] [--result-bits 8|16] [--frames N]
#include <QApplication>
#include <QImage>
#include <QPainter>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/comparison/KeyboardCommandRegistry.h"
#include "core/comparison/RasterBitmap.h"
#include "gui/comparison/FourWayCanvasWidget.h"
#include "gui/comparison/FourWayComparisonImageView.h"

namespace {

using namespace quorlin;

constexpr int imageWidth = 6000;
constexpr int imageHeight = 4000;
constexpr int viewWidth = 1600;
constexpr int viewHeight = 1000;

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

DisplayImage displayImageOf(int bits, int panel) {
  auto image = bits == 16 ? makePicture<std::uint16_t>(panel) : makePicture<std::uint8_t>(panel);
  return {std::move(image), {double(imageWidth), double(imageHeight)}, std::nullopt};
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Process CPU time (user and system) in milliseconds.
double cpuMilliseconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto ms = [](timeval t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double lastCpu = 0;   // CPU milliseconds of the last timed step

template <typename Step>
double timed(Step step) {
  double cpuBefore = cpuMilliseconds();
  auto start = std::chrono::steady_clock::now();
  step();
  double wall = millisecondsSince(start);
  lastCpu = cpuMilliseconds() - cpuBefore;
  return wall;
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

struct FrameFigures {
  double median = 0;
  double p90 = 0;
  double maximum = 0;
};

FrameFigures figuresOf(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  auto at = [&](double fraction) { return times[static_cast<std::size_t>(fraction * double(times.size() - 1) + 0.5)]; };
  return {at(0.5), at(0.9), times.back()};
}

class Harness {
 public:
  Harness(int sourceBits, int resultBits) {
    values_.sourceImage = displayImageOf(sourceBits, 0);
    std::vector<CodecPanel> panels = makeDefaultPanels();
    for (int panel = 0; panel < 4; ++panel) {
      CompressionResult result;
      result.codec = panels[static_cast<std::size_t>(panel)].codec;
      result.decodedImage = displayImageOf(resultBits, panel + 1);
      result.settingsSignature = panels[static_cast<std::size_t>(panel)].settingsSignature();
      panels[static_cast<std::size_t>(panel)].result = std::move(result);
    }
    values_.panels = std::move(panels);
    values_.isActive = true;
    view_.resize(viewWidth, viewHeight);
    frame_.fill(Qt::black);
  }

  // The first values: every normal bitmap is rendered here.
  double showFirst() {
    return timed([&] {
      view_.setValues(values_);
      view_.show();
      QCoreApplication::processEvents();
    });
  }

  // One frame: new values, then the whole view painted.
  double frame(const ComparisonViewState& state) {
    values_.viewState = state;
    return timed([&] {
      view_.setValues(values_);
      QPainter painter(&frame_);
      view_.render(&painter);
    });
  }

  double setDifference(bool isShowing, int gain) {
    values_.isShowingDifference = isShowing;
    values_.differenceGain = gain;
    return timed([&] { view_.setValues(values_); });
  }

  const FourWayCanvasModel& model() const { return view_.canvas().model(); }
  double fit() const { return std::min(double(viewWidth) / imageWidth, double(viewHeight) / imageHeight); }

 private:
  KeyboardCommandRegistry registry_;
  gui::FourWayComparisonImageView view_{registry_};
  gui::FourWayComparisonValues values_;
  QImage frame_{viewWidth, viewHeight, QImage::Format_ARGB32_Premultiplied};
};

// Frames of a scene at `zoom`, panning across the picture's overflow (or, at
// fit, moving the split), each frame with new values.
FrameFigures runScene(Harness& harness, const char* name, double zoom, int frames) {
  double maxPanX = std::max(0.0, (imageWidth * harness.fit() * zoom - viewWidth) / 2);
  double maxPanY = std::max(0.0, (imageHeight * harness.fit() * zoom - viewHeight) / 2);
  std::vector<double> times;
  for (int i = 0; i < frames; ++i) {
    double t = frames > 1 ? double(i) / (frames - 1) : 0.0;
    ComparisonViewState state;
    state.zoom = zoom;
    state.panOffset = {maxPanX * (1 - 2 * t), maxPanY * (2 * t - 1)};
    state.comparisonX = maxPanX > 0 ? 0.5 : 0.2 + 0.6 * t;
    state.comparisonY = 0.5;
    times.push_back(harness.frame(state));
  }
  FrameFigures figures = figuresOf(times);
  std::printf("  %-34s median %6.2f ms  p90 %6.2f ms  max %6.2f ms\n", name, figures.median, figures.p90,
              figures.maximum);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  int sourceBits = 8;
  int resultBits = 8;
  int frames = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    int value = std::atoi(argv[i + 1]);
    bool isBits = option == "--source-bits" || option == "--result-bits";
    if ((isBits && value != 8 && value != 16) || (!isBits && option != "--frames") || value < 1) {
      std::fprintf(stderr, "Usage: %s [--source-bits 8|16] [--result-bits 8|16] [--frames N]\n", argv[0]);
      return 2;
    }
    if (option == "--source-bits") sourceBits = value;
    if (option == "--result-bits") resultBits = value;
    if (option == "--frames") frames = value;
  }

  std::printf("Source %d-bit and four results %d-bit, %d x %d; view %d x %d points at 1 pixel per point\n",
              sourceBits, resultBits, imageWidth, imageHeight, viewWidth, viewHeight);
  Harness harness(sourceBits, resultBits);
  std::printf("Resident after decoding: %.0f MB\n", statusMegabytes("VmRSS:"));
  double first = harness.showFirst();
  std::printf("First update and show (5 normal bitmaps with mip chains): %8.1f ms  (cpu %.0f ms)\n", first, lastCpu);

  std::printf("Frames after a pan or zoom change (%d per scene; goal: median < 16 ms):\n", frames);
  const double fit = harness.fit();
  std::vector<FrameFigures> scenes;
  scenes.push_back(runScene(harness, "fit, split moving", 1.0, frames));
  scenes.push_back(runScene(harness, "zoom 2 (53 %), panning", 2.0, frames));
  scenes.push_back(runScene(harness, "100 %, panning", 1.0 / fit, frames));
  scenes.push_back(runScene(harness, "800 %, panning", 8.0 / fit, frames));

  double differenceOn = harness.setDifference(true, 2);
  std::printf("Difference on, gain 2 (4 difference bitmaps):             %8.1f ms  (cpu %.0f ms)\n", differenceOn,
              lastCpu);
  scenes.push_back(runScene(harness, "difference, zoom 2, panning", 2.0, frames));
  std::vector<double> gainChanges;
  for (int gain : {4, 8, 16, 32}) {
    gainChanges.push_back(harness.setDifference(true, gain));
    std::printf("Gain change to %2d (4 difference bitmaps):                 %8.1f ms  (cpu %.0f ms)\n", gain,
                gainChanges.back(), lastCpu);
  }
  std::sort(gainChanges.begin(), gainChanges.end());
  std::printf("Gain change, median of 4:                                  %8.1f ms\n",
              (gainChanges[1] + gainChanges[2]) / 2);
  double backToNormal = harness.setDifference(false, 32);
  std::printf("Difference off again (cached normal bitmaps):              %8.3f ms\n", backToNormal);
  scenes.push_back(runScene(harness, "normal again, 100 %, panning", 1.0 / fit, frames));

  double worstMedian = 0;
  for (const FrameFigures& scene : scenes) worstMedian = std::max(worstMedian, scene.median);
  std::printf("Worst scene median: %.2f ms (goal < 16 ms)\n", worstMedian);
  std::printf("Bitmap cache: %zu entries, %.0f MB; idle pooled bitmap memory: %.0f MB\n",
              harness.model().rasterCache().size(), harness.model().rasterCache().byteCount() / 1e6,
              idleBitmapMemory() / 1e6);
  std::printf("Resident now: %.0f MB; peak resident: %.0f MB (goal < 2500 MB)\n", statusMegabytes("VmRSS:"),
              statusMegabytes("VmHWM:"));
  return 0;
}
