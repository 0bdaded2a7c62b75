// Decoding one track of an opened container into 16-bit interleaved frames
// at a rate a sound header can hold. The module's sound writer and the
// command's frame count both run it, so that the count is the module's.
#pragma once

#include <cstdint>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

namespace hx::media {

// How decoding a track can fail. The module's media layer gives each its
// platform code.
enum class MediaError {
  none,
  noMemory,
  noDecoder,    // no decoder for the track's codec
  undecodable,  // nothing decodes, or the converter refuses the layout
  rateTooHigh,  // the track's rate is above kHighestInputRate
  tooLarge,     // the decoded track passes what its sink may hold
};

// Highest sample rate a track may have: the fastest rate recording gear
// uses. Resampling set-up grows with the input rate and cannot be
// interrupted, and a header claiming a gigahertz made an open take half a
// minute and gigabytes.
inline constexpr int32_t kHighestInputRate = 768000;

// The rate a track of inputRate is written at: its own where a sound
// header's 16.16 field holds it, else 48 kHz.
int soundRateFor(int inputRate);

// Decoded frames converted to signed 16-bit interleaved samples: mono and
// stereo stay as they are, more channels are mixed down to stereo, and the
// rate is soundRateFor the first frame's (or the one given). Where the
// frames land is the subclass's: roomFor hands out the memory.
class TrackConverter {
 public:
  // outRate 0: soundRateFor the first frame's rate.
  explicit TrackConverter(int outRate = 0) : fixedOutRate_(outRate) {}
  virtual ~TrackConverter();
  TrackConverter(const TrackConverter&) = delete;
  TrackConverter& operator=(const TrackConverter&) = delete;

  // Keeps only output frames [first, end).
  void keepRange(uint64_t first, uint64_t end) {
    first_ = skip_ = first;
    want_ = end > first ? end - first : 0;
  }
  // True when no range was set: the whole track is kept.
  bool keepsAll() const { return first_ == 0 && want_ == UINT64_MAX; }
  // Fixes the output layout from the first decoded frame; seconds is the
  // stated length of the track (negative when unknown).
  MediaError configure(const AVFrame* first, double seconds);
  MediaError write(const AVFrame* frame);
  // Gives out what the resampler holds back.
  MediaError flush();
  bool configured() const { return swr_ != nullptr; }
  bool full() const { return written_ >= want_; }

  uint64_t frames() const { return written_; }  // kept so far
  int outRate() const { return outRate_; }
  int outChannels() const { return outLayout_.nb_channels; }
  uint32_t frameBytes() const { return frameBytes_; }

  // For a caller that fills frames itself, once configured and keeping the
  // whole track: room for frames more frames after the kept ones, counted
  // as kept, at *at. Fails as write does (tooLarge, noMemory).
  MediaError claim(uint64_t frames, uint8_t** at);

 protected:
  // Back to the state before configure, the range as set: nothing kept.
  void reset();
  // Memory for frames more output frames after the kept ones, or null
  // with *error set.
  virtual uint8_t* roomFor(uint64_t kept, uint64_t frames, MediaError* error) = 0;
  // Once configured, with a stated length: about this many frames will
  // come (capped at the kept range).
  virtual void expect(double /*frames*/) {}

 private:
  MediaError setInput(const AVFrame* frame);
  MediaError convert(const uint8_t** input, int inputFrames);

  struct SwrFreer {
    void operator()(SwrContext* s) const { swr_free(&s); }
  };
  std::unique_ptr<SwrContext, SwrFreer> swr_;
  AVChannelLayout inLayout_{};
  AVChannelLayout outLayout_{};
  int fixedOutRate_;
  int inFormat_ = -1;
  int inRate_ = 0;
  int outRate_ = 0;
  uint32_t frameBytes_ = 0;
  uint64_t written_ = 0;        // frames kept
  uint64_t first_ = 0;          // the range's first frame
  uint64_t skip_ = 0;           // frames still to drop before the range
  uint64_t want_ = UINT64_MAX;  // frames the range holds
};

// The decoder for a stream, opened as every decode of it opens it: none
// and a decoder in *out that the caller frees, or the error (and null).
MediaError openStreamDecoder(const AVStream* stream, AVCodecContext** out);

// The decoder of one stream, fed from its container's packets.
class TrackDecoder {
 public:
  TrackDecoder(AVFormatContext* format, int stream);
  ~TrackDecoder();
  TrackDecoder(const TrackDecoder&) = delete;
  TrackDecoder& operator=(const TrackDecoder&) = delete;

  MediaError open();
  // Every packet of the stream through the decoder into out, which stops
  // taking frames once full. A read error ends the input where it broke,
  // as a truncated file does; damaged packets are skipped. undecodable
  // when packets came and none decoded; none with out unconfigured when
  // the track holds nothing.
  MediaError decode(TrackConverter& out);

  const AVCodecContext* codec() const { return codec_.get(); }
  // A frame to borrow (for describing an empty track).
  AVFrame* scratchFrame() { return frame_.get(); }

 private:
  MediaError drain(TrackConverter& out, double seconds);

  struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
  };
  struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
  };
  struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
  };
  AVFormatContext* format_;
  AVStream* stream_;
  std::unique_ptr<AVCodecContext, CodecFreer> codec_;
  std::unique_ptr<AVPacket, PacketFreer> packet_;
  std::unique_ptr<AVFrame, FrameFreer> frame_;
  bool sawBadData_ = false;
};

}  // namespace hx::media
