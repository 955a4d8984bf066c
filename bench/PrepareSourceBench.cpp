// PrepareSourceBench: wall time and peak memory of preparing a 24-megapixel
// source, against the floor of what any preparation must do (libvips decoding
// the source and writing its pixels as 16-bit RGBA raw bytes to disk).
//
// Each measurement runs in a child process of its own (this program started
// again with "--child"), so that its peak resident memory is its own; the
// parent reads it from wait4 and prints the median time of the runs.
//
//   PrepareSourceBench [--runs N] [--levels]   (--levels also times zlib levels 0, 1 and 6)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <vips/vips8>

#include "core/common/Uuid.h"
#include "core/engine/DisplayImageReader.h"
#include "core/engine/PreparedPNGWriter.h"
#include "core/engine/PreparedSource.h"
#include "core/engine/VipsRuntime.h"
#include "core/tools/TemporaryFiles.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using vips::VImage;
using Clock = std::chrono::steady_clock;

constexpr int width = 6000, height = 4000;  // 24 megapixels
constexpr double rgba16Bytes = double(width) * height * 8;

// A photograph-like test picture: smooth gradients, detail and noise.
VImage makePicture(bool sixteenBit) {
  VImage xyz = VImage::xyz(width, height);
  VImage x = xyz.extract_band(0).cast(VIPS_FORMAT_FLOAT);
  VImage y = xyz.extract_band(1).cast(VIPS_FORMAT_FLOAT);
  VImage red = x * (255.0 / width);
  VImage green = y * (255.0 / height);
  VImage blue = ((x * 0.01).sin() + (y * 0.013).cos()) * 60.0 + 128.0;
  VImage noise = VImage::gaussnoise(width, height, VImage::option()->set("sigma", 6.0));
  VImage picture = VImage::bandjoin({red + noise, green + noise, blue + noise});
  if (sixteenBit) {
    return (picture * 257.0).cast(VIPS_FORMAT_USHORT).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
  }
  return picture.cast(VIPS_FORMAT_UCHAR).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

// ---- Child: one measured operation ------------------------------------------

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

int runChild(const std::string& mode, const fs::path& input, const fs::path& scratch) {
  quorlin::ensureVipsInitialized();
  auto start = Clock::now();
  if (mode == "floor") {
    VImage image = VImage::new_from_file(input.c_str(), VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
    if (image.format() == VIPS_FORMAT_UCHAR) image = (image.cast(VIPS_FORMAT_USHORT) * 257).cast(VIPS_FORMAT_USHORT);
    image = image.bandjoin_const({65535}).cast(VIPS_FORMAT_USHORT);
    image.rawsave((scratch / "floor.raw").c_str());
  } else if (mode == "prepare") {
    auto prepared = quorlin::prepareSource(input, scratch);
  } else if (mode == "load-then-prepare") {
    // The workspace's course: the display image at load, then one preparation from it.
    auto display = quorlin::readDisplayImage(input, nullptr, std::nullopt);
    if (!display) return 3;
    std::printf("decode %.3f\n", secondsSince(start));
    auto afterDecode = Clock::now();
    auto prepared = quorlin::prepareSource(input, scratch, display->image);
    std::printf("prepare-from-decoded %.3f\n", secondsSince(afterDecode));
  } else if (mode.starts_with("level")) {
    int level = std::atoi(mode.c_str() + 5);
    auto display = quorlin::readDisplayImage(input, nullptr, std::nullopt);
    if (!display) return 3;
    auto afterDecode = Clock::now();
    fs::path output = scratch / ("level" + std::to_string(level) + ".png");
    quorlin::writePreparedPNG(*display->image, output, input, level);
    std::printf("write %.3f size %ju\n", secondsSince(afterDecode), static_cast<std::uintmax_t>(fs::file_size(output)));
    auto readStart = Clock::now();
    auto reread = quorlin::readDisplayImage(output, nullptr, std::nullopt);
    std::printf("read %.3f\n", secondsSince(readStart));
  } else if (mode == "generate") {
    makePicture(false).jpegsave((scratch / "photo.jpg").c_str(), VImage::option()->set("Q", 90));
    makePicture(true).pngsave((scratch / "photo16.png").c_str());
  } else if (mode != "idle") {
    return 2;
  }
  std::printf("total %.3f\n", secondsSince(start));
  return 0;
}

// ---- Parent -------------------------------------------------------------------

struct Measurement {
  std::vector<double> totals;
  std::vector<double> cpuSeconds;
  long peakKilobytes = 0;
  std::string lastOutput;
};

Measurement measure(const char* self, const std::string& mode, const fs::path& input, const fs::path& scratch,
                    int runs) {
  Measurement result;
  for (int run = 0; run < runs; ++run) {
    fs::path runDirectory =
        scratch / (mode == "generate" ? std::string("last-generate") : "run-" + quorlin::Uuid::random().uuidString());
    fs::create_directories(runDirectory);
    fs::path log = runDirectory / "child.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> arguments = {self, "--child", mode, input.string(), runDirectory.string()};
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, self, &actions, nullptr, argv.data(), environ) != 0) {
      std::perror("posix_spawn");
      std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "child %s failed (status %d)\n", mode.c_str(), status);
      std::exit(1);
    }
    result.peakKilobytes = std::max(result.peakKilobytes, usage.ru_maxrss);
    result.cpuSeconds.push_back(usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                                usage.ru_stime.tv_usec / 1e6);
    FILE* file = std::fopen(log.c_str(), "r");
    char line[256];
    result.lastOutput.clear();
    while (file && std::fgets(line, sizeof line, file)) {
      result.lastOutput += line;
      double seconds = 0;
      if (std::sscanf(line, "total %lf", &seconds) == 1) result.totals.push_back(seconds);
    }
    if (file) std::fclose(file);
    if (mode != "generate") fs::remove_all(runDirectory);
  }
  std::sort(result.totals.begin(), result.totals.end());
  std::sort(result.cpuSeconds.begin(), result.cpuSeconds.end());
  return result;
}

double median(const std::vector<double>& sorted) { return sorted.empty() ? 0 : sorted[sorted.size() / 2]; }

void report(const char* name, const Measurement& m, const Measurement& floor) {
  double ratioTime = median(m.totals) / median(floor.totals);
  double peakMB = m.peakKilobytes / 1024.0;
  std::printf("  %-18s wall %6.3f s (%.2fx floor)  cpu %6.3f s (%.2fx)  peak %6.1f MB (%.2fx the RGBA16 image)\n",
              name, median(m.totals), ratioTime, median(m.cpuSeconds), median(m.cpuSeconds) / median(floor.cpuSeconds),
              peakMB, m.peakKilobytes * 1024.0 / rgba16Bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--child") == 0) return runChild(argv[2], argv[3], argv[4]);
  int runs = 3;
  bool levels = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    if (std::strcmp(argv[i], "--levels") == 0) levels = true;
  }
  const char* self = "/proc/self/exe";
  char resolved[4096];
  ssize_t length = readlink(self, resolved, sizeof resolved - 1);
  if (length <= 0) return 1;
  resolved[length] = '\0';

  // The parent stays small and never starts libvips: a child's peak memory
  // counts the parent's at the moment it is started.
  fs::path scratch = quorlin::perUserTemporaryDirectory() / ("quorlin-bench-" + quorlin::Uuid::random().uuidString());
  fs::create_directories(scratch);
  std::printf("Generating %dx%d inputs in %s ...\n", width, height, scratch.c_str());
  fs::path jpeg = scratch / "photo.jpg";
  fs::path png16 = scratch / "photo16.png";
  measure(resolved, "generate", jpeg, scratch, 1);
  fs::rename(fs::path(scratch / "last-generate" / "photo.jpg"), jpeg);
  fs::rename(fs::path(scratch / "last-generate" / "photo16.png"), png16);
  std::printf("  photo.jpg %.1f MB, photo16.png %.1f MB; the 16-bit RGBA image is %.1f MB\n",
              fs::file_size(jpeg) / 1e6, fs::file_size(png16) / 1e6, rgba16Bytes / 1e6);

  Measurement idle = measure(resolved, "idle", jpeg, scratch, 1);
  std::printf("Idle process with libvips started: peak %.1f MB\n\n", idle.peakKilobytes / 1024.0);

  for (const fs::path& input : {jpeg, png16}) {
    std::printf("%s (median of %d runs)\n", input.filename().c_str(), runs);
    Measurement floor = measure(resolved, "floor", input, scratch, runs);
    Measurement prepare = measure(resolved, "prepare", input, scratch, runs);
    Measurement loadThenPrepare = measure(resolved, "load-then-prepare", input, scratch, runs);
    report("floor", floor, floor);
    report("prepareSource", prepare, floor);
    report("display + prepare", loadThenPrepare, floor);
    std::printf("    (last run: %s)\n", loadThenPrepare.lastOutput.c_str());
    if (levels) {
      for (int level : {0, 1, 6}) {
        Measurement m = measure(resolved, "level" + std::to_string(level), input, scratch, 1);
        std::printf("  zlib level %d: %s", level, m.lastOutput.c_str());
      }
    }
    std::printf("\n");
  }
  fs::remove_all(scratch);
  return 0;
}
