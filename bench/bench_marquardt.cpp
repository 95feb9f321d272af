// One evaluation of chi-square, curvature matrix and gradient by the fitter
// (mrqcof, with a virtual model call per point) against a plain loop that
// builds the same normal equations from the same model function, for an
// elliptical Gaussian of 7 parameters on a 31 x 31 stamp.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "numerics/marquardt.h"
#include "tests/numerics/numerics_marquardt_gauss.h"

namespace {

constexpr int kSide = 31;
constexpr int kParams = 7;

const double kParamsTrue[kParams + 1] = {0.0, 1.0, 50.0, 0.02, 0.04, 16.2, 15.6, 0.4};

struct Stamp {
  orv::MArray<double, 1> x{kSide * kSide}, y{kSide * kSide}, z{kSide * kSide}, sig{kSide * kSide};
  Stamp() {
    double d[kParams + 1];
    int i = 1;
    for (int row = 1; row <= kSide; ++row) {
      for (int col = 1; col <= kSide; ++col, ++i) {
        x(i) = col;
        y(i) = row;
        z(i) = gaussModel(col, row, kParamsTrue, d) + 0.01 * ((i * 7919) % 13 - 6);
        sig(i) = 0.5;
      }
    }
  }
};

void BM_Mrqcof(benchmark::State& state) {
  Stamp stamp;
  orv::MArray<double, 1> a(kParams);
  orv::MArray<int, 1> ia(kParams);
  for (int l = 1; l <= kParams; ++l) {
    a(l) = kParamsTrue[l] * 1.01;
    ia(l) = 1;
  }
  GaussFit fit(stamp.x, stamp.y, stamp.z, stamp.sig, a, ia);
  for (auto _ : state) {
    fit.mrqcof(fit.a, fit.alpha, fit.beta);
    benchmark::DoNotOptimize(fit.chisq);
  }
}
BENCHMARK(BM_Mrqcof);

// The reference: the same sums over plain arrays, no virtual call, no index
// bookkeeping for held parameters. The model is called out of line through a
// pointer, as the fitter's virtual call must be, so that neither side can
// hoist its angle terms out of the loop.
void BM_PlainNormalEquations(benchmark::State& state) {
  Stamp stamp;
  const int n = kSide * kSide;
  std::vector<double> x(n), y(n), z(n), sig(n);
  for (int i = 0; i < n; ++i) {
    x[i] = stamp.x(i + 1);
    y[i] = stamp.y(i + 1);
    z[i] = stamp.z(i + 1);
    sig[i] = stamp.sig(i + 1);
  }
  double a[kParams + 1];
  for (int l = 1; l <= kParams; ++l) a[l] = kParamsTrue[l] * 1.01;
  double alpha[kParams + 1][kParams + 1];
  double beta[kParams + 1];
  double (*volatile modelPointer)(double, double, const double*, double*) = gaussModel;
  for (auto _ : state) {
    double (*model)(double, double, const double*, double*) = modelPointer;
    double chisq = 0.0;
    for (int j = 1; j <= kParams; ++j) {
      beta[j] = 0.0;
      for (int k = 1; k <= j; ++k) alpha[j][k] = 0.0;
    }
    double dyda[kParams + 1];
    for (int i = 0; i < n; ++i) {
      const double w = 1.0 / (sig[i] * sig[i]);
      const double dy = z[i] - model(x[i], y[i], a, dyda);
      for (int j = 1; j <= kParams; ++j) {
        const double wt = dyda[j] * w;
        for (int k = 1; k <= j; ++k) alpha[j][k] += wt * dyda[k];
        beta[j] += dy * wt;
      }
      chisq += dy * dy * w;
    }
    benchmark::DoNotOptimize(chisq);
    benchmark::DoNotOptimize(alpha);
    benchmark::DoNotOptimize(beta);
  }
}
BENCHMARK(BM_PlainNormalEquations);

void BM_FullFit(benchmark::State& state) {
  Stamp stamp;
  orv::MArray<double, 1> a(kParams);
  orv::MArray<int, 1> ia(kParams);
  for (int l = 1; l <= kParams; ++l) ia(l) = 1;
  for (auto _ : state) {
    for (int l = 1; l <= kParams; ++l) a(l) = kParamsTrue[l] * 1.05;
    GaussFit fit(stamp.x, stamp.y, stamp.z, stamp.sig, a, ia);
    fit.maxiter = 1000;
    benchmark::DoNotOptimize(fit.calc());
  }
}
BENCHMARK(BM_FullFit);

}  // namespace
