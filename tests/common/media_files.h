// Test fixtures made at test time: generated signals, WAV files written
// here, other formats encoded from them with the system's ffmpeg or sox,
// and a temporary directory that cleans up after itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/wav_bytes.h"

namespace hx::test {

// A fresh directory, removed with everything in it when the object dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path()/name.
  std::string file(std::string_view name) const;

 private:
  std::string path_;
};

// ---- signals ------------------------------------------------------------

// amplitude * sin(2 pi freq t + phase) at t = i / rate, for i in [0, frames).
std::vector<double> sine(size_t frames, double freq, double rate, double amplitude,
                         double phase = 0.0);
// Rounded to the nearest integer and clipped to [-32768, 32767].
std::vector<int16_t> toInt16(const std::vector<double>& signal);
// Channel 0 first in every frame; all channels must have the same length.
std::vector<int16_t> interleave(const std::vector<std::vector<int16_t>>& channels);
// Every stride-th sample starting at offset (one channel of interleaved data).
std::vector<int16_t> channelOf(const std::vector<int16_t>& interleaved, size_t stride,
                               size_t offset);

// Least-squares fit of dc + a sin + b cos at a known frequency.
struct ToneFit {
  double amplitude = 0;  // sqrt(a^2 + b^2)
  double dc = 0;
  double residualRms = 0;  // what the tone and dc leave unexplained
};
ToneFit fitTone(const int16_t* samples, size_t count, size_t stride, double freq, double rate);

// ---- files --------------------------------------------------------------

// The command's validator writes its fixtures with the same writer.
using cli::WavFormat;
// Writes a RIFF WAVE file around data (interleaved frames, little-endian,
// already in the sample format given). False when the file cannot be written.
bool writeWav(const std::string& path, const WavFormat& format, const std::vector<uint8_t>& data);
// 16-bit interleaved samples.
bool writeWav16(const std::string& path, int rate, int channels,
                const std::vector<int16_t>& samples);
bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readBytes(const std::string& path);

// Runs a tool quietly: ffmpeg with "-nostdin -y -loglevel error" in front of
// args, or sox with args as given. True when it exits with 0. Always false
// where no shell tools exist (Windows builds).
bool runFfmpeg(const std::vector<std::string>& args);
bool runSox(const std::vector<std::string>& args);
bool haveFfmpeg();
bool haveSox();

}  // namespace hx::test
