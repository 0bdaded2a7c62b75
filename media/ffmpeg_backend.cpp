// The FFmpeg media layer: files, movies and tracks, and the decoding of a
// track into a sound resource (written by SoundWriter).
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
#include <optional>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "media/fast_decode.h"
#include "media/file_refs.h"
#include "media/memory_handle.h"
#include "media/snd_resource.h"
#include "media/sound_writer.h"

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

struct FormatCloser {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};

// FFmpeg asks this between reads; past the time set, it gives up the
// open or the read it is in. Bounds the demuxer's work on a file built to
// keep it busy (gigabytes of empty chunks after the data, say).
struct Deadline {
  using Clock = std::chrono::steady_clock;
  Clock::time_point end = Clock::time_point::max();
  bool passed = false;

  void startNow(std::chrono::milliseconds budget) {
    end = Clock::now() + budget;
    passed = false;
  }
  static int check(void* self) {
    auto* d = static_cast<Deadline*>(self);
    if (!d->passed && Clock::now() >= d->end) d->passed = true;
    return d->passed ? 1 : 0;
  }
};

struct MovieRecord {
  std::unique_ptr<Deadline> deadline;  // outlives the context that calls it
  std::unique_ptr<AVFormatContext, FormatCloser> format;
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
  // The module reports by code; FFmpeg's own messages would only clutter
  // the host's console.
  av_log_set_level(AV_LOG_FATAL);

  // "file:" keeps names with a colon from being taken as protocols, and
  // the whitelist keeps playlists from reaching beyond local files.
  const std::string url = "file:" + *path;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  // Probe limits: how much the format guess and the stream analysis may read.
  av_dict_set_int(&options, "probesize", kProbeBytes, 0);
  av_dict_set_int(&options, "formatprobesize", kProbeBytes, 0);
  av_dict_set_int(&options, "analyzeduration", kAnalyzeMicroseconds, 0);
  auto record = std::make_unique<MovieRecord>();
  record->deadline = std::make_unique<Deadline>();
  record->deadline->startNow(b.openBudget);
  AVFormatContext* raw = avformat_alloc_context();
  if (raw == nullptr) {
    av_dict_free(&options);
    return memFullErr;
  }
  raw->interrupt_callback = {Deadline::check, record->deadline.get()};
  const int opened = avformat_open_input(&raw, url.c_str(), nullptr, &options);  // frees raw on failure
  av_dict_free(&options);
  if (record->deadline->passed) {
    if (opened >= 0) avformat_close_input(&raw);
    return openTimedOutErr;
  }
  if (opened < 0) return opened == AVERROR(ENOMEM) ? memFullErr : invalidMovie;
  record->format.reset(raw);
  const int analysed = avformat_find_stream_info(raw, nullptr);
  if (record->deadline->passed) return openTimedOutErr;
  if (analysed < 0) return invalidMovie;
  record->tracks.resize(raw->nb_streams);
  for (unsigned i = 0; i < raw->nb_streams; ++i) record->tracks[i].streamIndex = int(i);
  const uintptr_t id = b.nextMovieId++;
  b.movies.emplace(id, std::move(record));
  *movie = movieFromId(id);
  return noErr;
} catch (...) {
  return memFullErr;
}

bool isAudio(const AVStream* s) {
  return s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
         !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

// Enabled audio tracks: those the container marks (for QuickTime files the
// track-enabled flag, which FFmpeg reports as the default disposition);
// when it marks none, all of them.
Track getMovieIndTrackType(Movie m, int32_t index, OSType characteristic, int32_t flags) {
  MovieRecord* movie = findMovie(m);
  if (movie == nullptr || index < 1) return nullptr;
  const bool wantsAudio = ((flags & kTrackCharacteristic) && characteristic == kAudioCharacteristic) ||
                          ((flags & kTrackMediaType) && characteristic == kSoundMediaType);
  if (!wantsAudio) return nullptr;
  const AVFormatContext* f = movie->format.get();
  bool anyMarked = false;
  for (unsigned i = 0; i < f->nb_streams; ++i)
    anyMarked |= isAudio(f->streams[i]) && (f->streams[i]->disposition & AV_DISPOSITION_DEFAULT);
  const bool enabledOnly = (flags & kEnabledOnly) && anyMarked;
  int32_t seen = 0;
  for (unsigned i = 0; i < f->nb_streams; ++i) {
    const AVStream* s = f->streams[i];
    if (!isAudio(s) || (enabledOnly && !(s->disposition & AV_DISPOSITION_DEFAULT))) continue;
    if (++seen == index) return reinterpret_cast<Track>(&movie->tracks[i]);
  }
  return nullptr;
}

OSErr prepareMovie(Movie m, TimeValue, int32_t) { return findMovie(m) ? noErr : invalidMovie; }

// Seconds of the stream, or a negative number when nobody knows.
double streamSeconds(const AVFormatContext* f, const AVStream* s) {
  if (s->duration != AV_NOPTS_VALUE && s->duration > 0) return double(s->duration) * av_q2d(s->time_base);
  if (f->duration != AV_NOPTS_VALUE && f->duration > 0) return double(f->duration) / AV_TIME_BASE;
  return -1.0;
}

TimeValue trackDuration(const MovieRecord& movie, const TrackRecord& track) {
  const AVFormatContext* f = movie.format.get();
  const double seconds = streamSeconds(f, f->streams[track.streamIndex]);
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

struct CodecFreer {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};

struct Decoding {
  AVFormatContext* format;
  AVStream* stream;
  std::unique_ptr<AVCodecContext, CodecFreer> codec;
  std::unique_ptr<AVPacket, PacketFreer> packet{av_packet_alloc()};
  std::unique_ptr<AVFrame, FrameFreer> frame{av_frame_alloc()};
  bool sawBadData = false;
};

OSErr openDecoder(Decoding& d) {
  if (!d.packet || !d.frame) return memFullErr;
  AVCodecContext* codec = nullptr;
  const OSErr err = openTrackDecoder(d.stream, &codec);
  d.codec.reset(codec);
  return err;
}

// Takes every frame the decoder has ready.
OSErr drain(Decoding& d, SoundWriter& out, double seconds) {
  for (;;) {
    const int got = avcodec_receive_frame(d.codec.get(), d.frame.get());
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return noErr;
    if (got == AVERROR(ENOMEM)) return memFullErr;
    if (got < 0) {
      d.sawBadData = true;
      return noErr;
    }
    OSErr err = out.configured() ? noErr : out.configure(d.frame.get(), seconds);
    if (!err) err = out.write(d.frame.get());
    av_frame_unref(d.frame.get());
    if (err) return err;
  }
}

OSErr decodeTrack(Decoding& d, SoundWriter& out) {
  const double seconds = streamSeconds(d.format, d.stream);
  for (unsigned i = 0; i < d.format->nb_streams; ++i)
    if (int(i) != d.stream->index) d.format->streams[i]->discard = AVDISCARD_ALL;
  for (;;) {
    const int read = av_read_frame(d.format, d.packet.get());
    // A read error ends the input where it broke, as a truncated file does.
    if (read < 0) break;
    if (d.packet->stream_index != d.stream->index) {
      av_packet_unref(d.packet.get());
      continue;
    }
    const int sent = avcodec_send_packet(d.codec.get(), d.packet.get());
    av_packet_unref(d.packet.get());
    if (sent == AVERROR(ENOMEM)) return memFullErr;
    if (sent < 0) d.sawBadData = true;  // skip the damaged packet
    if (OSErr err = drain(d, out, seconds)) return err;
    if (out.configured() && out.full()) break;
  }
  if (avcodec_send_packet(d.codec.get(), nullptr) >= 0) {
    if (OSErr err = drain(d, out, seconds)) return err;
  }
  if (!out.configured()) return d.sawBadData ? codecErr : noErr;
  return out.flush();
}

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

  Decoding d{movie->format.get(), movie->format->streams[track->streamIndex], {}};
  if (OSErr err = openDecoder(d)) return err;
  movie->deadline->startNow(backend().convertBudget);
  SndLayout probe;
  probe.encoding = kHostEncoding;
  const uint32_t headerBytes = uint32_t(sndHeaderSize(probe));
  SoundWriter out(handle, backend().soundBytesLimit, headerBytes);
  const bool whole = start == 0 && duration >= trackDuration(*movie, *track);
  const int rate = soundRateFor(d.codec->sample_rate);
  if (!whole && rate > 0) {
    const uint64_t first = uint64_t(start) * uint64_t(rate) / kMovieTimeScale;
    const uint64_t last = (uint64_t(start) + uint64_t(duration)) * uint64_t(rate) / kMovieTimeScale;
    out.keepRange(first, last);
  }
  const TrackSource source{movie->format.get(), track->streamIndex,
                           streamSeconds(d.format, d.stream), movie->deadline->end};
  const std::optional<OSErr> fast = decodeFast(source, out);
  OSErr err = fast ? *fast : decodeTrack(d, out);
  // A read cut short by the deadline looks like the end of the file.
  if (movie->deadline->passed) err = openTimedOutErr;
  if (!err && !out.configured()) {
    // Nothing at all in the track: an empty sound at the stream's rate.
    if (rate <= 0) return codecErr;
    AVFrame* empty = d.frame.get();
    empty->sample_rate = d.codec->sample_rate;
    empty->format = AV_SAMPLE_FMT_S16;
    if (av_channel_layout_copy(&empty->ch_layout, &d.codec->ch_layout) < 0) return memFullErr;
    err = out.configure(empty, 0);
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

namespace hx {
const MediaOps& platformMediaOps() { return media::kFfmpegOps; }
}  // namespace hx
