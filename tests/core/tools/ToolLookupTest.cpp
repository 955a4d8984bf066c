#include "core/tools/ToolLookup.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

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

// Hits and misses stay, without touching the file system, until invalidated;
// a miss is remembered whatever list the next caller passes.
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
  cache.invalidate();
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

TEST_F(ToolLookupTest, SettingCustomDirectoriesForgetsHitsAndMisses) {
  auto dir = directory("tools");
  auto hit = writeFakeTool(dir, "cwebp", "exit 0");
  ToolSearchPath searchPath(cache, {dir});
  ASSERT_EQ(cache.locate("cwebp", searchPath.toolSearchDirectories()), hit);
  ASSERT_EQ(cache.locate("dwebp", searchPath.toolSearchDirectories()), std::nullopt);
  std::filesystem::remove(hit);
  writeFakeTool(dir, "dwebp", "exit 0");

  searchPath.setCustomToolDirectories({});
  EXPECT_EQ(cache.locate("cwebp", searchPath.toolSearchDirectories()), std::nullopt);
  EXPECT_EQ(cache.locate("dwebp", searchPath.toolSearchDirectories()), std::filesystem::path(dir) / "dwebp");
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

}  // namespace
}  // namespace quorlin
