#include "media/memory_handle.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace hx::media {
namespace {

// The master pointer comes first, so a Handle is the address of a Block.
struct Block {
  char* data = nullptr;
  uint32_t size = 0;
  uint32_t capacity = 0;
  bool locked = false;
};

std::atomic<int64_t> gLiveHandles{0};
std::atomic<uint32_t> gPeakCapacity{0};

Block* blockOf(Handle handle) { return reinterpret_cast<Block*>(handle); }

bool setCapacity(Block* block, uint32_t capacity) {
  if (capacity == 0) {
    std::free(block->data);
    block->data = nullptr;
    block->capacity = 0;
    return true;
  }
  void* moved = std::realloc(block->data, capacity);
  if (moved == nullptr) return false;
  block->data = static_cast<char*>(moved);
  block->capacity = capacity;
  if (capacity > gPeakCapacity.load()) gPeakCapacity = capacity;
  return true;
}

}  // namespace

Handle newHandle(int32_t size) {
  if (size < 0) return nullptr;
  Block* block = new (std::nothrow) Block;
  if (block == nullptr) return nullptr;
  if (!setCapacity(block, static_cast<uint32_t>(size))) {
    delete block;
    return nullptr;
  }
  block->size = static_cast<uint32_t>(size);
  ++gLiveHandles;
  return &block->data;
}

bool setHandleSize(Handle handle, uint32_t size) {
  Block* block = blockOf(handle);
  if (block == nullptr || block->locked) return false;
  if (size > block->capacity) {
    const uint64_t ahead = uint64_t(size) + size / 2;
    const uint32_t wanted = ahead > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ahead);
    if (!setCapacity(block, wanted) && !setCapacity(block, size)) return false;
  }
  block->size = size;
  return true;
}

bool reserveHandle(Handle handle, uint32_t capacity) {
  Block* block = blockOf(handle);
  if (block == nullptr || block->locked) return false;
  if (capacity <= block->capacity) return true;
  return setCapacity(block, capacity);
}

bool reserveHandleToFill(Handle handle, uint32_t capacity) {
  if (!reserveHandle(handle, capacity)) return false;
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  // The pages the writer is about to fill, mapped in one call rather than
  // by one fault each. Only a hint: where the system declines it (before
  // Linux 5.14), the faults come as they would have.
  const Block* block = blockOf(handle);
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto data = reinterpret_cast<uintptr_t>(block->data);
  const uintptr_t begin = (data + block->size + page - 1) & ~(page - 1);
  const uintptr_t end = (data + block->capacity) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#endif
  return true;
}

void compactHandle(Handle handle) {
  Block* block = blockOf(handle);
  if (block == nullptr || block->locked || block->capacity == block->size) return;
  // Shrinking cannot fail for lack of memory in a way that loses data:
  // on failure the larger block simply stays.
  setCapacity(block, block->size);
}

uint32_t getHandleSize(Handle handle) {
  const Block* block = blockOf(handle);
  return block == nullptr ? 0 : block->size;
}

void lockHandle(Handle handle) {
  if (Block* block = blockOf(handle)) block->locked = true;
}

bool isLocked(Handle handle) {
  const Block* block = blockOf(handle);
  return block != nullptr && block->locked;
}

void disposeHandle(Handle handle) {
  Block* block = blockOf(handle);
  if (block == nullptr) return;
  std::free(block->data);
  delete block;
  --gLiveHandles;
}

int64_t liveHandles() { return gLiveHandles.load(); }
uint32_t peakHandleCapacity() { return gPeakCapacity.load(); }
void resetPeakHandleCapacity() { gPeakCapacity = 0; }

}  // namespace hx::media
