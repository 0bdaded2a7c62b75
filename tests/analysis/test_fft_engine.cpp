// The log-power spectrum engine against a long double model built from its
// definition: plain DFTs of each real segment, the triangular window taken
// exactly, and the pairing identity written out rather than exploited.
#include "analysis/fft_engine.h"
#include "analysis/log10.h"

#include <gtest/gtest.h>

#include "analysis/debug_build.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <ostream>
#include <vector>

namespace {

using hx::complexFFT;
using hx::logPowerSpectrum;
using hx::portableLog10;
using hx::test::kDebugAssertions;
using Cx = std::complex<long double>;

constexpr long double kPi = 3.141592653589793238462643383279502884L;
constexpr float kCanary = -12345.5f;
constexpr int kGuard = 8;

// Deterministic noise on the engine's input scale: multiples of 1/256 within
// +-128, as 16-bit samples arrive.
class Noise {
 public:
  explicit Noise(uint32_t seed) : state_(seed) {}
  float next() {
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<float>(static_cast<int16_t>(state_ >> 16)) / 256.0f;
  }

 private:
  uint32_t state_;
};

std::vector<float> noise(size_t count, uint32_t seed) {
  Noise n(seed);
  std::vector<float> v(count);
  for (float& x : v) x = n.next();
  return v;
}

// Sine of the given amplitude with exactly `bin` cycles in every 2m samples.
std::vector<float> toneOnBin(size_t count, int32_t m, int32_t bin, float amplitude) {
  std::vector<float> v(count);
  for (size_t i = 0; i < count; ++i) {
    const long double phase = 2 * kPi * bin * static_cast<long double>(i % (2 * m)) / (2 * m);
    v[i] = static_cast<float>(amplitude * std::sin(phase));
  }
  return v;
}

// X(k) = sum x(n) e^(+2 pi i n k / N), for the requested k only.
std::vector<Cx> referenceDft(const std::vector<Cx>& x, const std::vector<int32_t>& bins) {
  const size_t n = x.size();
  std::vector<Cx> twiddle(n);
  for (size_t r = 0; r < n; ++r) {
    const long double a = 2 * kPi * static_cast<long double>(r) / static_cast<long double>(n);
    twiddle[r] = Cx(std::cos(a), std::sin(a));
  }
  std::vector<Cx> out;
  for (int32_t k : bins) {
    Cx sum = 0;
    for (size_t i = 0; i < n; ++i) sum += x[i] * twiddle[(i * static_cast<size_t>(k)) % n];
    out.push_back(sum);
  }
  return out;
}

std::vector<int32_t> allBins(int32_t n) {
  std::vector<int32_t> v(n);
  std::iota(v.begin(), v.end(), 0);
  return v;
}

// All bins for small sizes; for large ones, where a full DFT would be too
// slow, the ends, the powers of two and an even stride across the range.
std::vector<int32_t> checkedBins(int32_t n, int32_t limit) {
  if (n <= 1024) return allBins(limit);
  std::vector<int32_t> v = {0, 1, 2, 3, limit - 2, limit - 1};
  for (int32_t k = 4; k < limit; k *= 2) v.push_back(k);
  for (int32_t k = 7; k < limit; k += limit / 29) v.push_back(k);
  return v;
}

std::vector<Cx> windowedSegment(const float* s, int32_t m) {
  std::vector<Cx> x(2 * m);
  for (int32_t i = 0; i < 2 * m; ++i) {
    const long double w = 1 - std::fabs(static_cast<long double>(i - m) / m);
    x[i] = w * static_cast<long double>(s[i]);
  }
  return x;
}

long double windowPower(int32_t m) {
  long double s = 0;
  for (int32_t i = 0; i < 2 * m; ++i) {
    const long double w = 1 - std::fabs(static_cast<long double>(i - m) / m);
    s += w * w;
  }
  return s;
}

// Normalised power P of the bins listed, straight from the definition.
std::vector<long double> referencePower(const std::vector<float>& s, int32_t count, int32_t m,
                                        const std::vector<int32_t>& bins) {
  std::vector<long double> p(bins.size(), 0);
  const long double norm = 4 * m * windowPower(m);
  auto periodogram = [&](const float* seg) {
    return referenceDft(windowedSegment(seg, m), bins);
  };
  if (count == 2 * m) {
    const std::vector<Cx> a = periodogram(s.data());
    for (size_t j = 0; j < bins.size(); ++j)
      p[j] = (bins[j] == 0 ? 1 : 2) * std::norm(a[j]) / norm;
    return p;
  }
  const int32_t blocks = count / (4 * m);
  for (int32_t k = 0; k < blocks; ++k) {
    const std::vector<Cx> a = periodogram(s.data() + 4 * m * k);
    const std::vector<Cx> c = periodogram(s.data() + 4 * m * k + 2 * m);
    // Bin 0 of a real segment is real, so it adds a^2 + c^2; the others add
    // twice the sum of both periodograms.
    for (size_t j = 0; j < bins.size(); ++j)
      p[j] += (bins[j] == 0 ? 1 : 2) * (std::norm(a[j]) + std::norm(c[j]));
  }
  for (long double& v : p) v /= norm * blocks;
  return p;
}

// Runs the engine with guard floats after out and work, and checks that
// nothing past them was written.
struct SpectrumRun {
  std::vector<float> out;
  std::vector<float> power;  // first m floats of work on return
};

SpectrumRun runSpectrum(const std::vector<float>& samples, int32_t count, int32_t m,
                        float gain = 8.0f, float decades = 3.0f) {
  std::vector<float> out(m + kGuard, kCanary);
  std::vector<float> work(5 * m + kGuard, kCanary);
  logPowerSpectrum(gain, decades, samples.data(), out.data(), count, m, work.data());
  for (int i = 0; i < kGuard; ++i) {
    EXPECT_EQ(out[m + i], kCanary) << "out overrun";
    EXPECT_EQ(work[5 * m + i], kCanary) << "work overrun";
  }
  out.resize(m);
  work.resize(m);
  return {out, work};
}

uint64_t hashBits(const std::vector<float>& v, uint64_t h = 1469598103934665603ull) {
  for (float f : v) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    h = (h ^ u) * 1099511628211ull;
  }
  return h;
}

// ---- complexFFT ----------------------------------------------------------

TEST(ComplexFFT, MatchesLongDoubleDftWithPositiveExponent) {
  for (uint32_t n = 1; n <= 32768; n *= 2) {
    SCOPED_TRACE(n);
    Noise gen(n);
    std::vector<float> data(2 * n);
    std::vector<Cx> x(n);
    long double energy = 0;
    for (uint32_t i = 0; i < n; ++i) {
      data[2 * i] = gen.next();
      data[2 * i + 1] = gen.next();
      x[i] = Cx(data[2 * i], data[2 * i + 1]);
      energy += std::norm(x[i]);
    }
    complexFFT(data.data(), static_cast<uint16_t>(n));
    const std::vector<int32_t> bins = checkedBins(n, n);
    const std::vector<Cx> ref = referenceDft(x, bins);
    // Rounding error of a float radix-2 transform grows with log2 N times
    // the input's norm.
    const long double stages = std::log2(static_cast<long double>(n)) + 1;
    const long double bound = 2e-7L * stages * std::sqrt(energy);
    for (size_t j = 0; j < bins.size(); ++j) {
      const int32_t k = bins[j];
      const Cx got(data[2 * k], data[2 * k + 1]);
      ASSERT_LE(std::abs(got - ref[j]), bound) << "bin " << k;
    }
  }
}

TEST(ComplexFFT, ComplexExponentialLandsOnItsOwnBinOnly) {
  // Under the positive exponent e^(-2 pi i n k0 / N) goes to bin k0; a
  // transform with the wrong sign would put it on N - k0.
  const uint32_t n = 64;
  const uint32_t k0 = 5;
  std::vector<float> data(2 * n);
  for (uint32_t i = 0; i < n; ++i) {
    const long double a = -2 * kPi * i * k0 / n;
    data[2 * i] = static_cast<float>(std::cos(a));
    data[2 * i + 1] = static_cast<float>(std::sin(a));
  }
  complexFFT(data.data(), n);
  for (uint32_t k = 0; k < n; ++k) {
    const float mag = std::hypot(data[2 * k], data[2 * k + 1]);
    if (k == k0)
      EXPECT_NEAR(mag, 64.0f, 1e-4f);
    else
      EXPECT_LT(mag, 1e-4f) << "bin " << k;
  }
}

TEST(ComplexFFT, SizesThatAreNotPowersOfTwoLeaveDataUntouched) {
  for (uint16_t n : {0, 3, 6, 12, 1000, 65535}) {
    SCOPED_TRACE(n);
    const std::vector<float> before = noise(2 * static_cast<size_t>(n) + 2, n);
    std::vector<float> data = before;
    EXPECT_DEBUG_DEATH(complexFFT(data.data(), n), "N must be a power of two");
    EXPECT_EQ(data, before);
  }
  EXPECT_DEBUG_DEATH(complexFFT(nullptr, 16), "data is null");
}

// ---- logPowerSpectrum against the model ----------------------------------

struct ModelCase {
  const char* name;
  int32_t m;
  int32_t count;
  bool tone;  // a tone plus DC; otherwise noise
};

void PrintTo(const ModelCase& c, std::ostream* os) {
  *os << c.name << " (m " << c.m << ", count " << c.count << ")";
}

class LogPowerSpectrumModel : public testing::TestWithParam<ModelCase> {};

TEST_P(LogPowerSpectrumModel, PowerAndOutputMatchModel) {
  const ModelCase& c = GetParam();
  std::vector<float> s = noise(c.count, static_cast<uint32_t>(c.m * 7 + c.count));
  if (c.tone) {
    const int32_t bin = c.m > 2 ? c.m / 4 + 1 : 1;
    s = toneOnBin(c.count, c.m, bin, 100.0f);
    for (float& x : s) x += 20.0f;
  }
  const float gain = 8.0f;
  const SpectrumRun r = runSpectrum(s, c.count, c.m, gain);

  const std::vector<int32_t> bins = checkedBins(2 * c.m, c.m);
  const std::vector<long double> ref = referencePower(s, c.count, c.m, bins);
  const long double peak = *std::max_element(ref.begin(), ref.end());
  for (size_t j = 0; j < bins.size(); ++j) {
    const int32_t b = bins[j];
    // Float transforms leave a noise floor relative to the strongest bin.
    const long double tolP = 1e-5L * ref[j] + 1e-9L * peak;
    EXPECT_NEAR(r.power[b], ref[j], tolP) << "P bin " << b;
    // The same tolerance carried through the logarithm, plus float rounding.
    const long double expectOut = std::log10(1000 * ref[j] + 1) * gain / 8;
    const long double tolOut = gain / 8 * 0.4343L * 1000 * tolP / (1000 * ref[j] + 1);
    EXPECT_NEAR(r.out[b], expectOut, tolOut + 1e-6L * std::fabs(expectOut)) << "out bin " << b;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, LogPowerSpectrumModel,
    testing::Values(ModelCase{"m1_single", 1, 2, false}, ModelCase{"m1_onePair", 1, 4, false},
                    ModelCase{"m2_single", 2, 4, true},
                    ModelCase{"m2_twoPairsAndTail", 2, 19, false},
                    ModelCase{"m256_single", 256, 512, true},
                    ModelCase{"m256_onePair", 256, 1024, false},
                    ModelCase{"m256_onePairTailUnused", 256, 1536, true},
                    ModelCase{"m256_twoPairs", 256, 2048, false},
                    ModelCase{"m256_fivePairs", 256, 5120, true},
                    ModelCase{"m8192_single", 8192, 16384, true},
                    ModelCase{"m8192_onePair", 8192, 32768, false}),
    [](const testing::TestParamInfo<ModelCase>& i) { return std::string(i.param.name); });

// ---- properties with known values ---------------------------------------

TEST(LogPowerSpectrum, SizeOneMatchesHandComputedValues) {
  // m = 1: window (0, 1), S = 1, D = 4 per transform. Only the second
  // sample of each segment counts.
  struct Case {
    std::vector<float> samples;
    float power;
  };
  const Case cases[] = {
      {{99.0f, 2.0f}, 1.0f},                          // single: 2^2 / 4
      {{-7.0f, 2.0f, 55.0f, 2.0f}, 2.0f},             // pair: (2^2 + 2^2) / 4
      {{1.0f, 4.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f, 4.0f}, 4.0f},  // two pairs: 32 / 8
  };
  for (const Case& c : cases) {
    const SpectrumRun r = runSpectrum(c.samples, static_cast<int32_t>(c.samples.size()), 1);
    EXPECT_EQ(r.power[0], c.power);
    EXPECT_EQ(r.out[0], static_cast<float>(std::log10(1000.0 * c.power + 1)));
  }
}

TEST(LogPowerSpectrum, ToneOnABinHasKnownPowerAndLeaksOnlyToOddDistances) {
  // P[b] = a^2 m / (8 S) from one segment, twice that from pairs.
  const int32_t m = 256;
  const int32_t bin = 40;
  const float a = 128.0f;
  const long double s = 1 + (m - 1) * (2.0L * m - 1) / (3.0L * m);
  const long double single = a * a * m / (8 * s);
  struct Case {
    int32_t count;
    long double expected;
  };
  for (const Case c : {Case{2 * m, single}, Case{4 * m, 2 * single}, Case{12 * m, 2 * single}}) {
    SCOPED_TRACE(c.count);
    const SpectrumRun r = runSpectrum(toneOnBin(c.count, m, bin, a), c.count, m);
    EXPECT_NEAR(r.power[bin], c.expected, 1e-5L * c.expected);
    EXPECT_NEAR(r.power[bin], 3072.0L * (c.expected / single), 10.0L);
    for (int32_t d = 1; d < 8; ++d) {
      for (int32_t b : {bin - d, bin + d}) {
        if (d % 2 == 0)
          EXPECT_LT(r.power[b], 1e-9L * c.expected) << "even distance " << d;
        else
          EXPECT_GT(r.power[b], 1e-6L * c.expected) << "odd distance " << d;
      }
    }
  }
}

TEST(LogPowerSpectrum, ConstantInputFillsDcAndOddBinsOnly) {
  const int32_t m = 64;
  const SpectrumRun r = runSpectrum(std::vector<float>(2 * m, 50.0f), 2 * m, m);
  EXPECT_GT(r.power[0], 0.0f);
  for (int32_t b = 1; b < m; ++b) {
    if (b % 2 == 0)
      EXPECT_LT(r.power[b], 1e-9f * r.power[0]) << "bin " << b;
    else
      EXPECT_GT(r.power[b], 0.0f) << "bin " << b;
  }
}

TEST(LogPowerSpectrum, SteadyInputGivesTwiceThePowerFromPairsAsFromOneSegment) {
  const int32_t m = 128;
  const std::vector<float> period = noise(2 * m, 77);
  std::vector<float> steady;
  for (int rep = 0; rep < 6; ++rep) steady.insert(steady.end(), period.begin(), period.end());
  const SpectrumRun one = runSpectrum(period, 2 * m, m);
  for (int32_t count : {4 * m, 8 * m, 12 * m}) {
    const SpectrumRun pairs = runSpectrum(steady, count, m);
    for (int32_t b = 0; b < m; ++b)
      EXPECT_NEAR(pairs.power[b], 2 * one.power[b], 1e-4f * one.power[b]) << count << " bin " << b;
  }
}

TEST(LogPowerSpectrum, SamplesPastTheLastPairAreIgnored) {
  const int32_t m = 256;
  std::vector<float> clean = noise(1536, 5);
  std::vector<float> dirty = clean;
  for (size_t i = 1024; i < dirty.size(); ++i) dirty[i] = 1e30f;
  std::fill(clean.begin() + 1024, clean.end(), 0.0f);
  EXPECT_EQ(runSpectrum(clean, 1536, m).out, runSpectrum(dirty, 1536, m).out);
  EXPECT_EQ(runSpectrum(clean, 1536, m).out, runSpectrum(clean, 1024, m).out);
}

TEST(LogPowerSpectrum, SilenceGivesZeroInEveryBin) {
  for (int32_t count : {512, 1024, 2048}) {
    const SpectrumRun r = runSpectrum(std::vector<float>(count, 0.0f), count, 256);
    EXPECT_EQ(r.out, std::vector<float>(256, 0.0f)) << count;
  }
}

TEST(LogPowerSpectrum, GainScalesTheLogarithmExactly) {
  const int32_t m = 128;
  const std::vector<float> s = noise(4 * m, 3);
  const SpectrumRun base = runSpectrum(s, 4 * m, m, 8.0f);
  struct Case {
    float gain;
    float factor;
  };
  const Case cases[] = {{0.0f, 0.0f}, {-8.0f, -1.0f}, {16.0f, 2.0f}, {2.0f, 0.25f}};
  for (const Case& c : cases) {
    const SpectrumRun r = runSpectrum(s, 4 * m, m, c.gain);
    for (int32_t b = 0; b < m; ++b) ASSERT_EQ(r.out[b], base.out[b] * c.factor) << c.gain;
  }
}

TEST(LogPowerSpectrum, OutputIsTheLogOfScaledPowerRoundedOnce) {
  // out = float(log10(L P + 1) x gain/8), L = 10^decades rounded to float.
  const int32_t m = 64;
  const std::vector<float> s = noise(2 * m, 11);
  struct Case {
    float decades;
    float scale;
  };
  for (const Case c : {Case{0.0f, 1.0f}, Case{1.0f, 10.0f}, Case{3.0f, 1000.0f}}) {
    const float gain = 3.0f;
    const SpectrumRun r = runSpectrum(s, 2 * m, m, gain, c.decades);
    for (int32_t b = 0; b < m; ++b) {
      const double l = portableLog10(c.scale * r.power[b] + 1.0f);
      ASSERT_EQ(r.out[b], static_cast<float>(l * (gain / 8))) << c.decades << " bin " << b;
    }
  }
}

// ---- refused input ------------------------------------------------------

// Each call below is refused: a debug build stops at it (the death test
// runs it in a child), a release build answers as the header says.
void expectRefused(const std::function<void()>& call, const char* why) {
  EXPECT_DEBUG_DEATH(call(), why);
}

TEST(LogPowerSpectrum, InvalidBinCountWritesZerosAndReadsNothing) {
  for (int32_t m : {3, 6, 100, 12288, 16384}) {
    std::vector<float> out(m, kCanary);
    expectRefused([&] { logPowerSpectrum(8.0f, 3.0f, nullptr, out.data(), 4 * m, m, nullptr); },
                  "power of two");
    if (!kDebugAssertions) {
      EXPECT_EQ(out, std::vector<float>(m, 0.0f)) << m;
    }
  }
  for (int32_t m : {0, -1, -256, std::numeric_limits<int32_t>::min()}) {
    float out = kCanary;
    expectRefused([&] { logPowerSpectrum(8.0f, 3.0f, nullptr, &out, 512, m, nullptr); },
                  "power of two");
    EXPECT_EQ(out, kCanary) << m;
  }
}

TEST(LogPowerSpectrum, CountGivingNoSegmentWritesZerosAndLeavesWorkAlone) {
  const int32_t m = 4;  // 2m = 8, 4m = 16
  for (int32_t count : {0, 1, 7, 9, 12, 15, -8, -16, std::numeric_limits<int32_t>::min()}) {
    SCOPED_TRACE(count);
    const std::vector<float> s = noise(count > 0 ? count : 1, 1);
    std::vector<float> out(m, kCanary);
    std::vector<float> work(5 * m, kCanary);
    expectRefused([&] { logPowerSpectrum(8.0f, 3.0f, s.data(), out.data(), count, m, work.data()); },
                  "count must be 2m or at least 4m");
    if (!kDebugAssertions) {
      EXPECT_EQ(out, std::vector<float>(m, 0.0f));
    }
    EXPECT_EQ(work, std::vector<float>(5 * m, kCanary));
  }
}

TEST(LogPowerSpectrum, NullBuffersDoNotCrash) {
  const int32_t m = 8;
  const std::vector<float> s = noise(2 * m, 2);
  std::vector<float> out(m, kCanary);
  std::vector<float> work(5 * m);
  expectRefused([&] { logPowerSpectrum(8.0f, 3.0f, nullptr, out.data(), 2 * m, m, work.data()); },
                "samples or work is null");
  if (!kDebugAssertions) {
    EXPECT_EQ(out, std::vector<float>(m, 0.0f));
  }
  std::fill(out.begin(), out.end(), kCanary);
  expectRefused([&] { logPowerSpectrum(8.0f, 3.0f, s.data(), out.data(), 2 * m, m, nullptr); },
                "samples or work is null");
  if (!kDebugAssertions) {
    EXPECT_EQ(out, std::vector<float>(m, 0.0f));
  }
  expectRefused([&] { logPowerSpectrum(8.0f, 3.0f, s.data(), nullptr, 2 * m, m, work.data()); },
                "out is null");
}

// ---- bit-exact results ----------------------------------------------------

TEST(LogPowerSpectrum, OutputBitsAreTheSameOnEveryBuild) {
  // Pinned bit patterns of out and of the whole work area. Every build,
  // native or 32-bit Windows, must reproduce them; a change here means the
  // engine's rounding moved.
  struct Case {
    int32_t m;
    int32_t count;
    uint64_t hash;
  };
  const Case cases[] = {
      {1, 2, 1098277177789362359ull},        {1, 12, 3833378598630071722ull},
      {16, 32, 4950840071468705941ull},      {16, 200, 13321628337329243460ull},
      {256, 512, 14432940742631127178ull},   {256, 1024, 13014284012625997053ull},
      {256, 3000, 15366678674835217128ull},  {8192, 16384, 2522094113778698192ull},
      {8192, 65536, 15078073777432331369ull},
  };
  for (const Case& c : cases) {
    const std::vector<float> s = noise(c.count, 1000 + c.count);
    std::vector<float> out(c.m);
    std::vector<float> work(5 * c.m);
    logPowerSpectrum(5.0f, 3.0f, s.data(), out.data(), c.count, c.m, work.data());
    EXPECT_EQ(hashBits(work, hashBits(out)), c.hash) << "m " << c.m << " count " << c.count;
  }
}

// ---- portableLog10 --------------------------------------------------------

TEST(PortableLog10, PowersOfTenAreExact) {
  double p = 1;
  for (int k = 0; k <= 22; ++k, p *= 10) EXPECT_EQ(portableLog10(p), k) << k;
  EXPECT_EQ(portableLog10(0.001), -3.0);
}

// Within half an ulp, allowing for the long double reference's own error.
void expectCorrectlyRounded(double v) {
  const double got = portableLog10(v);
  const long double ref = std::log10(static_cast<long double>(v));
  const double mag = std::fabs(got);
  const long double ulp = std::nextafter(mag, std::numeric_limits<double>::infinity()) - mag;
  ASSERT_LE(std::fabs(got - ref), (0.5L + 0x1p-10L) * ulp) << std::hexfloat << v;
}

TEST(PortableLog10, IsCorrectlyRoundedAgainstLongDouble) {
  uint32_t state = 12345;
  for (int i = 0; i < 200000; ++i) {
    state = state * 1664525u + 1013904223u;
    const uint32_t hi = state;
    state = state * 1664525u + 1013904223u;
    const int exponent = static_cast<int>(state % 260) - 130;
    const double mantissa = 1.0 + hi * 0x1p-32 + (state >> 8) * 0x1p-56;
    expectCorrectlyRounded(std::ldexp(mantissa, exponent));
  }
}

TEST(PortableLog10, IsCorrectlyRoundedWhereTheReductionChangesCase) {
  const double inf = std::numeric_limits<double>::infinity();
  const double sqrtHalf = 0x1.6a09e667f3bcdp-1;
  const double edges[] = {
      1.0 - 0x1p-53, 1.0 + 0x1p-52, 1.0 - 0x1p-12, 1.0 + 0x1p-11,
      sqrtHalf, std::nextafter(sqrtHalf, 0.0), 2 * sqrtHalf, std::nextafter(2 * sqrtHalf, inf),
      (724.5 / 1024) * 0x1p40, (1447.5 / 1024) * 0x1p-40, 0.5, 2.0,
      std::numeric_limits<double>::max(), std::numeric_limits<double>::min(), 1001.0, 1e-300,
  };
  for (double v : edges) expectCorrectlyRounded(v);
}

TEST(PortableLog10, SpecialValues) {
  EXPECT_EQ(portableLog10(1.0), 0.0);
  EXPECT_EQ(portableLog10(0.0), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(portableLog10(std::numeric_limits<double>::infinity()),
            std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(portableLog10(-1.0)));
  EXPECT_TRUE(std::isnan(portableLog10(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_NEAR(portableLog10(std::numeric_limits<double>::denorm_min()), -323.3062153431158, 1e-12);
}

}  // namespace
