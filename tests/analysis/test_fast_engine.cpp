// The fast engine against the first, straightforward one (reference_engine)
// bit for bit: every instruction-set path on its own, every size, both
// paths of the spectrum, and the vector logarithms against the scalar one
// (which log10_oracle.cpp holds against MPFR).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "analysis/fft_engine.h"
#include "analysis/log10.h"
#include "analysis/debug_build.h"
#include "analysis/fft_kernels.h"
#include "analysis/reference_engine.h"
#include "audio/sample_format.h"
#include "common/script_session.h"
#include "script/script_interface.h"

namespace {

using hx::fft::Isa;

std::string isaName(Isa isa) {
  switch (isa) {
    case Isa::Scalar: return "Scalar";
    case Isa::Sse2: return "Sse2";
    case Isa::Avx2: return "Avx2";
    case Isa::Avx512: return "Avx512";
  }
  return "?";
}

// Samples as getFFT hands them over: 16-bit values on a +-128 scale.
std::vector<float> noise(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(-32768, 32767);
  std::vector<float> v(count);
  for (float& x : v) x = static_cast<float>(d(rng)) * 128.0f / 32768.0f;
  return v;
}

template <class T>
bool sameBits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

// First index where the bits differ, for the failure message.
template <class T>
size_t firstDifference(const std::vector<T>& a, const std::vector<T>& b) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    if (std::memcmp(&a[i], &b[i], sizeof(T)) != 0) return i;
  return a.size() == b.size() ? a.size() : std::min(a.size(), b.size());
}

class EveryPath : public testing::TestWithParam<Isa> {
 protected:
  void SetUp() override {
    if (!hx::fft::isaSupported(GetParam())) GTEST_SKIP() << isaName(GetParam()) << " not on this CPU";
  }
  const hx::fft::Kernels& kernels() const { return hx::fft::kernelsFor(GetParam()); }
};

TEST_P(EveryPath, TransformMatchesReferenceBitForBitAtEverySize) {
  for (uint32_t n = 1; n <= 16384; n *= 2) {
    for (uint32_t seed : {1u, 2u, 3u}) {
      std::vector<float> ref = noise(2 * n, seed + n);
      std::vector<float> fast = ref;
      hx::reference::complexFFT(ref.data(), static_cast<uint16_t>(n));
      hx::fft::complexFFTWith(kernels(), fast.data(), static_cast<uint16_t>(n));
      ASSERT_TRUE(sameBits(ref, fast)) << "N " << n << " seed " << seed << ", first at "
                                       << firstDifference(ref, fast);
    }
  }
}

// Zeros of both signs and a lone impulse: the cases where a shortcut around
// the trivial twiddle (1, 0) would flip the sign of a zero.
TEST_P(EveryPath, TransformKeepsTheSignsOfZeros) {
  for (uint32_t n : {2u, 4u, 8u, 64u, 1024u}) {
    for (uint32_t pattern = 0; pattern < 8; ++pattern) {
      // Zeros only (their signs survive every stage), or one impulse among them.
      std::vector<float> ref(2 * n);
      for (size_t i = 0; i < ref.size(); ++i)
        ref[i] = ((i * 7 + pattern) % (pattern % 4 + 2) == 0) ? -0.0f : 0.0f;
      if (pattern >= 4) ref[3] = -1.5f;
      std::vector<float> fast = ref;
      hx::reference::complexFFT(ref.data(), static_cast<uint16_t>(n));
      hx::fft::complexFFTWith(kernels(), fast.data(), static_cast<uint16_t>(n));
      EXPECT_TRUE(sameBits(ref, fast)) << "N " << n << " pattern " << pattern << ", first at "
                                       << firstDifference(ref, fast);
    }
  }
}

// Every m from 1 to 8192 (those that are not powers of two must give the
// same zeros; a debug build asserts on them instead), with 2m, 4m, 6m and
// 16m samples and gains 0, 1 and -3. The whole work area is compared too:
// it holds P and the last transform.
TEST_P(EveryPath, SpectrumMatchesReferenceForEveryBinCountAndPath) {
  const std::vector<float> samples = noise(16 * 8192, 7);
  int64_t compared = 0;
  for (int32_t m = 1; m <= 8192; ++m) {
    const bool power = (m & (m - 1)) == 0;
    for (int32_t factor : {2, 4, 6, 16}) {
      if (!power && (factor != 2 || hx::test::kDebugAssertions)) continue;  // nothing is computed
      const int32_t count = factor * m;
      for (float gain : {0.0f, 1.0f, -3.0f}) {
        std::vector<float> refOut(m, 1.0f), fastOut(m, 2.0f);
        std::vector<float> refWork(5 * static_cast<size_t>(m), 3.0f), fastWork = refWork;
        hx::reference::logPowerSpectrum(gain, 3.0f, samples.data(), refOut.data(), count, m,
                                        refWork.data());
        hx::fft::logPowerSpectrumWith(kernels(), gain, 3.0f, samples.data(), fastOut.data(), count,
                                      m, fastWork.data());
        ASSERT_TRUE(sameBits(refOut, fastOut))
            << "m " << m << " count " << count << " gain " << gain << ", first bin "
            << firstDifference(refOut, fastOut);
        ASSERT_TRUE(sameBits(refWork, fastWork))
            << "work of m " << m << " count " << count << ", first at "
            << firstDifference(refWork, fastWork);
        ++compared;
      }
    }
  }
  EXPECT_EQ(compared, (hx::test::kDebugAssertions ? 0 : (8192 - 14) * 3) + 14 * 4 * 3);
}

// A seeded sample of floats from 1 up, as the logarithmic map receives
// them, plus the boundaries of the reduction and the extremes.
std::vector<float> logInputs() {
  std::vector<float> v;
  std::mt19937 rng(11);
  std::uniform_int_distribution<uint32_t> bits(0x3f800000u, 0x7f7fffffu);
  for (int i = 0; i < 3000000; ++i) {
    const uint32_t u = bits(rng);
    float f;
    std::memcpy(&f, &u, sizeof f);
    v.push_back(f);
  }
  // Near 1, where the result is small and all in the polynomial.
  std::uniform_int_distribution<uint32_t> near1(0x3f800000u, 0x3f880000u);
  for (int i = 0; i < 1000000; ++i) {
    const uint32_t u = near1(rng);
    float f;
    std::memcpy(&f, &u, sizeof f);
    v.push_back(f);
  }
  // Edges of every table interval, powers of two and ten, the largest float.
  for (uint32_t e = 127; e < 255; e += 9) {
    for (uint32_t j = 0; j < 512; ++j) {
      for (int32_t d : {-1, 0, 1}) {
        const uint32_t u = (e << 23) + (j << 14) + static_cast<uint32_t>(d);
        float f;
        std::memcpy(&f, &u, sizeof f);
        if (f >= 1.0f) v.push_back(f);
      }
    }
  }
  for (float p = 1.0f; p < 1e38f; p *= 10.0f) v.push_back(p);
  v.push_back(std::numeric_limits<float>::max());
  v.push_back(std::numeric_limits<float>::infinity());
  return v;
}

TEST_P(EveryPath, LogarithmMatchesReferenceOnASeededSample) {
  const std::vector<float> v = logInputs();
  std::vector<double> ref(v.size()), fast(v.size());
  for (size_t i = 0; i < v.size(); ++i) ref[i] = hx::portableLog10(v[i]);
  kernels().log10Many(fast.data(), v.data(), static_cast<int32_t>(v.size()));
  const size_t at = firstDifference(ref, fast);
  ASSERT_TRUE(sameBits(ref, fast)) << "first at input " << v[at] << " (" << at << ")";
}

// The log map's last step, float(log10(v) g8), at gains of both signs,
// zeros, a subnormal, the extremes and non-finite ones, and at inputs
// outside its fast domain (below 1, non-finite).
TEST_P(EveryPath, LogMapMatchesReferenceAtEveryGain) {
  std::vector<float> v = logInputs();
  for (float x : {1.0f, 1.0f, 1.0f, 1.0f, 0.5f, 0.0f, -1.0f,
                  std::numeric_limits<float>::quiet_NaN(), 1000.0f, 1.0f, 1.0f})
    v.push_back(x);
  std::vector<double> logs(v.size());
  for (size_t i = 0; i < v.size(); ++i) logs[i] = hx::portableLog10(v[i]);
  const float gains[] = {0.125f, -0.375f, 0.0f, -0.0f, 1.0f + 0x1p-23f, 0x1p-149f, -3e38f,
                         0.0123456f, std::numeric_limits<float>::infinity(),
                         std::numeric_limits<float>::quiet_NaN()};
  for (float g8 : gains) {
    SCOPED_TRACE(testing::Message() << "g8 " << g8);
    std::vector<float> ref(v.size()), fast(v.size());
    for (size_t i = 0; i < v.size(); ++i) ref[i] = static_cast<float>(logs[i] * g8);
    kernels().log10Map(fast.data(), v.data(), static_cast<int32_t>(v.size()), g8);
    const size_t at = firstDifference(ref, fast);
    ASSERT_TRUE(sameBits(ref, fast)) << "first at input " << v[at] << " (" << at << ")";
  }
}

INSTANTIATE_TEST_SUITE_P(Isa, EveryPath, testing::ValuesIn(hx::fft::kAllIsas),
                         [](const testing::TestParamInfo<Isa>& p) { return isaName(p.param); });

// The public logarithm takes any double: its fast path, where it answers,
// must give what the double-double code alone gives, and outside floats,
// for non-positive and special values it must be that code's answer.
TEST(FastLog10, PublicFunctionMatchesTheDoubleDoubleCodeEverywhere) {
  std::vector<double> v = {0.0, -0.0, -1.0, 1.0, 0.5, 0x1p-1074, 0x1p-1022, 1e-300, 1e300,
                           std::numeric_limits<double>::max(), std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN(), 1.0 + 0x1p-52, 2.0 - 0x1p-52,
                           std::numeric_limits<float>::denorm_min(), 3.0, 10.0, 257.0};
  std::mt19937_64 rng(5);
  std::uniform_int_distribution<uint64_t> any(0, 0x7fefffffffffffffull);
  for (int i = 0; i < 200000; ++i) {
    uint64_t u = any(rng);
    if (i % 2 == 0) u &= ~uint64_t{0x1fffffff};  // a float's worth of fraction bits
    double d;
    std::memcpy(&d, &u, sizeof d);
    v.push_back(d);
  }
  for (double x : v) {
    const double ref = hx::fft::accurateLog10(x);
    const double fast = hx::portableLog10(x);
    ASSERT_EQ(std::memcmp(&ref, &fast, sizeof ref), 0) << x;
  }
}

// The fast path must refuse, not guess, where it cannot be sure: cutting
// its error bound to nothing would accept results that may round wrongly,
// so on a large sample some values must have gone to the fallback.
TEST(FastLog10, FallsBackOnSomeValuesAndOnlyOnFew) {
  const std::vector<float> v = logInputs();
  size_t fallbacks = 0;
  for (float x : v) {
    double y;
    // Only finite values count: +inf always goes to the fallback.
    if (std::isfinite(x) && !hx::fft::fastLog10(x, &y)) ++fallbacks;
  }
  EXPECT_GT(fallbacks, 0u);
  EXPECT_LT(fallbacks, v.size() / 100);
}

// The map's plain logarithm must lie within the interval it claims around
// portableLog10 (with room to spare: the map's bound is eight times its
// proven error), and that interval must not be empty: the plain result is
// not always the exact one.
TEST(LogMap, PlainLogarithmStaysWithinItsBound) {
  const std::vector<float> v = logInputs();
  size_t inexact = 0;
  for (float x : v) {
    double y, eps;
    if (!hx::fft::plainLog10(x, &y, &eps)) continue;
    const double exact = hx::portableLog10(x);
    ASSERT_LE(std::fabs(y - exact), eps / 8) << x;
    if (y != exact) ++inexact;
  }
  EXPECT_GT(inexact, 0u);
}

}  // namespace

namespace hx::test {
namespace {

// getFFT through the host, normalized and equalized included, against the
// reference engine and the same folding written out here.
class FastSpectrum : public FileSession {};

std::vector<double> expectedSpectrum(const std::vector<int16_t>& pcm, int32_t start, int32_t m,
                                     int32_t t, float gain, bool normalized, bool equalized) {
  const int32_t frames = 2 * m * t;
  std::vector<int16_t> block(frames, 0);
  for (int32_t i = 0; i < frames; ++i)
    if (start + i < static_cast<int32_t>(pcm.size())) block[i] = pcm[start + i];
  std::vector<float> samples(frames);
  framesToFloat(block.data(), samples.data(), kFormatMono16, static_cast<uint32_t>(frames), 128.0f);
  float pk = 0.0f;
  for (float x : samples) pk = std::max(pk, std::fabs(x));
  pk = pk / 128.0f;
  std::vector<float> out(m), work(5 * static_cast<size_t>(m));
  reference::logPowerSpectrum(gain, 3.0f, samples.data(), out.data(), frames, m, work.data());
  const float factor = static_cast<float>(std::sqrt(2.0) * pk);
  std::vector<double> r;
  auto put = [&](float v) { r.push_back(normalized ? v * factor : v); };
  if (!equalized) {
    for (float v : out) put(v);
    return r;
  }
  put(static_cast<float>(portableLog10(2.0) * out[0]));
  for (int32_t s = 1; s < m; s *= 2) {
    float sum = 0.0f;
    for (int32_t b = s; b < 2 * s; ++b) sum += out[b];
    put(static_cast<float>((portableLog10(static_cast<double>(s) + 1.0) * sum) / s));
  }
  return r;
}

TEST_F(FastSpectrum, GetFFTMatchesReferenceWithEveryOption) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> d(-20000, 20000);
  std::vector<int16_t> pcm(140000);
  for (int16_t& x : pcm) x = static_cast<int16_t>(d(rng));
  const int32_t id = open(wav("noise.wav", pcm));
  ASSERT_EQ(id, 1);
  for (int32_t m = 1; m <= 8192; m *= 2) {
    for (int32_t t : {1, 2, 3, 8}) {
      for (double gain : {0.0, 1.0, -3.0}) {
        for (int32_t flags = 0; flags < 4; ++flags) {
          const bool normalized = flags & 1, equalized = flags & 2;
          const int32_t start = 1000 + m;
          const std::vector<double> got =
              call(kMethodGetFFT, {id, start, m, t, gain, int32_t{normalized}, int32_t{equalized}})
                  .floats();
          const std::vector<double> want = expectedSpectrum(
              pcm, start, m, t, static_cast<float>(gain), normalized, equalized);
          ASSERT_TRUE(sameBits(got, want)) << "m " << m << " t " << t << " gain " << gain
                                           << " normalized " << normalized << " equalized "
                                           << equalized << ", first at " << firstDifference(got, want);
        }
      }
    }
  }
}

}  // namespace
}  // namespace hx::test
