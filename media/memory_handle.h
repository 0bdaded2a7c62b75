// Relocatable memory blocks ("handles"): *handle is the block's current
// address, which may move when the size changes. Locking pins it: a locked
// block cannot be resized (the reader locks only once the block is complete).
#pragma once

#include <cstdint>

#include "audio/media_ops.h"

namespace hx::media {

// Empty or sized block, owned by the caller (disposeHandle); null when memory
// is short or size is negative.
Handle newHandle(int32_t size);
// False when memory is short, the handle is null or locked; the block is then
// unchanged. Growing keeps the bytes already there and reserves room ahead
// (half again the size) so that appending in small steps stays linear.
bool setHandleSize(Handle handle, uint32_t size);
// Reserves room for capacity bytes without changing the size, so that a
// writer that knows the final size moves the block at most once. False when
// memory is short, the handle is null or locked; the block is then unchanged.
bool reserveHandle(Handle handle, uint32_t capacity);
// reserveHandle, for a capacity about to be written in full: its pages are
// mapped up front where the system allows it. False as reserveHandle.
bool reserveHandleToFill(Handle handle, uint32_t capacity);
// Gives back the room reserved beyond the size.
void compactHandle(Handle handle);
// 0 for a null handle.
uint32_t getHandleSize(Handle handle);
// Locking twice has no further effect; a null handle is ignored.
void lockHandle(Handle handle);
bool isLocked(Handle handle);
// Largest capacity any block has had since the last reset, for tests that
// check a writer never allocates past its cap.
uint32_t peakHandleCapacity();
void resetPeakHandleCapacity();
// Releases the block; a null handle is ignored.
void disposeHandle(Handle handle);
// Handles alive in the process, for leak tests.
int64_t liveHandles();

}  // namespace hx::media
