// CompressionWorkspace: the whole comparison state of one tab, without its
// widgets: the source, the four codec panels, the canvas's view values, the
// status line, and the generation machinery that runs the panels through the
// compression engine.
//
// Threads. The model lives on the main thread: every getter, setter and
// operation is called there, and observers are told there. Engine calls
// (reading the source, preparing it, running panels, exiftool) run on
// BackgroundWorkers and come back through the MainThreadDispatcher. Nothing
// here ever waits for a worker: destroying the workspace (closing its tab)
// cancels its work and returns at once; whatever arrives later for it is
// dropped and its work directories are deleted.
//
// Passes and generations. A successful load increments sourceGeneration and
// cancels every pass; each pass carries the generation it started with, and an
// outcome or progress text of an older generation is dropped (its directory
// deleted). Passes of the same generation may overlap (a panel's own Generate
// or an auto-regeneration while a generate-all runs); the outcome applied last
// wins. A run cancelled while its generation is current produces no outcome:
// the panel keeps its previous result and stops running.
//
// Ownership. A panel's result owns its work directory: the workspace deletes it
// when the result is replaced, cleared or discarded (also through
// updatePanel), and registers every accepted result's directory with its
// cleanup bag, which deletes what is left when the workspace goes away.
//
// Auto-regeneration. Every panel edit comes in through updatePanel / setPanel
// (or setRateControlMode / setTargetScore, which copy the tab's rate control
// into the panels); whenever the list of the four settings signatures changes,
// a regeneration of the changed panels is (re)scheduled after the delay read
// from the settings at that moment. A new schedule also cancels a
// regeneration still running from the previous one.
//
// Failures are never thrown to the caller: they become status texts, panel
// error messages or the load-error alert text, exactly as the user sees them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/comparison/KeyboardCommandRegistry.h"
#include "core/comparison/ViewGeometry.h"
#include "core/common/MainThreadDispatcher.h"
#include "core/engine/CodecPanel.h"
#include "core/engine/CompressionEngine.h"
#include "core/engine/DisplayImage.h"
#include "core/engine/SourceMetadata.h"
#include "core/tools/TemporaryFiles.h"
#include "core/workspace/AppSettings.h"
#include "core/workspace/BackgroundWorkers.h"
#include "core/workspace/CanvasViewState.h"
#include "core/workspace/CompressionTaskOutcome.h"
#include "core/workspace/GenerationPass.h"
#include "core/workspace/ObserverList.h"
#include "core/workspace/WorkspaceChange.h"
#include "core/workspace/WorkspaceTexts.h"

namespace quorlin {

// What every workspace of the application shares. The references must outlive
// every workspace; the shared objects are also held by running workers.
struct WorkspaceServices {
  AppSettings& settings;
  TemporaryDirectoryManager& temporaryDirectories;
  KeyboardCommandRegistry& commandRegistry;
  std::shared_ptr<CompressionEngine> engine;
  std::shared_ptr<MainThreadDispatcher> dispatcher;
  std::shared_ptr<BackgroundWorkers> workers;
};

// What the save dialog of a panel's export offers.
struct ExportProposal {
  std::string proposedFileName;   // the encoded file's name
  std::string contentType;        // exportContentType of the result's codec
};

// What the ExifTool inspector shows after inspectEncodedMetadata.
struct EncodedMetadataInspection {
  std::string title;      // "JPEG XL Metadata", or "ExifTool Failed"
  std::string fileName;   // the encoded file's name
  std::string text;       // the formatted listing, or the error's description
};

class CompressionWorkspace final : private GenerationPassClient {
 public:
  static constexpr int panelCount = 4;

  // `reactivateGlobalCommands` re-installs the main window's own registry
  // handlers; it runs on every activation. The panels start as
  // makeDefaultPanels() with the tab's rate control copied in.
  CompressionWorkspace(WorkspaceServices services, std::string tabTitle, RateControlMode rateControlMode,
                       std::function<void()> reactivateGlobalCommands);
  // Cancels all work without waiting; the cleanup bag deletes the remaining
  // result directories.
  ~CompressionWorkspace() override;
  CompressionWorkspace(const CompressionWorkspace&) = delete;
  CompressionWorkspace& operator=(const CompressionWorkspace&) = delete;

  // ---- Observation: one call per change, after the change is complete.
  [[nodiscard]] Subscription observe(std::function<void(const WorkspaceChange&)> observer) {
    return observers_.subscribe(std::move(observer));
  }

  // ---- Tab
  const std::string& tabTitle() const { return tabTitle_; }
  void setTabTitle(std::string title);
  RateControlMode rateControlMode() const { return rateControlMode_; }
  // Both copy the tab's rate control into every panel (syncPanelRateControl).
  void setRateControlMode(RateControlMode mode);
  double targetScore() const { return targetScore_; }
  void setTargetScore(double score);

  // ---- Source
  const std::optional<std::filesystem::path>& sourceURL() const { return sourceURL_; }
  const std::optional<DisplayImage>& sourceImage() const { return sourceImage_; }
  std::int64_t sourceFileSize() const { return sourceFileSize_; }
  const std::optional<SourceImageMetadata>& sourceMetadata() const { return sourceMetadata_; }
  // sourceMetadata's JPEG flag; false without metadata.
  bool sourceIsJPEG() const;
  // Width × height of sourceMetadata; nothing without metadata.
  std::optional<std::int64_t> sourcePixelCount() const;
  // The source's alpha flag: the canvas draws a checkerboard behind it.
  bool usesTransparencyBackground() const;
  int sourceGeneration() const { return sourceGeneration_; }
  // True while a file read started by loadSource has not come back.
  bool isLoadingSource() const { return pendingLoads_ > 0; }

  // Reads `file` on a worker; when it comes back (and no later load was asked
  // for meanwhile) it becomes the source, or the status and the load-error
  // alert say it could not be read (the previous source then stays).
  void loadSource(const std::filesystem::path& file);
  // A drop: the file it carried, or nothing when no file could be read from it.
  void loadDroppedItem(const std::optional<std::filesystem::path>& file);
  // The alert text while the "Couldn't Open Image" alert is to be shown.
  const std::optional<std::string>& loadErrorMessage() const { return loadErrorMessage_; }
  void dismissLoadError();

  // ---- Panels
  const std::vector<CodecPanel>& panels() const { return panels_; }
  const CodecPanel& panel(int index) const { return panels_.at(static_cast<std::size_t>(index)); }
  // The one way panel settings change. The mutator may change anything but
  // the panel's id (which is kept); a result it clears or replaces has its
  // directory deleted. Out-of-range indices are ignored.
  void updatePanel(int index, const std::function<void(CodecPanel&)>& mutator);
  void setPanel(int index, CodecPanel panel);
  // Copies rateControlMode and targetScore into every panel.
  void syncPanelRateControl();

  // ---- Generation
  bool isRunning() const { return isRunning_; }
  const std::string& statusMessage() const { return statusMessage_; }
  // The toolbar's Generate: enabled with a source and no pass running.
  bool canGenerate() const { return sourceURL_.has_value() && !isRunning_; }
  // Generate, ⌘Return and the registry's `generate`: generateAll unless a pass runs.
  void startGenerateTask();
  void generateAll();
  // A panel's own Generate; not refused while another pass runs.
  void generatePanel(const Uuid& panelID);
  // Only the panels without a result or whose settings changed since it.
  void regenerateChangedPanels();
  // Stop (the toolbar's Generate while a pass runs, Escape): ends every run of
  // this tab and its tools at once. The panels keep their previous results,
  // marked as needing regeneration; the status says "Stopped."; Generate works
  // again at once. What the stopped runs leave behind is deleted as they end.
  void stop();
  // A panel's own Generate while it runs: the same for that panel alone.
  void stopPanel(const Uuid& panelID);
  // Stores one outcome of a pass of `generation`.
  void applyOutcome(CompressionTaskOutcome outcome, int generation) override;
  // (Re)starts the delayed regeneration; does nothing more when
  // auto-regeneration is off or there is no source.
  void scheduleAutoRegenerate();
  bool hasPendingAutoRegeneration() const { return autoRegenerateCall_.isValid() && !autoRegenerateCall_.isCancelled(); }

  // ---- Result actions of panel `index` (nothing without a result)
  std::optional<ExportProposal> exportProposal(int index) const;
  // Copies the encoded file to `destination` (the save dialog's choice),
  // replacing a file already there; reports on the status line.
  void exportResult(int index, const std::filesystem::path& destination);
  // Runs exiftool on the encoded file on a worker and hands the outcome to the
  // metadata presenter.
  void inspectEncodedMetadata(int index);
  void setMetadataPresenter(std::function<void(const EncodedMetadataInspection&)> presenter) {
    metadataPresenter_ = std::move(presenter);
  }

  // Why `codec` cannot run with the tools installed; nothing when it can.
  std::optional<std::string> codecUnavailableReason(CompressionCodec codec) const;

  // ---- View values the canvas binds two-way, and what the keys do to them
  CanvasViewState& canvasView() { return canvasView_; }
  const CanvasViewState& canvasView() const { return canvasView_; }

  // ---- Activation
  bool isActive() const { return isActive_; }
  // Becoming active activates; becoming inactive releases both hold flags.
  void setActive(bool active);
  // Installs this workspace's registry handlers, re-installs the main window's
  // and advances the canvas command token. Runs when the workspace becomes
  // active and whenever its window becomes key while it is active.
  void activate();

  const TemporaryFileCleanupBag& temporaryFiles() const { return *temporaryFiles_; }

 private:
  struct LoadedSource;
  class ChangeBatch;

  // GenerationPassClient
  CodecPanel panelSnapshot(int index) const override { return panel(index); }
  void applyProgress(int index, const std::string& message, int generation) override;
  void applyCancellation(int index, int generation) override;
  void passEnded(const GenerationPass& pass) override;

  std::shared_ptr<GenerationPass> runPanels(std::vector<int> indices, int generation);
  std::shared_ptr<GenerationPass> startRegeneration();
  void applyLoadedSource(const std::filesystem::path& file, std::optional<LoadedSource> loaded);
  // Panels still at the defaults take those of the new source: an HDR source
  // starts without codecs that refuse it, an SDR one with the usual four.
  void followDefaultsForSource();
  void installCommandHandlers();
  void cancelAllPasses();
  void markStopped(int index);
  bool isAnyPanelRunning() const;
  void cancelAutoRegeneration();
  void panelsEdited();
  void replaceResult(CodecPanel& panel, std::optional<CompressionResult> result);
  void setStatus(std::string message);
  void changed(WorkspaceAspect aspect);
  void panelChanged(int index);

  WorkspaceServices services_;
  std::function<void()> reactivateGlobalCommands_;
  std::function<void(const EncodedMetadataInspection&)> metadataPresenter_;

  std::string tabTitle_;
  bool isActive_ = false;
  RateControlMode rateControlMode_;
  double targetScore_ = 85.0;
  std::shared_ptr<TemporaryFileCleanupBag> temporaryFiles_;
  std::optional<std::filesystem::path> sourceURL_;
  std::optional<DisplayImage> sourceImage_;
  std::int64_t sourceFileSize_ = 0;
  std::optional<SourceImageMetadata> sourceMetadata_;
  bool isRunning_ = false;
  std::string statusMessage_{WorkspaceTexts::chooseAnImage};
  std::optional<std::string> loadErrorMessage_;
  CanvasViewState canvasView_{[this](WorkspaceAspect aspect) { changed(aspect); }};
  DelayedCall autoRegenerateCall_;
  std::weak_ptr<GenerationPass> autoRegeneratePass_;
  int sourceGeneration_ = 0;
  std::weak_ptr<GenerationPass> generateTask_;
  std::vector<CodecPanel> panels_;

  std::vector<std::shared_ptr<GenerationPass>> passes_;   // running passes
  std::vector<std::string> lastSignatures_;
  std::uint64_t loadSequence_ = 0;                       // the latest load asked for
  int pendingLoads_ = 0;
  std::stop_source workStop_;                            // cancels metadata inspections at destruction

  int batchDepth_ = 0;
  WorkspaceChange pendingChange_;
  ObserverList<const WorkspaceChange&> observers_;

  // Non-owning handle whose weak copies tell posted work whether the workspace
  // still exists; reset first thing in the destructor.
  std::shared_ptr<CompressionWorkspace> self_;
};

}  // namespace quorlin
