// Temporary work directories: the program's private temporary root, the work
// directories made under it, and their removal.
//
// Every prepared source and every encode run writes into its own work
// directory: a directory directly under the root named by a new UUID's
// canonical upper-case text, mode 0700. Each result owns its directory; a
// workspace's cleanup bag removes what its results left when the workspace
// goes away; the manager removes everything it was told about at termination
// and, at start, what earlier runs left behind for longer than a day.
//
// Nothing here reports an error except creating a work directory: listing,
// attribute and removal failures are swallowed and the loop goes on.
//
// Threads: the root is immutable, so rootDirectory() and createWorkDirectory()
// may be called from any thread (the engine's workers do). The bookkeeping
// (track, trackedDirectories, removeTrackedDirectories, purgeStaleDirectories)
// belongs to the main thread. There is no global instance: the application
// makes one manager and hands it to whoever needs it.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>

namespace quorlin {

// The per-user temporary directory: $TMPDIR when set and not empty, else /tmp.
std::filesystem::path perUserTemporaryDirectory();

// The root under `temporaryDirectory`: "Brimwell" when it is missing or is a
// real directory owned by this user (its mode is then set to 0700); otherwise
// (another owner, a symbolic link, not a directory) "Brimwell-UID", UID the
// numeric user id, under the same conditions. Creates nothing except as a
// last resort, when both names are taken by someone else: then a fresh
// "Brimwell-UID-XXXXXX" directory is made.
std::filesystem::path resolveTemporaryRoot(const std::filesystem::path& temporaryDirectory);

// resolveTemporaryRoot(perUserTemporaryDirectory()), computed once per process.
const std::filesystem::path& defaultTemporaryRoot();

// Creates a new UUID-named directory (0700) directly under `root`, creating the
// root (0700) and its parents first when missing. Refuses a root that is a
// symbolic link or belongs to another user. Throws std::filesystem::filesystem_error.
std::filesystem::path createWorkDirectory(const std::filesystem::path& root);

// The date a stale purge judges a directory by: its content modification date,
// else its creation (birth) date, else nothing (such an entry is never purged).
std::optional<std::chrono::system_clock::time_point> purgeDate(
    std::optional<std::chrono::system_clock::time_point> modificationDate,
    std::optional<std::chrono::system_clock::time_point> creationDate);

class TemporaryDirectoryManager {
 public:
  // Uses `rootDirectory` as given (tests pass their own); the application
  // passes defaultTemporaryRoot(). Creates nothing.
  explicit TemporaryDirectoryManager(std::filesystem::path rootDirectory);
  TemporaryDirectoryManager(const TemporaryDirectoryManager&) = delete;
  TemporaryDirectoryManager& operator=(const TemporaryDirectoryManager&) = delete;

  const std::filesystem::path& rootDirectory() const { return rootDirectory_; }

  // createWorkDirectory(rootDirectory()). Not tracked: the caller registers the
  // directory with a bag once a result owns it.
  std::filesystem::path createWorkDirectory() const;

  // Removes every directory directly under the root whose purge date is
  // strictly earlier than now - ageSeconds. Plain files and symbolic links are
  // never removed; a missing root is no error and creates nothing.
  void purgeStaleDirectories(double ageSeconds);

  const std::set<std::filesystem::path>& trackedDirectories() const { return trackedDirectories_; }
  void track(const std::filesystem::path& directory) { trackedDirectories_.insert(directory); }

  // Removes every tracked directory from disk (failures ignored), then forgets them all.
  void removeTrackedDirectories();

 private:
  std::filesystem::path rootDirectory_;
  std::set<std::filesystem::path> trackedDirectories_;
};

// One workspace's record of the work directories its results produced. Held by
// shared_ptr; when the last owner lets go, the destructor removes every
// directory in the bag (failures ignored). The manager keeps them in its own
// set, so termination tries again and fails quietly. The manager must outlive
// every bag made with it.
class TemporaryFileCleanupBag {
 public:
  explicit TemporaryFileCleanupBag(TemporaryDirectoryManager& manager) : manager_(manager) {}
  ~TemporaryFileCleanupBag();
  TemporaryFileCleanupBag(const TemporaryFileCleanupBag&) = delete;
  TemporaryFileCleanupBag& operator=(const TemporaryFileCleanupBag&) = delete;

  // Inserts into this bag and into the manager's tracked set (main thread).
  void track(const std::filesystem::path& directory);
  const std::set<std::filesystem::path>& directories() const { return directories_; }

 private:
  TemporaryDirectoryManager& manager_;
  std::set<std::filesystem::path> directories_;
};

}  // namespace quorlin
