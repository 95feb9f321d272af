#ifndef LIGHTCURVE_TRANSIT_MODEL_H
#define LIGHTCURVE_TRANSIT_MODEL_H

// Numerical routines of the analytic transit model: the exact model's flux
// change at many separations, Carlson's symmetric elliptic integrals, the
// complete elliptic integrals K and E, and the trapezoidal integral of
// sampled values.

#include <algorithm>

#include "orv/marray.h"

namespace transit_model {

// pi as the model states it.
inline constexpr double kPi = 3.14159265358979;

// x clamped to [-1, 1], for arc cosines of rounded cosines.
inline double clampUnit(double x) { return std::min(1.0, std::max(-1.0, x)); }

}  // namespace transit_model

// The radius ratio the exact model takes: ratios within 0.001 of 0.5 are 0.5.
double snappedRatio(double p);

// Flux change of the exact limb-darkened model (quadratic coefficients g1,
// g2) at n separations z[i] of the centres in stellar radii (0 < z < 1 + p),
// for the radius ratio p as snappedRatio gives it, into change[i]: -1 for a
// planet hiding the whole star. Equal to an evaluation one separation at a
// time, bit for bit; faster, since the R_J values run several at a time.
void exactTransitChanges(const double* z, double* change, int n, double p, double g1, double g2);

// Carlson's R_F(x, y, z), R_C(x, y) and R_J(x, y, z, p) by the duplication
// algorithm. Arguments outside the valid range print a message on standard
// output and the computation goes on with them.
double rf_(double x, double y, double z);
double rc_(double x, double y);
double rj_(double x, double y, double z, double p);

// R_J of n argument sets (x[i], y[i], z[i], p[i]) into out[i], each equal
// bit for bit to rj_ of the same set and with the same messages in the same
// order; sets with p > 0 are evaluated several at a time, which is faster.
void rjMany(const double* x, const double* y, const double* z, const double* p, double* out, int n);

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
