// Moves kLanes rows in and out of the lane-interleaved layout that the
// horizontal blur works in (sample x of row l at lanes[x * kLanes + l]),
// eight columns at a time with in-register 8x8 transposes.
#pragma once

namespace quorlin::metric {

// rows[l] for l < kLanes, each `width` floats.
void rowsToLanes(const float* const* rows, int width, float* lanes);

// Writes the first `rowCount` lanes back to rows[0..rowCount).
void lanesToRows(const float* lanes, int width, float* const* rows, int rowCount);

}  // namespace quorlin::metric
