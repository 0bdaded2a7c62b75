// portableLog10 against MPFR's correctly rounded log10: the boundary cases
// and a seeded sample of a few million inputs. (exhaustive_log10 checks
// every float from 1 upwards once, by hand.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/fft_engine.h"
#include "analysis/log10.h"
#include "analysis/mpfr_log10.h"

namespace {

using Limits = std::numeric_limits<double>;

// The promise of fft_engine.h: correctly rounded, unless the exact value
// lies within 2^-20 ulp of the boundary between two doubles.
constexpr double kHardCase = 0x1p-20;

uint64_t bitsOf(double d) {
  uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  return u;
}

double fromBits(uint64_t u) {
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}

float floatFromBits(uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

// Empty when portableLog10(v) keeps the promise, else what is wrong.
std::string broken(hx::test::MpfrLog10& oracle, double v) {
  const double got = hx::portableLog10(v);
  const double want = oracle.rounded(v);
  if (bitsOf(got) == bitsOf(want) || (std::isnan(got) && std::isnan(want))) return {};
  std::ostringstream s;
  s << std::hexfloat << "log10(" << v << ") gave " << got << ", correctly rounded " << want;
  if (std::isfinite(got) && std::isfinite(want) && std::nextafter(want, got) == got) {
    const double d = oracle.ulpsFromMidpoint(v, want, got);
    if (d < kHardCase) return {};
    s << std::defaultfloat << "; the exact value is " << d << " ulp from the boundary";
  }
  return s.str();
}

struct Case {
  const char* what;
  double v;
};

// Where the reductions change case, the special values, the ends of the
// double and float ranges, and results that are exact.
const Case kBoundaries[] = {
    {"one", 1.0},
    {"above one", 1.0 + 0x1p-52},
    {"below one", 1.0 - 0x1p-53},
    {"float above one", 1.0 + 0x1p-23},
    {"float below two", 2.0 - 0x1p-23},
    {"two", 2.0},
    {"ten", 10.0},
    {"a thousand and one", 1001.0},
    {"10^22, the last power of ten that is a double", 1e22},
    {"10^23, rounded", 1e23},
    {"a tenth", 0.1},
    {"sqrt 2 rounded down", 0x1.6a09e667f3bccp+0},
    {"sqrt 2 rounded up", 0x1.6a09e667f3bcdp+0},
    {"sqrt 1/2 rounded up", 0x1.6a09e667f3bcdp-1},
    {"sqrt 1/2 rounded down", 0x1.6a09e667f3bccp-1},
    {"last entry of the fast table", 2.0 - 0x1p-9},
    {"first of the fast table's second entry", 1.0 + 0x1p-9},
    {"just below it", 1.0 + 0x1p-9 - 0x1p-23},
    {"largest float", static_cast<double>(std::numeric_limits<float>::max())},
    {"smallest normal float", static_cast<double>(std::numeric_limits<float>::min())},
    {"smallest float", static_cast<double>(std::numeric_limits<float>::denorm_min())},
    {"largest double", Limits::max()},
    {"smallest normal double", Limits::min()},
    {"smallest double", Limits::denorm_min()},
    {"largest subnormal double", Limits::min() - Limits::denorm_min()},
    {"zero", 0.0},
    {"negative zero", -0.0},
    {"negative", -1.0},
    {"negative tiny", -Limits::denorm_min()},
    {"infinity", Limits::infinity()},
    {"negative infinity", -Limits::infinity()},
    {"NaN", Limits::quiet_NaN()},
};

TEST(Log10AgainstMpfr, BoundaryCases) {
  hx::test::MpfrLog10 oracle;
  for (const Case& c : kBoundaries) EXPECT_EQ(broken(oracle, c.v), "") << c.what;
  // Every power of ten and of two in the float range, and their neighbours.
  for (int k = -45; k <= 38; ++k) {
    const double p = std::pow(10.0, k);
    for (double v : {p, std::nextafter(p, 0.0), std::nextafter(p, Limits::infinity()),
                     static_cast<double>(static_cast<float>(p))})
      EXPECT_EQ(broken(oracle, v), "") << "near 1e" << k;
  }
  for (int e = -1074; e <= 1023; ++e) EXPECT_EQ(broken(oracle, std::ldexp(1.0, e)), "") << "2^" << e;
}

// The spectrum's domain, floats from 1 up, uniformly by their bits; any
// positive float; and any positive double, which the fast path leaves to
// the double-double code.
TEST(Log10AgainstMpfr, SeededSample) {
  hx::test::MpfrLog10 oracle;
  std::mt19937_64 rng(20261211);
  std::uniform_int_distribution<uint32_t> fromOne(0x3f800000u, 0x7f7fffffu);
  std::uniform_int_distribution<uint32_t> anyFloat(1u, 0x7f7fffffu);
  std::uniform_int_distribution<uint64_t> anyDouble(1u, 0x7fefffffffffffffull);
  std::vector<double> v;
  for (int i = 0; i < 2'000'000; ++i) v.push_back(floatFromBits(fromOne(rng)));
  for (int i = 0; i < 500'000; ++i) v.push_back(floatFromBits(anyFloat(rng)));
  for (int i = 0; i < 500'000; ++i) v.push_back(fromBits(anyDouble(rng)));
  int failures = 0;
  for (double x : v) {
    const std::string why = broken(oracle, x);
    if (why.empty()) continue;
    ADD_FAILURE() << why;
    if (++failures == 10) break;
  }
}

}  // namespace
