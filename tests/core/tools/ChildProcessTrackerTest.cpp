#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <future>
#include <thread>

#include "ToolTestSupport.h"
#include "core/common/CompressionError.h"
#include "core/tools/ChildProcess.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

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
