#include "core/workspace/CompressionWorkspace.h"

#include "core/engine/CodecAvailability.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <system_error>
#include <utility>

#include "core/common/ByteCount.h"
#include "core/common/CompressionError.h"
#include "core/workspace/WorkspaceTexts.h"

namespace quorlin {

namespace fs = std::filesystem;

struct CompressionWorkspace::LoadedSource {
  DisplayImage image;
  SourceImageMetadata metadata;
  std::int64_t fileSize = 0;
};

// Collects the changes of one operation and tells the observers once, when the
// outermost operation is complete.
class CompressionWorkspace::ChangeBatch {
 public:
  explicit ChangeBatch(CompressionWorkspace& workspace) : workspace_(workspace) { ++workspace_.batchDepth_; }
  ~ChangeBatch() {
    if (--workspace_.batchDepth_ > 0 || workspace_.pendingChange_.isEmpty()) return;
    // The observers may start another operation (and batch) of their own.
    WorkspaceChange change = std::exchange(workspace_.pendingChange_, WorkspaceChange{});
    workspace_.observers_.notify(change);
  }
  ChangeBatch(const ChangeBatch&) = delete;
  ChangeBatch& operator=(const ChangeBatch&) = delete;

 private:
  CompressionWorkspace& workspace_;
};

namespace {

std::int64_t fileSizeOrZero(const fs::path& file) {
  std::error_code error;
  auto size = fs::file_size(file, error);
  return error ? 0 : static_cast<std::int64_t>(size);
}

std::vector<std::string> signaturesOf(const std::vector<CodecPanel>& panels) {
  std::vector<std::string> signatures;
  signatures.reserve(panels.size());
  for (const auto& panel : panels) signatures.push_back(panel.settingsSignature());
  return signatures;
}

// The delay read from the settings, made safe for the clock: a negative or
// undefined delay runs at once, and none waits longer than a day.
MainThreadDispatcher::Duration autoRegenerateDelay(double seconds) {
  if (!(seconds >= 0)) seconds = 0;
  seconds = std::min(seconds, 86400.0);
  return std::chrono::duration_cast<MainThreadDispatcher::Duration>(std::chrono::duration<double>(seconds));
}

// The text for a failed file operation, naming the file it failed on.
std::string fileErrorText(const std::error_code& error, const fs::path& file) {
  return describeError(fs::filesystem_error(error.message(), file, error));
}

}  // namespace

CompressionWorkspace::CompressionWorkspace(WorkspaceServices services, std::string tabTitle,
                                           RateControlMode rateControlMode,
                                           std::function<void()> reactivateGlobalCommands)
    : services_(std::move(services)),
      reactivateGlobalCommands_(std::move(reactivateGlobalCommands)),
      tabTitle_(std::move(tabTitle)),
      rateControlMode_(rateControlMode),
      temporaryFiles_(std::make_shared<TemporaryFileCleanupBag>(services_.temporaryDirectories)),
      panels_(makeDefaultPanels([this](CompressionCodec codec) { return codecUnavailableReason(codec); })),
      self_(this, [](CompressionWorkspace*) {}) {
  for (auto& panel : panels_) {
    panel.rateControlMode = rateControlMode_;
    panel.targetScore = targetScore_;
  }
  lastSignatures_ = signaturesOf(panels_);
}

CompressionWorkspace::~CompressionWorkspace() {
  // From here on, whatever arrives for this workspace is dropped (and its
  // directories deleted) by the pass or closure that carries it.
  self_.reset();
  autoRegenerateCall_.cancel();
  for (const auto& pass : passes_) pass->cancel();
  workStop_.request_stop();
}

// ---- Change notification

void CompressionWorkspace::changed(WorkspaceAspect aspect) {
  ChangeBatch batch(*this);
  pendingChange_.add(aspect);
}

void CompressionWorkspace::panelChanged(int index) {
  ChangeBatch batch(*this);
  pendingChange_.addPanel(index);
}

void CompressionWorkspace::setStatus(std::string message) {
  statusMessage_ = std::move(message);
  changed(WorkspaceAspect::status);
}

// ---- Tab

void CompressionWorkspace::setTabTitle(std::string title) {
  if (title == tabTitle_) return;
  tabTitle_ = std::move(title);
  changed(WorkspaceAspect::tabTitle);
}

void CompressionWorkspace::setRateControlMode(RateControlMode mode) {
  if (mode == rateControlMode_) return;
  ChangeBatch batch(*this);
  rateControlMode_ = mode;
  changed(WorkspaceAspect::rateControl);
  syncPanelRateControl();
}

void CompressionWorkspace::setTargetScore(double score) {
  if (score == targetScore_) return;
  ChangeBatch batch(*this);
  targetScore_ = score;
  changed(WorkspaceAspect::rateControl);
  syncPanelRateControl();
}

// ---- Source

bool CompressionWorkspace::sourceIsJPEG() const { return sourceMetadata_ && sourceMetadata_->isJPEG; }

std::optional<std::int64_t> CompressionWorkspace::sourcePixelCount() const {
  if (!sourceMetadata_) return std::nullopt;
  return static_cast<std::int64_t>(sourceMetadata_->pixelWidth) * sourceMetadata_->pixelHeight;
}

bool CompressionWorkspace::usesTransparencyBackground() const {
  return sourceMetadata_ && sourceMetadata_->hasAlpha.value_or(false);
}

void CompressionWorkspace::loadSource(const fs::path& file) {
  ChangeBatch batch(*this);
  const std::uint64_t sequence = ++loadSequence_;
  ++pendingLoads_;
  changed(WorkspaceAspect::running);
  std::weak_ptr<CompressionWorkspace> weakSelf = self_;
  auto finish = [weakSelf, sequence, file](std::optional<LoadedSource> loaded) {
    if (auto self = weakSelf.lock()) {
      ChangeBatch finished(*self);
      --self->pendingLoads_;
      self->changed(WorkspaceAspect::running);
      // A later request supersedes this one.
      if (sequence == self->loadSequence_) self->applyLoadedSource(file, std::move(loaded));
    }
  };
  auto engine = services_.engine;
  auto dispatcher = services_.dispatcher;
  try {
    services_.workers->start([engine, dispatcher, file, finish] {
      std::optional<LoadedSource> loaded;
      try {
        if (auto image = engine->readDisplayImage(file, nullptr, std::nullopt)) {
          LoadedSource source;
          source.metadata = engine->readSourceImageMetadata(file, image->displaySize);
          source.image = std::move(*image);
          source.fileSize = fileSizeOrZero(file);
          loaded = std::move(source);
        }
      } catch (...) {
        // An unreadable file is reported the same way whatever the reader threw.
        loaded.reset();
      }
      dispatcher->post([finish, loaded = std::move(loaded)]() mutable { finish(std::move(loaded)); });
    });
  } catch (const std::exception&) {
    dispatcher->post([finish] { finish(std::nullopt); });
  }
}

void CompressionWorkspace::applyLoadedSource(const fs::path& file, std::optional<LoadedSource> loaded) {
  ChangeBatch batch(*this);
  const std::string fileName = file.filename().string();
  if (!loaded) {
    setStatus(WorkspaceTexts::couldNotLoad(fileName));
    loadErrorMessage_ = WorkspaceTexts::loadErrorAlert(fileName);
    changed(WorkspaceAspect::loadError);
    return;
  }
  sourceURL_ = file;
  setTabTitle(fileName);
  sourceImage_ = std::move(loaded->image);
  sourceFileSize_ = loaded->fileSize;
  sourceMetadata_ = std::move(loaded->metadata);
  changed(WorkspaceAspect::source);
  canvasView_.resetForNewSource();
  setStatus(WorkspaceTexts::loaded(fileName));
  ++sourceGeneration_;
  // Every pass belongs to the old source now: stop them (their late outcomes
  // are dropped by the generation check anyway).
  cancelAllPasses();
  generateTask_.reset();
  cancelAutoRegeneration();
  isRunning_ = false;
  changed(WorkspaceAspect::running);
  const bool keepsTranscode = sourceIsJPEG();
  for (int index = 0; index < panelCount; ++index) {
    CodecPanel& panel = panels_[static_cast<std::size_t>(index)];
    replaceResult(panel, std::nullopt);
    panel.errorMessage.reset();
    panel.progressMessage.reset();
    panel.isRunning = false;
    if (!keepsTranscode) panel.isJPEGLosslessTranscode = false;
    panelChanged(index);
  }
  followDefaultsForSource();
  panelsEdited();
}

void CompressionWorkspace::followDefaultsForSource() {
  auto reason = [this](CompressionCodec codec) { return codecUnavailableReason(codec); };
  const std::vector<CodecPanel> sdr = makeDefaultPanels(reason, {}), hdr = makeDefaultPanels(reason, "PQ");
  auto isSet = [this](const std::vector<CodecPanel>& defaults) {
    return std::equal(panels_.begin(), panels_.end(), defaults.begin(), defaults.end(),
                      [](const CodecPanel& a, const CodecPanel& b) { return a.settingsSignature() == b.settingsSignature(); });
  };
  if (!isSet(sdr) && !isSet(hdr)) return;  // the user has chosen
  const std::string_view transfer = sourceMetadata_ ? hdrTransferName(*sourceMetadata_) : std::string_view{};
  const std::vector<CodecPanel>& wanted = transfer.empty() ? sdr : hdr;
  for (std::size_t index = 0; index < panels_.size(); ++index) {
    CodecPanel& panel = panels_[index];
    if (panel.codec == wanted[index].codec) continue;
    const Uuid id = panel.id;  // results are already cleared
    panel = wanted[index];
    panel.id = id;
    panelChanged(static_cast<int>(index));
  }
}

void CompressionWorkspace::loadDroppedItem(const std::optional<fs::path>& file) {
  if (file) {
    loadSource(*file);
    return;
  }
  ChangeBatch batch(*this);
  setStatus(std::string(WorkspaceTexts::unreadableDrop));
  loadErrorMessage_ = std::string(WorkspaceTexts::unreadableDropAlert);
  changed(WorkspaceAspect::loadError);
}

void CompressionWorkspace::dismissLoadError() {
  if (!loadErrorMessage_) return;
  loadErrorMessage_.reset();
  changed(WorkspaceAspect::loadError);
}

// ---- Panels

void CompressionWorkspace::replaceResult(CodecPanel& panel, std::optional<CompressionResult> result) {
  if (panel.result && !(result && result->id == panel.result->id)) {
    panel.result->removeWorkDirectory();
    panel.wasStopped = false;
  }
  panel.result = std::move(result);
}

void CompressionWorkspace::updatePanel(int index, const std::function<void(CodecPanel&)>& mutator) {
  if (index < 0 || index >= panelCount) return;
  ChangeBatch batch(*this);
  CodecPanel& panel = panels_[static_cast<std::size_t>(index)];
  const Uuid id = panel.id;
  std::optional<CompressionResult> before = panel.result;
  mutator(panel);
  panel.id = id;
  if (before && !(panel.result && panel.result->id == before->id)) {
    before->removeWorkDirectory();
    panel.wasStopped = false;
  }
  panelChanged(index);
  panelsEdited();
}

void CompressionWorkspace::setPanel(int index, CodecPanel panel) {
  updatePanel(index, [&panel](CodecPanel& current) { current = std::move(panel); });
}

void CompressionWorkspace::syncPanelRateControl() {
  ChangeBatch batch(*this);
  for (int index = 0; index < panelCount; ++index) {
    CodecPanel& panel = panels_[static_cast<std::size_t>(index)];
    if (panel.rateControlMode == rateControlMode_ && panel.targetScore == targetScore_) continue;
    panel.rateControlMode = rateControlMode_;
    panel.targetScore = targetScore_;
    panelChanged(index);
  }
  panelsEdited();
}

void CompressionWorkspace::panelsEdited() {
  auto signatures = signaturesOf(panels_);
  if (signatures == lastSignatures_) return;
  lastSignatures_ = std::move(signatures);
  scheduleAutoRegenerate();
}

// ---- Generation

void CompressionWorkspace::startGenerateTask() {
  if (isRunning_) return;
  generateAll();
}

void CompressionWorkspace::generateAll() {
  if (!sourceURL_) return;
  ChangeBatch batch(*this);
  const int generation = sourceGeneration_;
  isRunning_ = true;
  changed(WorkspaceAspect::running);
  setStatus(std::string(WorkspaceTexts::encodingAllPanels));
  std::vector<int> indices;
  for (int index = 0; index < panelCount; ++index) {
    CodecPanel& panel = panels_[static_cast<std::size_t>(index)];
    panel.errorMessage.reset();
    panel.progressMessage.reset();
    panel.isRunning = true;
    panelChanged(index);
    indices.push_back(index);
  }
  generateTask_ = runPanels(std::move(indices), generation);
}

void CompressionWorkspace::generatePanel(const Uuid& panelID) {
  if (!sourceURL_) return;
  auto found = std::find_if(panels_.begin(), panels_.end(), [&](const CodecPanel& p) { return p.id == panelID; });
  if (found == panels_.end()) return;
  const int index = static_cast<int>(found - panels_.begin());
  ChangeBatch batch(*this);
  const int generation = sourceGeneration_;
  isRunning_ = true;
  changed(WorkspaceAspect::running);
  found->errorMessage.reset();
  found->progressMessage.reset();
  found->isRunning = true;
  panelChanged(index);
  setStatus(WorkspaceTexts::encodingCodec(rawValue(found->codec)));
  runPanels({index}, generation);
}

void CompressionWorkspace::regenerateChangedPanels() { startRegeneration(); }

std::shared_ptr<GenerationPass> CompressionWorkspace::startRegeneration() {
  if (!sourceURL_) return nullptr;
  const int generation = sourceGeneration_;
  std::vector<int> indices;
  for (int index = 0; index < panelCount; ++index) {
    const CodecPanel& panel = panels_[static_cast<std::size_t>(index)];
    if (!panel.result || panel.result->settingsSignature != panel.settingsSignature()) indices.push_back(index);
  }
  if (indices.empty()) return nullptr;
  ChangeBatch batch(*this);
  isRunning_ = true;
  changed(WorkspaceAspect::running);
  setStatus(std::string(WorkspaceTexts::regeneratingChangedPanels));
  for (int index : indices) {
    CodecPanel& panel = panels_[static_cast<std::size_t>(index)];
    panel.errorMessage.reset();
    panel.progressMessage.reset();
    panel.isRunning = true;
    panelChanged(index);
  }
  return runPanels(std::move(indices), generation);
}

std::shared_ptr<GenerationPass> CompressionWorkspace::runPanels(std::vector<int> indices, int generation) {
  GenerationPass::Request request;
  request.indices = std::move(indices);
  request.generation = generation;
  request.execution = services_.settings.encodeInParallel() ? PassExecution::parallel : PassExecution::serial;
  request.sourceURL = *sourceURL_;
  if (sourceImage_) request.decodedSource = sourceImage_->image;
  // Shares the handle's lifetime, so the pass sees the workspace go.
  std::shared_ptr<GenerationPassClient> client(self_, static_cast<GenerationPassClient*>(this));
  auto pass = GenerationPass::start(EngineServices{services_.engine, services_.dispatcher, services_.workers}, client,
                                    std::move(request));
  passes_.push_back(pass);
  return pass;
}

void CompressionWorkspace::applyOutcome(CompressionTaskOutcome outcome, int generation) {
  const bool isCurrent = generation == sourceGeneration_;
  if (!isCurrent || outcome.index < 0 || outcome.index >= panelCount) {
    // The source was replaced meanwhile: nobody shows this result.
    if (outcome.result) outcome.result->removeWorkDirectory();
    return;
  }
  ChangeBatch batch(*this);
  CodecPanel& panel = panels_[static_cast<std::size_t>(outcome.index)];
  if (outcome.result) {
    const CompressionResult& result = *outcome.result;
    // The Target Score search writes its answer back into the panel's controls.
    if (result.foundQuality) panel.quality = *result.foundQuality;
    if (result.foundDistance) panel.distance = *result.foundDistance;
    temporaryFiles_->track(result.workDirectory);
    setStatus(WorkspaceTexts::generated(rawValue(result.codec), formatByteCount(result.encodedSize)));
    panel.errorMessage.reset();
    replaceResult(panel, std::move(outcome.result));
  } else {
    replaceResult(panel, std::nullopt);
    panel.errorMessage = outcome.errorMessage;
    setStatus(WorkspaceTexts::failed(outcome.codecName, outcome.errorMessage));
  }
  panel.progressMessage.reset();
  panel.isRunning = false;
  panelChanged(outcome.index);
  panelsEdited();
}

void CompressionWorkspace::applyProgress(int index, const std::string& message, int generation) {
  if (generation != sourceGeneration_ || index < 0 || index >= panelCount) return;
  panels_[static_cast<std::size_t>(index)].progressMessage = message;
  panelChanged(index);
}

void CompressionWorkspace::applyCancellation(int index, int generation) {
  if (generation != sourceGeneration_ || index < 0 || index >= panelCount) return;
  ChangeBatch batch(*this);
  CodecPanel& panel = panels_[static_cast<std::size_t>(index)];
  panel.progressMessage.reset();
  panel.isRunning = false;
  panelChanged(index);
}

void CompressionWorkspace::passEnded(const GenerationPass& pass) {
  std::erase_if(passes_, [&pass](const auto& running) { return running.get() == &pass; });
  if (pass.generation() != sourceGeneration_) return;
  isRunning_ = isAnyPanelRunning();
  changed(WorkspaceAspect::running);
}

bool CompressionWorkspace::isAnyPanelRunning() const {
  return std::any_of(panels_.begin(), panels_.end(), [](const CodecPanel& panel) { return panel.isRunning; });
}

void CompressionWorkspace::markStopped(int index) {
  CodecPanel& panel = panels_[static_cast<std::size_t>(index)];
  if (!panel.isRunning) return;
  panel.isRunning = false;
  panel.progressMessage.reset();
  panel.wasStopped = panel.result.has_value();
  panelChanged(index);
}

void CompressionWorkspace::stop() {
  if (!isRunning_) return;
  ChangeBatch batch(*this);
  cancelAutoRegeneration();
  // The stopped passes end on their own (within a second) and report nothing more.
  for (const auto& pass : passes_) pass->stop();
  passes_.clear();
  generateTask_.reset();
  for (int index = 0; index < panelCount; ++index) markStopped(index);
  isRunning_ = false;
  changed(WorkspaceAspect::running);
  setStatus(std::string(WorkspaceTexts::stopped));
}

void CompressionWorkspace::stopPanel(const Uuid& panelID) {
  auto found = std::find_if(panels_.begin(), panels_.end(), [&](const CodecPanel& p) { return p.id == panelID; });
  if (found == panels_.end() || !found->isRunning) return;
  const int index = static_cast<int>(found - panels_.begin());
  ChangeBatch batch(*this);
  for (const auto& pass : passes_) {
    const auto& indices = pass->indices();
    if (std::find(indices.begin(), indices.end(), index) != indices.end()) pass->stopPanel(index);
  }
  markStopped(index);
  isRunning_ = isAnyPanelRunning();
  changed(WorkspaceAspect::running);
  setStatus(std::string(WorkspaceTexts::stopped));
}

void CompressionWorkspace::cancelAllPasses() {
  for (const auto& pass : passes_) pass->cancel();
}

void CompressionWorkspace::cancelAutoRegeneration() {
  autoRegenerateCall_.cancel();
  autoRegenerateCall_ = DelayedCall();
  if (auto pass = autoRegeneratePass_.lock()) pass->cancel();
  autoRegeneratePass_.reset();
}

void CompressionWorkspace::scheduleAutoRegenerate() {
  cancelAutoRegeneration();
  if (!services_.settings.autoRegenerate() || !sourceURL_) return;
  std::weak_ptr<CompressionWorkspace> weakSelf = self_;
  autoRegenerateCall_ = services_.dispatcher->postDelayed(
      autoRegenerateDelay(services_.settings.autoRegenerateDelay()), [weakSelf] {
        if (auto self = weakSelf.lock()) {
          self->autoRegenerateCall_ = DelayedCall();
          self->autoRegeneratePass_ = self->startRegeneration();
        }
      });
}

// ---- Result actions

std::optional<ExportProposal> CompressionWorkspace::exportProposal(int index) const {
  if (index < 0 || index >= panelCount) return std::nullopt;
  const auto& result = panel(index).result;
  if (!result) return std::nullopt;
  return ExportProposal{result->encodedURL.filename().string(), exportContentType(result->codec)};
}

void CompressionWorkspace::exportResult(int index, const fs::path& destination) {
  if (index < 0 || index >= panelCount) return;
  const auto& result = panel(index).result;
  if (!result) return;
  const fs::path source = result->encodedURL;
  std::error_code error;
  if (fs::equivalent(source, destination, error)) {
    // Deleting the destination would delete the only copy; it is already there.
    setStatus(WorkspaceTexts::exported(destination.filename().string()));
    return;
  }
  if (fs::exists(fs::symlink_status(destination, error))) {
    fs::remove(destination, error);
    if (error) {
      setStatus(WorkspaceTexts::exportFailed(fileErrorText(error, destination)));
      return;
    }
  }
  error.clear();
  fs::copy_file(source, destination, error);
  if (error) {
    // Name the file the copy failed on: the encoded file when it has gone,
    // else the destination.
    std::error_code ignored;
    const fs::path& culprit = fs::exists(source, ignored) ? destination : source;
    setStatus(WorkspaceTexts::exportFailed(fileErrorText(error, culprit)));
    return;
  }
  setStatus(WorkspaceTexts::exported(destination.filename().string()));
}

void CompressionWorkspace::inspectEncodedMetadata(int index) {
  if (index < 0 || index >= panelCount) return;
  const auto& result = panel(index).result;
  if (!result) return;
  const fs::path encodedURL = result->encodedURL;
  const std::string codecName(rawValue(result->codec));
  std::weak_ptr<CompressionWorkspace> weakSelf = self_;
  auto present = [weakSelf](EncodedMetadataInspection inspection) {
    auto self = weakSelf.lock();
    if (self && self->metadataPresenter_) self->metadataPresenter_(inspection);
  };
  auto engine = services_.engine;
  auto dispatcher = services_.dispatcher;
  auto stopToken = workStop_.get_token();
  try {
    services_.workers->start([engine, dispatcher, encodedURL, codecName, stopToken, present] {
      EncodedMetadataInspection inspection{"", encodedURL.filename().string(), ""};
      try {
        inspection.text = engine->readExifToolMetadata(encodedURL, stopToken);
        inspection.title = WorkspaceTexts::metadataTitle(codecName);
      } catch (...) {
        inspection.title = std::string(WorkspaceTexts::exifToolFailed);
        inspection.text = describeError(std::current_exception());
      }
      dispatcher->post([present, inspection] { present(inspection); });
    });
  } catch (const std::exception& error) {
    EncodedMetadataInspection inspection{std::string(WorkspaceTexts::exifToolFailed),
                                         encodedURL.filename().string(), describeError(error)};
    dispatcher->post([present, inspection] { present(inspection); });
  }
}

std::optional<std::string> CompressionWorkspace::codecUnavailableReason(CompressionCodec codec) const {
  return services_.engine->codecUnavailableReason(codec);
}

// ---- Activation

void CompressionWorkspace::setActive(bool active) {
  if (active == isActive_) return;
  ChangeBatch batch(*this);
  isActive_ = active;
  changed(WorkspaceAspect::activation);
  if (active) {
    activate();
  } else {
    canvasView_.releaseHolds();
  }
}

void CompressionWorkspace::activate() {
  ChangeBatch batch(*this);
  installCommandHandlers();
  if (reactivateGlobalCommands_) reactivateGlobalCommands_();
  canvasView_.advanceCanvasCommandToken();
}

void CompressionWorkspace::installCommandHandlers() {
  // The handlers may outlive this workspace in the registry until the next
  // active workspace replaces them, so they hold it weakly.
  std::weak_ptr<CompressionWorkspace> weakSelf = self_;
  auto with = [weakSelf](auto action) {
    return [weakSelf, action](auto... arguments) {
      if (auto self = weakSelf.lock()) {
        ChangeBatch batch(*self);
        action(*self, arguments...);
      }
    };
  };
  KeyboardCommandRegistry& registry = services_.commandRegistry;
  registry.generate = with([](CompressionWorkspace& w) { w.startGenerateTask(); });
  registry.showOriginal = with([](CompressionWorkspace& w) { w.canvasView_.holdOriginal(); });
  registry.showDifference = with([](CompressionWorkspace& w) { w.canvasView_.holdDifference(); });
  registry.hideComparisonOverlay = with([](CompressionWorkspace& w) { w.canvasView_.releaseHolds(); });
  registry.hideDifference = with([](CompressionWorkspace& w) { w.canvasView_.releaseDifference(); });
  registry.showErrorMap = with([](CompressionWorkspace& w) { w.canvasView_.setShowingErrorMap(true); });
  registry.hideErrorMap = with([](CompressionWorkspace& w) { w.canvasView_.setShowingErrorMap(false); });
  registry.toggleErrorMap = with([](CompressionWorkspace& w) { w.canvasView_.toggleErrorMap(); });
  registry.stepDifferenceGain = with([](CompressionWorkspace& w, int step) { w.canvasView_.stepDifferenceGain(step); });
  registry.setDifferenceGainStep =
      with([](CompressionWorkspace& w, int index) { w.canvasView_.setDifferenceGainStep(index); });
}

}  // namespace quorlin
