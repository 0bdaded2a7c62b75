// The reader over the FFmpeg backend, on files generated and encoded at
// test time: every readable kind opens with the right rate, frame count and
// content; every bad one gives its own code and leaves nothing behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "audio/qt_file.h"
#include "common/media_files.h"
#include "media_leak_test.h"
#include "media/ffmpeg_backend.h"
#include "media/memory_handle.h"
#include "support/error_text.h"

namespace hx {
namespace {

using test::TempDir;

constexpr int kRate = 44100;
constexpr size_t kFrames = 22050;  // half a second
constexpr double kLeftHz = 440.0, kLeftAmp = 10000.0;
constexpr double kRightHz = 1000.0, kRightAmp = 6000.0;

std::vector<int16_t> leftTone(size_t frames = kFrames, double rate = kRate) {
  return test::toInt16(test::sine(frames, kLeftHz, rate, kLeftAmp));
}
std::vector<int16_t> rightTone(size_t frames = kFrames, double rate = kRate) {
  return test::toInt16(test::sine(frames, kRightHz, rate, kRightAmp, 0.5));
}
std::vector<int16_t> stereoTone() { return test::interleave({leftTone(), rightTone()}); }

// What a file should decode to.
struct Expect {
  double rate = kRate;
  int channels = 1;
  size_t frames = kFrames;
  std::vector<int16_t> samples;  // exact content (lossless); empty: check tones
  size_t frameSlack = 0;         // lossy codecs may pad or trim a little
  // Tone per channel for lossy content: frequency and amplitude.
  std::vector<std::pair<double, double>> tones;
};

struct Decoded {
  int32_t openResult = 0;
  double rate = 0;
  SoundHeaderInfo info{};
  std::vector<int16_t> samples;
};

Decoded openAndReadAll(const std::string& path) {
  Decoded d;
  zrQTfile reader(media::ffmpegMediaOps());
  d.openResult = reader.open(path.c_str());
  if (d.openResult != 0) return d;
  d.rate = reader.getSampleRate();
  if (reader.parseHeader(d.info) != 0) return d;
  const SoundFormat layout = reader.format.channels == 2 ? kFormatStereo16 : kFormatMono16;
  d.samples.resize(size_t(d.info.numFrames) * size_t(layout.channels));
  EXPECT_EQ(reader.readFrames(d.samples.data(), layout, 0, int32_t(d.info.numFrames)), 0);
  return d;
}

// Lossy content: each channel, away from the ends, is the tone it should be.
void expectTones(const Decoded& d, const Expect& e) {
  const size_t frames = d.samples.size() / size_t(e.channels);
  const size_t margin = frames / 5;
  for (size_t c = 0; c < e.tones.size(); ++c) {
    SCOPED_TRACE("channel " + std::to_string(c));
    const auto [hz, amplitude] = e.tones[c];
    const test::ToneFit fit = test::fitTone(d.samples.data() + margin * e.channels + c,
                                            frames - 2 * margin, size_t(e.channels), hz, e.rate);
    EXPECT_NEAR(fit.amplitude, amplitude, amplitude * 0.05);
    EXPECT_LT(fit.residualRms, amplitude * 0.05);
    EXPECT_LT(std::fabs(fit.dc), amplitude * 0.02);
  }
}

class OpenFiles : public test::MediaLeakTest {
 public:
  std::string wav16(const std::string& name, int rate, int channels,
                    const std::vector<int16_t>& samples) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(test::writeWav16(path, rate, channels, samples));
    return path;
  }
  std::string encoded(const std::string& source, const std::string& name,
                      std::vector<std::string> args) {
    const std::string path = dir.file(name);
    std::vector<std::string> all = {"-i", source};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back(path);
    EXPECT_TRUE(test::runFfmpeg(all)) << name;
    return path;
  }

  TempDir dir;
};

struct GoodFile {
  const char* name;
  std::function<std::string(OpenFiles&)> make;
  std::function<Expect()> expect;
};

TEST_F(OpenFiles, ReadableFilesGiveTheirRateFramesAndContent) {
  const GoodFile cases[] = {
      {"WAV 8-bit mono",
       [](OpenFiles& t) {
         std::vector<uint8_t> bytes;
         for (int16_t s : leftTone()) bytes.push_back(uint8_t((s >> 8) + 128));
         const std::string path = t.dir.file("u8.wav");
         EXPECT_TRUE(test::writeWav(path, {kRate, 1, 8, false, 0}, bytes));
         return path;
       },
       [] {
         Expect e;
         for (int16_t s : leftTone()) e.samples.push_back(int16_t((s >> 8) * 256));
         return e;
       }},
      {"WAV 16-bit mono", [](OpenFiles& t) { return t.wav16("m16.wav", kRate, 1, leftTone()); },
       [] { return Expect{kRate, 1, kFrames, leftTone(), 0, {}}; }},
      {"WAV 16-bit stereo", [](OpenFiles& t) { return t.wav16("s16.wav", kRate, 2, stereoTone()); },
       [] { return Expect{kRate, 2, kFrames, stereoTone(), 0, {}}; }},
      {"WAV 24-bit stereo: top 16 bits",
       [](OpenFiles& t) {
         std::vector<uint8_t> bytes;
         const std::vector<int16_t> s = stereoTone();
         for (size_t i = 0; i < s.size(); ++i) {
           const int32_t v = s[i] * 256 + int32_t(i % 256);  // low byte dropped on the way
           bytes.push_back(uint8_t(v));
           bytes.push_back(uint8_t(v >> 8));
           bytes.push_back(uint8_t(v >> 16));
         }
         const std::string path = t.dir.file("s24.wav");
         EXPECT_TRUE(test::writeWav(path, {kRate, 2, 24, false, 0}, bytes));
         return path;
       },
       [] { return Expect{kRate, 2, kFrames, stereoTone(), 0, {}}; }},
      {"WAV 32-bit float, over full scale clipped",
       [](OpenFiles& t) {
         std::vector<float> x;
         for (int16_t s : leftTone()) x.push_back(float(s) / 32768.0f);
         x[0] = 1.5f;
         x[1] = -1.5f;
         std::vector<uint8_t> bytes(x.size() * 4);
         std::memcpy(bytes.data(), x.data(), bytes.size());
         const std::string path = t.dir.file("f32.wav");
         EXPECT_TRUE(test::writeWav(path, {kRate, 1, 32, true, 0}, bytes));
         return path;
       },
       [] {
         Expect e{kRate, 1, kFrames, leftTone(), 0, {}};
         e.samples[0] = 32767;
         e.samples[1] = -32768;
         return e;
       }},
      {"AIFF 16-bit big-endian (sox)",
       [](OpenFiles& t) {
         const std::string path = t.dir.file("s16.aiff");
         EXPECT_TRUE(test::runSox({t.wav16("a.wav", kRate, 2, stereoTone()), path}));
         return path;
       },
       [] { return Expect{kRate, 2, kFrames, stereoTone(), 0, {}}; }},
      {"FLAC", [](OpenFiles& t) { return t.encoded(t.wav16("f.wav", kRate, 2, stereoTone()), "s.flac", {}); },
       [] { return Expect{kRate, 2, kFrames, stereoTone(), 0, {}}; }},
      {"WAV cut inside its data: the frames that are there",
       [](OpenFiles& t) {
         const std::string path = t.wav16("cut.wav", kRate, 2, stereoTone());
         std::vector<uint8_t> bytes = test::readBytes(path);
         bytes.resize(44 + 1000 * 4 + 3);  // 1000 frames and part of one more
         EXPECT_TRUE(test::writeBytes(path, bytes));
         return path;
       },
       [] {
         std::vector<int16_t> s = stereoTone();
         s.resize(2000);
         return Expect{kRate, 2, 1000, s, 0, {}};
       }},
      {"MP3",
       [](OpenFiles& t) {
         return t.encoded(t.wav16("m.wav", kRate, 2, stereoTone()), "s.mp3", {"-c:a", "libmp3lame", "-b:a", "192k"});
       },
       [] { return Expect{kRate, 2, kFrames, {}, 1152, {{kLeftHz, kLeftAmp}, {kRightHz, kRightAmp}}}; }},
      {"AAC in M4A",
       [](OpenFiles& t) {
         return t.encoded(t.wav16("a.wav", kRate, 2, stereoTone()), "s.m4a", {"-c:a", "aac", "-b:a", "192k"});
       },
       [] { return Expect{kRate, 2, kFrames, {}, 1024, {{kLeftHz, kLeftAmp}, {kRightHz, kRightAmp}}}; }},
      {"Ogg Vorbis",
       [](OpenFiles& t) {
         return t.encoded(t.wav16("v.wav", kRate, 2, stereoTone()), "s.ogg", {"-c:a", "libvorbis", "-q:a", "6"});
       },
       [] { return Expect{kRate, 2, kFrames, {}, 1024, {{kLeftHz, kLeftAmp}, {kRightHz, kRightAmp}}}; }},
      {"MP4 movie with video and audio",
       [](OpenFiles& t) {
         const std::string path = t.dir.file("movie.mp4");
         EXPECT_TRUE(test::runFfmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=0.5",
                                      "-i", t.wav16("mv.wav", kRate, 1, leftTone()), "-map", "0:v",
                                      "-map", "1:a", "-c:v", "mpeg4", "-c:a", "aac", "-b:a", "128k",
                                      path}));
         return path;
       },
       [] { return Expect{kRate, 1, kFrames, {}, 1024, {{kLeftHz, kLeftAmp}}}; }},
      {"MOV with two audio tracks, the first disabled: the second",
       [](OpenFiles& t) {
         const std::string path = t.dir.file("two.mov");
         std::vector<int16_t> other = test::toInt16(test::sine(kFrames, 3000.0, kRate, 2000.0));
         EXPECT_TRUE(test::runFfmpeg({"-i", t.wav16("t1.wav", kRate, 1, other), "-i",
                                      t.wav16("t2.wav", kRate, 2, stereoTone()), "-map", "0:a",
                                      "-map", "1:a", "-c:a", "pcm_s16le", "-disposition:a:0", "0",
                                      "-disposition:a:1", "default", path}));
         return path;
       },
       [] { return Expect{kRate, 2, kFrames, stereoTone(), 0, {}}; }},
      {"96 kHz resampled to 48 kHz",
       [](OpenFiles& t) {
         return t.wav16("hi.wav", 96000, 1, test::toInt16(test::sine(48000, kRightHz, 96000, kRightAmp)));
       },
       [] { return Expect{48000, 1, 24000, {}, 64, {{kRightHz, kRightAmp}}}; }},
  };
  for (const GoodFile& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.make(*this);
    const Expect e = c.expect();
    const Decoded d = openAndReadAll(path);
    ASSERT_EQ(d.openResult, 0);
    EXPECT_EQ(d.rate, e.rate);
    EXPECT_EQ(d.info.numChannels, e.channels);
    EXPECT_EQ(d.info.sampleSize, 16);
    EXPECT_EQ(d.info.format, kSowtEncoding);
    EXPECT_NEAR(double(d.info.numFrames), double(e.frames), double(e.frameSlack));
    if (!e.samples.empty()) {
      ASSERT_EQ(d.samples.size(), e.samples.size());
      for (size_t i = 0; i < e.samples.size(); ++i)
        ASSERT_EQ(d.samples[i], e.samples[i]) << "sample " << i;
    }
    expectTones(d, e);
  }
}

// The default downmix keeps front left out of the right channel and puts
// the centre equally in both.
TEST_F(OpenFiles, SurroundMixdownKeepsChannelsApart) {
  const std::vector<int16_t> silence(kFrames, 0);
  const std::vector<int16_t> centre = test::toInt16(test::sine(kFrames, kRightHz, kRate, 8000.0));
  const std::vector<int16_t> s = test::interleave({leftTone(), silence, centre, silence, silence, silence});
  std::vector<uint8_t> bytes(s.size() * 2);
  std::memcpy(bytes.data(), s.data(), bytes.size());
  const std::string path = dir.file("surround.wav");
  ASSERT_TRUE(test::writeWav(path, {kRate, 6, 16, false, 0x3F}, bytes));
  const Decoded d = openAndReadAll(path);
  ASSERT_EQ(d.openResult, 0);
  ASSERT_EQ(d.info.numChannels, 2);
  const size_t n = d.samples.size() / 2;
  auto amp = [&](size_t channel, double hz) {
    return test::fitTone(d.samples.data() + channel, n, 2, hz, kRate).amplitude;
  };
  EXPECT_GT(amp(0, kLeftHz), 1000.0);
  EXPECT_LT(amp(1, kLeftHz), 2.0);
  EXPECT_GT(amp(0, kRightHz), 1000.0);
  EXPECT_NEAR(amp(0, kRightHz), amp(1, kRightHz), 2.0);
}

// Runs body while this process may not read files of mode 000. Root reads
// anything, so as root the body runs as user nobody.
class Unprivileged {
 public:
  Unprivileged() : wasRoot_(geteuid() == 0) {
    if (wasRoot_) dropped_ = seteuid(65534) == 0;
  }
  ~Unprivileged() {
    if (wasRoot_ && dropped_) {
      EXPECT_EQ(seteuid(0), 0);
    }
  }
  bool ok() const { return !wasRoot_ || dropped_; }

 private:
  bool wasRoot_;
  bool dropped_ = false;
};

struct BadFile {
  const char* name;
  std::function<std::string(OpenFiles&)> make;
  int32_t code;
};

TEST_F(OpenFiles, BadFilesGiveTheirCodeAndLeaveNothingAllocated) {
  const BadFile cases[] = {
      {"empty path", [](OpenFiles&) { return std::string(); }, paramErr},
      {"missing file", [](OpenFiles& t) { return t.dir.file("nothing-here.wav"); }, fnfErr},
      {"missing folder", [](OpenFiles& t) { return t.dir.file("no/such.wav"); }, fnfErr},
      {"a directory", [](OpenFiles& t) { return t.dir.path(); }, notAFileErr},
      {"zero-byte file",
       [](OpenFiles& t) {
         const std::string path = t.dir.file("empty.wav");
         EXPECT_TRUE(test::writeBytes(path, {}));
         return path;
       },
       invalidMovie},
      {"WAV cut inside its header",
       [](OpenFiles& t) {
         const std::string path = t.wav16("head.wav", kRate, 1, leftTone());
         std::vector<uint8_t> bytes = test::readBytes(path);
         bytes.resize(20);
         EXPECT_TRUE(test::writeBytes(path, bytes));
         return path;
       },
       invalidMovie},
      {"M4A cut before its index",
       [](OpenFiles& t) {
         const std::string path = t.encoded(t.wav16("c.wav", kRate, 1, leftTone()), "cut.m4a", {"-c:a", "aac"});
         std::vector<uint8_t> bytes = test::readBytes(path);
         bytes.resize(bytes.size() / 2);
         EXPECT_TRUE(test::writeBytes(path, bytes));
         return path;
       },
       invalidMovie},
      {"random bytes named .wav",
       [](OpenFiles& t) {
         std::mt19937 rng(7);
         std::vector<uint8_t> bytes(4096);
         for (uint8_t& b : bytes) b = uint8_t(rng());
         const std::string path = t.dir.file("noise.wav");
         EXPECT_TRUE(test::writeBytes(path, bytes));
         return path;
       },
       invalidMovie},
      {"movie without audio",
       [](OpenFiles& t) {
         const std::string path = t.dir.file("video.mp4");
         EXPECT_TRUE(test::runFfmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=0.5",
                                      "-c:v", "mpeg4", path}));
         return path;
       },
       invalidTrack},
  };
  for (const BadFile& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.make(*this);
    zrQTfile reader(media::ffmpegMediaOps());
    EXPECT_EQ(reader.open(path.c_str()), c.code);
    EXPECT_FALSE(reader.isOpen());
    EXPECT_EQ(reader.getSampleRate(), 0.0);
    EXPECT_EQ(media::liveMovies(), 0);
  }
}

// A step failing after the movie is made used to leave the movie in the
// backend until unload.
TEST_F(OpenFiles, FailedOpenLeavesNothingBehind) {
  const std::string path = wav16("m.wav", kRate, 1, leftTone());
  struct Case {
    const char* name;
    void (*spoil)(MediaOps&);
    int32_t code;
  };
  const Case cases[] = {
      {"no sound buffer", [](MediaOps& o) { o.NewHandle = [](int32_t) -> Handle { return nullptr; }; },
       errNotEnoughMemory},
      {"conversion refused before the backend saw it",
       [](MediaOps& o) {
         o.PutMovieIntoTypedHandle = [](Movie, Track, OSType, Handle, TimeValue, TimeValue, int32_t,
                                        void*) -> OSErr { return codecErr; };
       },
       codecErr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MediaOps ops = media::ffmpegMediaOps();
    c.spoil(ops);
    zrQTfile reader(ops);
    EXPECT_EQ(reader.open(path.c_str()), c.code);
    EXPECT_FALSE(reader.isOpen());
    EXPECT_EQ(media::liveMovies(), 0) << "while the reader still lives";
    EXPECT_EQ(media::liveHandles(), handles);
  }
}

// A second open of the same reader used to lose the first sound buffer.
TEST_F(OpenFiles, OpeningAnOpenReaderAgainKeepsOneBuffer) {
  const std::string first = wav16("first.wav", kRate, 1, leftTone());
  const std::string second = wav16("second.wav", 8000, 1, leftTone(1000, 8000));
  zrQTfile reader(media::ffmpegMediaOps());
  ASSERT_EQ(reader.open(first.c_str()), 0);
  ASSERT_EQ(media::liveHandles(), handles + 1);
  ASSERT_EQ(reader.open(second.c_str()), 0);
  EXPECT_EQ(media::liveHandles(), handles + 1) << "the first buffer was released";
  EXPECT_EQ(reader.getSampleRate(), 8000.0);
  EXPECT_NE(reader.open(dir.file("missing.wav").c_str()), 0);
  EXPECT_FALSE(reader.isOpen()) << "a failed reopen leaves the reader closed, not on the old file";
  EXPECT_EQ(media::liveHandles(), handles);
}

TEST_F(OpenFiles, UnreadableFileIsAPermissionError) {
  const std::string path = wav16("locked.wav", kRate, 1, leftTone());
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  Unprivileged nobody;
  ASSERT_TRUE(nobody.ok());
  zrQTfile reader(media::ffmpegMediaOps());
  EXPECT_EQ(reader.open(path.c_str()), permErr);
  EXPECT_FALSE(reader.isOpen());
}

}  // namespace
}  // namespace hx
