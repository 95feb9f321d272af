// Tests bad-pixel masking and the computed error image: disc sizes, border, non-finite values,
// and the masked images a run writes at verbosity 3 against a numpy rendering of the rule.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tarvole/masking.h"
#include "tarvole/pliste.h"
#include "tests/tarvole/tarvole_fixtures.h"

namespace {

using tarvole_test::Image;

int count_blank(const Image& a) {
  int n = 0;
  for (int y = 1; y <= a.last(2); ++y)
    for (int x = 1; x <= a.last(1); ++x) n += a(x, y) == blank_value;
  return n;
}

// Pixels of a 60 x 50 image within the squared distance `limit` (and the square `reach`) of (x, y).
int disc_pixels(int x, int y, int reach, double limit) {
  int n = 0;
  for (int yy = 1; yy <= 50; ++yy)
    for (int xx = 1; xx <= 60; ++xx) {
      const int dx = xx - x, dy = yy - y;
      n += std::abs(dx) <= reach && std::abs(dy) <= reach && double(dx) * dx + double(dy) * dy <= limit;
    }
  return n;
}

TEST(Masking, DiscsAroundBadPixels) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* what;
    int x, y;
    float value, error;
    int blanked;
  };
  const Case cases[] = {
      {"a 0.0 pixel blanks 69", 10, 10, 0.0f, 3.0f, 69},
      {"an error of -1 blanks 1313", 30, 25, 5.0f, -1.0f, 1313},
      {"an error of 0 blanks the small disc", 30, 25, 5.0f, 0.0f, 69},
      {"a negative error blanks the small disc", 30, 25, 5.0f, -0.5f, 69},
      {"NaN value", 30, 25, nan, 3.0f, 69},
      {"infinite value", 30, 25, -inf, 3.0f, 69},
      {"NaN error", 30, 25, 5.0f, nan, 69},
      {"infinite error", 30, 25, 5.0f, inf, 69},
      {"small disc at the corner", 1, 1, 0.0f, 3.0f, disc_pixels(1, 1, 4, 20.0)},
      {"large disc at the border", 3, 48, 5.0f, -1.0f, disc_pixels(3, 48, 20, 420.0)},
      {"large disc at the far corner", 60, 50, 5.0f, -1.0f, disc_pixels(60, 50, 20, 420.0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Image v(60, 50), e(60, 50), mv, me;
    v = 5.0f;
    e = 3.0f;
    v(c.x, c.y) = c.value;
    e(c.x, c.y) = c.error;
    mask_bad_pixels(v, e, mv, me, blank_value);
    EXPECT_EQ(count_blank(mv), c.blanked);
    EXPECT_EQ(count_blank(me), c.blanked);
    EXPECT_EQ(v(c.x == 60 ? 1 : 60, 1), 5.0f);  // the unmasked image stays as it was
    // Outside the disc the copies hold the input.
    EXPECT_EQ(mv(c.x > 30 ? 1 : 60, c.y > 25 ? 1 : 50), 5.0f);
  }
}

// Masking does not spread from blanked pixels: two bad pixels blank the union of their discs.
TEST(Masking, NoSpreadFromBlankedPixels) {
  Image v(60, 50), e(60, 50), mv, me;
  v = 5.0f;
  e = 3.0f;
  v(10, 10) = 0.0f;
  v(13, 10) = 0.0f;
  mask_bad_pixels(v, e, mv, me, blank_value);
  int expected = 0;
  for (int y = 1; y <= 50; ++y)
    for (int x = 1; x <= 60; ++x) {
      const auto near = [&](int cx) { return std::abs(x - cx) <= 4 && std::abs(y - 10) <= 4 && (x - cx) * (x - cx) + (y - 10) * (y - 10) <= 20; };
      expected += near(10) || near(13);
    }
  EXPECT_EQ(count_blank(mv), expected);
}

TEST(Masking, ErrorFromValues) {
  Image v(4, 1);
  v(1, 1) = 4.0f;
  v(2, 1) = 0.0f;
  v(3, 1) = -9.0f;
  v(4, 1) = 2.25f;
  const Image e = error_from_values(v);
  EXPECT_EQ(e(1, 1), 2.0f);
  EXPECT_EQ(e(2, 1), 0.0f);
  EXPECT_EQ(e(3, 1), 0.0f);
  EXPECT_EQ(e(4, 1), 1.5f);
}

// A run at verbosity 3 writes the masked reference and image with blanks as 0, equal to numpy's
// rendering of the rule; verbosity 2 writes none of them.
TEST(Masking, RunWritesMaskedImagesAtVerbosity3) {
  test_support::ScratchDir dir;
  long seed = -5;
  auto [R, I] = tarvole_test::galaxy_pair(70, 60, 35, 30, 10.0, -9);
  Image eR = tarvole_test::noisy(70, 60, 10.0f, 1.0f, seed), eI = tarvole_test::noisy(70, 60, 12.0f, 1.0f, seed);
  R(10, 12) = 0.0f;
  eR(40, 30) = -1.0f;
  eR(2, 58) = 0.0f;
  R(65, 5) = std::numeric_limits<float>::quiet_NaN();
  I(20, 40) = std::numeric_limits<float>::infinity();
  eI(69, 59) = -1.0f;
  eI(35, 20) = -2.0f;
  orv::writeFitsImage(dir / "ref.fits", R);
  orv::writeFitsImage(dir / "e.ref.fits", eR);
  orv::writeFitsImage(dir / "img.fits", I);
  orv::writeFitsImage(dir / "e.img.fits", eI);
  const auto run = tarvole_test::run_tarvole(dir.path, "-e -v 3 -a 6 -i 10 -g 35,30 -r 5:65,5:55 ref.fits img.fits");
  ASSERT_EQ(run.status, 0) << run.err;
  const auto check = test_support::runPythonIn(dir.path, R"(
import numpy as np
from astropy.io import fits
def mask(v, e):
    v = v.astype(np.float64); e = e.astype(np.float64)
    ny, nx = v.shape
    m = np.zeros(v.shape, bool)
    with np.errstate(invalid='ignore'):
        small = (v == 0) | ~(e > 0) | ~np.isfinite(v) | ~np.isfinite(e)
        large = e == -1
    for sel, reach, limit in ((small, 4, 20.0), (large, 20, 420.0)):
        for y, x in zip(*np.nonzero(sel)):
            for dy in range(-reach, reach + 1):
                for dx in range(-reach, reach + 1):
                    if dx * dx + dy * dy <= limit and 0 <= y + dy < ny and 0 <= x + dx < nx:
                        m[y + dy, x + dx] = True
    return m
bad = 0
for src, esrc, out, eout in (("ref.fits", "e.ref.fits", "ref_new.fits", "e.ref_new.fits"),
                             ("img.fits", "e.img.fits", "ima_new-bimg.fits", "e.ima_new-bimg.fits")):
    v = fits.getdata(src); e = fits.getdata(esrc)
    m = mask(v, e)
    for data, name in ((v, out), (e, eout)):
        want = np.where(m, 0.0, data).astype(np.float32)
        got = fits.getdata(name)
        if not np.array_equal(got, want):
            bad += 1
            print(name, np.count_nonzero(got != want))
print("masked", bad)
)");
  EXPECT_NE(check.out.find("masked 0"), std::string::npos) << check.out;

  for (const char* name : {"ref_new.fits", "e.ref_new.fits", "ima_new-bimg.fits", "e.ima_new-bimg.fits"})
    std::filesystem::remove(dir / name);
  const auto quiet = tarvole_test::run_tarvole(dir.path, "-e -v 2 -a 6 -i 10 -g 35,30 -r 5:65,5:55 ref.fits img.fits");
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  for (const char* name : {"ref_new.fits", "e.ref_new.fits", "ima_new-bimg.fits", "e.ima_new-bimg.fits"})
    EXPECT_FALSE(tarvole_test::exists(dir / name)) << name;
}

}  // namespace
