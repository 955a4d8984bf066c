// ProcessRunnerBench: what the logged tool run costs over a bare spawn, and what a
// cached tool lookup costs.
//
// Prints, for 200 rounds (after 20 warm-up rounds), the median wall time of
//   - posix_spawn + waitpid of /bin/true (no pipes, nothing else);
//   - runChildProcess of /bin/true (pipes, poll loop, environment with PATH);
//   - ToolRunner::runTool("true") (lookup, console posts, both collectors);
// and for a cached lookup hit the time per call and the number of file-system
// probes made by one million hits (expected: 0).
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "core/common/MainThreadDispatcher.h"
#include "core/tools/ChildProcess.h"
#include "core/tools/CommandConsole.h"
#include "core/tools/ProcessRunner.h"
#include "core/tools/ToolLookup.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

double microseconds(const std::function<void()>& body) {
  auto start = Clock::now();
  body();
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

}  // namespace

int main() {
  using namespace quorlin;
  constexpr int runs = 200;

  auto bareSpawn = [] {
    pid_t pid = 0;
    char name[] = "true";
    char* argv[] = {name, nullptr};
    if (::posix_spawn(&pid, "/bin/true", nullptr, nullptr, argv, environ) != 0) std::abort();
    int status = 0;
    ::waitpid(pid, &status, 0);
  };
  auto childProcess = [] {
    ProcessOutputCollector out;
    ProcessOutputCollector err;
    ChildProcessRequest request{"/bin/true", {}, "", environmentWithPath("/usr/bin:/bin"), ChildStandardInput::inherited};
    runChildProcess(request, out, err);
  };
  ExecutableURLCache cache;
  ToolSearchPath searchPath(cache);
  QueueDispatcher dispatcher;
  CommandConsoleStore console;
  ToolRunner runner(cache, searchPath, dispatcher, console);
  auto loggedRun = [&] { runner.runTool("true", {}); };
  auto loggedRunWithConsole = [&] {
    runner.runTool("true", {});
    dispatcher.runPending();
  };

  // The four variants take turns within each round, so that the load of a busy
  // machine falls on all of them alike.
  std::vector<double> bare, child, logged, loggedWithConsole;
  for (int round = -20; round < runs; ++round) {
    double a = microseconds(bareSpawn);
    double b = microseconds(childProcess);
    double c = microseconds(loggedRun);
    dispatcher.runPending();
    double d = microseconds(loggedRunWithConsole);
    if (round < 0) continue;  // warm-up
    bare.push_back(a);
    child.push_back(b);
    logged.push_back(c);
    loggedWithConsole.push_back(d);
  }
  double bareMedian = median(bare), childMedian = median(child), loggedMedian = median(logged),
         consoleMedian = median(loggedWithConsole);

  const auto directories = searchPath.toolSearchDirectories();
  cache.locate("true", directories);
  auto probesBefore = cache.fileSystemProbeCount();
  constexpr int hits = 1'000'000;
  auto start = Clock::now();
  for (int i = 0; i < hits; ++i) {
    if (!cache.locate("true", directories)) std::abort();
  }
  double nanosecondsPerHit = std::chrono::duration<double, std::nano>(Clock::now() - start).count() / hits;
  auto probesAfter = cache.fileSystemProbeCount();

  std::printf("median of %d rounds, /bin/true\n", runs);
  std::printf("  posix_spawn + waitpid          %8.1f us\n", bareMedian);
  std::printf("  runChildProcess                %8.1f us  (%.2fx)\n", childMedian, childMedian / bareMedian);
  std::printf("  runTool                        %8.1f us  (%.2fx)\n", loggedMedian, loggedMedian / bareMedian);
  std::printf("  runTool + console updates      %8.1f us  (%.2fx)\n", consoleMedian, consoleMedian / bareMedian);
  std::printf("cached locate hit                %8.1f ns per call\n", nanosecondsPerHit);
  std::printf("file-system probes for %d cached hits: %llu\n", hits,
              static_cast<unsigned long long>(probesAfter - probesBefore));
  std::printf("console entries logged: %zu\n", console.entries().size());
  return 0;
}
