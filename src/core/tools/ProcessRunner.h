// The process runner: the two ways Quorlin runs an external tool.
//
// - ToolRunner::runTool, the logged run used by the whole pipeline: locates the
//   tool, records the command in the command console, runs it to its end (no time
//   limit) and returns its output or throws CompressionError.
// - probeOutput, the unlogged probe used for version numbers: given a located
//   executable, returns whatever it printed within a time limit; never throws.
//
// Both block the calling thread while the child runs and are meant for worker
// threads; neither measures durations (callers time their own calls).
#pragma once

#include <atomic>
#include <filesystem>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/MainThreadDispatcher.h"
#include "core/tools/ChildProcess.h"
#include "core/tools/CommandConsole.h"
#include "core/tools/CommandLineQuoting.h"
#include "core/tools/ToolLookup.h"

namespace quorlin {

// How long one tool may run before it is stopped: half an hour, far beyond
// any real encode, so only a tool that hangs meets it.
inline constexpr double defaultToolTimeLimitSeconds = 30 * 60;

class ToolRunner {
 public:
  // Everything passed in must outlive the runner and every console update it
  // posts: the store is touched only through `dispatcher`, on the main thread.
  // With a `tracker`, every child is tracked there so its owner can end them
  // all (see ChildProcessTracker).
  ToolRunner(ExecutableURLCache& cache, const ToolSearchPath& searchPath, MainThreadDispatcher& dispatcher,
             CommandConsoleStore& console, ChildStandardInput standardInput = ChildStandardInput::nullDevice,
             ChildProcessTracker* tracker = nullptr);

  // Runs `tool` (a bare name such as "cjxl") with `arguments`, blocking until it
  // has exited. Thread-safe; called on worker threads, many at once.
  //
  // 1. A stop already requested on `stopToken` throws CancellationError; nothing
  //    is logged. A stop requested while the child runs ends it and its process
  //    group (SIGTERM, then SIGKILL; see ChildProcessRequest::stopToken), logs
  //    what it printed and throws CancellationError.
  // 2. The tool is located through the cache in the search directories (with the
  //    stand-ins of the older-tool rules: heif-convert runs for heif-dec); not
  //    found throws CompressionError::missingTool(tool), nothing logged.
  // 3. A console entry with the display command line (the name that really runs)
  //    is begun, then finished with the exit status and combined output, or
  //    marked as a failed launch; both posted through the dispatcher in order,
  //    with start and end times taken here.
  // 4. The child gets our environment with PATH = the search directories joined
  //    by ":", our working directory, and standard input as configured.
  // Returns the combined output: the non-empty ones of (standard output,
  // standard error) joined by "\n", each stream its last 64 KB at most, bytes
  // that are not UTF-8 replaced (see ProcessOutputCollector).
  // A non-zero status throws CompressionError::processEnded(name, combined
  // output, status, signal); a launch failure throws processFailed(name, the
  // system's message, e.g. "Exec format error"). A signal death counts as
  // status 128 + signal. A child still running after the time limit gets
  // SIGTERM, then SIGKILL, in its whole process group, and the run throws
  // CompressionError::timedOut (the console shows its status and output).
  std::string runTool(std::string_view tool, const std::vector<std::string>& arguments,
                      std::stop_token stopToken = {}) const;

  // The time limit of every run started from now on, in seconds (at least a
  // millisecond; not finite means none). Any thread.
  void setTimeLimit(double seconds);
  double timeLimit() const { return timeLimitSeconds_.load(); }

  // Logs a step the pipeline did itself (no child process) as a finished
  // console entry, so the console tells the whole course of a run; a failed
  // step gets a non-zero status.
  void logStep(std::string description, std::string output, std::int32_t exitStatus = 0) const;

 private:
  ExecutableURLCache& cache_;
  const ToolSearchPath& searchPath_;
  MainThreadDispatcher& dispatcher_;
  CommandConsoleStore& console_;
  ChildStandardInput standardInput_;
  ChildProcessTracker* tracker_;
  std::atomic<double> timeLimitSeconds_{defaultToolTimeLimitSeconds};
};

// The output text of a finished run: the non-empty ones of the two texts, in
// that order, joined by one "\n".
std::string combineOutput(const std::string& standardOutput, const std::string& standardError);

// Runs an already located executable, unlogged, with our environment unchanged,
// and returns what it wrote to standard output and standard error together (in
// the order the reads saw it), as UTF-8 text; empty when it could not start or
// printed nothing decodable. After `timeoutSeconds` the child (and its process
// group) gets SIGTERM, and SIGKILL a second later if that did not end it; what
// was printed until then is returned. Never throws. The exit status is ignored.
// Standard input is /dev/null: a probe never waits for input.
std::string probeOutput(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                        double timeoutSeconds);

}  // namespace quorlin
