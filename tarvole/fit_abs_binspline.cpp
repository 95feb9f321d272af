// The binned-spline absorption fit: a plane fit on the sampling grid, then a spline surface of
// the absorption from 61-pixel cell means of the reference and the image.
#include "tarvole/fit_abs_binspline.h"

#include <iomanip>
#include <iostream>

#include "numerics/linsolve.h"
#include "tarvole/cell_grid.h"
#include "tarvole/fit_table.h"
#include "tarvole/fixed_surface.h"
#include "tarvole/names.h"
#include "tarvole/sampling_grid.h"

namespace {

const FixedSurfaceStyle absStyle{"abs", "binsplinebic spmine interpolation...", false, false, true, false};

// Solves the 4 × 4 system for 4 unknowns, or for 2 with a constant sky (then p3 = p4 = 0), and
// prints the four values; false when the system is singular.
bool solve_plane(orv::MArray<double, 2>& M, orv::MArray<double, 1>& b, bool constSky) {
  const int status = solve_normal_system(M, constSky ? 2 : 4, b);
  if (constSky) b(3) = b(4) = 0.0;
  if (status != 0) std::cout << " Fehler in Angleichung" << std::endl;
  std::cout.precision(5);
  std::cout << std::endl;
  const char* labels[4] = {" absorption: ", " sky:        ", " sky grad x: ", " sky grad y: "};
  for (int p = 1; p <= 4; ++p) std::cout << labels[p - 1] << std::setw(15) << b(p) << std::endl;
  std::cout << std::endl;
  return status == 0;
}

// Adds one point of basis (f1, 1, dx, dy) and target t to the upper triangle of M and to b.
void add_point(orv::MArray<double, 2>& M, orv::MArray<double, 1>& b, double f1, double dx, double dy,
               double t) {
  const double f[4] = {f1, 1.0, dx, dy};
  for (int p = 0; p < 4; ++p) {
    for (int q = p; q < 4; ++q) M(p + 1, q + 1) += f[p] * f[q];
    b(p + 1) += f[p] * t;
  }
}

void mirror_upper_triangle(orv::MArray<double, 2>& M) {
  for (int p = 2; p <= 4; ++p)
    for (int q = 1; q < p; ++q) M(p, q) = M(q, p);
}

// The median of the five cells of the cross around (k, l), blank cells and cells outside the
// grid left out.
double cross_median(const orv::MArray<double, 2>& grid, int k, int l, double blank) {
  orv::MArray<double, 1> cells(9);
  int n = 1;
  for (int j = -1; j <= 1; ++j)
    for (int i = -1; i <= 1; ++i) {
      const int kx = k + i, ky = l + j;
      const bool inside =
          kx >= grid.first(1) && kx <= grid.last(1) && ky >= grid.first(2) && ky <= grid.last(2);
      cells(n++) = i * i + j * j < 2 && inside ? grid(kx, ky) : blank;
    }
  return orv::median_exact(cells, blank);
}

}  // namespace

void fit_abs_binspline(const Image& R, const Image& /*eR*/, const Image& I, const Image& eI, Image& A,
                       Image& S, Coefficients& c, Pliste& P) {
  std::ostream& os = std::cout;
  const int nx = R.last(1), ny = R.last(2);
  const double blank = P.blank;
  for (int i = 1; i <= 6; ++i) c(i) = 0.0;

  // Plane fit: mI = p1 mR + p2 + p3 dx + p4 dy over all kept points.
  os << std::endl << "fitting large binned area..." << std::endl;
  const GridLayout g = grid_layout(P.region, nx, ny, P.intervall);
  os << " sampling points: " << g.columns * g.rows << std::endl;
  os << " binning..." << std::endl;
  const SamplingPoints pts = sampling_grid(R, I, nx, ny, P, false);
  if (P.verbose > 3) print_point_means(os, pts);
  orv::MArray<double, 2> M(4, 4);
  orv::MArray<double, 1> p(4);
  M = 0.0;
  p = 0.0;
  for (int k = 1; k <= pts.K; ++k) add_point(M, p, pts.mR(k), pts.x(k) - P.cx, pts.y(k) - P.cy, pts.mI(k));
  mirror_upper_triangle(M);
  // Too few points make the system as unsolvable as a singular one: the same line is printed.
  const bool enough = enoughPoints(pts.K, P.const_sky ? 2 : 4, P);
  if (!enough) std::cout << " Fehler in Angleichung" << std::endl;
  const bool planeSolved = enough && solve_plane(M, p, P.const_sky);
  const double p1 = p(1), p2 = p(2), p3 = p(3), p4 = p(4);
  if (!planeSolved || p1 == 0.0) {
    // Nothing to divide by: the absorption and sky stay blank.
    if (planeSolved)
      os << " no absorption scale (absorption is 0): absorption and sky left blank" << std::endl;
    fail_fit(P, planeSolved ? "no absorption scale (absorption is 0)" : "singular fit");
    c(1) = c(2) = blank;
    return;
  }

  // Cell means of R and I.
  print_cell_layout(os, P.verbose, fixedCellStep, 3 * fixedCellStep, P.cx, P.cy, false);
  CellMeans cells;
  cell_means(R, I, CellShape(fixedCellRadius), cell_axis(P.cx, nx, fixedCellStep),
             cell_axis(P.cy, ny, fixedCellStep), fixedCellMinCount, P.blank, cells);

  // Check fit on nine cross medians, printed only.
  os << std::endl << "test fitting with different binning method ..." << std::endl;
  orv::MArray<double, 2> Mq(4, 4);
  orv::MArray<double, 1> q(4);
  Mq = 0.0;
  q = 0.0;
  for (int l = -3; l <= 3; l += 3)
    for (int k = -3; k <= 3; k += 3)
      add_point(Mq, q, cross_median(cells.mx, k, l, blank), fixedCellStep * k, fixedCellStep * l,
                cross_median(cells.my, k, l, blank));
  mirror_upper_triangle(Mq);
  os << " sampling points: " << 9 << std::endl;
  solve_plane(Mq, q, P.const_sky);

  // Cell values of the absorption shape; binsplinedez after binspline.
  orv::MArray<double, 2> G = cell_grid(cells.ax, cells.ay, blank);
  for (int l = cells.ay.first; l <= cells.ay.last; ++l)
    for (int k = cells.ax.first; k <= cells.ax.last; ++k) {
      const double m1 = cells.mx(k, l), m2 = cells.my(k, l);
      if (m1 == blank || m2 == blank || m2 == 0.0) continue;
      const double plane = p2 + p3 * (cells.xc(k) - P.cx) + p4 * (cells.yc(l) - P.cy);
      if (P.binspline) G(k, l) = (m1 * p1 + plane) / m2;
      if (P.binsplinedez) {
        // A zero denominator leaves the cell blank instead of an infinite knot.
        const double denominator = m2 - plane;
        G(k, l) = denominator != 0.0 ? m1 * p1 / denominator : blank;
      }
    }

  Image Z(A.getShape());
  if (!fixed_cell_surface(G, cells.ax, cells.ay, I, Z, P, absStyle))
    fail_fit(P, "absorption surface could not be built");
  write_fixed_surface_blocks(Z, I, eI, P, "abs");

  for (int y = 1; y <= ny; ++y) {
    const double dy = y - P.cy;
    for (int x = 1; x <= nx; ++x) {
      const double z = Z(x, y);
      if (z == blank) continue;
      const double plane = p2 + p3 * (x - P.cx) + p4 * dy;
      A(x, y) = static_cast<float>(z / p1);
      S(x, y) = static_cast<float>(P.binsplinedez ? plane * z / p1 : plane / p1);
    }
  }
  c(1) = A(std::max(nx / 2, 1), std::max(ny / 2, 1));
  c(2) = S(std::max(nx / 2, 1), std::max(ny / 2, 1));
}

void fit_abs_binspline_outputs(const Pliste& P, std::vector<std::string>& names) {
  if (P.verbose > 1)
    for (const char* word : {"abs_binspline_bin-", "abs_binspline_median-", "abs_binspline-"})
      names.push_back(newname(P.outname, word));
}
