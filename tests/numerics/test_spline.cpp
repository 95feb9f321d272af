// Cubic splines and bicubic surfaces against scipy, worked examples and degenerate tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "numerics/spline.h"

namespace {

constexpr double natural = 1e30;

orv::MArray<double, 1> vec(const std::vector<double>& values, int base = 1) {
  orv::MArray<double, 1> a(orv::Range(base, base + static_cast<int>(values.size()) - 1));
  for (std::size_t k = 0; k < values.size(); ++k) a(base + static_cast<int>(k)) = values[k];
  return a;
}

// A grid with non-uniform knots, x1 indexed from b1 and x2 from b2, and smooth values.
struct Grid {
  orv::MArray<double, 1> x1, x2;
  orv::MArray<double, 2> z, z2;
  Grid(int n1, int n2, int b1, int b2, unsigned seed)
      : x1(orv::Range(b1, b1 + n1 - 1)),
        x2(orv::Range(b2, b2 + n2 - 1)),
        z(orv::Range(b1, b1 + n1 - 1), orv::Range(b2, b2 + n2 - 1)),
        z2(orv::Range(b1, b1 + n1 - 1), orv::Range(b2, b2 + n2 - 1)) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> step(0.5, 3.0), noise(-1.0, 1.0);
    double a = 0.0;
    for (int j = b1; j < b1 + n1; ++j) x1(j) = a += step(gen);
    a = 0.0;
    for (int k = b2; k < b2 + n2; ++k) x2(k) = a += step(gen);
    for (int k = b2; k < b2 + n2; ++k)
      for (int j = b1; j < b1 + n1; ++j) z(j, k) = std::sin(0.3 * x1(j)) * std::cos(0.2 * x2(k)) + noise(gen);
    z2 = 0.0;
    EXPECT_EQ(sc_splie2(x1, x2, z, z2), 0);
  }
};

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(Spline, WorkedExampleAndKnotBehaviour) {
  auto xa = vec({1, 2, 3});
  auto ya = vec({0, 1, 0});
  orv::MArray<double, 1> y2(3);
  EXPECT_EQ(spline(xa, ya, natural, natural, y2), 0);
  EXPECT_EQ(y2(1), 0.0);
  EXPECT_EQ(y2(2), -3.0);
  EXPECT_EQ(y2(3), 0.0);

  double y = 0;
  EXPECT_EQ(splint(y, 1.5, xa, ya, y2), 0);
  EXPECT_DOUBLE_EQ(y, 0.6875);
  // At an inner knot the interval to its right is used and the knot value comes back.
  EXPECT_EQ(splint(y, 2.0, xa, ya, y2), 0);
  EXPECT_DOUBLE_EQ(y, 1.0);
  // Outside the table the end cubic is extrapolated, without a status: on
  // [1, 2] the cubic is A·0 + B·1 + (B³ − B)·(−3)/6 with B = x − 1.
  EXPECT_EQ(splint(y, 0.0, xa, ya, y2), 0);
  EXPECT_DOUBLE_EQ(y, -1.0);
  EXPECT_EQ(splint(y, 4.0, xa, ya, y2), 0);
  EXPECT_DOUBLE_EQ(y, -1.0);

  // The natural wrapper is the table with 1e30 at both ends; 9.9e29 itself is
  // a real (huge) derivative and gives another table.
  orv::MArray<double, 1> viaWrapper(3), realSlope(3);
  EXPECT_EQ(sc_splie(xa, ya, viaWrapper), 0);
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(sameBits(viaWrapper(i), y2(i))) << i;
  EXPECT_EQ(spline(xa, ya, 9.9e29, natural, realSlope), 0);
  EXPECT_NE(realSlope(1), 0.0);
  double viaSc = 0;
  EXPECT_EQ(sc_splin(viaSc, 1.5, xa, ya, y2), 0);
  EXPECT_DOUBLE_EQ(viaSc, 0.6875);
}

// Cases written by data/spline_reference.py from scipy's CubicSpline with the
// same end conditions; evaluated also outside the knots.
TEST(Spline, AgreesWithScipyCubicSpline) {
  std::ifstream in(std::string(ORV_TEST_DATA_DIR) + "/spline_reference.txt");
  ASSERT_TRUE(in) << "missing spline_reference.txt";
  std::string line;
  int cases = 0;
  while (std::getline(in, line)) {
    std::istringstream head(line);
    std::string word, name, left, right;
    int n = 0, m = 0;
    head >> word >> name >> n >> m >> left >> right;
    ASSERT_EQ(word, "case");
    // Every other case uses a table indexed from 0 instead of 1.
    int base = cases % 2;
    std::vector<double> x(n), y(n), d2(n);
    for (int k = 0; k < n; ++k) in >> x[k] >> y[k] >> d2[k];
    auto xa = vec(x, base), ya = vec(y, base);
    orv::MArray<double, 1> y2(orv::Range(base, base + n - 1));
    double yp1 = left == "natural" ? natural : std::stod(left);
    double ypn = right == "natural" ? natural : std::stod(right);
    ASSERT_EQ(spline(xa, ya, yp1, ypn, y2), 0) << name;
    for (int k = 0; k < n; ++k) EXPECT_NEAR(y2(base + k), d2[k], 1e-10 * (1 + std::fabs(d2[k]))) << name << k;
    for (int k = 0; k < m; ++k) {
      double at = 0, expected = 0, got = 0;
      in >> at >> expected;
      EXPECT_EQ(splint(got, at, xa, ya, y2), 0);
      EXPECT_NEAR(got, expected, 1e-10 * (1 + std::fabs(expected))) << name << " at " << at;
    }
    std::getline(in, line);
    ++cases;
  }
  EXPECT_EQ(cases, 4);
}

// Degenerate tables: coinciding knots give a status and non-finite values;
// tables with fewer than two knots are refused without writing anything.
TEST(Spline, DegenerateTables) {
  auto xa = vec({1, 2, 2, 4});
  auto ya = vec({0, 1, 3, 0});
  orv::MArray<double, 1> y2(4);
  y2 = 0.0;
  EXPECT_NE(spline(xa, ya, natural, natural, y2), 0);
  double y = 0;
  // An x equal to a knot goes to the interval on its right, so only an x
  // outside the table, or a table of two equal knots, is bracketed by an
  // equal pair.
  struct Bracketed {
    std::vector<double> knots;
    double x;
    int status;
  };
  const Bracketed brackets[] = {
      {{5, 5}, 5.0, 1}, {{1, 1, 3}, 0.5, 1}, {{1, 1, 3}, 1.0, 0}, {{1, 2, 2, 4}, 2.0, 0}};
  for (const Bracketed& c : brackets) {
    int n = static_cast<int>(c.knots.size());
    orv::MArray<double, 1> values(n), table(n);
    values = 1.0;
    table = 0.0;
    EXPECT_EQ(splint(y, c.x, vec(c.knots), values, table), c.status) << c.x;
    EXPECT_EQ(std::isfinite(y), c.status == 0) << c.x;
  }

  struct Case {
    const char* what;
    orv::MArray<double, 1> x;
  };
  const Case tooSmall[] = {{"one knot", vec({3})},
                           {"no knot", orv::MArray<double, 1>(0)},
                           {"no storage", orv::MArray<double, 1>()}};
  for (const Case& c : tooSmall) {
    orv::MArray<double, 1> values(1), table(1);
    values(1) = 7;
    table(1) = 42;
    EXPECT_NE(spline(c.x, values, natural, natural, table), 0) << c.what;
    EXPECT_NE(sc_splie(c.x, values, table), 0) << c.what;
    EXPECT_EQ(table(1), 42) << c.what;
    y = 0;
    EXPECT_NE(splint(y, 3.0, c.x, values, table), 0) << c.what;
    EXPECT_TRUE(std::isnan(y)) << c.what;
  }
}

// Values or second derivatives that do not cover the knots' indices are
// refused rather than read out of bounds.
TEST(Spline, TablesThatDoNotCoverTheKnotsAreRefused) {
  auto xa = vec({1, 2, 3, 4});
  auto shortValues = vec({0, 1, 0});
  auto shifted = vec({0, 1, 0, 2}, 0);
  orv::MArray<double, 1> y2(4), shortTable(3);
  double y = 0;
  EXPECT_NE(spline(xa, shortValues, natural, natural, y2), 0);
  EXPECT_NE(spline(xa, shifted, natural, natural, y2), 0);
  EXPECT_NE(spline(xa, vec({0, 1, 0, 2}), natural, natural, shortTable), 0);
  EXPECT_NE(splint(y, 2.5, xa, shortValues, y2), 0);
  EXPECT_TRUE(std::isnan(y));

  Grid g(5, 4, 1, 1, 2);
  orv::MArray<double, 2> smallTable(5, 3);
  orv::MArray<double, 1> shortKnots(4);
  EXPECT_NE(sc_splie2(g.x1, g.x2, g.z, smallTable), 0);
  EXPECT_NE(sc_splie2(shortKnots, g.x2, g.z, g.z2), 0);
  EXPECT_NE(sc_splin2(y, 2.0, 2.0, g.x1, g.x2, g.z, smallTable), 0);
  EXPECT_NE(sc_splin2(y, 2.0, 2.0, shortKnots, g.x2, g.z, g.z2), 0);
  EXPECT_TRUE(std::isnan(y));
}

TEST(Bicubic, ExactAtEveryGridNode) {
  Grid g(7, 5, 0, 3, 11);
  for (int k = g.x2.first(1); k <= g.x2.last(1); ++k) {
    for (int j = g.x1.first(1); j <= g.x1.last(1); ++j) {
      double v = 0;
      ASSERT_EQ(sc_splin2(v, g.x1(j), g.x2(k), g.x1, g.x2, g.z, g.z2), 0);
      EXPECT_NEAR(v, g.z(j, k), 1e-12) << j << "," << k;
    }
  }
}

// The bicubic value is the composition of one-dimensional splines: a row
// spline at x2 for every knot row, then a natural spline through those values
// at x1. Built here from copies of the rows with the 1-D functions, and
// compared bit for bit, inside and outside the grid.
TEST(Bicubic, IsTheCompositionOfRowSplines) {
  Grid g(6, 8, 1, -2, 5);
  int b1 = g.z.first(1), n1 = g.z.length(1), b2 = g.z.first(2), n2 = g.z.length(2);
  orv::MArray<double, 2> viaSplie2(orv::Range(b1, b1 + n1 - 1), orv::Range(b2, b2 + n2 - 1));
  EXPECT_EQ(splie2(g.x1, g.x2, g.z, viaSplie2), 0);
  std::vector<orv::MArray<double, 1>> rows, rowTables;
  for (int j = b1; j < b1 + n1; ++j) {
    orv::MArray<double, 1> row(orv::Range(b2, b2 + n2 - 1)), table(orv::Range(b2, b2 + n2 - 1));
    for (int k = b2; k < b2 + n2; ++k) row(k) = g.z(j, k);
    EXPECT_EQ(spline(g.x2, row, natural, natural, table), 0);
    for (int k = b2; k < b2 + n2; ++k)
      EXPECT_TRUE(sameBits(table(k), g.z2(j, k)) && sameBits(table(k), viaSplie2(j, k)));
    rows.push_back(row);
    rowTables.push_back(table);
  }
  for (double x1 : {-1.0, 0.6, 2.5, 7.25, 30.0}) {
    for (double x2 : {-3.0, 1.1, 4.0, 9.75, 40.0}) {
      orv::MArray<double, 1> yy(orv::Range(b1, b1 + n1 - 1)), yy2(orv::Range(b1, b1 + n1 - 1));
      for (int j = 0; j < n1; ++j) EXPECT_EQ(splint(yy(b1 + j), x2, g.x2, rows[j], rowTables[j]), 0);
      EXPECT_EQ(spline(g.x1, yy, natural, natural, yy2), 0);
      double expected = 0, got = 0, viaSc = 0;
      EXPECT_EQ(splint(expected, x1, g.x1, yy, yy2), 0);
      EXPECT_EQ(splin2(got, x1, x2, g.x1, g.x2, g.z, g.z2), 0);
      EXPECT_EQ(sc_splin2(viaSc, x1, x2, g.x1, g.x2, g.z, g.z2), 0);
      EXPECT_TRUE(sameBits(got, expected)) << x1 << "," << x2 << ": " << got << " vs " << expected;
      EXPECT_TRUE(sameBits(viaSc, expected));
    }
  }
}

// Evaluating line by line gives exactly the per-pixel values and statuses.
TEST(Bicubic, RowEvaluatorIsBitIdenticalToPerPixelCalls) {
  Grid g(9, 7, 1, 1, 3);
  BicubicSplineRow row(g.x1, g.x2, g.z, g.z2);
  double y = 0;
  EXPECT_EQ(row.value(y, 1.0), 1);  // no line prepared yet
  EXPECT_TRUE(std::isnan(y));
  // The fixed positions -5..40 of values() give the same as value() at each.
  std::vector<double> positions, fixedValues(46);
  std::vector<int> fixedStatus(46);
  for (int px = -5; px <= 40; ++px) positions.push_back(px);
  row.setPositions(positions.data(), 46);
  int mismatches = 0;
  for (int py = -5; py <= 40; ++py) {
    EXPECT_EQ(row.setRow(py), 0);
    row.values(fixedValues.data(), fixedStatus.data());
    for (int px = -5; px <= 40; ++px) {
      double perPixel = 0, perRow = 0;
      int s1 = sc_splin2(perPixel, px, py, g.x1, g.x2, g.z, g.z2);
      int s2 = row.value(perRow, px);
      if (s1 != s2 || !sameBits(perPixel, perRow)) ++mismatches;
      if (s1 != fixedStatus[px + 5] || !sameBits(perPixel, fixedValues[px + 5])) ++mismatches;
    }
  }
  EXPECT_EQ(mismatches, 0);

  // Coinciding knots in either direction: the set-up reports those along the
  // rows, the evaluation those it brackets or meets in its spline along x1;
  // the same statuses and values both ways.
  for (int dim = 1; dim <= 2; ++dim) {
    Grid d(4, 4, 1, 1, 9);
    if (dim == 1)
      d.x1(3) = d.x1(2);
    else
      d.x2(3) = d.x2(2);
    d.z2 = 0.0;
    int setup = sc_splie2(d.x1, d.x2, d.z, d.z2);
    EXPECT_EQ(setup != 0, dim == 2);
    BicubicSplineRow degenerate(d.x1, d.x2, d.z, d.z2);
    double a = 0;
    EXPECT_EQ(sc_splin2(a, d.x1(2), d.x2(2), d.x1, d.x2, d.z, d.z2) != 0, dim == 1);
    for (double at : {d.x1(2), d.x2(2), 0.5 * (d.x1(1) + d.x1(2))}) {
      double a = 0, b = 0;
      int s1 = sc_splin2(a, at, at, d.x1, d.x2, d.z, d.z2);
      degenerate.setRow(at);
      int s2 = degenerate.value(b, at);
      EXPECT_EQ(s1, s2) << dim;
      EXPECT_TRUE(sameBits(a, b) || (std::isnan(a) && std::isnan(b))) << dim;
    }
  }
}

TEST(Bicubic, GridsWithFewerThanTwoKnotsAreRefused) {
  for (auto [n1, n2] : {std::pair{1, 5}, std::pair{5, 1}, std::pair{0, 3}}) {
    orv::MArray<double, 1> x1(n1), x2(n2);
    orv::MArray<double, 2> z(n1, n2), z2(n1, n2);
    for (int i = 1; i <= n1; ++i) x1(i) = i;
    for (int i = 1; i <= n2; ++i) x2(i) = i;
    z = 1.0;
    z2 = 42.0;
    EXPECT_NE(sc_splie2(x1, x2, z, z2), 0) << n1 << "x" << n2;
    for (int k = 1; k <= n2; ++k)
      for (int j = 1; j <= n1; ++j) EXPECT_EQ(z2(j, k), 42.0);
    double y = 0;
    EXPECT_NE(sc_splin2(y, 1.0, 1.0, x1, x2, z, z2), 0);
    EXPECT_TRUE(std::isnan(y));
    BicubicSplineRow row(x1, x2, z, z2);
    EXPECT_NE(row.setRow(1.0), 0);
    EXPECT_NE(row.value(y, 1.0), 0);
    EXPECT_TRUE(std::isnan(y));
  }
}

}  // namespace
