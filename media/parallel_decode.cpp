// Parallel decode. One thread demuxes the track, exactly as the serial loop
// reads it (same packets, same side data), and cuts it into pieces at packet
// boundaries. Each piece is decoded by a fresh decoder on a worker thread,
// starting a few packets before its cut (the pre-roll, whose output is
// dropped), into a small buffer of its own; the pieces are copied into the
// sound buffer in order. Pieces are short (kPieceSeconds) so that the
// buffers in flight stay small whatever the length of the track.
//
// A piece's frames equal the serial decode's when its decoder reaches the
// cut in the serial decoder's state. That needs:
// - a codec whose state is rebuilt by the pre-roll (prerollRule);
// - no pending start skip: the demuxer's skip side data (the encoder delay
//   of MP3, edit lists, Matroska's codec delay) is applied by the decoder to the frames
//   after it, so no cut is made until the skip is used up; end padding
//   applies to its own packet's frame only, and so to the last piece;
// - a decoder that returns each packet's frames before taking the next
//   (no AV_CODEC_CAP_DELAY), so that frames are told apart by packet;
// - one or two channels at a rate the header holds: more channels are mixed
//   down and higher rates resampled, and the resampler carries state.
//   Serially converted tracks keep those.
// What can only be seen while decoding (a decode error after the cut, a
// frame whose format, rate or layout differs) makes the whole track go the
// serial way instead.
#include "media/parallel_decode.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
}

#include "media/ffmpeg_backend.h"
#include "media/memory_handle.h"

namespace hx::media {
namespace {

// Pre-rolls, codec by codec:
// - MP3: besides the bit reservoir the decoder keeps one granule's IMDCT
//   overlap and the synthesis filter's last 512 subband samples, less than
//   one frame. A frame's main data starts at most 511 bytes (MPEG-1; 255 for
//   MPEG-2 and 2.5) back in the frames before it. Starting at least 4
//   frames and 1024 bytes early, the reservoir has been refilled from real
//   frames twice before the cut and the last frame before it rebuilds the
//   overlap and the filter. Over every cut of the differential test, 2 or 3
//   frames fail, and so do 4 without the byte bound (at 8 kbit/s), while 4
//   frames and 512 bytes pass: the bound holds twice that.
// - Vorbis: the previous block's overlap and size; a fresh decoder's first
//   packet gives no samples and only sets them: 1 would do, 0 fails; 2.
// - FLAC: each frame carries its own warm-up samples; nothing is carried.
// Each rule holds for the decoder named, the one FFmpeg picks for the codec
// here; another decoder of the same codec goes the serial way. Serial, and
// why:
// - MP2 and MP1: the decoders FFmpeg picks are the fixed-point ones, whose
//   synthesis carries its rounding error into the next sample (error
//   feedback), from the first sample on. So does the fixed-point MP3 one.
// - AAC: noise substitution draws from a generator seeded once when the
//   decoder starts, so a band's noise depends on all the noise before it
//   (FFmpeg's own encoder uses it by default: cut with 16 packets of
//   pre-roll its files still differ, while the same encoded without noise
//   substitution agree at every cut); SBR and Main-profile prediction carry
//   state without end too.
// - Opus, Speex and the like: recursive (IIR) filters whose state never
//   settles to a function of the last packets.
// - Anything else: not shown exact by the differential test.
constexpr PrerollRule kMp3Rule{4, 1024};
constexpr PrerollRule kVorbisRule{2, 0};
constexpr PrerollRule kFlacRule{0, 0};

constexpr int kMaxPrerollPackets = 256;              // a cut needing more is not made
constexpr int kFallbackPiecePackets = 4096;          // when packets carry no duration
constexpr uint64_t kMaxPieceInputBytes = 64u << 20;  // packets a piece may hold
constexpr uint32_t kMaxPieceOutputBytes = 64u << 20;
constexpr OSErr kInexact = 1;  // not an error: the track goes the serial way

struct PacketFreer {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;

// Format, rate and layout of a frame, without its samples.
struct FrameShape {
  FramePtr frame{av_frame_alloc()};
  bool set = false;

  OSErr take(const AVFrame* f) {
    if (!frame) return memFullErr;
    frame->format = f->format;
    frame->sample_rate = f->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &f->ch_layout) < 0) return memFullErr;
    set = true;
    return noErr;
  }
  bool same(const AVFrame* f) const {
    return f->format == frame->format && f->sample_rate == frame->sample_rate &&
           av_channel_layout_compare(&f->ch_layout, &frame->ch_layout) == 0;
  }
};

struct OwnedHandle {
  Handle h = newHandle(0);
  ~OwnedHandle() { disposeHandle(h); }
  OwnedHandle() = default;
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
};

struct Piece {
  std::vector<PacketPtr> packets;
  size_t preroll = 0;  // packets before the cut, decoded for their state only
  bool last = false;
  uint64_t inputBytes = 0;
  double seconds = 0;  // of its own packets, for its buffer's reservation
  // Set by the worker, read once done.
  bool done = false;
  OSErr result = noErr;
  FrameShape shape;
  std::unique_ptr<OwnedHandle> pcm;  // its frames, 16-bit interleaved
  std::unique_ptr<SoundWriter> writer;
};

// The pieces' buffers, handed from one piece to the next so that their
// pages are mapped once per run rather than once per piece. Used by the
// demuxing thread only.
class BufferPool {
 public:
  void lend(Piece& p) {
    if (spare_.empty()) {
      p.pcm = std::make_unique<OwnedHandle>();
    } else {
      p.pcm = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  void giveBack(Piece& p) {
    if (!p.pcm) return;
    setHandleSize(p.pcm->h, 0);
    spare_.push_back(std::move(p.pcm));
  }

 private:
  std::vector<std::unique_ptr<OwnedHandle>> spare_;
};

struct Shared {
  const AVStream* stream;
  Clock::time_point deadline;
  std::atomic<bool> failed{false};
};

// ---- the worker's side -------------------------------------------------------

// A piece's code for what its writer said: a track too large or a frame the
// converter refuses is the serial loop's to tell.
OSErr pieceCode(MediaError e) {
  if (e == MediaError::tooLarge || e == MediaError::undecodable) return kInexact;
  return codeOf(e);
}

OSErr takeFrames(Piece& p, AVCodecContext* codec, AVFrame* frame, bool own) {
  for (;;) {
    const int got = avcodec_receive_frame(codec, frame);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return noErr;
    if (got == AVERROR(ENOMEM)) return memFullErr;
    if (got < 0) return own ? kInexact : noErr;  // the serial loop gives up this packet too
    OSErr err = noErr;
    if (own) {
      if (!p.shape.set) {
        err = p.shape.take(frame);
        if (!err) err = p.writer->configure(frame, p.seconds) != MediaError::none ? kInexact : noErr;
      } else if (!p.shape.same(frame)) {
        err = kInexact;
      }
      if (!err) err = pieceCode(p.writer->write(frame));
    }
    av_frame_unref(frame);
    if (err) return err;
  }
}

OSErr decodePiece(Piece& p, Shared& shared) {
  if (!p.pcm || p.pcm->h == nullptr) return memFullErr;
  p.writer = std::make_unique<SoundWriter>(p.pcm->h, std::min(soundBytesLimit(), kMaxPieceOutputBytes), 0);
  AVCodecContext* opened = nullptr;
  const MediaError openErr = openStreamDecoder(shared.stream, &opened);
  std::unique_ptr<AVCodecContext, DecoderFreer> codec(opened);
  if (openErr != MediaError::none) return openErr == MediaError::noMemory ? memFullErr : kInexact;
  FramePtr frame(av_frame_alloc());
  if (!frame) return memFullErr;
  for (size_t i = 0; i < p.packets.size(); ++i) {
    if (shared.failed) return noErr;
    if (Clock::now() >= shared.deadline) return openTimedOutErr;
    const bool own = i >= p.preroll;
    const int sent = avcodec_send_packet(codec.get(), p.packets[i].get());
    if (sent == AVERROR(ENOMEM)) return memFullErr;
    if (sent < 0 && own) return kInexact;
    if (OSErr err = takeFrames(p, codec.get(), frame.get(), own)) return err;
  }
  if (p.last && avcodec_send_packet(codec.get(), nullptr) >= 0) {
    if (OSErr err = takeFrames(p, codec.get(), frame.get(), true)) return err;
  }
  if (!p.writer->configured()) return noErr;
  return pieceCode(p.writer->flush());
}

// Worker threads taking pieces in order; joined when the run ends, however
// it ends.
class PieceRun {
 public:
  PieceRun(Shared& shared, int threads) : shared_(shared) {
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
  }
  ~PieceRun() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      stop_ = true;
    }
    shared_.failed = true;
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
  }
  PieceRun(const PieceRun&) = delete;
  PieceRun& operator=(const PieceRun&) = delete;

  void submit(Piece* p) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      queue_.push_back(p);
    }
    wake_.notify_one();
  }
  void waitFor(const Piece& p) {
    std::unique_lock<std::mutex> hold(lock_);
    done_.wait(hold, [&] { return p.done; });
  }

 private:
  void work() {
    for (;;) {
      Piece* p = nullptr;
      {
        std::unique_lock<std::mutex> hold(lock_);
        wake_.wait(hold, [&] { return stop_ || !queue_.empty(); });
        if (stop_) return;
        p = queue_.front();
        queue_.pop_front();
      }
      OSErr result = noErr;
      try {
        result = decodePiece(*p, shared_);
      } catch (...) {
        result = memFullErr;
      }
      {
        std::lock_guard<std::mutex> hold(lock_);
        p->result = result;
        p->done = true;
        if (result != noErr) shared_.failed = true;
      }
      done_.notify_all();
    }
  }

  Shared& shared_;
  std::mutex lock_;
  std::condition_variable wake_, done_;
  std::deque<Piece*> queue_;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

// ---- the demuxing side ------------------------------------------------------

// The pre-roll a cut before the next packet needs: the smallest tail of the
// piece's packets that meets the rule; -1 for none. Skip side data in it
// does no harm: it sets the skip in the piece's decoder as in the serial
// one, from the same packet on.
int prerollBefore(const Piece& p, const PrerollRule& rule) {
  int count = 0;
  int64_t bytes = 0;
  for (auto it = p.packets.rbegin(); count < rule.packets || bytes < rule.bytes; ++it) {
    if (it == p.packets.rend() || count >= kMaxPrerollPackets) return -1;
    ++count;
    bytes += (*it)->size;
  }
  return count;
}

// What the decoder still has to drop at the start: FFmpeg sets it from a
// packet's skip side data and takes each frame's samples off it. Counted
// from packet durations, rounded down, so it never runs out early. A cut is
// made only where nothing is pending, where a fresh decoder (which drops
// nothing) agrees with the serial one; a pre-roll covers the MP3 delay, but
// a container may state a delay longer than a pre-roll (Matroska's codec
// delay, an edit list).
struct StartSkip {
  int64_t pending = 0;
  void after(const AVPacket* p, AVRational timeBase, int rate) {
    size_t size = 0;
    const uint8_t* side = av_packet_get_side_data(p, AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (side != nullptr && size >= 10)
      pending = std::max<int64_t>(0, int32_t(uint32_t(side[0]) | uint32_t(side[1]) << 8 |
                                             uint32_t(side[2]) << 16 | uint32_t(side[3]) << 24));
    if (pending > 0 && p->duration > 0)
      pending = std::max<int64_t>(0, pending - av_rescale_q_rnd(p->duration, timeBase, {1, rate},
                                                                AV_ROUND_DOWN));
  }
};

class Cutter {
 public:
  Cutter(const DecodeTuning& tuning, const AVStream* stream, const PrerollRule& rule)
      : tuning_(tuning), stream_(stream), rule_(rule) {}

  // A fresh piece to follow p, starting with its pre-roll, when a cut
  // before the next packet is due and exact; null otherwise.
  std::unique_ptr<Piece> cutAfter(const Piece& p) {
    const bool due = tuning_.piecePackets > 0 ? ownPackets_ >= tuning_.piecePackets
                                              : ownSeconds_ >= kPieceSeconds ||
                                                    ownPackets_ >= kFallbackPiecePackets;
    if (!due || skip_.pending > 0) return nullptr;
    const int preroll = prerollBefore(p, rule_);
    if (preroll < 0) return nullptr;
    auto next = std::make_unique<Piece>();
    for (size_t i = p.packets.size() - size_t(preroll); i < p.packets.size(); ++i) {
      next->packets.emplace_back(av_packet_clone(p.packets[i].get()));
      if (!next->packets.back()) return nullptr;
    }
    next->preroll = size_t(preroll);
    ownPackets_ = 0;
    ownSeconds_ = 0;
    return next;
  }
  void add(Piece& p, PacketPtr packet) {
    skip_.after(packet.get(), stream_->time_base, stream_->codecpar->sample_rate);
    const double seconds = packet->duration > 0 ? double(packet->duration) * av_q2d(stream_->time_base) : 0;
    ownSeconds_ += seconds;
    p.seconds += seconds;
    ++ownPackets_;
    p.inputBytes += uint64_t(std::max(packet->size, 0));
    p.packets.push_back(std::move(packet));
  }

 private:
  const DecodeTuning& tuning_;
  const AVStream* stream_;
  const PrerollRule& rule_;
  StartSkip skip_;
  int ownPackets_ = 0;
  double ownSeconds_ = 0;
};

// Copies a finished piece into the sound buffer; the first piece with
// frames configures it, as the first frame does in the serial loop.
OSErr commit(Piece& p, const TrackSource& source, FrameShape& trackShape, SoundWriter& out) {
  if (p.result != noErr) return p.result;
  if (!p.shape.set || p.writer->frames() == 0) return noErr;
  if (!trackShape.set) {
    if (OSErr err = trackShape.take(p.shape.frame.get())) return err;
    if (out.configure(trackShape.frame.get(), source.seconds) != MediaError::none) return kInexact;
  } else if (!trackShape.same(p.shape.frame.get())) {
    return kInexact;
  }
  uint8_t* at = nullptr;
  if (OSErr err = codeOf(out.claim(p.writer->frames(), &at))) return err;
  std::memcpy(at, *p.pcm->h, size_t(p.writer->frames()) * out.frameBytes());
  return noErr;
}

bool eligible(const AVStream* stream, const DecodeTuning& tuning, double seconds) {
  const AVCodecParameters* par = stream->codecpar;
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  if (prerollRule(codec) == nullptr || (codec->capabilities & AV_CODEC_CAP_DELAY)) return false;
  if (par->ch_layout.nb_channels < 1 || par->ch_layout.nb_channels > 2) return false;
  if (par->sample_rate <= 0 || par->sample_rate > 65535) return false;  // else resampled
  return tuning.piecePackets > 0 || seconds >= 2 * kPieceSeconds;
}

int threadCount(const DecodeTuning& tuning) {
  const int wanted = tuning.threads > 0 ? tuning.threads : int(std::thread::hardware_concurrency());
  return std::clamp(wanted, 1, kMaxDecodeThreads);
}

OSErr runPieces(const TrackSource& source, const DecodeTuning& tuning, AVFormatContext* input,
                SoundWriter& out) {
  const AVStream* stream = input->streams[source.streamIndex];
  const PrerollRule& rule = *prerollRule(avcodec_find_decoder(stream->codecpar->codec_id));
  const int threads = threadCount(tuning);
  // The decoders are made from the movie's own stream, as the serial one is;
  // our demuxer only supplies the packets.
  Shared shared{source.movie->streams[source.streamIndex], source.deadline};
  BufferPool buffers;                           // outlives the pieces,
  std::deque<std::unique_ptr<Piece>> inflight;  // which outlive the run's threads
  auto current = std::make_unique<Piece>();
  buffers.lend(*current);
  FrameShape trackShape;
  Cutter cutter(tuning, stream, rule);
  PieceRun run(shared, threads);
  auto commitFront = [&]() -> OSErr {
    run.waitFor(*inflight.front());
    const OSErr err = commit(*inflight.front(), source, trackShape, out);
    buffers.giveBack(*inflight.front());
    inflight.pop_front();
    return err;
  };
  for (;;) {
    PacketPtr packet(av_packet_alloc());
    if (!packet) return memFullErr;
    // A read error ends the input where it broke, as in the serial loop.
    if (av_read_frame(input, packet.get()) < 0) break;
    if (packet->stream_index != source.streamIndex) continue;
    if (std::unique_ptr<Piece> next = cutter.cutAfter(*current)) {
      run.submit(current.get());
      inflight.push_back(std::move(current));
      current = std::move(next);
      buffers.lend(*current);
      while (inflight.size() > size_t(threads) + 1)
        if (OSErr err = commitFront()) return err;
    }
    if (shared.failed) break;
    cutter.add(*current, std::move(packet));
    if (current->inputBytes > kMaxPieceInputBytes) return kInexact;
  }
  if (Clock::now() >= source.deadline) return openTimedOutErr;
  current->last = true;
  run.submit(current.get());
  inflight.push_back(std::move(current));
  while (!inflight.empty())
    if (OSErr err = commitFront()) return err;
  return trackShape.set ? noErr : kInexact;  // an empty track: the serial loop knows what to say
}

}  // namespace

const PrerollRule* prerollRule(const AVCodec* decoder) {
  static const struct {
    const char* name;
    const PrerollRule* rule;
  } kRules[] = {{"mp3float", &kMp3Rule}, {"vorbis", &kVorbisRule}, {"flac", &kFlacRule}};
  if (decoder == nullptr) return nullptr;
  for (const auto& r : kRules)
    if (std::strcmp(decoder->name, r.name) == 0) return r.rule;
  return nullptr;
}

std::optional<OSErr> decodeInPieces(const TrackSource& source, const DecodeTuning& tuning,
                                    SoundWriter& out) {
  const AVStream* movieStream = source.movie->streams[source.streamIndex];
  if (!eligible(movieStream, tuning, source.seconds)) return std::nullopt;
  SecondInput input;
  if (OSErr err = input.open(source.movie, source.deadline)) {
    if (err == openTimedOutErr) return err;
    return std::nullopt;
  }
  AVFormatContext* f = input.get();
  const AVStream* ours = f->nb_streams == source.movie->nb_streams ? f->streams[source.streamIndex] : nullptr;
  if (ours == nullptr || ours->codecpar->codec_id != movieStream->codecpar->codec_id ||
      av_cmp_q(ours->time_base, movieStream->time_base) != 0)
    return std::nullopt;
  for (unsigned i = 0; i < f->nb_streams; ++i)
    if (int(i) != source.streamIndex) f->streams[i]->discard = AVDISCARD_ALL;
  OSErr err = noErr;
  try {
    err = runPieces(source, tuning, f, out);
  } catch (const std::system_error&) {  // no thread to be had
    err = kInexact;
  } catch (...) {
    err = memFullErr;
  }
  if (input.timedOut()) err = openTimedOutErr;
  if (err == noErr) return noErr;
  out.reset();
  if (err == kInexact) return std::nullopt;
  return err;
}

}  // namespace hx::media
