// The box-fitting transit search against astropy's BoxLeastSquares on the same
// curve and trial periods (a script in bench/ times it, best of three), and,
// per trial, against the plain search loop (fold, bin, and every box scored
// with running sums from each start) built from the record's own operations.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "lightcurve/pellib.h"
#include "orv/marray.h"

namespace {

const double kPeriod = 3.17;
const double kDepth = 0.005;
const double kDuration = 0.15;  // days

struct Data {
  orv::MArray<double, 1> jd, flux, error;
};

// n points over 200 days (nights of 0.4 days), the injected transit, 0.2 % noise.
Data makeCurve(int n) {
  std::mt19937 rng(2718);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> g(0.0, 0.002);
  Data d{orv::MArray<double, 1>(n), orv::MArray<double, 1>(n), orv::MArray<double, 1>(n)};
  for (int i = 1; i <= n; ++i) {
    double t = u(rng) * 200.0;
    t = std::floor(t) + 0.4 * (t - std::floor(t));
    const double phase = std::fmod(t - 1.3, kPeriod);
    d.jd(i) = 1000.0 + t;
    d.flux(i) = (phase < kDuration ? 1.0 - kDepth : 1.0) + g(rng);
    d.error(i) = 0.002;
  }
  return d;
}

// n points of space photometry: a 30-minute cadence from date 1000, broken
// for a day every 13.7 days, on a slow stellar wave and a linear drift, with
// transits of 0.4 % depth and 0.2 days every 7.31 days and 0.1 % noise.
Data makeSpaceCurve(int n) {
  std::mt19937 rng(31415);
  std::normal_distribution<double> g(0.0, 0.001);
  Data d{orv::MArray<double, 1>(n), orv::MArray<double, 1>(n), orv::MArray<double, 1>(n)};
  double t = 0.0;
  for (int i = 1; i <= n; t += 1.0 / 48) {
    if (std::fmod(t, 13.7) > 12.7) continue;  // the gap
    const double trend = 0.003 * std::sin(2 * M_PI * t / 9.3) + 0.002 * t / 75.0;
    const double transit = std::fmod(t - 2.1, 7.31) < 0.2 ? 0.004 : 0.0;
    d.jd(i) = 1000.0 + t;
    d.flux(i) = 1.0 + trend - transit + g(rng);
    d.error(i) = 0.001;
    ++i;
  }
  return d;
}

Lightcurve* freshCurve(const Data& d) {
  const int n = d.jd.length(1);
  orv::MArray<double, 1> jd(n), flux(n), error(n);
  jd = d.jd;
  flux = d.flux;
  error = d.error;
  return new Lightcurve(jd, flux, error);
}

// astropy's best-of-three seconds and best period for the curve and the
// search's trial periods; a negative time when the script could not run.
std::pair<double, double> astropyTiming(const Data& d, const Lightcurve& searched) {
  const std::string base = "/tmp/bench_bls_" + std::to_string(getpid());
  {
    std::ofstream curve(base + "_curve.txt"), periods(base + "_periods.txt");
    curve.precision(17);
    periods.precision(17);
    for (int i = 1; i <= d.jd.length(1); ++i)
      curve << d.jd(i) << " " << d.flux(i) << " " << d.error(i) << "\n";
    for (int k = 1; k <= searched.frequency.length(1); ++k) periods << 1 / searched.frequency(k) << "\n";
  }
  const std::string command = "OMP_NUM_THREADS=1 /usr/bin/python3 " + std::string(ORV_SOURCE_DIR) +
                              "/bench/bls_reference.py " + base + "_curve.txt " + base + "_periods.txt";
  FILE* pipe = popen(command.c_str(), "r");
  double seconds = -1, period = 0;
  if (pipe) {
    if (std::fscanf(pipe, "%lf %lf", &seconds, &period) != 2) seconds = -1;
    pclose(pipe);
  }
  std::remove((base + "_curve.txt").c_str());
  std::remove((base + "_periods.txt").c_str());
  return {seconds, period};
}

void searchBenchmark(benchmark::State& state, const Data& d, int nper, double pmin, double pmax, int nbins,
                     bool withAstropy) {
  Lightcurve* lc = nullptr;
  double seconds = 1e300;  // best of the iterations, as for astropy
  for (auto _ : state) {
    state.PauseTiming();
    delete lc;
    lc = freshCurve(d);
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    lc->boxfitting(nper, pmin, pmax, 0.005, 0.1, nbins);
    seconds =
        std::min(seconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.counters["period"] = lc->getPeriod_box(1);
  state.counters["ns_per_trial"] =
      benchmark::Counter(static_cast<double>(nper) * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  if (withAstropy) {
    const auto [astropySeconds, period] = astropyTiming(d, *lc);
    state.counters["astropy_s"] = astropySeconds;
    state.counters["astropy_period"] = period;
    state.counters["ratio"] = seconds / astropySeconds;  // ours over astropy's
  }
  delete lc;
}

void BM_SearchBinned20000(benchmark::State& state) {
  searchBenchmark(state, makeCurve(20000), 20000, 1.0, 10.0, 200, true);
}
BENCHMARK(BM_SearchBinned20000)->Unit(benchmark::kSecond)->Iterations(3);

// A space-photometry curve: 3,600 points with gaps and trends, 20,000 trial
// periods over 1 to 40 days in 1,000 phase bins.
void BM_SearchSpaceBinned3600(benchmark::State& state) {
  searchBenchmark(state, makeSpaceCurve(3600), 20000, 1.0, 40.0, 1000, true);
}
BENCHMARK(BM_SearchSpaceBinned3600)->Unit(benchmark::kSecond)->Iterations(3);

void BM_SearchUnbinned2000(benchmark::State& state) {
  searchBenchmark(state, makeCurve(2000), 5000, 1.0, 10.0, 0, false);
}
BENCHMARK(BM_SearchUnbinned2000)->Unit(benchmark::kSecond)->Iterations(1);

// The plain search of one trial through the record's operations: fold,
// bin, phased weights, then every box with running sums from each start.
double plainTrial(Lightcurve& lc, double f, double qmin, double qmax, int nbins) {
  lc.fold_quick(1 / f);
  if (nbins) {
    lc.binning_phased(nbins);
    lc.calc_phased_weights();
  }
  double best = 0;
  const int M = lc.phased_length;
  for (int i1 = 1; i1 <= M; ++i1) {
    double r = 0, s = 0;
    for (int i2 = i1; i2 <= M; ++i2) {
      r += lc.phased_weights(i2);
      s += lc.phased_weights(i2) * lc.phased_flux(i2);
      const double q = lc.phase(i2) - lc.phase(i1);
      double sr = std::sqrt(s * s / (r * (1 - r)));
      if (std::fabs(r - 1) <= 1e-9) sr = 0;
      if (qmin <= q && q <= qmax) {
        if (sr > best && -s / (1 - r) > s / r) best = sr;
      } else if (qmin <= 1 - q && 1 - q <= qmax) {
        if (sr > best && s / r > -s / (1 - r)) best = sr;
      }
    }
  }
  return best;
}

void plainBenchmark(benchmark::State& state, int points, int trials, int nbins) {
  const Data d = makeCurve(points);
  std::unique_ptr<Lightcurve> lc(freshCurve(d));
  lc->calc_weights();
  lc->renorm();
  for (auto _ : state) {
    double sum = 0;
    for (int k = 0; k < trials; ++k) sum += plainTrial(*lc, 0.1 + 0.9 * k / trials, 0.005, 0.1, nbins);
    benchmark::DoNotOptimize(sum);
  }
  state.counters["ns_per_trial"] =
      benchmark::Counter(static_cast<double>(trials) * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_PlainLoopBinned20000(benchmark::State& state) { plainBenchmark(state, 20000, 200, 200); }
BENCHMARK(BM_PlainLoopBinned20000)->Unit(benchmark::kSecond)->Iterations(1);

void BM_PlainLoopUnbinned2000(benchmark::State& state) { plainBenchmark(state, 2000, 50, 0); }
BENCHMARK(BM_PlainLoopUnbinned2000)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
