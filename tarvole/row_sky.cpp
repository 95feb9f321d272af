// Bright-object mask of the row-wise sky.
#include "tarvole/row_sky.h"

orv::MArray<float, 2> brightObjectMask(const orv::MArray<float, 2>& R, const orv::MArray<float, 2>& med) {
  const int nx = R.last(1), ny = R.last(2);
  orv::MArray<float, 2> mask(R.length(1), R.length(2));
  mask = 1.0f;
  constexpr int half = 10;
  for (int y = half + 1; y <= ny - half; ++y)
    for (int x = half + 1; x <= nx - half; ++x) {
      if (med(x, y) == 0.0f) continue;
      const float difference = R(x, y) - med(x, y);
      if (!(difference > 100.0)) continue;
      for (int j = -half; j <= half; ++j)
        for (int i = -half; i <= half; ++i)
          if (static_cast<double>(i) * i + static_cast<double>(j) * j <= 100.0) mask(x + i, y + j) = 0.0f;
    }
  return mask;
}
