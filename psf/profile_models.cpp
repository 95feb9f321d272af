// The two star-profile models of the fitter: elliptical Gaussian and
// elliptical Moffat on a sky plane, with their derivatives by the parameters.

#include <algorithm>
#include <cmath>

#include "psf/korven_lib.h"

namespace {

// Cosine and sine of the position angle, recomputed only when the angle
// changes: the fitter evaluates every point of a stamp with one parameter set.
struct AngleTerms {
  double angle = 0.0;
  double c = 1.0;
  double s = 0.0;
  void update(double a) {
    if (a != angle) {
      angle = a;
      c = std::cos(a);
      s = std::sin(a);
    }
  }
  // The offsets of (x, y) from the centre (a5, a6) along the rotated axes.
  void rotate(double x, double y, const orv::MArray<double, 1>& a, double& u, double& v) {
    update(a(7));
    const double dx = x - a(5), dy = y - a(6);
    u = dx * c + dy * s;
    v = dy * c - dx * s;
  }
};

}  // namespace

int Class_gauss_fit::funcs(double x, double y, const orv::MArray<double, 1>& a, double& yfit,
                           orv::MArray<double, 1>& dyda) {
  static thread_local AngleTerms rot;
  double u, v;
  rot.rotate(x, y, a, u, v);
  const double e = a(3) * u * u + a(4) * v * v;
  const double g = std::exp(std::clamp(-e, -22.0, 22.0));
  const double A = a(2) * g;
  yfit = a(1) + A;
  dyda(1) = 1.0;
  dyda(2) = g;
  dyda(3) = -u * u * A;
  dyda(4) = -v * v * A;
  dyda(5) = (2 * a(3) * u * rot.c - 2 * a(4) * v * rot.s) * A;
  dyda(6) = (2 * a(3) * u * rot.s + 2 * a(4) * v * rot.c) * A;
  dyda(7) = 2 * (a(4) - a(3)) * u * v * A;
  return 0;
}

// One logarithm and one exponential per point: B^-a8 = exp(-a8·ln B) and
// B^-(a8+1) = B^-a8 / B; the overflow test uses log10 B = ln B / ln 10.
int Class_moffat_fit::funcs(double x, double y, const orv::MArray<double, 1>& a, double& yfit,
                            orv::MArray<double, 1>& dyda) {
  static thread_local AngleTerms rot;
  double u, v;
  rot.rotate(x, y, a, u, v);
  const double a3u = a(3) * u, a4v = a(4) * v;
  const double B = 1.0 + a3u * a3u + a4v * a4v;
  const double lnB = std::log(B);
  const double L = (a(8) + 1.0) * (lnB / 2.302585092994045684);
  if (L > 100) {
    yfit = a(1) + a(9) * x + a(10) * y;
    dyda(1) = 1.0;
    for (int l = 2; l <= 8; ++l) dyda(l) = 0.0;
    dyda(9) = x;
    dyda(10) = y;
    return 0;
  }
  if (L < -100) return -1;
  const double Q = std::exp(-a(8) * lnB);
  const double P = Q / B;
  yfit = a(1) + a(9) * x + a(10) * y + a(2) * Q;
  const double k = 2 * a(2) * a(8) * P;
  const double a3s = a(3) * a(3), a4s = a(4) * a(4);
  dyda(1) = 1.0;
  dyda(2) = Q;
  dyda(3) = -k * a(3) * u * u;
  dyda(4) = -k * a(4) * v * v;
  dyda(5) = -k * (a4s * v * rot.s - a3s * u * rot.c);
  dyda(6) = k * (a3s * u * rot.s + a4s * v * rot.c);
  dyda(7) = -k * u * v * (a3s - a4s);
  dyda(8) = -a(2) * lnB * Q;
  dyda(9) = x;
  dyda(10) = y;
  return 0;
}
