// Tests the running median against the exact median of each window and the bright-object mask
// against a direct rendering of its rule.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "tarvole/row_sky.h"
#include "tarvole/running_median.h"
#include "tests/support/python_reference.h"
#include "tests/tarvole/tarvole_fixtures.h"

namespace {

orv::MArray<float, 2> noiseImage(int nx, int ny, unsigned seed, double spread) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> g(100.0, spread);
  orv::MArray<float, 2> a(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) a(x, y) = static_cast<float>(g(rng));
  return a;
}

// Every window median equals median_exact of a copy of the window, bit for bit; the frame is 0.
TEST(RunningMedian, EqualsExactMedianOfEveryWindow) {
  struct Case {
    int nx, ny, half;
    double spread;
    const char* what;
  } cases[] = {
      {70, 45, 10, 20.0, "noise"},
      {30, 30, 10, 0.0, "constant (all ties)"},
      {64, 50, 10, 0.4, "few distinct values"},
      {25, 23, 2, 30.0, "small window"},
      {21, 21, 10, 5.0, "one window"},
  };
  for (const Case& c : cases) {
    orv::MArray<float, 2> image = noiseImage(c.nx, c.ny, 7, c.spread);
    if (c.spread < 1.0)
      for (int y = 1; y <= c.ny; ++y)
        for (int x = 1; x <= c.nx; ++x) image(x, y) = std::round(image(x, y)) * 0.5f;
    // Blank pixels and negative values take part like any other value.
    image(c.nx / 2, c.ny / 2) = 1e20f;
    image(1, 1) = -1e20f;
    orv::MArray<float, 2> med(c.nx, c.ny);
    running_median(image, c.half, med);
    const int w = 2 * c.half + 1;
    orv::MArray<float, 2> window(w, w);
    for (int y = 1; y <= c.ny; ++y)
      for (int x = 1; x <= c.nx; ++x) {
        if (x <= c.half || x > c.nx - c.half || y <= c.half || y > c.ny - c.half) {
          ASSERT_EQ(med(x, y), 0.0f) << c.what;
          continue;
        }
        for (int j = 1; j <= w; ++j)
          for (int i = 1; i <= w; ++i) window(i, j) = image(x - c.half - 1 + i, y - c.half - 1 + j);
        const float expected = static_cast<float>(orv::median_exact(window));
        ASSERT_EQ(std::memcmp(&med(x, y), &expected, sizeof(float)), 0)
            << c.what << " at " << x << "," << y << ": " << med(x, y) << " vs " << expected;
      }
  }
}

TEST(RunningMedian, TooSmallImageStaysZero) {
  orv::MArray<float, 2> image = noiseImage(20, 40, 3, 5.0), med(20, 40);
  running_median(image, 10, med);
  for (int y = 1; y <= 40; ++y)
    for (int x = 1; x <= 20; ++x) ASSERT_EQ(med(x, y), 0.0f);
}

// Discs of radius 10 around pixels more than 100 above the median (100 itself is not enough),
// tested only inside the 10-pixel frame but reaching into it.
TEST(BrightObjectMask, DiscsAroundPixelsAboveTheMedian) {
  orv::MArray<float, 2> R(60, 50), med(60, 50);
  R = 200.0f;
  R(30, 25) = 300.0f;                        // exactly 100 above: not masked
  R(12, 40) = std::nextafter(300.0f, 1e9f);  // just above: masked, disc reaches the frame
  R(5, 5) = 1000.0f;                         // in the frame: never tested
  running_median(R, 10, med);
  orv::MArray<float, 2> mask = bright_object_mask(R, med);
  for (int y = 1; y <= 50; ++y)
    for (int x = 1; x <= 60; ++x) {
      const double dx = x - 12, dy = y - 40;
      const float expected = dx * dx + dy * dy <= 100.0 ? 0.0f : 1.0f;
      ASSERT_EQ(mask(x, y), expected) << x << "," << y;
    }
}

// On a 512² field with stars: the running median equals scipy's median filter on the interior
// and the mask a numpy rendering of its rule.
TEST(BrightObjectMask, AgreesWithScipyOnAStarField) {
  const orv::MArray<float, 2> R =
      tarvole_test::with_noise(tarvole_test::sky_reference(512, 260, 250, 31), 9, 14.0);
  orv::MArray<float, 2> med(512, 512);
  running_median(R, 10, med);
  const orv::MArray<float, 2> mask = bright_object_mask(R, med);
  orv::writeFitsImage("rm_R.fits", R);
  orv::writeFitsImage("rm_med.fits", med);
  orv::writeFitsImage("rm_mask.fits", mask);
  std::string report;
  EXPECT_EQ(
      test_support::runCommand(
          test_support::pythonCommand(
              ORV_SOURCE_DIR "/tests/tarvole/row_sky_reference.py rm_R.fits rm_med.fits rm_mask.fits 2>&1"),
          &report),
      0)
      << report;
}

}  // namespace
