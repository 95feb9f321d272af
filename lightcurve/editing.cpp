// Normalisation, flux/magnitude conversion, clipping and editing of points,
// and the removal and restoration of the weighted mean flux.

#include <cmath>
#include <iostream>

#include "lightcurve/lightcurve_detail.h"
#include "lightcurve/pellib.h"

namespace {

// Median of elements 1..n.
double medianOf(const orv::MArray<double, 1>& a, int n) { return orv::median_exact(a(orv::Range(1, n))); }

}  // namespace

double flux2mag(double x) { return -2.5 * std::log10(x / 3060.0); }

namespace {

// Divides flux and error by the median flux; refuses a median of 0.
bool divideByMedian(orv::MArray<double, 1>& flux, orv::MArray<double, 1>& error, int n) {
  const double M = medianOf(flux, n);
  if (M == 0.0) {
    std::cout << "error: median flux is 0!" << std::endl;
    return false;
  }
  for (int i = 1; i <= n; ++i) {
    flux(i) /= M;
    error(i) /= M;
  }
  return true;
}

}  // namespace

void Lightcurve::normalize() {
  if (!requirePoints__()) return;
  divideByMedian(flux, error, length);
}

void Lightcurve::normalize_flux() {
  if (magnitudes) {
    std::cout << "error: lightcurve in magnitudes!" << std::endl;
    return;
  }
  if (!requirePoints__()) return;
  divideByMedian(flux, error, length);
}

void Lightcurve::convert2mag(double offset) {
  if (magnitudes) {
    std::cout << "error: lightcurve already in magnitudes!" << std::endl;
    return;
  }
  if (!requirePoints__()) return;
  for (int i = 1; i <= length; ++i) {
    const double f = flux(i);
    const double e = error(i);
    error(i) = std::fabs(-2.5 * std::log10((f + e) / (f - e)) * 0.5);
    flux(i) = -2.5 * std::log10(f);
  }
  // The median magnitude becomes the offset.
  const double M = medianOf(flux, length);
  for (int i = 1; i <= length; ++i) flux(i) = flux(i) - M + offset;
  magnitudes = true;
}

void Lightcurve::convert2flux() {
  if (!magnitudes) {
    std::cout << "error: lightcurve already in fluxes!" << std::endl;
    return;
  }
  if (!requirePoints__()) return;
  for (int i = 1; i <= length; ++i) {
    const double m = flux(i);
    const double e = error(i);
    error(i) = std::fabs((std::pow(10.0, -0.4 * (m - e)) - std::pow(10.0, -0.4 * (m + e))) * 0.5);
    flux(i) = std::pow(10.0, -0.4 * m);
  }
  magnitudes = false;
  normalize_flux();
}

// Keeps, in order, the points for which keep(i) holds; the others are removed
// as remove_point would, each point tested once.
template <typename Keep>
static int removeWhere(Lightcurve& lc, Keep keep) {
  int kept = 0;
  const int n = lc.length;
  for (int i = 1; i <= n; ++i) {
    if (!keep(i)) continue;
    ++kept;
    if (kept == i) continue;
    lc.JD(kept) = lc.JD(i);
    lc.flux(kept) = lc.flux(i);
    lc.error(kept) = lc.error(i);
    lc.nchi(kept) = lc.nchi(i);
    lc.boxval(kept) = lc.boxval(i);
    lc.filename(kept) = lc.filename(i);
  }
  lc.length = kept;
  return n - kept;
}

// One pass of sigma clipping on values (the flux or the errors): M the
// median, s the RMS about it; a point goes when its deviation from M reaches
// factor * s, on both sides or, with oneSided, above M only. Every point is
// tested once. Prints M and s; returns the number removed.
static int clipOnce(Lightcurve& lc, const orv::MArray<double, 1> values, double factor, bool oneSided) {
  const int n = lc.length;
  const double M = medianOf(values, n);
  double sum = 0.0;
  for (int i = 1; i <= n; ++i) sum += (values(i) - M) * (values(i) - M);
  const double s = std::sqrt(sum / n);
  std::cout << M << " " << s << std::endl;
  const double limit = factor * s;
  return removeWhere(lc, [&](int i) {
    const double deviation = oneSided ? values(i) - M : std::fabs(values(i) - M);
    return !(deviation >= limit);
  });
}

int Lightcurve::clipping(double factor) {
  if (!requirePoints__()) return 0;
  const int removed_points = clipOnce(*this, flux, factor, false);
  calc_weights();
  renorm();
  return removed_points;
}

int Lightcurve::error_clipping(double factor) {
  if (!requirePoints__()) return 0;
  const int removed_points = clipOnce(*this, error, factor, true);
  calc_weights();
  renorm();
  return removed_points;
}

void Lightcurve::remove_point(int i) {
  if (i < 1 || i > length) {
    std::cout << "error: number(" << i << ") out of range (1," << length << ")!" << std::endl;
    return;
  }
  removeWhere(*this, [i](int k) { return k != i; });
}

void Lightcurve::manipulate(int i, double delta) {
  if (i < 1 || i > length) {
    std::cout << "error: number(" << i << ") out of range (1," << length << ")!" << std::endl;
    return;
  }
  flux(i) += delta;
}

void Lightcurve::blend(double b) {
  if (!analytical || magnitudes) {
    std::cout << "error: blending only possible for analytical lightcurves in flux format!" << std::endl;
    return;
  }
  for (int i = 1; i <= length; ++i)
    if (flux(i) < 1.0) flux(i) = flux(i) + (1.0 - flux(i)) * b;
}

void Lightcurve::scale(double factor) {
  if (!requirePoints__()) return;
  for (int i = 1; i <= length; ++i) {
    flux(i) *= factor;
    error(i) *= factor;
  }
}

void Lightcurve::nchi_scale() {
  if (!requirePoints__()) return;
  for (int i = 1; i <= length; ++i) error(i) *= nchi(i);
}

void Lightcurve::renorm() {
  if (!requirePoints__()) return;
  if (!weighted) {
    std::cout << "weights not calculated yet!" << std::endl;
    return;
  }
  renormPoints__(lightcurve_detail::pointNumbers(length));
}

void Lightcurve::renormPoints__(const std::vector<int>& points) {
  double W = 0.0;
  for (const int i : points) W += flux(i) * weights(i);
  // A mean that is not finite (weights of zero errors among the points) leaves the flux as it is.
  if (!std::isfinite(W)) {
    renorm_offset = 0.0;
    return;
  }
  for (int i = 1; i <= length; ++i) flux(i) -= W;
  renorm_offset = W;
}

void Lightcurve::upscale() {
  if (!requirePoints__()) return;
  for (int i = 1; i <= length; ++i) flux(i) += renorm_offset;
  if (boxfitted)
    for (int m = 1; m <= 10; ++m) {
      H_box(m) += renorm_offset;
      L_box(m) += renorm_offset;
    }
}
