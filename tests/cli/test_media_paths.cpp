// How the command reaches a media file: any file name works in every
// subcommand, the length it shows and draws is the decoded one, and a file
// that stalls the demuxer fails within the module's deadline.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/media_files.h"
#include "media/media_probe.h"
#include "run_command.h"

namespace hx::test {
namespace {

using nlohmann::json;

constexpr int kRate = 44100;

std::vector<int16_t> tone(size_t frames) { return toInt16(sine(frames, 441.0, kRate, 12000.0)); }

json jsonOf(const std::string& text) { return json::parse(text, nullptr, false); }

// Frames ffmpeg decodes of the first audio track at rate.
int64_t ffmpegFrames(const TempDir& dir, const std::string& path, int rate) {
  const std::string raw = dir.file("decoded.raw");
  EXPECT_TRUE(runFfmpeg({"-i", path, "-map", "0:a:0", "-f", "s16le", "-ac", "1", "-ar",
                         std::to_string(rate), raw}));
  return int64_t(readBytes(raw).size() / 2);
}

// Relative names, run in their folder: a bare libavformat open took
// "take:1.wav" for a protocol. A leading dash needs "--" before it.
TEST(MediaPaths, AnyFileNameWorksInEverySubcommand) {
  const TempDir dir;
  for (const std::string name : {"take:1.wav", "-take.wav", "two words.wav", "prise é.wav"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(writeWav16(dir.file(name), kRate, 1, tone(4410)));
    const std::vector<std::vector<std::string>> commands = {
        {"rate"},
        {"fft", "--bins", "8"},
        {"samples", "--start", "0", "--count", "4"},
        {"amplitude", "--start", "0", "--count", "4410"},
        {"info"},
        {"spectrogram", "-o", "s.png", "--width", "20", "--height", "16", "--bins", "16"},
        {"waveform", "--json", "w.json", "--samples-per-pixel", "441"},
    };
    for (std::vector<std::string> args : commands) {
      args.insert(args.end(), {"--", name});
      SCOPED_TRACE(testing::PrintToString(args));
      const CommandResult r = runHarmidex(args, "", dir.path());
      EXPECT_EQ(r.status, 0) << describe(r);
    }
    const CommandResult call =
        runHarmidex({"call"}, "openQuicktimeFile(\"" + name + "\")\ngetSampleRate(1)\n", dir.path());
    EXPECT_EQ(call.status, 0) << describe(call);
    EXPECT_EQ(call.lines(), (std::vector<std::string>{"1", "44100"}));
  }
}

// The container states 1782 frames too many for an MP3, and the full
// length for a truncated one: info and the waveform use the decoded count.
TEST(MediaPaths, InfoAndWaveformUseTheDecodedLength) {
  const TempDir dir;
  const std::string wav = dir.file("t.wav");
  ASSERT_TRUE(writeWav16(wav, kRate, 1, tone(kRate)));
  const std::string mp3 = dir.file("t.mp3");
  ASSERT_TRUE(runFfmpeg({"-i", wav, "-c:a", "libmp3lame", "-b:a", "128k", mp3}));
  const std::string m4a = dir.file("t.m4a");
  ASSERT_TRUE(runFfmpeg({"-i", wav, "-c:a", "aac", m4a}));
  const std::string cut = dir.file("cut.mp3");
  std::vector<uint8_t> bytes = readBytes(mp3);
  bytes.resize(bytes.size() / 2);
  ASSERT_TRUE(writeBytes(cut, bytes));
  for (const std::string& path : {mp3, m4a, cut}) {
    SCOPED_TRACE(path);
    const int64_t decoded = ffmpegFrames(dir, path, kRate);
    const CommandResult info = runHarmidex({"info", path, "--json"});
    ASSERT_EQ(info.status, 0) << describe(info);
    const json doc = jsonOf(info.out);
    EXPECT_EQ(doc["frames"], decoded);
    EXPECT_DOUBLE_EQ(doc["duration_s"].get<double>(), double(decoded) / kRate);
    ASSERT_TRUE(doc["stated_duration_s"].is_number());

    constexpr int kPerPoint = 441;
    const CommandResult w = runHarmidex({"waveform", path, "--json", dir.file("w.json"),
                                         "--samples-per-pixel", std::to_string(kPerPoint)});
    ASSERT_EQ(w.status, 0) << describe(w);
    const std::vector<uint8_t> text = readBytes(dir.file("w.json"));
    const json env = json::parse(text.begin(), text.end(), nullptr, false);
    EXPECT_EQ(env["length"], (decoded + kPerPoint - 1) / kPerPoint);
    // The last whole point of the tone that is there is drawn.
    const size_t last = size_t(std::min<int64_t>(decoded, kRate) / kPerPoint) - 1;
    EXPECT_GT(env["data"][2 * last + 1].get<int>(), 6000) << "point " << last;
  }
  const json cutInfo = jsonOf(runHarmidex({"info", cut, "--json"}).out);
  EXPECT_GT(cutInfo["stated_duration_s"].get<double>(), 1.5 * cutInfo["duration_s"].get<double>())
      << "the container still states the whole length";
}

// A sparse 6 GiB WAV claiming 0xFFFFFFF0 bytes of data keeps a demuxer
// busy for minutes; info gives up with the module when its open does.
TEST(MediaPaths, StallingFileFailsInfoWithinTheModulesDeadline) {
  const TempDir dir;
  const std::string path = dir.file("sparse.wav");
  ASSERT_TRUE(writeWav16(path, kRate, 1, tone(16)));
  std::vector<uint8_t> head = readBytes(path);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) head[at + size_t(i)] = uint8_t(v >> (8 * i));
  };
  put32(4, 0xFFFFFFF8);
  put32(40, 0xFFFFFFF0);  // the data chunk's size, after a 16-byte fmt chunk
  ASSERT_TRUE(writeBytes(path, head));
  ASSERT_EQ(truncate(path.c_str(), off_t(6) << 30), 0);
  const auto start = std::chrono::steady_clock::now();
  const CommandResult r = runHarmidex({"info", path});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.status, 1) << describe(r);
  EXPECT_NE(r.err.find("code -2410"), std::string::npos) << r.err;
  EXPECT_LT(took, std::chrono::milliseconds(media::kOpenBudgetMs + 5000));
}

}  // namespace
}  // namespace hx::test
