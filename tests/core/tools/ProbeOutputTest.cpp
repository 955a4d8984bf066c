#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "core/tools/ChildProcess.h"
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

TEST(ChildProcessTest, EnvironmentWithPathReplacesOrAddsPathOnly) {
  ::setenv("PATH", "/old", 1);
  ::setenv("QUORLIN_OTHER", "x", 1);
  auto environment = environmentWithPath("/a:/b");
  EXPECT_EQ(std::count(environment.begin(), environment.end(), "PATH=/a:/b"), 1);
  EXPECT_EQ(std::count(environment.begin(), environment.end(), "PATH=/old"), 0);
  EXPECT_EQ(std::count(environment.begin(), environment.end(), "QUORLIN_OTHER=x"), 1);

  ::unsetenv("PATH");
  environment = environmentWithPath("/c");
  EXPECT_EQ(std::count(environment.begin(), environment.end(), "PATH=/c"), 1);
  ::setenv("PATH", "/usr/bin:/bin", 1);
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

}  // namespace
}  // namespace quorlin
