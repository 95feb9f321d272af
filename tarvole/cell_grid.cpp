// Cells of the binned spline surfaces: axes, shapes, means, painting and the occupied box.
#include "tarvole/cell_grid.h"

#include <iostream>

CellAxis cell_axis(int centre, int extent, int d) {
  CellAxis a;
  a.centre = centre;
  a.step = d;
  a.first = -((centre - 1 - d) / d + 1);
  a.last = (d + extent - centre) / d + 1;
  return a;
}

CellShape::CellShape(int rb) : rb_(std::max(rb, 0)), half_width_(2 * std::max(rb, 0) + 1, -1) {
  const long limit = static_cast<long>(rb_) * (rb_ + 1);
  for (int j = -rb_; j <= rb_; ++j) {
    int w = -1;
    for (int i = 0; i <= rb_; ++i)
      if (static_cast<long>(i) * i + static_cast<long>(j) * j < limit) w = i;
    half_width_[j + rb_] = w;
  }
}

orv::MArray<double, 2> cell_grid(CellAxis ax, CellAxis ay, double value) {
  orv::MArray<double, 2> g(orv::Range(ax.first - 1, ax.last + 1), orv::Range(ay.first - 1, ay.last + 1));
  g = value;
  return g;
}

orv::MArray<double, 1> cell_centres(CellAxis a) {
  orv::MArray<double, 1> c(orv::Range(a.first - 1, a.last + 1));
  c = 0.0;
  for (int k = a.first; k <= a.last; ++k) c(k) = a.centre_of(k);
  return c;
}

void cell_means(const orv::MArray<float, 2>& X, const orv::MArray<float, 2>& Y, const CellShape& cell,
                CellAxis ax, CellAxis ay, int minCount, float blank, CellMeans& out) {
  const int nx = Y.last(1);
  const int ny = Y.last(2);
  out.ax = ax;
  out.ay = ay;
  out.mx.makeReference(cell_grid(ax, ay, blank));
  out.my.makeReference(cell_grid(ax, ay, blank));
  out.xc.makeReference(cell_centres(ax));
  out.yc.makeReference(cell_centres(ay));
  for (int ky = ay.first; ky <= ay.last; ++ky) {
    const int yc = ay.centre_of(ky);
    for (int kx = ax.first; kx <= ax.last; ++kx) {
      const int xc = ax.centre_of(kx);
      long n = 0;
      double sumX = 0.0, sumY = 0.0;
      cell.for_each_run(xc, yc, nx, ny, [&](int y, int x0, int x1) {
        const float* px = &X(x0, y);
        const float* py = &Y(x0, y);
        for (int i = 0; i <= x1 - x0; ++i) {
          const float a = px[i];
          const float b = py[i];
          if (a != blank && b != blank) {
            sumX += a;
            sumY += b;
            ++n;
          }
        }
      });
      if (n > minCount) {
        out.mx(kx, ky) = sumX / static_cast<double>(n);
        out.my(kx, ky) = sumY / static_cast<double>(n);
      }
    }
  }
}

void paint_cells(const orv::MArray<double, 2>& G, CellAxis ax, CellAxis ay, int rb, PixelBox box,
                 orv::MArray<float, 2>& img) {
  for (int ky = ay.first; ky <= ay.last; ++ky)
    for (int kx = ax.first; kx <= ax.last; ++kx) {
      const int xc = ax.centre_of(kx), yc = ay.centre_of(ky);
      const float value = static_cast<float>(G(kx, ky));
      for (int y = std::max(yc - rb, box.y0); y <= std::min(yc + rb, box.y1); ++y)
        for (int x = std::max(xc - rb, box.x0); x <= std::min(xc + rb, box.x1); ++x) img(x, y) = value;
    }
}

void print_cell_layout(std::ostream& os, int verbose, int d, int medianSize, int cx, int cy,
                       bool emptyBeforeMedian) {
  if (verbose > 0)
    os << std::endl
       << "binning diam: " << d << " px" << std::endl
       << "binning  ivl: " << d << " px" << std::endl;
  os << std::endl << "center: " << std::endl << " cx: " << cx << std::endl << " cy: " << cy << std::endl;
  if (verbose > 0) {
    if (emptyBeforeMedian) os << std::endl;
    os << "median diam: " << medianSize << " px" << std::endl
       << "median  ivl: " << medianSize << " px" << std::endl;
  }
  os << std::endl << "binning..." << std::endl;
}

namespace {

template <class T>
bool column_has_data(const orv::MArray<T, 2>& a, int x, T blank) {
  for (int y = a.first(2); y <= a.last(2); ++y)
    if (!(a(x, y) == blank)) return true;
  return false;
}

template <class T>
bool row_has_data(const orv::MArray<T, 2>& a, int y, T blank) {
  for (int x = a.first(1); x <= a.last(1); ++x)
    if (!(a(x, y) == blank)) return true;
  return false;
}

}  // namespace

template <class T>
void nonan(const orv::MArray<T, 2>& a, int& x1, int& x2, int& y1, int& y2, T blank) {
  const int X0 = a.first(1), X1 = a.last(1), Y0 = a.first(2), Y1 = a.last(2);
  // Bounds move in 64 bits: an all-blank array ends one past each end.
  long long lx = X0, hx = X1, ly = Y0, hy = Y1;
  while (lx <= X1 && !column_has_data(a, static_cast<int>(lx), blank)) ++lx;
  while (hx >= X0 && !column_has_data(a, static_cast<int>(hx), blank)) --hx;
  while (ly <= Y1 && !row_has_data(a, static_cast<int>(ly), blank)) ++ly;
  while (hy >= Y0 && !row_has_data(a, static_cast<int>(hy), blank)) --hy;
  x1 = static_cast<int>(lx);
  x2 = static_cast<int>(hx);
  y1 = static_cast<int>(ly);
  y2 = static_cast<int>(hy);
}

template void nonan<float>(const orv::MArray<float, 2>&, int&, int&, int&, int&, float);
template void nonan<double>(const orv::MArray<double, 2>&, int&, int&, int&, int&, double);
