// Images stored as scaled integers (BSCALE/BZERO) are calibrated from their physical values: the
// same field stored as float, as unsigned 16-bit (BZERO 32768), as 16-bit with BSCALE 0.5 and as
// 32-bit integers gives the same coefficients with every kind of method, error images included,
// and outputs that carry no stale scaling. A malformed scaling card is refused, naming the file
// and the card.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/tarvole/tarvole_fixtures.h"

namespace {

using test_support::ScratchDir;

const std::vector<std::string> encodings = {"float", "u16", "i16", "i32"};
const std::vector<std::string> coefficientKeys = {"ABSORP", "NSKY", "NSKYDX", "NSKYDY", "ABSIDX", "ABSIDY"};

// An n x n field of isolated stars (sixteen, or five on a field below 256 pixels) and a galaxy on
// a sky of 200 (ref.fits, with e.ref.fits and the star table stars.txt), and an image of it I = (R blurred) /
// 0.8 + 50 + plane with its error image, in whole numbers so that every encoding holds them exactly:
// img_<encoding>.fits and e.img_<encoding>.fits, written by astropy.
void make_encoded_field(const ScratchDir& dir, int n) {
  const auto made = test_support::runPythonIn(dir.path, "n = " + std::to_string(n) + R"(
import numpy as np
from astropy.io import fits
from scipy.ndimage import gaussian_filter
rng = np.random.default_rng(40)
c = n // 2
y, x = np.mgrid[1:n + 1, 1:n + 1]
R = 200.0 + 2000.0 * np.exp(-np.sqrt((x - c) ** 2 + 2 * (y - c) ** 2) / 25.0)
count, margin, gap = (16, 30, 35) if n >= 256 else (5, 20, 25)
stars = []
while len(stars) < count:
    sx, sy = rng.uniform(margin, n - margin, 2)
    if all((sx - a) ** 2 + (sy - b) ** 2 > gap ** 2 for a, b in stars) and (sx - c) ** 2 + (sy - c) ** 2 > (gap + 5) ** 2:
        stars.append((sx, sy))
for sx, sy in stars:
    R += rng.uniform(20000, 60000) / (2 * np.pi * 2.25) * np.exp(-((x - sx) ** 2 + (y - sy) ** 2) / 4.5)
I = gaussian_filter(R, 1.2) / 0.8 + 50 + 0.02 * (x - c) - 0.01 * (y - c)
R = np.rint(R + rng.normal(0, np.sqrt(R)))
I = np.clip(np.rint(I + rng.normal(0, np.sqrt(I))), 1, 16000)
eI = np.rint(np.sqrt(I))
fits.writeto("ref.fits", R.astype(np.float32))
fits.writeto("e.ref.fits", np.rint(np.sqrt(R)).astype(np.float32))

def write(name, values, encoding):
    if encoding == "float":
        hdu = fits.PrimaryHDU(values.astype(np.float32))
    elif encoding == "u16":
        hdu = fits.PrimaryHDU(values.astype(np.uint16))  # stored as BITPIX 16 with BZERO 32768
    elif encoding == "i32":
        hdu = fits.PrimaryHDU(values.astype(np.int32))
    else:
        hdu = fits.PrimaryHDU((2 * values).astype(np.int16))
        hdu.header["BSCALE"] = 0.5
        hdu.header["BZERO"] = 0.0
    hdu.writeto(name)

for encoding in ["float", "u16", "i16", "i32"]:
    write("img_%s.fits" % encoding, I, encoding)
    write("e.img_%s.fits" % encoding, eI, encoding)
with open("stars.txt", "w") as t:
    t.writelines("%d %.3f %.3f\n" % (k + 1, sx, sy) for k, (sx, sy) in enumerate(stars))
with fits.open("img_u16.fits", do_not_scale_image_data=True) as h:
    print("made", h[0].header["BITPIX"], h[0].header["BZERO"])
)");
  ASSERT_NE(made.out.find("made 16 32768"), std::string::npos) << made.out;
}

struct Method {
  const char* what;
  int n;  // the field's side
  std::string options;
};

void PrintTo(const Method& m, std::ostream* os) { *os << m.what; }

class ScaledImages : public ::testing::TestWithParam<Method> {};

TEST_P(ScaledImages, CoefficientsAgreeWithTheFloatImage) {
  const int n = GetParam().n;
  ScratchDir dir;
  make_encoded_field(dir, n);
  std::string images;
  for (const std::string& e : encodings) images += " img_" + e + ".fits";
  const std::string centre = " -g " + std::to_string(n / 2) + "," + std::to_string(n / 2);
  const auto run = tarvole_test::run_tarvole(dir.path, GetParam().options + centre + " ref.fits" + images);
  ASSERT_EQ(run.status, 0) << run.err;

  const std::string floatOutput = dir / "bimg_float.fits";
  const tarvole_test::Image floatPixels = orv::readFitsImage<float>(floatOutput, true);
  for (const std::string& e : encodings) {
    SCOPED_TRACE(e);
    const std::string output = dir / ("bimg_" + e + ".fits");
    for (const std::string& key : coefficientKeys) {
      const double want = tarvole_test::card_value(floatOutput, key),
                   got = tarvole_test::card_value(output, key);
      EXPECT_LE(std::fabs(got - want), 1e-6 * std::fabs(want)) << key << ": " << got << " against " << want;
    }
    // The output holds physical values as floats, with no scaling card left from the input.
    std::string report;
    EXPECT_TRUE(test_support::fitsverifyClean(output, &report)) << report;
    EXPECT_TRUE(tarvole_test::cards_named(tarvole_test::header_cards(output), {"BSCALE", "BZERO"}).empty());
    const tarvole_test::Image pixels = orv::readFitsImage<float>(output, true);
    float worst = 0.0f;
    for (int y = 1; y <= n; ++y)
      for (int x = 1; x <= n; ++x)
        worst = std::max(worst, std::fabs(pixels(x, y) - floatPixels(x, y)) /
                                    std::max(1.0f, std::fabs(floatPixels(x, y))));
    EXPECT_LE(worst, 1e-6f);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Methods, ScaledImages,
    ::testing::Values(Method{"free_absorption", 256, "-r 10:246,10:246 -a 4 -i 20"},
                      Method{"with_error_images", 256, "-e -r 10:246,10:246 -a 4 -i 20"},
                      // The spline's knots stand three 61-pixel cells apart.
                      Method{"binned_spline", 600, "-m -r 1:600,1:600 -a 10 -i 20"},
                      // A small field: the reference products are written for every star.
                      Method{"difference_imaging_of_stars", 128, "--ref -d -t stars.txt"}),
    [](const ::testing::TestParamInfo<Method>& info) { return std::string(info.param.what); });

// A scaling card that cannot be read as a number ends the run with a message that names the
// file and the card as the file holds it; the image gets no output.
TEST(ScaledImagesRefused, MalformedScalingCard) {
  ScratchDir dir;
  const auto pair = tarvole_test::galaxy_pair(40, 30, 20, 15, 5.0, -3);
  orv::writeFitsImage(dir / "ref.fits", pair.R);
  {
    // A string card under a stand-in keyword, renamed in the file afterwards.
    orv::FitsOut out(dir / "img.fits");
    out.addValueCard("BSCALX  ", std::string("half"), "", true);
    out << pair.I;
  }
  std::string bytes = test_support::readText(dir / "img.fits");
  bytes.replace(bytes.find("BSCALX  "), 8, "BSCALE  ");
  test_support::writeText(dir / "img.fits", bytes);
  const auto run = tarvole_test::run_tarvole(dir.path, "-g 20,15 -r 3:38,3:28 -a 4 -i 5 ref.fits img.fits");
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.err.find("malformed scaling card in file 'img.fits': BSCALE  = 'half    '"),
            std::string::npos)
      << run.err;
  EXPECT_FALSE(tarvole_test::exists(dir / "bimg.fits"));
}

}  // namespace
