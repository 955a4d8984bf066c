// quorlin-cli rd SOURCE [--panel ...]... [--ladder N=V1,...]... [--targets S1,...]
//                [--anchor N] [--serial] [--threads N] [--json] [--csv FILE] [--tool-dir DIR]...
//                [--verbose] [--tool-timeout SECONDS] [--pixel-limit PIXELS]
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
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <stop_token>
#include <thread>

#include "cli/CliCommand.h"
#include "cli/CommandEngine.h"
#include "cli/InterruptWatcher.h"
#include "cli/ProgressLine.h"
#include "cli/RateDistortionOptions.h"
#include "cli/RateDistortionTable.h"
#include "cli/SourcePass.h"
#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/common/MainThreadDispatcher.h"
#include "core/engine/CompressionRunner.h"

namespace quorlin::cli {

namespace {

namespace fs = std::filesystem;

class RateDistortionRun : SourcePass<RateDistortionOptions> {
 public:
  explicit RateDistortionRun(RateDistortionOptions options) : SourcePass(std::move(options)) {}

  int run();

 private:
  bool writeCsv(const std::vector<PanelSweep>& sweeps);
};

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
  InterruptWatcher watcher([this](int, int count) { tools_.interrupt(count); });
  auto display = tools_.readSource(options_.source);
  if (!display) return exitUsage;
  const RateDistortionSource source = tools_.describeSource(options_.source, *display);

  progress_.show("Preparing the source...");
  std::optional<PreparedCompressionSource> prepared;
  try {
    prepared = engine_.prepareSource(options_.source, display->image);
  } catch (...) {
    progress_.finish();
    std::cerr << describeError(std::current_exception()) << "\n";
    return exitUsage;
  }
  display.reset();

  SweepSettings settings;
  settings.parallelPoints = options_.isSerial ? 1 : 0;
  settings.pixelCount = static_cast<std::int64_t>(source.pixelWidth) * source.pixelHeight;
  SweepEvents events;
  events.progress = [this](const std::string& text) { dispatcher_.post([this, text] { progress_.show(text); }); };

  std::vector<PanelSweep> sweeps;
  std::string sweepError;
  bool isDone = false;
  {
    std::jthread worker([&, stopToken = tools_.stopToken()] {
      try {
        sweeps = sweepPanels(options_.plans, *prepared, engine_, settings, events, stopToken);
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
  return runParsed<RateDistortionRun>("rd", parseRateDistortionArguments(arguments), rateDistortionUsage());
}

const RegisterCommand registration(CliCommand{
    "rd", "sweep each panel's quality or distance and compare the rate-distortion curves", runRateDistortion});

}  // namespace
}  // namespace quorlin::cli
