// The FFmpeg backend's platform operations one by one: FSSpec records
// and reference numbers, track choice, durations, partial conversions, the
// size limit and the ownership of movies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/media_files.h"
#include "media/ffmpeg_backend.h"
#include "media/memory_handle.h"

namespace hx {
namespace {

using test::TempDir;

constexpr int kRate = 44100;

// Frames 0, 1, 2, ... as mono 16-bit samples (wrapping), so any frame can be
// recognised by its value.
std::vector<int16_t> counting(size_t frames) {
  std::vector<int16_t> out(frames);
  for (size_t i = 0; i < frames; ++i) out[i] = int16_t(uint16_t(i));
  return out;
}

class Backend : public ::testing::Test {
 protected:
  void SetUp() override { handles = media::liveHandles(); }
  void TearDown() override {
    media::releaseMovies();
    media::setSoundBytesLimit(UINT32_MAX);
    EXPECT_EQ(media::liveHandles(), handles);
  }

  // Opens path as a movie; the file is closed again as the reader does.
  Movie movieOf(const std::string& path) {
    FSSpec location{};
    int16_t ref = 0;
    Movie movie = nullptr;
    int16_t resId = 0;
    EXPECT_EQ(ops.NativePathNameToFSSpec(path.c_str(), &location, 0), noErr);
    EXPECT_EQ(ops.OpenMovieFile(&location, &ref, 1), noErr);
    EXPECT_EQ(ops.NewMovieFromFile(&movie, ref, &resId, nullptr, 1, nullptr), noErr);
    ops.CloseMovieFile(ref);
    return movie;
  }
  Track audioTrack(Movie movie) { return ops.GetMovieIndTrackType(movie, 1, kAudioCharacteristic, 6); }

  const MediaOps& ops = media::ffmpegMediaOps();
  TempDir dir;
  int64_t handles = 0;
};

TEST_F(Backend, FileLocationsAndReferenceNumbersNameTheFile) {
  const std::string path = dir.file("a-rather-long-file-name-that-goes-past-sixty-three-characters.wav");
  ASSERT_TRUE(test::writeWav16(path, kRate, 1, counting(10)));
  FSSpec location{}, again{};
  ASSERT_EQ(ops.NativePathNameToFSSpec(path.c_str(), &location, 0), noErr);
  ASSERT_EQ(ops.NativePathNameToFSSpec(path.c_str(), &again, 0), noErr);
  const int32_t id = location.parID, idAgain = again.parID;  // packed fields: copy before comparing
  EXPECT_EQ(id, idAgain);
  ASSERT_EQ(location.name[0], 63);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(location.name + 1), 63),
            std::string("a-rather-long-file-name-that-goes-past-sixty-three-characters.wav").substr(0, 63));

  int16_t first = 0, second = 0;
  ASSERT_EQ(ops.OpenMovieFile(&location, &first, 1), noErr);
  ASSERT_EQ(ops.OpenMovieFile(&location, &second, 1), noErr);
  EXPECT_NE(first, second);
  EXPECT_EQ(ops.CloseMovieFile(first), noErr);
  EXPECT_EQ(ops.CloseMovieFile(first), rfNumErr);
  int16_t reused = 0;
  ASSERT_EQ(ops.OpenMovieFile(&location, &reused, 1), noErr);
  EXPECT_EQ(reused, first);
  EXPECT_EQ(ops.CloseMovieFile(reused), noErr);
  EXPECT_EQ(ops.CloseMovieFile(second), noErr);

  Movie movie = nullptr;
  EXPECT_EQ(ops.NewMovieFromFile(&movie, second, nullptr, nullptr, 1, nullptr), rfNumErr);
  EXPECT_EQ(movie, nullptr);
}

TEST_F(Backend, ForgedOrMisusedArgumentsAreRefused) {
  const std::string path = dir.file("x.wav");
  ASSERT_TRUE(test::writeWav16(path, kRate, 1, counting(10)));
  FSSpec location{};
  ASSERT_EQ(ops.NativePathNameToFSSpec(path.c_str(), &location, 0), noErr);
  int16_t ref = 0;
  EXPECT_EQ(ops.NativePathNameToFSSpec(nullptr, &location, 0), paramErr);
  EXPECT_EQ(ops.NativePathNameToFSSpec(path.c_str(), nullptr, 0), paramErr);
  EXPECT_EQ(ops.OpenMovieFile(&location, &ref, 2), permErr);  // write access
  EXPECT_EQ(ops.OpenMovieFile(&location, nullptr, 1), paramErr);
  EXPECT_EQ(ops.OpenMovieFile(nullptr, &ref, 1), paramErr);
  FSSpec forged = location;
  forged.parID = 1 << 30;
  EXPECT_EQ(ops.OpenMovieFile(&forged, &ref, 1), paramErr);
  forged = location;
  forged.vRefNum = 0;
  EXPECT_EQ(ops.OpenMovieFile(&forged, &ref, 1), paramErr);
  EXPECT_EQ(ops.NewMovieFromFile(nullptr, 1, nullptr, nullptr, 1, nullptr), paramErr);

  // Movies and tracks that are not (or no longer) live.
  const Movie stale = reinterpret_cast<Movie>(uintptr_t(0xDEAD0));
  EXPECT_EQ(ops.GetMovieIndTrackType(stale, 1, kAudioCharacteristic, 6), nullptr);
  EXPECT_EQ(ops.PrepareMovie(stale, -1, 0), invalidMovie);
  EXPECT_EQ(ops.GetTrackDuration(reinterpret_cast<Track>(&location)), 0);
  Handle h = ops.NewHandle(0);
  EXPECT_EQ(ops.PutMovieIntoTypedHandle(stale, nullptr, kSoundResourceType, h, 0, 1, 0, nullptr),
            invalidMovie);
  ops.DisposeHandle(h);
}

TEST_F(Backend, TrackChoiceFollowsTheEnabledFlag) {
  ASSERT_TRUE(test::haveFfmpeg());
  const std::string path = dir.file("three.mov");
  const std::string a = dir.file("a.wav"), b = dir.file("b.wav");
  ASSERT_TRUE(test::writeWav16(a, kRate, 1, counting(4410)));      // 0.1 s
  ASSERT_TRUE(test::writeWav16(b, kRate, 2, counting(2 * 8820)));  // 0.2 s
  // Video first, then a disabled mono track and an enabled stereo one.
  ASSERT_TRUE(test::runFfmpeg({"-f", "lavfi", "-i", "testsrc=size=32x32:rate=10:duration=0.1", "-i", a,
                               "-i", b, "-map", "0:v", "-map", "1:a", "-map", "2:a", "-c:v", "mpeg4",
                               "-c:a", "pcm_s16le", "-disposition:a:0", "0", "-disposition:a:1",
                               "default", path}));
  Movie movie = movieOf(path);
  ASSERT_NE(movie, nullptr);
  const Track enabled = ops.GetMovieIndTrackType(movie, 1, kAudioCharacteristic, 6);
  const Track firstAny = ops.GetMovieIndTrackType(movie, 1, kAudioCharacteristic, 2);
  const Track secondAny = ops.GetMovieIndTrackType(movie, 2, kAudioCharacteristic, 2);
  ASSERT_NE(enabled, nullptr);
  ASSERT_NE(firstAny, nullptr);
  EXPECT_NE(enabled, firstAny);
  EXPECT_EQ(enabled, secondAny);
  EXPECT_EQ(ops.GetMovieIndTrackType(movie, 2, kAudioCharacteristic, 6), nullptr);
  EXPECT_EQ(ops.GetMovieIndTrackType(movie, 3, kAudioCharacteristic, 2), nullptr);
  EXPECT_EQ(ops.GetMovieIndTrackType(movie, 0, kAudioCharacteristic, 6), nullptr);
  EXPECT_EQ(ops.GetMovieIndTrackType(movie, 1, fourCharCode("eyes"), 6), nullptr);
  EXPECT_EQ(ops.GetMovieIndTrackType(movie, 1, fourCharCode("soun"), 1 | 4), enabled);
  // Durations in 1/600 s.
  EXPECT_EQ(ops.GetTrackDuration(enabled), 120);
  EXPECT_EQ(ops.GetTrackDuration(firstAny), 60);
  EXPECT_EQ(ops.GetTrackDuration(nullptr), 0);
}

struct Converted {
  OSErr err;
  SoundComponentData info{};
  uint32_t frames = 0;
  std::vector<int16_t> samples;
};

class Conversion : public Backend {
 protected:
  Converted convert(Movie movie, Track track, TimeValue start, TimeValue duration) {
    Converted c;
    Handle h = ops.NewHandle(0);
    c.err = ops.PutMovieIntoTypedHandle(movie, track, kSoundResourceType, h, start, duration, 0, nullptr);
    uint32_t offset = 0;
    if (c.err == noErr && ops.ParseSndHeader(h, &c.info, &c.frames, &offset) == noErr) {
      c.samples.resize(size_t(c.frames) * size_t(c.info.numChannels));
      if (!c.samples.empty()) std::memcpy(c.samples.data(), *h + offset, c.samples.size() * 2);
    }
    if (c.err != noErr) {
      EXPECT_EQ(media::getHandleSize(h), 0u);
    }
    ops.DisposeHandle(h);
    EXPECT_EQ(media::liveMovies(), 0) << "the movie outlived its conversion";
    return c;
  }
  std::string countingWav(size_t frames) {
    const std::string path = dir.file("count.wav");
    EXPECT_TRUE(test::writeWav16(path, kRate, 1, counting(frames)));
    return path;
  }
};

TEST_F(Conversion, WholeTrackBecomesAHostOrderSoundResource) {
  Movie movie = movieOf(countingWav(kRate));
  const Track track = audioTrack(movie);
  const TimeValue duration = ops.GetTrackDuration(track);
  EXPECT_EQ(duration, 600);
  const Converted c = convert(movie, track, 0, duration);
  ASSERT_EQ(c.err, noErr);
  EXPECT_EQ(c.info.format, kSowtEncoding);
  EXPECT_EQ(c.info.numChannels, 1);
  EXPECT_EQ(c.info.sampleSize, 16);
  EXPECT_EQ(c.info.sampleRate, UnsignedFixed(kRate) << 16);
  EXPECT_EQ(c.samples, counting(kRate));
}

TEST_F(Conversion, PartOfTheTrackByMovieTime) {
  const struct {
    TimeValue start, duration;
    size_t first, frames;
  } cases[] = {
      {0, 300, 0, 22050},          // first half second
      {300, 150, 22050, 11025},    // a quarter second from the middle
      {450, 6000, 33075, 11025},   // running past the end
      {0, 0, 0, 0},
  };
  const std::vector<int16_t> all = counting(kRate);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start);
    Movie movie = movieOf(countingWav(kRate));
    const Converted got = convert(movie, audioTrack(movie), c.start, c.duration);
    ASSERT_EQ(got.err, noErr);
    ASSERT_EQ(got.frames, c.frames);
    EXPECT_TRUE(std::equal(got.samples.begin(), got.samples.end(), all.begin() + long(c.first)));
  }
}

TEST_F(Conversion, EmptyTrackGivesAnEmptySound) {
  const std::string path = dir.file("silent.wav");
  ASSERT_TRUE(test::writeWav16(path, 22050, 2, {}));
  Movie movie = movieOf(path);
  const Converted c = convert(movie, audioTrack(movie), 0, ops.GetTrackDuration(audioTrack(movie)));
  ASSERT_EQ(c.err, noErr);
  EXPECT_EQ(c.frames, 0u);
  EXPECT_EQ(c.info.sampleRate, 22050u << 16);
}

TEST_F(Conversion, FailuresReleaseTheMovieAndEmptyTheHandle) {
  const std::string path = countingWav(4410);
  {
    Movie movie = movieOf(path);
    EXPECT_EQ(convert(movie, nullptr, 0, 60).err, invalidTrack);
  }
  {
    Movie movie = movieOf(path);
    Handle h = ops.NewHandle(0);
    EXPECT_EQ(ops.PutMovieIntoTypedHandle(movie, audioTrack(movie), fourCharCode("PICT"), h, 0, 60, 0, nullptr),
              paramErr);
    EXPECT_EQ(media::liveMovies(), 0);
    ops.DisposeHandle(h);
  }
  {
    Movie movie = movieOf(path);
    EXPECT_EQ(ops.PutMovieIntoTypedHandle(movie, audioTrack(movie), kSoundResourceType, nullptr, 0, 60, 0, nullptr),
              nilHandleErr);
    EXPECT_EQ(media::liveMovies(), 0);
  }
  {
    Movie movie = movieOf(path);
    Handle locked = ops.NewHandle(0);
    ops.HLock(locked);
    EXPECT_EQ(ops.PutMovieIntoTypedHandle(movie, audioTrack(movie), kSoundResourceType, locked, 0, 60, 0, nullptr),
              paramErr);
    ops.DisposeHandle(locked);
  }
  {
    // A sound longer than the handle may hold.
    media::setSoundBytesLimit(84 + 2 * 1000);
    Movie movie = movieOf(path);
    EXPECT_EQ(convert(movie, audioTrack(movie), 0, 60).err, soundTooLargeErr);
    media::setSoundBytesLimit(UINT32_MAX);
  }
  {
    // Converting twice: the movie is gone after the first conversion.
    Movie movie = movieOf(path);
    const Track track = audioTrack(movie);
    EXPECT_EQ(convert(movie, track, 0, 60).err, noErr);
    EXPECT_EQ(convert(movie, track, 0, 60).err, invalidMovie);
  }
}

TEST_F(Backend, UnconvertedMoviesStayOwnedByTheBackend) {
  const std::string path = dir.file("kept.wav");
  ASSERT_TRUE(test::writeWav16(path, kRate, 1, counting(100)));
  ASSERT_NE(movieOf(path), nullptr);
  ASSERT_NE(movieOf(path), nullptr);
  EXPECT_EQ(media::liveMovies(), 2);
  media::releaseMovies();
  EXPECT_EQ(media::liveMovies(), 0);
}

}  // namespace
}  // namespace hx
