// Tests the block means against a plain loop over each block: the same bits for every block size,
// extents that leave partial blocks, pixels that do not count and an offset.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tarvole/block_means.h"

namespace {

using Image = orv::MArray<float, 2>;

// Each block on its own, its pixels row by row, in single precision.
Image plain_block_means(const Image& v, int size, const Image& counts, float offset) {
  const int nbx = v.last(1) / size, nby = v.last(2) / size;
  Image out(nbx, nby);
  out = 0.0f;
  for (int by = 1; by <= nby; ++by)
    for (int bx = 1; bx <= nbx; ++bx) {
      float sum = 0.0f;
      int n = 0;
      for (int y = size * (by - 1) + 1; y <= size * by; ++y)
        for (int x = size * (bx - 1) + 1; x <= size * bx; ++x)
          if (counts(x, y) != 0.0f) {
            sum += v(x, y);
            ++n;
          }
      if (n > 0) out(bx, by) = sum / static_cast<float>(n) - offset;
    }
  return out;
}

TEST(BlockMeans, SameBitsAsAPlainLoopPerBlock) {
  struct Case {
    int nx, ny, size;
    double counted;  // share of pixels that count
    float offset;
  };
  const Case cases[] = {
      {64, 56, 4, 1.0, 0.0f}, {67, 58, 4, 0.7, 0.0f}, {67, 58, 4, 0.3, 12.5f},
      {33, 21, 2, 0.5, 0.0f}, {3, 9, 4, 1.0, 0.0f},   {40, 40, 4, 0.0, 3.0f},
  };
  std::mt19937 rng(2024);
  std::uniform_real_distribution<float> value(-1.0e3f, 1.0e5f);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.nx << " x " << c.ny << " size " << c.size << " counted " << c.counted);
    Image v(c.nx, c.ny), counts(c.nx, c.ny);
    for (int y = 1; y <= c.ny; ++y)
      for (int x = 1; x <= c.nx; ++x) {
        v(x, y) = value(rng);
        counts(x, y) = unit(rng) < c.counted ? 1.0f : 0.0f;
      }
    const Image got = block_means(v, c.size, [&](int x, int y) { return counts(x, y) != 0.0f; }, c.offset);
    const Image expected = plain_block_means(v, c.size, counts, c.offset);
    ASSERT_EQ(got.length(1), c.nx / c.size);
    ASSERT_EQ(got.length(2), c.ny / c.size);
    for (int by = 1; by <= got.last(2); ++by)
      for (int bx = 1; bx <= got.last(1); ++bx)
        ASSERT_EQ(std::memcmp(&got(bx, by), &expected(bx, by), sizeof(float)), 0)
            << bx << " " << by << ": " << got(bx, by) << " " << expected(bx, by);
  }
}

}  // namespace
