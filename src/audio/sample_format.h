// Sample layouts and the conversions between them.
// Argument order follows the historical routines (source first for
// convertFrames, source then destination for framesToFloat).
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
// bytes. 8-bit samples are signed here. 0, or errUnknownSoundFormat with
// nothing written.
int32_t convertFrames(const void* source, uint32_t count, SoundFormat sourceFormat,
                      void* destination, SoundFormat destinationFormat);

// One float per frame (stereo mixed by the mean), full scale mapped to
// +-scale. 8-bit samples are unsigned here (zero point 128). 0, or
// errUnknownSoundFormat with nothing written.
int32_t framesToFloat(const void* source, float* destination, SoundFormat format, uint32_t count,
                      float scale);

}  // namespace hx
