#include "test_runtime/audio_file.h"

#include <cstring>

namespace hx::testrt {
namespace {

constexpr uint16_t kWavePcm = 1;
constexpr uint16_t kWaveExtensible = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM after its first two bytes (the format tag).
constexpr uint8_t kPcmGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) { return uint32_t(le16(p)) | (uint32_t(le16(p + 2)) << 16); }
uint16_t be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
uint32_t be32(const uint8_t* p) { return (uint32_t(be16(p)) << 16) | be16(p + 2); }
bool isTag(const uint8_t* p, const char (&tag)[5]) { return std::memcmp(p, tag, 4) == 0; }

// A chunk body; size is what the file really holds of it.
struct Chunk {
  size_t offset = 0;
  size_t size = 0;
  bool found = false;
};

// Walks the chunks after a 12-byte container header. A chunk that claims
// more than the file holds is cut to the file's end (truncated recordings
// are common) and ends the walk.
template <typename SizeOf, typename Visit>
void walkChunks(const uint8_t* file, size_t size, SizeOf sizeOf, Visit visit) {
  size_t pos = 12;
  while (size - pos >= 8) {
    const uint8_t* header = file + pos;
    const uint64_t claimed = sizeOf(header + 4);
    const size_t body = pos + 8;
    const size_t available = size - body;
    const bool cut = claimed > available;
    visit(header, Chunk{body, cut ? available : size_t(claimed), true});
    if (cut) return;
    const uint64_t next = uint64_t(body) + claimed + (claimed & 1);
    if (next >= size) return;
    pos = size_t(next);
  }
}

bool setWholeFrames(PcmAudio* audio, const Chunk& data, uint64_t limit) {
  const int32_t frameBytes = bytesPerFrame(*audio);
  uint64_t frames = data.size / uint64_t(frameBytes);
  if (frames > limit) frames = limit;
  if (frames > INT32_MAX) return false;  // readers count frames as signed 32-bit numbers
  audio->frames = uint32_t(frames);
  audio->dataOffset = data.offset;
  return true;
}

OSErr parseWave(const uint8_t* file, size_t size, PcmAudio* audio) {
  Chunk format, data;
  walkChunks(file, size, le32, [&](const uint8_t* header, const Chunk& chunk) {
    if (isTag(header, "fmt ") && !format.found) format = chunk;
    if (isTag(header, "data") && !data.found) data = chunk;
  });
  if (!format.found || !data.found || format.size < 16) return invalidMovie;
  const uint8_t* f = file + format.offset;
  uint16_t tag = le16(f);
  const uint16_t channels = le16(f + 2);
  const uint32_t rate = le32(f + 4);
  const uint16_t blockAlign = le16(f + 12);
  const uint16_t bits = le16(f + 14);
  if (channels == 0 || rate == 0 || blockAlign == 0) return invalidMovie;
  if (tag == kWaveExtensible) {
    if (format.size < 40) return invalidMovie;
    tag = std::memcmp(f + 26, kPcmGuidTail, sizeof kPcmGuidTail) == 0 ? le16(f + 24) : 0;
  }
  *audio = PcmAudio{};
  if (tag != kWavePcm || (bits != 8 && bits != 16) || channels > 2 || rate > 0xFFFF ||
      blockAlign != channels * bits / 8)
    return noErr;
  audio->coding = bits == 8 ? SampleCoding::unsigned8 : SampleCoding::little16;
  audio->channels = int16_t(channels);
  audio->rate = rate << 16;
  if (!setWholeFrames(audio, data, UINT64_MAX)) return invalidMovie;
  audio->decodable = true;
  return noErr;
}

// The 80-bit extended rate as 16.16, truncated; 0 when it is not a
// positive number below 65536.
UnsignedFixed fixedRate(const uint8_t* p) {
  const uint16_t signAndExponent = be16(p);
  const uint64_t mantissa = (uint64_t(be32(p + 2)) << 32) | be32(p + 6);
  if ((signAndExponent & 0x8000) || mantissa == 0) return 0;
  // value = mantissa * 2^(exponent - 16383 - 63); times 2^16 for the fixed point.
  const int shift = int(signAndExponent) - 16383 - 63 + 16;
  if (shift >= 0) return 0;  // at least 2^63 / 2^16: far too fast
  if (shift <= -64) return 0;
  const uint64_t fixed = mantissa >> -shift;
  return fixed > 0xFFFFFFFFu ? 0 : UnsignedFixed(fixed);
}

OSErr parseAiff(const uint8_t* file, size_t size, bool compressed, PcmAudio* audio) {
  Chunk common, sound;
  walkChunks(file, size, be32, [&](const uint8_t* header, const Chunk& chunk) {
    if (isTag(header, "COMM") && !common.found) common = chunk;
    if (isTag(header, "SSND") && !sound.found) sound = chunk;
  });
  if (!common.found || !sound.found || common.size < (compressed ? 22u : 18u) || sound.size < 8)
    return invalidMovie;
  const uint8_t* c = file + common.offset;
  const int16_t channels = int16_t(be16(c));
  const uint32_t frames = be32(c + 2);
  const int16_t bits = int16_t(be16(c + 6));
  const UnsignedFixed rate = fixedRate(c + 8);
  if (channels <= 0 || bits <= 0) return invalidMovie;
  OSType encoding = kTwosEncoding;
  if (compressed) {
    encoding = be32(c + 18);
    if (encoding == fourCharCode("NONE")) encoding = kTwosEncoding;
  }
  const uint32_t dataSkip = be32(file + sound.offset);
  *audio = PcmAudio{};
  const bool known = (encoding == kTwosEncoding && (bits == 8 || bits == 16)) ||
                     (encoding == kSowtEncoding && bits == 16);
  if (!known || channels > 2 || rate == 0) return noErr;
  if (dataSkip > sound.size - 8) return invalidMovie;
  audio->coding = bits == 8                      ? SampleCoding::signed8
                  : encoding == kSowtEncoding ? SampleCoding::little16
                                              : SampleCoding::big16;
  audio->channels = channels;
  audio->rate = rate;
  const Chunk data{sound.offset + 8 + dataSkip, sound.size - 8 - dataSkip, true};
  if (!setWholeFrames(audio, data, frames)) return invalidMovie;
  audio->decodable = true;
  return noErr;
}

int16_t widened(const uint8_t* p, SampleCoding coding) {
  switch (coding) {
    case SampleCoding::unsigned8:
      return int16_t((int(p[0]) - 128) * 256);
    case SampleCoding::signed8:
      return int16_t(int8_t(p[0]) * 256);
    case SampleCoding::little16:
      return int16_t(le16(p));
    case SampleCoding::big16:
      return int16_t(be16(p));
  }
  return 0;
}

}  // namespace

OSErr parseAudioFile(const uint8_t* file, size_t size, PcmAudio* audio) {
  if (file == nullptr || audio == nullptr || size < 12) return invalidMovie;
  if (isTag(file, "RIFF") && isTag(file + 8, "WAVE")) return parseWave(file, size, audio);
  if (isTag(file, "FORM") && isTag(file + 8, "AIFF")) return parseAiff(file, size, false, audio);
  if (isTag(file, "FORM") && isTag(file + 8, "AIFC")) return parseAiff(file, size, true, audio);
  return invalidMovie;
}

int32_t bytesPerFrame(const PcmAudio& audio) {
  const bool eightBit =
      audio.coding == SampleCoding::unsigned8 || audio.coding == SampleCoding::signed8;
  return audio.channels * (eightBit ? 1 : 2);
}

void writeBigEndian16(uint8_t* out, const uint8_t* file, const PcmAudio& audio, uint32_t first,
                      uint32_t count) {
  const size_t sampleBytes = size_t(bytesPerFrame(audio) / audio.channels);
  const uint8_t* in = file + audio.dataOffset + size_t(first) * size_t(bytesPerFrame(audio));
  const size_t samples = size_t(count) * size_t(audio.channels);
  for (size_t i = 0; i < samples; ++i, in += sampleBytes, out += 2) {
    const uint16_t s = uint16_t(widened(in, audio.coding));
    out[0] = uint8_t(s >> 8);
    out[1] = uint8_t(s);
  }
}

}  // namespace hx::testrt
