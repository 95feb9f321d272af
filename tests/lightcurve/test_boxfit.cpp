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

// The search's spectrum, its ten peaks and the fold it leaves against the
// numpy search's output for the same curve and parameters. The width and
// centre are compared for the first `boxedPeaks` peaks: a box that ends on
// the last entry and the complement of the entries before it hold the same
// points, so their residues are equal but for rounding, which the two
// searches do differently; the levels of such twins agree. Peaks that hold
// no trial have only their SDE.
void expectAsReference(const Lightcurve& lc, const std::vector<double>& ref, int nper, int boxedPeaks) {
  ASSERT_GE(ref.size(), 2u * nper + 71);
  for (int t = 1; t <= nper; ++t) {
    ASSERT_NEAR(lc.frequency(t), ref[2 * t - 2], 1e-14) << "trial " << t;
    ASSERT_NEAR(lc.SR(t), ref[2 * t - 1], 1e-9 * std::max(ref[2 * t - 1], 1e-3)) << "trial " << t;
  }
  const double* peaks = &ref[2 * nper];
  for (int m = 1; m <= 10; ++m) {
    const double* p = peaks + 7 * (m - 1);
    SCOPED_TRACE(testing::Message() << "peak " << m << " trial " << p[0]);
    EXPECT_NEAR(lc.getSDE(m), p[1], 1e-9 * std::max(1.0, p[1]));
    EXPECT_NEAR(lc.getPeriod_box(m), p[2], 1e-12 * p[2]);
    if (p[0] == 0) continue;
    if (m <= boxedPeaks) {
      EXPECT_NEAR(lc.getTau_box(m), p[3], 1e-9);
      EXPECT_NEAR(lc.getT0_box(m), p[4], 1e-9 * std::fabs(p[4]));
    }
    EXPECT_NEAR(lc.H_box(m), p[5], 1e-9);
    EXPECT_NEAR(lc.L_box(m), p[6], 1e-9);
  }
  const double* phases = peaks + 70;
  ASSERT_EQ(lc.phased_length, static_cast<int>(phases[0]));
  for (int m = 1; m <= lc.phased_length; ++m) ASSERT_NEAR(lc.phase(m), phases[m], 1e-12) << m;
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
    expectAsReference(lc, ref, k.nper, 10);
    const double* peaks = &ref[2 * k.nper];
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

// The curve with its points in date order.
Curve byDate(const Curve& c) {
  std::vector<size_t> order(c.jd.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return c.jd[a] < c.jd[b]; });
  Curve sorted;
  for (const size_t i : order) {
    sorted.jd.push_back(c.jd[i]);
    sorted.flux.push_back(c.flux[i]);
    sorted.error.push_back(c.error[i]);
  }
  return sorted;
}

// The curve without the given points (indices from 0).
Curve without(const Curve& c, const std::vector<int>& gone) {
  Curve kept;
  for (int i = 0; i < static_cast<int>(c.jd.size()); ++i) {
    if (std::find(gone.begin(), gone.end(), i) != gone.end()) continue;
    kept.jd.push_back(c.jd[i]);
    kept.flux.push_back(c.flux[i]);
    kept.error.push_back(c.error[i]);
  }
  return kept;
}

// Every result of two searches, bit for bit: the spectrum, the ten peaks, the
// weighted mean removed and restored, and the fold the search leaves.
void expectSameSearch(const Lightcurve& found, const Lightcurve& expected, int nper) {
  for (int t = 1; t <= nper; ++t) {
    ASSERT_EQ(found.frequency(t), expected.frequency(t)) << "trial " << t;
    ASSERT_EQ(found.SR(t), expected.SR(t)) << "trial " << t;
  }
  for (int m = 1; m <= 10; ++m) {
    SCOPED_TRACE(testing::Message() << "peak " << m);
    EXPECT_EQ(found.getSDE(m), expected.getSDE(m));
    EXPECT_EQ(found.getPeriod_box(m), expected.getPeriod_box(m));
    EXPECT_EQ(found.tau_box(m), expected.tau_box(m));
    EXPECT_EQ(found.t0_box(m), expected.t0_box(m));
    EXPECT_EQ(found.H_box(m), expected.H_box(m));
    EXPECT_EQ(found.L_box(m), expected.L_box(m));
  }
  EXPECT_EQ(found.renorm_offset, expected.renorm_offset);
  EXPECT_EQ(found.getPeriod(), expected.getPeriod());
  EXPECT_EQ(found.getT0(), expected.getT0());
  ASSERT_EQ(found.phased_length, expected.phased_length);
  for (int k = 1; k <= found.phased_length; ++k) {
    ASSERT_EQ(found.phase(k), expected.phase(k)) << k;
    ASSERT_EQ(found.phased_flux(k), expected.phased_flux(k)) << k;
    ASSERT_EQ(found.phased_error(k), expected.phased_error(k)) << k;
    ASSERT_EQ(found.phased_weights(k), expected.phased_weights(k)) << k;
  }
}

// Twelve dates half a day apart; the flux drops by 1 % on the dates 1 and 1.5
// days past each multiple of 2: on period 2 the box of phases 0.5 to 0.75.
Curve twelvePoints() {
  Curve c;
  for (int i = 0; i < 12; ++i) {
    const double date = 0.5 * i, cycle = std::fmod(date, 2.0);
    c.jd.push_back(date);
    c.flux.push_back(cycle == 1.0 || cycle == 1.5 ? 0.99 : 1.0);
    c.error.push_back(0.01);
  }
  return c;
}

Curve eightPoints() {
  return {{0.0, 0.3, 0.55, 0.9, 1.2, 1.45, 1.8, 2.1},
          {1.0, 0.98, 1.0, 1.01, 0.98, 1.0, 1.0, 0.99},
          {0.01, 0.01, 0.012, 0.01, 0.008, 0.01, 0.01, 0.011}};
}

// The four read-backs of peak i of a search, and what they print.
struct ReadBacks {
  double snr;
  int transits;
  double nchi;
  int inTransit;
  std::string printed;
};

ReadBacks readBacks(Lightcurve& lc, int i) {
  ReadBacks r{};
  r.printed = captured([&] {
    r.snr = lc.getSNR_box(i);
    r.transits = lc.getNumber_box(i, 2);
    r.nchi = lc.getNchi_box(i);
    r.inTransit = lc.getNumber_transit_box(i);
  });
  return r;
}

// A point whose date, flux or weight is not finite takes no part in the
// search: the result, and the read-backs of every peak, are bit for bit
// those of the curve without it; the result agrees with the numpy search of
// every box over the points that take part. The values go to the first, a
// middle or the last point in date order (the first date gives the epoch of
// every fold).
TEST(LightcurveBoxfit, PointsThatAreNotFiniteAreNotSearched) {
  enum Field { kDate, kFlux, kError };
  enum Where { kHead, kMiddle, kTail };
  struct Spoilt {
    Field field;
    Where where;
    double value;
  };
  struct Search {
    int nper;
    double pmin, pmax, qmin, qmax;
    int nbins;
  };
  struct Case {
    const char* label;
    Curve curve;  // in date order
    std::vector<Spoilt> spoilt;
    Search search;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Curve small =
      byDate(lightcurve_test::transitCurve(5, 150, 1000.0, 20.0, 1.0, 2.3, 1000.7, 0.25, 0.01, 0.002, 1.0));
  const Curve large =
      byDate(lightcurve_test::transitCurve(6, 400, 1000.0, 30.0, 1.0, 3.1, 1001.2, 0.3, 0.008, 0.002, 1.0));
  const Search twoTrialsBinned{2, 2.0, 2.5, 0.05, 0.3, 8}, twoTrials{2, 1.0, 1.2, 0.05, 0.3, 0};
  const Search binned{150, 2.0, 5.0, 0.02, 0.15, 40}, unbinned{120, 1.5, 4.0, 0.02, 0.2, 0};
  const Case cases[] = {
      {"binned, 12 points, a date in the middle", twelvePoints(), {{kDate, kMiddle, nan}}, twoTrialsBinned},
      {"binned, 12 points, an error of 0 in transit",
       twelvePoints(),
       {{kError, kTail, 0.0}},
       twoTrialsBinned},
      {"binned, the first date", large, {{kDate, kHead, nan}}, binned},
      {"binned, a date in the middle", large, {{kDate, kMiddle, nan}}, binned},
      {"binned, the last date", large, {{kDate, kTail, -inf}}, binned},
      {"unbinned, 8 points, a date in the middle", eightPoints(), {{kDate, kMiddle, nan}}, twoTrials},
      {"unbinned, the first date", small, {{kDate, kHead, nan}}, unbinned},
      {"unbinned, a date in the middle", small, {{kDate, kMiddle, nan}}, unbinned},
      {"unbinned, the last date", small, {{kDate, kTail, nan}}, unbinned},
      {"unbinned, a flux", small, {{kFlux, kMiddle, nan}}, unbinned},
      {"binned, a flux", large, {{kFlux, kHead, inf}}, binned},
      {"unbinned, an error of 0", small, {{kError, kHead, 0.0}}, unbinned},
      {"binned, an error", large, {{kError, kMiddle, nan}}, binned},
      {"binned, one of each",
       large,
       {{kDate, kHead, nan}, {kFlux, kMiddle, nan}, {kError, kTail, 0.0}},
       binned},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.label);
    Curve spoilt = k.curve;
    std::vector<int> gone;
    for (const Spoilt& v : k.spoilt) {
      const int n = static_cast<int>(spoilt.jd.size());
      const int i = v.where == kHead ? 0 : v.where == kTail ? n - 1 : n / 2;
      (v.field == kDate ? spoilt.jd : v.field == kFlux ? spoilt.flux : spoilt.error)[i] = v.value;
      gone.push_back(i);
    }
    const Curve kept = without(k.curve, gone);
    const Search& q = k.search;
    Lightcurve lc(arrayOf(spoilt.jd), arrayOf(spoilt.flux), arrayOf(spoilt.error));
    Lightcurve reference(arrayOf(kept.jd), arrayOf(kept.flux), arrayOf(kept.error));
    EXPECT_EQ(captured([&] { lc.boxfitting(q.nper, q.pmin, q.pmax, q.qmin, q.qmax, q.nbins); }), "");
    reference.boxfitting(q.nper, q.pmin, q.pmax, q.qmin, q.qmax, q.nbins);
    ASSERT_TRUE(lc.isBoxfitted());
    expectSameSearch(lc, reference, q.nper);
    // The points that take part keep their weights and flux, the others weigh nothing.
    for (int i = 1, m = 1; i <= lc.getLength(); ++i) {
      if (std::find(gone.begin(), gone.end(), i - 1) != gone.end()) {
        EXPECT_EQ(lc.weights(i), 0.0) << i;
        continue;
      }
      EXPECT_EQ(lc.weights(i), reference.weights(m)) << i;
      EXPECT_EQ(lc.flux(i), reference.flux(m++)) << i;
    }
    expectAsReference(lc, referenceSearch(spoilt, q.nper, q.pmin, q.pmax, q.qmin, q.qmax, q.nbins), q.nper,
                      1);
    // So are the read-backs of every peak (they refold the curve, hence last).
    for (int i = 1; i <= 10; ++i) {
      const ReadBacks found = readBacks(lc, i), expected = readBacks(reference, i);
      EXPECT_EQ(found.snr, expected.snr) << i;
      EXPECT_EQ(found.transits, expected.transits) << i;
      EXPECT_EQ(found.nchi, expected.nchi) << i;
      EXPECT_EQ(found.inTransit, expected.inTransit) << i;
      EXPECT_EQ(found.printed, expected.printed) << i;
    }
  }
}

// A curve of space photometry (a 30-minute cadence over 80 days) with 5 % of
// its dates missing, the first among them, finds the period, duration and
// epoch of the curve without those points, and they are the injected ones.
TEST(LightcurveBoxfit, SpaceCurveWithMissingDates) {
  const double period = 4.27, epoch = 2457001.9, duration = 0.13;
  Curve c;
  std::mt19937 rng(2014);
  std::normal_distribution<double> noise(0.0, 0.001);
  for (int i = 0; i < 80 * 48; ++i) {
    const double date = 2457000.3 + i / 48.0;
    const double cycles = (date - epoch) / period;
    const bool inTransit = std::fabs(cycles - std::round(cycles)) * period < duration / 2;
    c.jd.push_back(date);
    c.flux.push_back((inTransit ? 0.996 : 1.0) + noise(rng));
    c.error.push_back(0.001);
  }
  std::vector<int> missing = {0};
  for (int i = 1; i < static_cast<int>(c.jd.size()); ++i)
    if (rng() % 20 == 0) missing.push_back(i);
  Curve spoilt = c;
  for (const int i : missing) spoilt.jd[i] = std::numeric_limits<double>::quiet_NaN();
  const Curve kept = without(c, missing);
  for (const int nbins : {400, 0}) {
    SCOPED_TRACE(nbins);
    const int nper = nbins ? 3000 : 300;
    Lightcurve lc(arrayOf(spoilt.jd), arrayOf(spoilt.flux), arrayOf(spoilt.error));
    Lightcurve reference(arrayOf(kept.jd), arrayOf(kept.flux), arrayOf(kept.error));
    lc.boxfitting(nper, 3.0, 6.0, 0.01, 0.08, nbins);
    reference.boxfitting(nper, 3.0, 6.0, 0.01, 0.08, nbins);
    EXPECT_EQ(lc.getPeriod_box(1), reference.getPeriod_box(1));
    EXPECT_EQ(lc.getTau_box(1), reference.getTau_box(1));
    EXPECT_EQ(lc.getT0_box(1), reference.getT0_box(1));
    const double step = lc.frequency(2) - lc.frequency(1);
    EXPECT_LE(std::fabs(1 / lc.getPeriod_box(1) - 1 / period), 2 * step);
    EXPECT_NEAR(lc.getTau_box(1) * period, duration, 0.3 * duration);
    const double cycles = (lc.getT0_box(1) - epoch) / period;
    EXPECT_LE(std::fabs(cycles - std::round(cycles)) * period, duration / 2);
  }
}

}  // namespace
