// Per-call working buffers of the analysis methods.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "support/module_alloc.h"

namespace hx {

// Ceiling on the working buffers of one call. Above it a request fails as
// out of memory without trying, so that a script cannot make the process
// thrash or be killed by asking for 2^31 frames.
inline constexpr int64_t kMaxWorkingBytes = int64_t{1} << 30;

// Longest list one call may return (getSamples' nbSamples): 2^22 values,
// 95 s of 44.1 kHz audio. A host may spend a hundred bytes or more per list
// value (ours about 24), so the cap keeps one call's result within some
// hundreds of megabytes on either side, also for the 32-bit DLL.
inline constexpr int32_t kMaxListValues = int32_t{1} << 22;

// count elements (at least one, so an empty request still has an address);
// null when memory is short.
template <class T>
std::unique_ptr<T[]> allocateBuffer(int64_t count) {
  return std::unique_ptr<T[]>(NewArrayOrNull<T>(count > 0 ? static_cast<size_t>(count) : 1));
}

}  // namespace hx
