// Evenly spaced values between two ends, of double and of int.
#include <gtest/gtest.h>

#include <vector>

#include "numerics/span.h"
#include "tests/numerics/numerics_fixtures.h"

namespace {

using numerics_test::elements;

TEST(Span, DoubleValues) {
  struct Case {
    double a, b;
    int n;
    std::vector<double> values;
  };
  const Case cases[] = {
      {0.0, 1.0, 5, {0.0, 0.25, 0.5, 0.75, 1.0}},
      {0.0, 1.0, 2, {0.0, 1.0}},
      {3.0, 7.0, 1, {7.0}},
      {1.0, 0.0, 3, {1.0, 0.5, 0.0}},
      {0.0, 1.0, 0, {}},
      {0.0, 1.0, -3, {}},
  };
  for (const Case& c : cases) {
    const orv::MArray<double, 1> s = span(c.a, c.b, c.n);
    EXPECT_EQ(s.first(1), 1);
    EXPECT_EQ(elements(s), c.values) << "span(" << c.a << ", " << c.b << ", " << c.n << ")";
  }
}

TEST(Span, DoubleEndsAreExact) {
  // 0.1 * 10 is not exactly 1.1 - 0.1 in floating point; the ends are written, not computed.
  const orv::MArray<double, 1> s = span(0.1, 1.1, 11);
  EXPECT_EQ(s(1), 0.1);
  EXPECT_EQ(s(11), 1.1);
  const double step = (1.1 - 0.1) / 10;
  for (int i = 2; i <= 10; ++i) EXPECT_EQ(s(i), 0.1 + (i - 1) * step);
}

TEST(Span, IntValues) {
  struct Case {
    int a, b, n;
    std::vector<int> values;
  };
  const Case cases[] = {
      {0, 10, 4, {0, 3, 6, 10}},
      {10, 0, 4, {10, 6, 3, 0}},
      {5, 9, 1, {9}},
      {0, 1, 2, {0, 1}},
      {0, 10, 0, {}},
      {-2147483647 - 1, 2147483647, 3, {-2147483647 - 1, 0, 2147483647}},
  };
  for (const Case& c : cases) {
    const orv::MArray<int, 1> s = span(c.a, c.b, c.n);
    EXPECT_EQ(s.first(1), 1);
    EXPECT_EQ(elements(s), c.values) << "span(" << c.a << ", " << c.b << ", " << c.n << ")";
  }
}

TEST(Span, IntStepIsHeldInFloat) {
  // 0.7 in float is 0.699999988: 10 * step is just below 7.
  const orv::MArray<int, 1> s = span(0, 14, 21);
  ASSERT_EQ(s.length(1), 21);
  EXPECT_EQ(s(11), 6);
  EXPECT_EQ(s(1), 0);
  EXPECT_EQ(s(21), 14);
  EXPECT_EQ(s(3), 1);
}

}  // namespace
