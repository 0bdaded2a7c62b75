// Sample layouts and the conversions between them.
// Both routines take the source first (unlike the output-first order used
// elsewhere) because every caller is written against that order.
#pragma once

#include <cstdint>

namespace hx {

struct SoundFormat {
  int16_t channels;
  int16_t bytesPerSample;
};

inline constexpr SoundFormat kFormatNone{0, 0};
inline constexpr SoundFormat kFormatMono8{1, 1};
inline constexpr SoundFormat kFormatMono16{1, 2};
inline constexpr SoundFormat kFormatStereo8{2, 1};
inline constexpr SoundFormat kFormatStereo16{2, 2};

// channels x bytesPerSample.
int32_t frameBytes(SoundFormat format);
bool sameFormat(SoundFormat a, SoundFormat b);

// Converts count frames from source (sourceFormat) into destination
// (destinationFormat), which holds count x frameBytes(destinationFormat)
// bytes. 8-bit samples are signed here; narrowing truncates toward zero.
// Equal layouts are one block copy. 0, or errUnknownSoundFormat with nothing
// written when either layout is not one of the four known ones (kFormatNone
// included, and also when both sides name the same unknown layout).
// Buffers may sit at any byte offset; count 0 touches no memory.
int32_t convertFrames(const void* source, uint32_t count, SoundFormat sourceFormat,
                      void* destination, SoundFormat destinationFormat);

// One float per frame (stereo mixed by the mean), full scale mapped to
// +-scale. 8-bit samples are unsigned here (zero point 128). Each value is
// computed in double and rounded once to float. 0, or errUnknownSoundFormat
// with nothing written.
int32_t framesToFloat(const void* source, float* destination, SoundFormat format, uint32_t count,
                      float scale);

// The largest magnitude among count floats; 0 for none.
float peakMagnitude(const float* values, int32_t count);

}  // namespace hx
