// Analytic limb-darkened transits in a light curve: the model step (exact,
// with complete elliptic integrals, or the small-planet approximation), the
// operations that add or simulate a transit, and the transit bookkeeping.

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <vector>

#include "lightcurve/lightcurve_detail.h"
#include "lightcurve/pellib.h"
#include "lightcurve/transit_model.h"
#include "numerics/random.h"

using lightcurve_detail::filled;
using transit_model::clampUnit;
using transit_model::kPi;

namespace {

constexpr double kAU = 149597870691.0;
constexpr double kSolarRadius = 6.96265e8;
constexpr double kJupiterRadius = 7.14e7;

// Radius ratio of planet and star.
double radiusRatio(double R_planet, double R_star) {
  return (R_planet * kJupiterRadius) / (R_star * kSolarRadius);
}

// Orbit radius in astronomical units by Kepler's third law (the exponent is
// the rounded 2/3 of the model).
double orbitRadius(double M_star, double period) {
  return std::pow(std::sqrt(M_star) * period / 365.2425, 0.66666667);
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
    return -0.25 * mean / G *
           (p * p * std::acos(clampUnit(d / p)) - d * std::sqrt(std::max(0.0, p * p - d * d)));
  }
  const double mean = integ(y, r) / (4.0 * z * p);
  return -0.25 * kPi * p * p * mean / G;
}

}  // namespace

double Lightcurve::separation__(double date, double v_orbit, double c_orbit) const {
  const double dt = date - t0;
  double phi = dt >= 0.0 ? (dt - std::trunc(dt / period) * period) / period
                         : (std::trunc(-dt / period) * period + dt) / period + 1.0;
  if (phi > 0.5) phi = 1.0 - phi;
  const double s = period * phi * v_orbit;
  return std::sqrt(s * s + c_orbit * c_orbit) * kAU / R_star / kSolarRadius;
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
  auto apply = [&](int j, double change) {
    flux(j) += change;
    if (with_nonoise) nonoise(j) += change;
  };
  // The separation of a point in transit (0 taken as 1e-8), or NaN for a
  // point off the star or of a not-a-number separation, whose change is 0.
  auto inTransit = [&](int j) {
    const double z = separation__(JD(j), v, c);
    if (!(z < 1.0 + p)) return std::numeric_limits<double>::quiet_NaN();
    return z == 0.0 ? 1e-8 : z;
  };

  if (small_planet) {
    for (int j = 1; j <= length; ++j) {
      const double z = inTransit(j);
      if (std::isnan(z)) {
        apply(j, 0.0);
        continue;
      }
      if (p > 0.1)
        std::cout << "warning: small planet approximation is not very accurate for R_planet / R_star = " << p
                  << std::endl;
      apply(j, smallPlanetChange(z, p, gamma1, gamma2));
    }
    return;
  }

  // The exact model over blocks of points in transit, in stored order. The
  // ratio snaps to 0.5 at the first point in transit, so earlier points are
  // tested against the ratio as given.
  constexpr int kBlock = 256;
  std::vector<int> index(kBlock);
  std::vector<double> z(kBlock), change(kBlock);
  int pending = 0;
  auto flush = [&] {
    exactTransitChanges(z.data(), change.data(), pending, p, gamma1, gamma2);
    for (int k = 0; k < pending; ++k) apply(index[k], change[k]);
    pending = 0;
  };
  for (int j = 1; j <= length; ++j) {
    const double zj = inTransit(j);
    if (std::isnan(zj)) {
      apply(j, 0.0);
      continue;
    }
    p = snappedRatio(p);
    z[pending] = zj;
    index[pending++] = j;
    if (pending == kBlock) flush();
  }
  flush();
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

void Lightcurve::add_analytical(double period_, double t0_, double inclination_, double M_star_,
                                double R_star_, double R_planet_, double gamma1_, double gamma2_,
                                bool small_planet, long& /*seed*/) {
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
                                     orv::MArray<double, 1> dates, double sigma, bool small_planet,
                                     long& seed) {
  simulate_analytical(period_, t0_, inclination_, M_star_, R_star_, R_planet_, gamma1_, gamma2_, dates,
                      filled(dates.length(1), sigma), small_planet, seed);
}
