// TrackDecoder and TrackConverter: packets to decoded frames to 16-bit
// frames in memory the caller hands out.
#include "media/track_decoder.h"

#include <algorithm>
#include <cstring>

#include "media/media_probe.h"

namespace hx::media {
namespace {

constexpr int kHighestHeaderRate = 65535;  // the 16.16 field's integer part
constexpr int kResampledRate = 48000;

// The channel layout of a decoded frame, a default one where the frame
// names none.
MediaError layoutOf(const AVFrame* frame, AVChannelLayout* out) {
  if (frame->ch_layout.nb_channels <= 0) return MediaError::undecodable;
  if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_default(out, frame->ch_layout.nb_channels);
    return MediaError::none;
  }
  return av_channel_layout_copy(out, &frame->ch_layout) < 0 ? MediaError::noMemory
                                                             : MediaError::none;
}

}  // namespace

int soundRateFor(int inputRate) {
  return inputRate > kHighestHeaderRate ? kResampledRate : inputRate;
}

// ---- converter ---------------------------------------------------------------

TrackConverter::~TrackConverter() {
  av_channel_layout_uninit(&inLayout_);
  av_channel_layout_uninit(&outLayout_);
}

MediaError TrackConverter::setInput(const AVFrame* frame) {
  if (frame->sample_rate > kHighestInputRate) return MediaError::rateTooHigh;
  av_channel_layout_uninit(&inLayout_);
  if (MediaError err = layoutOf(frame, &inLayout_); err != MediaError::none) return err;
  inFormat_ = frame->format;
  inRate_ = frame->sample_rate;
  SwrContext* raw = swr_.release();
  const int set = swr_alloc_set_opts2(&raw, &outLayout_, AV_SAMPLE_FMT_S16, outRate_, &inLayout_,
                                      AVSampleFormat(inFormat_), inRate_, 0, nullptr);
  swr_.reset(raw);
  if (set < 0 || swr_ == nullptr) return MediaError::noMemory;
  return swr_init(swr_.get()) < 0 ? MediaError::undecodable : MediaError::none;
}

MediaError TrackConverter::configure(const AVFrame* first, double seconds) {
  if (first->sample_rate <= 0) return MediaError::undecodable;
  AVChannelLayout in{};
  if (MediaError err = layoutOf(first, &in); err != MediaError::none) return err;
  const int channels = in.nb_channels;
  av_channel_layout_uninit(&in);
  if (channels <= 2) {
    if (MediaError err = layoutOf(first, &outLayout_); err != MediaError::none) return err;
  } else {
    outLayout_ = AV_CHANNEL_LAYOUT_STEREO;
  }
  outRate_ = fixedOutRate_ > 0 ? fixedOutRate_ : soundRateFor(first->sample_rate);
  frameBytes_ = uint32_t(outLayout_.nb_channels) * 2;
  if (MediaError err = setInput(first); err != MediaError::none) return err;
  if (seconds > 0) expect(std::min(seconds * outRate_ * 1.01 + 4096, double(want_)));
  return MediaError::none;
}

MediaError TrackConverter::convert(const uint8_t** input, int inputFrames) {
  const int room = swr_get_out_samples(swr_.get(), inputFrames);
  if (room < 0) return MediaError::undecodable;
  if (room == 0) return MediaError::none;
  MediaError err = MediaError::none;
  uint8_t* out = roomFor(written_, uint64_t(room), &err);
  if (out == nullptr) return err;
  const int got = swr_convert(swr_.get(), &out, room, input, inputFrames);
  if (got < 0) return MediaError::undecodable;
  uint64_t kept = uint64_t(got);
  if (skip_ > 0) {
    const uint64_t dropped = std::min(skip_, kept);
    std::memmove(out, out + dropped * frameBytes_, (kept - dropped) * frameBytes_);
    kept -= dropped;
    skip_ -= dropped;
  }
  written_ += std::min(kept, want_ - written_);
  return MediaError::none;
}

MediaError TrackConverter::claim(uint64_t frames, uint8_t** at) {
  if (!configured() || !keepsAll()) return MediaError::undecodable;
  MediaError err = MediaError::none;
  *at = roomFor(written_, frames, &err);
  if (*at == nullptr) return err;
  written_ += frames;
  return MediaError::none;
}

void TrackConverter::reset() {
  swr_.reset();
  av_channel_layout_uninit(&inLayout_);
  av_channel_layout_uninit(&outLayout_);
  inFormat_ = -1;
  inRate_ = outRate_ = 0;
  frameBytes_ = 0;
  written_ = 0;
  skip_ = first_;
}

MediaError TrackConverter::write(const AVFrame* frame) {
  if (full()) return MediaError::none;
  AVChannelLayout layout{};
  if (MediaError err = layoutOf(frame, &layout); err != MediaError::none) return err;
  const bool changed = frame->format != inFormat_ || frame->sample_rate != inRate_ ||
                       av_channel_layout_compare(&layout, &inLayout_) != 0;
  av_channel_layout_uninit(&layout);
  if (changed) {
    if (frame->sample_rate <= 0) return MediaError::undecodable;
    if (MediaError err = flush(); err != MediaError::none) return err;
    if (MediaError err = setInput(frame); err != MediaError::none) return err;
  }
  return convert(const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
}

MediaError TrackConverter::flush() {
  if (!swr_) return MediaError::none;
  // swr_get_out_samples already counts what the resampler holds back.
  return convert(nullptr, 0);
}

// ---- decoder -----------------------------------------------------------------

TrackDecoder::TrackDecoder(AVFormatContext* format, int stream)
    : format_(format), stream_(format->streams[stream]), packet_(av_packet_alloc()),
      frame_(av_frame_alloc()) {}

TrackDecoder::~TrackDecoder() = default;

MediaError openStreamDecoder(const AVStream* stream, AVCodecContext** out) {
  *out = nullptr;
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (codec == nullptr) return MediaError::noDecoder;
  AVCodecContext* c = avcodec_alloc_context3(codec);
  if (c == nullptr) return MediaError::noMemory;
  MediaError err = MediaError::none;
  if (avcodec_parameters_to_context(c, stream->codecpar) < 0) {
    err = MediaError::noMemory;
  } else {
    c->pkt_timebase = stream->time_base;
    const int opened = avcodec_open2(c, codec, nullptr);
    if (opened < 0) err = opened == AVERROR(ENOMEM) ? MediaError::noMemory : MediaError::noDecoder;
  }
  if (err != MediaError::none) {
    avcodec_free_context(&c);
    return err;
  }
  *out = c;
  return MediaError::none;
}

MediaError TrackDecoder::open() {
  if (!packet_ || !frame_) return MediaError::noMemory;
  AVCodecContext* codec = nullptr;
  const MediaError err = openStreamDecoder(stream_, &codec);
  codec_.reset(codec);
  return err;
}

// Takes every frame the decoder has ready.
MediaError TrackDecoder::drain(TrackConverter& out, double seconds) {
  for (;;) {
    const int got = avcodec_receive_frame(codec_.get(), frame_.get());
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return MediaError::none;
    if (got == AVERROR(ENOMEM)) return MediaError::noMemory;
    if (got < 0) {
      sawBadData_ = true;
      return MediaError::none;
    }
    MediaError err = out.configured() ? MediaError::none : out.configure(frame_.get(), seconds);
    if (err == MediaError::none) err = out.write(frame_.get());
    av_frame_unref(frame_.get());
    if (err != MediaError::none) return err;
  }
}

MediaError TrackDecoder::decode(TrackConverter& out) {
  const double seconds = statedSeconds(format_, stream_->index);
  for (unsigned i = 0; i < format_->nb_streams; ++i)
    if (int(i) != stream_->index) format_->streams[i]->discard = AVDISCARD_ALL;
  for (;;) {
    const int read = av_read_frame(format_, packet_.get());
    if (read < 0) break;
    if (packet_->stream_index != stream_->index) {
      av_packet_unref(packet_.get());
      continue;
    }
    const int sent = avcodec_send_packet(codec_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (sent == AVERROR(ENOMEM)) return MediaError::noMemory;
    if (sent < 0) sawBadData_ = true;  // skip the damaged packet
    if (MediaError err = drain(out, seconds); err != MediaError::none) return err;
    if (out.configured() && out.full()) break;
  }
  if (avcodec_send_packet(codec_.get(), nullptr) >= 0) {
    if (MediaError err = drain(out, seconds); err != MediaError::none) return err;
  }
  if (!out.configured()) return sawBadData_ ? MediaError::undecodable : MediaError::none;
  return out.flush();
}

}  // namespace hx::media
