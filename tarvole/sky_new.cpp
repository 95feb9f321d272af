// Constant absorption and a sky made of a plane plus a spline surface of the plane model's
// residual, averaged in 61-pixel cells.
#include "tarvole/sky_new.h"

#include <cmath>
#include <iomanip>
#include <iostream>

#include "numerics/linsolve.h"
#include "tarvole/cell_grid.h"
#include "tarvole/fit_table.h"
#include "tarvole/fixed_surface.h"
#include "tarvole/names.h"
#include "tarvole/sampling_grid.h"

namespace {

const FixedSurfaceStyle skyNewStyle{"sky", "binsplinebic spline interpolation...", true, true, false, true};

}  // namespace

void sky_new(const Image& R, const Image& /*eR*/, const Image& I, const Image& eI, Image& A, Image& S,
             Coefficients& c, Pliste& P) {
  std::ostream& os = std::cout;
  const int nx = R.last(1), ny = R.last(2);
  const GridLayout g = grid_layout(P.region, nx, ny, P.intervall);
  os << std::endl << "fitting large binned area..." << std::endl;
  os << " sampling points: " << g.columns * g.rows << std::endl;
  Image Z(A.getShape());
  A = 1.0f;
  S = 0.0f;
  Z = 0.0f;
  P.runs = 1;

  for (int pass = 1; pass <= P.runs; ++pass) {
    os << " binning..." << std::endl;
    const SamplingPoints pts = sampling_grid(R, I, nx, ny, P, false);
    if (P.verbose > 3) print_point_means(os, pts);

    // Plane fit mI = a mR + s0 + gx dx + gy dy over the points inside the ellipse inscribed in
    // the region, unweighted.
    const float midX = static_cast<float>((g.x1 + g.x2) / 2), midY = static_cast<float>((g.y1 + g.y2) / 2);
    const float halfX = (g.x2 - g.x1) * 0.5f, halfY = (g.y2 - g.y1) * 0.5f;
    orv::MArray<double, 2> M(4, 4);
    orv::MArray<double, 1> b(4);
    M = 0.0;
    b = 0.0;
    int used = 0;
    for (int k = 1; k <= pts.K; ++k) {
      const float u = (static_cast<float>(pts.x(k)) - midX) / halfX;
      const float v = (static_cast<float>(pts.y(k)) - midY) / halfY;
      if (!(u * u + v * v <= 1.0f)) continue;
      ++used;
      const double f[4] = {pts.mR(k), 1.0, pts.x(k) - P.cx, pts.y(k) - P.cy};
      for (int p = 0; p < 4; ++p) {
        for (int q = 0; q < 4; ++q) M(p + 1, q + 1) += f[p] * f[q];
        b(p + 1) += f[p] * pts.mI(k);
      }
    }
    // Too few points make the system as unsolvable as a singular one: the same line is printed.
    const bool enough = enoughPoints(used, 4, P);
    if (!enough || solve_normal_system(M, 4, b) != 0) {
      os << " Fehler in Angleichung" << std::endl;
      if (enough) fail_fit(P, "singular fit");
    }
    const double a = b(1), s0 = b(2), gx = b(3), gy = b(4);

    GradientModel model;
    model.b[1] = a;
    model.b[2] = s0;
    model.b[5] = gx;
    model.b[6] = gy;
    os << std::endl;
    print_fit_table(os, pass, model, false, 0.0, P.outname);

    if (a == 0.0) {
      // No scale: nothing can be divided by it; the absorption stays blank.
      os << " no absorption scale (abs=Ima/Ref is 0): absorption left blank" << std::endl;
      fail_fit(P, "no absorption scale (absorption is 0)");
      A = P.blank;
      S = P.blank;
      for (int i = 1; i <= 6; ++i) c(i) = 0.0;
      return;
    }
    set_gradient_coefficients(c, model);

    // Mean residual (model at the cell centre minus image) in the 61-pixel cells.
    print_cell_layout(os, P.verbose, fixedCellStep, 3 * fixedCellStep, P.cx, P.cy, false);
    const CellAxis ax = cell_axis(P.cx, nx, fixedCellStep), ay = cell_axis(P.cy, ny, fixedCellStep);
    orv::MArray<double, 2> G = cell_grid(ax, ay, P.blank);
    const CellShape cell(fixedCellRadius);
    for (int l = ay.first; l <= ay.last; ++l)
      for (int k = ax.first; k <= ax.last; ++k) {
        const int xk = ax.centre_of(k), yl = ay.centre_of(l);
        const double gradX = gx * (xk - P.cx), gradY = gy * (yl - P.cy);
        long n = 0;
        double sum = 0.0;
        cell.for_each_run(xk, yl, nx, ny, [&](int y, int x0, int x1) {
          const float* pr = &R(x0, y);
          const float* pi = &I(x0, y);
          for (int i = 0; i <= x1 - x0; ++i)
            if (pr[i] != P.blank && pi[i] != P.blank) {
              sum += a * pr[i] + s0 + gradX + gradY - pi[i];
              ++n;
            }
        });
        if (n > fixedCellMinCount) G(k, l) = sum / static_cast<double>(n);
      }

    if (!fixed_cell_surface(G, ax, ay, I, Z, P, skyNewStyle)) fail_fit(P, "sky surface could not be built");

    A = P.blank;
    for (int y = 1; y <= ny; ++y) {
      const double dy = y - P.cy;
      for (int x = 1; x <= nx; ++x) {
        if (Z(x, y) == P.blank) continue;
        A(x, y) = static_cast<float>(1.0 / a);
        S(x, y) = static_cast<float>((s0 + gx * (x - P.cx) + gy * dy - Z(x, y)) / a);
      }
    }
  }
  write_fixed_surface_blocks(Z, I, eI, P, "sky");
}

void sky_new_outputs(const Pliste& P, std::vector<std::string>& names) {
  if (P.verbose > 1)
    for (const char* word : {"sky_binspline_bin-", "sky_binspline_median-", "sky_binspline-"})
      names.push_back(newname(P.outname, word));
}
