#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "ToolTestSupport.h"
#include "core/common/CompressionError.h"
#include "core/tools/ChildProcess.h"
#include "core/tools/ProcessOutputCollector.h"
#include "core/tools/ProcessRunner.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

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

class ChildProcessTrackerTest : public test::ToolRunnerFixture {
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

}  // namespace
}  // namespace quorlin
