#include "core/tools/ToolLookup.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace quorlin {

std::string userHomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  // getpwuid_r with a buffer of the size the system recommends (or a generous default).
  long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  passwd entry{};
  passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
      result->pw_dir != nullptr) {
    return result->pw_dir;
  }
  return {};
}

const std::vector<std::string>& builtInToolSearchDirectories() {
  static const std::vector<std::string> directories = {
      userHomeDirectory() + "/bin", "/opt/homebrew/bin", "/usr/local/bin", "/usr/bin", "/bin", "/usr/sbin", "/sbin",
  };
  return directories;
}

bool isExecutableFile(const std::filesystem::path& file) {
  struct stat status {};
  if (::stat(file.c_str(), &status) != 0) return false;
  return S_ISREG(status.st_mode) && ::access(file.c_str(), X_OK) == 0;
}

std::optional<std::filesystem::path> searchExecutable(std::string_view name,
                                                      const std::vector<std::string>& directories,
                                                      std::atomic<std::uint64_t>* probeCount) {
  for (const auto& directory : directories) {
    // Relative directories resolve against the current directory, as a file URL would.
    std::filesystem::path candidate = std::filesystem::path(directory) / name;
    if (candidate.is_relative()) {
      std::error_code error;
      auto absolute = std::filesystem::absolute(candidate, error);
      if (!error) candidate = std::move(absolute);
    }
    if (probeCount != nullptr) probeCount->fetch_add(1, std::memory_order_relaxed);
    if (isExecutableFile(candidate)) return candidate;
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> ExecutableURLCache::locate(std::string_view name,
                                                                const std::vector<std::string>& directories) {
  std::string key(name);
  {
    std::lock_guard guard(lock);
    if (auto hit = cache.find(key); hit != cache.end()) return hit->second;
    if (missingTools.contains(key)) return std::nullopt;
  }
  auto found = searchExecutable(name, directories, &probeCount_);
  std::lock_guard guard(lock);
  if (found) {
    missingTools.erase(key);
    cache.insert_or_assign(std::move(key), *found);
  } else {
    cache.erase(key);
    missingTools.insert(std::move(key));
  }
  return found;
}

void ExecutableURLCache::invalidate() {
  std::lock_guard guard(lock);
  cache = {};
  missingTools = {};
}

ToolSearchPath::ToolSearchPath(ExecutableURLCache& cache, std::vector<std::string> builtInDirectories)
    : cache_(cache), builtIn_(std::move(builtInDirectories)) {}

void ToolSearchPath::setCustomToolDirectories(std::vector<std::string> directories) {
  {
    std::lock_guard guard(customLock_);
    custom_ = std::move(directories);
  }
  cache_.invalidate();
}

std::vector<std::string> ToolSearchPath::customToolDirectories() const {
  std::lock_guard guard(customLock_);
  return custom_;
}

std::vector<std::string> ToolSearchPath::toolSearchDirectories() const {
  std::vector<std::string> directories = customToolDirectories();
  directories.insert(directories.end(), builtIn_.begin(), builtIn_.end());
  return directories;
}

}  // namespace quorlin
