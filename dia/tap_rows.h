// Correlation rows over a list of taps, the hot loop of the footprint correlations.
//
// Many output pixels of a row run side by side: a block of consecutive pixels is held in
// vector accumulators while the whole tap list walks over it, so every pixel still adds its
// own terms from 0 in tap order, and the results are bit-identical to the plain loop whatever
// the vector width. No fused multiply-add is used anywhere.
#ifndef DIA_TAP_ROWS_H
#define DIA_TAP_ROWS_H

#include <cstddef>

namespace dia_taps {

template <class T>
struct Tap {
  std::ptrdiff_t offset;  // source offset of the tap from the output pixel's own position
  T value;
};

// dst[t] = Σ_k taps[k].value·src[t + taps[k].offset] for t < count, or with ADD dst[t] += that
// sum; the sum runs in T. V is the vector type of LANES elements, BLOCK the vectors held.
template <class T, class V, int LANES, int BLOCK, bool ADD>
inline __attribute__((always_inline)) void correlateRow(const Tap<T>* taps, std::size_t ntaps, const T* src,
                                                        T* dst, int count) {
  int t = 0;
  for (; t + LANES * BLOCK <= count; t += LANES * BLOCK) {
    V acc[BLOCK];
#pragma GCC unroll 16
    for (int b = 0; b < BLOCK; ++b) acc[b] = V{} * T(0);
    for (std::size_t k = 0; k < ntaps; ++k) {
      const T* p = src + t + taps[k].offset;
      const V w = V{} + taps[k].value;
#pragma GCC unroll 16
      for (int b = 0; b < BLOCK; ++b) {
        V pixel;
        __builtin_memcpy(&pixel, p + b * LANES, sizeof(V));
        acc[b] += w * pixel;
      }
    }
#pragma GCC unroll 16
    for (int b = 0; b < BLOCK; ++b) {
      if constexpr (ADD) {
        V old;
        __builtin_memcpy(&old, dst + t + b * LANES, sizeof(V));
        acc[b] = old + acc[b];
      }
      __builtin_memcpy(dst + t + b * LANES, &acc[b], sizeof(V));
    }
  }
  for (; t + LANES <= count; t += LANES) {
    V acc = V{} * T(0);
    for (std::size_t k = 0; k < ntaps; ++k) {
      V pixel;
      __builtin_memcpy(&pixel, src + t + taps[k].offset, sizeof(V));
      acc += (V{} + taps[k].value) * pixel;
    }
    if constexpr (ADD) {
      V old;
      __builtin_memcpy(&old, dst + t, sizeof(V));
      acc = old + acc;
    }
    __builtin_memcpy(dst + t, &acc, sizeof(V));
  }
  for (; t < count; ++t) {
    T sum = T(0);
    for (std::size_t k = 0; k < ntaps; ++k) sum += taps[k].value * src[t + taps[k].offset];
    dst[t] = ADD ? dst[t] + sum : sum;
  }
}

typedef float Float4 __attribute__((vector_size(16)));
typedef float Float8 __attribute__((vector_size(32)));
typedef double Double2 __attribute__((vector_size(16)));
typedef double Double4 __attribute__((vector_size(32)));

// The vector types and blocks per element type: 16-byte vectors everywhere, 32-byte ones where
// the processor has AVX2.
template <class T>
struct Vectors;
template <>
struct Vectors<float> {
  using Narrow = Float4;
  using Wide = Float8;
  static constexpr int narrowLanes = 4, narrowBlock = 4, wideLanes = 8, wideBlock = 8;
};
template <>
struct Vectors<double> {
  using Narrow = Double2;
  using Wide = Double4;
  static constexpr int narrowLanes = 2, narrowBlock = 4, wideLanes = 4, wideBlock = 8;
};

template <class T>
using RowFunction = void (*)(const Tap<T>*, std::size_t, const T*, T*, int);

// One output row per call: rows are long enough that the dispatch cost is nothing.
template <class T, bool ADD>
void correlateRowNarrow(const Tap<T>* taps, std::size_t ntaps, const T* src, T* dst, int count) {
  using W = Vectors<T>;
  correlateRow<T, typename W::Narrow, W::narrowLanes, W::narrowBlock, ADD>(taps, ntaps, src, dst, count);
}

#if defined(__x86_64__) && defined(__GNUC__)
template <class T, bool ADD>
__attribute__((target("avx2"))) void correlateRowWide(const Tap<T>* taps, std::size_t ntaps, const T* src,
                                                      T* dst, int count) {
  using W = Vectors<T>;
  correlateRow<T, typename W::Wide, W::wideLanes, W::wideBlock, ADD>(taps, ntaps, src, dst, count);
}
#endif

// The fastest row function this processor runs.
template <class T, bool ADD>
RowFunction<T> bestRowFunction() {
#if defined(__x86_64__) && defined(__GNUC__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return correlateRowWide<T, ADD>;
#endif
  return correlateRowNarrow<T, ADD>;
}

}  // namespace dia_taps

#endif
