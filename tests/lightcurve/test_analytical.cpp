// Tests the analytic transit model and the analytic transit light curves.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "lightcurve/lightcurve_detail.h"
#include "lightcurve/pellib.h"
#include "tests/lightcurve/lightcurve_fixtures.h"

namespace {

using lightcurve_test::arrayOf;
using lightcurve_test::captured;
using lightcurve_test::numpyValues;
using lightcurve_test::pyList;
using lightcurve_test::pyNum;

constexpr double kPi = 3.14159265358979;
constexpr double kAU = 149597870691.0;
constexpr double kRsun = 6.96265e8;
constexpr double kRjup = 7.14e7;

struct Orbit {
  double period, t0, incl, mstar, rstar;
  double a() const { return std::pow(std::sqrt(mstar) * period / 365.2425, 0.66666667); }
  double v() const { return 6.28318530717958 * a() / period; }
  // Separation of the centres at a date, in stellar radii (0 taken as 1e-8).
  double z(double date) const {
    const double dt = date - t0;
    double phi = dt >= 0 ? (dt - std::trunc(dt / period) * period) / period
                         : (std::trunc(-dt / period) * period + dt) / period + 1.0;
    if (phi > 0.5) phi = 1 - phi;
    const double c = a() * std::tan((90.0 - incl) / 180.0 * kPi);
    const double s = period * phi * v();
    const double zz = std::sqrt(s * s + c * c) * kAU / rstar / kRsun;
    return zz == 0 ? 1e-8 : zz;
  }
  // A date after t0 at which an edge-on orbit gives separation z.
  double dateAt(double z) const { return t0 + z * rstar * kRsun / kAU / (period * v()) * period; }
};

// Loss of light by brute force: the limb-darkened intensity times the arc of
// each stellar ring behind the planet, integrated over the radius between the
// breakpoints of the arc by Gauss-Legendre after r = a + (b - a)(1 - cos t)/2,
// as a fraction of the star's light.
const char* const kBruteForce = R"(
tn, tw = np.polynomial.legendre.leggauss(120)
t = (tn + 1) * np.pi / 2
def loss(z, p, g1, g2):
    br = sorted(set([0.0, 1.0] + [b for b in (abs(z - p), p - z, z + p) if 0 < b < 1]))
    tot = 0.0
    for a, b in zip(br[:-1], br[1:]):
        r = a + (b - a) * (1 - np.cos(t)) / 2
        dr = (b - a) * np.sin(t) / 2 * np.pi / 2
        m = 1 - np.sqrt(np.maximum(0.0, 1 - r * r))
        inten = 1 - g1 * m - g2 * m * m
        c = np.clip((r * r + z * z - p * p) / (2 * r * z), -1, 1)
        arc = np.where(r + z <= p, 2 * np.pi, np.where(np.abs(r - z) >= p, 0.0, 2 * np.arccos(c)))
        tot += np.sum(tw * dr * inten * arc * r)
    return tot / (np.pi * (1 - g1 / 3 - g2 / 6))
)";

struct Point {
  double z, p, g1, g2;
};

std::vector<double> bruteForce(const std::vector<Point>& pts) {
  std::vector<double> z, p, g1, g2;
  for (const Point& q : pts) {
    z.push_back(q.z);
    p.push_back(q.p);
    g1.push_back(q.g1);
    g2.push_back(q.g2);
  }
  return numpyValues(std::string(kBruteForce) + "for a in zip(" + pyList(z) + "," + pyList(p) + "," +
                     pyList(g1) + "," + pyList(g2) + "):\n    print(repr(loss(*a)))\n");
}

// Separations from 0 to beyond 1 + p, clustered around p, |1 - p| and 1 + p.
std::vector<double> separations(double p) {
  std::vector<double> z;
  for (int i = 0; i <= 24; ++i) z.push_back((1 + p + 0.05) * i / 24.0);
  for (double centre : {p, std::fabs(1 - p), 1 + p})
    for (double d : {1e-6, 3e-5, 1e-4, 3e-4, 1e-3, 1e-2, 5e-2})
      for (double s : {-1.0, 1.0})
        if (centre + s * d > 0) z.push_back(centre + s * d);
  return z;
}

// Flux of 1 after the transit at each separation, simulated without noise on
// an edge-on orbit, appended to out.
struct Simulated {
  std::vector<Point> points;
  std::vector<double> change;
};

void simulateAt(Simulated& out, double p, double g1, double g2, bool small, const std::vector<double>& zs) {
  const Orbit o{3.0, 1000.0, 90.0, 1.0, 1.0};
  std::vector<double> dates;
  for (double z : zs) dates.push_back(o.dateAt(z));
  Lightcurve lc;
  long seed = -3;
  const double rplanet = p * o.rstar * kRsun / kRjup;
  lc.simulate_analytical(o.period, o.t0, o.incl, o.mstar, o.rstar, rplanet, g1, g2, arrayOf(dates), 0.0, small,
                         seed);
  const double pModel = (rplanet * kRjup) / (o.rstar * kRsun);
  for (size_t i = 0; i < dates.size(); ++i) {
    out.points.push_back({o.z(dates[i]), std::fabs(pModel - 0.5) < 0.001 ? 0.5 : pModel, g1, g2});
    out.change.push_back(lc.flux(static_cast<int>(i) + 1) - 1.0);
  }
}

// The exact model against the brute-force integral over every row of the
// case table, with and without limb darkening, including the covered star
// (a loss of exactly 1), the gap just outside p - 1 for p > 1 and the edge
// band of p = 0.5 on both sides of z = 0.5.
TEST(AnalyticTransit, ExactModelAgainstBruteForce) {
  const double radii[] = {0.05, 0.1, 0.3, 0.5005, 0.7, 0.8, 1.2, 2.0};
  const double limb[][2] = {{0.0, 0.0}, {0.4, 0.25}, {0.1, 0.7}};
  Simulated all;
  for (double p : radii)
    for (const auto& g : limb) simulateAt(all, p, g[0], g[1], false, separations(p));
  const std::vector<double> ref = bruteForce(all.points);
  ASSERT_EQ(ref.size(), all.points.size());
  for (size_t i = 0; i < ref.size(); ++i) {
    const Point& q = all.points[i];
    const bool band = std::fabs(q.z - q.p) <= 1.5e-4 * (q.z + q.p) || std::fabs(q.z - std::fabs(1 - q.p)) <= 1.5e-4 ||
                      std::fabs(q.z + q.p - 1) <= 1.5e-4;
    const double tol = band ? 4e-4 : 2e-6 + 1.5e-8 * q.p / std::fabs(q.z - q.p);
    ASSERT_NEAR(all.change[i], -ref[i], tol) << "z " << q.z << " p " << q.p << " g " << q.g1 << "," << q.g2;
    if (q.p >= 1 && q.z <= 1.0001 * (q.p - 1)) {
      EXPECT_EQ(all.change[i], -1.0);
    }
    if (q.z >= 1 + q.p) {
      EXPECT_EQ(all.change[i], 0.0);
    }
  }
  // A central transit of p = 0.1 without limb darkening lowers the flux by p^2.
  Simulated central;
  simulateAt(central, 0.1, 0, 0, false, {0.0});
  EXPECT_NEAR(central.change[0], -0.01, 1e-15);
}

// Separations for the kept values: 13 across the disc and the limb, and
// points 3e-5 and 1e-3 either side of p and |1 - p|, where the cases change.
std::vector<double> keptSeparations(double p) {
  std::vector<double> z;
  for (int i = 0; i <= 12; ++i) z.push_back((1 + p) * i / 12.5);
  for (double centre : {p, std::fabs(1 - p)})
    for (double d : {3e-5, 1e-3})
      for (double s : {-1.0, 1.0}) z.push_back(centre + s * d);
  return z;
}

// The exact model keeps its values to 1e-12 relative whatever way it is
// evaluated: the changes at the kept separations against the values of the
// plain evaluation, one point after the other (made with "%.17g"), over its
// cases: the planet inside the disc, crossing the limb (also while covering
// the centre), its edge through the centre (the snapped p = 0.5), no limb
// darkening, and a planet larger than the star (covering it whole).
TEST(AnalyticTransit, ExactModelKeepsItsValues) {
  struct Case {
    double p, g1, g2;
    std::vector<double> change;
  };
  const Case cases[] = {
      {0.1, 0.4, 0.25, {-0.012109045282447162,   -0.012089922698350741,  -0.012031747292561734,
                        -0.011931140603287149,   -0.011782367881946421,  -0.011576145540037608,
                        -0.011298051871162507,   -0.010925191791959721,  -0.010418749508152914,
                        -0.0097035907163415258,  -0.0085805883379160841, -0.0050518400004478936,
                        -0.00095191164252794724, -0.012062790168787085,  -0.012105988277450797,
                        -0.012084241405863505,   -0.012084531133186416,  -0.0081961241630507109,
                        -0.0081956038066455239,  -0.0082182914983788269, -0.0081709616738001589}},
      {0.5005, 0.4, 0.25, {-0.29466796157208652,   -0.29347684019147957,  -0.28972611215964983,
                           -0.28277439089275924,   -0.27084664411213133,  -0.24130965390638126,
                           -0.20043662384634575,   -0.15758319377794949,  -0.11606460981792621,
                           -0.078008841498682924,  -0.045196353787040566, -0.019452532593192684,
                           -0.0031418363727119258, -0.26793495401353917,  -0.2679251298397789,
                           -0.26809940303740687,   -0.26776434386695269,  -0.26810388819280351,
                           -0.26809472228754272,   -0.26824878759332815,  -0.2679299491774787}},
      {0.3, 0, 0, {-0.089999999999999969,  -0.089999999999999969, -0.089999999999999969,
                   -0.089999999999999969,  -0.089999999999999969, -0.089999999999999969,
                   -0.089999999999999969,  -0.088209288680843434, -0.073447559897182768,
                   -0.054316263229480355,  -0.034669726286220226, -0.016843847567137193,
                   -0.0033634337694035121, -0.089999999999999969, -0.089999999999999969,
                   -0.089999999999999969,  -0.089999999999999969, -0.089999999999999969,
                   -0.089999935436893774,  -0.089999999999999969, -0.089987586783142781}},
      {0.7, 0.3, 0.2, {-0.53966615777038884,   -0.53654819742110027,  -0.52585092578399928,
                       -0.48485268270787085,   -0.4223613470687122,   -0.35578415905743266,
                       -0.28943222594688334,   -0.22559525116273382,  -0.16597960191660799,
                       -0.11216177270017291,   -0.065833578539982174, -0.029071664597973501,
                       -0.0050084219238862859, -0.34595141740614077,  -0.34594086746048403,
                       -0.34643706426249554,   -0.34545530677693592,  -0.52212373655666067,
                       -0.52212112199812399,   -0.52227654281287927,  -0.52195568475046561}},
      {1.2,
       0.1,
       0.7,
       {-1,
        -1,
        -0.95349051915922278,
        -0.85560364338202277,
        -0.74213713277421189,
        -0.62427229481413016,
        -0.5074384574490578,
        -0.39501738227013283,
        -0.2897034563217683,
        -0.19422414563612933,
        -0.11188714734689231,
        -0.047195577045466286,
        -0.0070036738438808976,
        -0.41499923843879682,
        -0.41501091059158868,
        -0.41563763080210814,
        -0.41437274354948084,
        -1,
        -0.99999994123429714,
        -1,
        -0.99998696032615331}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "p " << c.p << " g " << c.g1 << "," << c.g2);
    Simulated s;
    simulateAt(s, c.p, c.g1, c.g2, false, keptSeparations(c.p));
    ASSERT_EQ(s.change.size(), c.change.size());
    for (size_t i = 0; i < c.change.size(); ++i)
      EXPECT_NEAR(s.change[i], c.change[i], 1e-12 * std::fabs(c.change[i])) << "z " << s.points[i].z;
  }
}

// The small-planet approximation against the same integral for p <= 0.1 (it
// takes the intensity at distance p from the planet's centre for the mean
// under the planet, so its error grows with p, the limb darkening and z); a
// larger planet prints its warning once for every point it changes.
TEST(AnalyticTransit, SmallPlanetAgainstBruteForce) {
  Simulated all;
  for (double p : {0.05, 0.1})
    for (const auto& g : {std::pair{0.0, 0.0}, std::pair{0.4, 0.25}}) {
      std::vector<double> zs;
      for (double z : separations(p))
        if (z < 1 + p - 1e-3) zs.push_back(z);
      simulateAt(all, p, g.first, g.second, true, zs);
    }
  const std::vector<double> ref = bruteForce(all.points);
  ASSERT_EQ(ref.size(), all.points.size());
  for (size_t i = 0; i < ref.size(); ++i) {
    const Point& q = all.points[i];
    const double rel = q.z <= 0.6 ? 2e-3 : q.z < 1 - q.p ? 3e-2 : 8e-2;
    ASSERT_NEAR(all.change[i], -ref[i], rel * ref[i]) << "z " << q.z << " p " << q.p;
  }
  Simulated large;
  const std::string out = captured([&] { simulateAt(large, 0.2, 0.4, 0.25, true, {0.0, 0.5, 1.1, 1.25, 1.5}); });
  const std::string line = "warning: small planet approximation is not very accurate for R_planet / R_star = ";
  size_t n = 0;
  for (size_t at = out.find(line); at != std::string::npos; at = out.find(line, at + 1)) ++n;
  EXPECT_EQ(n, 3u) << out;
}

// Dates over nights of 0.3 days (gaps of 0.7), 40 days from 2450000.
std::vector<double> nightlyDates(unsigned seed, int n, bool sorted) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 40.0);
  std::vector<double> d;
  for (int i = 0; i < n; ++i) {
    const double t = u(rng);
    d.push_back(2450000.0 + std::floor(t) + 0.3 * (t - std::floor(t)));
  }
  if (sorted) std::sort(d.begin(), d.end());
  return d;
}

// Transit counts, points per transit and SNR of the stored order against numpy.
std::vector<double> bookkeepingReference(const std::vector<double>& jd, const std::vector<double>& err, double P,
                                         double t0, double tau, double drop) {
  return numpyValues(
      "jd=np.array(" + pyList(jd) + ")\nerr=np.array(" + pyList(err) + ")\nP=" + pyNum(P) +
      "\nt0=" + pyNum(t0) + "\ntau=" + pyNum(tau) + "\ndrop=" + pyNum(drop) +
      "\nx=(jd-t0)/P\nx=x-np.trunc(x)\nx=np.where(x<0,x+1,x)+0.5\nx=np.where(x>=1,x-1,x)\n"
      "it=(x>=0.5-tau/2)&(x<=0.5+tau/2)\ncounts=[];last=-1e99\n"
      "for j in np.nonzero(it)[0]:\n"
      "  if abs(jd[j]-last)>=(1-tau)*P: counts.append(1); last=jd[j]\n"
      "  else: counts[-1]+=1\n"
      "n=it.sum()\ne=err[it].mean() if n else 0\nsnr=0.0 if n==0 else 1e100 if e==0 else drop/e*np.sqrt(n)\n"
      "print(repr(snr), n, len(counts), *counts)\n");
}

void expectBookkeeping(Lightcurve& lc, const std::vector<double>& jd, const std::vector<double>& err) {
  const std::vector<double> ref = bookkeepingReference(jd, err, lc.period, lc.t0, lc.tau, lc.drop);
  ASSERT_GE(ref.size(), 3u);
  EXPECT_NEAR(lc.SNR, ref[0], 1e-9 * ref[0]);
  EXPECT_EQ(lc.number_transit_points, ref[1]);
  ASSERT_EQ(lc.number_transits, ref[2]);
  ASSERT_EQ(ref.size(), 3u + lc.number_transits);
  for (int k = 1; k <= lc.number_transits; ++k) EXPECT_EQ(lc.points_per_transit(k), ref[2 + k]) << k;
}

// A noise-free simulation: flux equals the model, the duration and depth of
// the orbit, the flags, the fold on (period, t0), and the counts of sorted
// and unsorted dates against numpy; t0 = 0 keeps the caller's epoch.
TEST(AnalyticTransitCurve, NoiseFreeSimulation) {
  struct Case {
    const char* label;
    double t0;
    bool sorted;
  };
  const Case cases[] = {{"sorted", 2450000.7, true}, {"unsorted", 2450000.7, false}, {"epoch 0", 0.0, true}};
  const double P = 2.3, incl = 88.0, M = 1.1, R = 1.2, Rp = 1.5;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::vector<double> jd = nightlyDates(7, 600, c.sorted);
    Lightcurve lc;
    long seed = -5;
    lc.simulate_analytical(P, c.t0, incl, M, R, Rp, 0.4, 0.25, arrayOf(jd), 0.0, false, seed);
    ASSERT_EQ(lc.length, 600);
    EXPECT_TRUE(lc.has_data && lc.analytical && lc.removed_ok && lc.nonoise_ok && lc.folded);
    EXPECT_FALSE(lc.magnitudes);
    EXPECT_EQ(lc.t0, c.t0);
    EXPECT_EQ(lc.SNR, 1e100);
    const double a = std::pow(std::sqrt(M) * P / 365.2425, 0.66666667);
    const double b = a * kAU / (R * kRsun) * std::cos(incl * kPi / 180);
    EXPECT_NEAR(lc.tau, std::sqrt(1 - b * b) * R * kRsun / (kPi * a * kAU), 1e-14);
    const double p = Rp * kRjup / (R * kRsun);
    EXPECT_DOUBLE_EQ(lc.drop, p * p);
    int changed = 0;
    for (int i = 1; i <= 600; ++i) {
      ASSERT_EQ(lc.flux(i), lc.nonoise(i));
      ASSERT_EQ(lc.removed(i), 1.0);
      ASSERT_EQ(lc.JD(i), jd[i - 1]);
      changed += lc.flux(i) < 1.0;
    }
    EXPECT_GT(changed, 10);
    // The fold puts mid-transit at phase 0.5, where the model is deepest.
    int best = 1;
    for (int k = 1; k <= lc.phased_length; ++k)
      if (lc.phased_flux(k) < lc.phased_flux(best)) best = k;
    EXPECT_NEAR(lc.phase(best), 0.5, lc.tau);
    expectBookkeeping(lc, jd, std::vector<double>(600, 0.0));
  }
}

// Unequal errors: the normalised residuals are standard normal (KS test), the
// mean error is stored and SNR follows the in-transit errors; an orbit that
// misses the star (b > 1) gives no duration and SNR 0, and a curve with no
// point in transit has no transits.
TEST(AnalyticTransitCurve, NoisyAndEmptyTransits) {
  const std::vector<double> jd = nightlyDates(9, 800, true);
  std::vector<double> err;
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> u(0.002, 0.01);
  double sum = 0;
  for (size_t i = 0; i < jd.size(); ++i) {
    err.push_back(u(rng));
    sum += err.back();
  }
  Lightcurve lc;
  long seed = -11;
  lc.simulate_analytical(1.7, 2450001.1, 89.0, 1.0, 1.0, 0.9, 0.3, 0.2, arrayOf(jd), arrayOf(err), true, seed);
  EXPECT_NEAR(lc.noise, sum / err.size(), 1e-15);
  std::vector<double> resid;
  for (int i = 1; i <= lc.length; ++i) resid.push_back((lc.flux(i) - lc.nonoise(i)) / lc.error(i));
  const std::vector<double> ks =
      numpyValues("from scipy import stats\nprint(stats.kstest(" + pyList(resid) + ", 'norm').pvalue)\n");
  ASSERT_EQ(ks.size(), 1u);
  EXPECT_GT(ks[0], 1e-3);
  expectBookkeeping(lc, jd, err);
  EXPECT_GT(lc.number_transits, 3);

  struct Case {
    const char* label;
    double incl, t0;
    bool nanTau;
  };
  // The second epoch puts every transit into the daytime gaps of the nights.
  const Case cases[] = {{"b > 1", 70.0, 2450001.1, true}, {"no point in transit", 90.0, 2450000.65, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Lightcurve e;
    e.simulate_analytical(1.0, c.t0, c.incl, 1.0, 1.0, 1.0, 0.3, 0.2, arrayOf(jd), 0.005, false, seed);
    EXPECT_EQ(std::isnan(e.tau), c.nanTau);
    EXPECT_EQ(e.SNR, 0.0);
    EXPECT_EQ(e.number_transits, 0);
    EXPECT_EQ(e.number_transit_points, 0);
    ASSERT_EQ(e.points_per_transit.length(1), 1);
    EXPECT_EQ(e.points_per_transit(1), 0);
  }
}

// add_analytical subtracts the model of simulate_analytical from the flux of
// a curve, keeps the former flux in removed and clears nonoise_ok; a second
// call stacks a further transit. Dates and errors of different lengths change nothing.
TEST(AnalyticTransitCurve, AddToExistingCurve) {
  const std::vector<double> jd = nightlyDates(3, 300, true);
  Lightcurve model;
  long seed = -1;
  model.simulate_analytical(2.0, 2450000.9, 89.5, 1.0, 1.0, 1.3, 0.4, 0.25, arrayOf(jd), 0.0, false, seed);
  Lightcurve lc;
  lc.simulate_noise(arrayOf(jd), 0.004, seed);
  std::vector<double> before(lightcurve_test::vectorOf(lc.flux, 300));
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    lc.add_analytical(2.0, 2450000.9, 89.5, 1.0, 1.0, 1.3, 0.4, 0.25, false, seed);
    EXPECT_TRUE(lc.analytical && lc.removed_ok && lc.folded);
    EXPECT_FALSE(lc.nonoise_ok);
    for (int i = 1; i <= 300; ++i) {
      ASSERT_EQ(lc.removed(i), before[i - 1]);
      ASSERT_EQ(lc.flux(i), before[i - 1] + (model.nonoise(i) - 1.0));
    }
    EXPECT_EQ(lc.tau, model.tau);
    EXPECT_EQ(lc.drop, model.drop);
    EXPECT_EQ(lc.number_transits, model.number_transits);
    EXPECT_EQ(lc.number_transit_points, model.number_transit_points);
    EXPECT_NEAR(lc.SNR, model.drop / 0.004 * std::sqrt(model.number_transit_points), 1e-9 * lc.SNR);
    before = lightcurve_test::vectorOf(lc.flux, 300);
  }
  const std::string out = captured([&] {
    lc.simulate_analytical(2.0, 0.0, 90.0, 1.0, 1.0, 1.0, 0.0, 0.0, arrayOf({1.0, 2.0}), arrayOf({0.1}), false,
                           seed);
  });
  EXPECT_EQ(out, "vectors have different lengths!\n");
  EXPECT_EQ(lc.length, 300);
  EXPECT_EQ(lc.flux(300), before[299]);
}

}  // namespace
