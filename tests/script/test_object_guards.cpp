// Guards of the script object that no ordinary call reaches: a host that
// lacks an interface, and the order in which a dying object closes files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/qt_file.h"
#include "common/script_session.h"
#include "script/file_methods.h"
#include "script/script_interface.h"
#include "script/instance.h"

namespace hx::test {
namespace {

class MissingInterfaces : public FileSession {};

// Without the value or list operations no result or error text can be
// made; every call must do nothing rather than go through a null pointer.
TEST_F(MissingInterfaces, ObjectOfAHostWithoutValuesOrListsDoesNothing) {
  const std::string path = wav("a.wav", periodicSine(100, 10, 1000));
  const struct {
    const char* name;
    bool values, lists;
  } hosts[] = {{"no value interface", true, false},
               {"no list interface", false, true},
               {"neither", true, true}};
  for (const auto& h : hosts) {
    SCOPED_TRACE(h.name);
    host.withholdInterfaces(h.values, h.lists);
    auto lacking = newObject();
    host.withholdInterfaces(false, false);
    ASSERT_NE(lacking, nullptr);
    const std::vector<std::pair<int32_t, std::vector<Arg>>> calls = {
        {kMethodNew, {dir.file("log.txt")}}, {kMethodOpenQuicktimeFile, {path}},
        {kMethodCloseFile, {1}},           {kMethodGetSamples, {1, 0, 10}},
        {kMethodGetAmplitude, {1, 0, 10}}, {kMethodGetFFT, {1}},
        {kMethodGetSampleRate, {1}},       {kMethodGetEqualizedFreqCount, {8}},
        {kMethodGetError, {}},             {9, {}}};
    for (const auto& [method, args] : calls) {
      ArgList values(host, std::span<const Arg>(args));
      EXPECT_EQ(Result(host, lacking->call(method, values)).text(), "<void>") << "method " << method;
    }
    if (linkedModule()) {
      EXPECT_EQ(zrQTfile::liveReaders(), 0) << "nothing was opened";
    }
    lacking.reset();
  }
  EXPECT_EQ(open(path), 1) << "an object of the full host is unaffected";
}

// ---- close order ----------------------------------------------------------

// Media operations that open anything and record the order in which the
// readers' sound buffers are disposed of.
std::vector<int> gDisposed;
char* gBuffers[4];

MediaOps recordingOps() {
  MediaOps ops{};
  ops.NativePathNameToFSSpec = [](const char* path, FSSpec* spec, int32_t) -> OSErr {
    spec->parID = path[0] - '0';
    return noErr;
  };
  ops.OpenMovieFile = [](const FSSpec* spec, int16_t* refNum, int8_t) -> OSErr {
    *refNum = int16_t(spec->parID);
    return noErr;
  };
  ops.NewMovieFromFile = [](Movie* movie, int16_t refNum, int16_t*, unsigned char*, int16_t,
                            uint8_t*) -> OSErr {
    *movie = reinterpret_cast<Movie>(&gBuffers[refNum]);
    return noErr;
  };
  ops.CloseMovieFile = [](int16_t) -> OSErr { return noErr; };
  ops.GetMovieIndTrackType = [](Movie, int32_t, OSType, int32_t) -> Track { return nullptr; };
  ops.PrepareMovie = [](Movie, TimeValue, int32_t) -> OSErr { return noErr; };
  ops.NewHandle = [](int32_t) -> Handle { return nullptr; };
  ops.GetTrackDuration = [](Track) -> TimeValue { return 0; };
  ops.PutMovieIntoTypedHandle = [](Movie, Track, OSType, Handle, TimeValue, TimeValue, int32_t,
                                   void*) -> OSErr { return noErr; };
  ops.DisposeHandle = [](Handle h) { gDisposed.push_back(int(h - gBuffers)); };
  ops.ParseSndHeader = [](Handle, SoundComponentData*, uint32_t*, uint32_t*) -> OSErr {
    return badFormat;  // the reader keeps its buffer and reports the parse error
  };
  ops.HLock = [](Handle) {};
  ops.DisposeMovie = [](Movie) {};
  return ops;
}

// Readers whose handles are &gBuffers[1], [2], [3]: NewHandle cannot know
// which file it serves, so each reader gets its own table of operations.
template <int N>
const MediaOps& opsFor() {
  static MediaOps ops = [] {
    MediaOps o = recordingOps();
    o.NewHandle = [](int32_t) -> Handle { return &gBuffers[N]; };
    return o;
  }();
  return ops;
}

TEST(CloseAllFiles, ClosesOldestFirstAndEmptiesTheTable) {
  gDisposed.clear();
  Instance instance{};
  instance.openFiles = new RefMap();
  const MediaOps* ops[] = {&opsFor<1>(), &opsFor<2>(), &opsFor<3>()};
  for (int n = 1; n <= 3; ++n) {
    auto* reader = new zrQTfile(*ops[n - 1]);
    const std::string path = std::to_string(n);
    ASSERT_EQ(reader->open(path.c_str()), badFormat);
    ASSERT_TRUE(reader->isOpen());
    RefPointer* pointer = new RefPointer(reader);
    ASSERT_TRUE(instance.openFiles->PutText(path.c_str(), pointer));
    pointer->Release();
  }
  CloseAllFiles(&instance);
  EXPECT_EQ(gDisposed, (std::vector<int>{1, 2, 3})) << "files close in the order they were opened";
  EXPECT_EQ(instance.openFiles->Count(), 0);
  instance.openFiles->Release();
}

}  // namespace
}  // namespace hx::test
