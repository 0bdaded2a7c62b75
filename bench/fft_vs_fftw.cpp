// The product's complexFFT beside fftwf's complex in-place transform
// (FFTW_MEASURE, planning not timed), timed by the same loop: each
// transform starts from a fresh copy of the same input, copy included on
// both sides. Batches of the two alternate after a common warm-up, so that
// a clock still ramping up (or a neighbour's load) falls on both alike.
// Prints "N ours_us fftwf_us" lines, each a median over batches.
#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "analysis/fft_engine.h"
#include "bench/bench_support.h"

namespace {

using hx::bench::noise;

constexpr int kBatches = 31;

// Microseconds of one copy + transform, per batch.
template <class Fn>
double batchMicros(Fn&& transform, int perBatch) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < perBatch; ++i) transform();
  const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
  return took.count() / perBatch;
}

double median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// Medians of a's and b's batches, taken in turn after about 0.2 s of both.
template <class A, class B>
std::pair<double, double> sideBySide(A&& a, B&& b, int perBatch) {
  const auto warmEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  while (std::chrono::steady_clock::now() < warmEnd) {
    batchMicros(a, perBatch);
    batchMicros(b, perBatch);
  }
  std::vector<double> ta, tb;
  for (int i = 0; i < kBatches; ++i) {
    ta.push_back(batchMicros(a, perBatch));
    tb.push_back(batchMicros(b, perBatch));
  }
  return {median(ta), median(tb)};
}

}  // namespace

int main() {
  for (int n : {512, 2048, 16384}) {
    const std::vector<float> input = noise(2 * static_cast<size_t>(n));
    const size_t bytes = input.size() * sizeof(float);
    const int perBatch = std::max(20, 2000000 / (n * 14));

    std::vector<float> ours(input.size());
    auto* data = static_cast<fftwf_complex*>(fftwf_malloc(bytes));
    fftwf_plan plan = fftwf_plan_dft_1d(n, data, data, FFTW_BACKWARD, FFTW_MEASURE);
    const auto [oursUs, fftwUs] = sideBySide(
        [&] {
          std::memcpy(ours.data(), input.data(), bytes);
          hx::complexFFT(ours.data(), static_cast<uint16_t>(n));
        },
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
