// The module's logarithm, portableLog10, in every form the engine uses: the
// double-double code (correctly rounded but slow), the fast path that
// answers when it is sure and leaves the rest to it, the vector versions
// of both for each instruction set, and the log map's plain logarithm.
// All in plain double operations, so that every compiler and C runtime
// with SSE2 gives the same bits.
#include "analysis/log10.h"

#include <emmintrin.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <cmath>
#include <cstring>
#include <limits>

#include "analysis/vector_lanes.h"

// The vector helpers are inlined into their callers, which are compiled for
// the matching instruction set, so no 32-byte vector crosses a call.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace hx {
namespace fft {
namespace {

// ---- the logarithm: double-double code ---------------------------------------

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

}  // namespace

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

namespace {

// ---- the logarithm: tables of the fast path ------------------------------------

// log10 tables: for the top 9 fraction bits j of f in [1, 2), inv[j] is
// 1/c rounded to 10 bits (c the middle of the interval), so that f inv[j]
// and r = f inv[j] - 1 are exact for any float f and |r| <= 2^-9; th + tl
// is -log10 inv[j] to double-double precision. Entry 0 is exactly 1 and 0.
constexpr int kLogBits = 9;
constexpr int kLogEntries = 1 << kLogBits;

struct Log10Table {
  double inv[kLogEntries];
  double th[kLogEntries];
  double tl[kLogEntries];
};

const Log10Table& log10Table() {
  static const Log10Table table = [] {
    Log10Table t{};
    t.inv[0] = 1.0;
    for (int j = 1; j < kLogEntries; ++j) {
      const double c = 1.0 + (j + 0.5) / kLogEntries;
      t.inv[j] = std::nearbyint(1024.0 / c) / 1024.0;
      double hi, lo;
      accurateLog10Parts(t.inv[j], &hi, &lo);
      t.th[j] = -hi;
      t.tl[j] = -lo;
    }
    return t;
  }();
  return table;
}

// ---- the logarithm: fast path ----------------------------------------------

// log10 2 with its high part cut to 42 bits, so that e * hi is exact for
// every exponent; log10 e as a double-double.
constexpr double kL2h = 0x1.34413509f78p-2;
// The rest: (double part - hi), exact, plus the double-double's low part.
constexpr double kL2l = (0x1.34413509f79ffp-2 - 0x1.34413509f78p-2) + -0x1.9dc1da994fd21p-59;
constexpr double kLEh = 0x1.bcb7b1526e50ep-2;
constexpr double kLEl = 0x1.95355baaafad3p-57;

// Error bound of the fast result, relative to |e log10 2| + |th| + |log term|:
// the terms below are exact or carry at most about 2^-66 of it, and the
// accurate code lies within 2^-70 of the true value; 2^-62 leaves room.
constexpr double kFastBound = 0x1p-62;

template <class V>
__attribute__((always_inline)) inline void twoProdV(V a, V b, V& p, V& e) {
  p = a * b;
  const V ca = 134217729.0 * a;  // 2^27 + 1
  const V ah = ca - (ca - a);
  const V al = a - ah;
  const V cb = 134217729.0 * b;
  const V bh = cb - (cb - b);
  const V bl = b - bh;
  e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
}

template <class V>
__attribute__((always_inline)) inline void twoSumV(V a, V b, V& s, V& e) {
  s = a + b;
  const V bb = s - a;
  e = (a - (s - bb)) + (b - bb);
}

inline double absV(double x) { return std::fabs(x); }
template <class V>
__attribute__((always_inline)) inline V absV(V x) {
  return x < 0.0 ? -x : x;
}

// y = e log10 2 + (th + tl) + log10(1 + r), r = f inv - 1, with
// log(1 + r) = r - r^2/2 + r^3 (1/3 - r/4 + r^2/5 - r^3/6 + r^4/7 - r^5/8)
// (|r| <= 2^-9: the terms left out are below 2^-72 of r). Sets ok where the
// result rounds to the same double as every value within the error bound.
template <class V, class M>
__attribute__((always_inline)) inline V log10Core(V f, V e, V inv, V th, V tl, M& ok) {
  const V r = f * inv - 1.0;
  V q = V{} - 1.0 / 8;
  q = q * r + 1.0 / 7;
  q = q * r - 1.0 / 6;
  q = q * r + 1.0 / 5;
  q = q * r - 1.0 / 4;
  q = q * r + 1.0 / 3;
  const V c3 = ((r * r) * r) * q;
  V sh, sl;
  twoProdV(r, r, sh, sl);
  sh = sh * 0.5;
  sl = sl * 0.5;
  V uh, ul;
  twoSumV(r, -sh, uh, ul);
  const V ul2 = (ul - sl) + c3;
  V ph, pe;
  twoProdV(V{} + kLEh, uh, ph, pe);
  const V pl = pe + (kLEh * ul2 + kLEl * uh);
  const V eh = e * kL2h;
  const V el = e * kL2l;
  V s1, e1;
  twoSumV(eh, th, s1, e1);
  V s2, e2;
  twoSumV(s1, ph, s2, e2);
  const V lo = (((e1 + e2) + el) + tl) + pl;
  const V yh = s2 + lo;
  const V yl = lo - (yh - s2);
  const V eps = (absV(eh) + absV(th) + absV(ph)) * kFastBound;
  ok = (yh + (yl + eps) == yh) & (yh + (yl - eps) == yh);
  return yh;
}

// The plain double log10 of the log map (see log10MapV), with eps, the
// half-width of an interval sure to hold portableLog10's value.
constexpr double kMapBound = 0x1p-46;

template <class V>
__attribute__((always_inline)) inline V plainLog10Core(V f, V e, V inv, V th, V& eps) {
  const V r = f * inv - 1.0;  // exact, |r| <= 2^-9
  V poly = V{} + 1.0 / 7;
  poly = poly * r - 1.0 / 6;
  poly = poly * r + 1.0 / 5;
  poly = poly * r - 1.0 / 4;
  poly = poly * r + 1.0 / 3;
  poly = poly * r - 1.0 / 2;
  const V q = (r + (r * r) * poly) * kLEh;
  const V a = e * kLog10Of2.hi;
  eps = (absV(a) + absV(th) + absV(q)) * kMapBound;
  return (a + th) + q;
}

// Reduction of a positive normal float: v = 2^e f, f in [1, 2), table index j.
struct Reduced {
  double f;
  double e;
  uint32_t j;
};

inline Reduced reduceFloat(float v) {
  uint32_t u;
  std::memcpy(&u, &v, sizeof u);
  const uint32_t fraction = u & 0x7fffffu;
  const uint64_t fbits = (uint64_t{0x3ff} << 52) | (uint64_t{fraction} << 29);
  double f;
  std::memcpy(&f, &fbits, sizeof f);
  return {f, static_cast<double>(static_cast<int32_t>(u >> 23) - 127), fraction >> (23 - kLogBits)};
}

// True for a float the fast path takes: positive, finite and normal.
inline bool fastDomain(float v) {
  return v >= std::numeric_limits<float>::min() && v <= std::numeric_limits<float>::max();
}

}  // namespace

bool fastLog10(double v, double* out) {
  const float vf = static_cast<float>(v);
  if (static_cast<double>(vf) != v || !fastDomain(vf)) return false;
  const Log10Table& t = log10Table();
  const Reduced x = reduceFloat(vf);
  bool ok;
  const double y = log10Core(x.f, x.e, t.inv[x.j], t.th[x.j], t.tl[x.j], ok);
  if (!ok) return false;
  *out = y;
  return true;
}

bool plainLog10(float v, double* y, double* eps) {
  if (!(v >= 1.0f && v <= std::numeric_limits<float>::max())) return false;
  const Log10Table& t = log10Table();
  const Reduced x = reduceFloat(v);
  *y = plainLog10Core(x.f, x.e, t.inv[x.j], t.th[x.j], *eps);
  return true;
}

namespace {

inline double log10One(float v) {
  double y;
  return fastLog10(v, &y) ? y : accurateLog10(v);
}

}  // namespace

// ---- the logarithm: the sets' kernels ------------------------------------------

void log10ManyScalar(double* out, const float* v, int32_t count) {
  for (int32_t i = 0; i < count; ++i) out[i] = log10One(v[i]);
}

void log10MapScalar(float* out, const float* v, int32_t count, float g8) {
  for (int32_t i = 0; i < count; ++i) out[i] = static_cast<float>(log10One(v[i]) * g8);
}

namespace {

// reduceFloat on widened floats (positive, normal), lane by lane from the
// doubles' bits: f in [1, 2), the exponent e, and the table index, returned.
template <class D, class M = decltype(D{} < D{})>
__attribute__((always_inline)) inline M reduceV(D x, D& f, D& e) {
  M bits;
  std::memcpy(&bits, &x, sizeof bits);
  const M fb = (bits & 0x000fffffffffffffLL) | 0x3ff0000000000000LL;
  const M eb = ((bits >> 52) & 0x7ff) | 0x4330000000000000LL;
  std::memcpy(&f, &fb, sizeof f);
  std::memcpy(&e, &eb, sizeof e);
  e = e - (0x1p52 + 1023.0);  // exact: the biased exponent less its bias
  return (bits >> 43) & (kLogEntries - 1);
}

template <class D, class M>
__attribute__((always_inline)) inline D tableAt(const double* table, M j) {
  D v;
  for (int k = 0; k < static_cast<int>(sizeof(D) / sizeof(double)); ++k) v[k] = table[j[k]];
  return v;
}

template <int W>
__attribute__((always_inline)) inline void log10ManyV(double* out, const float* v, int32_t count) {
  using F = typename Vec<W>::F;
  using D = typename Vec<W>::D;
  using M = typename Vec<W>::M;
  const Log10Table& t = log10Table();
  int32_t i = 0;
  for (; i + W <= count; i += W) {
    const D x = __builtin_convertvector(loadV<F>(v + i), D);
    const M inDomain = (x >= static_cast<double>(std::numeric_limits<float>::min())) &
                       (x <= static_cast<double>(std::numeric_limits<float>::max()));
    if (!allLanes(inDomain)) [[unlikely]] {
      for (int k = 0; k < W; ++k) out[i + k] = log10One(v[i + k]);
      continue;
    }
    D f, e;
    const M j = reduceV(x, f, e);
    M ok;
    const D y = log10Core(f, e, tableAt<D>(t.inv, j), tableAt<D>(t.th, j), tableAt<D>(t.tl, j), ok);
    std::memcpy(out + i, &y, sizeof y);
    for (int k = 0; k < W; ++k)
      if (ok[k] == 0) [[unlikely]] out[i + k] = accurateLog10(v[i + k]);
  }
  for (; i < count; ++i) out[i] = log10One(v[i]);
}

// The log map's last step, float(log10(v) g8), judged at the float it
// gives rather than at the double: a plain double log10
//   y = (e log10 2 + th) + log10(1 + r),  log(1 + r) by its series to r^7,
// lies within 2^-49 S of portableLog10's value (S: the sum of the three
// terms' magnitudes; each term and sum is within 2^-51 of it, and
// portableLog10 within 2^-53 of the true value). y -> float(y g8) never
// turns back, so when y - eps and y + eps (eps = 2^-46 S, room for the
// rounding of both ends) give the same float, portableLog10's value gives
// it too. (An infinite or NaN gain gives the same inf or NaN at both ends
// and in portableLog10's value alike.) Lanes where they differ (about one
// in four million), and values outside [1, largest float], take the exact
// path.

template <int W>
__attribute__((always_inline)) inline void log10MapV(float* out, const float* v, int32_t count,
                                                     float g8f) {
  using F = typename Vec<W>::F;
  using D = typename Vec<W>::D;
  using M = typename Vec<W>::M;
  const Log10Table& t = log10Table();
  const double g8 = g8f;
  int32_t i = 0;
  for (; i + W <= count; i += W) {
    const D x = __builtin_convertvector(loadV<F>(v + i), D);
    const M inDomain = (x >= 1.0) & (x <= static_cast<double>(std::numeric_limits<float>::max()));
    if (!allLanes(inDomain)) [[unlikely]] {
      for (int k = 0; k < W; ++k) out[i + k] = static_cast<float>(log10One(v[i + k]) * g8);
      continue;
    }
    D f, e;
    const M j = reduceV(x, f, e);
    D eps;
    const D y = plainLog10Core(f, e, tableAt<D>(t.inv, j), tableAt<D>(t.th, j), eps);
    const F lo = __builtin_convertvector((y - eps) * g8, F);
    const F hi = __builtin_convertvector((y + eps) * g8, F);
    using I = typename Vec<W>::I;
    I loBits, hiBits;
    std::memcpy(&loBits, &lo, sizeof lo);
    std::memcpy(&hiBits, &hi, sizeof hi);
    storeV(out + i, lo);
    if (anyLane(loBits ^ hiBits)) [[unlikely]] {
      for (int k = 0; k < W; ++k)
        if (loBits[k] != hiBits[k]) out[i + k] = static_cast<float>(accurateLog10(v[i + k]) * g8);
    }
  }
  for (; i < count; ++i) out[i] = static_cast<float>(log10One(v[i]) * g8);
}

}  // namespace

void log10ManySse2(double* out, const float* v, int32_t count) { log10ManyV<2>(out, v, count); }
void log10MapSse2(float* out, const float* v, int32_t count, float g8) {
  log10MapV<2>(out, v, count, g8);
}

#if defined(__x86_64__)
HX_AVX2 void log10ManyAvx2(double* out, const float* v, int32_t count) {
  log10ManyV<4>(out, v, count);
}
HX_AVX2 void log10MapAvx2(float* out, const float* v, int32_t count, float g8) {
  log10MapV<4>(out, v, count, g8);
}
#endif

}  // namespace fft

double portableLog10(double v) {
  double y;
  return fft::fastLog10(v, &y) ? y : fft::accurateLog10(v);
}

}  // namespace hx
