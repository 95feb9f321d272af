// The exact analytic transit model of many separations, and Carlson's
// symmetric elliptic integrals and Hastings' complete elliptic integrals it
// is made of.

#include "lightcurve/transit_model.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <vector>

#include "orv/lanes.h"

using transit_model::clampUnit;
using transit_model::kPi;

namespace {

double max3(double a, double b, double c) { return std::max(a, std::max(b, c)); }
double min3(double a, double b, double c) { return std::min(a, std::min(b, c)); }

// The argument ranges outside which rc_ and rj_ report invalid arguments.
bool rcArgumentsValid(double x, double y) {
  const double s = x + std::fabs(y);
  return !(x < 0.0 || y == 0.0 || s < 1.69e-38 || s > 3e37 || (y < -1.72e19 && x > 0.0 && x < 0.01028196));
}
bool rjArgumentsValid(double x, double y, double z, double p) {
  return !(min3(x, y, z) < 0.0 || std::min(min3(x + y, x + z, y + z), std::fabs(p)) < 2.5e-13 ||
           std::max(max3(x, y, z), std::fabs(p)) > 9e11);
}

// Argument sets evaluated side by side by rjMany. The duplication steps of
// one set are a chain of square roots and divisions, each waiting for the
// last; several independent chains interleaved keep the arithmetic units
// busy instead of waiting.
constexpr int kLanes = 8;

// Whether some lane still runs (1.0 marks a running lane, 0.0 a stopped one).
__attribute__((always_inline)) inline bool anyLive(const double* live) {
  bool any = false;
  for (int l = 0; l < kLanes; ++l) any |= live[l] != 0.0;
  return any;
}

// R_C(x, y) with y > 0 for the lanes in use (use[l] 1.0, else 0.0), each lane running exactly the
// steps of rc_ (same operations in the same order, stopping at the same
// step), so each value equals rc_'s bit for bit. A lane stays frozen once it
// has stopped while the others go on. False, with nothing computed, when a
// lane in use holds arguments rc_ would report.
__attribute__((always_inline)) inline bool rcLanes(const double* x, const double* y, const double* use,
                                                   double* out) {
  double xt[kLanes], yt[kLanes], ave[kLanes], sd[kLanes], live[kLanes];
  for (int l = 0; l < kLanes; ++l) {
    if (use[l] != 0.0 && !rcArgumentsValid(x[l], y[l])) return false;
    xt[l] = use[l] != 0.0 ? x[l] : 1.0;
    yt[l] = use[l] != 0.0 ? y[l] : 1.0;
    ave[l] = 1.0;
    sd[l] = 0.0;
    live[l] = use[l];
  }
  for (bool running = true; running;) {
    for (int l = 0; l < kLanes; ++l) {
      const bool on = live[l] != 0.0;
      const double lambda = 2.0 * std::sqrt(xt[l]) * std::sqrt(yt[l]) + yt[l];
      const double nx = 0.25 * (xt[l] + lambda), ny = 0.25 * (yt[l] + lambda);
      const double na = (nx + ny + ny) / 3.0;
      const double ns = (ny - na) / na;
      xt[l] = on ? nx : xt[l];
      yt[l] = on ? ny : yt[l];
      ave[l] = on ? na : ave[l];
      sd[l] = on ? ns : sd[l];
      live[l] = (on & (std::fabs(ns) > 0.04)) ? 1.0 : 0.0;
    }
    running = anyLive(live);
  }
  for (int l = 0; l < kLanes; ++l) {
    const double s = sd[l];
    out[l] = (1.0 + s * s * (0.3 + s * (1.0 / 7.0 + s * (0.375 + s * 9.0 / 22.0)))) / std::sqrt(ave[l]);
  }
  return true;
}

// R_J(x, y, z, p) with p > 0 and valid arguments in every lane, each lane
// running exactly the steps of rj_ (its R_C values from rcLanes), so each
// value equals rj_'s bit for bit. False, with nothing computed, when some
// step meets R_C arguments rc_ would report.
// One body with an entry point per processor path of orv/lanes.h, rcLanes and
// anyLive built into each (forced inline: called apart they would run the
// baseline build whatever the path, and the R_C steps are most of the time).
// The lanes' arithmetic is IEEE on every path, so the values are the same bits.
[[gnu::always_inline]] inline bool rjLanesBody(const double* x, const double* y, const double* z,
                                               const double* p, double* out) {
  const double c1 = 0.2142857164144516, c2 = 1.0 / 3.0, c3 = 3.0 / 22.0, c4 = 3.0 / 26.0;
  const double c5 = 0.75 * c3, c6 = 1.5 * c4, c7 = 0.5 * c2, c8 = c3 + c3;
  double xt[kLanes], yt[kLanes], zt[kLanes], pt[kLanes], sum[kLanes], fac[kLanes], ave[kLanes];
  double delx[kLanes], dely[kLanes], delz[kLanes], delp[kLanes];
  double alphaSquare[kLanes], betaTerm[kLanes], lambda[kLanes], rc[kLanes], live[kLanes];
  for (int l = 0; l < kLanes; ++l) {
    xt[l] = x[l];
    yt[l] = y[l];
    zt[l] = z[l];
    pt[l] = p[l];
    sum[l] = 0.0;
    fac[l] = 1.0;
    ave[l] = delx[l] = dely[l] = delz[l] = delp[l] = 0.0;
    live[l] = 1.0;
  }
  for (bool running = true; running;) {
    for (int l = 0; l < kLanes; ++l) {
      const double sx = std::sqrt(xt[l]), sy = std::sqrt(yt[l]), sz = std::sqrt(zt[l]);
      lambda[l] = sx * (sy + sz) + sy * sz;
      const double alpha0 = pt[l] * (sx + sy + sz) + sx * sy * sz;
      const double beta0 = pt[l] + lambda[l];
      alphaSquare[l] = alpha0 * alpha0;
      betaTerm[l] = pt[l] * beta0 * beta0;
    }
    if (!rcLanes(alphaSquare, betaTerm, live, rc)) return false;
    for (int l = 0; l < kLanes; ++l) {
      const bool on = live[l] != 0.0;
      const double nxt = 0.25 * (xt[l] + lambda[l]), nyt = 0.25 * (yt[l] + lambda[l]);
      const double nzt = 0.25 * (zt[l] + lambda[l]), npt = 0.25 * (pt[l] + lambda[l]);
      const double na = 0.2 * (nxt + nyt + nzt + npt + npt);
      const double dx = (na - nxt) / na, dy = (na - nyt) / na, dz = (na - nzt) / na, dp = (na - npt) / na;
      sum[l] = on ? sum[l] + fac[l] * rc[l] : sum[l];
      fac[l] = on ? fac[l] * 0.25 : fac[l];
      xt[l] = on ? nxt : xt[l];
      yt[l] = on ? nyt : yt[l];
      zt[l] = on ? nzt : zt[l];
      pt[l] = on ? npt : pt[l];
      ave[l] = on ? na : ave[l];
      delx[l] = on ? dx : delx[l];
      dely[l] = on ? dy : dely[l];
      delz[l] = on ? dz : delz[l];
      delp[l] = on ? dp : delp[l];
      live[l] = (on & (std::max(max3(std::fabs(dx), std::fabs(dy), std::fabs(dz)), std::fabs(dp)) > 0.05))
                    ? 1.0
                    : 0.0;
    }
    running = anyLive(live);
  }
  for (int l = 0; l < kLanes; ++l) {
    const double ea = delx[l] * (dely[l] + delz[l]) + dely[l] * delz[l];
    const double eb = delx[l] * dely[l] * delz[l];
    const double ec = delp[l] * delp[l];
    const double ed = ea - 3.0 * ec;
    const double ee = eb + 2.0 * delp[l] * (ea - ec);
    const double dp = delp[l];
    out[l] = 3.0 * sum[l] + fac[l] *
                                (1.0 + ed * (-c1 + c5 * ed - c6 * ee) + eb * (c7 + dp * (-c8 + dp * c4)) +
                                 dp * ea * (c2 - dp * c3) - c2 * dp * ec) /
                                (ave[l] * std::sqrt(ave[l]));
  }
  return true;
}

bool rjLanesBaseline(const double* x, const double* y, const double* z, const double* p, double* out) {
  return rjLanesBody(x, y, z, p, out);
}

ORV_LANES_AVX2 bool rjLanesAvx2(const double* x, const double* y, const double* z, const double* p,
                                double* out) {
  return rjLanesBody(x, y, z, p, out);
}

ORV_LANES_AVX512 bool rjLanesAvx512(const double* x, const double* y, const double* z, const double* p,
                                    double* out) {
  return rjLanesBody(x, y, z, p, out);
}

// The exact model at one separation: everything but R_J of the complete
// integral of the third kind, which only two of its cases need. Those leave
// lambdaD unset and give the arguments of R_J(0, rjY, 1, rjP) and the terms
// that take its value (finishExact); the evaluation of R_J, the bulk of the
// model's cost, can then run over many separations together.
struct ExactTerms {
  bool total = false;  // the planet covers the whole star
  bool needsPi = false;
  double lambdaE = 0.0, lambdaD = 0.0, etaD = 0.0;
  // lambdaD = scale * (partial - piFactor * Pi(n, q)) + twoThirds, where
  // Pi(n, q) = K - n / 3 R_J(0, 1 - q^2, 1, 1 + n).
  double rjY = 0.0, rjP = 0.0, n = 0.0, K = 0.0, scale = 0.0, partial = 0.0, piFactor = 0.0, twoThirds = 0.0;
};

// The terms of the exact model at separation z (0 < z < 1 + p, p snapped).
ExactTerms exactTerms(double z, double p) {
  ExactTerms t;
  const double pp = p * p, zz = z * z;
  // A planet covering the whole star hides all its light, whatever the limb darkening.
  if (p >= 1.0 && z <= 1.0001 * (p - 1.0)) {
    t.total = true;
    return t;
  }

  const double x1 = (p - z) * (p - z), x2 = (p + z) * (p + z), x3 = pp - zz;
  double kap0 = 0.0, kap1 = 0.0;
  const bool crossing = std::fabs(1.0 - p) <= z && z <= 1.0 + p;
  if (crossing) {
    kap1 = std::acos(clampUnit((1.0 - pp + zz) / (2.0 * z)));
    kap0 = std::acos(clampUnit((pp + zz - 1.0) / (2.0 * p * z)));
  }
  if (z <= 1.0 - p)
    t.lambdaE = pp;
  else if (crossing)
    t.lambdaE =
        (pp * kap0 + kap1 - 0.5 * std::sqrt(std::max(0.0, 4.0 * zz - (1.0 + zz - pp) * (1.0 + zz - pp)))) /
        kPi;
  auto eta1 = [&] {
    return (kap1 + pp * (pp + 2.0 * zz) * kap0 -
            (1.0 + 5.0 * pp + zz) / 4.0 * std::sqrt(std::max(0.0, (1.0 - x1) * (x2 - 1.0)))) /
           (2.0 * kPi);
  };
  const double eta2 = pp * (pp + 2.0 * zz) / 2.0;
  t.twoThirds = z < p ? 2.0 / 3.0 : 0.0;
  // The third-kind integral's part, Pi(n, q) with K of modulus q.
  auto withPi = [&](double q, double n, double K) {
    t.needsPi = true;
    t.rjY = 1.0 - q * q;
    t.rjP = 1.0 + n;
    t.n = n;
    t.K = K;
    t.piFactor = 3.0 * (x3 / x1);
  };

  if (std::fabs(z - p) < 1e-4 * (z + p)) {
    // The planet's edge passes through the star's centre.
    if (p == 0.5) {
      t.lambdaD = 1.0 / 3.0 - 4.0 / (9.0 * kPi);
      t.etaD = 0.09375;
    } else if (z < 0.5) {
      const double q = 2.0 * p;
      t.lambdaD =
          1.0 / 3.0 + 2.0 / (9.0 * kPi) * (4.0 * (2.0 * pp - 1.0) * ellec_(q) + (1.0 - 4.0 * pp) * ellk_(q));
      t.etaD = eta2;
    } else {
      const double q = 0.5 / p;
      t.lambdaD = 1.0 / 3.0 + 16.0 * p / (9.0 * kPi) * (2.0 * pp - 1.0) * ellec_(q) -
                  (32.0 * pp * pp - 20.0 * pp + 3.0) / (9.0 * kPi * p) * ellk_(q);
      t.etaD = eta1();
    }
  } else if ((z > 0.5 + std::fabs(p - 0.5) && z < 1.0 + p) ||
             (p > 0.5 && z > 1.0001 * std::fabs(1.0 - p) && z < p)) {
    // The planet crosses the limb.
    const double q = std::sqrt((1.0 - x1) / (4.0 * z * p));
    const double K = ellk_(q), E = ellec_(q);
    withPi(q, 1.0 / x1 - 1.0, K);
    t.scale = 1.0 / (9.0 * kPi * std::sqrt(p * z));
    t.partial = ((1.0 - x2) * (2.0 * x2 + x1 - 3.0) - 3.0 * x3 * (x2 - 2.0)) * K +
                4.0 * p * z * (zz + 7.0 * pp - 4.0) * E;
    t.etaD = eta1();
  } else if (p <= 1.0 && z <= 1.0001 * (1.0 - p)) {
    // The planet inside the disc.
    if (std::fabs(p + z - 1.0) <= 1e-4) {
      t.lambdaD = 2.0 / (3.0 * kPi) * std::acos(clampUnit(1.0 - 2.0 * p)) -
                  4.0 / (9.0 * kPi) * std::sqrt(p * (1.0 - p)) * (3.0 + 2.0 * p - 8.0 * pp);
    } else {
      const double q = std::sqrt((x2 - x1) / (1.0 - x1));
      const double K = ellk_(q), E = ellec_(q);
      withPi(q, x2 / x1 - 1.0, K);
      t.scale = 2.0 / (9.0 * kPi * std::sqrt(1.0 - x1));
      t.partial = (1.0 - 5.0 * zz + pp + x3 * x3) * K + (1.0 - x1) * (zz + 7.0 * pp - 4.0) * E;
    }
    t.etaD = eta2;
  }
  return t;
}

// The flux change from the terms and, when they need it, rj = R_J(0, rjY, 1, rjP).
double finishExact(const ExactTerms& t, double rj, double g1, double g2) {
  if (t.total) return -1.0;
  const double norm = 1.0 - g1 / 3.0 - g2 / 6.0;
  double lambdaD = t.lambdaD;
  if (t.needsPi) lambdaD = t.scale * (t.partial - t.piFactor * (t.K - t.n / 3.0 * rj)) + t.twoThirds;
  return -((1.0 - g1 - 2.0 * g2) * t.lambdaE + (g1 + 2.0 * g2) * lambdaD + g2 * t.etaD) / norm;
}

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
  if (!rcArgumentsValid(x, y)) std::cout << "invalid arguments in rc" << std::endl;
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
  if (!rjArgumentsValid(x, y, z, p)) {
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

void rjMany(const double* x, const double* y, const double* z, const double* p, double* out, int n) {
  const auto rjLanes = orv::lanes::pick(rjLanesBaseline, rjLanesAvx2, rjLanesAvx512);
  for (int first = 0; first < n; first += kLanes) {
    // A block of lanes, the last one filled up with a harmless argument set.
    const int used = std::min(kLanes, n - first);
    double bx[kLanes], by[kLanes], bz[kLanes], bp[kLanes], value[kLanes];
    bool plain = true;
    for (int l = 0; l < kLanes; ++l) {
      const int i = first + std::min(l, used - 1);
      bx[l] = x[i];
      by[l] = y[i];
      bz[l] = z[i];
      bp[l] = p[i];
      plain = plain && bp[l] > 0.0 && rjArgumentsValid(bx[l], by[l], bz[l], bp[l]);
    }
    // A block with a negative p or an argument rj_ reports goes through rj_
    // one set at a time, so its messages come out as they would there.
    if (plain && rjLanes(bx, by, bz, bp, value)) {
      for (int l = 0; l < used; ++l) out[first + l] = value[l];
    } else {
      for (int l = 0; l < used; ++l)
        out[first + l] = rj_(x[first + l], y[first + l], z[first + l], p[first + l]);
    }
  }
}

double ellk_(double k) {
  const double m1 = 1.0 - k * k;
  const double a =
      1.38629436112 + m1 * (0.09666344259 + m1 * (0.03590092383 + m1 * (0.03742563713 + m1 * 0.01451196212)));
  const double b =
      0.5 + m1 * (0.12498593597 + m1 * (0.06880248576 + m1 * (0.03328355346 + m1 * 0.00441787012)));
  return a - b * std::log(m1);
}

double ellec_(double k) {
  const double m1 = 1.0 - k * k;
  const double c = m1 * (0.44325141463 + m1 * (0.06260601220 + m1 * (0.04757383546 + m1 * 0.01736506451)));
  const double d = m1 * (0.24998368310 + m1 * (0.09200180037 + m1 * (0.04069697526 + m1 * 0.00526449639)));
  return 1.0 + c + d * std::log(1.0 / m1);
}

double snappedRatio(double p) { return std::fabs(p - 0.5) < 0.001 ? 0.5 : p; }

void exactTransitChanges(const double* z, double* change, int n, double p, double g1, double g2) {
  // The terms at every separation first, then R_J of those that need it all
  // at once: the interleaved R_J evaluations are where the time goes.
  std::vector<ExactTerms> terms(n);
  std::vector<double> rjZero(n, 0.0), rjOne(n, 1.0), rjY(n), rjP(n), rj(n);
  int needing = 0;
  for (int i = 0; i < n; ++i) {
    terms[i] = exactTerms(z[i], p);
    if (!terms[i].needsPi) continue;
    rjY[needing] = terms[i].rjY;
    rjP[needing++] = terms[i].rjP;
  }
  rjMany(rjZero.data(), rjY.data(), rjOne.data(), rjP.data(), rj.data(), needing);
  for (int i = 0, k = 0; i < n; ++i)
    change[i] = finishExact(terms[i], terms[i].needsPi ? rj[k++] : 0.0, g1, g2);
}
