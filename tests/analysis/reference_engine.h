// The spectrum engine as first written: plain scalar loops, one column of
// butterflies at a time, twiddles by the recurrence on every call, and the
// double-double log10 alone. The fast engine must match it bit for bit.
#pragma once

#include <cstdint>

namespace hx::reference {

void logPowerSpectrum(float gain, float decades, const float* samples, float* out, int32_t count,
                      int32_t m, float* work);
void complexFFT(float* data, uint16_t N);
double portableLog10(double v);

}  // namespace hx::reference
