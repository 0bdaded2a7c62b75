// The spectrum engine as first written: plain scalar loops, one column of
// butterflies at a time, twiddles by the recurrence on every call. Its
// logarithm is the module's scalar portableLog10, which is held against
// MPFR on its own (log10_oracle.cpp, exhaustive_log10.cpp); the fast
// engine's vector logarithms must match it, and the whole engine must
// match this one, bit for bit.
#pragma once

#include <cstdint>

namespace hx::reference {

void logPowerSpectrum(float gain, float decades, const float* samples, float* out, int32_t count,
                      int32_t m, float* work);
void complexFFT(float* data, uint16_t N);

}  // namespace hx::reference
