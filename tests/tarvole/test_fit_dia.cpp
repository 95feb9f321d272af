// Tests difference imaging over stars and over the field end to end on synthetic fields:
// coefficients and the sky against the truth, reuse of the reference products, the printed
// lines, skipped stars, a single star, failing tables and missing products.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tarvole/fit_fielddia.h"
#include "tarvole/masking.h"
#include "tests/tarvole/tarvole_fixtures.h"

namespace {

using tarvole_test::Image;
using test_support::ScratchDir;

// A 256 x 256 reference of isolated Gaussian stars (sigma 1.5) on a sky of 200 in dir/sub/, and
// I = (R convolved with a Gaussian of sigma 1.2) / 0.8 + 50 + plane, with a star table.
void make_star_field(const ScratchDir& dir, double gradient) {
  const auto made = test_support::runPythonIn(dir.path, R"(
import numpy as np, os
from astropy.io import fits
from scipy.ndimage import gaussian_filter
rng = np.random.default_rng(11)
n = 256
R = np.full((n, n), 200.0)
y, x = np.mgrid[1:n + 1, 1:n + 1]
stars = []
while len(stars) < 16:
    sx, sy = rng.uniform(30, n - 30, 2)
    if all((sx - a) ** 2 + (sy - b) ** 2 > 35 ** 2 for a, b in stars):
        stars.append((sx, sy))
for sx, sy in stars:
    R += rng.uniform(20000, 60000) / (2 * np.pi * 2.25) * np.exp(-((x - sx) ** 2 + (y - sy) ** 2) / 4.5)
I = gaussian_filter(R, 1.2) / 0.8 + 50 + )" + std::to_string(gradient) +
                                                            R"( * ((x - 128) + (y - 128))
os.makedirs("sub", exist_ok=True)
fits.writeto("sub/R.fits", (R + rng.normal(0, np.sqrt(R))).astype(np.float32))
fits.writeto("I.fits", (I + rng.normal(0, np.sqrt(I))).astype(np.float32))
fits.writeto("I2.fits", (I + rng.normal(0, np.sqrt(I))).astype(np.float32))  # another noise draw
with open("stars.txt", "w") as t:
    t.write("# id x y\n")
    t.writelines("%d %.3f %.3f\n" % (k + 1, sx, sy) for k, (sx, sy) in enumerate(stars))
    t.write("17 -40.0 100.0\n18 120.0 9999.0\n")
with open("nostars.txt", "w") as t:
    t.write("1 -40.0 100.0\n")
with open("onestar.txt", "w") as t:
    t.write("1 %.3f %.3f\n2 -40.0 100.0\n" % stars[0])
print("made")
)");
  ASSERT_NE(made.out.find("made"), std::string::npos) << made.out;
}

double card(const std::string& file, const std::string& key) {
  for (const std::string& c : tarvole_test::header_cards(file))
    if (c.compare(0, key.size(), key) == 0) return std::stod(c.substr(10, 20));
  return -12345.0;
}

void expect_verified(const std::string& file) {
  std::string report;
  test_support::fitsverifyReport(file, &report);
  EXPECT_NE(report.find("found 0 warning(s) and 0 error(s)"), std::string::npos) << file << "\n" << report;
}

TEST(FitDia, StarsWithReferenceStepThenReused) {
  ScratchDir dir;
  make_star_field(dir, 0.0);
  const auto run = tarvole_test::run_tarvole(dir.path, "--ref -d -t stars.txt -v 2 sub/R.fits I.fits");
  ASSERT_EQ(run.status, 0) << run.err << run.out.substr(run.out.size() > 3000 ? run.out.size() - 3000 : 0);
  EXPECT_TRUE(tarvole_test::exists(dir / "sub/image_r.fits"));  // the products live beside the reference
  const std::size_t median = run.out.find(" median(abs) = ");
  ASSERT_NE(median, std::string::npos);
  EXPECT_NEAR(std::stod(run.out.substr(median + 15, 12)), 0.8, 0.01);
  EXPECT_NE(run.out.find("star 17 at"), std::string::npos);  // outside the image: skipped
  EXPECT_NE(run.out.find("star 18 at"), std::string::npos);
  const double absorp = card(dir / "bI.fits", "ABSORP  "), nsky = card(dir / "bI.fits", "NSKY    ");
  EXPECT_NEAR(absorp, 0.8, 0.008);
  EXPECT_NEAR(nsky, 40.0, 1.2);
  EXPECT_EQ(card(dir / "bI.fits", "NSKYDX  "), 0.0);
  const auto binned = orv::readFitsImage<float>(dir / "abs_dia-bI.fits", true);
  EXPECT_EQ(binned.length(1), 64);
  EXPECT_EQ(binned.length(2), 64);
  for (const char* name : {"bI.fits", "abs_dia-bI.fits", "sky_dia-bI.fits", "sky-bI.fits"})
    expect_verified(dir / name);

  // Without --ref the products are reused: the same image gives the same cards.
  std::filesystem::remove(dir / "bI.fits");
  const auto again = tarvole_test::run_tarvole(dir.path, "-d -t stars.txt sub/R.fits I.fits");
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(card(dir / "bI.fits", "ABSORP  "), absorp);
  EXPECT_EQ(card(dir / "bI.fits", "NSKY    "), nsky);
  // Another noise draw of the same image gives close ones: with 16 stars a draw moves them by
  // about 1 % and 5 %.
  const auto other = tarvole_test::run_tarvole(dir.path, "-d -t stars.txt sub/R.fits I2.fits");
  ASSERT_EQ(other.status, 0) << other.err;
  EXPECT_NEAR(card(dir / "bI2.fits", "ABSORP  "), 0.8, 0.01);
  EXPECT_NEAR(card(dir / "bI2.fits", "NSKY    "), 40.0, 2.0);

  // A table without a usable star: the image fails with that cause and gets no output.
  std::filesystem::remove(dir / "bI.fits");
  const auto none = tarvole_test::run_tarvole(dir.path, "-d -t nostars.txt sub/R.fits I.fits");
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.out.find("no good star"), std::string::npos);
  EXPECT_NE(none.err.find("I.fits: no good star, no output written\n"), std::string::npos) << none.err;
  EXPECT_FALSE(tarvole_test::exists(dir / "bI.fits"));

  // One good star: the sky scatter is undefined, the image is still written with the star's
  // measurement, and the error stream says why the sky error is missing.
  const auto one = tarvole_test::run_tarvole(dir.path, "-d -t onestar.txt sub/R.fits I.fits");
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_NE(one.err.find("warning: the sky error of bI.fits cannot be estimated from one star\n"),
            std::string::npos)
      << one.err;
  EXPECT_NEAR(card(dir / "bI.fits", "ABSORP  "), 0.8, 0.03);
  EXPECT_NEAR(card(dir / "bI.fits", "NSKY    "), 40.0, 6.0);
  expect_verified(dir / "bI.fits");
}

TEST(FitDia, MissingProductsEndTheRun) {
  ScratchDir dir;
  make_star_field(dir, 0.0);
  const auto run = tarvole_test::run_tarvole(dir.path, "-d -t stars.txt sub/R.fits I.fits");
  EXPECT_NE(run.status, 0);
}

// A 1024 x 1024 field: about 300 isolated stars (sigma 1.5) on a sky of 200 in sub/R.fits, and
// I = (R convolved with a Gaussian of sigma 1) / 0.8 + B, B a plane plus a smooth bump; B is
// written as the truth.
void make_smooth_sky_field(const ScratchDir& dir) {
  const auto made = test_support::runPythonIn(dir.path, R"(
import numpy as np, os
from astropy.io import fits
from scipy.ndimage import gaussian_filter
rng = np.random.default_rng(23)
n = 1024
R = np.full((n, n), 200.0)
stars = []
while len(stars) < 300:
    sx, sy = rng.uniform(20, n - 20, 2)
    if all((sx - a) ** 2 + (sy - b) ** 2 > 30 ** 2 for a, b in stars):
        stars.append((sx, sy))
for sx, sy in stars:
    x0, y0 = int(sx) - 12, int(sy) - 12
    y, x = np.mgrid[y0:y0 + 25, x0:x0 + 25]  # pixel numbers from 1, rows are y
    R[y - 1, x - 1] += rng.uniform(20000, 60000) / (2 * np.pi * 2.25) * np.exp(-((x - sx) ** 2 + (y - sy) ** 2) / 4.5)
y, x = np.mgrid[1:n + 1, 1:n + 1]
B = 50 + 0.01 * (x - 512) - 0.005 * (y - 512) + 10 * np.exp(-((x - 600) ** 2 + (y - 400) ** 2) / (2 * 250.0 ** 2))
I = gaussian_filter(R, 1.0) / 0.8 + B
os.makedirs("sub", exist_ok=True)
fits.writeto("sub/R.fits", (R + rng.normal(0, np.sqrt(R))).astype(np.float32))
fits.writeto("I.fits", (I + rng.normal(0, np.sqrt(I))).astype(np.float32))
fits.writeto("B.fits", B.astype(np.float32))
print("made")
)");
  ASSERT_NE(made.out.find("made"), std::string::npos) << made.out;
}

// The field method over the region 100:924 of a 1024 x 1024 field: one kernel over the region
// gives the absorption, the sky follows A*B over the region, and I and eI are left as they were.
TEST(FitDia, Field) {
  ScratchDir dir;
  make_smooth_sky_field(dir);
  const auto run = tarvole_test::run_tarvole(
      dir.path, "--ref --fielddiffima --ordsky 0 -r 100:924,100:924 sub/R.fits I.fits");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find(" difference imaging in field 100:924,100:924\n"), std::string::npos);
  EXPECT_NE(run.out.find(" boxlen = 825\n"), std::string::npos);
  EXPECT_NEAR(card(dir / "bI.fits", "ABSORP  "), 0.8, 0.008);
  for (const char* key : {"NSKYDX  ", "NSKYDY  ", "ABSIDX  ", "ABSIDY  "})
    EXPECT_EQ(card(dir / "bI.fits", key), 0.0);
  expect_verified(dir / "bI.fits");

  // The method itself on the products the run left: S against A*B.
  const Image R = orv::readFitsImage<float>(dir / "sub/R.fits", true),
              I = orv::readFitsImage<float>(dir / "I.fits", true);
  const Image B = orv::readFitsImage<float>(dir / "B.fits", true);
  const Image eR = error_from_values(R), eI = error_from_values(I);
  Image I_before(I.getShape()), eI_before(eI.getShape()), A(I.getShape()), S(I.getShape());
  I_before = I;
  eI_before = eI;
  A = blank_value;
  S = blank_value;
  Pliste P;
  P.ordsky = 0;
  P.region.setRange(1, 100, 924);
  P.region.setRange(2, 100, 924);
  P.refdir = dir / "sub/";
  P.outname = dir / "bI.fits";
  orv::MArray<double, 1> c(6);
  ::testing::internal::CaptureStdout();
  fit_fielddia(R, eR, I, eI, A, S, c, P);
  const std::string out = ::testing::internal::GetCapturedStdout();
  ASSERT_FALSE(P.fit_failed) << out;
  EXPECT_NEAR(c(1), 0.8, 0.008);
  for (int k = 3; k <= 6; ++k) EXPECT_EQ(c(k), 0.0) << k;
  double squares = 0.0;
  for (int y = 100; y <= 924; ++y)
    for (int x = 100; x <= 924; ++x) {
      EXPECT_EQ(A(x, y), static_cast<float>(c(1)));
      squares += (S(x, y) - c(1) * B(x, y)) * (S(x, y) - c(1) * B(x, y));
    }
  EXPECT_LT(std::sqrt(squares / (825.0 * 825.0)), 1.0);
  for (int y = 1; y <= 1024; ++y)
    for (int x = 1; x <= 1024; ++x) {
      ASSERT_EQ(I(x, y), I_before(x, y)) << x << " " << y;
      ASSERT_EQ(eI(x, y), eI_before(x, y)) << x << " " << y;
    }
}

}  // namespace
