// The test runtime's WAV and AIFF parser: files encoded by sox, hand-made
// headers for every branch, and damaged files that must never lead it
// outside the bytes it was given.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_runtime/audio_file.h"
#include "binding_media.h"

namespace hx::testrt {
namespace {

using Bytes = std::vector<uint8_t>;

void putLe(Bytes& b, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void putBe(Bytes& b, uint32_t v, int n) {
  for (int i = n - 1; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
void putTag(Bytes& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }

// A chunk whose size field may claim something other than its body.
void chunkLe(Bytes& b, const char* tag, const Bytes& body, int64_t claimed = -1) {
  putTag(b, tag);
  putLe(b, claimed < 0 ? uint32_t(body.size()) : uint32_t(claimed), 4);
  b.insert(b.end(), body.begin(), body.end());
  if (claimed < 0 && body.size() % 2 == 1) b.push_back(0);
}
void chunkBe(Bytes& b, const char* tag, const Bytes& body, int64_t claimed = -1) {
  putTag(b, tag);
  putBe(b, claimed < 0 ? uint32_t(body.size()) : uint32_t(claimed), 4);
  b.insert(b.end(), body.begin(), body.end());
  if (claimed < 0 && body.size() % 2 == 1) b.push_back(0);
}

Bytes container(const char* outer, const char* kind) {
  Bytes b;
  putTag(b, outer);
  putLe(b, 0, 4);  // the container's size is never trusted
  putTag(b, kind);
  return b;
}

Bytes waveFormat(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                 int blockAlign = -1) {
  Bytes f;
  const uint16_t align = blockAlign < 0 ? uint16_t(channels * bits / 8) : uint16_t(blockAlign);
  putLe(f, tag, 2);
  putLe(f, channels, 2);
  putLe(f, rate, 4);
  putLe(f, rate * align, 4);
  putLe(f, align, 2);
  putLe(f, bits, 2);
  return f;
}

Bytes extensibleFormat(uint16_t subtype, uint16_t channels, uint32_t rate, uint16_t bits) {
  Bytes f = waveFormat(0xFFFE, channels, rate, bits);
  putLe(f, 22, 2);    // extension size
  putLe(f, bits, 2);  // valid bits
  putLe(f, 0, 4);     // channel mask
  putLe(f, subtype, 2);
  const uint8_t tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  f.insert(f.end(), tail, tail + 14);
  return f;
}

Bytes wave(const Bytes& format, const Bytes& data) {
  Bytes b = container("RIFF", "WAVE");
  chunkLe(b, "fmt ", format);
  chunkLe(b, "data", data);
  return b;
}

// 80-bit extended: sign and exponent, then the 64-bit mantissa.
Bytes extended(uint16_t signExponent, uint64_t mantissa) {
  Bytes r;
  putBe(r, signExponent, 2);
  putBe(r, uint32_t(mantissa >> 32), 4);
  putBe(r, uint32_t(mantissa), 4);
  return r;
}
// An integer rate as 80-bit extended.
Bytes extendedRate(uint32_t rate) {
  int top = 31;
  while (!(rate & (1u << top))) --top;
  return extended(uint16_t(16383 + top), uint64_t(rate) << (63 - top));
}

Bytes common(int16_t channels, uint32_t frames, int16_t bits, const Bytes& rate,
             const char* compression = nullptr) {
  Bytes c;
  putBe(c, uint16_t(channels), 2);
  putBe(c, frames, 4);
  putBe(c, uint16_t(bits), 2);
  c.insert(c.end(), rate.begin(), rate.end());
  if (compression != nullptr) {
    putTag(c, compression);
    c.push_back(0);  // empty name
    c.push_back(0);
  }
  return c;
}

Bytes soundData(const Bytes& samples, uint32_t offset = 0) {
  Bytes s;
  putBe(s, offset, 4);
  putBe(s, 0, 4);
  s.insert(s.end(), offset, 0xEE);
  s.insert(s.end(), samples.begin(), samples.end());
  return s;
}

Bytes aiff(const Bytes& comm, const Bytes& ssnd, bool compressed = false) {
  Bytes b = container("FORM", compressed ? "AIFC" : "AIFF");
  chunkBe(b, "COMM", comm);
  chunkBe(b, "SSND", ssnd);
  return b;
}

const Bytes kEightFrames16Mono(16, 0x11);

struct ParseCase {
  const char* name;
  Bytes file;
  OSErr result;
  bool decodable;
  uint32_t frames;
  UnsignedFixed rate;
};

std::vector<ParseCase> parseCases() {
  std::vector<ParseCase> cases;
  auto add = [&](const char* name, Bytes file, OSErr result, bool decodable = false,
                 uint32_t frames = 0, UnsignedFixed rate = 0) {
    cases.push_back({name, std::move(file), result, decodable, frames, rate});
  };
  const Bytes pcm16 = waveFormat(1, 1, 8000, 16);
  add("Empty", {}, invalidMovie);
  add("ShorterThanAContainerHeader", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V'},
      invalidMovie);
  add("NeitherWaveNorAiff", container("RIFF", "AVI "), invalidMovie);
  add("WaveWithoutChunks", container("RIFF", "WAVE"), invalidMovie);
  {
    Bytes b = container("RIFF", "WAVE");
    chunkLe(b, "fmt ", pcm16);
    add("WaveWithoutData", b, invalidMovie);
  }
  {
    Bytes b = container("RIFF", "WAVE");
    chunkLe(b, "data", kEightFrames16Mono);
    add("WaveWithoutFormat", b, invalidMovie);
  }
  add("WaveFormatTooShort", wave(Bytes(pcm16.begin(), pcm16.begin() + 14), kEightFrames16Mono),
      invalidMovie);
  add("WaveNoChannels", wave(waveFormat(1, 0, 8000, 16, 2), kEightFrames16Mono), invalidMovie);
  add("WaveRateZero", wave(waveFormat(1, 1, 0, 16), kEightFrames16Mono), invalidMovie);
  add("WaveBlockAlignZero", wave(waveFormat(1, 1, 8000, 16, 0), kEightFrames16Mono),
      invalidMovie);
  add("WavePcm16", wave(pcm16, kEightFrames16Mono), noErr, true, 8, 8000u << 16);
  add("WavePcm8Stereo", wave(waveFormat(1, 2, 11025, 8), Bytes(10, 0x80)), noErr, true, 5,
      11025u << 16);
  add("WaveHalfFrameAtTheEndIsDropped", wave(pcm16, Bytes(17, 1)), noErr, true, 8,
      8000u << 16);
  add("WaveHighestRate", wave(waveFormat(1, 1, 65535, 16), kEightFrames16Mono), noErr, true, 8,
      0xFFFF0000u);
  add("WaveFloatIsNotDecodable", wave(waveFormat(3, 1, 8000, 32), Bytes(32, 0)), noErr);
  add("Wave24BitIsNotDecodable", wave(waveFormat(1, 1, 8000, 24), Bytes(24, 0)), noErr);
  add("WaveThreeChannelsAreNotDecodable", wave(waveFormat(1, 3, 8000, 16), Bytes(24, 0)), noErr);
  add("WaveRateAbove16BitsIsNotDecodable", wave(waveFormat(1, 1, 96000, 16), kEightFrames16Mono),
      noErr);
  add("WaveBlockAlignMismatchIsNotDecodable",
      wave(waveFormat(1, 1, 8000, 16, 4), kEightFrames16Mono), noErr);
  add("WaveExtensiblePcm", wave(extensibleFormat(1, 2, 22050, 16), Bytes(16, 0)), noErr, true, 4,
      22050u << 16);
  add("WaveExtensibleFloatIsNotDecodable", wave(extensibleFormat(3, 1, 8000, 32), Bytes(16, 0)),
      noErr);
  add("WaveExtensibleTooShort",
      wave([&] {
        Bytes f = waveFormat(0xFFFE, 1, 8000, 16);
        putLe(f, 0, 2);
        return f;
      }(),
           kEightFrames16Mono),
      invalidMovie);
  {
    // Odd chunks are padded to an even length; the next chunk follows the pad byte.
    Bytes b = container("RIFF", "WAVE");
    chunkLe(b, "junk", Bytes(3, 0xAB));
    chunkLe(b, "fmt ", pcm16);
    chunkLe(b, "data", kEightFrames16Mono);
    add("WaveOddChunkPadded", b, noErr, true, 8, 8000u << 16);
  }
  {
    // A data chunk longer than the file (a recording cut short) is read as far as it goes.
    Bytes b = container("RIFF", "WAVE");
    chunkLe(b, "fmt ", pcm16);
    chunkLe(b, "data", Bytes(7, 0), 0xFFFFFFFF);
    add("WaveDataClaimsMoreThanTheFile", b, noErr, true, 3, 8000u << 16);
  }
  {
    Bytes b = container("RIFF", "WAVE");
    chunkLe(b, "LIST", Bytes(4, 0), 0xFFFFFFF0);
    chunkLe(b, "fmt ", pcm16);
    chunkLe(b, "data", kEightFrames16Mono);
    add("WaveHugeChunkEndsTheWalk", b, invalidMovie);
  }
  {
    Bytes b = container("RIFF", "WAVE");
    chunkLe(b, "fmt ", pcm16);
    b.insert(b.end(), {'d', 'a', 't'});  // a chunk header cut short
    add("WaveChunkHeaderCutShort", b, invalidMovie);
  }

  const Bytes rate8000 = extendedRate(8000);
  add("AiffMono16", aiff(common(1, 8, 16, rate8000), soundData(kEightFrames16Mono)), noErr, true,
      8, 8000u << 16);
  add("AiffFractionalRate",
      aiff(common(1, 8, 16, extended(16383 + 13, 0xAC46000000000000ull)),
           soundData(kEightFrames16Mono)),
      noErr, true, 8, 0x2B118000u);  // 11025.5
  add("AiffFramesFromCommonWhenFewer", aiff(common(1, 5, 16, rate8000), soundData(kEightFrames16Mono)),
      noErr, true, 5, 8000u << 16);
  add("AiffFramesFromDataWhenFewer", aiff(common(1, 500, 16, rate8000), soundData(kEightFrames16Mono)),
      noErr, true, 8, 8000u << 16);
  add("AiffDataOffsetSkipped", aiff(common(2, 2, 16, rate8000), soundData(Bytes(8, 1), 6)), noErr,
      true, 2, 8000u << 16);
  add("AiffDataOffsetBeyondChunk",
      aiff(common(1, 8, 16, rate8000), [] {
        Bytes s = soundData(kEightFrames16Mono);
        s[3] = 0x40;  // offset 64 in a 24-byte chunk
        return s;
      }()),
      invalidMovie);
  add("AiffCommonTooShort", aiff(Bytes(17, 0), soundData(kEightFrames16Mono)), invalidMovie);
  add("AiffWithoutSound", [&] {
    Bytes b = container("FORM", "AIFF");
    chunkBe(b, "COMM", common(1, 8, 16, rate8000));
    return b;
  }(), invalidMovie);
  add("AiffNoChannels", aiff(common(0, 8, 16, rate8000), soundData(kEightFrames16Mono)),
      invalidMovie);
  add("AiffNegativeRateIsNotDecodable",
      aiff(common(1, 8, 16, extended(0x8000 | (16383 + 12), 0xFA00000000000000ull)),
           soundData(kEightFrames16Mono)),
      noErr);
  add("AiffRateAbove16BitsIsNotDecodable",
      aiff(common(1, 8, 16, extendedRate(96000)), soundData(kEightFrames16Mono)), noErr);
  add("AiffHugeExponentIsNotDecodable",
      aiff(common(1, 8, 16, extended(0x7FFF, ~0ull)), soundData(kEightFrames16Mono)), noErr);
  add("Aiff24BitIsNotDecodable", aiff(common(1, 8, 24, rate8000), soundData(Bytes(24, 0))), noErr);
  add("AifcNone", aiff(common(1, 8, 16, rate8000, "NONE"), soundData(kEightFrames16Mono), true),
      noErr, true, 8, 8000u << 16);
  add("AifcSowt", aiff(common(1, 8, 16, rate8000, "sowt"), soundData(kEightFrames16Mono), true),
      noErr, true, 8, 8000u << 16);
  add("AifcCompressedIsNotDecodable",
      aiff(common(1, 8, 16, rate8000, "ulaw"), soundData(kEightFrames16Mono), true), noErr);
  add("AifcCommonWithoutCompression",
      aiff(common(1, 8, 16, rate8000), soundData(kEightFrames16Mono), true), invalidMovie);
  return cases;
}

TEST(RuntimeFiles, ParsesHeadersAndRefusesBrokenOnes) {
  for (const ParseCase& c : parseCases()) {
    SCOPED_TRACE(c.name);
    PcmAudio audio;
    audio.decodable = true;
    ASSERT_EQ(parseAudioFile(c.file.data(), c.file.size(), &audio), c.result);
    if (c.result != noErr) continue;
    EXPECT_EQ(audio.decodable, c.decodable);
    if (!c.decodable) continue;
    EXPECT_EQ(audio.frames, c.frames);
    EXPECT_EQ(audio.rate, c.rate);
    EXPECT_LE(audio.dataOffset + uint64_t(audio.frames) * bytesPerFrame(audio), c.file.size());
  }
}

TEST(RuntimeFiles, WidensEveryCodingToBigEndian16) {
  struct Case {
    const char* name;
    Bytes file;
    std::vector<int16_t> expected;
  };
  const Bytes rate = extendedRate(8000);
  const Case cases[] = {
      {"WaveUnsigned8", wave(waveFormat(1, 1, 8000, 8), {0x00, 0x80, 0xFF, 0x7F, 0x81}),
       {-32768, 0, 32512, -256, 256}},
      {"WaveLittle16", wave(waveFormat(1, 2, 8000, 16), {0x00, 0x80, 0xFF, 0x7F, 0xFF, 0xFF, 0x01, 0x00}),
       {-32768, 32767, -1, 1}},
      {"AiffSigned8", aiff(common(1, 4, 8, rate), soundData({0x80, 0x7F, 0xFF, 0x00})),
       {-32768, 32512, -256, 0}},
      {"AiffBig16", aiff(common(1, 3, 16, rate), soundData({0x80, 0x00, 0x7F, 0xFF, 0xFF, 0xFE})),
       {-32768, 32767, -2}},
      {"AifcSowt", aiff(common(1, 2, 16, rate, "sowt"), soundData({0x00, 0x80, 0xFE, 0xFF}), true),
       {-32768, -2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PcmAudio audio;
    ASSERT_EQ(parseAudioFile(c.file.data(), c.file.size(), &audio), noErr);
    ASSERT_TRUE(audio.decodable);
    const uint32_t frames = uint32_t(c.expected.size()) / uint32_t(audio.channels);
    ASSERT_EQ(audio.frames, frames);
    Bytes out(c.expected.size() * 2 + 1, 0xCD);
    writeBigEndian16(out.data(), c.file.data(), audio, 0, frames);
    EXPECT_EQ(binding_test::bigEndianSamples(out.data(), c.expected.size()), c.expected);
    EXPECT_EQ(out.back(), 0xCD) << "wrote past the frames asked for";
  }
}

TEST(RuntimeFiles, SoxFilesDecodeToTheirSourceFrames) {
  for (const binding_test::MediaFile& f : binding_test::requireMediaFiles()) {
    SCOPED_TRACE(f.name);
    const Bytes file = binding_test::readBytes(f.path);
    PcmAudio audio;
    ASSERT_EQ(parseAudioFile(file.data(), file.size(), &audio), noErr);
    ASSERT_TRUE(audio.decodable);
    EXPECT_EQ(audio.channels, f.channels);
    EXPECT_EQ(audio.rate, f.rate << 16);
    ASSERT_EQ(audio.frames, f.frames());
    Bytes out(f.samples.size() * 2);
    writeBigEndian16(out.data(), file.data(), audio, 0, audio.frames);
    EXPECT_EQ(binding_test::bigEndianSamples(out.data(), f.samples.size()), f.samples);
  }
}

// Damaged copies of real files: whatever the parser accepts must lie inside
// the bytes (the sanitizer build catches any read outside them).
TEST(RuntimeFiles, DamagedFilesStayInsideTheirBytes) {
  std::mt19937 random(20240613);
  std::vector<binding_test::MediaFile> files = binding_test::requireMediaFiles();
  for (const binding_test::MediaFile& f : files) {
    const Bytes original = binding_test::readBytes(f.path);
    ASSERT_GT(original.size(), 64u);
    for (int round = 0; round < 300; ++round) {
      Bytes file(original.begin(), original.begin() + std::min<size_t>(original.size(), 96));
      const int changes = 1 + int(random() % 4);
      for (int i = 0; i < changes; ++i) file[random() % file.size()] = uint8_t(random());
      if (random() % 2 == 0) file.resize(random() % file.size());
      PcmAudio audio;
      if (parseAudioFile(file.data(), file.size(), &audio) != noErr || !audio.decodable) continue;
      ASSERT_LE(audio.dataOffset + uint64_t(audio.frames) * bytesPerFrame(audio), file.size())
          << f.name << " round " << round;
      Bytes out(size_t(audio.frames) * size_t(audio.channels) * 2);
      writeBigEndian16(out.data(), file.data(), audio, 0, audio.frames);
    }
  }
}

}  // namespace
}  // namespace hx::testrt
