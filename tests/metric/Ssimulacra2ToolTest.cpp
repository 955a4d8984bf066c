// The ssimulacra2 program as the app runs it: arguments, output format, exit
// codes and one-line error messages.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "MetricTestImages.h"
#include "support/TestSupport.h"

extern char** environ;

namespace quorlin::metric {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int exitCode = -1;
  std::string out, err;
};

fs::path toolPath() { return quorlin::test::buildDirectory() / "src" / "metric" / "ssimulacra2"; }

// Runs the tool with `arguments` (and extra NAME=VALUE environment entries),
// capturing both streams through files.
ToolRun runTool(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment = {}) {
  quorlin::test::ScratchDirectory scratch;
  const fs::path outFile = scratch / "stdout", errFile = scratch / "stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> argv{toolPath().string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> argvPointers;
  for (auto& argument : argv) argvPointers.push_back(argument.data());
  argvPointers.push_back(nullptr);
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    if (std::string(*entry).rfind("QUORLIN_METRIC_THREADS=", 0) != 0) environment.emplace_back(*entry);
  }
  environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
  std::vector<char*> environmentPointers;
  for (auto& entry : environment) environmentPointers.push_back(entry.data());
  environmentPointers.push_back(nullptr);

  ToolRun run;
  pid_t pid = 0;
  const int spawnError =
      posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, argvPointers.data(), environmentPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawnError != 0) {
    run.err = "spawn failed";
    return run;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = quorlin::test::readTextFile(outFile);
  run.err = quorlin::test::readTextFile(errFile);
  return run;
}

class Ssimulacra2ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(toolPath())) GTEST_SKIP() << "ssimulacra2 is not built at " << toolPath();
    picture_ = test::makePicture(64, 48, 3);
    test::writePng(scratch_ / "original.png", 64, 48, 3, picture_);
    test::writePng(scratch_ / "noisy.png", 64, 48, 3, test::addNoise(picture_, 3, 6));
  }
  quorlin::test::ScratchDirectory scratch_;
  std::vector<std::uint8_t> picture_;
};

TEST_F(Ssimulacra2ToolTest, PrintsTheScoreWithEightDecimalsAndExitsZero) {
  const ToolRun identical = runTool({(scratch_ / "original.png").string(), (scratch_ / "original.png").string()});
  EXPECT_EQ(identical.exitCode, 0);
  EXPECT_EQ(identical.out, "100.00000000\n");
  EXPECT_EQ(identical.err, "");

  const ToolRun noisy = runTool({(scratch_ / "original.png").string(), (scratch_ / "noisy.png").string()});
  EXPECT_EQ(noisy.exitCode, 0);
  ASSERT_EQ(noisy.out.size(), std::string("12.12345678\n").size()) << noisy.out;
  EXPECT_EQ(noisy.out[2], '.');
  EXPECT_LT(std::stod(noisy.out), 100.0);
  EXPECT_EQ(noisy.err, "");
}

TEST_F(Ssimulacra2ToolTest, ThreadOptionAndEnvironmentDoNotChangeTheScore) {
  const std::string original = (scratch_ / "original.png").string(), noisy = (scratch_ / "noisy.png").string();
  const ToolRun plain = runTool({original, noisy});
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_EQ(runTool({"--threads", "1", original, noisy}).out, plain.out);
  EXPECT_EQ(runTool({"--threads=3", original, noisy}).out, plain.out);
  EXPECT_EQ(runTool({original, noisy}, {"QUORLIN_METRIC_THREADS=2"}).out, plain.out);
}

TEST_F(Ssimulacra2ToolTest, WrongArgumentsPrintUsageAndExitOne) {
  const std::string original = (scratch_ / "original.png").string();
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {}, {original}, {original, original, original}, {"--threads", "0", original, original},
           {"--threads", "many", original, original}, {original, original, "--threads"}}) {
    const ToolRun run = runTool(arguments);
    EXPECT_EQ(run.exitCode, 1) << ::testing::PrintToString(arguments);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("Usage: ssimulacra2"), std::string::npos) << run.err;
  }
  const ToolRun badEnvironment = runTool({original, original}, {"QUORLIN_METRIC_THREADS=lots"});
  EXPECT_EQ(badEnvironment.exitCode, 1);
  EXPECT_EQ(badEnvironment.out, "");
}

TEST_F(Ssimulacra2ToolTest, MapOptionWritesTheMapBesideAnUnchangedScore) {
  const std::string original = (scratch_ / "original.png").string(), noisy = (scratch_ / "noisy.png").string();
  const ToolRun plain = runTool({original, noisy});
  const ToolRun mapped = runTool({"--map", (scratch_ / "map.pfm").string(), original, noisy});
  EXPECT_EQ(mapped.exitCode, 0) << mapped.err;
  EXPECT_EQ(mapped.out, plain.out);
  EXPECT_EQ(fs::file_size(scratch_ / "map.pfm"), std::string("PF\n64 48\n-1.0\n").size() + 64 * 48 * 3 * 4);
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.path()), fs::directory_iterator()), 3)
      << "only the two images and the map remain";
  const std::string unwritable = (scratch_ / "missing" / "map.pfm").string();
  const ToolRun failed = runTool({"--map", unwritable, original, noisy});
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_EQ(failed.err, "Could not write error map: " + unwritable + "\n");
}

// Every error is one line on stderr, nothing on stdout, exit code 1.
void expectOneLineError(const ToolRun& run, const std::string& message) {
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, message + "\n");
}

TEST_F(Ssimulacra2ToolTest, UnreadableFilesAreLoadErrors) {
  const std::string original = (scratch_ / "original.png").string();
  const std::string missing = (scratch_ / "missing.png").string();
  const std::string directory = scratch_.path().string();
  expectOneLineError(runTool({missing, original}), "Could not load original image: " + missing);
  expectOneLineError(runTool({original, missing}), "Could not load distorted image: " + missing);
  expectOneLineError(runTool({original, directory}), "Could not load distorted image: " + directory);
}

TEST_F(Ssimulacra2ToolTest, TextFilesEmptyFilesAndTruncatedPngsAreDecodeErrors) {
  const std::string original = (scratch_ / "original.png").string();
  const fs::path text = scratch_ / "notes.png";
  quorlin::test::writeTextFile(text, "this is not an image\n");
  const fs::path empty = scratch_ / "empty.png";
  quorlin::test::writeTextFile(empty, "");
  // Cut inside the image data: the header is intact, the pixels are not.
  const std::string whole = quorlin::test::readTextFile(scratch_ / "noisy.png");
  const fs::path truncated = scratch_ / "truncated.png";
  quorlin::test::writeTextFile(truncated, whole.substr(0, whole.size() * 2 / 3));
  const fs::path headerOnly = scratch_ / "header-only.png";
  quorlin::test::writeTextFile(headerOnly, whole.substr(0, 40));

  expectOneLineError(runTool({text.string(), original}), "Could not decode original image: " + text.string());
  expectOneLineError(runTool({original, empty.string()}), "Could not decode distorted image: " + empty.string());
  expectOneLineError(runTool({original, truncated.string()}),
                     "Could not decode distorted image: " + truncated.string());
  expectOneLineError(runTool({headerOnly.string(), original}),
                     "Could not decode original image: " + headerOnly.string());
}

TEST_F(Ssimulacra2ToolTest, FileNamesWithSpacesQuotesAndUnicodeWork) {
  const fs::path odd = scratch_ / "my \"best\" pic — ünïcødé 'q'.png";
  fs::copy_file(scratch_ / "original.png", odd);
  const ToolRun run = runTool({odd.string(), (scratch_ / "original.png").string()});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "100.00000000\n");
  const fs::path oddMissing = scratch_ / "nöt thére.png";
  expectOneLineError(runTool({(scratch_ / "original.png").string(), oddMissing.string()}),
                     "Could not load distorted image: " + oddMissing.string());
}

TEST_F(Ssimulacra2ToolTest, ReadsNonPngImagesThroughLibvipsWhenPresent) {
  // A binary PPM holding exactly the PNG's pixels.
  std::ostringstream ppm;
  ppm << "P6\n64 48\n255\n";
  ppm.write(reinterpret_cast<const char*>(picture_.data()), static_cast<std::streamsize>(picture_.size()));
  const fs::path file = scratch_ / "original.ppm";
  quorlin::test::writeTextFile(file, ppm.str());
  const ToolRun run = runTool({(scratch_ / "original.png").string(), file.string()});
  if (run.exitCode != 0 && run.err.find("Could not decode") != std::string::npos) {
    GTEST_SKIP() << "libvips is not available to the tool: " << run.err;
  }
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "100.00000000\n");
}

}  // namespace
}  // namespace quorlin::metric
