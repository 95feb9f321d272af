// The free-absorption fit: a constant absorption and a plane sky from the box means of the
// sampling grid, by weighted linear least squares.
#include "tarvole/fit_abs_sky.h"

#include <cmath>
#include <iomanip>
#include <iostream>
#include <string>

#include "numerics/linsolve.h"
#include "tarvole/fit_table.h"
#include "tarvole/sampling_grid.h"

void fit_abs_sky(const Image& R, const Image& /*eR*/, const Image& I, const Image& /*eI*/, Image& A, Image& S,
                 Coefficients& c, Pliste& P) {
  const int nx = R.last(1), ny = R.last(2);
  const SamplingPoints pts = sampling_grid(R, I, nx, ny, P, true);
  std::cout << " sampling points: " << pts.N << std::endl;
  std::cout << " binning..." << std::endl;
  if (P.verbose > 3) {
    std::cout.precision(9);
    for (int k = 1; k <= pts.K; ++k)
      std::cout << std::setw(15) << pts.mR(k) << std::setw(15) << pts.mI(k) << std::endl;
  }
  std::cout << " fitting..." << std::endl;

  // Normal equations of mR = p1*mI - (p2 + p3*dx + p4*dy), weight 1/(sR + sI); the upper triangle
  // is summed and mirrored. A point whose scatters give no finite positive weight (a box of equal
  // pixels) is left out: it would turn every sum into inf or NaN.
  orv::MArray<double, 2> M(4, 4);
  orv::MArray<double, 1> b(4);
  M = 0.0;
  b = 0.0;
  int skipped = 0;
  for (int k = 1; k <= pts.K; ++k) {
    const double scatter = pts.sR(k) + pts.sI(k);
    const double w = 1.0 / scatter;
    if (!(scatter > 0.0) || !std::isfinite(w)) {
      ++skipped;
      continue;
    }
    const double f[4] = {pts.mI(k), -1.0, -(pts.x(k) - P.cx), -(pts.y(k) - P.cy)};
    for (int p = 0; p < 4; ++p) {
      for (int q = p; q < 4; ++q) M(p + 1, q + 1) += w * f[p] * f[q];
      b(p + 1) += w * f[p] * pts.mR(k);
    }
  }
  for (int p = 2; p <= 4; ++p)
    for (int q = 1; q < p; ++q) M(p, q) = M(q, p);
  if (skipped > 0) std::cout << " sampling points without weight, skipped: " << skipped << std::endl;

  // Fewer weighted points than unknowns leave the system underdetermined; a solution from it
  // (and its errors) would be rounding noise.
  bool enough = enoughPoints(pts.K, 4, P);
  if (enough && pts.K - skipped < 4) {
    fail_fit(P, "fewer sampling points with a weight (" + std::to_string(pts.K - skipped) +
                    ") than fitted coefficients (4)");
    enough = false;
  }
  // Too few points make the system as unsolvable as a singular one: the same line is printed.
  const bool solved = enough && solve_normal_system(M, 4, b) == 0;
  if (!solved) std::cout << "Fehler in Angleichung" << std::endl;
  if (enough && !solved) fail_fit(P, "singular fit");

  std::cout.precision(5);
  std::cout << std::endl;
  const char* labels[4] = {" absorption: ", " sky:        ", " sky grad x: ", " sky grad y: "};
  for (int p = 1; p <= 4; ++p)
    std::cout << labels[p - 1] << std::setw(15) << b(p) << " +/- " << std::setw(15) << std::sqrt(M(p, p))
              << std::endl;
  std::cout << std::endl;

  for (int p = 1; p <= 4; ++p) c(p) = b(p);
  c(5) = 0.0;
  c(6) = 0.0;
  const double absorption = b(1), sky = b(2), gradX = b(3), gradY = b(4);
  const int axn = A.last(1), ayn = A.last(2);
  for (int y = 1; y <= ayn; ++y) {
    const double skyRow = gradY * (y - P.cy);
    for (int x = 1; x <= axn; ++x) {
      A(x, y) = static_cast<float>(absorption);
      S(x, y) = static_cast<float>(sky + gradX * (x - P.cx) + skyRow);
    }
  }
}
