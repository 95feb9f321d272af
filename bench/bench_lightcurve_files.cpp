// Writing a light curve of 10^6 points as text against a hand-written fprintf
// loop making the same bytes, and the lag-bin red-noise analysis of 5000
// sorted dates against the literal loop that tests every pair in every lag bin.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lightcurve/pellib.h"
#include "orv/marray.h"

namespace {

std::unique_ptr<Lightcurve> makeCurve(int n, double span) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> g(0.0, 0.003);
  std::vector<double> dates(n);
  for (double& d : dates) d = 2455000.0 + span * u(rng);
  std::sort(dates.begin(), dates.end());
  orv::MArray<double, 1> jd(n), flux(n), error(n);
  for (int i = 1; i <= n; ++i) {
    jd(i) = dates[i - 1];
    flux(i) = 1.0 + g(rng);
    error(i) = 0.003;
  }
  return std::make_unique<Lightcurve>(jd, flux, error);
}

std::string outputPath() { return "/tmp/bench_lc_write_" + std::to_string(getpid()) + ".txt"; }

void BM_WriteText(benchmark::State& state) {
  std::unique_ptr<Lightcurve> lc = makeCurve(1000000, 100.0);
  const std::string path = outputPath();
  for (auto _ : state) lc->write(path, false, false, false, false);
  std::remove(path.c_str());
}
BENCHMARK(BM_WriteText)->Unit(benchmark::kMillisecond);

void BM_WriteTextFprintf(benchmark::State& state) {
  std::unique_ptr<Lightcurve> lc = makeCurve(1000000, 100.0);
  const std::string path = outputPath();
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs("#      date           flux          error \n#\n", f);
    for (int i = 1; i <= lc->length; ++i)
      std::fprintf(f, "%16.14g    %10.8g    %10.8g  \n", lc->JD(i), lc->flux(i), lc->error(i));
    std::fclose(f);
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_WriteTextFprintf)->Unit(benchmark::kMillisecond);

// Silences standard output while the analysis prints its table.
struct QuietOutput {
  QuietOutput() : saved(std::cout.rdbuf(sink.rdbuf())) {}
  ~QuietOutput() { std::cout.rdbuf(saved); }
  std::ostringstream sink;
  std::streambuf* saved;
};

void BM_RednoiseLags(benchmark::State& state) {
  std::unique_ptr<Lightcurve> lc = makeCurve(5000, 10.0);
  QuietOutput quiet;
  for (auto _ : state) benchmark::DoNotOptimize(lc->analyze_rednoise(0.1, 20, 5));
}
BENCHMARK(BM_RednoiseLags)->Unit(benchmark::kMillisecond);

// The literal loop: every pair tested in every lag bin, group means summed.
void BM_RednoiseLagsLiteral(benchmark::State& state) {
  std::unique_ptr<Lightcurve> lc = makeCurve(5000, 10.0);
  const int N = lc->length, nbins = 20, minpairs = 5;
  const double T = 0.1;
  for (auto _ : state) {
    const double med = orv::median_exact(lc->flux);
    double sum = 0;
    for (int i = 1; i <= N; ++i) sum += (lc->flux(i) - med) * (lc->flux(i) - med);
    const double rms = std::sqrt(sum / (N - 1));
    orv::MArray<double, 2> result(nbins, 2);
    result = 0.0;
    std::vector<int> c(N + 1);
    std::vector<double> a(N + 1);
    for (int m = 1; m <= nbins; ++m) {
      const double L = (m - 1) * T / nbins;
      std::fill(c.begin(), c.end(), 0);
      std::fill(a.begin(), a.end(), 0.0);
      for (int i = 1; i < N; ++i)
        for (int j = i + 1; j <= N; ++j) {
          const double lag = lc->JD(j) - lc->JD(i);
          if (!(L < lag && lag <= L + T / nbins)) continue;
          double s = 0;
          for (int k = i; k <= j; ++k) s += lc->flux(k);
          const int k = j - i + 1;
          ++c[k];
          a[k] += (med - s / k) * (med - s / k);
        }
      for (int k = 1; k <= N; ++k) {
        if (c[k] < minpairs || c[k] < 2) continue;
        const double radicand = a[k] / (c[k] - 1) - rms * rms / k;
        if (radicand > 0) {
          result(m, 1) += std::sqrt(radicand);
          result(m, 2) += 1;
        }
      }
      if (result(m, 2) != 0) result(m, 1) /= result(m, 2) * med;
    }
    benchmark::DoNotOptimize(result.getData());
  }
}
BENCHMARK(BM_RednoiseLagsLiteral)->Unit(benchmark::kMillisecond);

}  // namespace
