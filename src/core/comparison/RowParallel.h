// parallelForRows: runs a row loop on every hardware thread, using one pool of
// threads kept for the whole process.
//
// The rows [0, rowCount) are handed out in bands of `rowsPerBand` from a shared
// counter, so a core that other work slows down simply takes fewer bands. The
// calling thread works too; the call returns when every band is done. `body`
// must be safe to run concurrently on disjoint bands. If a band throws, the
// remaining bands are skipped and the first exception is rethrown here.
#pragma once

#include <functional>

namespace quorlin {

void parallelForRows(int rowCount, const std::function<void(int firstRow, int endRow)>& body, int rowsPerBand = 32);

}  // namespace quorlin
