// SoundWriter: decoded frames converted into the handle, the header last.
#include "media/sound_writer.h"

#include <algorithm>
#include <cstring>

#include "media/memory_handle.h"
#include "media/snd_resource.h"

namespace hx::media {
namespace {

constexpr int kHighestHeaderRate = 65535;  // the 16.16 field's integer part
constexpr int kResampledRate = 48000;

// The channel layout of a decoded frame, a default one where the frame
// names none.
OSErr layoutOf(const AVFrame* frame, AVChannelLayout* out) {
  if (frame->ch_layout.nb_channels <= 0) return codecErr;
  if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_default(out, frame->ch_layout.nb_channels);
    return noErr;
  }
  return av_channel_layout_copy(out, &frame->ch_layout) < 0 ? memFullErr : noErr;
}

}  // namespace

int soundRateFor(int inputRate) {
  return inputRate > kHighestHeaderRate ? kResampledRate : inputRate;
}

OSErr SoundWriter::setInput(const AVFrame* frame) {
  if (frame->sample_rate > kHighestInputRate) return rateTooHighErr;
  av_channel_layout_uninit(&inLayout_);
  if (OSErr err = layoutOf(frame, &inLayout_)) return err;
  inFormat_ = frame->format;
  inRate_ = frame->sample_rate;
  SwrContext* raw = swr_.release();
  const int set = swr_alloc_set_opts2(&raw, &outLayout_, AV_SAMPLE_FMT_S16, outRate_, &inLayout_,
                                      AVSampleFormat(inFormat_), inRate_, 0, nullptr);
  swr_.reset(raw);
  if (set < 0 || swr_ == nullptr) return memFullErr;
  return swr_init(swr_.get()) < 0 ? codecErr : noErr;
}

OSErr SoundWriter::configure(const AVFrame* first, double seconds) {
  if (first->sample_rate <= 0) return codecErr;
  AVChannelLayout in{};
  if (OSErr err = layoutOf(first, &in)) return err;
  const int channels = in.nb_channels;
  av_channel_layout_uninit(&in);
  if (channels <= 2) {
    if (OSErr err = layoutOf(first, &outLayout_)) return err;
  } else {
    outLayout_ = AV_CHANNEL_LAYOUT_STEREO;
  }
  outRate_ = soundRateFor(first->sample_rate);
  frameBytes_ = uint32_t(outLayout_.nb_channels) * 2;
  if (OSErr err = setInput(first)) return err;
  // Room for the whole track at once, so the block moves rarely if ever.
  if (seconds > 0) {
    const double frames = std::min(seconds * outRate_ * 1.01 + 4096, double(want_));
    const double bytes = headerBytes_ + frames * frameBytes_;
    if (bytes <= double(limit_)) reserveHandleToFill(handle_, uint32_t(bytes));
  }
  return noErr;
}

OSErr SoundWriter::makeRoom(uint64_t frames) {
  const uint64_t needed = headerBytes_ + (written_ + frames) * frameBytes_;
  if (needed > limit_ || written_ + frames > uint64_t(INT32_MAX)) return soundTooLargeErr;
  // Grow ahead by half, never past the limit, so the block is never larger
  // than the cap allows; setHandleSize then finds the room already there.
  const uint64_t ahead = std::min<uint64_t>(limit_, needed + needed / 2);
  if (!reserveHandle(handle_, uint32_t(ahead)) && !reserveHandle(handle_, uint32_t(needed)))
    return memFullErr;
  return setHandleSize(handle_, uint32_t(needed)) ? noErr : memFullErr;
}

OSErr SoundWriter::claim(uint64_t frames, uint8_t** at) {
  if (!configured()) return paramErr;
  if (OSErr err = makeRoom(frames)) return err;
  *at = reinterpret_cast<uint8_t*>(*handle_) + headerBytes_ + written_ * frameBytes_;
  written_ += frames;
  return noErr;
}

void SoundWriter::reset() {
  swr_.reset();
  av_channel_layout_uninit(&inLayout_);
  av_channel_layout_uninit(&outLayout_);
  inFormat_ = -1;
  inRate_ = outRate_ = 0;
  frameBytes_ = 0;
  written_ = 0;
  setHandleSize(handle_, 0);
  compactHandle(handle_);
}

OSErr SoundWriter::convert(const uint8_t** input, int inputFrames) {
  const int room = swr_get_out_samples(swr_.get(), inputFrames);
  if (room < 0) return codecErr;
  if (room == 0) return noErr;
  if (OSErr err = makeRoom(uint64_t(room))) return err;
  uint8_t* out = reinterpret_cast<uint8_t*>(*handle_) + headerBytes_ + written_ * frameBytes_;
  const int got = swr_convert(swr_.get(), &out, room, input, inputFrames);
  if (got < 0) return codecErr;
  uint64_t kept = uint64_t(got);
  if (skip_ > 0) {
    const uint64_t dropped = std::min(skip_, kept);
    std::memmove(out, out + dropped * frameBytes_, (kept - dropped) * frameBytes_);
    kept -= dropped;
    skip_ -= dropped;
  }
  written_ += std::min(kept, want_ - written_);
  return noErr;
}

OSErr SoundWriter::write(const AVFrame* frame) {
  if (full()) return noErr;
  OSErr err = noErr;
  AVChannelLayout layout{};
  if ((err = layoutOf(frame, &layout))) return err;
  const bool changed = frame->format != inFormat_ || frame->sample_rate != inRate_ ||
                       av_channel_layout_compare(&layout, &inLayout_) != 0;
  av_channel_layout_uninit(&layout);
  if (changed) {
    if (frame->sample_rate <= 0) return codecErr;
    if ((err = flush()) || (err = setInput(frame))) return err;
  }
  return convert(const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
}

OSErr SoundWriter::flush() {
  if (!swr_) return noErr;
  // swr_get_out_samples already counts what the resampler holds back.
  return convert(nullptr, 0);
}

OSErr SoundWriter::finish() {
  SndLayout layout;
  layout.numChannels = int16_t(outLayout_.nb_channels);
  layout.sampleSize = 16;
  layout.sampleRate = UnsignedFixed(outRate_) << 16;
  layout.encoding = kHostEncoding;
  layout.numFrames = uint32_t(written_);
  const uint32_t total = headerBytes_ + uint32_t(written_) * frameBytes_;
  if (!setHandleSize(handle_, total)) return memFullErr;
  writeSndHeader(reinterpret_cast<uint8_t*>(*handle_), layout);
  compactHandle(handle_);
  return noErr;
}

}  // namespace hx::media
