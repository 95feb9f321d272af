// Spreading bad pixels over the kernel footprint: every target pixel within the footprint of
// a bad source pixel is cleared.
#ifndef DIA_FOOTPRINT_SPREAD_H
#define DIA_FOOTPRINT_SPREAD_H

#include <algorithm>
#include <iostream>
#include <vector>

#include "orv/marray.h"

namespace dia_spread {

struct Box {
  int x0, x1, y0, y1;
};

// For every pixel of `source` where bad(x, y) holds, target(x + dx, y + dy) = 0 for every
// offset with quad(dx, dy) true, limited to the target box. The footprint is an ellipse, so
// each footprint row is one run −w(dy) … w(dy): runs of bad pixels become runs of cleared
// pixels, one fill per footprint row, instead of one write per bad pixel and offset.
// Before each source row, when `progress` is set, it and the row number are printed.
template <class Bad>
void spreadBad(orv::MArray<short, 2>& target, const Box& targetBox, const Box& source, Bad bad,
               const orv::MArray<bool, 2>& quad, const char* progress = nullptr) {
  const int hx = quad.last(1), hy = quad.last(2);
  std::vector<int> width(2 * hy + 1);
  for (int dy = -hy; dy <= hy; ++dy) {
    int w = -1;
    for (int dx = 0; dx <= hx; ++dx)
      if (quad(dx, dy)) w = dx;
    width[dy + hy] = w;
  }
  for (int y = source.y0; y <= source.y1; ++y) {
    if (progress) std::cout << progress << y << std::flush;
    int x = source.x0;
    while (x <= source.x1) {
      if (!bad(x, y)) {
        ++x;
        continue;
      }
      const int runStart = x;
      while (x <= source.x1 && bad(x, y)) ++x;
      const int runEnd = x - 1;
      for (int dy = -hy; dy <= hy; ++dy) {
        const int ty = y + dy, w = width[dy + hy];
        if (ty < targetBox.y0 || ty > targetBox.y1 || w < 0) continue;
        const int from = std::max(runStart - w, targetBox.x0), to = std::min(runEnd + w, targetBox.x1);
        for (int tx = from; tx <= to; ++tx) target(tx, ty) = 0;
      }
    }
  }
}

}  // namespace dia_spread

#endif
