// The analytic transit model on 10^6 dates, 30 % of them in transit, with
// quadratic limb darkening (0.4, 0.25): simulate_analytical with the exact
// model and with the small-planet approximation, the exact model alone at
// the in-transit separations, against a hand loop that calls ellk_, ellec_
// and rj_ once per in-transit point (the least a one-at-a-time exact
// evaluation must do), and the operation on an orbit that misses the star
// (its cost without the model). Counters give ns per in-transit point; the
// model's own cost in the operation is the difference to the one without transit.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "lightcurve/pellib.h"
#include "lightcurve/transit_model.h"

namespace {

constexpr int kPoints = 1000000;
constexpr double kPeriod = 1.0, kRatio = 0.1;
constexpr double kAU = 149597870691.0, kRsun = 6.96265e8, kRjup = 7.14e7;

// An edge-on orbit of period 1 around one solar mass whose star is large
// enough that the planet overlaps it over 30 % of the orbit.
double orbitRadius() { return std::pow(kPeriod / 365.2425, 0.66666667); }
double starRadius() { return orbitRadius() * kAU / ((1 + kRatio) / (0.3 * M_PI) * kRsun); }
double planetRadius() { return kRatio * starRadius() * kRsun / kRjup; }

const std::vector<double>& dates() {
  static const std::vector<double> d = [] {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> u(0.0, 10 * kPeriod);
    std::vector<double> v(kPoints);
    for (double& x : v) x = 2450000.0 + u(rng);
    std::sort(v.begin(), v.end());
    return v;
  }();
  return d;
}

orv::MArray<double, 1> dateArray() {
  orv::MArray<double, 1> a(kPoints);
  for (int i = 0; i < kPoints; ++i) a(i + 1) = dates()[i];
  return a;
}

void simulate(benchmark::State& state, bool small, double inclination) {
  const orv::MArray<double, 1> d = dateArray();
  int inTransit = 0;
  for (auto _ : state) {
    Lightcurve lc;
    long seed = -1;
    lc.simulate_analytical(kPeriod, 2450000.5, inclination, 1.0, starRadius(), planetRadius(), 0.4, 0.25, d, 0.0, small,
                           seed);
    inTransit = 0;
    for (int i = 1; i <= kPoints; ++i) inTransit += lc.flux(i) < 1.0;
    benchmark::DoNotOptimize(lc.flux(1));
  }
  state.counters["in_transit"] = inTransit;
  if (inTransit == 0) return;
  state.counters["ns_per_in_transit_point"] =
      benchmark::Counter(static_cast<double>(inTransit) * state.iterations() * 1e-9,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_SimulateExact(benchmark::State& state) { simulate(state, false, 90.0); }
void BM_SimulateSmallPlanet(benchmark::State& state) { simulate(state, true, 90.0); }
// The same operation on an orbit that misses the star: everything but the
// model (noise, record, fold, bookkeeping), the baseline to subtract.
void BM_SimulateNoTransit(benchmark::State& state) { simulate(state, false, 0.0); }

// The separations of the in-transit points.
std::vector<double> inTransitSeparations() {
  const double a = orbitRadius(), v = 2 * M_PI * a / kPeriod, scale = kAU / (starRadius() * kRsun);
  std::vector<double> zs;
  for (double t : dates()) {
    double phi = t - 2450000.5 - std::floor(t - 2450000.5);
    if (phi > 0.5) phi = 1 - phi;
    const double z = kPeriod * phi * v * scale;
    if (z < 1 + kRatio) zs.push_back(z);
  }
  return zs;
}

// The exact model itself at the in-transit separations, in the blocks of 256
// points the operation hands it.
void BM_ExactModel(benchmark::State& state) {
  const std::vector<double> zs = inTransitSeparations();
  std::vector<double> change(zs.size());
  const int n = static_cast<int>(zs.size());
  for (auto _ : state) {
    for (int first = 0; first < n; first += 256)
      exactTransitChanges(zs.data() + first, change.data() + first, std::min(256, n - first), kRatio, 0.4,
                          0.25);
    benchmark::DoNotOptimize(change.data());
  }
  state.counters["in_transit"] = static_cast<double>(zs.size());
  state.counters["ns_per_in_transit_point"] =
      benchmark::Counter(static_cast<double>(zs.size()) * state.iterations() * 1e-9,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// K, E and Pi for each in-transit separation, one call after the other.
void BM_HandLoopEllipticIntegrals(benchmark::State& state) {
  const std::vector<double> zs = inTransitSeparations();
  const double p = kRatio;
  for (auto _ : state) {
    double sum = 0.0;
    for (double z : zs) {
      const double x1 = (p - z) * (p - z), x2 = (p + z) * (p + z);
      const bool limb = z > 1 - p;
      const double q = limb ? std::sqrt((1 - x1) / (4 * z * p)) : std::sqrt((x2 - x1) / (1 - x1));
      const double n = limb ? 1 / x1 - 1 : x2 / x1 - 1;
      sum += ellk_(q) + ellec_(q) + rj_(0.0, 1 - q * q, 1.0, 1 + n);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["in_transit"] = static_cast<double>(zs.size());
  state.counters["ns_per_in_transit_point"] =
      benchmark::Counter(static_cast<double>(zs.size()) * state.iterations() * 1e-9,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_SimulateExact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimulateSmallPlanet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimulateNoTransit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExactModel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandLoopEllipticIntegrals)->Unit(benchmark::kMillisecond);

}  // namespace
