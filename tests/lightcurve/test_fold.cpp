// Tests folding, sorting by date, phase binning and weights against numpy.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lightcurve/pellib.h"
#include "tests/lightcurve/lightcurve_fixtures.h"

namespace {

using lightcurve_test::arrayOf;
using lightcurve_test::captured;
using lightcurve_test::numpyValues;
using lightcurve_test::pyList;

// 300 unsorted dates over 40 days, 20 of them repeated (equal phases); flux
// k + 0.5 marks point k, so an order can be read back from any phased array.
struct Curve {
  std::vector<double> jd, flux, error, nchi, boxval;
};

Curve randomCurve(unsigned seed, int n) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> date(1000.0, 1040.0), err(0.001, 0.01);
  Curve c;
  for (int i = 0; i < n; ++i) {
    c.jd.push_back(i >= 20 && i < 40 ? c.jd[i - 20] : date(rng));
    c.flux.push_back(i + 1.5);
    c.error.push_back(err(rng));
    c.nchi.push_back(2.0 * i);
    c.boxval.push_back(-1.0 * i);
  }
  return c;
}

Lightcurve* makeCurve(const Curve& c) {
  orv::MArray<std::string, 1> names(static_cast<int>(c.jd.size()));
  for (int i = 1; i <= names.length(1); ++i) names(i) = "f" + std::to_string(i);
  auto* lc = new Lightcurve(arrayOf(c.jd), arrayOf(c.flux), arrayOf(c.error), arrayOf(c.nchi), names);
  for (int i = 1; i <= names.length(1); ++i) lc->boxval(i) = c.boxval[i - 1];
  return lc;
}

// numpy: the phases by the fold rule and the stable order of point numbers
// (from 1), for the given period and stored epoch.
std::vector<double> numpyFold(const std::vector<double>& jd, double period, double t0) {
  return numpyValues("jd=np.array(" + pyList(jd) + ")\nP=" + pyList({period}) + "[0]\nt0=" + pyList({t0}) +
                     "[0]\n"
                     "x=(jd-t0)/P\nx=x-np.trunc(x)\nx=np.where(x<0,x+1,x)\nx=x+0.5\nx=np.where(x>=1,x-1,x)\n"
                     "o=np.argsort(x,kind='stable')\n"
                     "for v in x: print(repr(float(v)))\n"
                     "for v in o: print(v+1)\n");
}

TEST(LightcurveFold, AgainstNumpy) {
  const Curve c = randomCurve(2024, 300);
  const int n = 300;
  struct Case {
    const char* label;
    double period, t0;  // t0 0: the first date plus half a period
    int how;            // 0 fold(P, t0), 1 fold(P), 2 fold(), 3 fold_quick(P, t0)
  };
  const Case cases[] = {
      {"period and epoch", 2.7182818, 1003.14159, 0}, {"period alone", 1.4142136, 0.0, 1},
      {"repeat with fold()", 3.3, 1001.5, 2},         {"quick fold", 0.7777, 1012.25, 3},
      {"epoch after all dates", 5.5, 1100.0, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.label);
    std::unique_ptr<Lightcurve> lc(makeCurve(c));
    const double storedT0 = k.t0 == 0.0 ? c.jd[0] + k.period * 0.5 : k.t0;
    orv::MArray<double, 1> oldNchi = arrayOf({9, 9}), oldBox;
    orv::MArray<std::string, 1> oldNames(1);
    lc->phased_nchi.makeReference(oldNchi);
    lc->phased_filename.makeReference(oldNames);
    switch (k.how) {
      case 0:
        lc->fold(k.period, k.t0);
        break;
      case 1:
        lc->fold(k.period);
        break;
      case 2:
        lc->fold(k.period, k.t0);
        lc->fold_quick(1.0, 5.0);
        lc->period = k.period;
        lc->t0 = k.t0;
        lc->fold();
        break;
      default:
        lc->fold_quick(k.period, k.t0);
        break;
    }
    EXPECT_TRUE(lc->isFolded());
    EXPECT_EQ(lc->getPeriod(), k.period);
    EXPECT_EQ(lc->getT0(), storedT0);
    EXPECT_EQ(lc->phased_length, n);
    const std::vector<double> ref = numpyFold(c.jd, k.period, storedT0);
    ASSERT_EQ(ref.size(), 2u * n);
    for (int m = 1; m <= n; ++m) {
      const int p = static_cast<int>(ref[n + m - 1]);  // point at phased position m
      ASSERT_NEAR(lc->getPhase()(m), ref[p - 1], 1e-12) << "position " << m;
      ASSERT_EQ(lc->getPhased_Flux()(m), c.flux[p - 1]) << "position " << m;
      ASSERT_EQ(lc->getPhased_Error()(m), c.error[p - 1]);
      ASSERT_EQ(lc->phased_weights(m), 0.0);
      ASSERT_EQ(lc->getPhased_Boxval()(m), c.boxval[p - 1]);
      if (k.how != 3) {
        ASSERT_EQ(lc->getPhased_Nchi()(m), c.nchi[p - 1]);
        ASSERT_EQ(lc->getPhased_Filename()(m), "f" + std::to_string(p));
      }
    }
    if (k.how == 3) {  // nchi and names of the phased curve untouched
      EXPECT_EQ(lc->getPhased_Nchi().getData(), oldNchi.getData());
      EXPECT_EQ(lc->getPhased_Filename().getData(), oldNames.getData());
    }
  }
}

TEST(LightcurveFold, PhaseRuleExamples) {
  struct Case {
    std::vector<double> dates;
    double period, t0, storedT0;
    std::vector<double> phases;  // in stored order of the dates
  };
  const Case cases[] = {
      {{0, 1, 2, 3}, 2.0, 0.0, 1.0, {0.0, 0.5, 0.0, 0.5}},
      {{0, 1, 2, 3}, 2.0, 0.5, 0.5, {0.25, 0.75, 0.25, 0.75}},
      {{10.0, 9.0}, 2.0, 10.0, 10.0, {0.5, 0.0}},  // at t0; half a period before
      {{-3.0, 7.0}, 4.0, 1.0, 1.0, {0.5, 0.0}},    // one whole period before; 1.5 periods after
  };
  for (const Case& c : cases) {
    const int n = static_cast<int>(c.dates.size());
    Lightcurve lc(arrayOf(c.dates), arrayOf(std::vector<double>(n, 1.0)),
                  arrayOf(std::vector<double>(n, 0.1)));
    lc.fold(c.period, c.t0);
    EXPECT_EQ(lc.getT0(), c.storedT0);
    std::vector<double> sortedPhases = c.phases;
    std::sort(sortedPhases.begin(), sortedPhases.end());
    for (int m = 1; m <= n; ++m) EXPECT_EQ(lc.getPhase()(m), sortedPhases[m - 1]);
  }
}

TEST(LightcurveFold, SortByDateIsStable) {
  Lightcurve lc(arrayOf({3, 1, 2, 1, 3, 0}), arrayOf({1, 2, 3, 4, 5, 6}), arrayOf({.1, .2, .3, .4, .5, .6}));
  lc.weights(2) = 7.0;
  lc.filename(4) = "x";
  lc.sort();
  const std::vector<double> jd{0, 1, 1, 2, 3, 3}, fl{6, 2, 4, 3, 1, 5};
  for (int i = 1; i <= 6; ++i) {
    EXPECT_EQ(lc.JD(i), jd[i - 1]);
    EXPECT_EQ(lc.flux(i), fl[i - 1]);
    EXPECT_EQ(lc.error(i), fl[i - 1] / 10);
  }
  EXPECT_EQ(lc.weights(2), 7.0);
  EXPECT_EQ(lc.filename(3), "x");
}

// Binning of the folded random curve against np.bincount with the walk's
// boundaries b*w; n = 1000 leaves most bins empty.
TEST(LightcurveFold, BinningAgainstNumpy) {
  const Curve c = randomCurve(77, 300);
  for (int nb : {1, 7, 50, 1000}) {
    SCOPED_TRACE(nb);
    std::unique_ptr<Lightcurve> lc(makeCurve(c));
    lc->fold(1.2345, 1000.5);
    std::vector<double> ph(300), fl(300), er(300);
    for (int k = 1; k <= 300; ++k) {
      ph[k - 1] = lc->phase(k);
      fl[k - 1] = lc->phased_flux(k);
      er[k - 1] = lc->phased_error(k);
    }
    const std::vector<double> ref = numpyValues(
        "ph=np.array(" + pyList(ph) + ")\nfl=np.array(" + pyList(fl) + ")\ner=np.array(" + pyList(er) +
        ")\nn=" + std::to_string(nb) +
        "\nthr=np.arange(1,n)*(1.0/n)\nb=np.searchsorted(thr,ph,side='right')\nv=1/er**2\n"
        "W=np.bincount(b,v,n)\nP=np.bincount(b,v*ph,n)\nF=np.bincount(b,v*fl,n)\nk=W!=0\n"
        "print(k.sum())\n"
        "for a,f,e in zip(P[k]/W[k],F[k]/W[k],1/np.sqrt(W[k])): print(repr(a),repr(f),repr(e))\n");
    ASSERT_FALSE(ref.empty());
    const int m = static_cast<int>(ref[0]);
    lc->binning_phased(nb);
    ASSERT_EQ(lc->phased_length, m);
    for (int k = 1; k <= m; ++k) {
      EXPECT_NEAR(lc->phase(k), ref[3 * k - 2], 1e-11);
      EXPECT_NEAR(lc->phased_flux(k), ref[3 * k - 1], 1e-11 * std::fabs(ref[3 * k - 1]));
      EXPECT_NEAR(lc->phased_error(k), ref[3 * k], 1e-11 * ref[3 * k]);
    }
    lc->calc_phased_weights();
    double sum = 0;
    for (int k = 1; k <= m; ++k) sum += lc->phased_weights(k);
    EXPECT_NEAR(sum, 1.0, 1e-13);
  }
}

TEST(LightcurveFold, BinOfPhaseZeroIsKept) {
  // Phases 0, 0 and 0.75: bin 1 holds only phase 0 and still counts.
  Lightcurve lc(arrayOf({1, 3, 2.5}), arrayOf({2, 4, 6}), arrayOf({1, 1, 1}));
  lc.fold(2.0, 2.0);  // dates 1 and 3 at phase 0, 2.5 at 0.75
  lc.binning_phased(4);
  ASSERT_EQ(lc.phased_length, 2);
  EXPECT_EQ(lc.phase(1), 0.0);
  EXPECT_EQ(lc.phased_flux(1), 3.0);
  EXPECT_EQ(lc.phased_error(1), 1.0 / std::sqrt(2.0));
  EXPECT_EQ(lc.phase(2), 0.75);
}

TEST(LightcurveFold, WeightsSumToOne) {
  Lightcurve lc(arrayOf({1, 2, 3, 4}), arrayOf({1, 1, 1, 1}), arrayOf({0.1, 0.1, 0.1, 0.1}));
  lc.calc_weights();
  EXPECT_TRUE(lc.isWeighted());
  for (int i = 1; i <= 4; ++i) EXPECT_DOUBLE_EQ(lc.weights(i), 0.25);
  Lightcurve uneven(arrayOf({1, 2, 3}), arrayOf({1, 1, 1}), arrayOf({0.1, 0.2, 0.4}));
  uneven.calc_weights();
  EXPECT_NEAR(uneven.weights(1) + uneven.weights(2) + uneven.weights(3), 1.0, 1e-15);
  EXPECT_NEAR(uneven.weights(1) / uneven.weights(3), 16.0, 1e-12);
}

TEST(LightcurveFold, Refusals) {
  Lightcurve empty;
  Lightcurve lc(arrayOf({1, 2}), arrayOf({1, 1}), arrayOf({0.1, 0.1}));
  Lightcurve emptied(arrayOf({1}), arrayOf({1}), arrayOf({0.1}));
  emptied.remove_point(1);  // has_data still set, no point left
  const double nan = std::nan("");
  Lightcurve missing(arrayOf({nan, 2, 3}), arrayOf({1, nan, -std::numeric_limits<double>::infinity()}),
                     arrayOf({0.1, 0.1, 0.1}));
  const std::string noData = "lightcurve contains no data points!\n";
  struct Case {
    const char* label;
    std::function<void()> call;
    std::string message;
  };
  const Case cases[] = {
      {"fold empty", [&] { empty.fold(1.0, 0.5); }, noData},
      {"fold_quick empty", [&] { empty.fold_quick(1.0); }, noData},
      {"sort empty", [&] { empty.sort(); }, noData},
      {"weights empty", [&] { empty.calc_weights(); }, noData},
      {"fold emptied", [&] { emptied.fold(1.0); }, noData},
      {"weights emptied", [&] { emptied.calc_weights(); }, noData},
      {"phased weights empty", [&] { empty.calc_phased_weights(); }, noData},
      {"fold without a finite date and flux", [&] { missing.fold(1.0); }, noData},
      {"fold_quick without a finite date and flux", [&] { missing.fold_quick(1.0, 0.5); }, noData},
      {"binning unfolded", [&] { lc.binning_phased(5); }, "lightcurve is not folded!\n"},
      {"phased weights unfolded", [&] { lc.calc_phased_weights(); }, "lightcurve not folded yet!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(captured(c.call), c.message);
  }
  EXPECT_FALSE(empty.isFolded() || empty.isWeighted() || emptied.isFolded() || lc.isFolded() ||
               missing.isFolded());
  lc.fold(1.5);
  for (int bad : {0, -2}) {
    EXPECT_EQ(captured([&] { lc.binning_phased(bad); }), "error: number of bins must be at least 1!\n");
    EXPECT_EQ(lc.phased_length, 2);
  }
}

// The fold of two curves, bit for bit: the epoch and the phased arrays; with
// how 2 (binned) only those that binning makes, with how 1 (a quick fold) all
// but nchi and the file names.
void expectSamePhasedCurve(const Lightcurve& found, const Lightcurve& expected, int how) {
  EXPECT_EQ(found.getT0(), expected.getT0());
  ASSERT_EQ(found.phased_length, expected.phased_length);
  for (int m = 1; m <= found.phased_length; ++m) {
    SCOPED_TRACE(m);
    ASSERT_EQ(found.phase(m), expected.phase(m));
    ASSERT_EQ(found.phased_flux(m), expected.phased_flux(m));
    ASSERT_EQ(found.phased_error(m), expected.phased_error(m));
    ASSERT_EQ(found.phased_weights(m), expected.phased_weights(m));
    if (how == 2) continue;
    ASSERT_EQ(found.phased_boxval(m), expected.phased_boxval(m));
    if (how == 1) continue;
    ASSERT_EQ(found.phased_nchi(m), expected.phased_nchi(m));
    // The flux marks the point: point p has flux p + 0.5 and name "fp".
    ASSERT_EQ(found.phased_filename(m), "f" + std::to_string(static_cast<int>(found.phased_flux(m))));
  }
}

// Points whose date or flux is not finite are left out of the fold, and
// entries whose weight is not finite out of the binning too: the phased
// arrays are, bit for bit, those of the curve without them, the default
// epoch is the first date left, and a point with an error of 0 is folded.
TEST(LightcurveFold, PointsThatAreNotFiniteAreLeftOut) {
  enum Field { kDate, kFlux, kError };
  struct Spoilt {
    int point;  // from 1
    Field field;
    double value;
  };
  struct Case {
    const char* label;
    std::vector<Spoilt> spoilt;
    std::vector<int> leftOut;  // points
    double period, t0;
    int how;  // 0 fold(P, t0), 1 fold_quick(P, t0), 2 fold(P, t0) and binning_phased(25)
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Spoilt> datesAndFluxes = {
      {1, kDate, nan}, {7, kFlux, inf}, {300, kDate, -inf}, {150, kFlux, nan}, {40, kError, 0.0}};
  const std::vector<int> gone = {1, 7, 150, 300};
  const Case cases[] = {
      {"fold on the first date left", datesAndFluxes, gone, 2.7, 0.0, 0},
      {"fold with an epoch", datesAndFluxes, gone, 2.7, 1003.1, 0},
      {"quick fold", datesAndFluxes, gone, 0.77, 0.0, 1},
      {"binning",
       {{1, kDate, nan}, {10, kError, 0.0}, {20, kError, nan}, {30, kFlux, -inf}},
       {1, 10, 20, 30},
       1.2345,
       0.0,
       2},
  };
  auto foldAs = [](Lightcurve& lc, const Case& k) {
    if (k.how == 1) {
      lc.fold_quick(k.period, k.t0);
      return;
    }
    lc.fold(k.period, k.t0);
    if (k.how == 2) {
      lc.binning_phased(25);
      lc.calc_phased_weights();
    }
  };
  const Curve c = randomCurve(31, 300);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.label);
    Curve spoilt = c, kept;
    for (const Spoilt& v : k.spoilt)
      (v.field == kDate ? spoilt.jd : v.field == kFlux ? spoilt.flux : spoilt.error)[v.point - 1] = v.value;
    for (int i = 1; i <= 300; ++i) {
      if (std::find(k.leftOut.begin(), k.leftOut.end(), i) != k.leftOut.end()) continue;
      kept.jd.push_back(spoilt.jd[i - 1]);
      kept.flux.push_back(spoilt.flux[i - 1]);
      kept.error.push_back(spoilt.error[i - 1]);
      kept.nchi.push_back(spoilt.nchi[i - 1]);
      kept.boxval.push_back(spoilt.boxval[i - 1]);
    }
    std::unique_ptr<Lightcurve> lc(makeCurve(spoilt)), reference(makeCurve(kept));
    for (Lightcurve* curve : {lc.get(), reference.get()}) EXPECT_EQ(captured([&] { foldAs(*curve, k); }), "");
    expectSamePhasedCurve(*lc, *reference, k.how);
  }
}

}  // namespace
