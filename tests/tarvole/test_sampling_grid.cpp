// Tests the sampling grid: region clipping, box shape, border boxes, kept points, and bit-for-bit
// agreement with the plain loop over the box offsets.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "numerics/random.h"
#include "tarvole/sampling_grid.h"
#include "tests/tarvole/tarvole_box_statistics_reference.h"

namespace {

orv::MArray<float, 2> noisy_image(int nx, int ny, long seed, float level, double blank_fraction) {
  orv::MArray<float, 2> a(nx, ny);
  for (int y = 1; y <= ny; ++y)
    for (int x = 1; x <= nx; ++x) {
      a(x, y) = static_cast<float>(level + 10.0 * rangau(seed));
      if (ran3(seed) < blank_fraction) a(x, y) = blank_value;
    }
  return a;
}

util::Region region_of(int x1, int x2, int y1, int y2) {
  util::Region r(2);
  r.setRange(1, x1, x2);
  r.setRange(2, y1, y2);
  return r;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(SamplingGrid, BitForBitAsThePlainLoop) {
  struct Case {
    int nx, ny, x1, x2, y1, y2, step, radius;
    double blanks;
  };
  const Case cases[] = {
      {64, 48, 5, 60, 5, 44, 7, 6, 0.05},      // interior and border boxes
      {64, 48, -10, 200, 0, 100, 3, 2, 0.2},   // region beyond the image on every side
      {80, 40, 1, 80, 1, 40, 9, 30, 0.01},     // boxes larger than the image
      {50, 50, 20, 10, 30, 5, 4, 1, 0.5},      // ends before the starts: to the image end
      {40, 30, 1, 40, 1, 30, 1, 3, 0.9},       // mostly blank: many dropped points
      {33, 17, 2, 33, 2, 17, 5, 0, 0.0},       // empty box: nothing kept
      {64, 64, 3, 64, 3, 64, 2, 12, 0.02},     // overlapping boxes, interleaved groups
  };
  long seed = -11;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "nx " << c.nx << " radius " << c.radius << " step " << c.step);
    const auto R = noisy_image(c.nx, c.ny, seed--, 200.0f, c.blanks);
    const auto I = noisy_image(c.nx, c.ny, seed--, 300.0f, c.blanks);
    const util::Region region = region_of(c.x1, c.x2, c.y1, c.y2);
    for (bool scatters : {false, true}) {
      const SamplingPoints got = sampling_grid(R, I, c.nx, c.ny, region, c.step, c.radius, blank_value, scatters);
      const SamplingPoints want =
          tarvole_test::plain_sampling_grid(R, I, c.nx, c.ny, region, c.step, c.radius, blank_value, scatters);
      ASSERT_EQ(got.N, want.N);
      ASSERT_EQ(got.K, want.K);
      for (int k = 1; k <= got.N; ++k) {
        ASSERT_TRUE(same_bits(got.x(k), want.x(k)) && same_bits(got.y(k), want.y(k))) << k;
        ASSERT_TRUE(same_bits(got.mR(k), want.mR(k)) && same_bits(got.mI(k), want.mI(k))) << k;
        ASSERT_TRUE(same_bits(got.sR(k), want.sR(k)) && same_bits(got.sI(k), want.sI(k))) << k;
      }
    }
  }
}

// Box shapes and region clipping against hand counts on a flat image of ones.
TEST(SamplingGrid, LayoutAndBoxShape) {
  struct Case {
    int x1, x2, y1, y2, step, radius;
    int N;
    double first_x, first_y, last_x, last_y;
  };
  // 30 x 20 image.
  const Case cases[] = {
      {5, 25, 5, 15, 10, 1, 6, 5, 5, 25, 15},
      {0, 100, -3, 100, 10, 2, 6, 1, 1, 21, 11},  // starts below 1 become 1, ends cut to the image
      {12, 4, 18, 2, 8, 1, 3, 12, 18, 28, 18},    // ends not after the starts: up to nx and ny
      {40, 50, 1, 20, 1, 1, 0, 0, 0, 0, 0},       // start beyond the image: no grid column
  };
  orv::MArray<float, 2> ones(30, 20);
  ones = 1.0f;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "region " << c.x1 << ":" << c.x2 << "," << c.y1 << ":" << c.y2);
    const SamplingPoints p = sampling_grid(ones, ones, 30, 20, region_of(c.x1, c.x2, c.y1, c.y2), c.step,
                                           c.radius, blank_value, true);
    EXPECT_EQ(p.N, c.N);
    EXPECT_EQ(p.K, c.N);
    if (c.N == 0) continue;
    EXPECT_EQ(p.x(1), c.first_x);
    EXPECT_EQ(p.y(1), c.first_y);
    EXPECT_EQ(p.x(p.K), c.last_x);
    EXPECT_EQ(p.y(p.K), c.last_y);
  }
}

// The number of pixels in a box, read from the mean of an image that is 1 at one pixel: r = 1
// gives the cross of 5, r = 2 the 21 pixels with i*i + j*j <= 5; a box with one usable pixel
// has scatters equal to its means.
TEST(SamplingGrid, BoxPixelCounts) {
  struct Case {
    int radius;
    double pixels;
  };
  const Case cases[] = {{1, 5}, {2, 21}, {3, 37}, {10, 349}};
  orv::MArray<float, 2> zeros(41, 41), spike(41, 41);
  for (const Case& c : cases) {
    zeros = 2.0f;
    spike = 2.0f;
    spike(21, 21) = 2.0f + static_cast<float>(c.pixels);
    const SamplingPoints p =
        sampling_grid(spike, zeros, 41, 41, region_of(21, 22, 21, 22), 5, c.radius, blank_value, true);
    ASSERT_EQ(p.K, 1);
    EXPECT_DOUBLE_EQ(p.mR(1), 3.0) << c.radius;
  }
  orv::MArray<float, 2> lonely(9, 9);
  lonely = blank_value;
  lonely(5, 5) = 4.0f;
  const SamplingPoints p = sampling_grid(lonely, lonely, 9, 9, region_of(5, 6, 5, 6), 5, 3, blank_value, true);
  ASSERT_EQ(p.K, 1);
  EXPECT_EQ(p.sR(1), 4.0);
  EXPECT_EQ(p.sI(1), 4.0);
}

}  // namespace
