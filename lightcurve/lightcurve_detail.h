#ifndef LIGHTCURVE_LIGHTCURVE_DETAIL_H
#define LIGHTCURVE_LIGHTCURVE_DETAIL_H

// Helpers shared by the light-curve source files: fixed messages, the phase
// rule, and new filled arrays.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "orv/marray.h"

namespace lightcurve_detail {

inline const char* const kNoData = "lightcurve contains no data points!";
inline const char* const kNoBox = "no boxed-lightcurve available!";
inline const char* const kDifferentLengths = "vectors have different lengths!";
inline const char* const kNoFileInformation = "no file information";

// The integer part of x truncated toward zero, equal to std::trunc for every
// x, in plain arithmetic that vectorises: below 2^52 in magnitude, adding and
// subtracting 2^52 rounds to the nearest integer, which is lowered by one
// when it overshoots; larger values, infinities and NaN are their own integer part.
inline double truncated(double x) {
  const double a = std::fabs(x);
  double t = (a + 4503599627370496.0) - 4503599627370496.0;
  t -= static_cast<double>(t > a);
  t = a < 4503599627370496.0 ? t : a;
  return std::copysign(t, x);
}

// Phase of the offset x = (date - t0) / period of a date from the epoch,
// given the integer part of x truncated toward zero: mid-transit at 0.5, in
// [0, 1). Negative offsets are lifted by 1.
inline double phaseOfOffset(double x, double integerPart) {
  x -= integerPart;
  x += static_cast<double>(x < 0.0);  // adding 0 turns -0 into +0, which the next step makes 0.5 anyway
  x += 0.5;
  return x - static_cast<double>(x >= 1.0);
}

// Phase of a date folded on (period, t0): mid-transit at 0.5, in [0, 1).
inline double foldedPhase(double date, double t0, double period) {
  const double x = (date - t0) / period;
  return phaseOfOffset(x, truncated(x));
}

// The bin, 1..nbins, of a phase p among nbins bins of the given width
// (1.0 / nbins): bin b holds the phases from boundary b - 1 to below
// boundary b, where boundary k is k * width for 0 < k < nbins, boundary 0
// is -infinity and boundary nbins +infinity (so a phase outside [0, 1), NaN
// among them, goes to the first or the last bin as the comparisons place
// it): the bin that walking up the boundaries while p reaches them finds.
// The product of the phase with nbins, truncated, is at most one bin off
// for any int nbins, so one comparison with each neighbouring boundary
// settles it.
inline int phaseBin(double p, int nbins, double width) {
  const double last = nbins - 1;
  double guess = p < 1.0 ? p * nbins : last;
  guess = p >= 0.0 ? guess : 0.0;
  double g = std::min(std::trunc(guess), last);
  g -= static_cast<double>((g > 0.0) & (p < g * width));
  g += static_cast<double>((g < last) & (p >= (g + 1.0) * width));
  return static_cast<int>(g) + 1;
}

// Whether a point takes part in folding: its date and its flux are finite.
// Missing cadences are stored with dates or fluxes that are not numbers; such
// a point is passed over as if it were not in the curve.
inline bool foldable(double date, double flux) { return std::isfinite(date) && std::isfinite(flux); }

// Whether a point, or a phased entry by its phase, takes part in binning and
// the box search: it is foldable and its weight 1 / error^2 is finite too (an
// error of 0, or one that is not a number, gives no usable weight).
inline bool usablePoint(double date, double flux, double error) {
  return foldable(date, flux) && std::isfinite(1.0 / (error * error));
}

// Inside the window of width tau centred on phase 0.5, with a margin of 1e-4
// at both ends (both inclusive).
inline bool inCentredWindow(double phase, double tau) {
  return 0.4999 - tau / 2 <= phase && phase <= 0.5001 + tau / 2;
}

// The point numbers 1..n.
inline std::vector<int> pointNumbers(int n) {
  std::vector<int> numbers(n > 0 ? n : 0);
  for (int i = 0; i < n; ++i) numbers[i] = i + 1;
  return numbers;
}

// A new array of n elements, base 1, every element value.
template <typename T>
orv::MArray<T, 1> filled(int n, const T& value) {
  orv::MArray<T, 1> a(n);
  T* p = a.firstElement();
  for (int i = 0; i < n; ++i) p[i] = value;
  return a;
}

// A new array holding elements 1..n of a, base 1.
template <typename T>
orv::MArray<T, 1> copyOf(const orv::MArray<T, 1>& a, int n) {
  orv::MArray<T, 1> c(n);
  for (int i = 1; i <= n; ++i) c(i) = a(a.first(1) + i - 1);
  return c;
}

}  // namespace lightcurve_detail

#endif
