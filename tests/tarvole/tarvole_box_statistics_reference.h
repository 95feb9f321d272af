// The box statistics of the sampling grid as a plain loop over the box offsets, testing box,
// image border and blank value per offset: the reference for the tests and the benchmark.
#ifndef TESTS_TARVOLE_TARVOLE_BOX_STATISTICS_REFERENCE_H
#define TESTS_TARVOLE_TARVOLE_BOX_STATISTICS_REFERENCE_H

#include <cmath>

#include "orv/marray.h"
#include "tarvole/sampling_grid.h"

namespace tarvole_test {

inline SamplingPoints plain_sampling_grid(const orv::MArray<float, 2>& R, const orv::MArray<float, 2>& I,
                                          int nx, int ny, const util::Region& region, int intervall,
                                          int r, float blank, bool with_scatters) {
  const GridLayout g = grid_layout(region, nx, ny, intervall);
  SamplingPoints pts;
  pts.N = g.columns * g.rows;
  orv::MArray<double, 1>* arrays[] = {&pts.x, &pts.y, &pts.mR, &pts.sR, &pts.mI, &pts.sI};
  for (auto* a : arrays) {
    orv::MArray<double, 1> fresh(pts.N);
    fresh = 0.0;
    a->makeReference(fresh);
  }
  const auto inBox = [r](int i, int j) { return (long long)i * i + (long long)j * j < (long long)r * (r + 1); };
  for (int y = g.y1; g.rows > 0 && y <= g.y2; y += intervall) {
    for (int x = g.x1; g.columns > 0 && x <= g.x2; x += intervall) {
      int n = 0;
      double sr = 0, si = 0;
      for (int j = -r; j <= r; ++j)
        for (int i = -r; i <= r; ++i) {
          const int px = x + i, py = y + j;
          if (!inBox(i, j) || px < 1 || px > nx || py < 1 || py > ny) continue;
          if (R(px, py) == blank || I(px, py) == blank) continue;
          ++n;
          sr += R(px, py);
          si += I(px, py);
        }
      const double mr = n > 0 ? sr / n : 0.0, mi = n > 0 ? si / n : 0.0;
      double qr = 0, qi = 0;
      if (with_scatters) {
        for (int j = -r; j <= r; ++j)
          for (int i = -r; i <= r; ++i) {
            const int px = x + i, py = y + j;
            if (!inBox(i, j) || px < 1 || px > nx || py < 1 || py > ny) continue;
            if (R(px, py) == blank || I(px, py) == blank) continue;
            qr += (R(px, py) - mr) * (R(px, py) - mr);
            qi += (I(px, py) - mi) * (I(px, py) - mi);
          }
      }
      if (mr == 0.0 || mi == 0.0) continue;
      const int k = ++pts.K;
      pts.x(k) = x;
      pts.y(k) = y;
      pts.mR(k) = mr;
      pts.mI(k) = mi;
      if (with_scatters) {
        pts.sR(k) = n > 1 ? std::sqrt(qr / (n - 1)) : mr;
        pts.sI(k) = n > 1 ? std::sqrt(qi / (n - 1)) : mi;
      }
    }
  }
  return pts;
}

}  // namespace tarvole_test

#endif
