// Difference imaging over stars on a 2048 x 2048 pair with 100 stars: fit_dia beside the bare
// engine calls it makes (one kernel fit per star and pass on the same boxes), so that the
// method's own overhead shows; and fit_fielddia beside its one kernel fit over the region.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "numerics/random.h"
#include "tarvole/dia_methods.h"
#include "tarvole/masking.h"

namespace {

constexpr int side = 2048;
constexpr int stars = 100;

struct Field {
  std::string dir;
  Image R, eR, I, eI;
  orv::MArray<double, 1> x, y;
  Pliste P;
  Field() = default;
  Field(Field&& other) = default;
  Field& operator=(Field&&) = delete;
  // The reference products are large: they go with the field.
  ~Field() {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
};

// Stars of sigma 1.5 in R and sigma sqrt(1.5^2 + 1.2^2) in I (R convolved with sigma 1.2),
// I = R/0.8 + 50; reference products of the star step (or, with field, the field step) made once.
Field make_field(bool field) {
  Field f;  // returned without a copy
  std::string pattern = std::filesystem::temp_directory_path().string() + "/tarvole_bench_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  f.dir = pattern + "/";
  f.R.makeReference(Image(side, side));
  f.I.makeReference(Image(side, side));
  f.R = 200.0f;
  f.I = 0.0f;
  f.x.makeReference(orv::MArray<double, 1>(stars));
  f.y.makeReference(orv::MArray<double, 1>(stars));
  long seed = -77;
  for (int k = 1; k <= stars; ++k) {
    // A 10 x 10 lattice of well separated stars with a little jitter.
    f.x(k) = 120.0 + 180.0 * ((k - 1) % 10) + 20.0 * ran3(seed);
    f.y(k) = 120.0 + 180.0 * ((k - 1) / 10) + 20.0 * ran3(seed);
    const double flux = 20000.0 + 40000.0 * ran3(seed);
    for (int py = static_cast<int>(f.y(k)) - 12; py <= static_cast<int>(f.y(k)) + 12; ++py)
      for (int px = static_cast<int>(f.x(k)) - 12; px <= static_cast<int>(f.x(k)) + 12; ++px) {
        const double r2 = (px - f.x(k)) * (px - f.x(k)) + (py - f.y(k)) * (py - f.y(k));
        f.R(px, py) += static_cast<float>(flux / (2 * M_PI * 2.25) * std::exp(-r2 / 4.5));
        f.I(px, py) += static_cast<float>(flux / (2 * M_PI * 3.69) * std::exp(-r2 / 7.38));
      }
  }
  for (int py = 1; py <= side; ++py)
    for (int px = 1; px <= side; ++px) {
      f.R(px, py) += static_cast<float>(std::sqrt(f.R(px, py)) * rangau(seed));
      const double i = (200.0 + f.I(px, py)) / 0.8 + 50.0;
      f.I(px, py) = static_cast<float>(i + std::sqrt(i) * rangau(seed));
    }
  f.eR.makeReference(error_from_values(f.R));
  f.eI.makeReference(error_from_values(f.I));
  f.P.refdir = f.dir;
  f.P.outname = f.dir + "bI.fits";
  f.P.ordsky = 0;
  std::cout.setstate(std::ios::failbit);  // the methods' tables are not measured
  run_dia_reference_step(field ? 2 : 1, f.R, f.eR, f.P);
  return f;
}

Field& star_field() {
  static Field f = make_field(false);
  return f;
}

Field& region_field() {
  static Field f = make_field(true);
  return f;
}

void BM_FitDia100Stars(benchmark::State& state) {
  Field& f = star_field();
  for (auto _ : state) {
    Image I(f.I.getShape()), eI(f.eI.getShape()), A(f.I.getShape()), S(f.I.getShape());
    I = f.I;
    eI = f.eI;
    A = blank_value;
    S = blank_value;
    orv::MArray<double, 1> c(6);
    fit_dia(f.R, f.eR, I, eI, A, S, f.x, f.y, c, f.P);
    benchmark::DoNotOptimize(c(1));
  }
}

// The engine calls of fit_dia alone: both passes' kernel fits on the same boxes.
void BM_BareKernelFits200(benchmark::State& state) {
  Field& f = star_field();
  for (auto _ : state) {
    for (double scale : {0.0, 1.0})
      for (int k = 1; k <= stars; ++k) {
        util::Region box(2);
        box.setRange(1, static_cast<int>(f.x(k) - 50.0), static_cast<int>(f.x(k) + 50.0));
        box.setRange(2, static_cast<int>(f.y(k) - 50.0), static_cast<int>(f.y(k) + 50.0));
        auto engine = make_dia_engine(0, scale, f.P);
        set_dia_stamp(*engine, box.getStart(1), box.getEnd(1), box.getStart(2), box.getEnd(2));
        engine->calc_kern(f.I, f.eI, box, 1000, true, 0, 0);
        benchmark::DoNotOptimize(engine->factor);
      }
  }
}

void BM_FitFielddia(benchmark::State& state) {
  Field& f = region_field();
  for (auto _ : state) {
    Image A(f.I.getShape()), S(f.I.getShape());
    A = blank_value;
    S = blank_value;
    orv::MArray<double, 1> c(6);
    fit_fielddia(f.R, f.eR, f.I, f.eI, A, S, c, f.P);
    benchmark::DoNotOptimize(c(1));
  }
}

void BM_BareFieldKernelFit(benchmark::State& state) {
  Field& f = region_field();
  for (auto _ : state) {
    util::Region region(2);
    region.setRange(1, 270, 1870);
    region.setRange(2, 280, 1880);
    auto engine = make_dia_engine(0, 0.0, f.P);
    set_dia_stamp(*engine, 270, 1870, 280, 1880);
    engine->calc_kern(f.I, f.eI, region, 1601, false, 0, 0);
    benchmark::DoNotOptimize(engine->factor);
  }
}

}  // namespace

BENCHMARK(BM_FitDia100Stars)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_BareKernelFits200)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_FitFielddia)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_BareFieldKernelFit)->Unit(benchmark::kMillisecond)->Iterations(1);
