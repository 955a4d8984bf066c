// The options every command that runs the tools takes, as its engine needs them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorlin::cli {

struct CommandEngineSettings {
  std::vector<std::string> toolDirectories;
  std::optional<double> toolTimeoutSeconds;  // each tool's time limit; the runner's default when empty
  std::optional<std::uint64_t> pixelLimit;   // the decode limit; the engine's default when empty
  std::optional<int> threads;                // the tools' threads; nothing: every hardware thread
  bool isVerbose = false;                    // print each command as it finishes
  bool keepsErrorMaps = false;               // score with the error map (compare --maps)
};

}  // namespace quorlin::cli
