// Exact median of a 4096 x 4096 float image against std::nth_element on a copy
// of the same data (the copy is part of the reference's cost, as the median
// must not reorder its input either), and against the partial sort of h + 1
// elements that a plain exact median would use.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "orv/marray.h"

namespace {

constexpr int side = 4096;

const orv::MArray<float, 2>& skyImage() {
  static orv::MArray<float, 2> image = [] {
    orv::MArray<float, 2> a(side, side, false);
    std::mt19937 rng(42);
    std::normal_distribution<float> sky(1000.0f, 30.0f);
    float* p = a.firstElement();
    for (int k = 0; k < side * side; ++k) p[k] = sky(rng);
    return a;
  }();
  return image;
}

void BM_MedianExact(benchmark::State& state) {
  const orv::MArray<float, 2>& image = skyImage();
  for (auto _ : state) benchmark::DoNotOptimize(orv::median_exact(image));
}

void BM_MedianExactWithMarker(benchmark::State& state) {
  const orv::MArray<float, 2>& image = skyImage();
  for (auto _ : state) benchmark::DoNotOptimize(orv::median_exact(image, 1e20f));
}

void BM_NthElementOnCopy(benchmark::State& state) {
  const orv::MArray<float, 2>& image = skyImage();
  const float* p = image.firstElement();
  const std::size_t n = static_cast<std::size_t>(side) * side;
  for (auto _ : state) {
    std::vector<float> copy(p, p + n);
    std::nth_element(copy.begin(), copy.begin() + n / 2, copy.end());
    const float high = copy[n / 2];
    const float low = *std::max_element(copy.begin(), copy.begin() + n / 2);
    benchmark::DoNotOptimize((low + high) * 0.5f);
  }
}

void BM_PartialSortCopy(benchmark::State& state) {
  const orv::MArray<float, 2>& image = skyImage();
  const float* p = image.firstElement();
  const std::size_t n = static_cast<std::size_t>(side) * side;
  for (auto _ : state) {
    std::vector<float> t(n / 2 + 1);
    std::partial_sort_copy(p, p + n, t.begin(), t.end());
    benchmark::DoNotOptimize((t[n / 2 - 1] + t[n / 2]) * 0.5f);
  }
}

BENCHMARK(BM_MedianExact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MedianExactWithMarker)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NthElementOnCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PartialSortCopy)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
