// Rate–distortion sweeps: each panel run at every value of a ladder of
// qualities or distances (or, in iso-score mode, searched for each of a list
// of target scores), all on one prepared source, through the engine's
// ordinary panel run, so the console, the older-tool rules and every check
// apply to each point.
//
// Points run on worker threads, up to one per core (or one at a time); a
// failing point is recorded and the sweep goes on without it. The returned
// sweeps own every sample's work directory (removeFiles). Cancellation is
// noticed before each point and ends the running tools at once; a cancelled
// sweep removes every directory it made and throws CancellationError. Blocks the calling thread (never the main thread).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "core/engine/CodecPanel.h"
#include "core/engine/CompressionEngine.h"
#include "core/engine/PreparedSource.h"
#include "core/ratedistortion/RateDistortionSample.h"
#include "core/tools/ChildProcess.h"

namespace quorlin {

// The default target scores of iso-score mode.
std::span<const double> defaultTargetScores();

struct SweepPlan {
  CodecPanel panel;
  int panelNumber = 1;               // the panel's place, as progress texts name it
  std::vector<double> ladder;        // empty: the codec's default ladder
  std::vector<double> targetScores;  // not empty: iso-score mode, the ladder is not used
};

struct SweepFailure {
  double value = 0;  // the setting value, or the target score of a search
  bool isTargetScore = false;
  std::string message;
};

struct PanelSweep {
  CodecPanel panel;  // as swept: manual rate control, lossless switches off
  int panelNumber = 1;
  std::vector<RateDistortionSample> samples;  // ladder order; iso-score mode: by size
  std::vector<SweepFailure> failures;          // in the same order

  RateDistortionCurve curve() const { return curveOf(samples); }
  void removeFiles() const;
};

struct SweepSettings {
  unsigned parallelPoints = 0;             // 0: one per core; 1: one point at a time
  std::optional<std::int64_t> pixelCount;  // for bits per pixel
};

struct SweepEvents {
  // "Panel 2: point 5 of 9", "Panel 1: target 3 of 5: Probe 2: quality 61...";
  // called on the workers.
  std::function<void(const std::string&)> progress;
  // Each new sample of plan `planIndex` as it is made; called on the workers.
  std::function<void(std::size_t planIndex, const RateDistortionSample&)> sampleAdded;
};

// The panel as a sweep runs it: manual rate control, every lossless switch off.
CodecPanel sweptPanel(const CodecPanel& panel);

// The values a plan runs: its ladder, else the codec's default ladder.
std::vector<double> ladderOf(const SweepPlan& plan);

std::vector<PanelSweep> sweepPanels(std::span<const SweepPlan> plans, const PreparedCompressionSource& source,
                                    CompressionEngine& engine, const SweepSettings& settings,
                                    const SweepEvents& events, std::stop_token stopToken = {});

PanelSweep sweepPanel(const SweepPlan& plan, const PreparedCompressionSource& source, CompressionEngine& engine,
                      const SweepSettings& settings, const SweepEvents& events, std::stop_token stopToken = {});

}  // namespace quorlin
