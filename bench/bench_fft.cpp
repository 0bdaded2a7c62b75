// Cost of the spectrum engine: the bare transform, a whole spectrum at the
// sizes getFFT asks for, and the logarithm that maps each bin.
#include "analysis/fft_engine.h"
#include "analysis/log10.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>
#include "bench/bench_support.h"

namespace {

using hx::bench::noise;

// Arg: N complex points.
void BM_ComplexFFT(benchmark::State& state) {
  const auto n = static_cast<uint16_t>(state.range(0));
  const std::vector<float> input = noise(2 * static_cast<size_t>(n));
  std::vector<float> data = input;
  for (auto _ : state) {
    state.PauseTiming();
    data = input;
    state.ResumeTiming();
    hx::complexFFT(data.data(), n);
    benchmark::DoNotOptimize(data.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ComplexFFT)->RangeMultiplier(4)->Range(64, 16384);

// Args: m bins, timesmooth.
void BM_LogPowerSpectrum(benchmark::State& state) {
  const auto m = static_cast<int32_t>(state.range(0));
  const auto count = static_cast<int32_t>(2 * m * state.range(1));
  const std::vector<float> samples = noise(count);
  std::vector<float> out(m);
  std::vector<float> work(5 * static_cast<size_t>(m));
  for (auto _ : state) {
    hx::logPowerSpectrum(1.0f, 3.0f, samples.data(), out.data(), count, m, work.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * count);
}
// count = 2m (one segment) and 16m (four pairs), plus 4m (one pair).
BENCHMARK(BM_LogPowerSpectrum)->ArgsProduct({{256, 1024, 8192}, {1, 2, 8}});

// The per-bin logarithm on its own, the same inputs as a spectrum's map.
void BM_PortableLog10(benchmark::State& state) {
  std::vector<double> v(4096);
  for (size_t i = 0; i < v.size(); ++i) v[i] = 1.0 + static_cast<double>(i * i) * 37.5;
  for (auto _ : state) {
    double sum = 0;
    for (double x : v) sum += hx::portableLog10(x);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(v.size()));
}
BENCHMARK(BM_PortableLog10);

}  // namespace

BENCHMARK_MAIN();
