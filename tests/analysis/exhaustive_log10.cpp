// Once-off proof, not part of the test run: portableLog10 against MPFR's
// correctly rounded log10 over every float from 1 upwards (the domain of the
// spectrum's logarithmic map, 10^decades P + 1), through the public function
// and through every instruction-set path of the engine; then the log map's
// last step, float(log10(v) g8), at a few gains, on every path.
// Prints how many floats were checked, how many differ from the correctly
// rounded double and by how much (ulps, and how close the exact value lies
// to the rounding boundary there); exits 1 if any path differs from the
// public function or any result is more than one ulp off.
// Usage: exhaustive_log10 [THREADS]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "analysis/fft_engine.h"
#include "analysis/fft_kernels.h"
#include "analysis/mpfr_log10.h"

namespace {

constexpr uint32_t kFirst = 0x3f800000u;  // 1.0f
constexpr uint32_t kLast = 0x7f800000u;   // +inf
constexpr uint32_t kChunk = 1u << 16;
constexpr float kGains[] = {0.125f, -0.375f, 1.0f + 0x1p-23f};

uint64_t bitsOf(double d) {
  uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  return u;
}

struct Tally {
  uint64_t checked = 0;
  uint64_t offByOne = 0;   // one ulp from the correctly rounded double
  uint64_t offByMore = 0;  // further: a fault
  uint64_t pathFaults = 0; // a path or the map disagreeing with the public function
  double farthest = 0.0;   // the largest distance, in ulps, of an exact value
                           // from the boundary where the result was wrong
  std::vector<float> shown;
};

void checkChunk(uint32_t first, uint32_t n, hx::test::MpfrLog10& oracle, Tally& t) {
  std::vector<float> v(n), mapped(n);
  std::vector<double> pub(n), path(n);
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t bits = first + i;
    std::memcpy(&v[i], &bits, sizeof bits);
    pub[i] = hx::portableLog10(v[i]);
    const double want = oracle.rounded(v[i]);
    if (bitsOf(pub[i]) == bitsOf(want)) continue;
    const uint64_t apart = bitsOf(pub[i]) > bitsOf(want) ? bitsOf(pub[i]) - bitsOf(want)
                                                         : bitsOf(want) - bitsOf(pub[i]);
    if (apart > 1) {
      ++t.offByMore;
    } else {
      ++t.offByOne;
      t.farthest = std::max(t.farthest, oracle.ulpsFromMidpoint(v[i], want, pub[i]));
    }
    if (t.shown.size() < 20) t.shown.push_back(v[i]);
  }
  for (hx::fft::Isa isa : hx::fft::kAllIsas) {
    if (!hx::fft::isaSupported(isa)) continue;
    const hx::fft::Kernels& k = hx::fft::kernelsFor(isa);
    k.log10Many(path.data(), v.data(), static_cast<int32_t>(n));
    for (uint32_t i = 0; i < n; ++i) t.pathFaults += bitsOf(path[i]) != bitsOf(pub[i]);
    for (float g8 : kGains) {
      k.log10Map(mapped.data(), v.data(), static_cast<int32_t>(n), g8);
      for (uint32_t i = 0; i < n; ++i) {
        const float want = static_cast<float>(pub[i] * g8);
        t.pathFaults += std::memcmp(&mapped[i], &want, sizeof want) != 0;
      }
    }
  }
  t.checked += n;
}

void merge(Tally& all, const Tally& t) {
  all.checked += t.checked;
  all.offByOne += t.offByOne;
  all.offByMore += t.offByMore;
  all.pathFaults += t.pathFaults;
  all.farthest = std::max(all.farthest, t.farthest);
  for (float f : t.shown)
    if (all.shown.size() < 20) all.shown.push_back(f);
}

void report(std::FILE* f, const Tally& all) {
  std::fprintf(f, "differ from MPFR's correctly rounded log10: %llu by one ulp, %llu by more\n",
               static_cast<unsigned long long>(all.offByOne),
               static_cast<unsigned long long>(all.offByMore));
  if (all.offByOne > 0)
    std::fprintf(f, "where one differs, the exact value lies within %.3g ulp of the rounding boundary\n",
                 all.farthest);
  std::fprintf(f, "instruction-set paths and log map disagreeing with portableLog10: %llu\n",
               static_cast<unsigned long long>(all.pathFaults));
}

}  // namespace

// Progress and the figures so far go to standard error as the floats below
// a bound are all done, so that a long run can be read before it ends.
int main(int argc, char** argv) {
  const unsigned threads =
      argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : std::max(1u, std::thread::hardware_concurrency());
  const uint64_t total = uint64_t{kLast} - kFirst + 1;
  const uint64_t chunks = (total + kChunk - 1) / kChunk;
  std::atomic<uint64_t> next{0};
  std::mutex lock;
  Tally all;
  std::vector<bool> done(chunks, false);
  uint64_t prefix = 0, reported = 0;  // chunks all done from the first
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  auto work = [&] {
    hx::test::MpfrLog10 oracle;  // one per thread
    for (uint64_t c = next++; c < chunks; c = next++) {
      const uint64_t first = kFirst + c * kChunk;
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kChunk, kLast - first + 1));
      Tally t;
      checkChunk(static_cast<uint32_t>(first), n, oracle, t);
      const std::lock_guard<std::mutex> hold(lock);
      merge(all, t);
      done[c] = true;
      while (prefix < chunks && done[prefix]) ++prefix;
      if (prefix >= reported + 128 || prefix == chunks) {
        reported = prefix;
        uint32_t below = static_cast<uint32_t>(std::min<uint64_t>(kFirst + prefix * kChunk, kLast));
        float bound;
        std::memcpy(&bound, &below, sizeof bound);
        std::fprintf(stderr, "%.1f%% after %.0f s: every float from 1 to %a (%.6g) checked\n",
                     100.0 * double(prefix) / double(chunks), elapsed(), bound, bound);
        report(stderr, all);
      }
    }
  };
  std::vector<std::thread> pool;
  for (unsigned i = 0; i < threads; ++i) pool.emplace_back(work);
  for (std::thread& th : pool) th.join();

  std::sort(all.shown.begin(), all.shown.end());
  for (float f : all.shown) {
    hx::test::MpfrLog10 o;
    std::printf("  %a (%.9g): portableLog10 %a, correctly rounded %a\n", f, f, hx::portableLog10(f),
                o.rounded(f));
  }
  std::printf("floats checked: %llu (1.0f to +inf, %u threads, %.0f s)\n",
              static_cast<unsigned long long>(all.checked), threads, elapsed());
  report(stdout, all);
  return all.offByMore == 0 && all.pathFaults == 0 ? 0 : 1;
}
