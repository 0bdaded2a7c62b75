// Writing a decoded track into a sound resource: frames converted to
// 16-bit at a rate the header can hold, straight into the handle.
#pragma once

#include <bit>
#include <cstdint>
#include <memory>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include "audio/media_ops.h"

namespace hx::media {

// Samples in the byte order of this machine.
inline constexpr OSType kHostEncoding =
    std::endian::native == std::endian::little ? kSowtEncoding : kTwosEncoding;

// The rate a track of inputRate is written at: its own where the header's
// 16.16 field holds it, else 48 kHz.
int soundRateFor(int inputRate);

// Decoded frames land straight in the handle, after room for the header
// that is written once the count is known.
class SoundWriter {
 public:
  SoundWriter(Handle handle, uint32_t limit, uint32_t headerBytes)
      : handle_(handle), limit_(limit), headerBytes_(headerBytes) {}
  ~SoundWriter() {
    av_channel_layout_uninit(&inLayout_);
    av_channel_layout_uninit(&outLayout_);
  }
  SoundWriter(const SoundWriter&) = delete;
  SoundWriter& operator=(const SoundWriter&) = delete;

  // Keeps only output frames [first, end).
  void keepRange(uint64_t first, uint64_t end) {
    skip_ = first;
    want_ = end > first ? end - first : 0;
  }
  // Fixes the output layout from the first decoded frame.
  OSErr configure(const AVFrame* first, double seconds);
  OSErr write(const AVFrame* frame);
  OSErr flush();
  OSErr finish();
  bool configured() const { return swr_ != nullptr; }
  bool full() const { return written_ >= want_; }
  // True when no range was set: the whole track is kept.
  bool keepsAll() const { return skip_ == 0 && want_ == UINT64_MAX; }
  uint64_t written() const { return written_; }
  uint32_t frameBytes() const { return frameBytes_; }
  // For a caller that fills frames itself, once configured: room for frames
  // more frames after those written, counted as written, at *at.
  // soundTooLargeErr past the limit, memFullErr when memory is short.
  OSErr claim(uint64_t frames, uint8_t** at);
  // Back to the state before configure: nothing written, the handle empty.
  void reset();

 private:
  OSErr setInput(const AVFrame* frame);
  // Grows the handle to hold frames more frames after those written.
  OSErr makeRoom(uint64_t frames);
  OSErr convert(const uint8_t** input, int inputFrames);

  Handle handle_;
  uint64_t limit_;
  uint32_t headerBytes_;
  struct SwrFreer {
    void operator()(SwrContext* s) const { swr_free(&s); }
  };
  std::unique_ptr<SwrContext, SwrFreer> swr_;
  AVChannelLayout inLayout_{};
  AVChannelLayout outLayout_{};
  int inFormat_ = -1;
  int inRate_ = 0;
  int outRate_ = 0;
  uint32_t frameBytes_ = 0;
  uint64_t written_ = 0;       // frames kept in the handle
  uint64_t skip_ = 0;          // frames still to drop before the range
  uint64_t want_ = UINT64_MAX;  // frames the range holds
};

}  // namespace hx::media
