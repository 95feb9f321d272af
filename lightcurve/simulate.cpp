// Box-transit and white-noise light curves, and white and red noise added to
// an existing curve. Every random number comes from the caller's seed.

#include <cmath>
#include <iostream>
#include <string>

#include "lightcurve/lightcurve_detail.h"
#include "lightcurve/pellib.h"
#include "numerics/random.h"

using lightcurve_detail::filled;

namespace {

// Element i (from 1) of an array of any base.
double at(const orv::MArray<double, 1>& a, int i) { return a(a.first(1) + i - 1); }

double meanOf(const orv::MArray<double, 1>& a) {
  const int n = a.length(1);
  if (n == 0) return 0.0;
  double sum = 0.0;
  for (int i = 1; i <= n; ++i) sum += at(a, i);
  return sum / n;
}

// Fractional part with the integer part truncated toward zero (keeps the sign).
double truncatedFraction(double x) { return x - std::trunc(x); }

}  // namespace

void Lightcurve::newPoints__(int n) {
  length = n;
  JD.makeReference(orv::MArray<double, 1>(n));
  flux.makeReference(orv::MArray<double, 1>(n));
  error.makeReference(orv::MArray<double, 1>(n));
  weights.makeReference(filled(n, 0.0));
  nchi.makeReference(filled(n, 0.0));
  boxval.makeReference(filled(n, 0.0));
  filename.makeReference(filled(n, std::string(lightcurve_detail::kNoFileInformation)));
}

void Lightcurve::simulateBox__(double period_, double t0_, double tau_, double drop_,
                               const orv::MArray<double, 1>& dates, const orv::MArray<double, 1>& errors,
                               long& seed) {
  const int n = dates.length(1);
  tau = tau_;
  t0 = t0_;
  period = period_;
  has_data = removed_ok = nonoise_ok = true;
  magnitudes = analytical = false;
  noise = meanOf(errors);
  number_transits = 0;
  number_transit_points = 0;
  newPoints__(n);
  removed.makeReference(orv::MArray<double, 1>(n));
  nonoise.makeReference(orv::MArray<double, 1>(n));

  const double e = truncatedFraction(t0_ / period_);
  double last = -1e99;
  for (int j = 1; j <= n; ++j) {
    JD(j) = at(dates, j);
    flux(j) = 1.0 + rangau(seed) * at(errors, j);
    error(j) = at(errors, j);
    removed(j) = flux(j);
    nonoise(j) = 1.0;
    // Distance of the date's phase from the epoch's, taken modulo 1 so that
    // phases of opposite sign compare correctly.
    const double f = truncatedFraction(JD(j) / period_);
    const double x = f - e;
    const double d = x - std::floor(x);
    if (d <= tau_ / 2 || d >= 1 - tau_ / 2) {
      ++number_transit_points;
      flux(j) -= drop_;
      nonoise(j) -= drop_;
      if (std::fabs(JD(j) - last) >= (1 - tau_) * period_) {
        ++number_transits;
        last = JD(j);
      }
    }
  }
}

void Lightcurve::simulate(double period_, double t0_, double tau_, double drop_, orv::MArray<double, 1> dates,
                          orv::MArray<double, 1> errors, long& seed) {
  if (dates.length(1) != errors.length(1)) {
    std::cout << lightcurve_detail::kDifferentLengths << std::endl;
    return;
  }
  simulateBox__(period_, t0_, tau_, drop_, dates, errors, seed);
}

void Lightcurve::simulate(double period_, double t0_, double tau_, double drop_, orv::MArray<double, 1> dates,
                          double noise_percent, long& seed) {
  simulateBox__(period_, t0_, tau_, drop_, dates, filled(dates.length(1), noise_percent / 100), seed);
}

void Lightcurve::simulate(double period_, double t0_, double tau_, double drop_, double noise_percent,
                          int ncycles, int npoints, long& seed) {
  const int n = npoints > 0 ? npoints : 0;
  orv::MArray<double, 1> dates(n);
  for (int i = 1; i <= n; ++i) dates(i) = ran3(seed) * ncycles * period_;
  simulateBox__(period_, t0_, tau_, drop_, dates, filled(n, noise_percent / 100), seed);
}

void Lightcurve::simulate_noise(orv::MArray<double, 1> dates, orv::MArray<double, 1> errors, long& seed) {
  const int n = dates.length(1);
  if (errors.length(1) != n) {
    std::cout << lightcurve_detail::kDifferentLengths << std::endl;
    return;
  }
  has_data = true;
  removed_ok = nonoise_ok = magnitudes = analytical = false;
  noise = meanOf(errors);
  newPoints__(n);
  for (int j = 1; j <= n; ++j) {
    JD(j) = at(dates, j);
    flux(j) = 1.0 + rangau(seed) * at(errors, j);
    error(j) = at(errors, j);
  }
}

void Lightcurve::simulate_noise(orv::MArray<double, 1> dates, double sigma, long& seed) {
  simulate_noise(dates, filled(dates.length(1), sigma), seed);
}

void Lightcurve::add_whitenoise(double sigma, long& seed) {
  for (int i = 1; i <= length; ++i) {
    flux(i) += rangau(seed) * sigma;
    error(i) = std::sqrt(error(i) * error(i) + sigma * sigma);
  }
}

void Lightcurve::add_rednoise(orv::MArray<double, 1> amplitudes, orv::MArray<double, 1> frequencies,
                              orv::MArray<double, 1> phases, long& seed) {
  const int n = amplitudes.length(1);
  if (frequencies.length(1) < n || phases.length(1) < n) {
    std::cout << lightcurve_detail::kDifferentLengths << std::endl;
    return;
  }
  // Given phases stay; zero phases are drawn anew at every redraw.
  orv::MArray<double, 1> phi(n);
  auto drawPhases = [&] {
    for (int i = 1; i <= n; ++i) phi(i) = at(phases, i) != 0 ? at(phases, i) : ran3(seed) * 6.28318530717958;
  };
  drawPhases();
  rednoise = 0.0;
  for (int i = 1; i <= n; ++i) rednoise += at(amplitudes, i) * at(amplitudes, i);
  if (length < 1) return;

  // A new night (a gap over 0.25) or a full day since the last draw starts new phases.
  double reference = JD(1);
  for (int j = 1; j <= length; ++j) {
    double s = 0.0;
    for (int i = 1; i <= n; ++i) s += at(amplitudes, i) * std::sin(JD(j) * at(frequencies, i) + phi(i));
    flux(j) += s;
    if (removed_ok) removed(j) += s;
    if (j < length && (JD(j + 1) - JD(j) > 0.25 || JD(j + 1) - reference >= 1.0)) {
      drawPhases();
      reference = JD(j + 1);
    }
  }
}
