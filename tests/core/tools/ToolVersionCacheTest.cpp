#include "core/tools/ToolVersionCache.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/TestSupport.h"

namespace quorlin {
namespace {

class ToolVersionCacheTest : public ::testing::Test {
 protected:
  ToolVersionCacheTest() { std::filesystem::create_directories(tools); }

  // A tool that records each run as one line in `runs` and prints `output`.
  std::filesystem::path countingTool(std::string_view name, std::string_view output) {
    return test::writeFakeTool(tools, name,
                               "echo run >> '" + runs.string() + "'\nprintf '" + std::string(output) + "'");
  }
  std::size_t runCount() const {
    std::string text = test::readTextFile(runs);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  }

  test::ScratchDirectory scratch;
  std::filesystem::path tools = scratch / "tools";
  std::filesystem::path runs = scratch / "runs.log";
  ToolVersionCache versions;
};

TEST_F(ToolVersionCacheTest, ProbesOnceUntilInvalidated) {
  auto avifenc = countingTool("avifenc", "Version: 0.11.1 (aom [enc/dec]:v3.6.0)\\n");
  EXPECT_EQ(versions.version("avifenc", avifenc), ToolVersion::fromText("0.11.1"));
  EXPECT_EQ(versions.version("avifenc", avifenc), ToolVersion::fromText("0.11.1"));
  EXPECT_EQ(runCount(), 1u);
  EXPECT_EQ(versions.probeCount(), 1u);
  versions.invalidate();
  EXPECT_EQ(versions.version("avifenc", avifenc)->text(), "0.11.1");
  EXPECT_EQ(runCount(), 2u);
}

// No version is remembered too; tools without version flags are never run.
TEST_F(ToolVersionCacheTest, NoVersionIsRememberedToo) {
  auto jxlinfo = countingTool("jxlinfo", "1.0\\n");
  EXPECT_EQ(versions.version("jxlinfo", jxlinfo), std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(runs));
  auto cwebp = countingTool("cwebp", "no number here\\n");
  EXPECT_EQ(versions.version("cwebp", cwebp), std::nullopt);
  EXPECT_EQ(versions.version("cwebp", cwebp), std::nullopt);
  EXPECT_EQ(runCount(), 1u);
}

TEST_F(ToolVersionCacheTest, SimultaneousFirstRequestsShareOneProbe) {
  auto cjpeg = test::writeFakeTool(tools, "cjpeg",
                                   "echo run >> '" + runs.string() + "'\nsleep 0.3\nprintf 'libjpeg-turbo version 2.1.5\\n' >&2");
  std::vector<std::optional<ToolVersion>> seen(6);
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&, i] { seen[i] = versions.version("cjpeg", cjpeg); });
  }
  for (const auto& version : seen) EXPECT_EQ(version, ToolVersion::fromText("2.1.5"));
  EXPECT_EQ(runCount(), 1u);
}

TEST_F(ToolVersionCacheTest, LocatesThroughTheCacheWithStandIns) {
  test::writeFakeTool(tools, "heif-convert",
                      "printf \"heif-convert: unrecognized option '--version'\\n heif-convert  libheif version: 1.15.1\\n\" >&2");
  ExecutableURLCache cache;
  ToolSearchPath searchPath(cache, {});
  searchPath.setCustomToolDirectories({tools.string()});
  EXPECT_EQ(versions.versionOf("heif-dec", cache, searchPath), ToolVersion::fromText("1.15.1"));
  EXPECT_EQ(versions.versionOf("heif-enc", cache, searchPath), std::nullopt);  // not installed
}

}  // namespace
}  // namespace quorlin
