#include "cli/wav_bytes.h"

namespace hx::cli {
namespace {

void put32(std::vector<uint8_t>& out, uint32_t v) {
  appendLittle16(out, v & 0xFFFF);
  appendLittle16(out, v >> 16);
}
// Byte by byte: GCC 12 warns falsely on a range insert into an empty vector.
void putTag(std::vector<uint8_t>& out, const char* tag) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(tag[i]));
}

constexpr uint16_t kPcm = 1;
constexpr uint16_t kIeeeFloat = 3;
constexpr uint16_t kExtensible = 0xFFFE;

}  // namespace

void appendLittle16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

std::vector<uint8_t> wavBytes(const WavFormat& format, const std::vector<uint8_t>& data) {
  const uint16_t tag = format.isFloat ? kIeeeFloat : kPcm;
  const bool extensible = format.channelMask != 0;
  const uint32_t blockAlign = uint32_t(format.channels * (format.bits / 8));
  std::vector<uint8_t> out;
  putTag(out, "RIFF");
  put32(out, 0);  // patched below
  putTag(out, "WAVE");
  putTag(out, "fmt ");
  put32(out, extensible ? 40 : 16);
  appendLittle16(out, extensible ? kExtensible : tag);
  appendLittle16(out, uint32_t(format.channels));
  put32(out, uint32_t(format.rate));
  put32(out, uint32_t(format.rate) * blockAlign);
  appendLittle16(out, blockAlign);
  appendLittle16(out, uint32_t(format.bits));
  if (extensible) {
    appendLittle16(out, 22);
    appendLittle16(out, uint32_t(format.bits));
    put32(out, format.channelMask);
    // The sub-format GUID: the format tag, then the fixed tail.
    static const uint8_t tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                     0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    appendLittle16(out, tag);
    out.insert(out.end(), tail, tail + 14);
  }
  putTag(out, "data");
  put32(out, uint32_t(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() % 2) out.push_back(0);
  const uint32_t riffSize = uint32_t(out.size() - 8);
  for (int i = 0; i < 4; ++i) out[4 + i] = uint8_t(riffSize >> (8 * i));
  return out;
}

}  // namespace hx::cli
