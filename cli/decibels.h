// Levels in dBFS from getFFT's values: the log map inverted to power, over
// the power that a full-scale sine puts into its own bin.
#pragma once

#include <cstdint>

namespace hx::cli {

// The range the spectrogram's dB colour scale covers below 0 dBFS.
inline constexpr double kDefaultRangeDb = 120;

// What one getFFT call was asked, as far as the scale of its values goes.
struct SpectrumScale {
  int32_t bins = 0;
  int32_t timesmooth = 1;
  double amplMax = 1;
};

// P from v = amplMax / 8 * log10(1000 P + 1).
double powerOfValue(double v, double amplMax);

// P of the bin of a sine of amplitude 128 (full scale) on that bin:
// 128^2 m / (8 S), S the triangular window's power; a single segment
// (timesmooth 1) carries half the power of the paired path.
double fullScalePower(int32_t bins, int32_t timesmooth);

// A bin's value as a level in dBFS; -infinity for silence.
double binDbfs(double v, const SpectrumScale& scale);

// An octave band's value (band 0 is bin 0, band k >= 1 starts at bin
// 2^(k-1)) read as the level of its mean bin: the band's weight taken off,
// what is left is the mean of its bins' values.
double bandDbfs(double v, int32_t band, const SpectrumScale& scale);

}  // namespace hx::cli
