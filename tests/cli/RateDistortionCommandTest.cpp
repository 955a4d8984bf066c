#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vips/vips8>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/engine/VipsRuntime.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

extern char** environ;

namespace quorlin {
namespace {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;
  std::string output;
  std::string errors;
};

// `quorlin-cli rd` on fake WebP tools whose file size and score follow the
// quality: the encoder pads a genuine sample by SIZE bytes per quality point
// (SIZE is 100, or 60 with "-m 4") and leaves the quality beside its output,
// where the scorer reads it back as the score.
class RateDistortionCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cli = test::buildDirectory() / "src" / "cli" / "quorlin-cli";
    if (!fs::exists(cli)) GTEST_SKIP() << "quorlin-cli is not built at " << cli;
    ensureVipsInitialized();
    fs::create_directories(tools);
    fs::create_directories(temporary);
    vips::VImage picture = test::makeTestPicture(32, 20);
    picture.pngsave((scratch / "photo.png").c_str());
    picture.webpsave((scratch / "sample.webp").c_str());
    picture.pngsave((scratch / "decoded.png").c_str());
    fake("cwebp", "case \"$1\" in --version|-version) exit 0;; esac\n"
                  "case \" $* \" in *' -m 4 '*) per=60;; *) per=100;; esac\n"
                  "out=; q=; prev=\nfor a in \"$@\"; do [ \"$prev\" = -o ] && out=$a; [ \"$prev\" = -q ] && q=$a; "
                  "prev=$a; done\n"
                  "cp '" + (scratch / "sample.webp").string() + "' \"$out\"\n"
                  "head -c $(($q * per)) /dev/zero >> \"$out\"\n"
                  "echo \"$q\" > \"$(dirname \"$out\")/quality\"\n" + blockClause);
    fake("dwebp", "for a in \"$@\"; do last=$a; done\ncp '" + (scratch / "decoded.png").string() + "' \"$last\"\n");
    fake("ssimulacra2", "for a in \"$@\"; do last=$a; done\ncat \"$(dirname \"$last\")/quality\"\n");
  }

  void fake(std::string_view name, const std::string& body) {
    test::writeFakeTool(tools, name, "PATH=/usr/bin:/bin\n" + body);
  }

  pid_t start(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {cli.string(), "rd"});
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
      if (!std::string_view(*entry).starts_with("TMPDIR=")) env.emplace_back(*entry);
    }
    env.push_back("TMPDIR=" + temporary.string());
    std::vector<char*> envp;
    for (auto& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (scratch / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (scratch / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  RunResult finish(pid_t pid) {
    RunResult result;
    int status = 0;
    if (waitpid(pid, &status, 0) == pid) {
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    result.output = test::readTextFile(scratch / "stdout.txt");
    result.errors = test::readTextFile(scratch / "stderr.txt");
    return result;
  }

  RunResult run(std::vector<std::string> arguments) { return finish(start(std::move(arguments))); }

  std::size_t leftovers() const {
    fs::path root = temporary / "Brimwell";
    if (!fs::exists(root)) return 0;
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(root), fs::directory_iterator()));
  }

  test::ScratchDirectory scratch;
  fs::path tools = scratch / "tools";
  fs::path temporary = scratch / "tmp";
  fs::path cli;
  // Quality 77 waits until the test is gone (only the interruption test asks for it).
  std::string blockClause = "[ \"$q\" = 77 ] && sleep 600\nexit 0\n";
};

TEST_F(RateDistortionCommandTest, BadArgumentsAreUsageErrors) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"a.png", "--ladder", "1:30,40"}, "--ladder must be a panel number and its values, e.g. 2=30,50,70,90"},
      {{"a.png", "--ladder", "5=30"}, "--ladder must be a panel number"},
      {{"a.png", "--ladder", "3=30,x"}, "not '3=30,x'"},
      {{"a.png", "--panel", "webp", "--ladder", "2=30"}, "--ladder names panel 2, but there are 1 panels"},
      {{"a.png", "--panel", "webp", "--ladder", "1=50.5"}, "qualities for WebP must be whole numbers from 1 to 100"},
      {{"a.png", "--ladder", "1=0,1"}, "distances for JPEG XL must be above 0 and at most 25"},
      {{"a.png", "--targets", "50,101"}, "--targets must be scores above 0 and at most 100"},
      {{"a.png", "--targets", "50", "--ladder", "1=2"}, "--targets and --ladder cannot be combined"},
      {{"a.png", "--anchor", "5"}, "--anchor names panel 5, but there are 4 panels"},
      {{"a.png", "--anchor", "0"}, "--anchor must be a panel number, not '0'"},
      {{"a.png", "--csv"}, "--csv needs a value"},
      {{"--", "-a.png", "--serial"}, "only one source can be given"},
  };
  for (const auto& [arguments, message] : cases) {
    RunResult result = run(arguments);
    EXPECT_EQ(result.status, 2) << message;
    EXPECT_TRUE(result.errors.starts_with("quorlin-cli rd: ")) << result.errors;
    EXPECT_NE(result.errors.find(message), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("usage: quorlin-cli rd SOURCE"), std::string::npos);
  }
}

TEST_F(RateDistortionCommandTest, ReportsPointsAndTheDeltaAgainstTheAnchorAsTextJsonAndCsv) {
  const std::vector<std::string> sweep = {(scratch / "photo.png").string(), "--tool-dir", tools.string(),
                                          "--panel", "webp", "--panel", "webp:effort=4", "--ladder",
                                          "1=30,50,60,70,90", "--ladder", "2=40,50,60,80"};
  RunResult text = run(sweep);
  EXPECT_EQ(text.status, 0) << text.errors;
  EXPECT_NE(text.errors.find("Panel 2: point 4 of 4"), std::string::npos) << text.errors;
  EXPECT_NE(text.output.find("Panel 1: WebP\n  Setting     Size"), std::string::npos) << text.output;
  EXPECT_NE(text.output.find("  quality 90  "), std::string::npos);
  // Panel 2 pays 60 bytes per quality point against panel 1's 100 over the
  // same scores: the padding dominates the size, so about 40% less.
  EXPECT_NE(text.output.find("Against panel 1 (WebP):\n  #  Codec  BD-rate"), std::string::npos) << text.output;
  EXPECT_NE(text.output.find("  2  WebP   \u22123"), std::string::npos) << text.output;
  EXPECT_NE(text.output.find("% size  +"), std::string::npos) << text.output;  // the score delta: more at equal size
  EXPECT_NE(text.output.find("SSIMULACRA2 40.0\u201380.0 (67% of the range)"), std::string::npos) << text.output;

  std::vector<std::string> machine = sweep;
  machine.insert(machine.end(), {"--json", "--csv", (scratch / "points.csv").string(), "--anchor", "2", "--serial",
                                 "--threads=2", "--verbose"});
  RunResult json = run(machine);
  EXPECT_EQ(json.status, 0) << json.errors;
  // One point at a time: each point's tools get both threads, as a lone compare panel's do.
  for (const char* command : {"\ncwebp -mt -q ", "\ndwebp -mt ", "\nssimulacra2 --threads 2 "}) {
    EXPECT_NE(json.errors.find(command), std::string::npos) << command << json.errors;
  }
  const std::string& out = json.output;
  EXPECT_NE(out.find("\"panel\": 2,\n      \"codec\": \"WebP\",\n      \"signature\": \"WebP|effort=4|"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"setting\": 30,\n          \"settingsSignature\": \"WebP|effort=5|"), std::string::npos);
  EXPECT_NE(out.find("\"ssimulacra2Score\": 90,"), std::string::npos);
  EXPECT_NE(out.find("\"bd\": [\n    {\n      \"panel\": 1,\n      \"anchor\": 2,\n      \"bdRate\": 0.5"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"overlapLow\": 40,\n      \"overlapHigh\": 80,"), std::string::npos);
  EXPECT_NE(out.find("\"status\": \"ok\""), std::string::npos);
  EXPECT_EQ(out.find("\"kept\": false"), std::string::npos);
  std::istringstream csv(test::readTextFile(scratch / "points.csv"));
  std::vector<std::string> rows;
  for (std::string row; std::getline(csv, row);) rows.push_back(row);
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_TRUE(rows[0].starts_with("panel,codec,setting,encodedSize,bitsPerPixel,ssimulacra2Score,")) << rows[0];
  EXPECT_TRUE(rows[9].starts_with("2,WebP,80,")) << rows[9];
  EXPECT_TRUE(rows[9].ends_with(",true,,cwebp -q 80 -m 4 -metadata all")) << rows[9];
  EXPECT_EQ(leftovers(), 0u);
}

TEST_F(RateDistortionCommandTest, InterruptEndsTheSweepAndRemovesEveryDirectory) {
  pid_t pid = start({(scratch / "photo.png").string(), "--tool-dir", tools.string(), "--panel", "webp", "--ladder",
                     "1=30,77,90", "--serial"});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  auto waiting = [&] {
    std::string errors = test::readTextFile(scratch / "stderr.txt");
    return errors.find("point 2 of 3") == std::string::npos;
  };
  while (waiting() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_FALSE(waiting());
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  RunResult result = finish(pid);
  EXPECT_EQ(result.status, 130) << result.errors;
  EXPECT_TRUE(result.errors.ends_with("Interrupted.\n")) << result.errors;
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(leftovers(), 0u);
}

}  // namespace
}  // namespace quorlin
