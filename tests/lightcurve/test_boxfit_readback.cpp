// Tests the read-backs of a transit-search peak, transit masking, degenerate
// searches, and injection and recovery against astropy's BoxLeastSquares.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
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
using lightcurve_test::pyNum;

using lightcurve_test::Curve;

// Nightly dates (0.35 days a night) over `days` from 2000, in random order.
Curve nightlyCurve(unsigned seed, int n, double days, double period, double epoch, double duration,
                   double depth, double noise) {
  return lightcurve_test::transitCurve(seed, n, 2000.0, days, 0.35, period, epoch, duration, depth, noise,
                                       0.5);
}

Lightcurve* makeCurve(const Curve& c) {
  return new Lightcurve(arrayOf(c.jd), arrayOf(c.flux), arrayOf(c.error));
}

TEST(LightcurveBoxReadback, BeforeSearchAndBadPeaks) {
  Lightcurve lc(arrayOf({1, 2, 3}), arrayOf({1, 1, 1}), arrayOf({.1, .1, .1}));
  struct Case {
    const char* label;
    std::function<double()> call;
  };
  const Case cases[] = {
      {"snr", [&] { return lc.getSNR_box(1); }},
      {"transits", [&] { return lc.getNumber_box(1, 1); }},
      {"nchi", [&] { return lc.getNchi_box(1); }},
      {"points", [&] { return lc.getNumber_transit_box(1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    double v = 0;
    EXPECT_EQ(captured([&] { v = c.call(); }), "no boxed-lightcurve available!\n");
    EXPECT_EQ(v, -1.0);
  }
  EXPECT_FALSE(lc.isFolded());
  // Eight trials leave later peaks empty: out-of-range and empty peaks refused.
  const Curve c = nightlyCurve(5, 200, 20, 2.0, 2000.3, 0.2, 0.01, 0.002);
  std::unique_ptr<Lightcurve> s(makeCurve(c));
  s->boxfitting(8, 1.5, 3.0, 0.02, 0.2, 0);
  EXPECT_GT(s->getPeriod_box(1), 0.0);
  EXPECT_EQ(s->getPeriod_box(10), 0.0);
  EXPECT_EQ(s->getSDE(10), 0.0);
  EXPECT_EQ(s->H_box(10), s->renorm_offset);
  EXPECT_EQ(s->L_box(10), s->renorm_offset);
  for (const Case& k : {Case{"snr", [&] { return s->getSNR_box(10); }},
                        Case{"transits", [&] { return s->getNumber_box(10, 1); }},
                        Case{"nchi", [&] { return s->getNchi_box(10); }},
                        Case{"points", [&] { return s->getNumber_transit_box(10); }}}) {
    SCOPED_TRACE(k.label);
    double v = 0;
    EXPECT_EQ(captured([&] { v = k.call(); }), "no boxed-lightcurve available!\n");
    EXPECT_EQ(v, -1.0);
    EXPECT_EQ(captured([&] { v = s->getSNR_box(11); }), "error: number(11) out of range (1,10)!\n");
    EXPECT_EQ(v, -1.0);
  }
}

// The read-backs of peaks 1 to 3 against numpy's evaluation of their windows.
TEST(LightcurveBoxReadback, AgainstNumpy) {
  const Curve c = nightlyCurve(21, 800, 40, 2.9, 2001.2, 0.2, 0.01, 0.002);
  std::unique_ptr<Lightcurve> lc(makeCurve(c));
  lc->boxfitting(800, 1.5, 6.0, 0.01, 0.1, 0);
  for (int i = 1; i <= 3; ++i) {
    SCOPED_TRACE(testing::Message() << "peak " << i);
    const double P = lc->getPeriod_box(i), T = lc->getT0_box(i), tau = lc->getTau_box(i);
    const double H = lc->H_box(i), L = lc->L_box(i);
    const std::vector<double> ref =
        numpyValues("jd=np.array(" + pyList(c.jd) + ")\nfl=np.array(" + pyList(c.flux) + ")\ner=np.array(" +
                    pyList(c.error) + ")\nP=" + pyNum(P) + "\nT=" + pyNum(T) + "\ntau=" + pyNum(tau) +
                    "\nH=" + pyNum(H) + "\nL=" + pyNum(L) +
                    "\nx=(jd-T)/P\nx=x-np.trunc(x)\np=np.where(x<0,x+1,x)\np=np.where(p>=1,p-1,p)\n"
                    "snr_in=(p>1-tau/2)|(p<tau/2)\nprint(repr((H-L)/H*np.sqrt(np.sum(1/er[snr_in]**2))))\n"
                    "c=np.where(x<0,x+1,x)+0.5\nc=np.where(c>=1,c-1,c)\n"
                    "cw=(c>=0.4999-tau/2)&(c<=0.5001+tau/2)\n"
                    "for minpts in (1,3):\n"
                    "  last=-1e99; n=0\n"
                    "  for d in np.sort(jd):\n"
                    "    k=np.nonzero(jd==d)[0][0]\n"
                    "    if not cw[k] or not d-last>=(1-tau/2)*P: continue\n"
                    "    cyc=np.sign(d-T)*np.floor(abs(d-T)/P+0.5)\n"
                    "    mid=cyc*P+T; last=mid\n"
                    "    if np.sum(np.abs(jd-mid)<=tau*P/2)>=minpts: n+=1\n"
                    "  print(n)\n"
                    "fw=(c>=0.4999-tau/2)&(c<0.5001+tau/2)\n"
                    "print(repr(np.sum(((fl-np.where(fw,L,H))/er)**2)/len(jd)), fw.sum())\n"
                    "for k in np.nonzero(~cw)[0]: print(k+1)\n");
    ASSERT_GE(ref.size(), 5u);
    EXPECT_NEAR(lc->getSNR_box(i), ref[0], 1e-9 * ref[0]);
    EXPECT_EQ(lc->getNumber_box(i, 1), ref[1]);
    EXPECT_EQ(lc->getNumber_box(i, 3), ref[2]);
    if (i == 1) {
      EXPECT_GT(ref[1], 3);
    }
    EXPECT_NEAR(lc->getNchi_box(i), ref[3], 1e-9 * ref[3]);
    EXPECT_EQ(lc->getNumber_transit_box(i), ref[4]);
    EXPECT_EQ(lc->getPeriod(), P);  // left folded on the peak
    EXPECT_EQ(lc->getT0(), T);
    // Masking keeps exactly the points outside the centred window, in order.
    std::unique_ptr<Lightcurve> masked(makeCurve(c));
    masked->maskTransit(P, T, tau);
    ASSERT_EQ(masked->getLength(), static_cast<int>(ref.size()) - 5);
    for (int k = 1; k <= masked->getLength(); ++k)
      ASSERT_EQ(masked->JD(k), c.jd[static_cast<int>(ref[k + 4]) - 1]);
  }
}

TEST(LightcurveBoxReadback, DegenerateSearches) {
  const std::string refused = "error: boxfitting needs nper >= 2, 0 < pmin <= pmax and nbins >= 0!\n";
  struct Case {
    const char* label;
    int nper;
    double pmin, pmax;
    int nbins;
  };
  const Case cases[] = {{"one trial", 1, 1.0, 2.0, 0},
                        {"pmin 0", 10, 0.0, 2.0, 0},
                        {"pmax below pmin", 10, 2.0, 1.0, 0},
                        {"negative bins", 10, 1.0, 2.0, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Lightcurve lc(arrayOf({1, 2, 3}), arrayOf({1, 2, 1}), arrayOf({.1, .1, .1}));
    EXPECT_EQ(captured([&] { lc.boxfitting(c.nper, c.pmin, c.pmax, 0.01, 0.1, c.nbins); }), refused);
    EXPECT_FALSE(lc.isBoxfitted() || lc.isWeighted() || lc.isFolded());
    EXPECT_EQ(lc.flux(2), 2.0);
  }
  // A flat curve of 64 points: every residue 0, no NaN anywhere.
  std::vector<double> dates(64);
  for (int i = 0; i < 64; ++i) dates[i] = 0.37 * i;
  Lightcurve flat(arrayOf(dates), arrayOf(std::vector<double>(64, 1.0)),
                  arrayOf(std::vector<double>(64, 0.01)));
  flat.boxfitting(50, 1.0, 5.0, 0.01, 0.2, 10);
  for (int k = 1; k <= 50; ++k) EXPECT_EQ(flat.SR(k), 0.0);
  for (int m = 1; m <= 10; ++m) {
    EXPECT_EQ(flat.getSDE(m), 0.0);
    EXPECT_FALSE(std::isnan(flat.H_box(m)) || std::isnan(flat.L_box(m)) || std::isnan(flat.t0_box(m)));
  }
  // One point, and a curve emptied by masking.
  Lightcurve one(arrayOf({5.0}), arrayOf({1.0}), arrayOf({0.01}));
  one.boxfitting(20, 1.0, 3.0, 0.01, 0.2, 0);
  EXPECT_TRUE(one.isBoxfitted());
  for (int k = 1; k <= 20; ++k) EXPECT_FALSE(std::isnan(one.SR(k)));
  Lightcurve emptied(arrayOf({1.0, 3.0}), arrayOf({1, 1}), arrayOf({.1, .1}));
  emptied.maskTransit(2.0, 1.0, 0.5);
  EXPECT_EQ(emptied.getLength(), 0);
  EXPECT_EQ(captured([&] { emptied.boxfitting(10, 1, 2, 0.01, 0.1, 0); }),
            "lightcurve contains no data points!\n");
  // No point whose date, flux and weight are all finite: as a curve without points.
  const double nan = std::nan("");
  Lightcurve unusable(arrayOf({1.0, nan, 3.0}), arrayOf({1, 1, nan}), arrayOf({0.0, .1, .1}));
  EXPECT_EQ(captured([&] { unusable.boxfitting(10, 1, 2, 0.01, 0.1, 4); }),
            "lightcurve contains no data points!\n");
  EXPECT_FALSE(unusable.isBoxfitted() || unusable.isWeighted() || unusable.isFolded());
}

// Dates that are not numbers in the unbinned search: it still completes and finds the transit
// of the other points.
TEST(LightcurveBoxReadback, DatesThatAreNotNumbers) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE(seed);
    Curve c = nightlyCurve(seed, 400, 60.0, 3.1, 2000.4, 0.15, 0.02, 0.002);
    std::mt19937 rng(seed);
    for (int k = 0; k < 40; ++k)
      c.jd[1 + rng() % (c.jd.size() - 1)] = std::nan("");  // the epoch is from the first
    Lightcurve lc(arrayOf(c.jd), arrayOf(c.flux), arrayOf(c.error));
    lc.boxfitting(400, 2.5, 4.0, 0.02, 0.1, 0);
    ASSERT_TRUE(lc.isBoxfitted());
    EXPECT_NEAR(lc.getPeriod_box(1), 3.1, 0.02);
  }
}

// Injected transits recovered like astropy's BoxLeastSquares on the same trial periods.
TEST(LightcurveBoxReadback, InjectionAgainstAstropy) {
  struct Case {
    const char* label;
    int n;
    double period, duration, depth, noise;
    int nbins;
  };
  const Case cases[] = {{"unbinned", 1200, 1.8, 0.12, 0.01, 0.002, 0},
                        {"binned", 5000, 8.7, 0.25, 0.005, 0.004, 300}};
  // Both searches first, then one astropy run for both curves.
  std::vector<std::unique_ptr<Lightcurve>> searched;
  std::string script = "from astropy.timeseries import BoxLeastSquares\n";
  for (const Case& k : cases) {
    const Curve c = nightlyCurve(99, k.n, 60, k.period, 2000.4, k.duration, k.depth, k.noise);
    searched.emplace_back(makeCurve(c));
    searched.back()->boxfitting(3000, 1.5, 10.0, 0.005, 0.08, k.nbins);
    std::vector<double> periods(3000);
    for (int t = 1; t <= 3000; ++t) periods[t - 1] = 1 / searched.back()->frequency(t);
    script += "t=np.array(" + pyList(c.jd) + ")\ny=np.array(" + pyList(c.flux) + ")\ndy=np.array(" +
              pyList(c.error) + ")\nP=np.array(" + pyList(periods) + ")\nd=" + pyNum(k.duration) +
              "\nr=BoxLeastSquares(t,y,dy).power(P,np.linspace(0.6*d,1.4*d,5),method='fast',"
              "objective='likelihood')\n"
              "i=np.argmax(r.power)\nprint(repr(r.period[i]),repr(r.depth[i]),repr(r.depth_err[i]))\n";
  }
  const std::vector<double> all = numpyValues(script);
  ASSERT_EQ(all.size(), 6u);
  for (int which = 0; which < 2; ++which) {
    const Case& k = cases[which];
    SCOPED_TRACE(k.label);
    Lightcurve* lc = searched[which].get();
    const double* ref = &all[3 * which];
    const double step = lc->frequency(2) - lc->frequency(1);
    const double found = lc->getPeriod_box(1);
    EXPECT_LE(std::fabs(1 / found - 1 / k.period), 2 * step);
    EXPECT_LE(std::fabs(1 / found - 1 / ref[0]), 2 * step);
    EXPECT_NEAR(lc->H_box(1) - lc->L_box(1), ref[1], 3 * ref[2]);
    EXPECT_NEAR(lc->getTau_box(1) * found, k.duration,
                std::max(0.3 * k.duration, k.nbins ? 2 * found / k.nbins : 0.0));
    const double cycles = (lc->getT0_box(1) - 2000.4) / k.period;
    EXPECT_LE(std::fabs(cycles - std::round(cycles)) * k.period, k.duration / 2);
    int best = 1;
    for (int t = 1; t <= 3000; ++t)
      if (lc->SR(t) > lc->SR(best)) best = t;
    EXPECT_EQ(lc->SR(best), 1.0);
  }
}

}  // namespace
