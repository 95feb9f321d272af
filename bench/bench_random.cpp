// Drawing random numbers: the subtractive generator's free functions and
// classes against the standard library's Mersenne Twister with its uniform
// and normal distributions, per deviate.
#include <benchmark/benchmark.h>

#include <random>

#include "numerics/random.h"

namespace {

// Times one call of the drawing function that make() returns.
template <typename Make>
void BM_Draw(benchmark::State& state, Make make) {
  auto draw = make();
  for (auto _ : state) benchmark::DoNotOptimize(draw());
}

BENCHMARK_CAPTURE(BM_Draw, ran3, [] { return [idum = -1L]() mutable { return ran3(idum); }; });
BENCHMARK_CAPTURE(BM_Draw, C_ran3, [] { return [gen = C_ran3(1)]() mutable { return gen.eval(); }; });
BENCHMARK_CAPTURE(BM_Draw, std_uniform, [] {
  return [gen = std::mt19937(1), uniform = std::uniform_real_distribution<double>(0.0, 1.0)]() mutable {
    return uniform(gen);
  };
});
BENCHMARK_CAPTURE(BM_Draw, rangau, [] { return [idum = -1L]() mutable { return rangau(idum); }; });
BENCHMARK_CAPTURE(BM_Draw, C_rangau, [] { return [gen = C_rangau(17)]() mutable { return gen.eval(); }; });
BENCHMARK_CAPTURE(BM_Draw, std_normal, [] {
  return [gen = std::mt19937(1), normal = std::normal_distribution<double>(0.0, 1.0)]() mutable {
    return normal(gen);
  };
});

}  // namespace
