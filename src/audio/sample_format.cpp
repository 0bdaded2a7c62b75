#include "audio/sample_format.h"

#include <cmath>
#include <cstring>

#include <emmintrin.h>

#include "support/error_text.h"

namespace hx {
namespace {

using Byte = unsigned char;

// The reader hands out buffers at any byte offset, so 16-bit samples are
// moved with memcpy rather than through an int16_t pointer.
inline int load8(const Byte* p) { return static_cast<int8_t>(*p); }
inline int load16(const Byte* p) {
  int16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void store8(Byte* p, int v) { *p = static_cast<Byte>(static_cast<int8_t>(v)); }
inline void store16(Byte* p, int v) {
  const int16_t s = static_cast<int16_t>(v);
  std::memcpy(p, &s, sizeof s);
}

// Index of a known layout: 0 mono 8, 1 mono 16, 2 stereo 8, 3 stereo 16; -1 otherwise.
int layoutIndex(SoundFormat f) {
  if (sameFormat(f, kFormatMono8)) return 0;
  if (sameFormat(f, kFormatMono16)) return 1;
  if (sameFormat(f, kFormatStereo8)) return 2;
  if (sameFormat(f, kFormatStereo16)) return 3;
  return -1;
}

// One frame of every rule that changes the layout. C++ division truncates
// toward zero, which is the rounding every narrowing rule wants; the
// stereo-to-mono mixes halve before adding so nothing leaves its range.
struct Mono8ToMono16 {
  static constexpr int kIn = 1, kOut = 2;
  static void frame(const Byte* s, Byte* d) { store16(d, load8(s) * 256); }
};
struct Mono8ToStereo8 {
  static constexpr int kIn = 1, kOut = 2;
  static void frame(const Byte* s, Byte* d) { d[0] = d[1] = s[0]; }
};
struct Mono8ToStereo16 {
  static constexpr int kIn = 1, kOut = 4;
  static void frame(const Byte* s, Byte* d) {
    const int v = load8(s) * 256;
    store16(d, v);
    store16(d + 2, v);
  }
};
struct Mono16ToMono8 {
  static constexpr int kIn = 2, kOut = 1;
  static void frame(const Byte* s, Byte* d) { store8(d, load16(s) / 256); }
};
struct Mono16ToStereo8 {
  static constexpr int kIn = 2, kOut = 2;
  static void frame(const Byte* s, Byte* d) {
    const int v = load16(s) / 256;
    store8(d, v);
    store8(d + 1, v);
  }
};
struct Mono16ToStereo16 {
  static constexpr int kIn = 2, kOut = 4;
  static void frame(const Byte* s, Byte* d) {
    std::memcpy(d, s, 2);
    std::memcpy(d + 2, s, 2);
  }
};
struct Stereo8ToMono8 {
  static constexpr int kIn = 2, kOut = 1;
  static void frame(const Byte* s, Byte* d) { store8(d, load8(s) / 2 + load8(s + 1) / 2); }
};
struct Stereo8ToMono16 {
  static constexpr int kIn = 2, kOut = 2;
  static void frame(const Byte* s, Byte* d) { store16(d, (load8(s) + load8(s + 1)) * 128); }
};
struct Stereo8ToStereo16 {
  static constexpr int kIn = 2, kOut = 4;
  static void frame(const Byte* s, Byte* d) {
    store16(d, load8(s) * 256);
    store16(d + 2, load8(s + 1) * 256);
  }
};
struct Stereo16ToMono8 {
  static constexpr int kIn = 4, kOut = 1;
  static void frame(const Byte* s, Byte* d) { store8(d, load16(s) / 512 + load16(s + 2) / 512); }
};
struct Stereo16ToMono16 {
  static constexpr int kIn = 4, kOut = 2;
  static void frame(const Byte* s, Byte* d) { store16(d, load16(s) / 2 + load16(s + 2) / 2); }
};
struct Stereo16ToStereo8 {
  static constexpr int kIn = 4, kOut = 2;
  static void frame(const Byte* s, Byte* d) {
    store8(d, load16(s) / 256);
    store8(d + 1, load16(s + 2) / 256);
  }
};

using ConvertLoop = void (*)(const Byte*, Byte*, uint32_t);

template <class Rule>
void convertLoop(const Byte* source, Byte* destination, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    Rule::frame(source, destination);
    source += Rule::kIn;
    destination += Rule::kOut;
  }
}

// [source][destination] by layoutIndex; the diagonal is the plain copy.
constexpr ConvertLoop kConvertLoops[4][4] = {
    {nullptr, convertLoop<Mono8ToMono16>, convertLoop<Mono8ToStereo8>,
     convertLoop<Mono8ToStereo16>},
    {convertLoop<Mono16ToMono8>, nullptr, convertLoop<Mono16ToStereo8>,
     convertLoop<Mono16ToStereo16>},
    {convertLoop<Stereo8ToMono8>, convertLoop<Stereo8ToMono16>, nullptr,
     convertLoop<Stereo8ToStereo16>},
    {convertLoop<Stereo16ToMono8>, convertLoop<Stereo16ToMono16>, convertLoop<Stereo16ToStereo8>,
     nullptr},
};

// Each value is formed exactly in double and rounded once to float.
struct FloatMono8 {
  static constexpr int kIn = 1;
  static double value(const Byte* s, double scale) { return (s[0] - 128) * scale / 128.0; }
};
struct FloatMono16 {
  static constexpr int kIn = 2;
  static double value(const Byte* s, double scale) { return load16(s) * scale / 32768.0; }
};
struct FloatStereo8 {
  static constexpr int kIn = 2;
  static double value(const Byte* s, double scale) {
    return ((s[0] - 128) + (s[1] - 128)) * scale / 256.0;
  }
};
struct FloatStereo16 {
  static constexpr int kIn = 4;
  static double value(const Byte* s, double scale) {
    return ((load16(s) + load16(s + 2)) * scale / 32768.0) / 2.0;
  }
};

template <class Rule>
void floatLoop(const Byte* source, float* destination, uint32_t count, float scale) {
  const double s = scale;
  for (uint32_t i = 0; i < count; ++i) {
    destination[i] = static_cast<float>(Rule::value(source, s));
    source += Rule::kIn;
  }
}

// FloatMono16 four values at a time, the analysis' own layout. Each lane
// does what the scalar rule does: x * scale exact in double, the division
// by 32768 an exact scaling (so a product by its inverse), one rounding.
void floatMono16(const Byte* source, float* destination, uint32_t count, float scale) {
  const __m128d s = _mm_set1_pd(scale);
  const __m128d inverse = _mm_set1_pd(1.0 / 32768.0);
  uint32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i raw = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source + 2 * i));
    const __m128i wide = _mm_srai_epi32(_mm_unpacklo_epi16(raw, raw), 16);
    const __m128d lo = _mm_mul_pd(_mm_mul_pd(_mm_cvtepi32_pd(wide), s), inverse);
    const __m128d hi = _mm_mul_pd(
        _mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(wide, _MM_SHUFFLE(1, 0, 3, 2))), s), inverse);
    _mm_storeu_ps(destination + i, _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)));
  }
  floatLoop<FloatMono16>(source + 2 * i, destination + i, count - i, scale);
}

}  // namespace

int32_t frameBytes(SoundFormat format) {
  return static_cast<int32_t>(format.channels) * format.bytesPerSample;
}

bool sameFormat(SoundFormat a, SoundFormat b) {
  return a.channels == b.channels && a.bytesPerSample == b.bytesPerSample;
}

int32_t convertFrames(const void* source, uint32_t count, SoundFormat sourceFormat,
                      void* destination, SoundFormat destinationFormat) {
  // Unknown layouts are refused even when both sides agree: a copy needs a
  // frame size we can trust.
  const int from = layoutIndex(sourceFormat);
  const int to = layoutIndex(destinationFormat);
  if (from < 0 || to < 0) return errUnknownSoundFormat;
  if (count == 0) return 0;
  const auto* s = static_cast<const Byte*>(source);
  auto* d = static_cast<Byte*>(destination);
  if (from == to) {
    std::memcpy(d, s, static_cast<size_t>(count) * static_cast<size_t>(frameBytes(sourceFormat)));
  } else {
    kConvertLoops[from][to](s, d, count);
  }
  return 0;
}

int32_t framesToFloat(const void* source, float* destination, SoundFormat format, uint32_t count,
                      float scale) {
  const auto* s = static_cast<const Byte*>(source);
  switch (layoutIndex(format)) {
    case 0: floatLoop<FloatMono8>(s, destination, count, scale); return 0;
    case 1: floatMono16(s, destination, count, scale); return 0;
    case 2: floatLoop<FloatStereo8>(s, destination, count, scale); return 0;
    case 3: floatLoop<FloatStereo16>(s, destination, count, scale); return 0;
    default: return errUnknownSoundFormat;
  }
}

// Four running peaks, one per lane: the largest magnitude does not depend
// on the order it is found in. max(a, peak) gives peak when a is a NaN, as
// the comparison below skips one.
float peakMagnitude(const float* values, int32_t count) {
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  __m128 peaks = _mm_setzero_ps();
  int32_t i = 0;
  for (; i + 4 <= count; i += 4)
    peaks = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(values + i), magnitude), peaks);
  float lanes[4];
  _mm_storeu_ps(lanes, peaks);
  float peak = 0.0f;
  for (float a : lanes)
    if (a > peak) peak = a;
  for (; i < count; ++i) {
    const float a = std::fabs(values[i]);
    if (a > peak) peak = a;
  }
  return peak;
}

}  // namespace hx
