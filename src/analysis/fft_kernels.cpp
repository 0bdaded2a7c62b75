// The spectrum engine's inner loops, one set per instruction set (the
// logarithm's are in log10.cpp).
#include "analysis/fft_kernels.h"

#include <emmintrin.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <cmath>
#include <cstring>
#include <mutex>

#include "analysis/log10.h"
#include "analysis/vector_lanes.h"

// The vector helpers are inlined into their callers, which are compiled for
// the matching instruction set, so no 32-byte vector crosses a call.
#pragma GCC diagnostic ignored "-Wpsabi"
// GCC 12 sees the AVX-512 headers' deliberately undefined pass-through
// operands (_mm512_undefined_*) as uninitialised.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace hx::fft {
namespace {

// ---- tables ---------------------------------------------------------------

// Slightly above the double nearest 2 pi. Results are pinned to this value.
constexpr double kTwoPi = 6.28318530717959;
constexpr int kStages = 15;  // half-sizes 1 .. 16384 (N up to 32768)

struct TwiddleStore {
  std::once_flag built[kStages];
  // Stage of half-size l at offset l - 1: 1 + 2 + ... + 8192 values.
  double wr[(1u << kStages) - 1];
  double wi[(1u << kStages) - 1];
  // The same, each value twice (wr0 wr0 wr1 wr1 ...), for the vector
  // kernels that work on interleaved points; at offset 2 (l - 1).
  double wr2[2 * ((1u << kStages) - 1)];
  double wi2[2 * ((1u << kStages) - 1)];
};

TwiddleStore& twiddleStore() {
  static TwiddleStore store;
  return store;
}

// The recurrence of the transform, with the same operations in the same
// order as when it ran inside every stage of every call: its drift is part
// of the result.
void buildStage(TwiddleStore& s, uint32_t l) {
  const uint32_t mmax = 2 * l;  // the stage's span in interleaved floats
  const double theta = kTwoPi / mmax;
  const double t = std::sin(theta / 2);
  const double wpr = -2.0 * t * t;
  // C runtimes disagree on sin near pi, but that wpi (l = 1) is never used:
  // its stage has a single twiddle.
  const double wpi = std::sin(theta);
  double wr = 1.0;
  double wi = 0.0;
  for (uint32_t k = 0; k < l; ++k) {
    s.wr[l - 1 + k] = wr;
    s.wi[l - 1 + k] = wi;
    s.wr2[2 * (l - 1 + k)] = s.wr2[2 * (l - 1 + k) + 1] = wr;
    s.wi2[2 * (l - 1 + k)] = s.wi2[2 * (l - 1 + k) + 1] = wi;
    const double wr0 = wr;
    wr = wr * wpr - wi * wpi + wr;
    wi = wi * wpr + wr0 * wpi + wi;
  }
}

int log2Of(uint32_t l) {
  int b = 0;
  while ((1u << b) < l) ++b;
  return b;
}

}  // namespace

Twiddles stageTwiddles(uint32_t l) {
  TwiddleStore& s = twiddleStore();
  std::call_once(s.built[log2Of(l)], [&] { buildStage(s, l); });
  return {s.wr + (l - 1), s.wi + (l - 1), s.wr2 + 2 * (l - 1), s.wi2 + 2 * (l - 1)};
}

namespace {

// ---- scalar kernels (also the tails of the vector ones) ----------------------

inline void butterfly(float* a, float* b, double wr, double wi) {
  const float tr = static_cast<float>(wr * b[0] - wi * b[1]);
  const float ti = static_cast<float>(wr * b[1] + wi * b[0]);
  b[0] = a[0] - tr;
  b[1] = a[1] - ti;
  a[0] = a[0] + tr;
  a[1] = a[1] + ti;
}

void stageScalar(float* data, uint32_t n, uint32_t l, const double* wr, const double* wi,
                 const double* /*wr2*/, const double* /*wi2*/) {
  for (uint32_t base = 0; base < n; base += 2 * l) {
    float* a = data + 2 * base;
    for (uint32_t k = 0; k < l; ++k) butterfly(a + 2 * k, a + 2 * (k + l), wr[k], wi[k]);
  }
}

inline float windowAt(float mf, float rm, int32_t i) {
  const float x = (static_cast<float>(i) - mf) * rm;
  return 1.0f - std::fabs(x);
}

void loadSingleScalar(float* x, const float* samples, float mf, float rm, int32_t n,
                      const uint16_t* rev) {
  for (int32_t i = 0; i < n; ++i) {
    float* p = x + 2 * rev[i];
    p[0] = windowAt(mf, rm, i) * samples[i];
    p[1] = 0.0f;
  }
}

void loadPairScalar(float* x, const float* samples, float mf, float rm, int32_t n,
                    const uint16_t* rev) {
  for (int32_t i = 0; i < n; ++i) {
    const float v = windowAt(mf, rm, i);
    float* p = x + 2 * rev[i];
    p[0] = samples[i] * v;
    p[1] = samples[n + i] * v;
  }
}

inline float mirroredAt(const float* x, int32_t n, int32_t b) {
  const float* lo = x + 2 * b;
  const float* hi = x + 2 * (n - b);
  return lo[1] * lo[1] + lo[0] * lo[0] + hi[1] * hi[1] + hi[0] * hi[0];
}

void mirroredScalarFrom(float* power, const float* x, int32_t m, bool accumulate, int32_t from) {
  const int32_t n = 2 * m;
  for (int32_t b = from; b < m; ++b) {
    const float p = mirroredAt(x, n, b);
    power[b] = accumulate ? power[b] + p : p;
  }
}

void mirroredScalar(float* power, const float* x, int32_t m, bool accumulate) {
  mirroredScalarFrom(power, x, m, accumulate, 1);
}

void normaliseAndMapScalar(float* power, float* out, int32_t m, float d, float scale, float g8) {
  for (int32_t b = 0; b < m; ++b) {
    power[b] = power[b] / d;
    const float v = scale * power[b] + 1.0f;
    log10MapScalar(out + b, &v, 1, g8);
  }
}

// ---- vector kernels, W doubles (2: SSE2, 4: AVX2) -----------------------------

// Two butterflies on interleaved points. For each point (re, im) of b,
// with the twiddle doubled up (wr, wr) and (wi, wi):
//   (wr re, wr im) + sign (wi im, wi re) = (wr re - wi im, wr im + wi re),
// the sign flip making the first lane the subtraction the scalar code does.
__attribute__((always_inline)) inline void butterflies2(float* a, float* b, const double* wr2,
                                                        const double* wi2) {
  const __m128d flip = _mm_set_pd(0.0, -0.0);
  const __m128 bv = _mm_loadu_ps(b);
  const __m128d b0 = _mm_cvtps_pd(bv);                   // re0 im0
  const __m128d b1 = _mm_cvtps_pd(_mm_movehl_ps(bv, bv));  // re1 im1
  const __m128d s0 = _mm_shuffle_pd(b0, b0, 1);           // im0 re0
  const __m128d s1 = _mm_shuffle_pd(b1, b1, 1);
  const __m128d t0 = _mm_add_pd(_mm_mul_pd(_mm_loadu_pd(wr2), b0),
                                _mm_xor_pd(_mm_mul_pd(_mm_loadu_pd(wi2), s0), flip));
  const __m128d t1 = _mm_add_pd(_mm_mul_pd(_mm_loadu_pd(wr2 + 2), b1),
                                _mm_xor_pd(_mm_mul_pd(_mm_loadu_pd(wi2 + 2), s1), flip));
  const __m128 t = _mm_movelh_ps(_mm_cvtpd_ps(t0), _mm_cvtpd_ps(t1));
  const __m128 av = _mm_loadu_ps(a);
  _mm_storeu_ps(b, _mm_sub_ps(av, t));
  _mm_storeu_ps(a, _mm_add_ps(av, t));
}

__attribute__((always_inline)) inline void stage2(float* data, uint32_t n, uint32_t l,
                                                  const double* wr2, const double* wi2) {
  for (uint32_t base = 0; base < n; base += 2 * l) {
    float* a = data + 2 * base;
    float* b = a + 2 * l;
    for (uint32_t k = 0; k < l; k += 2) butterflies2(a + 2 * k, b + 2 * k, wr2 + 2 * k, wi2 + 2 * k);
  }
}

// The first stage (l = 1): the twiddle is (1, 0), and there the double
// products and difference are exact in float: 1 b = b, 0 x is a zero of
// x's sign, and b - (+-0) is the same in either precision, zeros' signs
// included. So this stage runs in float, four lanes per butterfly pair:
// t = (br - 0 bi, bi + 0 br), then a + t, a - t.
__attribute__((always_inline)) inline __m128 firstButterfly(__m128 x) {
  const __m128 flip = _mm_setr_ps(-0.0f, 0.0f, -0.0f, 0.0f);
  const __m128 b = _mm_shuffle_ps(x, x, _MM_SHUFFLE(3, 2, 3, 2));    // br bi br bi
  const __m128 sw = _mm_shuffle_ps(x, x, _MM_SHUFFLE(2, 3, 2, 3));   // bi br bi br
  const __m128 t = _mm_add_ps(b, _mm_xor_ps(_mm_mul_ps(_mm_setzero_ps(), sw), flip));
  const __m128 a = _mm_shuffle_ps(x, x, _MM_SHUFFLE(1, 0, 1, 0));    // ar ai ar ai
  return _mm_shuffle_ps(_mm_add_ps(a, t), _mm_sub_ps(a, t), _MM_SHUFFLE(3, 2, 1, 0));
}

__attribute__((always_inline)) inline void firstStage(float* data, uint32_t n) {
  for (uint32_t p = 0; p < n; p += 2) _mm_storeu_ps(data + 2 * p, firstButterfly(_mm_loadu_ps(data + 2 * p)));
}

template <int W>
__attribute__((always_inline)) inline void stageDispatchV(float* data, uint32_t n, uint32_t l,
                                                          const double* wr2, const double* wi2) {
  if (l == 1) {
    firstStage(data, n);
  } else {
    stage2(data, n, l, wr2, wi2);
  }
}

// Window values of i .. i+3 in float lanes, as windowAt computes them.
typedef float F4 __attribute__((vector_size(16)));
typedef int32_t I4 __attribute__((vector_size(16)));

// The window at four arbitrary indices, as windowAt computes it.
__attribute__((always_inline)) inline F4 windowAtV(float mf, float rm, I4 idx) {
  const F4 x = (__builtin_convertvector(idx, F4) - mf) * rm;
  I4 bits;
  std::memcpy(&bits, &x, sizeof bits);
  bits &= 0x7fffffff;  // fabs
  F4 ax;
  std::memcpy(&ax, &bits, sizeof ax);
  return 1.0f - ax;
}

// Calls body(p) for p = 0, 4, 8, ... < n (n a multiple of 8 when tiled):
// in order, or for large n tile by tile (see the reordering in the
// engine), so that the scattered reads at rev[p] stay within a few lines.
template <class Body>
__attribute__((always_inline)) inline void forEachQuad(int32_t n, Body&& body) {
  if (static_cast<uint32_t>(n) < kTiledFrom) {
    for (int32_t p = 0; p + 4 <= n; p += 4) body(p);
    return;
  }
  int bits = 0;
  while ((int32_t{1} << bits) < n) ++bits;
  const int32_t side = 1 << kTileBits;
  for (int32_t mid = 0; mid < (n >> (2 * kTileBits)); ++mid)
    for (int32_t high = 0; high < side; ++high) {
      const int32_t p = (high << (bits - kTileBits)) | (mid << kTileBits);
      body(p);
      body(p + 4);
    }
}

// Both loads walk the destination by rows and read the samples at the
// bit-reversed indices: scattered reads cost far less than scattered writes.
__attribute__((always_inline)) inline void loadSingleV(float* x, const float* samples, float mf,
                                                       float rm, int32_t n, const uint16_t* rev) {
  const F4 zero = F4{} + 0.0f;
  forEachQuad(n, [&](int32_t p) {
    const I4 idx = {rev[p], rev[p + 1], rev[p + 2], rev[p + 3]};
    const F4 s = {samples[idx[0]], samples[idx[1]], samples[idx[2]], samples[idx[3]]};
    const F4 re = windowAtV(mf, rm, idx) * s;
    storeV(x + 2 * p, __builtin_shufflevector(re, zero, 0, 4, 1, 5));
    storeV(x + 2 * p + 4, __builtin_shufflevector(re, zero, 2, 6, 3, 7));
  });
  for (int32_t p = n & ~3; p < n; ++p) {
    const int32_t i = rev[p];
    x[2 * p] = windowAt(mf, rm, i) * samples[i];
    x[2 * p + 1] = 0.0f;
  }
}

__attribute__((always_inline)) inline void loadPairV(float* x, const float* samples, float mf,
                                                     float rm, int32_t n, const uint16_t* rev) {
  const float* second = samples + n;
  forEachQuad(n, [&](int32_t p) {
    const I4 idx = {rev[p], rev[p + 1], rev[p + 2], rev[p + 3]};
    const F4 w = windowAtV(mf, rm, idx);
    const F4 a = {samples[idx[0]], samples[idx[1]], samples[idx[2]], samples[idx[3]]};
    const F4 c = {second[idx[0]], second[idx[1]], second[idx[2]], second[idx[3]]};
    const F4 re = a * w;
    const F4 im = c * w;
    storeV(x + 2 * p, __builtin_shufflevector(re, im, 0, 4, 1, 5));
    storeV(x + 2 * p + 4, __builtin_shufflevector(re, im, 2, 6, 3, 7));
  });
  for (int32_t p = n & ~3; p < n; ++p) {
    const int32_t i = rev[p];
    const float v = windowAt(mf, rm, i);
    x[2 * p] = samples[i] * v;
    x[2 * p + 1] = second[i] * v;
  }
}

// Four bins b .. b+3 at once: the low points ascend in memory, the mirrored
// ones descend, so those are loaded from N-b-3 and reversed.
__attribute__((always_inline)) inline void mirroredV(float* power, const float* x, int32_t m,
                                                     bool accumulate) {
  const int32_t n = 2 * m;
  int32_t b = 1;
  for (; b + 4 <= m; b += 4) {
    const F4 l0 = loadV<F4>(x + 2 * b), l1 = loadV<F4>(x + 2 * b + 4);
    const F4 h0 = loadV<F4>(x + 2 * (n - b - 3)), h1 = loadV<F4>(x + 2 * (n - b - 3) + 4);
    const F4 lr = __builtin_shufflevector(l0, l1, 0, 2, 4, 6);
    const F4 li = __builtin_shufflevector(l0, l1, 1, 3, 5, 7);
    const F4 hr = __builtin_shufflevector(h0, h1, 6, 4, 2, 0);
    const F4 hi = __builtin_shufflevector(h0, h1, 7, 5, 3, 1);
    const F4 p = li * li + lr * lr + hi * hi + hr * hr;
    storeV(power + b, accumulate ? loadV<F4>(power + b) + p : p);
  }
  mirroredScalarFrom(power, x, m, accumulate, b);
}

// Normalises in place, then maps through the set's logarithm (map) in
// blocks, so that the logarithm runs over contiguous values.
using LogMap = void (*)(float* out, const float* v, int32_t count, float g8);

__attribute__((always_inline)) inline void normaliseAndMapV(float* power, float* out, int32_t m,
                                                            float d, float scale, float g8,
                                                            LogMap map) {
  constexpr int32_t kBlock = 64;
  float v[kBlock];
  for (int32_t b0 = 0; b0 < m; b0 += kBlock) {
    const int32_t len = m - b0 < kBlock ? m - b0 : kBlock;
    int32_t k = 0;
    for (; k + 4 <= len; k += 4) {
      const F4 p = loadV<F4>(power + b0 + k) / d;
      storeV(power + b0 + k, p);
      storeV(v + k, scale * p + 1.0f);
    }
    for (; k < len; ++k) {
      power[b0 + k] = power[b0 + k] / d;
      v[k] = scale * power[b0 + k] + 1.0f;
    }
    map(out + b0, v, len, g8);
  }
}

// ---- the sets -----------------------------------------------------------------

void stageSse2(float* data, uint32_t n, uint32_t l, const double* /*wr*/, const double* /*wi*/,
               const double* wr2, const double* wi2) {
  stageDispatchV<2>(data, n, l, wr2, wi2);
}
void loadSingleSse2(float* x, const float* s, float mf, float rm, int32_t n, const uint16_t* rev) {
  loadSingleV(x, s, mf, rm, n, rev);
}
void loadPairSse2(float* x, const float* s, float mf, float rm, int32_t n, const uint16_t* rev) {
  loadPairV(x, s, mf, rm, n, rev);
}
void mirroredSse2(float* power, const float* x, int32_t m, bool accumulate) {
  mirroredV(power, x, m, accumulate);
}
void normaliseAndMapSse2(float* power, float* out, int32_t m, float d, float scale, float g8) {
  normaliseAndMapV(power, out, m, d, scale, g8, log10MapSse2);
}
const Kernels kScalar = {stageScalar, loadSingleScalar, loadPairScalar, mirroredScalar,
                         normaliseAndMapScalar, log10ManyScalar, log10MapScalar};
const Kernels kSse2 = {stageSse2, loadSingleSse2, loadPairSse2, mirroredSse2,
                       normaliseAndMapSse2, log10ManySse2, log10MapSse2};

#if defined(__x86_64__)

// The products of four interleaved points b with their twiddles, doubled
// up (wr0 wr0 wr1 wr1 ...: lo for the first two points, hi for the last),
// as butterflies2 makes them; addsub subtracts in the real lanes and adds
// in the imaginary ones.
HX_AVX2 inline __m256 twiddled4(__m128 bLo, __m128 bHi, __m256d wrLo, __m256d wiLo,
                                __m256d wrHi, __m256d wiHi) {
  const __m256d b0 = _mm256_cvtps_pd(bLo);  // re0 im0 re1 im1
  const __m256d b1 = _mm256_cvtps_pd(bHi);  // re2 im2 re3 im3
  const __m256d s0 = _mm256_permute_pd(b0, 0x5);                    // im0 re0 im1 re1
  const __m256d s1 = _mm256_permute_pd(b1, 0x5);
  const __m256d t0 = _mm256_addsub_pd(_mm256_mul_pd(wrLo, b0), _mm256_mul_pd(wiLo, s0));
  const __m256d t1 = _mm256_addsub_pd(_mm256_mul_pd(wrHi, b1), _mm256_mul_pd(wiHi, s1));
  return _mm256_set_m128(_mm256_cvtpd_ps(t1), _mm256_cvtpd_ps(t0));
}

// Four butterflies on interleaved points, as butterflies2 does two.
HX_AVX2 inline void butterflies4(float* a, float* b, const double* wr2, const double* wi2) {
  const __m256 t = twiddled4(_mm_loadu_ps(b), _mm_loadu_ps(b + 4), _mm256_loadu_pd(wr2),
                             _mm256_loadu_pd(wi2), _mm256_loadu_pd(wr2 + 4),
                             _mm256_loadu_pd(wi2 + 4));
  const __m256 av = _mm256_loadu_ps(a);
  _mm256_storeu_ps(b, _mm256_sub_ps(av, t));
  _mm256_storeu_ps(a, _mm256_add_ps(av, t));
}

// The stage of half-size 2, eight points at a time: points 0 1 4 5 meet
// 2 3 6 7, all with twiddles 0 1 0 1.
HX_AVX2 inline void secondStageAvx2(float* data, uint32_t n, const double* wr2,
                                    const double* wi2) {
  const __m256d wr = _mm256_loadu_pd(wr2);
  const __m256d wi = _mm256_loadu_pd(wi2);
  uint32_t p = 0;
  for (; p + 8 <= n; p += 8) {
    const __m256 x = _mm256_loadu_ps(data + 2 * p);
    const __m256 y = _mm256_loadu_ps(data + 2 * p + 8);
    const __m256 a = _mm256_permute2f128_ps(x, y, 0x20);
    const __m256 t = twiddled4(_mm_loadu_ps(data + 2 * p + 4), _mm_loadu_ps(data + 2 * p + 12), wr,
                               wi, wr, wi);
    const __m256 sum = _mm256_add_ps(a, t);
    const __m256 diff = _mm256_sub_ps(a, t);
    _mm256_storeu_ps(data + 2 * p, _mm256_permute2f128_ps(sum, diff, 0x20));
    _mm256_storeu_ps(data + 2 * p + 8, _mm256_permute2f128_ps(sum, diff, 0x31));
  }
  if (p < n) stage2(data + 2 * p, n - p, 2, wr2, wi2);
}

// The stage of half-size 4: one block of eight points per step, its four
// twiddles kept in registers.
HX_AVX2 inline void thirdStageAvx2(float* data, uint32_t n, const double* wr2,
                                   const double* wi2) {
  const __m256d wrLo = _mm256_loadu_pd(wr2), wrHi = _mm256_loadu_pd(wr2 + 4);
  const __m256d wiLo = _mm256_loadu_pd(wi2), wiHi = _mm256_loadu_pd(wi2 + 4);
  for (uint32_t p = 0; p < n; p += 8) {
    float* a = data + 2 * p;
    const __m256 t = twiddled4(_mm_loadu_ps(a + 8), _mm_loadu_ps(a + 12), wrLo, wiLo, wrHi, wiHi);
    const __m256 av = _mm256_loadu_ps(a);
    _mm256_storeu_ps(a + 8, _mm256_sub_ps(av, t));
    _mm256_storeu_ps(a, _mm256_add_ps(av, t));
  }
}

HX_AVX2 inline void firstStageAvx2(float* data, uint32_t n) {
  const __m256 flip = _mm256_setr_ps(-0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f);
  uint32_t p = 0;
  for (; p + 4 <= n; p += 4) {
    const __m256 x = _mm256_loadu_ps(data + 2 * p);
    const __m256 b = _mm256_shuffle_ps(x, x, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 sw = _mm256_shuffle_ps(x, x, _MM_SHUFFLE(2, 3, 2, 3));
    const __m256 t = _mm256_add_ps(b, _mm256_xor_ps(_mm256_mul_ps(_mm256_setzero_ps(), sw), flip));
    const __m256 a = _mm256_shuffle_ps(x, x, _MM_SHUFFLE(1, 0, 1, 0));
    _mm256_storeu_ps(data + 2 * p, _mm256_shuffle_ps(_mm256_add_ps(a, t), _mm256_sub_ps(a, t),
                                                     _MM_SHUFFLE(3, 2, 1, 0)));
  }
  for (; p < n; p += 2) _mm_storeu_ps(data + 2 * p, firstButterfly(_mm_loadu_ps(data + 2 * p)));
}

HX_AVX2 void stageAvx2(float* data, uint32_t n, uint32_t l, const double* /*wr*/,
                       const double* /*wi*/, const double* wr2, const double* wi2) {
  if (l == 1) {
    firstStageAvx2(data, n);
    return;
  }
  if (l == 2) {
    secondStageAvx2(data, n, wr2, wi2);
    return;
  }
  if (l == 4) {
    thirdStageAvx2(data, n, wr2, wi2);
    return;
  }
  for (uint32_t base = 0; base < n; base += 2 * l) {
    float* a = data + 2 * base;
    float* b = a + 2 * l;
    for (uint32_t k = 0; k < l; k += 4) butterflies4(a + 2 * k, b + 2 * k, wr2 + 2 * k, wi2 + 2 * k);
  }
}
// The loads by 8 x 8 tiles, from kTiledFrom points on: point p = (high, b,
// low) (3, the middle, 3 bits) takes sample (rev3 low, rev b, rev3 high), so
// the 64 points with middle b take the samples with middle rev b, whose 8
// rows of 8 are contiguous. Each tile is read as rows (the window in the
// samples' order), turned in registers, and written as 8 rows of 8 points.
// (Below, the data fits the first-level cache and reading at rev[p] is as
// fast.)
typedef float F8 __attribute__((vector_size(32)));
typedef int32_t I8 __attribute__((vector_size(32)));
constexpr int kRev3[8] = {0, 4, 2, 6, 1, 5, 3, 7};

HX_AVX2 inline __m256 windowedRow(const float* samples, float mf, float rm, int32_t first) {
  const I8 idx = I8{0, 1, 2, 3, 4, 5, 6, 7} + first;
  const F8 v = (__builtin_convertvector(idx, F8) - mf) * rm;
  I8 bits;
  std::memcpy(&bits, &v, sizeof bits);
  bits &= 0x7fffffff;  // fabs
  F8 w;
  std::memcpy(&w, &bits, sizeof w);
  w = 1.0f - w;
  return _mm256_mul_ps(_mm256_loadu_ps(samples + first), static_cast<__m256>(w));
}

// out[c] = (in[0][c], ..., in[7][c]).
HX_AVX2 inline void transpose8(const __m256 in[8], __m256 out[8]) {
  __m256 t[8], u[8];
  for (int k = 0; k < 4; ++k) {
    t[2 * k] = _mm256_unpacklo_ps(in[2 * k], in[2 * k + 1]);
    t[2 * k + 1] = _mm256_unpackhi_ps(in[2 * k], in[2 * k + 1]);
  }
  for (int k = 0; k < 2; ++k) {
    u[4 * k + 0] = _mm256_shuffle_ps(t[4 * k], t[4 * k + 2], 0x44);
    u[4 * k + 1] = _mm256_shuffle_ps(t[4 * k], t[4 * k + 2], 0xEE);
    u[4 * k + 2] = _mm256_shuffle_ps(t[4 * k + 1], t[4 * k + 3], 0x44);
    u[4 * k + 3] = _mm256_shuffle_ps(t[4 * k + 1], t[4 * k + 3], 0xEE);
  }
  for (int k = 0; k < 4; ++k) {
    out[k] = _mm256_permute2f128_ps(u[k], u[k + 4], 0x20);
    out[k + 4] = _mm256_permute2f128_ps(u[k], u[k + 4], 0x31);
  }
}

// The tile's 64 re (and im, or zeros) values, dest[high][low], from the
// samples' rows: dest[high][low] = row[rev3 low][rev3 high].
HX_AVX2 inline void tileOf(const float* samples, float mf, float rm, int bits, int32_t rb,
                           __m256 dest[8]) {
  __m256 rows[8], cols[8];
  for (int low = 0; low < 8; ++low)
    rows[low] = windowedRow(samples, mf, rm, (kRev3[low] << (bits - 3)) | (rb << 3));
  transpose8(rows, cols);  // cols[c][low] = rows[low][c]
  for (int high = 0; high < 8; ++high) dest[high] = cols[kRev3[high]];
}

HX_AVX2 inline void loadTiled(float* x, const float* samples, const float* second, float mf,
                              float rm, int32_t n, const uint16_t* rev) {
  int bits = 0;
  while ((int32_t{1} << bits) < n) ++bits;
  for (int32_t b = 0; b < (n >> 6); ++b) {
    const int32_t rb = rev[b << 3] >> 3;
    __m256 re[8], im[8];
    tileOf(samples, mf, rm, bits, rb, re);
    if (second != nullptr) {
      tileOf(second, mf, rm, bits, rb, im);
    } else {
      for (__m256& v : im) v = _mm256_setzero_ps();
    }
    for (int high = 0; high < 8; ++high) {
      float* row = x + 2 * ((high << (bits - 3)) | (b << 3));
      const __m256 lo = _mm256_unpacklo_ps(re[high], im[high]);
      const __m256 hi = _mm256_unpackhi_ps(re[high], im[high]);
      _mm256_storeu_ps(row, _mm256_permute2f128_ps(lo, hi, 0x20));
      _mm256_storeu_ps(row + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
    }
  }
}

HX_AVX2 void loadSingleAvx2(float* x, const float* s, float mf, float rm, int32_t n,
                            const uint16_t* rev) {
  if (static_cast<uint32_t>(n) >= kTiledFrom) {
    loadTiled(x, s, nullptr, mf, rm, n, rev);
    return;
  }
  loadSingleV(x, s, mf, rm, n, rev);
}
HX_AVX2 void loadPairAvx2(float* x, const float* s, float mf, float rm, int32_t n,
                          const uint16_t* rev) {
  if (static_cast<uint32_t>(n) >= kTiledFrom) {
    loadTiled(x, s, s + n, mf, rm, n, rev);
    return;
  }
  loadPairV(x, s, mf, rm, n, rev);
}
HX_AVX2 void mirroredAvx2(float* power, const float* x, int32_t m, bool accumulate) {
  mirroredV(power, x, m, accumulate);
}
HX_AVX2 void normaliseAndMapAvx2(float* power, float* out, int32_t m, float d, float scale,
                                 float g8) {
  normaliseAndMapV(power, out, m, d, scale, g8, log10MapAvx2);
}
const Kernels kAvx2 = {stageAvx2, loadSingleAvx2, loadPairAvx2, mirroredAvx2,
                       normaliseAndMapAvx2, log10ManyAvx2, log10MapAvx2};


// Eight butterflies, as butterflies4 does four; AVX-512 has no addsub, so
// the sum is taken in every lane and the real lanes redone as differences.
HX_AVX512 inline void butterflies8(float* a, float* b, const double* wr2, const double* wi2) {
  const __m512d b0 = _mm512_cvtps_pd(_mm256_loadu_ps(b));      // points 0-3
  const __m512d b1 = _mm512_cvtps_pd(_mm256_loadu_ps(b + 8));  // points 4-7
  const __m512d p0 = _mm512_mul_pd(_mm512_loadu_pd(wr2), b0);
  const __m512d q0 = _mm512_mul_pd(_mm512_loadu_pd(wi2), _mm512_permute_pd(b0, 0x55));
  const __m512d p1 = _mm512_mul_pd(_mm512_loadu_pd(wr2 + 8), b1);
  const __m512d q1 = _mm512_mul_pd(_mm512_loadu_pd(wi2 + 8), _mm512_permute_pd(b1, 0x55));
  const __m512d t0 = _mm512_mask_sub_pd(_mm512_add_pd(p0, q0), 0x55, p0, q0);
  const __m512d t1 = _mm512_mask_sub_pd(_mm512_add_pd(p1, q1), 0x55, p1, q1);
  const __m512 t =
      _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(t0)), _mm512_cvtpd_ps(t1), 1);
  const __m512 av = _mm512_loadu_ps(a);
  _mm512_storeu_ps(b, _mm512_sub_ps(av, t));
  _mm512_storeu_ps(a, _mm512_add_ps(av, t));
}

// The first three stages as in the AVX2 set; from half-size 8 on, eight
// butterflies at a time.
HX_AVX512 void stageAvx512(float* data, uint32_t n, uint32_t l, const double* wr,
                           const double* wi, const double* wr2, const double* wi2) {
  if (l < 8) {
    stageAvx2(data, n, l, wr, wi, wr2, wi2);
    return;
  }
  for (uint32_t base = 0; base < n; base += 2 * l) {
    float* a = data + 2 * base;
    float* b = a + 2 * l;
    for (uint32_t k = 0; k < l; k += 8) butterflies8(a + 2 * k, b + 2 * k, wr2 + 2 * k, wi2 + 2 * k);
  }
}
const Kernels kAvx512 = {stageAvx512, loadSingleAvx2, loadPairAvx2, mirroredAvx2,
                         normaliseAndMapAvx2, log10ManyAvx2, log10MapAvx2};
#endif

}  // namespace

bool isaSupported(Isa isa) {
  switch (isa) {
    case Isa::Scalar: return true;
    case Isa::Sse2: return true;  // every build has SSE2 (-msse2 on 32-bit x86)
    case Isa::Avx2:
#if defined(__x86_64__)
      return __builtin_cpu_supports("avx2");
#else
      return false;
#endif
    case Isa::Avx512:
#if defined(__x86_64__)
      // These also tell whether the system saves the registers' state.
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
             __builtin_cpu_supports("avx512dq");
#else
      return false;
#endif
  }
  return false;
}

Isa bestIsa() {
  static const Isa best = [] {
    for (Isa isa : {Isa::Avx512, Isa::Avx2})
      if (isaSupported(isa)) return isa;
    return Isa::Sse2;
  }();
  return best;
}

const Kernels& kernelsFor(Isa isa) {
  if (!isaSupported(isa)) return kScalar;
  switch (isa) {
    case Isa::Scalar: return kScalar;
    case Isa::Sse2: return kSse2;
#if defined(__x86_64__)
    case Isa::Avx2: return kAvx2;
    case Isa::Avx512: return kAvx512;
#else
    case Isa::Avx2:
    case Isa::Avx512: break;
#endif
  }
  return kScalar;
}

}  // namespace hx::fft
