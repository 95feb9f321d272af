// A model for exercising the fitter: an elliptical Gaussian on a constant
// sky, a1 + a2 exp(-(a3 u² + a4 v²)), u and v the offsets from the centre
// (a5, a6) turned by the angle a7.
#ifndef TESTS_NUMERICS_NUMERICS_MARQUARDT_GAUSS_H
#define TESTS_NUMERICS_NUMERICS_MARQUARDT_GAUSS_H

#include <cmath>

#include "numerics/marquardt.h"

// The model at (x, y) for a[1..7] (a[0] unused); the derivatives by the
// parameters into derivatives[1..7] unless it is null.
inline double gaussModel(double x, double y, const double* a, double* derivatives) {
  const double c = std::cos(a[7]);
  const double s = std::sin(a[7]);
  const double u = (x - a[5]) * c + (y - a[6]) * s;
  const double v = (y - a[6]) * c - (x - a[5]) * s;
  const double g = std::exp(-(a[3] * u * u + a[4] * v * v));
  const double amp = a[2] * g;
  if (derivatives != nullptr) {
    derivatives[1] = 1.0;
    derivatives[2] = g;
    derivatives[3] = -u * u * amp;
    derivatives[4] = -v * v * amp;
    derivatives[5] = (2 * a[3] * u * c - 2 * a[4] * v * s) * amp;
    derivatives[6] = (2 * a[3] * u * s + 2 * a[4] * v * c) * amp;
    derivatives[7] = 2 * (a[4] - a[3]) * u * v * amp;
  }
  return a[1] + amp;
}

// The fitter subclass for that model; counts its model calls.
class GaussFit : public marquardt {
 public:
  using marquardt::marquardt;
  int funcs(double x, double y, const orv::MArray<double, 1>& p, double& yfit,
            orv::MArray<double, 1>& dyda) override {
    double params[8];
    double derivatives[8];
    for (int l = 1; l <= 7; ++l) params[l] = p(l);
    yfit = gaussModel(x, y, params, derivatives);
    for (int l = 1; l <= 7; ++l) dyda(l) = derivatives[l];
    ++calls;
    return 0;
  }
  int calls = 0;
};

#endif
