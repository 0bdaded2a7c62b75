// The module's own heap allocations, with a test hook that makes one of
// them fail. Every allocation site of the module goes through here, so a
// test can walk each out-of-memory path. The hook is not exported: only
// programs that link the module's code can reach it.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace hx {

// False when the hook says this allocation is the one to fail.
bool ModuleMayAllocate();

// How an injected failure shows: a null result, or a std::bad_alloc as a
// throwing allocation inside a library would raise.
enum class AllocFailure { kNull, kThrow };

// Test hook: the k-th module allocation from now fails (1 = the next one);
// 0 switches failing off. Module-wide and unguarded, like the log.
void FailModuleAllocationAt(int64_t k, AllocFailure how = AllocFailure::kNull);
// Module allocations since the last FailModuleAllocationAt, so a test can
// run a call once to count them and then fail each in turn.
int64_t ModuleAllocationsSeen();

// new (std::nothrow) T(args...), or null when memory is short.
template <class T, class... Args>
T* NewOrNull(Args&&... args) {
  if (!ModuleMayAllocate()) return nullptr;
  // Braces for aggregates: clang before 16 has no parenthesised aggregate init.
  if constexpr (std::is_aggregate_v<T>) {
    return new (std::nothrow) T{std::forward<Args>(args)...};
  } else {
    return new (std::nothrow) T(std::forward<Args>(args)...);
  }
}

// new (std::nothrow) T[count], or null when memory is short.
template <class T>
T* NewArrayOrNull(size_t count) {
  if (!ModuleMayAllocate()) return nullptr;
  return new (std::nothrow) T[count];
}

}  // namespace hx
