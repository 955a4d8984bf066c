#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <thread>

#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/common/MainThreadDispatcher.h"
#include "core/tools/ChildProcess.h"
#include "core/tools/CommandConsole.h"
#include "core/tools/CommandLineQuoting.h"
#include "core/tools/EncodedContainer.h"
#include "core/tools/ProcessOutputCollector.h"
#include "core/tools/ProcessRunner.h"
#include "core/tools/ToolLookup.h"
#include "core/tools/ToolThreadFlags.h"
#include "core/tools/ToolVersionCache.h"
#include "core/tools/ToolVersionRules.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

// Fake tools live in `toolDirectory`, the only custom search directory. The
// built-in directories are reduced to /usr/bin and /bin so that the scripts
// find the usual utilities while no real codec tool can shadow a fake one
// that the test did not write (the custom directory comes first).
class ToolRunnerFixture : public ::testing::Test {
 protected:
  ToolRunnerFixture() {
    std::filesystem::create_directories(toolDirectory);
    searchPath.setCustomToolDirectories({toolDirectory.string()});
  }

  std::filesystem::path fakeTool(std::string_view name, std::string_view body) {
    return test::writeFakeTool(toolDirectory, name, body);
  }

  // Runs every console update that has been posted so far.
  void drainConsole() { dispatcher.runPending(); }

  test::ScratchDirectory scratch;
  std::filesystem::path toolDirectory = scratch / "tools";
  ExecutableURLCache cache;
  ToolSearchPath searchPath{cache, {"/usr/bin", "/bin"}};
  QueueDispatcher dispatcher;
  CommandConsoleStore console;
  ToolRunner runner{cache, searchPath, dispatcher, console};
};

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
    EXPECT_EQ(std::tie(entry.commandLine, entry.exitStatus, entry.output),
              std::tie("cjxl in.png out.jxl", c.exitStatus, c.output));
    EXPECT_EQ(std::tuple(entry.statusText(), entry.statusColor(), entry.finishedAt.has_value()),
              std::tuple(c.status, ConsoleStatusColor::red, true));
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
  EXPECT_EQ((std::vector{threadArguments(row.tool, 1, row.codec), threadArguments(row.tool, 2, row.codec),
                         threadArguments(row.tool, 8, row.codec), threadArguments(row.tool, 32, row.codec)}),
            (std::vector{row.one, row.two, row.eight, row.thirtyTwo}));
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
class RealEncoderContainerTest : public ToolRunnerFixture {
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

using Clock = std::chrono::steady_clock;
using test::writeFakeTool;

class ProbeOutputTest : public ::testing::Test {
 protected:
  std::filesystem::path tool(std::string_view body) { return writeFakeTool(scratch.path(), "probe-me", body); }

  test::ScratchDirectory scratch;
};

// "Returned at all, and not by waiting for the child's natural end": the
// children below would run for at least 300 seconds.
constexpr auto generousBound = std::chrono::seconds(60);

TEST_F(ProbeOutputTest, ReturnsBothStreamsInOneTextWithOurEnvironment) {
  ::setenv("PATH", "/usr/bin:/bin:/probe/path", 1);
  const std::pair<std::string, std::string> cases[] = {
      // Whether standard output or error comes first is not fixed; cjpeg prints to both.
      {"printf 'libjpeg-turbo version 2.1.5\\n' >&2\nexit 1", "libjpeg-turbo version 2.1.5\n"},
      {"for i in 1 2 3 4 5; do printf \"$i\" >&2; done", "12345"},  // chunks arrive in order
      {"printf '%s' \"$PATH\"", "/usr/bin:/bin:/probe/path"},
      {"printf '1.2\\377'", "1.2\uFFFD"},  // undecodable bytes are replaced
      {"cat\nprintf done", "done"},        // standard input is the null device
  };
  for (const auto& [body, output] : cases) EXPECT_EQ(probeOutput(tool(body), {"-version"}, 60.0), output) << body;
  auto both = tool("printf 'cjpeg -version\\n'\nprintf 'libjpeg-turbo version 2.1.5\\n' >&2");
  std::string output = probeOutput(both, {"-version"}, 5.0);
  EXPECT_NE(output.find("cjpeg -version\n"), std::string::npos);
  EXPECT_NE(output.find("libjpeg-turbo version 2.1.5\n"), std::string::npos);
  EXPECT_EQ(output.size(), std::string("cjpeg -version\nlibjpeg-turbo version 2.1.5\n").size());
}

// A child that never exits, one that ignores SIGTERM (inherited by sleep too,
// so only SIGKILL ends them), and a descendant holding the pipes open after
// the script exited: each returns what was printed, long before 300 seconds.
TEST_F(ProbeOutputTest, ChildrenThatDoNotEndAreEndedAndWhatTheyPrintedIsReturned) {
  const std::pair<std::string, std::string> cases[] = {
      {"printf 'partial\\n'\nsleep 300\nprintf 'never\\n'", "partial\n"},
      {"trap '' TERM\nprintf 'started\\n'\nwhile :; do sleep 300; done", "started\n"},
      {"sleep 300 &\nprintf '1.2.3\\n'", "1.2.3\n"},
  };
  for (const auto& [body, output] : cases) {
    auto started = Clock::now();
    EXPECT_EQ(probeOutput(tool(body), {}, 0.3), output) << body;
    EXPECT_LT(Clock::now() - started, generousBound);
  }
}

TEST(ChildProcessTest, SignalsWeIgnoreAreNotIgnoredByTheChild) {
  // A child must not inherit an ignored SIGTERM from us: the time limit relies on it.
  test::ScratchDirectory scratch;
  auto child = writeFakeTool(scratch.path(), "sleeper", "sleep 300");
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGTERM, &ignore, &previous);
  ProcessOutputCollector collector;
  ChildProcessOutcome outcome = runChildProcess({child, {}, "", std::nullopt, ChildStandardInput::nullDevice},
                                                collector, collector,
                                                ChildTimeLimit{std::chrono::milliseconds(100), std::chrono::seconds(100)});
  ::sigaction(SIGTERM, &previous, nullptr);
  EXPECT_TRUE(outcome.wasTerminatedByTimeLimit);
  EXPECT_EQ(outcome.exitStatus, 128 + SIGTERM);  // ended by SIGTERM, not by the SIGKILL 100 s later
}

std::span<const char> chunk(std::string_view text) { return {text.data(), text.size()}; }

TEST(ProcessOutputCollectorTest, ValidUTF8IsReturnedWholeEvenWhenSplitAcrossChunks) {
  ProcessOutputCollector collector;
  std::string text = "caf\u00e9 \u2713 \U0001F600";
  // Cut inside every multi-byte sequence.
  for (char c : text) collector.append(std::span<const char>(&c, 1));
  EXPECT_EQ(collector.text(), text);
  collector.append({});  // empty chunks change nothing
  EXPECT_EQ(collector.bytes(), text);
  EXPECT_EQ(ProcessOutputCollector().text(), "");
}

TEST(ProcessOutputCollectorTest, InvalidBytesBecomeReplacementCharactersAndTheRestSurvives) {
  const std::string_view replacement = "\xEF\xBF\xBD";
  for (std::string_view bad : {std::string_view("\xff"), std::string_view("\xc0\xaf"), std::string_view("\xed\xa0\x80"),
                               std::string_view("\x80"), std::string_view("\xe2\x82")}) {
    ProcessOutputCollector collector;
    collector.append(chunk("valid "));
    collector.append(chunk(bad));
    collector.append(chunk(" end \u2713"));
    std::string expected = "valid ";
    for (std::size_t i = 0; i < bad.size(); ++i) expected += replacement;
    EXPECT_EQ(collector.text(), expected + " end \u2713") << testing::PrintToString(std::string(bad));
    EXPECT_EQ(collector.bytes(), "valid " + std::string(bad) + " end \u2713");
  }
}

TEST(ProcessOutputCollectorTest, KeepsOnlyTheEndAndSaysHowMuchWasOmitted) {
  ProcessOutputCollector collector(8);
  EXPECT_EQ((collector.append(chunk("1234567")), collector.text()), "1234567");
  for (char c : std::string("89abcdefghijklmnopqrstuvwxyz")) collector.append(std::span<const char>(&c, 1));
  EXPECT_EQ(collector.text(), "\u2026 27 bytes omitted\nstuvwxyz");
  EXPECT_EQ(collector.omittedByteCount(), 27u);
  collector.append(chunk(std::string(100, '-') + "tail"));
  EXPECT_EQ(collector.text(), "\u2026 131 bytes omitted\n----tail");
  // A character cut by the limit is dropped whole and counted.
  ProcessOutputCollector cut(4);
  cut.append(chunk("ab\u2713xyz"));  // the check mark is three bytes
  EXPECT_EQ(cut.text(), "\u2026 5 bytes omitted\nxyz");
}

// U+0000, U+007F, U+0080, U+FFFF and U+10FFFF; overlong forms and beyond U+10FFFF.
TEST(ProcessOutputCollectorTest, UTF8EdgesOfTheValidRange) {
  for (std::string_view valid : {std::string_view("\0", 1), std::string_view("\x7f"), std::string_view("\xc2\x80"),
                                 std::string_view("\xef\xbf\xbf"), std::string_view("\xf4\x8f\xbf\xbf")}) {
    EXPECT_TRUE(isValidUTF8(valid)) << testing::PrintToString(std::string(valid));
  }
  for (const char* invalid : {"\xe0\x80\x80", "\xf0\x80\x80\x80", "\xf5\x80\x80\x80"}) EXPECT_FALSE(isValidUTF8(invalid));
}

TEST(ProcessOutputCollectorTest, ConcurrentAppendsLoseNothing) {
  ProcessOutputCollector collector;
  {
    std::vector<std::jthread> writers;
    for (int t = 0; t < 4; ++t) {
      writers.emplace_back([&] {
        for (int i = 0; i < 1000; ++i) collector.append(chunk("ab"));
      });
    }
    std::jthread reader([&] {
      for (int i = 0; i < 100; ++i) (void)collector.text();
    });
  }
  EXPECT_EQ(collector.bytes().size(), 8000u);
}

namespace fs = std::filesystem;

class ChildProcessTrackerTest : public ToolRunnerFixture {
 protected:
  bool waitForFile(const fs::path& file) {
    return test::eventually([&] { return fs::exists(file); }, std::chrono::seconds(30));
  }

  ChildProcessTracker tracker;
  ToolRunner trackedRunner{cache, searchPath, dispatcher, console, ChildStandardInput::nullDevice, &tracker};
};

TEST_F(ChildProcessTrackerTest, TerminateAllEndsARunningToolAndItsOwnHelpers) {
  fs::path started = scratch / "started";
  // The script waits on a helper of its own, which holds the output pipes open too.
  fakeTool("cjxl", "sleep 600 &\ntouch '" + started.string() + "'\nwait");
  auto run = std::async(std::launch::async, [&] { return trackedRunner.runTool("cjxl", {}); });
  ASSERT_TRUE(waitForFile(started));
  EXPECT_EQ(tracker.runningCount(), 1u);
  tracker.terminateAll(SIGTERM);
  ASSERT_EQ(run.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "the tool survived";
  try {
    run.get();
    ADD_FAILURE() << "a terminated tool succeeded";
  } catch (const CompressionError& error) {
    EXPECT_EQ(error.message(), "cjxl was killed by signal 15 (Terminated).");
  }
  EXPECT_EQ(tracker.runningCount(), 0u);
  drainConsole();
  EXPECT_EQ(console.entries().front().exitStatus, 128 + SIGTERM);
}

TEST_F(ChildProcessTrackerTest, ToolsStartedAfterTerminationAreEndedAtOnce) {
  fakeTool("djxl", "sleep 600");
  tracker.terminateAll(SIGKILL);
  EXPECT_TRUE(tracker.isTerminating());
  const auto start = Clock::now();
  EXPECT_THROW(trackedRunner.runTool("djxl", {}), CompressionError);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(60));
  EXPECT_EQ(tracker.runningCount(), 0u);
}

TEST_F(ChildProcessTrackerTest, UntrackedRunsAreNotTouched) {
  fs::path started = scratch / "started";
  // Runs until the test releases it, after terminating every tracked tool.
  fakeTool("cwebp", "touch '" + started.string() + "'\nwhile [ ! -e '" + (scratch / "release").string() +
                        "' ]; do sleep 0.01; done\necho done");
  auto run = std::async(std::launch::async, [&] { return runner.runTool("cwebp", {}); });
  ASSERT_TRUE(waitForFile(started));
  tracker.terminateAll(SIGTERM);
  test::writeTextFile(scratch / "release", "");
  EXPECT_EQ(run.get(), "done\n");
}

using namespace std::chrono_literals;

const ConsoleClock::time_point start = ConsoleClock::time_point(1'700'000'000s);

TEST(CommandConsoleEntryTest, StatusFollowsTheFirstConditionThatHoldsAndDurationHasTwoDecimals) {
  CommandConsoleEntry entry;
  entry.startedAt = start;
  EXPECT_EQ(entry.statusText(), "Running");
  EXPECT_EQ(entry.durationText(), "running");
  EXPECT_EQ(entry.statusColor(), ConsoleStatusColor::orange);
  entry.exitStatus = 0;
  EXPECT_EQ(entry.statusColor(), ConsoleStatusColor::green);
  entry.exitStatus = -1;
  EXPECT_EQ(entry.statusText(), "Failed (-1)");
  entry.launchError = "Exec format error";  // wins over any status
  EXPECT_EQ(entry.statusText(), "Launch failed: Exec format error");
  EXPECT_EQ(entry.statusColor(), ConsoleStatusColor::red);
  for (auto [ms, text] : {std::pair{1234, "1.23 s"}, {1236, "1.24 s"}, {0, "0.00 s"}, {125000, "125.00 s"}}) {
    entry.finishedAt = start + std::chrono::milliseconds(ms);
    EXPECT_EQ(entry.durationText(), text);
  }
}

TEST(CommandConsoleStoreTest, LaterRunsAreListedOnTopAndFinishOrFailLaunchFillTheEntry) {
  CommandConsoleStore store;
  Uuid first = store.begin("cjxl a b");
  Uuid id = Uuid::random();
  store.begin(id, "cwebp -q 85", start);
  ASSERT_EQ(store.entries().size(), 2u);
  EXPECT_EQ(store.entries()[0].id, id);
  EXPECT_EQ(store.entries()[1].id, first);
  EXPECT_EQ(store.entries()[1].statusText(), "Running");
  EXPECT_EQ(store.entries()[1].output, "");
  store.finish(id, 0, "", start + 1234ms);
  auto top = [&] {
    const auto& entry = store.entries().front();
    return std::tuple(entry.commandLine, entry.statusText(), entry.exitStatus, entry.durationText());
  };
  EXPECT_EQ(top(), std::tuple("cwebp -q 85", "Completed", 0, "1.23 s"));
  Uuid failed = Uuid::random();
  store.begin(failed, "cjpegli x", start);
  store.failLaunch(failed, "Permission denied", start + 10ms);
  EXPECT_EQ(top(), std::tuple("cjpegli x", "Launch failed: Permission denied", std::nullopt, "0.01 s"));
}

TEST(CommandConsoleStoreTest, FinishAfterClearIsDropped) {
  CommandConsoleStore store;
  Uuid running = store.begin("avifenc slow");
  Uuid launching = store.begin("heif-enc");
  store.clear();
  store.finish(running, 0, "done");
  store.failLaunch(launching, "No such file or directory");
  EXPECT_TRUE(store.entries().empty());

  Uuid later = store.begin("cjxl");
  store.finish(running, 1, "late");  // an unknown id leaves other entries alone
  EXPECT_EQ(store.entries().front().id, later);
  EXPECT_EQ(store.entries().front().statusText(), "Running");
}

TEST(CommandConsoleStoreTest, ObserversHearEveryChangeAfterItHappened) {
  CommandConsoleStore store;
  std::vector<std::string> heard;
  auto observer = store.addChangeObserver([&](const CommandConsoleChange& change) {
    static const char* names[] = {"begun", "finished", "launchFailed", "cleared"};
    // The change is already visible when the observer runs.
    heard.push_back(std::string(names[static_cast<int>(change.kind)]) + ":" +
                    std::to_string(store.entries().size()) + ":" +
                    (store.entries().empty() ? "-" : store.entries().front().statusText()));
  });
  Uuid a = store.begin("one");
  store.finish(a, 0, "");
  Uuid b = store.begin("two");
  store.failLaunch(b, "Exec format error");
  store.clear();
  store.finish(a, 0, "dropped");  // nothing changes, nobody is told
  store.removeChangeObserver(observer);
  store.begin("unheard");
  EXPECT_EQ(heard, (std::vector<std::string>{"begun:1:Running", "finished:1:Completed", "begun:2:Running",
                                             "launchFailed:2:Launch failed: Exec format error", "cleared:0:-"}));
}

TEST(CommandConsoleStoreTest, ObserverMayRemoveItselfWhileBeingCalled) {
  CommandConsoleStore store;
  int calls = 0;
  CommandConsoleStore::ObserverId self = 0;
  self = store.addChangeObserver([&](const CommandConsoleChange&) {
    ++calls;
    store.removeChangeObserver(self);
  });
  int otherCalls = 0;
  store.addChangeObserver([&](const CommandConsoleChange&) { ++otherCalls; });
  store.begin("a");
  store.begin("b");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(otherCalls, 2);
}

// Plain elements stay bare; whitespace (Unicode's too) and " \ $ ' quote the
// whole element; a single quote becomes close, escape, reopen; malformed UTF-8
// is shown as it is (a cut-off ideographic space is no whitespace).
TEST(CommandLineQuotingTest, EachElementIsQuotedOnlyWhenAShellWouldNeedIt) {
  const std::pair<std::string, std::string> cases[] = {
      {"-d", "-d"}, {"--lossless_jpeg=0", "--lossless_jpeg=0"}, {"/tmp/Brimwell/photo.png", "/tmp/Brimwell/photo.png"},
      {"caf\u00e9-\u2713.png", "caf\u00e9-\u2713.png"}, {"*", "*"}, {"", ""},
      {"My Photo.png", "'My Photo.png'"}, {"tab\there", "'tab\there'"}, {"line1\nline2", "'line1\nline2'"},
      {"a\"b", "'a\"b'"}, {"back\\slash", "'back\\slash'"}, {"$HOME", "'$HOME'"},
      {"a\u00a0b", "'a\u00a0b'"}, {"a\u3000b", "'a\u3000b'"}, {"a'b", "'a'\\''b'"}, {"'", "''\\'''"},
      {"\xff\xfe", "\xff\xfe"}, {"\xe3\x80", "\xe3\x80"}};
  for (const auto& [element, shown] : cases) EXPECT_EQ(quoteForDisplay(element), shown) << element;
  EXPECT_EQ(displayCommandLine("cwebp", {"-q", "", "85"}), "cwebp -q  85");
  EXPECT_EQ(displayCommandLine("exiftool", {}), "exiftool");
}

}  // namespace
}  // namespace quorlin
