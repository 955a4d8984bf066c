#include "core/workspace/WorkspaceTabList.h"

#include <algorithm>
#include <stdexcept>

#include "core/workspace/TabTitle.h"

namespace quorlin {

WorkspaceTabList::WorkspaceTabList(WorkspaceFactory makeWorkspace) : makeWorkspace_(std::move(makeWorkspace)) {
  addTab(RateControlMode::manual);
}

std::vector<WorkspaceTab> WorkspaceTabList::tabs() const {
  std::vector<WorkspaceTab> list;
  list.reserve(entries_.size());
  for (const auto& entry : entries_) {
    list.push_back(WorkspaceTab{entry.id, entry.workspace->tabTitle(), entry.workspace->rateControlMode()});
  }
  return list;
}

std::size_t WorkspaceTabList::selectedIndex() const {
  auto found = std::find_if(entries_.begin(), entries_.end(), [this](const Entry& e) { return e.id == selectedTabID_; });
  return static_cast<std::size_t>(found - entries_.begin());
}

void WorkspaceTabList::append(WorkspaceTab tab) {
  Entry entry{tab.id, makeWorkspace_(tab), {}};
  if (!entry.workspace) throw std::logic_error("The workspace factory made no workspace.");
  entry.subscription = entry.workspace->observe([this](const WorkspaceChange& change) {
    if (change.contains(WorkspaceAspect::tabTitle) || change.contains(WorkspaceAspect::rateControl)) {
      observers_.notify();
    }
  });
  entries_.push_back(std::move(entry));
}

void WorkspaceTabList::addTab(RateControlMode mode) {
  WorkspaceTab tab;
  tab.rateControlMode = mode;
  const Uuid id = tab.id;
  append(std::move(tab));
  selectTab(id);
  observers_.notify();
}

void WorkspaceTabList::closeSelectedTab() {
  if (entries_.size() < 2) return;
  auto found = std::find_if(entries_.begin(), entries_.end(), [this](const Entry& e) { return e.id == selectedTabID_; });
  if (found == entries_.end()) return;
  const std::size_t k = static_cast<std::size_t>(found - entries_.begin());
  const std::size_t next = k == entries_.size() - 1 ? (k == 0 ? 0 : k - 1) : k + 1;
  const Uuid nextID = entries_[next].id;
  // Destroy the workspace outside the list, so its late notifications (none
  // are expected) never see a half-removed entry.
  Entry closed = std::move(entries_[k]);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(k));
  closed.subscription.reset();
  closed.workspace.reset();
  selectedTabID_ = nextID;
  activateSelection();
  observers_.notify();
}

void WorkspaceTabList::selectTab(const Uuid& id) {
  if (!workspace(id)) return;
  selectedTabID_ = id;
  activateSelection();
  observers_.notify();
}

void WorkspaceTabList::activateSelection() {
  // Deactivate first, so the new workspace's handlers are the ones left installed.
  for (auto& entry : entries_) {
    if (entry.id != selectedTabID_) entry.workspace->setActive(false);
  }
  if (auto* selected = workspace(selectedTabID_)) selected->setActive(true);
}

CompressionWorkspace* WorkspaceTabList::workspace(const Uuid& id) const {
  for (const auto& entry : entries_) {
    if (entry.id == id) return entry.workspace.get();
  }
  return nullptr;
}

CompressionWorkspace& WorkspaceTabList::selectedWorkspace() const { return *workspace(selectedTabID_); }

std::string WorkspaceTabList::label(const WorkspaceTab& tab) { return shortenedTabTitle(tab.title); }

}  // namespace quorlin
