// ssimulacra2 ORIGINAL DISTORTED: prints the SSIMULACRA2 score of DISTORTED
// against ORIGINAL ("%.8f\n" on stdout, exit 0). On failure (running out of
// memory included): one line on stderr, exit 1. Options: --threads N (default:
// all hardware threads, or the QUORLIN_METRIC_THREADS environment variable),
// --map FILE (the error map), --pixel-limit N (refuse images declaring more
// pixels; default 2^28).
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "metric/Ssimulacra2.h"

namespace {

constexpr const char* kUsage =
    "SSIMULACRA 2.1 (Quorlin)\n"
    "Usage: ssimulacra2 [--threads N] [--map FILE] [--pixel-limit N] original.png distorted.png\n"
    "Prints the SSIMULACRA2 score of the distorted image against the original:\n"
    "100 for identical pixels, lower the worse (90 and above: visually lossless).\n"
    "  --threads N  use N threads (default: all; or set QUORLIN_METRIC_THREADS)\n"
    "  --map FILE   also write where the score was lost: for every pixel of the original,\n"
    "               its share of the weighted error sum behind the score, as a little-endian\n"
    "               three-channel 32-bit float PFM (R structure: the SSIM terms; G artifacts:\n"
    "               ringing and blocking; B blur: detail lost). All values summed give that\n"
    "               sum; identical images give zeros. The score printed is unchanged.\n"
    "  --pixel-limit N  refuse images declaring more than N pixels (default: 268435456)\n";

int usage() {
  std::fputs(kUsage, stderr);
  return 1;
}

std::optional<unsigned> parseThreads(std::string_view text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> parsePixelLimit(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value == 0) return std::nullopt;
  return value;
}

int run(int argc, char** argv) {
  quorlin::metric::MetricOptions options;
  if (const char* environment = std::getenv("QUORLIN_METRIC_THREADS"); environment && *environment) {
    auto threads = parseThreads(environment);
    if (!threads) {
      std::fprintf(stderr, "QUORLIN_METRIC_THREADS must be a positive whole number, not \"%s\"\n", environment);
      return 1;
    }
    options.threads = *threads;
  }

  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--threads" || argument.starts_with("--threads=")) {
      std::string_view value;
      if (argument == "--threads") {
        if (i + 1 >= argc) return usage();
        value = argv[++i];
      } else {
        value = argument.substr(std::string_view("--threads=").size());
      }
      auto threads = parseThreads(value);
      if (!threads) return usage();
      options.threads = *threads;
    } else if (argument == "--pixel-limit") {
      if (i + 1 >= argc) return usage();
      auto limit = parsePixelLimit(argv[++i]);
      if (!limit) return usage();
      options.pixelLimit = *limit;
    } else if (argument == "--map" || argument.starts_with("--map=")) {
      if (argument == "--map") {
        if (i + 1 >= argc) return usage();
        options.errorMap = argv[++i];
      } else {
        options.errorMap = std::string(argument.substr(std::string_view("--map=").size()));
      }
      if (options.errorMap.empty()) return usage();
    } else if (argument == "--help" || argument == "-h") {
      return usage();
    } else {
      files.emplace_back(argument);
    }
  }
  if (files.size() != 2) return usage();

  std::string warnings;
  const quorlin::metric::MetricResult result =
      quorlin::metric::scoreImageFiles(files[0], files[1], options, &warnings);
  if (!warnings.empty()) std::fprintf(stderr, "%s\n", warnings.c_str());
  if (!result.ok()) {
    std::fprintf(stderr, "%s\n", result.message().c_str());
    return 1;
  }
  std::printf("%.8f\n", result.score());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Nothing may end the tool with an abort: whatever escapes is one line.
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("Not enough memory to compare these images.\n", stderr);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
  }
  return 1;
}
