// Inner loops of the spectrum engine, one set per instruction set. Each
// set does, lane by lane, exactly the operations of the scalar set in the
// same order, so every set gives the same bits; only independent work (the
// butterflies of one stage, the bins of one sum) runs side by side.
// The engine picks a set once (bestIsa); tests run every set the CPU has.
// Avx512 differs from Avx2 only where the wider registers pay: the
// butterflies from half-size 8 on.
#pragma once

#include <cstdint>

namespace hx::fft {

enum class Isa { Scalar, Sse2, Avx2, Avx512 };
constexpr Isa kAllIsas[] = {Isa::Scalar, Isa::Sse2, Isa::Avx2, Isa::Avx512};

struct Kernels {
  // One butterfly stage of half-size l points over n points (l < n), with
  // the stage's twiddles wr[k], wi[k] for k = 0..l-1 (wr2, wi2: doubled up).
  void (*stage)(float* data, uint32_t n, uint32_t l, const double* wr, const double* wi,
                const double* wr2, const double* wi2);
  // Point rev[i] of x = (w(i) samples[i], 0) for i < n (single segment):
  // the windowed points, already in the transform's bit-reversed order.
  void (*loadSingle)(float* x, const float* samples, float mf, float rm, int32_t n,
                     const uint16_t* rev);
  // Point rev[i] = (samples[i] w(i), samples[n+i] w(i)) (pair of segments).
  void (*loadPair)(float* x, const float* samples, float mf, float rm, int32_t n,
                   const uint16_t* rev);
  // power[b] = (or +=, when accumulate) |X(b)|^2 + |X(n-b)|^2 for b = 1..m-1,
  // the squares summed Im, Re, Im, Re as the scalar code does.
  void (*mirrored)(float* power, const float* x, int32_t m, bool accumulate);
  // power[b] /= d, then out[b] = float(log10(scale power[b] + 1) g8), b < m.
  void (*normaliseAndMap)(float* power, float* out, int32_t m, float d, float scale, float g8);
  // log10 of every v[i] (a float, widened), as portableLog10 gives it.
  void (*log10Many)(double* out, const float* v, int32_t count);
  // out[i] = float(portableLog10(v[i]) g8), the log map's last step.
  void (*log10Map)(float* out, const float* v, int32_t count, float g8);
};

// From kTiledFrom points on, the reordering of a transform's points goes
// tile by tile: i read as (high, middle, low) groups of kTileBits, the rest,
// kTileBits bits has rev(i) = (rev low, rev middle, rev high), so the points
// whose middle is b meet only those whose middle is rev(b), in 2^kTileBits
// rows of 2^kTileBits points (a 64-byte line per row of the transform).
// Smaller transforms fit the first-level cache whole, and there the rows,
// a power of two apart, would only crowd a few cache sets.
constexpr int kTileBits = 3;
constexpr uint32_t kTiledFrom = 4096;

bool isaSupported(Isa isa);
Isa bestIsa();
// The set for isa; the scalar set when the CPU or the build lacks it.
const Kernels& kernelsFor(Isa isa);

// Twiddles of the stage with half-size l (a power of two up to 8192): l
// values each, by the recurrence, built on first use and kept for the
// life of the module.
struct Twiddles {
  const double* wr;
  const double* wi;
  const double* wr2;  // wr[0] wr[0] wr[1] wr[1] ...
  const double* wi2;
};
Twiddles stageTwiddles(uint32_t l);

// The engine's two operations on a chosen set.
void complexFFTWith(const Kernels& k, float* data, uint16_t n);
void logPowerSpectrumWith(const Kernels& k, float gain, float decades, const float* samples,
                          float* out, int32_t count, int32_t m, float* work);

}  // namespace hx::fft
