// Format-1 'snd ' resources with one sampled-sound header, as the classic
// sound manager lays them out (all fields big-endian):
//   format 1, one modifier (sampled synth), one command: bufferCmd with the
//   data-pointer flag, whose param2 is the offset of the sound header (20).
//   Then the header, one of three kinds, chosen by the layout:
//   - standard (encode 0x00, 22 bytes) for 8-bit mono 'raw ';
//   - extended (encode 0xFF, 64 bytes) for 'raw ' at 8 bits and 'twos' at
//     16, 24 or 32 bits, any channel count: the kind implies the encoding;
//   - compressed (encode 0xFE, 64 bytes, compression id -1) for every other
//     encoding ('sowt', ...), which it names in its format field.
//   All three carry the 16.16 unsigned sample rate; the frames follow the
//   header, interleaved.
// Format-2 resources (no modifiers) and soundCmd are accepted when parsing.
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
// bytes) is inconsistent with the block; never reads outside it. A frame
// count above 2^31 - 1 is refused as well: readers count frames as signed
// 32-bit numbers. info->buffer is set to null; flags and reserved to 0.
OSErr parseSndResource(const uint8_t* data, size_t size, SoundComponentData* info,
                       uint32_t* numFrames, uint32_t* dataOffset);
// The platform's ParseSndHeader over a memory handle (see memory_handle.h):
// nilHandleErr for a null handle, otherwise as parseSndResource.
OSErr parseSndHandle(Handle sound, SoundComponentData* info, uint32_t* numFrames,
                     uint32_t* dataOffset);

}  // namespace hx::media
