#include "core/comparison/RasterBitmap.h"

#include <cstdlib>
#include <deque>
#include <mutex>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quorlin {

namespace {

constexpr std::size_t pooledBlockMinimum = std::size_t{1} << 20;

std::uint8_t* allocateFreshMemory(std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::size_t hugePage = std::size_t{2} << 20;
  if (size >= pooledBlockMinimum) {
    std::size_t rounded = (size + hugePage - 1) / hugePage * hugePage;
    if (void* memory = std::aligned_alloc(hugePage, rounded)) {
      madvise(memory, rounded, MADV_HUGEPAGE);   // a hint; failure only costs speed
      return static_cast<std::uint8_t*>(memory);
    }
  }
#endif
  void* memory = std::malloc(size);
  if (!memory) throw std::bad_alloc();
  return static_cast<std::uint8_t*>(memory);
}

// Freed large blocks, oldest first.
class BitmapMemoryPool {
 public:
  std::uint8_t* take(std::size_t size) {
    std::lock_guard lock(mutex_);
    for (auto block = blocks_.rbegin(); block != blocks_.rend(); ++block) {
      if (block->size == size) {
        std::uint8_t* memory = block->memory;
        retainedBytes_ -= size;
        blocks_.erase(std::next(block).base());
        return memory;
      }
    }
    return nullptr;
  }

  void give(std::uint8_t* memory, std::size_t size) {
    if (size > bitmapPoolRetainedBytes) {
      std::free(memory);
      return;
    }
    std::deque<Block> released;
    {
      std::lock_guard lock(mutex_);
      while (retainedBytes_ + size > bitmapPoolRetainedBytes && !blocks_.empty()) {
        released.push_back(blocks_.front());
        retainedBytes_ -= blocks_.front().size;
        blocks_.pop_front();
      }
      blocks_.push_back({memory, size});
      retainedBytes_ += size;
    }
    for (const Block& block : released) std::free(block.memory);
  }

  void releaseAll() {
    std::deque<Block> released;
    {
      std::lock_guard lock(mutex_);
      released.swap(blocks_);
      retainedBytes_ = 0;
    }
    for (const Block& block : released) std::free(block.memory);
  }

  std::size_t retainedBytes() const {
    std::lock_guard lock(mutex_);
    return retainedBytes_;
  }

 private:
  struct Block {
    std::uint8_t* memory;
    std::size_t size;
  };
  mutable std::mutex mutex_;
  std::deque<Block> blocks_;
  std::size_t retainedBytes_ = 0;
};

// Never destroyed: a bitmap that dies during static destruction (or on
// another thread at exit) can still hand its block back.
BitmapMemoryPool& pool() {
  static BitmapMemoryPool* instance = new BitmapMemoryPool;
  return *instance;
}

}  // namespace

void BitmapMemoryDeleter::operator()(std::uint8_t* bytes) const {
  if (!bytes) return;
  if (size >= pooledBlockMinimum) {
    pool().give(bytes, size);
  } else {
    std::free(bytes);
  }
}

void releaseIdleBitmapMemory() { pool().releaseAll(); }

std::size_t idleBitmapMemory() { return pool().retainedBytes(); }

std::shared_ptr<RasterBitmap> RasterBitmap::allocate(int width, int height) {
  if (width <= 0 || height <= 0) throw std::bad_alloc();
  auto bitmap = std::make_shared<RasterBitmap>();
  bitmap->width = width;
  bitmap->height = height;
  bitmap->stride = static_cast<std::size_t>(width) * 4;
  std::size_t size = bitmap->stride * static_cast<std::size_t>(height);
  std::uint8_t* memory = size >= pooledBlockMinimum ? pool().take(size) : nullptr;
  if (!memory) memory = allocateFreshMemory(size);
  bitmap->bytes = std::unique_ptr<std::uint8_t[], BitmapMemoryDeleter>(memory, BitmapMemoryDeleter{size});
  return bitmap;
}

std::size_t RasterizedImage::byteCount() const {
  std::size_t total = 0;
  for (const auto& level : levels) total += level ? level->byteCount() : 0;
  return total;
}

}  // namespace quorlin
