// Red-noise analysis: how the scatter of group means falls with the group
// size, by a sliding time window over the transit-removed curve, by a fixed
// window over the flux, and by lag bins over all pairs of points; and the
// scatter of the removed curve about 1.

#include <cmath>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <vector>

#include "lightcurve/pellib.h"

namespace {

// Sums of values(1..k) for k = 0..n, for group means.
std::vector<double> prefixSums(const orv::MArray<double, 1>& values, int n) {
  std::vector<double> c(n + 1, 0.0);
  for (int i = 1; i <= n; ++i) c[i] = c[i - 1] + values(i);
  return c;
}

// Median of the flux and the scatter about it, sqrt(sum (f - med)^2 / (n - 1)).
void medianAndRms(const orv::MArray<double, 1>& flux, int n, double& med, double& rms) {
  med = orv::median_exact(flux(orv::Range(1, n)));
  double sum = 0.0;
  for (int i = 1; i <= n; ++i) sum += (flux(i) - med) * (flux(i) - med);
  rms = std::sqrt(sum / (n - 1));
}

void refuse(const char* message) { std::cout << message << std::endl; }

}  // namespace

double Lightcurve::getRms_removed() {
  if (!removed_ok) {
    std::cout << "error: transit is not removed!" << std::endl;
    return -1.0;
  }
  if (length < 2) return -1.0;
  double sum = 0.0;
  for (int i = 1; i <= length; ++i) sum += (removed(i) - 1) * (removed(i) - 1);
  return std::sqrt(sum / (length - 1));
}

void Lightcurve::analyse_rednoise(double dt) {
  const int N = length;
  if (N < 2) return refuse("error: at least 2 data points needed!");
  if (!removed_ok) return refuse("error: transit is not removed!");
  if (!(dt >= 0)) return refuse("error: time span must not be negative!");
  std::ofstream table("corrspec.tbl", std::ios::out | std::ios::trunc);

  // Groups [s, e] of consecutive points spanning at most dt, as the window slides.
  std::vector<int> count;
  std::vector<double> mean;
  auto record = [&](int s, int e) {
    double sum = 0.0;
    for (int k = s; k <= e; ++k) sum += removed(k);
    count.push_back(e - s + 1);
    mean.push_back(sum / (e - s + 1));
  };
  record(1, 1);
  int s = 1, e = 1;
  while (true) {
    if (JD(e + 1) - JD(s) <= dt) {
      ++e;
    } else {
      ++s;
      if (JD(e + 1) - JD(s) <= dt) ++e;
    }
    record(s, e);
    if (s >= N) break;
    if (e < N) continue;
    while (s < N) record(++s, N);
    break;
  }

  int nmax = 0;
  for (int c : count) nmax = std::max(nmax, c);
  std::cout << std::setprecision(3);
  table << std::setprecision(3);
  for (int n = 1; n <= nmax; ++n) {
    int k = 0;
    double m = 0.0;
    for (size_t g = 0; g < count.size(); ++g)
      if (count[g] == n) {
        ++k;
        m += mean[g];
      }
    if (k > 0) m /= k;
    double sigma = 0.0;
    if (k > 1) {
      double sum = 0.0;
      for (size_t g = 0; g < count.size(); ++g)
        if (count[g] == n) sum += (mean[g] - m) * (mean[g] - m);
      sigma = std::sqrt(sum / (k - 1));
    }
    const double u = error(1) / std::sqrt(static_cast<double>(n));
    const double r = sigma * sigma - u * u > 0 ? std::sqrt(sigma * sigma - u * u) : 0.0;
    std::cout << std::setw(2) << n << " " << std::setw(4) << k << " " << std::setw(6) << m << " "
              << std::setw(9) << sigma << " " << std::setw(9) << u << std::setw(10) << r << std::endl;
    table << std::setw(4) << 2 * n << " " << std::setw(10) << r << "\n";
  }
}

orv::MArray<double, 2> Lightcurve::analyze_rednoise2(double w) {
  const int N = length;
  orv::MArray<double, 2> none(0, 4);
  if (N < 2) return refuse("error: at least 2 data points needed!"), none;
  if (!(w > 0)) return refuse("error: window length must be positive!"), none;
  double med = 0, rms = 0;
  medianAndRms(flux, N, med, rms);
  if (med == 0.0) return refuse("error: median flux is 0!"), none;
  // The smallest positive step between consecutive dates.
  double dmin = JD(N) - JD(1);
  for (int i = 1; i < N; ++i) {
    const double d = JD(i + 1) - JD(i);
    if (d > 0 && d < dmin) dmin = d;
  }
  if (!(dmin > 0)) return refuse("error: dates do not advance!"), none;
  std::cout << "average=" << med << ", normalized rms=" << rms / med << std::endl;

  const std::vector<double> sums = prefixSums(flux, N);
  std::vector<int> c(N + 1, 0);
  std::vector<double> a(N + 1, 0.0);
  const double step = dmin / 5;
  double lo = JD(1) - 2 * w, hi = lo + w;
  int first = 1, last = 1, prevFirst = 0, prevLast = 0;
  // The window's first index: the smallest i < N with date >= lo (else N);
  // its last: the largest i with date <= hi, at least 1. Both only grow.
  auto place = [&] {
    while (first < N && JD(first) < lo) ++first;
    while (last < N && JD(last + 1) <= hi) ++last;
  };
  while (true) {
    do {
      lo += step;
      hi += step;
      place();
    } while ((first == prevFirst || first > last) && last == prevLast);
    if (first <= last) {
      const int n = last - first + 1;
      const double windowMean = (sums[last] - sums[first - 1]) / n;
      ++c[n];
      a[n] += (med - windowMean) * (med - windowMean);
    }
    prevFirst = first;
    prevLast = last;
    if (first >= N || last >= N) break;
  }

  int rows = 0;
  for (int n = 1; n <= N; ++n)
    if (c[n] > 1) ++rows;
  orv::MArray<double, 2> result(rows, 4);
  int r = 0;
  for (int n = 1; n <= N; ++n) {
    if (c[n] <= 1) continue;
    ++r;
    result(r, 1) = n;
    result(r, 2) = std::sqrt(a[n] / (c[n] - 1)) / med;
    result(r, 3) = rms / std::sqrt(static_cast<double>(n)) / med;
    result(r, 4) = c[n];
  }
  return result;
}

orv::MArray<double, 2> Lightcurve::analyze_rednoise(double T, int nbins, int minpairs) {
  const int N = length;
  orv::MArray<double, 2> none(0, 2);
  if (N < 2) return refuse("error: at least 2 data points needed!"), none;
  if (!(T > 0)) return refuse("error: largest time lag must be positive!"), none;
  if (nbins < 1) return refuse("error: number of lag bins must be at least 1!"), none;
  orv::MArray<double, 2> result(nbins, 2);
  result = 0.0;
  double med = 0, rms = 0;
  medianAndRms(flux, N, med, rms);
  if (med == 0.0) return refuse("error: median flux is 0!"), none;
  std::cout << std::endl << "average=" << med << ", rms=" << rms << std::endl;

  const std::vector<double> sums = prefixSums(flux, N);
  const double width = T / nbins;
  const int least = std::max(minpairs, 2);
  std::vector<int> c(N + 1);
  std::vector<double> a(N + 1);
  for (int m = 1; m <= nbins; ++m) {
    const double L = (m - 1) * T / nbins;
    std::fill(c.begin(), c.end(), 0);
    std::fill(a.begin(), a.end(), 0.0);
    // For ascending dates the partners j of i with L < date(j) - date(i) <= L + width
    // form one run, whose ends only move forward with i.
    int jLo = 2, jHi = 2;
    for (int i = 1; i < N; ++i) {
      jLo = std::max(jLo, i + 1);
      while (jLo <= N && !(JD(jLo) - JD(i) > L)) ++jLo;
      jHi = std::max(jHi, jLo);
      while (jHi <= N && JD(jHi) - JD(i) <= L + width) ++jHi;
      for (int j = jLo; j < jHi; ++j) {
        const int k = j - i + 1;
        const double groupMean = (sums[j] - sums[i - 1]) / k;
        ++c[k];
        a[k] += (med - groupMean) * (med - groupMean);
      }
    }
    for (int k = 1; k <= N; ++k) {
      if (c[k] < least) continue;
      const double variance = a[k] / (c[k] - 1);
      const double radicand = variance - rms * rms / k;
      double red = 0.0;
      if (radicand > 0) {
        red = std::sqrt(radicand);
        result(m, 1) += red;
        result(m, 2) += 1;
      }
      std::cout << "hallo " << k << " " << c[k] << " " << std::sqrt(variance) << " " << rms / std::sqrt(k)
                << " " << red << std::endl;
    }
    if (result(m, 2) != 0) result(m, 1) = result(m, 1) / (result(m, 2) * med);
    std::cout << std::setw(10) << result(m, 1) << " " << result(m, 2) << std::endl;
  }
  return result;
}
