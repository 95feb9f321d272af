// Tests the correction of an image and its error image: good, bad and marked pixels, the two
// error formulas and non-finite inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tarvole/create.h"

namespace {

TEST(Create, PixelCases) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const double dnan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* what;
    float i, e, a, s;
    double abserr, skyerr;
    float want_i, want_e;
  };
  const float good_i = 0.8f * 10.0f - 40.0f;  // A*I - S in float
  const double both_e = std::sqrt((0.1 * good_i) * (0.1 * good_i) + (0.8 * 2.0) * (0.8 * 2.0) + 4.0);
  const Case cases[] = {
      {"good pixel", 10.0f, 2.0f, 0.8f, 40.0f, 0.0, 0.0, good_i, 0.8f * 2.0f},
      {"I = 0 with a positive error is bad", 0.0f, 2.0f, 0.8f, 40.0f, 0.0, 0.0, 0.0f, 0.0f},
      {"error 0 is bad", 10.0f, 0.0f, 0.8f, 40.0f, 0.0, 0.0, 0.0f, 0.0f},
      {"negative error is bad", 10.0f, -0.5f, 0.8f, 40.0f, 0.0, 0.0, 0.0f, 0.0f},
      {"error -1 stays marked", 10.0f, -1.0f, 0.8f, 40.0f, 0.0, 0.0, 0.0f, -1.0f},
      {"error -1 with A blank stays marked", 10.0f, -1.0f, 1.0e20f, 40.0f, 0.0, 0.0, 0.0f, -1.0f},
      {"A blank is bad", 10.0f, 2.0f, 1.0e20f, 40.0f, 0.0, 0.0, 0.0f, 0.0f},
      {"only S blank is corrected with it", 10.0f, 2.0f, 0.8f, 1.0e20f, 0.0, 0.0, 0.8f * 10.0f - 1.0e20f,
       0.8f * 2.0f},
      {"only abserr set: A*eI", 10.0f, 2.0f, 0.8f, 40.0f, 0.1, 0.0, good_i, 0.8f * 2.0f},
      {"only skyerr set: A*eI", 10.0f, 2.0f, 0.8f, 40.0f, 0.0, 2.0, good_i, 0.8f * 2.0f},
      {"both set: the combined error", 10.0f, 2.0f, 0.8f, 40.0f, 0.1, 2.0, good_i, static_cast<float>(both_e)},
      {"both set, bad pixel keeps its mask", 0.0f, 2.0f, 0.8f, 40.0f, 0.1, 2.0, 0.0f, 0.0f},
      {"non-finite abserr counts as 0", 10.0f, 2.0f, 0.8f, 40.0f, dnan, 2.0, good_i, 0.8f * 2.0f},
      {"NaN value is bad", nan, 2.0f, 0.8f, 40.0f, 0.0, 0.0, 0.0f, 0.0f},
      {"infinite value is bad", -inf, 2.0f, 0.8f, 40.0f, 0.0, 0.0, 0.0f, 0.0f},
      {"infinite error is bad", 10.0f, inf, 0.8f, 40.0f, 0.0, 0.0, 0.0f, 0.0f},
      {"NaN error is bad", 10.0f, nan, 0.8f, 40.0f, 0.0, 0.0, 0.0f, 0.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Image R(2, 1), eR(2, 1), I(2, 1), eI(2, 1), A(2, 1), S(2, 1);
    R = 1.0f;
    eR = 1.0f;
    I = 5.0f;  // a second, good pixel: 0.5*5 - 1
    eI = 1.0f;
    A = 0.5f;
    S = 1.0f;
    I(1, 1) = c.i;
    eI(1, 1) = c.e;
    A(1, 1) = c.a;
    S(1, 1) = c.s;
    Coefficients coefficients(6);
    coefficients = 0.0;
    Pliste P;
    P.abserr = c.abserr;
    P.skyerr = c.skyerr;
    create(R, eR, I, eI, A, S, coefficients, P);
    EXPECT_EQ(I(1, 1), c.want_i);
    EXPECT_EQ(eI(1, 1), c.want_e);
    EXPECT_EQ(I(2, 1), 1.5f);
    if (c.abserr != 0.0 && c.skyerr != 0.0 && std::isfinite(c.abserr)) {
      EXPECT_EQ(eI(2, 1), static_cast<float>(std::sqrt(0.1 * 1.5 * 0.1 * 1.5 + 0.25 + 4.0)));
    } else {
      EXPECT_EQ(eI(2, 1), 0.5f);
    }
  }
}

}  // namespace
