// GenerationPass: one run of some of a workspace's panels over one prepared
// source, tagged with the source generation it was started for.
//
// The pass prepares the source once on a worker, then runs each panel on a
// worker: serially (each run starts from a snapshot of its panel taken after
// the previous outcome was applied) or in parallel (one worker per panel,
// snapshots taken together, outcomes applied in completion order). A Set
// Quality panel is one engine run; a Target Score panel is a search whose
// probes are engine runs and whose progress texts come back as they happen.
//
// Threads: start() and every client call happen on the main thread; workers
// only call the engine and post back through the dispatcher. The pass holds
// its client weakly: when the workspace has gone, arriving results have their
// work directories deleted and nothing else happens. Workers hold the pass,
// the engine, the dispatcher and the prepared source by shared_ptr, so no one
// ever waits for them.
//
// Cancellation (any thread): the engine sees it at its cancellation points and
// ends the tools running; a run ended by it produces no outcome
// (applyCancellation instead), and a cancelled serial pass starts no further
// run. A Target Score search that ends with an error or a cancellation leaves
// no probe directory behind.
//
// Stopping (main thread) cancels the same way but tells the client nothing
// more of the stopped panels (the client has already put them back): stop()
// ends the whole pass, which then never calls passEnded; stopPanel() ends
// one panel's run (or skips it, when it has not started) and the rest goes on.
//
// The prepared source's directory is deleted when the pass ends (and, should a
// pass never end because the main loop stopped, when the last worker lets go
// of it).
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "core/common/MainThreadDispatcher.h"
#include "core/engine/CompressionEngine.h"
#include "core/workspace/BackgroundWorkers.h"
#include "core/workspace/CompressionTaskOutcome.h"

namespace quorlin {

class GenerationPass;

// What a pass asks of its workspace; main thread only.
class GenerationPassClient {
 public:
  virtual ~GenerationPassClient() = default;
  // The panel at `index` as it is now.
  virtual CodecPanel panelSnapshot(int index) const = 0;
  virtual void applyOutcome(CompressionTaskOutcome outcome, int generation) = 0;
  virtual void applyProgress(int index, const std::string& message, int generation) = 0;
  // The run of panel `index` was cancelled, or never started because the pass was.
  virtual void applyCancellation(int index, int generation) = 0;
  // Called once, after every run has ended and the prepared source is deleted.
  virtual void passEnded(const GenerationPass& pass) = 0;
};

// Where a pass runs its work.
struct EngineServices {
  std::shared_ptr<CompressionEngine> engine;
  std::shared_ptr<MainThreadDispatcher> dispatcher;
  std::shared_ptr<BackgroundWorkers> workers;
};

enum class PassExecution { serial, parallel };

class GenerationPass : public std::enable_shared_from_this<GenerationPass> {
 public:
  struct Request {
    std::vector<int> indices;            // panels to run, in order
    int generation = 0;                  // the source generation the pass belongs to
    PassExecution execution = PassExecution::parallel;
    std::filesystem::path sourceURL;
    std::shared_ptr<const DecodedImage> decodedSource;  // the loaded source, spares a decode
  };

  // Starts preparing the source on a worker and returns the running pass.
  static std::shared_ptr<GenerationPass> start(EngineServices services, std::weak_ptr<GenerationPassClient> client,
                                               Request request);

  GenerationPass(const GenerationPass&) = delete;
  GenerationPass& operator=(const GenerationPass&) = delete;

  int generation() const { return request_.generation; }
  const std::vector<int>& indices() const { return request_.indices; }
  // Thread-safe; idempotent.
  void cancel() { stopSource_.request_stop(); }
  bool isCancelled() const { return stopSource_.stop_requested(); }
  // Main thread.
  void stop();
  void stopPanel(int index);

 private:
  struct RunEnd;

  GenerationPass(EngineServices services, std::weak_ptr<GenerationPassClient> client, Request request);

  void prepareOnWorker();
  RunEnd runOnWorker(int index, const CodecPanel& panel, const PreparedCompressionSource& prepared,
                     std::stop_token stopToken);
  bool isStopped(int index) const { return isDetached_ || stoppedIndices_.contains(index); }

  // Main thread.
  void sourcePrepared(std::shared_ptr<const PreparedCompressionSource> prepared);
  void preparationFailed(const std::string& message);
  void launchRun(int index, const CodecPanel& panel);
  void runEnded(RunEnd ended);
  void continueOrFinish();
  void finish();

  EngineServices services_;
  std::weak_ptr<GenerationPassClient> client_;
  Request request_;
  std::stop_source stopSource_;
  std::shared_ptr<const PreparedCompressionSource> prepared_;
  std::size_t nextIndex_ = 0;   // position in indices of the next run to start
  std::size_t runningRuns_ = 0;
  bool hasEnded_ = false;
  bool isDetached_ = false;
  std::set<int> stoppedIndices_;
  std::map<int, std::stop_source> runStops_;   // of the runs started
};

}  // namespace quorlin
