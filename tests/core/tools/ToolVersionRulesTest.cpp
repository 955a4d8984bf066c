#include "core/tools/ToolVersionRules.h"

#include <gtest/gtest.h>

#include <set>

#include "core/tools/ToolRequirements.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

std::optional<ToolVersion> v(const char* text) { return ToolVersion::fromText(text); }
const std::optional<ToolVersion> unknown = std::nullopt;

TEST(ToolVersionRulesTest, TableHasOneWellFormedRowPerRule) {
  auto rules = allToolVersionRules();
  std::set<ToolRuleId> ids;
  for (const auto& rule : rules) {
    ids.insert(rule.id);
    EXPECT_EQ(&toolVersionRule(rule.id), &rule);
    EXPECT_FALSE(rule.tools.empty());
    EXPECT_FALSE(rule.difference.empty());
    EXPECT_FALSE(rule.action.empty());
    EXPECT_EQ(rule.applicability == RuleApplicability::versionsBelow, !rule.versionBound.empty());
    if (!rule.versionBound.empty()) {
      EXPECT_TRUE(ToolVersion::fromText(rule.versionBound)) << rule.versionBound;
    }
    if (!rule.message.empty() && rule.applicability == RuleApplicability::versionsBelow) {
      EXPECT_NE(rule.message.find("VERSION"), std::string_view::npos);
    }
    if (!rule.limitation.empty()) {
      EXPECT_NE(rule.limitation.find("VERSION"), std::string_view::npos);
    }
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
  auto first = (scratch / "first").string();
  auto second = (scratch / "second").string();
  std::filesystem::create_directories(first);
  std::filesystem::create_directories(second);
  EXPECT_EQ(standInsFor("heif-dec"), std::vector<std::string_view>{"heif-convert"});
  EXPECT_TRUE(standInsFor("heif-enc").empty());

  ExecutableURLCache cache;
  EXPECT_EQ(locateTool(cache, "heif-dec", {first, second}), std::nullopt);
  cache.invalidate();

  test::writeFakeTool(first, "heif-convert", "exit 0");
  auto standIn = findTool("heif-dec", {first, second});
  ASSERT_TRUE(standIn);
  EXPECT_TRUE(standIn->isStandIn());
  EXPECT_EQ(standIn->name, "heif-convert");
  EXPECT_EQ(standIn->path, std::filesystem::path(first) / "heif-convert");
  EXPECT_EQ(standIn->displayName(), "heif-dec (heif-convert)");
  auto cached = locateTool(cache, "heif-dec", {first, second});
  ASSERT_TRUE(cached);
  EXPECT_EQ(cached->name, "heif-convert");

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

}  // namespace
}  // namespace quorlin
