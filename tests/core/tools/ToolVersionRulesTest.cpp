#include "core/tools/ToolVersionRules.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "core/tools/ToolRequirements.h"
#include "core/tools/ToolVersion.h"
#include "core/tools/ToolVersionCache.h"
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
