// Tests the elliptic integrals and the trapezoidal integral of the transit model.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "lightcurve/transit_model.h"
#include "orv/lanes.h"
#include "tests/lightcurve/lightcurve_fixtures.h"

namespace {

using lightcurve_test::arrayOf;
using lightcurve_test::captured;
using lightcurve_test::numpyValues;
using lightcurve_test::pyList;

// Carlson's integrals against scipy.special on random arguments spanning
// several decades, with x = 0, negative y of R_C and negative p of R_J.
TEST(TransitModelNumerics, CarlsonIntegralsAgainstScipy) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-3.0, 3.0);
  auto pos = [&] { return std::pow(10.0, u(rng)); };
  std::vector<double> x, y, z, p;
  for (int i = 0; i < 300; ++i) {
    x.push_back(i % 5 == 0 ? 0.0 : pos());
    y.push_back(pos());
    z.push_back(pos());
    p.push_back(i % 3 == 0 ? -pos() : pos());
  }
  const std::vector<double> ref = numpyValues(
      "from scipy.special import elliprf, elliprc, elliprj\n"
      "x=np.array(" +
      pyList(x) + ")\ny=np.array(" + pyList(y) + ")\nz=np.array(" + pyList(z) + ")\np=np.array(" + pyList(p) +
      ")\n"
      "for v in elliprf(x,y,z): print(repr(v))\n"
      "for v in elliprc(x,np.where(p<0,p,y)): print(repr(v))\n"
      "for v in elliprj(x,y,z,p): print(repr(v))\n");
  ASSERT_EQ(ref.size(), 900u);
  for (int i = 0; i < 300; ++i) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(rf_(x[i], y[i], z[i]), ref[i], 1e-6 * std::fabs(ref[i]));
    const double yc = p[i] < 0 ? p[i] : y[i];
    if (x[i] > 0 || yc > 0) {
      EXPECT_NEAR(rc_(x[i], yc), ref[300 + i], 1e-6 * std::fabs(ref[300 + i]));
    }
    EXPECT_NEAR(rj_(x[i], y[i], z[i], p[i]), ref[600 + i], 1e-6 * (1 + std::fabs(ref[600 + i])));
  }
}

// R_J of many argument sets at once equals rj_ of each set bit for bit, and
// prints what rj_ prints in the same order, on every processor path this
// machine runs: sets of the transit model's kind (x = 0, z = 1, p = 1 + n
// above 1), general sets, negative p and reported sets among them, for every
// count up to a few blocks and a long run.
TEST(TransitModelNumerics, ManyRJEqualOneByOne) {
  std::mt19937 rng(23);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  auto pos = [&] { return std::pow(10.0, 6.0 * u(rng) - 3.0); };
  std::vector<double> x, y, z, p;
  for (int i = 0; i < 203; ++i) {
    if (i % 2 == 0) {
      const double q = u(rng);
      x.push_back(0.0);
      y.push_back(1.0 - q * q);
      z.push_back(1.0);
      p.push_back(1.0 + std::pow(10.0, 6.0 * u(rng)));
    } else {
      x.push_back(i % 5 == 0 ? 0.0 : pos());
      y.push_back(pos());
      z.push_back(pos());
      p.push_back(i % 7 == 0 ? -pos() : pos());
    }
  }
  x[61] = -1.0;  // reported, and a block of the model's kind around it
  p[122] = 1e12;
  const int n = static_cast<int>(x.size());
  for (const orv::lanes::Path path : orv::lanes::runnable()) {
    orv::lanes::PathOverride only(path);
    for (int count : {0, 1, 3, 4, 5, 8, 9, 13, n}) {
      SCOPED_TRACE(testing::Message() << orv::lanes::pathName(path) << ", " << count << " sets");
      std::vector<double> one(count), many(count);
      const std::string printedOne = captured([&] {
        for (int i = 0; i < count; ++i) one[i] = rj_(x[i], y[i], z[i], p[i]);
      });
      const std::string printedMany =
          captured([&] { rjMany(x.data(), y.data(), z.data(), p.data(), many.data(), count); });
      EXPECT_EQ(printedMany, printedOne);
      for (int i = 0; i < count; ++i)
        ASSERT_EQ(std::bit_cast<std::uint64_t>(many[i]), std::bit_cast<std::uint64_t>(one[i]))
            << "set " << i << ": " << many[i] << " against " << one[i];
    }
  }
}

// Hastings' K and E against scipy's ellipk and ellipe of the parameter k^2,
// up to a modulus close to 1 where K grows logarithmically.
TEST(TransitModelNumerics, CompleteIntegralsAgainstScipy) {
  std::vector<double> k;
  for (int i = 0; i <= 200; ++i) k.push_back(0.99999 * i / 200.0);
  for (double extra : {0.999, 0.9999, 0.99999}) k.push_back(extra);
  const std::vector<double> ref =
      numpyValues("from scipy.special import ellipk, ellipe\nk=np.array(" + pyList(k) +
                  ")\nfor v in ellipk(k*k): print(repr(v))\nfor v in ellipe(k*k): print(repr(v))\n");
  const size_t n = k.size();
  ASSERT_EQ(ref.size(), 2 * n);
  for (size_t i = 0; i < n; ++i) {
    EXPECT_NEAR(ellk_(k[i]), ref[i], 2.5e-8) << "k " << k[i];
    EXPECT_NEAR(ellec_(k[i]), ref[n + i], 2.5e-8) << "k " << k[i];
  }
}

// Arguments outside the valid ranges print their messages (R_J first the
// arguments x, y and z) and the computation still returns.
TEST(TransitModelNumerics, InvalidArgumentsAreReported) {
  EXPECT_EQ(captured([] { rf_(-1.0, 1.0, 2.0); }), "invalid arguments in rf\n");
  EXPECT_EQ(captured([] { rc_(1.0, 0.0); }), "invalid arguments in rc\n");
  EXPECT_EQ(captured([] { rc_(0.005, -2e19); }), "invalid arguments in rc\n");
  EXPECT_EQ(captured([] { rj_(-1.0, 2.0, 3.0, 1.0); }), "-1 2 3\ninvalid arguments in rj\n");
  EXPECT_EQ(captured([] { rj_(1.0, 2.0, 3.0, 1e12); }), "1 2 3\ninvalid arguments in rj\n");
  EXPECT_EQ(captured([] { rf_(1.0, 2.0, 0.0); }), "");
}

// The trapezoidal sum against numpy.trapz, on unevenly spaced and on
// decreasing abscissae; equal end abscissae give the first ordinate.
TEST(TransitModelNumerics, TrapezoidalIntegralAgainstNumpy) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<double> xs, ys, xd;
  double t = -0.3;
  for (int i = 0; i < 41; ++i) {
    t += u(rng);
    xs.push_back(t);
    ys.push_back(std::sin(3 * t) + u(rng));
  }
  for (int i = 40; i >= 0; --i) xd.push_back(xs[i]);
  const std::vector<double> ref = numpyValues("y=" + pyList(ys) + "\nprint(repr(np.trapz(y," + pyList(xs) +
                                              ")), repr(np.trapz(y," + pyList(xd) + ")))\n");
  ASSERT_EQ(ref.size(), 2u);
  EXPECT_NEAR(integ(arrayOf(ys), arrayOf(xs)), ref[0], 1e-12 * (1 + std::fabs(ref[0])));
  EXPECT_NEAR(integ(arrayOf(ys), arrayOf(xd)), ref[1], 1e-12 * (1 + std::fabs(ref[1])));
  EXPECT_EQ(integ(arrayOf({2.5, 7.0, 9.0}), arrayOf({1.0, 3.0, 1.0})), 2.5);
  EXPECT_EQ(integ(arrayOf({4.0}), arrayOf({1.0})), 4.0);
}

}  // namespace
