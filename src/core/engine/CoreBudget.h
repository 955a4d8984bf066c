// CoreBudget: how many threads the tools of all running panels may use
// together, and each tool's share of them.
//
// The total is "Threads per pass": a number the user chose, or Auto, the
// hardware threads this process may run on. Every panel run counts itself as
// running for as long as it lasts (RunningPanel); a tool that starts gets the
// total divided by the panels running at that moment, rounded down and never
// fewer than one. So a serial pass gives its one running panel everything,
// and a parallel pass of four panels gives each tool a quarter, then more as
// the other panels finish. Which flag carries the count to a tool, and the
// counts a tool must not go below, are in ToolThreadFlags.h.
//
// Thread-safe: panels on any number of workers share one budget; the settings
// may change it at any time, and the next tool to start sees the change.
#pragma once

#include <atomic>
#include <optional>

namespace quorlin {

class CoreBudget {
 public:
  // Auto is availableHardwareThreads() of this machine.
  CoreBudget();
  // Auto is `hardwareThreads` (at least one): for tests and benchmarks.
  explicit CoreBudget(int hardwareThreads);
  CoreBudget(const CoreBudget&) = delete;
  CoreBudget& operator=(const CoreBudget&) = delete;

  // The threads this process may run on (its CPU affinity), at least one.
  static int availableHardwareThreads();

  // A whole number of threads, or nothing for Auto; counts below one are Auto.
  void setThreadsPerPass(std::optional<int> threads);
  int totalThreads() const;
  int runningPanels() const { return running_.load(); }
  // The share of a tool starting now.
  int threadsPerTool() const;

  // One panel run, counted from construction to destruction. Move-only.
  class RunningPanel {
   public:
    RunningPanel(RunningPanel&& other) noexcept : budget_(other.budget_) { other.budget_ = nullptr; }
    RunningPanel& operator=(RunningPanel&&) = delete;
    ~RunningPanel();

   private:
    friend class CoreBudget;
    explicit RunningPanel(CoreBudget& budget);
    CoreBudget* budget_;
  };
  [[nodiscard]] RunningPanel panelStarted() { return RunningPanel(*this); }

 private:
  const int hardwareThreads_;
  std::atomic<int> threadsPerPass_{0};  // 0: Auto
  std::atomic<int> running_{0};
};

}  // namespace quorlin
