// Difference imaging's hot loops, each beside its plain reference loop in the same run:
// the footprint correlation of a 2048² image with a kernel of the sky program's basis
// (parameter 39: σ 3, x², about 970 non-zero taps) against the per-pixel loop, outputs
// asserted identical.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>

#include "dia/dia.h"
#include "tests/dia/plain_correlation.h"

namespace {

constexpr int kSide = 2048;

orv::MArray<float, 2> starField(int nx, int ny) {
  orv::MArray<float, 2> a(nx, ny);
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> u(90.0f, 110.0f);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) a(x, y) = u(gen);
  return a;
}

const orv::MArray<float, 2>& image2048() {
  static const orv::MArray<float, 2> a = starField(kSide, kSide);
  return a;
}

// The sky program's model: d = (6, 4, 2, 0), σ = (1, 3, 9, 0.1), half sizes 17.
diffima* skyModel(int bgOrder, const std::string& refpath) {
  orv::MArray<int, 1> d(4);
  orv::MArray<double, 1> sig(4);
  const int degrees[4] = {6, 4, 2, 0};
  const double sigmas[4] = {1.0, 3.0, 9.0, 0.1};
  for (int i = 1; i <= 4; ++i) d(i) = degrees[i - 1], sig(i) = sigmas[i - 1];
  const int half[2] = {17, 17};
  return new diffima(d, sig, half, 0, bgOrder, 1, 0.0, refpath, false);
}

const orv::MArray<double, 2>& kernel39() {
  static const orv::MArray<double, 2> k = [] {
    std::unique_ptr<diffima> e(skyModel(0, ""));
    orv::MArray<double, 2> k(35, 35);
    for (int y = -17; y <= 17; ++y)
      for (int x = -17; x <= 17; ++x) k(x + 18, y + 18) = e->basis(x, y, 39);
    return k;
  }();
  return k;
}

long nonZeroTaps() {
  long n = 0;
  for (int y = -17; y <= 17; ++y)
    for (int x = -17; x <= 17; ++x) {
      const float u = x / 17.5f, v = y / 17.5f;
      n += (u * u + v * v < 1.0f && static_cast<float>(kernel39()(x + 18, y + 18)) != 0.0f);
    }
  return n;
}

void report(benchmark::State& state) {
  const double pixels = static_cast<double>(kSide - 34) * (kSide - 34);
  state.counters["s_per_pixel"] =
      benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["taps_per_s"] =
      benchmark::Counter(pixels * static_cast<double>(nonZeroTaps()), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Convolve2dCirc(benchmark::State& state) {
  for (auto _ : state) {
    orv::MArray<float, 2> r = convolve2d_circ(kernel39(), image2048());
    benchmark::DoNotOptimize(r.firstElement());
  }
  report(state);
}
BENCHMARK(BM_Convolve2dCirc)->Unit(benchmark::kMillisecond);

void BM_Convolve2dCircPlainLoop(benchmark::State& state) {
  orv::MArray<float, 2> plain;
  for (auto _ : state) {
    plain.makeReference(dia_test::plainCorrelation(kernel39(), image2048()));
    benchmark::DoNotOptimize(plain.firstElement());
  }
  report(state);
  const orv::MArray<float, 2> fast = convolve2d_circ(kernel39(), image2048());
  if (std::memcmp(fast.firstElement(), plain.firstElement(), sizeof(float) * fast.numElements()) != 0)
    state.SkipWithError("blocked and plain correlations differ");
}
BENCHMARK(BM_Convolve2dCircPlainLoop)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
