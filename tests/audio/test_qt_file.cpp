// The reader over a fake media layer: the open sequence, its failures, and
// every read a decoder cannot produce (24-bit or big-endian buffers, broken
// headers, ranges far outside the file).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "audio/qt_file.h"
#include "common/media_files.h"
#include "media/memory_handle.h"
#include "media/snd_resource.h"
#include "support/error_text.h"
#include "support/log.h"
#include "support/module_alloc.h"

#if defined(__SANITIZE_ADDRESS__)
// The scratch-copy test asks for more memory than exists; the sanitizer
// build must answer null there as the plain build does, not abort.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}
#endif

namespace hx {
namespace {

using media::SndLayout;

// What the fake platform answers; every call is recorded with its arguments.
struct FakeMedia {
  std::vector<std::string> calls;
  OSErr pathErr = noErr;
  OSErr openErr = noErr;
  OSErr movieErr = noErr;
  OSErr convertErr = noErr;
  OSErr parseErr = noErr;  // forced instead of parsing
  bool handleShort = false;
  TimeValue duration = 1234;
  std::vector<uint8_t> resource;  // what the conversion writes
  // When set, the parse reports these values whatever the buffer holds.
  bool scriptedHeader = false;
  SoundComponentData header{};
  uint32_t headerFrames = 0;
  uint32_t headerOffset = 0;
  int disposed = 0;
};

FakeMedia* gFake = nullptr;
MovieRecord* const kMovie = reinterpret_cast<MovieRecord*>(0x1000);
TrackRecord* const kTrack = reinterpret_cast<TrackRecord*>(0x2000);

std::string fourCC(OSType t) {
  return {char(t >> 24), char(t >> 16), char(t >> 8), char(t)};
}
void record(const std::string& call) { gFake->calls.push_back(call); }

const MediaOps kFakeOps = {
    [](const char* path, FSSpec*, int32_t flags) -> OSErr {
      record("NativePathNameToFSSpec " + std::string(path) + " " + std::to_string(flags));
      return gFake->pathErr;
    },
    [](const FSSpec*, int16_t* refNum, int8_t permission) -> OSErr {
      record("OpenMovieFile " + std::to_string(permission));
      *refNum = 7;
      return gFake->openErr;
    },
    [](Movie* movie, int16_t refNum, int16_t* resId, unsigned char*, int16_t flags,
       uint8_t*) -> OSErr {
      record("NewMovieFromFile " + std::to_string(refNum) + " " + std::to_string(*resId) + " " +
             std::to_string(flags));
      if (gFake->movieErr) return gFake->movieErr;
      *movie = kMovie;
      return noErr;
    },
    [](int16_t refNum) -> OSErr {
      record("CloseMovieFile " + std::to_string(refNum));
      return noErr;
    },
    [](Movie movie, int32_t index, OSType kind, int32_t flags) -> Track {
      record("GetMovieIndTrackType " + std::string(movie == kMovie ? "movie " : "? ") +
             std::to_string(index) + " " + fourCC(kind) + " " + std::to_string(flags));
      return kTrack;
    },
    [](int32_t size) -> Handle {
      record("NewHandle " + std::to_string(size));
      return gFake->handleShort ? nullptr : media::newHandle(size);
    },
    [](Movie, TimeValue time, int32_t flags) -> OSErr {
      record("PrepareMovie " + std::to_string(time) + " " + std::to_string(flags));
      return noErr;
    },
    [](Track track) -> TimeValue {
      record(std::string("GetTrackDuration ") + (track == kTrack ? "track" : "?"));
      return gFake->duration;
    },
    [](Movie movie, Track track, OSType type, Handle handle, TimeValue start, TimeValue duration,
       int32_t flags, void* exporter) -> OSErr {
      record("PutMovieIntoTypedHandle " + std::string(movie == kMovie ? "movie " : "? ") +
             (track == kTrack ? "track " : "? ") + fourCC(type) + " " + std::to_string(start) +
             " " + std::to_string(duration) + " " + std::to_string(flags) +
             (exporter ? " exporter" : ""));
      if (gFake->convertErr) return gFake->convertErr;
      const auto& r = gFake->resource;
      if (!media::setHandleSize(handle, uint32_t(r.size()))) return memFullErr;
      if (!r.empty()) std::memcpy(*handle, r.data(), r.size());
      return noErr;
    },
    [](Handle handle) {
      record("DisposeHandle");
      ++gFake->disposed;
      media::disposeHandle(handle);
    },
    [](Handle handle, SoundComponentData* info, uint32_t* frames, uint32_t* offset) -> OSErr {
      record("ParseSndHeader");
      if (gFake->parseErr) return gFake->parseErr;
      if (!gFake->scriptedHeader) return media::parseSndHandle(handle, info, frames, offset);
      *info = gFake->header;
      *frames = gFake->headerFrames;
      *offset = gFake->headerOffset;
      return noErr;
    },
    [](Handle handle) {
      record("HLock");
      media::lockHandle(handle);
    },
    [](Movie movie) { record(std::string("DisposeMovie ") + (movie == kMovie ? "movie" : "?")); },
};

std::vector<uint8_t> resourceOf(const SndLayout& layout, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out(media::sndHeaderSize(layout));
  media::writeSndHeader(out.data(), layout);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::vector<uint8_t> hostBytes(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> out(samples.size() * 2);
  std::memcpy(out.data(), samples.data(), out.size());
  return out;
}

std::vector<uint8_t> bigEndianBytes(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> out;
  for (int16_t s : samples) {
    out.push_back(uint8_t(uint16_t(s) >> 8));
    out.push_back(uint8_t(s));
  }
  return out;
}

// Mono 16-bit host-order frames 1, 2, ... n: no frame is zero, so zero fill
// and frames read are told apart.
std::vector<int16_t> ramp(int n) {
  std::vector<int16_t> out(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out[size_t(i)] = int16_t(i + 1);
  return out;
}

constexpr UnsignedFixed k44100 = 44100u << 16;
constexpr int16_t kSentinel = 0x5A5A;

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gFake = &fake;
    handlesBefore = media::liveHandles();
    readersBefore = zrQTfile::liveReaders();
  }
  void TearDown() override {
    EXPECT_EQ(media::liveHandles(), handlesBefore);
    EXPECT_EQ(zrQTfile::liveReaders(), readersBefore);
    gFake = nullptr;
  }
  void useMono16(int frames) {
    fake.resource = resourceOf({1, 16, k44100, kSowtEncoding, uint32_t(frames)}, hostBytes(ramp(frames)));
  }

  FakeMedia fake;
  int64_t handlesBefore = 0;
  int64_t readersBefore = 0;
};

TEST_F(ReaderTest, OpenCallsThePlatformInOrderWithItsArguments) {
  useMono16(10);
  zrQTfile reader(kFakeOps);
  ASSERT_EQ(reader.open("/some/file.mov"), 0);
  const std::vector<std::string> expected = {
      "NativePathNameToFSSpec /some/file.mov 0",
      "OpenMovieFile 1",
      "NewMovieFromFile 7 0 1",
      "CloseMovieFile 7",
      "GetMovieIndTrackType movie 1 ears 6",
      "NewHandle 0",
      "PrepareMovie -1 0",
      "GetTrackDuration track",
      "PutMovieIntoTypedHandle movie track snd  0 1234 0",
      "ParseSndHeader",
  };
  EXPECT_EQ(fake.calls, expected);
  EXPECT_TRUE(reader.isOpen());
  EXPECT_TRUE(sameFormat(reader.format, kFormatMono16));
  reader.close();
  reader.close();
  EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "DisposeMovie movie"), 1)
      << "close releases the movie, once";
}

struct OpenFailure {
  const char* name;
  void (*arrange)(FakeMedia&);
  int32_t result;
  const char* lastCall;  // the step that failed
  bool bufferHeld;
  bool movieMade;  // and so released before open returns
};

TEST_F(ReaderTest, OpenFailuresStopAtTheirStepAndReleaseWhatTheyMade) {
  const OpenFailure cases[] = {
      {"platform not loaded", [](FakeMedia& f) { f.pathErr = notLoadedResult; }, -2095,
       "NativePathNameToFSSpec", false, false},
      {"path not found", [](FakeMedia& f) { f.pathErr = fnfErr; }, -43, "NativePathNameToFSSpec",
       false, false},
      {"file unreadable", [](FakeMedia& f) { f.openErr = permErr; }, -54, "OpenMovieFile", false,
       false},
      {"no movie: the file is closed again", [](FakeMedia& f) { f.movieErr = invalidMovie; }, -2010,
       "CloseMovieFile", false, false},
      {"no empty handle", [](FakeMedia& f) { f.handleShort = true; }, errNotEnoughMemory,
       "NewHandle", false, true},
      {"conversion fails: buffer released", [](FakeMedia& f) { f.convertErr = invalidTrack; },
       -2009, "DisposeHandle", false, true},
      {"header unreadable: buffer held", [](FakeMedia& f) { f.parseErr = badFormat; }, -206,
       "ParseSndHeader", true, true},
      {"most negative 16-bit code keeps its sign", [](FakeMedia& f) { f.pathErr = INT16_MIN; },
       -32768, "NativePathNameToFSSpec", false, false},
  };
  for (const OpenFailure& c : cases) {
    SCOPED_TRACE(c.name);
    fake = FakeMedia{};
    useMono16(10);
    c.arrange(fake);
    zrQTfile reader(kFakeOps);
    EXPECT_EQ(reader.open("x"), c.result);
    std::vector<std::string> calls = fake.calls;
    const bool released = !calls.empty() && calls.back() == "DisposeMovie movie";
    if (released) calls.pop_back();
    EXPECT_EQ(released, c.movieMade) << "a failed open releases the movie it made, and only that";
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().rfind(c.lastCall, 0), 0u) << calls.back();
    EXPECT_EQ(reader.isOpen(), c.bufferHeld);
    EXPECT_TRUE(sameFormat(reader.format, kFormatNone));
    // Whatever state open left, reads fail without touching the destination.
    std::vector<int16_t> dest(4, kSentinel);
    const int32_t read = reader.readFrames(dest.data(), kFormatMono16, 0, 4);
    EXPECT_EQ(read, c.bufferHeld ? int32_t(badFormat) : errNotInitialized);
    EXPECT_EQ(dest, std::vector<int16_t>(4, kSentinel));
    EXPECT_EQ(reader.getSampleRate(), 0.0);
    EXPECT_EQ(reader.readFormat(), c.bufferHeld ? int32_t(badFormat) : errNotInitialized);
  }
}

// The module hands its media layer in at load; a reader made without a
// table of its own uses that one.
TEST_F(ReaderTest, ReaderMadeWithoutATableUsesTheOneHandedIn) {
  const MediaOps& before = moduleMediaOps();
  setModuleMediaOps(kFakeOps);
  useMono16(10);
  {
    zrQTfile reader;
    EXPECT_EQ(reader.open("/handed/in.wav"), 0);
  }
  setModuleMediaOps(before);
  ASSERT_FALSE(fake.calls.empty());
  EXPECT_EQ(fake.calls.front(), "NativePathNameToFSSpec /handed/in.wav 0");
}

TEST_F(ReaderTest, OpenWritesItsLogLineEvenWhenItFails) {
  test::TempDir dir;
  const std::string path = dir.file("reader.log");
  OpenLog(path.c_str());
  fake.pathErr = fnfErr;
  {
    zrQTfile reader(kFakeOps);
    EXPECT_EQ(reader.open("missing"), -43);
  }
  OpenLog(nullptr);
  std::ifstream log(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "zrQTfile::open");
}

TEST_F(ReaderTest, SampleRateIsTheExactFixedPointValue) {
  const struct {
    UnsignedFixed fixed;
    double rate;
  } cases[] = {
      {k44100, 44100.0},
      {(11025u << 16) | 0x8000, 11025.5},
      {0xFFFFFFFFu, 65535.0 + 65535.0 / 65536.0},
      {1, 1.0 / 65536.0},
      {0, 0.0},
  };
  for (const auto& c : cases) {
    fake.resource = resourceOf({1, 16, c.fixed, kSowtEncoding, 0}, {});
    zrQTfile reader(kFakeOps);
    ASSERT_EQ(reader.open("x"), 0);
    EXPECT_EQ(reader.getSampleRate(), c.rate) << c.fixed;
  }
}

struct RangeCase {
  const char* name;
  int32_t start;
  int32_t count;
  int32_t firstFrame;  // file frame that lands at destination frame 0
  int32_t framesRead;
};

TEST_F(ReaderTest, ReadsClipToTheFileAndZeroFillTheRest) {
  useMono16(1000);
  zrQTfile reader(kFakeOps);
  ASSERT_EQ(reader.open("x"), 0);
  const RangeCase cases[] = {
      {"whole file", 0, 1000, 0, 1000},
      {"inside", 500, 10, 500, 10},
      {"start at the end", 1000, 100, 0, 0},
      {"start past the end", 5000, 100, 0, 0},
      {"negative start lands at frame 0", -10, 100, 0, 90},
      {"negative start reaching before the count", -200, 100, 0, 0},
      {"negative start equal to the count", -100, 100, 0, 0},
      {"range over the end", 950, 100, 950, 50},
      {"negative start and over the end", -5, 2000, 0, 1000},
      {"count 0", 10, 0, 0, 0},
      {"near the largest start", INT32_MAX - 9, 100, 0, 0},
      {"largest start", INT32_MAX, 3, 0, 0},
  };
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t guard = 8;
    std::vector<int16_t> dest(size_t(c.count) + guard, kSentinel);
    ASSERT_EQ(reader.readFrames(dest.data(), kFormatMono16, c.start, c.count), 0);
    for (int32_t i = 0; i < c.count; ++i) {
      const int16_t want = i < c.framesRead ? int16_t(c.firstFrame + i + 1) : 0;
      ASSERT_EQ(dest[size_t(i)], want) << "destination frame " << i;
    }
    for (size_t i = 0; i < guard; ++i) ASSERT_EQ(dest[size_t(c.count) + i], kSentinel);
  }
}

TEST_F(ReaderTest, ReadsConvertToTheAskedLayout) {
  // Stereo host-order frames (L, R) = (-3, 0), (32767, 32767), (1000, -1000).
  const std::vector<int16_t> stereo = {-3, 0, 32767, 32767, 1000, -1000};
  fake.resource = resourceOf({2, 16, k44100, kSowtEncoding, 3}, hostBytes(stereo));
  zrQTfile reader(kFakeOps);
  ASSERT_EQ(reader.open("x"), 0);
  EXPECT_TRUE(sameFormat(reader.format, kFormatStereo16));
  std::vector<int16_t> mono(3);
  ASSERT_EQ(reader.readFrames(mono.data(), kFormatMono16, 0, 3), 0);
  EXPECT_EQ(mono, (std::vector<int16_t>{-1, 32766, 0}));
  std::vector<int16_t> same(6);
  ASSERT_EQ(reader.readFrames(same.data(), kFormatStereo16, 0, 3), 0);
  EXPECT_EQ(same, stereo);
  std::vector<int8_t> narrow(3);
  ASSERT_EQ(reader.readFrames(narrow.data(), kFormatMono8, 1, 2), 0);
  EXPECT_EQ(narrow, (std::vector<int8_t>{126, 0, 0}));
}

TEST_F(ReaderTest, BigEndianBuffersAreSwappedOnACopy) {
  const std::vector<int16_t> stereo = {0x1234, -2, -32768, 0x0102, 7, 9};
  fake.resource = resourceOf({2, 16, k44100, kTwosEncoding, 3}, bigEndianBytes(stereo));
  zrQTfile reader(kFakeOps);
  ASSERT_EQ(reader.open("x"), 0);
  for (int pass = 0; pass < 2; ++pass) {  // a second read sees the same unswapped buffer
    SCOPED_TRACE(pass);
    std::vector<int16_t> mono(3);
    ASSERT_EQ(reader.readFrames(mono.data(), kFormatMono16, 0, 3), 0);
    EXPECT_EQ(mono, (std::vector<int16_t>{0x1234 / 2 + -2 / 2, -32768 / 2 + 0x0102 / 2, 7 / 2 + 9 / 2}));
    std::vector<int16_t> frames(4, kSentinel);
    ASSERT_EQ(reader.readFrames(frames.data(), kFormatStereo16, 1, 2), 0);
    EXPECT_EQ(frames, (std::vector<int16_t>{-32768, 0x0102, 7, 9}));
  }
}

TEST_F(ReaderTest, TwentyFourBitBufferOpensButCannotBeConverted) {
  std::vector<uint8_t> data(100 * 3, 0x11);
  fake.resource = resourceOf({1, 24, 48000u << 16, kTwosEncoding, 100}, data);
  zrQTfile reader(kFakeOps);
  ASSERT_EQ(reader.open("x"), 0);
  EXPECT_EQ(reader.format.channels, 1);
  EXPECT_EQ(reader.format.bytesPerSample, 3);
  EXPECT_EQ(reader.getSampleRate(), 48000.0);
  std::vector<int16_t> dest(100, kSentinel);
  EXPECT_EQ(reader.readFrames(dest.data(), kFormatMono16, 0, 100), errUnknownSoundFormat);
  EXPECT_EQ(dest, std::vector<int16_t>(100, 0));
}

TEST_F(ReaderTest, ReadsBeforeOpenAndAfterCloseLeaveTheDestinationAlone) {
  useMono16(10);
  zrQTfile reader(kFakeOps);
  std::vector<int16_t> dest(4, kSentinel);
  EXPECT_EQ(reader.readFrames(dest.data(), kFormatMono16, 0, 4), errNotInitialized);
  EXPECT_EQ(reader.getSampleRate(), 0.0);
  ASSERT_EQ(reader.open("x"), 0);
  reader.close();
  reader.close();
  EXPECT_EQ(fake.disposed, 1);
  EXPECT_FALSE(reader.isOpen());
  EXPECT_EQ(reader.readFrames(dest.data(), kFormatMono16, 0, 4), errNotInitialized);
  EXPECT_EQ(reader.readFormat(), errNotInitialized);
  EXPECT_EQ(dest, std::vector<int16_t>(4, kSentinel));
}

TEST_F(ReaderTest, DestructorReleasesTheBufferOnce) {
  useMono16(10);
  {
    zrQTfile reader(kFakeOps);
    ASSERT_EQ(reader.open("x"), 0);
    EXPECT_EQ(zrQTfile::liveReaders(), readersBefore + 1);
  }
  EXPECT_EQ(fake.disposed, 1);
  {
    zrQTfile reader(kFakeOps);
    ASSERT_EQ(reader.open("x"), 0);
    reader.close();
  }
  EXPECT_EQ(fake.disposed, 2);
}

// Ranges whose start + count does not fit 32 bits. A kFormatNone destination
// takes no zero fill, so the arithmetic runs without a destination of
// count frames; the sanitizer build traps any signed overflow in it.
TEST_F(ReaderTest, RangeArithmeticDoesNotOverflow) {
  const OSType encodings[] = {kSowtEncoding, kTwosEncoding};
  for (OSType encoding : encodings) {
    SCOPED_TRACE(fourCC(encoding));
    fake.resource = resourceOf({1, 16, k44100, encoding, 1000}, hostBytes(ramp(1000)));
    zrQTfile reader(kFakeOps);
    ASSERT_EQ(reader.open("x"), 0);
    int16_t none = kSentinel;
    // 990 frames are converted, and the unknown layout refuses them.
    EXPECT_EQ(reader.readFrames(&none, kFormatNone, 10, INT32_MAX), errUnknownSoundFormat);
    EXPECT_EQ(reader.readFrames(&none, kFormatNone, INT32_MIN, INT32_MAX), 0);
    EXPECT_EQ(reader.readFrames(&none, kFormatMono16, -5, INT32_MIN), 0);
    EXPECT_EQ(reader.readFrames(&none, kFormatMono16, INT32_MIN, INT32_MIN), 0);
    EXPECT_EQ(reader.readFrames(&none, kFormatMono16, 3, -1), 0);
    EXPECT_EQ(none, kSentinel);  // negative counts write nothing
  }
}

TEST_F(ReaderTest, ScratchCopyThatCannotBeAllocatedIsAnError) {
  // A header that claims far more big-endian data than any memory holds.
  useMono16(4);
  fake.scriptedHeader = true;
  fake.header.format = kTwosEncoding;
  fake.header.numChannels = INT16_MAX;
  fake.header.sampleSize = 32;
  fake.header.sampleRate = k44100;
  fake.headerFrames = INT32_MAX;
  fake.headerOffset = 0;
  zrQTfile reader(kFakeOps);
  ASSERT_EQ(reader.open("x"), 0);
  int16_t none = kSentinel;
  EXPECT_EQ(reader.readFrames(&none, kFormatNone, 0, INT32_MAX), errNotEnoughMemory);
  EXPECT_EQ(none, kSentinel);
}

// A zero fill larger than the address space is memory we cannot have, the
// same code as a scratch copy too large for it. Only a 32-bit build can ask
// for one: 2^31 - 1 stereo frames are 8 GiB.
TEST_F(ReaderTest, DestinationLargerThanTheAddressSpaceIsNotEnoughMemory) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "every destination size fits a 64-bit address space";
  fake.resource = resourceOf({2, 16, k44100, kSowtEncoding, 3}, hostBytes(ramp(6)));
  zrQTfile reader(kFakeOps);
  ASSERT_EQ(reader.open("x"), 0);
  int16_t none = kSentinel;
  EXPECT_EQ(reader.readFrames(&none, kFormatStereo16, 0, INT32_MAX), errNotEnoughMemory);
  EXPECT_EQ(none, kSentinel) << "refused before the zero fill";
}

// The module's own allocations of a reader, each made to fail: the empty
// sound buffer at open and the scratch copy of big-endian data.
TEST_F(ReaderTest, ModuleAllocationFailuresAreNotEnoughMemory) {
  const std::vector<int16_t> stereo = {0x1234, -2, -32768, 0x0102, 7, 9};
  fake.resource = resourceOf({2, 16, k44100, kTwosEncoding, 3}, bigEndianBytes(stereo));
  {
    zrQTfile reader(kFakeOps);
    FailModuleAllocationAt(1);
    EXPECT_EQ(reader.open("x"), errNotEnoughMemory);
    FailModuleAllocationAt(0);
    EXPECT_FALSE(reader.isOpen());
  }
  zrQTfile reader(kFakeOps);
  ASSERT_EQ(reader.open("x"), 0);
  std::vector<int16_t> mono(3, kSentinel);
  FailModuleAllocationAt(1);
  EXPECT_EQ(reader.readFrames(mono.data(), kFormatMono16, 0, 3), errNotEnoughMemory);
  FailModuleAllocationAt(0);
  EXPECT_EQ(mono, (std::vector<int16_t>{0, 0, 0})) << "zero-filled, as before any read";
  EXPECT_EQ(reader.readFrames(mono.data(), kFormatMono16, 0, 3), 0);
}

}  // namespace
}  // namespace hx
