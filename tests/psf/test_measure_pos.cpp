// Position measurement: bright stars injected at known positions are found
// to a few hundredths of a pixel from starts up to 0.4 pixel off; the edge rule.
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>

#include "numerics/random.h"
#include "psf/korven_lib.h"
#include "tests/psf/psf_test_support.h"

namespace {

// The position a star added at p lands on: its pixel plus the nearest fine cell.
double onFineGrid(double p) {
  const long i = std::lrint(p);
  double t = (p - i) * 7 + 0.5;
  if (t < 0) t -= 1;
  return i + static_cast<int>(t) / 7.0;
}

TEST(PsfMeasurePos, BrightStarsToAFewHundredthsOfAPixel) {
  psf p = psf_test::gaussianTestPsf(5, 5, 5, 0.00002, false);
  orv::MArray<float, 2> image(120, 120), error(120, 120);
  long seed = -21;
  for (int j = 1; j <= 120; ++j)
    for (int i = 1; i <= 120; ++i) {
      image(i, j) = static_cast<float>(2 * rangau(seed));
      error(i, j) = 2.0f;
    }
  orv::MArray<double, 1> x(16), y(16), tx(16), ty(16), flux(16), eflux(16);
  for (int k = 1; k <= 16; ++k) {
    tx(k) = 15 + 28 * ((k - 1) % 4) + ran3(seed) - 0.5;
    ty(k) = 15 + 28 * ((k - 1) / 4) + ran3(seed) - 0.5;
    p.add_psf_exact(image, tx(k), ty(k), 2e4, 0);
    // The exact form places the star on the nearest fine cell (1/7 pixel).
    tx(k) = onFineGrid(tx(k));
    ty(k) = onFineGrid(ty(k));
    x(k) = tx(k) + 0.8 * (ran3(seed) - 0.5);
    y(k) = ty(k) + 0.8 * (ran3(seed) - 0.5);
  }
  flux = 0.0;
  eflux = 0.0;
  p.calc_base(5, 0);
  EXPECT_EQ(p.measure_pos(image, error, x, y, flux, eflux, 4.0, 10, 0), 0);
  std::cout.precision(6);
  double sum2 = 0;
  for (int k = 1; k <= 16; ++k) {
    sum2 += (x(k) - tx(k)) * (x(k) - tx(k)) + (y(k) - ty(k)) * (y(k) - ty(k));
    EXPECT_NEAR(flux(k), 2e4, 0.02 * 2e4) << k;
    EXPECT_GT(eflux(k), 0.0);
  }
  EXPECT_LT(std::sqrt(sum2 / 16), 0.03);

  // Too near the edge (ix = first + R + 2): nothing changes.
  double ex = 8.0, ey = 50.0, ef = -1, ee = -1;
  EXPECT_EQ(p.measure_pos(image, error, ex, ey, ef, ee, 4.0, 10, 1, 0), 1);
  EXPECT_EQ(ex, 8.0);
  EXPECT_EQ(ef, -1);
  // A box of 1 has too few cells for the fit.
  double bx = tx(1) + 0.1, by = ty(1);
  EXPECT_EQ(p.measure_pos(image, error, bx, by, 4.0, 1, 1, 0), 1);
}

}  // namespace
