// quorlin-cli rd SOURCE [--panel ...]... [--ladder N=V1,...]... [--targets S1,...]
//                [--anchor N] [--serial] [--threads N] [--json] [--csv FILE] [--tool-dir DIR]... [--verbose]
//
// A rate-distortion sweep: the source is prepared once, then every point of
// every panel is encoded, decoded and scored on a pool of workers (one per
// core, or one with --serial) while the main thread drives a QueueDispatcher,
// printing progress ("Panel 2: point 5 of 9") on standard error and, with
// --verbose, every command as it finishes. The report (tables or JSON) goes to
// standard output; --csv also writes every point to a file.
//
// Every work directory is removed before exit. SIGINT or SIGTERM stops new
// points, ends the running tools (SIGTERM, then SIGKILL two seconds later or
// on a second signal), removes the directories and exits 130 or 143.
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <stop_token>
#include <thread>

#include "cli/CliCommand.h"
#include "cli/InterruptWatcher.h"
#include "cli/ProgressLine.h"
#include "cli/RateDistortionOptions.h"
#include "cli/RateDistortionTable.h"
#include "cli/VerboseLine.h"
#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/common/MainThreadDispatcher.h"
#include "core/engine/CompressionRunner.h"
#include "core/tools/ChildProcess.h"
#include "core/tools/CommandConsole.h"
#include "core/tools/TemporaryFiles.h"

namespace quorlin::cli {

namespace {

namespace fs = std::filesystem;

constexpr auto killGrace = std::chrono::seconds(2);

class RateDistortionRun {
 public:
  explicit RateDistortionRun(RateDistortionOptions options) : options_(std::move(options)), progress_(stderr) {
    options_.source = fs::absolute(options_.source);
  }

  int run();

 private:
  void onInterrupt(int count);
  bool writeCsv(const std::vector<PanelSweep>& sweeps);

  RateDistortionOptions options_;
  ProgressLine progress_;
  QueueDispatcher dispatcher_;
  std::stop_source stop_;
  ChildProcessTracker children_;
  ExecutableURLCache executables_;
  ToolSearchPath searchPath_{executables_};
  CommandConsoleStore console_;
  ToolRunner runner_{executables_, searchPath_, dispatcher_, console_, ChildStandardInput::nullDevice, &children_};
  ToolVersionCache versions_;
  CoreBudget budget_;
  std::optional<CompressionRunner> engine_;
};

void RateDistortionRun::onInterrupt(int count) {
  // Watcher thread: the sweep's stop ends the running tools; escalate on the main thread.
  stop_.request_stop();
  children_.terminateAll(count == 1 ? SIGTERM : SIGKILL);
  if (count == 1) {
    dispatcher_.post([this] {
      dispatcher_.postDelayed(killGrace, [this] { children_.terminateAll(SIGKILL); });
    });
  }
}

bool RateDistortionRun::writeCsv(const std::vector<PanelSweep>& sweeps) {
  const std::string text = rateDistortionCsv(sweeps);
  std::ofstream file(*options_.csvFile, std::ios::binary | std::ios::trunc);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.close();
  if (file) return true;
  progress_.show("Could not write " + options_.csvFile->string() + ".");
  return false;
}

int RateDistortionRun::run() {
  InterruptWatcher watcher([this](int, int count) { onInterrupt(count); });
  searchPath_.setCustomToolDirectories(options_.toolDirectories);
  // Each running point counts as a running panel, so its tools share the threads as a compare pass's do.
  budget_.setThreadsPerPass(options_.threads);
  engine_.emplace(
      EngineContext{runner_, executables_, searchPath_, versions_, fs::absolute(defaultTemporaryRoot()), &budget_});
  if (options_.isVerbose) {
    console_.addChangeObserver([this](const CommandConsoleChange& change) {
      if (change.kind != CommandConsoleChange::Kind::finished &&
          change.kind != CommandConsoleChange::Kind::launchFailed) {
        return;
      }
      for (const auto& entry : console_.entries()) {
        if (entry.id == change.id) progress_.printLine(verboseLine(entry));
      }
    });
  }

  auto display = engine_->readDisplayImage(options_.source, nullptr, std::nullopt);
  if (!display) {
    std::cerr << CompressionError::unreadableImage(options_.source).message() << "\n";
    return exitUsage;
  }
  SourceImageMetadata metadata = engine_->readSourceImageMetadata(options_.source, display->displaySize);
  std::error_code sizeError;
  RateDistortionSource source{options_.source, metadata.pixelWidth, metadata.pixelHeight,
                              static_cast<std::int64_t>(fs::file_size(options_.source, sizeError))};
  if (sizeError) source.fileSize = 0;

  progress_.show("Preparing the source...");
  std::optional<PreparedCompressionSource> prepared;
  try {
    prepared = engine_->prepareSource(options_.source, display->image);
  } catch (...) {
    progress_.finish();
    std::cerr << describeError(std::current_exception()) << "\n";
    return exitUsage;
  }
  display.reset();

  SweepSettings settings;
  settings.parallelPoints = options_.isSerial ? 1 : 0;
  settings.pixelCount = static_cast<std::int64_t>(source.pixelWidth) * source.pixelHeight;
  settings.tracker = &children_;
  SweepEvents events;
  events.progress = [this](const std::string& text) { dispatcher_.post([this, text] { progress_.show(text); }); };

  std::vector<PanelSweep> sweeps;
  std::string sweepError;
  bool isDone = false;
  {
    std::jthread worker([&, stopToken = stop_.get_token()] {
      try {
        sweeps = sweepPanels(options_.plans, *prepared, *engine_, settings, events, stopToken);
      } catch (...) {
        sweepError = describeError(std::current_exception());
      }
      dispatcher_.post([&isDone] { isDone = true; });
    });
    dispatcher_.runUntil([&isDone] { return isDone; });
  }
  dispatcher_.runPending();
  prepared->removeTemporaryDirectory();

  if (int signalNumber = watcher.firstSignal()) {
    for (const auto& sweep : sweeps) sweep.removeFiles();
    progress_.finish();
    std::cerr << "Interrupted.\n";
    return 128 + signalNumber;
  }
  if (!sweepError.empty()) {
    progress_.finish();
    std::cerr << sweepError << "\n";
    return exitSomeFailed;
  }

  const std::vector<PanelDelta> deltas = deltasAgainst(sweeps, options_.anchorIndex);
  bool isWritten = !options_.csvFile || writeCsv(sweeps);
  progress_.finish();
  std::string report = options_.isJson ? rateDistortionJson(source, sweeps, deltas)
                                       : rateDistortionTable(sweeps, options_.anchorIndex, deltas);
  std::fwrite(report.data(), 1, report.size(), stdout);
  std::fflush(stdout);
  for (const auto& sweep : sweeps) sweep.removeFiles();

  bool isComplete = std::all_of(sweeps.begin(), sweeps.end(), [](const PanelSweep& s) { return s.failures.empty(); });
  return isComplete && isWritten ? exitSuccess : exitSomeFailed;
}

int runRateDistortion(const std::vector<std::string>& arguments) {
  RateDistortionParse parse = parseRateDistortionArguments(arguments);
  if (parse.isHelp) {
    std::cout << rateDistortionUsage;
    return exitSuccess;
  }
  if (!parse.options) {
    std::cerr << "quorlin-cli rd: " << parse.error << "\n\n" << rateDistortionUsage;
    return exitUsage;
  }
  RateDistortionRun run(std::move(*parse.options));
  return run.run();
}

const RegisterCommand registration(CliCommand{
    "rd", "sweep each panel's quality or distance and compare the rate-distortion curves", runRateDistortion});

}  // namespace
}  // namespace quorlin::cli
