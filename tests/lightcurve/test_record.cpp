// Tests the light-curve record: constructors, shared storage, getters and their refusals.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "lightcurve/pellib.h"
#include "tests/lightcurve/lightcurve_fixtures.h"

namespace {

using lightcurve_test::arrayOf;
using lightcurve_test::captured;

orv::MArray<std::string, 1> names(int n) {
  orv::MArray<std::string, 1> a(n);
  for (int i = 1; i <= n; ++i) a(i) = "img" + std::to_string(i);
  return a;
}

TEST(LightcurveRecord, ConstructorForms) {
  struct Case {
    const char* label;
    int form;  // 3, 4 (filename), 5 (nchi) or 6 (nchi and filename)
    int nJD, nFlux, nError, nExtra, nExtra2;
    bool ok;
  };
  const Case cases[] = {
      {"three equal", 3, 5, 5, 5, 0, 0, true},   {"three 5,5,4", 3, 5, 5, 4, 0, 0, false},
      {"flux shorter", 3, 5, 4, 5, 0, 0, false}, {"names equal", 4, 4, 4, 4, 4, 0, true},
      {"names short", 4, 4, 4, 4, 3, 0, false},  {"nchi equal", 5, 3, 3, 3, 3, 0, true},
      {"nchi long", 5, 3, 3, 3, 4, 0, false},    {"five equal", 6, 2, 2, 2, 2, 2, true},
      {"five names", 6, 2, 2, 2, 2, 1, false},   {"five nchi", 6, 2, 2, 2, 1, 2, false},
      {"empty arrays", 3, 0, 0, 0, 0, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    orv::MArray<double, 1> jd(c.nJD), fl(c.nFlux), er(c.nError), nc(c.nExtra);
    for (int i = 1; i <= c.nJD; ++i) jd(i) = i;
    for (int i = 1; i <= c.nFlux; ++i) fl(i) = 1.0 + i;
    for (int i = 1; i <= c.nError; ++i) er(i) = 0.1;
    for (int i = 1; i <= c.nExtra; ++i) nc(i) = 2.0 * i;
    std::unique_ptr<Lightcurve> lc;
    const std::string out = captured([&] {
      switch (c.form) {
        case 3:
          lc = std::make_unique<Lightcurve>(jd, fl, er);
          break;
        case 4:
          lc = std::make_unique<Lightcurve>(jd, fl, er, names(c.nExtra));
          break;
        case 5:
          lc = std::make_unique<Lightcurve>(jd, fl, er, nc);
          break;
        default:
          lc = std::make_unique<Lightcurve>(jd, fl, er, nc, names(c.nExtra2));
          break;
      }
    });
    if (!c.ok) {
      EXPECT_EQ(out, "vectors have different lengths!\n");
      EXPECT_EQ(lc->getLength(), 0);
      EXPECT_FALSE(lc->has_data);
      EXPECT_TRUE(lc->JD.isEmpty());
      EXPECT_EQ(lc->number_transits, -1);
      continue;
    }
    EXPECT_EQ(out, "");
    const int n = c.nJD;
    EXPECT_EQ(lc->getLength(), n);
    EXPECT_TRUE(lc->has_data);
    EXPECT_FALSE(lc->weighted || lc->folded || lc->boxfitted || lc->magnitudes || lc->analytical);
    EXPECT_EQ(lc->number_transit_points, -1);
    EXPECT_EQ(lc->phased_length, 0);
    for (int i = 1; i <= n; ++i) {
      EXPECT_EQ(lc->weights(i), 0.0);
      EXPECT_EQ(lc->getBoxval()(i), 0.0);
      EXPECT_EQ(lc->getNchi()(i), (c.form == 5 || c.form == 6) ? 2.0 * i : 0.0);
      EXPECT_EQ(lc->getFilename()(i),
                (c.form == 4 || c.form == 6) ? "img" + std::to_string(i) : "no file information");
    }
    // Storage shared both ways.
    if (n > 0) {
      jd(1) = 42.0;
      EXPECT_EQ(lc->getJD()(1), 42.0);
      lc->getFlux()(n) = -7.0;
      EXPECT_EQ(fl(n), -7.0);
      lc->getError()(1) = 0.5;
      EXPECT_EQ(er(1), 0.5);
    }
  }
}

TEST(LightcurveRecord, DefaultsOfEmptyRecord) {
  Lightcurve lc;
  EXPECT_EQ(lc.getLength(), 0);
  EXPECT_EQ(lc.phased_length, 0);
  EXPECT_EQ(lc.getNumber_transit_points(), -1);
  EXPECT_EQ(lc.number_transits, -1);
  EXPECT_FALSE(lc.has_data || lc.isFolded() || lc.isWeighted() || lc.isBoxfitted());
  EXPECT_EQ(lc.getPeriod(), 0.0);
  EXPECT_EQ(lc.getT0(), 0.0);
  EXPECT_EQ(lc.noise, 0.0);
  EXPECT_EQ(lc.source_file, "");
  EXPECT_TRUE(lc.getJD().isEmpty());
}

TEST(LightcurveRecord, CheckedGetters) {
  Lightcurve lc;
  struct Case {
    const char* label;
    std::function<double()> call;
    double value;
    const char* message;
  };
  const Case before[] = {
      {"t0 box", [&] { return lc.getT0_box(1); }, -1.0, "no boxed-lightcurve available!\n"},
      {"tau box", [&] { return lc.getTau_box(1); }, -1.0, "no boxed-lightcurve available!\n"},
      {"drop box", [&] { return lc.getDrop_box(1); }, -1.0, "no boxed-lightcurve available!\n"},
      {"transit points", [&] { return lc.getNumber_transit_box(); }, -1,
       "number of points in-transit not available!\n"},
      {"transits", [&] { return lc.getNumber_box(); }, 0, "number of transits not available!\n"},
      {"transits again", [&] { return lc.getNumber_transits(); }, 0, "number of transits not available!\n"},
  };
  for (const Case& c : before) {
    SCOPED_TRACE(c.label);
    double v = 0;
    EXPECT_EQ(captured([&] { v = c.call(); }), c.message);
    EXPECT_EQ(v, c.value);
  }
  // A record with peak arrays set by hand.
  lc.boxfitted = true;
  lc.H_box.makeReference(arrayOf(std::vector<double>(10, 1.0)));
  lc.L_box.makeReference(arrayOf(std::vector<double>(10, 0.99)));
  lc.t0_box.makeReference(arrayOf({5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
  lc.tau_box.makeReference(arrayOf(std::vector<double>(10, 0.05)));
  lc.number_transits = 3;
  lc.number_transit_points = 15;
  EXPECT_NEAR(lc.getDrop_box(1), 0.01, 1e-15);
  EXPECT_EQ(lc.getT0_box(3), 7.0);
  EXPECT_EQ(lc.getTau_box(10), 0.05);
  EXPECT_EQ(lc.getNumber_box(), 3);
  EXPECT_EQ(lc.getNumber_transit_box(), 15);
  for (int bad : {0, 11, -3}) {
    double v = 0;
    EXPECT_EQ(captured([&] { v = lc.getT0_box(bad); }),
              "error: number(" + std::to_string(bad) + ") out of range (1,10)!\n");
    EXPECT_EQ(v, -1.0);
  }
}

}  // namespace
