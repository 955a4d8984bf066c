#include "core/tools/ProcessRunner.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <limits>
#include <stop_token>
#include <system_error>

#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/tools/ToolVersionRules.h"

namespace quorlin {

namespace {

std::string joinedPath(const std::vector<std::string>& directories) {
  std::string path;
  for (std::size_t i = 0; i < directories.size(); ++i) {
    if (i > 0) path += ':';
    path += directories[i];
  }
  return path;
}

std::string launchErrorText(int error) {
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  return text;
}

}  // namespace

ToolRunner::ToolRunner(ExecutableURLCache& cache, const ToolSearchPath& searchPath, MainThreadDispatcher& dispatcher,
                       CommandConsoleStore& console, ChildStandardInput standardInput, ChildProcessTracker* tracker)
    : cache_(cache), searchPath_(searchPath), dispatcher_(dispatcher), console_(console),
      standardInput_(standardInput), tracker_(tracker) {}

std::string combineOutput(const std::string& standardOutput, const std::string& standardError) {
  if (standardOutput.empty()) return standardError;
  if (standardError.empty()) return standardOutput;
  return standardOutput + "\n" + standardError;
}

void ToolRunner::setTimeLimit(double seconds) {
  timeLimitSeconds_.store(std::isnan(seconds) ? std::numeric_limits<double>::infinity() : std::max(seconds, 0.001));
}

std::string ToolRunner::runTool(std::string_view tool, const std::vector<std::string>& arguments,
                                std::stop_token stopToken) const {
  throwIfCancelled(stopToken);

  const std::vector<std::string> directories = searchPath_.toolSearchDirectories();
  std::optional<LocatedTool> located = locateTool(cache_, tool, directories);
  if (!located) throw CompressionError::missingTool(std::string(tool));

  const Uuid entryId = Uuid::random();
  dispatcher_.post([&console = console_, entryId, commandLine = displayCommandLine(located->name, arguments),
                    startedAt = ConsoleClock::now()]() mutable {
    console.begin(entryId, std::move(commandLine), startedAt);
  });

  ChildProcessRequest request;
  request.executable = located->path;
  request.arguments = arguments;
  request.argumentZero = located->name;
  request.environment = environmentWithPath(joinedPath(directories));
  request.standardInput = standardInput_;
  request.tracker = tracker_;
  // A stopped pass (Stop, Ctrl-C, a closed tab) ends its tool and whatever
  // that started rather than letting it run on.
  request.stopToken = stopToken;

  ProcessOutputCollector standardOutput;
  ProcessOutputCollector standardError;
  ChildProcessOutcome outcome;
  const double limitSeconds = timeLimitSeconds_.load();
  std::optional<ChildTimeLimit> limit;
  // Up to a year; beyond that (or infinite) there is no limit.
  if (limitSeconds < 365.0 * 86400) {
    limit = ChildTimeLimit{std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(limitSeconds))};
  }
  try {
    outcome = runChildProcess(request, standardOutput, standardError, limit);
  } catch (const std::system_error& error) {
    // No pipes (out of descriptors, for example): the child never started.
    outcome.launchError = error.code().value();
  }
  const auto finishedAt = ConsoleClock::now();

  if (!outcome.hasLaunched()) {
    std::string message = launchErrorText(outcome.launchError);
    dispatcher_.post([&console = console_, entryId, message, finishedAt]() mutable {
      console.failLaunch(entryId, std::move(message), finishedAt);
    });
    throw CompressionError::processFailed(located->name, message);
  }

  std::string output = combineOutput(standardOutput.text(), standardError.text());
  dispatcher_.post([&console = console_, entryId, status = outcome.exitStatus, output, finishedAt]() mutable {
    console.finish(entryId, status, std::move(output), finishedAt);
  });
  throwIfCancelled(stopToken);   // ended on purpose: not a failure of the tool
  if (outcome.wasTerminatedByTimeLimit) throw CompressionError::timedOut(located->name, limitSeconds);
  if (outcome.exitStatus != 0) {
    throw CompressionError::processEnded(located->name, std::move(output), outcome.exitStatus,
                                         outcome.terminatingSignal);
  }
  return output;
}

void ToolRunner::logStep(std::string description, std::string output, std::int32_t exitStatus) const {
  const auto now = ConsoleClock::now();
  dispatcher_.post([&console = console_, entryId = Uuid::random(), description = std::move(description),
                    output = std::move(output), exitStatus, now]() mutable {
    console.begin(entryId, std::move(description), now);
    console.finish(entryId, exitStatus, std::move(output), now);
  });
}

std::string probeOutput(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                        double timeoutSeconds) {
  try {
    ChildProcessRequest request;
    request.executable = executable;
    request.arguments = arguments;
    request.standardInput = ChildStandardInput::nullDevice;
    double seconds = std::isfinite(timeoutSeconds) ? std::clamp(timeoutSeconds, 0.0, 86400.0) : 86400.0;
    ChildTimeLimit limit{std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds))};
    ProcessOutputCollector collector;
    runChildProcess(request, collector, collector, limit);
    return collector.text();
  } catch (...) {
    return {};
  }
}

}  // namespace quorlin
