#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "audio/sample_format.h"

namespace {

using hx::SoundFormat;

// One read's worth of frames, the layout pair chosen per benchmark.
void convert(benchmark::State& state, SoundFormat from, SoundFormat to, size_t offset) {
  const uint32_t frames = static_cast<uint32_t>(state.range(0));
  std::vector<unsigned char> source(frames * hx::frameBytes(from) + offset, 0x5A);
  std::vector<unsigned char> destination(frames * hx::frameBytes(to) + offset);
  for (auto _ : state) {
    hx::convertFrames(source.data() + offset, frames, from, destination.data() + offset, to);
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * frames);
}

void toFloat(benchmark::State& state, SoundFormat format) {
  const uint32_t frames = static_cast<uint32_t>(state.range(0));
  std::vector<unsigned char> source(frames * hx::frameBytes(format), 0x5A);
  std::vector<float> destination(frames);
  for (auto _ : state) {
    hx::framesToFloat(source.data(), destination.data(), format, frames, 128.0f);
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * frames);
}

BENCHMARK_CAPTURE(convert, Mono16Copy, hx::kFormatMono16, hx::kFormatMono16, 0)->Arg(1 << 16);
BENCHMARK_CAPTURE(convert, Stereo16ToMono16, hx::kFormatStereo16, hx::kFormatMono16, 0)
    ->Arg(1 << 16);
BENCHMARK_CAPTURE(convert, Stereo16ToMono16Odd, hx::kFormatStereo16, hx::kFormatMono16, 1)
    ->Arg(1 << 16);
BENCHMARK_CAPTURE(convert, Mono8ToMono16, hx::kFormatMono8, hx::kFormatMono16, 0)->Arg(1 << 16);
BENCHMARK_CAPTURE(toFloat, Mono16, hx::kFormatMono16)->Arg(1 << 16);
BENCHMARK_CAPTURE(toFloat, Stereo16, hx::kFormatStereo16)->Arg(1 << 16);

}  // namespace

BENCHMARK_MAIN();
