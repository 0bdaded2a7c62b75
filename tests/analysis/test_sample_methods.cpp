// getSamples and getAmplitude through the script interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "common/script_session.h"
#include "script/script_interface.h"

namespace hx::test {
namespace {

class Samples : public FileSession {
 protected:
  void SetUp() override {
    FileSession::SetUp();
    frames = periodicSine(1000, 50, 20000);
    frames[10] = -32768;
    frames[11] = 32767;
    ASSERT_EQ(open(wav("s.wav", frames)), 1);
  }
  float expected(size_t i, float amplMax) const {
    return static_cast<float>(frames[i] * static_cast<double>(amplMax) / 32768.0);
  }

  std::vector<int16_t> frames;
};

TEST_F(Samples, ValuesAreFramesScaledByAmplMax) {
  for (double amplMax : {1.0, 0.25, 128.0, -3.0}) {
    SCOPED_TRACE(amplMax);
    const std::vector<double> got = call(kMethodGetSamples, {1, 5, 100, amplMax}).floats();
    ASSERT_EQ(got.size(), 100u);
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i], expected(5 + i, static_cast<float>(amplMax))) << i;
    }
  }
  const std::vector<double> defaults = call(kMethodGetSamples, {1, 0, 20}).floats();
  EXPECT_EQ(defaults[10], -1.0);
  EXPECT_EQ(defaults[11], 32767.0 / 32768.0);
  EXPECT_EQ(call(kMethodGetSamples, {1, 0, 20, 3}).floats(), call(kMethodGetSamples, {1, 0, 20, 3.0}).floats());
}

TEST_F(Samples, RangesOutsideTheFileReadAsZeros) {
  const std::vector<double> before = call(kMethodGetSamples, {1, -10, 20}).floats();
  ASSERT_EQ(before.size(), 20u);
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(before[i], expected(i, 1.0f)) << "frame 0 lands first";
  for (size_t i = 10; i < 20; ++i) EXPECT_EQ(before[i], 0.0);
  const std::vector<double> across = call(kMethodGetSamples, {1, 990, 20}).floats();
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(across[i], expected(990 + i, 1.0f));
  for (size_t i = 10; i < 20; ++i) EXPECT_EQ(across[i], 0.0);
  const std::vector<double> past = call(kMethodGetSamples, {1, 5000, 7}).floats();
  EXPECT_EQ(past, std::vector<double>(7, 0.0));
  EXPECT_EQ(call(kMethodGetSamples, {1, 0, 0}).text(), "[]");
}

TEST_F(Samples, AmplitudeIsThePeakWithFullScaleOne) {
  EXPECT_EQ(call(kMethodGetAmplitude, {1, 0, 1000}).number(), 1.0) << "-32768 is exactly full scale";
  EXPECT_EQ(call(kMethodGetAmplitude, {1, 11, 1}).number(), 32767.0 / 32768.0);
  EXPECT_EQ(call(kMethodGetAmplitude, {1, 0, 0}).number(), 0.0);
  EXPECT_EQ(call(kMethodGetAmplitude, {1, 1000, 50}).number(), 0.0);
  double tail = 0.0;
  for (size_t i = 995; i < 1000; ++i) tail = std::max(tail, std::abs(frames[i] / 32768.0));
  EXPECT_EQ(call(kMethodGetAmplitude, {1, 995, 50}).number(), static_cast<float>(tail)) << "zeros past the end add nothing";
}

TEST_F(Samples, SamplesAt128AreTheBlockTheSpectrumAnalyses) {
  // With one bin the window is (0, 1), so the spectrum of frames 40 and 41
  // is a function of the second value alone: log10(1000 x^2 / 4 + 1) / 8.
  const std::vector<double> block = call(kMethodGetSamples, {1, 40, 2, 128}).floats();
  for (size_t i = 0; i < 2; ++i) EXPECT_EQ(block[i], expected(40 + i, 128.0f));
  const std::vector<double> bin = call(kMethodGetFFT, {1, 40, 1}).floats();
  ASSERT_EQ(bin.size(), 1u);
  EXPECT_NEAR(bin[0], std::log10(1000.0 * block[1] * block[1] / 4 + 1) / 8, 1e-6);
}

TEST_F(Samples, FailuresNameTheirCause) {
  const struct {
    int32_t method;
    std::initializer_list<Arg> args;
    const char* error;
  } cases[] = {
      {kMethodGetSamples, {42, 0, 10}, "unknown fileID 42"},
      {kMethodGetAmplitude, {42, 0, 10}, "unknown fileID 42"},
      {kMethodGetSamples, {1, 0, -1}, "nbSamples should be at least 0"},
      {kMethodGetAmplitude, {1, 0, -5}, "nbSamples should be at least 0"},
      {kMethodGetSamples, {1, 0, 2147483647}, "nbSamples should be at most 4194304"},
      {kMethodGetSamples, {1, 0, (1 << 22) + 1}, "nbSamples should be at most 4194304"},
      {kMethodGetAmplitude, {1, 0, 1 << 28}, "error getting samples : Not enough memory"},
      {kMethodGetSamples, {1, 0}, "nbSamples is VOID"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_EQ(call(c.method, c.args).text(), "0");
    EXPECT_EQ(lastError(), c.error);
  }
}

}  // namespace
}  // namespace hx::test
