// Tests the program's spline sky methods end to end on 2048² scenes: sky_new (-s), the
// binned-spline absorption fit (-h, -m) and the row-wise sky (--fielddiffimaY).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "tests/support/python_reference.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_file.h"
#include "tests/tarvole/tarvole_fixtures.h"

namespace {

using tarvole_test::card_value;

constexpr int n = 2048;
constexpr float blank = 1e20f;

// Every FITS file named passes fitsverify without warnings or errors.
void expectVerified(const std::string& dir, std::initializer_list<std::string> files) {
  for (const std::string& f : files) {
    std::string report;
    EXPECT_TRUE(std::ifstream(dir + "/" + f).good()) << f;
    EXPECT_TRUE(test_support::fitsverifyClean(dir + "/" + f, &report)) << f << "\n" << report;
  }
}

// I = R/0.8 + 50 + plane + 10 sin cos + noise: ABSORP near 0.8 and the sky, given its own
// absorption, within 1 count RMS of A·I_model − R_model where it is set.
TEST(SkyNew, AbsorptionAndSkyOfTheScene) {
  const std::string dir = test_support::programScratchDir("sky_new");
  const orv::MArray<float, 2> Rm = tarvole_test::sky_reference(n, 1070, 1077, 11);
  orv::MArray<float, 2> Im(n, n);
  auto truthSky = [](int x, int y) {
    return 50.0 + 0.01 * (x - 1070) - 0.005 * (y - 1077) +
           10.0 * std::sin(2 * M_PI * x / 1500.0) * std::cos(2 * M_PI * y / 1300.0);
  };
  for (int y = 1; y <= n; ++y)
    for (int x = 1; x <= n; ++x) Im(x, y) = static_cast<float>(Rm(x, y) / 0.8 + truthSky(x, y));
  orv::writeFitsImage(dir + "/R.fits", tarvole_test::with_noise(Rm, 1, 14.0));
  orv::writeFitsImage(dir + "/I.fits", tarvole_test::with_noise(Im, 2, 16.0));
  const auto run = tarvole_test::run_tarvole(dir, "-s -v 2 R.fits I.fits");
  ASSERT_EQ(run.status, 0) << run.out;

  const double absorp = card_value(dir + "/bI.fits", "ABSORP");
  EXPECT_NEAR(absorp, 0.8, 0.004);
  const orv::MArray<float, 2> A = orv::readFitsImage<float>(dir + "/abs-bI.fits", true),
                              S = orv::readFitsImage<float>(dir + "/sky-bI.fits", true);
  const orv::MArray<float, 2> corrected = orv::readFitsImage<float>(dir + "/bI.fits", true);
  double sum2 = 0.0;
  long count = 0;
  int covered0 = n, covered1 = 0;
  for (int y = 1; y <= n; ++y)
    for (int x = 1; x <= n; ++x) {
      if (A(x, y) == blank) {
        EXPECT_EQ(corrected(x, y), 0.0f);
        continue;
      }
      covered0 = std::min(covered0, x);
      covered1 = std::max(covered1, x);
      EXPECT_FLOAT_EQ(A(x, y), static_cast<float>(absorp));
      const double truth = absorp * (Rm(x, y) / 0.8 + truthSky(x, y)) - Rm(x, y);
      sum2 += std::pow(S(x, y) - truth, 2);
      ++count;
    }
  EXPECT_LT(std::sqrt(sum2 / count), 1.0);
  // Cells reach from centre 33 to 2047 + 30 in x: the covered area is the outer cell centres ± 30.
  EXPECT_EQ(covered0, 3);
  EXPECT_EQ(covered1, n);
  EXPECT_NE(run.out.find("      iteration    abs=Ima/Ref"), std::string::npos);
  expectVerified(dir, {"bI.fits", "abs-bI.fits", "sky-bI.fits", "skybinned-bI.fits", "sky_binspline-bI.fits",
                       "sky_binspline_bin-bI.fits", "sky_binspline_median-bI.fits"});
}

// Constant absorption: -h and -m give A near 0.8 and S near 40 away from the border; -m -h
// gives exactly the -h images.
TEST(FitAbsBinspline, ConstantAbsorption) {
  const std::string dir = test_support::programScratchDir("abs_binspline");
  const orv::MArray<float, 2> Rm = tarvole_test::sky_reference(n, 1070, 1077, 12);
  orv::MArray<float, 2> Im(n, n);
  for (int y = 1; y <= n; ++y)
    for (int x = 1; x <= n; ++x) Im(x, y) = static_cast<float>(Rm(x, y) / 0.8 + 50.0);
  orv::writeFitsImage(dir + "/R.fits", tarvole_test::with_noise(Rm, 3, 14.0));
  orv::writeFitsImage(dir + "/I.fits", tarvole_test::with_noise(Im, 4, 16.0));
  struct Case {
    const char* args;
    const char* prefix;
  } cases[] = {{"-h -p h", "h"}, {"-m -p m", "m"}, {"-m -h -p mh -v 2", "mh"}};
  for (const Case& c : cases) {
    const auto run = tarvole_test::run_tarvole(dir, std::string(c.args) + " R.fits I.fits");
    ASSERT_EQ(run.status, 0) << c.args << run.out;
    EXPECT_NE(run.out.find(" sampling points: 9\n"), std::string::npos) << c.args;
    const std::string name = dir + "/" + c.prefix + "I.fits";
    for (const char* key : {"NSKYDX", "NSKYDY", "ABSIDX", "ABSIDY"})
      EXPECT_EQ(card_value(name, key), 0.0) << key;
    const double absorp = card_value(name, "ABSORP"), nsky = card_value(name, "NSKY");
    EXPECT_NEAR(absorp, 0.8, 0.004) << c.args;
    EXPECT_NEAR(nsky, 40.0, 1.0) << c.args;
  }
  // The per-pixel images of -m -h (verbose 2): A and S near the truth away from a 64-px border,
  // and the centre pixel's values on the cards.
  const orv::MArray<float, 2> A = orv::readFitsImage<float>(dir + "/abs-mhI.fits", true),
                              S = orv::readFitsImage<float>(dir + "/sky-mhI.fits", true);
  for (int y = 65; y <= n - 64; y += 7)
    for (int x = 65; x <= n - 64; x += 7) {
      ASSERT_NEAR(A(x, y), 0.8, 0.004) << x << "," << y;
      ASSERT_NEAR(S(x, y), 40.0, 1.0) << x << "," << y;
    }
  EXPECT_DOUBLE_EQ(card_value(dir + "/mhI.fits", "ABSORP"), static_cast<double>(A(n / 2, n / 2)));
  EXPECT_DOUBLE_EQ(card_value(dir + "/mhI.fits", "NSKY"), static_cast<double>(S(n / 2, n / 2)));
  // -m -h is -h: the corrected images agree bit for bit.
  const orv::MArray<float, 2> h = orv::readFitsImage<float>(dir + "/hI.fits", true),
                              mh = orv::readFitsImage<float>(dir + "/mhI.fits", true);
  for (int y = 1; y <= n; y += 3)
    for (int x = 1; x <= n; x += 3) ASSERT_EQ(h(x, y), mh(x, y)) << x << "," << y;
  expectVerified(dir, {"hI.fits", "mI.fits", "mhI.fits", "abs_binspline-mhI.fits",
                       "abs_binspline_bin-mhI.fits", "abs_binspline_median-mhI.fits"});
}

// A smoothly varying absorption on a 600² field: the A and S images of -h, -h -c and -m equal a
// numpy rendering of the method's steps (the plane fit's single absorption does not follow the
// variation, so the truth is no yardstick here).
TEST(FitAbsBinspline, AgreesWithIndependentRendering) {
  const std::string dir = test_support::programScratchDir("abs_binspline_reference");
  constexpr int m = 600;
  const orv::MArray<float, 2> Rm = tarvole_test::sky_reference(m, 310, 290, 14);
  orv::MArray<float, 2> Im(m, m);
  for (int y = 1; y <= m; ++y)
    for (int x = 1; x <= m; ++x) {
      const double a = 0.8 * (1 + 0.02 * std::cos(2 * M_PI * x / 2500.0) * std::cos(2 * M_PI * y / 2500.0));
      Im(x, y) = static_cast<float>(Rm(x, y) / a + 50.0);
    }
  orv::writeFitsImage(dir + "/R.fits", tarvole_test::with_noise(Rm, 15, 3.0));
  orv::writeFitsImage(dir + "/I.fits", tarvole_test::with_noise(Im, 16, 3.0));
  struct Case {
    const char* flags;
    const char* prefix;
    const char* options;
  } cases[] = {{"-h", "h", "h"}, {"-h -c", "hc", "hc"}, {"-m", "m", "m"}};
  for (const Case& c : cases) {
    const auto run =
        tarvole_test::run_tarvole(dir, std::string(c.flags) + " -v 2 -p " + c.prefix +
                                           " -r 1:600,1:600 -i 20 -a 10 -g 310,290 R.fits I.fits");
    ASSERT_EQ(run.status, 0) << c.flags;
    std::string report;
    EXPECT_EQ(
        test_support::runCommand(test_support::pythonCommand(
                                     ORV_SOURCE_DIR "/tests/tarvole/fit_abs_binspline_reference.py " + dir +
                                     " " + c.prefix + " " + c.options + " 1 600 1 600 20 10 310 290 2>&1"),
                                 &report),
        0)
        << c.flags << "\n"
        << report;
  }
}

// Flat images make every plane fit singular (rounding may hide it from the pivots): each method
// reports it, names the image and the cause on the error stream, writes no output for it, and
// the run ends with status 1.
TEST(SplineMethods, FlatImagesFailWithoutOutput) {
  const std::string dir = test_support::programScratchDir("flat");
  orv::MArray<float, 2> R(700, 700), I(700, 700);
  R = 137.3f;
  I = 91.7f;
  orv::writeFitsImage(dir + "/R.fits", R);
  orv::writeFitsImage(dir + "/I.fits", I);
  for (const char* flags : {"-s", "-m", "-h", "-w", "-n", "-c", "-b"}) {
    const auto run =
        tarvole_test::run_tarvole(dir, std::string(flags) + " -g 350,350 -r 1:700,1:700 R.fits I.fits");
    EXPECT_EQ(run.status, 1) << flags;
    EXPECT_NE(run.out.find(" Fehler in Angleichung"), std::string::npos) << flags;
    const std::string& err = run.err;
    EXPECT_NE(err.find("I.fits: singular fit, no output written\n"), std::string::npos) << flags << "\n"
                                                                                        << err;
    EXPECT_FALSE(std::filesystem::exists(dir + "/bI.fits")) << flags;
  }
}

// I = R + 30 + 0.01 (y - 1024) with stars 50 % brighter than in R: the mask keeps the stars out,
// every row of S is constant and within 0.3 counts of the truth.
TEST(RowSky, SkyVariesWithRowsOnly) {
  const std::string dir = test_support::programScratchDir("row_sky");
  const orv::MArray<float, 2> Rm = tarvole_test::sky_reference(n, 1070, 1077, 13);
  const orv::MArray<float, 2> brighter = tarvole_test::sky_reference(n, 1070, 1077, 13, 1.5);
  orv::MArray<float, 2> Im(n, n);
  for (int y = 1; y <= n; ++y)
    for (int x = 1; x <= n; ++x) Im(x, y) = static_cast<float>(brighter(x, y) + 30.0 + 0.01 * (y - 1024));
  orv::writeFitsImage(dir + "/R.fits", tarvole_test::with_noise(Rm, 5, 14.0));
  orv::writeFitsImage(dir + "/I.fits", tarvole_test::with_noise(Im, 6, 14.0));
  const auto run = tarvole_test::run_tarvole(dir, "--fielddiffimaY -v 1 R.fits I.fits");
  ASSERT_EQ(run.status, 0) << run.out;
  for (const char* word : {"HALLO\n", "HALLO1\n", "HALLO2\n"})
    EXPECT_NE(run.out.find(word), std::string::npos) << word;
  EXPECT_EQ(card_value(dir + "/bI.fits", "ABSORP"), 1.0);
  const orv::MArray<float, 2> S = orv::readFitsImage<float>(dir + "/sky-bI.fits", true);
  EXPECT_FLOAT_EQ(card_value(dir + "/bI.fits", "NSKY"), S(n / 2, n / 2));
  for (int y = 1; y <= n; ++y) {
    for (int x = 2; x <= n; ++x) ASSERT_EQ(S(x, y), S(1, y)) << y;
    if (y > 100 && y <= n - 100) {
      ASSERT_NEAR(S(1, y), 30.0 + 0.01 * (y - 1024), 0.3) << y;
    }
  }
  orv::FitsIn grid(dir + "/skygrid.fits", true, false);
  EXPECT_EQ(grid.getInt("NAXIS   "), 1);
  expectVerified(dir, {"bI.fits", "sky-bI.fits", "skygrid.fits", "sky_binspline-bI.fits"});
}

}  // namespace
