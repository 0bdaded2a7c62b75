// Damaged and hostile files through the reader and the FFmpeg layer: every
// one either opens to a sound that can be read whole, or fails with one of
// the layer's codes; none crashes, leaks, blocks or decodes past the cap.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "audio/open_failures.h"
#include "audio/qt_file.h"
#include "common/media_files.h"
#include "media_leak_test.h"
#include "media/ffmpeg_backend.h"
#include "media/memory_handle.h"
#include "media/track_decoder.h"
#include "support/error_text.h"

namespace hx {
namespace {

using test::TempDir;

constexpr int kRate = 22050;

std::vector<int16_t> tone(size_t frames) {
  return test::toInt16(test::sine(frames, 441.0, kRate, 12000.0));
}

void put16le(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void put32le(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
void put16be(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v >> 8);
  b[at + 1] = uint8_t(v);
}
void put32be(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (24 - 8 * i));
}
// Offset of the first chunk named id (4 bytes) at or after 12, or 0.
size_t chunkAt(const std::vector<uint8_t>& b, const char* id) {
  for (size_t i = 12; i + 8 <= b.size(); ++i)
    if (std::memcmp(&b[i], id, 4) == 0) return i;
  return 0;
}

// What a file can bring about: its content, or memory it claims to need.
bool isAFilesFault(int32_t code) {
  const OpenFailure* f = findOpenFailure(code);
  return f != nullptr &&
         (f->cause == OpenFailureCause::content || f->cause == OpenFailureCause::memory);
}

class HostileFiles : public test::MediaLeakTest {
 public:
  void TearDown() override {
    media::setOpenBudgets(std::chrono::milliseconds(media::kOpenBudgetMs),
                          std::chrono::milliseconds(media::kConvertBudgetMs));
    media::setSoundBytesLimit(UINT32_MAX);
    MediaLeakTest::TearDown();
  }

  // Sources of every kind, 0.4 s long.
  std::vector<std::pair<std::string, std::string>> sources() {
    const std::string wav = dir.file("src.wav");
    EXPECT_TRUE(test::writeWav16(wav, kRate, 2, test::interleave({tone(8820), tone(8820)})));
    std::vector<std::pair<std::string, std::string>> out = {{"WAV", wav}};
    const struct {
      const char* name;
      const char* file;
      std::vector<std::string> args;
    } encoded[] = {
        {"AIFF", "s.aiff", {"-c:a", "pcm_s16be"}},
        {"FLAC", "s.flac", {}},
        {"MP3", "s.mp3", {"-c:a", "libmp3lame"}},
        {"Ogg", "s.ogg", {"-c:a", "libvorbis"}},
        {"M4A", "s.m4a", {"-c:a", "aac"}},
    };
    for (const auto& e : encoded) {
      std::vector<std::string> args = {"-i", wav};
      args.insert(args.end(), e.args.begin(), e.args.end());
      args.push_back(dir.file(e.file));
      EXPECT_TRUE(test::runFfmpeg(args)) << e.name;
      out.push_back({e.name, dir.file(e.file)});
    }
    const std::string mov = dir.file("s.mov");
    EXPECT_TRUE(test::runFfmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=0.4", "-i",
                                 wav, "-c:v", "mpeg4", "-c:a", "aac", "-shortest", mov}));
    out.push_back({"MOV with video", mov});
    return out;
  }

  // Opens path; a file that opens must read whole. The open's code.
  int32_t tryOpen(const std::string& path) {
    zrQTfile reader(media::ffmpegMediaOps());
    const int32_t code = reader.open(path.c_str());
    if (code != 0) {
      EXPECT_TRUE(isAFilesFault(code)) << "unexpected code " << code;
      EXPECT_FALSE(reader.isOpen());
      return code;
    }
    SoundHeaderInfo info{};
    EXPECT_EQ(reader.parseHeader(info), 0);
    EXPECT_GT(reader.getSampleRate(), 0.0);
    EXPECT_LE(uint64_t(info.numFrames) * uint64_t(frameBytes(reader.format)), kMaxSoundBytes);
    std::vector<int16_t> mono(size_t(info.numFrames) + 1);
    EXPECT_EQ(reader.readFrames(mono.data(), kFormatMono16, 0, int32_t(info.numFrames)), 0);
    return 0;
  }

  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(test::writeBytes(path, bytes));
    return path;
  }

  TempDir dir;
};

TEST_F(HostileFiles, TruncatedAndBitFlippedFilesOpenOrFailWithACode) {
  int tried = 0;
  for (const auto& [name, path] : sources()) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> whole = test::readBytes(path);
    ASSERT_GT(whole.size(), 512u);
    EXPECT_EQ(tryOpen(path), 0) << "the undamaged file opens";
    for (size_t eighth = 0; eighth < 8; ++eighth) {
      SCOPED_TRACE("cut at " + std::to_string(eighth) + "/8");
      std::vector<uint8_t> cut(whole.begin(), whole.begin() + whole.size() * eighth / 8);
      tryOpen(write("cut", cut));
      ++tried;
    }
    for (uint32_t seed = 1; seed <= 16; ++seed) {
      SCOPED_TRACE("flips of seed " + std::to_string(seed));
      std::mt19937 rng(seed);
      std::vector<uint8_t> flipped = whole;
      for (int i = 0; i < 8; ++i) flipped[rng() % 512] ^= uint8_t(1u << (rng() % 8));
      tryOpen(write("flipped", flipped));
      ++tried;
    }
  }
  EXPECT_EQ(tried, 7 * 24);
}

TEST_F(HostileFiles, AbsurdHeaderFieldsOpenOrFailWithACode) {
  const std::string wavPath = dir.file("h.wav");
  ASSERT_TRUE(test::writeWav16(wavPath, kRate, 1, tone(4410)));
  const std::vector<uint8_t> wav = test::readBytes(wavPath);
  const std::string aiffPath = dir.file("h.aiff");
  ASSERT_TRUE(test::runFfmpeg({"-i", wavPath, "-c:a", "pcm_s16be", aiffPath}));
  const std::vector<uint8_t> aiff = test::readBytes(aiffPath);
  const size_t fmt = chunkAt(wav, "fmt ") + 8, data = chunkAt(wav, "data");
  const size_t comm = chunkAt(aiff, "COMM") + 8;
  ASSERT_GT(fmt, 8u);
  ASSERT_GT(data, 0u);
  ASSERT_GT(comm, 8u);

  using Edit = std::function<void(std::vector<uint8_t>&)>;
  const struct {
    const char* name;
    bool isWav;
    Edit edit;
  } cases[] = {
      {"WAV data size 0xFFFFFFF0", true, [&](auto& b) { put32le(b, data + 4, 0xFFFFFFF0); }},
      {"WAV channels 0", true, [&](auto& b) { put16le(b, fmt + 2, 0); }},
      {"WAV channels 65535", true, [&](auto& b) { put16le(b, fmt + 2, 65535); }},
      {"WAV rate 0", true, [&](auto& b) { put32le(b, fmt + 4, 0); }},
      {"WAV rate 1", true, [&](auto& b) { put32le(b, fmt + 4, 1); }},
      {"WAV rate 0xFFFFFFFF", true, [&](auto& b) { put32le(b, fmt + 4, 0xFFFFFFFF); }},
      {"WAV bits 0", true, [&](auto& b) { put16le(b, fmt + 14, 0); }},
      {"WAV bits 7", true, [&](auto& b) { put16le(b, fmt + 14, 7); }},
      {"WAV bits 64", true, [&](auto& b) { put16le(b, fmt + 14, 64); }},
      {"WAV block align 0", true, [&](auto& b) { put16le(b, fmt + 12, 0); }},
      {"AIFF frames 0xFFFFFFF0", false, [&](auto& b) { put32be(b, comm + 2, 0xFFFFFFF0); }},
      {"AIFF channels 0", false, [&](auto& b) { put16be(b, comm, 0); }},
      {"AIFF channels 65535", false, [&](auto& b) { put16be(b, comm, 65535); }},
      {"AIFF bits 0", false, [&](auto& b) { put16be(b, comm + 6, 0); }},
      {"AIFF bits 7", false, [&](auto& b) { put16be(b, comm + 6, 7); }},
      {"AIFF bits 64", false, [&](auto& b) { put16be(b, comm + 6, 64); }},
      // 80-bit extended rate: exponent field, then the mantissa.
      {"AIFF rate 0", false, [&](auto& b) { std::memset(&b[comm + 8], 0, 10); }},
      {"AIFF rate huge", false, [&](auto& b) { put16be(b, comm + 8, 0x7FFE); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = c.isWav ? wav : aiff;
    c.edit(bytes);
    tryOpen(write(c.isWav ? "absurd.wav" : "absurd.aiff", bytes));
  }
}

// A header claiming a gigahertz kept the resampler's set-up busy for half a
// minute and gigabytes before the open failed (or even succeeded). Rates
// above the highest accepted one fail at once; the highest still opens.
TEST_F(HostileFiles, RatesAboveTheHighestFailWithTheirOwnCode) {
  const std::string wavPath = dir.file("r.wav");
  ASSERT_TRUE(test::writeWav16(wavPath, kRate, 1, tone(64)));
  const std::vector<uint8_t> wav = test::readBytes(wavPath);
  const size_t fmt = chunkAt(wav, "fmt ") + 8;
  ASSERT_GT(fmt, 8u);
  const struct {
    uint32_t rate;
    int32_t code;
  } cases[] = {
      {uint32_t(media::kHighestInputRate), noErr},
      {uint32_t(media::kHighestInputRate) + 1, rateTooHighErr},
      {1194196991u, rateTooHighErr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    std::vector<uint8_t> bytes = wav;
    put32le(bytes, fmt + 4, c.rate);
    put32le(bytes, fmt + 8, c.rate * 2);  // bytes per second
    EXPECT_EQ(tryOpen(write("rate.wav", bytes)), c.code);
  }
}

// A sparse 6 GiB WAV claiming 0xFFFFFFF0 bytes of data kept the demuxer
// busy for minutes inside the open.
TEST_F(HostileFiles, OpenThatOutrunsItsDeadlineFailsWithItsOwnCode) {
  std::vector<uint8_t> head = test::readBytes([&] {
    const std::string p = dir.file("head.wav");
    EXPECT_TRUE(test::writeWav16(p, kRate, 1, tone(16)));
    return p;
  }());
  put32le(head, 4, 0xFFFFFFF8);
  put32le(head, chunkAt(head, "data") + 4, 0xFFFFFFF0);
  const std::string path = write("sparse.wav", head);
  ASSERT_EQ(truncate(path.c_str(), off_t(6) << 30), 0);
  media::setOpenBudgets(std::chrono::milliseconds(300), std::chrono::milliseconds(300));
  zrQTfile reader(media::ffmpegMediaOps());
  EXPECT_EQ(reader.open(path.c_str()), openTimedOutErr);
  EXPECT_FALSE(reader.isOpen());
}

// The decoder stops at the cap on the decoded size, and its buffer never
// grows past the cap on the way.
TEST_F(HostileFiles, TrackOverTheSoundCapFailsWithoutAllocatingPastIt) {
  const std::string wav = dir.file("long.wav");
  ASSERT_TRUE(test::writeWav16(wav, kRate, 1, tone(kRate * 4)));  // 176 kB of sound
  const std::string flac = dir.file("long.flac");
  ASSERT_TRUE(test::runFfmpeg({"-i", wav, flac}));
  constexpr uint32_t kCap = 100'000;
  for (const std::string& path : {wav, flac}) {
    SCOPED_TRACE(path);
    media::setSoundBytesLimit(kCap);
    media::resetPeakHandleCapacity();
    zrQTfile reader(media::ffmpegMediaOps());
    EXPECT_EQ(reader.open(path.c_str()), soundTooLargeErr);
    EXPECT_LE(media::peakHandleCapacity(), kCap);
    EXPECT_FALSE(reader.isOpen());
  }
  media::setSoundBytesLimit(UINT32_MAX);
  zrQTfile reader(media::ffmpegMediaOps());
  EXPECT_EQ(reader.open(wav.c_str()), 0) << "the default cap holds the file";
}

TEST_F(HostileFiles, SoundCapIsTheStatedOneAndFitsTheAddressSpace) {
  EXPECT_EQ(kMaxSoundBytes, sizeof(void*) == 4 ? 512u << 20 : 2048u << 20);
  // A fresh process, so that no earlier test has set the limit yet.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(media::soundBytesLimit() == kMaxSoundBytes ? 0 : 1),
              ::testing::ExitedWithCode(0), "")
      << "the backend starts at the cap";
  media::setSoundBytesLimit(UINT32_MAX);
  EXPECT_EQ(media::soundBytesLimit(), kMaxSoundBytes) << "and cannot be raised past it";
  EXPECT_LE(uint64_t(kMaxSoundBytes) / 2, uint64_t(INT32_MAX)) << "frames stay 32-bit counts";
}

}  // namespace
}  // namespace hx
