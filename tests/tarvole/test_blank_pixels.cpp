// Undefined pixels of an integer image, those that hold the value of its BLANK card, take no part
// in a calibration: they are masked as NaN pixels are. A 16-bit image with BZERO 4000 whose
// BLANK 32767 (physical 36767, far above every real pixel) stands on 1,000 pixels gives the
// coefficients and the output of its float twin, the same field with NaN on those pixels. Read
// as data, the blank pixels would drag the fit and come out as bright "stars".
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tests/tarvole/tarvole_fixtures.h"

namespace {

using test_support::ScratchDir;

constexpr int kSide = 400;

// ref.fits (with e.ref.fits), a field of a galaxy and stars on a sky of 200, and an image of it
// I = R / 0.8 + 50 + plane in whole numbers, with its error image, written twice by astropy:
// img_float.fits and e.img_float.fits as floats with NaN on 1,000 pixels, img_blank.fits and
// e.img_blank.fits as 16-bit integers with BZERO 4000 and BLANK 32767 on the same pixels.
void make_blank_field(const ScratchDir& dir) {
  const auto made = test_support::runPythonIn(dir.path, "n = " + std::to_string(kSide) + R"(
import numpy as np
from astropy.io import fits
rng = np.random.default_rng(51)
c = n // 2
y, x = np.mgrid[1:n + 1, 1:n + 1]
R = 200.0 + 2000.0 * np.exp(-np.sqrt((x - c) ** 2 + 2 * (y - c) ** 2) / 25.0)
for sx, sy in rng.uniform(30, n - 30, (20, 2)):
    R += rng.uniform(5000, 30000) / (2 * np.pi * 2.25) * np.exp(-((x - sx) ** 2 + (y - sy) ** 2) / 4.5)
I = R / 0.8 + 50 + 0.02 * (x - c) - 0.01 * (y - c)
R = np.rint(R + rng.normal(0, np.sqrt(R)))
I = np.clip(np.rint(I + rng.normal(0, np.sqrt(I))), 1, 30000)
eI = np.rint(np.sqrt(I))
fits.writeto("ref.fits", R.astype(np.float32))
fits.writeto("e.ref.fits", np.rint(np.sqrt(R)).astype(np.float32))
undefined = rng.choice(n * n, 1000, replace=False)

def write(name, values):
    twin = values.astype(np.float32)
    twin.flat[undefined] = np.nan
    fits.writeto(name % "float", twin)
    stored = (values - 4000).astype(np.int16)
    stored.flat[undefined] = 32767
    hdu = fits.PrimaryHDU(stored)
    hdu.header["BLANK"] = 32767
    hdu.writeto(name % "blank")
    # Set after writing: the stored values are already the scaled ones.
    with fits.open(name % "blank", mode="update", do_not_scale_image_data=True) as hdus:
        hdus[0].header["BZERO"] = 4000

for name, values in (("img_%s.fits", I), ("e.img_%s.fits", eI)):
    write(name, values)
    # astropy reads the integer image as its float twin, NaN on the blank pixels.
    blank, twin = fits.getdata(name % "blank"), fits.getdata(name % "float")
    same = np.array_equal(blank, twin, equal_nan=True)
    print("made", name % "blank", int(np.isnan(blank).sum()), same)
)");
  ASSERT_NE(made.out.find("made img_blank.fits 1000 True"), std::string::npos) << made.out;
  ASSERT_NE(made.out.find("made e.img_blank.fits 1000 True"), std::string::npos) << made.out;
}

struct Method {
  const char* what;
  std::string options;
  bool errorImages;  // the output error images are compared too
};

void PrintTo(const Method& m, std::ostream* os) { *os << m.what; }

class BlankPixels : public ::testing::TestWithParam<Method> {};

TEST_P(BlankPixels, CalibrateAsTheirNanTwin) {
  ScratchDir dir;
  make_blank_field(dir);
  const std::string centre = " -g " + std::to_string(kSide / 2) + "," + std::to_string(kSide / 2);
  const auto run = tarvole_test::run_tarvole(
      dir.path, GetParam().options + centre + " ref.fits img_float.fits img_blank.fits");
  ASSERT_EQ(run.status, 0) << run.err;

  const std::string twinOutput = dir / "bimg_float.fits", output = dir / "bimg_blank.fits";
  for (const char* key : {"ABSORP", "NSKY", "NSKYDX", "NSKYDY"}) {
    const double want = tarvole_test::card_value(twinOutput, key),
                 got = tarvole_test::card_value(output, key);
    EXPECT_LE(std::fabs(got - want), 1e-3 * std::fabs(want)) << key << ": " << got << " against " << want;
  }
  std::string report;
  EXPECT_TRUE(test_support::fitsverifyClean(output, &report)) << report;

  // The corrected image: every pixel as in the twin's, the blank pixels among them.
  const std::vector<std::string> prefixes =
      GetParam().errorImages ? std::vector<std::string>{"", "e."} : std::vector<std::string>{""};
  for (const std::string& prefix : prefixes) {
    SCOPED_TRACE(prefix + "bimg_blank.fits");
    const tarvole_test::Image twin = orv::readFitsImage<float>(dir / (prefix + "bimg_float.fits"), true);
    const tarvole_test::Image pixels = orv::readFitsImage<float>(dir / (prefix + "bimg_blank.fits"), true);
    int wrong = 0;
    for (int y = 1; y <= kSide; ++y)
      for (int x = 1; x <= kSide; ++x) {
        const float want = twin(x, y), got = pixels(x, y);
        const bool differ = std::isnan(got) != std::isnan(want) ||
                            std::fabs(got - want) > 1e-3f * std::max(1.0f, std::fabs(want));
        if (differ && ++wrong <= 3)
          ADD_FAILURE() << "pixel (" << x << ", " << y << "): " << got << ", want " << want;
      }
    EXPECT_EQ(wrong, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Methods, BlankPixels,
    ::testing::Values(Method{"free_absorption", "-r 10:390,10:390 -a 4 -i 20", false},
                      Method{"with_error_images", "-e -r 10:390,10:390 -a 4 -i 20", true},
                      Method{"binned_spline", "-m -r 1:400,1:400 -a 10 -i 20", false}),
    [](const ::testing::TestParamInfo<Method>& info) { return std::string(info.param.what); });

}  // namespace
