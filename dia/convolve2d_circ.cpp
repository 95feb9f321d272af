// Correlation of an image with an odd-sized kernel cut to its elliptic footprint.
//
// Every output pixel sums its taps in float, j ascending then i ascending, skipping zero
// taps. The speed comes from running many output pixels of a row side by side: a block of
// consecutive pixels is held in vector accumulators while the whole tap list walks over it,
// so every pixel still adds its own terms in exactly the per-pixel order and the results are
// bit-identical to the plain loop. No fused multiply-add is used anywhere.
#include <cstddef>
#include <vector>

#include "dia/dia.h"

namespace {

struct Tap {
  std::ptrdiff_t offset;  // image offset of the tap from the output pixel
  float value;
};

// Accumulates the taps over `count` output pixels starting at src (the pixel's own position
// in the image) into dst. V is the vector type, LANES its width, BLOCK the vectors held.
template <class V, int LANES, int BLOCK>
inline __attribute__((always_inline)) void correlateRow(const Tap* taps, std::size_t ntaps, const float* src,
                                                       float* dst, int count) {
  int t = 0;
  for (; t + LANES * BLOCK <= count; t += LANES * BLOCK) {
    V acc[BLOCK];
#pragma GCC unroll 16
    for (int b = 0; b < BLOCK; ++b) acc[b] = V{} * 0.0f;
    for (std::size_t k = 0; k < ntaps; ++k) {
      const float* p = src + t + taps[k].offset;
      const V w = V{} + taps[k].value;
#pragma GCC unroll 16
      for (int b = 0; b < BLOCK; ++b) {
        V pixel;
        __builtin_memcpy(&pixel, p + b * LANES, sizeof(V));
        acc[b] += w * pixel;
      }
    }
#pragma GCC unroll 16
    for (int b = 0; b < BLOCK; ++b) __builtin_memcpy(dst + t + b * LANES, &acc[b], sizeof(V));
  }
  for (; t + LANES <= count; t += LANES) {
    V acc = V{} * 0.0f;
    for (std::size_t k = 0; k < ntaps; ++k) {
      V pixel;
      __builtin_memcpy(&pixel, src + t + taps[k].offset, sizeof(V));
      acc += (V{} + taps[k].value) * pixel;
    }
    __builtin_memcpy(dst + t, &acc, sizeof(V));
  }
  for (; t < count; ++t) {
    float sum = 0.0f;
    for (std::size_t k = 0; k < ntaps; ++k) sum += taps[k].value * src[t + taps[k].offset];
    dst[t] = sum;
  }
}

typedef float Float4 __attribute__((vector_size(16)));
typedef float Float8 __attribute__((vector_size(32)));

// One output row per call: rows are long enough that the dispatch cost is nothing.
void correlateRowGeneric(const Tap* taps, std::size_t ntaps, const float* src, float* dst, int count) {
  correlateRow<Float4, 4, 4>(taps, ntaps, src, dst, count);
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) void correlateRowAvx2(const Tap* taps, std::size_t ntaps, const float* src,
                                                      float* dst, int count) {
  correlateRow<Float8, 8, 8>(taps, ntaps, src, dst, count);
}

using RowFunction = void (*)(const Tap*, std::size_t, const float*, float*, int);
RowFunction chooseRowFunction() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? correlateRowAvx2 : correlateRowGeneric;
}
const RowFunction correlateRowBest = chooseRowFunction();
#else
const auto correlateRowBest = correlateRowGeneric;
#endif

}  // namespace

template <class T, class K>
orv::MArray<T, 2> convolve2d_circ(const orv::MArray<K, 2>& kernel, const orv::MArray<T, 2>& image) {
  static_assert(std::is_same_v<T, float>, "the correlation runs on float images");
  orv::MArray<T, 2> result(orv::Range(image.first(1), image.last(1)), orv::Range(image.first(2), image.last(2)));
  result = 0.0f;

  const int lx = kernel.length(1), ly = kernel.length(2);
  if (lx % 2 == 0 || ly % 2 == 0) throw orv::RangeException("This convolution only works with odd kernel sizes.");
  const int hx = lx / 2, hy = ly / 2;

  const int x1 = image.first(1), x2 = image.last(1);
  const int y1 = image.first(2), y2 = image.last(2);
  if (x2 - x1 < 2 * hx || y2 - y1 < 2 * hy) return result;

  // The image with unit x stride: a view with another x stride is copied first.
  orv::MArray<T, 2> source(image);
  if (image.stride(1) != 1) {
    source.makeReference(orv::MArray<T, 2>(orv::Range(x1, x2), orv::Range(y1, y2)));
    for (int y = y1; y <= y2; ++y)
      for (int x = x1; x <= x2; ++x) source(x, y) = image(x, y);
  }
  const std::ptrdiff_t rowStride = source.stride(2);

  // Non-zero taps of the footprint-cut kernel in summation order, indexed from its centre.
  std::vector<Tap> taps;
  const float ex = static_cast<float>(hx) + 0.5f, ey = static_cast<float>(hy) + 0.5f;
  for (int j = -hy; j <= hy; ++j)
    for (int i = -hx; i <= hx; ++i) {
      const float value = static_cast<float>(kernel(kernel.first(1) + hx + i, kernel.first(2) + hy + j));
      const float u = static_cast<float>(i) / ex, v = static_cast<float>(j) / ey;
      if (u * u + v * v >= 1.0f || value == 0.0f) continue;
      taps.push_back({static_cast<std::ptrdiff_t>(j) * rowStride + i, value});
    }

  const int count = x2 - x1 - 2 * hx + 1;
  for (int y = y1 + hy; y <= y2 - hy; ++y)
    correlateRowBest(taps.data(), taps.size(), &source(x1 + hx, y), &result(x1 + hx, y), count);
  return result;
}

template orv::MArray<float, 2> convolve2d_circ<float, float>(const orv::MArray<float, 2>&,
                                                             const orv::MArray<float, 2>&);
template orv::MArray<float, 2> convolve2d_circ<float, double>(const orv::MArray<double, 2>&,
                                                              const orv::MArray<float, 2>&);
