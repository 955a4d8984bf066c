// quorlin-cli compare SOURCE [--panel CODEC[:FIELD=VALUE,...]]... [--target SCORE]
//                     [--serial] [--threads N] [--json] [--export DIR] [--maps DIR]
//                     [--tool-dir DIR]... [--verbose] [--tool-timeout SECONDS] [--pixel-limit PIXELS]
//
// One generate pass, as the desktop app runs it: the source is prepared once,
// then every panel (one worker thread each, or one after another with
// --serial) is encoded, decoded and scored, or searched for the target score.
// The main thread drives a QueueDispatcher: it applies outcomes, prints the
// pass's status texts on standard error and, with --verbose, every command as
// it finishes. The report (a table or JSON) goes to standard output.
//
// Every work directory is removed before exit. SIGINT or SIGTERM stops new
// work, ends the running tools (SIGTERM, then SIGKILL two seconds later or on
// a second signal), removes the directories and exits 130 or 143.
//
// Exit status: 0 every panel succeeded, 1 some failed (or an export failed),
// 2 usage error or unreadable source ("Could not read decoded image: NAME."
// and, on the next line, why).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/CliCommand.h"
#include "cli/CommandEngine.h"
#include "cli/CompareOptions.h"
#include "cli/CompareReport.h"
#include "cli/InterruptWatcher.h"
#include "cli/ProgressLine.h"
#include "cli/SourcePass.h"
#include "core/common/ByteCount.h"
#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/common/MainThreadDispatcher.h"
#include "core/comparison/ErrorMapImage.h"
#include "core/engine/CompressionRunner.h"
#include "core/engine/ResultTexts.h"

namespace quorlin::cli {

namespace {

namespace fs = std::filesystem;

// Every work directory a result of this pass owns, including Target Score
// probes a failed or interrupted search leaves behind. Any thread.
class ResultDirectories {
 public:
  void record(const fs::path& directory) {
    std::lock_guard guard(lock_);
    directories_.insert(directory);
  }
  void removeAll() {
    std::lock_guard guard(lock_);
    for (const auto& directory : directories_) {
      std::error_code ignored;
      fs::remove_all(directory, ignored);
    }
    directories_.clear();
  }

 private:
  std::mutex lock_;
  std::set<fs::path> directories_;
};

// The name an exported file gets in DIR: the encoded file's own name, unless
// an earlier panel of this pass took it; then the panel number is added.
fs::path exportTarget(const fs::path& directory, const fs::path& encoded, std::size_t index,
                      std::set<fs::path>& taken) {
  fs::path target = directory / encoded.filename();
  if (taken.contains(target)) {
    target = directory / (encoded.stem().string() + "-" + std::to_string(index + 1) + encoded.extension().string());
  }
  taken.insert(target);
  return target;
}

class ComparePass : SourcePass<CompareOptions> {
 public:
  explicit ComparePass(CompareOptions options) : SourcePass(std::move(options)) {}

  int run();

 private:
  void runPanelAt(std::size_t index, const PreparedCompressionSource& prepared, std::stop_token stopToken);
  void apply(std::size_t index, std::optional<CompressionResult> result, std::string errorMessage,
             std::string errorDetail = {});
  bool exportResults();
  bool writeMaps();

  ResultDirectories directories_;
  std::vector<PanelOutcome> outcomes_;
  std::size_t remaining_ = 0;
};

void ComparePass::runPanelAt(std::size_t index, const PreparedCompressionSource& prepared,
                             std::stop_token stopToken) {
  const CodecPanel panel = outcomes_[index].panel;  // a copy: the main thread owns the outcomes
  std::optional<CompressionResult> result;
  std::string errorMessage;
  std::string errorDetail;
  try {
    throwIfCancelled(stopToken);
    auto evaluate = [&](const CodecPanel& probe) {
      CompressionResult probeResult = engine_.runPanel(probe, prepared, stopToken);
      directories_.record(probeResult.workDirectory);
      return probeResult;
    };
    if (panel.rateControlMode == RateControlMode::targetScore) {
      std::string prefix(1, '[');
      prefix.append(std::to_string(index + 1)).append(" ").append(rawValue(panel.codec)).append("] ");
      auto report = [this, prefix](const std::string& text) {
        dispatcher_.post([this, line = prefix + text] { progress_.show(line); });
      };
      result = searchTargetScore(panel, report, evaluate, stopToken);
    } else {
      result = evaluate(panel);
    }
  } catch (...) {
    errorMessage = describeError(std::current_exception());
    errorDetail = describeErrorDetail(std::current_exception());
  }
  dispatcher_.post([this, index, result = std::move(result), errorMessage, errorDetail]() mutable {
    apply(index, std::move(result), std::move(errorMessage), std::move(errorDetail));
  });
}

void ComparePass::apply(std::size_t index, std::optional<CompressionResult> result, std::string errorMessage,
                        std::string errorDetail) {
  PanelOutcome& outcome = outcomes_[index];
  std::string_view codec = rawValue(outcome.panel.codec);
  if (result) {
    progress_.show("Generated " + std::string(codec) + ": " + formatByteCount(result->encodedSize) + ".");
  } else {
    progress_.show(std::string(codec) + " failed: " + (errorMessage.empty() ? "Unknown error" : errorMessage));
    if (options_.isVerbose && !errorDetail.empty()) progress_.printLine("  " + errorDetail);
  }
  outcome.result = std::move(result);
  outcome.errorMessage = std::move(errorMessage);
  outcome.errorDetail = std::move(errorDetail);
  --remaining_;
}

bool ComparePass::exportResults() {
  const fs::path& directory = *options_.exportDirectory;
  bool isComplete = true;
  std::set<fs::path> taken;
  for (std::size_t i = 0; i < outcomes_.size(); ++i) {
    if (!outcomes_[i].result) continue;
    try {
      fs::create_directories(directory);
      fs::path target = exportTarget(directory, outcomes_[i].result->encodedURL, i, taken);
      fs::copy_file(outcomes_[i].result->encodedURL, target, fs::copy_options::overwrite_existing);
      progress_.show("Exported " + target.filename().string() + ".");
    } catch (const std::exception& error) {
      progress_.show("Export failed: " + describeError(error));
      isComplete = false;
    }
  }
  return isComplete;
}

bool ComparePass::writeMaps() {
  const fs::path& directory = *options_.mapsDirectory;
  // Two passes over the maps, the first for the shared scale, so that only
  // one map at a time is in memory.
  double scale = 0.0;
  std::vector<bool> isReadable(outcomes_.size(), false);
  bool isComplete = true;
  for (std::size_t i = 0; i < outcomes_.size(); ++i) {
    const auto& result = outcomes_[i].result;
    if (!result) continue;
    std::optional<ErrorMapTotals> map;
    if (result->errorMapURL) map = readErrorMapTotals(*result->errorMapURL);
    if (!map) {
      progress_.show("No error map for " + std::string(rawValue(result->codec)) + ": its ssimulacra2 wrote none.");
      isComplete = false;
      continue;
    }
    isReadable[i] = true;
    scale = std::max(scale, sharedErrorMapScale({&*map}));
  }
  std::set<fs::path> taken;
  for (std::size_t i = 0; i < outcomes_.size(); ++i) {
    if (!isReadable[i]) continue;
    const CompressionResult& result = *outcomes_[i].result;
    const std::string name =
        result.encodedURL.stem().string() + "-" + result.encodedURL.extension().string().substr(1) + "-error-map";
    try {
      fs::create_directories(directory);
      const fs::path floats = exportTarget(directory, name + ".pfm", i, taken);
      fs::copy_file(*result.errorMapURL, floats, fs::copy_options::overwrite_existing);
      fs::path colours = floats;
      colours.replace_extension(".png");
      const std::optional<ErrorMapTotals> map = readErrorMapTotals(*result.errorMapURL);
      if (!map) throw CompressionError::unreadableImage(*result.errorMapURL);
      writeErrorMapPng(*map, scale, colours);
      progress_.show("Wrote " + floats.filename().string() + " and " + colours.filename().string() + ".");
    } catch (const std::exception& error) {
      progress_.show("Writing the error map failed: " + describeError(error));
      isComplete = false;
    }
  }
  return isComplete;
}

int ComparePass::run() {
  InterruptWatcher watcher([this](int, int count) { tools_.interrupt(count); });
  auto display = tools_.readSource(options_.source);
  if (!display) return exitUsage;
  const CompareSource source = tools_.describeSource(options_.source, *display);

  for (const auto& panel : options_.panels) outcomes_.push_back(PanelOutcome{panel, std::nullopt, {}, {}});
  remaining_ = outcomes_.size();
  progress_.show("Encoding all panels...");

  std::optional<PreparedCompressionSource> prepared;
  try {
    prepared = engine_.prepareSource(options_.source, display->image);
  } catch (...) {
    std::string message = describeError(std::current_exception());
    std::string detail = describeErrorDetail(std::current_exception());
    for (std::size_t i = 0; i < outcomes_.size(); ++i) apply(i, std::nullopt, message, detail);
  }
  display.reset();  // the prepared PNG holds what the panels need

  if (prepared) {
    std::vector<std::jthread> workers;
    const std::stop_token stopToken = tools_.stopToken();
    if (options_.isSerial) {
      workers.emplace_back([this, &prepared, stopToken] {
        for (std::size_t i = 0; i < outcomes_.size(); ++i) runPanelAt(i, *prepared, stopToken);
      });
    } else {
      for (std::size_t i = 0; i < outcomes_.size(); ++i) {
        workers.emplace_back([this, &prepared, stopToken, i] { runPanelAt(i, *prepared, stopToken); });
      }
    }
    dispatcher_.runUntil([this] { return remaining_ == 0; });
    workers.clear();  // joins; each has posted its outcome already
    dispatcher_.runPending();
    prepared->removeTemporaryDirectory();
  }

  if (int signalNumber = watcher.firstSignal()) {
    directories_.removeAll();
    progress_.finish();
    std::cerr << "Interrupted.\n";
    return 128 + signalNumber;
  }

  bool isExported = !options_.exportDirectory || exportResults();
  if (options_.mapsDirectory && !writeMaps()) isExported = false;
  progress_.finish();
  std::string report = options_.isJson ? compareJson(source, outcomes_) : compareTable(source, outcomes_);
  std::fwrite(report.data(), 1, report.size(), stdout);
  std::fflush(stdout);
  directories_.removeAll();

  bool isComplete = std::all_of(outcomes_.begin(), outcomes_.end(), [](const PanelOutcome& o) { return o.result; });
  return isComplete && isExported ? exitSuccess : exitSomeFailed;
}

int runCompare(const std::vector<std::string>& arguments) {
  return runParsed<ComparePass>("compare", parseCompareArguments(arguments), compareUsage());
}

const RegisterCommand registration(
    CliCommand{"compare", "encode, decode and score a source with up to four codec panels", runCompare});

}  // namespace
}  // namespace quorlin::cli
