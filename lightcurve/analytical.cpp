// Analytic limb-darkened transits in a light curve: the model step (exact,
// with complete elliptic integrals, or the small-planet approximation), the
// operations that add or simulate a transit, and the transit bookkeeping.

#include <algorithm>
#include <cmath>
#include <iostream>
#include <vector>

#include "lightcurve/lightcurve_detail.h"
#include "lightcurve/pellib.h"
#include "lightcurve/transit_model.h"
#include "numerics/random.h"

using lightcurve_detail::filled;

namespace {

constexpr double kPi = 3.14159265358979;
constexpr double kAU = 149597870691.0;
constexpr double kSolarRadius = 6.96265e8;
constexpr double kJupiterRadius = 7.14e7;

double clampUnit(double x) { return std::min(1.0, std::max(-1.0, x)); }

// Radius ratio of planet and star.
double radiusRatio(double R_planet, double R_star) { return (R_planet * kJupiterRadius) / (R_star * kSolarRadius); }

// Orbit radius in astronomical units by Kepler's third law (the exponent is
// the rounded 2/3 of the model).
double orbitRadius(double M_star, double period) {
  return std::pow(std::sqrt(M_star) * period / 365.2425, 0.66666667);
}

// Third kind complete integral in the form of the model, with K of the same modulus.
double ellpi(double n, double q, double K) { return K - n / 3.0 * rj_(0.0, 1.0 - q * q, 1.0, 1.0 + n); }

// Flux change of the exact model at separation z (0 < z < 1 + p).
double exactChange(double z, double& p, double g1, double g2) {
  if (std::fabs(p - 0.5) < 0.001) p = 0.5;
  const double pp = p * p, zz = z * z;
  const double norm = 1.0 - g1 / 3.0 - g2 / 6.0;
  // A planet covering the whole star hides all its light, whatever the limb darkening.
  if (p >= 1.0 && z <= 1.0001 * (p - 1.0)) return -1.0;

  const double x1 = (p - z) * (p - z), x2 = (p + z) * (p + z), x3 = pp - zz;
  double kap0 = 0.0, kap1 = 0.0;
  const bool crossing = std::fabs(1.0 - p) <= z && z <= 1.0 + p;
  if (crossing) {
    kap1 = std::acos(clampUnit((1.0 - pp + zz) / (2.0 * z)));
    kap0 = std::acos(clampUnit((pp + zz - 1.0) / (2.0 * p * z)));
  }
  double lambdaE = 0.0;
  if (z <= 1.0 - p)
    lambdaE = pp;
  else if (crossing)
    lambdaE = (pp * kap0 + kap1 - 0.5 * std::sqrt(std::max(0.0, 4.0 * zz - (1.0 + zz - pp) * (1.0 + zz - pp)))) / kPi;
  auto eta1 = [&] {
    return (kap1 + pp * (pp + 2.0 * zz) * kap0 -
            (1.0 + 5.0 * pp + zz) / 4.0 * std::sqrt(std::max(0.0, (1.0 - x1) * (x2 - 1.0)))) /
           (2.0 * kPi);
  };
  const double eta2 = pp * (pp + 2.0 * zz) / 2.0;
  const double twoThirds = z < p ? 2.0 / 3.0 : 0.0;

  double lambdaD = 0.0, etaD = 0.0;
  if (std::fabs(z - p) < 1e-4 * (z + p)) {
    // The planet's edge passes through the star's centre.
    if (p == 0.5) {
      lambdaD = 1.0 / 3.0 - 4.0 / (9.0 * kPi);
      etaD = 0.09375;
    } else if (z < 0.5) {
      const double q = 2.0 * p;
      lambdaD = 1.0 / 3.0 + 2.0 / (9.0 * kPi) * (4.0 * (2.0 * pp - 1.0) * ellec_(q) + (1.0 - 4.0 * pp) * ellk_(q));
      etaD = eta2;
    } else {
      const double q = 0.5 / p;
      lambdaD = 1.0 / 3.0 + 16.0 * p / (9.0 * kPi) * (2.0 * pp - 1.0) * ellec_(q) -
                (32.0 * pp * pp - 20.0 * pp + 3.0) / (9.0 * kPi * p) * ellk_(q);
      etaD = eta1();
    }
  } else if ((z > 0.5 + std::fabs(p - 0.5) && z < 1.0 + p) ||
             (p > 0.5 && z > 1.0001 * std::fabs(1.0 - p) && z < p)) {
    // The planet crosses the limb.
    const double q = std::sqrt((1.0 - x1) / (4.0 * z * p));
    const double n = 1.0 / x1 - 1.0;
    const double K = ellk_(q), E = ellec_(q);
    lambdaD = 1.0 / (9.0 * kPi * std::sqrt(p * z)) *
                  (((1.0 - x2) * (2.0 * x2 + x1 - 3.0) - 3.0 * x3 * (x2 - 2.0)) * K +
                   4.0 * p * z * (zz + 7.0 * pp - 4.0) * E - 3.0 * (x3 / x1) * ellpi(n, q, K)) +
              twoThirds;
    etaD = eta1();
  } else if (p <= 1.0 && z <= 1.0001 * (1.0 - p)) {
    // The planet inside the disc.
    if (std::fabs(p + z - 1.0) <= 1e-4) {
      lambdaD = 2.0 / (3.0 * kPi) * std::acos(clampUnit(1.0 - 2.0 * p)) -
                4.0 / (9.0 * kPi) * std::sqrt(p * (1.0 - p)) * (3.0 + 2.0 * p - 8.0 * pp);
    } else {
      const double q = std::sqrt((x2 - x1) / (1.0 - x1));
      const double n = x2 / x1 - 1.0;
      const double K = ellk_(q), E = ellec_(q);
      lambdaD = 2.0 / (9.0 * kPi * std::sqrt(1.0 - x1)) *
                    ((1.0 - 5.0 * zz + pp + x3 * x3) * K + (1.0 - x1) * (zz + 7.0 * pp - 4.0) * E -
                     3.0 * (x3 / x1) * ellpi(n, q, K)) +
                twoThirds;
    }
    etaD = eta2;
  }
  return -((1.0 - g1 - 2.0 * g2) * lambdaE + (g1 + 2.0 * g2) * lambdaD + g2 * etaD) / norm;
}

// Flux change of the small-planet approximation at separation z (z < 1 + p):
// the mean intensity under the planet, from 31 samples of the disc's
// intensity over the radii it covers, times the covered area.
double smallPlanetChange(double z, double p, double g1, double g2) {
  static orv::MArray<double, 1> r(31), y(31);
  const double G = kPi / 4.0 * (1.0 - g1 / 3.0 - g2 / 6.0);
  const bool limb = z >= 1.0 - p;
  const double lo = z - p;
  const double span = limb ? 1.0 - lo : 2.0 * p;
  for (int i = 1; i <= 31; ++i) {
    r(i) = (i - 1) * span / 30.0 + lo;
    const double m = 1.0 - std::sqrt(std::max(0.0, 1.0 - r(i) * r(i)));
    y(i) = 2.0 * r(i) * (1.0 - g1 * m - g2 * m * m);
  }
  if (limb) {
    const double mean = integ(y, r) / (1.0 - lo * lo);
    const double d = z - 1.0;
    return -0.25 * mean / G * (p * p * std::acos(clampUnit(d / p)) - d * std::sqrt(std::max(0.0, p * p - d * d)));
  }
  const double mean = integ(y, r) / (4.0 * z * p);
  return -0.25 * kPi * p * p * mean / G;
}

}  // namespace

double Lightcurve::transitStep__(double date, double v_orbit, double c_orbit, double& p,
                                 bool small_planet) const {
  const double dt = date - t0;
  double phi = dt >= 0.0 ? (dt - std::trunc(dt / period) * period) / period
                         : (std::trunc(-dt / period) * period + dt) / period + 1.0;
  if (phi > 0.5) phi = 1.0 - phi;
  const double s = period * phi * v_orbit;
  double z = std::sqrt(s * s + c_orbit * c_orbit) * kAU / R_star / kSolarRadius;
  // Not-a-number separations and points off the star stay unchanged.
  if (!(z < 1.0 + p)) return 0.0;
  if (z == 0.0) z = 1e-8;
  if (!small_planet) return exactChange(z, p, gamma1, gamma2);
  if (p > 0.1)
    std::cout << "warning: small planet approximation is not very accurate for R_planet / R_star = " << p
              << std::endl;
  return smallPlanetChange(z, p, gamma1, gamma2);
}

void Lightcurve::setTransit__(double period_, double t0_, double inclination_, double M_star_, double R_star_,
                              double R_planet_, double gamma1_, double gamma2_) {
  period = period_;
  t0 = t0_;
  inclination = inclination_;
  M_star = M_star_;
  R_star = R_star_;
  R_planet = R_planet_;
  gamma1 = gamma1_;
  gamma2 = gamma2_;
  analytical = removed_ok = true;
}

void Lightcurve::applyTransit__(bool small_planet, bool with_nonoise) {
  const double a = orbitRadius(M_star, period);
  const double v = 6.28318530717958 * a / period;
  const double c = a * std::tan((90.0 - inclination) / 180.0 * kPi);
  double p = radiusRatio(R_planet, R_star);
  for (int j = 1; j <= length; ++j) {
    const double change = transitStep__(JD(j), v, c, p, small_planet);
    flux(j) += change;
    if (with_nonoise) nonoise(j) += change;
  }
}

void Lightcurve::transitDurationAndDepth__() {
  const double a = orbitRadius(M_star, period);
  const double b = a * kAU / (R_star * kSolarRadius) * std::cos(inclination * kPi / 180.0);
  tau = std::cos(std::asin(b)) * R_star * kSolarRadius / (a * kAU) / kPi;
  const double p = radiusRatio(R_planet, R_star);
  drop = p * p;
}

void Lightcurve::transitBookkeeping__() {
  number_transits = 0;
  number_transit_points = 0;
  // Counts per transit in stored order; a new transit begins at a point at
  // least (1 - tau) periods from the first point of the current one.
  std::vector<int> counts;
  double errorSum = 0.0, last = -1e99;
  for (int j = 1; j <= length; ++j) {
    const double ph = lightcurve_detail::foldedPhase(JD(j), t0, period);
    if (!(0.5 - tau / 2 <= ph && ph <= 0.5 + tau / 2)) continue;
    ++number_transit_points;
    errorSum += error(j);
    if (std::fabs(JD(j) - last) >= (1.0 - tau) * period) {
      counts.push_back(1);
      last = JD(j);
    } else {
      ++counts.back();
    }
  }
  number_transits = static_cast<int>(counts.size());
  if (counts.empty()) counts.push_back(0);
  orv::MArray<int, 1> ppt(static_cast<int>(counts.size()));
  for (size_t k = 0; k < counts.size(); ++k) ppt(static_cast<int>(k) + 1) = counts[k];
  points_per_transit.makeReference(ppt);
  if (number_transit_points == 0) {
    SNR = 0.0;
    return;
  }
  const double e = errorSum / number_transit_points;
  SNR = e == 0.0 ? 1e100 : drop / e * std::sqrt(static_cast<double>(number_transit_points));
}

void Lightcurve::add_analytical(double period_, double t0_, double inclination_, double M_star_, double R_star_,
                                double R_planet_, double gamma1_, double gamma2_, bool small_planet, long& /*seed*/) {
  setTransit__(period_, t0_, inclination_, M_star_, R_star_, R_planet_, gamma1_, gamma2_);
  nonoise_ok = false;
  removed.makeReference(orv::MArray<double, 1>(length));
  for (int j = 1; j <= length; ++j) removed(j) = flux(j);
  applyTransit__(small_planet, false);
  calc_weights();
  // The fold takes an epoch of 0 for "none given": fold on the equivalent
  // epoch one period later and keep the caller's.
  fold_quick(period_, t0_ == 0.0 ? period_ : t0_);
  t0 = t0_;
  transitDurationAndDepth__();
  transitBookkeeping__();
}

void Lightcurve::simulate_analytical(double period_, double t0_, double inclination_, double M_star_,
                                     double R_star_, double R_planet_, double gamma1_, double gamma2_,
                                     orv::MArray<double, 1> dates, orv::MArray<double, 1> errors,
                                     bool small_planet, long& seed) {
  const int n = dates.length(1);
  if (errors.length(1) != n) {
    std::cout << lightcurve_detail::kDifferentLengths << std::endl;
    return;
  }
  has_data = nonoise_ok = true;
  magnitudes = false;
  setTransit__(period_, t0_, inclination_, M_star_, R_star_, R_planet_, gamma1_, gamma2_);
  newPoints__(n);
  removed.makeReference(orv::MArray<double, 1>(n));
  nonoise.makeReference(orv::MArray<double, 1>(n));
  double errorSum = 0.0;
  const int fd = dates.first(1), fe = errors.first(1);
  for (int j = 1; j <= n; ++j) {
    JD(j) = dates(fd + j - 1);
    error(j) = errors(fe + j - 1);
    flux(j) = 1.0 + rangau(seed) * error(j);
    removed(j) = flux(j);
    nonoise(j) = 1.0;
    errorSum += error(j);
  }
  noise = n > 0 ? errorSum / n : 0.0;
  applyTransit__(small_planet, true);
  calc_weights();
  renorm();
  fold_quick(period_, t0_ == 0.0 ? period_ : t0_);
  t0 = t0_;
  transitDurationAndDepth__();
  upscale();
  transitBookkeeping__();
}

void Lightcurve::simulate_analytical(double period_, double t0_, double inclination_, double M_star_,
                                     double R_star_, double R_planet_, double gamma1_, double gamma2_,
                                     orv::MArray<double, 1> dates, double sigma, bool small_planet, long& seed) {
  simulate_analytical(period_, t0_, inclination_, M_star_, R_star_, R_planet_, gamma1_, gamma2_, dates,
                      filled(dates.length(1), sigma), small_planet, seed);
}
