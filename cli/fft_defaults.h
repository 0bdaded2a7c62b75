// The defaults getFFT gives its optional arguments; the command passes
// them where the user gave nothing before a later option.
#pragma once

#include <cstdint>

namespace hx::cli {

inline constexpr int32_t kDefaultStart = 0;
inline constexpr int32_t kDefaultBinCount = 256;
inline constexpr int32_t kDefaultTimesmooth = 1;
inline constexpr double kDefaultAmplMax = 1.0;

}  // namespace hx::cli
