// Opening a long file: the reader's open (decode of the whole track into
// memory) serially, on one decoding thread and on two, beside our own serial
// FFmpeg decode loop, a plain read of the file into a fresh buffer (the floor
// for PCM) and ffmpeg's own decode to /dev/null, with the peak memory of each,
// and the command's frame count beside the open.
//
// The files (10 minutes of 44.1 kHz stereo, as WAV, MP3, M4A and FLAC) are
// made on the first run. Set HX_BENCH_OPEN_DIR to keep them between runs; otherwise they
// live in a temporary folder removed at exit. bench/open_vs_ffmpeg.sh prints
// the results side by side.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/qt_file.h"
#include "media/fast_decode.h"
#include "media/ffmpeg_backend.h"
#include "media/media_probe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include "bench/bench_support.h"
}

extern char** environ;

namespace {
namespace fs = std::filesystem;

constexpr int kRate = 44100;
constexpr int kSeconds = 600;
constexpr double kPcmBytes = double(kRate) * kSeconds * 4;

// ---- the files ------------------------------------------------------------

struct BenchFiles {
  fs::path dir;
  bool temporary = false;
  fs::path wav, mp3, m4a, flac;

  BenchFiles() {
    if (const char* keep = std::getenv("HX_BENCH_OPEN_DIR")) {
      dir = keep;
    } else {
      dir = fs::temp_directory_path() / ("hx-bench-open-" + std::to_string(getpid()));
      temporary = true;
    }
    fs::create_directories(dir);
    wav = dir / "tone-10min.wav";
    mp3 = dir / "tone-10min.mp3";
    m4a = dir / "tone-10min.m4a";
    flac = dir / "tone-10min.flac";
  }
  ~BenchFiles() {
    std::error_code ec;
    if (temporary) fs::remove_all(dir, ec);
  }
};

void put16(std::ofstream& f, uint16_t v) {
  const char b[2] = {char(v), char(v >> 8)};
  f.write(b, 2);
}
void put32(std::ofstream& f, uint32_t v) {
  put16(f, uint16_t(v));
  put16(f, uint16_t(v >> 16));
}

// A chord with a slow sweep and some noise, so that the MP3 encoder has
// real work and the decoder real frames.
bool writeSignal(const fs::path& path) {
  const uint32_t frames = uint32_t(kRate) * kSeconds;
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write("RIFF", 4);
  put32(f, 36 + frames * 4);
  f.write("WAVEfmt ", 8);
  put32(f, 16);
  put16(f, 1);
  put16(f, 2);
  put32(f, kRate);
  put32(f, kRate * 4);
  put16(f, 4);
  put16(f, 16);
  f.write("data", 4);
  put32(f, frames * 4);
  std::mt19937 rng(1);
  std::normal_distribution<double> noise(0.0, 300.0);
  std::vector<int16_t> block;
  const double w = 2.0 * std::numbers::pi / kRate;
  for (uint32_t i = 0; i < frames; ++i) {
    const double t = double(i);
    const double sweep = 200.0 + 1800.0 * (0.5 + 0.5 * std::sin(w * t / 3000.0));
    const double left = 6000 * std::sin(w * 220 * t) + 4000 * std::sin(w * sweep * t) + noise(rng);
    const double right = 6000 * std::sin(w * 330 * t) + 4000 * std::sin(w * sweep * 1.5 * t) + noise(rng);
    block.push_back(int16_t(std::lrint(left)));
    block.push_back(int16_t(std::lrint(right)));
    if (block.size() >= 1 << 16 || i + 1 == frames) {
      f.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size() * 2));
      block.clear();
    }
  }
  return bool(f.flush());
}

// Runs a program and waits for it: exit status and its peak memory (bytes).
struct ChildRun {
  int status = -1;
  double seconds = 0;
  double peakBytes = 0;
};

ChildRun runChild(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  ChildRun run;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) == pid) {
      run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      run.peakBytes = double(usage.ru_maxrss) * 1024.0;
    }
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  return run;
}

const BenchFiles& files() {
  static BenchFiles f;
  static const bool made = [] {
    bool ok = true;
    if (!fs::exists(f.wav)) ok = writeSignal(f.wav);
    const std::pair<const fs::path*, std::vector<std::string>> encodings[] = {
        {&f.mp3, {"-c:a", "libmp3lame", "-b:a", "192k"}},
        {&f.m4a, {"-c:a", "aac", "-b:a", "192k"}},
        {&f.flac, {"-c:a", "flac"}},
    };
    for (const auto& [path, codec] : encodings) {
      if (!ok || fs::exists(*path)) continue;
      std::vector<std::string> args = {"ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-i", f.wav.string()};
      args.insert(args.end(), codec.begin(), codec.end());
      args.push_back(path->string());
      ok = runChild(args).status == 0;
    }
    return ok;
  }();
  if (!made) std::fprintf(stderr, "bench_open: could not make the files in %s\n", f.dir.c_str());
  return f;
}

// ---- peak memory of one open ---------------------------------------------

using hx::bench::statusKb;

// Growth of the resident set at its highest during one open, over what was
// resident before it. The kernel's high-water mark is reset first.
double openPeakBytes(const std::string& path) {
  {
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5";
    if (!reset.flush()) return -1;
  }
  const long before = statusKb("VmRSS:");
  hx::zrQTfile reader(hx::media::ffmpegMediaOps());
  if (reader.open(path.c_str()) != 0) return -1;
  const long peak = statusKb("VmHWM:");
  return double(peak - before) * 1024.0;
}

// ---- benchmarks -----------------------------------------------------------

const std::string& pathOf(int which) {
  static const std::string paths[] = {files().wav.string(), files().mp3.string(), files().m4a.string(),
                                      files().flac.string()};
  return paths[which];
}

// How the open decodes: serially, or on this many threads.
constexpr int kSerial = 0;
hx::media::DecodeTuning tuningFor(int threads) {
  hx::media::DecodeTuning t;
  t.serial = threads == kSerial;
  t.threads = threads;
  return t;
}

// User and system time of every thread of the process so far.
double processCpuSeconds() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_ReaderOpen(benchmark::State& state, int which) {
  const std::string& path = pathOf(which);
  hx::media::setDecodeTuning(tuningFor(int(state.range(0))));
  const double cpuBefore = processCpuSeconds();
  for (auto _ : state) {
    hx::zrQTfile reader(hx::media::ffmpegMediaOps());
    if (reader.open(path.c_str()) != 0) {
      state.SkipWithError("open failed");
      return;
    }
    benchmark::DoNotOptimize(reader.getSampleRate());
  }
  // All threads' time: on a machine shared with other work the wall time
  // says little of what the threads could do on free cores.
  state.counters["cpu_ms"] = (processCpuSeconds() - cpuBefore) * 1e3 / double(state.iterations());
  state.counters["peak_MB"] = openPeakBytes(path) / 1e6;
  state.counters["pcm_MB"] = kPcmBytes / 1e6;
  hx::media::setDecodeTuning({});
}

// The file read whole with pread into a buffer mapped and prefaulted for it,
// as the open maps its sound buffer: no open can put PCM in memory faster.
bool plainRead(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && st.st_size > 0;
  const size_t size = ok ? size_t(st.st_size) : 0;
  void* buffer = ok ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0)
                    : MAP_FAILED;
  ok = buffer != MAP_FAILED;
  for (size_t done = 0; ok && done < size;) {
    const ssize_t got = pread(fd, static_cast<char*>(buffer) + done, size - done, off_t(done));
    ok = got > 0;
    done += ok ? size_t(got) : 0;
  }
  if (buffer != MAP_FAILED) {
    benchmark::DoNotOptimize(buffer);
    munmap(buffer, size);
  }
  ::close(fd);
  return ok;
}

void BM_PlainRead(benchmark::State& state, int which) {
  const std::string& path = pathOf(which);
  for (auto _ : state) {
    if (!plainRead(path)) {
      state.SkipWithError("read failed");
      return;
    }
  }
}

// The command's exact count alone, and beside the open on a second
// thread as the command runs it: what counting adds to the open's wall time.
void BM_CountFrames(benchmark::State& state, int which) {
  const std::string& path = pathOf(which);
  for (auto _ : state) {
    int64_t frames = 0;
    std::string why;
    if (!hx::media::countDecodedFrames(path, kRate, &frames, &why)) {
      state.SkipWithError(why.c_str());
      return;
    }
    benchmark::DoNotOptimize(frames);
  }
}

void BM_ReaderOpenWithCountBeside(benchmark::State& state, int which) {
  const std::string& path = pathOf(which);
  for (auto _ : state) {
    int64_t frames = 0;
    bool counted = false;
    std::thread count([&] {
      std::string why;
      counted = hx::media::countDecodedFrames(path, kRate, &frames, &why);
    });
    hx::zrQTfile reader(hx::media::ffmpegMediaOps());
    const int32_t opened = reader.open(path.c_str());
    count.join();
    if (opened != 0 || !counted) {
      state.SkipWithError("open or count failed");
      return;
    }
    benchmark::DoNotOptimize(frames);
  }
}

void BM_FfmpegDecode(benchmark::State& state, int which) {
  const std::string& path = pathOf(which);
  double peak = 0;
  for (auto _ : state) {
    const ChildRun run = runChild({"ffmpeg", "-nostdin", "-loglevel", "error", "-i", path, "-f",
                                   "s16le", "-y", "/dev/null"});
    if (run.status != 0) {
      state.SkipWithError("ffmpeg failed");
      return;
    }
    state.SetIterationTime(run.seconds);
    peak = std::max(peak, run.peakBytes);
  }
  state.counters["peak_MB"] = peak / 1e6;
  state.counters["pcm_MB"] = kPcmBytes / 1e6;
}

// Our own FFmpeg decode loop, the least an open has to do: demux, decode
// and convert to interleaved 16-bit, kept as one in-memory copy of the PCM
// (sized from the stream's duration up front).
bool decodeLoop(const std::string& path) {
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return false;
  bool ok = avformat_find_stream_info(format, nullptr) >= 0;
  const int index = ok ? av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) : -1;
  ok = index >= 0;
  const AVCodec* codec = ok ? avcodec_find_decoder(format->streams[index]->codecpar->codec_id) : nullptr;
  AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
  ok = ctx && avcodec_parameters_to_context(ctx, format->streams[index]->codecpar) >= 0 &&
       avcodec_open2(ctx, codec, nullptr) >= 0;
  SwrContext* swr = nullptr;
  if (ok) {
    ok = swr_alloc_set_opts2(&swr, &ctx->ch_layout, AV_SAMPLE_FMT_S16, ctx->sample_rate,
                             &ctx->ch_layout, ctx->sample_fmt, ctx->sample_rate, 0, nullptr) >= 0 &&
         swr_init(swr) >= 0;
  }
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  std::unique_ptr<uint8_t[]> pcm;
  size_t size = 0, used = 0;
  if (ok) {
    const AVStream* s = format->streams[index];
    const double seconds = s->duration > 0 ? double(s->duration) * av_q2d(s->time_base)
                                           : double(format->duration) / AV_TIME_BASE;
    size = size_t(seconds * ctx->sample_rate + ctx->sample_rate) * size_t(ctx->ch_layout.nb_channels) * 2;
    pcm.reset(new uint8_t[size]);
  }
  auto drain = [&] {
    while (avcodec_receive_frame(ctx, frame) >= 0) {
      const size_t need = size_t(frame->nb_samples) * size_t(ctx->ch_layout.nb_channels) * 2;
      if (used + need <= size) {
        uint8_t* out = pcm.get() + used;
        swr_convert(swr, &out, frame->nb_samples, const_cast<const uint8_t**>(frame->extended_data),
                    frame->nb_samples);
        used += need;
      }
      av_frame_unref(frame);
    }
  };
  while (ok && av_read_frame(format, packet) >= 0) {
    if (packet->stream_index == index && avcodec_send_packet(ctx, packet) >= 0) drain();
    av_packet_unref(packet);
  }
  if (ok && avcodec_send_packet(ctx, nullptr) >= 0) drain();
  benchmark::DoNotOptimize(pcm.get());
  av_frame_free(&frame);
  av_packet_free(&packet);
  swr_free(&swr);
  avcodec_free_context(&ctx);
  avformat_close_input(&format);
  return ok;
}

void BM_DecodeLoop(benchmark::State& state, int which) {
  const std::string& path = pathOf(which);
  for (auto _ : state) {
    if (!decodeLoop(path)) {
      state.SkipWithError("decode failed");
      return;
    }
  }
}

constexpr int kWav = 0;
constexpr int kMp3 = 1;
constexpr int kM4a = 2;
constexpr int kFlac = 3;

// Argument: kSerial, or the number of decoding threads.
#define HX_OPEN_BENCH(kind, which)                                                          \
  BENCHMARK_CAPTURE(BM_ReaderOpen, kind, which)                                               \
      ->Arg(kSerial)                                                                          \
      ->Arg(1)                                                                                \
      ->Arg(2)                                                                                \
      ->Iterations(3)                                                                         \
      ->Unit(benchmark::kMillisecond)                                                         \
      ->UseRealTime();                                                                        \
  BENCHMARK_CAPTURE(BM_DecodeLoop, kind, which)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime(); \
  BENCHMARK_CAPTURE(BM_PlainRead, kind, which)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime(); \
  BENCHMARK_CAPTURE(BM_FfmpegDecode, kind, which)->Iterations(3)->Unit(benchmark::kMillisecond)->UseManualTime()

HX_OPEN_BENCH(wav, kWav);
HX_OPEN_BENCH(mp3, kMp3);
HX_OPEN_BENCH(m4a, kM4a);
HX_OPEN_BENCH(flac, kFlac);
BENCHMARK_CAPTURE(BM_ReaderOpenWithCountBeside, mp3, kMp3)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_CountFrames, mp3, kMp3)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
