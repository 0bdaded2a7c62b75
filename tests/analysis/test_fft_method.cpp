// getFFT through the script interface over generated files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "common/script_session.h"
#include "script/script_interface.h"

namespace hx::test {
namespace {

class Spectrum : public FileSession {
 protected:
  // Full-scale sine with a period of exactly 16 frames: bin 32 of 256.
  void SetUp() override {
    FileSession::SetUp();
    tone = open(wav("tone.wav", periodicSine(kFrames, 16, 32767)));
    ASSERT_EQ(tone, 1);
  }
  std::vector<double> fft(std::initializer_list<Arg> args) {
    Result r = call(kMethodGetFFT, args);
    return r.floats();
  }

  static constexpr size_t kFrames = 8192;
  int32_t tone = 0;
};

TEST_F(Spectrum, SineOnBin32) {
  const std::vector<double> bins = fft({tone});
  ASSERT_EQ(bins.size(), 256u);
  EXPECT_EQ(lastError(), "no error.");
  // The sine with a 16-frame period: P[32] = 127.996² × 256 / (8 S) ≈ 3071.8 with
  // S ≈ 170.668, and (1/8) log10(1000 P + 1) = 0.8109; 0.7128 is the window's
  // leakage into the neighbours.
  EXPECT_NEAR(bins[32], 0.8109, 5e-4);
  EXPECT_NEAR(bins[31], 0.7128, 5e-4);
  EXPECT_NEAR(bins[33], 0.7128, 5e-4);
  EXPECT_NEAR(bins[0], 0.0, 1e-3);
  EXPECT_NEAR(bins[64], 0.0, 1e-3);
  EXPECT_EQ(fft({tone, 0, 256, 1, 1.0, 0, 0}), bins) << "the defaults written out";
}

TEST_F(Spectrum, TimesmoothTwoAveragesAPairAtTwiceThePower) {
  const std::vector<double> one = fft({tone, 0, 256, 1});
  const std::vector<double> two = fft({tone, 0, 256, 2});
  // The same sine at twice P: (1/8) log10(2000 × 3071.8 + 1) = 0.8486.
  EXPECT_NEAR(two[32], 0.8486, 5e-4);
  // Twice the power reads (1/8) log10 2 higher on a strong bin.
  EXPECT_NEAR(two[32] - one[32], std::log10(2.0) / 8, 1e-4);
}

TEST_F(Spectrum, GainScalesEveryValue) {
  const std::vector<double> unit = fft({tone, 0, 256, 1, 1.0});
  const std::vector<double> zero = fft({tone, 0, 256, 1, 0.0});
  const std::vector<double> twice = fft({tone, 0, 256, 1, 2});  // an integer amplMax is read exactly
  ASSERT_EQ(zero.size(), 256u);
  for (size_t b = 0; b < unit.size(); ++b) {
    EXPECT_EQ(zero[b], 0.0);
    EXPECT_EQ(twice[b], 2 * unit[b]) << b;
  }
}

// A quiet tone centred on bin b (b cycles in each 2m frames; bin 0: a
// constant) lands in octave band floor(log2 b) + 1, band 0 holding bin 0
// alone: band k >= 1 is bins 2^(k-1) to 2^k - 1. Every bin is tried, so
// each band's edges are fixed by the bins on both sides of them. Quiet, so
// that the window's leakage into the neighbours, which the logarithm
// would lift, stays well below the tone.
TEST_F(Spectrum, ToneOnABinLandsInItsOctaveBand) {
  for (int32_t m : {1, 2, 16, 256}) {
    SCOPED_TRACE(testing::Message() << "binCount " << m);
    const int32_t bands = call(kMethodGetEqualizedFreqCount, {m}).integer();
    std::vector<int16_t> pcm;  // one segment of 2m frames per bin
    for (int32_t b = 0; b < m; ++b) {
      for (int32_t i = 0; i < 2 * m; ++i)
        pcm.push_back(static_cast<int16_t>(
            b == 0 ? 64 : std::lround(64 * std::sin(2 * std::numbers::pi * b * i / (2.0 * m)))));
    }
    const int32_t id = open(wav("tones" + std::to_string(m) + ".wav", pcm));
    for (int32_t b = 0; b < m; ++b) {
      const std::vector<double> v = fft({id, 2 * m * b, m, 1, 1.0, 0, 1});
      ASSERT_EQ(static_cast<int32_t>(v.size()), bands);
      const auto loudest = std::max_element(v.begin(), v.end()) - v.begin();
      const int32_t want = b == 0 ? 0 : static_cast<int32_t>(std::floor(std::log2(b))) + 1;
      EXPECT_EQ(loudest, want) << "tone on bin " << b;
    }
  }
}

TEST_F(Spectrum, NormalizedScalesBySqrtTwoTimesThePeak) {
  ASSERT_EQ(open(wav("half.wav", periodicSine(kFrames, 16, 16384))), 2);
  const std::vector<double> plain = fft({2, 0, 256, 2});
  const std::vector<double> normalized = fft({2, 0, 256, 2, 1.0, 1});
  const float factor = static_cast<float>(std::sqrt(2.0) * 0.5);
  for (size_t b = 0; b < plain.size(); ++b) {
    EXPECT_EQ(normalized[b], static_cast<float>(plain[b]) * factor) << b;
  }
  const std::vector<double> bands = fft({2, 0, 256, 2, 1.0, 1, 1});
  const std::vector<double> plainBands = fft({2, 0, 256, 2, 1.0, 0, 1});
  for (size_t i = 0; i < bands.size(); ++i) {
    EXPECT_EQ(bands[i], static_cast<float>(plainBands[i]) * factor) << i;
  }
}

TEST_F(Spectrum, TimesmoothThreeAnalysesFourBinCountsButPeaksOverSix) {
  // A quiet tone in the first 4m frames, a full-scale click in the unused fifth and sixth m.
  const int32_t m = 64;
  std::vector<int16_t> samples = periodicSine(6 * m, 16, 8192);
  samples[4 * m + 5] = -32768;
  ASSERT_EQ(open(wav("click.wav", samples)), 2);
  EXPECT_EQ(fft({2, 0, m, 3}), fft({2, 0, m, 2})) << "the third segment does not enter the spectrum";
  const std::vector<double> plain = fft({2, 0, m, 3});
  const std::vector<double> normalized = fft({2, 0, m, 3, 1.0, 1});
  const float factor = static_cast<float>(std::sqrt(2.0) * 1.0);
  for (int32_t b = 0; b < m; ++b) EXPECT_EQ(normalized[b], static_cast<float>(plain[b]) * factor);
}

TEST_F(Spectrum, StartAtOrPastTheEndGivesZeros) {
  for (int32_t start : {static_cast<int32_t>(kFrames), static_cast<int32_t>(kFrames) + 1000, INT32_MAX}) {
    SCOPED_TRACE(start);
    for (int32_t normalized : {0, 1}) {
      const std::vector<double> bins = fft({tone, start, 256, 1, 1.0, normalized});
      ASSERT_EQ(bins.size(), 256u);
      for (double v : bins) EXPECT_EQ(v, 0.0);
    }
  }
}

struct RejectedRequest {
  const char* label;
  std::initializer_list<Arg> args;
  const char* error;
};

TEST_F(Spectrum, RequestsOutsideTheDomainReadNothing) {
  const RejectedRequest cases[] = {
      {"binCount 3", {1, 0, 3}, "binCount should be a power of two from 1 to 8192"},
      {"binCount 0", {1, 0, 0}, "binCount should be a power of two from 1 to 8192"},
      {"binCount -256", {1, 0, -256}, "binCount should be a power of two from 1 to 8192"},
      {"binCount 16384", {1, 0, 16384}, "binCount should be a power of two from 1 to 8192"},
      {"timesmooth 0", {1, 0, 256, 0}, "timesmooth should be at least 1"},
      {"timesmooth -3", {1, 0, 256, -3}, "timesmooth should be at least 1"},
      {"frames past 32 bits", {1, 0, 8192, 131072}, "timesmooth should be at most 131071 for binCount 8192"},
      {"buffers past the ceiling", {1, 0, 8192, 131071}, "cannot get samples : error Not enough memory"},
      {"unknown fileID", {42}, "unknown fileID 42"},
  };
  for (const RejectedRequest& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(call(kMethodGetFFT, c.args).text(), "0");
    EXPECT_EQ(lastError(), c.error);
  }
}

}  // namespace
}  // namespace hx::test
