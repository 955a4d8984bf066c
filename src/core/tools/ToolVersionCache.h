// ToolVersionCache: the installed version of each located executable, probed
// once with its version flags and kept until invalidate(). The encoder layer asks
// it before choosing an older tool's argument adaptations.
//
// Thread-safe. Simultaneous first requests for the same executable share one
// probe: the later callers wait for it. Probes run without holding the lock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "core/tools/ToolLookup.h"
#include "core/tools/ToolVersion.h"

namespace quorlin {

class ToolVersionCache {
 public:
  explicit ToolVersionCache(double timeoutSeconds = 5.0) : timeoutSeconds_(timeoutSeconds) {}
  ToolVersionCache(const ToolVersionCache&) = delete;
  ToolVersionCache& operator=(const ToolVersionCache&) = delete;

  // The version of the executable at `executable`, probed with the version flags
  // of `tool` (the required name: "heif-dec" also for a heif-convert stand-in)
  // and read with the older-tool rules. Nothing when the tool has no version
  // flags or printed no version; that outcome is cached too.
  std::optional<ToolVersion> version(std::string_view tool, const std::filesystem::path& executable);

  // Locates `tool` (with stand-ins) through `cache` in `searchPath`, then as
  // above. Nothing when the tool is not found.
  std::optional<ToolVersion> versionOf(std::string_view tool, ExecutableURLCache& cache,
                                       const ToolSearchPath& searchPath);

  // Forgets every version; probes in flight still deliver to their waiters.
  void invalidate();

  // Probes started since construction.
  std::uint64_t probeCount() const;

 private:
  using Key = std::pair<std::string, std::string>;  // (tool, executable path)

  double timeoutSeconds_;
  mutable std::mutex lock_;
  std::map<Key, std::shared_future<std::optional<ToolVersion>>> versions_;
  std::uint64_t probeCount_ = 0;
};

}  // namespace quorlin
