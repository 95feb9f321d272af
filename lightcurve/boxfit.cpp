// Box-fitting transit search: the signal-residue spectrum over trial
// frequencies, its ten strongest peaks, and the read-backs of one peak.

#include <algorithm>
#include <array>
#include <cmath>
#include <iostream>
#include <limits>
#include <vector>

#include "lightcurve/box_scan.h"
#include "lightcurve/lightcurve_detail.h"
#include "lightcurve/pellib.h"
#include "lightcurve/trial_bins.h"

using lightcurve_detail::binMeans;
using lightcurve_detail::foldedPhase;
using lightcurve_detail::phasesAndBins;
using lightcurve_detail::scanFromSeed;
using lightcurve_detail::SortedCurve;
using lightcurve_detail::TrialBox;

namespace {

// The work of one search, reused for every trial.
class BoxSearch {
 public:
  // The search over the given points of the curve (numbers from 1, ascending, at least one); the
  // first of them gives the epoch of every fold.
  BoxSearch(const Lightcurve& lc, const std::vector<int>& points, int nbins)
      : n_(static_cast<int>(points.size())), nbins_(nbins) {
    jd_.resize(n_);
    flux_.resize(n_);
    weight_.resize(n_);
    for (int i = 0; i < n_; ++i) {
      jd_[i] = lc.JD(points[i]);
      flux_[i] = lc.flux(points[i]);
      weight_[i] = lc.weights(points[i]);
    }
    if (nbins_ > 0) {
      inverseVariance_.resize(n_);
      weightedFlux_.resize(n_);
      for (int i = 0; i < n_; ++i) {
        const double e = lc.error(points[i]);
        inverseVariance_[i] = 1.0 / (e * e);
        weightedFlux_[i] = inverseVariance_[i] * flux_[i];
      }
      binWidth_ = 1.0 / nbins_;
      for (std::vector<double>* v :
           {&sumPhase_, &sumFlux_, &sumWeight_, &meanPhase_, &meanFlux_, &binWeight_})
        v->resize(nbins_ + 1);
      curve_.resize(nbins_);
      phase_.resize(n_);
      bin_.resize(n_);
    } else {
      points_.resize(n_);
      curve_.resize(n_);
    }
  }

  // The best box of the fold on period 1/f with the default epoch.
  //
  // Neighbouring trials fold the dates almost alike, so the entries of the
  // last trial's box, moved by a few entries, hold a box of about its
  // residue. The best box of this trial reaches at least the greatest such
  // residue, and the scan starts from it (scanFromSeed).
  TrialBox trial(double f, double qmin, double qmax) {
    const double period = 1.0 / f;
    const double t0 = jd_[0] + period * 0.5;
    if (nbins_ > 0)
      binnedCurve__(period, t0);
    else
      sortedCurve__(period, t0);
    last_ = scanFromSeed(curve_, qmin, qmax, seedResidue__(qmin, qmax));
    return last_;
  }

 private:
  struct Point {
    double phase, weight, weightedFlux;
  };

  // The greatest residue of the last trial's entries moved by up to
  // kSeedShift entries either way (0 when there is none).
  double seedResidue__(double qmin, double qmax) const {
    constexpr int kSeedShift = 8;
    double seed = 0.0;
    if (last_.first == 0) return seed;
    for (int shift = -kSeedShift; shift <= kSeedShift; ++shift)
      seed = std::max(
          seed, lightcurve_detail::boxResidue(curve_, last_.first + shift, last_.last + shift, qmin, qmax));
    return seed;
  }

  void sortedCurve__(double period, double t0) {
    for (int i = 0; i < n_; ++i)
      points_[i] = {foldedPhase(jd_[i], t0, period), weight_[i], weight_[i] * flux_[i]};
    // Phases that are not numbers (from a period that is not finite) go last: a plain `<` is no
    // order over them, and std::sort needs one or it may read outside the array.
    std::sort(points_.begin(), points_.end(), [](const Point& a, const Point& b) {
      return a.phase < b.phase || (!std::isnan(a.phase) && std::isnan(b.phase));
    });
    curve_.M = n_;
    double w = 0.0, s = 0.0;
    for (int k = 1; k <= n_; ++k) {
      curve_.ph[k] = points_[k - 1].phase;
      w += points_[k - 1].weight;
      s += points_[k - 1].weightedFlux;
      curve_.cumW[k] = w;
      curve_.cumS[k] = s;
    }
  }

  // Inverse-variance bins filled straight from the points, without sorting
  // them; empty bins dropped; phased weights from the bin errors.
  void binnedCurve__(double period, double t0) {
    std::fill(sumPhase_.begin(), sumPhase_.end(), 0.0);
    std::fill(sumFlux_.begin(), sumFlux_.end(), 0.0);
    std::fill(sumWeight_.begin(), sumWeight_.end(), 0.0);
    phasesAndBins(jd_.data(), n_, t0, period, nbins_, binWidth_, phase_.data(), bin_.data());
    for (int i = 0; i < n_; ++i) {
      const int b = bin_[i];
      sumPhase_[b] += inverseVariance_[i] * phase_[i];
      sumFlux_[b] += weightedFlux_[i];
      sumWeight_[b] += inverseVariance_[i];
    }
    binMeans(sumPhase_.data(), sumFlux_.data(), sumWeight_.data(), nbins_ + 1, meanPhase_.data(),
             meanFlux_.data(), binWeight_.data());
    int m = 0;
    double total = 0.0;
    for (int b = 1; b <= nbins_; ++b) {
      if (sumWeight_[b] == 0.0) continue;
      ++m;
      curve_.ph[m] = meanPhase_[b];
      curve_.cumW[m] = binWeight_[b];  // bin weight, normalised below
      curve_.cumS[m] = meanFlux_[b];
      total += binWeight_[b];
    }
    curve_.M = m;
    double* cumW = curve_.cumW.data();
    double* cumS = curve_.cumS.data();
    for (int k = 1; k <= m; ++k) cumW[k] /= total;
    double w = 0.0, s = 0.0;
    for (int k = 1; k <= m; ++k) {
      s += cumW[k] * cumS[k];
      w += cumW[k];
      cumW[k] = w;
      cumS[k] = s;
    }
  }

  int n_;
  int nbins_;
  double binWidth_ = 0.0;
  std::vector<double> jd_, flux_, weight_, inverseVariance_, weightedFlux_;
  std::vector<double> phase_;
  std::vector<int> bin_;
  // Inverse-variance sums of each bin (index 1..nbins): of the phases, the
  // fluxes and the weights; and the bin's mean phase, mean flux and weight.
  std::vector<double> sumPhase_, sumFlux_, sumWeight_, meanPhase_, meanFlux_, binWeight_;
  std::vector<Point> points_;
  SortedCurve curve_;
  TrialBox last_;  // the best box of the last trial
};

// The trials of the ten peaks of the spectrum SR over the trial frequencies
// (peak[1..10], 0 for none), each more than five frequency steps df from the
// earlier ones; equal residues go to the later trial.
std::array<int, 11> tenPeaks(const orv::MArray<double, 1>& frequency, const orv::MArray<double, 1>& SR,
                             int nper, double df) {
  std::array<int, 11> peak{};
  for (int m = 1; m <= 10; ++m) {
    double best = 0.0;
    for (int k = 1; k <= nper; ++k) {
      bool excluded = false;
      for (int j = 1; j < m && !excluded; ++j)
        excluded = peak[j] != 0 && std::fabs(frequency(k) - frequency(peak[j])) <= 5 * df;
      if (!excluded && SR(k) >= best) {
        best = SR(k);
        peak[m] = k;
      }
    }
  }
  return peak;
}

}  // namespace

void Lightcurve::boxfitting(int nper, double pmin, double pmax, double qmin, double qmax, int nbins) {
  // Points whose date, flux or weight is not finite take no part, so that the
  // search is, bit for bit, that of the curve without them: the weights are
  // normalised over the others, the mean flux is theirs and the first of
  // them gives the epoch.
  std::vector<int> points;
  if (!requireUsablePoints__(points, true)) return;
  if (nper < 2 || !(pmin > 0) || !(pmax >= pmin) || nbins < 0) {
    std::cout << "error: boxfitting needs nper >= 2, 0 < pmin <= pmax and nbins >= 0!" << std::endl;
    return;
  }
  boxfitted = true;
  weighPoints__(points);
  renormPoints__(points);

  SR.makeReference(lightcurve_detail::filled(nper, 0.0));
  frequency.makeReference(lightcurve_detail::filled(nper, 0.0));
  std::vector<TrialBox> trials(nper + 1);

  // Trial frequencies by repeated addition, from 1/pmax up to about 1/pmin.
  const double df = (1 / pmin - 1 / pmax) / (nper - 1);
  double f = 1 / pmax;
  for (int k = 1; k <= nper; ++k) {
    frequency(k) = f;
    f += df;
  }

  BoxSearch search(*this, points, nbins);
  for (int k = 1; k <= nper; ++k) {
    trials[k] = search.trial(frequency(k), qmin, qmax);
    SR(k) = trials[k].sr;
  }
  // The record is left folded (and binned) on the last trial.
  foldPoints__(points, 1 / frequency(nper), 0.0, true);
  if (nbins != 0) {
    binning_phased(nbins);
    calc_phased_weights();
  }

  const std::array<int, 11> peak = tenPeaks(frequency, SR, nper, df);
  // Normalised spectrum; a spectrum of zeros stays zero.
  const double top = SR(peak[1]);
  if (top > 0)
    for (int k = 1; k <= nper; ++k) SR(k) /= top;
  double mean = 0.0;
  for (int k = 1; k <= nper; ++k) mean += SR(k) / nper;
  double deviation = 0.0;
  for (int k = 1; k <= nper; ++k) deviation += std::fabs(SR(k) - mean) / (nper - 1);

  SDE.makeReference(lightcurve_detail::filled(10, 0.0));
  period_box.makeReference(lightcurve_detail::filled(10, 0.0));
  H_box.makeReference(lightcurve_detail::filled(10, 0.0));
  L_box.makeReference(lightcurve_detail::filled(10, 0.0));
  tau_box.makeReference(lightcurve_detail::filled(10, 0.0));
  t0_box.makeReference(lightcurve_detail::filled(10, 0.0));
  for (int m = 1; m <= 10; ++m) {
    const int k = peak[m];
    if (k == 0) continue;
    const double sde = deviation > 0 ? (SR(k) - mean) / deviation : 0.0;
    SDE(m) = sde > 0 ? sde : 0.0;
    period_box(m) = 1 / frequency(k);
    tau_box(m) = trials[k].width;
    t0_box(m) = trials[k].centre / frequency(k) + JD(points.front());
    H_box(m) = trials[k].high;
    L_box(m) = trials[k].low;
  }
  upscale();
}

bool Lightcurve::requireFoundPeak__(int i) const {
  if (!requirePeak__(i)) return false;
  if (period_box(i) != 0.0) return true;
  std::cout << lightcurve_detail::kNoBox << std::endl;
  return false;
}

double Lightcurve::getSNR_box(int i) {
  if (!requireFoundPeak__(i)) return -1.0;
  if (!has_data || length < 1) return -1.0;
  const double P = period_box(i), epoch = t0_box(i), width = tau_box(i);
  double S = 0.0;
  for (int k = 1; k <= length; ++k) {
    if (!lightcurve_detail::usablePoint(JD(k), flux(k), error(k))) continue;
    double p = (JD(k) - epoch) / P;
    p -= lightcurve_detail::truncated(p);
    if (p < 0) p += 1;
    if (p >= 1) p -= 1;
    if (p > 1 - width / 2 || p < width / 2) S += 1 / (error(k) * error(k));
  }
  if (!(S > 0)) return -1.0;
  return ((H_box(i) - L_box(i)) / H_box(i)) * std::sqrt(S);
}

int Lightcurve::getNumber_box(int i, int minpts) {
  if (!requireFoundPeak__(i)) return -1;
  const double P = period_box(i), epoch = t0_box(i), width = tau_box(i);
  // The dates of the points that take part in the search, all finite, so
  // that they sort.
  std::vector<double> dates;
  for (int k = 1; k <= length; ++k)
    if (lightcurve_detail::usablePoint(JD(k), flux(k), error(k))) dates.push_back(JD(k));
  std::sort(dates.begin(), dates.end());
  double last = -1e99;
  int count = 0;
  for (const double d : dates) {
    if (!lightcurve_detail::inCentredWindow(foldedPhase(d, epoch, P), width)) continue;
    if (!(d - last >= (1 - width / 2) * P)) continue;
    // The nearest transit centre, the cycle rounded half away from zero.
    const double offset = d - epoch;
    const double cycle = (offset < 0 ? -1.0 : 1.0) * std::floor(std::fabs(offset) / P + 0.5);
    const double mid = cycle * P + epoch;
    const double half = width * P / 2;
    // Dates within half a box of the centre, found around it in the sorted dates.
    auto it = std::lower_bound(dates.begin(), dates.end(), mid - 2 * half - 1.0);
    int n = 0;
    for (; it != dates.end() && *it <= mid + 2 * half + 1.0; ++it)
      if (std::fabs(*it - mid) <= half) ++n;
    last = mid;
    if (n >= minpts) ++count;
  }
  return count;
}

double Lightcurve::getNchi_box(int i) {
  if (!requireFoundPeak__(i)) return -1.0;
  // Folded as fold does, over the points that take part in the search, so
  // that the chi-square is per such point.
  std::vector<int> points;
  if (!requireUsablePoints__(points, true)) return std::numeric_limits<double>::quiet_NaN();
  foldPoints__(points, period_box(i), t0_box(i), false);
  const double lo = 0.4999 - tau_box(i) / 2, hi = 0.5001 + tau_box(i) / 2;
  double sum = 0.0;
  for (int k = 1; k <= phased_length; ++k) {
    const double level = (lo <= phase(k) && phase(k) < hi) ? L_box(i) : H_box(i);
    const double z = (phased_flux(k) - level) / phased_error(k);
    sum += z * z;
  }
  return sum / phased_length;
}

int Lightcurve::getNumber_transit_box(int i) {
  if (!requireFoundPeak__(i)) return -1;
  std::vector<int> points;
  if (!requireUsablePoints__(points, true)) return 0;
  foldPoints__(points, period_box(i), t0_box(i), false);
  const double lo = 0.4999 - tau_box(i) / 2, hi = 0.5001 + tau_box(i) / 2;
  int count = 0;
  for (int k = 1; k <= phased_length; ++k)
    if (lo <= phase(k) && phase(k) < hi) ++count;
  return count;
}

void Lightcurve::maskTransit(double period_, double t0_, double tau_) {
  std::vector<int> kept;
  for (int k = 1; k <= length; ++k)
    if (!lightcurve_detail::inCentredWindow(foldedPhase(JD(k), t0_, period_), tau_)) kept.push_back(k);
  const int n = static_cast<int>(kept.size());
  orv::MArray<double, 1> jd(n), fl(n), er(n), nc(n), bv(n);
  orv::MArray<std::string, 1> names(n);
  for (int m = 1; m <= n; ++m) {
    const int k = kept[m - 1];
    jd(m) = JD(k);
    fl(m) = flux(k);
    er(m) = error(k);
    nc(m) = nchi(k);
    bv(m) = boxval(k);
    names(m) = filename(k);
  }
  JD.makeReference(jd);
  flux.makeReference(fl);
  error.makeReference(er);
  nchi.makeReference(nc);
  boxval.makeReference(bv);
  filename.makeReference(names);
  length = n;
}
