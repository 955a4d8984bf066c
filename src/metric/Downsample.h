// 2x2 box downsampling between scales: output ceil(w/2) x ceil(h/2), odd
// sizes repeat the last column/row, samples summed from zero in the order
// top-left, top-right, bottom-left, bottom-right, then multiplied by 0.25.
#pragma once

namespace quorlin::metric {

// One output row from input rows `top` and `bottom` (the same row at an odd
// bottom edge), each inWidth floats; writes (inWidth + 1) / 2 floats.
void downsampleRow(const float* top, const float* bottom, float* out, int inWidth);

}  // namespace quorlin::metric
