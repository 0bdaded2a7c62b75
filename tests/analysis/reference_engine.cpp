// Reference copy of the first spectrum engine; see reference_engine.h.
#include "analysis/reference_engine.h"

#include "analysis/fft_engine.h"
#include "analysis/log10.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <utility>

namespace hx::reference {

constexpr int32_t kMaxBins = 8192;
static_assert(kMaxBins == hx::kMaxBins, "the reference serves the engine's sizes");

namespace {

// Every rounding step below is deliberate: products and sums of floats stay
// float, twiddles stay double, and each butterfly product is narrowed to
// float before it is combined. Reordering any of them changes output bits.

// Slightly above the double nearest 2 pi. Results are pinned to this value.
constexpr double kTwoPi = 6.28318530717959;

bool isPowerOfTwo(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

bool isValidBinCount(int32_t m) {
  return m >= 1 && m <= kMaxBins && isPowerOfTwo(static_cast<uint32_t>(m));
}

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

float windowPower(const Window& w, int32_t n) {
  float s = 0.0f;
  for (int32_t i = 0; i < n; ++i) {
    const float v = windowAt(w, i);
    s += v * v;
  }
  return s;
}

// Positions are counted from 1 over the 2n interleaved floats, so the
// value at position p is data[p - 1]. Counters are 32-bit: 2n may be 65536.
void bitReverse(float* data, uint32_t n) {
  const uint32_t n2 = 2 * n;
  uint32_t j = 1;
  for (uint32_t i = 1; i < n2; i += 2) {
    if (j > i) {
      std::swap(data[j - 1], data[i - 1]);
      std::swap(data[j], data[i]);
    }
    uint32_t h = n;
    while (h >= 2 && j > h) {
      j -= h;
      h >>= 1;
    }
    j += h;
  }
}

void butterflyColumn(float* data, uint32_t q, uint32_t mmax, uint32_t n2, double wr, double wi) {
  const uint32_t istep = 2 * mmax;
  for (uint32_t i = q; i <= n2; i += istep) {
    float* a = data + (i - 1);
    float* b = a + mmax;
    const float tr = static_cast<float>(wr * b[0] - wi * b[1]);
    const float ti = static_cast<float>(wr * b[1] + wi * b[0]);
    b[0] = a[0] - tr;
    b[1] = a[1] - ti;
    a[0] = a[0] + tr;
    a[1] = a[1] + ti;
  }
}

void butterflies(float* data, uint32_t n2) {
  for (uint32_t mmax = 2; n2 > mmax; mmax *= 2) {
    const double theta = kTwoPi / mmax;
    const double t = std::sin(theta / 2);
    const double wpr = -2.0 * t * t;
    // C runtimes disagree on sin near pi, but that wpi (mmax = 2) is never
    // used: its stage has a single column.
    const double wpi = std::sin(theta);
    double wr = 1.0;
    double wi = 0.0;
    for (uint32_t q = 1; q < mmax; q += 2) {
      butterflyColumn(data, q, mmax, n2, wr, wi);
      // Recurrence rather than sin per column: its drift is part of the result.
      const double wr0 = wr;
      wr = wr * wpr - wi * wpi + wr;
      wi = wi * wpr + wr0 * wpi + wi;
    }
  }
}

// |X(b)|^2 + |X(N-b)|^2, in the order that fixes the float sum.
float mirroredPower(const float* x, int32_t n, int32_t b) {
  const float* lo = x + 2 * b;
  const float* hi = x + 2 * (n - b);
  return lo[1] * lo[1] + lo[0] * lo[0] + hi[1] * hi[1] + hi[0] * hi[0];
}

float dcPower(const float* x) { return x[0] * x[0] + x[1] * x[1]; }

void loadSingle(float* x, const float* samples, const Window& w, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    x[2 * i] = windowAt(w, i) * samples[i];
    x[2 * i + 1] = 0.0f;
  }
}

// Two real segments share one transform: the first as real parts, the
// second as imaginary parts.
void loadPair(float* x, const float* samples, const Window& w, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    const float v = windowAt(w, i);
    x[2 * i] = samples[i] * v;
    x[2 * i + 1] = samples[n + i] * v;
  }
}

// Returns the window power the accumulated transforms carry.
float singleSegment(const float* samples, int32_t m, const Window& w, float* power, float* x) {
  const int32_t n = 2 * m;
  loadSingle(x, samples, w, n);
  complexFFT(x, static_cast<uint16_t>(n));
  power[0] = dcPower(x);
  for (int32_t b = 1; b < m; ++b) power[b] = mirroredPower(x, n, b);
  return windowPower(w, n);
}

float pairedSegments(const float* samples, int32_t m, int32_t blocks, const Window& w,
                     float* power, float* x) {
  const int32_t n = 2 * m;
  const float s = windowPower(w, n);
  std::fill(power, power + m, 0.0f);
  float d = 0.0f;
  for (int32_t k = 0; k < blocks; ++k) {
    loadPair(x, samples + static_cast<size_t>(k) * 2 * n, w, n);
    complexFFT(x, static_cast<uint16_t>(n));
    power[0] += dcPower(x);
    for (int32_t b = 1; b < m; ++b) power[b] += mirroredPower(x, n, b);
    d += s;
  }
  return d;
}

void logMap(float gain, float decades, const float* power, float* out, int32_t m) {
  const float scale = static_cast<float>(std::exp(decades * std::log(10.0)));
  const float g8 = gain / 8;
  for (int32_t b = 0; b < m; ++b) {
    const float v = scale * power[b] + 1.0f;
    out[b] = static_cast<float>(hx::portableLog10(v) * g8);
  }
}

}  // namespace

void complexFFT(float* data, uint16_t N) {
  if (data == nullptr || !isPowerOfTwo(N)) return;
  bitReverse(data, N);
  butterflies(data, 2u * N);
}

void logPowerSpectrum(float gain, float decades, const float* samples, float* out, int32_t count,
                      int32_t m, float* work) {
  if (out == nullptr || m <= 0) return;
  std::fill(out, out + m, 0.0f);
  if (!isValidBinCount(m) || samples == nullptr || work == nullptr) return;

  const bool single = count == 2 * m;
  const int32_t blocks = count / (4 * m);
  if (!single && blocks <= 0) return;

  float* power = work;
  float* x = work + m;
  const Window w = makeWindow(m);
  float d = single ? singleSegment(samples, m, w, power, x)
                   : pairedSegments(samples, m, blocks, w, power, x);
  d = static_cast<float>(4 * m) * d;
  for (int32_t b = 0; b < m; ++b) power[b] = power[b] / d;
  logMap(gain, decades, power, out, m);
}

}  // namespace hx::reference
