// The spectrum engine: the transform, the window, the paired segments and
// the normalisation, on the kernels of fft_kernels.cpp.
#include "analysis/fft_engine.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <mutex>
#include <utility>

#include "analysis/fft_kernels.h"

namespace hx {
namespace {

// Every rounding step below is deliberate: products and sums of floats stay
// float, twiddles stay double, and each butterfly product is narrowed to
// float before it is combined. Reordering any of them changes output bits.

bool isPowerOfTwo(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

// Triangular window over 2m points: w(0) = 0, w(m) = 1, w(2m-1) = 1/m.
struct Window {
  float mf;  // m
  float rm;  // 1/m
};

Window makeWindow(int32_t m) {
  return {static_cast<float>(m), static_cast<float>(1.0 / m)};
}

float windowAt(const Window& w, int32_t i) {
  const float x = (static_cast<float>(i) - w.mf) * w.rm;
  return 1.0f - std::fabs(x);
}

// Sum of w(i)^2 from i = 0 upwards: one value per m, kept once computed.
float windowPower(int32_t m) {
  static std::once_flag built[14];
  static float power[14];
  int b = 0;
  while ((int32_t{1} << b) < m) ++b;
  std::call_once(built[b], [&] {
    const Window w = makeWindow(m);
    float s = 0.0f;
    for (int32_t i = 0; i < 2 * m; ++i) {
      const float v = windowAt(w, i);
      s += v * v;
    }
    power[b] = s;
  });
  return power[b];
}

// The reordering of the transform's first step: point i trades places with
// point rev(i), rev reversing the log2 n bits of i. (Counted the classic way
// with positions from 1 and a running j, it is the same permutation.) Per
// size, built on first use: rev itself, for loads that place each point
// where the reordering would put it, and the list of pairs to swap.
constexpr int kSizes = 16;  // n = 1 .. 32768

struct ReversalStore {
  std::once_flag built[kSizes];
  uint16_t rev[(1u << kSizes) - 1];    // size n at offset n - 1
  uint32_t pairs[(1u << kSizes) - 1];  // i | j << 16 with i < j = rev(i)
  uint32_t pairCount[kSizes];
};

ReversalStore& reversalStore() {
  static ReversalStore store;
  return store;
}

int log2Of(uint32_t n) {
  int b = 0;
  while ((1u << b) < n) ++b;
  return b;
}

struct Reversal {
  const uint16_t* rev;
  const uint32_t* pairs;
  uint32_t pairCount;
};

uint32_t reverseBits(uint32_t i, int bits) {
  uint32_t j = 0;
  for (int b = 0; b < bits; ++b) j |= ((i >> b) & 1u) << (bits - 1 - b);
  return j;
}

// The pairs are listed tile by tile (see kTiledFrom) rather than by
// ascending i. The swaps are disjoint, so their order cannot change the
// result; it only keeps each line in the cache while it is used.
using fft::kTiledFrom;
using fft::kTileBits;

uint32_t listPairs(uint32_t n, int bits, const uint16_t* rev, uint32_t* pairs) {
  uint32_t count = 0;
  auto add = [&](uint32_t i) {
    if (i < rev[i]) pairs[count++] = i | (uint32_t{rev[i]} << 16);
  };
  if (n < kTiledFrom) {
    for (uint32_t i = 0; i < n; ++i) add(i);
    return count;
  }
  const int middle = bits - 2 * kTileBits;
  const uint32_t side = 1u << kTileBits;
  auto tile = [&](uint32_t mid) {
    for (uint32_t high = 0; high < side; ++high)
      for (uint32_t low = 0; low < side; ++low)
        add((high << (bits - kTileBits)) | (mid << kTileBits) | low);
  };
  for (uint32_t b = 0; b < (1u << middle); ++b) {
    const uint32_t rb = reverseBits(b, middle);
    if (rb < b) continue;  // listed with rb
    tile(b);
    if (rb != b) tile(rb);
  }
  return count;
}

Reversal reversalFor(uint32_t n) {
  ReversalStore& s = reversalStore();
  const int bits = log2Of(n);
  std::call_once(s.built[bits], [&] {
    uint16_t* rev = s.rev + (n - 1);
    for (uint32_t i = 0; i < n; ++i) rev[i] = static_cast<uint16_t>(reverseBits(i, bits));
    s.pairCount[bits] = listPairs(n, bits, rev, s.pairs + (n - 1));
  });
  return {s.rev + (n - 1), s.pairs + (n - 1), s.pairCount[bits]};
}

void bitReverse(float* data, uint32_t n) {
  const Reversal r = reversalFor(n);
  for (uint32_t p = 0; p < r.pairCount; ++p) {
    const uint32_t i = r.pairs[p] & 0xffffu;
    const uint32_t j = r.pairs[p] >> 16;
    uint64_t a, b;
    std::memcpy(&a, data + 2 * i, 8);
    std::memcpy(&b, data + 2 * j, 8);
    std::memcpy(data + 2 * i, &b, 8);
    std::memcpy(data + 2 * j, &a, 8);
  }
}

// The butterfly stages, on data already in bit-reversed order. A stage of
// half-size l only combines points within blocks of 2l, so the stages up to
// kBlockPoints run block by block while the block stays in the first-level
// cache; the later ones then sweep the whole array.
constexpr uint32_t kBlockPoints = 1024;

void stages(const fft::Kernels& k, float* data, uint32_t n) {
  const uint32_t block = n < kBlockPoints ? n : kBlockPoints;
  for (uint32_t base = 0; base < n; base += block) {
    for (uint32_t l = 1; l < block; l *= 2) {
      const fft::Twiddles t = fft::stageTwiddles(l);
      k.stage(data + 2 * base, block, l, t.wr, t.wi, t.wr2, t.wi2);
    }
  }
  for (uint32_t l = block; l < n; l *= 2) {
    const fft::Twiddles t = fft::stageTwiddles(l);
    k.stage(data, n, l, t.wr, t.wi, t.wr2, t.wi2);
  }
}

float dcPower(const float* x) { return x[0] * x[0] + x[1] * x[1]; }

const fft::Kernels& activeKernels() {
  static const fft::Kernels& k = fft::kernelsFor(fft::bestIsa());
  return k;
}

}  // namespace

bool isValidBinCount(int32_t m) {
  return m >= 1 && m <= kMaxBins && isPowerOfTwo(static_cast<uint32_t>(m));
}

namespace fft {

// The engine's callers pass only what it can serve (getFFT checks first).
// A debug build stops at anything else; a release build answers as
// fft_engine.h says, with zeros or untouched data.

void complexFFTWith(const Kernels& k, float* data, uint16_t n) {
  assert(data != nullptr && "complexFFT: data is null");
  assert(isPowerOfTwo(n) && "complexFFT: N must be a power of two");
  if (data == nullptr || !isPowerOfTwo(n)) return;
  bitReverse(data, n);
  stages(k, data, n);
}

void logPowerSpectrumWith(const Kernels& k, float gain, float decades, const float* samples,
                          float* out, int32_t count, int32_t m, float* work) {
  assert(out != nullptr && "logPowerSpectrum: out is null");
  assert(isValidBinCount(m) && "logPowerSpectrum: m must be a power of two from 1 to kMaxBins");
  assert(samples != nullptr && work != nullptr && "logPowerSpectrum: samples or work is null");
  if (out == nullptr || m <= 0) return;
  std::fill(out, out + m, 0.0f);
  if (!isValidBinCount(m) || samples == nullptr || work == nullptr) return;

  const bool single = count == 2 * m;
  const int32_t blocks = count / (4 * m);
  assert((single || blocks > 0) && "logPowerSpectrum: count must be 2m or at least 4m");
  if (!single && blocks <= 0) return;

  float* power = work;
  float* x = work + m;
  const int32_t n = 2 * m;
  const Window w = makeWindow(m);
  const float s = windowPower(m);
  const uint16_t* rev = reversalFor(static_cast<uint32_t>(n)).rev;
  float d = 0.0f;
  if (single) {
    k.loadSingle(x, samples, w.mf, w.rm, n, rev);
    stages(k, x, static_cast<uint32_t>(n));
    power[0] = dcPower(x);
    k.mirrored(power, x, m, false);
    d = s;
  } else {
    std::fill(power, power + m, 0.0f);
    for (int32_t b = 0; b < blocks; ++b) {
      // Two real segments share one transform: the first as real parts,
      // the second as imaginary parts.
      k.loadPair(x, samples + static_cast<size_t>(b) * 2 * n, w.mf, w.rm, n, rev);
      stages(k, x, static_cast<uint32_t>(n));
      power[0] += dcPower(x);
      k.mirrored(power, x, m, true);
      d += s;
    }
  }
  d = static_cast<float>(4 * m) * d;
  const float scale = static_cast<float>(std::exp(decades * std::log(10.0)));
  const float g8 = gain / 8;
  k.normaliseAndMap(power, out, m, d, scale, g8);
}

}  // namespace fft

void complexFFT(float* data, uint16_t N) { fft::complexFFTWith(activeKernels(), data, N); }

void logPowerSpectrum(float gain, float decades, const float* samples, float* out, int32_t count,
                      int32_t m, float* work) {
  fft::logPowerSpectrumWith(activeKernels(), gain, decades, samples, out, count, m, work);
}

}  // namespace hx
