// Point listings, fit tables and coefficients of the gradient fits.
#include "tarvole/fit_table.h"

#include <cmath>
#include <iomanip>
#include <vector>

#include "numerics/linsolve.h"

void print_point_means(std::ostream& os, const SamplingPoints& pts) {
  os.precision(9);
  for (int k = 1; k <= pts.K; ++k)
    os << std::setw(15) << pts.mR(k) << std::setw(15) << pts.mI(k) << std::endl;
}

void print_fit_table(std::ostream& os, int iteration, const GradientModel& m, bool withChi, double nchi,
                     const std::string& outname) {
  os << "      iteration"
     << "    abs=Ima/Ref"
     << "        sky/abs"
     << "  skygrad x/abs"
     << "  skygrad y/abs"
     << "     absIgrad x"
     << "     absIgrad y";
  if (withChi) os << "           nchi";
  os << "   method one    " << std::endl << std::fixed;
  const double* b = m.b;
  os << std::setw(15) << iteration << std::setprecision(5) << std::setw(15) << b[1] << std::setprecision(1)
     << std::setw(15) << b[2] / b[1] << std::setprecision(4) << std::setw(15) << b[5] / b[1] << std::setw(15)
     << b[6] / b[1] << std::setprecision(8) << std::setw(15) << b[3] << std::setw(15) << b[4];
  if (withChi) os << std::setw(15) << nchi;
  os << "   " << outname << std::endl;
}

void set_gradient_coefficients(orv::MArray<double, 1>& c, const GradientModel& m) {
  c(1) = 1.0 / m.b[1];
  c(2) = m.b[2] / m.b[1];
  c(3) = m.b[5] / m.b[1];
  c(4) = m.b[6] / m.b[1];
  c(5) = m.b[3];
  c(6) = m.b[4];
}

bool enoughPoints(int points, int unknowns, Pliste& P) {
  if (points >= unknowns) return true;
  if (points == 0)
    fail_fit(P, "no sampling point inside the image");
  else
    fail_fit(P, "fewer sampling points (" + std::to_string(points) + ") than fitted coefficients (" +
                    std::to_string(unknowns) + ")");
  return false;
}

int solve_normal_system(orv::MArray<double, 2>& M, int n, orv::MArray<double, 1>& b) {
  std::vector<double> scale(n + 1), matrix(static_cast<std::size_t>(n + 1) * (n + 1));
  for (int i = 1; i <= n; ++i) {
    scale[i] = std::sqrt(std::abs(M(i, i)));
    for (int j = 1; j <= n; ++j) matrix[i * (n + 1) + j] = M(i, j);
  }
  const int status = gaussj(M, n, b);
  if (status != 0) return status;
  double norm = 0.0, inverseNorm = 0.0;
  for (int i = 1; i <= n; ++i) {
    if (!(scale[i] > 0.0)) return -1;
    double row = 0.0, inverseRow = 0.0;
    for (int j = 1; j <= n; ++j) {
      row += std::abs(matrix[i * (n + 1) + j]) / (scale[i] * scale[j]);
      inverseRow += std::abs(M(i, j)) * scale[i] * scale[j];
    }
    norm = std::max(norm, row);
    inverseNorm = std::max(inverseNorm, inverseRow);
  }
  const double condition = norm * inverseNorm;
  return std::isfinite(condition) && condition < 1e12 ? 0 : -1;
}
