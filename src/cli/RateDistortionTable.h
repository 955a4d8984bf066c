// The text report of `quorlin-cli rd`: per panel a table of its points
// (setting, size, bits per pixel, score, kept or dropped) and its failed
// points, then the deltas of every other panel against the anchor.
#pragma once

#include <span>
#include <string>

#include "core/ratedistortion/RateDistortionReport.h"

namespace quorlin::cli {

std::string rateDistortionTable(std::span<const PanelSweep> sweeps, std::size_t anchorIndex,
                                std::span<const PanelDelta> deltas);

}  // namespace quorlin::cli
