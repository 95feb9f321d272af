// The cell grid of the binned spline surfaces: circular cells on a square grid around a centre,
// their means over two images, painting cell values back over pixels, and the occupied box of an
// image that bounds the painting.
#ifndef TARVOLE_CELL_GRID_H
#define TARVOLE_CELL_GRID_H

#include <algorithm>
#include <ostream>
#include <vector>

#include "orv/marray.h"

// Cell indices along one axis: cell k has its centre at centre + k·step, for
// k = first..last. The cell arrays carry one margin cell on either side.
struct CellAxis {
  int first = 0;
  int last = -1;
  int centre = 0;
  int step = 1;

  int centre_of(int k) const { return centre + k * step; }
};

// The cells that cover 1..extent around centre, with cell step d (integer
// division truncating toward zero, as the formulas are written):
// first = -((centre - 1 - d) / d + 1), last = (d + extent - centre) / d + 1.
CellAxis cell_axis(int centre, int extent, int d);

// The pixel rows of a circular cell of radius rb: offset row j (-rb..rb) holds
// the offsets -w(j)..w(j) with i·i + j·j < rb·(rb+1); w(j) = -1 for an empty
// row (every row of radius 0).
class CellShape {
 public:
  explicit CellShape(int rb);
  int radius() const { return rb_; }
  int diameter() const { return 2 * rb_ + 1; }
  int half_width(int j) const { return half_width_[j + rb_]; }

  // Calls run(y, x0, x1) for every offset row of the cell centred at (xc, yc)
  // that meets the image 1..nx × 1..ny, rows in ascending order, with the
  // pixel columns x0..x1 clipped to the image.
  template <class Run>
  void for_each_run(int xc, int yc, int nx, int ny, Run&& run) const {
    for (int j = -rb_; j <= rb_; ++j) {
      const long y = static_cast<long>(yc) + j;
      if (y < 1 || y > ny) continue;
      const int w = half_width(j);
      if (w < 0) continue;
      const long x0 = std::max<long>(1, static_cast<long>(xc) - w);
      const long x1 = std::min<long>(nx, static_cast<long>(xc) + w);
      if (x0 <= x1) run(static_cast<int>(y), static_cast<int>(x0), static_cast<int>(x1));
    }
  }

 private:
  int rb_;
  std::vector<int> half_width_;
};

// Cell means of two images over the pixels where both differ from blank: for
// every cell of ax × ay, n and the double sums of X and Y; with n > minCount
// mx and my are the means, otherwise they stay blank. The arrays run over the
// cells with their margin (ax.first-1..ax.last+1 × ay.first-1..ay.last+1);
// xc and yc hold the cell centres (0 in the margin).
struct CellMeans {
  CellAxis ax, ay;
  orv::MArray<double, 2> mx, my;
  orv::MArray<double, 1> xc, yc;
};
void cell_means(const orv::MArray<float, 2>& X, const orv::MArray<float, 2>& Y, const CellShape& cell,
                CellAxis ax, CellAxis ay, int minCount, float blank, CellMeans& out);

// A cell grid (with margin) of the axes, filled with value.
orv::MArray<double, 2> cell_grid(CellAxis ax, CellAxis ay, double value);
// The centre coordinates of the cells of an axis, 0 in the margin.
orv::MArray<double, 1> cell_centres(CellAxis a);

// An inclusive pixel box x0..x1 × y0..y1.
struct PixelBox {
  int x0, x1, y0, y1;
};

// Paints every cell value of G (cells of ax × ay) over the square centre ± rb into img (already
// set), clipped to box.
void paint_cells(const orv::MArray<double, 2>& G, CellAxis ax, CellAxis ay, int rb, PixelBox box,
                 orv::MArray<float, 2>& img);

// The layout lines before the binning: at verbose > 0 the cell diameter and
// step d; the centre; at verbose > 0 the median size and step (after an empty
// line when emptyBeforeMedian); then "binning...".
void print_cell_layout(std::ostream& os, int verbose, int d, int medianSize, int cx, int cy,
                       bool emptyBeforeMedian);

// The smallest index box x1..x2, y1..y2 holding every element of `a` that differs from `blank`
// (a NaN counts as data). Each column and row is counted over the full extent of the other axis.
// An array that is blank everywhere gives x1 > x2 and y1 > y2 (one past each end).
template <class T>
void nonan(const orv::MArray<T, 2>& a, int& x1, int& x2, int& y1, int& y2, T blank);

extern template void nonan<float>(const orv::MArray<float, 2>&, int&, int&, int&, int&, float);
extern template void nonan<double>(const orv::MArray<double, 2>&, int&, int&, int&, int&, double);

#endif
