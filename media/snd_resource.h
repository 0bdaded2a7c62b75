// Format-1 'snd ' resources with one sampled-sound header, as the classic
// sound manager lays them out (all fields big-endian):
//   format 1, one modifier (sampled synth), one command: bufferCmd whose
//   param2 is the offset of the sound header; then the header: standard
//   (encode 0x00) for 8-bit mono 'raw ', extended (encode 0xFF) otherwise,
//   with the 16.16 unsigned rate and the encoding code; frames follow it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "audio/media_ops.h"

namespace hx::media {

struct SndLayout {
  int16_t numChannels = 1;
  int16_t sampleSize = 16;          // bits: 8, 16, 24 or 32
  UnsignedFixed sampleRate = 0;     // 16.16
  OSType encoding = kSowtEncoding;  // 'raw ' (8-bit only), 'twos', 'sowt', ...
  uint32_t numFrames = 0;
};

// Bytes before the first frame for this layout.
size_t sndHeaderSize(const SndLayout& layout);
// Writes sndHeaderSize(layout) bytes at out.
void writeSndHeader(uint8_t* out, const SndLayout& layout);
// Reads a resource of size bytes. noErr with the header values, or
// badFormat when anything (counts, offsets, channels, sample size, frame
// bytes) is inconsistent with the block; never reads outside it.
OSErr parseSndResource(const uint8_t* data, size_t size, SoundComponentData* info,
                       uint32_t* numFrames, uint32_t* dataOffset);

}  // namespace hx::media
