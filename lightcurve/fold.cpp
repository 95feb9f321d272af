// Folding on a period, ordering by date, phase binning and weights.

#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "lightcurve/lightcurve_detail.h"
#include "lightcurve/pellib.h"

namespace {

struct KeyIndex {
  double key;
  int index;  // point number, from 1
};

// Ascending keys, NaN after every number, equal keys by point number: the
// order of a stable sort, and a strict weak order even with NaN keys.
bool keyBefore(const KeyIndex& a, const KeyIndex& b) {
  const bool aNan = std::isnan(a.key);
  const bool bNan = std::isnan(b.key);
  if (aNan != bNan) return bNan;
  if (!aNan && a.key != b.key) return a.key < b.key;
  return a.index < b.index;
}

// Keyed point numbers put in ascending order of their keys, the order of a stable sort.
void sortByKey(std::vector<KeyIndex>& order) { std::sort(order.begin(), order.end(), keyBefore); }

// A new array of the elements of src in the given order.
template <typename T>
orv::MArray<T, 1> gathered(const orv::MArray<T, 1>& src, const std::vector<KeyIndex>& order) {
  const int n = static_cast<int>(order.size());
  orv::MArray<T, 1> out(n);
  T* o = out.firstElement();
  for (int i = 0; i < n; ++i) o[i] = src(order[i].index);
  return out;
}

// Puts the elements 1..n of a into the given order, in place.
template <typename T>
void reorder(orv::MArray<T, 1>& a, const std::vector<KeyIndex>& order) {
  std::vector<T> tmp(order.size());
  for (size_t i = 0; i < order.size(); ++i) tmp[i] = std::move(a(order[i].index));
  for (size_t i = 0; i < order.size(); ++i) a(static_cast<int>(i) + 1) = std::move(tmp[i]);
}

}  // namespace

// The points ordered by phase; equal phases keep their stored order.
void Lightcurve::foldPoints__(const std::vector<int>& points, double period_, double t0_, bool quick) {
  folded = true;
  period = period_;
  t0 = (t0_ == 0.0) ? JD(points.front()) + period_ * 0.5 : t0_;
  const int n = static_cast<int>(points.size());
  const double* date = &JD(1);
  std::vector<KeyIndex> order(n);
  for (int m = 0; m < n; ++m)
    order[m] = {lightcurve_detail::foldedPhase(date[points[m] - 1], t0, period), points[m]};
  sortByKey(order);
  orv::MArray<double, 1> sortedPhases(n);
  for (int m = 0; m < n; ++m) sortedPhases(m + 1) = order[m].key;
  phase.makeReference(sortedPhases);
  phased_flux.makeReference(gathered(flux, order));
  phased_error.makeReference(gathered(error, order));
  phased_weights.makeReference(gathered(weights, order));
  phased_boxval.makeReference(gathered(boxval, order));
  if (!quick) {
    phased_nchi.makeReference(gathered(nchi, order));
    phased_filename.makeReference(gathered(filename, order));
  }
  phased_length = n;
}

void Lightcurve::fold(double period_, double t0_) {
  std::vector<int> points;
  if (requireUsablePoints__(points, false)) foldPoints__(points, period_, t0_, false);
}

void Lightcurve::fold(double period_) { fold(period_, 0.0); }

void Lightcurve::fold() { fold(period, t0); }

void Lightcurve::fold_quick(double period_, double t0_) {
  std::vector<int> points;
  if (requireUsablePoints__(points, false)) foldPoints__(points, period_, t0_, true);
}

void Lightcurve::fold_quick(double period_) { fold_quick(period_, 0.0); }

void Lightcurve::fold_quick() { fold_quick(period, t0); }

void Lightcurve::sort() {
  if (!requirePoints__()) return;
  if (length < 2) return;
  std::vector<KeyIndex> order(length);
  for (int i = 1; i <= length; ++i) order[i - 1] = {JD(i), i};
  sortByKey(order);
  reorder(JD, order);
  reorder(flux, order);
  reorder(error, order);
  reorder(weights, order);
  reorder(nchi, order);
  reorder(boxval, order);
  reorder(filename, order);
}

void Lightcurve::binning_phased(int n) {
  if (!folded) {
    std::cout << "lightcurve is not folded!" << std::endl;
    return;
  }
  if (n < 1) {
    std::cout << "error: number of bins must be at least 1!" << std::endl;
    return;
  }
  // Weighted sums per bin; the walk over the phase-sorted points only moves
  // forward. Entries that take no part add nothing, as if they were not there.
  const double w = 1.0 / n;
  std::vector<double> P(n + 1, 0.0), F(n + 1, 0.0), W(n + 1, 0.0);
  int b = 1;
  for (int k = 1; k <= phased_length; ++k) {
    if (!lightcurve_detail::usablePoint(phase(k), phased_flux(k), phased_error(k))) continue;
    const double ph = phase(k);
    while (ph >= b * w && b < n) ++b;
    const double e = phased_error(k);
    const double v = 1.0 / (e * e);
    P[b] += v * ph;
    F[b] += v * phased_flux(k);
    W[b] += v;
  }
  // Bins without weight are dropped; a bin of points at phase 0 keeps its place.
  int filledBins = 0;
  for (int i = 1; i <= n; ++i)
    if (W[i] != 0.0) ++filledBins;
  orv::MArray<double, 1> binPhase(filledBins), binFlux(filledBins), binError(filledBins);
  int m = 0;
  for (int i = 1; i <= n; ++i) {
    if (W[i] == 0.0) continue;
    ++m;
    binPhase(m) = P[i] / W[i];
    binFlux(m) = F[i] / W[i];
    binError(m) = 1.0 / std::sqrt(W[i]);
  }
  phase.makeReference(binPhase);
  phased_flux.makeReference(binFlux);
  phased_error.makeReference(binError);
  phased_length = filledBins;
}

void Lightcurve::calc_weights() {
  if (!requirePoints__()) return;
  weighPoints__(lightcurve_detail::pointNumbers(length));
}

void Lightcurve::weighPoints__(const std::vector<int>& points) {
  weighted = true;
  double S = 0.0;
  for (const int i : points) S += 1.0 / (error(i) * error(i));
  if (static_cast<int>(points.size()) < length)
    for (int i = 1; i <= length; ++i) weights(i) = 0.0;
  for (const int i : points) weights(i) = (1.0 / (error(i) * error(i))) / S;
}

void Lightcurve::calc_phased_weights() {
  if (!requirePoints__()) return;
  if (!folded) {
    std::cout << "lightcurve not folded yet!" << std::endl;
    return;
  }
  orv::MArray<double, 1> pw(phased_length);
  double S = 0.0;
  for (int k = 1; k <= phased_length; ++k) S += 1.0 / (phased_error(k) * phased_error(k));
  for (int k = 1; k <= phased_length; ++k) pw(k) = (1.0 / (phased_error(k) * phased_error(k))) / S;
  phased_weights.makeReference(pw);
}
