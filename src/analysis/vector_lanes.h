// Vector lanes of the engine's kernels (GCC vector extensions), shared by
// the transform's kernels and the logarithm's: the lane types for W doubles
// and loads, stores and mask tests that go through whole words.
#pragma once

#include <cstdint>
#include <cstring>

namespace hx::fft {

template <int W>
struct Vec;
template <>
struct Vec<2> {
  typedef float F __attribute__((vector_size(8)));
  typedef int32_t I __attribute__((vector_size(8)));
  typedef float F2 __attribute__((vector_size(16)));
  typedef double D __attribute__((vector_size(16)));
  typedef int64_t M __attribute__((vector_size(16)));
};
template <>
struct Vec<4> {
  typedef float F __attribute__((vector_size(16)));
  typedef int32_t I __attribute__((vector_size(16)));
  typedef float F2 __attribute__((vector_size(32)));
  typedef double D __attribute__((vector_size(32)));
  typedef int64_t M __attribute__((vector_size(32)));
};

template <class T>
__attribute__((always_inline)) inline T loadV(const float* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class T>
__attribute__((always_inline)) inline T loadD(const double* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class T>
__attribute__((always_inline)) inline void storeV(float* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// True when every lane of a comparison's mask is set / any lane of v is
// not zero, read through whole words: lane by lane the lanes would go
// through memory one at a time.
template <class T>
__attribute__((always_inline)) inline uint64_t orOfWords(T v) {
  uint64_t words[sizeof(T) / 8];
  std::memcpy(words, &v, sizeof v);
  uint64_t any = 0;
  for (uint64_t w : words) any |= w;
  return any;
}
template <class M>
__attribute__((always_inline)) inline bool allLanes(M mask) {
  return orOfWords(~mask) == 0;
}
template <class T>
__attribute__((always_inline)) inline bool anyLane(T v) {
  return orOfWords(v) != 0;
}

#if defined(__x86_64__)
#define HX_AVX2 __attribute__((target("avx2")))
#define HX_AVX512 __attribute__((target("avx2,avx512f,avx512dq")))
#endif

}  // namespace hx::fft
