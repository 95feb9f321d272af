// Block means of an image, the reduction behind the binned diagnostic images of the sky program.
#ifndef TARVOLE_BLOCK_MEANS_H
#define TARVOLE_BLOCK_MEANS_H

#include <algorithm>
#include <vector>

#include "orv/marray.h"

// Means over blocks of size × size pixels of the pixels of `values` where counts(x, y) holds,
// minus `offset`, in single precision: a float image of (nx/size) × (ny/size), nx and ny the last
// indices of `values` (index base 1). Block (bx, by) covers x = size·(bx−1)+1 .. size·bx and y
// likewise; pixels beyond the last whole block belong to none, and a block where nothing counts
// holds 0. Every block adds its pixels row by row, each row from left to right; one strip of
// blocks is summed at a time so that the image is read in storage order.
template <class Counts>
orv::MArray<float, 2> block_means(const orv::MArray<float, 2>& values, int size, Counts&& counts,
                                  float offset = 0.0f) {
  const int nbx = std::max(values.last(1) / size, 0);
  const int nby = std::max(values.last(2) / size, 0);
  orv::MArray<float, 2> out(nbx, nby);
  if (nbx == 0 || nby == 0) return out;
  out = 0.0f;
  std::vector<float> sum(static_cast<std::size_t>(nbx));
  std::vector<int> count(static_cast<std::size_t>(nbx));
  for (int by = 1; by <= nby; ++by) {
    std::fill(sum.begin(), sum.end(), 0.0f);
    std::fill(count.begin(), count.end(), 0);
    for (int y = size * (by - 1) + 1; y <= size * by; ++y)
      for (int x = 1; x <= size * nbx; ++x)
        if (counts(x, y)) {
          const std::size_t k = static_cast<std::size_t>((x - 1) / size);
          sum[k] += values(x, y);
          ++count[k];
        }
    for (int bx = 1; bx <= nbx; ++bx) {
      const std::size_t k = static_cast<std::size_t>(bx - 1);
      if (count[k] > 0) out(bx, by) = sum[k] / static_cast<float>(count[k]) - offset;
    }
  }
  return out;
}

#endif
