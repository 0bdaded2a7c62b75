// libFuzzer target for the 'snd ' resource parser: whatever it accepts must
// lie inside the block and survive a write and a second parse unchanged.
// Build and run with fuzz/run.sh.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "media/snd_resource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace hx;
  SoundComponentData info{};
  uint32_t frames = 0, offset = 0;
  if (media::parseSndResource(data, size, &info, &frames, &offset) != noErr) return 0;
  const uint64_t frameBytes = uint64_t(info.numChannels) * uint64_t(info.sampleSize / 8);
  if (info.numChannels <= 0 || frameBytes == 0) __builtin_trap();
  if (uint64_t(offset) + uint64_t(frames) * frameBytes > size) __builtin_trap();

  media::SndLayout layout;
  layout.numChannels = info.numChannels;
  layout.sampleSize = info.sampleSize;
  layout.sampleRate = info.sampleRate;
  layout.encoding = info.format;
  layout.numFrames = frames;
  const size_t header = media::sndHeaderSize(layout);
  std::vector<uint8_t> again(header + size_t(frames * frameBytes));
  media::writeSndHeader(again.data(), layout);
  SoundComponentData info2{};
  uint32_t frames2 = 0, offset2 = 0;
  if (media::parseSndResource(again.data(), again.size(), &info2, &frames2, &offset2) != noErr ||
      info2.format != info.format || info2.numChannels != info.numChannels ||
      info2.sampleSize != info.sampleSize || info2.sampleRate != info.sampleRate ||
      frames2 != frames || offset2 != header)
    __builtin_trap();
  return 0;
}
