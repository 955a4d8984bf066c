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

TEST_F(ToolLookupTest, FirstDirectoryHoldingTheToolWins) {
  auto first = directory("homebrew");
  auto second = directory("local");
  writeFakeTool(second, "cjxl", "exit 0");
  writeFakeTool(first, "cjxl", "exit 0");
  EXPECT_EQ(cache.locate("cjxl", {first, second}), std::filesystem::path(first) / "cjxl");
  // Missing and empty directories yield no candidate.
  writeFakeTool(second, "cjpeg", "exit 0");
  EXPECT_EQ(cache.locate("cjpeg", {(scratch / "absent").string(), "", second}), std::filesystem::path(second) / "cjpeg");
}

TEST_F(ToolLookupTest, SkipsFilesWithoutExecutePermissionAndDirectories) {
  auto noExecute = directory("a");
  auto subdirectory = directory("b");
  auto good = directory("c");
  writeTextFile(std::filesystem::path(noExecute) / "cjxl", "#!/bin/sh\n");
  std::filesystem::permissions(std::filesystem::path(noExecute) / "cjxl", std::filesystem::perms(0644));
  std::filesystem::create_directories(std::filesystem::path(subdirectory) / "cjxl");
  std::filesystem::permissions(std::filesystem::path(subdirectory) / "cjxl", std::filesystem::perms(0755));
  writeFakeTool(good, "cjxl", "exit 0");
  EXPECT_EQ(cache.locate("cjxl", {noExecute, subdirectory, good}), std::filesystem::path(good) / "cjxl");
}

TEST_F(ToolLookupTest, SymbolicLinksCountByWhatTheyPointTo) {
  auto links = directory("links");
  auto targets = directory("targets");
  auto tool = writeFakeTool(targets, "real-cwebp", "exit 0");
  std::filesystem::create_symlink(tool, std::filesystem::path(links) / "cwebp");
  std::filesystem::create_symlink(targets, std::filesystem::path(links) / "dwebp");
  std::filesystem::create_symlink(std::filesystem::path(targets) / "gone", std::filesystem::path(links) / "avifenc");
  EXPECT_EQ(cache.locate("cwebp", {links}), std::filesystem::path(links) / "cwebp");
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
