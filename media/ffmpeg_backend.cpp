// The FFmpeg media layer: files, movies and tracks, and the decoding of a
// track into a sound resource (written by SoundWriter, or by a fast path).
#include "media/ffmpeg_backend.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include "media/fast_decode.h"
#include "media/file_refs.h"
#include "media/media_probe.h"
#include "media/memory_handle.h"
#include "media/snd_resource.h"
#include "media/sound_writer.h"
#include "media/track_decoder.h"

namespace hx::media {
namespace {

constexpr int16_t kVolume = 0x4858;  // marks the locations we made
constexpr int32_t kTrackMediaType = 1 << 0;
constexpr int32_t kTrackCharacteristic = 1 << 1;
constexpr int32_t kEnabledOnly = 1 << 2;
constexpr OSType kSoundMediaType = fourCharCode("soun");

struct TrackRecord {
  int streamIndex;
};

struct MovieRecord {
  Container container;
  std::vector<TrackRecord> tracks;  // one per stream, never resized
};

struct Backend {
  FileRefs files{kVolume, "/"};
  std::map<uintptr_t, std::unique_ptr<MovieRecord>> movies;
  uintptr_t nextMovieId = 1;
  uint32_t soundBytesLimit = kMaxSoundBytes;
  std::chrono::milliseconds openBudget{kOpenBudgetMs};
  std::chrono::milliseconds convertBudget{kConvertBudgetMs};
};

Backend& backend() {
  static Backend b;
  return b;
}

Movie movieFromId(uintptr_t id) { return reinterpret_cast<Movie>(id); }
uintptr_t idOfMovie(Movie m) { return reinterpret_cast<uintptr_t>(m); }

MovieRecord* findMovie(Movie m) {
  auto& movies = backend().movies;
  auto it = movies.find(idOfMovie(m));
  return it == movies.end() ? nullptr : it->second.get();
}

// The movie that holds track, or null for a track of no live movie. Looks
// at addresses only, so a stale track is never dereferenced.
MovieRecord* movieOfTrack(Track track, const TrackRecord** record) {
  if (track == nullptr) return nullptr;
  for (auto& [id, movie] : backend().movies) {
    for (const TrackRecord& t : movie->tracks) {
      if (reinterpret_cast<const void*>(&t) == reinterpret_cast<const void*>(track)) {
        *record = &t;
        return movie.get();
      }
    }
  }
  return nullptr;
}

// ---- files ------------------------------------------------------------------

OSErr nativePathNameToFSSpec(const char* path, FSSpec* location, int32_t /*flags*/) {
  return backend().files.makeSpec(path, location);
}

// Checks that the path is a regular file we may read, without blocking on
// FIFOs or devices.
OSErr checkReadable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errnoToErr(errno);
  struct stat st;
  const bool ok = fstat(fd, &st) == 0;
  const int e = errno;
  ::close(fd);
  if (!ok) return errnoToErr(e);
  return S_ISREG(st.st_mode) ? noErr : notAFileErr;
}

OSErr openMovieFile(const FSSpec* location, int16_t* refNum, int8_t permission) {
  return backend().files.open(location, refNum, permission, checkReadable);
}

OSErr closeMovieFile(int16_t refNum) { return backend().files.close(refNum); }

// ---- movies and tracks ------------------------------------------------------

OSErr newMovieFromFile(Movie* movie, int16_t refNum, int16_t* /*resId*/, unsigned char* resName,
                       int16_t /*flags*/, uint8_t* dataRefWasChanged) try {
  if (movie == nullptr) return paramErr;
  *movie = nullptr;
  if (resName != nullptr) resName[0] = 0;
  if (dataRefWasChanged != nullptr) *dataRefWasChanged = 0;
  Backend& b = backend();
  const std::string* path = b.files.pathOfRef(refNum);
  if (path == nullptr) return rfNumErr;
  auto record = std::make_unique<MovieRecord>();
  switch (openContainer(*path, b.openBudget, &record->container)) {
    case OpenResult::opened:
      break;
    case OpenResult::timedOut:
      return openTimedOutErr;
    case OpenResult::noMemory:
      return memFullErr;
    case OpenResult::notMedia:
      return invalidMovie;
  }
  const AVFormatContext* raw = record->container.format();
  record->tracks.resize(raw->nb_streams);
  for (unsigned i = 0; i < raw->nb_streams; ++i) record->tracks[i].streamIndex = int(i);
  const uintptr_t id = b.nextMovieId++;
  b.movies.emplace(id, std::move(record));
  *movie = movieFromId(id);
  return noErr;
} catch (...) {
  return memFullErr;
}

// The index-th of the audio tracks (enabled ones only with kEnabledOnly),
// by the track rule of the media probe.
Track getMovieIndTrackType(Movie m, int32_t index, OSType characteristic, int32_t flags) {
  MovieRecord* movie = findMovie(m);
  if (movie == nullptr || index < 1) return nullptr;
  const bool wantsAudio = ((flags & kTrackCharacteristic) && characteristic == kAudioCharacteristic) ||
                          ((flags & kTrackMediaType) && characteristic == kSoundMediaType);
  if (!wantsAudio) return nullptr;
  const std::vector<int> streams =
      audioStreams(movie->container.format(), (flags & kEnabledOnly) != 0);
  if (size_t(index) > streams.size()) return nullptr;
  return reinterpret_cast<Track>(&movie->tracks[size_t(streams[size_t(index) - 1])]);
}

OSErr prepareMovie(Movie m, TimeValue, int32_t) { return findMovie(m) ? noErr : invalidMovie; }

TimeValue trackDuration(const MovieRecord& movie, const TrackRecord& track) {
  const double seconds = statedSeconds(movie.container.format(), track.streamIndex);
  if (seconds < 0) return INT32_MAX;
  const double units = std::ceil(seconds * kMovieTimeScale);
  return units >= double(INT32_MAX) ? INT32_MAX : TimeValue(units);
}

TimeValue getTrackDuration(Track t) {
  const TrackRecord* track = nullptr;
  const MovieRecord* movie = movieOfTrack(t, &track);
  return movie == nullptr ? 0 : trackDuration(*movie, *track);
}

// ---- decoding ----------------------------------------------------------------

// Drops the movie from the registry when the conversion ends, however it ends.
struct MovieRelease {
  uintptr_t id;
  ~MovieRelease() { backend().movies.erase(id); }
};

OSErr putMovieIntoTypedHandle(Movie m, Track t, OSType handleType, Handle handle, TimeValue start,
                              TimeValue duration, int32_t /*flags*/, void* /*exporter*/) try {
  MovieRecord* movie = findMovie(m);
  if (movie == nullptr) return invalidMovie;
  MovieRelease release{idOfMovie(m)};
  const TrackRecord* track = nullptr;
  if (movieOfTrack(t, &track) != movie) return invalidTrack;
  if (handleType != kSoundResourceType || start < 0 || duration < 0) return paramErr;
  if (handle == nullptr) return nilHandleErr;
  if (isLocked(handle)) return paramErr;

  TrackDecoder decoder(movie->container.format(), track->streamIndex);
  if (OSErr err = codeOf(decoder.open())) return err;
  Deadline& deadline = movie->container.deadline();
  deadline.startNow(backend().convertBudget);
  SndLayout probe;
  probe.encoding = kHostEncoding;
  const uint32_t headerBytes = uint32_t(sndHeaderSize(probe));
  SoundWriter out(handle, backend().soundBytesLimit, headerBytes);
  const bool whole = start == 0 && duration >= trackDuration(*movie, *track);
  const int rate = soundRateFor(decoder.codec()->sample_rate);
  if (!whole && rate > 0) {
    const uint64_t first = uint64_t(start) * uint64_t(rate) / kMovieTimeScale;
    const uint64_t last = (uint64_t(start) + uint64_t(duration)) * uint64_t(rate) / kMovieTimeScale;
    out.keepRange(first, last);
  }
  const TrackSource source{movie->container.format(), track->streamIndex,
                           statedSeconds(movie->container.format(), track->streamIndex), deadline.end};
  const std::optional<OSErr> fast = decodeFast(source, out);
  OSErr err = fast ? *fast : codeOf(decoder.decode(out));
  // A read cut short by the deadline looks like the end of the file.
  if (deadline.passed) err = openTimedOutErr;
  if (!err && !out.configured()) {
    // Nothing at all in the track: an empty sound at the stream's rate.
    if (rate <= 0) return codecErr;
    AVFrame* empty = decoder.scratchFrame();
    empty->sample_rate = decoder.codec()->sample_rate;
    empty->format = AV_SAMPLE_FMT_S16;
    if (av_channel_layout_copy(&empty->ch_layout, &decoder.codec()->ch_layout) < 0) return memFullErr;
    err = codeOf(out.configure(empty, 0));
    av_frame_unref(empty);
  }
  if (!err) err = out.finish();
  if (err) {
    // The reader disposes of the handle; give the memory back already.
    setHandleSize(handle, 0);
    compactHandle(handle);
  }
  return err;
} catch (...) {
  return memFullErr;
}

// ---- handles and headers ----------------------------------------------------

// Movie numbers are never reused, so a released one is simply not found.
void disposeMovie(Movie m) { backend().movies.erase(idOfMovie(m)); }

Handle newHandleOp(int32_t size) { return newHandle(size); }
void disposeHandleOp(Handle h) { disposeHandle(h); }
void lockHandleOp(Handle h) { lockHandle(h); }

const MediaOps kFfmpegOps = {
    .NativePathNameToFSSpec = nativePathNameToFSSpec,
    .OpenMovieFile = openMovieFile,
    .NewMovieFromFile = newMovieFromFile,
    .CloseMovieFile = closeMovieFile,
    .GetMovieIndTrackType = getMovieIndTrackType,
    .NewHandle = newHandleOp,
    .PrepareMovie = prepareMovie,
    .GetTrackDuration = getTrackDuration,
    .PutMovieIntoTypedHandle = putMovieIntoTypedHandle,
    .DisposeHandle = disposeHandleOp,
    .ParseSndHeader = parseSndHandle,
    .HLock = lockHandleOp,
    .DisposeMovie = disposeMovie,
};

}  // namespace

int64_t liveMovies() { return int64_t(backend().movies.size()); }
void releaseMovies() { backend().movies.clear(); }
void setSoundBytesLimit(uint32_t bytes) { backend().soundBytesLimit = std::min(bytes, kMaxSoundBytes); }
uint32_t soundBytesLimit() { return backend().soundBytesLimit; }
void setOpenBudgets(std::chrono::milliseconds open, std::chrono::milliseconds convert) {
  backend().openBudget = open;
  backend().convertBudget = convert;
}

}  // namespace hx::media

namespace hx::media {
const MediaOps& ffmpegMediaOps() { return kFfmpegOps; }
}  // namespace hx::media
