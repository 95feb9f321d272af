// Tests the cell grid of the binned spline surfaces: cell ranges and shapes, and the occupied box
// of an image (nonan).
#include <gtest/gtest.h>

#include <limits>

#include "tarvole/cell_grid.h"

namespace {

TEST(CellAxis, RangesTruncateTowardZero) {
  struct Case {
    int centre, extent, d, first, last;
  } cases[] = {
      {1070, 2048, 61, -17, 18},                                                // first centre 33, last 2168
      {1077, 2048, 61, -17, 17}, {300, 600, 61, -4, 6}, {30, 600, 61, -1, 11},  // (30-62)/61 truncates to 0
      {-500, 600, 61, 8, 20},  // a centre far left of the image
  };
  for (const Case& c : cases) {
    CellAxis a = cell_axis(c.centre, c.extent, c.d);
    EXPECT_EQ(a.first, c.first) << c.centre;
    EXPECT_EQ(a.last, c.last) << c.centre;
  }
  EXPECT_EQ(cell_axis(1070, 2048, 61).centre_of(-17), 33);
}

TEST(CellShape, PixelsFollowTheBoxRule) {
  for (int rb : {0, 1, 2, 5, 30}) {
    CellShape shape(rb);
    long count = 0, brute = 0;
    shape.for_each_run(500, 500, 1000, 1000, [&](int, int x0, int x1) { count += x1 - x0 + 1; });
    for (int j = -rb; j <= rb; ++j)
      for (int i = -rb; i <= rb; ++i) brute += i * i + j * j < rb * (rb + 1);
    EXPECT_EQ(count, brute) << rb;
  }
  // Clipped at a corner, only the pixels inside the image remain.
  long corner = 0, cornerBrute = 0;
  CellShape(30).for_each_run(3, 2, 100, 100, [&](int, int x0, int x1) { corner += x1 - x0 + 1; });
  for (int j = -30; j <= 30; ++j)
    for (int i = -30; i <= 30; ++i) cornerBrute += i * i + j * j < 930 && 3 + i >= 1 && 2 + j >= 1;
  EXPECT_EQ(corner, cornerBrute);
}

template <class T>
void expect_box(const orv::MArray<T, 2>& a, T blank, int x1, int x2, int y1, int y2) {
  int bx1 = 0, bx2 = 0, by1 = 0, by2 = 0;
  nonan(a, bx1, bx2, by1, by2, blank);
  EXPECT_EQ(bx1, x1);
  EXPECT_EQ(bx2, x2);
  EXPECT_EQ(by1, y1);
  EXPECT_EQ(by2, y2);
}

TEST(CellGrid, OccupiedBox) {
  const float blank = 1.0e20f;
  struct Case {
    const char* what;
    int px, py;  // one pixel set to data (0: none)
    float value;
    int x1, x2, y1, y2;
  };
  const Case cases[] = {
      {"one pixel", 3, 5, 7.0f, 3, 3, 5, 5},
      {"blank everywhere", 0, 0, 0.0f, 11, 0, 9, 0},
      {"a NaN counts as data", 10, 1, std::numeric_limits<float>::quiet_NaN(), 10, 10, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    orv::MArray<float, 2> a(10, 8);
    a = blank;
    if (c.px > 0) a(c.px, c.py) = c.value;
    expect_box(a, blank, c.x1, c.x2, c.y1, c.y2);
  }
  orv::MArray<double, 2> full(6, 4);
  full = 1.0;
  expect_box(full, 1.0e20, 1, 6, 1, 4);
  // Two pixels in different rows and columns span the box between them; another base.
  orv::MArray<double, 2> based(orv::Range(-2, 5), orv::Range(3, 9));
  based = 1.0e20;
  based(-1, 8) = 0.0;
  based(4, 4) = 2.0;
  expect_box(based, 1.0e20, -1, 4, 4, 8);
}

}  // namespace
