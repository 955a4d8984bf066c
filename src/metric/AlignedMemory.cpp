#include "metric/AlignedMemory.h"

#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quorlin::metric {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

void* allocateLarge(std::size_t bytes) {
  std::size_t alignment = 64;
  if (bytes >= kHugePage) {
    alignment = kHugePage;
    bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  } else {
    bytes = (bytes + 63) / 64 * 64;
    if (bytes == 0) bytes = 64;
  }
  void* memory = std::aligned_alloc(alignment, bytes);
  if (!memory) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (alignment == kHugePage) ::madvise(memory, bytes, MADV_HUGEPAGE);  // advice only; failure is harmless
#endif
  return memory;
}

void releaseLarge(void* memory) { std::free(memory); }

}  // namespace quorlin::metric
