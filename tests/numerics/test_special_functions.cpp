// Special functions against scipy and exact values, on both sides of their branch points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "numerics/special_functions.h"
#include "tests/support/python_reference.h"

namespace {

struct Point {
  double a;  // first argument (unused by one-argument functions)
  double x;
};

// One function on a grid, against the scipy function of the same meaning.
struct Check {
  const char* name;
  const char* scipy;  // a Python expression in a and x
  std::function<double(double, double)> ours;
  std::vector<Point> points;
  double tolerance;
  bool relative;
};

std::vector<Point> grid(const std::vector<double>& as, const std::vector<double>& xs) {
  std::vector<Point> points;
  for (double a : as)
    for (double x : xs) points.push_back({a, x});
  return points;
}

std::vector<Point> line(const std::vector<double>& xs) { return grid({0.0}, xs); }

// The tolerances are the accuracy asked of each function; beyond moderate
// arguments the approximations are held to their published error bounds
// instead: 2e-10 for the gamma series, and for I0 and I1 the absolute bounds
// 1.9e-7 and 2.2e-7 of the scaled functions x^1/2 e^-x I(x), which near
// 1/sqrt(2 pi) = 0.399 are relative bounds of 4.8e-7 and 5.6e-7.
TEST(SpecialFunctions, AgreesWithScipy) {
  const std::vector<double> gammaArgs = {1e-3, 0.1, 0.5, 0.9, 1.0, 1.5, 2.0, 2.5, 3.7, 7.0, 10.5, 33.3, 50.0};
  const std::vector<double> gammaLarge = {100.0, 976.15, 1e5};
  const std::vector<double> incA = {0.3, 0.5, 1.0, 2.0, 4.5, 10.0, 30.0};
  const std::vector<double> incX = {0.01, 0.2, 1.0, 1.99, 2.5, 3.5, 5.0, 9.0, 11.0, 20.0, 31.5, 45.0};
  const std::vector<double> besselI = {-19.0, -5.0, -3.75, -1.0, 0.0, 1e-4, 0.3,  1.0,  2.0,
                                       3.0,   3.74, 3.75,  3.76, 5.0, 8.0,  12.0, 15.0, 19.9};
  const std::vector<double> besselILarge = {-98.375, 25.0, 40.0, 98.375, 150.0, 300.0, 650.0};
  const std::vector<double> besselK = {1e-4, 0.01, 0.3, 1.0,  1.5,  1.99, 2.0,
                                       2.01, 3.0,  5.0, 10.0, 25.0, 80.0, 500.0};
  auto i0 = [](double, double x) { return bessi0(x); };
  auto i1 = [](double, double x) { return bessi1(x); };
  const Check checks[] = {
      {"gammln", "special.gammaln(x)", [](double, double x) { return gammln(x); }, line(gammaArgs), 1e-10,
       false},
      {"gammln", "special.gammaln(x)", [](double, double x) { return gammln(x); }, line(gammaLarge), 2e-10,
       false},
      {"gammp", "special.gammainc(a, x)", [](double a, double x) { return gammp(a, x); }, grid(incA, incX),
       1e-6, true},
      {"gammq", "special.gammaincc(a, x)", [](double a, double x) { return gammq(a, x); }, grid(incA, incX),
       1e-6, true},
      {"bessi0", "special.i0(x)", i0, line(besselI), 2e-7, true},
      {"bessi0", "special.i0(x)", i0, line(besselILarge), 4.8e-7, true},
      {"bessi1", "special.i1(x)", i1, line(besselI), 2e-7, true},
      {"bessi1", "special.i1(x)", i1, line(besselILarge), 5.6e-7, true},
      {"bessk0", "special.k0(x)", [](double, double x) { return bessk0(x); }, line(besselK), 2e-7, true},
      {"bessk1", "special.k1(x)", [](double, double x) { return bessk1(x); }, line(besselK), 2e-7, true},
  };
  std::ostringstream script;
  script.precision(17);
  script << "from scipy import special\n";
  for (const Check& c : checks)
    for (const Point& p : c.points)
      script << "a, x = " << p.a << ", " << p.x << "\nprint(repr(float(" << c.scipy << ")))\n";
  std::istringstream reference(test_support::runPython(script.str()).out);
  for (const Check& c : checks) {
    for (const Point& p : c.points) {
      double expected = 0.0;
      ASSERT_TRUE(reference >> expected) << "no scipy value for " << c.name;
      const double got = c.ours(p.a, p.x);
      const double bound = c.relative ? c.tolerance * std::fabs(expected) : c.tolerance;
      EXPECT_NEAR(got, expected, bound) << c.name << "(a = " << p.a << ", x = " << p.x << ")";
    }
  }
}

TEST(SpecialFunctions, ExactValues) {
  EXPECT_NEAR(gammln(1.0), 0.0, 1e-12);
  EXPECT_NEAR(gammln(2.0), 0.0, 1e-12);
  EXPECT_NEAR(gammln(0.5), std::log(std::sqrt(M_PI)), 1e-12);
  for (double x : {0.01, 0.5, 1.9, 2.0, 5.0, 30.0}) EXPECT_NEAR(gammp(1.0, x), 1.0 - std::exp(-x), 1e-7) << x;
  for (double a : {0.5, 1.0, 7.0}) {
    EXPECT_EQ(gammp(a, 0.0), 0.0);
    EXPECT_EQ(gammq(a, 0.0), 1.0);
  }
  EXPECT_EQ(bessi0(0.0), 1.0);
  EXPECT_EQ(bessi1(0.0), 0.0);
  for (double x : {0.5, 3.0, 4.0, 20.0}) EXPECT_EQ(bessi1(-x), -bessi1(x));
  EXPECT_EQ(bessi0(701.0), 1e300);
  EXPECT_EQ(bessi0(-701.0), 1e300);
}

// Series below a + 1, continued fraction from there on: both sides of the
// switch give P and Q that add up to 1 and agree with the routines called
// directly.
TEST(SpecialFunctions, SeriesAndFractionBranches) {
  double gamser = -1.0;
  double gammcf = -1.0;
  double gln = 0.0;
  gser(gamser, 2.0, 2.5, gln);
  EXPECT_EQ(gammp(2.0, 2.5), gamser);
  EXPECT_NEAR(gln, 0.0, 1e-12);
  gcf(gammcf, 2.0, 3.5, gln);
  EXPECT_EQ(gammp(2.0, 3.5), 1.0 - gammcf);
  EXPECT_EQ(gammq(2.0, 3.5), gammcf);
  for (double x : {2.5, 2.9999, 3.0, 3.5}) EXPECT_NEAR(gammp(2.0, x) + gammq(2.0, x), 1.0, 1e-15) << x;
}

TEST(SpecialFunctions, BesselKContinuousAtTwo) {
  for (auto k : {&bessk0, &bessk1}) {
    const double below = k(2.0);
    const double above = k(std::nextafter(2.0, 3.0));
    EXPECT_NEAR(above / below, 1.0, 2e-7);
  }
}

// Messages of bad arguments and of a series that does not converge; the
// latter still writes its partial result.
TEST(SpecialFunctions, Messages) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(gammp(1.0, -1.0), 0.0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Invalid arguments in routine gammp\nx less than 0 in routine gser\n");

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(gammq(1.0, -1.0), 1.0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Invalid arguments in routine gammq\nx less than 0 in routine gser\n");

  // a = 1e4, x just below a + 1: the series needs far more than 100 terms.
  double gamser = std::nan("");
  double gln = 0.0;
  ::testing::internal::CaptureStderr();
  gser(gamser, 1e4, 1e4, gln);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "a too large, ITMAX too small in routine gser\n");
  EXPECT_TRUE(std::isfinite(gamser));
  EXPECT_GT(gamser, 0.0);
  EXPECT_LT(gamser, 0.5);
  EXPECT_EQ(gln, gammln(1e4));

  double gammcf = std::nan("");
  ::testing::internal::CaptureStderr();
  gcf(gammcf, 1e4, 1e4 + 1.0, gln);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "a too large, ITMAX too small in gcf\n");
  EXPECT_TRUE(std::isfinite(gammcf));
}

}  // namespace
