// Relocatable memory blocks ("handles"): *handle is the block's current
// address, which may move when the size changes (never while locked... the
// readers lock once the block is complete).
#pragma once

#include <cstdint>

#include "audio/media_ops.h"

namespace hx::media {

// Empty or sized block, owned by the caller (disposeHandle); null when memory is short.
Handle newHandle(int32_t size);
// False when memory is short; the block is then unchanged.
bool setHandleSize(Handle handle, uint32_t size);
uint32_t getHandleSize(Handle handle);
void lockHandle(Handle handle);
void disposeHandle(Handle handle);
// Handles alive in the process, for leak tests.
int64_t liveHandles();

}  // namespace hx::media
