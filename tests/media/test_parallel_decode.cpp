// The fast paths against the serial decode, byte for byte: every file of
// the table is converted serially and then in pieces of 1, 2, 3, 7 and 40
// packets (a cut at every packet boundary, and cuts that fall anywhere) or
// read straight from the file, and the sound resources must be the same
// bytes. Also: the fast path taken is the one each kind should take, and a
// failure in a piece fails the open cleanly.
#include <gtest/gtest.h>
#include <dirent.h>
#include <stdlib.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/media_files.h"
#include "media/fast_decode.h"
#include "media/ffmpeg_backend.h"
#include "media/memory_handle.h"

namespace hx {
namespace {

using media::DecodePath;
using media::DecodeTuning;
using test::TempDir;

constexpr int kRate = 44100;

// A chord, a sweep and noise: every band busy, so that encoders use their
// whole toolbox (reservoir, joint stereo, short blocks).
std::vector<int16_t> busySignal(size_t frames, int channels, int rate, uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 1500.0);
  std::vector<int16_t> out;
  for (size_t i = 0; i < frames; ++i) {
    const double t = double(i) / rate;
    for (int c = 0; c < channels; ++c) {
      const double f = 220.0 * (c + 1);
      double v = 7000 * std::sin(2 * M_PI * f * t) + 5000 * std::sin(2 * M_PI * (300 + 3000 * t) * t) + noise(rng);
      if ((i / 4410) % 3 == 2) v *= 0.1;  // quiet stretches: transients between them
      out.push_back(int16_t(std::lrint(std::clamp(v, -32768.0, 32767.0))));
    }
  }
  return out;
}

struct Converted {
  OSErr err = noErr;
  std::vector<uint8_t> bytes;  // the whole sound resource
  DecodePath path = DecodePath::serial;
};

Converted convertWith(const std::string& path, const DecodeTuning& tuning) {
  const MediaOps& ops = media::ffmpegMediaOps();
  media::setDecodeTuning(tuning);
  Converted c;
  FSSpec location{};
  int16_t ref = 0, resId = 0;
  Movie movie = nullptr;
  EXPECT_EQ(ops.NativePathNameToFSSpec(path.c_str(), &location, 0), noErr);
  EXPECT_EQ(ops.OpenMovieFile(&location, &ref, 1), noErr);
  EXPECT_EQ(ops.NewMovieFromFile(&movie, ref, &resId, nullptr, 1, nullptr), noErr);
  ops.CloseMovieFile(ref);
  const Track track = ops.GetMovieIndTrackType(movie, 1, kAudioCharacteristic, 6);
  Handle h = ops.NewHandle(0);
  c.err = ops.PutMovieIntoTypedHandle(movie, track, kSoundResourceType, h, 0, ops.GetTrackDuration(track), 0,
                                      nullptr);
  c.path = media::lastDecodePath();
  c.bytes.assign(*h, *h + media::getHandleSize(h));
  ops.DisposeHandle(h);
  media::setDecodeTuning({});
  return c;
}

int threadsOfProcess() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

class FastPaths : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    ASSERT_TRUE(test::haveFfmpeg()) << "ffmpeg is needed";
    // Runtimes that start a helper thread with the first thread made (the
    // thread sanitizer's) do it now, before any thread is counted.
    std::thread([] {}).join();
  }
  void SetUp() override { handles = media::liveHandles(); }
  void TearDown() override {
    media::setDecodeTuning({});
    media::setSoundBytesLimit(UINT32_MAX);
    media::setOpenBudgets(std::chrono::milliseconds(media::kOpenBudgetMs),
                          std::chrono::milliseconds(media::kConvertBudgetMs));
    EXPECT_EQ(media::liveHandles(), handles);
    EXPECT_EQ(media::liveMovies(), 0);
  }
  std::string source(size_t frames, int channels, int rate = kRate) {
    const std::string path = dir.file("src-" + std::to_string(frames) + "-" + std::to_string(channels) + "-" +
                                      std::to_string(rate) + ".wav");
    EXPECT_TRUE(test::writeWav16(path, rate, channels, busySignal(frames, channels, rate, uint32_t(frames))));
    return path;
  }
  std::string encode(const std::string& from, const std::string& name, const std::vector<std::string>& args) {
    const std::string path = dir.file(name);
    std::vector<std::string> all = {"-i", from};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back(path);
    EXPECT_TRUE(test::runFfmpeg(all)) << name;
    return path;
  }

  TempDir dir;
  int64_t handles = 0;
};

struct Kind {
  const char* name;
  const char* extension;
  std::vector<std::string> args;  // ffmpeg's, after the input
  int channels;
  int rate;
  DecodePath path;  // the fast path it must take
};

// One packet (a few hundred frames), a handful, and many pieces.
constexpr size_t kLengths[] = {1000, 5000, 120000};
constexpr int kPieceSizes[] = {1, 2, 3, 7, 40};

TEST_F(FastPaths, EveryKindGivesTheSerialBytesWhereverItIsCut) {
  const Kind kinds[] = {
      {"MP3 CBR joint stereo", "mp3", {"-c:a", "libmp3lame", "-b:a", "128k"}, 2, kRate, DecodePath::parallel},
      {"MP3 CBR plain stereo", "mp3", {"-c:a", "libmp3lame", "-b:a", "160k", "-joint_stereo", "0"}, 2, kRate,
       DecodePath::parallel},
      {"MP3 VBR", "mp3", {"-c:a", "libmp3lame", "-q:a", "2"}, 2, kRate, DecodePath::parallel},
      {"MP3 mono", "mp3", {"-c:a", "libmp3lame", "-b:a", "64k"}, 1, kRate, DecodePath::parallel},
      // Tiny MPEG-2.5 frames: the reservoir reaches back over many of them.
      {"MP3 8 kbit/s at 8 kHz", "mp3", {"-c:a", "libmp3lame", "-b:a", "8k"}, 1, 8000, DecodePath::parallel},
      {"MP3 32 kbit/s MPEG-2 stereo", "mp3", {"-c:a", "libmp3lame", "-b:a", "32k"}, 2, 22050,
       DecodePath::parallel},
      // Its decoder's rounding carries on without end. (A lone MPEG audio
      // frame is too little for the raw demuxer's probe: in Matroska.)
      {"MP2 in Matroska", "mka", {"-c:a", "mp2", "-b:a", "192k"}, 2, kRate, DecodePath::serial},
      {"Vorbis", "ogg", {"-c:a", "libvorbis", "-q:a", "3"}, 2, kRate, DecodePath::parallel},
      {"Vorbis mono", "ogg", {"-c:a", "libvorbis", "-q:a", "0"}, 1, 22050, DecodePath::parallel},
      {"FLAC", "flac", {"-c:a", "flac"}, 2, kRate, DecodePath::parallel},
      {"FLAC small blocks", "flac", {"-c:a", "flac", "-frame_size", "576"}, 1, kRate, DecodePath::parallel},
      {"AAC in M4A", "m4a", {"-c:a", "aac", "-b:a", "128k"}, 2, kRate, DecodePath::serial},
      {"WAV 16-bit", "wav", {"-c:a", "pcm_s16le"}, 2, kRate, DecodePath::pcmDirect},
      {"WAV 8-bit", "wav", {"-c:a", "pcm_u8"}, 1, kRate, DecodePath::pcmDirect},
      {"AIFF 16-bit big-endian", "aiff", {"-c:a", "pcm_s16be"}, 2, kRate, DecodePath::pcmDirect},
      {"AIFF-C 16-bit little-endian", "aiff", {"-c:a", "pcm_s16le"}, 1, kRate, DecodePath::pcmDirect},
      {"AIFF 8-bit", "aiff", {"-c:a", "pcm_s8"}, 2, 22050, DecodePath::pcmDirect},
      {"CAF 16-bit big-endian", "caf", {"-c:a", "pcm_s16be"}, 2, kRate, DecodePath::pcmDirect},
      {"CAF 16-bit little-endian", "caf", {"-c:a", "pcm_s16le"}, 1, kRate, DecodePath::pcmDirect},
      {"CAF 8-bit", "caf", {"-c:a", "pcm_s8"}, 1, kRate, DecodePath::pcmDirect},
  };
  int round = 0;
  for (const Kind& k : kinds) {
    for (size_t frames : kLengths) {
      SCOPED_TRACE(std::string(k.name) + ", " + std::to_string(frames) + " frames");
      const std::string from = source(frames, k.channels, k.rate);
      const std::string path = encode(from, "t." + std::string(k.extension), k.args);
      const Converted serial = convertWith(path, {.serial = true});
      ASSERT_EQ(serial.err, noErr);
      ASSERT_EQ(serial.path, DecodePath::serial);
      ASSERT_GT(serial.bytes.size(), 100u);
      for (int piece : kPieceSizes) {
        SCOPED_TRACE("pieces of " + std::to_string(piece) + " packets");
        const int threadsBefore = threadsOfProcess();
        const Converted fast = convertWith(path, {.threads = 1 + round++ % 3, .piecePackets = piece});
        ASSERT_EQ(fast.err, noErr);
        EXPECT_EQ(fast.path, k.path);
        ASSERT_EQ(fast.bytes.size(), serial.bytes.size());
        EXPECT_EQ(std::memcmp(fast.bytes.data(), serial.bytes.data(), serial.bytes.size()), 0);
        EXPECT_EQ(threadsOfProcess(), threadsBefore) << "a decoding thread outlived the open";
        if (k.path != DecodePath::parallel) break;  // pieces mean nothing there
      }
    }
  }
}

TEST_F(FastPaths, TheSwitchForcesTheSerialPath) {
  const std::string wav = source(5000, 2);
  const std::string mp3 = encode(wav, "t.mp3", {"-c:a", "libmp3lame"});
  ASSERT_EQ(setenv(media::kSerialDecodeVariable, "1", 1), 0);
  const Converted a = convertWith(wav, {.piecePackets = 2});
  const Converted b = convertWith(mp3, {.piecePackets = 2});
  ASSERT_EQ(setenv(media::kSerialDecodeVariable, "0", 1), 0);
  const Converted c = convertWith(mp3, {.piecePackets = 2});
  unsetenv(media::kSerialDecodeVariable);
  EXPECT_EQ(a.path, DecodePath::serial);
  EXPECT_EQ(b.path, DecodePath::serial);
  EXPECT_EQ(c.path, DecodePath::parallel);
}

// Streams whose format changes midway, or that are damaged: the pieces
// must notice (a frame unlike the first, a packet that fails after the
// cut) and leave the track to the serial decode, or else agree with it.
TEST_F(FastPaths, StreamsThatChangeOrBreakMidwayStillGiveTheSerialBytes) {
  auto mp3 = [&](size_t frames, int channels, int rate, const std::string& name) {
    return test::readBytes(encode(source(frames, channels, rate), name,
                                  {"-c:a", "libmp3lame", "-b:a", "96k", "-write_xing", "0"}));
  };
  auto join = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  auto garble = [](std::vector<uint8_t> v, size_t at, size_t count) {
    std::mt19937 rng(3);
    for (size_t i = at; i < at + count && i < v.size(); ++i) v[i] = uint8_t(rng());
    return v;
  };
  const std::vector<uint8_t> flac = test::readBytes(encode(source(60000, 2), "b.flac", {"-c:a", "flac"}));
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* extension;
  } cases[] = {
      {"MP3 whose rate changes", join(mp3(30000, 2, 44100, "a1.mp3"), mp3(30000, 2, 48000, "a2.mp3")), "mp3"},
      {"MP3 going from mono to stereo", join(mp3(30000, 1, 44100, "b1.mp3"), mp3(30000, 2, 44100, "b2.mp3")), "mp3"},
      {"MP3 garbled midway", garble(mp3(60000, 2, 44100, "c.mp3"), 9000, 1500), "mp3"},
      {"FLAC garbled midway", garble(flac, flac.size() / 2, 3000), "flac"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(std::string("case.") + c.extension);
    ASSERT_TRUE(test::writeBytes(path, c.bytes));
    const Converted serial = convertWith(path, {.serial = true});
    ASSERT_EQ(serial.err, noErr);
    for (int piece : {1, 4, 30}) {
      SCOPED_TRACE(piece);
      const Converted fast = convertWith(path, {.threads = 2, .piecePackets = piece});
      ASSERT_EQ(fast.err, noErr);
      ASSERT_EQ(fast.bytes.size(), serial.bytes.size());
      EXPECT_EQ(std::memcmp(fast.bytes.data(), serial.bytes.data(), serial.bytes.size()), 0);
    }
  }
}

// WAV files whose layout our reading of the chunks and FFmpeg's could take
// differently: the direct read is taken only where both agree, and the
// sound is the serial one either way.
TEST_F(FastPaths, PcmReadDirectlyOnlyWhereFfmpegSeesTheSameData) {
  const std::vector<int16_t> samples = busySignal(3000, 2, kRate, 7);
  std::vector<uint8_t> pcm(samples.size() * 2);
  std::memcpy(pcm.data(), samples.data(), pcm.size());
  auto le32 = [](std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
  };
  auto chunk = [&](std::vector<uint8_t>& v, const char* id, const std::vector<uint8_t>& body, uint32_t size) {
    v.insert(v.end(), id, id + 4);
    le32(v, size);
    v.insert(v.end(), body.begin(), body.end());
    if (body.size() & 1) v.push_back(0);
  };
  const std::vector<uint8_t> fmt = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0};
  auto riff = [&](const std::vector<uint8_t>& chunks) {
    std::vector<uint8_t> v = {'R', 'I', 'F', 'F'};
    le32(v, uint32_t(chunks.size() + 4));
    v.insert(v.end(), {'W', 'A', 'V', 'E'});
    v.insert(v.end(), chunks.begin(), chunks.end());
    return v;
  };
  const uint32_t n = uint32_t(pcm.size());
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    DecodePath path;
  };
  std::vector<Case> cases;
  {
    std::vector<uint8_t> c;
    chunk(c, "fmt ", fmt, 16);
    chunk(c, "LIST", {'I', 'N', 'F', 'O', 'x'}, 5);  // odd: padded
    chunk(c, "data", pcm, n);
    chunk(c, "id3 ", {1, 2, 3, 4}, 4);
    cases.push_back({"chunks around the data, one padded", riff(c), DecodePath::pcmDirect});
  }
  {
    std::vector<uint8_t> c;
    chunk(c, "fmt ", fmt, 16);
    chunk(c, "data", std::vector<uint8_t>(pcm.begin(), pcm.end() - 3), n - 3);
    cases.push_back({"data not a whole number of frames", riff(c), DecodePath::pcmDirect});
  }
  {
    std::vector<uint8_t> c;
    chunk(c, "fmt ", fmt, 16);
    chunk(c, "data", pcm, n + 4000);
    cases.push_back({"truncated: the data chunk runs past the end", riff(c), DecodePath::pcmDirect});
  }
  {
    std::vector<uint8_t> c;
    chunk(c, "fmt ", fmt, 16);
    chunk(c, "data", pcm, 0xFFFFFFFF);
    cases.push_back({"streamed: unknown data length", riff(c), DecodePath::pcmDirect});
  }
  {
    std::vector<uint8_t> c;
    chunk(c, "fmt ", fmt, 16);
    chunk(c, "data", std::vector<uint8_t>(pcm.begin(), pcm.begin() + 4000), 4000);
    chunk(c, "data", std::vector<uint8_t>(pcm.begin() + 4000, pcm.end()), n - 4000);
    cases.push_back({"two data chunks", riff(c), DecodePath::serial});
  }
  {
    std::vector<uint8_t> c;
    chunk(c, "fmt ", fmt, 16);
    chunk(c, "data", std::vector<uint8_t>(pcm.begin(), pcm.begin() + 4000), 4000);
    chunk(c, "data", std::vector<uint8_t>(pcm.begin() + 4000, pcm.begin() + 8000), 4000);
    cases.push_back({"two data chunks of one length", riff(c), DecodePath::serial});
  }
  {
    std::vector<uint8_t> c;
    chunk(c, "fmt ", fmt, 16);
    chunk(c, "data", {}, 0);
    c.insert(c.end(), pcm.begin(), pcm.end());
    cases.push_back({"data length 0, samples after it", riff(c), DecodePath::serial});
  }
  {
    std::vector<uint8_t> f3 = fmt;
    f3[2] = 3;  // three channels: mixed down by the converter
    f3[12] = 6;
    std::vector<uint8_t> c;
    chunk(c, "fmt ", f3, 16);
    chunk(c, "data", std::vector<uint8_t>(pcm.begin(), pcm.begin() + 6000), 6000);
    cases.push_back({"three channels", riff(c), DecodePath::serial});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file("case.wav");
    ASSERT_TRUE(test::writeBytes(path, c.file));
    const Converted serial = convertWith(path, {.serial = true});
    const Converted fast = convertWith(path, {});
    ASSERT_EQ(serial.err, noErr);
    ASSERT_EQ(fast.err, noErr);
    EXPECT_EQ(fast.path, c.path);
    EXPECT_EQ(fast.bytes, serial.bytes);
  }
}

TEST_F(FastPaths, AFailureInAnyPieceFailsTheOpenAndFreesEverything) {
  const std::string wav = source(120000, 2);
  const std::string mp3 = encode(wav, "t.mp3", {"-c:a", "libmp3lame"});
  const std::string flac = encode(wav, "t.flac", {"-c:a", "flac"});
  struct Case {
    const char* name;
    std::string path;
    uint32_t limit;
    int convertMs;
    OSErr err;
  } cases[] = {
      {"MP3 past the sound cap", mp3, 200000, media::kConvertBudgetMs, soundTooLargeErr},
      {"FLAC past the sound cap", flac, 200000, media::kConvertBudgetMs, soundTooLargeErr},
      {"WAV past the sound cap", wav, 200000, media::kConvertBudgetMs, soundTooLargeErr},
      {"MP3 past the deadline", mp3, UINT32_MAX, 0, openTimedOutErr},
      {"WAV past the deadline", wav, UINT32_MAX, 0, openTimedOutErr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    media::setSoundBytesLimit(c.limit);
    media::setOpenBudgets(std::chrono::milliseconds(media::kOpenBudgetMs), std::chrono::milliseconds(c.convertMs));
    const int threadsBefore = threadsOfProcess();
    const Converted got = convertWith(c.path, {.threads = 2, .piecePackets = 5});
    EXPECT_EQ(got.err, c.err);
    EXPECT_TRUE(got.bytes.empty());
    EXPECT_EQ(threadsOfProcess(), threadsBefore);
    EXPECT_EQ(media::liveMovies(), 0);
  }
}

}  // namespace
}  // namespace hx
