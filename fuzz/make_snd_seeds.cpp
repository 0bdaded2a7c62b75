// Writes seed inputs for fuzz_snd_resource: sound resources made by our own
// writer for each header kind, channel count and sample size, each with a
// few frames of data, one file per layout in the given folder.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/media_ops.h"
#include "media/snd_resource.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_snd_seeds DIR\n");
    return 2;
  }
  struct Case {
    int16_t channels, bits;
    hx::OSType encoding;
  };
  const Case cases[] = {{1, 8, hx::kRawEncoding},   {2, 8, hx::kRawEncoding},
                        {1, 16, hx::kTwosEncoding}, {2, 16, hx::kTwosEncoding},
                        {1, 16, hx::kSowtEncoding}, {2, 16, hx::kSowtEncoding},
                        {6, 16, hx::kSowtEncoding}};
  const uint32_t rates[] = {0x1F400000u /* 8000 Hz */, 0xAC440000u /* 44100 Hz */};
  int written = 0;
  for (const Case& c : cases)
    for (uint32_t rate : rates) {
      hx::media::SndLayout layout;
      layout.numChannels = c.channels;
      layout.sampleSize = c.bits;
      layout.sampleRate = rate;
      layout.encoding = c.encoding;
      layout.numFrames = 16;
      const size_t header = hx::media::sndHeaderSize(layout);
      std::vector<uint8_t> bytes(header + 16 * size_t(c.channels) * size_t(c.bits / 8));
      hx::media::writeSndHeader(bytes.data(), layout);
      for (size_t i = header; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 37);
      const std::string path = std::string(argv[1]) + "/snd-" + std::to_string(written++);
      std::FILE* f = std::fopen(path.c_str(), "wb");
      if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) return 1;
      std::fclose(f);
    }
  return 0;
}
