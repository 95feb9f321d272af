// Tests the knots of the binned spline surfaces: knot ranges and values, and the row-wise spline
// evaluation against the per-pixel bicubic spline.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>

#include "numerics/spline.h"
#include "tarvole/knots.h"

namespace {

TEST(Knots, RangeRule) {
  struct Case {
    int i0, first, i1, last;
  } cases[] = {{-17, -5, 18, 6}, {-3, -1, 3, 1}, {-4, -1, 5, 1}, {0, 0, 0, 0},
               {2, 1, -2, -1},   {5, 1, 2, 0},   {-1, 0, 6, 2}};
  for (const Case& c : cases) {
    EXPECT_EQ(first_knot(c.i0), c.first) << c.i0;
    EXPECT_EQ(last_knot(c.i1), c.last) << c.i1;
  }
  Knots k;
  EXPECT_EQ(knot_ranges(3, 2, 0, 5, k), KnotStatus::noCells);
  EXPECT_EQ(knot_ranges(-2, 2, -6, 6, k), KnotStatus::tooFewKnots);  // px0 = px1 = 0
  EXPECT_EQ(knot_ranges(-3, 3, -6, 6, k), KnotStatus::ok);
}

// A cell grid over -7..7 in both axes (with margin) holding value(k, l) or blank.
struct Grid {
  CellAxis ax = cell_axis(300, 600, 61), ay = cell_axis(300, 600, 61);
  orv::MArray<double, 2> G = cell_grid(ax, ay, 1e20f);
};

TEST(Knots, MedianWideningAndFill) {
  const double blank = 1e20f;
  Grid g;
  for (int l = g.ay.first; l <= g.ay.last; ++l)
    for (int k = g.ax.first; k <= g.ax.last; ++k) g.G(k, l) = 10 * k + l;
  // The window of knot (1, 0) blank: cells 2..4 × -1..1.
  for (int l = -1; l <= 1; ++l)
    for (int k = 2; k <= 4; ++k) g.G(k, l) = blank;
  Knots k;
  ASSERT_EQ(knot_ranges(g.ax.first, g.ax.last, g.ay.first, g.ay.last, k), KnotStatus::ok);
  std::ostringstream out, err;
  ASSERT_EQ(knot_values(g.G, g.ax, g.ay, 1e20f, out, err, "x.fits", k), KnotStatus::ok);
  EXPECT_EQ(k.z(0, 0), 0.0);
  EXPECT_EQ(k.z(-1, 1), -27.0);
  // h = 1 is still blank, h = 2 sees 16 cells of a 5 × 5 window: median of 30 ± 2.. ± 2 set.
  EXPECT_NE(out.str().find("h: 1   "), std::string::npos);
  EXPECT_NE(out.str().find("h: 2   30"), std::string::npos);
  EXPECT_EQ(k.z(1, 0), 30.0);
  EXPECT_EQ(k.xs(1), 300 + 3 * 61);
  EXPECT_TRUE(err.str().empty());

  // Every cell blank but one corner far away: knots more than ten cells off stay blank
  // and take the median of the others, with a warning.
  Grid far;
  far.ax = cell_axis(300, 3000, 61);
  far.G.makeReference(cell_grid(far.ax, far.ay, blank));
  far.G(-4, 0) = 5.0;
  far.G(-4, 3) = 7.0;
  Knots kf;
  ASSERT_EQ(knot_ranges(-4, far.ax.last, 0, 3, kf), KnotStatus::ok);
  std::ostringstream out2, err2;
  ASSERT_EQ(knot_values(far.G, far.ax, far.ay, 1e20f, out2, err2, "far.fits", kf), KnotStatus::ok);
  EXPECT_EQ(kf.z(kf.px1, 0), 6.0);
  EXPECT_NE(err2.str().find("far.fits"), std::string::npos);
  for (int q = kf.py0; q <= kf.py1; ++q)
    for (int p = kf.px0; p <= kf.px1; ++p) EXPECT_LT(kf.z(p, q), 100.0);
}

// The row-wise evaluation gives the per-pixel spline's values and statuses bit for bit, for
// knot grids of random spacing that start at negative indices.
TEST(EvaluateSurface, RowWiseEqualsPerPixelSpline) {
  std::mt19937 rng(1234);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  struct Case {
    int px0, px1, py0, py1, nx, ny;
  } cases[] = {{-5, 6, -5, 5, 157, 131}, {-1, 0, 1, 3, 40, 60}, {2, 9, -3, 4, 90, 77}};
  for (const Case& c : cases) {
    Knots k;
    k.px0 = c.px0, k.px1 = c.px1, k.py0 = c.py0, k.py1 = c.py1;
    k.xs.makeReference(orv::MArray<double, 1>(orv::Range(c.px0, c.px1)));
    k.ys.makeReference(orv::MArray<double, 1>(orv::Range(c.py0, c.py1)));
    k.z.makeReference(orv::MArray<double, 2>(orv::Range(c.px0, c.px1), orv::Range(c.py0, c.py1)));
    double x = -20 * u(rng), y = -20 * u(rng);
    for (int p = c.px0; p <= c.px1; ++p) k.xs(p) = x += 5 + 30 * u(rng);
    for (int q = c.py0; q <= c.py1; ++q) k.ys(q) = y += 5 + 30 * u(rng);
    for (int q = c.py0; q <= c.py1; ++q)
      for (int p = c.px0; p <= c.px1; ++p) k.z(p, q) = 100 * u(rng) - 50;
    orv::MArray<double, 2> z2(orv::Range(c.px0, c.px1), orv::Range(c.py0, c.py1));
    z2 = 0.0;
    ASSERT_EQ(sc_splie2(k.xs, k.ys, k.z, z2), 0);
    orv::MArray<float, 2> out(c.nx, c.ny);
    out = 1e20f;
    EXPECT_EQ(evaluate_surface(k, z2, out, 1, c.nx, 1, c.ny, false), 0);
    for (int yy = 1; yy <= c.ny; ++yy)
      for (int xx = 1; xx <= c.nx; ++xx) {
        double v;
        ASSERT_EQ(sc_splin2(v, xx, yy, k.xs, k.ys, k.z, z2), 0);
        const float expected = static_cast<float>(v);
        ASSERT_EQ(std::memcmp(&out(xx, yy), &expected, sizeof(float)), 0) << xx << " " << yy;
      }
  }
}

// Coinciding knots make evaluations fail: the error count is the sum of the per-pixel statuses;
// with stopAtFirstFailure nothing is stored after the first failure.
TEST(EvaluateSurface, FailuresAreCountedAndStopStoring) {
  Knots k;
  k.px0 = 1, k.px1 = 3, k.py0 = 1, k.py1 = 2;
  k.xs.makeReference(orv::MArray<double, 1>(3));
  k.ys.makeReference(orv::MArray<double, 1>(2));
  k.z.makeReference(orv::MArray<double, 2>(3, 2));
  k.xs(1) = 1, k.xs(2) = 5, k.xs(3) = 5;  // the last interval has zero width
  k.ys(1) = 1, k.ys(2) = 10;
  k.z = 1.0;
  orv::MArray<double, 2> z2(3, 2);
  z2 = 0.0;
  sc_splie2(k.xs, k.ys, k.z, z2);
  long expected = 0;
  for (int y = 1; y <= 10; ++y)
    for (int x = 1; x <= 10; ++x) {
      double v;
      expected += sc_splin2(v, x, y, k.xs, k.ys, k.z, z2);
    }
  ASSERT_GT(expected, 0);
  orv::MArray<float, 2> all(10, 10), stop(10, 10);
  all = 1e20f;
  stop = 1e20f;
  EXPECT_EQ(evaluate_surface(k, z2, all, 1, 10, 1, 10, false), expected);
  EXPECT_EQ(evaluate_surface(k, z2, stop, 1, 10, 1, 10, true), expected);
  EXPECT_EQ(stop(10, 10), 1e20f);
  EXPECT_EQ(stop(1, 1) == 1e20f, all(1, 1) == 1e20f);
}

}  // namespace
