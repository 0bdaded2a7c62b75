#include "cli/validate_fixtures.h"

#include <cmath>
#include <fstream>
#include <utility>

#include "cli/wav_bytes.h"

namespace hx::cli {
namespace {

// frames x channels 16-bit samples of a tone, with one sample at -32768.
std::vector<uint8_t> tone16(size_t frames, int channels, double period) {
  std::vector<uint8_t> data;
  for (size_t i = 0; i < frames; ++i)
    for (int ch = 0; ch < channels; ++ch) {
      int v = static_cast<int>(std::lround(20000.0 * std::sin(6.283185307179586 * i / period)));
      if (i == frames / 2 && ch == 0) v = -32768;
      appendLittle16(data, static_cast<uint16_t>(static_cast<int16_t>(v)));
    }
  return data;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

}  // namespace

std::vector<std::string> writeFixtureFiles(const std::string& dir) {
  std::vector<uint8_t> eightBit;
  for (int i = 0; i < 2000; ++i) eightBit.push_back(uint8_t(128 + 100 * std::sin(i / 7.0)));
  const std::string text = "not a sound file\n";
  const std::pair<const char*, std::vector<uint8_t>> files[] = {
      {"tone-mono16.wav", wavBytes(WavFormat{44100, 1, 16}, tone16(11025, 1, 44.1))},
      {"tone-stereo16.wav", wavBytes(WavFormat{22050, 2, 16}, tone16(4000, 2, 16.0))},
      {"tone-mono8.wav", wavBytes(WavFormat{8000, 1, 8}, eightBit)},
      {"one-frame.wav", wavBytes(WavFormat{44100, 1, 16}, tone16(1, 1, 4.0))},
      {"no-frames.wav", wavBytes(WavFormat{44100, 1, 16}, std::vector<uint8_t>{})},
      {"not-audio.txt", std::vector<uint8_t>(text.begin(), text.end())}};
  std::vector<std::string> paths;
  for (const auto& [name, bytes] : files) {
    const std::string path = dir + "/" + name;
    if (!writeFile(path, bytes)) return {};
    paths.push_back(path);
  }
  return paths;
}

}  // namespace hx::cli
