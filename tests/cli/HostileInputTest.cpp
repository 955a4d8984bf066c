// Bad inputs, broken tools and broken environments, one row each: the input
// and the fake tools are made here, the command runs as a user would run it,
// and the row states its exit status and the message it must print. Every row
// must also end without a signal and leave no work directory behind.
#include <signal.h>

#include <cstdlib>
#include <random>

#include "CliHarness.h"

namespace quorlin::test {
namespace {

using Clock = std::chrono::steady_clock;

class HostileInputTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (IsSkipped()) return;
    vips::VImage::new_from_file(path("photo.png").c_str()).jpegsave(path("small.jpg").c_str());
    // Copies of the JPEG whose frame header declares a huge size.
    for (auto [name, side] : {std::pair{"bomb16k.jpg", 16000}, {"bomb17k.jpg", 17000}}) {
      std::string bytes = readTextFile(path("small.jpg"));
      const auto frame = bytes.find("\xFF\xC0");
      ASSERT_NE(frame, std::string::npos);
      for (int at : {5, 7}) bytes[frame + at] = static_cast<char>(side >> 8), bytes[frame + at + 1] = char(side & 0xFF);
      writeTextFile(path(name), bytes);
    }
    const std::string png = readTextFile(path("photo.png"));
    writeTextFile(path("truncated.png"), png.substr(0, png.size() / 2));
    vips::VImage::black(4000, 4000, vips::VImage::option()->set("bands", 3)).pngsave(path("large.png").c_str());
    writeTextFile(path("broken photo.png"), "not a picture");
    writeTextFile(path("holiday \"final\".png"), "not a picture");
    makeReleaseFifo();
  }
  // cwebp runs `encoder`, ssimulacra2 `scorer`, dwebp `decoder`; empty ones behave.
  void fakeTools(const std::string& encoder, const std::string& scorer, const std::string& decoder = {}) {
    fakeWebPAndScorer();
    if (!encoder.empty()) fake("cwebp", encoder);
    if (!scorer.empty()) fake("ssimulacra2", scorer);
    if (!decoder.empty()) fake("dwebp", decoder);
  }
};

struct Row {
  const char* name;
  std::vector<std::string> arguments;  // "@name" is a file made in SetUp; a first "ssimulacra2" runs the metric
  int status;
  std::string message;  // must appear on stderr or stdout
  std::string encoder = {}, scorer = {}, decoder = {};
  const char* memoryLimit = nullptr;  // kilobytes of address space, via ulimit
};

TEST_F(HostileInputTest, EveryRowEndsWithItsStatusAndMessage) {
  const std::string block = "read line < '" + path("release") + "'\n";
  const std::string flood = "head -c 10000000 /dev/zero | tr '\\0' x >&2\necho 'Error: the reason' >&2\nexit 1";
  const Row rows[] = {
      {"info reads the header of a bomb only", {"info", "@bomb16k.jpg"}, 0, "Dimensions: 16000 x 16000 px"},
      {"a bomb's size is more than its bytes hold", {"compare", "@bomb16k.jpg"}, 2,
       "Could not read decoded image: bomb16k.jpg.\nImage is 16000 x 16000 pixels, which "},
      {"the pixel limit", {"compare", "@bomb17k.jpg"}, 2, "Image is 17000 x 17000 pixels; the limit is 268 megapixels.\n"},
      {"the pixel limit is a setting", {"compare", "@photo.png", "--pixel-limit", "100"}, 2,
       "Image is 32 x 20 pixels; the limit is 100 pixels.\n"},
      {"info --prepare decodes within the limit", {"info", "@photo.png", "--prepare", "@out", "--pixel-limit", "639"},
       2, "Image is 32 x 20 pixels; the limit is 639 pixels.\n"},
      {"the metric refuses a bomb", {"ssimulacra2", "@bomb16k.jpg", "@bomb16k.jpg"}, 1,
       "Image is 16000 x 16000 pixels, which "},
      {"the metric has the same limit", {"ssimulacra2", "@bomb17k.jpg", "@photo.png"}, 1,
       "Image is 17000 x 17000 pixels; the limit is 268 megapixels.\n"},
      {"the metric out of memory", {"ssimulacra2", "@large.png", "@large.png"}, 1,
       "Not enough memory to compare these images.\n", {}, {}, {}, "300000"},
      {"a source that is no image", {"compare", "@broken photo.png"}, 2,
       "Could not read decoded image: broken photo.png.\nNot an image format that can be read.\n"},
      {"info on a source that is no image", {"info", "@holiday \"final\".png", "--prepare", "@out"}, 2,
       "Could not read decoded image: holiday \"final\".png.\nNot an image format that can be read.\n"},
      {"a truncated source says why", {"compare", "@truncated.png"}, 2, "Could not read decoded image: truncated.png.\n"},
      {"an empty source path", {"compare", ""}, 2, "the source path is empty"},
      {"an empty info path", {"info", ""}, 2, "the source path is empty"},
      {"a hanging tool", {"compare", "@photo.png", "--tool-timeout", "0.5"}, 1,
       "WebP failed: cwebp did not finish within 0.5 s.", block},
      {"a hanging tool that ignores SIGTERM", {"compare", "@photo.png", "--tool-timeout", "0.5"}, 1,
       "WebP failed: cwebp did not finish within 0.5 s.", "trap '' TERM\n" + block},
      {"a flood of output", {"compare", "@photo.png", "--json"}, 1,
       "\"errorMessage\": \"cwebp failed. \u2026 9934482 bytes omitted\\n", flood},
      {"the end of a flood is kept", {"compare", "@photo.png"}, 1, "xxError: the reason\n", flood},
      {"a crash without output", {"compare", "@photo.png"}, 1,
       "WebP failed: cwebp was killed by signal 11 (Segmentation fault).", "kill -SEGV $$"},
      {"an exit without output", {"compare", "@photo.png"}, 1, "WebP failed: cwebp exited with status 3.", "exit 3"},
      {"output that is not UTF-8", {"compare", "@photo.png"}, 1, "WebP failed: cwebp failed. bad \uFFFD\uFFFD bytes",
       "printf 'bad \\377\\376 bytes' >&2\nexit 1"},
      {"an impossible score", {"compare", "@photo.png"}, 1,
       "WebP failed: ssimulacra2 printed an impossible score: 1e308.", {}, "echo 1e308"},
      {"a score that is no number", {"compare", "@photo.png", "--json"}, 1,
       "\"errorMessage\": \"ssimulacra2 printed an impossible score: nan.\"", {}, "echo nan"},
      {"a decoded file that is no image", {"compare", "@photo.png", "--json", "--verbose"}, 1,
       "\"errorDetail\": \"Not an image format that can be read.\"", {}, {},
       "for a in \"$@\"; do l=$a; done\necho 'not a picture' > \"$l\"\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fakeTools(row.encoder, row.scorer, row.decoder);
    std::vector<std::string> arguments;
    for (const auto& argument : row.arguments) {
      arguments.push_back(argument.starts_with("@") ? path(argument.substr(1)) : argument);
    }
    fs::path program = cli;
    if (arguments[0] == "compare") arguments.insert(arguments.end(), {"--panel", "webp", "--tool-dir", tools.string()});
    if (arguments[0] == "ssimulacra2") arguments.erase(arguments.begin()), program = metric;
    if (row.memoryLimit) {
      arguments.insert(arguments.begin(),
                       {"-c", "ulimit -v " + std::string(row.memoryLimit) + "; exec \"$0\" \"$@\"", metric.string()});
      program = "/bin/sh";
    }
    const ProgramRun outcome = finish(start(arguments, program));
    EXPECT_EQ(outcome.status, row.status) << outcome.errors;
    EXPECT_NE((outcome.errors + outcome.output).find(row.message), std::string::npos)
        << outcome.errors << "\n" << outcome.output.substr(0, 2000);
    EXPECT_LE(outcome.output.size(), 200'000u);
    // Refused before any work: nothing printed, nothing prepared.
    EXPECT_TRUE(row.status != 2 || outcome.output.empty()) << outcome.output;
    EXPECT_FALSE(fs::exists(path("out")));
    EXPECT_TRUE(leftovers().empty());
  }
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
  const auto end = Clock::now() + std::chrono::duration<double>(configured ? std::atof(configured) : 3.0);
  std::mt19937 random(20261206);
  int runs = 0;
  for (; Clock::now() < end; ++runs) {
    std::vector<std::string> arguments{words[random() % 3]};
    for (std::size_t count = random() % 7; count > 0; --count) arguments.push_back(words[random() % words.size()]);
    if (arguments[0] == "compare") arguments.insert(arguments.end(), {"--tool-dir", tools.string()});
    const ProgramRun outcome = run(arguments);
    std::string list;
    for (const auto& argument : arguments) list.append(1, '[').append(argument, 0, 40).append("] ");
    ASSERT_LT(outcome.status, 128) << list << "\n" << outcome.errors;
    ASSERT_EQ(outcome.errors.find("terminate called"), std::string::npos) << list;
  }
  EXPECT_GT(runs, 0);
  EXPECT_TRUE(leftovers().empty());
}

}  // namespace
}  // namespace quorlin::test
