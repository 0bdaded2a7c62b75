// SoundWriter: decoded frames converted into the handle, the header last.
#include "media/sound_writer.h"

#include <algorithm>

#include "media/memory_handle.h"
#include "media/snd_resource.h"

namespace hx::media {

OSErr codeOf(MediaError e) {
  switch (e) {
    case MediaError::none:
      return noErr;
    case MediaError::noMemory:
      return memFullErr;
    case MediaError::noDecoder:
      return cantFindHandler;
    case MediaError::undecodable:
      return codecErr;
    case MediaError::rateTooHigh:
      return rateTooHighErr;
    case MediaError::tooLarge:
      return soundTooLargeErr;
  }
  return codecErr;
}

void SoundWriter::reset() {
  TrackConverter::reset();
  setHandleSize(handle_, 0);
  compactHandle(handle_);
}

void SoundWriter::expect(double frames) {
  // Room for the whole track at once, so the block moves rarely if ever.
  const double bytes = headerBytes_ + frames * frameBytes();
  if (bytes <= double(limit_)) reserveHandleToFill(handle_, uint32_t(bytes));
}

uint8_t* SoundWriter::roomFor(uint64_t kept, uint64_t frames, MediaError* error) {
  const uint64_t needed = headerBytes_ + (kept + frames) * frameBytes();
  if (needed > limit_ || kept + frames > uint64_t(INT32_MAX)) {
    *error = MediaError::tooLarge;
    return nullptr;
  }
  // Grow ahead by half, never past the limit, so the block is never larger
  // than the cap allows; setHandleSize then finds the room already there.
  const uint64_t ahead = std::min<uint64_t>(limit_, needed + needed / 2);
  if ((!reserveHandle(handle_, uint32_t(ahead)) && !reserveHandle(handle_, uint32_t(needed))) ||
      !setHandleSize(handle_, uint32_t(needed))) {
    *error = MediaError::noMemory;
    return nullptr;
  }
  return reinterpret_cast<uint8_t*>(*handle_) + headerBytes_ + kept * frameBytes();
}

OSErr SoundWriter::finish() {
  SndLayout layout;
  layout.numChannels = int16_t(outChannels());
  layout.sampleSize = 16;
  layout.sampleRate = UnsignedFixed(outRate()) << 16;
  layout.encoding = kHostEncoding;
  layout.numFrames = uint32_t(frames());
  const uint32_t total = headerBytes_ + uint32_t(frames()) * frameBytes();
  if (!setHandleSize(handle_, total)) return memFullErr;
  writeSndHeader(reinterpret_cast<uint8_t*>(*handle_), layout);
  compactHandle(handle_);
  return noErr;
}

}  // namespace hx::media
