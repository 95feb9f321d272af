// Tests the box-fitting transit search against an independent numpy search.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lightcurve/lightcurve_detail.h"
#include "lightcurve/pellib.h"
#include "tests/lightcurve/lightcurve_fixtures.h"
#include "tests/support/python_reference.h"
#include "tests/support/run_command.h"
#include "tests/support/scratch_dir.h"

namespace {

using lightcurve_test::arrayOf;
using lightcurve_test::captured;

using lightcurve_test::Curve;

std::string line(const std::vector<double>& v) {
  std::ostringstream out;
  out.precision(17);
  for (double x : v) out << x << " ";
  return out.str();
}

// The numpy search's output for the curve and the search parameters.
std::vector<double> referenceSearch(const Curve& c, int nper, double pmin, double pmax, double qmin,
                                    double qmax, int nbins) {
  const std::string input = test_support::tempPath("lc_box.txt");
  {
    std::ofstream out(input);
    out.precision(17);
    out << nper << " " << pmin << " " << pmax << " " << qmin << " " << qmax << " " << nbins << "\n"
        << line(c.jd) << "\n"
        << line(c.flux) << "\n"
        << line(c.error) << "\n";
  }
  std::string text;
  test_support::runCommand(
      test_support::pythonCommand(ORV_SOURCE_DIR "/tests/lightcurve/boxfit_reference.py " + input), &text);
  std::remove(input.c_str());
  return test_support::numbersIn(text);
}

TEST(LightcurveBoxfit, AgainstNumpySearch) {
  struct Case {
    const char* label;
    int n;
    double period, epochOffset, duration, depth;  // epoch = first date + epochOffset
    int nper;
    double pmin, pmax, qmin, qmax;
    int nbins;
  };
  const Case cases[] = {
      {"unbinned", 200, 2.3, 0.7, 0.2, 0.01, 200, 1.5, 5.0, 0.01, 0.1, 0},
      {"binned 40, qmin 0", 600, 3.1, 1.1, 0.25, 0.008, 200, 2.0, 6.0, 0.0, 0.12, 40},
      {"binned 25, transit on the first date", 400, 2.7, 0.0, 0.3, 0.01, 250, 1.2, 2.7, 0.02, 0.15, 25},
      {"unbinned, transit on the first date", 200, 1.9, 0.0, 0.2, 0.015, 220, 1.0, 1.9, 0.03, 0.2, 0},
  };
  unsigned seed = 11;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.label);
    ++seed;
    Curve c = lightcurve_test::transitCurve(seed, k.n, 1000.0, 30.0, 1.0, k.period, 0.0, k.duration, k.depth,
                                            0.002, 1.0);
    // The transit epoch relative to the first stored date.
    const double epoch = c.jd[0] + k.epochOffset;
    c = lightcurve_test::transitCurve(seed, k.n, 1000.0, 30.0, 1.0, k.period, epoch, k.duration, k.depth,
                                      0.002, 1.0);
    const std::vector<double> ref = referenceSearch(c, k.nper, k.pmin, k.pmax, k.qmin, k.qmax, k.nbins);
    ASSERT_GE(ref.size(), 2u * k.nper + 71);

    Lightcurve lc(arrayOf(c.jd), arrayOf(c.flux), arrayOf(c.error));
    EXPECT_EQ(captured([&] { lc.boxfitting(k.nper, k.pmin, k.pmax, k.qmin, k.qmax, k.nbins); }), "");
    ASSERT_TRUE(lc.isBoxfitted());
    for (int t = 1; t <= k.nper; ++t) {
      ASSERT_NEAR(lc.frequency(t), ref[2 * t - 2], 1e-14) << "trial " << t;
      ASSERT_NEAR(lc.SR(t), ref[2 * t - 1], 1e-9 * std::max(ref[2 * t - 1], 1e-3)) << "trial " << t;
    }
    const double* peaks = &ref[2 * k.nper];
    for (int m = 1; m <= 10; ++m) {
      const double* p = peaks + 7 * (m - 1);
      SCOPED_TRACE(testing::Message() << "peak " << m << " trial " << p[0]);
      EXPECT_NEAR(lc.getSDE(m), p[1], 1e-9 * std::max(1.0, p[1]));
      EXPECT_NEAR(lc.getPeriod_box(m), p[2], 1e-12 * p[2]);
      EXPECT_NEAR(lc.getTau_box(m), p[3], 1e-9);
      EXPECT_NEAR(lc.getT0_box(m), p[4], 1e-9 * std::fabs(p[4]));
      EXPECT_NEAR(lc.H_box(m), p[5], 1e-9);
      EXPECT_NEAR(lc.L_box(m), p[6], 1e-9);
    }
    EXPECT_EQ(lc.SR(static_cast<int>(peaks[0])), 1.0);
    // Peak 1 at the injected period; for an epoch on the first date the
    // box is the complement of the out-of-transit part.
    EXPECT_NEAR(lc.getPeriod_box(1), k.period, 0.02 * k.period);
    if (k.epochOffset == 0.0) {
      EXPECT_LT(lc.t0_box(1), c.jd[0] + 0.5 * k.duration);
      EXPECT_NEAR(lc.getTau_box(1) * k.period, k.duration,
                  0.3 * k.duration + 2 * k.period / std::max(k.nbins, 50));
    }
    // Left folded on the last trial; flux level restored.
    const double lastPeriod = 1 / lc.frequency(k.nper);
    EXPECT_EQ(lc.getPeriod(), lastPeriod);
    EXPECT_EQ(lc.getT0(), c.jd[0] + lastPeriod / 2);
    const double* phases = peaks + 70;
    ASSERT_EQ(lc.phased_length, static_cast<int>(phases[0]));
    for (int m = 1; m <= lc.phased_length; ++m) ASSERT_NEAR(lc.phase(m), phases[m], 1e-12) << m;
    for (int i = 1; i <= k.n; ++i) ASSERT_NEAR(lc.flux(i), c.flux[i - 1], 1e-12);
  }
}

// The search's bin of a phase on, just below and just above every bin
// boundary k * (1.0 / n), and at the ends of the phase range, is the bin
// that walking up the boundaries finds: advance from bin 1 while the phase
// reaches the next boundary (as the record's phase binning does).
TEST(LightcurveBoxfit, PhaseBinsAtTheBoundaries) {
  for (const int n : {1, 2, 3, 7, 10, 25, 49, 1000, 4096}) {
    SCOPED_TRACE(n);
    const double w = 1.0 / n;
    auto walked = [&](double p) {
      int b = 1;
      while (b < n && p >= b * w) ++b;
      return b;
    };
    std::vector<double> phases = {0.0, -0.0, -1e-300, std::nextafter(1.0, 0.0), 1.0,
                                  std::numeric_limits<double>::quiet_NaN()};
    for (int k = 1; k < n; ++k)
      for (const double p : {k * w, std::nextafter(k * w, 0.0), std::nextafter(k * w, 1.0), k / double(n)})
        phases.push_back(p);
    for (const double p : phases)
      ASSERT_EQ(lightcurve_detail::phaseBin(p, n, w), walked(p)) << "phase " << std::hexfloat << p;
  }
}

}  // namespace
