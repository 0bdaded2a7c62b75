#include "audio/sample_format.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "support/error_text.h"

namespace hx {
namespace {

using Bytes = std::vector<unsigned char>;
using Samples = std::vector<int>;

constexpr unsigned char kCanary = 0xA5;
constexpr size_t kGuard = 8;

// Sample values laid out as the layout's bytes: 8-bit as one byte (signed or
// unsigned values both fit), 16-bit in host order.
Bytes pack(SoundFormat format, const Samples& samples) {
  Bytes bytes;
  for (int s : samples) {
    if (format.bytesPerSample == 1) {
      bytes.push_back(static_cast<unsigned char>(s));
    } else {
      const int16_t v = static_cast<int16_t>(s);
      unsigned char b[2];
      std::memcpy(b, &v, 2);
      bytes.insert(bytes.end(), b, b + 2);
    }
  }
  return bytes;
}

// Reads count samples back, 8-bit as signed bytes.
Samples unpack(SoundFormat format, const unsigned char* bytes, size_t count) {
  Samples samples;
  for (size_t i = 0; i < count; ++i) {
    if (format.bytesPerSample == 1) {
      samples.push_back(static_cast<int8_t>(bytes[i]));
    } else {
      int16_t v;
      std::memcpy(&v, bytes + 2 * i, 2);
      samples.push_back(v);
    }
  }
  return samples;
}

int trunc256(int s) { return static_cast<int>(std::trunc(s / 256.0)); }
int halfTrunc(int s, int d) { return static_cast<int>(std::trunc(static_cast<double>(s) / d)); }

// Runs convertFrames with both buffers at the given byte offsets inside
// canary-filled memory; fails if anything outside the destination changes.
Samples convertAt(SoundFormat from, const Samples& in, SoundFormat to, size_t sourceOffset,
                  size_t destinationOffset) {
  const uint32_t frames = static_cast<uint32_t>(in.size() / from.channels);
  Bytes source(sourceOffset, 0);
  const Bytes packed = pack(from, in);
  source.insert(source.end(), packed.begin(), packed.end());
  const size_t outBytes = static_cast<size_t>(frames) * frameBytes(to);
  Bytes destination(destinationOffset + outBytes + kGuard, kCanary);

  EXPECT_EQ(convertFrames(source.data() + sourceOffset, frames, from,
                          destination.data() + destinationOffset, to),
            0);
  for (size_t i = 0; i < destinationOffset; ++i) EXPECT_EQ(destination[i], kCanary) << i;
  for (size_t i = destinationOffset + outBytes; i < destination.size(); ++i) {
    EXPECT_EQ(destination[i], kCanary) << i;
  }
  return unpack(to, destination.data() + destinationOffset, frames * to.channels);
}

TEST(SampleFormat, FrameBytesAndSameFormat) {
  EXPECT_EQ(frameBytes(kFormatNone), 0);
  EXPECT_EQ(frameBytes(kFormatMono8), 1);
  EXPECT_EQ(frameBytes(kFormatMono16), 2);
  EXPECT_EQ(frameBytes(kFormatStereo8), 2);
  EXPECT_EQ(frameBytes(kFormatStereo16), 4);
  EXPECT_EQ(frameBytes(SoundFormat{32767, 32767}), 32767 * 32767);
  EXPECT_EQ(frameBytes(SoundFormat{-1, 2}), -2);

  EXPECT_TRUE(sameFormat(kFormatStereo16, SoundFormat{2, 2}));
  EXPECT_FALSE(sameFormat(kFormatMono16, kFormatStereo8));  // same frame size, other layout
  EXPECT_FALSE(sameFormat(kFormatMono8, kFormatMono16));
  EXPECT_FALSE(sameFormat(kFormatMono8, kFormatStereo8));
}

struct ConvertCase {
  const char* name;
  SoundFormat from;
  Samples in;
  SoundFormat to;
  Samples out;
};

// Every source/destination pair, with the values where signedness,
// truncation direction and range are easiest to get wrong.
const ConvertCase kConvertCases[] = {
    {"mono8 copy", kFormatMono8, {-128, -1, 0, 127}, kFormatMono8, {-128, -1, 0, 127}},
    {"mono8 widened", kFormatMono8, {-128, -1, 0, 1, 127}, kFormatMono16,
     {-32768, -256, 0, 256, 32512}},
    {"mono8 to both 8-bit channels", kFormatMono8, {-128, 5}, kFormatStereo8, {-128, -128, 5, 5}},
    {"mono8 widened to both channels", kFormatMono8, {-128, 127}, kFormatStereo16,
     {-32768, -32768, 32512, 32512}},
    {"mono16 narrowed toward zero", kFormatMono16,
     {-32768, -257, -256, -255, -1, 255, 256, 32767}, kFormatMono8, {-128, -1, -1, 0, 0, 0, 1, 127}},
    {"mono16 copy", kFormatMono16, {-32768, -1, 0, 32767}, kFormatMono16, {-32768, -1, 0, 32767}},
    {"mono16 narrowed to both channels", kFormatMono16, {-32768, -1, 32767, -257}, kFormatStereo8,
     {-128, -128, 0, 0, 127, 127, -1, -1}},
    {"mono16 to both channels", kFormatMono16, {-32768, 32767}, kFormatStereo16,
     {-32768, -32768, 32767, 32767}},
    {"stereo8 halves added", kFormatStereo8, {-128, -128, 127, 127, -3, 0, -1, -1, 3, -3},
     kFormatMono8, {-128, 126, -1, 0, 0}},
    {"stereo8 sum widened", kFormatStereo8, {-128, -128, 127, 127, -1, 0}, kFormatMono16,
     {-32768, 32512, -128}},
    {"stereo8 copy", kFormatStereo8, {-128, 127, 0, -1}, kFormatStereo8, {-128, 127, 0, -1}},
    {"stereo8 widened, channels kept", kFormatStereo8, {-128, 127, -1, 1}, kFormatStereo16,
     {-32768, 32512, -256, 256}},
    {"stereo16 narrowed halves", kFormatStereo16,
     {-32768, -32768, 32767, 32767, -511, -511, -512, 0, -513, 511, 0, -511}, kFormatMono8,
     {-128, 126, 0, -1, -1, 0}},
    {"stereo16 halves added", kFormatStereo16,
     {-32768, -32768, 32767, 32767, -3, 0, 0, -3, -1, -1, 32767, -32768}, kFormatMono16,
     {-32768, 32766, -1, -1, 0, -1}},
    {"stereo16 narrowed, channels kept", kFormatStereo16, {-32768, 32767, -256, -255, -257, 255},
     kFormatStereo8, {-128, 127, -1, 0, -1, 0}},
    {"stereo16 copy", kFormatStereo16, {-32768, 32767, 1, -1}, kFormatStereo16,
     {-32768, 32767, 1, -1}},
};

TEST(ConvertFrames, EveryRuleAtAlignedAndOddOffsets) {
  std::set<std::pair<int, int>> pairs;
  for (const ConvertCase& c : kConvertCases) {
    SCOPED_TRACE(c.name);
    pairs.insert({frameBytes(c.from) * 10 + c.from.channels, frameBytes(c.to) * 10 + c.to.channels});
    for (auto [sourceOffset, destinationOffset] :
         {std::pair<size_t, size_t>{0, 0}, {1, 3}, {3, 1}}) {
      SCOPED_TRACE(sourceOffset * 10 + destinationOffset);
      EXPECT_EQ(convertAt(c.from, c.in, c.to, sourceOffset, destinationOffset), c.out);
    }
  }
  EXPECT_EQ(pairs.size(), 16u);
}

TEST(ConvertFrames, SixteenBitNarrowingTruncatesEveryValueTowardZero) {
  Samples all;
  for (int s = -32768; s <= 32767; ++s) all.push_back(s);
  const Samples mono = convertAt(kFormatMono16, all, kFormatMono8, 0, 0);
  const Samples stereo = convertAt(kFormatMono16, all, kFormatStereo8, 1, 0);
  ASSERT_EQ(mono.size(), all.size());
  ASSERT_EQ(stereo.size(), 2 * all.size());
  for (size_t i = 0; i < all.size(); ++i) {
    ASSERT_EQ(mono[i], trunc256(all[i])) << all[i];
    ASSERT_EQ(stereo[2 * i], trunc256(all[i])) << all[i];
    ASSERT_EQ(stereo[2 * i + 1], trunc256(all[i])) << all[i];
  }
}

// Every pair of 8-bit samples, read as signed bytes.
TEST(ConvertFrames, EveryStereo8FrameMixesToTheMean) {
  Samples frames;
  for (int l = -128; l <= 127; ++l) {
    for (int r = -128; r <= 127; ++r) {
      frames.push_back(l);
      frames.push_back(r);
    }
  }
  const Samples mono8 = convertAt(kFormatStereo8, frames, kFormatMono8, 0, 1);
  const Samples mono16 = convertAt(kFormatStereo8, frames, kFormatMono16, 0, 1);
  for (size_t i = 0; i < mono8.size(); ++i) {
    const int l = frames[2 * i], r = frames[2 * i + 1];
    ASSERT_EQ(mono8[i], halfTrunc(l, 2) + halfTrunc(r, 2)) << l << "," << r;
    ASSERT_EQ(mono16[i], (l + r) * 128) << l << "," << r;
  }
}

TEST(ConvertFrames, RandomStereo16FramesMixToTheMean) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> sample(-32768, 32767);
  Samples frames = {-32768, 32767, 32767, -32768, -1, 1, 1, -1, -511, -513};
  while (frames.size() < 200000) frames.push_back(sample(random));
  const Samples mono16 = convertAt(kFormatStereo16, frames, kFormatMono16, 1, 1);
  const Samples mono8 = convertAt(kFormatStereo16, frames, kFormatMono8, 1, 1);
  for (size_t i = 0; i < mono16.size(); ++i) {
    const int l = frames[2 * i], r = frames[2 * i + 1];
    ASSERT_EQ(mono16[i], halfTrunc(l, 2) + halfTrunc(r, 2)) << l << "," << r;
    ASSERT_EQ(mono8[i], halfTrunc(l, 512) + halfTrunc(r, 512)) << l << "," << r;
  }
}

TEST(ConvertFrames, UnknownLayoutIsRefusedAndNothingWritten) {
  const struct {
    const char* name;
    SoundFormat from;
    SoundFormat to;
  } cases[] = {
      {"none to mono16", kFormatNone, kFormatMono16},
      {"mono16 to none", kFormatMono16, kFormatNone},
      {"none to none", kFormatNone, kFormatNone},
      {"24-bit source", SoundFormat{1, 3}, kFormatMono16},
      {"24-bit both sides", SoundFormat{1, 3}, SoundFormat{1, 3}},
      {"three channels", SoundFormat{3, 2}, kFormatMono16},
      {"negative channels both sides", SoundFormat{-1, 2}, SoundFormat{-1, 2}},
      {"zero-byte samples", SoundFormat{2, 0}, kFormatStereo16},
      {"negative sample size", SoundFormat{1, -2}, kFormatMono8},
      {"three-channel destination", kFormatMono16, SoundFormat{3, 2}},
      {"24-bit destination", kFormatMono16, SoundFormat{1, 3}},
      {"32-bit stereo destination", kFormatStereo8, SoundFormat{2, 4}},
  };
  const Bytes source(64, 0x11);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes destination(64, kCanary);
    EXPECT_EQ(convertFrames(source.data(), 4, c.from, destination.data(), c.to),
              errUnknownSoundFormat);
    EXPECT_EQ(destination, Bytes(64, kCanary));
  }
}

TEST(ConvertFrames, CountZeroTouchesNoMemory) {
  const SoundFormat known[] = {kFormatMono8, kFormatMono16, kFormatStereo8, kFormatStereo16};
  for (SoundFormat from : known) {
    for (SoundFormat to : known) {
      EXPECT_EQ(convertFrames(nullptr, 0, from, nullptr, to), 0);
    }
  }
  EXPECT_EQ(convertFrames(nullptr, 0, SoundFormat{1, 3}, nullptr, kFormatMono16),
            errUnknownSoundFormat);
}

struct FloatCase {
  const char* name;
  SoundFormat format;
  Samples in;  // 8-bit as raw byte values 0..255
  float scale;
  std::vector<float> out;
};

// Full scale must reach exactly +-scale; 8-bit is unsigned here.
const FloatCase kFloatCases[] = {
    {"mono8 unsigned", kFormatMono8, {0x00, 0x80, 0xFF, 0x40, 0xC0}, 1.0f,
     {-1.0f, 0.0f, 0.9921875f, -0.5f, 0.5f}},
    {"mono8 at spectrum scale", kFormatMono8, {0x00, 0xFF}, 128.0f, {-128.0f, 127.0f}},
    {"mono16", kFormatMono16, {16384, -32768, 32767, -1, 0}, 1.0f,
     {0.5f, -1.0f, 32767.0f / 32768.0f, -1.0f / 32768.0f, 0.0f}},
    {"mono16 at spectrum scale", kFormatMono16, {-32768, 256}, 128.0f, {-128.0f, 1.0f}},
    {"mono16 negative scale", kFormatMono16, {16384}, -1.0f, {-0.5f}},
    {"stereo8 unsigned mean", kFormatStereo8, {0x00, 0x00, 0xFF, 0xFF, 0x80, 0x00, 0x80, 0x80, 0x00,
                                               0xFF},
     1.0f, {-1.0f, 254.0f / 256.0f, -0.5f, 0.0f, -1.0f / 256.0f}},
    {"stereo16 mean", kFormatStereo16, {32767, 32767, -32768, -32768, 16384, 0, -1, 0}, 1.0f,
     {65534.0f / 65536.0f, -1.0f, 0.25f, -1.0f / 65536.0f}},
    {"stereo16 opposite extremes", kFormatStereo16, {32767, -32768}, 2.5f, {-2.5f / 65536.0f}},
    // Float arithmetic would overflow the product before the division.
    {"mono16 largest scale", kFormatMono16, {32767, -32768}, FLT_MAX,
     {static_cast<float>(32767.0L * FLT_MAX / 32768.0L), -FLT_MAX}},
    {"stereo16 largest scale", kFormatStereo16, {32767, 32767}, FLT_MAX,
     {static_cast<float>(65534.0L * FLT_MAX / 65536.0L)}},
    {"mono8 largest scale", kFormatMono8, {0xFF, 0x00}, FLT_MAX,
     {static_cast<float>(127.0L * FLT_MAX / 128.0L), -FLT_MAX}},
    {"stereo8 largest scale", kFormatStereo8, {0xFF, 0xFF}, FLT_MAX,
     {static_cast<float>(254.0L * FLT_MAX / 256.0L)}},
};

TEST(FramesToFloat, EveryLayoutAtAlignedAndOddOffsets) {
  for (const FloatCase& c : kFloatCases) {
    SCOPED_TRACE(c.name);
    for (size_t offset : {0, 1}) {
      Bytes source(offset, 0);
      const Bytes packed = pack(c.format, c.in);
      source.insert(source.end(), packed.begin(), packed.end());
      std::vector<float> out(c.out.size() + 1, 1234.5f);
      ASSERT_EQ(framesToFloat(source.data() + offset, out.data(), c.format,
                              static_cast<uint32_t>(c.out.size()), c.scale),
                0);
      EXPECT_EQ(out.back(), 1234.5f);
      out.pop_back();
      EXPECT_EQ(out, c.out);
    }
  }
}

// Mono 16 goes several values at a time: every count around a group's
// length ends exactly at its last value, whatever the alignment.
TEST(FramesToFloat, Mono16StopsAtTheCountForEveryShortLength) {
  for (uint32_t count = 0; count <= 11; ++count) {
    for (size_t offset : {0, 1}) {
      SCOPED_TRACE(testing::Message() << count << " values at offset " << offset);
      Samples in;
      for (uint32_t i = 0; i < count; ++i) in.push_back(static_cast<int>(i * 4099) - 20000);
      Bytes source(offset, 0);
      const Bytes packed = pack(kFormatMono16, in);
      source.insert(source.end(), packed.begin(), packed.end());
      std::vector<float> out(count + 1, 1234.5f);
      ASSERT_EQ(framesToFloat(source.data() + offset, out.data(), kFormatMono16, count, 0.1f), 0);
      EXPECT_EQ(out.back(), 1234.5f);
      for (uint32_t i = 0; i < count; ++i)
        EXPECT_EQ(out[i], static_cast<float>(static_cast<long double>(in[i]) * 0.1f / 32768.0L)) << i;
    }
  }
}

// An exact double value rounded once: no intermediate float step.
TEST(FramesToFloat, EverySixteenBitValueRoundsOnceAtAnyScale) {
  Samples all;
  for (int s = -32768; s <= 32767; ++s) all.push_back(s);
  const Bytes bytes = pack(kFormatMono16, all);
  std::vector<float> out(all.size());
  for (float scale : {1.0f, 128.0f, 0.1f, 3.3333333f, 1e-30f, 7e37f}) {
    SCOPED_TRACE(scale);
    ASSERT_EQ(framesToFloat(bytes.data(), out.data(), kFormatMono16,
                            static_cast<uint32_t>(all.size()), scale),
              0);
    for (size_t i = 0; i < all.size(); ++i) {
      const float expected = static_cast<float>(static_cast<long double>(all[i]) * scale / 32768.0L);
      ASSERT_EQ(out[i], expected) << all[i];
    }
  }
}

// The same byte reads as signed in convertFrames and unsigned here.
TEST(FramesToFloat, EveryEightBitValueIsUnsignedWhileConvertReadsItSigned) {
  Samples all;
  for (int b = 0; b <= 255; ++b) all.push_back(b);
  const Bytes bytes = pack(kFormatMono8, all);
  std::vector<float> floats(all.size());
  ASSERT_EQ(framesToFloat(bytes.data(), floats.data(), kFormatMono8, 256, 1.0f), 0);
  std::vector<unsigned char> wide(2 * all.size());
  ASSERT_EQ(convertFrames(bytes.data(), 256, kFormatMono8, wide.data(), kFormatMono16), 0);
  const Samples widened = unpack(kFormatMono16, wide.data(), all.size());
  for (int b = 0; b <= 255; ++b) {
    ASSERT_EQ(floats[b], (b - 128) / 128.0f) << b;
    ASSERT_EQ(widened[b], static_cast<int8_t>(b) * 256) << b;
  }
  EXPECT_EQ(floats[0x80], 0.0f);
  EXPECT_EQ(widened[0x80], -32768);
}

TEST(FramesToFloat, UnknownLayoutIsRefusedAndNothingWritten) {
  const SoundFormat unknown[] = {kFormatNone,       SoundFormat{1, 3}, SoundFormat{3, 2},
                                 SoundFormat{2, 0}, SoundFormat{-2, 2}, SoundFormat{1, 4}};
  const Bytes source(64, 0x11);
  for (SoundFormat format : unknown) {
    SCOPED_TRACE(format.channels * 100 + format.bytesPerSample);
    std::vector<float> out(8, 1234.5f);
    EXPECT_EQ(framesToFloat(source.data(), out.data(), format, 8, 1.0f), errUnknownSoundFormat);
    EXPECT_EQ(out, std::vector<float>(8, 1234.5f));
  }
}

TEST(FramesToFloat, CountZeroTouchesNoMemory) {
  for (SoundFormat format : {kFormatMono8, kFormatMono16, kFormatStereo8, kFormatStereo16}) {
    EXPECT_EQ(framesToFloat(nullptr, nullptr, format, 0, 1.0f), 0);
  }
  EXPECT_EQ(framesToFloat(nullptr, nullptr, kFormatNone, 0, 1.0f), errUnknownSoundFormat);
}

// The largest magnitude, found as the one-at-a-time comparison finds it:
// NaNs skipped, -0 counted as 0, wherever in the run the peak lies.
float peakOneByOne(const std::vector<float>& v) {
  float peak = 0.0f;
  for (float x : v)
    if (std::fabs(x) > peak) peak = std::fabs(x);
  return peak;
}

TEST(PeakMagnitude, MatchesTheOneByOneComparisonAtEveryLengthAndPlace) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float specials[] = {-3.5f, nan, -0.0f, FLT_MAX, -std::numeric_limits<float>::infinity(),
                            FLT_TRUE_MIN};
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  for (int n = 0; n <= 13; ++n) {
    for (int at = 0; at < n; ++at) {
      for (float special : specials) {
        std::vector<float> v(n);
        for (float& x : v) x = d(rng);
        v[at] = special;
        SCOPED_TRACE(testing::Message() << "n " << n << ", " << special << " at " << at);
        const float want = peakOneByOne(v);
        const float got = peakMagnitude(v.data(), n);
        ASSERT_EQ(std::memcmp(&want, &got, sizeof want), 0) << got << " for " << want;
      }
    }
  }
  const std::vector<float> nans(9, nan);
  EXPECT_EQ(peakMagnitude(nans.data(), 9), 0.0f);
  EXPECT_EQ(peakMagnitude(nullptr, 0), 0.0f);
}

}  // namespace
}  // namespace hx
