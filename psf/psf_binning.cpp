// Integration of the fine-grid PSF onto the pixel grid at one sub-pixel shift,
// and the tables of all tabulated shifts.

#include <algorithm>
#include <cmath>
#include <iostream>

#include "psf/korven_lib.h"

namespace {

// The whole number of fine cells nearest to a shift of d pixels: halves go
// upward for d·S >= -0.5 and away from zero below (0.5 -> 1, -0.5 -> 0,
// -1.5 -> -2).
int fine_offset(double d, int subgrid) {
  double t = d * subgrid + 0.5;
  if (t < 0) t = t - 1;
  return static_cast<int>(t);
}

bool has_ranges(const orv::MArray<double, 2>& a, int lo, int hi) {
  return !a.isEmpty() && a.first(1) == lo && a.last(1) == hi && a.first(2) == lo && a.last(2) == hi;
}

}  // namespace

void psf::binning(double dx, double dy) {
  const int R = _analyt;
  // The pixel-grid arrays keep their storage from call to call; they are made
  // only when they lack the -R..R ranges (e.g. after set_analyt).
  if (!has_ranges(_binned_psf, -R, R) || !has_ranges(_ebinned_psf, -R, R)) {
    _binned_psf.makeReference(orv::MArray<double, 2>(orv::Range(-R, R), orv::Range(-R, R)));
    _ebinned_psf.makeReference(orv::MArray<double, 2>(orv::Range(-R, R), orv::Range(-R, R)));
  }
  _binned_psf = 0.0;
  _ebinned_psf = 0.0;
  if (_psf.isEmpty() || _epsf.isEmpty()) return;

  const int S = _subgrid;
  const int ox = fine_offset(dx, S);
  const int oy = fine_offset(dy, S);
  const int h = S / 2;
  // Cells a pixel may collect: inside both fine-grid arrays.
  const int xlo = std::max(_psf.first(1), _epsf.first(1));
  const int xhi = std::min(_psf.last(1), _epsf.last(1));
  const int ylo = std::max(_psf.first(2), _epsf.first(2));
  const int yhi = std::min(_psf.last(2), _epsf.last(2));

  for (int i = -R; i <= R; ++i) {
    const int x0 = S * i - ox - h;
    const int x1 = S * i - ox + h;
    if (x0 < xlo || x1 > xhi) continue;
    for (int j = -R; j <= R; ++j) {
      const int y0 = S * j - oy - h;
      const int y1 = S * j - oy + h;
      if (y0 < ylo || y1 > yhi) continue;
      // A zero cell or a non-positive error excludes the whole pixel.
      double sum = 0.0;
      double var = 0.0;
      bool valid = true;
      for (int x = x0; x <= x1 && valid; ++x) {
        for (int y = y0; y <= y1; ++y) {
          const double p = _psf(x, y);
          const double e = _epsf(x, y);
          if (p == 0.0 || !(e > 0.0)) {
            valid = false;
            break;
          }
          sum += p;
          var += e * e;
        }
      }
      if (valid) {
        _binned_psf(i, j) = sum;
        _ebinned_psf(i, j) = std::sqrt(var);
      }
    }
  }
}

void psf::calc_base(int subpixel, int) {
  // P < 1 would give no shift at all (and q = 1/0): nothing changes.
  if (subpixel < 1) {
    std::cout << "error: please use a positive subpixel value!" << std::endl;
    return;
  }
  if (subpixel % 2 == 0) std::cout << "error: please use an odd subpixel value!" << std::endl;
  _subpixel = subpixel;
  const int H = _subpixel / 2;
  const int R = _analyt;
  const orv::Range shifts(-H, H);
  const orv::Range pixels(-R, R);
  _all_binned_psf.makeReference(orv::MArray<double, 4>(shifts, shifts, pixels, pixels));
  _all_ebinned_psf.makeReference(orv::MArray<double, 4>(shifts, shifts, pixels, pixels));
  _all_e2binned_psf.makeReference(orv::MArray<double, 4>(shifts, shifts, pixels, pixels));
  _all_binned_psf = 0.0;
  _all_ebinned_psf = 0.0;
  _all_e2binned_psf = 0.0;
  if (_subpixel >= _subgrid) std::cerr << " _subpixel >= _subgrid !!!!!" << std::endl;

  const double q = 1.0 / _subpixel;
  for (int sx = -H; sx <= H; ++sx) {
    for (int sy = -H; sy <= H; ++sy) {
      binning(sx * q, sy * q);
      for (int i = -R; i <= R; ++i) {
        for (int j = -R; j <= R; ++j) {
          const double e = _ebinned_psf(i, j);
          _all_binned_psf(sx, sy, i, j) = _binned_psf(i, j);
          _all_ebinned_psf(sx, sy, i, j) = e;
          _all_e2binned_psf(sx, sy, i, j) = e * e;
        }
      }
    }
  }
}

bool psf::tables_ready__() const {
  const int H = _subpixel / 2;
  const int R = _analyt;
  if (_subpixel < 1) return false;
  for (const orv::MArray<double, 4>* t : {&_all_binned_psf, &_all_ebinned_psf, &_all_e2binned_psf}) {
    if (t->isEmpty()) return false;
    for (int d = 1; d <= 2; ++d)
      if (t->first(d) != -H || t->last(d) != H) return false;
    for (int d = 3; d <= 4; ++d)
      if (t->first(d) != -R || t->last(d) != R) return false;
  }
  return true;
}

int psf::shift_index__(double f) const {
  const int H = _subpixel / 2;
  const long s = std::lrint(_subpixel * f);
  return static_cast<int>(std::clamp<long>(s, -H, H));
}

psf::star_spot__ psf::locate__(double x, double y) const {
  star_spot__ s;
  s.ix = static_cast<int>(std::lrint(x));
  s.iy = static_cast<int>(std::lrint(y));
  s.fx = x - s.ix;
  s.fy = y - s.iy;
  s.sx = shift_index__(s.fx);
  s.sy = shift_index__(s.fy);
  return s;
}

int psf::box_half__(double radius) const {
  const double h = std::fabs(radius) + 0.5;
  return h < _analyt ? static_cast<int>(h) : _analyt;
}
