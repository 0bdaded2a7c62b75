// The module's logarithm: portableLog10 and the parts the spectrum
// engine's kernels and the tests reach (log10.cpp).
#pragma once

#include <cstdint>

namespace hx {

// log10 of v with double arithmetic alone: C runtimes disagree in the last
// bit of log10, and the spectrum must not depend on which one is linked.
// Correctly rounded unless the exact value lies within 2^-20 ulp of a
// rounding boundary. NaN for v < 0 or NaN, -inf for 0, +inf for +inf.
double portableLog10(double v);

namespace fft {

// log10 by the double-double code alone (the fallback of portableLog10),
// and its double-double before the final rounding (hi is the result).
double accurateLog10(double v);
void accurateLog10Parts(double v, double* hi, double* lo);
// The fast path of portableLog10 for one value: true with *out set when
// its result is certain, false when the caller must take accurateLog10.
bool fastLog10(double v, double* out);
// The log map's plain double log10 of v in [1, largest float] (else false):
// portableLog10(v) lies within *eps of *y.
bool plainLog10(float v, double* y, double* eps);

// The kernels' logarithms, one per instruction set (see Kernels in
// fft_kernels.h): log10 of every v[i] as portableLog10 gives it, and the
// log map's last step, out[i] = float(portableLog10(v[i]) g8).
void log10ManyScalar(double* out, const float* v, int32_t count);
void log10MapScalar(float* out, const float* v, int32_t count, float g8);
void log10ManySse2(double* out, const float* v, int32_t count);
void log10MapSse2(float* out, const float* v, int32_t count, float g8);
#if defined(__x86_64__)
void log10ManyAvx2(double* out, const float* v, int32_t count);
void log10MapAvx2(float* out, const float* v, int32_t count, float g8);
#endif

}  // namespace fft
}  // namespace hx
