#include "common/media_files.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>

namespace hx::test {
namespace fs = std::filesystem;

// ---- temporary directory ------------------------------------------------

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device entropy;
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / ("hx-test-" + std::to_string(entropy()) + "-" +
                                       std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate.string();
      return;
    }
  }
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  // Tests may leave unreadable entries behind; make them removable first.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
       it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempDir::file(std::string_view name) const {
  return (fs::path(path_) / fs::path(name)).string();
}

// ---- signals ------------------------------------------------------------

std::vector<double> sine(size_t frames, double freq, double rate, double amplitude,
                         double phase) {
  std::vector<double> out(frames);
  for (size_t i = 0; i < frames; ++i)
    out[i] = amplitude * std::sin(2.0 * std::numbers::pi * freq * double(i) / rate + phase);
  return out;
}

std::vector<int16_t> toInt16(const std::vector<double>& signal) {
  std::vector<int16_t> out(signal.size());
  for (size_t i = 0; i < signal.size(); ++i) {
    const double r = std::nearbyint(signal[i]);
    out[i] = int16_t(r > 32767.0 ? 32767.0 : r < -32768.0 ? -32768.0 : r);
  }
  return out;
}

std::vector<int16_t> interleave(const std::vector<std::vector<int16_t>>& channels) {
  if (channels.empty()) return {};
  const size_t frames = channels[0].size();
  std::vector<int16_t> out(frames * channels.size());
  for (size_t f = 0; f < frames; ++f)
    for (size_t c = 0; c < channels.size(); ++c) out[f * channels.size() + c] = channels[c][f];
  return out;
}

std::vector<int16_t> channelOf(const std::vector<int16_t>& interleaved, size_t stride,
                               size_t offset) {
  std::vector<int16_t> out;
  for (size_t i = offset; i < interleaved.size(); i += stride) out.push_back(interleaved[i]);
  return out;
}

ToneFit fitTone(const int16_t* samples, size_t count, size_t stride, double freq, double rate) {
  // Normal equations of y = a sin + b cos + c, solved by Cramer's rule.
  double ss = 0, sc = 0, s1 = 0, cc = 0, c1 = 0, n = 0, ys = 0, yc = 0, y1 = 0;
  for (size_t i = 0; i < count; ++i) {
    const double w = 2.0 * std::numbers::pi * freq * double(i) / rate;
    const double s = std::sin(w), c = std::cos(w), y = samples[i * stride];
    ss += s * s, sc += s * c, s1 += s, cc += c * c, c1 += c, n += 1;
    ys += y * s, yc += y * c, y1 += y;
  }
  auto det3 = [](double a, double b, double c, double d, double e, double f, double g, double h,
                 double k) { return a * (e * k - f * h) - b * (d * k - f * g) + c * (d * h - e * g); };
  const double d = det3(ss, sc, s1, sc, cc, c1, s1, c1, n);
  ToneFit fit;
  if (count == 0 || d == 0) return fit;
  const double a = det3(ys, sc, s1, yc, cc, c1, y1, c1, n) / d;
  const double b = det3(ss, ys, s1, sc, yc, c1, s1, y1, n) / d;
  const double c = det3(ss, sc, ys, sc, cc, yc, s1, c1, y1) / d;
  double residual = 0;
  for (size_t i = 0; i < count; ++i) {
    const double w = 2.0 * std::numbers::pi * freq * double(i) / rate;
    const double e = samples[i * stride] - (a * std::sin(w) + b * std::cos(w) + c);
    residual += e * e;
  }
  fit.amplitude = std::hypot(a, b);
  fit.dc = c;
  fit.residualRms = std::sqrt(residual / double(count));
  return fit;
}

// ---- files --------------------------------------------------------------

bool writeWav(const std::string& path, const WavFormat& format, const std::vector<uint8_t>& data) {
  return writeBytes(path, cli::wavBytes(format, data));
}

bool writeWav16(const std::string& path, int rate, int channels,
                const std::vector<int16_t>& samples) {
  std::vector<uint8_t> data;
  data.reserve(samples.size() * 2);
  for (int16_t s : samples) cli::appendLittle16(data, uint16_t(s));
  return writeWav(path, WavFormat{rate, channels, 16, false, 0}, data);
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(f.flush());
}

std::vector<uint8_t> readBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// ---- tools --------------------------------------------------------------

namespace {

#ifndef _WIN32
std::string quoted(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}
#endif

bool run(const std::string& tool, const std::vector<std::string>& args) {
#ifdef _WIN32
  (void)tool;
  (void)args;
  return false;
#else
  std::string command = tool;
  for (const std::string& a : args) command += " " + quoted(a);
  command += " </dev/null >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
#endif
}

}  // namespace

bool runFfmpeg(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"-nostdin", "-y", "-loglevel", "error"};
  all.insert(all.end(), args.begin(), args.end());
  return run("ffmpeg", all);
}

bool runSox(const std::vector<std::string>& args) { return run("sox", args); }

bool haveFfmpeg() { return run("ffmpeg", {"-version"}); }
bool haveSox() { return run("sox", {"--version"}); }

}  // namespace hx::test
