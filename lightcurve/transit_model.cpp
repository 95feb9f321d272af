// Carlson's symmetric elliptic integrals and Hastings' complete elliptic
// integrals used by the analytic transit model.

#include "lightcurve/transit_model.h"

#include <algorithm>
#include <cmath>
#include <iostream>

namespace {

double max3(double a, double b, double c) { return std::max(a, std::max(b, c)); }
double min3(double a, double b, double c) { return std::min(a, std::min(b, c)); }

}  // namespace

double rf_(double x, double y, double z) {
  if (min3(x, y, z) < 0.0 || min3(x + y, x + z, y + z) < 1.5e-38 || max3(x, y, z) > 3e37)
    std::cout << "invalid arguments in rf" << std::endl;
  double xt = x, yt = y, zt = z, ave, delx, dely, delz;
  do {
    const double sx = std::sqrt(xt), sy = std::sqrt(yt), sz = std::sqrt(zt);
    const double lambda = sx * (sy + sz) + sy * sz;
    xt = 0.25 * (xt + lambda);
    yt = 0.25 * (yt + lambda);
    zt = 0.25 * (zt + lambda);
    ave = (xt + yt + zt) / 3.0;
    delx = (ave - xt) / ave;
    dely = (ave - yt) / ave;
    delz = (ave - zt) / ave;
  } while (max3(std::fabs(delx), std::fabs(dely), std::fabs(delz)) > 0.08);
  const double e2 = delx * dely - delz * delz;
  const double e3 = delx * dely * delz;
  return (1.0 + (e2 / 24.0 - 0.1 - 3.0 / 44.0 * e3) * e2 + e3 / 14.0) / std::sqrt(ave);
}

double rc_(double x, double y) {
  const double s = x + std::fabs(y);
  if (x < 0.0 || y == 0.0 || s < 1.69e-38 || s > 3e37 || (y < -1.72e19 && x > 0.0 && x < 0.01028196))
    std::cout << "invalid arguments in rc" << std::endl;
  // A negative y is taken to the principal value through (x - y, -y).
  double xt, yt, w;
  if (y > 0.0) {
    xt = x;
    yt = y;
    w = 1.0;
  } else {
    xt = x - y;
    yt = -y;
    w = std::sqrt(x) / std::sqrt(xt);
  }
  double ave, sd;
  do {
    const double lambda = 2.0 * std::sqrt(xt) * std::sqrt(yt) + yt;
    xt = 0.25 * (xt + lambda);
    yt = 0.25 * (yt + lambda);
    ave = (xt + yt + yt) / 3.0;
    sd = (yt - ave) / ave;
  } while (std::fabs(sd) > 0.04);
  return w * (1.0 + sd * sd * (0.3 + sd * (1.0 / 7.0 + sd * (0.375 + sd * 9.0 / 22.0)))) / std::sqrt(ave);
}

double rj_(double x, double y, double z, double p) {
  if (min3(x, y, z) < 0.0 || std::min(min3(x + y, x + z, y + z), std::fabs(p)) < 2.5e-13 ||
      std::max(max3(x, y, z), std::fabs(p)) > 9e11) {
    std::cout << x << " " << y << " " << z << std::endl;
    std::cout << "invalid arguments in rj" << std::endl;
  }
  // The series coefficient 3/14 is kept at single precision.
  const double c1 = 0.2142857164144516, c2 = 1.0 / 3.0, c3 = 3.0 / 22.0, c4 = 3.0 / 26.0;
  const double c5 = 0.75 * c3, c6 = 1.5 * c4, c7 = 0.5 * c2, c8 = c3 + c3;
  double xt, yt, zt, pt, a = 0.0, b = 0.0, rcx = 0.0;
  if (p > 0.0) {
    xt = x;
    yt = y;
    zt = z;
    pt = p;
  } else {
    // A negative p is reduced to a positive one with R_C and R_F.
    xt = min3(x, y, z);
    zt = max3(x, y, z);
    yt = x + y + z - xt - zt;
    a = 1.0 / (yt - p);
    b = a * (zt - yt) * (yt - xt);
    pt = yt + b;
    const double rho = xt * zt / yt;
    const double tau = p * pt / yt;
    rcx = rc_(rho, tau);
  }
  double sum = 0.0, fac = 1.0, ave, delx, dely, delz, delp;
  do {
    const double sx = std::sqrt(xt), sy = std::sqrt(yt), sz = std::sqrt(zt);
    const double lambda = sx * (sy + sz) + sy * sz;
    const double alpha0 = pt * (sx + sy + sz) + sx * sy * sz;
    const double beta0 = pt + lambda;
    sum += fac * rc_(alpha0 * alpha0, pt * beta0 * beta0);
    fac *= 0.25;
    xt = 0.25 * (xt + lambda);
    yt = 0.25 * (yt + lambda);
    zt = 0.25 * (zt + lambda);
    pt = 0.25 * (pt + lambda);
    ave = 0.2 * (xt + yt + zt + pt + pt);
    delx = (ave - xt) / ave;
    dely = (ave - yt) / ave;
    delz = (ave - zt) / ave;
    delp = (ave - pt) / ave;
  } while (std::max(max3(std::fabs(delx), std::fabs(dely), std::fabs(delz)), std::fabs(delp)) > 0.05);
  const double ea = delx * (dely + delz) + dely * delz;
  const double eb = delx * dely * delz;
  const double ec = delp * delp;
  const double ed = ea - 3.0 * ec;
  const double ee = eb + 2.0 * delp * (ea - ec);
  double ans = 3.0 * sum + fac *
                               (1.0 + ed * (-c1 + c5 * ed - c6 * ee) + eb * (c7 + delp * (-c8 + delp * c4)) +
                                delp * ea * (c2 - delp * c3) - c2 * delp * ec) /
                               (ave * std::sqrt(ave));
  if (p <= 0.0) ans = a * (b * ans + 3.0 * (rcx - rf_(xt, yt, zt)));
  return ans;
}

double ellk_(double k) {
  const double m1 = 1.0 - k * k;
  const double a = 1.38629436112 + m1 * (0.09666344259 + m1 * (0.03590092383 + m1 * (0.03742563713 + m1 * 0.01451196212)));
  const double b = 0.5 + m1 * (0.12498593597 + m1 * (0.06880248576 + m1 * (0.03328355346 + m1 * 0.00441787012)));
  return a - b * std::log(m1);
}

double ellec_(double k) {
  const double m1 = 1.0 - k * k;
  const double c = m1 * (0.44325141463 + m1 * (0.06260601220 + m1 * (0.04757383546 + m1 * 0.01736506451)));
  const double d = m1 * (0.24998368310 + m1 * (0.09200180037 + m1 * (0.04069697526 + m1 * 0.00526449639)));
  return 1.0 + c + d * std::log(1.0 / m1);
}
