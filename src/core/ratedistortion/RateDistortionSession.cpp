#include "core/ratedistortion/RateDistortionSession.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/engine/ResultTexts.h"
#include "core/tools/TemporaryFiles.h"

namespace quorlin {

namespace fs = std::filesystem;

namespace {

// The panel's settings apart from its rate parameter, as a sweep runs them.
std::string curveKey(const CodecPanel& panel) {
  CodecPanel key = sweptPanel(panel);
  setSettingValue(key, 0);
  return key.settingsSignature();
}

// Sweeps on their way to the main thread: removed if they never arrive.
struct SweepHandoff {
  std::vector<PanelSweep> sweeps;
  ~SweepHandoff() {
    for (const auto& sweep : sweeps) sweep.removeFiles();
  }
};

}  // namespace

struct RateDistortionSession::Run {
  std::stop_source stop;
  std::vector<int> indices;
};

RateDistortionSession::RateDistortionSession(CompressionWorkspace& workspace, WorkspaceServices services)
    : workspace_(workspace),
      services_(std::move(services)),
      sweeps_(CompressionWorkspace::panelCount),
      absorbedResults_(CompressionWorkspace::panelCount),
      self_(std::make_shared<RateDistortionSession*>(this)) {
  for (int index = 0; index < CompressionWorkspace::panelCount; ++index) absorbProbes(index);
  workspaceSubscription_ = workspace_.observe([this](const WorkspaceChange& change) {
    bool isChanged = false;
    for (int index = 0; index < CompressionWorkspace::panelCount; ++index) {
      if (change.containsPanel(index)) isChanged = absorbProbes(index) || isChanged;
    }
    if (isChanged) changed();
  });
}

bool RateDistortionSession::absorbProbes(int index) {
  const CodecPanel& panel = workspace_.panel(index);
  const auto& result = panel.result;
  auto& absorbed = absorbedResults_[static_cast<std::size_t>(index)];
  if (!result || result->searchProbes.empty() || panel.needsRegeneration() || absorbed == result->id) return false;
  absorbed = result->id;
  auto& slot = sweeps_[static_cast<std::size_t>(index)];
  if (slot && curveKey(slot->panel) != curveKey(panel)) {
    slot->removeFiles();
    slot.reset();
  }
  if (!slot) {
    slot.emplace();
    slot->panel = sweptPanel(panel);
    slot->panelNumber = index + 1;
  }
  const auto pixels = workspace_.sourcePixelCount();
  for (const SearchProbePoint& probe : result->searchProbes) {
    const bool isKnown = std::any_of(slot->samples.begin(), slot->samples.end(), [&](const auto& sample) {
      return sample.settingValue == probe.parameter;
    });
    if (isKnown) continue;
    CodecPanel probed = slot->panel;
    setSettingValue(probed, probe.parameter);
    RateDistortionSample sample = makeSample(probe, probed, pixels);
    sample.targetScore = panel.targetScore;
    slot->samples.push_back(std::move(sample));
  }
  return true;
}

RateDistortionSession::~RateDistortionSession() {
  self_.reset();
  if (run_) run_->stop.request_stop();
  for (const auto& sweep : sweeps_) {
    if (sweep) sweep->removeFiles();
  }
}

void RateDistortionSession::sweepAll() { start({0, 1, 2, 3}); }

void RateDistortionSession::sweepPanel(int index) {
  if (index >= 0 && index < CompressionWorkspace::panelCount) start({index});
}

void RateDistortionSession::start(std::vector<int> indices) {
  if (run_ || !workspace_.sourceURL()) return;
  auto run = std::make_shared<Run>();
  run->indices = indices;
  std::vector<SweepPlan> plans;
  totalPoints_ = 0;
  for (int index : indices) {
    SweepPlan plan;
    plan.panel = workspace_.panel(index);
    plan.panelNumber = index + 1;
    totalPoints_ += ladderOf(plan).size();
    plans.push_back(std::move(plan));
  }
  completedPoints_ = 0;
  statusText_ = "Preparing the source...";
  run_ = run;

  std::weak_ptr<RateDistortionSession*> weakSelf = self_;
  auto dispatcher = services_.dispatcher;
  auto engine = services_.engine;
  const fs::path source = *workspace_.sourceURL();
  std::shared_ptr<const DecodedImage> decoded =
      workspace_.sourceImage() ? workspace_.sourceImage()->image : nullptr;
  SweepSettings settings;
  settings.pixelCount = workspace_.sourcePixelCount();
  settings.parallelPoints = services_.settings.encodeInParallel() ? 0 : 1;
  auto post = [weakSelf, dispatcher](std::function<void(RateDistortionSession&)> task) {
    dispatcher->post([weakSelf, task = std::move(task)] {
      if (auto self = weakSelf.lock()) task(**self);
    });
  };
  try {
    services_.workers->start([run, plans = std::move(plans), post, engine, source, decoded, settings] {
      SweepEvents events;
      events.progress = [post, run](const std::string& text) {
        post([run, text](RateDistortionSession& session) {
          if (session.run_ != run) return;
          session.statusText_ = text;
          session.changed();
        });
      };
      events.sampleAdded = [post, run](std::size_t, const RateDistortionSample&) {
        post([run](RateDistortionSession& session) {
          if (session.run_ != run) return;
          ++session.completedPoints_;
          session.changed();
        });
      };
      std::vector<PanelSweep> sweeps;
      std::string error;
      try {
        throwIfCancelled(run->stop.get_token());
        PreparedCompressionSource prepared = engine->prepareSource(source, decoded);
        try {
          sweeps = sweepPanels(plans, prepared, *engine, settings, events, run->stop.get_token());
        } catch (...) {
          prepared.removeTemporaryDirectory();
          throw;
        }
        prepared.removeTemporaryDirectory();
      } catch (const CancellationError&) {
        error.clear();
      } catch (...) {
        error = describeError(std::current_exception());
      }
      // Whoever receives the sweeps owns their files; nobody does once the session is gone.
      auto handoff = std::make_shared<SweepHandoff>();
      handoff->sweeps = std::move(sweeps);
      post([run, handoff, error](RateDistortionSession& session) {
        session.finish(run, std::exchange(handoff->sweeps, {}), error);
      });
    });
  } catch (const std::system_error& error) {
    run_.reset();
    statusText_ = error.what();
  }
  changed();
}

void RateDistortionSession::finish(const std::shared_ptr<Run>& run, std::vector<PanelSweep> sweeps,
                                   std::string error) {
  if (run_ != run) return;
  run_.reset();
  const bool isCancelled = run->stop.stop_requested();
  if (isCancelled) {
    statusText_ = "Sweep cancelled.";
    for (const auto& sweep : sweeps) sweep.removeFiles();
  } else if (!error.empty()) {
    statusText_ = "Sweep failed: " + error;
  } else {
    std::size_t failures = 0;
    for (auto& sweep : sweeps) {
      failures += sweep.failures.size();
      auto& slot = sweeps_.at(static_cast<std::size_t>(sweep.panelNumber - 1));
      if (slot) slot->removeFiles();
      slot = std::move(sweep);
      // The current result's probes stay on the new curve.
      absorbedResults_[static_cast<std::size_t>(slot->panelNumber - 1)].reset();
      absorbProbes(slot->panelNumber - 1);
    }
    statusText_ = failures ? "Sweep finished; " + std::to_string(failures) + " points failed." : "Sweep finished.";
  }
  changed();
}

void RateDistortionSession::adoptSweeps(std::vector<PanelSweep> sweeps) {
  if (run_) return;
  for (auto& sweep : sweeps) {
    const int index = sweep.panelNumber - 1;
    if (index < 0 || index >= CompressionWorkspace::panelCount) continue;
    auto& slot = sweeps_[static_cast<std::size_t>(index)];
    if (slot) slot->removeFiles();
    slot = std::move(sweep);
    absorbedResults_[static_cast<std::size_t>(index)].reset();
    absorbProbes(index);
  }
  statusText_ = "Curves from the corpus run, without their pictures; Sweep All sweeps the panels here.";
  changed();
}

void RateDistortionSession::cancel() {
  if (!run_) return;
  run_->stop.request_stop();
  statusText_ = "Cancelling...";
  changed();
}

bool RateDistortionSession::isStale(int index) const {
  const auto& swept = sweep(index);
  return swept && curveKey(swept->panel) != curveKey(workspace_.panel(index));
}

void RateDistortionSession::setAnchor(int index) {
  if (index < 0 || index >= CompressionWorkspace::panelCount || index == anchor_) return;
  anchor_ = index;
  changed();
}

std::vector<PanelDelta> RateDistortionSession::deltas() const {
  std::vector<PanelSweep> swept;
  std::optional<std::size_t> anchorIndex;
  for (std::size_t i = 0; i < sweeps_.size(); ++i) {
    if (!sweeps_[i]) continue;
    if (static_cast<int>(i) == anchor_) anchorIndex = swept.size();
    swept.push_back(*sweeps_[i]);
  }
  if (!anchorIndex) return {};
  return deltasAgainst(swept, *anchorIndex);
}

bool RateDistortionSession::showSample(int index, std::size_t sampleIndex) {
  const auto& swept = sweep(index);
  if (!swept || sampleIndex >= swept->samples.size() || !workspace_.sourceURL()) return false;
  const RateDistortionSample& sample = swept->samples[sampleIndex];
  if (sample.workDirectory.empty()) return false;  // a search probe: numbers only
  CompressionResult result = resultOf(sample, swept->panel.codec);
  // The panel's result gets files of its own: replacing it later deletes them,
  // while the curve keeps the sample's.
  std::error_code error;
  result.workDirectory = createWorkDirectory(sample.workDirectory.parent_path());
  result.encodedURL = result.workDirectory / sample.encodedURL.filename();
  result.decodedURL = result.workDirectory / sample.decodedURL.filename();
  fs::copy_file(sample.encodedURL, result.encodedURL, error);
  if (!error) fs::copy_file(sample.decodedURL, result.decodedURL, error);
  std::optional<DisplayImage> image;
  if (!error) {
    const auto& source = workspace_.sourceImage();
    image = services_.engine->readDisplayImage(result.decodedURL,
                                               source && source->image ? source->image->colorSpace() : nullptr,
                                               std::nullopt);
  }
  if (!image) {
    result.removeWorkDirectory();
    return false;
  }
  result.decodedImage = std::move(*image);
  const double value = sample.settingValue;
  workspace_.updatePanel(index, [value](CodecPanel& panel) { setSettingValue(panel, value); });
  workspace_.applyOutcome(CompressionTaskOutcome{index, std::string(rawValue(result.codec)), std::move(result), {}},
                          workspace_.sourceGeneration());
  changed();
  return true;
}

std::string RateDistortionSession::json() const {
  std::vector<PanelSweep> swept;
  for (const auto& sweep : sweeps_) {
    if (sweep) swept.push_back(*sweep);
  }
  RateDistortionSource source;
  if (workspace_.sourceURL()) source.path = *workspace_.sourceURL();
  if (const auto& metadata = workspace_.sourceMetadata()) {
    source.pixelWidth = metadata->pixelWidth;
    source.pixelHeight = metadata->pixelHeight;
  }
  source.fileSize = workspace_.sourceFileSize();
  const auto found = deltas();
  return rateDistortionJson(source, swept, found);
}

std::string RateDistortionSession::csv() const {
  std::vector<PanelSweep> swept;
  for (const auto& sweep : sweeps_) {
    if (sweep) swept.push_back(*sweep);
  }
  return rateDistortionCsv(swept);
}

}  // namespace quorlin
