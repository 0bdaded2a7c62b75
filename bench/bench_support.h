// Small pieces the benchmark programs share: a fixed noise signal and the
// process's own memory figures.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace hx::bench {

// count floats of the same pseudo-random noise on every run, on a +-128 scale.
inline std::vector<float> noise(size_t count) {
  std::vector<float> v(count);
  uint32_t state = 1;
  for (float& x : v) {
    state = state * 1664525u + 1013904223u;
    x = static_cast<float>(static_cast<int16_t>(state >> 16)) / 256.0f;
  }
  return v;
}

// A kB figure of /proc/self/status ("VmHWM:", say); -1 when it is missing.
inline long statusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(status, line))
    if (line.compare(0, n, field) == 0) return std::atol(line.c_str() + n + 1);
  return -1;
}

}  // namespace hx::bench
