// Tests normalisation, flux/magnitude conversion, clipping and point editing.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lightcurve/pellib.h"
#include "tests/lightcurve/lightcurve_fixtures.h"

namespace {

using lightcurve_test::arrayOf;
using lightcurve_test::captured;
using lightcurve_test::numpyValues;
using lightcurve_test::pyList;

std::vector<double> ones(int n, double v = 1.0) { return std::vector<double>(n, v); }

std::vector<double> dates(int n) {
  std::vector<double> d(n);
  for (int i = 0; i < n; ++i) d[i] = 100.0 + 0.1 * i;
  return d;
}

TEST(LightcurveEditing, NumericExamples) {
  EXPECT_EQ(flux2mag(3060.0), 0.0);
  EXPECT_NEAR(flux2mag(306.0), 2.5, 1e-15);

  struct Case {
    const char* label;
    std::vector<double> flux, error;
    std::function<void(Lightcurve&)> op;
    std::vector<double> wantFlux, wantError;
  };
  const Case cases[] = {
      {"normalize",
       {2, 4, 6, 8},
       {1, 1, 2, 2},
       [](Lightcurve& lc) { lc.normalize(); },
       {0.4, 0.8, 1.2, 1.6},
       {0.2, 0.2, 0.4, 0.4}},
      {"normalize_flux",
       {3, 1, 2},
       {0.3, 0.3, 0.3},
       [](Lightcurve& lc) { lc.normalize_flux(); },
       {1.5, 0.5, 1.0},
       {0.15, 0.15, 0.15}},
      {"convert2mag(20) of flux 1",
       {1, 1, 1},
       {0, 0, 0},
       [](Lightcurve& lc) { lc.convert2mag(20); },
       {20, 20, 20},
       {0, 0, 0}},
      {"convert2flux of magnitudes 0",
       {0, 0},
       {0, 0},
       [](Lightcurve& lc) {
         lc.magnitudes = true;
         lc.convert2flux();
       },
       {1, 1},
       {0, 0}},
      {"convert2flux of 0 and 2.5",
       {0, 2.5},
       {0, 0},
       [](Lightcurve& lc) {
         lc.magnitudes = true;
         lc.convert2flux();
       },
       {1 / 0.55, 0.1 / 0.55},
       {0, 0}},
      {"blend",
       {0.98, 1.02, 0.5},
       {1, 1, 1},
       [](Lightcurve& lc) {
         lc.analytical = true;
         lc.blend(0.5);
       },
       {0.99, 1.02, 0.75},
       {1, 1, 1}},
      {"scale", {1, 2}, {0.5, 0.25}, [](Lightcurve& lc) { lc.scale(4); }, {4, 8}, {2, 1}},
      {"nchi_scale",
       {1, 2},
       {0.5, 0.25},
       [](Lightcurve& lc) {
         lc.nchi(1) = 3;
         lc.nchi(2) = 2;
         lc.nchi_scale();
       },
       {1, 2},
       {1.5, 0.5}},
      {"manipulate",
       {1, 2, 3},
       {1, 1, 1},
       [](Lightcurve& lc) { lc.manipulate(2, 0.25); },
       {1, 2.25, 3},
       {1, 1, 1}},
      {"remove_point", {1, 2, 3}, {1, 2, 3}, [](Lightcurve& lc) { lc.remove_point(2); }, {1, 3}, {1, 3}},
      {"renorm",
       {1, 3},
       {1, 1},
       [](Lightcurve& lc) {
         lc.calc_weights();
         lc.renorm();
         EXPECT_EQ(lc.renorm_offset, 2.0);
       },
       {-1, 1},
       {1, 1}},
      {"renorm with a zero error leaves the flux",
       {1, 3},
       {0, 1},
       [](Lightcurve& lc) {
         lc.calc_weights();
         lc.renorm();
         EXPECT_EQ(lc.renorm_offset, 0.0);
       },
       {1, 3},
       {0, 1}},
      {"upscale",
       {-1, 1},
       {1, 1},
       [](Lightcurve& lc) {
         lc.renorm_offset = 2.0;
         lc.boxfitted = true;
         lc.H_box.makeReference(arrayOf(ones(10, 0.0)));
         lc.L_box.makeReference(arrayOf(ones(10, -0.5)));
         lc.upscale();
         EXPECT_EQ(lc.H_box(10), 2.0);
         EXPECT_EQ(lc.L_box(1), 1.5);
         EXPECT_EQ(lc.renorm_offset, 2.0);
       },
       {1, 3},
       {1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const int n = static_cast<int>(c.flux.size());
    Lightcurve lc(arrayOf(dates(n)), arrayOf(c.flux), arrayOf(c.error));
    EXPECT_EQ(captured([&] { c.op(lc); }), "");
    ASSERT_EQ(lc.getLength(), static_cast<int>(c.wantFlux.size()));
    for (int i = 1; i <= lc.getLength(); ++i) {
      EXPECT_NEAR(lc.flux(i), c.wantFlux[i - 1], 1e-14) << i;
      EXPECT_NEAR(lc.error(i), c.wantError[i - 1], 1e-14) << i;
    }
  }
}

TEST(LightcurveEditing, RemovePointShiftsEveryPerPointArray) {
  orv::MArray<std::string, 1> names(4);
  for (int i = 1; i <= 4; ++i) names(i) = "n" + std::to_string(i);
  Lightcurve lc(arrayOf({1, 2, 3, 4}), arrayOf({10, 20, 30, 40}), arrayOf({.1, .2, .3, .4}),
                arrayOf({5, 6, 7, 8}), names);
  lc.boxval(3) = 9;
  lc.remove_point(1);
  ASSERT_EQ(lc.getLength(), 3);
  EXPECT_EQ(lc.JD(1), 2);
  EXPECT_EQ(lc.nchi(1), 6);
  EXPECT_EQ(lc.boxval(2), 9);
  EXPECT_EQ(lc.filename(3), "n4");
  EXPECT_EQ(lc.JD.length(1), 4);  // arrays keep their size
}

TEST(LightcurveEditing, Refusals) {
  Lightcurve lc(arrayOf(dates(5)), arrayOf({1, 2, 3, 4, 5}), arrayOf(ones(5, 0.1)));
  Lightcurve mags(arrayOf(dates(2)), arrayOf({1, 2}), arrayOf(ones(2, 0.1)));
  mags.magnitudes = true;
  Lightcurve zero(arrayOf(dates(3)), arrayOf({0, 0, 1}), arrayOf(ones(3, 0.1)));
  Lightcurve empty;
  const std::string noData = "lightcurve contains no data points!\n";
  const std::string range0 = "error: number(0) out of range (1,5)!\n";
  struct Case {
    const char* label;
    std::function<void()> call;
    std::string message;
  };
  const Case cases[] = {
      {"normalize empty", [&] { empty.normalize(); }, noData},
      {"normalize_flux magnitudes", [&] { mags.normalize_flux(); }, "error: lightcurve in magnitudes!\n"},
      {"convert2mag magnitudes", [&] { mags.convert2mag(0); }, "error: lightcurve already in magnitudes!\n"},
      {"convert2flux fluxes", [&] { lc.convert2flux(); }, "error: lightcurve already in fluxes!\n"},
      {"clipping empty", [&] { EXPECT_EQ(empty.clipping(3), 0); }, noData},
      {"error_clipping empty", [&] { EXPECT_EQ(empty.error_clipping(3), 0); }, noData},
      {"manipulate 0", [&] { lc.manipulate(0, 1.0); }, range0},
      {"manipulate 6", [&] { lc.manipulate(6, 1.0); }, "error: number(6) out of range (1,5)!\n"},
      {"remove_point 0", [&] { lc.remove_point(0); }, range0},
      {"blend not analytical", [&] { lc.blend(0.5); },
       "error: blending only possible for analytical lightcurves in flux format!\n"},
      {"scale empty", [&] { empty.scale(2); }, noData},
      {"nchi_scale empty", [&] { empty.nchi_scale(); }, noData},
      {"renorm empty", [&] { empty.renorm(); }, noData},
      {"renorm unweighted", [&] { lc.renorm(); }, "weights not calculated yet!\n"},
      {"upscale empty", [&] { empty.upscale(); }, noData},
      {"normalize median 0", [&] { zero.normalize(); }, "error: median flux is 0!\n"},
      {"normalize_flux median 0", [&] { zero.normalize_flux(); }, "error: median flux is 0!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(captured(c.call), c.message);
  }
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(lc.flux(i), i);
  EXPECT_EQ(lc.getLength(), 5);
  EXPECT_EQ(zero.flux(3), 1.0);
  EXPECT_EQ(mags.flux(2), 2.0);
}

TEST(LightcurveEditing, MagnitudeRoundTripAgainstNumpy) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> f(0.5, 2.0), e(0.001, 0.05);
  std::vector<double> fl(41), er(41);
  for (int i = 0; i < 41; ++i) {
    fl[i] = f(rng);
    er[i] = e(rng);
  }
  const std::vector<double> ref =
      numpyValues("f=np.array(" + pyList(fl) + ")\ne=np.array(" + pyList(er) +
                  ")\nme=np.abs(-2.5*np.log10((f+e)/(f-e))*0.5)\nm=-2.5*np.log10(f)\nm=m-np.median(m)+3.0\n"
                  "fe=np.abs((10**(-0.4*(m-me))-10**(-0.4*(m+me)))*0.5)\nff=10**(-0.4*m)\nM=np.median(ff)\n"
                  "for row in zip(m,me,ff/M,fe/M): print(*map(repr,row))\n");
  ASSERT_EQ(ref.size(), 4u * 41);
  Lightcurve lc(arrayOf(dates(41)), arrayOf(fl), arrayOf(er));
  lc.convert2mag(3.0);
  EXPECT_TRUE(lc.magnitudes);
  for (int i = 1; i <= 41; ++i) {
    EXPECT_NEAR(lc.flux(i), ref[4 * i - 4], 1e-12);
    EXPECT_NEAR(lc.error(i), ref[4 * i - 3], 1e-12);
  }
  lc.convert2flux();
  EXPECT_FALSE(lc.magnitudes);
  for (int i = 1; i <= 41; ++i) {
    EXPECT_NEAR(lc.flux(i), ref[4 * i - 2], 1e-12);
    EXPECT_NEAR(lc.error(i), ref[4 * i - 1], 1e-12);
  }
}

// Clipping against astropy's sigma_clip with one iteration, the median as
// centre and the RMS about the median as scatter.
TEST(LightcurveEditing, ClippingAgainstAstropy) {
  std::mt19937 rng(99);
  std::normal_distribution<double> noise(0.0, 0.01);
  std::uniform_real_distribution<double> err(0.005, 0.02);
  std::vector<double> fl(120), er(120);
  for (int i = 0; i < 120; ++i) {
    fl[i] = 1.0 + noise(rng);
    er[i] = err(rng);
  }
  // Outliers at both ends and next to each other; large errors likewise.
  for (int i : {0, 1, 50, 51, 52, 119}) fl[i] += (i % 2 ? 0.08 : -0.07);
  for (int i : {0, 60, 61, 118, 119}) er[i] = 0.2;
  // One astropy run for the four cases: per case the count kept, the
  // median, the scatter and the kept indices.
  const std::vector<double> all = numpyValues(
      "from astropy.stats import sigma_clip\n"
      "def rms(x, axis=None):\n  return np.sqrt(np.mean((x-np.median(x))**2))\n"
      "for v,lower in ((np.array(" +
      pyList(fl) + "),True),(np.array(" + pyList(er) +
      "),False)):\n"
      "  for f in (3.0,2.0):\n"
      "    c=sigma_clip(v,sigma_lower=f if lower else "
      "np.inf,sigma_upper=f,maxiters=1,cenfunc='median',stdfunc=rms)\n"
      "    k=np.nonzero(~c.mask)[0]\n    print(len(k),repr(np.median(v)),repr(rms(v)),*k)\n");
  size_t at = 0;
  for (bool onErrors : {false, true}) {
    for (double factor : {3.0, 2.0}) {
      SCOPED_TRACE(testing::Message() << "errors " << onErrors << " factor " << factor);
      ASSERT_LT(at, all.size());
      const size_t count = static_cast<size_t>(all[at]);
      ASSERT_LE(at + 3 + count, all.size());
      const std::vector<double> ref(all.begin() + at + 1, all.begin() + at + 3 + count);
      at += 3 + count;
      ASSERT_GE(ref.size(), 2u);
      Lightcurve lc(arrayOf(dates(120)), arrayOf(fl), arrayOf(er));
      int removed = 0;
      const std::string out =
          captured([&] { removed = onErrors ? lc.error_clipping(factor) : lc.clipping(factor); });
      std::istringstream printed(out);
      double m = 0, s = 0;
      printed >> m >> s;
      EXPECT_NEAR(m, ref[0], 1e-5);
      EXPECT_NEAR(s, ref[1], 1e-5 * ref[1]);
      const int kept = static_cast<int>(ref.size()) - 2;
      EXPECT_GT(120 - kept, 3);
      ASSERT_EQ(lc.getLength(), kept);
      EXPECT_EQ(removed, 120 - kept);
      double sumW = 0, sumWF = 0;
      for (int i = 1; i <= kept; ++i) {
        EXPECT_EQ(lc.JD(i), 100.0 + 0.1 * ref[i + 1]);
        sumW += lc.weights(i);
        sumWF += lc.weights(i) * lc.flux(i);
      }
      EXPECT_NEAR(sumW, 1.0, 1e-13);
      EXPECT_NEAR(sumWF, 0.0, 1e-15);
      EXPECT_TRUE(lc.isWeighted());
    }
  }
}

}  // namespace
