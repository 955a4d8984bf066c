// RateDistortionSweepBench: a rate-distortion sweep of the sample photograph
// with the four panels Debian 12 has tools for (JPEG XL, AVIF, WebP, JPEG
// (libjpeg-turbo)) at their default nine-point ladders, on one prepared
// source. It prints the sweep's wall time, the child processes' CPU time
// (user + system, from the kernel's accounting of reaped children), the
// engine's own share (wall time with no child running, from the command
// console), and the BD-rate and BD-score of each panel against libjpeg-turbo.
//
//   RateDistortionSweepBench [--source FILE] [--serial] [--points N] [--tool-dir DIR]...
//
// The goal in parallel mode: wall time within 1.15 x (children's CPU / cores)
// and the engine's own share under 5%. --points N sweeps only the first N
// values of each ladder (a quick look).
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/common/MainThreadDispatcher.h"
#include "core/engine/CompressionRunner.h"
#include "core/engine/VipsRuntime.h"
#include "core/ratedistortion/RateDistortionReport.h"
#include "core/tools/CommandConsole.h"
#include "core/tools/TemporaryFiles.h"

namespace {

namespace fs = std::filesystem;
using namespace quorlin;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double childrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

fs::path executableDirectory() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::current_path() : self.parent_path();
}

fs::path samplePhotograph() {
  for (fs::path candidate : {executableDirectory() / ".." / ".." / "samples" / "colorful-cups.jpg",
                             fs::current_path() / "samples" / "colorful-cups.jpg"}) {
    if (fs::exists(candidate)) return candidate.lexically_normal();
  }
  return {};
}

}  // namespace

int main(int argc, char* argv[]) {
  fs::path source = samplePhotograph();
  bool isSerial = false;
  std::optional<std::size_t> points;
  std::vector<std::string> toolDirectories = {(executableDirectory() / ".." / "src" / "metric").lexically_normal()};
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--source" && i + 1 < argc) {
      source = argv[++i];
    } else if (argument == "--serial") {
      isSerial = true;
    } else if (argument == "--points" && i + 1 < argc) {
      points = std::stoul(argv[++i]);
    } else if (argument == "--tool-dir" && i + 1 < argc) {
      toolDirectories.insert(toolDirectories.begin(), argv[++i]);
    } else {
      std::fprintf(stderr,
                   "usage: RateDistortionSweepBench [--source FILE] [--serial] [--points N] [--tool-dir DIR]...\n");
      return 2;
    }
  }
  if (source.empty()) {
    std::fprintf(stderr, "RateDistortionSweepBench: the sample photograph was not found; pass --source FILE\n");
    return 2;
  }
  ensureVipsInitialized();
  const fs::path root = perUserTemporaryDirectory() / ("quorlin-sweep-bench-" + std::to_string(::getpid()));
  QueueDispatcher dispatcher;
  CommandConsoleStore console;
  ExecutableURLCache executables;
  ToolSearchPath searchPath{executables};
  searchPath.setCustomToolDirectories(toolDirectories);
  ToolRunner runner{executables, searchPath, dispatcher, console, ChildStandardInput::nullDevice};
  ToolVersionCache versions;
  CompressionRunner engine{EngineContext{runner, executables, searchPath, versions, root}};

  std::vector<SweepPlan> plans;
  const CompressionCodec codecs[] = {CompressionCodec::jpegXL, CompressionCodec::avif, CompressionCodec::webP,
                                     CompressionCodec::jpegTurbo};
  std::vector<CodecPanel> defaults = makeDefaultPanels();
  for (std::size_t i = 0; i < 4; ++i) {
    SweepPlan plan;
    plan.panel = i < 3 ? defaults[i] : CodecPanel{};
    plan.panel.codec = codecs[i];
    plan.panelNumber = static_cast<int>(i + 1);
    plan.ladder = ladderOf(plan);
    if (points && *points < plan.ladder.size()) plan.ladder.resize(*points);
    plans.push_back(std::move(plan));
  }

  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const double cpuBefore = childrenCpuSeconds();
  const auto start = Clock::now();
  PreparedCompressionSource prepared = engine.prepareSource(source);
  const double prepareSeconds = secondsSince(start);
  SweepSettings settings;
  settings.parallelPoints = isSerial ? 1 : 0;
  std::vector<PanelSweep> sweeps = sweepPanels(plans, prepared, engine, settings, {}, {});
  prepared.removeTemporaryDirectory();
  const double wall = secondsSince(start);
  const double childCpu = childrenCpuSeconds() - cpuBefore;

  dispatcher.runPending();
  std::vector<std::pair<ConsoleClock::time_point, ConsoleClock::time_point>> intervals;
  std::size_t children = 0;
  for (const auto& entry : console.entries()) {
    if (!entry.finishedAt) continue;
    intervals.emplace_back(entry.startedAt, *entry.finishedAt);
    ++children;
  }
  std::sort(intervals.begin(), intervals.end());
  double anyChild = 0;
  for (std::size_t i = 0; i < intervals.size();) {
    auto [begin, end] = intervals[i];
    for (++i; i < intervals.size() && intervals[i].first <= end; ++i) end = std::max(end, intervals[i].second);
    anyChild += std::chrono::duration<double>(end - begin).count();
  }
  const double own = wall - anyChild;

  std::printf("Source: %s\n", source.c_str());
  std::printf("%s sweep, %u cores: wall %.2f s (one source preparation, %.2f s); %zu child processes\n",
              isSerial ? "Serial" : "Parallel", cores, wall, prepareSeconds, children);
  std::printf("  children's CPU time %.2f s; children's CPU / cores %.2f s; wall / that %.2f (goal <= 1.15)\n",
              childCpu, childCpu / cores, wall / (childCpu / cores));
  std::printf("  engine's own share (wall time with no child running): %.2f s = %.1f%% (goal < 5%%)\n", own,
              100.0 * own / wall);
  for (const auto& sweep : sweeps) {
    std::printf("  %s: %zu points, %zu kept, %zu failed\n", std::string(rawValue(sweep.panel.codec)).c_str(),
                sweep.samples.size(), sweep.curve().keptCount(), sweep.failures.size());
    for (const auto& failure : sweep.failures) std::printf("    failed: %s\n", failure.message.c_str());
  }
  std::printf("Against JPEG (libjpeg-turbo):\n");
  for (const PanelDelta& delta : deltasAgainst(sweeps, 3)) {
    std::printf("  %-8s BD-rate %s, BD-score %s, overlap %s\n",
                std::string(rawValue(codecs[delta.panelNumber - 1])).c_str(), deltaRateText(delta.rate).c_str(),
                deltaScoreText(delta.score).c_str(), overlapText(delta.rate).c_str());
  }
  for (const auto& sweep : sweeps) sweep.removeFiles();
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return 0;
}
