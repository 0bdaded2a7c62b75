// The product's complexFFT beside fftwf's complex in-place transform
// (FFTW_MEASURE, planning not timed), timed by the same loop: each
// transform starts from a fresh copy of the same input, copy included on
// both sides. Prints "N ours_us fftwf_us" lines, each a median over batches.
#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "analysis/fft_engine.h"
#include "bench/bench_support.h"

namespace {

using hx::bench::noise;

// Median microseconds of one copy + transform.
template <class Fn>
double medianMicros(Fn&& transform, int perBatch) {
  std::vector<double> batches;
  for (int b = 0; b < 31; ++b) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < perBatch; ++i) transform();
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    batches.push_back(took.count() / perBatch);
  }
  std::nth_element(batches.begin(), batches.begin() + 15, batches.end());
  return batches[15];
}

}  // namespace

int main() {
  for (int n : {512, 2048, 16384}) {
    const std::vector<float> input = noise(2 * static_cast<size_t>(n));
    const size_t bytes = input.size() * sizeof(float);
    const int perBatch = std::max(20, 2000000 / (n * 14));

    std::vector<float> ours(input.size());
    const double oursUs = medianMicros(
        [&] {
          std::memcpy(ours.data(), input.data(), bytes);
          hx::complexFFT(ours.data(), static_cast<uint16_t>(n));
        },
        perBatch);

    auto* data = static_cast<fftwf_complex*>(fftwf_malloc(bytes));
    fftwf_plan plan = fftwf_plan_dft_1d(n, data, data, FFTW_BACKWARD, FFTW_MEASURE);
    const double fftwUs = medianMicros(
        [&] {
          std::memcpy(data, input.data(), bytes);
          fftwf_execute(plan);
        },
        perBatch);
    fftwf_destroy_plan(plan);
    fftwf_free(data);
    std::printf("%d %.4f %.4f\n", n, oursUs, fftwUs);
  }
  return 0;
}
