// In-place sorts of the toolkit against std::sort on 100000 random doubles.
// Every iteration copies the same unsorted keys back first, in the reference
// as well, so the copy costs the same on both sides.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "numerics/hpsort.h"
#include "numerics/quicksort.h"
#include "orv/marray.h"

namespace {

const int kCount = 100000;

const std::vector<double>& unsortedKeys() {
  static const std::vector<double> keys = [] {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> draw(0.0, 1.0);
    std::vector<double> values(kCount);
    for (double& v : values) v = draw(rng);
    return values;
  }();
  return keys;
}

void fill(orv::MArray<double, 1>& a) {
  std::copy(unsortedKeys().begin(), unsortedKeys().end(), a.firstElement());
}

void BM_StdSort(benchmark::State& state) {
  std::vector<double> keys(kCount);
  for (auto _ : state) {
    std::copy(unsortedKeys().begin(), unsortedKeys().end(), keys.begin());
    std::sort(keys.begin(), keys.end());
    benchmark::DoNotOptimize(keys.data());
  }
}
BENCHMARK(BM_StdSort)->Unit(benchmark::kMillisecond);

void BM_Quicksort(benchmark::State& state) {
  orv::MArray<double, 1> keys(kCount);
  for (auto _ : state) {
    fill(keys);
    quicksort(keys);
    benchmark::DoNotOptimize(keys.firstElement());
  }
}
BENCHMARK(BM_Quicksort)->Unit(benchmark::kMillisecond);

void BM_Quicksort4(benchmark::State& state) {
  orv::MArray<double, 1> keys(kCount), b(kCount), c(kCount), d(kCount);
  b = 1.0, c = 2.0, d = 3.0;
  for (auto _ : state) {
    fill(keys);
    quicksort4(keys, b, c, d);
    benchmark::DoNotOptimize(keys.firstElement());
  }
}
BENCHMARK(BM_Quicksort4)->Unit(benchmark::kMillisecond);

void BM_Hpsort4(benchmark::State& state) {
  orv::MArray<double, 1> keys(kCount);
  for (auto _ : state) {
    fill(keys);
    hpsort4(keys);
    benchmark::DoNotOptimize(keys.firstElement());
  }
}
BENCHMARK(BM_Hpsort4)->Unit(benchmark::kMillisecond);

void BM_Hpsort4Companions(benchmark::State& state) {
  orv::MArray<double, 1> keys(kCount), b(kCount), c(kCount), d(kCount);
  b = 1.0, c = 2.0, d = 3.0;
  for (auto _ : state) {
    fill(keys);
    hpsort4(keys, b, c, d);
    benchmark::DoNotOptimize(keys.firstElement());
  }
}
BENCHMARK(BM_Hpsort4Companions)->Unit(benchmark::kMillisecond);

}  // namespace
