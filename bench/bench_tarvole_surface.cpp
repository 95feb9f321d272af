// Benchmarks of the sky program's spline surfaces on 4096² images: the binned spline surface,
// the fixed-cell surface of sky_new and the running median of the row-wise sky, each beside its
// natural reference (the per-pixel bicubic spline, nth_element on a copy of every window).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <random>
#include <sstream>
#include <vector>

#include "numerics/spline.h"
#include "tarvole/binspline.h"
#include "tarvole/fixed_surface.h"
#include "tarvole/knots.h"
#include "tarvole/running_median.h"

namespace {

constexpr int n = 4096;

// A smooth model with noise (X) and X plus a smooth sky (Y).
struct Pair {
  orv::MArray<float, 2> X{n, n}, Y{n, n};
  Pair() {
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(0.0f, 5.0f);
    for (int y = 1; y <= n; ++y)
      for (int x = 1; x <= n; ++x) {
        const double r2 = std::pow(x - 2140.0, 2) + std::pow(y - 2154.0, 2);
        const double model = 200.0 + 800.0 * std::exp(-r2 / (2 * 600.0 * 600.0));
        X(x, y) = static_cast<float>(model);
        Y(x, y) =
            static_cast<float>(model + 40.0 + 10.0 * std::sin(x / 500.0) * std::cos(y / 400.0)) + noise(rng);
      }
  }
};

const Pair& pair() {
  static const Pair p;
  return p;
}

Pliste settings() {
  Pliste P;
  P.cx = 2140;
  P.cy = 2154;
  P.outname = "bench.fits";
  return P;
}

// Standard output is silenced while a surface prints its progress.
struct Quiet {
  std::ostringstream sink;
  std::streambuf* old = std::cout.rdbuf(sink.rdbuf());
  ~Quiet() { std::cout.rdbuf(old); }
};

// Knots of the 4096² surface for the evaluation benchmarks: the sky cells of the pair.
struct SurfaceKnots {
  Knots k;
  orv::MArray<double, 2> z2;
  SurfaceKnots() {
    const Pair& p = pair();
    CellMeans cells;
    cell_means(p.X, p.Y, CellShape(30), cell_axis(2140, n, 61), cell_axis(2154, n, 61), 1240, 1e20f, cells);
    orv::MArray<double, 2> G = cell_grid(cells.ax, cells.ay, 1e20f);
    for (int l = cells.ay.first; l <= cells.ay.last; ++l)
      for (int kx = cells.ax.first; kx <= cells.ax.last; ++kx)
        if (cells.mx(kx, l) != 1e20f) G(kx, l) = cells.my(kx, l) - cells.mx(kx, l);
    int ix0, ix1, iy0, iy1;
    ix0 = cells.ax.first, ix1 = cells.ax.last - 1, iy0 = cells.ay.first, iy1 = cells.ay.last - 1;
    knot_ranges(ix0, ix1, iy0, iy1, k);
    std::ostringstream out, err;
    knot_values(G, cells.ax, cells.ay, 1e20f, out, err, "bench", k);
    z2.makeReference(orv::MArray<double, 2>(orv::Range(k.px0, k.px1), orv::Range(k.py0, k.py1)));
    z2 = 0.0;
    sc_splie2(k.xs, k.ys, k.z, z2);
  }
};

const SurfaceKnots& surfaceKnots() {
  static const SurfaceKnots s;
  return s;
}

// The whole binned spline surface: cells, knots and the row-wise spline at every pixel.
void BM_BinsplineSurface(benchmark::State& state) {
  const Pair& p = pair();
  const Pliste P = settings();
  orv::MArray<float, 2> out(n, n);
  for (auto _ : state) {
    Quiet quiet;
    binspline("sky", p.X, p.Y, out, P);
    benchmark::DoNotOptimize(out(1, 1));
  }
  state.SetItemsProcessed(state.iterations() * int64_t(n) * n);
}
BENCHMARK(BM_BinsplineSurface)->Unit(benchmark::kMillisecond);

// sky_new's surface step: residual cells, knots and the spline over the covered area.
void BM_FixedCellSurface(benchmark::State& state) {
  const Pair& p = pair();
  const Pliste P = settings();
  const FixedSurfaceStyle style{"sky", "binsplinebic spline interpolation...", true, true, false, true};
  orv::MArray<float, 2> Z(n, n);
  for (auto _ : state) {
    Quiet quiet;
    CellMeans cells;
    cell_means(p.X, p.Y, CellShape(fixedCellRadius), cell_axis(P.cx, n, fixedCellStep),
              cell_axis(P.cy, n, fixedCellStep), fixedCellMinCount, P.blank, cells);
    orv::MArray<double, 2> G = cell_grid(cells.ax, cells.ay, P.blank);
    for (int l = cells.ay.first; l <= cells.ay.last; ++l)
      for (int k = cells.ax.first; k <= cells.ax.last; ++k)
        if (cells.mx(k, l) != P.blank) G(k, l) = cells.mx(k, l) - cells.my(k, l);
    fixed_cell_surface(G, cells.ax, cells.ay, p.Y, Z, P, style);
    benchmark::DoNotOptimize(Z(1, 1));
  }
  state.SetItemsProcessed(state.iterations() * int64_t(n) * n);
}
BENCHMARK(BM_FixedCellSurface)->Unit(benchmark::kMillisecond);

// The spline at every pixel: one row set-up per image row, then one value per pixel.
void BM_SplineRowWise(benchmark::State& state) {
  const SurfaceKnots& s = surfaceKnots();
  orv::MArray<float, 2> out(n, n);
  out = 1e20f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(evaluate_surface(s.k, s.z2, out, 1, n, 1, n, false));
  }
  state.SetItemsProcessed(state.iterations() * int64_t(n) * n);
}
BENCHMARK(BM_SplineRowWise)->Unit(benchmark::kMillisecond);

// Reference: the bicubic spline evaluated per pixel.
void BM_SplinePerPixelReference(benchmark::State& state) {
  const SurfaceKnots& s = surfaceKnots();
  orv::MArray<float, 2> out(n, n);
  for (auto _ : state) {
    long errors = 0;
    for (int y = 1; y <= n; ++y)
      for (int x = 1; x <= n; ++x) {
        double v;
        errors += sc_splin2(v, x, y, s.k.xs, s.k.ys, s.k.z, s.z2);
        out(x, y) = static_cast<float>(v);
      }
    benchmark::DoNotOptimize(errors);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(n) * n);
}
BENCHMARK(BM_SplinePerPixelReference)->Unit(benchmark::kMillisecond)->Iterations(1);

// The 21 × 21 running median over the whole image.
void BM_RunningMedian(benchmark::State& state) {
  const Pair& p = pair();
  orv::MArray<float, 2> med(n, n);
  for (auto _ : state) {
    running_median(p.Y, 10, med);
    benchmark::DoNotOptimize(med(n / 2, n / 2));
  }
  state.SetItemsProcessed(state.iterations() * int64_t(n - 20) * (n - 20));
}
BENCHMARK(BM_RunningMedian)->Unit(benchmark::kMillisecond);

// Reference: nth_element on a fresh copy of every window, over 64 rows of windows (the items
// count windows, so the rates compare directly).
void BM_RunningMedianNthElementReference(benchmark::State& state) {
  const Pair& p = pair();
  std::vector<float> window(441);
  constexpr int rows = 64;
  for (auto _ : state) {
    float sum = 0.0f;
    for (int y = 11; y < 11 + rows; ++y)
      for (int x = 11; x <= n - 10; ++x) {
        int k = 0;
        for (int j = -10; j <= 10; ++j)
          for (int i = -10; i <= 10; ++i) window[k++] = p.Y(x + i, y + j);
        std::nth_element(window.begin(), window.begin() + 220, window.end());
        sum += window[220];
      }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(n - 20) * rows);
}
BENCHMARK(BM_RunningMedianNthElementReference)->Unit(benchmark::kMillisecond);

}  // namespace
