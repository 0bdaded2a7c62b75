// The shared media probe on files encoded at test time: the frame count is
// what ffmpeg decodes at the module's rate and what the module's sound
// buffer holds, for every kind of file and whichever way the module decodes
// it (serially, or by a fast path); the probe and the module choose the
// same track; failures say why.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "audio/qt_file.h"
#include "common/media_files.h"
#include "media/fast_decode.h"
#include "media/ffmpeg_backend.h"
#include "media/frame_count.h"
#include "media/media_probe.h"
#include "media_leak_test.h"

namespace hx {
namespace {

using test::TempDir;

constexpr int kRate = 44100;
constexpr size_t kFrames = 33957;  // 0.77 s: a whole number of no codec's frames

std::vector<int16_t> stereoTone(size_t frames = kFrames, int rate = kRate) {
  return test::interleave({test::toInt16(test::sine(frames, 440.0, rate, 9000.0)),
                           test::toInt16(test::sine(frames, 1000.0, rate, 5000.0, 0.5))});
}

// Frames ffmpeg's own decode of the first audio track gives at rate.
int64_t ffmpegFrames(const TempDir& dir, const std::string& path, double rate) {
  const std::string raw = dir.file("decoded.raw");
  EXPECT_TRUE(test::runFfmpeg({"-i", path, "-map", "0:a:0", "-f", "s16le", "-ac", "1", "-ar",
                               std::to_string(int(rate)), raw}));
  return int64_t(test::readBytes(raw).size() / 2);
}

struct ModuleView {
  int32_t openResult = -1;
  double rate = 0;
  int64_t frames = -1;
};

ModuleView openInModule(const std::string& path) {
  ModuleView v;
  zrQTfile reader(media::ffmpegMediaOps());
  v.openResult = reader.open(path.c_str());
  SoundHeaderInfo info{};
  if (v.openResult != 0 || reader.parseHeader(info) != 0) return v;
  v.rate = reader.getSampleRate();
  v.frames = int64_t(info.numFrames);
  return v;
}

class MediaProbe : public test::MediaLeakTest {
 public:

  std::string wav(const std::string& name, int rate, const std::vector<int16_t>& stereo) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(test::writeWav16(path, rate, 2, stereo));
    return path;
  }
  std::string encoded(const std::string& name, std::vector<std::string> args) {
    const std::string path = dir.file(name);
    std::vector<std::string> all = {"-i", wav("src-" + name + ".wav", kRate, stereoTone())};
    all.insert(all.end(), args.begin(), args.end());
    all.push_back(path);
    EXPECT_TRUE(test::runFfmpeg(all)) << name;
    return path;
  }

  TempDir dir;
};

struct CountCase {
  const char* name;
  std::function<std::string(MediaProbe&)> make;
  double rate;  // the module reads at
  media::DecodePath fast;  // the way the module takes when not held to the serial one
};

// The container's estimate was off by up to 1782 frames on these, and a
// truncated MP3 kept its stated length.
TEST_F(MediaProbe, FrameCountIsWhatTheModuleHoldsAndWhatFfmpegDecodes) {
  const CountCase cases[] = {
      {"WAV", [](MediaProbe& t) { return t.wav("s.wav", kRate, stereoTone()); }, kRate,
       media::DecodePath::pcmDirect},
      {"WAV at 96 kHz, resampled to 48 kHz",
       [](MediaProbe& t) { return t.wav("hi.wav", 96000, stereoTone(73919, 96000)); }, 48000,
       media::DecodePath::serial},
      {"FLAC", [](MediaProbe& t) { return t.encoded("s.flac", {}); }, kRate,
       media::DecodePath::parallel},
      {"MP3", [](MediaProbe& t) { return t.encoded("s.mp3", {"-c:a", "libmp3lame", "-b:a", "128k"}); },
       kRate, media::DecodePath::parallel},
      {"AAC in M4A", [](MediaProbe& t) { return t.encoded("s.m4a", {"-c:a", "aac", "-b:a", "128k"}); },
       kRate, media::DecodePath::serial},
      {"Opus in Ogg", [](MediaProbe& t) { return t.encoded("s.opus", {"-c:a", "libopus"}); }, 48000,
       media::DecodePath::serial},
      {"Vorbis in Ogg", [](MediaProbe& t) { return t.encoded("s.ogg", {"-c:a", "libvorbis"}); },
       kRate, media::DecodePath::parallel},
      {"MP4 movie with video",
       [](MediaProbe& t) {
         const std::string path = t.dir.file("movie.mp4");
         EXPECT_TRUE(test::runFfmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1",
                                      "-i", t.wav("mv.wav", kRate, stereoTone()), "-map", "0:v",
                                      "-map", "1:a", "-c:v", "mpeg4", "-c:a", "aac", "-shortest",
                                      path}));
         return path;
       },
       kRate, media::DecodePath::serial},
      {"MP3 cut in half",
       [](MediaProbe& t) {
         const std::string path = t.encoded("cut.mp3", {"-c:a", "libmp3lame", "-b:a", "128k"});
         std::vector<uint8_t> bytes = test::readBytes(path);
         bytes.resize(bytes.size() / 2);
         EXPECT_TRUE(test::writeBytes(path, bytes));
         return path;
       },
       kRate, media::DecodePath::parallel},
  };
  // Held to the serial decode, and free to take a fast path, with pieces
  // short enough that these short files are cut into several.
  const struct {
    const char* name;
    media::DecodeTuning tuning;
    bool fast;
  } ways[] = {{"serial", {.serial = true}, false}, {"fast", {.threads = 2, .piecePackets = 3}, true}};
  for (const CountCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.make(*this);
    int64_t frames = -1;
    std::string why;
    ASSERT_TRUE(media::countDecodedFrames(path, c.rate, &frames, &why)) << why;
    for (const auto& way : ways) {
      SCOPED_TRACE(way.name);
      media::setDecodeTuning(way.tuning);
      const ModuleView module = openInModule(path);
      const media::DecodePath taken = media::lastDecodePath();
      media::setDecodeTuning({});
      ASSERT_EQ(module.openResult, 0);
      ASSERT_EQ(module.rate, c.rate);
      EXPECT_EQ(taken, way.fast ? c.fast : media::DecodePath::serial);
      EXPECT_EQ(frames, module.frames) << "the module's sound buffer";
    }
    EXPECT_EQ(frames, ffmpegFrames(dir, path, c.rate)) << "ffmpeg's decode";
    int64_t own = -1;
    int ownRate = 0;
    ASSERT_TRUE(media::countDecodedFramesAtOwnRate(path, &own, &ownRate, &why)) << why;
    EXPECT_EQ(own, frames);
    EXPECT_EQ(ownRate, int(c.rate));
  }
}

// A rate the module reads at that is not the layer's own choice is the
// one counted at.
TEST_F(MediaProbe, CountFollowsTheModulesRate) {
  const std::string path = wav("s.wav", kRate, stereoTone());
  struct Case {
    double moduleRate;
    int64_t frames;
  };
  const Case cases[] = {
      {kRate, int64_t(kFrames)},
      {22050, ffmpegFrames(dir, path, 22050)},
      {11025.5, int64_t(kFrames)},  // not a whole number of Hz: the layer's own rate
      {0, int64_t(kFrames)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.moduleRate);
    int64_t frames = -1;
    std::string why;
    ASSERT_TRUE(media::countDecodedFrames(path, c.moduleRate, &frames, &why)) << why;
    EXPECT_EQ(frames, c.frames);
  }
}

// Two audio tracks of different lengths, the first disabled: the probe,
// the count and the module all take the second.
TEST_F(MediaProbe, ProbeCountAndModuleChooseTheSameTrack) {
  const std::string path = dir.file("two.mkv");
  ASSERT_TRUE(test::runFfmpeg({"-i", wav("a.wav", 16000, stereoTone(8000, 16000)), "-i",
                               wav("b.wav", 32000, stereoTone(24000, 32000)), "-map", "0:a",
                               "-map", "1:a", "-c:a", "pcm_s16le", "-disposition:a:0", "0",
                               "-disposition:a:1", "default", path}));
  media::MediaFacts facts;
  std::string why;
  ASSERT_TRUE(media::probeMedia(path, &facts, &why)) << why;
  EXPECT_EQ(facts.audioTracks, 2);
  EXPECT_EQ(facts.trackNumber, 2);
  EXPECT_EQ(facts.streamIndex, 1);
  EXPECT_EQ(facts.storedRate, 32000);
  int64_t frames = -1;
  ASSERT_TRUE(media::countDecodedFrames(path, 32000, &frames, &why)) << why;
  EXPECT_EQ(frames, 24000);
  const ModuleView module = openInModule(path);
  EXPECT_EQ(module.rate, 32000.0);
  EXPECT_EQ(module.frames, 24000);
}

// Runs in a folder, back in the one it came from when it ends.
class InFolder {
 public:
  explicit InFolder(const std::string& dir) : back_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~InFolder() { std::filesystem::current_path(back_); }

 private:
  std::filesystem::path back_;
};

// Relative names that a bare libavformat open takes as a protocol.
TEST_F(MediaProbe, AnyFileNameOpensAsAFile) {
  const InFolder here(dir.path());
  for (const char* name : {"take:1.wav", "-take.wav", "a b.wav", "prise é.wav", "pipe:0.wav"}) {
    SCOPED_TRACE(name);
    wav(name, kRate, stereoTone(1000));
    const std::string path = name;
    media::MediaFacts facts;
    std::string why;
    EXPECT_TRUE(media::probeMedia(path, &facts, &why)) << why;
    EXPECT_EQ(facts.container, "wav");
    int64_t frames = -1;
    EXPECT_TRUE(media::countDecodedFrames(path, kRate, &frames, &why)) << why;
    EXPECT_EQ(frames, 1000);
  }
}

TEST_F(MediaProbe, FailuresSayWhy) {
  const std::string video = dir.file("video.mp4");
  ASSERT_TRUE(test::runFfmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=0.5",
                               "-c:v", "mpeg4", video}));
  const std::string text = dir.file("notes.txt");
  ASSERT_TRUE(test::writeBytes(text, std::vector<uint8_t>(300, 'a')));
  const std::string good = wav("good.wav", kRate, stereoTone(1000));
  const std::atomic<bool> stopped{true};
  struct Case {
    std::string path;
    const std::atomic<bool>* stop;
    const char* why;
  };
  const Case cases[] = {
      {dir.file("missing.wav"), nullptr, "not a container libavformat can read"},
      {text, nullptr, "not a container libavformat can read"},
      {video, nullptr, "no audio track"},
      {good, &stopped, "stopped"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    int64_t frames = -1;
    std::string why;
    EXPECT_FALSE(media::countDecodedFrames(c.path, kRate, &frames, &why, c.stop));
    EXPECT_EQ(why, c.why);
    EXPECT_EQ(frames, -1) << "left as it was";
  }
}

// A host that counts beside the open gives the count the second core of a
// two-core machine; a user's own setting of the switch stands.
TEST(SecondCore, TheCountTakesItOnTwoCoresAndTheUsersSettingStands) {
  const bool twoCoresAtMost = std::thread::hardware_concurrency() <= 2;
  for (const char* users : {"", "0", "1"}) {
    SCOPED_TRACE(std::string("user's setting: '") + users + "'");
    if (*users) setenv(media::kSerialDecodeVariable, users, 1);
    else unsetenv(media::kSerialDecodeVariable);
    media::leaveASecondCoreToTheCount();
    const char* now = std::getenv(media::kSerialDecodeVariable);
    if (*users) {
      ASSERT_NE(now, nullptr);
      EXPECT_STREQ(now, users);
    } else if (twoCoresAtMost) {
      ASSERT_NE(now, nullptr);
      EXPECT_STREQ(now, "1");
    } else {
      EXPECT_EQ(now, nullptr);
    }
  }
  unsetenv(media::kSerialDecodeVariable);
}

}  // namespace
}  // namespace hx
