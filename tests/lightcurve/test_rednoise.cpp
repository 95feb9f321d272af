// Tests the red-noise analyses against an independent numpy implementation.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lightcurve/pellib.h"
#include "tests/lightcurve/lightcurve_fixtures.h"
#include "tests/support/python_reference.h"
#include "tests/support/run_command.h"
#include "tests/support/scratch_dir.h"

namespace {

using lightcurve_test::arrayOf;
using lightcurve_test::captured;

// 60 ascending irregular dates in three nights, flux with a slow wiggle.
struct Curve {
  std::vector<double> jd, flux, error, removed;
};

Curve threeNights() {
  std::mt19937 rng(60);
  std::uniform_real_distribution<double> step(0.002, 0.012);
  std::normal_distribution<double> g(0.0, 0.002);
  Curve c;
  double t = 5000.0;
  for (int i = 0; i < 60; ++i) {
    if (i == 20 || i == 40) t += 0.8;
    t += step(rng);
    c.jd.push_back(t);
    const double wiggle = 0.002 * std::sin(40.0 * t);
    c.flux.push_back(1.0 + wiggle + g(rng));
    c.removed.push_back(1.0 + wiggle + g(rng));
    c.error.push_back(0.002);
  }
  return c;
}

std::vector<double> numbers(const std::string& text) {
  std::vector<double> v;
  std::istringstream in(text);
  double x;
  while (in >> x) v.push_back(x);
  return v;
}

TEST(LightcurveRednoise, AgainstNumpy) {
  const Curve c = threeNights();
  const double dt = 0.05, w = 0.04, T = 0.3;
  const int nbins = 6, minpairs = 3;
  const std::string input = test_support::tempPath("lc_red.txt");
  {
    std::ofstream out(input);
    out.precision(17);
    out << dt << " " << w << " " << T << " " << nbins << " " << minpairs << "\n";
    for (const auto* v : {&c.jd, &c.flux, &c.error, &c.removed}) {
      for (double x : *v) out << x << " ";
      out << "\n";
    }
  }
  std::string text;
  test_support::runCommand(
      test_support::pythonCommand(ORV_SOURCE_DIR "/tests/lightcurve/rednoise_reference.py " + input), &text);
  std::remove(input.c_str());
  const std::vector<std::string> ref = lightcurve_test::sections(text, "--");
  ASSERT_EQ(ref.size(), 4u);

  Lightcurve lc(arrayOf(c.jd), arrayOf(c.flux), arrayOf(c.error));
  lc.removed.makeReference(arrayOf(c.removed));
  lc.removed_ok = true;
  const std::streamsize precision = std::cout.precision();
  EXPECT_EQ(captured([&] { lc.analyse_rednoise(dt); }), ref[0]);
  std::cout.precision(precision);
  std::ifstream spec("corrspec.tbl");
  std::ostringstream written;
  written << spec.rdbuf();
  EXPECT_EQ(written.str(), ref[1]);

  orv::MArray<double, 2> window;
  captured([&] { window.makeReference(lc.analyze_rednoise2(w)); });
  const std::vector<double> want2 = numbers(ref[2]);
  ASSERT_EQ(window.length(1) * 4, static_cast<int>(want2.size()));
  ASSERT_GT(window.length(1), 3);
  for (int r = 1; r <= window.length(1); ++r)
    for (int k = 1; k <= 4; ++k)
      EXPECT_NEAR(window(r, k), want2[4 * (r - 1) + k - 1], 1e-10) << r << "," << k;

  orv::MArray<double, 2> lags;
  captured([&] { lags.makeReference(lc.analyze_rednoise(T, nbins, minpairs)); });
  const std::vector<double> want = numbers(ref[3]);
  ASSERT_EQ(lags.length(1), nbins);
  ASSERT_EQ(static_cast<int>(want.size()), 2 * nbins);
  double groupSizes = 0;
  for (int m = 1; m <= nbins; ++m) groupSizes += want[2 * m - 1];
  EXPECT_GT(groupSizes, 5);
  for (int m = 1; m <= nbins; ++m) {
    EXPECT_NEAR(lags(m, 1), want[2 * m - 2], 1e-10) << m;
    EXPECT_EQ(lags(m, 2), want[2 * m - 1]) << m;
  }
  std::cout.precision(precision);
}

TEST(LightcurveRednoise, RmsOfRemoved) {
  Lightcurve lc(arrayOf({1, 2, 3}), arrayOf({1, 1, 1}), arrayOf({.1, .1, .1}));
  double v = 0;
  EXPECT_EQ(captured([&] { v = lc.getRms_removed(); }), "error: transit is not removed!\n");
  EXPECT_EQ(v, -1.0);
  lc.removed.makeReference(arrayOf({1, 1, 1}));
  lc.removed_ok = true;
  EXPECT_EQ(lc.getRms_removed(), 0.0);
  lc.removed(2) = 1.3;
  EXPECT_NEAR(lc.getRms_removed(), std::sqrt(0.09 / 2), 1e-15);
}

TEST(LightcurveRednoise, Refusals) {
  Lightcurve one(arrayOf({1}), arrayOf({1}), arrayOf({.1}));
  Lightcurve lc(arrayOf({1, 2, 3}), arrayOf({1, 2, 1}), arrayOf({.1, .1, .1}));
  Lightcurve zero(arrayOf({1, 2, 3}), arrayOf({0, 0, 1}), arrayOf({.1, .1, .1}));
  Lightcurve still(arrayOf({4, 4, 4}), arrayOf({1, 2, 1}), arrayOf({.1, .1, .1}));
  struct Case {
    const char* label;
    std::function<int()> call;  // rows of the result; -1 for none
    std::string message;
  };
  const Case cases[] = {
      {"window, one point", [&] { return one.analyze_rednoise2(1.0).length(1); },
       "error: at least 2 data points needed!\n"},
      {"window 0", [&] { return lc.analyze_rednoise2(0.0).length(1); },
       "error: window length must be positive!\n"},
      {"window, median 0", [&] { return zero.analyze_rednoise2(1.0).length(1); },
       "error: median flux is 0!\n"},
      {"window, equal dates", [&] { return still.analyze_rednoise2(1.0).length(1); },
       "error: dates do not advance!\n"},
      {"lags, one point", [&] { return one.analyze_rednoise(1.0, 3, 2).length(1); },
       "error: at least 2 data points needed!\n"},
      {"lags, T 0", [&] { return lc.analyze_rednoise(0.0, 3, 2).length(1); },
       "error: largest time lag must be positive!\n"},
      {"lags, no bins", [&] { return lc.analyze_rednoise(1.0, 0, 2).length(1); },
       "error: number of lag bins must be at least 1!\n"},
      {"lags, median 0", [&] { return zero.analyze_rednoise(1.0, 3, 2).length(1); },
       "error: median flux is 0!\n"},
      {"slide, one point",
       [&] {
         one.analyse_rednoise(1.0);
         return -1;
       },
       "error: at least 2 data points needed!\n"},
      {"slide, not removed",
       [&] {
         lc.analyse_rednoise(1.0);
         return -1;
       },
       "error: transit is not removed!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    int rows = 0;
    EXPECT_EQ(captured([&] { rows = c.call(); }), c.message);
    if (rows != -1) {
      EXPECT_EQ(rows, 0);
    }
  }
  lc.removed.makeReference(arrayOf({1, 1, 1}));
  lc.removed_ok = true;
  for (double dt : {-1.0, std::nan("")}) {
    EXPECT_EQ(captured([&] { lc.analyse_rednoise(dt); }), "error: time span must not be negative!\n");
  }
}

}  // namespace
