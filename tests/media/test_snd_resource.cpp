// The 'snd ' resource writer and its hostile-input-safe parser.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "media/memory_handle.h"
#include "media/snd_resource.h"

namespace hx::media {
namespace {

std::vector<uint8_t> resourceOf(const SndLayout& layout, size_t dataBytes) {
  std::vector<uint8_t> out(sndHeaderSize(layout) + dataBytes, 0);
  writeSndHeader(out.data(), layout);
  return out;
}

size_t dataBytesOf(const SndLayout& l) {
  return size_t(l.numFrames) * size_t(l.numChannels) * size_t(l.sampleSize / 8);
}

struct Parsed {
  OSErr err;
  SoundComponentData info;
  uint32_t frames;
  uint32_t offset;
};

// Parses from a heap block of exactly the given size, so that AddressSanitizer
// sees any read past its end.
Parsed parse(const std::vector<uint8_t>& bytes) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() ? bytes.size() : 1]);
  if (!bytes.empty()) std::memcpy(exact.get(), bytes.data(), bytes.size());
  Parsed p{};
  p.err = parseSndResource(exact.get(), bytes.size(), &p.info, &p.frames, &p.offset);
  return p;
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (24 - 8 * i));
}
void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v >> 8);
  b[at + 1] = uint8_t(v);
}

constexpr UnsignedFixed k44100 = 44100u << 16;

TEST(SndResource, WritesTheClassicLayoutByteForByte) {
  SndLayout layout{2, 16, k44100, kSowtEncoding, 0x01020304};
  ASSERT_EQ(sndHeaderSize(layout), 84u);
  std::vector<uint8_t> bytes(84);
  writeSndHeader(bytes.data(), layout);
  const std::vector<uint8_t> expected = {
      0x00, 0x01,                          // format 1
      0x00, 0x01,                          // one modifier
      0x00, 0x05, 0x00, 0x00, 0x00, 0xC0,  // sampled synth, stereo init
      0x00, 0x01,                          // one command
      0x80, 0x51, 0x00, 0x00,              // bufferCmd | data pointer flag, param1
      0x00, 0x00, 0x00, 0x14,              // param2: header at 20
      0x00, 0x00, 0x00, 0x00,              // sample pointer
      0x00, 0x00, 0x00, 0x02,              // channels
      0xAC, 0x44, 0x00, 0x00,              // 44100.0 as 16.16
      0x00, 0x00, 0x00, 0x00,              // loop start
      0x00, 0x00, 0x00, 0x00,              // loop end
      0xFE, 0x3C,                          // compressed header, middle C
      0x01, 0x02, 0x03, 0x04,              // frames
      0x40, 0x0E, 0xAC, 0x44, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 44100 as extended80
      0x00, 0x00, 0x00, 0x00,  // marker chunk
      's',  'o',  'w',  't',   // format
      0x00, 0x00, 0x00, 0x00,  // future use
      0x00, 0x00, 0x00, 0x00,  // state vars
      0x00, 0x00, 0x00, 0x00,  // left-over samples
      0xFF, 0xFF,              // fixed compression
      0x00, 0x00,              // packet size
      0x00, 0x00,              // synth id
      0x00, 0x10,              // sample size
  };
  EXPECT_EQ(bytes, expected);
}

struct RoundTripCase {
  const char* name;
  SndLayout layout;
  uint8_t encodeByte;  // header kind as written
  size_t headerSize;
};

TEST(SndResource, RoundTripsEveryHeaderKind) {
  const RoundTripCase cases[] = {
      {"8-bit mono raw: standard", {1, 8, 22050u << 16, kRawEncoding, 300}, 0x00, 42},
      {"8-bit stereo raw: extended", {2, 8, 8000u << 16, kRawEncoding, 300}, 0xFF, 84},
      {"16-bit stereo twos: extended", {2, 16, k44100, kTwosEncoding, 300}, 0xFF, 84},
      {"24-bit mono twos: extended", {1, 24, 48000u << 16, kTwosEncoding, 7}, 0xFF, 84},
      {"16-bit mono sowt: compressed", {1, 16, 0x2B118000, kSowtEncoding, 1000}, 0xFE, 84},
      {"32-bit float: compressed", {2, 32, 96000u << 16, fourCharCode("fl32"), 5}, 0xFE, 84},
      {"6 channels 24-bit: compressed", {6, 24, k44100, fourCharCode("in24"), 3}, 0xFE, 84},
      {"no frames", {2, 16, k44100, kSowtEncoding, 0}, 0xFE, 84},
      {"rate 0", {1, 16, 0, kSowtEncoding, 1}, 0xFE, 84},
  };
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(sndHeaderSize(c.layout), c.headerSize);
    const std::vector<uint8_t> bytes = resourceOf(c.layout, dataBytesOf(c.layout));
    EXPECT_EQ(bytes[20 + 20], c.encodeByte);
    const Parsed p = parse(bytes);
    ASSERT_EQ(p.err, noErr);
    EXPECT_EQ(p.info.format, c.layout.encoding);
    EXPECT_EQ(p.info.numChannels, c.layout.numChannels);
    EXPECT_EQ(p.info.sampleSize, c.layout.sampleSize);
    EXPECT_EQ(p.info.sampleRate, c.layout.sampleRate);
    EXPECT_EQ(p.info.sampleCount, int32_t(c.layout.numFrames));
    EXPECT_EQ(p.frames, c.layout.numFrames);
    EXPECT_EQ(p.offset, c.headerSize);
  }
}

TEST(SndResource, AcceptsFormat2AndFindsTheFirstDataCommand) {
  // Format 2: reference count instead of modifiers; a plain (non-data) command
  // and a soundCmd without the flag come before the one that counts.
  const SndLayout layout{1, 16, k44100, kTwosEncoding, 4};
  std::vector<uint8_t> header(sndHeaderSize(layout));
  writeSndHeader(header.data(), layout);
  std::vector<uint8_t> bytes = {0x00, 0x02, 0x00, 0x00, 0x00, 0x03};
  const uint8_t quiet[8] = {0x00, 0x03, 0, 0, 0, 0, 0, 0};
  const uint8_t unflagged[8] = {0x00, 0x50, 0, 0, 0, 0, 0, 0};
  bytes.insert(bytes.end(), quiet, quiet + 8);
  bytes.insert(bytes.end(), unflagged, unflagged + 8);
  const size_t headerAt = bytes.size() + 8;
  const uint8_t sound[8] = {0x80, 0x50, 0, 0, 0, 0, 0, uint8_t(headerAt)};
  bytes.insert(bytes.end(), sound, sound + 8);
  bytes.insert(bytes.end(), header.begin() + 20, header.end());
  bytes.resize(bytes.size() + dataBytesOf(layout));
  const Parsed p = parse(bytes);
  ASSERT_EQ(p.err, noErr);
  EXPECT_EQ(p.offset, headerAt + 64);
  EXPECT_EQ(p.frames, 4u);
  EXPECT_EQ(p.info.format, kTwosEncoding);
}

// Every mutation of a valid resource that makes it inconsistent.
TEST(SndResource, RefusesInconsistentResources) {
  const SndLayout stereo{2, 16, k44100, kSowtEncoding, 10};
  const std::vector<uint8_t> good = resourceOf(stereo, dataBytesOf(stereo));
  const size_t h = 20;  // header offset
  struct Mutation {
    const char* name;
    void (*apply)(std::vector<uint8_t>&);
  };
  const Mutation cases[] = {
      {"format 3", [](auto& b) { put16(b, 0, 3); }},
      {"negative modifier count", [](auto& b) { put16(b, 2, 0x8000); }},
      {"modifiers past the block", [](auto& b) { put16(b, 2, 0x7FFF); }},
      {"commands past the block", [](auto& b) { put16(b, 10, 0x7FFF); }},
      {"negative command count", [](auto& b) { put16(b, 10, 0xFFFF); }},
      {"no commands", [](auto& b) { put16(b, 10, 0); }},
      {"command without the data flag", [](auto& b) { put16(b, 12, 0x0051); }},
      {"command that is not a buffer command", [](auto& b) { put16(b, 12, 0x8003); }},
      {"header offset past the block", [](auto& b) { put32(b, 16, 0xFFFFFFF0); }},
      {"header running past the block", [](auto& b) {
         put32(b, 16, uint32_t(b.size() - 50));
         b[b.size() - 30] = 0xFE;
       }},
      {"unknown header kind", [](auto& b) { b[h + 20] = 0x7F; }},
      {"zero channels", [](auto& b) { put32(b, h + 4, 0); }},
      {"channels beyond 16 bits", [](auto& b) { put32(b, h + 4, 40000); }},
      {"sample size 0", [](auto& b) { put16(b, h + 62, 0); }},
      {"sample size 12", [](auto& b) { put16(b, h + 62, 12); }},
      {"sample size 64", [](auto& b) { put16(b, h + 62, 64); }},
      {"variable compression", [](auto& b) { put16(b, h + 56, 3); }},
      {"one frame more than the block holds", [](auto& b) { put32(b, h + 22, 11); }},
      {"frame bytes overflow 32 bits", [](auto& b) {
         put32(b, h + 4, 4);
         put16(b, h + 62, 32);
         put32(b, h + 22, 0x40000000);
       }},
      {"frames beyond 2^31 - 1", [](auto& b) { put32(b, h + 22, 0x80000000); }},
      {"data cut short", [](auto& b) { b.pop_back(); }},
  };
  ASSERT_EQ(parse(good).err, noErr);
  for (const Mutation& m : cases) {
    SCOPED_TRACE(m.name);
    std::vector<uint8_t> bytes = good;
    m.apply(bytes);
    EXPECT_EQ(parse(bytes).err, badFormat);
  }
}

TEST(SndResource, RefusesEveryTruncationOfTheHeader) {
  const SndLayout layouts[] = {{1, 8, k44100, kRawEncoding, 0}, {2, 16, k44100, kSowtEncoding, 0}};
  for (const SndLayout& layout : layouts) {
    const std::vector<uint8_t> good = resourceOf(layout, 0);
    ASSERT_EQ(parse(good).err, noErr);
    for (size_t n = 0; n < good.size(); ++n) {
      SCOPED_TRACE(n);
      EXPECT_EQ(parse(std::vector<uint8_t>(good.begin(), good.begin() + long(n))).err, badFormat);
    }
  }
  EXPECT_EQ(parseSndResource(nullptr, 100, nullptr, nullptr, nullptr), badFormat);
}

// Random damage to valid resources: whatever the parser accepts must lie
// inside the block (and AddressSanitizer checks that it never reads outside).
TEST(SndResource, RandomDamageNeverEscapesTheBlock) {
  std::mt19937 rng(12345);
  const SndLayout layouts[] = {{1, 8, k44100, kRawEncoding, 16},
                               {2, 16, k44100, kTwosEncoding, 8},
                               {3, 24, k44100, kSowtEncoding, 5}};
  for (int round = 0; round < 20000; ++round) {
    const SndLayout& layout = layouts[round % 3];
    std::vector<uint8_t> bytes = resourceOf(layout, dataBytesOf(layout));
    const int damage = 1 + int(rng() % 4);
    for (int i = 0; i < damage; ++i) bytes[rng() % bytes.size()] = uint8_t(rng());
    if (rng() % 4 == 0) bytes.resize(rng() % (bytes.size() + 1));
    const Parsed p = parse(bytes);
    if (p.err != noErr) {
      ASSERT_EQ(p.err, badFormat);
      continue;
    }
    const uint64_t frameBytes = uint64_t(p.info.numChannels) * uint64_t(p.info.sampleSize / 8);
    ASSERT_GT(p.info.numChannels, 0);
    ASSERT_LE(uint64_t(p.offset) + p.frames * frameBytes, bytes.size());
  }
}

TEST(SndResource, ParsesThroughAHandle) {
  EXPECT_EQ(parseSndHandle(nullptr, nullptr, nullptr, nullptr), nilHandleErr);
  Handle empty = newHandle(0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(parseSndHandle(empty, nullptr, nullptr, nullptr), badFormat);

  const SndLayout layout{1, 16, k44100, kSowtEncoding, 3};
  const std::vector<uint8_t> bytes = resourceOf(layout, 6);
  ASSERT_TRUE(setHandleSize(empty, uint32_t(bytes.size())));
  std::memcpy(*empty, bytes.data(), bytes.size());
  SoundComponentData info{};
  uint32_t frames = 0, offset = 0;
  EXPECT_EQ(parseSndHandle(empty, &info, &frames, &offset), noErr);
  EXPECT_EQ(frames, 3u);
  // The handle's size, not its reserved room, bounds the parse.
  ASSERT_TRUE(setHandleSize(empty, uint32_t(bytes.size() - 1)));
  EXPECT_EQ(parseSndHandle(empty, &info, &frames, &offset), badFormat);
  disposeHandle(empty);
}

}  // namespace
}  // namespace hx::media
