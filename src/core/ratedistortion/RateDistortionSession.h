// RateDistortionSession: the rate–distortion state of one tab, without its
// widgets: the latest sweep of each of the workspace's four panels, the
// sweep running now (progress, cancellation), which curves went stale, the
// anchor of the deltas, and showing a point's pictures in its panel.
//
// Main thread only, like the workspace it serves (which must outlive it).
// A sweep prepares the workspace's source once and runs on a background
// worker through the workspace's engine; its outcome comes back through the
// dispatcher. Destroying the session cancels a running sweep without waiting
// (the sweep then removes its own files) and removes the kept sweeps' files.
//
// The probes of a panel's Target Score search are points of its curve too:
// when the panel shows a searched result, its probes join the panel's curve
// (without files, so clicking one shows nothing), replacing a stale curve.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ratedistortion/RateDistortionReport.h"
#include "core/workspace/CompressionWorkspace.h"

namespace quorlin {

class RateDistortionSession {
 public:
  RateDistortionSession(CompressionWorkspace& workspace, WorkspaceServices services);
  ~RateDistortionSession();
  RateDistortionSession(const RateDistortionSession&) = delete;
  RateDistortionSession& operator=(const RateDistortionSession&) = delete;

  // One call after every change of anything below.
  [[nodiscard]] Subscription observe(std::function<void()> observer) {
    return observers_.subscribe(std::move(observer));
  }

  // Sweeps every panel, or only panel `index`, at the codec's default ladder,
  // points in parallel or one at a time as the settings' parallel switch says;
  // ignored without a source or while a sweep runs. A finished sweep replaces
  // the earlier curves of the panels it swept.
  void sweepAll();
  void sweepPanel(int index);
  // Stops the running sweep; the curves stay as they were.
  void cancel();
  bool isSweeping() const { return run_ != nullptr; }
  std::size_t completedPoints() const { return completedPoints_; }
  std::size_t totalPoints() const { return totalPoints_; }
  // The latest progress text ("Panel 2: point 5 of 9"), the last sweep's
  // failure, or where adopted curves came from; empty before any of them.
  const std::string& statusText() const { return statusText_; }

  // Curves measured elsewhere (a corpus run's) become their panels' curves,
  // replacing what was there; their points have no files. Ignored while a
  // sweep runs.
  void adoptSweeps(std::vector<PanelSweep> sweeps);

  // Panel `index`'s curve, if it has been swept or searched.
  const std::optional<PanelSweep>& sweep(int index) const { return sweeps_.at(static_cast<std::size_t>(index)); }
  // True when the panel's settings other than its swept value changed since its sweep.
  bool isStale(int index) const;

  int anchor() const { return anchor_; }
  void setAnchor(int index);
  // Every swept panel against the anchor (empty when the anchor has no sweep).
  std::vector<PanelDelta> deltas() const;

  // Sets panel `index` to the value of its sample `sampleIndex` and makes a
  // copy of that sample's files its result, so its quadrant shows the point at
  // once without encoding. Returns false (and changes nothing) when the
  // sample's files cannot be read.
  bool showSample(int index, std::size_t sampleIndex);

  std::string json() const;
  std::string csv() const;

 private:
  struct Run;
  void start(std::vector<int> indices);
  void finish(const std::shared_ptr<Run>& run, std::vector<PanelSweep> sweeps, std::string error);
  void changed() { observers_.notify(); }
  // Adds the probes of panel `index`'s searched result to its curve once;
  // returns whether the curve changed.
  bool absorbProbes(int index);

  CompressionWorkspace& workspace_;
  WorkspaceServices services_;
  std::vector<std::optional<PanelSweep>> sweeps_;
  std::shared_ptr<Run> run_;
  std::size_t completedPoints_ = 0;
  std::size_t totalPoints_ = 0;
  std::string statusText_;
  int anchor_ = 0;
  ObserverList<> observers_;
  std::vector<std::optional<Uuid>> absorbedResults_;   // per panel: whose probes are in its curve
  Subscription workspaceSubscription_;
  std::shared_ptr<RateDistortionSession*> self_;
};

}  // namespace quorlin
