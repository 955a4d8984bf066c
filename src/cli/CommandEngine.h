// CommandEngine: the engine a command-line pass runs its tools on, with all
// it hangs on: the main thread's QueueDispatcher, the tool runner and its
// console, the tracker of running tools, the stop of the pass and the core
// budget its tools share. Built once per pass from the options every such
// command takes (tool directories, time limit, pixel limit, threads,
// --verbose).
//
// interrupt() is what the pass's InterruptWatcher calls: it stops the pass,
// which ends the running tools (SIGTERM, then SIGKILL within a second, or at
// once on a second signal).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "cli/CommandEngineSettings.h"
#include "cli/ProgressLine.h"
#include "core/common/MainThreadDispatcher.h"
#include "core/engine/CompressionRunner.h"
#include "core/engine/CoreBudget.h"
#include "core/ratedistortion/RateDistortionReport.h"
#include "core/tools/ChildProcess.h"
#include "core/tools/CommandConsole.h"

namespace quorlin::cli {

class CommandEngine {
 public:
  CommandEngine(const CommandEngineSettings& settings, ProgressLine& progress);
  CommandEngine(const CommandEngine&) = delete;
  CommandEngine& operator=(const CommandEngine&) = delete;

  // Watcher thread.
  void interrupt(int count);

  // Decodes `source` for the pass; nothing after printing why on standard
  // error when it cannot be read.
  std::optional<DisplayImage> readSource(const std::filesystem::path& source);
  // Its size and file size (0 when that cannot be read), as the reports give them.
  RateDistortionSource describeSource(const std::filesystem::path& source, const DisplayImage& display);

  QueueDispatcher& dispatcher() { return dispatcher_; }
  std::stop_token stopToken() const { return stop_.get_token(); }
  ChildProcessTracker& children() { return children_; }
  CompressionRunner& engine() { return *engine_; }

 private:
  ProgressLine& progress_;
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

}  // namespace quorlin::cli
