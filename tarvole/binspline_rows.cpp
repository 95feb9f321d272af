// The one-dimensional binned spline surface: strips of rows and a cubic spline in y.
#include <cmath>
#include <fstream>
#include <iomanip>
#include <iostream>

#include "numerics/spline.h"
#include "orv/fits/fits_image.h"
#include "tarvole/binspline.h"
#include "tarvole/block_means.h"
#include "tarvole/cell_grid.h"
#include "tarvole/knots.h"
#include "tarvole/names.h"

namespace {

// G(l), or blank for a strip outside the array.
double strip_at(const orv::MArray<double, 1>& G, int l, double blank) {
  return l < G.first(1) || l > G.last(1) ? blank : G(l);
}

void close_line(std::ostream& os) {
  os << " ------------------exit binsplineY ------------------------------------" << std::endl;
}

}  // namespace

bool binsplineY(const std::string& name, const orv::MArray<float, 2>& X, const orv::MArray<float, 2>& Y,
                orv::MArray<float, 2>& out, const Pliste& s) {
  std::ostream& os = std::cout;
  const int br = s.binradius;
  const int d = 2 * br + 1;
  const int nx = Y.last(1), ny = Y.last(2);
  const int v = s.verbose;
  const double blank = s.blank;

  os << std::endl << " -------------------- binsplineY " << name << " ------------------" << std::endl;
  print_cell_layout(os, v, d, 3 * d, s.cx, s.cy, true);

  // Strip means over full rows.
  os << "HALLO1" << std::endl;
  const CellAxis ay = cell_axis(s.cy, ny, d);
  const int ly0 = ay.first, ly1 = ay.last;
  orv::MArray<double, 1> G(orv::Range(ly0 - 1, ly1 + 1));
  orv::MArray<double, 1> yc = cell_centres(ay);
  G = blank;
  const bool isAbs = name == "abs", isSky = name == "sky";
  for (int l = ly0; l <= ly1; ++l) {
    long n = 0;
    double sumX = 0.0, sumY = 0.0;
    const long centre = ay.centre_of(l);
    for (long y = std::max<long>(1, centre - br); y <= std::min<long>(ny, centre + br); ++y) {
      const float* px = &X(1, static_cast<int>(y));
      const float* py = &Y(1, static_cast<int>(y));
      for (int i = 0; i < nx; ++i)
        if (px[i] != s.blank && py[i] != s.blank) {
          sumX += px[i];
          sumY += py[i];
          ++n;
        }
    }
    if (n <= d / 3) continue;
    const double mx = sumX / static_cast<double>(n), my = sumY / static_cast<double>(n);
    if (my == 0.0) continue;
    if (isAbs) G(l) = mx / my;
    if (isSky) G(l) = my - mx;
  }
  os << "HALLO2" << std::endl;
  if (v > 0)
    os << std::endl
       << "binning grid: " << std::endl
       << " iy0 = " << ly0 << std::endl
       << " iy1 = " << ly1 << std::endl;

  // Knots on every third strip.
  const int py0 = first_knot(ly0), py1 = last_knot(ly1);
  if (v > 0)
    os << std::endl
       << "median spline grid: " << std::endl
       << " py0 = " << py0 << std::endl
       << " py1 = " << py1 << std::endl;
  out = s.blank;
  auto fail = [&](KnotStatus status) {
    report_knot_failure(status, std::cerr, s.outname);
    close_line(os);
    return false;
  };
  if (py1 <= py0) return fail(KnotStatus::tooFewKnots);
  orv::MArray<double, 1> yk(orv::Range(py0, py1)), zk(orv::Range(py0, py1));
  for (int q = py0; q <= py1; ++q) {
    orv::MArray<double, 1> three(3);
    for (int i = -1; i <= 1; ++i) three(i + 2) = strip_at(G, 3 * q + i, blank);
    double m = orv::median_exact(three, blank);
    for (int w = 1; m == blank && w <= 10; ++w) {
      orv::MArray<double, 1> list(2 * w + 1);
      list = blank;
      int n = 1;
      for (int i = -w; i <= w; ++i)
        if (3 * q + i >= ly0 && 3 * q + i <= ly1) list(n++) = G(3 * q + i);
      m = orv::median_exact(list, blank);
      os << "h: " << w << "   " << m << std::endl;
    }
    zk(q) = m;
    yk(q) = ay.centre_of(3 * q);
  }
  if (!fill_blank_knots(zk, blank, std::cerr, s.outname)) return fail(KnotStatus::noKnotValue);
  double sum = 0.0, squares = 0.0;
  for (int q = py0; q <= py1; ++q) {
    sum += zk(q);
    squares += (zk(q) - 1.0) * (zk(q) - 1.0);
  }
  const int count = py1 - py0 + 1;

  os << std::endl << "binsplinebic spline interpolation..." << std::endl << std::fixed;
  if (v > 0) {
    os << std::endl << "y:" << std::endl << std::setprecision(1) << yk << std::endl;
    os << std::endl << "z:" << std::endl << std::setprecision(3) << zk << std::endl;
    print_knot_summary(os, sum, count, squares, orv::median_exact(zk));
    orv::writeFitsImage("skygrid.fits", zk);
    std::ofstream tab("skygrid.tab");
    for (int q = py0; q <= py1; ++q)
      tab << std::setw(15) << zk(q) << " "
          << "\n";
  }

  orv::MArray<double, 1> z2(orv::Range(py0, py1));
  z2 = 0.0;
  if (sc_splie(yk, zk, z2) != 0) std::cerr << "errors in splie " << s.outname << std::endl;
  if (v > 1) os << std::endl << "z'':" << std::endl << std::setprecision(3) << z2 << std::endl;

  int jx0, jx1, jy0, jy1;
  nonan(Y, jx0, jx1, jy0, jy1, s.blank);
  if (v > 0) print_bounds(os, "image borders: ", {"jx0", "jx1", "jy0", "jy1"}, jx0, jx1, jy0, jy1);

  // Whole rows from one spline value each.
  os << "spline interpolation....." << std::endl;
  long errors = 0;
  for (int y = 1; y <= ny; ++y) {
    double value;
    if (splint(value, y, yk, zk, z2) != 0) {
      ++errors;
      continue;
    }
    float* row = &out(1, y);
    std::fill(row, row + nx, static_cast<float>(value));
  }
  if (errors != 0) std::cerr << errors << " errors in splin " << s.outname << std::endl;

  if (v > 2) {
    orv::MArray<float, 2> bin(Y.length(1), Y.length(2)), median(Y.length(1), Y.length(2));
    bin = 0.0f;
    median = 0.0f;
    auto paintRows = [&](orv::MArray<float, 2>& img, long r0, long r1, double value) {
      for (long y = std::max<long>(r0, jy0); y <= std::min<long>(r1, jy1); ++y)
        for (int x = 1; x <= nx; ++x) img(x, static_cast<int>(y)) = static_cast<float>(value);
    };
    for (int l = ly0; l <= ly1; ++l) paintRows(bin, ay.centre_of(l) - d / 2, ay.centre_of(l) + d / 2, G(l));
    const long lo = ay.centre_of(ly0) - d / 2, hi = ay.centre_of(ly1) + d / 2;
    for (int q = py0; q <= py1; ++q) {
      const long yq = static_cast<long>(yk(q));
      paintRows(median, std::max(yq - 3 * d / 2, lo), std::min(yq + 3 * d / 2, hi), zk(q));
    }
    orv::writeFitsImage(newname(s.outname, name + "_binspline_bin-"), bin);
    orv::writeFitsImage(newname(s.outname, name + "_binspline_median-"), median);
  }
  if (v > 0) {
    const float b = s.blank;
    orv::writeFitsImage(newname(s.outname, name + "_binspline-"),
                        block_means(out, 4, [&](int x, int y) { return out(x, y) != b && Y(x, y) != b; }));
  }
  close_line(os);
  return true;
}
