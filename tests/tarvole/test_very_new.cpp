// Tests the sampling-grid fit with gradients (very_new) through the program: its coefficients
// against numpy's least squares of the same system, the ellipse, and its sky against the spline
// through the knots it writes.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "tests/support/python_reference.h"
#include "tests/support/scratch_dir.h"
#include "tests/tarvole/tarvole_fixtures.h"

namespace {

constexpr int n = 600;
constexpr int cx = 310, cy = 290;
// The grid of the test runs: region 1:600 in both axes, step 20, box radius 10.
const std::string gridOptions = "-r 1:600,1:600 -i 20 -a 10 -g 310,290";

// I from the model mI (1 + b3 dx + b4 dy) = b1 mR + b2 + b5 dx + b6 dy, with noise.
std::string makeScene(const std::string& name) {
  const std::string dir = test_support::programScratchDir(name);
  const orv::MArray<float, 2> R = tarvole_test::sky_reference(n, cx, cy, 21);
  const double b1 = 1.25, b2 = 40.0, b3 = 2e-5, b4 = -1e-5, b5 = 0.01, b6 = -0.005;
  orv::MArray<float, 2> I(n, n);
  for (int y = 1; y <= n; ++y)
    for (int x = 1; x <= n; ++x) {
      const double dx = x - cx, dy = y - cy;
      I(x, y) = static_cast<float>((b1 * R(x, y) + b2 + b5 * dx + b6 * dy) / (1 + b3 * dx + b4 * dy));
    }
  orv::writeFitsImage(dir + "/R.fits", tarvole_test::with_noise(R, 7, 3.0));
  orv::writeFitsImage(dir + "/I.fits", tarvole_test::with_noise(I, 8, 3.0));
  return dir;
}

std::string reference(const std::string& dir, const std::string& mode, const std::string& prefix) {
  return test_support::pythonCommand(ORV_SOURCE_DIR "/tests/tarvole/very_new_reference.py " + dir + " " +
                                     mode + " 1 600 1 600 20 10 " + std::to_string(cx) + " " +
                                     std::to_string(cy) + " " + prefix + " 2>&1");
}

TEST(VeryNew, CoefficientsEqualLeastSquaresOfTheSameSystem) {
  const std::string dir = makeScene("very_new_fits");
  struct Case {
    const char* flags;
    const char* mode;
    const char* prefix;
  } cases[] = {{"-w", "verynew", "w"},
               {"-n", "fitnew", "n"},
               {"-c", "const", "c"},
               {"-b", "const_abs", "b"},
               {"-n -w", "fitnew", "nw"}};
  for (const Case& c : cases) {
    const auto run = tarvole_test::run_tarvole(
        dir, std::string(c.flags) + " -p " + c.prefix + " " + gridOptions + " R.fits I.fits");
    ASSERT_EQ(run.status, 0) << c.flags << run.out;
    std::string report;
    EXPECT_EQ(test_support::runCommand(reference(dir, c.mode, c.prefix), &report), 0) << c.flags << "\n"
                                                                                      << report;
    // Without the ellipse every kept point enters the fit.
    EXPECT_NE(run.out.find(" effective binning points = 900 from 900"), std::string::npos) << c.flags;
  }
  // Near the truth: abs 1/1.25, sky b2/b1 = 32 in reference units.
  EXPECT_NEAR(tarvole_test::card_value(dir + "/wI.fits", "ABSORP"), 0.8, 0.004);
  EXPECT_NEAR(tarvole_test::card_value(dir + "/wI.fits", "NSKY"), 32.0, 1.5);
}

TEST(VeryNew, EllipseAndSurfaceFiles) {
  const std::string dir = makeScene("very_new_files");
  // The ellipse reaches the farther edges (310 and 310 px): the grid corners drop out.
  tarvole_test::RunResult run =
      tarvole_test::run_tarvole(dir, "-w -o -p o " + gridOptions + " R.fits I.fits");
  ASSERT_EQ(run.status, 0);
  const std::size_t at = run.out.find(" effective binning points = ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_LT(std::stoi(run.out.substr(at + 28)), 900);

  run = tarvole_test::run_tarvole(dir, "-w -v 1 " + gridOptions + " R.fits I.fits");
  ASSERT_EQ(run.status, 0);
  std::ofstream(dir + "/stdout.txt") << run.out;
  for (const char* f : {"skygrid.fits", "skygrid.tab", "abs_binspline-bI.fits", "sky_binspline-bI.fits"})
    EXPECT_TRUE(std::ifstream(dir + "/" + f).good()) << f;
  EXPECT_FALSE(std::ifstream(dir + "/sky_binspline_bin-bI.fits").good());
  std::string report;
  EXPECT_EQ(test_support::runCommand(reference(dir, "surface", "b"), &report), 0) << report;
  // skygrid.tab holds the second surface's knots, as skygrid.fits.
  const orv::MArray<double, 2> z = orv::readFitsImage<double>(dir + "/skygrid.fits", true);
  std::ifstream tab(dir + "/skygrid.tab");
  double first;
  tab >> first;
  EXPECT_NEAR(first, z(1, 1), 1e-5 * std::max(1.0, std::abs(first)));
  for (const char* f : {"skygrid.fits", "abs_binspline-bI.fits", "sky_binspline-bI.fits", "bI.fits"}) {
    std::string verify;
    EXPECT_TRUE(test_support::fitsverifyClean(dir + "/" + f, &verify)) << f << verify;
  }

  ASSERT_EQ(tarvole_test::run_tarvole(dir, "-w -v 3 " + gridOptions + " R.fits I.fits").status, 0);
  for (const char* f : {"abs_binspline_bin-bI.fits", "abs_binspline_median-bI.fits",
                        "sky_binspline_bin-bI.fits", "sky_binspline_median-bI.fits"}) {
    std::string verify;
    EXPECT_TRUE(test_support::fitsverifyClean(dir + "/" + f, &verify)) << f << verify;
  }
}

}  // namespace
