// Log-power spectrum engine.
//
// Output bin b (0..m-1) stands for the frequency b x rate / 2m; bin 0 is DC
// and the point at half the rate is not reported. Each bin is
// (gain / 8) x log10(10^decades x P + 1), P being the triangular-windowed
// periodogram averaged over the segments and divided by 4m x (window power
// per transform). All arithmetic is 32-bit float except angles, twiddle
// factors and the standard functions, which run in double; no allocation.
#pragma once

#include <cstdint>

namespace hx {

inline constexpr int32_t kMaxBins = 8192;

// count samples in, m values out; work holds 5m floats. count == 2m uses
// one segment; otherwise count / 4m pairs of segments. An m that is not a
// power of two from 1 to kMaxBins, or a count giving no segment, yields
// zeros in out (nothing is read when m is invalid).
void logPowerSpectrum(float gain, float decades, const float* samples, float* out, int32_t count,
                      int32_t m, float* work);

// In place, N interleaved complex points (2N floats), N a power of two up
// to 16384: X(k) = sum x(n) e^(+2 pi i n k / N), no 1/N factor.
void complexFFT(float* data, uint16_t N);

}  // namespace hx
