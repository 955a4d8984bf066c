#include "core/tools/ToolRequirements.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "core/tools/ToolsReport.h"
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

// heif-convert stands in for heif-dec with the libheif version line; tools
// without version flags are never run.
TEST_F(InstalledToolsTest, LoadsEveryToolInTableOrderWithItsVersion) {
  auto marker = scratch / "unprobed-ran";
  writeFakeTool(tools, "cjxl", "sleep 0.2\nprintf 'cjxl v0.11.1 [AVX2]\\n'");
  writeFakeTool(tools, "djxl", "printf 'djxl v0.11.1\\n'");
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
