// Per-call working buffers of the analysis methods.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

namespace hx {

// Ceiling on the working buffers of one call. Above it a request fails as
// out of memory without trying, so that a script cannot make the process
// thrash or be killed by asking for 2^31 frames.
inline constexpr int64_t kMaxWorkingBytes = int64_t{1} << 30;

// count elements (at least one, so an empty request still has an address);
// null when memory is short.
template <class T>
std::unique_ptr<T[]> allocateBuffer(int64_t count) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[count > 0 ? static_cast<size_t>(count) : 1]);
}

}  // namespace hx
