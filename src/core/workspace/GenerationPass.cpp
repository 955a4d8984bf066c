#include "core/workspace/GenerationPass.h"

#include <exception>
#include <system_error>

#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/engine/TargetSearch.h"

namespace quorlin {

namespace fs = std::filesystem;

struct GenerationPass::RunEnd {
  int index = 0;
  bool wasCancelled = false;
  CompressionTaskOutcome outcome;
};

namespace {

// Owns a prepared source's directory: the last holder deletes it, so a
// prepared source whose pass never hears of it (the main loop stopped) does
// not stay on disk.
std::shared_ptr<const PreparedCompressionSource> holdPrepared(PreparedCompressionSource prepared) {
  return std::shared_ptr<const PreparedCompressionSource>(
      new PreparedCompressionSource(std::move(prepared)), [](const PreparedCompressionSource* source) {
        source->removeTemporaryDirectory();
        delete source;
      });
}

void removeDirectories(const std::vector<fs::path>& directories) {
  for (const auto& directory : directories) {
    std::error_code ignored;
    fs::remove_all(directory, ignored);
  }
}

}  // namespace

GenerationPass::GenerationPass(EngineServices services, std::weak_ptr<GenerationPassClient> client, Request request)
    : services_(std::move(services)), client_(std::move(client)), request_(std::move(request)) {}

std::shared_ptr<GenerationPass> GenerationPass::start(EngineServices services,
                                                      std::weak_ptr<GenerationPassClient> client, Request request) {
  std::shared_ptr<GenerationPass> pass(new GenerationPass(std::move(services), std::move(client), std::move(request)));
  try {
    pass->services_.workers->start([pass] { pass->prepareOnWorker(); });
  } catch (const std::exception& error) {
    std::string message = describeError(error);
    pass->services_.dispatcher->post([pass, message] { pass->preparationFailed(message); });
  }
  return pass;
}

void GenerationPass::prepareOnWorker() {
  auto self = shared_from_this();
  try {
    auto prepared = holdPrepared(services_.engine->prepareSource(request_.sourceURL, request_.decodedSource));
    services_.dispatcher->post([self, prepared] { self->sourcePrepared(prepared); });
  } catch (...) {
    std::string message = describeError(std::current_exception());
    services_.dispatcher->post([self, message] { self->preparationFailed(message); });
  }
}

GenerationPass::RunEnd GenerationPass::runOnWorker(int index, const CodecPanel& panel,
                                                   const PreparedCompressionSource& prepared,
                                                   std::stop_token stopToken) {
  RunEnd ended{index, false, CompressionTaskOutcome{index, std::string(rawValue(panel.codec)), {}, {}}};
  // Every probe's directory: a search that ends with an error returns no
  // result, so none of them may stay behind.
  std::vector<fs::path> probeDirectories;
  try {
    if (panel.rateControlMode == RateControlMode::manual) {
      ended.outcome.result = services_.engine->runPanel(panel, prepared, stopToken);
    } else {
      auto self = shared_from_this();
      auto progress = [self, index](const std::string& message) {
        self->services_.dispatcher->post([self, index, message] {
          if (auto client = self->client_.lock()) client->applyProgress(index, message, self->generation());
        });
      };
      // The search runs here over the engine's runs (rather than through the
      // engine's own search) so that every probe directory is known and none
      // outlives a search that fails.
      auto evaluate = [&](const CodecPanel& probePanel) {
        CompressionResult result = services_.engine->runPanel(probePanel, prepared, stopToken);
        probeDirectories.push_back(result.workDirectory);
        return result;
      };
      ended.outcome.result = searchTargetScore(panel, progress, evaluate, stopToken);
    }
  } catch (const CancellationError&) {
    removeDirectories(probeDirectories);
    ended.wasCancelled = true;
  } catch (...) {
    removeDirectories(probeDirectories);
    ended.outcome.errorMessage = describeError(std::current_exception());
  }
  return ended;
}

void GenerationPass::sourcePrepared(std::shared_ptr<const PreparedCompressionSource> prepared) {
  prepared_ = std::move(prepared);
  if (request_.execution == PassExecution::parallel) {
    auto client = client_.lock();
    if (client && !isCancelled()) {
      for (int index : request_.indices) {
        if (!isStopped(index)) launchRun(index, client->panelSnapshot(index));
      }
      nextIndex_ = request_.indices.size();
    }
  }
  continueOrFinish();
}

void GenerationPass::preparationFailed(const std::string& message) {
  if (auto client = client_.lock()) {
    for (int index : request_.indices) {
      if (isStopped(index)) continue;
      if (isCancelled()) {
        client->applyCancellation(index, generation());
      } else {
        client->applyOutcome(
            CompressionTaskOutcome{index, std::string(rawValue(client->panelSnapshot(index).codec)), {}, message},
            generation());
      }
    }
  }
  nextIndex_ = request_.indices.size();
  finish();
}

void GenerationPass::launchRun(int index, const CodecPanel& panel) {
  ++runningRuns_;
  auto self = shared_from_this();
  std::stop_source runStop;
  runStops_.insert_or_assign(index, runStop);
  try {
    services_.workers->start([self, index, panel, prepared = prepared_, runStop]() mutable {
      // The run ends when its panel is stopped or the whole pass is cancelled.
      std::stop_callback passCancelled(self->stopSource_.get_token(), [&runStop] { runStop.request_stop(); });
      RunEnd ended = self->runOnWorker(index, panel, *prepared, runStop.get_token());
      self->services_.dispatcher->post([self, ended = std::move(ended)]() mutable { self->runEnded(std::move(ended)); });
    });
  } catch (const std::exception& error) {
    RunEnd ended{index, false, CompressionTaskOutcome{index, std::string(rawValue(panel.codec)), {}, describeError(error)}};
    services_.dispatcher->post([self, ended = std::move(ended)]() mutable { self->runEnded(std::move(ended)); });
  }
}

void GenerationPass::runEnded(RunEnd ended) {
  --runningRuns_;
  runStops_.erase(ended.index);
  if (isStopped(ended.index)) {
    if (ended.outcome.result) ended.outcome.result->removeWorkDirectory();
  } else if (auto client = client_.lock()) {
    if (ended.wasCancelled) {
      client->applyCancellation(ended.index, generation());
    } else {
      client->applyOutcome(std::move(ended.outcome), generation());
    }
  } else if (ended.outcome.result) {
    // Nobody will show it.
    ended.outcome.result->removeWorkDirectory();
  }
  continueOrFinish();
}

void GenerationPass::continueOrFinish() {
  if (nextIndex_ < request_.indices.size() && runningRuns_ == 0) {
    auto client = client_.lock();
    while (nextIndex_ < request_.indices.size() && isStopped(request_.indices[nextIndex_])) ++nextIndex_;
    if (client && !isCancelled() && nextIndex_ < request_.indices.size()) {
      int index = request_.indices[nextIndex_++];
      launchRun(index, client->panelSnapshot(index));
      return;
    }
    // A cancelled serial pass starts nothing more; its waiting panels stop running.
    for (; nextIndex_ < request_.indices.size(); ++nextIndex_) {
      const int index = request_.indices[nextIndex_];
      if (client && !isStopped(index)) client->applyCancellation(index, generation());
    }
  }
  if (runningRuns_ == 0) finish();
}

void GenerationPass::finish() {
  if (hasEnded_) return;
  hasEnded_ = true;
  if (prepared_) {
    prepared_->removeTemporaryDirectory();
    prepared_.reset();
  }
  if (isDetached_) return;
  if (auto client = client_.lock()) client->passEnded(*this);
}

void GenerationPass::stop() {
  isDetached_ = true;
  cancel();
}

void GenerationPass::stopPanel(int index) {
  if (!stoppedIndices_.insert(index).second) return;
  if (auto run = runStops_.find(index); run != runStops_.end()) run->second.request_stop();
  // A serial pass may have been waiting only for this run.
  if (stoppedIndices_.size() == request_.indices.size()) cancel();
}

}  // namespace quorlin
