// Whether the engine's debug assertions are compiled in (NDEBUG unset, as in
// the Debug and asan builds). Tests of arguments the engine cannot serve
// expect it to stop there, and check the release answer otherwise.
#pragma once

namespace hx::test {

#ifdef NDEBUG
inline constexpr bool kDebugAssertions = false;
#else
inline constexpr bool kDebugAssertions = true;
#endif

}  // namespace hx::test
