// Log-power spectrum engine.
//
// Output bin b (0..m-1) stands for the frequency b x rate / 2m; bin 0 is DC
// and the point at half the rate is not reported. Each bin is
// (gain / 8) x log10(10^decades x P + 1), P being the triangular-windowed
// periodogram averaged over the segments and divided by 4m x (window power
// per transform). All arithmetic is 32-bit float except angles, twiddle
// factors, sin, exp and the logarithm (portableLog10, log10.h), which run in double;
// no allocation.
#pragma once

#include <cstdint>

namespace hx {

inline constexpr int32_t kMaxBins = 8192;

// The bin counts the engine computes: powers of two from 1 to kMaxBins.
bool isValidBinCount(int32_t m);

// count samples in, m values out; work holds 5m floats. count == 2m uses
// one segment; otherwise count / 4m pairs of segments (samples past the last
// whole pair are not read). An m that is not a power of two from 1 to
// kMaxBins, or a count giving no segment, yields zeros in out (nothing is
// read and work is untouched then); m <= 0 writes nothing. On return the
// first m floats of work hold the normalised power P, and the rest the last
// transform. A null samples or work is treated like a count giving no
// segment; a null out writes nothing. Those answers are a release build's:
// a debug build asserts on every such argument, here and in complexFFT.
//
// Both paths divide by 4m x S per transform (S the window power), but a
// single segment fills one transform where a pair fills two, so for the
// same steady input the single-segment P is half the paired P.
void logPowerSpectrum(float gain, float decades, const float* samples, float* out, int32_t count,
                      int32_t m, float* work);

// In place, N interleaved complex points (2N floats), N a power of two:
// X(k) = sum x(n) e^(+2 pi i n k / N), no 1/N factor. Any other N (or a
// null data) leaves data untouched.
void complexFFT(float* data, uint16_t N);

}  // namespace hx
