// Tool lookup: turns a bare executable name ("cjxl") into the absolute path of
// an executable file by searching an ordered list of directories.
//
// - builtInToolSearchDirectories(): the seven fixed directories, home's "bin" first.
// - ExecutableURLCache: remembers hits and misses so that repeated runs do not
//   touch the file system; invalidate() forgets both. Thread-safe.
// - ToolSearchPath: the user's custom directories (searched first) followed by
//   the built-in ones. Thread-safe.
//
// Nothing here is a singleton: the application (or the command line, or a test)
// creates one cache and one search path and passes them to whoever needs them.
// Lookup never fails with an error: a missing directory, an unreadable one or a
// non-executable file simply yields no candidate.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quorlin {

// The home directory: $HOME when set and not empty, else the password database
// entry of the current user, else empty.
std::string userHomeDirectory();

// The seven built-in directories, in search order: home + "/bin" (appended as
// text), "/opt/homebrew/bin", "/usr/local/bin", "/usr/bin", "/bin", "/usr/sbin",
// "/sbin". Computed once per process.
const std::vector<std::string>& builtInToolSearchDirectories();

// True when `file` is, after following symbolic links, a regular file that the
// current user may execute.
bool isExecutableFile(const std::filesystem::path& file);

// The first directory of `directories` holding an executable file called `name`,
// as that candidate's path (directory + "/" + name). Goes straight to the file
// system. `probeCount`, when given, is increased once per candidate examined.
std::optional<std::filesystem::path> searchExecutable(std::string_view name,
                                                      const std::vector<std::string>& directories,
                                                      std::atomic<std::uint64_t>* probeCount = nullptr);

class ExecutableURLCache {
 public:
  ExecutableURLCache() = default;
  ExecutableURLCache(const ExecutableURLCache&) = delete;
  ExecutableURLCache& operator=(const ExecutableURLCache&) = delete;

  // A remembered hit or miss is answered under the lock without touching the
  // file system. Otherwise the directories are searched without holding the lock
  // (two simultaneous first lookups may both search; both store the same
  // outcome) and the outcome is remembered until invalidate().
  std::optional<std::filesystem::path> locate(std::string_view name, const std::vector<std::string>& directories);

  // Forgets every hit and miss.
  void invalidate();

  // Candidates examined on the file system since construction; a cached hit or
  // miss leaves it unchanged.
  std::uint64_t fileSystemProbeCount() const { return probeCount_.load(); }

 private:
  std::mutex lock;
  std::unordered_map<std::string, std::filesystem::path> cache;
  std::unordered_set<std::string> missingTools;
  std::atomic<std::uint64_t> probeCount_{0};
};

class ToolSearchPath {
 public:
  // `cache` is invalidated whenever the custom directories change; it must
  // outlive this object. `builtInDirectories` exists for tests; the application
  // keeps the default.
  explicit ToolSearchPath(ExecutableURLCache& cache,
                          std::vector<std::string> builtInDirectories = builtInToolSearchDirectories());
  ToolSearchPath(const ToolSearchPath&) = delete;
  ToolSearchPath& operator=(const ToolSearchPath&) = delete;

  // Replaces the custom list under its mutex (strings used exactly as given: no
  // tilde expansion, trimming or de-duplication), releases the mutex, then
  // invalidates the cache. The two mutexes are never held together.
  void setCustomToolDirectories(std::vector<std::string> directories);
  std::vector<std::string> customToolDirectories() const;

  // The custom directories in stored order followed by the built-in ones.
  // Duplicates stay; the first occurrence wins because a search stops at the
  // first hit.
  std::vector<std::string> toolSearchDirectories() const;

  const std::vector<std::string>& builtInDirectories() const { return builtIn_; }

 private:
  ExecutableURLCache& cache_;
  const std::vector<std::string> builtIn_;
  mutable std::mutex customLock_;
  std::vector<std::string> custom_;
};

}  // namespace quorlin
