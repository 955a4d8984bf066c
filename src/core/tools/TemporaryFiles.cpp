#include "core/tools/TemporaryFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#include "core/common/Uuid.h"

namespace quorlin {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

namespace {

constexpr mode_t privateMode = 0700;
constexpr const char* rootName = "Brimwell";

std::string numericUserSuffix() { return std::string(rootName) + "-" + std::to_string(::geteuid()); }

// A root candidate is usable when it does not exist yet or is a real directory
// (not a symbolic link) owned by us; its mode is then made 0700.
bool isUsableRoot(const fs::path& candidate) {
  struct stat status {};
  if (::lstat(candidate.c_str(), &status) != 0) return errno == ENOENT;
  if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()) return false;
  if ((status.st_mode & 07777) != privateMode && ::chmod(candidate.c_str(), privateMode) != 0) return false;
  return true;
}

[[noreturn]] void throwSystemError(const char* what, const fs::path& path, int error) {
  throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

// Makes sure `root` exists as a private directory of ours, without following
// a symbolic link someone may have planted under a shared temporary directory.
void ensurePrivateRoot(const fs::path& root) {
  if (root.has_parent_path()) fs::create_directories(root.parent_path());
  if (::mkdir(root.c_str(), privateMode) != 0 && errno != EEXIST) {
    throwSystemError("cannot create temporary root", root, errno);
  }
  struct stat status {};
  if (::lstat(root.c_str(), &status) != 0) throwSystemError("cannot inspect temporary root", root, errno);
  if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()) {
    throwSystemError("temporary root is not a private directory", root, EACCES);
  }
}

Clock::time_point timePoint(std::int64_t seconds, std::uint32_t nanoseconds) {
  return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(seconds) +
                                                                       std::chrono::nanoseconds(nanoseconds)));
}

struct EntryFacts {
  bool isDirectory = false;
  std::optional<Clock::time_point> modificationDate;
  std::optional<Clock::time_point> creationDate;
};

std::optional<EntryFacts> readEntryFacts(const fs::path& path) {
  EntryFacts facts;
#ifdef __linux__
  struct statx status {};
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_MTIME | STATX_BTIME, &status) != 0) {
    return std::nullopt;
  }
  if (!(status.stx_mask & STATX_TYPE)) return std::nullopt;
  facts.isDirectory = S_ISDIR(status.stx_mode);
  if (status.stx_mask & STATX_MTIME) {
    facts.modificationDate = timePoint(status.stx_mtime.tv_sec, status.stx_mtime.tv_nsec);
  }
  if (status.stx_mask & STATX_BTIME) {
    facts.creationDate = timePoint(status.stx_btime.tv_sec, status.stx_btime.tv_nsec);
  }
#else
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return std::nullopt;
  facts.isDirectory = S_ISDIR(status.st_mode);
#ifdef __APPLE__
  facts.modificationDate = timePoint(status.st_mtimespec.tv_sec, static_cast<std::uint32_t>(status.st_mtimespec.tv_nsec));
  facts.creationDate =
      timePoint(status.st_birthtimespec.tv_sec, static_cast<std::uint32_t>(status.st_birthtimespec.tv_nsec));
#else
  facts.modificationDate = timePoint(status.st_mtim.tv_sec, static_cast<std::uint32_t>(status.st_mtim.tv_nsec));
#endif
#endif
  return facts;
}

}  // namespace

fs::path perUserTemporaryDirectory() {
  const char* value = std::getenv("TMPDIR");
  if (value && *value) return fs::path(value);
  return fs::path("/tmp");
}

fs::path resolveTemporaryRoot(const fs::path& temporaryDirectory) {
  for (const fs::path& candidate : {temporaryDirectory / rootName, temporaryDirectory / numericUserSuffix()}) {
    if (isUsableRoot(candidate)) return candidate;
  }
  // Both names are taken by someone else: make a fresh private one.
  std::string pattern = (temporaryDirectory / (numericUserSuffix() + "-XXXXXX")).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data())) return fs::path(buffer.data());
  return temporaryDirectory / numericUserSuffix();
}

const fs::path& defaultTemporaryRoot() {
  static const fs::path root = resolveTemporaryRoot(perUserTemporaryDirectory());
  return root;
}

fs::path createWorkDirectory(const fs::path& root) {
  ensurePrivateRoot(root);
  fs::path directory = root / Uuid::random().uuidString();
  if (::mkdir(directory.c_str(), privateMode) != 0) {
    throwSystemError("cannot create work directory", directory, errno);
  }
  // mkdir's mode passes through the umask; state it exactly.
  ::chmod(directory.c_str(), privateMode);
  return directory;
}

std::optional<Clock::time_point> purgeDate(std::optional<Clock::time_point> modificationDate,
                                           std::optional<Clock::time_point> creationDate) {
  if (modificationDate) return modificationDate;
  return creationDate;
}

TemporaryDirectoryManager::TemporaryDirectoryManager(fs::path rootDirectory)
    : rootDirectory_(std::move(rootDirectory)) {}

fs::path TemporaryDirectoryManager::createWorkDirectory() const { return quorlin::createWorkDirectory(rootDirectory_); }

void TemporaryDirectoryManager::purgeStaleDirectories(double ageSeconds) {
  std::error_code error;
  fs::directory_iterator entries(rootDirectory_, error);
  if (error) return;
  const Clock::time_point cutoff =
      Clock::now() - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(ageSeconds));
  for (; entries != fs::directory_iterator(); entries.increment(error)) {
    if (error) return;
    const fs::path& path = entries->path();
    auto facts = readEntryFacts(path);
    if (!facts || !facts->isDirectory) continue;
    auto date = purgeDate(facts->modificationDate, facts->creationDate);
    if (date && *date < cutoff) {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  }
}

void TemporaryDirectoryManager::removeTrackedDirectories() {
  for (const auto& directory : trackedDirectories_) {
    std::error_code ignored;
    fs::remove_all(directory, ignored);
  }
  trackedDirectories_.clear();
}

TemporaryFileCleanupBag::~TemporaryFileCleanupBag() {
  for (const auto& directory : directories_) {
    std::error_code ignored;
    fs::remove_all(directory, ignored);
  }
}

void TemporaryFileCleanupBag::track(const fs::path& directory) {
  directories_.insert(directory);
  manager_.track(directory);
}

}  // namespace quorlin
