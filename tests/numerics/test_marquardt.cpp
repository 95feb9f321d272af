// Levenberg-Marquardt fitting: exact and noisy data against scipy, held parameters, schedules and failures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "numerics/marquardt.h"
#include "tests/numerics/numerics_marquardt_gauss.h"
#include "tests/support/python_reference.h"
#include "tests/support/scratch_dir.h"

namespace {

using Vec = orv::MArray<double, 1>;
using Flags = orv::MArray<int, 1>;

Vec vec(const std::vector<double>& values) {
  Vec v(static_cast<int>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) v(static_cast<int>(i) + 1) = values[i];
  return v;
}

Flags flags(const std::vector<int>& values) {
  Flags f(static_cast<int>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) f(static_cast<int>(i) + 1) = values[i];
  return f;
}

// Parameters 1..7; entry 0 unused, as in the fitter's arrays.
const double kTruth[8] = {0.0, 1.0, 50.0, 0.08, 0.15, 8.2, 7.6, 0.4};
const std::vector<double> kStart = {0.5, 40.0, 0.1, 0.12, 8.0, 8.0, 0.2};

double trueModel(double x, double y) { return gaussModel(x, y, kTruth, nullptr); }

// Points of a 15 × 15 pixel grid with sigma growing with the true value;
// three points carry sigma <= 0 and take no part. measure(x, y, sigma) gives
// the value of a point.
struct Data {
  Vec x, y, z, sig;
};

Data gridData(const std::function<double(double, double, double)>& measure) {
  std::vector<double> x, y, z, sig;
  for (int j = 1; j <= 15; ++j) {
    for (int i = 1; i <= 15; ++i) {
      const bool noData = (i == j && (i == 1 || i == 15)) || (i == 3 && j == 4);
      x.push_back(i);
      y.push_back(j);
      sig.push_back(noData ? (i == 3 ? -1.0 : 0.0) : 0.5 + 0.1 * trueModel(i, j));
      z.push_back(measure(i, j, sig.back()));
    }
  }
  return {vec(x), vec(y), vec(z), vec(sig)};
}

Data noiseFreeData() {
  return gridData([](double x, double y, double) { return trueModel(x, y); });
}

TEST(Marquardt, NoiseFreeDataGiveTheTrueParameters) {
  const Data d = noiseFreeData();
  Vec start = vec(kStart);
  GaussFit fit(d.x, d.y, d.z, d.sig, start, flags({1, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(fit.ndata, 222);
  EXPECT_EQ(fit.calc(), 0);
  for (int l = 1; l <= 7; ++l) EXPECT_NEAR(fit.a(l), kTruth[l], 1e-8 * std::fabs(kTruth[l])) << "a" << l;
  EXPECT_LT(fit.chisq, 1e-12);
  EXPECT_EQ(start(1), kStart[0]);  // the caller's array is not changed
  EXPECT_EQ(fit.nfree, 222 - 7);
  EXPECT_GT(fit.iter, 1);
  EXPECT_LE(fit.iter, 10000);
}

// Noisy data simulated with the fitter's own mcs; the fit must agree with
// scipy's curve_fit (absolute sigma, analytic Jacobian, tight tolerances) in
// parameters and errors.
TEST(Marquardt, NoisyDataAgreeWithCurveFit) {
  Vec truth = vec(std::vector<double>(kTruth + 1, kTruth + 8));
  Vec one = vec({1.0});
  GaussFit simulator(one, one, one, one, truth, flags({0, 0, 0, 0, 0, 0, 0}));
  const Data d =
      gridData([&](double x, double y, double sigma) { return simulator.mcs(x, y, sigma, truth); });
  Vec start = vec(kStart);
  GaussFit fit(d.x, d.y, d.z, d.sig, start, flags({1, 1, 1, 1, 1, 1, 1}));
  ASSERT_EQ(fit.calc(), 0);
  EXPECT_GT(fit.reduced, 0.7);
  EXPECT_LT(fit.reduced, 1.3);

  std::ostringstream script;
  script.precision(17);
  script << "import numpy as np\nfrom scipy.optimize import curve_fit\n";
  // The points with data, as numpy arrays.
  for (const auto& [name, column] :
       {std::pair<const char*, const Vec*>{"x", &d.x}, {"y", &d.y}, {"z", &d.z}, {"sig", &d.sig}}) {
    script << name << " = np.array([";
    for (int i = 1; i <= d.sig.last(1); ++i)
      if (d.sig(i) > 0) script << (*column)(i) << ",";
    script << "])\n";
  }
  script << "p0 = [";
  for (double v : kStart) script << v << ",";
  script << R"(]
def parts(xy, a1, a2, a3, a4, a5, a6, a7):
    c, s = np.cos(a7), np.sin(a7)
    u = (xy[0] - a5) * c + (xy[1] - a6) * s
    v = (xy[1] - a6) * c - (xy[0] - a5) * s
    g = np.exp(-(a3 * u * u + a4 * v * v))
    return u, v, g, c, s
def model(xy, *a):
    u, v, g, c, s = parts(xy, *a)
    return a[0] + a[1] * g
def jac(xy, *a):
    u, v, g, c, s = parts(xy, *a)
    amp = a[1] * g
    return np.column_stack([np.ones_like(u), g, -u * u * amp, -v * v * amp,
                            (2 * a[2] * u * c - 2 * a[3] * v * s) * amp,
                            (2 * a[2] * u * s + 2 * a[3] * v * c) * amp,
                            2 * (a[3] - a[2]) * u * v * amp])
popt, pcov = curve_fit(model, (x, y), z, p0=p0, sigma=sig, absolute_sigma=True, jac=jac,
                       ftol=1e-15, xtol=1e-15, gtol=1e-15, maxfev=100000)
for p, e in zip(popt, np.sqrt(np.diag(pcov))):
    print(repr(float(p)), repr(float(e)))
)";
  std::istringstream reference(test_support::runPython(script.str()).out);
  for (int l = 1; l <= 7; ++l) {
    double value = 0.0;
    double error = 0.0;
    ASSERT_TRUE(reference >> value >> error) << "no curve_fit result for a" << l;
    EXPECT_NEAR(fit.a(l), value, 1e-6 * error) << "a" << l;
    EXPECT_NEAR(fit.sa(l), error, 1e-6 * error) << "sa" << l;
    EXPECT_NEAR(fit.a(l), kTruth[l], 5 * error) << "a" << l << " against the truth";
  }
}

// Held parameters keep their start values exactly, with zero rows and
// columns in the covariance and curvature matrices; the others still reach
// the truth. A second calc starts from the fitted parameters. Any non-zero
// flag fits its parameter, while the degrees of freedom subtract the flags'
// values: other flag values than 1 count as they are.
TEST(Marquardt, HeldParameters) {
  struct Case {
    std::vector<int> flags;
    int nfree;
  };
  const Case cases[] = {
      {{0, 1, 1, 1, 1, 1, 0}, 222 - 5},
      {{0, 3, 1, 1, 1, 1, 0}, 222 - 7},
      {{0, 1, 1, -1, 1, 2, 0}, 222 - 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.flags));
    const Data d = noiseFreeData();
    Vec start = vec({1.0, 40.0, 0.1, 0.12, 8.0, 8.0, 0.4});
    GaussFit fit(d.x, d.y, d.z, d.sig, start, flags(c.flags));
    ASSERT_EQ(fit.calc(), 0);
    EXPECT_EQ(fit.mfit, 5);
    EXPECT_EQ(fit.nfree, c.nfree);
    EXPECT_EQ(fit.a(1), 1.0);
    EXPECT_EQ(fit.a(7), 0.4);
    for (int l = 2; l <= 6; ++l) {
      EXPECT_NEAR(fit.a(l), kTruth[l], 1e-8 * std::fabs(kTruth[l])) << "a" << l;
      EXPECT_GT(fit.covar(l, l), 0.0);
    }
    for (int held : {1, 7}) {
      EXPECT_EQ(fit.sa(held), 0.0);
      for (int l = 1; l <= 7; ++l) {
        EXPECT_EQ(fit.covar(held, l), 0.0);
        EXPECT_EQ(fit.covar(l, held), 0.0);
        EXPECT_EQ(fit.alpha(held, l), 0.0);
        EXPECT_EQ(fit.alpha(l, held), 0.0);
      }
    }
    const std::vector<double> fitted = {fit.a(2), fit.a(3), fit.a(4), fit.a(5), fit.a(6)};
    EXPECT_EQ(fit.calc(), 0);
    for (int l = 2; l <= 6; ++l) EXPECT_NEAR(fit.a(l), fitted[l - 2], 1e-10 * std::fabs(fitted[l - 2]));
  }
}

// The data points are z's indices, whatever their base; an index that x, y
// or sig lacks is a point without data, and missing flags hold their
// parameters.
TEST(Marquardt, IndexRangesOfTheInputs) {
  const Data d = noiseFreeData();
  const int count = d.z.length(1);
  Vec x(orv::Range(0, count - 1)), y(orv::Range(0, count - 1)), z(orv::Range(0, count - 1));
  Vec sig(orv::Range(0, count - 11));  // the last ten points have no sigma
  for (int i = 0; i < count; ++i) {
    x(i) = d.x(i + 1);
    y(i) = d.y(i + 1);
    z(i) = d.z(i + 1);
    if (i <= count - 11) sig(i) = d.sig(i + 1);
  }
  Vec start = vec(kStart);
  GaussFit fit(x, y, z, sig, start, flags({1, 1, 1, 1, 1}));  // a6, a7 held
  EXPECT_EQ(fit.first, 0);
  EXPECT_EQ(fit.last, count - 1);
  EXPECT_EQ(fit.n, count);
  EXPECT_EQ(fit.ma, 7);
  EXPECT_EQ(fit.ndata, 222 - 10 + 1);  // the last ten include (15, 15), which has no data anyway
  EXPECT_EQ(fit.ia(6), 0);
  EXPECT_EQ(fit.ia(7), 0);
  EXPECT_GE(fit.calc(), 0);
  EXPECT_EQ(fit.a(6), kStart[5]);
  EXPECT_EQ(fit.a(7), kStart[6]);
  EXPECT_EQ(fit.nfree, fit.ndata - 5);
}

// Models for the iteration schedule: one point (z = 1, sigma = 1) and one
// parameter, whose value moves toward z with every evaluation (so every trial
// improves chi-square), stays put (no trial ever improves), or fails.
class ScriptedModel : public marquardt {
 public:
  enum Kind { improving, constant, failing, failingTrials };
  ScriptedModel(Kind kind, const Vec& sig)
      : marquardt(vec({1.0}), vec({1.0}), vec({1.0}), sig, startValue, flags({1})), kind(kind) {}
  int funcs(double, double, const Vec& p, double& yfit, Vec& dyda) override {
    ++calls;
    if (kind == failing || (kind == failingTrials && p(1) != 0.0)) return -1;
    yfit = kind == improving ? 1.0 - std::ldexp(1.0, -calls) : 0.0;
    dyda(1) = 1.0;
    return 0;
  }
  static inline Vec startValue = vec({0.0});
  Kind kind;
  int calls = 0;
};

TEST(Marquardt, IterationSchedule) {
  struct Case {
    const char* name;
    ScriptedModel::Kind kind;
    int maxiter;
    int status;
    int iter;
  };
  const Case cases[] = {
      // Twelve successes take lambda from 0.001 down to 1e-15.
      {"always improving", ScriptedModel::improving, 10000, 0, 12},
      // Eighteen failures take it up to 1e15.
      {"never improving", ScriptedModel::constant, 10000, 0, 18},
      // Failing trials count as failed steps.
      {"failing trials", ScriptedModel::failingTrials, 10000, 0, 18},
      // No iteration allowed: one step all the same.
      {"maxiter 0", ScriptedModel::improving, 0, 1, 1},
      {"maxiter 5", ScriptedModel::constant, 5, 1, 6},
  };
  for (const Case& c : cases) {
    ScriptedModel fit(c.kind, vec({1.0}));
    fit.maxiter = c.maxiter;
    // One model call per step plus the one at the start.
    EXPECT_EQ(fit.calc(), c.status) << c.name;
    EXPECT_EQ(fit.iter, c.iter) << c.name;
    EXPECT_EQ(fit.calls, c.iter + 1) << c.name;
    EXPECT_EQ(fit.alamda, 0.0) << c.name;
    EXPECT_EQ(fit.sa(1), 1.0) << c.name;  // one point of sigma 1 and slope 1
  }
  // lambda itself, step by step, for the never-improving model.
  ScriptedModel steps(ScriptedModel::constant, vec({1.0}));
  steps.alamda = -1.0;
  double expected = 0.001;
  for (int k = 1; k <= 18; ++k) {
    EXPECT_EQ(steps.mrqmin(), 0);
    expected *= 10.0;
    EXPECT_EQ(steps.alamda, expected) << "step " << k;
  }
  EXPECT_GE(steps.alamda, 1e15);
}

// With every flag 0 each step solves an empty system and fails to improve.
TEST(Marquardt, NothingToFit) {
  const Data d = noiseFreeData();
  Vec start = vec(kStart);
  GaussFit fit(d.x, d.y, d.z, d.sig, start, flags({0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(fit.calc(), 0);
  EXPECT_EQ(fit.iter, 18);
  for (int l = 1; l <= 7; ++l) {
    EXPECT_EQ(fit.a(l), kStart[l - 1]);
    EXPECT_EQ(fit.sa(l), 0.0);
  }
  EXPECT_EQ(fit.nfree, 222);
}

// Failures: calc returns -1 with parameters and errors 0, and with verbose > 0
// says why on standard error.
TEST(Marquardt, Failures) {
  // The model fails at the start parameters: the fit stops at once instead
  // of iterating from a half-started state.
  {
    ScriptedModel fit(ScriptedModel::failing, vec({1.0}));
    fit.verbose = 1;
    fit.a(1) = 0.25;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(fit.calc(), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "marquardt: error -1\n");
    EXPECT_EQ(fit.iter, 1);
    EXPECT_EQ(fit.calls, 1);
    EXPECT_EQ(fit.a(1), 0.0);
    EXPECT_EQ(fit.sa(1), 0.0);
  }
  // No point with sigma > 0: every system is singular.
  {
    ScriptedModel fit(ScriptedModel::constant, vec({0.0}));
    fit.verbose = 1;
    fit.a(1) = 0.25;
    EXPECT_EQ(fit.ndata, 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(fit.calc(), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "marquardt: error -2\n");
    EXPECT_EQ(fit.calls, 0);
    EXPECT_EQ(fit.a(1), 0.0);
  }
  // No data arrays at all; quietly with verbose 0.
  {
    Vec none;
    Vec start = vec({3.0, 4.0});
    GaussFit fit(none, none, none, none, start, flags({1, 1}));
    EXPECT_EQ(fit.ndata, 0);
    EXPECT_EQ(fit.n, 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(fit.calc(), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(fit.a(1), 0.0);
    EXPECT_EQ(fit.calls, 0);
  }
  // The iteration limit is reported, with the results set.
  {
    ScriptedModel fit(ScriptedModel::constant, vec({1.0}));
    fit.verbose = 1;
    fit.maxiter = 2;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(fit.calc(), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "marquardt: iterations: 3\n");
    EXPECT_EQ(fit.sa(1), 1.0);
    EXPECT_EQ(fit.rms, 1.0);
    EXPECT_TRUE(std::isinf(fit.reduced));  // one point, one parameter: no degree of freedom
  }
}

// mcs: the model value plus a deviate of the fitter's generator (seeded 17)
// times s; a failing model gives 0 and draws nothing.
TEST(Marquardt, SimulatedMeasurements) {
  Vec truth = vec(std::vector<double>(kTruth + 1, kTruth + 8));
  Vec one = vec({1.0});
  GaussFit simulator(one, one, one, one, truth, flags({1}));
  C_rangau reference(17);
  EXPECT_EQ(simulator.mcs(8.0, 7.0, 0.0, truth), trueModel(8.0, 7.0));
  reference.eval();
  EXPECT_EQ(simulator.mcs(3.0, 4.0, 2.0, truth), reference.eval() * 2.0 + trueModel(3.0, 4.0));

  ScriptedModel failing(ScriptedModel::failing, one);
  C_rangau fresh(17);
  EXPECT_EQ(failing.mcs(1.0, 1.0, 1.0, one), 0.0);
  failing.kind = ScriptedModel::constant;
  EXPECT_EQ(failing.mcs(1.0, 1.0, 1.0, one), fresh.eval());
}

// The parameter table rows, print_result and write_result.
TEST(Marquardt, PrintedTables) {
  Vec start = vec({2.5, 1.5e12, -1e-7});
  Vec one = vec({1.0});
  GaussFit fit(one, one, one, one, start, flags({1, 0, 1}));
  fit.sa(1) = 0.125;
  ::testing::internal::CaptureStdout();
  fit.print_title();
  fit.print_a();
  fit.print_ia();
  fit.print_sa();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "          a( 1)          a( 2)          a( 3)\n"
            "        2.50000 1.50000000e+12         -1e-07\n"
            "        1.00000        0.00000        1.00000\n"
            "        0.12500        0.00000        0.00000\n");

  std::vector<double> values;
  for (int l = 1; l <= 12; ++l) values.push_back(l * 1.25 - 3.0);
  Vec twelve = vec(values);
  GaussFit wide(one, one, one, one, twelve, flags({}));
  wide.sa(10) = 1.0 / 3.0;
  const std::streamsize precision = std::cout.precision();
  ::testing::internal::CaptureStdout();
  wide.print_result();
  EXPECT_EQ(std::cout.precision(), 13);
  std::cout.precision(precision);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  std::istringstream lines(printed);
  std::vector<std::string> rows;
  for (std::string row; std::getline(lines, row);) rows.push_back(row);
  ASSERT_EQ(rows.size(), 12u);
  EXPECT_EQ(rows[0], "   a1 =               -1.75  +/-                   0");
  EXPECT_EQ(rows[8], "   a9 =                8.25  +/-                   0");
  EXPECT_EQ(rows[9], "  a10 =                 9.5  +/-     0.3333333333333");
  EXPECT_EQ(rows[11], "  a12 =                  12  +/-                   0");

  const std::string path = test_support::tempPath("marquardt_result.txt");
  {
    std::ofstream old(path);
    old << "old content that must go\nand more\nand more\nand more\n";
  }
  fit.write_result(path.c_str());
  std::ifstream in(path);
  std::stringstream written;
  written << in.rdbuf();
  EXPECT_EQ(written.str(),
            "                 2.5               0.125\n"
            "       1500000000000                   0\n"
            "              -1e-07                   0\n");
  std::remove(path.c_str());
  fit.write_result("/nonexistent-directory/result.txt");  // nothing happens
  fit.write_result(nullptr);
}

}  // namespace
