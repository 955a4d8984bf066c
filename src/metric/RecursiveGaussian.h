// The metric's blur: a recursive (IIR) approximation of a Gaussian with
// sigma 1.5, a sum of three truncated-cosine terms, with zero padding and no
// renormalisation at the borders. It is applied along rows first, then along
// columns.
//
// The recursion is only marginally stable, so float rounding errors random-walk
// along each line and the SSIM term amplifies them. To give the published
// scores to the last printed digit, both passes reproduce one exact sequence of
// float operations (fused multiply-adds where noted):
//   rows:    the first samples one at a time, then blocks of four outputs built
//            from an expanded four-step recurrence, then the tail one at a time;
//   columns: the plain recurrence, one step per row.
// The row pass therefore works on kLanes rows at once with one row per vector
// lane (the recursion runs along the row, the vector across rows); callers
// transpose blocks of rows into that layout.
#pragma once

#include <cstddef>

namespace quorlin::metric {

struct BlurCoefficients {
  // Vertical recurrence per term k: y = n2*(x[n-N-1] + x[n+N-1]) - d1*y1 - y2.
  float n2[3];
  float d1[3];
  // Horizontal four-step expansion per term.
  float mulIn[3][4];
  float mulPrev[3][4];
  float mulPrev2[3][4];
};

// Computed once, in double, then rounded to float.
const BlurCoefficients& blurCoefficients();

// Rows processed together by the horizontal pass.
inline constexpr int kLanes = 16;
// Half-width of the recursion window: outputs depend on inputs within ±4,
// the recurrence reads x[n-6] and x[n+4].
inline constexpr int kBlurRadius = 5;

// Horizontal pass over kLanes rows of `width` samples stored lane-interleaved:
// sample n of lane l is input[n * kLanes + l]; output uses the same layout.
void blurLanesHorizontally(const float* input, float* output, int width);

// One step n of the vertical pass over `count` columns. `top` is row n-6 and
// `bottom` row n+4 of the horizontally blurred plane, either null when outside
// the image. state holds, for each term k, the previous two outputs per column
// (state[2k] = y[n-1], state[2k+1] = y[n-2]), zero before the first step; the
// step advances it by swapping the pointers. `output` receives the blurred
// value of row n (meaningful for n >= 0).
void blurColumnsStep(const float* top, const float* bottom, float* state[6], float* output, std::size_t count);

}  // namespace quorlin::metric
