#include "core/ratedistortion/PanelSweep.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <map>
#include <mutex>
#include <thread>

#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/engine/TargetSearch.h"

namespace quorlin {

namespace {

constexpr double isoScoreTargets[] = {50, 60, 70, 80, 90};

// One unit of work: one ladder value, or one target search.
struct SweepJob {
  std::size_t plan = 0;
  std::size_t index = 0;  // in the plan's ladder or targets
  std::size_t count = 0;
  double value = 0;
  bool isSearch = false;
};

class SweepRun {
 public:
  SweepRun(std::span<const SweepPlan> plans, const PreparedCompressionSource& source, CompressionEngine& engine,
           const SweepSettings& settings, const SweepEvents& events, std::stop_token stopToken)
      : source_(source), engine_(engine), settings_(settings), events_(events), stopToken_(stopToken) {
    for (std::size_t p = 0; p < plans.size(); ++p) {
      PanelSweep sweep;
      sweep.panel = sweptPanel(plans[p].panel);
      sweep.panelNumber = plans[p].panelNumber;
      sweeps_.push_back(std::move(sweep));
      const bool isSearch = !plans[p].targetScores.empty();
      isSearch_.push_back(isSearch);
      const std::vector<double> values = isSearch ? plans[p].targetScores : ladderOf(plans[p]);
      slots_.emplace_back(values.size());
      for (std::size_t i = 0; i < values.size(); ++i) jobs_.push_back({p, i, values.size(), values[i], isSearch});
    }
  }

  std::vector<PanelSweep> run() {
    unsigned workers = settings_.parallelPoints ? settings_.parallelPoints
                                                : std::max(1u, std::thread::hardware_concurrency());
    workers = static_cast<unsigned>(std::min<std::size_t>(workers, jobs_.size()));
    {
      std::vector<std::jthread> threads;
      for (unsigned w = 0; w < workers; ++w) threads.emplace_back([this] { work(); });
    }
    for (std::size_t p = 0; p < sweeps_.size(); ++p) {
      for (auto& slot : slots_[p]) {
        for (auto& sample : slot.samples) sweeps_[p].samples.push_back(std::move(sample));
        if (slot.failure) sweeps_[p].failures.push_back(std::move(*slot.failure));
      }
    }
    if (stopToken_.stop_requested()) {
      for (const auto& sweep : sweeps_) sweep.removeFiles();
      throw CancellationError();
    }
    for (std::size_t p = 0; p < sweeps_.size(); ++p) {
      if (!isSearch_[p]) continue;
      std::stable_sort(sweeps_[p].samples.begin(), sweeps_[p].samples.end(),
                       [](const auto& a, const auto& b) { return a.encodedSize < b.encodedSize; });
    }
    return std::move(sweeps_);
  }

 private:
  // What one job leaves behind, kept in its place so the order is the plan's.
  struct Slot {
    std::vector<RateDistortionSample> samples;
    std::optional<SweepFailure> failure;
  };

  void work() {
    for (std::size_t next; (next = nextJob_.fetch_add(1)) < jobs_.size();) {
      if (stopToken_.stop_requested()) return;
      const SweepJob& job = jobs_[next];
      try {
        if (job.isSearch) {
          search(job);
        } else {
          point(job);
        }
      } catch (...) {
        std::lock_guard guard(lock_);
        slots_[job.plan][job.index].failure =
            SweepFailure{job.value, job.isSearch, describeError(std::current_exception())};
      }
    }
  }

  std::string prefix(const SweepJob& job, const char* unit) const {
    return "Panel " + std::to_string(sweeps_[job.plan].panelNumber) + ": " + unit + " " +
           std::to_string(job.index + 1) + " of " + std::to_string(job.count);
  }

  void report(const std::string& text) const {
    if (events_.progress) events_.progress(text);
  }

  void keep(const SweepJob& job, RateDistortionSample sample) {
    if (events_.sampleAdded) events_.sampleAdded(job.plan, sample);
    std::lock_guard guard(lock_);
    slots_[job.plan][job.index].samples.push_back(std::move(sample));
  }

  void point(const SweepJob& job) {
    throwIfCancelled(stopToken_);
    report(prefix(job, "point"));
    CodecPanel panel = sweeps_[job.plan].panel;
    setSettingValue(panel, job.value);
    CompressionResult result = engine_.runPanel(panel, source_, stopToken_);
    keep(job, makeSample(result, settingValue(panel), settings_.pixelCount));
  }

  // The search sees each probe's numbers only: the sweep keeps every probe's
  // files, so the search must not remove the ones it does not choose. A value
  // an earlier search of this panel already encoded is not encoded again.
  void search(const SweepJob& job) {
    CodecPanel panel = sweeps_[job.plan].panel;
    panel.rateControlMode = RateControlMode::targetScore;
    panel.targetScore = job.value;
    const std::string text = prefix(job, "target");
    auto evaluate = [&](const CodecPanel& probe) {
      const double value = settingValue(probe);
      {
        std::lock_guard guard(lock_);
        auto& known = probed_[job.plan];
        if (auto found = known.find(value); found != known.end()) return numbersOnly(found->second, probe.codec);
      }
      CompressionResult result = engine_.runPanel(probe, source_, stopToken_);
      RateDistortionSample sample = makeSample(result, value, settings_.pixelCount);
      sample.targetScore = job.value;
      {
        std::lock_guard guard(lock_);
        auto [found, isNew] = probed_[job.plan].try_emplace(value, sample);
        if (!isNew) {
          sample.removeWorkDirectory();
          return numbersOnly(found->second, probe.codec);
        }
      }
      keep(job, sample);
      return numbersOnly(sample, probe.codec);
    };
    report(text);
    searchTargetScore(panel, [&](const std::string& probeText) { report(text + ": " + probeText); }, evaluate,
                      stopToken_);
  }

  static CompressionResult numbersOnly(const RateDistortionSample& sample, CompressionCodec codec) {
    CompressionResult result = resultOf(sample, codec);
    result.workDirectory.clear();
    return result;
  }

  const PreparedCompressionSource& source_;
  CompressionEngine& engine_;
  const SweepSettings& settings_;
  const SweepEvents& events_;
  std::stop_token stopToken_;
  std::vector<PanelSweep> sweeps_;
  std::vector<SweepJob> jobs_;
  std::vector<bool> isSearch_;
  std::vector<std::vector<Slot>> slots_;
  std::map<std::size_t, std::map<double, RateDistortionSample>> probed_;
  std::atomic<std::size_t> nextJob_{0};
  std::mutex lock_;
};

}  // namespace

std::span<const double> defaultTargetScores() { return isoScoreTargets; }

void PanelSweep::removeFiles() const {
  for (const auto& sample : samples) sample.removeWorkDirectory();
}

CodecPanel sweptPanel(const CodecPanel& panel) {
  CodecPanel swept = panel;
  swept.rateControlMode = RateControlMode::manual;
  swept.isWebPLossless = false;
  swept.isAVIFLossless = false;
  swept.isHEIFLossless = false;
  swept.isJPEGLosslessTranscode = false;
  swept.isRunning = false;
  swept.result.reset();
  swept.errorMessage.reset();
  swept.progressMessage.reset();
  return swept;
}

std::vector<double> ladderOf(const SweepPlan& plan) {
  if (!plan.ladder.empty()) return plan.ladder;
  auto ladder = defaultLadder(plan.panel.codec);
  return {ladder.begin(), ladder.end()};
}

std::vector<PanelSweep> sweepPanels(std::span<const SweepPlan> plans, const PreparedCompressionSource& source,
                                    CompressionEngine& engine, const SweepSettings& settings,
                                    const SweepEvents& events, std::stop_token stopToken) {
  throwIfCancelled(stopToken);
  return SweepRun(plans, source, engine, settings, events, stopToken).run();
}

PanelSweep sweepPanel(const SweepPlan& plan, const PreparedCompressionSource& source, CompressionEngine& engine,
                      const SweepSettings& settings, const SweepEvents& events, std::stop_token stopToken) {
  return std::move(sweepPanels(std::span(&plan, 1), source, engine, settings, events, stopToken).front());
}

}  // namespace quorlin
