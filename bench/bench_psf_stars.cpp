// Star measurement and finding on fields of pixel-integrated Gaussian stars
// (sigma 1.2 px) against photutils, which bench/psf_measure_reference.py runs
// once per field at start-up:
// - measure_pos (P = 5, box 10, radius 4) per star on a 2048 x 2048 field of
//   1000 stars against BasicPSFPhotometry with IntegratedGaussianPRF (sigma
//   fixed; x, y and flux free; fitshape 9 x 9) from the same starts, up to 0.4
//   px off in each axis (200 stars, one run).
// - find (P = 5, radius 4, snr 5) on a 1024 x 1024 field of 250 stars against
//   DAOStarFinder (fwhm of the PSF, threshold 5 sigma of the background), in
//   time and in peak memory. The peak of find is the largest amount of heap
//   memory live at once while it runs, above what was live when it started,
//   counted by this program's own global operator new and delete
//   (malloc_usable_size of every block); DAOStarFinder's is tracemalloc's peak
//   (Python and numpy allocations).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <new>
#include <sstream>
#include <string>

#include "bench/psf_bench_field.h"
#include "psf/korven_lib.h"

namespace {

constexpr int kMeasuredStars = 200;

long liveBytes = 0, peakBytes = 0;

void* counted(std::size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  liveBytes += static_cast<long>(malloc_usable_size(p));
  if (liveBytes > peakBytes) peakBytes = liveBytes;
  return p;
}

void uncounted(void* p) {
  if (p == nullptr) return;
  liveBytes -= static_cast<long>(malloc_usable_size(p));
  std::free(p);
}

}  // namespace

void* operator new(std::size_t n) { return counted(n); }
void* operator new[](std::size_t n) { return counted(n); }
void operator delete(void* p) noexcept { uncounted(p); }
void operator delete[](void* p) noexcept { uncounted(p); }
void operator delete(void* p, std::size_t) noexcept { uncounted(p); }
void operator delete[](void* p, std::size_t) noexcept { uncounted(p); }

namespace {

const BenchStarField& field(const std::string& mode) {
  static std::map<std::string, BenchStarField> fields;
  auto it = fields.find(mode);
  if (it == fields.end())
    it = fields.emplace(mode, runReferenceScript("psf_measure_reference.py", mode)).first;
  return it->second;
}

const psf& fieldPsf() {
  static const psf p = benchFieldPsf();
  return p;
}

void BM_MeasurePosVsPhotutils(benchmark::State& state) {
  const BenchStarField& f = field("measure");
  const psf& p = fieldPsf();
  const int n = std::min<int>(kMeasuredStars, static_cast<int>(f.x.size()));
  int measured = 0;
  std::int64_t passes = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    measured = 0;
    for (int k = 0; k < n; ++k) {
      double x = f.x[k], y = f.y[k], flux = 0, eflux = 0;
      measured += p.measure_pos(f.image, f.error, x, y, flux, eflux, 4.0, 10, k + 1, 0) == 0;
      benchmark::DoNotOptimize(flux);
    }
    ++passes;
  }
  const double perStar =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / passes / n;
  state.counters["us_per_star"] = 1e6 * perStar;
  state.counters["measured"] = measured;
  const auto it = f.referenceSeconds.find("photutils_psf_per_star");
  if (it == f.referenceSeconds.end()) return;
  state.counters["photutils_us_per_star"] = 1e6 * it->second;
  state.counters["ratio_vs_photutils"] = it->second / perStar;
}

void BM_FindVsDaoStarFinder(benchmark::State& state) {
  const BenchStarField& f = field("find");
  const psf& p = fieldPsf();
  long peak = 0;
  int found = 0;
  std::int64_t passes = 0;
  std::ostringstream sink;
  std::streambuf* old = std::cout.rdbuf(sink.rdbuf());
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    const long before = liveBytes;
    peakBytes = liveBytes;
    orv::MArray<double, 1> x, y, flux;
    p.find(f.image, f.error, x, y, flux, 5.0, 1e3, 4.0, "bench", 0);
    peak = peakBytes - before;
    found = x.numElements();
    ++passes;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / passes;
  std::cout.rdbuf(old);
  state.counters["found"] = found;
  state.counters["peak_MB"] = peak / 1e6;
  auto ref = [&](const char* name) {
    const auto it = f.referenceSeconds.find(name);
    return it == f.referenceSeconds.end() ? 0.0 : it->second;
  };
  if (ref("daofind_s") > 0) {
    state.counters["daofind_s"] = ref("daofind_s");
    state.counters["ratio_time_vs_daofind"] = seconds / ref("daofind_s");
    state.counters["daofind_found"] = ref("daofind_found");
    state.counters["daofind_peak_MB"] = ref("daofind_peak_bytes") / 1e6;
    state.counters["ratio_peak_vs_daofind"] = peak / ref("daofind_peak_bytes");
  }
}

BENCHMARK(BM_MeasurePosVsPhotutils)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindVsDaoStarFinder)->Unit(benchmark::kMillisecond);

}  // namespace
