// Tests the box scan of one trial against the plain scan of every box with
// the acceptance rules of the search: the blocks it passes over must never
// hold a box that would have changed the result.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "lightcurve/box_scan.h"

namespace {

using lightcurve_detail::boxResidue;
using lightcurve_detail::scanBoxes;
using lightcurve_detail::scanEveryBox;
using lightcurve_detail::scanFromSeed;
using lightcurve_detail::SortedCurve;
using lightcurve_detail::TrialBox;

struct Case {
  const char* label;
  int entries;
  double qmin = 0.0, qmax = 0.0;
  double dipPhase, dipWidth, dipDepth;  // one box-shaped dip (depth 0: noise alone)
  bool clustered;                       // phases in a few clumps with gaps between
  double heavyShare;                    // share of all weight on one entry (0: none)
  int nanTail = 0;                      // entries at the end whose phase is not a number
  double fluxScale = 1.0;               // factor on every flux
};

// The best box of the plain scan of every box from a best of zero.
TrialBox plainScan(const SortedCurve& c, double qmin, double qmax) {
  TrialBox best;
  scanEveryBox(c, qmin, qmax, best);
  return best;
}

// Sorted phases in [0, 1), positive weights summing to 1, fluxes of zero
// weighted mean with the dip, and their prefix sums. Phases that are not
// numbers go last, as the search sorts them.
SortedCurve makeCurve(const Case& k, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::vector<double> ph(k.entries), w(k.entries), x(k.entries);
  for (double& p : ph) {
    p = u(rng);
    if (k.clustered) p = std::floor(p * 5) / 5 + 0.06 * u(rng);
  }
  std::sort(ph.begin(), ph.end());
  for (int i = std::max(0, k.entries - k.nanTail); i < k.entries; ++i) ph[i] = std::nan("");
  double total = 0.0;
  for (double& v : w) total += v = 0.2 + u(rng);
  if (k.heavyShare > 0) {
    const int heavy = k.entries / 3;
    total -= w[heavy];
    w[heavy] = total * k.heavyShare / (1 - k.heavyShare);
    total += w[heavy];
  }
  double mean = 0.0;
  for (int i = 0; i < k.entries; ++i) {
    w[i] /= total;
    const double offset = std::fabs(ph[i] - k.dipPhase);
    x[i] = (noise(rng) - (std::min(offset, 1 - offset) < k.dipWidth / 2 ? k.dipDepth : 0.0)) * k.fluxScale;
    mean += w[i] * x[i];
  }
  SortedCurve c;
  c.resize(k.entries);
  c.M = k.entries;
  double cw = 0.0, cs = 0.0;
  for (int i = 1; i <= k.entries; ++i) {
    c.ph[i] = ph[i - 1];
    cs += w[i - 1] * (x[i - 1] - mean);
    cw += w[i - 1];
    c.cumW[i] = cw;
    c.cumS[i] = cs;
  }
  return c;
}

void expectSameBox(const TrialBox& found, const TrialBox& expected) {
  EXPECT_EQ(found.sr, expected.sr);
  EXPECT_EQ(found.high, expected.high);
  EXPECT_EQ(found.low, expected.low);
  EXPECT_EQ(found.width, expected.width);
  EXPECT_EQ(found.centre, expected.centre);
  EXPECT_EQ(found.first, expected.first);
  EXPECT_EQ(found.last, expected.last);
}

// The scan from zero, and from just below the residue of some box it would
// keep (the best's, or that of a box in the middle), keeps the box of the
// plain scan; boxResidue gives that box the residue the plain scan does. The
// seeded scan keeps it by itself when the seed is finite; an infinite one (the
// squares of the weighted fluxes overflow) leaves it nothing to keep, and the
// scan from zero that follows keeps the box.
void expectEveryScanKeepsThePlainBox(const Case& k, unsigned seed) {
  SortedCurve c = makeCurve(k, seed);
  const TrialBox expected = plainScan(c, k.qmin, k.qmax);
  TrialBox found;
  scanBoxes(c, k.qmin, k.qmax, found);
  expectSameBox(found, expected);
  if (expected.first == 0) return;
  EXPECT_EQ(boxResidue(c, expected.first, expected.last, k.qmin, k.qmax), expected.sr);
  double middle = 0.0;  // the residue of some box from the middle entry
  for (int i2 = c.M / 2; i2 <= c.M && middle == 0.0; ++i2)
    middle = boxResidue(c, c.M / 2, i2, k.qmin, k.qmax);
  for (const double start : {expected.sr, middle}) {
    if (start == 0.0) continue;
    SCOPED_TRACE(testing::Message() << "seed " << start);
    TrialBox seeded;
    seeded.sr = start * (1 - 1e-9);
    scanBoxes(c, k.qmin, k.qmax, seeded);
    if (std::isfinite(start))
      expectSameBox(seeded, expected);
    else
      EXPECT_EQ(seeded.first, 0);
    expectSameBox(scanFromSeed(c, k.qmin, k.qmax, start), expected);
  }
}

TEST(LightcurveBoxScan, EqualsEveryBoxScanned) {
  const Case cases[] = {
      {"one entry", 1, 0.0, 0.5, 0.5, 0.0, 0.0, false, 0.0},
      {"two entries", 2, 0.0, 0.5, 0.5, 0.0, 0.0, false, 0.0},
      {"one block less one", 7, 0.0, 0.3, 0.5, 0.1, 3.0, false, 0.0},
      {"one block and one", 9, 0.0, 0.3, 0.5, 0.1, 3.0, false, 0.0},
      {"noise alone", 1000, 0.005, 0.1, 0.5, 0.0, 0.0, false, 0.0},
      {"shallow dip", 1000, 0.005, 0.1, 0.3, 0.03, 0.5, false, 0.0},
      {"deep dip", 700, 0.005, 0.1, 0.62, 0.05, 4.0, false, 0.0},
      {"dip across phase 0: complements", 600, 0.01, 0.15, 0.0, 0.06, 3.0, false, 0.0},
      {"clumps with gaps", 500, 0.0, 0.12, 0.41, 0.04, 2.0, true, 0.0},
      {"wide boxes", 300, 0.2, 0.5, 0.7, 0.3, 1.0, false, 0.0},
      {"one entry holding most weight", 200, 0.0, 0.2, 0.5, 0.05, 2.0, false, 0.97},
      {"phases that are not numbers at the end", 300, 0.005, 0.1, 0.5, 0.05, 2.0, false, 0.0, 17},
      {"complements and phases that are not numbers", 400, 0.01, 0.15, 0.0, 0.12, 3.0, false, 0.0, 3},
      {"every phase but one not a number", 30, 0.0, 0.5, 0.5, 0.05, 2.0, false, 0.0, 29},
      {"residues that overflow", 200, 0.005, 0.1, 0.4, 0.05, 2.0, false, 0.0, 0, 1e160},
      {"sums that overflow", 100, 0.005, 0.1, 0.4, 0.05, 2.0, false, 0.0, 0, 1e307},
  };
  for (const Case& k : cases) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
      SCOPED_TRACE(testing::Message() << k.label << ", seed " << seed);
      expectEveryScanKeepsThePlainBox(k, seed);
    }
  }
}

// Many small curves drawn at random, a few blocks of the scan long: box
// widths from none to over half the period, dips anywhere, clumps, an entry
// holding most weight, phases that are not numbers at the end.
TEST(LightcurveBoxScan, EqualsEveryBoxScannedOnRandomCurves) {
  std::mt19937 rng(71);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (unsigned curve = 1; curve <= 3000; ++curve) {
    Case k{.label = "random",
           .entries = 1 + static_cast<int>(70 * u(rng)),
           .dipPhase = u(rng),
           .dipWidth = 0.02 + 0.3 * u(rng),
           .dipDepth = 4 * u(rng),
           .clustered = u(rng) < 0.3,
           .heavyShare = u(rng) < 0.1 ? 0.9 : 0.0,
           .nanTail = u(rng) < 0.2 ? static_cast<int>(5 * u(rng)) : 0};
    k.qmin = u(rng) < 0.3 ? 0.0 : 0.2 * u(rng);
    k.qmax = k.qmin + 0.6 * u(rng);
    SCOPED_TRACE(testing::Message() << "curve " << curve << ": " << k.entries << " entries, q " << k.qmin
                                    << " .. " << k.qmax << ", dip at " << k.dipPhase << " of width "
                                    << k.dipWidth << ", " << k.nanTail << " phases not numbers");
    expectEveryScanKeepsThePlainBox(k, curve);
    if (testing::Test::HasFailure()) break;
  }
}

}  // namespace

// Residues that differ in the last bit: the later single-entry box is ahead
// of the earlier by one unit in the last place and must win, as in the plain
// scan, although its square lies within rounding of the best's.
TEST(LightcurveBoxScan, LaterBoxAheadByTheLastBitWins) {
  SortedCurve c;
  c.resize(2);
  c.M = 2;
  c.ph = {0.0, 0.0, 0.3};
  c.cumW = {0.0, 0x1.e849dabfa974fp-4, 0x1.822b92262ca1cp-2};
  c.cumS = {0.0, -0x1.2c28c98c8dc95p-5, -0x1.60b3ec13e04c1p-4};
  const TrialBox expected = plainScan(c, 0.0, 0.1);
  ASSERT_EQ(expected.width, 0.0);
  ASSERT_EQ(expected.centre, 0.3);  // the second entry
  TrialBox found;
  scanBoxes(c, 0.0, 0.1, found);
  expectSameBox(found, expected);
}
