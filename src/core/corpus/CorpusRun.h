// A corpus run: every image of a shard × every panel × every point, each unit
// through the engine's ordinary sweep (so the older-tool rules and every check
// apply), its outcome appended to the shard's results file as soon as it ends.
//
// Units run on `jobs` worker threads, in image order. The first unit of an
// image prepares its source; the image's other units share it, and the last
// one removes it, so only a few prepared sources exist at a time. Units already
// recorded in any results file of the run folder are skipped: a run started
// again with the same arguments does only what is missing. A failed unit is
// recorded with its error and the run goes on, unless more than the allowed
// share of units failed; then no new unit starts. Cancellation ends the
// running tools; their units are not recorded. Blocks the calling thread.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/corpus/CorpusInputs.h"
#include "core/corpus/CorpusRecord.h"
#include "core/ratedistortion/PanelSweep.h"
#include "core/tools/ChildProcess.h"

namespace quorlin {

// The panel as a run plans it: no result, and a codec without an effort
// setting at the effort `--panel` gives it (the setting is part of a unit's
// signature), so a run started here resumes on the command line.
CodecPanel corpusPanel(const CodecPanel& panel);

// The settings signature a unit of `plan` at `value` is recorded under.
std::string unitSignature(const SweepPlan& plan, double value);
// The values a plan's units run: its target scores, else its ladder.
std::vector<double> unitValues(const SweepPlan& plan);

// Throws CorpusError when a record of `records` belongs to other panels or
// settings than `plans` make (a results file of another panel set); `file`
// names the file in the message.
void checkRecordsMatchPlans(const std::vector<CorpusRecord>& records, const std::vector<SweepPlan>& plans,
                            const std::filesystem::path& file);

// One image's records as rate–distortion curves of `panels` (numbered from 1):
// per panel its successful points, by setting (a search: by size), without
// files since a run keeps none. Records of other settings than the panel's
// make no points.
std::vector<PanelSweep> recordedSweeps(const std::vector<CorpusRecord>& records,
                                       const std::vector<CodecPanel>& panels);

struct CorpusProgress {
  std::size_t imagesDone = 0;
  std::size_t imagesTotal = 0;
  std::size_t unitsDone = 0;   // including those recorded before
  std::size_t unitsTotal = 0;
  std::size_t failed = 0;      // including those recorded before
  double elapsedSeconds = 0;
  std::optional<double> remainingSeconds;  // once a unit of this run has finished
};

// "Images 3 of 6, units 40 of 96, 0 failed, 0:12 elapsed, about 0:20 left"
std::string corpusProgressText(const CorpusProgress& progress);

struct CorpusRunSettings {
  std::filesystem::path runFolder;
  CorpusShard shard;
  unsigned jobs = 0;                 // 0: one per core
  double maxFailurePercent = 10;     // failures of this run, of all the shard's units
  std::string host;
  // The tool of a codec's encoder and its version text ("" when unknown).
  std::function<std::string(CompressionCodec)> toolVersion;
  std::function<void(const CorpusProgress&)> progress;  // on the workers, one at a time
};

struct CorpusRunOutcome {
  std::size_t unitsTotal = 0;
  std::size_t unitsSkipped = 0;     // recorded before
  std::size_t unitsRun = 0;         // recorded now
  std::size_t failedNow = 0;
  std::size_t failedTotal = 0;      // recorded before and now
  bool stoppedEarly = false;        // the failure limit was passed
  bool cutTornLine = false;
};

// Throws CorpusError when the run folder's results cannot be used (another
// panel set, a broken line, a locked or unwritable file), before writing
// anything; CancellationError when stopped.
CorpusRunOutcome runCorpus(const std::vector<CorpusImage>& images, const std::vector<SweepPlan>& plans,
                           CompressionEngine& engine, const CorpusRunSettings& settings,
                           std::stop_token stopToken = {});

}  // namespace quorlin
