// Plate coordinates: pixel positions to right ascension and declination and back.
#include <gtest/gtest.h>

#include "numerics/radec.h"

namespace {

TEST(Radec, RoundTrip) {
  struct Case {
    double x, y, ra0, dec0, x0, y0, dx, dy;
  };
  const Case cases[] = {
      {100.0, 200.0, 150.0, 2.0, 1024.5, 1024.5, -2.8e-4, 2.8e-4},
      {-50.0, 4000.0, 10.0, -60.0, 0.0, 0.0, 1e-3, 1e-3},
      {5.0, 5.0, 359.0, 85.0, 1.0, 1.0, 0.01, -0.01},
  };
  for (const Case& c : cases) {
    double ra = 0.0, dec = 0.0, x = 0.0, y = 0.0;
    PixelToradec(ra, dec, c.x, c.y, c.ra0, c.dec0, c.x0, c.y0, c.dx, c.dy);
    EXPECT_NEAR(dec, c.dec0 + (c.y - c.y0) * c.dy, 1e-12);
    radecToPixel(ra, dec, x, y, c.ra0, c.dec0, c.x0, c.y0, c.dx, c.dy);
    EXPECT_NEAR(x, c.x, 1e-8);
    EXPECT_NEAR(y, c.y, 1e-8);
  }
  // At the reference pixel the reference position; along x the scale grows with 1/cos(dec).
  double ra = 0.0, dec = 0.0;
  PixelToradec(ra, dec, 11.0, 1.0, 30.0, 60.0, 1.0, 1.0, 0.1, 0.1);
  EXPECT_DOUBLE_EQ(dec, 60.0);
  EXPECT_NEAR(ra, 32.0, 1e-12);
  // Back: 2 degrees of right ascension at declination 60 are 2 * cos(60) / 0.1 = 10
  // pixels, not 2 / 0.1 / cos(60) = 40.
  double x = 0.0, y = 0.0;
  radecToPixel(32.0, 60.0, x, y, 30.0, 60.0, 1.0, 1.0, 0.1, 0.1);
  EXPECT_NEAR(x, 11.0, 1e-9);
  EXPECT_NEAR(y, 1.0, 1e-12);
}

}  // namespace
