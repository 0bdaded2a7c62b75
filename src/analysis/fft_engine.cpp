#include "analysis/fft_engine.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <utility>

#include "analysis/fft_kernels.h"

namespace hx {
namespace {

// Double-double arithmetic (Dekker, Knuth) in plain double operations, so
// it rounds the same under every compiler and C runtime with SSE2.
struct DD {
  double hi;
  double lo;
};

constexpr DD quickTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

constexpr DD twoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

constexpr DD split(double a) {
  const double c = 134217729.0 * a;  // 2^27 + 1
  const double hi = c - (c - a);
  return {hi, a - hi};
}

constexpr DD twoProd(double a, double b) {
  const double p = a * b;
  const DD x = split(a);
  const DD y = split(b);
  return {p, ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
}

constexpr DD add(DD a, DD b) {
  DD s = twoSum(a.hi, b.hi);
  const DD t = twoSum(a.lo, b.lo);
  s = quickTwoSum(s.hi, s.lo + t.hi);
  return quickTwoSum(s.hi, s.lo + t.lo);
}

constexpr DD mul(DD a, DD b) {
  const DD p = twoProd(a.hi, b.hi);
  return quickTwoSum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

constexpr DD divide(DD num, DD den) {
  const double q = num.hi / den.hi;
  const DD r = add(num, mul({-q, 0.0}, den));
  return quickTwoSum(q, r.hi / den.hi);
}

constexpr DD reciprocal(double d) { return divide({1.0, 0.0}, {d, 0.0}); }

// ln c for c = j / 1024 over [sqrt(1/2), sqrt(2)], built at compile time from
// ln c = 2 atanh(s), s = (c - 1) / (c + 1), |s| < 0.172: 22 terms of the
// series reach 2^-106.
constexpr int kLnFirst = 724;
constexpr int kLnLast = 1448;
constexpr double kLnStep = 1024.0;

constexpr DD lnBySeries(double c) {
  const DD s = divide({c - 1.0, 0.0}, twoSum(c, 1.0));
  const DD z = mul(s, s);
  DD acc = reciprocal(2 * 21 + 1);
  for (int k = 20; k >= 0; --k) acc = add(mul(acc, z), reciprocal(2 * k + 1));
  const DD r = mul(s, acc);
  return {2 * r.hi, 2 * r.lo};
}

struct LnTable {
  DD v[kLnLast - kLnFirst + 1];
};

constexpr LnTable makeLnTable() {
  LnTable t{};
  for (int j = kLnFirst; j <= kLnLast; ++j) t.v[j - kLnFirst] = lnBySeries(j / kLnStep);
  return t;
}

constexpr LnTable kLnTable = makeLnTable();
constexpr DD kLog10Of2 = {0x1.34413509f79ffp-2, -0x1.9dc1da994fd21p-59};
constexpr DD kLog10OfE = {0x1.bcb7b1526e50ep-2, 0x1.95355baaafad3p-57};

// ln(f / c) = 2 atanh(s), s = (f - c) / (f + c), for |f - c| <= 1/2048: then
// |s| < 2^-11.5 and z = s^2 < 2^-23, so beyond 2s the series is small enough
// for double precision (about 2^-75 relative error in all).
DD lnOfRatio(double f, double c) {
  const double num = f - c;  // exact: f and c are within a factor of two
  const DD den = twoSum(f, c);
  const double sh = num / den.hi;
  const DD p = twoProd(sh, den.hi);
  const double sl = (((num - p.hi) - p.lo) - sh * den.lo) / den.hi;
  const double z = sh * sh;
  const double tail = 2 * sl + 2 * sh * z * (1.0 / 3 + z * (1.0 / 5 + z * (1.0 / 7)));
  return quickTwoSum(2 * sh, tail);
}


// The double-double log10 of a positive finite v, before its final rounding.
DD log10Parts(double v) {
  int e = 0;
  double f = std::frexp(v, &e);  // exact: v = f 2^e, f in [0.5, 1)
  if (f < 0x1.6a09e667f3bcdp-1) {  // keep f within [sqrt(1/2), sqrt(2))
    f *= 2;
    e -= 1;
  }
  const int j = static_cast<int>(f * kLnStep + 0.5);
  const DD lnF = add(kLnTable.v[j - kLnFirst], lnOfRatio(f, j / kLnStep));
  const DD fromExponent = mul(kLog10Of2, {static_cast<double>(e), 0.0});
  return add(fromExponent, mul(lnF, kLog10OfE));
}

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

void accurateLog10Parts(double v, double* hi, double* lo) {
  const DD r = log10Parts(v);
  *hi = r.hi;
  *lo = r.lo;
}

double accurateLog10(double v) {
  if (std::isnan(v) || v < 0) return std::numeric_limits<double>::quiet_NaN();
  if (v == 0) return -std::numeric_limits<double>::infinity();
  if (std::isinf(v)) return v;
  return log10Parts(v).hi;
}

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

double portableLog10(double v) {
  double y;
  return fft::fastLog10(v, &y) ? y : fft::accurateLog10(v);
}

void complexFFT(float* data, uint16_t N) { fft::complexFFTWith(activeKernels(), data, N); }

void logPowerSpectrum(float gain, float decades, const float* samples, float* out, int32_t count,
                      int32_t m, float* work) {
  fft::logPowerSpectrumWith(activeKernels(), gain, decades, samples, out, count, m, work);
}

}  // namespace hx
