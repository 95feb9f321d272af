// Aperture photometry of 1000 stars on a 2048 x 2048 field: aperture (given
// sky) and aperture_sky (annulus median) against photutils' aperture_photometry
// and ApertureStats median, and sep.sum_circle with a background annulus.
//
// The field and the reference times come from bench/psf_aperture_reference.py,
// run once at start-up; its times (best of 5, seconds for all stars) appear as
// counters beside ours, with the throughput ratio.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/psf_bench_field.h"
#include "psf/korven_lib.h"

namespace {

constexpr double kBlank = -999.0;

using Field = BenchStarField;

const Field& field() {
  static const Field f = runReferenceScript("psf_aperture_reference.py", ORV_SOURCE_DIR);
  return f;
}

// Reference seconds for all stars as a counter, and our throughput over it.
void reportAgainst(benchmark::State& state, const Field& f, const std::string& reference, double ourSeconds) {
  const auto it = f.referenceSeconds.find(reference);
  if (it == f.referenceSeconds.end()) return;
  state.counters[reference + "_s"] = it->second;
  state.counters["ratio_vs_" + reference] = it->second / ourSeconds;
}

// Runs measure(k) over all stars per iteration; returns the seconds per pass.
template <class Measure>
double timeAllStars(benchmark::State& state, const Field& f, Measure measure) {
  double total = 0;
  std::int64_t passes = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    for (std::size_t k = 0; k < f.x.size(); ++k) total += measure(k);
    ++passes;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / passes;
  benchmark::DoNotOptimize(total);
  state.counters["us_per_star"] = 1e6 * seconds / f.x.size();
  return seconds;
}

void BM_ApertureVsPhotutils(benchmark::State& state) {
  const Field& f = field();
  const double seconds = timeAllStars(state, f, [&](std::size_t k) {
    double flux, eflux;
    aperture(f.image, f.error, f.x[k], f.y[k], flux, eflux, 4.3, 100.0, kBlank, 0);
    return flux;
  });
  reportAgainst(state, f, "photutils_aperture", seconds);
}

void BM_ApertureSkyVsPhotutilsAndSep(benchmark::State& state) {
  const Field& f = field();
  const double seconds = timeAllStars(state, f, [&](std::size_t k) {
    double flux, eflux;
    aperture_sky(f.image, f.error, f.x[k], f.y[k], flux, eflux, 4.3, 8.2, 12.7, kBlank, 0);
    return flux;
  });
  reportAgainst(state, f, "photutils_annulus_median", seconds);
  reportAgainst(state, f, "sep_sum_circle", seconds);
}

BENCHMARK(BM_ApertureVsPhotutils)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApertureSkyVsPhotutilsAndSep)->Unit(benchmark::kMillisecond);

}  // namespace
