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

// Index of a term's weight when `scales` scales were computed.
constexpr int weightIndex(int scales, int channel, int scale, int norm, int map) {
  return ((channel * scales + scale) * 2 + norm) * 3 + map;
}

// perScale[s][c] for the scales actually computed (1..6): the weighted sum of
// all terms, before the mapping to the score (0 when every term is zero).
double weightedErrorSum(const std::vector<std::array<ChannelNorms, 3>>& perScale);

// The score of a weighted sum; 100 exactly when the sum is zero.
double scoreFromWeightedSum(double sum);

inline double scoreFromNorms(const std::vector<std::array<ChannelNorms, 3>>& perScale) {
  return scoreFromWeightedSum(weightedErrorSum(perScale));
}

}  // namespace quorlin::metric
