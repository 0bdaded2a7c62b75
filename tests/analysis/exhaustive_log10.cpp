// Once-off proof, not part of the test run: portableLog10 against MPFR's
// correctly rounded log10 over every float from 1 upwards (the domain of the
// spectrum's logarithmic map, 10^decades P + 1), through the public function
// and through every instruction-set path of the engine; then the log map's
// last step, float(log10(v) g8), at a few gains, on every path.
// Prints how many floats were checked, how many differ from the correctly
// rounded double and by how much (ulps, and how close the exact value lies
// to the rounding boundary there); exits 1 if any path differs from the
// public function or any result is more than one ulp off.
// Usage: exhaustive_log10 [THREADS [BLOCKS]] (BLOCKS < 128: a trial run)
//
// The correctly rounded value of log10(2^e f), f in [1, 2), comes from
// MPFR without a full logarithm per float: log10 f and e log10 2 to 140
// bits, their sum rounded to 140 bits (error below 2^-139 of it, both terms
// being >= 0), rounded to a double where mpfr_can_round says the error
// cannot change the rounding; elsewhere, and as a check on one float in
// 64, MPFR's log10 of the float itself at 53 bits.
#include <mpfr.h>

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
#include "analysis/log10.h"
#include "analysis/fft_kernels.h"
#include "analysis/mpfr_log10.h"

namespace {

constexpr uint32_t kOneBits = 0x3f800000u;  // 1.0f
constexpr uint32_t kInfBits = 0x7f800000u;
constexpr int kExponents = 128;             // 2^0 .. 2^127
constexpr uint32_t kBlock = 1u << 16;       // fractions per block
constexpr uint32_t kBlocks = (1u << 23) / kBlock;
constexpr mpfr_prec_t kWide = 140;
constexpr float kGains[] = {0.125f, -0.375f, 1.0f + 0x1p-23f};

uint64_t bitsOf(double d) {
  uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  return u;
}

float floatOf(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

struct Tally {
  uint64_t checked = 0;
  uint64_t offByOne = 0;    // one ulp from the correctly rounded double
  uint64_t offByMore = 0;   // further: a fault
  uint64_t pathFaults = 0;  // a path or the map disagreeing with the public function
  uint64_t oracleFaults = 0;  // the split sum disagreeing with MPFR's own log10
  uint64_t direct = 0;        // floats the split sum could not round
  double farthest = 0.0;    // the largest distance, in ulps, of an exact value
                            // from the boundary where the result was wrong
  std::vector<float> shown;
};

// The correctly rounded log10 of every float 2^e f of one block of
// fractions, for each e in turn. One per thread.
class BlockOracle {
 public:
  BlockOracle() : fractions_(kBlock) {
    mpfr_init2(log2_, 2 * kWide);  // so that e log10 2 is rounded once
    mpfr_inits2(kWide, term_, sum_, static_cast<mpfr_ptr>(nullptr));
    for (__mpfr_struct& f : fractions_) mpfr_init2(&f, kWide);
    mpfr_set_ui(log2_, 2, MPFR_RNDN);
    mpfr_log10(log2_, log2_, MPFR_RNDN);
  }
  ~BlockOracle() {
    for (__mpfr_struct& f : fractions_) mpfr_clear(&f);
    mpfr_clears(log2_, term_, sum_, static_cast<mpfr_ptr>(nullptr));
  }
  BlockOracle(const BlockOracle&) = delete;
  BlockOracle& operator=(const BlockOracle&) = delete;

  void startBlock(uint32_t block) {
    for (uint32_t i = 0; i < kBlock; ++i) {
      mpfr_set_flt(&fractions_[i], floatOf(kOneBits | (block * kBlock + i)), MPFR_RNDN);
      mpfr_log10(&fractions_[i], &fractions_[i], MPFR_RNDN);
    }
  }
  void startExponent(int e) { mpfr_mul_ui(term_, log2_, static_cast<unsigned long>(e), MPFR_RNDN); }
  // log10 of the float with the block's fraction i at the current exponent.
  double rounded(uint32_t i, float v, Tally& t, uint32_t checkEvery) {
    mpfr_add(sum_, term_, &fractions_[i], MPFR_RNDN);
    // Three roundings to kWide bits, each within half an ulp of a value no
    // larger than the sum: the error is below 2^(exponent - kWide + 1).
    if (mpfr_zero_p(sum_) || !mpfr_can_round(sum_, kWide - 3, MPFR_RNDN, MPFR_RNDZ, 54)) {
      ++t.direct;
      return direct_.rounded(v);
    }
    const double d = mpfr_get_d(sum_, MPFR_RNDN);
    if (i % checkEvery == 0 && bitsOf(d) != bitsOf(direct_.rounded(v))) ++t.oracleFaults;
    return d;
  }
  hx::test::MpfrLog10& direct() { return direct_; }

 private:
  mpfr_t log2_, term_, sum_;
  std::vector<__mpfr_struct> fractions_;
  hx::test::MpfrLog10 direct_;
};

void judge(float v, double got, double want, hx::test::MpfrLog10& oracle, Tally& t) {
  if (bitsOf(got) == bitsOf(want)) return;
  const uint64_t apart = bitsOf(got) > bitsOf(want) ? bitsOf(got) - bitsOf(want) : bitsOf(want) - bitsOf(got);
  if (apart > 1) {
    ++t.offByMore;
  } else {
    ++t.offByOne;
    t.farthest = std::max(t.farthest, oracle.ulpsFromMidpoint(v, want, got));
  }
  if (t.shown.size() < 20) t.shown.push_back(v);
}

void checkPaths(const std::vector<float>& v, const std::vector<double>& pub, Tally& t) {
  const uint32_t n = static_cast<uint32_t>(v.size());
  std::vector<float> mapped(n);
  std::vector<double> path(n);
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
}

void checkBlock(uint32_t block, BlockOracle& oracle, Tally& t) {
  oracle.startBlock(block);
  std::vector<float> v(kBlock);
  std::vector<double> pub(kBlock);
  for (int e = 0; e < kExponents; ++e) {
    oracle.startExponent(e);
    const uint32_t first = kOneBits + (static_cast<uint32_t>(e) << 23) + block * kBlock;
    for (uint32_t i = 0; i < kBlock; ++i) {
      v[i] = floatOf(first + i);
      pub[i] = hx::portableLog10(v[i]);
      judge(v[i], pub[i], oracle.rounded(i, v[i], t, 64), oracle.direct(), t);
    }
    checkPaths(v, pub, t);
    t.checked += kBlock;
  }
}

void merge(Tally& all, const Tally& t) {
  all.checked += t.checked;
  all.offByOne += t.offByOne;
  all.offByMore += t.offByMore;
  all.pathFaults += t.pathFaults;
  all.oracleFaults += t.oracleFaults;
  all.direct += t.direct;
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
  std::fprintf(f, "oracle: %llu floats by MPFR's log10 directly, %llu split sums disagreeing with it\n",
               static_cast<unsigned long long>(all.direct),
               static_cast<unsigned long long>(all.oracleFaults));
}

}  // namespace

// Progress and the figures so far go to standard error block by block
// (each block: a 128th of the fractions, at every exponent).
int main(int argc, char** argv) {
  const unsigned threads =
      argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : std::max(1u, std::thread::hardware_concurrency());
  const uint32_t blocks = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : kBlocks;
  std::atomic<uint32_t> next{0};
  std::mutex lock;
  Tally all;
  uint32_t blocksDone = 0;
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  auto work = [&] {
    BlockOracle oracle;  // one per thread
    for (uint32_t b = next++; b < blocks; b = next++) {
      Tally t;
      checkBlock(b, oracle, t);
      const std::lock_guard<std::mutex> hold(lock);
      merge(all, t);
      ++blocksDone;
      std::fprintf(stderr, "%u of %u blocks after %.0f s, %llu floats\n", blocksDone, blocks, elapsed(),
                   static_cast<unsigned long long>(all.checked));
      report(stderr, all);
    }
  };
  std::vector<std::thread> pool;
  for (unsigned i = 0; i < threads; ++i) pool.emplace_back(work);
  for (std::thread& th : pool) th.join();

  // +inf, the last float from 1 up.
  {
    hx::test::MpfrLog10 o;
    const float inf = floatOf(kInfBits);
    const double pub = hx::portableLog10(inf);
    judge(inf, pub, o.rounded(inf), o, all);
    checkPaths({inf}, {pub}, all);
    ++all.checked;
  }

  std::sort(all.shown.begin(), all.shown.end());
  for (float f : all.shown) {
    hx::test::MpfrLog10 o;
    std::printf("  %a (%.9g): portableLog10 %a, correctly rounded %a\n", f, f, hx::portableLog10(f),
                o.rounded(f));
  }
  std::printf("floats checked: %llu (1.0f to +inf, %u threads, %.0f s)\n",
              static_cast<unsigned long long>(all.checked), threads, elapsed());
  report(stdout, all);
  return all.offByMore == 0 && all.pathFaults == 0 && all.oracleFaults == 0 ? 0 : 1;
}
