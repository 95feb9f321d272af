// Tests the block binning of one image: the 1241-pixel threshold and the occupied box.
#include <gtest/gtest.h>

#include "tarvole/binning.h"

namespace {

// Cell (0, 0) around (100, 100) keeps exactly `usable` of its 2933 pixels (the others are
// blanked from its top rows down); its pixel (100, 70) holds 10 + usable and all others 10, so
// its mean is 11. Columns from 181 on are blank: the occupied box ends at 180.
TEST(Binning, ThresholdAndOccupiedBox) {
  const float blank = 1e20f;
  struct Case {
    int usable;
    float centreValue;
  } cases[] = {{1241, 11.0f}, {1240, blank}, {2933, 11.0f}};
  for (const Case& c : cases) {
    orv::MArray<float, 2> X(200, 200), out(200, 200);
    for (int y = 1; y <= 200; ++y)
      for (int x = 1; x <= 200; ++x) X(x, y) = x > 180 ? blank : 10.0f;
    X(100, 70) = 10.0f + c.usable;
    int toBlank = 2933 - c.usable;
    for (int j = 30; j >= -30 && toBlank > 0; --j)
      for (int i = -30; i <= 30 && toBlank > 0; ++i)
        if (i * i + j * j < 930) {
          X(100 + i, 100 + j) = blank;
          --toBlank;
        }
    Pliste P;
    P.cx = P.cy = 100;
    binning(X, out, P);
    EXPECT_EQ(out(100, 100), c.centreValue) << c.usable;
    EXPECT_EQ(out(70, 130), c.centreValue) << "the square's corner";
    EXPECT_EQ(out(161, 100), 10.0f) << "a full neighbour";
    EXPECT_EQ(out(181, 100), 0.0f) << "outside the occupied box";
    EXPECT_EQ(out(200, 200), 0.0f);
  }
}

}  // namespace
