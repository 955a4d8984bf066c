#include "core/tools/ToolVersionRules.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <regex>
#include <set>
#include <thread>

#include "core/common/Uuid.h"
#include "core/tools/TemporaryFiles.h"
#include "core/tools/ToolLookup.h"
#include "core/tools/ToolRequirements.h"
#include "core/tools/ToolVersion.h"
#include "core/tools/ToolVersionCache.h"
#include "core/tools/ToolsReport.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

std::optional<ToolVersion> v(const char* text) { return ToolVersion::fromText(text); }
const std::optional<ToolVersion> unknown = std::nullopt;

TEST(ToolVersionRulesTest, TableHasOneWellFormedRowPerRule) {
  auto rules = allToolVersionRules();
  std::set<ToolRuleId> ids;
  for (const auto& rule : rules) {
    SCOPED_TRACE(rule.difference);
    ids.insert(rule.id);
    EXPECT_EQ(&toolVersionRule(rule.id), &rule);
    EXPECT_FALSE(rule.tools.empty() || rule.difference.empty() || rule.action.empty());
    // Only version-bound rows have a bound, and it parses; their texts name the version.
    const bool below = rule.applicability == RuleApplicability::versionsBelow;
    EXPECT_EQ(below, ToolVersion::fromText(rule.versionBound).has_value());
    EXPECT_TRUE(rule.message.empty() || !below || rule.message.find("VERSION") != std::string_view::npos);
    EXPECT_TRUE(rule.limitation.empty() || rule.limitation.find("VERSION") != std::string_view::npos);
  }
  EXPECT_EQ(ids.size(), rules.size());
}

TEST(ToolVersionRulesTest, FillVersionReplacesEveryPlaceholder) {
  EXPECT_EQ(fillVersion("VERSION and VERSION", "1.2"), "1.2 and 1.2");
  EXPECT_EQ(fillVersion("none", "1.2"), "none");
}

// Row: heif-convert stands in for heif-dec.
TEST(ToolVersionRulesTest, HeifConvertStandsInOnlyWhenHeifDecIsMissing) {
  test::ScratchDirectory scratch;
  auto first = (scratch / "first").string(), second = (scratch / "second").string();
  std::filesystem::create_directories(first);
  std::filesystem::create_directories(second);
  EXPECT_EQ(standInsFor("heif-dec"), std::vector<std::string_view>{"heif-convert"});
  EXPECT_TRUE(standInsFor("heif-enc").empty());
  EXPECT_EQ(findTool("heif-dec", {first, second}), std::nullopt);
  test::writeFakeTool(first, "heif-convert", "exit 0");
  auto standIn = findTool("heif-dec", {first, second});
  ASSERT_TRUE(standIn);
  EXPECT_TRUE(standIn->isStandIn());
  EXPECT_EQ(standIn->path, std::filesystem::path(first) / "heif-convert");
  EXPECT_EQ(standIn->displayName(), "heif-dec (heif-convert)");
  // heif-dec in a later directory still wins over heif-convert in an earlier one.
  test::writeFakeTool(second, "heif-dec", "exit 0");
  auto real = findTool("heif-dec", {first, second});
  ASSERT_TRUE(real);
  EXPECT_FALSE(real->isStandIn());
  EXPECT_EQ(real->path, std::filesystem::path(second) / "heif-dec");
  EXPECT_EQ(real->displayName(), "heif-dec");
}

// Row: heif-enc / heif-convert 1.15 print the version as "libheif version: X" on line 2.
TEST(ToolVersionRulesTest, LibheifToolsAlsoReadTheLibheifVersionLine) {
  const std::string heifEnc115 =
      "heif-enc: unrecognized option '--version'\n heif-enc  libheif version: 1.15.1\n----\nUsage: heif-enc [options]\n";
  const std::string heifConvert115 = "heif-convert: unrecognized option '--version'\n heif-convert  libheif version: 1.15.1\n";
  EXPECT_EQ(readToolVersion("heif-enc", heifEnc115), "1.15.1");
  EXPECT_EQ(readToolVersion("heif-dec", heifConvert115), "1.15.1");
  EXPECT_EQ(readToolVersion("heif-convert", heifConvert115), "1.15.1");
  EXPECT_EQ(readToolVersion("heif-enc", "1.19.7\n"), "1.19.7");  // newer ones print it first
  // Other tools keep the first-line rule alone.
  EXPECT_EQ(readToolVersion("cjxl", heifEnc115), std::nullopt);
  // The number must follow the marker.
  EXPECT_EQ(readToolVersion("heif-enc", "usage\nlibheif version: unknown (see 1.2)\n"), std::nullopt);
  EXPECT_EQ(readToolVersion("heif-enc", "usage\nlibheif version:\n1.2\n"), std::nullopt);
}

// Each version-bound row at versions either side of its bound; an unknown
// version counts as current.
TEST(ToolVersionRulesTest, EachRowHoldsOnlyBelowItsBound) {
  struct Case {
    const char* row;
    bool (*holds)(const std::optional<ToolVersion>&);
    std::vector<const char*> yes, no;
    bool unknownHolds;
  };
  const Case cases[] = {
      // heif-enc does not know --hevc (1.15 and 1.19 alike).
      {"hevc flag", heifEncKnowsHevcFlag, {}, {"1.15.1", "1.19.7"}, false},
      // heif-enc < 1.16 writes HEVC for --jpeg2000.
      {"jpeg2000", heifEncSupportsJPEG2000, {"1.16.0", "1.19.7"}, {"1.15.1"}, true},
      {"tiff", heifEncReadsTIFF, {"1.17.0"}, {"1.15.1", "1.16.2"}, true},
      {"qcolor", avifencHasQualityOption, {"1.0.0", "1.1.1"}, {"0.11.1"}, true},
      {"progressive", avifencSupportsProgressive, {"1.0.0"}, {"0.11.1"}, true},
      {"png", cjpegReadsPNG, {"3.1", "3.1.2"}, {"2.1.5", "3.0.4"}, true},
      // djxl 0.7 cannot write back a 16-bit RGBA file that cjxl made.
      {"alpha", djxlDecodesSixteenBitAlpha, {"0.8.0", "0.11.1"}, {"0.7.0"}, true},
  };
  for (const Case& c : cases) {
    for (const char* version : c.yes) EXPECT_TRUE(c.holds(v(version))) << c.row << " " << version;
    for (const char* version : c.no) EXPECT_FALSE(c.holds(v(version))) << c.row << " " << version;
    EXPECT_EQ(c.holds(unknown), c.unknownHolds) << c.row;
  }
  // heif-enc < 1.16 --avif on 16-bit input works only at -b 12.
  for (HEIFDepth depth : {HEIFDepth::automatic, HEIFDepth::eight, HEIFDepth::ten}) {
    EXPECT_FALSE(heifEncCanEncode16BitAVIF(v("1.15.1"), depth));
    EXPECT_TRUE(heifEncCanEncode16BitAVIF(v("1.19.7"), depth));
  }
  EXPECT_TRUE(heifEncCanEncode16BitAVIF(v("1.15.1"), HEIFDepth::twelve));
  // Rows about absence never apply by version; rows about every release always do.
  EXPECT_FALSE(ruleApplies(toolVersionRule(ToolRuleId::heifDecoderStandIn), v("1.0")));
  EXPECT_TRUE(ruleApplies(toolVersionRule(ToolRuleId::heifEncoderHevcFlag), unknown));
}

TEST(ToolVersionRulesTest, RefusalsNameTheVersionAndRulesThatAdaptNeverRefuse) {
  EXPECT_EQ(refusalMessage(ToolRuleId::heifEncoderJPEG2000, v("1.15.1")),
            "heif-enc 1.15.1 cannot encode JPEG 2000. Install a newer libheif with its OpenJPEG encoder plugin.");
  EXPECT_EQ(refusalMessage(ToolRuleId::heifEncoderJPEG2000, v("1.19.7")), std::nullopt);
  EXPECT_EQ(refusalMessage(ToolRuleId::heifEncoderJPEG2000, unknown), std::nullopt);
  EXPECT_EQ(refusalMessage(ToolRuleId::heifEncoderSixteenBitAVIF, v("1.15.1")),
            "heif-enc 1.15.1 cannot encode 16-bit input as AVIF at this bit depth. Choose Bit Depth 12 or install a "
            "newer libheif.");
  EXPECT_EQ(refusalMessage(ToolRuleId::avifEncoderProgressive, v("0.11.1")),
            "avifenc 0.11.1 cannot encode progressive AVIF. Install libavif 1.0 or later.");
  EXPECT_EQ(refusalMessage(ToolRuleId::heifEncoderTIFFInput, v("1.15.1")), std::nullopt);
  EXPECT_EQ(refusalMessage(ToolRuleId::avifEncoderQuality, v("0.11.1")), std::nullopt);
}

// avifenc < 1.0 has no --qcolor: ((100 - q) * 63 + 50) / 100, worked by hand.
TEST(ToolVersionRulesTest, OldAvifencGetsTheEquivalentQuantizer) {
  const std::pair<int, int> cases[] = {{79, 13}, {100, 0}, {0, 63}, {50, 32}, {90, 6}, {99, 1},
                                       {150, 0} /* clamped to 100 */, {-5, 63} /* clamped to 0 */};
  for (auto [quality, quantizer] : cases) EXPECT_EQ(avifencQuantizerForQuality(quality), quantizer) << quality;
}

TEST(ToolVersionRulesTest, LimitationsOfAnInstalledToolComeFromTheRowsThatApply) {
  EXPECT_EQ(limitationsOf("avifenc", v("0.11.1")),
            (std::vector<std::string>{
                "avifenc 0.11.1 has no --qcolor: quality is passed as the equivalent --min/--max quantizer.",
                "avifenc 0.11.1 cannot encode progressive AVIF."}));
  EXPECT_TRUE(limitationsOf("avifenc", v("1.1.1")).empty());
  EXPECT_TRUE(limitationsOf("avifenc", unknown).empty());
  EXPECT_EQ(limitationsOf("heif-enc", v("1.15.1")),
            (std::vector<std::string>{"heif-enc 1.15.1 cannot encode JPEG 2000.",
                                      "heif-enc 1.15.1 encodes 16-bit input as AVIF only at Bit Depth 12.",
                                      "heif-enc 1.15.1 reads no TIFF: TIFF sources are given as the prepared PNG."}));
  EXPECT_EQ(limitationsOf("cjpeg", v("2.1.5")),
            std::vector<std::string>{"cjpeg 2.1.5 reads no PNG: PNG sources are converted to PPM first."});
  EXPECT_EQ(limitationsOf("djxl", v("0.7.0")).size(), 1u);
  EXPECT_TRUE(limitationsOf("cwebp", v("1.2.4")).empty());
}

TEST(ToolVersionRulesTest, RulesOfAGroupIncludeThoseAboutItsStandIns) {
  std::vector<std::string> libheif = {"heif-enc", "heif-dec"};
  std::set<ToolRuleId> ids;
  for (const auto* rule : rulesForExecutables(libheif)) ids.insert(rule->id);
  EXPECT_EQ(ids, (std::set<ToolRuleId>{ToolRuleId::heifDecoderStandIn, ToolRuleId::libheifVersionLine,
                                       ToolRuleId::heifEncoderHevcFlag, ToolRuleId::heifEncoderJPEG2000,
                                       ToolRuleId::heifEncoderSixteenBitAVIF, ToolRuleId::heifEncoderTIFFInput}));
  std::vector<std::string> webp = {"cwebp", "dwebp"};
  ASSERT_EQ(rulesForExecutables(webp).size(), 1u);
  EXPECT_EQ(rulesForExecutables(webp).front()->id, ToolRuleId::webPEncoderHDR);
}

// The first dotted number (leftmost) of the first non-blank line only; only
// spaces and tabs are trimmed, so a form feed makes a non-blank line.
TEST(ParseVersionTest, TakesTheFirstDottedNumberOfTheFirstNonBlankLineOnly) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"encoder version 0.11.1 [AVX2]", "0.11.1"}, {"12.76\n", "12.76"},
      {"cjxl v0.7.0 [AVX3,AVX2,SSE4,SSSE3,Unknown]\n", "0.7.0"},
      {"Version: 0.11.1 (dav1d [dec]:1.0.0, libgav1 [dec]:0.18.0)", "0.11.1"},
      {"libjpeg-turbo version 2.1.5 (build 20230203)\n", "2.1.5"}, {"1.2.3.4.5", "1.2.3.4.5"},
      {"a1.b2.3 4.5", "2.3"}, {"   \n\t \n  1.2.4  \n", "1.2.4"}, {"\r\n \r\n1.19.7\r\n", "1.19.7"},
      {"heif-enc: unrecognized option '--version'\n heif-enc  libheif version: 1.15.1\n", std::nullopt},
      {"Failed to read file: --version\n1.2\n", std::nullopt}, {"", std::nullopt}, {" \t\n\n", std::nullopt},
      {"version 7", std::nullopt}, {"1..2", std::nullopt}, {".5", std::nullopt}, {"\f\n1.0\n", std::nullopt}};
  for (const auto& [output, version] : cases) EXPECT_EQ(parseVersion(output), version) << output;
}

TEST(ToolVersionTest, ParsesDottedDecimalNumbersOnlyAndComparesThemAsNumbers) {
  EXPECT_EQ(ToolVersion::fromText("1.15.1")->components(), (std::vector<unsigned long long>{1, 15, 1}));
  EXPECT_EQ(ToolVersion::fromText("1.15.1")->text(), "1.15.1");
  EXPECT_TRUE(ToolVersion::fromText("7"));
  for (const char* bad : {"", ".", "1.", ".1", "1..2", "v1.2", "1.2a", "1 .2", "99999999999999999999.1"}) {
    EXPECT_FALSE(ToolVersion::fromText(bad)) << bad;
  }
  // Missing components count as zero.
  EXPECT_LT(v("1.9"), v("1.16"));
  EXPECT_GT(v("1.0.1"), v("1.0"));
  EXPECT_GT(v("1.19.7"), v("1.16"));
  for (auto [a, b] : {std::pair{"1.0", "1.0.0"}, {"1", "1.0"}, {"01.2", "1.2"}}) EXPECT_EQ(v(a), v(b)) << a;
}

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

TEST_F(ToolVersionCacheTest, ProbesOnceUntilInvalidatedAndRemembersNoVersionToo) {
  auto avifenc = countingTool("avifenc", "Version: 0.11.1 (aom [enc/dec]:v3.6.0)\\n");
  EXPECT_EQ(versions.version("avifenc", avifenc), ToolVersion::fromText("0.11.1"));
  EXPECT_EQ(versions.version("avifenc", avifenc), ToolVersion::fromText("0.11.1"));
  EXPECT_EQ(runCount(), 1u);
  EXPECT_EQ(versions.probeCount(), 1u);
  versions.invalidate();
  EXPECT_EQ(versions.version("avifenc", avifenc)->text(), "0.11.1");
  // No version is remembered too; tools without version flags are never run.
  auto jxlinfo = countingTool("jxlinfo", "1.0\\n");
  EXPECT_EQ(versions.version("jxlinfo", jxlinfo), std::nullopt);
  auto cwebp = countingTool("cwebp", "no number here\\n");
  EXPECT_EQ(versions.version("cwebp", cwebp), std::nullopt);
  EXPECT_EQ(versions.version("cwebp", cwebp), std::nullopt);
  EXPECT_EQ(runCount(), 3u);
}

// The probe is held until every thread has asked.
TEST_F(ToolVersionCacheTest, SimultaneousFirstRequestsShareOneProbe) {
  const auto release = scratch / "release";
  auto cjpeg = test::writeFakeTool(tools, "cjpeg",
                                   "echo run >> '" + runs.string() + "'\nwhile [ ! -e '" + release.string() +
                                       "' ]; do sleep 0.01; done\nprintf 'libjpeg-turbo version 2.1.5\\n' >&2");
  std::vector<std::optional<ToolVersion>> seen(6);
  std::atomic<std::size_t> asking = 0;
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
      threads.emplace_back([&, i] {
        ++asking;
        seen[i] = versions.version("cjpeg", cjpeg);
      });
    }
    EXPECT_TRUE(test::eventually([&] { return asking == seen.size() && runCount() == 1; }, std::chrono::seconds(10)));
    test::writeTextFile(release, "");
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

const ToolRequirement& requirementTitled(std::string_view title) {
  for (const auto& requirement : allToolRequirements()) {
    if (requirement.title == title) return requirement;
  }
  throw std::runtime_error("no requirement " + std::string(title));
}

InstalledToolInfo found(std::string name, std::optional<std::string> version = std::nullopt) {
  return {std::move(name), std::filesystem::path("/usr/bin/x"), std::move(version), std::nullopt};
}
InstalledToolInfo notFound(std::string name) { return {std::move(name), std::nullopt, std::nullopt, std::nullopt}; }

TEST(ToolRequirementsTest, StatusTextFollowsTheOneDistinctVersionRule) {
  EXPECT_EQ(statusText({found("cjxl", "0.11.1"), found("djxl", "0.11.0"), found("jxlinfo"), found("ssimulacra2")}),
            "Installed");
  EXPECT_EQ(statusText({found("cjpegli"), found("djpegli")}), "Installed");
  EXPECT_EQ(statusText({found("cjxl", "0.11.1"), found("djxl", "0.11.1"), notFound("jxlinfo"), notFound("ssimulacra2")}),
            "Missing jxlinfo, ssimulacra2");
}

class InstalledToolsTest : public ::testing::Test {
 protected:
  std::vector<std::string> directories() const { return {tools.string()}; }

  test::ScratchDirectory scratch;
  std::filesystem::path tools = [this] {
    std::filesystem::create_directories(scratch / "tools");
    return scratch / "tools";
  }();
};

TEST_F(InstalledToolsTest, StatusAndMissingExecutablesComeStraightFromTheFileSystem) {
  const auto& jpegXL = requirementTitled("JPEG XL & SSIMULACRA2 metric");
  EXPECT_EQ(requirementStatus(jpegXL, directories()), ToolRequirementStatus::missing);
  writeFakeTool(tools, "cjxl", "exit 0");
  writeFakeTool(tools, "djxl", "exit 0");
  EXPECT_EQ(requirementStatus(jpegXL, directories()), ToolRequirementStatus::partial);
  EXPECT_EQ(missingExecutables(jpegXL, directories()), (std::vector<std::string>{"jxlinfo", "ssimulacra2"}));
  writeFakeTool(tools, "jxlinfo", "exit 0");
  writeFakeTool(tools, "ssimulacra2", "exit 0");
  EXPECT_EQ(requirementStatus(jpegXL, directories()), ToolRequirementStatus::installed);
  EXPECT_TRUE(missingExecutables(jpegXL, directories()).empty());
  EXPECT_EQ(findExecutable("cjxl", directories()), tools / "cjxl");
}

// heif-convert stands in for heif-dec with the libheif version line; tools
// without version flags are never run.
TEST_F(InstalledToolsTest, LoadsEveryToolInTableOrderWithItsVersion) {
  auto marker = scratch / "unprobed-ran";
  // cjxl answers only once djxl has: the probes run side by side and finish out of order.
  const auto djxlAnswered = scratch / "djxl-answered";
  writeFakeTool(tools, "cjxl", "while [ ! -e '" + djxlAnswered.string() +
                                   "' ]; do sleep 0.01; done\nprintf 'cjxl v0.11.1 [AVX2]\\n'");
  writeFakeTool(tools, "djxl", "printf 'djxl v0.11.1\\n'\ntouch '" + djxlAnswered.string() + "'");
  writeFakeTool(tools, "jxlinfo", "touch '" + marker.string() + "'\nprintf '9.9.9\\n'");
  writeFakeTool(tools, "ssimulacra2", "touch '" + marker.string() + "'\nprintf '9.9.9\\n'");
  auto loaded = loadInstalledTools(requirementTitled("JPEG XL & SSIMULACRA2 metric"), directories());
  EXPECT_EQ(loaded, (std::vector<InstalledToolInfo>{{"cjxl", tools / "cjxl", "0.11.1", std::nullopt},
                                                    {"djxl", tools / "djxl", "0.11.1", std::nullopt},
                                                    {"jxlinfo", tools / "jxlinfo", std::nullopt, std::nullopt},
                                                    {"ssimulacra2", tools / "ssimulacra2", std::nullopt, std::nullopt}}));
  EXPECT_FALSE(std::filesystem::exists(marker));
  EXPECT_EQ(statusText(loaded), "Installed 0.11.1");
  for (const char* tool : {"heif-enc", "heif-convert"}) {
    writeFakeTool(tools, tool, "printf \"" + std::string(tool) + ": unrecognized option '--version'\\n " + tool +
                                   "  libheif version: 1.15.1\\n\" >&2");
  }
  const auto& libheif = requirementTitled("HEIF / AVIF / JPEG 2000 (libheif)");
  loaded = loadInstalledTools(libheif, directories());
  EXPECT_EQ(loaded, (std::vector<InstalledToolInfo>{{"heif-enc", tools / "heif-enc", "1.15.1", std::nullopt},
                                                    {"heif-dec", tools / "heif-convert", "1.15.1", "heif-convert"}}));
  EXPECT_EQ(statusText(loaded), "Installed 1.15.1");
  EXPECT_EQ(requirementStatus(libheif, directories()), ToolRequirementStatus::installed);
}

TEST_F(InstalledToolsTest, ToolsThatFailHangOrPrintNothingUsableHaveNoVersion) {
  auto hanging = writeFakeTool(tools, "hang", "printf 'no version yet'\nsleep 300");
  auto failing = writeFakeTool(tools, "fail", "exit 9");
  auto garbage = tools / "garbage";
  test::writeTextFile(garbage, "not a program");
  std::filesystem::permissions(garbage, std::filesystem::perms(0755));
  EXPECT_EQ(probeVersion("cjxl", hanging, 0.3).version, std::nullopt);
  EXPECT_EQ(probeVersion("cjxl", failing).version, std::nullopt);
  EXPECT_EQ(probeVersion("cjxl", garbage).version, std::nullopt);
  EXPECT_EQ(probeVersion("cjxl", std::nullopt), (InstalledToolInfo{"cjxl", std::nullopt, std::nullopt, std::nullopt}));
  // A version is read even when the probe exits non-zero.
  EXPECT_EQ(probeVersion("exiftool", writeFakeTool(tools, "exiftool", "printf '12.57\\n'\nexit 1")).version, "12.57");
}

TEST(ToolRequirementsLimitationsTest, KnownLimitationsNameTheBoundAndInstalledOnesAreListedOnce) {
  EXPECT_EQ(knownOlderVersionLimitations(requirementTitled("AVIF")),
            (std::vector<std::string>{
                "avifenc before 1.0 has no --qcolor: quality is passed as the equivalent --min/--max quantizer.",
                "avifenc before 1.0 cannot encode progressive AVIF."}));
  EXPECT_EQ(knownOlderVersionLimitations(requirementTitled("JPEG (libjpeg-turbo)")),
            std::vector<std::string>{"cjpeg before 3.1 reads no PNG: PNG sources are converted to PPM first."});
  EXPECT_TRUE(knownOlderVersionLimitations(requirementTitled("WebP")).empty());
  // Installed ones: cjxl and djxl share one rule; it is listed once.
  auto texts = olderVersionLimitations({found("cjxl", "0.7.0"), found("djxl", "0.7.0"), found("jxlinfo")});
  EXPECT_EQ(texts, std::vector<std::string>{"libjxl 0.7.0 cannot round-trip 16-bit images with transparency: opaque "
                                            "sources are prepared without alpha."});
  EXPECT_TRUE(olderVersionLimitations({found("cjxl", "0.11.1"), found("djxl", "0.11.1")}).empty());
}

ToolsReport sampleReport() {
  ToolsReport report;
  report.searchDirectories = {"/home/me/bin", "/usr/bin"};
  report.groups.push_back(ToolsReportGroup{
      requirementTitled("JPEG XL & SSIMULACRA2 metric"),
      {{"cjxl", std::filesystem::path("/usr/bin/cjxl"), "0.7.0", std::nullopt},
       {"djxl", std::filesystem::path("/usr/bin/djxl"), "0.7.0", std::nullopt},
       {"jxlinfo", std::filesystem::path("/usr/bin/jxlinfo"), std::nullopt, std::nullopt},
       {"ssimulacra2", std::nullopt, std::nullopt, std::nullopt}},
      ToolRequirementStatus::partial,
      "Missing ssimulacra2",
      {"libjxl 0.7.0 cannot round-trip."}});
  report.groups.push_back(ToolsReportGroup{
      requirementTitled("HEIF / AVIF / JPEG 2000 (libheif)"),
      {{"heif-enc", std::filesystem::path("/usr/bin/heif-enc"), "1.15.1", std::nullopt},
       {"heif-dec", std::filesystem::path("/usr/bin/heif-convert"), "1.15.1", "heif-convert"}},
      ToolRequirementStatus::installed,
      "Installed 1.15.1",
      {}});
  return report;
}

TEST(ToolsReportTest, TextListsToolsAndInstallCommandsOnlyForIncompleteGroups) {
  EXPECT_EQ(formatToolsReport(sampleReport()),
            "JPEG XL & SSIMULACRA2 metric: Missing ssimulacra2\n  cjxl: /usr/bin/cjxl (0.7.0)\n"
            "  djxl: /usr/bin/djxl (0.7.0)\n  jxlinfo: /usr/bin/jxlinfo\n  ssimulacra2: not found\n"
            "  Older version: libjxl 0.7.0 cannot round-trip.\n  Debian/Ubuntu: sudo apt install libjxl-tools\n"
            "  Debian/Ubuntu note: Debian packages no ssimulacra2: Quorlin's own setup (scripts/setup.sh) builds and "
            "installs it.\n  Homebrew: brew install jpeg-xl\n\n"
            "HEIF / AVIF / JPEG 2000 (libheif): Installed 1.15.1\n  heif-enc: /usr/bin/heif-enc (1.15.1)\n"
            "  heif-dec (heif-convert): /usr/bin/heif-convert (1.15.1)\n\nSearch directories:\n  /home/me/bin\n"
            "  /usr/bin\n");
}

// Compared without the line breaks and their indentation (the command-line
// tests check the layout).
TEST(ToolsReportTest, JsonCarriesTheSameReport) {
  ToolsReport report = sampleReport();
  report.groups.resize(1);
  report.groups[0].tools.resize(1);
  report.groups[0].tools.push_back({"ssimulacra2", std::nullopt, std::nullopt, std::nullopt});
  EXPECT_EQ(std::regex_replace(toolsReportJson(report), std::regex("\n *"), ""),
            R"({"groups": [{"title": "JPEG XL & SSIMULACRA2 metric","status": "partial",)"
            R"("statusText": "Missing ssimulacra2","tools": [{"name": "cjxl","displayName": "cjxl","standIn": null,)"
            R"("path": "/usr/bin/cjxl","version": "0.7.0"},{"name": "ssimulacra2","displayName": "ssimulacra2",)"
            R"("standIn": null,"path": null,"version": null}],"limitations": ["libjxl 0.7.0 cannot round-trip."],)"
            R"("install": {"debian": "sudo apt install libjxl-tools","debianNote": "Debian packages no )"
            R"(ssimulacra2: Quorlin's own setup (scripts/setup.sh) builds and installs it.","homebrew": )"
            R"("brew install jpeg-xl","buildScript": null,"note": null}}],"searchDirectories": ["/home/me/bin",)"
            R"("/usr/bin"]})");
}

TEST(ToolsReportTest, BuildsEveryGroupFromTheSearchDirectories) {
  test::ScratchDirectory scratch;
  auto tools = scratch / "tools";
  std::filesystem::create_directories(tools);
  test::writeFakeTool(tools, "cwebp", "printf '1.2.4\\n'");
  test::writeFakeTool(tools, "dwebp", "printf '1.2.4\\n'");
  test::writeFakeTool(tools, "avifenc", "printf 'Version: 0.11.1\\n'");
  ToolsReport report = buildToolsReport({tools.string()});
  ASSERT_EQ(report.groups.size(), 7u);
  EXPECT_EQ(report.searchDirectories, std::vector<std::string>{tools.string()});
  std::vector<std::string> texts;
  for (const auto& group : report.groups) texts.push_back(group.requirement.title + ": " + group.statusText);
  EXPECT_EQ(texts, (std::vector<std::string>{"JPEG XL & SSIMULACRA2 metric: Not installed", "JPEGli: Not installed",
                                             "AVIF: Missing avifdec", "WebP: Installed 1.2.4",
                                             "HEIF / AVIF / JPEG 2000 (libheif): Not installed",
                                             "JPEG (libjpeg-turbo): Not installed", "ExifTool (metadata): Not installed"}));
  EXPECT_EQ(report.groups[2].status, ToolRequirementStatus::partial);
  EXPECT_EQ(report.groups[2].limitations.size(), 2u);  // avifenc 0.11.1
  std::string text = formatToolsReport(report);
  EXPECT_NE(text.find("JPEGli: Not installed\n  cjpegli: not found\n  djpegli: not found\n"), std::string::npos);
  EXPECT_NE(text.find("  Build script: brew install git cmake"), std::string::npos);
  EXPECT_NE(text.find("\n    cd jpegli\n"), std::string::npos);  // script lines continue indented
}

}  // namespace
}  // namespace quorlin
