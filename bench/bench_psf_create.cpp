// Building a PSF from 100 stars (R = B = 10, S = 5, K = 2, sky given): create_psf
// without and with the per-star Moffat fits, against photutils' EPSFBuilder
// (oversampling 5, 10 iterations) on 21 x 21 cutouts of the same stars.
//
// The field and photutils' time (best of 3, seconds) come from
// bench/psf_create_reference.py, run once at start-up.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/psf_bench_field.h"
#include "psf/korven_lib.h"

namespace {

struct Field {
  orv::MArray<float, 2> image, error;
  orv::MArray<double, 1> x, y;
  double referenceSeconds = 0;
};

const Field& field() {
  static const Field f = [] {
    const BenchStarField run = runReferenceScript("psf_create_reference.py");
    Field out{run.image, run.error, orv::MArray<double, 1>(static_cast<int>(run.x.size())),
              orv::MArray<double, 1>(static_cast<int>(run.x.size()))};
    for (std::size_t k = 0; k < run.x.size(); ++k) {
      out.x(static_cast<int>(k) + 1) = run.x[k];
      out.y(static_cast<int>(k) + 1) = run.y[k];
    }
    const auto it = run.referenceSeconds.find("photutils_epsf");
    if (it != run.referenceSeconds.end()) out.referenceSeconds = it->second;
    return out;
  }();
  return f;
}

void buildPsf(benchmark::State& state, bool fit) {
  const Field& f = field();
  std::int64_t passes = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    psf p(10, 10, 5, 2);
    if (fit) {
      const int n = f.x.length(1);
      orv::MArray<double, 1> sky(n), sx(n), sy(n);
      sky = 100.0;
      sx = 12345.0;
      sy = 12345.0;
      p.create_psf(f.image, f.error, f.x, f.y, sky, sx, sy, 1.0, 8.0, 1.0, 10.0, true, 0);
    } else {
      p.create_psf(f.image, f.error, f.x, f.y, 100.0, 0.0, 0.0, 1.0, 8.0, 1.0, 10.0, false, 0);
    }
    benchmark::DoNotOptimize(p.get_psf()(0, 0));
    ++passes;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / passes;
  if (f.referenceSeconds > 0) {
    state.counters["photutils_epsf_s"] = f.referenceSeconds;
    state.counters["ratio_vs_photutils"] = f.referenceSeconds / seconds;
  }
}

void BM_CreatePsfVsEpsfBuilder(benchmark::State& state) { buildPsf(state, false); }
void BM_CreatePsfWithFits(benchmark::State& state) { buildPsf(state, true); }

BENCHMARK(BM_CreatePsfVsEpsfBuilder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreatePsfWithFits)->Unit(benchmark::kMillisecond);

}  // namespace
