// Target Score search: finds the rate parameter (quality or distance) whose
// result is the smallest file scoring close to the panel's target.
//
// A bracketing search: it steps geometrically away from a fixed first probe
// until the target lies between two probed parameters, then interpolates
// between the bracket ends with a clamped fraction. It stops when a probe lands
// within 0.5 of the target, the bracket is one step wide, the next candidate
// would repeat itself, or after eight probes.
//
// Runs on a worker thread; `evaluate` runs one whole encode/decode/score for a
// probe panel. The evaluator's errors end the search unchanged; cancellation is
// noticed before the first probe and between probes (CancellationError). Only
// the best probe's work directory is left on disk when the search returns.
#pragma once

#include <functional>
#include <stop_token>
#include <string>

#include "core/engine/CodecPanel.h"
#include "core/engine/CompressionResult.h"

namespace quorlin {

struct SearchProbe {
  double parameter = 0;  // quality (a whole number) or distance
  double score = 0;
  CompressionResult result;
};

using ProbeEvaluator = std::function<CompressionResult(const CodecPanel& probePanel)>;
using SearchProgress = std::function<void(const std::string& message)>;

// Returns the chosen probe's result with foundQuality (quality codecs) or
// foundDistance (distance codecs) set to the parameter it used, and the
// numbers of every probe in searchProbes.
CompressionResult searchTargetScore(const CodecPanel& panel, const SearchProgress& progress,
                                    const ProbeEvaluator& evaluate, std::stop_token stopToken = {});

}  // namespace quorlin
