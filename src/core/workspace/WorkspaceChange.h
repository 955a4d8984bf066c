// WorkspaceChange: what one notification of a workspace is about, so that a
// view redraws only what it shows. One notification may carry several aspects
// and several panels.
#pragma once

#include <bitset>
#include <cstddef>

namespace quorlin {

enum class WorkspaceAspect {
  tabTitle,         // tabTitle
  rateControl,      // rateControlMode, targetScore
  source,           // sourceURL, sourceImage, sourceFileSize, sourceMetadata (and what derives from them)
  running,          // isRunning, isLoadingSource
  status,           // statusMessage
  loadError,        // loadErrorMessage
  viewValues,       // zoom, displayedImageScalePercent, panOffset, comparisonX/Y, hold flags, gain
  canvasCommand,    // canvasCommandToken
  activation,       // isActive
  panels,           // some panel; see containsPanel
};

class WorkspaceChange {
 public:
  static constexpr std::size_t aspectCount = 10;
  static constexpr std::size_t panelCount = 4;

  WorkspaceChange() = default;
  explicit WorkspaceChange(WorkspaceAspect aspect) { add(aspect); }

  void add(WorkspaceAspect aspect) { aspects_.set(static_cast<std::size_t>(aspect)); }
  // Marks panel `index` (and the panels aspect).
  void addPanel(int index) {
    add(WorkspaceAspect::panels);
    if (index >= 0 && static_cast<std::size_t>(index) < panelCount) panels_.set(static_cast<std::size_t>(index));
  }
  void merge(const WorkspaceChange& other) {
    aspects_ |= other.aspects_;
    panels_ |= other.panels_;
  }

  bool contains(WorkspaceAspect aspect) const { return aspects_.test(static_cast<std::size_t>(aspect)); }
  bool containsPanel(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < panelCount && panels_.test(static_cast<std::size_t>(index));
  }
  bool isEmpty() const { return aspects_.none(); }

 private:
  std::bitset<aspectCount> aspects_;
  std::bitset<panelCount> panels_;
};

}  // namespace quorlin
