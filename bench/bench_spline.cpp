// Bicubic spline through a 23 × 23 knot grid evaluated at every pixel of a
// 2048 × 2048 image, as the sky program does for each image: per pixel with
// sc_splin2, and line by line with BicubicSplineRow. For comparison, a
// straightforward per-call version that allocates its two temporaries and
// takes a view per knot row at every call (timed on fewer lines).

#include <benchmark/benchmark.h>

#include <cmath>

#include "numerics/spline.h"

namespace {

constexpr int imageSize = 2048;
constexpr int knots = 23;

struct SkyGrid {
  orv::MArray<double, 1> x1{knots}, x2{knots};
  orv::MArray<double, 2> z{knots, knots}, z2{knots, knots};
  SkyGrid() {
    // Knots at the centres of 23 cells over the image, values a smooth sky.
    for (int j = 1; j <= knots; ++j) x1(j) = x2(j) = (j - 0.5) * imageSize / knots;
    for (int k = 1; k <= knots; ++k)
      for (int j = 1; j <= knots; ++j)
        z(j, k) = 1000.0 + 50.0 * std::sin(x1(j) / 400.0) * std::cos(x2(k) / 300.0) + 0.01 * x1(j);
    z2 = 0.0;
    sc_splie2(x1, x2, z, z2);
  }
};

const SkyGrid& grid() {
  static const SkyGrid g;
  return g;
}

// The per-call algorithm written plainly: fresh temporaries and row views.
int naiveSplin2(double& y, double x1, double x2, const orv::MArray<double, 1>& x1a,
                const orv::MArray<double, 1>& x2a, const orv::MArray<double, 2>& ya,
                const orv::MArray<double, 2>& y2a) {
  int b1 = ya.first(1), e1 = ya.last(1);
  orv::MArray<double, 1> yy(orv::Range(b1, e1)), yy2(orv::Range(b1, e1));
  int status = 0;
  for (int j = b1; j <= e1; ++j) {
    orv::MArray<double, 1> row(ya, j, orv::Range::all());
    orv::MArray<double, 1> rowTable(y2a, j, orv::Range::all());
    row.setBase(x2a.first(1));
    rowTable.setBase(x2a.first(1));
    status += splint(yy(j), x2, x2a, row, rowTable);
  }
  spline(x1a, yy, 1e30, 1e30, yy2);
  status += splint(y, x1, x1a, yy, yy2);
  return status;
}

void BM_Splin2PerPixel(benchmark::State& state) {
  const SkyGrid& g = grid();
  const int rows = static_cast<int>(state.range(0));
  for (auto _ : state) {
    double sum = 0;
    int errors = 0;
    for (int y = 1; y <= rows; ++y) {
      for (int x = 1; x <= imageSize; ++x) {
        double v;
        errors += sc_splin2(v, x, y, g.x1, g.x2, g.z, g.z2);
        sum += v;
      }
    }
    benchmark::DoNotOptimize(sum);
    benchmark::DoNotOptimize(errors);
  }
  state.SetItemsProcessed(state.iterations() * rows * imageSize);
}
BENCHMARK(BM_Splin2PerPixel)->Arg(imageSize)->Unit(benchmark::kMillisecond);

void BM_Splin2RowWise(benchmark::State& state) {
  const SkyGrid& g = grid();
  const int rows = static_cast<int>(state.range(0));
  for (auto _ : state) {
    BicubicSplineRow line(g.x1, g.x2, g.z, g.z2);
    double sum = 0;
    int errors = 0;
    for (int y = 1; y <= rows; ++y) {
      int rowStatus = line.setRow(y);
      benchmark::DoNotOptimize(rowStatus);
      for (int x = 1; x <= imageSize; ++x) {
        double v;
        errors += line.value(v, x);
        sum += v;
      }
    }
    benchmark::DoNotOptimize(sum);
    benchmark::DoNotOptimize(errors);
  }
  state.SetItemsProcessed(state.iterations() * rows * imageSize);
}
BENCHMARK(BM_Splin2RowWise)->Arg(imageSize)->Unit(benchmark::kMillisecond);

void BM_Splin2NaivePerCall(benchmark::State& state) {
  const SkyGrid& g = grid();
  const int rows = static_cast<int>(state.range(0));
  for (auto _ : state) {
    double sum = 0;
    for (int y = 1; y <= rows; ++y) {
      for (int x = 1; x <= imageSize; ++x) {
        double v;
        naiveSplin2(v, x, y, g.x1, g.x2, g.z, g.z2);
        sum += v;
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * rows * imageSize);
}
BENCHMARK(BM_Splin2NaivePerCall)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace
