// Memory for large sample buffers: 64-byte aligned, and backed by huge pages
// where the system allows, which saves most of the page faults of touching
// fresh memory (a 12-megapixel image would otherwise fault tens of thousands
// of times per buffer).
#pragma once

#include <cstddef>

namespace quorlin::metric {

// Throws std::bad_alloc.
void* allocateLarge(std::size_t bytes);
void releaseLarge(void* memory);

}  // namespace quorlin::metric
