#ifndef LIGHTCURVE_TRANSIT_MODEL_H
#define LIGHTCURVE_TRANSIT_MODEL_H

// Numerical routines of the analytic transit model: Carlson's symmetric
// elliptic integrals, the complete elliptic integrals K and E, and the
// trapezoidal integral of sampled values.

#include <algorithm>

#include "orv/marray.h"

// Carlson's R_F(x, y, z), R_C(x, y) and R_J(x, y, z, p) by the duplication
// algorithm. Arguments outside the valid range print a message on standard
// output and the computation goes on with them.
double rf_(double x, double y, double z);
double rc_(double x, double y);
double rj_(double x, double y, double z, double p);

// Complete elliptic integrals K(k) and E(k) of the modulus k, by Hastings'
// polynomial approximations in m1 = 1 - k^2 (absolute error below 2e-8).
double ellk_(double k);
double ellec_(double k);

// Trapezoidal integral of y over x across the index range of y (x is taken
// from its own first index on, and a shorter x shortens the range). Equal
// first and last abscissae give the first ordinate.
template <typename T>
T integ(const orv::MArray<T, 1>& y, const orv::MArray<T, 1>& x) {
  const int n = std::min(y.length(1), x.length(1));
  if (n < 1) return T(0);
  const int fy = y.first(1), fx = x.first(1);
  const T yf = y(fy), xf = x(fx);
  const T yl = y(fy + n - 1), xl = x(fx + n - 1);
  if (xf == xl) return yf;
  T sum = yl * xl - yf * xf;
  for (int i = 0; i + 1 < n; ++i) sum += y(fy + i) * x(fx + i + 1) - y(fy + i + 1) * x(fx + i);
  return T(0.5) * sum;
}

#endif
