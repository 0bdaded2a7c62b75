// The test runtime's operations, reached through its dispatcher the way the
// binding calls it: selector first, arguments promoted as a variadic call
// promotes them.
#include <gtest/gtest.h>

#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/qt_binding.h"
#include "media/memory_handle.h"
#include "test_runtime/runtime.h"
#include "binding_media.h"

namespace hx::testrt {
namespace {

using namespace hx::qt;

intptr_t call(uint32_t selector, ...) {
  va_list args;
  va_start(args, selector);
  const intptr_t result = dispatch(selector, args);
  va_end(args);
  return result;
}

OSErr err(intptr_t result) { return OSErr(result); }

class RuntimeDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    handlesBefore_ = media::liveHandles();
    dir_ = std::filesystem::path(::testing::TempDir()) /
           ("hx_runtime_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    setFailure(0, 0);
    resetRuntime();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    EXPECT_EQ(media::liveHandles(), handlesBefore_);
  }

  std::string writeFile(const char* name, const std::vector<uint8_t>& bytes) {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path.string();
  }

  // The reader's steps up to a movie with its track.
  OSErr openMovie(const std::string& path, Movie* movie, Track* track) {
    FSSpec spec{};
    if (OSErr e = err(call(kSelNativePathNameToFSSpec, path.c_str(), &spec, int32_t(0)))) return e;
    int16_t refNum = 0;
    if (OSErr e = err(call(kSelOpenMovieFile, &spec, &refNum, int(1)))) return e;
    int16_t resId = 0;
    unsigned char name[256];
    uint8_t changed = 1;
    const OSErr made = err(call(kSelNewMovieFromFile, movie, int(refNum), &resId, name, int(1), &changed));
    EXPECT_EQ(err(call(kSelCloseMovieFile, int(refNum))), noErr);
    if (made != noErr) return made;
    EXPECT_EQ(changed, 0);
    *track = reinterpret_cast<Track>(
        call(kSelGetMovieIndTrackType, *movie, int32_t(1), kAudioCharacteristic, int32_t(6)));
    return noErr;
  }

  OSErr convert(Movie movie, Track track, Handle sound, TimeValue start, TimeValue duration) {
    return err(call(kSelPutMovieIntoTypedHandle, movie, track, kSoundResourceType, sound, start,
                    duration, int32_t(0), static_cast<void*>(nullptr)));
  }

  Handle newHandle() { return reinterpret_cast<Handle>(call(kSelNewHandle, int32_t(0))); }
  void dispose(Handle h) { call(kSelDisposeHandle, h); }

  struct Header {
    OSErr result = noErr;
    SoundComponentData info{};
    uint32_t frames = 0;
    uint32_t offset = 0;
  };
  Header parse(Handle sound) {
    Header h;
    h.result = err(call(kSelParseSndHeader, sound, &h.info, &h.frames, &h.offset));
    return h;
  }

  std::filesystem::path dir_;
  int64_t handlesBefore_ = 0;
};

TEST_F(RuntimeDispatch, ConvertsWholeTracksToTwosResources) {
  for (const binding_test::MediaFile& f : binding_test::requireMediaFiles()) {
    SCOPED_TRACE(f.name);
    Movie movie = nullptr;
    Track track = nullptr;
    ASSERT_EQ(openMovie(f.path, &movie, &track), noErr);
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(err(call(kSelPrepareMovie, movie, TimeValue(-1), int32_t(0))), noErr);
    const TimeValue duration = TimeValue(call(kSelGetTrackDuration, track));
    Handle sound = newHandle();
    ASSERT_NE(sound, nullptr);
    ASSERT_EQ(convert(movie, track, sound, 0, duration), noErr);
    EXPECT_EQ(liveMovies(), 0) << "a converted movie is released";
    call(kSelHLock, sound);
    const Header h = parse(sound);
    ASSERT_EQ(h.result, noErr);
    EXPECT_EQ(h.info.format, kTwosEncoding);
    EXPECT_EQ(h.info.numChannels, f.channels);
    EXPECT_EQ(h.info.sampleSize, 16);
    EXPECT_EQ(h.info.sampleRate, f.rate << 16);
    ASSERT_EQ(h.frames, f.frames());
    ASSERT_EQ(media::getHandleSize(sound), h.offset + f.samples.size() * 2);
    EXPECT_EQ(binding_test::bigEndianSamples(reinterpret_cast<uint8_t*>(*sound) + h.offset, f.samples.size()),
              f.samples);
    dispose(sound);
  }
}

TEST_F(RuntimeDispatch, ConvertsTheRangeAskedForWithinTheTrack) {
  const std::vector<binding_test::MediaFile> files = binding_test::requireMediaFiles();
  ASSERT_FALSE(files.empty());
  const binding_test::MediaFile& f = files.front();
  const TimeValue n = TimeValue(f.frames());
  struct Case {
    TimeValue start, duration;
    OSErr result;
    uint32_t first, frames;
  };
  const Case cases[] = {
      {0, n, noErr, 0, uint32_t(n)},      {10, 5, noErr, 10, 5},
      {n - 3, 100, noErr, uint32_t(n - 3), 3}, {n + 5, 10, noErr, 0, 0},
      {0, 0, noErr, 0, 0},                {-1, 10, paramErr, 0, 0},
      {0, -1, paramErr, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "start " << c.start << " duration " << c.duration);
    Movie movie = nullptr;
    Track track = nullptr;
    ASSERT_EQ(openMovie(f.path, &movie, &track), noErr);
    Handle sound = newHandle();
    ASSERT_EQ(convert(movie, track, sound, c.start, c.duration), c.result);
    if (c.result == noErr) {
      const Header h = parse(sound);
      ASSERT_EQ(h.result, noErr);
      ASSERT_EQ(h.frames, c.frames);
      const size_t count = size_t(c.frames) * size_t(f.channels);
      const auto begin = f.samples.begin() + ptrdiff_t(c.first) * f.channels;
      EXPECT_EQ(binding_test::bigEndianSamples(reinterpret_cast<uint8_t*>(*sound) + h.offset, count),
                std::vector<int16_t>(begin, begin + ptrdiff_t(count)));
    }
    dispose(sound);
    EXPECT_EQ(liveMovies(), 0);
  }
}

TEST_F(RuntimeDispatch, FileStepsReportTheFaultOfTheirInput) {
  const std::string text = writeFile("notes.txt", std::vector<uint8_t>(100, 'x'));
  std::filesystem::create_directories(dir_ / "folder");
  const std::string folder = (dir_ / "folder").string();

  FSSpec spec{};
  EXPECT_EQ(err(call(kSelNativePathNameToFSSpec, static_cast<const char*>(nullptr), &spec, 0)), paramErr);
  EXPECT_EQ(err(call(kSelNativePathNameToFSSpec, "", &spec, 0)), paramErr);
  EXPECT_EQ(err(call(kSelNativePathNameToFSSpec, (dir_ / "missing.wav").string().c_str(), &spec, 0)),
            fnfErr);

  int16_t refNum = 0;
  FSSpec forged{};
  forged.parID = 1;
  EXPECT_EQ(err(call(kSelOpenMovieFile, &forged, &refNum, 1)), paramErr);
  ASSERT_EQ(err(call(kSelNativePathNameToFSSpec, folder.c_str(), &spec, 0)), noErr);
  EXPECT_EQ(err(call(kSelOpenMovieFile, &spec, &refNum, 1)), notAFileErr);
  ASSERT_EQ(err(call(kSelNativePathNameToFSSpec, text.c_str(), &spec, 0)), noErr);
  EXPECT_EQ(spec.name[0], 9);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(spec.name + 1), 9), "notes.txt");
  EXPECT_EQ(err(call(kSelOpenMovieFile, &spec, &refNum, 2)), permErr);
  EXPECT_EQ(err(call(kSelOpenMovieFile, &spec, static_cast<int16_t*>(nullptr), 1)), paramErr);
  ASSERT_EQ(err(call(kSelOpenMovieFile, &spec, &refNum, 1)), noErr);

  Movie movie = reinterpret_cast<Movie>(1);
  int16_t resId = 0;
  EXPECT_EQ(err(call(kSelNewMovieFromFile, &movie, int(refNum) + 1, &resId, nullptr, 1, nullptr)),
            rfNumErr);
  EXPECT_EQ(movie, nullptr);
  EXPECT_EQ(err(call(kSelNewMovieFromFile, static_cast<Movie*>(nullptr), int(refNum), &resId,
                     nullptr, 1, nullptr)),
            paramErr);
  EXPECT_EQ(err(call(kSelNewMovieFromFile, &movie, int(refNum), &resId, nullptr, 1, nullptr)),
            invalidMovie);
  EXPECT_EQ(err(call(kSelCloseMovieFile, int(refNum))), noErr);
  EXPECT_EQ(err(call(kSelCloseMovieFile, int(refNum))), rfNumErr);
  EXPECT_EQ(liveMovies(), 0);
}

TEST_F(RuntimeDispatch, MovieStepsRefuseWhatTheyDidNotMake) {
  const std::vector<binding_test::MediaFile> files = binding_test::requireMediaFiles();
  ASSERT_FALSE(files.empty());
  Movie movie = nullptr;
  Track track = nullptr;
  ASSERT_EQ(openMovie(files.front().path, &movie, &track), noErr);
  const Movie stranger = reinterpret_cast<Movie>(uintptr_t(movie) + 1000);

  auto trackOf = [&](Movie m, int32_t index, OSType type, int32_t flags) {
    return reinterpret_cast<Track>(call(kSelGetMovieIndTrackType, m, index, type, flags));
  };
  EXPECT_EQ(trackOf(movie, 1, kAudioCharacteristic, 6), track);
  EXPECT_EQ(trackOf(movie, 1, fourCharCode("soun"), 1), track);
  EXPECT_EQ(trackOf(movie, 2, kAudioCharacteristic, 6), nullptr);
  EXPECT_EQ(trackOf(movie, 1, fourCharCode("eyes"), 6), nullptr);
  EXPECT_EQ(trackOf(stranger, 1, kAudioCharacteristic, 6), nullptr);
  EXPECT_EQ(err(call(kSelPrepareMovie, stranger, TimeValue(-1), int32_t(0))), invalidMovie);
  EXPECT_EQ(call(kSelGetTrackDuration, static_cast<Track>(nullptr)), 0);

  Handle sound = newHandle();
  EXPECT_EQ(convert(stranger, track, sound, 0, 10), invalidMovie);
  EXPECT_EQ(liveMovies(), 1) << "another movie's failure releases nothing";
  EXPECT_EQ(convert(movie, nullptr, sound, 0, 10), invalidTrack);
  EXPECT_EQ(liveMovies(), 0) << "a failed conversion releases the movie too";
  EXPECT_EQ(convert(movie, track, sound, 0, 10), invalidMovie);

  struct Case {
    const char* name;
    OSType type;
    bool nullHandle, locked;
    OSErr result;
  };
  const Case cases[] = {
      {"NotASoundResource", fourCharCode("TEXT"), false, false, paramErr},
      {"NoHandle", kSoundResourceType, true, false, nilHandleErr},
      {"LockedHandleCannotGrow", kSoundResourceType, false, true, memFullErr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(openMovie(files.front().path, &movie, &track), noErr);
    Handle target = c.nullHandle ? nullptr : newHandle();
    if (c.locked) call(kSelHLock, target);
    EXPECT_EQ(err(call(kSelPutMovieIntoTypedHandle, movie, track, c.type, target, TimeValue(0),
                       TimeValue(10), int32_t(0), static_cast<void*>(nullptr))),
              c.result);
    EXPECT_EQ(liveMovies(), 0);
    dispose(target);
  }
  dispose(sound);
}

// What a failed open made goes with DisposeMovie; a movie released already,
// or one never made, is left alone.
TEST_F(RuntimeDispatch, DisposeMovieReleasesOnlyALiveMovie) {
  const std::vector<binding_test::MediaFile> files = binding_test::requireMediaFiles();
  ASSERT_FALSE(files.empty());
  Movie first = nullptr, second = nullptr;
  Track track = nullptr;
  ASSERT_EQ(openMovie(files.front().path, &first, &track), noErr);
  ASSERT_EQ(openMovie(files.front().path, &second, &track), noErr);
  ASSERT_EQ(liveMovies(), 2);
  call(kSelDisposeMovie, first);
  EXPECT_EQ(liveMovies(), 1);
  EXPECT_EQ(err(call(kSelPrepareMovie, first, TimeValue(-1), int32_t(0))), invalidMovie);
  EXPECT_EQ(err(call(kSelPrepareMovie, second, TimeValue(-1), int32_t(0))), noErr);
  for (Movie gone : {first, static_cast<Movie>(nullptr), reinterpret_cast<Movie>(uintptr_t(9999))})
    call(kSelDisposeMovie, gone);
  EXPECT_EQ(liveMovies(), 1) << "the other movie stays";
  call(kSelDisposeMovie, second);
  EXPECT_EQ(liveMovies(), 0);
}

TEST_F(RuntimeDispatch, UndecodableTrackFailsAtConversion) {
  // A 32-bit float WAV: a movie with a track, but nothing this runtime decodes.
  std::vector<uint8_t> file = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                               16, 0, 0, 0, 3, 0, 1, 0, 0x40, 0x1F, 0, 0, 0, 0x7D, 0, 0, 4, 0, 32, 0,
                               'd', 'a', 't', 'a', 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x3F};
  Movie movie = nullptr;
  Track track = nullptr;
  ASSERT_EQ(openMovie(writeFile("float.wav", file), &movie, &track), noErr);
  ASSERT_NE(track, nullptr);
  Handle sound = newHandle();
  EXPECT_EQ(convert(movie, track, sound, 0, 2), cantFindHandler);
  dispose(sound);
}

TEST_F(RuntimeDispatch, HeaderParseRefusesWhatIsNoSoundResource) {
  Handle empty = newHandle();
  SoundComponentData info{};
  uint32_t frames = 0, offset = 0;
  EXPECT_EQ(err(call(kSelParseSndHeader, static_cast<Handle>(nullptr), &info, &frames, &offset)),
            nilHandleErr);
  EXPECT_EQ(err(call(kSelParseSndHeader, empty, &info, &frames, &offset)), badFormat);
  EXPECT_EQ(err(call(kSelParseSndHeader, empty, static_cast<SoundComponentData*>(nullptr), &frames,
                     &offset)),
            paramErr);
  EXPECT_EQ(err(call(0x240011u, empty)), paramErr) << "unknown selector";
  dispose(empty);
}

TEST_F(RuntimeDispatch, InjectedFailureHitsOnlyItsOperation) {
  Handle sound = newHandle();
  setFailure(kSelParseSndHeader, -777);
  SoundComponentData info{};
  uint32_t frames = 0, offset = 0;
  EXPECT_EQ(err(call(kSelParseSndHeader, sound, &info, &frames, &offset)), -777);
  FSSpec spec{};
  EXPECT_EQ(err(call(kSelNativePathNameToFSSpec, "", &spec, 0)), paramErr);
  setFailure(kSelNewHandle, -777);
  EXPECT_EQ(newHandle(), nullptr) << "pointer results fail as null";
  setFailure(0, 0);
  EXPECT_EQ(err(call(kSelParseSndHeader, sound, &info, &frames, &offset)), badFormat);
  dispose(sound);
}

}  // namespace
}  // namespace hx::testrt
