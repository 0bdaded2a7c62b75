#include "audio/qt_file.h"

#include <atomic>
#include <cstring>
#include <new>

#include "support/error_text.h"
#include "support/log.h"
#include "support/module_alloc.h"

namespace hx {
namespace {

constexpr int32_t kAsOneFile = 0;
constexpr int8_t kReadOnly = 1;
constexpr int16_t kNewMovieActive = 1;
constexpr int32_t kIndexFirst = 1;
constexpr int32_t kCharacteristicEnabledOnly = 6;

std::atomic<int64_t> gLiveReaders{0};

// A block no larger than the address space allows; a size past it is
// memory we cannot have, whichever buffer it is for.
constexpr uint64_t kMaxBufferBytes = SIZE_MAX;

void swapBytePairs(uint8_t* bytes, size_t count) {
  for (size_t i = 0; i + 1 < count; i += 2) {
    const uint8_t first = bytes[i];
    bytes[i] = bytes[i + 1];
    bytes[i + 1] = first;
  }
}

// Operations of a module that was handed no media layer.
const MediaOps kNotLoadedOps = {
    .NativePathNameToFSSpec = [](const char*, FSSpec*, int32_t) -> OSErr { return notLoadedResult; },
    .OpenMovieFile = [](const FSSpec*, int16_t*, int8_t) -> OSErr { return notLoadedResult; },
    .NewMovieFromFile = [](Movie*, int16_t, int16_t*, unsigned char*, int16_t, uint8_t*) -> OSErr {
      return notLoadedResult;
    },
    .CloseMovieFile = [](int16_t) -> OSErr { return notLoadedResult; },
    .GetMovieIndTrackType = [](Movie, int32_t, OSType, int32_t) -> Track { return nullptr; },
    .NewHandle = [](int32_t) -> Handle { return nullptr; },
    .PrepareMovie = [](Movie, TimeValue, int32_t) -> OSErr { return notLoadedResult; },
    .GetTrackDuration = [](Track) -> TimeValue { return 0; },
    .PutMovieIntoTypedHandle = [](Movie, Track, OSType, Handle, TimeValue, TimeValue, int32_t,
                                  void*) -> OSErr { return notLoadedResult; },
    .DisposeHandle = [](Handle) {},
    .ParseSndHeader = [](Handle, SoundComponentData*, uint32_t*, uint32_t*) -> OSErr {
      return notLoadedResult;
    },
    .HLock = [](Handle) {},
    .DisposeMovie = [](Movie) {},
};

// Module-wide, set once at load before any object exists.
constinit std::atomic<const MediaOps*> gModuleOps{nullptr};

}  // namespace

const MediaOps& moduleMediaOps() {
  const MediaOps* ops = gModuleOps.load();
  return ops != nullptr ? *ops : kNotLoadedOps;
}

void setModuleMediaOps(const MediaOps& ops) { gModuleOps.store(&ops); }

zrQTfile::zrQTfile() : zrQTfile(moduleMediaOps()) {}

zrQTfile::zrQTfile(const MediaOps& ops) : ops_(&ops) { ++gLiveReaders; }

zrQTfile::~zrQTfile() {
  close();
  --gLiveReaders;
}

int64_t zrQTfile::liveReaders() { return gLiveReaders.load(); }

int32_t zrQTfile::open(const char* path) {
  LogLine("zrQTfile::open");
  // Opening again replaces the file: the buffer of the first must not be lost.
  close();
  if (int32_t err = openMovie(path)) return err;
  const int32_t result = convertTrack();
  // A failed open keeps no movie: nothing would ever release it.
  if (result != 0) releaseMovie();
  return result;
}

int32_t zrQTfile::openMovie(const char* path) {
  FSSpec location{};
  if (OSErr err = ops_->NativePathNameToFSSpec(path, &location, kAsOneFile)) return err;
  int16_t refNum = 0;
  if (OSErr err = ops_->OpenMovieFile(&location, &refNum, kReadOnly)) return err;
  int16_t resId = 0;
  unsigned char name[256];
  uint8_t dataRefWasChanged = 0;
  const OSErr made =
      ops_->NewMovieFromFile(&movie_, refNum, &resId, name, kNewMovieActive, &dataRefWasChanged);
  ops_->CloseMovieFile(refNum);
  if (made) movie_ = nullptr;  // a failed call hands out no movie to release
  return made;
}

int32_t zrQTfile::convertTrack() {
  track_ = ops_->GetMovieIndTrackType(movie_, kIndexFirst, kAudioCharacteristic,
                                      kCharacteristicEnabledOnly);
  soundBuffer_ = ModuleMayAllocate() ? ops_->NewHandle(0) : nullptr;
  if (soundBuffer_ == nullptr) return errNotEnoughMemory;
  ops_->PrepareMovie(movie_, -1, 0);
  const TimeValue duration = ops_->GetTrackDuration(track_);
  const OSErr converted = ops_->PutMovieIntoTypedHandle(movie_, track_, kSoundResourceType,
                                                        soundBuffer_, 0, duration, 0, nullptr);
  if (converted) {
    ops_->DisposeHandle(soundBuffer_);
    soundBuffer_ = nullptr;
    return converted;
  }
  return readFormat();
}

int32_t zrQTfile::parseHeader(SoundHeaderInfo& info) {
  if (soundBuffer_ == nullptr) return errNotInitialized;
  SoundComponentData data{};
  uint32_t numFrames = 0;
  uint32_t dataOffset = 0;
  if (OSErr err = ops_->ParseSndHeader(soundBuffer_, &data, &numFrames, &dataOffset)) return err;
  info.format = data.format;
  info.numChannels = data.numChannels;
  info.sampleSize = data.sampleSize;
  info.sampleRate = data.sampleRate;
  info.numFrames = numFrames;
  info.dataOffset = dataOffset;
  return 0;
}

int32_t zrQTfile::readFormat() {
  SoundHeaderInfo info;
  if (int32_t err = parseHeader(info)) return err;
  format.channels = info.numChannels;
  format.bytesPerSample = int16_t(info.sampleSize / 8);
  return 0;
}

double zrQTfile::getSampleRate() {
  SoundHeaderInfo info;
  if (parseHeader(info) != 0) return 0.0;
  return double(info.sampleRate) * (1.0 / 65536.0);
}

int32_t zrQTfile::readFrames(void* destination, SoundFormat destinationFormat, int32_t start,
                             int32_t count) {
  SoundHeaderInfo info;
  if (int32_t err = parseHeader(info)) return err;

  // 64-bit throughout: start + count must not wrap (start 10 with count
  // 2^31 - 1 is a legal request).
  const int64_t zeroBytes = int64_t(count) * frameBytes(destinationFormat);
  if (zeroBytes > 0) {
    if (uint64_t(zeroBytes) > kMaxBufferBytes) return errNotEnoughMemory;
    std::memset(destination, 0, size_t(zeroBytes));
  }
  const int64_t frames = int32_t(info.numFrames);
  if (start >= frames) return 0;
  int64_t first = start;
  int64_t n = count;
  if (first < 0) {
    n += first;
    first = 0;
  }
  if (first + n > frames) n = frames - first;
  if (n < 0) return 0;

  ops_->HLock(soundBuffer_);
  const int32_t layoutBytes = frameBytes(format);
  const size_t bytesPerFrame = layoutBytes > 0 ? size_t(layoutBytes) : 0;
  const uint8_t* source = reinterpret_cast<const uint8_t*>(*soundBuffer_) + info.dataOffset +
                          size_t(first) * bytesPerFrame;
  if (info.format != kTwosEncoding)
    return convertFrames(source, uint32_t(n), format, destination, destinationFormat);

  // Big-endian samples are swapped on a private copy: the buffer stays as
  // converted at open.
  const uint64_t wanted = uint64_t(n) * bytesPerFrame;
  if (wanted > kMaxBufferBytes) return errNotEnoughMemory;
  const size_t bytes = size_t(wanted);
  uint8_t* scratch = NewArrayOrNull<uint8_t>(bytes == 0 ? 1 : bytes);
  if (scratch == nullptr) return errNotEnoughMemory;
  std::memcpy(scratch, source, bytes);
  swapBytePairs(scratch, bytes);
  const int32_t result = convertFrames(scratch, uint32_t(n), format, destination, destinationFormat);
  delete[] scratch;
  return result;
}

void zrQTfile::releaseMovie() {
  if (movie_ != nullptr) ops_->DisposeMovie(movie_);
  movie_ = nullptr;
  track_ = nullptr;
}

void zrQTfile::close() {
  if (soundBuffer_ != nullptr) ops_->DisposeHandle(soundBuffer_);
  soundBuffer_ = nullptr;
  releaseMovie();
}

}  // namespace hx
