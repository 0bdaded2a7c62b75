#include "test_runtime/runtime.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "media/file_refs.h"
#include "media/memory_handle.h"
#include "media/snd_resource.h"
#include "test_runtime/audio_file.h"

namespace hx::testrt {
namespace {

// Written down here again rather than shared with the binding, so that a
// wrong number on either side shows in the tests.
enum : uint32_t {
  kNativePathNameToFSSpec = 0x1D002E,
  kOpenMovieFile = 0x20192,
  kNewMovieFromFile = 0x200F0,
  kCloseMovieFile = 0x200D5,
  kGetMovieIndTrackType = 0x20208,
  kPrepareMovie = 0x2019A,
  kGetTrackDuration = 0x2004B,
  kPutMovieIntoTypedHandle = 0x201CD,
  kNewHandle = 0x150008,
  kHLock = 0x15001D,
  kDisposeHandle = 0x150032,
  kParseSndHeader = 0x240010,
  kDisposeMovie = 0x20023,
};

constexpr int16_t kVolume = 0x5154;  // marks the file references made here
constexpr int32_t kTrackMediaType = 1 << 0;
constexpr int32_t kTrackCharacteristic = 1 << 1;
constexpr OSType kSoundMediaType = fourCharCode("soun");

struct MovieData {
  std::vector<uint8_t> file;
  PcmAudio audio;
};

struct State {
  media::FileRefs files{kVolume, "/\\"};
  std::map<uintptr_t, std::unique_ptr<MovieData>> movies;
  uintptr_t nextMovie = 1;
  uint32_t failSelector = 0;
  OSErr failCode = 0;
};

State& state() {
  static State s;
  return s;
}

using media::errnoToErr;

// Movies and their one track share a number.
MovieData* findMovie(uintptr_t id) {
  auto it = state().movies.find(id);
  return it == state().movies.end() ? nullptr : it->second.get();
}
uintptr_t idOf(Movie movie) { return reinterpret_cast<uintptr_t>(movie); }
uintptr_t idOf(Track track) { return reinterpret_cast<uintptr_t>(track); }

// A regular file that opens for reading.
OSErr checkReadable(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return errnoToErr(errno);
  if (!S_ISREG(st.st_mode)) return notAFileErr;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return errnoToErr(errno);
  std::fclose(f);
  return noErr;
}

// The whole file; files of 2 GiB and more are refused as too long.
OSErr readWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return errnoToErr(errno);
  OSErr err = noErr;
  uint8_t chunk[65536];
  for (;;) {
    const size_t n = std::fread(chunk, 1, sizeof chunk, f);
    if (n > size_t(INT32_MAX) - bytes->size()) {
      err = memFullErr;
      break;
    }
    bytes->insert(bytes->end(), chunk, chunk + n);
    if (n < sizeof chunk) {
      if (std::ferror(f)) err = ioErr;
      break;
    }
  }
  std::fclose(f);
  return err;
}

OSErr newMovieFromFile(Movie* movie, int refNum, int16_t* /*resId*/, unsigned char* resName,
                       int /*flags*/, uint8_t* dataRefWasChanged) try {
  if (movie == nullptr) return paramErr;
  *movie = nullptr;
  if (resName != nullptr) resName[0] = 0;
  if (dataRefWasChanged != nullptr) *dataRefWasChanged = 0;
  State& s = state();
  const std::string* path = s.files.pathOfRef(int16_t(refNum));
  if (path == nullptr) return rfNumErr;
  auto data = std::make_unique<MovieData>();
  if (OSErr err = readWholeFile(*path, &data->file)) return err;
  if (OSErr err = parseAudioFile(data->file.data(), data->file.size(), &data->audio)) return err;
  const uintptr_t id = s.nextMovie++;
  s.movies.emplace(id, std::move(data));
  *movie = reinterpret_cast<Movie>(id);
  return noErr;
} catch (const std::bad_alloc&) {
  return memFullErr;
}

// Every file here holds exactly one track, its audio.
Track getMovieIndTrackType(Movie movie, int32_t index, OSType characteristic, int32_t flags) {
  if (findMovie(idOf(movie)) == nullptr || index != 1) return nullptr;
  const bool wantsAudio =
      ((flags & kTrackCharacteristic) && characteristic == kAudioCharacteristic) ||
      ((flags & kTrackMediaType) && characteristic == kSoundMediaType);
  return wantsAudio ? reinterpret_cast<Track>(idOf(movie)) : nullptr;
}

OSErr prepareMovie(Movie movie, TimeValue, int32_t) {
  return findMovie(idOf(movie)) != nullptr ? noErr : invalidMovie;
}

// The time unit is one frame.
TimeValue getTrackDuration(Track track) {
  const MovieData* movie = findMovie(idOf(track));
  return movie == nullptr ? 0 : TimeValue(movie->audio.frames);
}

OSErr convert(const MovieData& movie, Handle handle, TimeValue start, TimeValue duration) {
  const PcmAudio& audio = movie.audio;
  if (!audio.decodable) return cantFindHandler;
  const uint64_t first = std::min<uint64_t>(uint64_t(start), audio.frames);
  const uint64_t end = std::min<uint64_t>(first + uint64_t(duration), audio.frames);
  media::SndLayout layout;
  layout.numChannels = audio.channels;
  layout.sampleSize = 16;
  layout.sampleRate = audio.rate;
  layout.encoding = kTwosEncoding;
  layout.numFrames = uint32_t(end - first);
  const uint64_t headerBytes = media::sndHeaderSize(layout);
  const uint64_t total = headerBytes + (end - first) * uint64_t(audio.channels) * 2;
  if (total > kMaxSoundBytes) return soundTooLargeErr;
  if (!media::setHandleSize(handle, uint32_t(total))) return memFullErr;
  uint8_t* out = reinterpret_cast<uint8_t*>(*handle);
  media::writeSndHeader(out, layout);
  writeBigEndian16(out + headerBytes, movie.file.data(), audio, uint32_t(first),
                   layout.numFrames);
  return noErr;
}

// The movie is released once converted, whatever the outcome.
OSErr putMovieIntoTypedHandle(Movie movie, Track track, OSType handleType, Handle handle,
                              TimeValue start, TimeValue duration, int32_t /*flags*/,
                              void* /*exportComponent*/) {
  State& s = state();
  auto it = s.movies.find(idOf(movie));
  if (it == s.movies.end()) return invalidMovie;
  OSErr err = noErr;
  if (idOf(track) != it->first)
    err = invalidTrack;
  else if (handleType != kSoundResourceType || start < 0 || duration < 0)
    err = paramErr;
  else if (handle == nullptr)
    err = nilHandleErr;
  else
    err = convert(*it->second, handle, start, duration);
  s.movies.erase(it);
  return err;
}

OSErr parseSndHeader(Handle sound, SoundComponentData* info, uint32_t* numFrames,
                     uint32_t* dataOffset) {
  if (info == nullptr || numFrames == nullptr || dataOffset == nullptr) return paramErr;
  return media::parseSndHandle(sound, info, numFrames, dataOffset);
}

intptr_t code(OSErr err) { return intptr_t(err); }
template <typename T>
intptr_t pointer(T* p) {
  return reinterpret_cast<intptr_t>(p);
}

intptr_t failed(uint32_t selector, OSErr failCode) {
  switch (selector) {
    case kGetMovieIndTrackType:
    case kNewHandle:
    case kGetTrackDuration:
    case kHLock:
    case kDisposeHandle:
    case kDisposeMovie:
      return 0;
    default:
      return code(failCode);
  }
}

}  // namespace

intptr_t dispatch(uint32_t selector, va_list args) {
  State& s = state();
  if (s.failSelector != 0 && selector == s.failSelector) return failed(selector, s.failCode);
  switch (selector) {
    case kNativePathNameToFSSpec: {
      auto path = va_arg(args, const char*);
      return code(s.files.makeSpec(path, va_arg(args, FSSpec*)));
    }
    case kOpenMovieFile: {
      auto spec = va_arg(args, const FSSpec*);
      auto refNum = va_arg(args, int16_t*);
      return code(s.files.open(spec, refNum, va_arg(args, int), checkReadable));
    }
    case kNewMovieFromFile: {
      auto movie = va_arg(args, Movie*);
      auto refNum = va_arg(args, int);
      auto resId = va_arg(args, int16_t*);
      auto resName = va_arg(args, unsigned char*);
      auto flags = va_arg(args, int);
      return code(newMovieFromFile(movie, refNum, resId, resName, flags, va_arg(args, uint8_t*)));
    }
    case kCloseMovieFile:
      return code(s.files.close(int16_t(va_arg(args, int))));
    case kGetMovieIndTrackType: {
      auto movie = va_arg(args, Movie);
      auto index = va_arg(args, int32_t);
      auto characteristic = va_arg(args, OSType);
      return pointer(getMovieIndTrackType(movie, index, characteristic, va_arg(args, int32_t)));
    }
    case kPrepareMovie: {
      auto movie = va_arg(args, Movie);
      auto time = va_arg(args, TimeValue);
      return code(prepareMovie(movie, time, va_arg(args, int32_t)));
    }
    case kGetTrackDuration:
      return intptr_t(getTrackDuration(va_arg(args, Track)));
    case kPutMovieIntoTypedHandle: {
      auto movie = va_arg(args, Movie);
      auto track = va_arg(args, Track);
      auto type = va_arg(args, OSType);
      auto handle = va_arg(args, Handle);
      auto start = va_arg(args, TimeValue);
      auto duration = va_arg(args, TimeValue);
      auto flags = va_arg(args, int32_t);
      return code(putMovieIntoTypedHandle(movie, track, type, handle, start, duration, flags,
                                          va_arg(args, void*)));
    }
    case kNewHandle:
      return pointer(media::newHandle(va_arg(args, int32_t)));
    case kHLock:
      media::lockHandle(va_arg(args, Handle));
      return 0;
    case kDisposeHandle:
      media::disposeHandle(va_arg(args, Handle));
      return 0;
    case kDisposeMovie:
      s.movies.erase(idOf(va_arg(args, Movie)));  // numbers are never reused
      return 0;
    case kParseSndHeader: {
      auto sound = va_arg(args, Handle);
      auto info = va_arg(args, SoundComponentData*);
      auto numFrames = va_arg(args, uint32_t*);
      return code(parseSndHeader(sound, info, numFrames, va_arg(args, uint32_t*)));
    }
    default:
      return code(paramErr);
  }
}

void setFailure(uint32_t selector, OSErr failCode) {
  state().failSelector = selector;
  state().failCode = failCode;
}

int64_t liveMovies() { return int64_t(state().movies.size()); }

void resetRuntime() {
  State& s = state();
  s.files.clear();
  s.movies.clear();
}

}  // namespace hx::testrt
