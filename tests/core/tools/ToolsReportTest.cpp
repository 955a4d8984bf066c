#include "core/tools/ToolsReport.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace quorlin {
namespace {

const ToolRequirement& requirementTitled(std::string_view title) {
  for (const auto& requirement : allToolRequirements()) {
    if (requirement.title == title) return requirement;
  }
  throw std::runtime_error("no requirement " + std::string(title));
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
            "JPEG XL & SSIMULACRA2 metric: Missing ssimulacra2\n"
            "  cjxl: /usr/bin/cjxl (0.7.0)\n"
            "  djxl: /usr/bin/djxl (0.7.0)\n"
            "  jxlinfo: /usr/bin/jxlinfo\n"
            "  ssimulacra2: not found\n"
            "  Older version: libjxl 0.7.0 cannot round-trip.\n"
            "  Debian/Ubuntu: sudo apt install libjxl-tools\n"
            "  Debian/Ubuntu note: Debian packages no ssimulacra2: Quorlin's own setup (scripts/setup.sh) builds and "
            "installs it.\n"
            "  Homebrew: brew install jpeg-xl\n"
            "\n"
            "HEIF / AVIF / JPEG 2000 (libheif): Installed 1.15.1\n"
            "  heif-enc: /usr/bin/heif-enc (1.15.1)\n"
            "  heif-dec (heif-convert): /usr/bin/heif-convert (1.15.1)\n"
            "\n"
            "Search directories:\n"
            "  /home/me/bin\n"
            "  /usr/bin\n");
}

TEST(ToolsReportTest, JsonCarriesTheSameReport) {
  ToolsReport report = sampleReport();
  report.groups.resize(1);
  report.groups[0].tools.resize(1);
  report.groups[0].tools.push_back({"ssimulacra2", std::nullopt, std::nullopt, std::nullopt});
  EXPECT_EQ(toolsReportJson(report),
            R"({
  "groups": [
    {
      "title": "JPEG XL & SSIMULACRA2 metric",
      "status": "partial",
      "statusText": "Missing ssimulacra2",
      "tools": [
        {
          "name": "cjxl",
          "displayName": "cjxl",
          "standIn": null,
          "path": "/usr/bin/cjxl",
          "version": "0.7.0"
        },
        {
          "name": "ssimulacra2",
          "displayName": "ssimulacra2",
          "standIn": null,
          "path": null,
          "version": null
        }
      ],
      "limitations": [
        "libjxl 0.7.0 cannot round-trip."
      ],
      "install": {
        "debian": "sudo apt install libjxl-tools",
        "debianNote": "Debian packages no ssimulacra2: Quorlin's own setup (scripts/setup.sh) builds and installs it.",
        "homebrew": "brew install jpeg-xl",
        "buildScript": null,
        "note": null
      }
    }
  ],
  "searchDirectories": [
    "/home/me/bin",
    "/usr/bin"
  ]
}
)");
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
