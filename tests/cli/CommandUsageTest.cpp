// The commands that answer at once: every subcommand's usage errors (status
// 2, "quorlin-cli CMD: " and the reason, then the usage, all on stderr; --help
// prints the usage on stdout); the panel fields walked over the codec catalog
// (each codec takes exactly its catalog settings, at exactly their ranges);
// info (the source description lines as text and JSON, and --prepare); and
// tools (which tool directories win, versions and limitations, with fake tools
// for every required executable so that nothing installed shows through).
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <variant>

#include "CliHarness.h"
#include "cli/CliArguments.h"
#include "cli/CompareOptions.h"
#include "support/CodecParameters.h"

namespace quorlin::test {
namespace {

using CommandUsageTest = CliTest;

TEST_F(CommandUsageTest, BadArgumentsExitTwoWithTheReasonAndTheUsage) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"compare"}, "no source image given"},
      {{"compare", "a.png", "b.png"}, "only one source can be given"},
      {{"compare", "a.png", "--fast"}, "unknown option '--fast'"},
      {{"compare", "-x.png"}, "unknown option '-x.png'"},
      {{"compare", "a.png", "--json=yes"}, "--json takes no value"},
      {{"compare", "a.png", "--", "--help"}, "only one source can be given"},
      {{"compare", "a.png", "--panel"}, "--panel needs a value"},
      {{"compare", "a.png", "--panel", "png"}, "unknown codec 'png'"},
      {{"compare", "a.png", "--panel", "webp:speed=3"},
       "unknown panel field 'speed' for WebP (fields: effort, quality, isWebPLossless, webPLosslessLevel)"},
      {{"compare", "a.png", "--panel", "webp:quality=high"}, "quality must be a whole number from 1 to 100, not 'high'"},
      {{"compare", "a.png", "--panel", "webp:quality"}, "panel setting 'quality' is not FIELD=VALUE"},
      {{"compare", "a.png", "--panel", "jpeg-turbo:chromaSubsampling=auto"},
       "must be Auto, 444, 440, 422 or 420, not 'auto'"},
      {{"compare", "a.png", "--panel", "jxl", "--panel", "avif", "--panel", "webp", "--panel", "jpegli", "--panel",
        "jxl"},
       "at most four panels can be compared"},
      {{"compare", "a.png", "--target", "0"}, "--target must be a score above 0 and at most 100, not '0'"},
      {{"compare", "a.png", "--target", "eighty"}, "--target must be a score above 0 and at most 100, not 'eighty'"},
      {{"compare", "a.png", "--threads", "0"}, "--threads must be a whole number from 1 to 1024, not '0'"},
      {{"compare", "a.png", "--threads", "two"}, "--threads must be a whole number from 1 to 1024, not 'two'"},
      {{"compare", "a.png", "--tool-timeout", "0"}, "--tool-timeout must be a number of seconds above 0, not '0'"},
      {{"rd", "a.png", "--ladder", "1:30,40"}, "--ladder must be a panel number and its values, e.g. 2=30,50,70,90"},
      {{"rd", "a.png", "--ladder", "5=30"}, "--ladder must be a panel number"},
      {{"rd", "a.png", "--ladder", "3=30,x"}, "not '3=30,x'"},
      {{"rd", "a.png", "--panel", "webp", "--ladder", "2=30"}, "--ladder names panel 2, but there are 1 panels"},
      {{"rd", "a.png", "--panel", "webp", "--ladder", "1=50.5"},
       "qualities for WebP must be whole numbers from 1 to 100"},
      {{"rd", "a.png", "--ladder", "1=0,1"}, "distances for JPEG XL must be above 0 and at most 25"},
      {{"rd", "a.png", "--targets", "50,101"}, "--targets must be scores above 0 and at most 100"},
      {{"rd", "a.png", "--targets", "50", "--ladder", "1=2"}, "--targets and --ladder cannot be combined"},
      {{"rd", "a.png", "--anchor", "5"}, "--anchor names panel 5, but there are 4 panels"},
      {{"rd", "a.png", "--anchor", "0"}, "--anchor must be a panel number, not '0'"},
      {{"rd", "a.png", "--csv"}, "--csv needs a value"},
      {{"rd", "--", "-a.png", "--serial"}, "only one source can be given"},
      {{"info"}, ""},
      {{"info", "--json"}, ""},
      {{"info", "a.png", "b.png"}, "only one source can be given"},
      {{"info", "a.png", "--verbose"}, "unknown option '--verbose'"},
      {{"tools", "--tool-dir"}, "--tool-dir needs a directory"},
      {{"tools", "--jsn"}, "unknown option '--jsn'"},
  };
  for (const auto& [arguments, message] : cases) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    const ProgramRun result = run(arguments);
    EXPECT_EQ(result.status, 2);
    const std::string prefix = "quorlin-cli " + arguments[0];
    EXPECT_TRUE(message.empty() || result.errors.starts_with(prefix + ": ")) << result.errors;
    EXPECT_NE(result.errors.find(message), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("usage: " + prefix + (arguments[0] == "tools" ? "" : " SOURCE")), std::string::npos);
    EXPECT_EQ(result.output, "");
  }
  for (const char* command : {"compare", "info", "tools"}) {
    const ProgramRun help = run({command, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.output.starts_with("usage: quorlin-cli " + std::string(command))) << help.output;
    if (command == std::string("compare")) {
      expectContains(help.output, {"--panel PANEL]...", "--target SCORE]", "--serial]", "--tool-dir DIR]..."});
    }
  }
  const ProgramRun version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output, "quorlin-cli " QUORLIN_VERSION "\n");
}

class PanelArgumentTest : public ::testing::TestWithParam<CompressionCodec> {
 protected:
  // The panel's settings signature, or nothing when the argument is refused.
  static std::optional<std::string> parsed(std::string_view field, std::string_view value) {
    const std::string text = std::string(codecInfo(GetParam()).cliKey) + ":" + std::string(field) + "=" +
                             std::string(value);
    auto panel = cli::parsePanelArgument(text);
    if (!std::holds_alternative<CodecPanel>(panel)) return std::nullopt;
    return std::get<CodecPanel>(panel).settingsSignature();
  }
};

// Also: the usage lists the codec with its first field, on lines of at most 88 columns.
TEST_P(PanelArgumentTest, TakesExactlyTheCatalogSettingsAtTheirEdges) {
  const auto settings = panelSettings(GetParam());
  std::set<std::string_view> ownFields;
  for (const PanelSetting& setting : settings) {
    SCOPED_TRACE(setting.field);
    ownFields.insert(setting.field);
    const bool numeric = setting.kind == PanelSettingKind::wholeNumber || setting.kind == PanelSettingKind::number;
    const bool flag = setting.kind == PanelSettingKind::flag;
    EXPECT_FALSE(numeric && parsed(setting.field, std::to_string(setting.range.lowerBound - 1)));
    for (std::string_view choice : setting.choices) EXPECT_TRUE(parsed(setting.field, choice)) << choice;
    const std::string low = numeric ? std::to_string(setting.range.lowerBound) : flag ? "false" : std::string(setting.choices.front());
    const std::string high = numeric ? std::to_string(setting.range.upperBound) : flag ? "true" : std::string(setting.choices.back());
    auto atLow = parsed(setting.field, low), atHigh = parsed(setting.field, high);
    ASSERT_TRUE(atLow && atHigh);
    EXPECT_NE(*atLow, *atHigh) << "the value must reach the panel";
    EXPECT_FALSE(parsed(setting.field, numeric ? std::to_string(setting.range.upperBound + 1) : flag ? "maybe" : "x"));
  }
  for (CompressionCodec other : allCompressionCodecs()) {
    for (const PanelSetting& setting : panelSettings(other)) {
      EXPECT_FALSE(!ownFields.contains(setting.field) && parsed(setting.field, "1")) << setting.field;
    }
  }
  const std::string usage = cli::compareUsage();
  const std::size_t at = usage.find("\n  " + std::string(codecInfo(GetParam()).cliKey) + " ");
  ASSERT_NE(at, std::string::npos) << usage;
  EXPECT_NE(usage.find(std::string(settings.front().field) + "=", at), std::string::npos);
  for (std::size_t start = 0, end; (end = usage.find('\n', start)) != std::string::npos; start = end + 1) {
    EXPECT_LE(end - start, 88u) << usage.substr(start, end - start);
  }
}

INSTANTIATE_TEST_SUITE_P(Catalog, PanelArgumentTest, catalogCodecs(), codecParameterName);

using InfoCommandTest = CliTest;

TEST_F(InfoCommandTest, TextAndJSONHoldEveryFieldAndPrepareWritesOnlySourcePNG) {
  makeTestPicture(3, 2).pngsave((scratch / "tiny.png").c_str());
  auto size = std::to_string(fs::file_size(scratch / "tiny.png"));
  // Text: the summary line, then the description lines (their texts are the engine's).
  const std::string summary = "3 x 2 px  |  8-bit  |  profile unknown  |  " + size + " bytes";
  const std::vector<std::string> lines = {"File Size: " + size + " bytes", "Dimensions: 3 x 2 px", "Format: PNG image",
                                          "Bit Depth: 8-bit", "Color Model: RGB", "Color Profile: --", "Alpha: no",
                                          "DPI: 25"};
  ProgramRun text = run({"info", (scratch / "tiny.png").string()});
  EXPECT_EQ(text.status, 0) << text.errors;
  EXPECT_EQ(text.errors, "");
  std::string expected = summary + "\n", quoted;  // quoted: the description lines as a JSON array
  for (const auto& line : lines) expected += line + "\n", quoted += (quoted.empty() ? "\n    \"" : ",\n    \"") + line + "\"";
  EXPECT_EQ(text.output, expected);
  // pngsave states 1 pixel per millimetre: 1000 px/m is 25.4 dpi exactly; absent fields are null.
  ProgramRun result = run({"info", "--json", (scratch / "tiny.png").string()});
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_EQ(result.output, "{\n  \"pixelWidth\": 3,\n  \"pixelHeight\": 2,\n  \"formatDescription\": \"PNG image\",\n"
                           "  \"bitDepth\": 8,\n  \"colorModel\": \"RGB\",\n  \"colorProfileName\": null,\n"
                           "  \"contentHeadroom\": null,\n  \"hasAlpha\": false,\n  \"orientation\": null,\n"
                           "  \"dpiWidth\": 25.4,\n  \"dpiHeight\": 25.4,\n  \"isJPEG\": false,\n"
                           "  \"summaryLine\": \"" + summary + "\",\n  \"specLines\": [" + quoted + "\n  ]\n}\n");

  makeTestPicture(10, 5).jpegsave((scratch / "photo.jpg").c_str());
  fs::path out = scratch / "prepared here";
  ProgramRun prepared = run({"info", (scratch / "photo.jpg").string(), "--prepare", out.string()});
  EXPECT_EQ(prepared.status, 0) << prepared.errors;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(out)) names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"source.png"});
  // An 8-bit JPEG keeps its precision: 8-bit RGB (colour type 2).
  const auto header = readPNGHeader(out / "source.png");
  EXPECT_EQ(std::tuple(header.width, header.height, header.bitDepth, header.colorType), std::tuple(10, 5, 8, 2));
}

class ToolsCommandTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    fs::create_directories(home / "bin");
    const std::pair<const char*, const char*> versions[] = {
        {"cjxl", "cjxl v0.7.0 [AVX2]"}, {"djxl", "djxl v0.7.0 [AVX2]"}, {"jxlinfo", "9.9.9"}, {"ssimulacra2", "9.9.9"},
        {"cjpegli", "9.9.9"}, {"djpegli", "9.9.9"}, {"avifenc", "Version: 0.11.1 (aom [enc/dec]:v3.6.0)"},
        {"avifdec", "Version: 0.11.1 (dav1d [dec]:1.0.0)"}, {"cwebp", "1.2.4"}, {"dwebp", "1.2.4"},
        {"heif-enc", "1.19.7"}, {"heif-dec", "1.19.7"}, {"exiftool", "13.10"}};
    for (auto [name, line] : versions) writeFakeTool(tools, name, "printf '" + std::string(line) + "\\n'");
    writeFakeTool(tools, "cjpeg", "printf 'libjpeg-turbo version 3.1.0 (build 20241217)\\n' >&2");
  }
  ProgramRun toolsCommand(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), "tools");
    return finish(start(arguments, cli, {"PATH=/usr/bin:/bin", "HOME=" + home.string()}));
  }
  fs::path home = scratch / "home";
};

TEST_F(ToolsCommandTest, JsonAndTextReportEveryGroupFromTheToolDirectoriesInOrder) {
  ProgramRun result = toolsCommand({"--tool-dir", tools, "--json"});
  ASSERT_EQ(result.status, 0) << result.errors;
  expectContains(result.output, {
      R"json("title": "JPEG XL & SSIMULACRA2 metric",
      "status": "installed",
      "statusText": "Installed 0.7.0",)json",
      R"json("statusText": "Installed",)json", R"json("statusText": "Installed 1.19.7",)json",
      R"json("statusText": "Installed 0.11.1",)json", R"json("statusText": "Installed 1.2.4",)json",
      R"json("statusText": "Installed 3.1.0",)json", R"json("statusText": "Installed 13.10",)json",
      R"json("limitations": [
        "avifenc 0.11.1 has no --qcolor: quality is passed as the equivalent --min/--max quantizer.",
        "avifenc 0.11.1 cannot encode progressive AVIF."
      ],)json",
      "\"path\": \"" + (tools / "heif-dec").string() + "\"",
      // The tool directory comes first, then home's bin and the other built-in directories.
      "\"searchDirectories\": [\n    \"" + tools.string() + "\",\n    \"" + home.string() +
          "/bin\",\n    \"/opt/homebrew/bin\","});
  EXPECT_EQ(result.output.find("\"install\": {"), std::string::npos);  // all installed: no install commands
  EXPECT_TRUE(result.output.starts_with("{\n") && result.output.ends_with("}\n"));

  // Text: a later --tool-dir counts after an earlier one; limitations are those
  // of the versions found.
  const fs::path other = scratch / "other";
  writeFakeTool(other, "cwebp", "printf '1.5.0\\n'");
  result = toolsCommand({"--tool-dir", other, "--tool-dir=" + tools.string()});
  ASSERT_EQ(result.status, 0) << result.errors;
  expectContains(result.output,
                 {"WebP: Installed\n  cwebp: " + (other / "cwebp").string() + " (1.5.0)\n  dwebp: " +
                      (tools / "dwebp").string() + " (1.2.4)\n",
                  "JPEG XL & SSIMULACRA2 metric: Installed 0.7.0\n  cjxl: " + (tools / "cjxl").string() + " (0.7.0)\n",
                  "  Older version: libjxl 0.7.0 cannot round-trip"});
  EXPECT_EQ(result.output.find("heif-enc 1.19.7 cannot"), std::string::npos);
  EXPECT_EQ(result.errors, "");
}

}  // namespace
}  // namespace quorlin::test
