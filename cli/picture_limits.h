// Sizes of the pictures the command draws: defaults, limits and the margins
// around the plot, which hold the axes, the colour bar and the title.
#pragma once

#include <cstdint>

namespace hx::cli {

inline constexpr int32_t kSpectrogramWidth = 1000;
inline constexpr int32_t kSpectrogramHeight = 512;
inline constexpr int32_t kSpectrogramBins = 512;
inline constexpr int32_t kWaveformWidth = 1000;
inline constexpr int32_t kWaveformHeight = 240;
// Larger plots are refused: a picture's memory stays bounded.
inline constexpr int32_t kMaxPlotSide = 16384;
inline constexpr int64_t kMaxPlotPixels = int64_t(1) << 25;  // 128 MB as 32-bit pixels
// The spectrogram asks the module for at most this many columns.
inline constexpr int32_t kMaxColumns = 16384;

struct Margins {
  int32_t left, right, top, bottom;
};
// The plot's top-left pixel is (left, top); the picture is
// (left + width + right) by (top + height + bottom) pixels.
inline constexpr Margins kSpectrogramMargins{80, 130, 48, 56};
inline constexpr Margins kWaveformMargins{80, 30, 48, 56};

}  // namespace hx::cli
