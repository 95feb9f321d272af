// Statistical checks of the deviates with fixed seeds and generous bounds
// (several standard errors of the estimates for the sample size used).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "numerics/random.h"

namespace {

constexpr int kSamples = 100000;

struct Moments {
  double mean = 0.0;
  double variance = 0.0;
  double kurtosis = 0.0;  // fourth central moment over the squared variance
};

Moments moments(const std::vector<double>& v) {
  Moments m;
  for (double x : v) m.mean += x;
  m.mean /= v.size();
  double m2 = 0.0;
  double m4 = 0.0;
  for (double x : v) {
    const double d = (x - m.mean) * (x - m.mean);
    m2 += d;
    m4 += d * d;
  }
  m.variance = m2 / v.size();
  m.kurtosis = (m4 / v.size()) / (m.variance * m.variance);
  return m;
}

std::vector<double> sample(const std::function<double()>& draw) {
  std::vector<double> v(kSamples);
  for (double& x : v) x = draw();
  return v;
}

TEST(RandomDistribution, Moments) {
  long uniformSeed = -11;
  long pmSeed = -12;
  long gaussSeed = -13;
  long expSeed = -14;
  C_rangau classGauss(17);
  C_ranivl interval(-3.0, 1.0, 15);
  struct Case {
    const char* name;
    std::function<double()> draw;
    double mean, variance, kurtosis;  // kurtosis 0: not checked
  };
  const Case cases[] = {
      {"ran3", [&] { return ran3(uniformSeed); }, 0.5, 1.0 / 12.0, 1.8},
      {"ranpm", [&] { return ranpm(pmSeed); }, 0.0, 1.0 / 3.0, 1.8},
      {"rangau", [&] { return rangau(gaussSeed); }, 0.0, 1.0, 3.0},
      {"C_rangau", [&] { return classGauss.eval(); }, 0.0, 1.0, 3.0},
      {"ranexp", [&] { return ranexp(expSeed); }, 1.0, 1.0, 0.0},
      {"C_ranivl", [&] { return interval.eval(); }, -1.0, 16.0 / 12.0, 1.8},
  };
  for (const Case& c : cases) {
    const Moments m = moments(sample(c.draw));
    const double sd = std::sqrt(c.variance);
    EXPECT_NEAR(m.mean, c.mean, 0.02 * sd) << c.name;
    EXPECT_NEAR(m.variance / c.variance, 1.0, 0.03) << c.name;
    if (c.kurtosis > 0) {
      EXPECT_NEAR(m.kurtosis, c.kurtosis, 0.1) << c.name;
    }
  }
}

// Kolmogorov-Smirnov distance of the sine deviates from the distribution
// function 1 - cos x on [0, pi/2].
TEST(RandomDistribution, SineDeviate) {
  long idum = -21;
  std::vector<double> v = sample([&] { return ransin(idum); });
  std::sort(v.begin(), v.end());
  ASSERT_GE(v.front(), 0.0);
  ASSERT_LT(v.back(), M_PI / 2);
  double distance = 0.0;
  const double n = v.size();
  for (size_t i = 0; i < v.size(); ++i) {
    const double cdf = 1.0 - std::cos(v[i]);
    distance = std::max({distance, std::fabs(cdf - i / n), std::fabs((i + 1) / n - cdf)});
  }
  // 1.63 / sqrt(n) is the 1 % critical value.
  EXPECT_LT(distance, 1.63 / std::sqrt(n));
}

}  // namespace
