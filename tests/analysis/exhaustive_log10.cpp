// Once-off proof, not part of the test run: the fast log10 against the
// double-double one over every float from 1 upwards (the domain of the
// spectrum's logarithmic map, 10^decades P + 1), through the public
// function and through every instruction-set path of the engine; then the
// log map's last step, float(log10(v) g8), at a few gains, on every path.
// Prints the count of values checked, of differences and of fallbacks;
// exits 1 on any difference.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "analysis/fft_engine.h"
#include "analysis/fft_kernels.h"
#include "analysis/reference_engine.h"

int main() {
  using hx::fft::Isa;
  constexpr uint32_t kFirst = 0x3f800000u;  // 1.0f
  constexpr uint32_t kLast = 0x7f800000u;   // +inf
  constexpr uint32_t kChunk = 1u << 16;
  std::vector<float> v(kChunk);
  std::vector<double> ref(kChunk), fast(kChunk);
  std::vector<float> mapped(kChunk);
  const float gains[] = {0.125f, -0.375f, 1.0f + 0x1p-23f};
  uint64_t checked = 0, differences = 0, fallbacks = 0, mapFallbacks = 0;
  for (uint32_t u = kFirst; u <= kLast && u >= kFirst; u += kChunk) {
    const uint32_t n = kLast - u + 1 < kChunk ? kLast - u + 1 : kChunk;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t bits = u + i;
      std::memcpy(&v[i], &bits, sizeof bits);
      ref[i] = hx::reference::portableLog10(v[i]);
      double y;
      if (!hx::fft::fastLog10(v[i], &y)) ++fallbacks;
      const double pub = hx::portableLog10(v[i]);
      if (std::memcmp(&pub, &ref[i], sizeof pub) != 0) {
        if (++differences <= 10) std::printf("public: %a gives %a, reference %a\n", v[i], pub, ref[i]);
      }
    }
    for (Isa isa : hx::fft::kAllIsas) {
      if (!hx::fft::isaSupported(isa)) continue;
      hx::fft::kernelsFor(isa).log10Many(fast.data(), v.data(), static_cast<int32_t>(n));
      for (uint32_t i = 0; i < n; ++i) {
        if (std::memcmp(&fast[i], &ref[i], sizeof(double)) != 0 && ++differences <= 10)
          std::printf("path %d: %a gives %a, reference %a\n", static_cast<int>(isa), v[i], fast[i], ref[i]);
      }
    }
    for (Isa isa : hx::fft::kAllIsas) {
      if (!hx::fft::isaSupported(isa)) continue;
      for (float g8 : gains) {
        hx::fft::kernelsFor(isa).log10Map(mapped.data(), v.data(), static_cast<int32_t>(n), g8);
        for (uint32_t i = 0; i < n; ++i) {
          const float want = static_cast<float>(ref[i] * g8);
          if (std::memcmp(&mapped[i], &want, sizeof want) != 0 && ++differences <= 10)
            std::printf("map, path %d, g8 %a: %a gives %a, reference %a\n", static_cast<int>(isa),
                        g8, v[i], mapped[i], want);
        }
      }
    }
    for (uint32_t i = 0; i < n; ++i) {
      double y, eps;
      if (!hx::fft::plainLog10(v[i], &y, &eps)) continue;
      if (static_cast<float>((y - eps) * gains[0]) != static_cast<float>((y + eps) * gains[0]))
        ++mapFallbacks;
    }
    checked += n;
  }
  std::printf("floats checked: %llu (1.0f to +inf), differences: %llu, fast-path fallbacks: %llu (%.4f%%)\n",
              static_cast<unsigned long long>(checked), static_cast<unsigned long long>(differences),
              static_cast<unsigned long long>(fallbacks), 100.0 * double(fallbacks) / double(checked));
  std::printf("log map at g8 = 1/8: %llu exact-path lanes (%.2e of all)\n",
              static_cast<unsigned long long>(mapFallbacks), double(mapFallbacks) / double(checked));
  return differences == 0 ? 0 : 1;
}
