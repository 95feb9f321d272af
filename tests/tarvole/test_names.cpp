// Tests the derived file names (newname) and the occupied box of an image (nonan).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tarvole/names.h"

namespace {

TEST(Names, PrefixBeforeTheFileNamePart) {
  struct Case {
    const char* name;
    const char* prefix;
    const char* expected;
  };
  const Case cases[] = {
      {"img.fits", "b", "bimg.fits"},
      {"data/run1/img.fits", "e.b", "data/run1/e.bimg.fits"},
      {"dir/", "x", "dir/x"},
      {"a/b", "", "a/b"},
      {"dir/img.fits", "b", "dir/bimg.fits"},
      {"dir/img.fits", "e.b", "dir/e.bimg.fits"},
      {"dir/img.fits", "e.", "dir/e.img.fits"},
      {"/abs/x.y/img", "sky-", "/abs/x.y/sky-img"},
      {"a\\b.fits", "p", "pa\\b.fits"},  // only '/' separates
  };
  for (const Case& c : cases) EXPECT_EQ(newname(c.name, c.prefix), c.expected) << c.name << " + " << c.prefix;
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

TEST(Names, OccupiedBox) {
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
