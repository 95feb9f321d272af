// Correlation rows over a list of taps, the hot loop of the footprint correlations.
//
// Many output pixels of a row run side by side: a block of consecutive pixels is held in
// vector accumulators while the whole tap list walks over it, so every pixel still adds its
// own terms from 0 in tap order, and the results are bit-identical to the plain loop whatever
// the vector width. No fused multiply-add is used anywhere.
#ifndef DIA_TAP_ROWS_H
#define DIA_TAP_ROWS_H

#include <cstddef>

#include "orv/lanes.h"

namespace dia_taps {

template <class T>
struct Tap {
  std::ptrdiff_t offset;  // source offset of the tap from the output pixel's own position
  T value;
};

// dst[t] = Σ_k taps[k].value·src[t + taps[k].offset] for t < count, or with ADD dst[t] += that
// sum; the sum runs in T, from 0 in tap order. The plain loop, one pixel at a time, that the
// row functions below equal bit for bit.
template <class T, bool ADD>
inline void correlateRowPlain(const Tap<T>* taps, std::size_t ntaps, const T* src, T* dst, int count) {
  for (int t = 0; t < count; ++t) {
    T sum = T(0);
    for (std::size_t k = 0; k < ntaps; ++k) sum += taps[k].value * src[t + taps[k].offset];
    dst[t] = ADD ? dst[t] + sum : sum;
  }
}

// The same in blocks of BLOCK vectors of LANES pixels, then single vectors, then the pixels
// left one at a time.
template <class T, int LANES, int BLOCK, bool ADD>
inline __attribute__((always_inline)) void correlateRow(const Tap<T>* taps, std::size_t ntaps, const T* src,
                                                        T* dst, int count) {
  using V = orv::lanes::Vector<T, LANES>;
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
  correlateRowPlain<T, ADD>(taps, ntaps, src + t, dst + t, count - t);
}

// Pixels per vector and vectors per block: 16-byte vectors on the baseline path, 32-byte ones
// on the AVX2 and AVX-512 paths (64-byte vectors made the reference step's passes no faster:
// their rows are blocks of at most 256 pixels, and a wider block leaves more pixels to the
// narrower loops at its end).
template <class T>
struct Widths {
  static constexpr int narrowLanes = 16 / static_cast<int>(sizeof(T)), narrowBlock = 4;
  static constexpr int wideLanes = 32 / static_cast<int>(sizeof(T)), wideBlock = 8;
};

template <class T>
using RowFunction = void (*)(const Tap<T>*, std::size_t, const T*, T*, int);

// One output row per call: rows are long enough that the dispatch cost is nothing.
template <class T, bool ADD>
void correlateRowNarrow(const Tap<T>* taps, std::size_t ntaps, const T* src, T* dst, int count) {
  correlateRow<T, Widths<T>::narrowLanes, Widths<T>::narrowBlock, ADD>(taps, ntaps, src, dst, count);
}

template <class T, bool ADD>
ORV_LANES_AVX2 void correlateRowWide(const Tap<T>* taps, std::size_t ntaps, const T* src, T* dst, int count) {
  correlateRow<T, Widths<T>::wideLanes, Widths<T>::wideBlock, ADD>(taps, ntaps, src, dst, count);
}

template <class T, bool ADD>
ORV_LANES_AVX512 void correlateRowWideAvx512(const Tap<T>* taps, std::size_t ntaps, const T* src, T* dst,
                                             int count) {
  correlateRow<T, Widths<T>::wideLanes, Widths<T>::wideBlock, ADD>(taps, ntaps, src, dst, count);
}

// The row function of the path kernels run on (orv::lanes::chosen), asked for where the rows
// are made, never once at load time.
template <class T, bool ADD>
RowFunction<T> rowFunction() {
  return orv::lanes::pick<RowFunction<T>>(correlateRowNarrow<T, ADD>, correlateRowWide<T, ADD>,
                                          correlateRowWideAvx512<T, ADD>);
}

}  // namespace dia_taps

#endif
