// Read failures of an open file reach the script as the method's own text:
// a reader over a 24-bit sound buffer opens but cannot deliver 16-bit frames.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "audio/qt_file.h"
#include "common/script_session.h"
#include "media/memory_handle.h"
#include "media/snd_resource.h"
#include "script/script_interface.h"
#include "script/instance.h"

namespace hx::test {
namespace {

using media::SndLayout;

OSErr pathToSpec(const char*, FSSpec*, int32_t) { return noErr; }
OSErr openFile(const FSSpec*, int16_t* refNum, int8_t) {
  *refNum = 1;
  return noErr;
}
OSErr newMovie(Movie* movie, int16_t, int16_t*, unsigned char*, int16_t, uint8_t*) {
  *movie = reinterpret_cast<Movie>(0x10);
  return noErr;
}
OSErr closeFile(int16_t) { return noErr; }
Track firstTrack(Movie, int32_t, OSType, int32_t) { return reinterpret_cast<Track>(0x20); }
OSErr prepare(Movie, TimeValue, int32_t) { return noErr; }
TimeValue duration(Track) { return 100; }

// 100 frames of 24-bit mono at 8 kHz.
OSErr convert24(Movie, Track, OSType, Handle handle, TimeValue, TimeValue, int32_t, void*) {
  SndLayout layout;
  layout.numChannels = 1;
  layout.sampleSize = 24;
  layout.sampleRate = 8000u << 16;
  layout.encoding = kTwosEncoding;
  layout.numFrames = 100;
  const size_t header = media::sndHeaderSize(layout);
  if (!media::setHandleSize(handle, uint32_t(header + 300))) return memFullErr;
  media::writeSndHeader(reinterpret_cast<uint8_t*>(*handle), layout);
  std::memset(*handle + header, 0x11, 300);
  return noErr;
}

const MediaOps kTwentyFourBitOps = {pathToSpec,         openFile,  newMovie,          closeFile,
                                    firstTrack,         media::newHandle, prepare,   duration,
                                    convert24,          media::disposeHandle,
                                    media::parseSndHandle, media::lockHandle,
                                    [](Movie) {}};

class ReadErrors : public ScriptSession {
 protected:
  void SetUp() override {
    ScriptSession::SetUp();
    if (!linkedModule()) GTEST_SKIP() << "files a reader into the linked module's table";
    auto* reader = new zrQTfile(kTwentyFourBitOps);
    ASSERT_EQ(reader->open("24-bit"), 0);
    ASSERT_EQ(reader->getSampleRate(), 8000.0);
    // Filed as fileID 1, the way a successful open files it; the object closes it.
    auto* instance = static_cast<Instance*>(object->instance());
    auto* pointer = new RefPointer(reader);
    ASSERT_TRUE(instance->openFiles->PutText("1", pointer));
    pointer->Release();
    instance->nextFileId = 2;
  }
};

TEST_F(ReadErrors, EachMethodReportsTheReadFailureInItsOwnWords) {
  EXPECT_EQ(call(kMethodGetSampleRate, {1}).number(), 8000.0);
  EXPECT_EQ(call(kMethodGetFFT, {1}).text(), "0");
  EXPECT_EQ(lastError(), "cannot get samples : error Unknown Sound Format");
  EXPECT_EQ(call(kMethodGetSamples, {1, 0, 10}).text(), "0");
  EXPECT_EQ(lastError(), "error getting samples : Unknown Sound Format");
  EXPECT_EQ(call(kMethodGetAmplitude, {1, 0, 10}).text(), "0");
  EXPECT_EQ(lastError(), "error getting samples : Unknown Sound Format");
  EXPECT_EQ(call(kMethodCloseFile, {1}).integer(), 1);
}

}  // namespace
}  // namespace hx::test
