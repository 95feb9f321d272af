// The sky program's hot loops on 4096 x 4096 images: bad-pixel masking of an image and its error
// image against a plain copy of both into new arrays, and the box statistics of the sampling
// grid (default region, 6561 points of radius 100) against the plain loop that tests box, border
// and blank value per offset.

#include <benchmark/benchmark.h>

#include <random>

#include "tarvole/masking.h"
#include "tarvole/sampling_grid.h"
#include "tests/tarvole/tarvole_box_statistics_reference.h"

namespace {

constexpr int side = 4096;

struct Pair {
  orv::MArray<float, 2> v, e;
};

// An image and its error image with 0.1 % bad pixels (zero values, zero errors, a few -1).
const Pair& masking_pair() {
  static Pair pair = [] {
    Pair p{orv::MArray<float, 2>(side, side), orv::MArray<float, 2>(side, side)};
    std::mt19937 rng(7);
    std::normal_distribution<float> sky(1000.0f, 30.0f);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    float* v = p.v.firstElement();
    float* e = p.e.firstElement();
    for (long k = 0; k < long(side) * side; ++k) {
      v[k] = sky(rng);
      e[k] = 30.0f;
      const double u = uniform(rng);
      if (u < 0.0005) v[k] = 0.0f;
      else if (u < 0.00099) e[k] = 0.0f;
      else if (u < 0.001) e[k] = -1.0f;
    }
    return p;
  }();
  return pair;
}

void BM_MaskBadPixels(benchmark::State& state) {
  const Pair& p = masking_pair();
  for (auto _ : state) {
    orv::MArray<float, 2> mv, me;
    mask_bad_pixels(p.v, p.e, mv, me, 1.0e20f);
    benchmark::DoNotOptimize(mv.firstElement());
  }
}

void BM_PlainCopyOfBoth(benchmark::State& state) {
  const Pair& p = masking_pair();
  for (auto _ : state) {
    orv::MArray<float, 2> mv(side, side), me(side, side);
    for (int y = 1; y <= side; ++y)
      for (int x = 1; x <= side; ++x) {
        mv(x, y) = p.v(x, y);
        me(x, y) = p.e(x, y);
      }
    benchmark::DoNotOptimize(mv.firstElement());
    benchmark::DoNotOptimize(me.firstElement());
  }
}

const Pair& field_pair() {
  static Pair pair = [] {
    Pair p{orv::MArray<float, 2>(side, side), orv::MArray<float, 2>(side, side)};
    std::mt19937 rng(9);
    std::normal_distribution<float> noise(0.0f, 3.0f);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    for (int y = 1; y <= side; ++y)
      for (int x = 1; x <= side; ++x) {
        p.v(x, y) = 200.0f + noise(rng);
        p.e(x, y) = 300.0f + noise(rng);
        if (uniform(rng) < 0.001) p.v(x, y) = 1.0e20f;
      }
    return p;
  }();
  return pair;
}

util::Region default_region() {
  util::Region r(2);
  r.setRange(1, 270, 1870);
  r.setRange(2, 280, 1880);
  return r;
}

void BM_BoxStatistics(benchmark::State& state) {
  const Pair& p = field_pair();
  const util::Region region = default_region();
  for (auto _ : state) {
    SamplingPoints pts = sampling_grid(p.v, p.e, side, side, region, 20, 100, 1.0e20f, true);
    benchmark::DoNotOptimize(pts.mR.firstElement());
  }
}

void BM_BoxStatisticsPlainLoop(benchmark::State& state) {
  const Pair& p = field_pair();
  const util::Region region = default_region();
  for (auto _ : state) {
    SamplingPoints pts = tarvole_test::plain_sampling_grid(p.v, p.e, side, side, region, 20, 100, 1.0e20f, true);
    benchmark::DoNotOptimize(pts.mR.firstElement());
  }
}

}  // namespace

BENCHMARK(BM_MaskBadPixels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainCopyOfBoth)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoxStatistics)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BoxStatisticsPlainLoop)->Unit(benchmark::kMillisecond)->Iterations(2);
