#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/TestImages.h"
#include "support/TestSupport.h"

extern char** environ;

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using vips::VImage;

struct RunResult {
  int status = -1;
  std::string output;
  std::string errors;
};

class InfoCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cli = test::buildDirectory() / "src" / "cli" / "quorlin-cli";
    if (!fs::exists(cli)) GTEST_SKIP() << "quorlin-cli is not built at " << cli;
  }

  // Runs quorlin-cli with `arguments`, its output captured in files.
  RunResult run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {cli.string(), "info"});
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    fs::path out = scratch / "stdout.txt", err = scratch / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    RunResult result;
    if (posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    result.output = test::readTextFile(out);
    result.errors = test::readTextFile(err);
    return result;
  }

  test::ScratchDirectory scratch;
  fs::path cli;
};

TEST_F(InfoCommandTest, PrintsTheSummaryLineThenTheSpecLines) {
  test::makeTestPicture(6, 4, test::TestDepth::sixteen, 3, test::TestAlpha::varying)
      .tiffsave((scratch / "scan.tif").c_str(), VImage::option()->set("resunit", VIPS_FOREIGN_TIFF_RESUNIT_INCH));
  auto size = fs::file_size(scratch / "scan.tif");
  ASSERT_LT(size, 1000u);  // shown in bytes
  std::string bytes = std::to_string(size) + " bytes";
  RunResult result = run({(scratch / "scan.tif").string()});
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_EQ(result.errors, "");
  // libvips writes 1 pixel per millimetre when nothing else is set: 25.4 dpi.
  EXPECT_EQ(result.output, "6 x 4 px  |  16-bit + alpha  |  profile unknown  |  " + bytes + "\n" +
                               "File Size: " + bytes + "\n" +
                               "Dimensions: 6 x 4 px\n"
                               "Format: TIFF image\n"
                               "Bit Depth: 16-bit\n"
                               "Color Model: RGB\n"
                               "Color Profile: --\n"
                               "Alpha: yes\n"
                               "DPI: 25\n"
                               "Orientation: 1\n");
}

TEST_F(InfoCommandTest, JSONHasEveryFieldWithNullForAbsentOnes) {
  test::makeTestPicture(3, 2).pngsave((scratch / "tiny.png").c_str());
  auto size = std::to_string(fs::file_size(scratch / "tiny.png"));
  RunResult result = run({"--json", (scratch / "tiny.png").string()});
  EXPECT_EQ(result.status, 0) << result.errors;
  // pngsave states 1 pixel per millimetre: 1000 px/m is 25.4 dpi exactly.
  EXPECT_EQ(result.output,
            "{\n"
            "  \"pixelWidth\": 3,\n"
            "  \"pixelHeight\": 2,\n"
            "  \"formatDescription\": \"PNG image\",\n"
            "  \"bitDepth\": 8,\n"
            "  \"colorModel\": \"RGB\",\n"
            "  \"colorProfileName\": null,\n"
            "  \"contentHeadroom\": null,\n"
            "  \"hasAlpha\": false,\n"
            "  \"orientation\": null,\n"
            "  \"dpiWidth\": 25.4,\n"
            "  \"dpiHeight\": 25.4,\n"
            "  \"isJPEG\": false,\n"
            "  \"summaryLine\": \"3 x 2 px  |  8-bit  |  profile unknown  |  " + size + " bytes\",\n"
            "  \"specLines\": [\n"
            "    \"File Size: " + size + " bytes\",\n"
            "    \"Dimensions: 3 x 2 px\",\n"
            "    \"Format: PNG image\",\n"
            "    \"Bit Depth: 8-bit\",\n"
            "    \"Color Model: RGB\",\n"
            "    \"Color Profile: --\",\n"
            "    \"Alpha: no\",\n"
            "    \"DPI: 25\"\n"
            "  ]\n"
            "}\n");
}

TEST_F(InfoCommandTest, UnreadableSourceGivesTheUnreadableImageMessageAndStatusTwo) {
  test::writeTextFile(scratch / "holiday \"final\".png", "not a picture");
  RunResult result = run({(scratch / "holiday \"final\".png").string(), "--prepare", (scratch / "out").string()});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.errors, "Could not read decoded image: holiday \"final\".png.\nNot an image format that can be read.\n");
  EXPECT_FALSE(fs::exists(scratch / "out"));
}

TEST_F(InfoCommandTest, PrepareWritesOnlySourcePNGIntoTheDirectory) {
  test::makeTestPicture(10, 5).jpegsave((scratch / "photo.jpg").c_str());
  fs::path out = scratch / "prepared here";
  RunResult result = run({(scratch / "photo.jpg").string(), "--prepare", out.string()});
  EXPECT_EQ(result.status, 0) << result.errors;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(out)) names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"source.png"});
  auto header = test::readPNGHeader(out / "source.png");
  EXPECT_EQ(header.width, 10);
  EXPECT_EQ(header.height, 5);
  EXPECT_EQ(header.bitDepth, 8);  // an 8-bit JPEG keeps its precision
  EXPECT_EQ(header.colorType, 2);
}

TEST_F(InfoCommandTest, UsageErrorsExitWithStatusTwo) {
  EXPECT_EQ(run({}).status, 2);
  EXPECT_EQ(run({"--json"}).status, 2);
  EXPECT_EQ(run({"a.png", "b.png"}).status, 2);
  RunResult unknown = run({"a.png", "--verbose"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.errors.find("unknown option '--verbose'"), std::string::npos);
  RunResult help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.output.starts_with("usage: quorlin-cli info SOURCE"));
}

}  // namespace
}  // namespace quorlin
