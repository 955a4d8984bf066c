#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips8>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/engine/VipsRuntime.h"
#include "core/tools/ToolLookup.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

extern char** environ;

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using vips::VImage;
using Clock = std::chrono::steady_clock;

// Whether `pid` is a live process (a zombie waiting to be reaped has ended).
bool isAlive(pid_t pid) {
  std::string stat = test::readTextFile("/proc/" + std::to_string(pid) + "/stat");
  if (stat.empty()) return false;
  auto closing = stat.rfind(')');
  return closing == std::string::npos || closing + 2 >= stat.size() || stat[closing + 2] != 'Z';
}

struct RunResult {
  int status = -1;
  std::string output;
  std::string errors;
};

// Fake tools for the pass: they write genuine sample files so every check passes.
class CompareCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cli = test::buildDirectory() / "src" / "cli" / "quorlin-cli";
    if (!fs::exists(cli)) GTEST_SKIP() << "quorlin-cli is not built at " << cli;
    ensureVipsInitialized();
    fs::create_directories(tools);
    fs::create_directories(temporary);
    VImage picture = test::makeTestPicture(32, 20);
    picture.pngsave((scratch / "photo.png").c_str());
    picture.webpsave((scratch / "sample.webp").c_str());
    picture.jxlsave((scratch / "sample.jxl").c_str());
    picture.pngsave((scratch / "decoded.png").c_str());
  }

  void fake(std::string_view name, const std::string& body) {
    test::writeFakeTool(tools, name, "PATH=/usr/bin:/bin\n" + body);
  }
  // An encoder that copies `sample` to its output (after -o, else its last argument).
  void fakeEncoder(std::string_view name, std::string_view sample) {
    fake(name, "case \"$1\" in --version|-version) exit 0;; esac\n"
               "out=; prev=\nfor a in \"$@\"; do [ \"$prev\" = -o ] && out=$a; prev=$a; done\n"
               "[ -n \"$out\" ] || out=$a\ncp '" + (scratch / sample).string() + "' \"$out\"\n");
  }
  void fakeDecoder(std::string_view name) {
    fake(name, "for a in \"$@\"; do last=$a; done\ncp '" + (scratch / "decoded.png").string() + "' \"$last\"\n");
  }
  void fakeWebPAndScorer(std::string_view score = "85.3") {
    fakeEncoder("cwebp", "sample.webp");
    fakeDecoder("dwebp");
    fake("ssimulacra2", "echo '" + std::string(score) + "'\n");
  }

  std::vector<std::string> environment() const {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
      if (!std::string_view(*entry).starts_with("TMPDIR=")) entries.emplace_back(*entry);
    }
    entries.push_back("TMPDIR=" + temporary.string());
    return entries;
  }

  // Starts quorlin-cli compare with `arguments`, its output going to files.
  pid_t start(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {cli.string(), "compare"});
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = environment();
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
    if (waitpid(pid, &status, 0) == pid) result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.output = test::readTextFile(scratch / "stdout.txt");
    result.errors = test::readTextFile(scratch / "stderr.txt");
    return result;
  }

  RunResult run(std::vector<std::string> arguments) { return finish(start(std::move(arguments))); }

  // What is left under the temporary root of the runs.
  std::vector<fs::path> leftovers() const {
    std::vector<fs::path> found;
    fs::path root = temporary / "Brimwell";
    if (!fs::exists(root)) return found;
    for (const auto& entry : fs::directory_iterator(root)) found.push_back(entry.path());
    return found;
  }

  test::ScratchDirectory scratch;
  fs::path tools = scratch / "tools";
  fs::path temporary = scratch / "tmp";
  fs::path cli;
};

// ---- Usage errors ------------------------------------------------------------

TEST_F(CompareCommandTest, BadArgumentsAreUsageErrors) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "no source image given"},
      {{"a.png", "b.png"}, "only one source can be given"},
      {{"a.png", "--fast"}, "unknown option '--fast'"},
      {{"a.png", "--panel"}, "--panel needs a value"},
      {{"a.png", "--panel", "png"}, "unknown codec 'png'"},
      {{"a.png", "--panel", "webp:speed=3"},
       "unknown panel field 'speed' for WebP (fields: effort, quality, isWebPLossless, webPLosslessLevel)"},
      {{"a.png", "--panel", "webp:quality=high"}, "quality must be a whole number from 1 to 100, not 'high'"},
      {{"a.png", "--panel", "webp:quality"}, "panel setting 'quality' is not FIELD=VALUE"},
      {{"a.png", "--panel", "jpeg-turbo:chromaSubsampling=auto"}, "must be Auto, 444, 440, 422 or 420, not 'auto'"},
      {{"a.png", "--panel", "jxl", "--panel", "avif", "--panel", "webp", "--panel", "jpegli", "--panel", "jxl"},
       "at most four panels can be compared"},
      {{"a.png", "--target", "0"}, "--target must be a score above 0 and at most 100, not '0'"},
      {{"a.png", "--target", "eighty"}, "--target must be a score above 0 and at most 100, not 'eighty'"},
      {{"a.png", "--threads", "0"}, "--threads must be a whole number from 1 to 1024, not '0'"},
      {{"a.png", "--threads", "two"}, "--threads must be a whole number from 1 to 1024, not 'two'"},
  };
  for (const auto& [arguments, message] : cases) {
    RunResult result = run(arguments);
    EXPECT_EQ(result.status, 2) << message;
    EXPECT_TRUE(result.errors.starts_with("quorlin-cli compare: ")) << result.errors;
    EXPECT_NE(result.errors.find(message), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("usage: quorlin-cli compare SOURCE"), std::string::npos);
    EXPECT_EQ(result.output, "");
  }
}

TEST_F(CompareCommandTest, HelpGoesToStandardOutput) {
  RunResult result = run({"--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.output.starts_with("usage: quorlin-cli compare SOURCE")) << result.output;
}

TEST_F(CompareCommandTest, UnreadableSourceExitsTwoWithTheDecodeMessage) {
  test::writeTextFile(scratch / "broken photo.png", "not a picture");
  RunResult result = run({(scratch / "broken photo.png").string()});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.errors, "Could not read decoded image: broken photo.png.\nNot an image format that can be read.\n");
  EXPECT_EQ(result.output, "");
  EXPECT_TRUE(leftovers().empty());
}

// ---- A pass with fake tools ---------------------------------------------------------

TEST_F(CompareCommandTest, JsonReportHoldsTheSourceAndEveryPanelInOrder) {
  fakeWebPAndScorer("85.3");
  RunResult result = run({(scratch / "photo.png").string(), "--tool-dir", tools.string(), "--panel",
                          "webp:quality=72,effort=4", "--panel", "jpeg-system:quality=90", "--panel", "JPEGli", "--json"});
  EXPECT_EQ(result.status, 1) << result.errors;  // JPEGli's tool is missing
  const std::string& json = result.output;
  auto size = fs::file_size(scratch / "photo.png");
  EXPECT_NE(json.find("\"source\": {\n    \"path\": \"" + (scratch / "photo.png").string() + "\",\n"
                      "    \"pixelWidth\": 32,\n    \"pixelHeight\": 20,\n    \"fileSize\": " + std::to_string(size)),
            std::string::npos)
      << json;
  auto webP = json.find("\"index\": 0,\n      \"codec\": \"WebP\"");
  auto jpeg = json.find("\"index\": 1,\n      \"codec\": \"JPEG\"");
  auto jpegli = json.find("\"index\": 2,\n      \"codec\": \"JPEGli\"");
  ASSERT_NE(webP, std::string::npos) << json;
  ASSERT_NE(jpeg, std::string::npos) << json;
  ASSERT_NE(jpegli, std::string::npos) << json;
  EXPECT_LT(webP, jpeg);
  EXPECT_LT(jpeg, jpegli);
  auto webPSize = fs::file_size(scratch / "sample.webp");
  // An untagged source: results are scored as decoded, without a profile given.
  EXPECT_NE(json.find("\"encodedSize\": " + std::to_string(webPSize) +
                      ",\n        \"ssimulacra2Score\": 85.3,\n        \"scoredWithSourceProfile\": false,"),
            std::string::npos);
  EXPECT_NE(json.find("\"commandLine\": \"cwebp -q 72 -m 4 -metadata all\""), std::string::npos);
  EXPECT_NE(json.find("\"commandLine\": \"ImageIO JPEG quality=90\""), std::string::npos);
  EXPECT_NE(json.find("\"foundQuality\": null,\n        \"foundDistance\": null"), std::string::npos);
  // 32 x 20 = 640 pixels.
  EXPECT_NE(json.find("\"bitsPerPixel\": " ), std::string::npos);
  EXPECT_NE(json.find("\"errorMessage\": \"Missing command-line tool: cjpegli. Install it with your package manager "
                      "(see Required Tools) or add it to PATH.\""),
            std::string::npos);
  EXPECT_TRUE(result.errors.starts_with("Encoding all panels...\n")) << result.errors;
  EXPECT_NE(result.errors.find("Generated WebP: " ), std::string::npos);
  EXPECT_NE(result.errors.find("JPEGli failed: Missing command-line tool: cjpegli."), std::string::npos);
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(CompareCommandTest, TableShowsOneRowPerPanelAndTheFailures) {
  fakeWebPAndScorer("85.3");
  fake("cjxl", "echo 'JxlEncoderProcessOutput failed' >&2\nexit 1");
  RunResult result = run({(scratch / "photo.png").string(), "--tool-dir", tools.string(), "--panel", "webp",
                          "--panel", "jxl", "--serial"});
  EXPECT_EQ(result.status, 1);
  auto webPSize = static_cast<double>(fs::file_size(scratch / "sample.webp"));
  auto sourceSize = static_cast<double>(fs::file_size(scratch / "photo.png"));
  char bitsPerPixel[32], savings[32];
  std::snprintf(bitsPerPixel, sizeof bitsPerPixel, "%.2f bpp", webPSize * 8 / 640);
  std::snprintf(savings, sizeof savings, "%.1f%%", (1 - webPSize / sourceSize) * 100);
  std::istringstream lines(result.output);
  std::string header, first, second, extra;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_FALSE(std::getline(lines, extra));
  EXPECT_TRUE(header.starts_with("#  Codec    Command")) << header;
  EXPECT_TRUE(header.ends_with("SSIMULACRA2  Encode  Decode")) << header;  // no Search column without a target
  EXPECT_TRUE(first.starts_with("1  WebP     cwebp -q 85 -m 5 -metadata all  ")) << first;
  EXPECT_NE(first.find(bitsPerPixel), std::string::npos) << first;
  EXPECT_NE(first.find(savings), std::string::npos) << first;
  EXPECT_NE(first.find("  85.3  "), std::string::npos) << first;
  EXPECT_NE(first.find(" ms"), std::string::npos) << first;
  EXPECT_EQ(second, "2  JPEG XL  Failed: cjxl failed. JxlEncoderProcessOutput failed");
}

TEST_F(CompareCommandTest, TargetModeReportsTheFoundQualityAndWhetherTheTargetWasReached) {
  fakeWebPAndScorer("60");  // every probe scores 60, far below 85
  RunResult result = run({(scratch / "photo.png").string(), "--tool-dir", tools.string(), "--panel", "webp",
                          "--target", "85"});
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_TRUE(result.output.substr(0, result.output.find('\n')).ends_with("Search")) << result.output;
  // Probes at 85, 94, 98 and 99 all miss by 25; on a tie the earliest probe stays the answer.
  EXPECT_NE(result.output.find("cwebp -q 85 -m 5 -metadata all"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("Quality 85 \u2014 target 85 not reachable"), std::string::npos) << result.output;
  EXPECT_NE(result.errors.find("[1 WebP] Probe 4: quality 99 scored 60.0 (target 85)\n"), std::string::npos);
  EXPECT_EQ(result.errors.find("Probe 5"), std::string::npos);
  EXPECT_NE(result.errors.find("[1 WebP] Probe 1: quality 85...\n[1 WebP] Probe 1: quality 85 scored 60.0 (target 85)\n"),
            std::string::npos)
      << result.errors;
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(CompareCommandTest, VerbosePrintsEveryCommandWithItsStatusAndTime) {
  fakeWebPAndScorer();
  RunResult result = run({(scratch / "photo.png").string(), "--tool-dir", tools.string(), "--panel", "webp",
                          "--verbose", "--threads", "3"});
  EXPECT_EQ(result.status, 0);
  // The console lines show the thread flags: the one panel has all three threads.
  EXPECT_NE(result.errors.find("cwebp -mt -q 85 -m 5 -metadata all " + (scratch / "photo.png").string() + " -o "),
            std::string::npos)
      << result.errors;
  // Without --maps no error map is asked for.
  EXPECT_NE(result.errors.find("\nssimulacra2 --threads 3 /"), std::string::npos) << result.errors;
  for (const char* tool : {"cwebp ", "dwebp ", "ssimulacra2 "}) {
    auto at = result.errors.find(std::string("\n") + tool);
    ASSERT_NE(at, std::string::npos) << tool;
    auto end = result.errors.find('\n', at + 1);
    EXPECT_NE(result.errors.substr(at, end - at).find("  [exit 0, "), std::string::npos);
    EXPECT_TRUE(result.errors.substr(at, end - at).ends_with(" s]"));
  }
}

TEST_F(CompareCommandTest, ExportCopiesEveryEncodedFileIntoTheDirectory) {
  fakeWebPAndScorer();
  fs::path exported = scratch / "new dir" / "out";
  RunResult result = run({(scratch / "photo.png").string(), "--tool-dir", tools.string(), "--panel",
                          "webp:quality=50", "--panel", "webp:quality=90", "--export", exported.string()});
  EXPECT_EQ(result.status, 0) << result.errors;
  // The second panel's file would take the first one's name, so it carries its panel number.
  EXPECT_EQ(test::readTextFile(exported / "photo.webp"), test::readTextFile(scratch / "sample.webp"));
  EXPECT_EQ(test::readTextFile(exported / "photo-2.webp"), test::readTextFile(scratch / "sample.webp"));
  EXPECT_NE(result.errors.find("Exported photo.webp.\nExported photo-2.webp.\n"), std::string::npos) << result.errors;
  EXPECT_TRUE(leftovers().empty());
}

// Panel 1's scorer writes a map of small shares, panel 2's one of large
// shares: on the shared scale the first is black where the second glows.
TEST_F(CompareCommandTest, MapsWritesEveryPanelsFloatMapAndAColourImageOnOneScale) {
  auto writeMap = [&](const fs::path& file, float share) {
    std::string bytes = "PF\n32 20\n-1.0\n";
    for (int i = 0; i < 32 * 20 * 3; ++i) bytes.append(reinterpret_cast<const char*>(&share), sizeof share);
    test::writeTextFile(file, bytes);
  };
  writeMap(scratch / "low.pfm", 1e-7f);
  writeMap(scratch / "high.pfm", 1e-4f);
  fakeEncoder("cwebp", "sample.webp");
  fakeDecoder("dwebp");
  fake("ssimulacra2", "while [ $# -gt 0 ]; do [ \"$1\" = --map ] && map=\"$2\"; shift; done\nif [ -e '" +
                          (scratch / "low.pfm").string() + "' ]; then mv '" + (scratch / "low.pfm").string() +
                          "' \"$map\"; else cp '" + (scratch / "high.pfm").string() + "' \"$map\"; fi\necho 80\n");
  const fs::path maps = scratch / "maps";
  RunResult result = run({(scratch / "photo.png").string(), "--tool-dir", tools.string(), "--serial", "--panel",
                          "webp:quality=50", "--panel", "webp:quality=90", "--maps", maps.string()});
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_EQ(test::readTextFile(maps / "photo-webp-error-map-2.pfm"), test::readTextFile(scratch / "high.pfm"));
  auto pixel = [](const fs::path& file) {
    VImage image = VImage::new_from_file(file.c_str());
    EXPECT_EQ(image.width(), 32);
    return image.getpoint(5, 5);
  };
  EXPECT_EQ(pixel(maps / "photo-webp-error-map.png"), (std::vector<double>{0, 0, 4}));
  EXPECT_EQ(pixel(maps / "photo-webp-error-map-2.png"), (std::vector<double>{252, 255, 164}));
  EXPECT_TRUE(leftovers().empty());
}

// ---- Interruption -------------------------------------------------------------------

class CompareInterruptTest : public CompareCommandTest, public ::testing::WithParamInterface<int> {};

TEST_P(CompareInterruptTest, EndsTheToolsItStartedRemovesEveryDirectoryAndExits) {
  const int signalNumber = GetParam();
  // An encoder that hangs, with a helper of its own (as a script's "sleep" would be).
  fs::path pids = scratch / "pids.txt";
  fake("cwebp", "sleep 600 &\necho \"$$ $!\" > '" + pids.string() + ".part'\nmv '" + pids.string() + ".part' '" +
                    pids.string() + "'\nwait\n");
  fake("ssimulacra2", "echo 90\n");
  pid_t pid = start({(scratch / "photo.png").string(), "--tool-dir", tools.string(), "--panel", "webp", "--panel",
                     "jpeg-system"});
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (!fs::exists(pids) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(fs::exists(pids)) << "the fake encoder never started";
  ASSERT_FALSE(leftovers().empty());  // the prepared source and the run's directory exist now

  ASSERT_EQ(::kill(pid, signalNumber), 0);
  RunResult result = finish(pid);
  EXPECT_EQ(result.status, 128 + signalNumber) << result.errors;
  EXPECT_TRUE(result.errors.ends_with("Interrupted.\n")) << result.errors;
  EXPECT_EQ(result.output, "");
  EXPECT_TRUE(leftovers().empty());
  // Neither the encoder nor its helper outlived the command.
  pid_t encoder = 0, helper = 0;
  std::istringstream(test::readTextFile(pids)) >> encoder >> helper;
  ASSERT_GT(encoder, 0);
  ASSERT_GT(helper, 0);
  const auto ended = Clock::now() + std::chrono::seconds(30);
  while ((isAlive(encoder) || isAlive(helper)) && Clock::now() < ended) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(isAlive(encoder));
  EXPECT_FALSE(isAlive(helper));
}

INSTANTIATE_TEST_SUITE_P(Signals, CompareInterruptTest, ::testing::Values(SIGINT, SIGTERM),
                         [](const ::testing::TestParamInfo<int>& signal) {
                           return std::string(signal.param == SIGINT ? "SIGINT" : "SIGTERM");
                         });

// ---- End to end with the installed tools ------------------------------------------------

TEST_F(CompareCommandTest, JsonPassWithTheInstalledTools) {
  std::vector<std::string> directories = {(test::buildDirectory() / "src" / "metric").string()};
  for (const auto& directory : builtInToolSearchDirectories()) directories.push_back(directory);
  for (const char* tool : {"ssimulacra2", "cjxl", "djxl", "cwebp", "dwebp"}) {
    if (!searchExecutable(tool, directories)) GTEST_SKIP() << tool << " is not installed";
  }
  ensureVipsInitialized();
  fs::path sample = fs::path(QUORLIN_SOURCE_DIR) / "samples" / "colorful-cups.jpg";
  fs::path source = scratch / "tiny cups ünïcode.png";
  VImage::thumbnail(sample.c_str(), 64).pngsave(source.c_str());
  RunResult result = run({source.string(), "--tool-dir", (test::buildDirectory() / "src" / "metric").string(),
                          "--panel", "jxl", "--panel", "webp", "--panel", "jpeg-system", "--json"});
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_NE(result.output.find("\"commandLine\": \"cjxl --lossless_jpeg=0 --effort 7 --distance 1\""),
            std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("\"encodedMetadataLines\": [\n          \"Pixel Format: 8-bit RGB\""),
            std::string::npos)
      << result.output;
  EXPECT_EQ(result.output.find("errorMessage"), std::string::npos);
  EXPECT_TRUE(leftovers().empty());
}

}  // namespace
}  // namespace quorlin
