// The two ways a whole track reaches the sound buffer faster than the serial
// decode loop, with the same bytes: PCM read straight from the file, and
// compressed tracks decoded in pieces on several threads. Each declines
// (nothing written) where it cannot promise the serial result, and the
// backend then decodes serially as before.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "audio/media_ops.h"
#include "media/media_probe.h"
#include "media/sound_writer.h"

namespace hx::media {

enum class DecodePath { serial, pcmDirect, parallel };

// For tests and benchmarks. threads: decoding threads (0: one per core, at
// most kMaxDecodeThreads). piecePackets: cut a piece every this many
// packets, however short the track (0: pieces of kPieceSeconds, and tracks
// shorter than two pieces decode serially). serial: as the variable above.
struct DecodeTuning {
  int threads = 0;
  int piecePackets = 0;
  bool serial = false;
};
void setDecodeTuning(const DecodeTuning& tuning);
// The path the last whole-track conversion took.
DecodePath lastDecodePath();

inline constexpr int kMaxDecodeThreads = 8;
inline constexpr double kPieceSeconds = 10.0;

using Clock = std::chrono::steady_clock;

// What a fast path needs to know of the movie being converted.
struct TrackSource {
  const AVFormatContext* movie;  // the movie's own demuxer: never read here
  int streamIndex;
  double seconds;  // the stream's length, negative when unknown
  Clock::time_point deadline;
};

// Fills out (configured, frames written, not finished) with what the serial
// decode of the whole track would give, or declines with nullopt and leaves
// out as it was. An error fails the conversion.
std::optional<OSErr> decodeFast(const TrackSource& source, SoundWriter& out);

// ---- shared by the fast paths ------------------------------------------------

struct DecoderFreer {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};

// The file a movie was opened from.
std::string pathOfMovie(const AVFormatContext* movie);

// A demuxer of our own on the movie's file, opened by the shared opener as
// the movie was, its reads interrupted at the conversion's deadline. Only
// the thread that opened it reads it.
class SecondInput {
 public:
  // noErr, or the code the movie's own open would have given.
  OSErr open(const AVFormatContext* movie, Clock::time_point deadline);
  AVFormatContext* get() const { return container_.format(); }
  bool timedOut() { return container_.deadline().passed; }

 private:
  Container container_;
};

}  // namespace hx::media
