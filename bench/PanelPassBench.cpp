// PanelPassBench: one generate pass over a 12-megapixel photograph with the
// four panels Debian 12 has tools for (JPEG XL, AVIF, WebP, JPEG
// (libjpeg-turbo)), serial and then parallel. It prints the pass's wall time
// against the sum of the child processes' own wall times (taken from the
// command console), so the engine's own share of a pass can be read off, the
// peak resident memory of each runPanel call, and every tool's own wall time
// with the threads the core budget gave it (the flag is on its command line).
//
//   PanelPassBench [--source FILE] [--megapixels N] [--threads N] [--tool-dir DIR]...
//
// --threads sets the budget's total (default: every hardware thread); with
// --threads 1 the per-tool lines give each tool's one-thread time, so running
// it both ways measures how each tool scales.
// Without --source the sample photograph is scaled up to N megapixels
// (default 12). The project's ssimulacra2 is looked for in the build tree's
// src/metric first. AVIF at its default speed takes a while on 12 MP.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <vips/vips8>

#include "core/common/CompressionError.h"
#include "core/common/MainThreadDispatcher.h"
#include "core/engine/CompressionRunner.h"
#include "core/engine/VipsRuntime.h"
#include "core/tools/CommandConsole.h"
#include "core/tools/TemporaryFiles.h"

namespace {

namespace fs = std::filesystem;
using namespace quorlin;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

fs::path executableDirectory() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::current_path() : self.parent_path();
}

// Peak resident memory since the last reset, in bytes (Linux: VmHWM).
std::uint64_t peakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmHWM:")) return std::stoull(line.substr(6)) * 1024;
  }
  return 0;
}
void resetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }
std::uint64_t currentResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmRSS:")) return std::stoull(line.substr(6)) * 1024;
  }
  return 0;
}

std::vector<CodecPanel> benchPanels() {
  std::vector<CodecPanel> panels = makeDefaultPanels();
  panels[3] = CodecPanel{};
  panels[3].codec = CompressionCodec::jpegTurbo;
  return panels;
}

struct PanelFigures {
  std::string codec;
  double runSeconds = 0;
  double encodeSeconds = 0;
  double decodeSeconds = 0;
  std::int64_t encodedSize = 0;
  double score = 0;
  std::uint64_t peakBytes = 0;  // above the resident size before the run
  std::uint64_t peakTotal = 0;
  std::string error;
};

// One tool run as the console recorded it.
struct ToolFigures {
  std::string commandLine;  // paths cut off
  double seconds = 0;
};

struct PassFigures {
  double wallSeconds = 0;
  double prepareSeconds = 0;
  double childSeconds = 0;     // sum of the child processes' own wall times
  double anyChildSeconds = 0;  // time during which at least one child ran
  std::size_t childCount = 0;
  std::vector<PanelFigures> panels;
  std::vector<ToolFigures> tools;  // in the order they started
};

// The command line up to its first absolute path: the tool and its flags.
std::string withoutPaths(const std::string& commandLine) {
  std::size_t path = commandLine.find(" /");
  if (path == std::string::npos) path = commandLine.find(" '/");
  return commandLine.substr(0, path);
}

class Bench {
 public:
  Bench(const std::vector<std::string>& toolDirectories, fs::path temporaryRoot, std::optional<int> threads)
      : temporaryRoot_(std::move(temporaryRoot)) {
    searchPath_.setCustomToolDirectories(toolDirectories);
    budget_.setThreadsPerPass(threads);
  }

  PassFigures pass(const fs::path& source, bool isParallel) {
    console_.clear();
    PassFigures figures;
    const auto start = Clock::now();
    PreparedCompressionSource prepared = engine_.prepareSource(source);
    figures.prepareSeconds = secondsSince(start);
    std::vector<CodecPanel> panels = benchPanels();
    figures.panels.resize(panels.size());
    auto runOne = [&](std::size_t i, bool measureMemory) {
      PanelFigures& panel = figures.panels[i];
      panel.codec = std::string(rawValue(panels[i].codec));
      if (measureMemory) resetPeakResident();
      const auto before = currentResidentBytes();
      const auto runStart = Clock::now();
      try {
        CompressionResult result = engine_.runPanel(panels[i], prepared, {});
        panel.runSeconds = secondsSince(runStart);
        if (measureMemory) {
          panel.peakTotal = peakResidentBytes();
          panel.peakBytes = panel.peakTotal - std::min(before, panel.peakTotal);
        }
        panel.encodeSeconds = result.encodeDuration;
        panel.decodeSeconds = result.decodeDuration;
        panel.encodedSize = result.encodedSize;
        panel.score = result.ssimulacra2Score;
        result.removeWorkDirectory();
      } catch (const std::exception& error) {
        panel.runSeconds = secondsSince(runStart);
        panel.error = describeError(error);
      }
    };
    if (isParallel) {
      std::vector<std::jthread> workers;
      for (std::size_t i = 0; i < panels.size(); ++i) workers.emplace_back([&runOne, i] { runOne(i, false); });
    } else {
      for (std::size_t i = 0; i < panels.size(); ++i) runOne(i, true);
    }
    prepared.removeTemporaryDirectory();
    figures.wallSeconds = secondsSince(start);
    dispatcher_.runPending();
    std::vector<std::pair<ConsoleClock::time_point, ConsoleClock::time_point>> intervals;
    for (const auto& entry : console_.entries()) {
      if (!entry.finishedAt) continue;
      const double seconds = std::chrono::duration<double>(*entry.finishedAt - entry.startedAt).count();
      figures.tools.insert(figures.tools.begin(), ToolFigures{withoutPaths(entry.commandLine), seconds});
      figures.childSeconds += seconds;
      intervals.emplace_back(entry.startedAt, *entry.finishedAt);
      ++figures.childCount;
    }
    // The union of the children's intervals: what is left of the wall time is the engine's alone.
    std::sort(intervals.begin(), intervals.end());
    for (std::size_t i = 0; i < intervals.size();) {
      auto [begin, end] = intervals[i];
      for (++i; i < intervals.size() && intervals[i].first <= end; ++i) end = std::max(end, intervals[i].second);
      figures.anyChildSeconds += std::chrono::duration<double>(end - begin).count();
    }
    return figures;
  }

 private:
  fs::path temporaryRoot_;
  QueueDispatcher dispatcher_;
  CommandConsoleStore console_;
  ExecutableURLCache executables_;
  ToolSearchPath searchPath_{executables_};
  ToolRunner runner_{executables_, searchPath_, dispatcher_, console_, ChildStandardInput::nullDevice};
  ToolVersionCache versions_;
  CoreBudget budget_;
  CompressionRunner engine_{EngineContext{runner_, executables_, searchPath_, versions_, temporaryRoot_, &budget_}};
};

void printPass(const char* title, const PassFigures& figures) {
  double own = figures.wallSeconds - figures.anyChildSeconds;
  std::printf("%s pass: wall %.2f s; %zu child processes, their own wall times summed %.2f s\n", title,
              figures.wallSeconds, figures.childCount, figures.childSeconds);
  std::printf("  engine's own share (wall time with no child running): %.2f s = %.1f%% of the pass\n", own,
              100.0 * own / figures.wallSeconds);
  std::printf("  prepareSource: %.2f s\n", figures.prepareSeconds);
  for (const auto& panel : figures.panels) {
    if (!panel.error.empty()) {
      std::printf("  %-22s failed: %s\n", panel.codec.c_str(), panel.error.c_str());
      continue;
    }
    std::printf("  %-22s runPanel %.2f s (encode %.2f s, decode %.2f s), %lld bytes, SSIMULACRA2 %.2f", panel.codec.c_str(),
                panel.runSeconds, panel.encodeSeconds, panel.decodeSeconds, static_cast<long long>(panel.encodedSize),
                panel.score);
    if (panel.peakBytes) {
      std::printf(", peak RSS %.0f MB (+%.0f MB over the RSS before the run)", static_cast<double>(panel.peakTotal) / 1e6,
                  static_cast<double>(panel.peakBytes) / 1e6);
    }
    std::printf("\n");
  }
  for (const auto& tool : figures.tools) std::printf("    %6.2f s  %s\n", tool.seconds, tool.commandLine.c_str());
}

// The sample photograph (build directory inside the checkout, or run from the
// checkout), else a synthetic one: smooth colour fields with fine noise.
vips::VImage samplePhotograph() {
  for (fs::path candidate : {executableDirectory() / ".." / ".." / "samples" / "colorful-cups.jpg",
                             fs::current_path() / "samples" / "colorful-cups.jpg"}) {
    if (fs::exists(candidate)) return vips::VImage::new_from_file(candidate.c_str());
  }
  using vips::VImage;
  VImage xy = VImage::xyz(2560, 1600);
  VImage x = xy.extract_band(0), y = xy.extract_band(1);
  VImage red = (x * 0.004).sin() * 90 + 128;
  VImage green = ((x + y) * 0.003).cos() * 80 + 120;
  VImage blue = (y * 0.005).sin() * 70 + 110;
  VImage noise = VImage::gaussnoise(2560, 1600, VImage::option()->set("sigma", 6.0));
  return (red.bandjoin({green, blue}) + noise).cast(VIPS_FORMAT_UCHAR);
}

fs::path makePhotograph(const fs::path& directory, double megapixels) {
  vips::VImage photo = samplePhotograph();
  double scale = std::sqrt(megapixels * 1e6 / (static_cast<double>(photo.width()) * photo.height()));
  fs::path file = directory / "photo.png";
  photo.resize(scale).pngsave(file.c_str(), vips::VImage::option()->set("compression", 1));
  return file;
}

}  // namespace

int main(int argc, char* argv[]) {
  std::optional<fs::path> source;
  double megapixels = 12;
  std::optional<int> threads;
  std::vector<std::string> toolDirectories = {(executableDirectory() / ".." / "src" / "metric").lexically_normal()};
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--source" && i + 1 < argc) {
      source = argv[++i];
    } else if (argument == "--megapixels" && i + 1 < argc) {
      megapixels = std::stod(argv[++i]);
    } else if (argument == "--threads" && i + 1 < argc) {
      threads = std::stoi(argv[++i]);
    } else if (argument == "--tool-dir" && i + 1 < argc) {
      toolDirectories.insert(toolDirectories.begin(), argv[++i]);
    } else {
      std::fprintf(stderr, "usage: PanelPassBench [--source FILE] [--megapixels N] [--threads N] [--tool-dir DIR]...\n");
      return 2;
    }
  }
  ensureVipsInitialized();
  fs::path scratch = perUserTemporaryDirectory() / ("quorlin-panel-pass-bench-" + std::to_string(::getpid()));
  fs::create_directories(scratch);
  if (!source) source = makePhotograph(scratch, megapixels);
  vips::VImage header = vips::VImage::new_from_file(source->c_str());
  std::printf("Source: %s, %d x %d (%.1f MP), %.1f MB\n", source->c_str(), header.width(), header.height(),
              header.width() * static_cast<double>(header.height()) / 1e6,
              static_cast<double>(fs::file_size(*source)) / 1e6);
  std::printf("Panels: JPEG XL (d 1, e 7), AVIF (q 79, e 6), WebP (q 85, e 5), JPEG (libjpeg-turbo) (q 85)\n");
  std::printf("Threads per pass: %s\n\n", threads ? std::to_string(*threads).c_str() : "Auto");
  {
    Bench bench(toolDirectories, scratch / "root", threads);
    printPass("Serial", bench.pass(*source, false));
    std::printf("\n");
    printPass("Parallel", bench.pass(*source, true));
  }
  std::error_code ignored;
  fs::remove_all(scratch, ignored);
  return 0;
}
