#include "core/corpus/CorpusRun.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/corpus/CorpusResultsFile.h"
#include "core/corpus/Sha256.h"
#include "core/engine/DisplayImageReader.h"

namespace quorlin {

namespace fs = std::filesystem;

CodecPanel corpusPanel(const CodecPanel& panel) {
  CodecPanel planned = panel;
  planned.result.reset();
  if (!codecInfo(planned.codec).effortRange) {
    CodecPanel fresh;
    fresh.selectCodec(planned.codec);
    planned.effort = fresh.effort;
  }
  return planned;
}

std::vector<double> unitValues(const SweepPlan& plan) { return plan.targetScores.empty() ? ladderOf(plan) : plan.targetScores; }

std::string unitSignature(const SweepPlan& plan, double value) {
  CodecPanel panel = sweptPanel(plan.panel);
  if (plan.targetScores.empty()) {
    setSettingValue(panel, value);
  } else {
    panel.rateControlMode = RateControlMode::targetScore;
    panel.targetScore = value;
  }
  return panel.settingsSignature();
}

void checkRecordsMatchPlans(const std::vector<CorpusRecord>& records, const std::vector<SweepPlan>& plans,
                            const fs::path& file) {
  std::set<std::pair<int, std::string>> planned;
  for (const auto& plan : plans) {
    for (double value : unitValues(plan)) planned.emplace(plan.panelNumber, unitSignature(plan, value));
  }
  for (const auto& record : records) {
    if (planned.contains({record.panel, record.signature})) continue;
    throw CorpusError(file.string() + " holds results of other panels or settings (panel " +
                      std::to_string(record.panel) + ": " + record.signature +
                      "); run with the same --panel, --ladder and --targets as before, or give another --out "
                      "folder. Nothing was written.");
  }
}

std::vector<PanelSweep> recordedSweeps(const std::vector<CorpusRecord>& records,
                                       const std::vector<CodecPanel>& panels) {
  std::vector<PanelSweep> sweeps;
  for (std::size_t i = 0; i < panels.size(); ++i) {
    PanelSweep sweep;
    sweep.panelNumber = static_cast<int>(i) + 1;
    sweep.panel = sweptPanel(panels[i]);
    SweepPlan plan;
    plan.panel = corpusPanel(panels[i]);
    for (const CorpusRecord& record : records) {
      plan.targetScores.assign(record.isTarget ? 1 : 0, record.setting);
      if (record.panel != sweep.panelNumber || !record.isOk || !record.ssimulacra2 ||
          record.signature != unitSignature(plan, record.setting)) {
        continue;
      }
      RateDistortionSample sample;
      sample.settingValue = record.isTarget ? record.foundSetting.value_or(record.setting) : record.setting;
      CodecPanel point = sweep.panel;
      setSettingValue(point, sample.settingValue);
      sample.settingsSignature = point.settingsSignature();
      sample.encodedSize = record.encodedSize;
      sample.bitsPerPixel = record.bitsPerPixel;
      sample.ssimulacra2Score = *record.ssimulacra2;
      sample.encodeDuration = record.encodeSeconds;
      sample.decodeDuration = record.decodeSeconds;
      if (record.isTarget) sample.targetScore = record.setting;
      sample.isRecorded = true;
      sweep.samples.push_back(std::move(sample));
    }
    if (sweep.samples.empty()) continue;
    std::stable_sort(sweep.samples.begin(), sweep.samples.end(), [](const auto& a, const auto& b) {
      return a.targetScore ? a.encodedSize < b.encodedSize : a.settingValue < b.settingValue;
    });
    sweeps.push_back(std::move(sweep));
  }
  return sweeps;
}

namespace {

std::string clockText(double seconds) {
  const long total = std::lround(seconds);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  }
  return text;
}

}  // namespace

std::string corpusProgressText(const CorpusProgress& p) {
  std::string text = "Images " + std::to_string(p.imagesDone) + " of " + std::to_string(p.imagesTotal) + ", units " +
                     std::to_string(p.unitsDone) + " of " + std::to_string(p.unitsTotal) + ", " +
                     std::to_string(p.failed) + " failed, " + clockText(p.elapsedSeconds) + " elapsed";
  if (p.remainingSeconds && p.unitsDone < p.unitsTotal) {
    text += ", about " + clockText(*p.remainingSeconds) + " left";
  }
  return text;
}

namespace {

using Clock = std::chrono::steady_clock;

struct Unit {
  std::size_t image = 0;
  std::size_t plan = 0;
  double value = 0;
  std::string signature;
};

struct ImageState {
  std::mutex lock;
  bool isPrepared = false;
  std::optional<PreparedCompressionSource> source;
  std::string error;
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::size_t remaining = 0;   // of this run's units
  std::size_t unitsLeft = 0;   // of all units, recorded ones included
};

// A search's units keep the probe that reached the target at the fewest bytes,
// or, when none did, the one closest to it.
const RateDistortionSample* chosenProbe(const PanelSweep& sweep, double target) {
  const RateDistortionSample* best = nullptr;
  for (const auto& sample : sweep.samples) {
    if (sample.ssimulacra2Score >= target) {
      if (!best || best->ssimulacra2Score < target || sample.encodedSize < best->encodedSize) best = &sample;
    } else if (!best || (best->ssimulacra2Score < target && sample.ssimulacra2Score > best->ssimulacra2Score)) {
      best = &sample;
    }
  }
  return best;
}

class CorpusRunner {
 public:
  CorpusRunner(const std::vector<CorpusImage>& images, const std::vector<SweepPlan>& plans,
               CompressionEngine& engine, const CorpusRunSettings& settings, std::stop_token stopToken)
      : images_(images), plans_(plans), engine_(engine), settings_(settings), stopToken_(stopToken),
        states_(images.size()) {}

  CorpusRunOutcome run() {
    const fs::path file = settings_.runFolder / resultsFileName(settings_.shard);
    std::map<std::string, bool> recorded;  // key: is ok
    for (const auto& other : resultsFilesIn(settings_.runFolder)) {
      ResultsFileContents contents = readResultsFile(other);
      checkRecordsMatchPlans(contents.records, plans_, other);
      for (const auto& record : contents.records) recorded.emplace(record.key(), record.isOk);
    }
    hashes_ = hashImages();
    throwIfCancelled(stopToken_);
    for (std::size_t i = 0; i < images_.size(); ++i) {
      for (std::size_t p = 0; p < plans_.size(); ++p) {
        for (double value : unitValues(plans_[p])) {
          Unit unit{i, p, value, unitSignature(plans_[p], value)};
          ++outcome_.unitsTotal;
          ++states_[i].unitsLeft;
          auto found = recorded.find(unitKey(hashOf(i), unit.signature, value));
          if (found != recorded.end()) {
            ++outcome_.unitsSkipped;
            --states_[i].unitsLeft;
            if (!found->second) ++outcome_.failedTotal;
            continue;
          }
          ++states_[i].remaining;
          units_.push_back(std::move(unit));
        }
      }
      if (states_[i].unitsLeft == 0) ++imagesDone_;
    }
    fs::create_directories(settings_.runFolder);
    writer_.emplace(file);
    outcome_.cutTornLine = writer_->cutTornLine();
    started_ = Clock::now();
    {
      std::lock_guard guard(lock_);
      report();
    }
    unsigned workers = settings_.jobs ? settings_.jobs : std::max(1u, std::thread::hardware_concurrency());
    workers = static_cast<unsigned>(std::min<std::size_t>(workers, units_.size()));
    {
      std::vector<std::jthread> threads;
      for (unsigned w = 0; w < workers; ++w) threads.emplace_back([this] { work(); });
    }
    for (auto& state : states_) {
      if (state.source) state.source->removeTemporaryDirectory();
    }
    if (writeError_) std::rethrow_exception(writeError_);
    throwIfCancelled(stopToken_);
    return outcome_;
  }

 private:
  // A file that could not be read for hashing is keyed by zeros, so its failure is still recorded once.
  std::string hashOf(std::size_t image) const { return hashes_[image].value_or(std::string(64, '0')); }

  std::vector<std::optional<std::string>> hashImages() {
    std::vector<std::optional<std::string>> hashes(images_.size());
    std::atomic<std::size_t> next{0};
    const unsigned workers = std::max(1u, std::min(settings_.jobs ? settings_.jobs : std::thread::hardware_concurrency(),
                                                   static_cast<unsigned>(std::max<std::size_t>(images_.size(), 1))));
    std::vector<std::jthread> threads;
    for (unsigned w = 0; w < workers; ++w) {
      threads.emplace_back([&] {
        for (std::size_t i; (i = next.fetch_add(1)) < images_.size() && !stopToken_.stop_requested();) {
          hashes[i] = fileSha256Hex(images_[i].path);
        }
      });
    }
    return hashes;
  }

  void work() {
    for (std::size_t next; (next = nextUnit_.fetch_add(1)) < units_.size();) {
      if (stopToken_.stop_requested() || stopStarting_.load()) return;
      const Unit& unit = units_[next];
      std::optional<CorpusRecord> record;
      try {
        record = runUnit(unit);
      } catch (const CancellationError&) {
        return;
      } catch (...) {
        // Only the results file's own failures get here: the run cannot record anything more.
        std::lock_guard guard(lock_);
        if (!writeError_) writeError_ = std::current_exception();
        stopStarting_ = true;
        return;
      }
      finishUnit(unit, *record);
    }
  }

  ImageState& prepared(std::size_t image) {
    ImageState& state = states_[image];
    std::lock_guard guard(state.lock);
    if (state.isPrepared) return state;
    state.isPrepared = true;
    const fs::path& path = images_[image].path;
    try {
      if (!hashes_[image]) throw CompressionError::unreadableImage(path);
      auto display = engine_.readDisplayImage(path, nullptr, std::nullopt);
      if (!display) {
        throw CompressionError::unreadableImage(path, imageRejectionReason());
      }
      SourceImageMetadata metadata = engine_.readSourceImageMetadata(path, display->displaySize);
      state.width = metadata.pixelWidth;
      state.height = metadata.pixelHeight;
      state.source = engine_.prepareSource(path, display->image);
    } catch (const CancellationError&) {
      throw;
    } catch (...) {
      state.error = describeError(std::current_exception());
    }
    return state;
  }

  CorpusRecord runUnit(const Unit& unit) {
    const SweepPlan& plan = plans_[unit.plan];
    ImageState& state = prepared(unit.image);
    throwIfCancelled(stopToken_);
    CorpusRecord record;
    record.image = images_[unit.image].name;
    record.path = images_[unit.image].path.string();
    record.imageSha256 = hashOf(unit.image);
    record.width = state.width;
    record.height = state.height;
    record.panel = plan.panelNumber;
    record.codec = std::string(rawValue(plan.panel.codec));
    record.signature = unit.signature;
    record.setting = unit.value;
    record.isTarget = !plan.targetScores.empty();
    record.tool = std::string(codecInfo(plan.panel.codec).encoderTool);
    if (settings_.toolVersion) record.toolVersion = settings_.toolVersion(plan.panel.codec);
    record.host = settings_.host;
    if (!state.error.empty()) {
      record.error = state.error;
      return record;
    }
    SweepPlan one;
    one.panel = plan.panel;
    one.panelNumber = plan.panelNumber;
    (record.isTarget ? one.targetScores : one.ladder) = {unit.value};
    SweepSettings sweepSettings;
    sweepSettings.parallelPoints = 1;
    sweepSettings.pixelCount = state.width * state.height;
    PanelSweep sweep = sweepPanel(one, *state.source, engine_, sweepSettings, {}, stopToken_);
    sweep.removeFiles();
    const RateDistortionSample* sample =
        record.isTarget ? chosenProbe(sweep, unit.value) : (sweep.samples.empty() ? nullptr : &sweep.samples.front());
    if (!sample) {
      record.error = sweep.failures.empty() ? "No result." : sweep.failures.front().message;
      return record;
    }
    record.isOk = true;
    if (record.isTarget) record.foundSetting = sample->settingValue;
    record.encodedSize = sample->encodedSize;
    record.bitsPerPixel = sample->bitsPerPixel;
    record.ssimulacra2 = sample->ssimulacra2Score;
    record.encodeSeconds = sample->encodeDuration;
    record.decodeSeconds = sample->decodeDuration;
    return record;
  }

  void finishUnit(const Unit& unit, const CorpusRecord& record) {
    try {
      writer_->append(record);
    } catch (...) {
      std::lock_guard guard(lock_);
      if (!writeError_) writeError_ = std::current_exception();
      stopStarting_ = true;
      return;
    }
    ImageState& state = states_[unit.image];
    {
      std::lock_guard guard(state.lock);
      if (--state.remaining == 0 && state.source) {
        state.source->removeTemporaryDirectory();
        state.source.reset();
      }
    }
    std::lock_guard guard(lock_);
    ++outcome_.unitsRun;
    if (!record.isOk) {
      ++outcome_.failedNow;
      ++outcome_.failedTotal;
      // Past this point the shard can no longer end within the limit, so going on only spends time.
      if (outcome_.failedNow * 100.0 > settings_.maxFailurePercent * static_cast<double>(outcome_.unitsTotal)) {
        outcome_.stoppedEarly = true;
        stopStarting_ = true;
      }
    }
    if (--state.unitsLeft == 0) ++imagesDone_;
    report();
  }

  void report() {
    if (!settings_.progress) return;
    CorpusProgress progress;
    progress.imagesTotal = images_.size();
    progress.imagesDone = imagesDone_;
    progress.unitsTotal = outcome_.unitsTotal;
    progress.unitsDone = outcome_.unitsSkipped + outcome_.unitsRun;
    progress.failed = outcome_.failedTotal;
    progress.elapsedSeconds = std::chrono::duration<double>(Clock::now() - started_).count();
    if (outcome_.unitsRun > 0) {
      progress.remainingSeconds = progress.elapsedSeconds / static_cast<double>(outcome_.unitsRun) *
                                  static_cast<double>(units_.size() - outcome_.unitsRun);
    }
    settings_.progress(progress);
  }

  const std::vector<CorpusImage>& images_;
  const std::vector<SweepPlan>& plans_;
  CompressionEngine& engine_;
  const CorpusRunSettings& settings_;
  std::stop_token stopToken_;
  std::vector<ImageState> states_;
  std::vector<std::optional<std::string>> hashes_;
  std::vector<Unit> units_;
  std::optional<ResultsFileWriter> writer_;
  CorpusRunOutcome outcome_;
  std::size_t imagesDone_ = 0;
  Clock::time_point started_;
  std::atomic<std::size_t> nextUnit_{0};
  std::atomic<bool> stopStarting_{false};
  std::exception_ptr writeError_;
  std::mutex lock_;
};

}  // namespace

CorpusRunOutcome runCorpus(const std::vector<CorpusImage>& images, const std::vector<SweepPlan>& plans,
                           CompressionEngine& engine, const CorpusRunSettings& settings, std::stop_token stopToken) {
  throwIfCancelled(stopToken);
  return CorpusRunner(images, plans, engine, settings, stopToken).run();
}

}  // namespace quorlin
