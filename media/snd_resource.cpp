#include "media/snd_resource.h"

#include <cstring>

#include "media/memory_handle.h"

namespace hx::media {
namespace {

constexpr uint16_t kSoundCmd = 80;
constexpr uint16_t kBufferCmd = 81;
constexpr uint16_t kDataPointerFlag = 0x8000;
constexpr int16_t kSampledSynth = 5;
constexpr int32_t kInitMono = 0x80;
constexpr int32_t kInitStereo = 0xC0;
constexpr uint8_t kBaseFrequency = 60;  // middle C

constexpr uint8_t kStandardHeader = 0x00;
constexpr uint8_t kExtendedHeader = 0xFF;
constexpr uint8_t kCompressedHeader = 0xFE;
constexpr int16_t kNotCompressed = 0;
constexpr int16_t kFixedCompression = -1;

constexpr size_t kPrefixSize = 20;  // format, one modifier, one command
constexpr size_t kStandardSize = 22;
constexpr size_t kExtendedSize = 64;

// Offsets inside the extended and compressed headers.
constexpr size_t kNumChannelsAt = 4;
constexpr size_t kSampleRateAt = 8;
constexpr size_t kEncodeAt = 20;
constexpr size_t kBaseFrequencyAt = 21;
constexpr size_t kNumFramesAt = 22;
constexpr size_t kAiffRateAt = 26;
constexpr size_t kFormatAt = 40;
constexpr size_t kCompressionIdAt = 56;
constexpr size_t kExtSampleSizeAt = 48;
constexpr size_t kCmpSampleSizeAt = 62;

void put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, uint16_t(v >> 16));
  put16(p + 2, uint16_t(v));
}
uint16_t get16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
uint32_t get32(const uint8_t* p) { return (uint32_t(get16(p)) << 16) | get16(p + 2); }

enum class HeaderKind { standard, extended, compressed };

HeaderKind kindOf(const SndLayout& layout) {
  const bool eightBit = layout.sampleSize == 8;
  if (eightBit && layout.numChannels == 1 && layout.encoding == kRawEncoding)
    return HeaderKind::standard;
  if ((eightBit && layout.encoding == kRawEncoding) || (!eightBit && layout.encoding == kTwosEncoding))
    return HeaderKind::extended;
  return HeaderKind::compressed;
}

// The rate again as an 80-bit IEEE extended number, as the headers carry it.
void putExtended80(uint8_t* p, UnsignedFixed rate) {
  std::memset(p, 0, 10);
  if (rate == 0) return;
  int top = 31;
  while (!(rate & (uint32_t(1) << top))) --top;
  put16(p, uint16_t(16383 + top - 16));
  const uint64_t mantissa = uint64_t(rate) << (63 - top);
  put32(p + 2, uint32_t(mantissa >> 32));
  put32(p + 6, uint32_t(mantissa));
}

// Bounds-checked view of the block; every read asks first.
struct Reader {
  const uint8_t* data;
  size_t size;
  bool has(uint64_t offset, uint64_t length) const {
    return offset <= size && length <= size - offset;
  }
};

// Offset of the sound header named by the first sound or buffer command
// with the data-pointer flag, or false.
bool findHeaderOffset(const Reader& r, uint32_t* headerOffset) {
  if (!r.has(0, 2)) return false;
  const uint16_t format = get16(r.data);
  uint64_t pos = 2;
  if (format == 1) {
    if (!r.has(pos, 2)) return false;
    const int16_t modifiers = int16_t(get16(r.data + pos));
    if (modifiers < 0) return false;
    pos += 2 + uint64_t(modifiers) * 6;
  } else if (format == 2) {
    pos += 2;  // reference count
  } else {
    return false;
  }
  if (!r.has(pos, 2)) return false;
  const int16_t commands = int16_t(get16(r.data + pos));
  pos += 2;
  if (commands < 0 || !r.has(pos, uint64_t(commands) * 8)) return false;
  for (int i = 0; i < commands; ++i, pos += 8) {
    const uint16_t cmd = get16(r.data + pos);
    const uint16_t code = cmd & ~kDataPointerFlag;
    if ((cmd & kDataPointerFlag) && (code == kBufferCmd || code == kSoundCmd)) {
      *headerOffset = get32(r.data + pos + 4);
      return true;
    }
  }
  return false;
}

struct ParsedHeader {
  OSType format = 0;
  uint32_t channels = 0;
  uint32_t sampleSize = 0;
  UnsignedFixed rate = 0;
  uint32_t frames = 0;
  uint64_t dataOffset = 0;
};

bool readHeader(const Reader& r, uint32_t at, ParsedHeader* h) {
  if (!r.has(at, kStandardSize)) return false;
  const uint8_t* p = r.data + at;
  h->rate = get32(p + kSampleRateAt);
  const uint8_t encode = p[kEncodeAt];
  if (encode == kStandardHeader) {
    h->format = kRawEncoding;
    h->channels = 1;
    h->sampleSize = 8;
    h->frames = get32(p + 4);  // length in bytes, one byte per frame
    h->dataOffset = uint64_t(at) + kStandardSize;
    return true;
  }
  if (encode != kExtendedHeader && encode != kCompressedHeader) return false;
  if (!r.has(at, kExtendedSize)) return false;
  h->channels = get32(p + kNumChannelsAt);
  h->frames = get32(p + kNumFramesAt);
  h->dataOffset = uint64_t(at) + kExtendedSize;
  if (encode == kExtendedHeader) {
    h->sampleSize = get16(p + kExtSampleSizeAt);
    h->format = h->sampleSize == 8 ? kRawEncoding : kTwosEncoding;
    return true;
  }
  const int16_t compression = int16_t(get16(p + kCompressionIdAt));
  if (compression != kNotCompressed && compression != kFixedCompression) return false;
  h->sampleSize = get16(p + kCmpSampleSizeAt);
  h->format = get32(p + kFormatAt);
  if (h->format == 0) h->format = h->sampleSize == 8 ? kRawEncoding : kTwosEncoding;
  return true;
}

bool consistent(const Reader& r, const ParsedHeader& h) {
  if (h.channels == 0 || h.channels > INT16_MAX) return false;
  if (h.sampleSize != 8 && h.sampleSize != 16 && h.sampleSize != 24 && h.sampleSize != 32)
    return false;
  if (h.frames > uint32_t(INT32_MAX) || h.dataOffset > UINT32_MAX) return false;
  const uint64_t bytes = uint64_t(h.frames) * h.channels * (h.sampleSize / 8);
  return r.has(h.dataOffset, bytes);
}

}  // namespace

size_t sndHeaderSize(const SndLayout& layout) {
  return kPrefixSize + (kindOf(layout) == HeaderKind::standard ? kStandardSize : kExtendedSize);
}

void writeSndHeader(uint8_t* out, const SndLayout& layout) {
  const HeaderKind kind = kindOf(layout);
  std::memset(out, 0, sndHeaderSize(layout));
  put16(out, 1);
  put16(out + 2, 1);
  put16(out + 4, uint16_t(kSampledSynth));
  const int32_t init =
      layout.numChannels == 1 ? kInitMono : layout.numChannels == 2 ? kInitStereo : 0;
  put32(out + 6, uint32_t(init));
  put16(out + 10, 1);
  put16(out + 12, kDataPointerFlag | kBufferCmd);
  put16(out + 14, 0);
  put32(out + 16, uint32_t(kPrefixSize));

  uint8_t* h = out + kPrefixSize;
  put32(h + kSampleRateAt, layout.sampleRate);
  h[kBaseFrequencyAt] = kBaseFrequency;
  if (kind == HeaderKind::standard) {
    put32(h + 4, layout.numFrames);
    h[kEncodeAt] = kStandardHeader;
    return;
  }
  put32(h + kNumChannelsAt, uint32_t(layout.numChannels));
  put32(h + kNumFramesAt, layout.numFrames);
  putExtended80(h + kAiffRateAt, layout.sampleRate);
  if (kind == HeaderKind::extended) {
    h[kEncodeAt] = kExtendedHeader;
    put16(h + kExtSampleSizeAt, uint16_t(layout.sampleSize));
    return;
  }
  h[kEncodeAt] = kCompressedHeader;
  put32(h + kFormatAt, layout.encoding);
  put16(h + kCompressionIdAt, uint16_t(kFixedCompression));
  put16(h + kCmpSampleSizeAt, uint16_t(layout.sampleSize));
}

OSErr parseSndResource(const uint8_t* data, size_t size, SoundComponentData* info,
                       uint32_t* numFrames, uint32_t* dataOffset) {
  const Reader r{data, data == nullptr ? 0 : size};
  uint32_t headerOffset = 0;
  ParsedHeader h;
  if (!findHeaderOffset(r, &headerOffset) || !readHeader(r, headerOffset, &h) ||
      !consistent(r, h))
    return badFormat;
  if (info != nullptr) {
    *info = SoundComponentData{};
    info->format = h.format;
    info->numChannels = int16_t(h.channels);
    info->sampleSize = int16_t(h.sampleSize);
    info->sampleRate = h.rate;
    info->sampleCount = int32_t(h.frames);
  }
  if (numFrames != nullptr) *numFrames = h.frames;
  if (dataOffset != nullptr) *dataOffset = uint32_t(h.dataOffset);
  return noErr;
}

OSErr parseSndHandle(Handle sound, SoundComponentData* info, uint32_t* numFrames,
                     uint32_t* dataOffset) {
  if (sound == nullptr) return nilHandleErr;
  return parseSndResource(reinterpret_cast<const uint8_t*>(*sound), getHandleSize(sound), info,
                          numFrames, dataOffset);
}

}  // namespace hx::media
