// Preloaded under valgrind only. libhwy (pulled in by FFmpeg through
// libjxl) measures its timer resolution with rdtscp in an initialiser, an
// instruction some valgrind builds cannot run (SIGILL). Timing is all that
// function is for, so a constant answer changes nothing we test.
#include <cstdint>

namespace hwy::platform {

__attribute__((visibility("default"))) uint64_t TimerResolution() { return 1; }

}  // namespace hwy::platform
