#include "core/engine/CoreBudget.h"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace quorlin {

CoreBudget::CoreBudget() : CoreBudget(availableHardwareThreads()) {}

CoreBudget::CoreBudget(int hardwareThreads) : hardwareThreads_(std::max(hardwareThreads, 1)) {}

int CoreBudget::availableHardwareThreads() {
  // The affinity mask, not the machine: a process confined to some cores
  // (taskset, a container's cpuset) must not plan for all of them.
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

void CoreBudget::setThreadsPerPass(std::optional<int> threads) {
  threadsPerPass_.store(threads && *threads > 0 ? *threads : 0);
}

int CoreBudget::totalThreads() const {
  int chosen = threadsPerPass_.load();
  return chosen > 0 ? chosen : hardwareThreads_;
}

int CoreBudget::threadsPerTool() const {
  return std::max(1, totalThreads() / std::max(1, running_.load()));
}

CoreBudget::RunningPanel::RunningPanel(CoreBudget& budget) : budget_(&budget) { ++budget.running_; }

CoreBudget::RunningPanel::~RunningPanel() {
  if (budget_) --budget_->running_;
}

}  // namespace quorlin
