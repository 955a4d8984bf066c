// From pooled error norms to the 0..100 score: a weighted sum with one
// running weight index over channel, scale, norm and map (so with fewer than
// six scales the later channels start earlier in the table), then a cubic
// and a power curve. Everything here is double precision.
#pragma once

#include <array>
#include <vector>

#include "metric/ScaleComparison.h"

namespace quorlin::metric {

inline constexpr int kMaxScales = 6;

// The 108 weights in index order.
const std::array<double, 108>& scoreWeights();

// perScale[s][c] for the scales actually computed (1..6). Returns the score;
// 100 exactly when every weighted term is zero.
double scoreFromNorms(const std::vector<std::array<ChannelNorms, 3>>& perScale);

}  // namespace quorlin::metric
