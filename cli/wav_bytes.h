// RIFF WAVE files as bytes, for the validator's fixtures and the tests'.
#pragma once

#include <cstdint>
#include <vector>

namespace hx::cli {

struct WavFormat {
  int rate = 44100;
  int channels = 1;
  int bits = 16;             // 8 (unsigned), 16, 24, 32
  bool isFloat = false;      // 32-bit IEEE float samples
  uint32_t channelMask = 0;  // written as WAVE_FORMAT_EXTENSIBLE when non-zero
};

// A whole file around data (interleaved frames, little-endian, already in
// the sample format given).
std::vector<uint8_t> wavBytes(const WavFormat& format, const std::vector<uint8_t>& data);

// v as two little-endian bytes appended to out.
void appendLittle16(std::vector<uint8_t>& out, uint32_t v);

}  // namespace hx::cli
