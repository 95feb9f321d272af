// Block binning of one image.
#include "tarvole/binning.h"

#include <iostream>

#include "tarvole/cell_grid.h"

void binning(const orv::MArray<float, 2>& X, orv::MArray<float, 2>& out, const Pliste& P) {
  const int cx = P.cx, cy = P.cy;
  const float blank = P.blank;
  std::cout << " binning..." << std::endl;
  constexpr int radius = 30;
  constexpr int d = 2 * radius + 1;
  const CellShape cell(radius);
  CellMeans cells;
  // One image: X serves as both, so a pixel counts where X differs from blank.
  cell_means(X, X, cell, cell_axis(cx, X.last(1), d), cell_axis(cy, X.last(2), d), d * d / 3, blank, cells);
  int jx0, jx1, jy0, jy1;
  nonan(X, jx0, jx1, jy0, jy1, blank);
  out = 0.0f;
  paint_cells(cells.mx, cells.ax, cells.ay, radius, {jx0, jx1, jy0, jy1}, out);
}
