// quorlin-cli corpus run|report|slurm|kubernetes
//
// `corpus run` gathers the inputs, takes its shard, and runs the units on a
// pool of workers (--jobs) while the main thread drives a QueueDispatcher and
// prints progress on standard error: one line rewritten in place on a
// terminal, a line every half minute otherwise (a batch log). Each finished
// unit is already in the results file, so SIGINT or SIGTERM only end the
// running tools (their units are not recorded) and exit 130 or 143; running
// the same command again resumes.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

#include "cli/CliCommand.h"
#include "cli/CommandEngine.h"
#include "cli/CorpusCommands.h"
#include "cli/CorpusOptions.h"
#include "cli/InterruptWatcher.h"
#include "cli/ProgressLine.h"
#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/corpus/CorpusResultsFile.h"
#include "core/corpus/CorpusRun.h"

namespace quorlin::cli {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto logInterval = std::chrono::seconds(30);

std::string hostName() {
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

class CorpusRunPass {
 public:
  explicit CorpusRunPass(CorpusRunOptions options)
      : options_(std::move(options)), progress_(stderr), tools_(options_, progress_) {}

  int run() {
    CorpusShard shard;
    if (options_.shard) {
      shard = *options_.shard;
    } else {
      ShardFromEnvironment found =
          shardFromEnvironment(options_.shardCount, [](const char* name) -> const char* { return std::getenv(name); });
      if (!found.shard) return usageError(found.error);
      shard = *found.shard;
    }
    CorpusInputs inputs = gatherCorpusInputs(options_.inputs);
    for (const auto& error : inputs.errors) std::cerr << "quorlin-cli corpus run: " << error << "\n";
    if (!inputs.errors.empty()) return exitUsage;
    for (const auto& skipped : inputs.skipped) {
      std::cerr << "Skipped (" << skipped.reason << "): " << skipped.path.string() << "\n";
    }
    if (inputs.images.empty()) return usageError("no images in the inputs");
    const std::vector<CorpusImage> images = imagesOfShard(inputs.images, shard);
    std::cerr << "Shard " << shard.index << " of " << shard.count << ": " << images.size() << " of "
              << inputs.images.size() << " images, " << options_.plans.size() << " panels.\n";

    CorpusRunSettings settings;
    settings.runFolder = fs::absolute(options_.runFolder);
    settings.shard = shard;
    settings.jobs = options_.jobs;
    settings.maxFailurePercent = options_.maxFailurePercent;
    settings.host = hostName();
    settings.toolVersion = [this](CompressionCodec codec) { return toolVersion(codec); };
    settings.progress = [this](const CorpusProgress& progress) {
      tools_.dispatcher().post([this, progress] { showProgress(progress, false); });
    };

    InterruptWatcher watcher([this](int, int count) { tools_.interrupt(count); });
    std::optional<CorpusRunOutcome> outcome;
    std::string error;
    bool isCancelled = false;
    bool isDone = false;
    {
      std::jthread worker([&, stopToken = tools_.stopToken()] {
        try {
          outcome = runCorpus(images, options_.plans, tools_.engine(), settings, stopToken);
        } catch (const CancellationError&) {
          isCancelled = true;
        } catch (...) {
          error = describeError(std::current_exception());
        }
        tools_.dispatcher().post([&isDone] { isDone = true; });
      });
      tools_.dispatcher().runUntil([&isDone] { return isDone; });
    }
    tools_.dispatcher().runPending();
    if (last_) showProgress(*last_, true);
    progress_.finish();
    if (int signalNumber = watcher.firstSignal(); signalNumber || isCancelled) {
      std::cerr << "Interrupted; the finished units are kept, run the same command again to resume.\n";
      return 128 + (signalNumber ? signalNumber : SIGINT);
    }
    if (!error.empty()) {
      std::cerr << "quorlin-cli corpus run: " << error << "\n";
      return exitUsage;
    }
    const fs::path file = settings.runFolder / resultsFileName(shard);
    if (outcome->cutTornLine) std::cerr << "Cut off the torn last line of " << file.string() << ".\n";
    std::cerr << outcome->unitsRun << " units run, " << outcome->unitsSkipped << " already recorded, "
              << outcome->failedTotal << " failed; results in " << file.string() << "\n";
    if (outcome->stoppedEarly) {
      std::cerr << "Stopped early: more than " << options_.maxFailurePercent << "% of the units failed.\n";
    }
    return outcome->failedTotal || outcome->stoppedEarly ? exitSomeFailed : exitSuccess;
  }

 private:
  int usageError(const std::string& message) {
    std::cerr << "quorlin-cli corpus run: " << message << "\n";
    return exitUsage;
  }

  // Main thread. Not on a terminal, a line every half minute keeps a batch log short.
  void showProgress(const CorpusProgress& progress, bool isFinal) {
    last_ = progress;
    const auto now = Clock::now();
    if (!progress_.isInPlace() && !isFinal && shownOnce_ && now - lastShown_ < logInterval) return;
    if (!progress_.isInPlace() && isFinal && lastShownText_ == corpusProgressText(progress)) return;
    shownOnce_ = true;
    lastShown_ = now;
    lastShownText_ = corpusProgressText(progress);
    progress_.show(lastShownText_);
  }

  std::string toolVersion(CompressionCodec codec) {
    std::lock_guard guard(versionLock_);
    auto found = versions_.find(codec);
    if (found != versions_.end()) return found->second;
    std::string text;
    const std::string_view tool = codecInfo(codec).encoderTool;
    if (!tool.empty()) {
      const EngineContext& context = tools_.engine().context();
      if (auto version = context.versions.versionOf(tool, context.executables, context.searchPath)) {
        text = version->text();
      }
    }
    return versions_[codec] = text;
  }

  CorpusRunOptions options_;
  ProgressLine progress_;
  CommandEngine tools_;
  std::optional<CorpusProgress> last_;
  bool shownOnce_ = false;
  Clock::time_point lastShown_;
  std::string lastShownText_;
  std::mutex versionLock_;
  std::map<CompressionCodec, std::string> versions_;
};

int runCorpusCommand(const std::vector<std::string>& arguments) {
  const std::string verb = arguments.empty() ? "" : arguments.front();
  const std::vector<std::string> rest(arguments.begin() + (arguments.empty() ? 0 : 1), arguments.end());
  if (verb == "run") return runParsed<CorpusRunPass>("corpus run", parseCorpusRunArguments(rest), corpusRunUsage());
  if (verb == "report") return runCorpusReport(rest);
  if (verb == "slurm") return runCorpusSlurm(rest);
  if (verb == "kubernetes") return runCorpusKubernetes(rest);
  if (verb == "--help" || verb == "-h") {
    std::cout << corpusUsage();
    return exitSuccess;
  }
  std::cerr << "quorlin-cli corpus: " << (verb.empty() ? "no command given" : "unknown command '" + verb + "'")
            << "\n\n" << corpusUsage();
  return exitUsage;
}

const RegisterCommand registration(CliCommand{
    "corpus", "run the panels over a folder of images, resumably, locally or as a cluster job", runCorpusCommand});

}  // namespace
}  // namespace quorlin::cli
