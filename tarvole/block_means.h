// 4 × 4 block means of a surface.
#ifndef TARVOLE_BLOCK_MEANS_H
#define TARVOLE_BLOCK_MEANS_H

#include <algorithm>

#include "orv/marray.h"

// 4 × 4 block means of surface over the pixels where keep(x, y) holds and the
// surface differs from blank: a float image of (nx/4) × (ny/4), 0 for a block
// without such a pixel. Sums are formed in single precision.
template <class Keep>
orv::MArray<float, 2> blockMeans4(const orv::MArray<float, 2>& surface, float blank, Keep&& keep) {
  const int nbx = surface.last(1) / 4;
  const int nby = surface.last(2) / 4;
  orv::MArray<float, 2> blocks(std::max(nbx, 0), std::max(nby, 0));
  if (nbx <= 0 || nby <= 0) return blocks;
  blocks = 0.0f;
  for (int by = 1; by <= nby; ++by)
    for (int bx = 1; bx <= nbx; ++bx) {
      float sum = 0.0f;
      int n = 0;
      for (int y = 4 * by - 3; y <= 4 * by; ++y)
        for (int x = 4 * bx - 3; x <= 4 * bx; ++x)
          if (surface(x, y) != blank && keep(x, y)) {
            sum += surface(x, y);
            ++n;
          }
      if (n > 0) blocks(bx, by) = sum / static_cast<float>(n);
    }
  return blocks;
}

#endif
