#include "core/tools/ToolLookup.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "core/common/Uuid.h"
#include "core/tools/TemporaryFiles.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

using test::ScratchDirectory;
using test::writeFakeTool;
using test::writeTextFile;

class ToolLookupTest : public ::testing::Test {
 protected:
  std::string directory(std::string_view name) {
    auto path = scratch / name;
    std::filesystem::create_directories(path);
    return path.string();
  }

  ScratchDirectory scratch;
  ExecutableURLCache cache;
};

TEST_F(ToolLookupTest, HomeFallsBackToThePasswordDatabaseWhenHomeIsUnsetOrEmpty) {
  std::string saved = std::getenv("HOME") ? std::getenv("HOME") : "";
  passwd* entry = ::getpwuid(::getuid());
  ASSERT_NE(entry, nullptr);
  std::string expected = entry->pw_dir;

  ::unsetenv("HOME");
  EXPECT_EQ(userHomeDirectory(), expected);
  ::setenv("HOME", "", 1);
  EXPECT_EQ(userHomeDirectory(), expected);
  ::setenv("HOME", "/some/where", 1);
  EXPECT_EQ(userHomeDirectory(), "/some/where");
  ::setenv("HOME", saved.c_str(), 1);
}

// The first directory holding an executable file of that name wins: missing
// and empty directories, files without execute permission, directories and
// links to either or to nothing are passed over.
TEST_F(ToolLookupTest, FirstDirectoryHoldingAnExecutableFileWins) {
  namespace fs = std::filesystem;
  auto first = directory("homebrew"), second = directory("local"), links = directory("links");
  writeFakeTool(second, "cjxl", "exit 0");
  writeFakeTool(first, "cjxl", "exit 0");
  EXPECT_EQ(cache.locate("cjxl", {first, second}), fs::path(first) / "cjxl");
  writeFakeTool(second, "cjpeg", "exit 0");
  writeTextFile(fs::path(first) / "cjpeg", "#!/bin/sh\n");
  fs::permissions(fs::path(first) / "cjpeg", fs::perms(0644));
  fs::create_directories(fs::path(links) / "cjpeg");
  fs::permissions(fs::path(links) / "cjpeg", fs::perms(0755));
  EXPECT_EQ(cache.locate("cjpeg", {(scratch / "absent").string(), "", first, links, second}),
            fs::path(second) / "cjpeg");
  fs::create_symlink(fs::path(second) / "cjxl", fs::path(links) / "cwebp");
  fs::create_symlink(second, fs::path(links) / "dwebp");
  fs::create_symlink(fs::path(second) / "gone", fs::path(links) / "avifenc");
  EXPECT_EQ(cache.locate("cwebp", {links}), fs::path(links) / "cwebp");
  EXPECT_EQ(cache.locate("dwebp", {links}), std::nullopt);
  EXPECT_EQ(cache.locate("avifenc", {links}), std::nullopt);
}

TEST_F(ToolLookupTest, RelativeDirectoriesResolveAgainstTheCurrentDirectory) {
  auto dir = directory("relative");
  writeFakeTool(dir, "cjxl", "exit 0");
  auto saved = std::filesystem::current_path();
  std::filesystem::current_path(scratch.path());
  auto found = cache.locate("cjxl", {"relative"});
  std::filesystem::current_path(saved);
  ASSERT_TRUE(found);
  EXPECT_TRUE(found->is_absolute());
  EXPECT_TRUE(std::filesystem::equivalent(*found, std::filesystem::path(dir) / "cjxl"));
}

// Hits and misses stay, without touching the file system, until the search
// directories change; a miss is remembered whatever list the next caller passes.
TEST_F(ToolLookupTest, HitsAndMissesRemainUntilInvalidate) {
  auto dir = directory("tools");
  EXPECT_EQ(cache.locate("avifenc", {}), std::nullopt);
  EXPECT_EQ(cache.locate("djxl", {dir}), std::nullopt);
  writeFakeTool(dir, "avifenc", "exit 0");
  writeFakeTool(dir, "djxl", "exit 0");
  auto tool = writeFakeTool(dir, "cwebp", "exit 0");
  ASSERT_EQ(cache.locate("cwebp", {dir}), tool);
  auto probes = cache.fileSystemProbeCount();
  std::filesystem::remove(tool);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(cache.locate("cwebp", {dir}), tool);
  EXPECT_EQ(cache.locate("avifenc", {dir}), std::nullopt);
  EXPECT_EQ(cache.locate("djxl", {dir}), std::nullopt);
  EXPECT_EQ(cache.fileSystemProbeCount(), probes);
  ToolSearchPath(cache, {}).setCustomToolDirectories({});  // forgets them as invalidate() does
  EXPECT_EQ(cache.locate("avifenc", {dir}), std::filesystem::path(dir) / "avifenc");
  EXPECT_EQ(cache.locate("cwebp", {dir}), std::nullopt);
}

// Custom directories come first (duplicates stay), so they win over every built-in one.
TEST_F(ToolLookupTest, CustomDirectoriesComeFirst) {
  ToolSearchPath searchPath(cache, {"/usr/bin", "/bin"});
  EXPECT_EQ(searchPath.toolSearchDirectories(), (std::vector<std::string>{"/usr/bin", "/bin"}));
  searchPath.setCustomToolDirectories({"~/tools", "/bin", " spaced "});
  EXPECT_EQ(searchPath.customToolDirectories(), (std::vector<std::string>{"~/tools", "/bin", " spaced "}));
  EXPECT_EQ(searchPath.toolSearchDirectories(),
            (std::vector<std::string>{"~/tools", "/bin", " spaced ", "/usr/bin", "/bin"}));
}

TEST_F(ToolLookupTest, ConcurrentLookupsAndDirectoryChangesAgree) {
  auto dir = directory("tools");
  auto tool = writeFakeTool(dir, "cjxl", "exit 0");
  ToolSearchPath searchPath(cache, {dir});
  std::vector<std::jthread> threads;
  std::atomic<int> wrongAnswers = 0;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        if (cache.locate("cjxl", searchPath.toolSearchDirectories()) != tool) ++wrongAnswers;
        if (cache.locate("absent-tool", searchPath.toolSearchDirectories())) ++wrongAnswers;
      }
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < 200; ++i) searchPath.setCustomToolDirectories({(scratch / "nothing-here").string()});
  });
  threads.clear();
  EXPECT_EQ(wrongAnswers.load(), 0);
}

namespace fs = std::filesystem;
using namespace std::chrono_literals;

mode_t modeOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

void setAge(const fs::path& path, std::chrono::hours age) {
  fs::last_write_time(path, fs::file_time_type::clock::now() - age);
}

std::size_t entryCount(const fs::path& directory) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(directory)) ++count;
  return count;
}

TEST(TemporaryFilesTest, WorkDirectoriesAreFreshPrivateUUIDNamedChildrenOfTheRoot) {
  test::ScratchDirectory scratch;
  TemporaryDirectoryManager manager(scratch / "nested" / "Brimwell");
  fs::path first = manager.createWorkDirectory();
  fs::path second = manager.createWorkDirectory();
  EXPECT_NE(first, second);
  for (const fs::path& directory : {first, second}) {
    EXPECT_EQ(directory.parent_path(), manager.rootDirectory());
    EXPECT_TRUE(fs::is_directory(directory));
    EXPECT_EQ(modeOf(directory), 0700u);
    std::string name = directory.filename().string();
    auto parsed = Uuid::fromString(name);
    ASSERT_TRUE(parsed.has_value()) << name;
    EXPECT_EQ(parsed->uuidString(), name);  // canonical upper-case text
  }
  // The missing root was created private, with its parents.
  EXPECT_EQ(modeOf(manager.rootDirectory()), 0700u);
  EXPECT_TRUE(manager.trackedDirectories().empty());  // making is not tracking
}

TEST(TemporaryFilesTest, WorkDirectoriesAreNeverMadeThroughASymbolicLinkRoot) {
  test::ScratchDirectory scratch;
  fs::create_directory(scratch / "elsewhere");
  fs::create_directory_symlink(scratch / "elsewhere", scratch / "Brimwell");
  EXPECT_THROW(createWorkDirectory(scratch / "Brimwell"), fs::filesystem_error);
  EXPECT_EQ(entryCount(scratch / "elsewhere"), 0u);
}

TEST(TemporaryFilesTest, StalePurgeRemovesOnlyDirectoriesOlderThanTheAge) {
  test::ScratchDirectory scratch;
  fs::path root = scratch / "Brimwell";
  fs::create_directories(root / "OLD" / "inside");
  test::writeTextFile(root / "OLD" / "inside" / "source.png", "x");
  fs::create_directories(root / "RECENT");
  test::writeTextFile(root / "old-file.txt", "plain files stay");
  fs::create_directories(scratch / "target");
  fs::create_directory_symlink(scratch / "target", root / "old-link");
  setAge(root / "OLD", 25h);
  setAge(root / "RECENT", 23h);
  setAge(root / "old-file.txt", 100h);
  setAge(scratch / "target", 100h);

  TemporaryDirectoryManager manager(root);
  manager.purgeStaleDirectories(86400);
  EXPECT_FALSE(fs::exists(root / "OLD"));
  EXPECT_TRUE(fs::is_directory(root / "RECENT"));
  EXPECT_TRUE(fs::is_regular_file(root / "old-file.txt"));
  // A link is not a directory of ours: neither it nor its target goes.
  EXPECT_TRUE(fs::is_symlink(root / "old-link"));
  EXPECT_TRUE(fs::is_directory(scratch / "target"));
  // Purging a missing root creates nothing.
  TemporaryDirectoryManager(scratch / "never-made" / "Brimwell").purgeStaleDirectories(86400);
  EXPECT_FALSE(fs::exists(scratch / "never-made"));
}

TEST(TemporaryFilesTest, PurgeDateIsModificationThenCreationThenNever) {
  auto modified = std::chrono::system_clock::now() - 30h;
  auto created = std::chrono::system_clock::now() - 50h;
  EXPECT_EQ(purgeDate(modified, created), modified);
  EXPECT_EQ(purgeDate(std::nullopt, created), created);
  EXPECT_EQ(purgeDate(std::nullopt, std::nullopt), std::nullopt);
}

TEST(TemporaryFilesTest, ReleasingABagRemovesExactlyItsOwnDirectories) {
  test::ScratchDirectory scratch;
  TemporaryDirectoryManager manager(scratch / "Brimwell");
  auto firstTab = std::make_shared<TemporaryFileCleanupBag>(manager);
  auto secondTab = std::make_shared<TemporaryFileCleanupBag>(manager);
  fs::path mine1 = manager.createWorkDirectory();
  fs::path mine2 = manager.createWorkDirectory();
  fs::path theirs = manager.createWorkDirectory();
  fs::path untracked = manager.createWorkDirectory();
  test::writeTextFile(mine1 / "photo.jxl", "encoded");
  firstTab->track(mine1);
  firstTab->track(mine2);
  firstTab->track(mine2);
  secondTab->track(theirs);
  EXPECT_EQ(firstTab->directories().size(), 2u);
  EXPECT_EQ(manager.trackedDirectories().size(), 3u);

  auto stillHolding = firstTab;  // the last owner decides
  firstTab.reset();
  EXPECT_TRUE(fs::exists(mine1));
  stillHolding.reset();
  EXPECT_FALSE(fs::exists(mine1));
  EXPECT_FALSE(fs::exists(mine2));
  EXPECT_TRUE(fs::exists(theirs));
  // The manager still lists them; termination then fails quietly on the gone ones.
  EXPECT_EQ(manager.trackedDirectories().size(), 3u);
  manager.removeTrackedDirectories();
  EXPECT_FALSE(fs::exists(theirs));
  EXPECT_TRUE(fs::exists(untracked));
  EXPECT_TRUE(manager.trackedDirectories().empty());
}

// "Brimwell" when it is free or our own private directory; else the per-user
// name; else a fresh private one.
TEST(TemporaryRootTest, TheSharedNameIsUsedOnlyWhenItIsSafe) {
  const std::string userRoot = "Brimwell-" + std::to_string(::geteuid());
  test::ScratchDirectory free, own, link, file, foreign, taken;
  EXPECT_EQ(resolveTemporaryRoot(free.path()), free / "Brimwell");
  EXPECT_FALSE(fs::exists(free / "Brimwell"));  // chosen, not created
  fs::create_directory(own / "Brimwell");
  ::chmod((own / "Brimwell").c_str(), 0755);
  EXPECT_EQ(resolveTemporaryRoot(own.path()), own / "Brimwell");
  EXPECT_EQ(modeOf(own / "Brimwell"), 0700u);
  fs::create_directory(link / "planted");
  fs::create_directory_symlink(link / "planted", link / "Brimwell");
  EXPECT_EQ(resolveTemporaryRoot(link.path()), link / userRoot);
  test::writeTextFile(file / "Brimwell", "not a directory");
  EXPECT_EQ(resolveTemporaryRoot(file.path()), file / userRoot);
  if (::geteuid() == 0) {  // giving a directory to another user needs root
    fs::create_directory(foreign / "Brimwell");
    ASSERT_EQ(::chown((foreign / "Brimwell").c_str(), 65534, 65534), 0);
    EXPECT_EQ(resolveTemporaryRoot(foreign.path()), foreign / userRoot);
  }
  test::writeTextFile(taken / "Brimwell", "taken");
  test::writeTextFile(taken / userRoot, "taken too");
  fs::path root = resolveTemporaryRoot(taken.path());
  EXPECT_EQ(root.parent_path(), taken.path());
  EXPECT_TRUE(root.filename().string().starts_with(userRoot + "-")) << root;
  EXPECT_TRUE(fs::is_directory(root));
  EXPECT_EQ(modeOf(root), 0700u);
}

TEST(TemporaryFilesTest, PerUserTemporaryDirectoryHonoursTMPDIR) {
  const char* previous = std::getenv("TMPDIR");
  std::string saved = previous ? previous : "";
  ::setenv("TMPDIR", "/var/tmp/quorlin-user", 1);
  EXPECT_EQ(perUserTemporaryDirectory(), fs::path("/var/tmp/quorlin-user"));
  ::setenv("TMPDIR", "", 1);
  EXPECT_EQ(perUserTemporaryDirectory(), fs::path("/tmp"));
  ::unsetenv("TMPDIR");
  EXPECT_EQ(perUserTemporaryDirectory(), fs::path("/tmp"));
  if (previous) ::setenv("TMPDIR", saved.c_str(), 1);
}

}  // namespace
}  // namespace quorlin
