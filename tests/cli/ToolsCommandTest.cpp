// Runs the built quorlin-cli as a child, the way a user does.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/tools/ChildProcess.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

struct CliRun {
  int exitStatus;
  std::string standardOutput;
  std::string standardError;
};

class ToolsCommandTest : public ::testing::Test {
 protected:
  ToolsCommandTest() {
    std::filesystem::create_directories(tools);
    std::filesystem::create_directories(home / "bin");
    // Every required executable, so that nothing installed on this machine shows
    // through: the custom directory is searched first.
    auto say = [&](std::string_view name, std::string_view line, bool onStandardError = false) {
      test::writeFakeTool(tools, name, "printf '" + std::string(line) + "\\n'" + (onStandardError ? " >&2" : ""));
    };
    say("cjxl", "cjxl v0.7.0 [AVX2]");
    say("djxl", "djxl v0.7.0 [AVX2]");
    say("jxlinfo", "9.9.9");
    say("ssimulacra2", "9.9.9");
    say("cjpegli", "9.9.9");
    say("djpegli", "9.9.9");
    say("avifenc", "Version: 0.11.1 (aom [enc/dec]:v3.6.0)");
    say("avifdec", "Version: 0.11.1 (dav1d [dec]:1.0.0)");
    say("cwebp", "1.2.4");
    say("dwebp", "1.2.4");
    say("heif-enc", "1.19.7");
    say("heif-dec", "1.19.7");
    say("cjpeg", "libjpeg-turbo version 3.1.0 (build 20241217)", true);
    say("exiftool", "13.10");
  }

  CliRun run(std::vector<std::string> arguments) {
    ProcessOutputCollector standardOutput;
    ProcessOutputCollector standardError;
    std::vector<std::string> environment = environmentWithPath("/usr/bin:/bin");
    std::erase_if(environment, [](const std::string& entry) { return entry.starts_with("HOME="); });
    environment.push_back("HOME=" + home.string());
    ChildProcessRequest request{test::buildDirectory() / "src/cli/quorlin-cli", std::move(arguments), "", environment,
                          ChildStandardInput::nullDevice};
    ChildProcessOutcome outcome = runChildProcess(request, standardOutput, standardError);
    EXPECT_TRUE(outcome.hasLaunched()) << "build quorlin-cli first";
    return {outcome.exitStatus, standardOutput.text(), standardError.text()};
  }

  test::ScratchDirectory scratch;
  std::filesystem::path tools = scratch / "fake tools";
  std::filesystem::path home = scratch / "home";
};

TEST_F(ToolsCommandTest, JsonReportsEveryGroupFromTheToolDirectoryFirst) {
  CliRun result = run({"tools", "--tool-dir", tools.string(), "--json"});
  ASSERT_EQ(result.exitStatus, 0) << result.standardError;
  const std::string& json = result.standardOutput;
  for (const char* expected : {
           R"json("title": "JPEG XL & SSIMULACRA2 metric",
      "status": "installed",
      "statusText": "Installed 0.7.0",)json",
           R"json("title": "JPEGli",
      "status": "installed",
      "statusText": "Installed",)json",
           R"json("statusText": "Installed 0.11.1",)json",
           R"json("statusText": "Installed 1.2.4",)json",
           R"json("title": "HEIF / AVIF / JPEG 2000 (libheif)",
      "status": "installed",
      "statusText": "Installed 1.19.7",)json",
           R"json("statusText": "Installed 3.1.0",)json",
           R"json("statusText": "Installed 13.10",)json",
           R"json("limitations": [
        "avifenc 0.11.1 has no --qcolor: quality is passed as the equivalent --min/--max quantizer.",
        "avifenc 0.11.1 cannot encode progressive AVIF."
      ],)json",
       }) {
    EXPECT_NE(json.find(expected), std::string::npos) << expected << "\nin\n" << json;
  }
  EXPECT_NE(json.find("\"path\": \"" + (tools / "heif-dec").string() + "\""), std::string::npos);
  // The tool directory comes first, then home's bin and the other built-in directories.
  EXPECT_NE(json.find("\"searchDirectories\": [\n    \"" + tools.string() + "\",\n    \"" + home.string() +
                      "/bin\",\n    \"/opt/homebrew/bin\","),
            std::string::npos);
  EXPECT_EQ(json.find("\"install\": {"), std::string::npos);  // all installed: no install commands
  EXPECT_TRUE(json.starts_with("{\n") && json.ends_with("}\n"));
}

TEST_F(ToolsCommandTest, LaterToolDirectoriesComeAfterEarlierOnes) {
  auto other = scratch / "other";
  std::filesystem::create_directories(other);
  test::writeFakeTool(other, "cwebp", "printf '1.5.0\\n'");
  CliRun result = run({"tools", "--tool-dir", other.string(), "--tool-dir=" + tools.string()});
  ASSERT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_NE(result.standardOutput.find("WebP: Installed\n  cwebp: " + (other / "cwebp").string() + " (1.5.0)\n  dwebp: " +
                                       (tools / "dwebp").string() + " (1.2.4)\n"),
            std::string::npos)
      << result.standardOutput;
}

TEST_F(ToolsCommandTest, TextReportShowsLimitationsFoundOnThisMachine) {
  CliRun result = run({"tools", "--tool-dir", tools.string()});
  ASSERT_EQ(result.exitStatus, 0);
  EXPECT_NE(result.standardOutput.find("JPEG XL & SSIMULACRA2 metric: Installed 0.7.0\n  cjxl: " +
                                       (tools / "cjxl").string() + " (0.7.0)\n"),
            std::string::npos);
  EXPECT_NE(result.standardOutput.find("  Older version: libjxl 0.7.0 cannot round-trip"), std::string::npos);
  EXPECT_EQ(result.standardOutput.find("heif-enc 1.19.7 cannot"), std::string::npos);
  EXPECT_EQ(result.standardError, "");
}

TEST_F(ToolsCommandTest, UsageErrorsExitWithTwo) {
  CliRun missingDirectory = run({"tools", "--tool-dir"});
  EXPECT_EQ(missingDirectory.exitStatus, 2);
  EXPECT_NE(missingDirectory.standardError.find("--tool-dir needs a directory"), std::string::npos);
  EXPECT_EQ(missingDirectory.standardOutput, "");
  CliRun unknown = run({"tools", "--jsn"});
  EXPECT_EQ(unknown.exitStatus, 2);
  EXPECT_NE(unknown.standardError.find("unknown option '--jsn'"), std::string::npos);
  CliRun help = run({"tools", "--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_TRUE(help.standardOutput.starts_with("usage: quorlin-cli tools"));
  CliRun version = run({"--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.standardOutput, "quorlin-cli " QUORLIN_VERSION "\n");
}

}  // namespace
}  // namespace quorlin
