// Tests the box-transit and noise simulations and the added white and red noise.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "lightcurve/pellib.h"
#include "numerics/random.h"
#include "tests/lightcurve/lightcurve_fixtures.h"

namespace {

using lightcurve_test::arrayOf;
using lightcurve_test::captured;
using lightcurve_test::numpyValues;
using lightcurve_test::pyList;
using lightcurve_test::pyNum;

// Noise-free box transits against numpy's evaluation of the transit rule
// (phase distance taken modulo 1) and of the count of transits in stored order.
TEST(LightcurveSimulate, BoxTransitAgainstNumpy) {
  struct Case {
    const char* label;
    double period, t0, tau, drop, lo, hi;
  };
  const Case cases[] = {
      {"positive dates", 3.2, 1001.3, 0.08, 0.01, 1000.0, 1040.0},
      {"dates of both signs", 1.0, 0.9, 0.3, 0.02, -5.0, 5.0},
      {"negative epoch", 2.5, -7.1, 0.1, 0.005, -20.0, 20.0},
  };
  std::mt19937 rng(3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::uniform_real_distribution<double> d(c.lo, c.hi);
    std::vector<double> dates(400);
    for (double& x : dates) x = d(rng);
    dates[0] = -0.9;  // phase -0.9 against an epoch phase 0.9 in the second case
    const std::vector<double> ref =
        numpyValues("jd=np.array(" + pyList(dates) + ")\nP=" + pyNum(c.period) + "\nt0=" + pyNum(c.t0) +
                    "\ntau=" + pyNum(c.tau) + "\ndrop=" + pyNum(c.drop) +
                    "\nf=jd/P-np.trunc(jd/P)\ne=t0/P-np.trunc(t0/P)\nx=f-e\nd=x-np.floor(x)\n"
                    "it=(d<=tau/2)|(d>=1-tau/2)\nlast=-1e99\nn=0\n"
                    "for j in np.nonzero(it)[0]:\n  if abs(jd[j]-last)>=(1-tau)*P: n+=1; last=jd[j]\n"
                    "print(it.sum(), n)\nfor v in np.where(it,1-drop,1.0): print(repr(v))\n");
    ASSERT_EQ(ref.size(), 402u);
    Lightcurve lc;
    long seed = -17;
    lc.simulate(c.period, c.t0, c.tau, c.drop, arrayOf(dates), arrayOf(std::vector<double>(400, 0.0)), seed);
    EXPECT_EQ(lc.number_transit_points, ref[0]);
    EXPECT_EQ(lc.number_transits, ref[1]);
    EXPECT_GT(ref[0], 10);
    for (int i = 1; i <= 400; ++i) {
      ASSERT_EQ(lc.nonoise(i), ref[i + 1]) << "date " << dates[i - 1];
      ASSERT_EQ(lc.flux(i), lc.nonoise(i));
      ASSERT_EQ(lc.removed(i), 1.0);
      ASSERT_EQ(lc.weights(i), 0.0);
      ASSERT_EQ(lc.filename(i), "no file information");
    }
    EXPECT_TRUE(lc.has_data && lc.removed_ok && lc.nonoise_ok);
    EXPECT_FALSE(lc.magnitudes || lc.analytical || lc.isFolded() || lc.isWeighted());
    EXPECT_EQ(lc.getPeriod(), c.period);
    EXPECT_EQ(lc.getT0(), c.t0);
    EXPECT_EQ(lc.getTau(), c.tau);
    EXPECT_EQ(lc.noise, 0.0);
  }
}

// Kolmogorov-Smirnov distance of the values from the standard normal distribution.
double ksDistance(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const double n = static_cast<double>(v.size());
  double d = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    const double cdf = 0.5 * std::erfc(-v[i] / std::sqrt(2.0));
    d = std::max({d, cdf - i / n, (i + 1) / n - cdf});
  }
  return d;
}

TEST(LightcurveSimulate, GaussianNoiseAndReproducibleSeed) {
  const int n = 100000;
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> date(0.0, 100.0), err(0.001, 0.004);
  std::vector<double> dates(n), errors(n);
  double meanError = 0;
  for (int i = 0; i < n; ++i) {
    dates[i] = date(rng);
    errors[i] = err(rng);
    meanError += errors[i] / n;
  }
  Lightcurve a, b;
  long seedA = -4242, seedB = -4242;
  a.simulate(2.9, 1.3, 0.05, 0.01, arrayOf(dates), arrayOf(errors), seedA);
  b.simulate(2.9, 1.3, 0.05, 0.01, arrayOf(dates), arrayOf(errors), seedB);
  std::vector<double> z(n);
  for (int i = 1; i <= n; ++i) {
    z[i - 1] = (a.flux(i) - a.nonoise(i)) / a.error(i);
    ASSERT_EQ(a.flux(i), b.flux(i));
  }
  // The distance that a KS test rejects at p = 0.01 for this many values.
  EXPECT_LT(ksDistance(z), 1.628 / std::sqrt(static_cast<double>(n)));
  EXPECT_NEAR(a.noise, meanError, 1e-15);

  // White noise only; sigma taken as the error itself.
  Lightcurve w;
  long seedW = -9;
  w.simulate_noise(arrayOf(dates), 0.002, seedW);
  for (int i = 1; i <= n; ++i) z[i - 1] = (w.flux(i) - 1.0) / 0.002;
  EXPECT_LT(ksDistance(z), 1.628 / std::sqrt(static_cast<double>(n)));
  EXPECT_FALSE(w.removed_ok || w.nonoise_ok);
  EXPECT_NEAR(w.noise, 0.002, 1e-13);
}

// The form with cycles and points draws the dates first, then the noise from the same seed.
TEST(LightcurveSimulate, RandomDatesThenNoise) {
  Lightcurve lc;
  long seed = -31;
  lc.simulate(2.0, 0.7, 0.1, 0.02, 0.5, 10, 50, seed);
  long ref = -31;
  std::vector<double> dates(50), gauss(50);
  for (double& d : dates) d = ran3(ref) * 10 * 2.0;
  for (double& g : gauss) g = rangau(ref);
  ASSERT_EQ(lc.getLength(), 50);
  for (int i = 1; i <= 50; ++i) {
    EXPECT_EQ(lc.JD(i), dates[i - 1]);
    EXPECT_EQ(lc.error(i), 0.005);
    EXPECT_EQ(lc.removed(i), 1.0 + gauss[i - 1] * 0.005);
    EXPECT_EQ(lc.flux(i) - lc.removed(i), lc.nonoise(i) - 1.0);
  }
}

TEST(LightcurveSimulate, AddedNoise) {
  // Dates in three nights, the third one longer than a day.
  std::vector<double> dates;
  for (double t = 0; t < 0.2; t += 0.01) dates.push_back(t);
  for (double t = 1.0; t < 1.2; t += 0.02) dates.push_back(t);
  for (double t = 3.0; t < 4.5; t += 0.05) dates.push_back(t);
  const int n = static_cast<int>(dates.size());
  const std::vector<double> amp{0.003, 0.001}, freq{2.0, 7.5};

  // Given phases: exactly the sum of sinusoids, and no random number drawn.
  {
    Lightcurve lc;
    long seed = -5;
    lc.simulate(1.7, 0.3, 0.1, 0.01, arrayOf(dates), 0.1, seed);
    const std::vector<double> before = lightcurve_test::vectorOf(lc.flux, n),
                              removedBefore = lightcurve_test::vectorOf(lc.removed, n);
    long probe = -77;
    ran3(probe);
    lc.add_rednoise(arrayOf(amp), arrayOf(freq), arrayOf({0.4, -1.1}), probe);
    const double next = ran3(probe);
    long again = -77;
    ran3(again);
    EXPECT_EQ(next, ran3(again));
    EXPECT_EQ(lc.rednoise, 0.003 * 0.003 + 0.001 * 0.001);
    for (int j = 1; j <= n; ++j) {
      const double s =
          0.003 * std::sin(dates[j - 1] * 2.0 + 0.4) + 0.001 * std::sin(dates[j - 1] * 7.5 - 1.1);
      EXPECT_NEAR(lc.flux(j) - before[j - 1], s, 1e-12);
      EXPECT_NEAR(lc.removed(j) - removedBefore[j - 1], s, 1e-12);
    }
  }
  // Zero phases: one random phase per stretch between redraws (a gap over
  // 0.25 or a full day since the stretch began).
  {
    Lightcurve lc(arrayOf(dates), arrayOf(std::vector<double>(n, 1.0)),
                  arrayOf(std::vector<double>(n, 0.01)));
    long seed = -123;
    lc.add_rednoise(arrayOf({0.002}), arrayOf({3.0}), arrayOf({0.0}), seed);
    long ref = -123;
    double phi = ran3(ref) * 6.28318530717958, start = dates[0];
    int stretches = 1;
    for (int j = 0; j < n; ++j) {
      if (j > 0 && (dates[j] - dates[j - 1] > 0.25 || dates[j] - start >= 1.0)) {
        phi = ran3(ref) * 6.28318530717958;
        start = dates[j];
        ++stretches;
      }
      EXPECT_NEAR(lc.flux(j + 1) - 1.0, 0.002 * std::sin(dates[j] * 3.0 + phi), 1e-15);
    }
    EXPECT_EQ(stretches, 4);
  }
  // White noise: flux moved by rangau draws, errors added in quadrature.
  {
    Lightcurve lc(arrayOf(dates), arrayOf(std::vector<double>(n, 1.0)),
                  arrayOf(std::vector<double>(n, 0.03)));
    long seed = -8, ref = -8;
    lc.add_whitenoise(0.04, seed);
    for (int j = 1; j <= n; ++j) {
      EXPECT_EQ(lc.flux(j), 1.0 + rangau(ref) * 0.04);
      EXPECT_NEAR(lc.error(j), 0.05, 1e-15);
    }
    lc.add_whitenoise(0.0, seed);
    EXPECT_NEAR(lc.error(1), 0.05, 1e-15);
  }
}

TEST(LightcurveSimulate, Refusals) {
  Lightcurve lc(arrayOf({1, 2, 3}), arrayOf({1, 1, 1}), arrayOf({0.1, 0.1, 0.1}));
  long seed = -1;
  const std::string msg = "vectors have different lengths!\n";
  struct Case {
    const char* label;
    std::function<void()> call;
  };
  const Case cases[] = {
      {"simulate",
       [&] {
         lc.simulate(1, 0.5, 0.1, 0.01, arrayOf({1, 2}), arrayOf({0.1}), seed);
       }},
      {"simulate_noise",
       [&] {
         lc.simulate_noise(arrayOf({1, 2}), arrayOf({0.1, 0.1, 0.1}), seed);
       }},
      {"red noise frequencies",
       [&] {
         lc.add_rednoise(arrayOf({1, 1}), arrayOf({1}), arrayOf({1, 1}), seed);
       }},
      {"red noise phases",
       [&] {
         lc.add_rednoise(arrayOf({1, 1}), arrayOf({1, 1}), arrayOf({}), seed);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(captured(c.call), msg);
    EXPECT_EQ(lc.getLength(), 3);
    EXPECT_EQ(lc.flux(2), 1.0);
    EXPECT_EQ(lc.rednoise, 0.0);
    EXPECT_FALSE(lc.removed_ok);
  }
}

}  // namespace
