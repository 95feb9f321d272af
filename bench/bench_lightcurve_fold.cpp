// Folding and date sorting of a light curve of 100000 points against a
// hand-written loop doing the same work: phases, std::stable_sort of an index
// array, and gathers of every carried array into new storage.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "lightcurve/pellib.h"
#include "orv/marray.h"

namespace {

const int kPoints = 100000;
const double kPeriod = 3.1712;
const double kEpoch = 1001.37;

struct Data {
  orv::MArray<double, 1> jd, flux, error;
};

const Data& data() {
  static const Data d = [] {
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> date(1000.0, 1200.0), f(0.99, 1.01);
    Data x{orv::MArray<double, 1>(kPoints), orv::MArray<double, 1>(kPoints), orv::MArray<double, 1>(kPoints)};
    for (int i = 1; i <= kPoints; ++i) {
      x.jd(i) = date(rng);
      x.flux(i) = f(rng);
      x.error(i) = 0.002;
    }
    return x;
  }();
  return d;
}

// A fresh record of the unsorted data (copied, so every iteration starts alike).
Lightcurve* freshCurve() {
  const Data& d = data();
  orv::MArray<double, 1> jd(kPoints), flux(kPoints), error(kPoints);
  jd = d.jd;
  flux = d.flux;
  error = d.error;
  return new Lightcurve(jd, flux, error);
}

double phaseOf(double date, double t0, double period) {
  double x = (date - t0) / period;
  x -= std::trunc(x);
  if (x < 0) x += 1.0;
  x += 0.5;
  if (x >= 1.0) x -= 1.0;
  return x;
}

template <typename T>
orv::MArray<T, 1> gather(const orv::MArray<T, 1>& src, const std::vector<int>& idx) {
  orv::MArray<T, 1> out(static_cast<int>(idx.size()));
  for (size_t k = 0; k < idx.size(); ++k) out(static_cast<int>(k) + 1) = src(idx[k]);
  return out;
}

// The reference fold: phases, a stable index sort and `arrays` gathers.
void referenceFold(Lightcurve& lc, bool all) {
  const int n = lc.length;
  orv::MArray<double, 1> ph(n);
  for (int i = 1; i <= n; ++i) ph(i) = phaseOf(lc.JD(i), kEpoch, kPeriod);
  std::vector<int> idx(n);
  std::iota(idx.begin(), idx.end(), 1);
  std::stable_sort(idx.begin(), idx.end(), [&](int a, int b) { return ph(a) < ph(b); });
  lc.phase.makeReference(gather(ph, idx));
  lc.phased_flux.makeReference(gather(lc.flux, idx));
  lc.phased_error.makeReference(gather(lc.error, idx));
  lc.phased_weights.makeReference(gather(lc.weights, idx));
  lc.phased_boxval.makeReference(gather(lc.boxval, idx));
  if (all) {
    lc.phased_nchi.makeReference(gather(lc.nchi, idx));
    lc.phased_filename.makeReference(gather(lc.filename, idx));
  }
}

// Times op on a fresh unsorted record per iteration; building and freeing
// the record are not timed.
template <typename Op>
void timeOnFreshCurve(benchmark::State& state, Op op) {
  for (auto _ : state) {
    state.PauseTiming();
    Lightcurve* lc = freshCurve();
    state.ResumeTiming();
    op(*lc);
    benchmark::DoNotOptimize(lc->phase.getData());
    benchmark::DoNotOptimize(lc->JD.getData());
    state.PauseTiming();
    delete lc;
    state.ResumeTiming();
  }
}

void BM_Fold(benchmark::State& state) {
  timeOnFreshCurve(state, [](Lightcurve& lc) { lc.fold(kPeriod, kEpoch); });
}
BENCHMARK(BM_Fold)->Unit(benchmark::kMillisecond);

void BM_FoldReference(benchmark::State& state) {
  timeOnFreshCurve(state, [](Lightcurve& lc) { referenceFold(lc, true); });
}
BENCHMARK(BM_FoldReference)->Unit(benchmark::kMillisecond);

void BM_FoldQuick(benchmark::State& state) {
  timeOnFreshCurve(state, [](Lightcurve& lc) { lc.fold_quick(kPeriod, kEpoch); });
}
BENCHMARK(BM_FoldQuick)->Unit(benchmark::kMillisecond);

void BM_FoldQuickReference(benchmark::State& state) {
  timeOnFreshCurve(state, [](Lightcurve& lc) { referenceFold(lc, false); });
}
BENCHMARK(BM_FoldQuickReference)->Unit(benchmark::kMillisecond);

void BM_SortByDate(benchmark::State& state) {
  timeOnFreshCurve(state, [](Lightcurve& lc) { lc.sort(); });
}
BENCHMARK(BM_SortByDate)->Unit(benchmark::kMillisecond);

// Stable index sort by date, then every per-point array gathered and copied back.
void BM_SortByDateReference(benchmark::State& state) {
  timeOnFreshCurve(state, [](Lightcurve& lc) {
    const int n = lc.length;
    std::vector<int> idx(n);
    std::iota(idx.begin(), idx.end(), 1);
    const orv::MArray<double, 1> jd = lc.JD;
    std::stable_sort(idx.begin(), idx.end(), [&](int a, int b) { return jd(a) < jd(b); });
    lc.JD = gather(lc.JD, idx);
    lc.flux = gather(lc.flux, idx);
    lc.error = gather(lc.error, idx);
    lc.weights = gather(lc.weights, idx);
    lc.nchi = gather(lc.nchi, idx);
    lc.boxval = gather(lc.boxval, idx);
    lc.filename = gather(lc.filename, idx);
  });
}
BENCHMARK(BM_SortByDateReference)->Unit(benchmark::kMillisecond);

}  // namespace
