// The light-curve record: constructors, the checked getters and the shared
// precondition checks.

#include <iostream>

#include "lightcurve/lightcurve_detail.h"
#include "lightcurve/pellib.h"

using lightcurve_detail::filled;
using lightcurve_detail::kNoBox;
using lightcurve_detail::kNoData;
using lightcurve_detail::kNoFileInformation;

Lightcurve::Lightcurve() { clear__(); }

Lightcurve::Lightcurve(orv::MArray<double, 1> JD, orv::MArray<double, 1> flux, orv::MArray<double, 1> error) {
  clear__();
  const int n = JD.length(1);
  if (flux.length(1) != n || error.length(1) != n) {
    std::cout << lightcurve_detail::kDifferentLengths << std::endl;
    return;
  }
  init__(JD, flux, error, filled(n, 0.0), filled(n, std::string(kNoFileInformation)));
}

Lightcurve::Lightcurve(orv::MArray<double, 1> JD, orv::MArray<double, 1> flux, orv::MArray<double, 1> error,
                       orv::MArray<double, 1> nchi, orv::MArray<std::string, 1> filename) {
  clear__();
  const int n = JD.length(1);
  if (flux.length(1) != n || error.length(1) != n || nchi.length(1) != n || filename.length(1) != n) {
    std::cout << lightcurve_detail::kDifferentLengths << std::endl;
    return;
  }
  init__(JD, flux, error, nchi, filename);
}

Lightcurve::Lightcurve(orv::MArray<double, 1> JD, orv::MArray<double, 1> flux, orv::MArray<double, 1> error,
                       orv::MArray<std::string, 1> filename) {
  clear__();
  const int n = JD.length(1);
  if (flux.length(1) != n || error.length(1) != n || filename.length(1) != n) {
    std::cout << lightcurve_detail::kDifferentLengths << std::endl;
    return;
  }
  init__(JD, flux, error, filled(n, 0.0), filename);
}

Lightcurve::Lightcurve(orv::MArray<double, 1> JD, orv::MArray<double, 1> flux, orv::MArray<double, 1> error,
                       orv::MArray<double, 1> nchi) {
  clear__();
  const int n = JD.length(1);
  if (flux.length(1) != n || error.length(1) != n || nchi.length(1) != n) {
    std::cout << lightcurve_detail::kDifferentLengths << std::endl;
    return;
  }
  init__(JD, flux, error, nchi, filled(n, std::string(kNoFileInformation)));
}

Lightcurve::~Lightcurve() = default;

void Lightcurve::clear__() {
  has_data = weighted = folded = boxfitted = false;
  removed_ok = nonoise_ok = magnitudes = analytical = false;
  length = 0;
  phased_length = 0;
  number_transit_points = -1;
  number_transits = -1;
  rednoise = noise = renorm_offset = 0.0;
  period = tau = t0 = drop = SNR = 0.0;
  inclination = M_star = R_star = R_planet = gamma1 = gamma2 = 0.0;
}

void Lightcurve::init__(orv::MArray<double, 1> JD_, orv::MArray<double, 1> flux_,
                        orv::MArray<double, 1> error_, orv::MArray<double, 1> nchi_,
                        orv::MArray<std::string, 1> filename_) {
  length = JD_.length(1);
  JD.makeReference(JD_);
  flux.makeReference(flux_);
  error.makeReference(error_);
  nchi.makeReference(nchi_);
  filename.makeReference(filename_);
  weights.makeReference(filled(length, 0.0));
  boxval.makeReference(filled(length, 0.0));
  has_data = true;
}

bool Lightcurve::requirePoints__() const {
  if (has_data && length > 0) return true;
  std::cout << kNoData << std::endl;
  return false;
}

bool Lightcurve::requireUsablePoints__(std::vector<int>& points, bool withWeight) const {
  points.clear();
  if (has_data && length > 0) {
    points.reserve(length);
    const double* date = &JD(1);
    const double* value = &flux(1);
    const double* err = &error(1);
    for (int i = 0; i < length; ++i)
      if (withWeight ? lightcurve_detail::usablePoint(date[i], value[i], err[i])
                     : lightcurve_detail::foldable(date[i], value[i]))
        points.push_back(i + 1);
  }
  if (!points.empty()) return true;
  std::cout << kNoData << std::endl;
  return false;
}

bool Lightcurve::requirePeak__(int i) const {
  if (!boxfitted) {
    std::cout << kNoBox << std::endl;
    return false;
  }
  if (i < 1 || i > 10) {
    std::cout << "error: number(" << i << ") out of range (1,10)!" << std::endl;
    return false;
  }
  return true;
}

double Lightcurve::getDrop_box(int i) const {
  if (!requirePeak__(i)) return -1.0;
  return (H_box(i) - L_box(i)) / H_box(i);
}

double Lightcurve::getT0_box(int i) const {
  if (!requirePeak__(i)) return -1.0;
  return t0_box(i);
}

double Lightcurve::getTau_box(int i) const {
  if (!requirePeak__(i)) return -1.0;
  return tau_box(i);
}

int Lightcurve::getNumber_transit_box() const {
  if (number_transit_points == -1) {
    std::cout << "number of points in-transit not available!" << std::endl;
    return -1;
  }
  return number_transit_points;
}

int Lightcurve::getNumber_box() const {
  if (number_transits == -1) {
    std::cout << "number of transits not available!" << std::endl;
    return 0;
  }
  return number_transits;
}

int Lightcurve::getNumber_transits() const { return getNumber_box(); }
