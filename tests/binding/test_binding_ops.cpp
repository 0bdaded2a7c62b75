// The binding in a process whose folder holds our test runtime: it resolves
// on the first operation, and every operation reaches the runtime with its
// own selector and its arguments in order. The runtime fails the operation
// named by HX_QT_FAIL, which shows which selector arrived.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "audio/media_ops.h"
#include "audio/qt_binding.h"
#include "binding_media.h"
#include "injected_failure.h"

namespace hx::qt {
namespace {

using binding_test::InjectedFailure;
using binding_test::kInjected;

std::string folderOf(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string modulePath(HMODULE module) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(module, path, sizeof path);
  return std::string(path, n < sizeof path ? n : 0);
}

class BindingOps : public ::testing::Test {
 protected:
  const MediaOps& ops = quickTimeMediaOps();

  // A movie of a generated file and its audio track, as the reader makes them.
  void openMovie(Movie* movie, Track* track) {
    const std::vector<binding_test::MediaFile> files = binding_test::requireMediaFiles();
    ASSERT_FALSE(files.empty());
    file_ = files.front();
    FSSpec spec{};
    ASSERT_EQ(ops.NativePathNameToFSSpec(file_.path.c_str(), &spec, 0), noErr);
    int16_t refNum = 0;
    ASSERT_EQ(ops.OpenMovieFile(&spec, &refNum, 1), noErr);
    int16_t resId = 0;
    unsigned char name[256];
    uint8_t changed = 0;
    ASSERT_EQ(ops.NewMovieFromFile(movie, refNum, &resId, name, 1, &changed), noErr);
    ASSERT_EQ(ops.CloseMovieFile(refNum), noErr);
    *track = ops.GetMovieIndTrackType(*movie, 1, kAudioCharacteristic, 6);
    ASSERT_NE(*track, nullptr);
  }

  binding_test::MediaFile file_;
};

TEST_F(BindingOps, ResolvesTheRuntimeBesideTheProgram) {
  FSSpec spec{};
  const std::string self = modulePath(nullptr);
  ASSERT_EQ(ops.NativePathNameToFSSpec(self.c_str(), &spec, 0), noErr);
  EXPECT_TRUE(quickTimeResolved());
  HMODULE runtime = GetModuleHandleA(kRuntimeLibrary);
  ASSERT_NE(runtime, nullptr);
  EXPECT_EQ(folderOf(modulePath(runtime)), folderOf(self));
  EXPECT_NE(GetProcAddress(runtime, kExportDispatcher), nullptr);
}

TEST_F(BindingOps, LoadingByNameTakesTheCopyAlreadyLoaded) {
  FSSpec spec{};
  ASSERT_EQ(ops.NativePathNameToFSSpec(modulePath(nullptr).c_str(), &spec, 0), noErr);
  HMODULE loaded = GetModuleHandleA(kRuntimeLibrary);
  void* again = loadQuickTimeLibrary(kRuntimeLibrary);
  EXPECT_EQ(again, static_cast<void*>(loaded));
  if (again != nullptr) FreeLibrary(static_cast<HMODULE>(again));
  EXPECT_EQ(loadQuickTimeLibrary(nullptr), nullptr);
  EXPECT_EQ(loadQuickTimeLibrary(""), nullptr);
  EXPECT_EQ(loadQuickTimeLibrary("NoSuchRuntime.qts"), nullptr);
}

// Each operation, made to fail in the runtime by its selector: only the
// operation that sends that selector sees the failure.
TEST_F(BindingOps, EveryOperationSendsItsOwnSelector) {
  Movie movie = nullptr;
  Track track = nullptr;
  ASSERT_NO_FATAL_FAILURE(openMovie(&movie, &track));
  Handle empty = ops.NewHandle(0);
  ASSERT_NE(empty, nullptr);

  struct Case {
    const char* name;
    uint32_t selector;
    std::function<intptr_t()> call;
    intptr_t normal;  // the result without the failure
    intptr_t failed;
  };
  FSSpec spec{};
  int16_t refNum = 0;
  Movie made = nullptr;
  int16_t resId = 0;
  SoundComponentData info{};
  uint32_t frames = 0, offset = 0;
  const Case cases[] = {
      {"NativePathNameToFSSpec", kSelNativePathNameToFSSpec,
       [&] { return intptr_t(ops.NativePathNameToFSSpec("", &spec, 0)); }, paramErr, kInjected},
      {"OpenMovieFile", kSelOpenMovieFile,
       [&] { return intptr_t(ops.OpenMovieFile(&spec, &refNum, 1)); }, paramErr, kInjected},
      {"NewMovieFromFile", kSelNewMovieFromFile,
       [&] { return intptr_t(ops.NewMovieFromFile(&made, 999, &resId, nullptr, 1, nullptr)); },
       rfNumErr, kInjected},
      {"CloseMovieFile", kSelCloseMovieFile, [&] { return intptr_t(ops.CloseMovieFile(999)); },
       rfNumErr, kInjected},
      {"GetMovieIndTrackType", kSelGetMovieIndTrackType,
       [&] {
         return reinterpret_cast<intptr_t>(ops.GetMovieIndTrackType(movie, 1, kAudioCharacteristic, 6));
       },
       reinterpret_cast<intptr_t>(track), 0},
      {"PrepareMovie", kSelPrepareMovie, [&] { return intptr_t(ops.PrepareMovie(movie, -1, 0)); },
       noErr, kInjected},
      {"GetTrackDuration", kSelGetTrackDuration,
       [&] { return intptr_t(ops.GetTrackDuration(track)); }, intptr_t(file_.frames()), 0},
      {"ParseSndHeader", kSelParseSndHeader,
       [&] { return intptr_t(ops.ParseSndHeader(empty, &info, &frames, &offset)); }, badFormat,
       kInjected},
      {"PutMovieIntoTypedHandle", kSelPutMovieIntoTypedHandle,
       [&] {
         return intptr_t(ops.PutMovieIntoTypedHandle(nullptr, track, kSoundResourceType, empty, 0,
                                                     10, 0, nullptr));
       },
       invalidMovie, kInjected},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      InjectedFailure failure(c.selector);
      EXPECT_EQ(c.call(), c.failed);
    }
    EXPECT_EQ(c.call(), c.normal);
  }
  {
    InjectedFailure failure(kSelNewHandle);
    EXPECT_EQ(ops.NewHandle(0), nullptr);
  }
  // Converting releases the movie.
  EXPECT_EQ(ops.PutMovieIntoTypedHandle(movie, track, kSoundResourceType, empty, 0, 1, 0, nullptr),
            noErr);
  ops.DisposeHandle(empty);
}

// Void operations: a locked handle cannot grow, so a conversion into it
// shows whether the lock reached the runtime.
TEST_F(BindingOps, LockAndDisposeReachTheRuntime) {
  for (bool injected : {true, false}) {
    SCOPED_TRACE(injected ? "lock failed in the runtime" : "lock reached the runtime");
    Movie movie = nullptr;
    Track track = nullptr;
    ASSERT_NO_FATAL_FAILURE(openMovie(&movie, &track));
    Handle sound = ops.NewHandle(0);
    {
      std::unique_ptr<InjectedFailure> failure;
      if (injected) failure = std::make_unique<InjectedFailure>(kSelHLock);
      ops.HLock(sound);
    }
    EXPECT_EQ(ops.PutMovieIntoTypedHandle(movie, track, kSoundResourceType, sound, 0, 10, 0, nullptr),
              injected ? noErr : memFullErr);
    {
      InjectedFailure failure(kSelDisposeHandle);
      ops.DisposeHandle(sound);  // not released: still a handle the runtime can read
    }
    SoundComponentData info{};
    uint32_t frames = 0, offset = 0;
    EXPECT_EQ(ops.ParseSndHeader(sound, &info, &frames, &offset), injected ? noErr : badFormat);
    ops.DisposeHandle(sound);
  }
}

// DisposeMovie reaches the runtime: the movie is gone there, unless the
// runtime was made to ignore the call.
TEST_F(BindingOps, DisposeMovieReachesTheRuntime) {
  for (bool injected : {true, false}) {
    SCOPED_TRACE(injected ? "dispose failed in the runtime" : "dispose reached the runtime");
    Movie movie = nullptr;
    Track track = nullptr;
    ASSERT_NO_FATAL_FAILURE(openMovie(&movie, &track));
    {
      std::unique_ptr<InjectedFailure> failure;
      if (injected) failure = std::make_unique<InjectedFailure>(kSelDisposeMovie);
      ops.DisposeMovie(movie);
    }
    EXPECT_EQ(ops.PrepareMovie(movie, -1, 0), injected ? noErr : invalidMovie);
    ops.DisposeMovie(movie);
  }
}

// Arguments after the selector arrive in order: a range [start, start +
// duration) of a known file comes back as those frames.
TEST_F(BindingOps, ConversionGetsItsArgumentsInOrder) {
  Movie movie = nullptr;
  Track track = nullptr;
  ASSERT_NO_FATAL_FAILURE(openMovie(&movie, &track));
  EXPECT_EQ(ops.GetTrackDuration(track), TimeValue(file_.frames()));
  Handle sound = ops.NewHandle(0);
  ASSERT_EQ(ops.PutMovieIntoTypedHandle(movie, track, kSoundResourceType, sound, 7, 20, 0, nullptr),
            noErr);
  ops.HLock(sound);
  SoundComponentData info{};
  uint32_t frames = 0, offset = 0;
  ASSERT_EQ(ops.ParseSndHeader(sound, &info, &frames, &offset), noErr);
  EXPECT_EQ(frames, 20u);
  EXPECT_EQ(info.format, kTwosEncoding);
  EXPECT_EQ(info.numChannels, file_.channels);
  EXPECT_EQ(info.sampleSize, 16);
  EXPECT_EQ(info.sampleRate, file_.rate << 16);
  const size_t count = 20 * size_t(file_.channels);
  const auto first = file_.samples.begin() + 7 * file_.channels;
  EXPECT_EQ(binding_test::bigEndianSamples(reinterpret_cast<uint8_t*>(*sound) + offset, count),
            std::vector<int16_t>(first, first + ptrdiff_t(count)));
  ops.DisposeHandle(sound);
}

}  // namespace
}  // namespace hx::qt
