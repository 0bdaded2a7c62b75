// Writing a decoded track into a sound resource: frames converted to
// 16-bit at a rate the header can hold, straight into the handle.
#pragma once

#include <bit>
#include <cstdint>

#include "audio/media_ops.h"
#include "media/track_decoder.h"

namespace hx::media {

// The platform code of a decoding failure.
OSErr codeOf(MediaError e);

// Samples in the byte order of this machine.
inline constexpr OSType kHostEncoding =
    std::endian::native == std::endian::little ? kSowtEncoding : kTwosEncoding;

// Decoded frames land straight in the handle, after room for the header
// that is written once the count is known. The handle never grows past
// limit bytes nor 2^31 - 1 frames (MediaError::tooLarge).
class SoundWriter : public TrackConverter {
 public:
  SoundWriter(Handle handle, uint32_t limit, uint32_t headerBytes)
      : handle_(handle), limit_(limit), headerBytes_(headerBytes) {}

  // The header, once every frame is in; memFullErr when the handle cannot
  // shrink to its size.
  OSErr finish();
  // Back to the state before configure: nothing written, the handle empty.
  void reset();

 protected:
  uint8_t* roomFor(uint64_t kept, uint64_t frames, MediaError* error) override;
  void expect(double frames) override;

 private:
  Handle handle_;
  uint64_t limit_;
  uint32_t headerBytes_;
};

}  // namespace hx::media
