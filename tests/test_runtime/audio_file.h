// WAV and AIFF files as the test runtime reads them: PCM at 8 or 16 bits,
// mono or stereo. The parser works on the file's bytes and never reads
// outside them, whatever they hold.
#pragma once

#include <cstddef>
#include <cstdint>

#include "audio/media_ops.h"

namespace hx::testrt {

enum class SampleCoding : uint8_t {
  unsigned8,  // WAV: zero at 128
  signed8,    // AIFF
  little16,
  big16,
};

struct PcmAudio {
  SampleCoding coding = SampleCoding::little16;
  int16_t channels = 0;
  UnsignedFixed rate = 0;  // 16.16
  uint32_t frames = 0;     // whole frames present in the file
  size_t dataOffset = 0;   // first frame, from the start of the file
  // False for a well-formed file in an encoding this runtime cannot decode
  // (float, 24-bit, compressed, more than two channels, rates of 65536 Hz
  // and above); the other fields are then unset.
  bool decodable = false;
};

// noErr, or invalidMovie when the bytes are no WAV or AIFF file.
OSErr parseAudioFile(const uint8_t* file, size_t size, PcmAudio* audio);

int32_t bytesPerFrame(const PcmAudio& audio);

// Writes frames [first, first + count) of a decodable file as interleaved
// signed 16-bit big-endian samples (8-bit samples widened by 256).
void writeBigEndian16(uint8_t* out, const uint8_t* file, const PcmAudio& audio, uint32_t first,
                      uint32_t count);

}  // namespace hx::testrt
