// The iterated sampling-grid fit with gradients of absorption and sky, and a smoothed residual
// surface from the binned spline.
#include "tarvole/very_new.h"

#include <cmath>
#include <iomanip>
#include <iostream>

#include "numerics/linsolve.h"
#include "tarvole/binspline.h"
#include "tarvole/fit_table.h"
#include "tarvole/names.h"
#include "tarvole/sampling_grid.h"

namespace {

// Exchanges unknowns i and j in the normal system (rows, columns and right-hand side).
void exchange_unknowns(orv::MArray<double, 2>& M, orv::MArray<double, 1>& b, int i, int j) {
  for (int k = 1; k <= 6; ++k) std::swap(M(i, k), M(j, k));
  for (int k = 1; k <= 6; ++k) std::swap(M(k, i), M(k, j));
  std::swap(b(i), b(j));
}

}  // namespace

void very_new(const Image& R, const Image& /*eR*/, const Image& I, const Image& /*eI*/, Image& A, Image& S,
              Coefficients& c, Pliste& P) {
  std::ostream& os = std::cout;
  const int nx = I.last(1), ny = I.last(2);
  os << std::endl << "fitting large binned area..." << std::endl;
  const GridLayout g = grid_layout(P.region, nx, ny, P.intervall);
  os << std::endl << " sampling points: nboxes = " << g.columns * g.rows << std::endl;
  Image Q(A.getShape());
  A = 1.0f;
  S = 0.0f;
  P.runs = 1;
  os << "P.runs = " << P.runs << std::endl;

  for (int iteration = 1; iteration <= P.runs; ++iteration) {
    os << std::endl << " binning..." << std::endl;
    const SamplingPoints pts = sampling_grid(R, I, nx, ny, P, false);
    const int K = pts.K;
    os << "n = " << K << std::endl;
    if (P.verbose > 3 && K != 0) print_point_means(os, pts);

    // The ellipse about the centre that reaches the farther region edge in x and in y.
    float rx = std::max(std::abs(P.cx - g.x1), std::abs(g.x2 - P.cx));
    float ry = std::max(std::abs(P.cy - g.y1), std::abs(g.y2 - P.cy));
    if (P.verbose > 1) os << " rx = " << rx << std::endl << " ry = " << ry << std::endl;
    if (!P.rOund) rx = ry = 1e10f;
    if (P.verbose > 1) {
      os.precision(9);
      os << "radius from center: " << std::setw(15) << rx << std::setw(15) << ry << std::endl;
    }
    auto selected = [&](int k) {
      const float u = (static_cast<float>(pts.x(k)) - P.cx) / rx;
      const float v = (static_cast<float>(pts.y(k)) - P.cy) / ry;
      return u * u + v * v <= 1.0f;
    };

    // mI (1 + b3 dx + b4 dy) = b1 mR + b2 + b5 dx + b6 dy, unweighted.
    orv::MArray<double, 2> M(6, 6);
    orv::MArray<double, 1> b(6);
    M = 0.0;
    b = 0.0;
    for (int k = 1; k <= K; ++k) {
      if (!selected(k)) continue;
      const double dx = pts.x(k) - P.cx, dy = pts.y(k) - P.cy, mI = pts.mI(k);
      const double f[6] = {pts.mR(k), 1.0, -dx * mI, -dy * mI, dx, dy};
      for (int p = 0; p < 6; ++p) {
        for (int q = 0; q < 6; ++q) M(p + 1, q + 1) += f[p] * f[q];
        b(p + 1) += f[p] * mI;
      }
    }
    // Too few points leave b at 0: no solve, and the failure is already reported.
    int selectedPoints = 0;
    for (int k = 1; k <= K; ++k) selectedPoints += selected(k) ? 1 : 0;
    const bool enough = enoughPoints(selectedPoints, P.const_sky ? 2 : (P.fitnew || P.const_abs) ? 4 : 6, P);
    int status = 0;
    if (!enough) {
      // As unsolvable as a singular system: the same line is printed.
      os << " Fehler in Angleichung" << std::endl;
    } else if (P.fitnew) {
      exchange_unknowns(M, b, 3, 5);
      exchange_unknowns(M, b, 4, 6);
      status = solve_normal_system(M, 4, b);
      b(5) = b(3);
      b(6) = b(4);
      b(3) = b(4) = 0.0;
    } else if (P.const_sky) {
      status = solve_normal_system(M, 2, b);
      b(3) = b(4) = b(5) = b(6) = 0.0;
    } else if (P.const_abs) {
      status = solve_normal_system(M, 4, b);
      b(5) = b(6) = 0.0;
    } else {
      status = solve_normal_system(M, 6, b);
    }
    if (status != 0) {
      os << " Fehler in Angleichung" << std::endl;
      fail_fit(P, "singular fit");
    }
    const double b1 = b(1), b2 = b(2), b3 = b(3), b4 = b(4), b5 = b(5), b6 = b(6);

    int selectedCount = 0;
    double chi2 = 0.0;
    for (int k = 1; k <= K; ++k) {
      if (!selected(k)) continue;
      const double dx = pts.x(k) - P.cx, dy = pts.y(k) - P.cy;
      const double r = (1 + b3 * dx + b4 * dy) * pts.mI(k) - b1 * pts.mR(k) - b2 - b5 * dx - b6 * dy;
      ++selectedCount;
      chi2 += r * r;
    }
    const double nchi = std::sqrt(chi2 / K);

    os << std::endl
       << " effective binning points = " << selectedCount << " from " << K << std::endl
       << std::endl;
    GradientModel model;
    for (int i = 1; i <= 6; ++i) model.b[i] = b(i);
    print_fit_table(os, iteration, model, true, nchi, P.outname);

    if (b1 == 0.0) {
      // No scale: nothing can be divided by it. A and S keep 1 and 0.
      os << " no absorption scale (abs=Ima/Ref is 0): absorption 1 and sky 0 are kept" << std::endl;
      fail_fit(P, "no absorption scale (absorption is 0)");
      c(1) = 1.0;
      for (int i = 2; i <= 6; ++i) c(i) = 0.0;
      return;
    }
    set_gradient_coefficients(c, model);

    // The image modelled from the reference (M1) and the image with its absorption gradient (M2).
    Image M1(R.getShape()), M2(R.getShape());
    for (int y = 1; y <= R.last(2); ++y) {
      const double dy = y - P.cy;
      for (int x = 1; x <= R.last(1); ++x) {
        const double dx = x - P.cx;
        M1(x, y) = R(x, y) == P.blank ? P.blank : static_cast<float>(R(x, y) * b1 + b2 + b5 * dx + b6 * dy);
        M2(x, y) = I(x, y) == P.blank ? P.blank : static_cast<float>(I(x, y) * (1 + b3 * dx + b4 * dy));
      }
    }
    // The "abs" call runs for its prints and files; the second call's surface is used.
    const bool absBuilt = binspline("abs", M1, M2, Q, P);
    const bool residualBuilt = binspline(P.fitvariable, M1, M2, Q, P);
    if (!absBuilt || !residualBuilt)
      fail_fit(P,
               std::string("binned-spline fit failed: ") + (absBuilt ? P.fitvariable : "abs") + " surface");

    for (int y = 1; y <= ny; ++y) {
      const double dy = y - P.cy;
      for (int x = 1; x <= nx; ++x) {
        if (Q(x, y) == P.blank) continue;
        const double dx = x - P.cx;
        A(x, y) = static_cast<float>((1 + b3 * dx + b4 * dy) / b1);
        S(x, y) = static_cast<float>((b2 + b5 * dx + b6 * dy + Q(x, y)) / b1);
      }
    }
  }
}

void very_new_outputs(const Pliste& P, std::vector<std::string>& names) {
  for (const std::string& word : {std::string("abs"), P.fitvariable}) {
    if (P.verbose > 0) names.push_back(newname(P.outname, word + "_binspline-"));
    if (P.verbose > 2) {
      names.push_back(newname(P.outname, word + "_binspline_bin-"));
      names.push_back(newname(P.outname, word + "_binspline_median-"));
    }
  }
  if (P.verbose > 0) {
    names.push_back("skygrid.fits");
    names.push_back("skygrid.tab");
  }
}
