// The two-dimensional binned spline surface.
#include "tarvole/binspline.h"

#include <cmath>
#include <fstream>
#include <iomanip>
#include <iostream>

#include "numerics/spline.h"
#include "orv/fits/fits_image.h"
#include "tarvole/block_means.h"
#include "tarvole/cell_grid.h"
#include "tarvole/knots.h"
#include "tarvole/names.h"

namespace {

// "skygrid.fits" and "skygrid.tab": the knot values, fixed names in the
// working directory.
void write_skygrid(const Knots& k) {
  orv::writeFitsImage("skygrid.fits", k.z);
  std::ofstream tab("skygrid.tab");
  for (int q = k.py0; q <= k.py1; ++q) {
    for (int p = k.px0; p <= k.px1; ++p) tab << std::setw(15) << k.z(p, q) << " ";
    tab << "\n";
  }
}

// The cells' values over their d × d squares, and the knots' values over the
// squares of half-width 3d/2, within the image box (and the covered cells).
void write_painted_images(const std::string& name, const orv::MArray<double, 2>& G, const CellMeans& cells,
                          const Knots& k, PixelBox cellBox, const orv::MArray<float, 2>& Y, PixelBox imageBox,
                          int rb, const std::string& outname) {
  orv::MArray<float, 2> bin(Y.length(1), Y.length(2));
  bin = 0.0f;
  paint_cells(G, cells.ax, cells.ay, rb, imageBox, bin);
  orv::writeFitsImage(newname(outname, name + "_binspline_bin-"), bin);

  orv::MArray<float, 2> median(Y.length(1), Y.length(2));
  median = 0.0f;
  const PixelBox area{std::max(imageBox.x0, static_cast<int>(cells.xc(cellBox.x0)) - rb),
                      std::min(imageBox.x1, static_cast<int>(cells.xc(cellBox.x1)) + rb),
                      std::max(imageBox.y0, static_cast<int>(cells.yc(cellBox.y0)) - rb),
                      std::min(imageBox.y1, static_cast<int>(cells.yc(cellBox.y1)) + rb)};
  paint_knots(k, 3 * (2 * rb + 1) / 2, area, median);
  orv::writeFitsImage(newname(outname, name + "_binspline_median-"), median);
}

}  // namespace

bool binspline(const std::string& name, const orv::MArray<float, 2>& X, const orv::MArray<float, 2>& Y,
               orv::MArray<float, 2>& out, const Pliste& s) {
  std::ostream& os = std::cout;
  const int rb = s.binradius;
  const int d = 2 * rb + 1;
  const int nx = Y.last(1), ny = Y.last(2);
  const int v = s.verbose;

  os << std::endl << " -------------------- binspline " << name << " ------------------" << std::endl;
  print_cell_layout(os, v, d, 3 * d, s.cx, s.cy, true);

  // Means of X and Y over every cell, and the cell value from them: X/Y for "abs", Y - X for
  // "sky"; a cell without both means, or with a mean of Y of 0, stays blank.
  const CellShape cell(rb);
  CellMeans cells;
  cell_means(X, Y, cell, cell_axis(s.cx, nx, d), cell_axis(s.cy, ny, d), d * d / 3, s.blank, cells);
  const double blank = s.blank;
  orv::MArray<double, 2> G = cell_grid(cells.ax, cells.ay, blank);
  const bool isAbs = name == "abs", isSky = name == "sky";
  for (int ky = cells.ay.first; ky <= cells.ay.last; ++ky)
    for (int kx = cells.ax.first; kx <= cells.ax.last; ++kx) {
      const double mx = cells.mx(kx, ky), my = cells.my(kx, ky);
      if (mx == blank || my == blank || my == 0.0) continue;
      if (isAbs) G(kx, ky) = mx / my;
      if (isSky) G(kx, ky) = my - mx;
    }

  // The box of cells that hold a value, and the knots on every third cell within it.
  int ix0, ix1, iy0, iy1;
  nonan(G, ix0, ix1, iy0, iy1, blank);
  Knots k;
  const KnotStatus status = knot_ranges(ix0, ix1, iy0, iy1, k);
  if (v > 0) {
    print_bounds(os, "binning grid: ", {"ix0", "ix1", "iy0", "iy1"}, ix0, ix1, iy0, iy1);
    print_bounds(os, "median spline grid: ", {"px0", "px1", "py0", "py1"}, k.px0, k.px1, k.py0, k.py1);
  }
  out = s.blank;
  auto fail = [&](KnotStatus why) {
    report_knot_failure(why, std::cerr, s.outname);
    os << "spline interpolation....." << std::endl
       << " ------------------------------------------------------" << std::endl;
    return false;
  };
  if (status != KnotStatus::ok) return fail(status);

  // Knot values: the median of the 3 x 3 cells around each knot, widened where all are blank.
  const KnotStatus valued = knot_values(G, cells.ax, cells.ay, s.blank, os, std::cerr, s.outname, k);
  if (valued != KnotStatus::ok) return fail(valued);
  os << std::endl << "binsplinebic spline interpolation..." << std::endl << std::fixed;
  if (v > 0) {
    os << std::endl << "x:" << std::endl << std::setprecision(1) << k.xs << std::endl;
    os << std::endl << "y:" << std::endl << k.ys << std::endl;
    os << std::endl << "z:" << std::endl << std::setprecision(3) << k.z << std::endl;
    print_knot_summary(os, k.sum, static_cast<double>(k.count), k.sumSquaredFromOne, orv::median_exact(k.z));
    write_skygrid(k);
  }

  // The bicubic spline through the knots, evaluated over every pixel of out.
  const orv::MArray<double, 2> z2 = knot_second_derivatives(k, os, v, s.outname);

  int jx0, jx1, jy0, jy1;
  nonan(Y, jx0, jx1, jy0, jy1, s.blank);
  if (v > 0) print_bounds(os, "image borders: ", {"jx0", "jx1", "jy0", "jy1"}, jx0, jx1, jy0, jy1);
  os << "spline interpolation....." << std::endl;
  const long errors = evaluate_surface(k, z2, out, 1, nx, 1, ny, false);
  if (errors != 0) std::cerr << errors << " errors in " << s.outname << std::endl;

  if (v > 2)
    write_painted_images(name, G, cells, k, {ix0, ix1, iy0, iy1}, Y, {jx0, jx1, jy0, jy1}, rb, s.outname);
  if (v > 0) {
    const float b = s.blank;
    orv::writeFitsImage(newname(s.outname, name + "_binspline-"),
                        block_means(out, 4, [&](int x, int y) { return out(x, y) != b && Y(x, y) != b; }));
  }
  os << " ------------------------------------------------------" << std::endl;
  return true;
}
