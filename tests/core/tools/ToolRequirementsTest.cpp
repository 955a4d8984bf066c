#include "core/tools/ToolRequirements.h"

#include <gtest/gtest.h>

#include <set>

#include "support/TestSupport.h"

namespace quorlin {
namespace {

using test::writeFakeTool;

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

TEST_F(InstalledToolsTest, LoadsEveryToolInTableOrderWithItsVersion) {
  auto marker = scratch / "unprobed-ran";
  writeFakeTool(tools, "cjxl", "sleep 0.2\nprintf 'cjxl v0.11.1 [AVX2]\\n'");
  writeFakeTool(tools, "djxl", "printf 'djxl v0.11.1\\n'");
  writeFakeTool(tools, "jxlinfo", "touch '" + marker.string() + "'\nprintf '9.9.9\\n'");
  writeFakeTool(tools, "ssimulacra2", "touch '" + marker.string() + "'\nprintf '9.9.9\\n'");
  auto loaded = loadInstalledTools(requirementTitled("JPEG XL & SSIMULACRA2 metric"), directories());
  ASSERT_EQ(loaded.size(), 4u);
  EXPECT_EQ(loaded[0], (InstalledToolInfo{"cjxl", tools / "cjxl", "0.11.1", std::nullopt}));
  EXPECT_EQ(loaded[1], (InstalledToolInfo{"djxl", tools / "djxl", "0.11.1", std::nullopt}));
  EXPECT_EQ(loaded[2], (InstalledToolInfo{"jxlinfo", tools / "jxlinfo", std::nullopt, std::nullopt}));
  EXPECT_EQ(loaded[3], (InstalledToolInfo{"ssimulacra2", tools / "ssimulacra2", std::nullopt, std::nullopt}));
  EXPECT_FALSE(std::filesystem::exists(marker));  // tools without version flags are never run
  EXPECT_EQ(statusText(loaded), "Installed 0.11.1");
}

TEST_F(InstalledToolsTest, HeifConvertStandsInForHeifDecWithTheLibheifVersionLine) {
  writeFakeTool(tools, "heif-enc",
                "printf \"heif-enc: unrecognized option '--version'\\n heif-enc  libheif version: 1.15.1\\n\" >&2");
  writeFakeTool(tools, "heif-convert",
                "printf \"heif-convert: unrecognized option '--version'\\n heif-convert  libheif version: 1.15.1\\n\" >&2");
  const auto& libheif = requirementTitled("HEIF / AVIF / JPEG 2000 (libheif)");
  auto loaded = loadInstalledTools(libheif, directories());
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[0], (InstalledToolInfo{"heif-enc", tools / "heif-enc", "1.15.1", std::nullopt}));
  EXPECT_EQ(loaded[1], (InstalledToolInfo{"heif-dec", tools / "heif-convert", "1.15.1", "heif-convert"}));
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

}  // namespace
}  // namespace quorlin
