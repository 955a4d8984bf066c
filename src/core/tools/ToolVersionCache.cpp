#include "core/tools/ToolVersionCache.h"

#include "core/tools/ProcessRunner.h"
#include "core/tools/ToolRequirements.h"
#include "core/tools/ToolVersionRules.h"

namespace quorlin {

std::optional<ToolVersion> ToolVersionCache::version(std::string_view tool, const std::filesystem::path& executable) {
  Key key{std::string(tool), executable.string()};
  std::promise<std::optional<ToolVersion>> promise;
  std::shared_future<std::optional<ToolVersion>> future;
  bool mustProbe = false;
  {
    std::lock_guard guard(lock_);
    if (auto known = versions_.find(key); known != versions_.end()) {
      future = known->second;
    } else {
      future = promise.get_future().share();
      versions_.emplace(key, future);
      mustProbe = true;
      ++probeCount_;
    }
  }
  if (mustProbe) {
    std::optional<ToolVersion> found;
    try {
      if (auto arguments = versionArguments(tool)) {
        if (auto text = readToolVersion(tool, probeOutput(executable, *arguments, timeoutSeconds_))) {
          found = ToolVersion::fromText(*text);
        }
      }
    } catch (...) {
      // Probing never fails: no version.
    }
    promise.set_value(found);
  }
  return future.get();
}

std::optional<ToolVersion> ToolVersionCache::versionOf(std::string_view tool, ExecutableURLCache& cache,
                                                       const ToolSearchPath& searchPath) {
  auto located = locateTool(cache, tool, searchPath.toolSearchDirectories());
  if (!located) return std::nullopt;
  return version(tool, located->path);
}

void ToolVersionCache::invalidate() {
  std::lock_guard guard(lock_);
  versions_.clear();
}

std::uint64_t ToolVersionCache::probeCount() const {
  std::lock_guard guard(lock_);
  return probeCount_;
}

}  // namespace quorlin
