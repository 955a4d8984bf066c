// quorlin-cli tools: which tool directories win, versions and limitations,
// with fake tools for every required executable so that nothing installed on
// this machine shows through (the tool directory is searched first).
#include "CliHarness.h"

namespace quorlin::test {
namespace {

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
      R"json("title": "JPEGli",
      "status": "installed",
      "statusText": "Installed",)json",
      R"json("title": "HEIF / AVIF / JPEG 2000 (libheif)",
      "status": "installed",
      "statusText": "Installed 1.19.7",)json",
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
