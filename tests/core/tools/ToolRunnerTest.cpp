#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "ToolTestSupport.h"
#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/tools/EncodedContainer.h"
#include "core/tools/ToolThreadFlags.h"
#include "core/tools/ToolVersionCache.h"
#include "core/tools/ToolVersionRules.h"

namespace quorlin {
namespace {

using test::ToolRunnerFixture;

class ToolRunnerTest : public ToolRunnerFixture {
 protected:
  // Runs the tool and returns the error it must throw.
  CompressionError runFailing(std::string_view tool, const std::vector<std::string>& arguments = {}) {
    try {
      runner.runTool(tool, arguments);
    } catch (const CompressionError& error) {
      return error;
    }
    ADD_FAILURE() << tool << " did not fail";
    return CompressionError::processFailed("", "");
  }

  const CommandConsoleEntry& onlyEntry() {
    drainConsole();
    EXPECT_EQ(console.entries().size(), 1u);
    return console.entries().front();
  }
};

TEST_F(ToolRunnerTest, OutputIsBothStreamsJoinedWithOneNewline) {
  const std::pair<std::string, std::string> cases[] = {
      {"printf x\nprintf y >&2", "x\ny"},
      {"printf 'Saved file\\n' >&2", "Saved file\n"},  // one stream only: as it is
      {"printf 'Decoded\\n'", "Decoded\n"},
      {"exit 0", ""},
      {"printf '\\377\\376bad'\nprintf 'fine' >&2", "\uFFFD\uFFFDbad\nfine"},  // not UTF-8: replaced, not dropped
      {"cat; printf 'eof'", "eof"},  // children read the null device
  };
  for (const auto& [body, output] : cases) {
    fakeTool("cjxl", body);
    EXPECT_EQ(runner.runTool("cjxl", {}), output) << body;
    drainConsole();
    EXPECT_EQ(console.entries().front().output, output);
  }
}

TEST_F(ToolRunnerTest, FailuresSayHowTheToolEndedAndAreLogged) {
  struct Case {
    std::string body, message, output, status;
    std::optional<int> exitStatus;
  };
  const Case cases[] = {
      {"printf 'Error! Invalid configuration.\\n' >&2\nexit 2", "cjxl failed. Error! Invalid configuration.",
       "Error! Invalid configuration.\n", "Failed (2)", 2},
      {"exit 1", "cjxl exited with status 1.", "", "Failed (1)", 1},
      {"printf ' \\n'\nkill -SEGV $$", "cjxl was killed by signal 11 (Segmentation fault).", " \n", "Failed (139)",
       139},
      // 134, as heif-enc 1.15 reports an abort.
      {"printf 'Assertion failed\\n' >&2\nkill -ABRT $$", "cjxl failed. Assertion failed", "Assertion failed\n",
       "Failed (134)", 128 + SIGABRT},
      // Neither a script nor a program: the launch fails.
      {"", "cjxl failed. Exec format error", "", "Launch failed: Exec format error", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    if (c.body.empty()) {
      test::writeTextFile(toolDirectory / "cjxl", "neither a script nor a program\n");
      std::filesystem::permissions(toolDirectory / "cjxl", std::filesystem::perms(0755));
    } else {
      fakeTool("cjxl", c.body);
    }
    CompressionError error = runFailing("cjxl", {"in.png", "out.jxl"});
    EXPECT_EQ(error.kind(), CompressionError::Kind::processFailed);
    EXPECT_EQ(error.tool(), "cjxl");
    EXPECT_EQ(error.message(), c.message);
    EXPECT_EQ(error.output(), c.exitStatus ? c.output : "Exec format error");
    drainConsole();
    const auto& entry = console.entries().front();
    EXPECT_EQ(entry.commandLine, "cjxl in.png out.jxl");
    EXPECT_EQ(entry.statusText(), c.status);
    EXPECT_EQ(entry.statusColor(), ConsoleStatusColor::red);
    EXPECT_EQ(entry.exitStatus, c.exitStatus);
    EXPECT_EQ(entry.output, c.output);
    EXPECT_TRUE(entry.finishedAt.has_value());
  }
}

// Cancellation comes first, before the lookup of a missing tool too.
TEST_F(ToolRunnerTest, MissingToolOrCancellationBeforeStartThrowsAndLogsNothing) {
  CompressionError error = runFailing("cjpegli");
  EXPECT_EQ(error.kind(), CompressionError::Kind::missingTool);
  EXPECT_EQ(error.message(), "Missing command-line tool: cjpegli. Install it with your package manager (see Required Tools) or add it to PATH.");
  auto marker = scratch / "ran";
  fakeTool("cjxl", "touch '" + marker.string() + "'");
  std::stop_source stop;
  stop.request_stop();
  EXPECT_THROW(runner.runTool("cjxl", {}, stop.get_token()), CancellationError);
  EXPECT_THROW(runner.runTool("not-installed", {}, stop.get_token()), CancellationError);
  EXPECT_EQ(dispatcher.runPending(), 0u);
  EXPECT_TRUE(console.entries().empty());
  EXPECT_FALSE(std::filesystem::exists(marker));
}

// Whether `pid` is a process that has not ended (a zombie has).
bool isAlive(pid_t pid) {
  const std::string stat = test::readTextFile("/proc/" + std::to_string(pid) + "/stat");
  const auto state = stat.rfind(") ");
  return state != std::string::npos && stat.size() > state + 2 && stat[state + 2] != 'Z';
}

TEST_F(ToolRunnerTest, CancellationEndsAStartedChildAndTheHelpersItStarted) {
  // The tool starts a helper of its own and waits for it; both wait for a
  // release that only comes if they were not ended.
  const auto helperFile = scratch / "helper";
  fakeTool("avifenc", "(while [ ! -e \"$1.release\" ]; do sleep 0.05; done) &\necho $! > \"$1\"\nwait");
  std::stop_source stop;
  std::jthread worker([&] {
    EXPECT_THROW(runner.runTool("avifenc", {helperFile.string()}, stop.get_token()), CancellationError);
  });
  ASSERT_TRUE(test::eventually([&] { return !test::readTextFile(helperFile).empty(); }, std::chrono::seconds(60)));
  const pid_t helper = std::stoi(test::readTextFile(helperFile));
  stop.request_stop();
  EXPECT_TRUE(test::eventually([&] { return !isAlive(helper); }, std::chrono::seconds(30)));
  test::writeTextFile(scratch / "helper.release", "");
  worker.join();
}

// Argument zero is the bare tool name (bash -c reports its own as $0).
TEST_F(ToolRunnerTest, ArgumentsReachTheChildByteForByte) {
  // Prints each argument followed by a NUL, so boundaries are visible.
  fakeTool("exiftool", "for a in \"$@\"; do printf '%s\\0' \"$a\"; done");
  std::vector<std::string> arguments = {"My Photo.png", "it's", "say \"hi\"", "line1\nline2", "\u00fcn\u00efc\u00f6d\u00e9 \u2713",
                                        "", "$HOME", "back\\slash", "*", "--flag=a b"};
  std::string expected;
  for (const auto& argument : arguments) expected += argument + '\0';
  EXPECT_EQ(runner.runTool("exiftool", arguments), expected);
  std::filesystem::create_symlink("/bin/bash", toolDirectory / "cjpeg");
  EXPECT_EQ(runner.runTool("cjpeg", {"-c", "printf %s \"$0\""}), "cjpeg");
}

// The child's PATH is our search directories whatever our own was; the rest
// of our environment and our working directory are kept.
TEST_F(ToolRunnerTest, ChildSeesOurEnvironmentWithPathSetToTheSearchDirectories) {
  fakeTool("cjxl", "printf '%s|%s|%s' \"$PATH\" \"$QUORLIN_TEST_MARK\" \"$(pwd -P)\"");
  std::string saved = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", "/our/own/odd:path", 1);
  ::setenv("QUORLIN_TEST_MARK", "kept value", 1);
  std::string seen = runner.runTool("cjxl", {});
  ToolSearchPath defaults(cache);
  defaults.setCustomToolDirectories({toolDirectory.string(), "/extra"});
  ::unsetenv("PATH");  // without one of ours the child still gets its PATH
  std::string seenWithDefaults = ToolRunner(cache, defaults, dispatcher, console).runTool("cjxl", {});
  ::setenv("PATH", saved.c_str(), 1);
  ::unsetenv("QUORLIN_TEST_MARK");
  EXPECT_EQ(seen, toolDirectory.string() + ":/usr/bin:/bin|kept value|" +
                      std::filesystem::canonical(std::filesystem::current_path()).string());
  std::string expected = toolDirectory.string() + ":/extra";
  for (const auto& directory : builtInToolSearchDirectories()) expected += ":" + directory;
  EXPECT_EQ(seenWithDefaults.substr(0, expected.size() + 1), expected + "|");
}

TEST_F(ToolRunnerTest, MegabytesOnBothStreamsDoNotDeadlockAndOnlyTheirEndsAreKept) {
  // Standard error first: a runner that read only standard output until its end
  // would wait forever on a child blocked by a full error pipe.
  fakeTool("cjxl",
           "head -c 3000000 /dev/zero | tr '\\0' e >&2\n"
           "head -c 3000000 /dev/zero | tr '\\0' o\n"
           "head -c 1000000 /dev/zero | tr '\\0' E >&2\nexit 1");
  const std::string kept(ProcessOutputCollector::defaultKeptBytes, 'o');
  const std::string expected = "\u2026 2934464 bytes omitted\n" + kept + "\n\u2026 3934464 bytes omitted\n" +
                               std::string(ProcessOutputCollector::defaultKeptBytes, 'E');
  CompressionError error = runFailing("cjxl");
  EXPECT_EQ(error.output(), expected);
  EXPECT_EQ(onlyEntry().output, expected);
}

TEST_F(ToolRunnerTest, ConsoleTimesAreTakenWhenTheChildRunsNotWhenTheMainThreadGetsToThem) {
  // The child runs until the test releases it, so `during` lies within its run.
  const auto started = scratch / "started", release = scratch / "release";
  fakeTool("cjxl", "touch '" + started.string() + "'\nwhile [ ! -e '" + release.string() + "' ]; do sleep 0.01; done");
  auto before = ConsoleClock::now();
  std::jthread worker([&] { runner.runTool("cjxl", {}); });
  ASSERT_TRUE(test::eventually([&] { return std::filesystem::exists(started); }, std::chrono::seconds(30)));
  auto during = ConsoleClock::now();
  test::writeTextFile(release, "");
  worker.join();
  auto after = ConsoleClock::now();
  const auto& entry = onlyEntry();
  EXPECT_GE(entry.startedAt, before);
  EXPECT_LE(entry.startedAt, during);
  ASSERT_TRUE(entry.finishedAt);
  EXPECT_GE(*entry.finishedAt, during);
  EXPECT_LE(*entry.finishedAt, after);
}

// Six threads of five runs each, every other one failing; each run's output
// and console entry are its own.
TEST_F(ToolRunnerTest, ConcurrentRunsFromSeveralThreadsEachGetTheirOwnOutput) {
  fakeTool("cwebp", "printf 'out %s' \"$1\"\nprintf 'err %s' \"$1\" >&2\n[ \"$1\" = \"${1%[13]}\" ] || exit 3");
  std::vector<std::string> wrong(6);
  {
    std::vector<std::jthread> workers;
    for (int t = 0; t < 6; ++t) {
      workers.emplace_back([&, t] {
        for (int r = 0; r < 5; ++r) {
          const std::string tag = std::to_string(t) + "-" + std::to_string(r), output = "out " + tag + "\nerr " + tag;
          try {
            if (runner.runTool("cwebp", {tag}) != output || r % 2) wrong[t] += tag + " ";
          } catch (const CompressionError& error) {
            if (error.output() != output || r % 2 == 0) wrong[t] += tag + " ";
          }
        }
      });
    }
  }
  EXPECT_EQ(wrong, std::vector<std::string>(6));
  drainConsole();
  ASSERT_EQ(console.entries().size(), 30u);
  for (const auto& entry : console.entries()) {
    const std::string tag = entry.commandLine.substr(std::string("cwebp ").size());
    EXPECT_EQ(entry.exitStatus, tag.back() % 2 ? 3 : 0) << tag;
    EXPECT_EQ(entry.output, "out " + tag + "\nerr " + tag) << tag;
  }
}

TEST_F(ToolRunnerTest, HeifConvertStandsInForAMissingHeifDecUnderItsOwnName) {
  // Only shell built-ins, and no built-in directories: no real heif-dec can be found.
  ToolSearchPath onlyFakes(cache, {});
  onlyFakes.setCustomToolDirectories({toolDirectory.string()});
  ToolRunner fakeOnlyRunner(cache, onlyFakes, dispatcher, console);
  fakeTool("heif-convert", "printf 'Written to %s\\n' \"$2\"\n[ \"$1\" = bad ] && exit 1\nexit 0");
  EXPECT_EQ(fakeOnlyRunner.runTool("heif-dec", {"in.heic", "out.png"}), "Written to out.png\n");
  EXPECT_EQ(onlyEntry().commandLine, "heif-convert in.heic out.png");
  try {
    fakeOnlyRunner.runTool("heif-dec", {"bad", "x"});
    ADD_FAILURE() << "heif-convert did not fail";
  } catch (const CompressionError& error) {
    EXPECT_EQ(error.message(), "heif-convert failed. Written to x");
  }
  fakeTool("heif-dec", "printf 'the real one'");
  cache.invalidate();
  EXPECT_EQ(fakeOnlyRunner.runTool("heif-dec", {}), "the real one");
}

using Arguments = std::vector<std::string>;
using C = CompressionCodec;

// One case per table row: the arguments for 1, 2, 8 and 32 threads, written
// out by hand from the tools' help texts and the byte comparisons.
struct RowCase {
  const char* tool;
  std::optional<CompressionCodec> codec;
  Arguments one, two, eight, thirtyTwo;
};

void PrintTo(const RowCase& row, std::ostream* out) { *out << row.tool; }

class ToolThreadFlagsTest : public ::testing::TestWithParam<RowCase> {};

TEST_P(ToolThreadFlagsTest, GivesTheCountInTheToolsOwnSpellingWithinItsLimits) {
  const RowCase& row = GetParam();
  ASSERT_NE(toolThreadFlag(row.tool, row.codec), nullptr);
  EXPECT_FALSE(toolThreadFlag(row.tool, row.codec)->measured.empty());
  EXPECT_EQ(threadArguments(row.tool, 1, row.codec), row.one);
  EXPECT_EQ(threadArguments(row.tool, 2, row.codec), row.two);
  EXPECT_EQ(threadArguments(row.tool, 8, row.codec), row.eight);
  EXPECT_EQ(threadArguments(row.tool, 32, row.codec), row.thirtyTwo);
}

const RowCase rowCases[] = {
    {"cjxl", std::nullopt, {"--num_threads=1"}, {"--num_threads=2"}, {"--num_threads=8"}, {"--num_threads=32"}},
    {"djxl", std::nullopt, {"--num_threads=1"}, {"--num_threads=2"}, {"--num_threads=8"}, {"--num_threads=32"}},
    // One job gives other bytes than several: never fewer than two.
    {"avifenc", std::nullopt, {"--jobs", "2"}, {"--jobs", "2"}, {"--jobs", "8"}, {"--jobs", "32"}},
    {"avifdec", std::nullopt, {"--jobs", "1"}, {"--jobs", "2"}, {"--jobs", "8"}, {"--jobs", "32"}},
    {"cwebp", std::nullopt, {}, {"-mt"}, {"-mt"}, {"-mt"}},
    {"dwebp", std::nullopt, {}, {"-mt"}, {"-mt"}, {"-mt"}},
    {"heif-enc", C::heifLibheif, {"-p", "x265:pools=1"}, {"-p", "x265:pools=2"}, {"-p", "x265:pools=8"},
     {"-p", "x265:pools=32"}},
    // libaom in libheif: 2 at the least (as avifenc), 16 at the most.
    {"heif-enc", C::avifLibheif, {"-p", "threads=2"}, {"-p", "threads=2"}, {"-p", "threads=8"},
     {"-p", "threads=16"}},
    {"ssimulacra2", std::nullopt, {"--threads", "1"}, {"--threads", "2"}, {"--threads", "8"}, {"--threads", "32"}},
};

INSTANTIATE_TEST_SUITE_P(EveryRow, ToolThreadFlagsTest, ::testing::ValuesIn(rowCases));

TEST(ToolThreadFlagsTableTest, EveryRowHasItsCaseAndToolsWithoutAFlagGetNothing) {
  EXPECT_EQ(allToolThreadFlags().size(), std::size(rowCases));
  for (const char* tool : {"cjpeg", "heif-convert", "heif-dec", "jxlinfo", "exiftool"}) {
    EXPECT_TRUE(threadArguments(tool, 4).empty()) << tool;
  }
  // heif-enc's flag belongs to its encoder: none for JPEG 2000, none when the codec is not said.
  EXPECT_TRUE(threadArguments("heif-enc", 4, C::jpeg2000Libheif).empty());
  EXPECT_TRUE(threadArguments("heif-enc", 4).empty());
}

std::string bigEndian32(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

std::string box(std::string_view type, std::string_view payload) {
  return bigEndian32(static_cast<std::uint32_t>(8 + payload.size())) + std::string(type) + std::string(payload);
}

std::string ftyp(std::string_view major, std::initializer_list<std::string_view> compatible) {
  std::string payload = std::string(major) + bigEndian32(0);
  for (auto brand : compatible) payload += brand;
  return box("ftyp", payload);
}

// meta (full box) / iprp / ipco holding one property box of `propertyType`.
std::string metaWithProperty(std::string_view propertyType) {
  std::string property = box(propertyType, std::string(12, '\x01'));
  std::string ipco = box("ipco", box("ispe", std::string(12, '\0')) + property);
  return box("meta", std::string(4, '\0') + box("hdlr", std::string(24, '\0')) + box("iprp", ipco));
}

TEST(EncodedContainerTest, JPEGXLCodestreamOrContainer) {
  EXPECT_TRUE(hasContainerSignature("\xFF\x0A\xFA\x12", EncodedContainer::jpegXL));
  EXPECT_TRUE(hasContainerSignature(std::string("\0\0\0\x0CJXL \x0D\x0A\x87\x0A", 12) + ftyp("jxl ", {"jxl "}),
                                    EncodedContainer::jpegXL));
  EXPECT_FALSE(hasContainerSignature(std::string("\0\0\0\x0CJXL \x0D\x0A\x87\x0B", 12), EncodedContainer::jpegXL));
  EXPECT_FALSE(hasContainerSignature("\x89PNG\r\n\x1a\n", EncodedContainer::jpegXL));
  EXPECT_FALSE(hasContainerSignature("\xFF", EncodedContainer::jpegXL));
}

TEST(EncodedContainerTest, WebPIsRiffWithTheWebPFormAndJPEGStartsWithAMarker) {
  EXPECT_TRUE(hasContainerSignature(std::string("RIFF\x24\0\0\0WEBPVP8 ", 16), EncodedContainer::webP));
  EXPECT_FALSE(hasContainerSignature(std::string("RIFF\x24\0\0\0WAVEfmt ", 16), EncodedContainer::webP));
  EXPECT_FALSE(hasContainerSignature("RIFF", EncodedContainer::webP));
  // A JPEG starts with the start of image and a marker.
  EXPECT_TRUE(hasContainerSignature("\xFF\xD8\xFF\xE0", EncodedContainer::jpeg));
  EXPECT_TRUE(hasContainerSignature("\xFF\xD8\xFF", EncodedContainer::jpeg));
  EXPECT_FALSE(hasContainerSignature(std::string("\xFF\xD8\x00", 3), EncodedContainer::jpeg));
  EXPECT_FALSE(hasContainerSignature("", EncodedContainer::jpeg));  // cjpeg 2.1.5 leaves an empty file
}

TEST(EncodedContainerTest, AVIFNeedsTheAvifOrAvisBrand) {
  EXPECT_TRUE(hasContainerSignature(ftyp("avif", {"avif", "mif1", "miaf"}), EncodedContainer::avif));
  EXPECT_TRUE(hasContainerSignature(ftyp("mif1", {"miaf", "avis"}), EncodedContainer::avif));
  EXPECT_FALSE(hasContainerSignature(ftyp("heic", {"mif1", "heic"}), EncodedContainer::avif));
  EXPECT_FALSE(hasContainerSignature(box("free", "avif"), EncodedContainer::avif));  // brand outside ftyp
}

TEST(EncodedContainerTest, HEIFNeedsAHeifBrandAndHEVCAndJPEG2000TheJ2kiBrand) {
  EXPECT_TRUE(hasContainerSignature(ftyp("heic", {"mif1", "heic"}) + metaWithProperty("hvcC"), EncodedContainer::heif));
  EXPECT_TRUE(hasContainerSignature(ftyp("mif1", {"heix"}) + metaWithProperty("hvcC"), EncodedContainer::heif));
  EXPECT_TRUE(hasContainerSignature(ftyp("mif1", {"miaf"}) + metaWithProperty("hvcC"), EncodedContainer::heif));
  // An AV1 file with the generic brand is not HEIF/HEVC, nor is a heic brand without HEVC.
  EXPECT_FALSE(hasContainerSignature(ftyp("avif", {"mif1", "avif"}) + metaWithProperty("av1C"), EncodedContainer::heif));
  EXPECT_FALSE(hasContainerSignature(ftyp("heic", {"mif1"}) + metaWithProperty("av1C"), EncodedContainer::heif));
  EXPECT_FALSE(hasContainerSignature(ftyp("heic", {"mif1"}), EncodedContainer::heif));
  // Metadata after a large media box is still found in a file.
  test::ScratchDirectory scratch;
  auto file = scratch / "late-meta.heic";
  test::writeTextFile(file, ftyp("heic", {"mif1"}) + box("mdat", std::string(300000, '\x55')) + metaWithProperty("hvcC"));
  EXPECT_TRUE(fileHasContainerSignature(file, EncodedContainer::heif));
  // JPEG 2000 needs the j2ki brand.
  EXPECT_TRUE(hasContainerSignature(ftyp("j2ki", {"mif1", "j2ki"}), EncodedContainer::jpeg2000));
  // What heif-enc 1.15 writes for --jpeg2000: HEVC under a heic brand.
  EXPECT_FALSE(hasContainerSignature(ftyp("heic", {"mif1", "heic"}) + metaWithProperty("hvcC"),
                                     EncodedContainer::jpeg2000));
}

TEST(EncodedContainerTest, MalformedBoxesNeverMatchOrHang) {
  std::string zeroSized = bigEndian32(0) + "ftypheic" + bigEndian32(0);  // size 0 = to the end of the data
  EXPECT_FALSE(hasContainerSignature(zeroSized, EncodedContainer::avif));
  EXPECT_FALSE(hasContainerSignature(bigEndian32(4) + "ftypavif", EncodedContainer::avif));  // smaller than its header
  EXPECT_FALSE(hasContainerSignature(bigEndian32(4000) + "ftypavif", EncodedContainer::avif));  // beyond the end
  std::string looping = ftyp("heic", {"mif1"}) + box("meta", std::string(4, '\0') + bigEndian32(8) + "iprp");
  EXPECT_FALSE(hasContainerSignature(looping, EncodedContainer::heif));
  EXPECT_FALSE(fileHasContainerSignature("/nonexistent/file.avif", EncodedContainer::avif));
}

// The installed heif-enc, on a tiny synthetic 4:4:4 Y4M image.
class RealEncoderContainerTest : public test::ToolRunnerFixture {
 protected:
  RealEncoderContainerTest() {
    std::string y4m = "YUV4MPEG2 W16 H16 F25:1 Ip A1:1 C444\nFRAME\n";
    for (int plane = 0; plane < 3; ++plane)
      for (int i = 0; i < 256; ++i) y4m += static_cast<char>(plane == 0 ? i : 128);
    test::writeTextFile(y4mFile, y4m);
  }

  bool has(std::string_view tool) {
    return locateTool(cache, tool, realDirectories.toolSearchDirectories()).has_value();
  }

  std::string run(std::string_view tool, const std::vector<std::string>& arguments) {
    return realRunner.runTool(tool, arguments);
  }

  std::filesystem::path y4mFile = scratch / "in.y4m";
  ToolSearchPath realDirectories{cache};
  ToolRunner realRunner{cache, realDirectories, dispatcher, console, ChildStandardInput::nullDevice};
};

TEST_F(RealEncoderContainerTest, OldHeifEncJPEG2000FalseSuccessIsCaught) {
  if (!has("heif-enc")) GTEST_SKIP() << "heif-enc is not installed";
  ToolVersionCache versions;
  auto version = versions.versionOf("heif-enc", cache, realDirectories);
  if (heifEncSupportsJPEG2000(version)) GTEST_SKIP() << "this heif-enc knows --jpeg2000";
  // Exactly what the rule forbids: the tool exits 0 and writes HEVC.
  run("heif-enc", {"--jpeg2000", "-q", "50", y4mFile.string(), "-o", (scratch / "o.hej2").string()});
  EXPECT_FALSE(fileHasContainerSignature(scratch / "o.hej2", EncodedContainer::jpeg2000));
  EXPECT_TRUE(fileHasContainerSignature(scratch / "o.hej2", EncodedContainer::heif));
}

}  // namespace
}  // namespace quorlin
