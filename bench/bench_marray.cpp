// Expression assignment against hand-written loops over the same memory:
// a whole contiguous float image, and non-contiguous 2-D views.
#include <benchmark/benchmark.h>

#include <cstddef>

#include "orv/marray.h"

namespace {

using orv::MArray;
using orv::Range;

constexpr int side = 4096;
constexpr double factor = 0.75;

MArray<float, 2> image(int seed) {
  MArray<float, 2> a(side, side);
  float* p = a.firstElement();
  for (int m = 0; m < a.numElements(); ++m) p[m] = static_cast<float>((m * 7 + seed) % 1000) * 0.01f;
  return a;
}

// Times one assignment step over two fresh images; `step` writes into F2.
template <typename Step>
void timeSteps(benchmark::State& state, Step step) {
  MArray<float, 2> F = image(1);
  MArray<float, 2> F2 = image(2);
  long items = 0;
  for (auto _ : state) {
    items += step(F, F2);
    benchmark::DoNotOptimize(F2.firstElement());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(items);
}

inline float handValue(float x, double d) { return static_cast<float>(static_cast<double>(x) + d * x); }

// The hand loop as a careful programmer writes it at -O2: the n mod 4 leftover
// elements first, then groups of four loaded before any is stored, so the
// compiler may use vector registers although source and destination could
// overlap. A plain one-element loop stays scalar for that reason.
inline void handRunGrouped(const float* src, std::ptrdiff_t srcStep, float* dst, std::ptrdiff_t dstStep,
                           int n) {
  const int r = n & 3;
  for (int i = 0; i < r; ++i) dst[i * dstStep] = handValue(src[i * srcStep], factor);
  for (int i = r; i < n; i += 4) {
    const float v0 = handValue(src[i * srcStep], factor);
    const float v1 = handValue(src[(i + 1) * srcStep], factor);
    const float v2 = handValue(src[(i + 2) * srcStep], factor);
    const float v3 = handValue(src[(i + 3) * srcStep], factor);
    dst[i * dstStep] = v0;
    dst[(i + 1) * dstStep] = v1;
    dst[(i + 2) * dstStep] = v2;
    dst[(i + 3) * dstStep] = v3;
  }
}

void BM_ContiguousExpression(benchmark::State& state) {
  timeSteps(state, [](MArray<float, 2>& F, MArray<float, 2>& F2) {
    const double d = factor;
    F2 = F + d * F;
    return long{F.numElements()};
  });
}

void BM_ContiguousHandLoop(benchmark::State& state) {
  timeSteps(state, [](MArray<float, 2>& F, MArray<float, 2>& F2) {
    const float* src = F.firstElement();
    float* dst = F2.firstElement();
    const int n = F.numElements();
    for (int i = 0; i < n; ++i) dst[i] = handValue(src[i], factor);
    return long{n};
  });
}

void BM_ContiguousHandLoopGrouped(benchmark::State& state) {
  timeSteps(state, [](MArray<float, 2>& F, MArray<float, 2>& F2) {
    const int n = F.numElements();
    handRunGrouped(F.firstElement(), 1, F2.firstElement(), 1, n);
    return long{n};
  });
}

// An inner block of an image (unit stride along rows, not storage-contiguous),
// from another image's block.
void BM_StridedViewExpression(benchmark::State& state) {
  timeSteps(state, [](MArray<float, 2>& F, MArray<float, 2>& F2) {
    const double d = factor;
    MArray<float, 2> target = F2(Range(9, side - 8), Range(9, side - 8));
    MArray<float, 2> source = F(Range(1, side - 16), Range(17, side));
    target = source + d * source;
    return long{target.numElements()};
  });
}

void BM_StridedViewHandLoop(benchmark::State& state) {
  timeSteps(state, [](MArray<float, 2>& F, MArray<float, 2>& F2) {
    const int n = side - 16;
    for (int j = 0; j < n; ++j) {
      const float* src = F.firstElement() + static_cast<std::ptrdiff_t>(j + 16) * side;
      float* dst = F2.firstElement() + static_cast<std::ptrdiff_t>(j + 8) * side + 8;
      for (int i = 0; i < n; ++i) dst[i] = handValue(src[i], factor);
    }
    return long{n} * n;
  });
}

void BM_StridedViewHandLoopGrouped(benchmark::State& state) {
  timeSteps(state, [](MArray<float, 2>& F, MArray<float, 2>& F2) {
    const int n = side - 16;
    for (int j = 0; j < n; ++j)
      handRunGrouped(F.firstElement() + static_cast<std::ptrdiff_t>(j + 16) * side, 1,
                     F2.firstElement() + static_cast<std::ptrdiff_t>(j + 8) * side + 8, 1, n);
    return long{n} * n;
  });
}

// Every second element of every second row: stride 2 inside the runs.
void BM_Stride2ViewExpression(benchmark::State& state) {
  timeSteps(state, [](MArray<float, 2>& F, MArray<float, 2>& F2) {
    const double d = factor;
    MArray<float, 2> target = F2(Range(1, side, 2), Range(1, side, 2));
    MArray<float, 2> source = F(Range(2, side, 2), Range(2, side, 2));
    target = source + d * source;
    return long{target.numElements()};
  });
}

void BM_Stride2ViewHandLoop(benchmark::State& state) {
  timeSteps(state, [](MArray<float, 2>& F, MArray<float, 2>& F2) {
    const int n = side / 2;
    for (int j = 0; j < n; ++j) {
      const float* src = F.firstElement() + static_cast<std::ptrdiff_t>(2 * j + 1) * side + 1;
      float* dst = F2.firstElement() + static_cast<std::ptrdiff_t>(2 * j) * side;
      for (int i = 0; i < n; ++i) dst[2 * i] = handValue(src[2 * i], factor);
    }
    return long{n} * n;
  });
}

void BM_Stride2ViewHandLoopGrouped(benchmark::State& state) {
  timeSteps(state, [](MArray<float, 2>& F, MArray<float, 2>& F2) {
    const int n = side / 2;
    for (int j = 0; j < n; ++j)
      handRunGrouped(F.firstElement() + static_cast<std::ptrdiff_t>(2 * j + 1) * side + 1, 2,
                     F2.firstElement() + static_cast<std::ptrdiff_t>(2 * j) * side, 2, n);
    return long{n} * n;
  });
}

BENCHMARK(BM_ContiguousExpression)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContiguousHandLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContiguousHandLoopGrouped)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StridedViewExpression)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StridedViewHandLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StridedViewHandLoopGrouped)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stride2ViewExpression)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stride2ViewHandLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stride2ViewHandLoopGrouped)->Unit(benchmark::kMillisecond);

}  // namespace
