// Plain per-pixel footprint correlation: the reference that the blocked correlation must
// match bit for bit, used by the tests and the benchmark.
#ifndef TESTS_DIA_DIA_PLAIN_CORRELATION_H
#define TESTS_DIA_DIA_PLAIN_CORRELATION_H

#include "orv/marray.h"

namespace dia_test {

// result(x, y) = Σ k(i, j)·image(x + i, y + j) over the footprint, per pixel, j then i
// ascending, zero taps skipped, summed in float; 0 where the kernel does not fit.
template <class K>
orv::MArray<float, 2> plainCorrelation(const orv::MArray<K, 2>& kernel, const orv::MArray<float, 2>& image) {
  const int hx = kernel.length(1) / 2, hy = kernel.length(2) / 2;
  orv::MArray<float, 2> k(orv::Range(-hx, hx), orv::Range(-hy, hy));
  for (int j = -hy; j <= hy; ++j)
    for (int i = -hx; i <= hx; ++i) {
      const float fi = static_cast<float>(i) / (static_cast<float>(hx) + 0.5f);
      const float fj = static_cast<float>(j) / (static_cast<float>(hy) + 0.5f);
      k(i, j) = fi * fi + fj * fj >= 1.0f
                    ? 0.0f
                    : static_cast<float>(kernel(kernel.first(1) + hx + i, kernel.first(2) + hy + j));
    }
  orv::MArray<float, 2> result(orv::Range(image.first(1), image.last(1)), orv::Range(image.first(2), image.last(2)));
  result = 0.0f;
  for (int y = image.first(2) + hy; y <= image.last(2) - hy; ++y)
    for (int x = image.first(1) + hx; x <= image.last(1) - hx; ++x) {
      float sum = 0.0f;
      for (int j = -hy; j <= hy; ++j)
        for (int i = -hx; i <= hx; ++i)
          if (k(i, j) != 0.0f) sum += k(i, j) * image(x + i, y + j);
      result(x, y) = sum;
    }
  return result;
}

}  // namespace dia_test

#endif
