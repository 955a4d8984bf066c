// Bad inputs, broken tools and broken environments, one row each: the input
// and the fake tools are made here, the command runs as a user would run it,
// and the row states its exit status and the message it must print. Every row
// must also end without a signal and leave no work directory behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips8>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
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
using Clock = std::chrono::steady_clock;

struct Outcome {
  int status = -1;  // exit code, or 128 + signal
  std::string output;
  std::string errors;
};

// Writes a copy of `jpeg` whose frame header declares `width` x `height`.
void writeJPEGDeclaring(const fs::path& jpeg, const fs::path& target, int width, int height) {
  std::string bytes = test::readTextFile(jpeg);
  auto frame = bytes.find("\xFF\xC0");
  ASSERT_NE(frame, std::string::npos);
  bytes[frame + 5] = static_cast<char>(height >> 8), bytes[frame + 6] = static_cast<char>(height & 0xFF);
  bytes[frame + 7] = static_cast<char>(width >> 8), bytes[frame + 8] = static_cast<char>(width & 0xFF);
  test::writeTextFile(target, bytes);
}

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cli = test::buildDirectory() / "src" / "cli" / "quorlin-cli";
    metric = test::buildDirectory() / "src" / "metric" / "ssimulacra2";
    if (!fs::exists(cli) || !fs::exists(metric)) GTEST_SKIP() << "quorlin-cli or ssimulacra2 is not built";
    ensureVipsInitialized();
    fs::create_directories(tools);
    fs::create_directories(temporary);
    vips::VImage picture = test::makeTestPicture(32, 20);
    picture.pngsave(path("photo.png").c_str());
    picture.webpsave(path("sample.webp").c_str());
    picture.jpegsave(path("small.jpg").c_str());
    writeJPEGDeclaring(path("small.jpg"), path("bomb16k.jpg"), 16000, 16000);
    writeJPEGDeclaring(path("small.jpg"), path("bomb17k.jpg"), 17000, 17000);
    std::string png = test::readTextFile(path("photo.png"));
    test::writeTextFile(path("truncated.png"), png.substr(0, png.size() / 2));
    vips::VImage::black(4000, 4000, vips::VImage::option()->set("bands", 3)).pngsave(path("large.png").c_str());
    ASSERT_EQ(::mkfifo(path("release").c_str(), 0600), 0);
  }

  void TearDown() override {
    // Releases any fake tool still blocked on the fifo (none should be).
    int fd = ::open(path("release").c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  }

  std::string path(std::string_view name) const { return (scratch / name).string(); }

  // The fake codec tools: cwebp runs `encoder` (its output path is after -o),
  // dwebp and ssimulacra2 behave unless replaced.
  void fakeTools(const std::string& encoder, const std::string& scorer) {
    test::writeFakeTool(tools, "cwebp", "PATH=/usr/bin:/bin\n" + encoder);
    test::writeFakeTool(tools, "dwebp",
                        "PATH=/usr/bin:/bin\nfor a in \"$@\"; do l=$a; done\ncp '" + path("photo.png") + "' \"$l\"\n");
    test::writeFakeTool(tools, "ssimulacra2", "PATH=/usr/bin:/bin\n" + scorer);
  }

  pid_t start(const fs::path& program, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), program.string());
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
      if (!std::string_view(*entry).starts_with("TMPDIR=")) entries.emplace_back(*entry);
    }
    entries.push_back("TMPDIR=" + temporary.string());
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, path("stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, path("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  Outcome finish(pid_t pid) {
    Outcome outcome;
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid) {
      outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    outcome.output = test::readTextFile(path("stdout.txt"));
    outcome.errors = test::readTextFile(path("stderr.txt"));
    return outcome;
  }

  bool hasLeftovers() const {
    fs::path root = temporary / "Brimwell";
    return fs::exists(root) && !fs::is_empty(root);
  }

  test::ScratchDirectory scratch;
  fs::path tools = scratch / "tools";
  fs::path temporary = scratch / "tmp";
  fs::path cli;
  fs::path metric;
};

// The encoder that works, and the scorer that prints a plausible score.
const std::string goodEncoder =
    "for a in \"$@\"; do [ \"$p\" = -o ] && o=$a; p=$a; done\ncp \"$(dirname \"$0\")/../sample.webp\" \"$o\"\n";
const std::string goodScorer = "echo 85.3\n";

struct Row {
  const char* name;
  std::string encoder;               // the fake cwebp's body
  std::string scorer;                // the fake ssimulacra2's body
  bool runsMetric;                   // the built ssimulacra2 instead of quorlin-cli
  std::vector<std::string> arguments;  // "@name" is a file made in SetUp; "@tools" the fake tools
  int status;
  std::string message;               // must appear on stderr or stdout
  std::size_t maximumOutput = 200'000;  // bytes on stdout
  const char* memoryLimit = nullptr;    // kilobytes of address space, via ulimit
  std::string decoder = {};             // the fake dwebp's body, when not the working one
};

TEST_F(HostileInputTest, EveryRowEndsWithItsStatusAndMessage) {
  const std::string block = "read line < '" + path("release") + "'\n";
  const Row rows[] = {
      {"info reads the header of a bomb only", goodEncoder, goodScorer, false, {"info", "@bomb16k.jpg"}, 0,
       "Dimensions: 16000 x 16000 px"},
      {"a bomb's size is more than its bytes hold", goodEncoder, goodScorer, false, {"compare", "@bomb16k.jpg"}, 2,
       "Could not read decoded image: bomb16k.jpg.\nImage is 16000 x 16000 pixels, which "},
      {"the pixel limit", goodEncoder, goodScorer, false, {"compare", "@bomb17k.jpg"}, 2,
       "Image is 17000 x 17000 pixels; the limit is 268 megapixels.\n"},
      {"the pixel limit is a setting", goodEncoder, goodScorer, false,
       {"compare", "@photo.png", "--pixel-limit", "100"}, 2, "Image is 32 x 20 pixels; the limit is 100 pixels.\n"},
      {"info --prepare decodes within the limit", goodEncoder, goodScorer, false,
       {"info", "@photo.png", "--prepare", "@out", "--pixel-limit", "639"}, 2,
       "Image is 32 x 20 pixels; the limit is 639 pixels.\n"},
      {"the metric refuses a bomb", goodEncoder, goodScorer, true, {"@bomb16k.jpg", "@bomb16k.jpg"}, 1,
       "Image is 16000 x 16000 pixels, which "},
      {"the metric has the same limit", goodEncoder, goodScorer, true, {"@bomb17k.jpg", "@photo.png"}, 1,
       "Image is 17000 x 17000 pixels; the limit is 268 megapixels.\n"},
      {"the metric out of memory", goodEncoder, goodScorer, true, {"@large.png", "@large.png"}, 1,
       "Not enough memory to compare these images.\n", 200'000, "300000"},
      {"a truncated source says why", goodEncoder, goodScorer, false, {"compare", "@truncated.png"}, 2,
       "Could not read decoded image: truncated.png.\n"},
      {"an empty source path", goodEncoder, goodScorer, false, {"compare", ""}, 2, "the source path is empty"},
      {"an empty info path", goodEncoder, goodScorer, false, {"info", ""}, 2, "the source path is empty"},
      {"a hanging tool", block, goodScorer, false, {"compare", "@photo.png", "--tool-timeout", "0.5"}, 1,
       "WebP failed: cwebp did not finish within 0.5 s."},
      {"a hanging tool that ignores SIGTERM", "trap '' TERM\n" + block, goodScorer, false,
       {"compare", "@photo.png", "--tool-timeout", "0.5"}, 1, "WebP failed: cwebp did not finish within 0.5 s."},
      {"a flood of output", "head -c 10000000 /dev/zero | tr '\\0' x >&2\necho 'Error: the reason' >&2\nexit 1",
       goodScorer, false, {"compare", "@photo.png", "--json"}, 1,
       "\"errorMessage\": \"cwebp failed. \u2026 9934482 bytes omitted\\n"},
      {"the end of a flood is kept", "head -c 10000000 /dev/zero | tr '\\0' x >&2\necho 'Error: the reason' >&2\nexit 1",
       goodScorer, false, {"compare", "@photo.png"}, 1, "xxError: the reason\n"},
      {"a crash without output", "kill -SEGV $$", goodScorer, false, {"compare", "@photo.png"}, 1,
       "WebP failed: cwebp was killed by signal 11 (Segmentation fault)."},
      {"an exit without output", "exit 3", goodScorer, false, {"compare", "@photo.png"}, 1,
       "WebP failed: cwebp exited with status 3."},
      {"output that is not UTF-8", "printf 'bad \\377\\376 bytes' >&2\nexit 1", goodScorer, false,
       {"compare", "@photo.png"}, 1, "WebP failed: cwebp failed. bad \uFFFD\uFFFD bytes"},
      {"an impossible score", goodEncoder, "echo 1e308", false, {"compare", "@photo.png"}, 1,
       "WebP failed: ssimulacra2 printed an impossible score: 1e308."},
      {"a score that is no number", goodEncoder, "echo nan", false, {"compare", "@photo.png", "--json"}, 1,
       "\"errorMessage\": \"ssimulacra2 printed an impossible score: nan.\""},
      {"a decoded file that is no image", goodEncoder, goodScorer, false, {"compare", "@photo.png", "--json", "--verbose"},
       1, "\"errorDetail\": \"Not an image format that can be read.\"", 200'000, nullptr,
       "for a in \"$@\"; do l=$a; done\necho 'not a picture' > \"$l\"\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fakeTools(row.encoder, row.scorer);
    if (!row.decoder.empty()) test::writeFakeTool(tools, "dwebp", row.decoder);
    std::vector<std::string> arguments;
    for (const auto& argument : row.arguments) {
      arguments.push_back(argument.starts_with("@") ? path(argument.substr(1)) : argument);
    }
    if (!row.runsMetric && arguments[0] == "compare") arguments.insert(arguments.end(), {"--panel", "webp", "--tool-dir", tools.string()});
    Outcome outcome;
    if (row.memoryLimit) {
      std::string command = "ulimit -v " + std::string(row.memoryLimit) + "; exec \"$0\" \"$@\"";
      arguments.insert(arguments.begin(), {"-c", command, metric.string()});
      outcome = finish(start("/bin/sh", arguments));
    } else {
      outcome = finish(start(row.runsMetric ? metric : cli, arguments));
    }
    EXPECT_EQ(outcome.status, row.status) << outcome.errors;
    EXPECT_NE((outcome.errors + outcome.output).find(row.message), std::string::npos)
        << outcome.errors << "\n" << outcome.output.substr(0, 2000);
    EXPECT_LE(outcome.output.size(), row.maximumOutput);
    EXPECT_FALSE(hasLeftovers());
  }
}

TEST_F(HostileInputTest, ToolsEndWithAKilledCommandLine) {
  const std::string started = path("started");
  fakeTools("echo $$ > '" + started + ".tmp'\nmv '" + started + ".tmp' '" + started + "'\nread line < '" +
                path("release") + "'\n",
            goodScorer);
  pid_t pid = start(cli, {"compare", path("photo.png"), "--panel", "webp", "--tool-dir", tools.string()});
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (!fs::exists(started) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::exists(started));
  const pid_t tool = std::stoi(test::readTextFile(started));
  ::kill(pid, SIGKILL);
  finish(pid);
  // The tool is our grandchild; once init reaps it, its pid is gone.
  while (::kill(tool, 0) == 0 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_NE(::kill(tool, 0), 0) << "the tool outlived quorlin-cli";
}

// Random argument lists from the words the commands know, and words they do
// not: whatever the list, the command line ends with a status of its own.
// QUORLIN_FUZZ_SECONDS sets how long (a few seconds by default).
TEST_F(HostileInputTest, NoArgumentListEndsInASignal) {
  const std::vector<std::string> words = {
      "compare", "info", "tools", "--help", "-h", "--panel", "webp", "jxl:quality=", "avif:effort=99", "webp:",
      ":", "=", ",", "--target", "1e999", "-0", "nan", "--json", "--verbose", "--serial", "--export", "--tool-dir",
      "--prepare", "--tool-timeout", "0", "-1", "1e-300", "--pixel-limit", "18446744073709551616", "", " ", "-",
      "--", "--=", "\xff\xfe", "/", "/dev/null", "/proc/self/mem", path("missing.png"), path("truncated.png"),
      std::string(5000, 'a'), "webp:quality=50,quality=", "heif-libheif:heifBitDepth=-"};
  const char* configured = std::getenv("QUORLIN_FUZZ_SECONDS");
  const auto budget = std::chrono::duration<double>(configured ? std::atof(configured) : 3.0);
  std::mt19937 random(20261206);
  const auto end = Clock::now() + budget;
  int runs = 0;
  while (Clock::now() < end) {
    std::vector<std::string> arguments;
    arguments.push_back(words[random() % 3]);
    for (std::size_t count = random() % 7; count > 0; --count) arguments.push_back(words[random() % words.size()]);
    if (arguments[0] == "compare") arguments.insert(arguments.end(), {"--tool-dir", tools.string()});
    Outcome outcome = finish(start(cli, arguments));
    ++runs;
    std::string list;
    for (const auto& argument : arguments) {
      list.append(1, '[').append(argument, 0, 40).append("] ");
    }
    ASSERT_LT(outcome.status, 128) << list << "\n" << outcome.errors;
    ASSERT_EQ(outcome.errors.find("terminate called"), std::string::npos) << list;
  }
  EXPECT_GT(runs, 0);
  EXPECT_FALSE(hasLeftovers());
}

}  // namespace
}  // namespace quorlin
