// The audio files encoded by make_media.sh, and what they must decode to.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace hx::binding_test {

struct MediaFile {
  std::string name;
  std::string path;  // the encoded file
  uint32_t rate = 0;
  int channels = 0;
  int bits = 0;
  // The source frames widened to 16 bits (8-bit samples: (u - 128) x 256), interleaved.
  std::vector<int16_t> samples;
  uint32_t frames() const { return uint32_t(samples.size() / size_t(channels)); }
};

inline std::vector<uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The folder the fixture wrote; Unix paths are reached through drive Z: under Wine.
inline std::string mediaDir() {
  const char* dir = std::getenv("HX_BINDING_MEDIA");
  if (dir == nullptr) return {};
  std::string path(dir);
#ifdef _WIN32
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
#endif
  return path;
}

inline std::vector<MediaFile> mediaFiles() {
  std::vector<MediaFile> files;
  const std::string dir = mediaDir();
  std::ifstream manifest(dir + "/manifest.txt");
  std::string line;
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    MediaFile f;
    std::string file;
    fields >> f.name >> file >> f.rate >> f.channels >> f.bits;
    f.path = dir + "/" + file;
    const std::vector<uint8_t> raw = readBytes(dir + "/" + f.name + ".raw");
    if (f.bits == 8) {
      for (uint8_t u : raw) f.samples.push_back(int16_t((int(u) - 128) * 256));
    } else {
      for (size_t i = 0; i + 1 < raw.size(); i += 2)
        f.samples.push_back(int16_t(uint16_t(raw[i] | (raw[i + 1] << 8))));
    }
    files.push_back(std::move(f));
  }
  return files;
}

// Fails the test when the fixture did not run (binding_media).
inline std::vector<MediaFile> requireMediaFiles() {
  std::vector<MediaFile> files = mediaFiles();
  EXPECT_GE(files.size(), 7u) << "no files from make_media.sh in '" << mediaDir() << "'";
  return files;
}

inline std::vector<int16_t> bigEndianSamples(const uint8_t* data, size_t count) {
  std::vector<int16_t> samples(count);
  for (size_t i = 0; i < count; ++i)
    samples[i] = int16_t(uint16_t((data[2 * i] << 8) | data[2 * i + 1]));
  return samples;
}

}  // namespace hx::binding_test
