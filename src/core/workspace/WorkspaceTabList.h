// WorkspaceTabList: the main window's tabs, the selection, and one workspace
// per tab.
//
// Never empty: it starts with one Untitled Set Quality tab, selected, whose
// workspace is active. New tabs are appended and selected. The selected tab's
// workspace is the active one: selecting another tab deactivates the old
// workspace (releasing its hold-to-show overlays) and activates the new one
// (installing its registry handlers). A tab's title and rate control are its
// workspace's (loading a source renames only that tab).
//
// Closing a tab destroys its workspace at once: its running work is cancelled
// without being awaited and its cleanup bag deletes its result directories.
//
// Main thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/workspace/CompressionWorkspace.h"
#include "core/workspace/ObserverList.h"
#include "core/workspace/WorkspaceTab.h"

namespace quorlin {

class WorkspaceTabList {
 public:
  // Makes the workspace of a new tab (with the tab's title and mode).
  using WorkspaceFactory = std::function<std::unique_ptr<CompressionWorkspace>(const WorkspaceTab& tab)>;

  explicit WorkspaceTabList(WorkspaceFactory makeWorkspace);
  WorkspaceTabList(const WorkspaceTabList&) = delete;
  WorkspaceTabList& operator=(const WorkspaceTabList&) = delete;

  // The tabs in strip order, with their workspaces' current titles and modes.
  std::vector<WorkspaceTab> tabs() const;
  std::size_t tabCount() const { return entries_.size(); }
  const Uuid& selectedTabID() const { return selectedTabID_; }
  std::size_t selectedIndex() const;

  // Appends a new Untitled tab in `mode` and selects it.
  void addTab(RateControlMode mode);
  // "Close Tab" is enabled with two tabs or more.
  bool canCloseSelectedTab() const { return entries_.size() >= 2; }
  // Removes the selected tab and selects the next one (the previous one when
  // it was the last); does nothing with a single tab.
  void closeSelectedTab();
  // Selects the tab with `id`; an unknown id is ignored.
  void selectTab(const Uuid& id);

  // The workspace of the tab with `id`; null for an unknown id.
  CompressionWorkspace* workspace(const Uuid& id) const;
  CompressionWorkspace& selectedWorkspace() const;

  // The strip's label for a tab: its title, shortened when long.
  static std::string label(const WorkspaceTab& tab);

  // Called after tabs are added or closed, the selection moves, or a tab's
  // title or rate control changes.
  [[nodiscard]] Subscription observe(std::function<void()> observer) { return observers_.subscribe(std::move(observer)); }

 private:
  struct Entry {
    Uuid id;
    std::unique_ptr<CompressionWorkspace> workspace;
    Subscription subscription;
  };

  void append(WorkspaceTab tab);
  void activateSelection();

  WorkspaceFactory makeWorkspace_;
  std::vector<Entry> entries_;
  Uuid selectedTabID_;
  ObserverList<> observers_;
};

}  // namespace quorlin
