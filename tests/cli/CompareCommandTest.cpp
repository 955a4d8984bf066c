// quorlin-cli compare with fake tools (JSON, table, target search, verbose
// console, export, error maps, interruption);
// quorlin-cli rd on fake WebP tools whose file size and score follow the
// quality; and bad inputs, broken tools and broken environments, one row each:
// the input and the fake tools are made here, the command runs as a user would
// run it, and the row states its exit status and the message it must print.
// Every row must also end without a signal and leave no work directory behind.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <signal.h>
#include <sstream>

#include "CliHarness.h"

namespace quorlin::test {
namespace {

using vips::VImage;

class CompareCommandTest : public CliTest {
 protected:
  ProgramRun compare(std::vector<std::string> arguments) const { return finish(startCompare(std::move(arguments))); }
  pid_t startCompare(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {"compare", path("photo.png"), "--tool-dir", tools.string()});
    return start(std::move(arguments));
  }
};

TEST_F(CompareCommandTest, JsonReportHoldsTheSourceAndEveryPanelInOrder) {
  fakeWebPAndScorer("85.3");
  ProgramRun result = compare({"--panel", "webp:quality=72,effort=4", "--panel", "jpeg-system:quality=90", "--panel",
                               "JPEGli", "--json"});
  EXPECT_EQ(result.status, 1) << result.errors;  // JPEGli's tool is missing
  const std::string& json = result.output;
  const auto webP = json.find("\"index\": 0,\n      \"codec\": \"WebP\"");
  const auto jpeg = json.find("\"index\": 1,\n      \"codec\": \"JPEG\"");
  const auto jpegli = json.find("\"index\": 2,\n      \"codec\": \"JPEGli\"");
  EXPECT_TRUE(webP < jpeg && jpeg < jpegli && jpegli != std::string::npos) << json;
  expectContains(json, {
      "\"source\": {\n    \"path\": \"" + path("photo.png") + "\",\n    \"pixelWidth\": 32,\n    \"pixelHeight\": 20,\n"
          "    \"fileSize\": " + std::to_string(fs::file_size(path("photo.png"))),
      // An untagged source: results are scored as decoded, without a profile given.
      "\"encodedSize\": " + std::to_string(fs::file_size(path("sample.webp"))) +
          ",\n        \"ssimulacra2Score\": 85.3,\n        \"scoredWithSourceProfile\": false,",
      "\"commandLine\": \"cwebp -q 72 -m 4 -metadata all\"", "\"commandLine\": \"ImageIO JPEG quality=90\"",
      "\"foundQuality\": null,\n        \"foundDistance\": null", "\"bitsPerPixel\": ",
      "\"errorMessage\": \"Missing command-line tool: cjpegli. Install it with your package manager "
      "(see Required Tools) or add it to PATH.\""});
  EXPECT_TRUE(result.errors.starts_with("Encoding all panels...\n")) << result.errors;
  expectContains(result.errors, {"Generated WebP: ", "JPEGli failed: Missing command-line tool: cjpegli."});
  EXPECT_TRUE(leftovers().empty());
}

// With --verbose, every command goes to stderr with its status and time: one
// panel at a time has all three threads; without --maps no error map is asked for.
TEST_F(CompareCommandTest, TableShowsOneRowPerPanelAndTheFailuresAndVerboseEveryCommand) {
  fakeWebPAndScorer("85.3");
  fake("cjxl", "echo 'JxlEncoderProcessOutput failed' >&2\nexit 1");
  ProgramRun result = compare({"--panel", "webp", "--panel", "jxl", "--serial", "--verbose", "--threads", "3"});
  EXPECT_EQ(result.status, 1);
  expectContains(result.errors, {"cwebp -mt -q 85 -m 5 -metadata all " + path("photo.png") + " -o ",
                                 "\nssimulacra2 --threads 3 /", "\ncjxl "});
  for (const char* tool : {"cwebp ", "dwebp ", "ssimulacra2 ", "cjxl "}) {
    const auto at = result.errors.find(std::string("\n") + tool);
    const std::string line = result.errors.substr(at, result.errors.find('\n', at + 1) - at);
    EXPECT_TRUE(line.find(tool[1] == 'j' ? "  [exit 1, " : "  [exit 0, ") != std::string::npos && line.ends_with(" s]")) << line;
  }
  const auto webPSize = static_cast<double>(fs::file_size(path("sample.webp")));
  char bitsPerPixel[32], savings[32];
  std::snprintf(bitsPerPixel, sizeof bitsPerPixel, "%.2f bpp", webPSize * 8 / 640);  // 32 x 20 pixels
  std::snprintf(savings, sizeof savings, "%.1f%%", (1 - webPSize / double(fs::file_size(path("photo.png")))) * 100);
  std::istringstream lines(result.output);
  std::string header, first, second, extra;
  std::getline(std::getline(std::getline(lines, header), first), second);
  EXPECT_FALSE(std::getline(lines, extra));
  EXPECT_TRUE(header.starts_with("#  Codec    Command")) << header;
  EXPECT_TRUE(header.ends_with("SSIMULACRA2  Encode  Decode")) << header;  // no Search column without a target
  EXPECT_TRUE(first.starts_with("1  WebP     cwebp -q 85 -m 5 -metadata all  ")) << first;
  expectContains(first, {bitsPerPixel, savings, "  85.3  ", " ms"});
  EXPECT_EQ(second, "2  JPEG XL  Failed: cjxl failed. JxlEncoderProcessOutput failed");
}

TEST_F(CompareCommandTest, TargetModeReportsTheFoundQualityAndWhetherTheTargetWasReached) {
  fakeWebPAndScorer("60");  // every probe scores 60, far below 85
  ProgramRun result = compare({"--panel", "webp", "--target", "85"});
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_TRUE(result.output.substr(0, result.output.find('\n')).ends_with("Search")) << result.output;
  // Probes at 85, 94, 98 and 99 all miss by 25; on a tie the earliest probe stays the answer.
  expectContains(result.output, {"cwebp -q 85 -m 5 -metadata all", "Quality 85 \u2014 target 85 not reachable"});
  expectContains(result.errors, {"[1 WebP] Probe 4: quality 99 scored 60.0 (target 85)\n",
                                 "[1 WebP] Probe 1: quality 85...\n[1 WebP] Probe 1: quality 85 scored 60.0 (target 85)\n"});
  EXPECT_EQ(result.errors.find("Probe 5"), std::string::npos);
  EXPECT_TRUE(leftovers().empty());
}

// Both panels' files are exported (the second one's would take the first
// one's name, so it carries its panel number). Panel 1's scorer writes a map
// of small shares, panel 2's one of large shares: on the shared scale the
// first is black where the second glows.
TEST_F(CompareCommandTest, ExportAndMapsWriteEveryPanelsFilesOnOneScale) {
  for (auto [name, share] : {std::pair{"low.pfm", 1e-7f}, {"high.pfm", 1e-4f}}) {
    std::string bytes = "PF\n32 20\n-1.0\n";
    for (int i = 0; i < 32 * 20 * 3; ++i) bytes.append(reinterpret_cast<const char*>(&share), sizeof share);
    writeTextFile(path(name), bytes);
  }
  fakeWebPAndScorer();
  fake("ssimulacra2", "while [ $# -gt 0 ]; do [ \"$1\" = --map ] && map=\"$2\"; shift; done\nif [ -e '" +
                          path("low.pfm") + "' ]; then mv '" + path("low.pfm") + "' \"$map\"; else cp '" +
                          path("high.pfm") + "' \"$map\"; fi\necho 80\n");
  const fs::path maps = scratch / "maps", exported = scratch / "new dir" / "out";
  ProgramRun result = compare({"--serial", "--panel", "webp:quality=50", "--panel", "webp:quality=90", "--maps", maps,
                               "--export", exported});
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_EQ(readTextFile(exported / "photo.webp"), readTextFile(path("sample.webp")));
  EXPECT_EQ(readTextFile(exported / "photo-2.webp"), readTextFile(path("sample.webp")));
  expectContains(result.errors, {"Exported photo.webp.\nExported photo-2.webp.\n"});
  EXPECT_EQ(readTextFile(maps / "photo-webp-error-map-2.pfm"), readTextFile(path("high.pfm")));
  for (auto [name, colour] : {std::pair{"photo-webp-error-map.png", std::vector<double>{0, 0, 4}},
                              {"photo-webp-error-map-2.png", std::vector<double>{252, 255, 164}}}) {
    VImage image = VImage::new_from_file((maps / name).c_str());
    EXPECT_EQ(image.width(), 32);
    EXPECT_EQ(image.getpoint(5, 5), colour) << name;
  }
  EXPECT_TRUE(leftovers().empty());
}

// SIGINT and SIGTERM end the tools (and their helpers) and remove every
// directory; after a SIGKILL, with no chance to clean up, the tools it
// started still end with the command.
class CompareInterruptTest : public CompareCommandTest, public ::testing::WithParamInterface<int> {};

TEST_P(CompareInterruptTest, EndsTheToolsItStartedRemovesEveryDirectoryAndExits) {
  // An encoder that hangs, with a helper of its own (as a script's "sleep" would be).
  const std::string pids = path("pids.txt");
  fake("cwebp", "sleep 600 &\necho \"$$ $!\" > '" + pids + ".part'\nmv '" + pids + ".part' '" + pids + "'\nwait\n");
  fake("ssimulacra2", "echo 90\n");
  pid_t pid = startCompare({"--panel", "webp", "--panel", "jpeg-system"});
  ASSERT_TRUE(waitFor([&] { return fs::exists(pids); })) << "the fake encoder never started";
  ASSERT_FALSE(leftovers().empty());  // the prepared source and the run's directory exist now
  ASSERT_EQ(::kill(pid, GetParam()), 0);
  ProgramRun result = finish(pid);
  const bool killed = GetParam() == SIGKILL;
  EXPECT_EQ(result.status, 128 + GetParam()) << result.errors;
  EXPECT_TRUE(killed || result.errors.ends_with("Interrupted.\n")) << result.errors;
  EXPECT_EQ(result.output, "");
  EXPECT_TRUE(killed || leftovers().empty());
  // Neither the encoder nor its helper outlived the command (init reaps them once it has ended).
  pid_t encoder = 0, helper = 0;
  std::istringstream(readTextFile(pids)) >> encoder >> helper;
  ASSERT_TRUE(encoder > 0 && helper > 0);
  EXPECT_TRUE(waitFor([&] { return ::kill(encoder, 0) != 0 && (killed || ::kill(helper, 0) != 0); }));
  if (killed) ::kill(helper, SIGKILL);  // the encoder's own child is beyond the command's reach
}

INSTANTIATE_TEST_SUITE_P(Signals, CompareInterruptTest, ::testing::Values(SIGINT, SIGTERM, SIGKILL),
                         [](const auto& signal) { return "SIG" + std::string(sigabbrev_np(signal.param)); });

class RateDistortionCommandTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (IsSkipped()) return;
    makeReleaseFifo();
    // Quality 77 blocks until the test releases it (only the interruption test asks for it).
    fakeLadderTools("[ \"$q\" = 77 ] && read line < '" + path("release") + "'");
  }
};

TEST_F(RateDistortionCommandTest, ReportsPointsAndTheDeltaAgainstTheAnchorAsTextJsonAndCsv) {
  const std::vector<std::string> sweep = {"rd", path("photo.png"), "--tool-dir", tools, "--panel", "webp", "--panel",
                                          "webp:effort=4", "--ladder", "1=30,50,60,70,90", "--ladder", "2=40,50,60,80"};
  ProgramRun text = run(sweep);
  EXPECT_EQ(text.status, 0) << text.errors;
  expectContains(text.errors, {"Panel 2: point 4 of 4"});
  // Panel 2 pays 60 bytes per quality point against panel 1's 100 over the
  // same scores: the padding dominates the size, so about 40% less, and more
  // score at equal size.
  expectContains(text.output, {"Panel 1: WebP\n  Setting     Size", "  quality 90  ",
                               "Against panel 1 (WebP):\n  #  Codec  BD-rate", "  2  WebP   \u22123", "% size  +",
                               "SSIMULACRA2 40.0\u201380.0 (67% of the range)"});
  std::vector<std::string> machine = sweep;
  machine.insert(machine.end(),
                 {"--json", "--csv", path("points.csv"), "--anchor", "2", "--serial", "--threads=2", "--verbose"});
  ProgramRun json = run(machine);
  EXPECT_EQ(json.status, 0) << json.errors;
  // One point at a time: each point's tools get both threads, as a lone compare panel's do.
  expectContains(json.errors, {"\ncwebp -mt -q ", "\ndwebp -mt ", "\nssimulacra2 --threads 2 "});
  expectContains(json.output, {"\"panel\": 2,\n      \"codec\": \"WebP\",\n      \"signature\": \"WebP|effort=4|",
                               "\"setting\": 30,\n          \"settingsSignature\": \"WebP|effort=5|",
                               "\"ssimulacra2Score\": 90,",
                               "\"bd\": [\n    {\n      \"panel\": 1,\n      \"anchor\": 2,\n      \"bdRate\": 0.5",
                               "\"overlapLow\": 40,\n      \"overlapHigh\": 80,", "\"status\": \"ok\""});
  EXPECT_EQ(json.output.find("\"kept\": false"), std::string::npos);
  std::istringstream csv(readTextFile(scratch / "points.csv"));
  std::vector<std::string> rows;
  for (std::string row; std::getline(csv, row);) rows.push_back(row);
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_TRUE(rows[0].starts_with("panel,codec,setting,encodedSize,bitsPerPixel,ssimulacra2Score,")) << rows[0];
  EXPECT_TRUE(rows[9].starts_with("2,WebP,80,")) << rows[9];
  EXPECT_TRUE(rows[9].ends_with(",true,,cwebp -q 80 -m 4 -metadata all")) << rows[9];
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(RateDistortionCommandTest, InterruptEndsTheSweepAndRemovesEveryDirectory) {
  pid_t pid = start({"rd", path("photo.png"), "--tool-dir", tools.string(), "--panel", "webp", "--ladder",
                     "1=30,77,90", "--serial"});
  ASSERT_TRUE(waitFor([&] { return readTextFile(path("stderr.txt")).find("point 2 of 3") != std::string::npos; }));
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  ProgramRun result = finish(pid);
  EXPECT_EQ(result.status, 130) << result.errors;
  EXPECT_TRUE(result.errors.ends_with("Interrupted.\n")) << result.errors;
  EXPECT_EQ(result.output, "");
  EXPECT_TRUE(leftovers().empty());
}

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
