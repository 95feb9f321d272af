// Tests the binned spline surface against an independent numpy/scipy rendering of its steps,
// and its failure when no spline can be built.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>

#include "orv/fits/fits_image.h"
#include "tarvole/binspline.h"
#include "tests/support/python_reference.h"
#include "tests/support/run_command.h"

namespace {

const float blank = 1e20f;

struct Case {
  const char* what;
  int nx, ny, cx, cy;
  const char* name;
  int blankX0, blankX1, blankY0, blankY1;  // a blank rectangle (none when x0 > x1)
  int thinCellX, thinCellY, thinUsable;    // a cell left with exactly thinUsable pixels (0: none)
};

// X: a smooth model with a galaxy-like bump; Y: X plus a known smooth difference plus noise.
void makeImages(const Case& c, orv::MArray<float, 2>& X, orv::MArray<float, 2>& Y) {
  std::mt19937 rng(42);
  std::normal_distribution<double> noise(0.0, 3.0);
  X.makeReference(orv::MArray<float, 2>(c.nx, c.ny));
  Y.makeReference(orv::MArray<float, 2>(c.nx, c.ny));
  for (int y = 1; y <= c.ny; ++y)
    for (int x = 1; x <= c.nx; ++x) {
      const double r2 = std::pow(x - c.cx, 2) + std::pow(y - c.cy, 2);
      const double model = 200.0 + 800.0 * std::exp(-r2 / (2 * 150.0 * 150.0));
      const double sky =
          40.0 + 0.01 * (x - c.cx) + 10.0 * std::sin(2 * M_PI * x / 1500.0) * std::cos(2 * M_PI * y / 1300.0);
      X(x, y) = static_cast<float>(model);
      Y(x, y) = static_cast<float>(std::strcmp(c.name, "abs") == 0 ? model / 0.8 + noise(rng)
                                                                   : model + sky + noise(rng));
      if (x >= c.blankX0 && x <= c.blankX1 && y >= c.blankY0 && y <= c.blankY1) Y(x, y) = blank;
    }
  if (c.thinUsable > 0) {
    const int xc = c.cx + 61 * c.thinCellX, yc = c.cy + 61 * c.thinCellY;
    int toBlank = 2933 - c.thinUsable;
    for (int j = 30; j >= -30 && toBlank > 0; --j)
      for (int i = -30; i <= 30 && toBlank > 0; ++i)
        if (i * i + j * j < 930) {
          X(xc + i, yc + j) = blank;
          --toBlank;
        }
  }
}

TEST(Binspline, AgreesWithIndependentRendering) {
  const Case cases[] = {
      {"600 square, sky", 600, 600, 300, 300, "sky", 1, 0, 1, 0, 0, 0, 0},
      {"cell of 1241 usable pixels", 600, 600, 300, 300, "sky", 1, 0, 1, 0, 3, 0, 1241},
      {"cell of 1240 usable pixels", 600, 600, 300, 300, "sky", 1, 0, 1, 0, 3, 0, 1240},
      {"blank knot window widens", 600, 600, 300, 300, "sky", 380, 600, 200, 420, 0, 0, 0},
      {"occupied box starts right of cell 3", 600, 500, 30, 250, "sky", 1, 320, 1, 500, 0, 0, 0},
      {"absorption quotient", 600, 600, 300, 300, "abs", 1, 0, 1, 0, 0, 0, 0},
      {"2048 square, default centre", 2048, 2048, 1070, 1077, "sky", 1, 0, 1, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    orv::MArray<float, 2> X, Y;
    makeImages(c, X, Y);
    orv::MArray<float, 2> out(c.nx, c.ny);
    Pliste s;
    s.cx = c.cx;
    s.cy = c.cy;
    s.verbose = 1;
    s.outname = "bsp_out.fits";
    testing::internal::CaptureStdout();
    const bool ok = binspline(c.name, X, Y, out, s);
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ok);
    orv::writeFitsImage("bsp_X.fits", X);
    orv::writeFitsImage("bsp_Y.fits", Y);
    orv::writeFitsImage("bsp_S.fits", out);
    std::ofstream("bsp_stdout.txt") << printed;
    std::string report;
    const int status = test_support::runCommand(
        test_support::pythonCommand(
            std::string(ORV_SOURCE_DIR "/tests/tarvole/binspline_reference.py bsp_X.fits "
                                       "bsp_Y.fits bsp_S.fits bsp_stdout.txt ") +
            c.name + " 30 " + std::to_string(c.cx) + " " + std::to_string(c.cy) + " 2>&1"),
        &report);
    EXPECT_EQ(status, 0) << report;
    if (std::strcmp(c.what, "blank knot window widens") == 0 ||
        std::strcmp(c.what, "occupied box starts right of cell 3") == 0) {
      EXPECT_NE(printed.find("h: 1   "), std::string::npos);
    }
    // The verbose files are there.
    for (const char* f : {"skygrid.fits", "skygrid.tab"}) EXPECT_EQ(std::ifstream(f).good(), true) << f;
    EXPECT_TRUE(std::ifstream(std::string(c.name) + "_binspline-bsp_out.fits").good());
  }
}

// Without a usable cell, or with one knot column only, the surface stays blank and the call
// reports failure with the output name on standard error.
TEST(Binspline, NoSplineLeavesBlankSurface) {
  struct Failing {
    const char* what;
    int nx, ny;
    bool allBlank;
  } cases[] = {{"all blank", 300, 300, true}, {"one knot column", 150, 600, false}};
  for (const Failing& f : cases) {
    orv::MArray<float, 2> X(f.nx, f.ny), Y(f.nx, f.ny), out(f.nx, f.ny);
    X = 100.0f;
    Y = f.allBlank ? blank : 120.0f;
    Pliste s;
    s.cx = f.nx / 2;
    s.cy = f.ny / 2;
    s.outname = "fail.fits";
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const bool ok = binspline("sky", X, Y, out, s);
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(ok) << f.what;
    EXPECT_NE(err.find("fail.fits"), std::string::npos) << f.what;
    for (int y = 1; y <= f.ny; y += 7)
      for (int x = 1; x <= f.nx; x += 7) ASSERT_EQ(out(x, y), blank) << f.what;
  }
}

// A centre far left of the image: the knot cells near the centre lie outside the cells, which
// is reported; their windows count as blank and widen onto the image's cells.
TEST(Binspline, CentreFarFromTheImage) {
  orv::MArray<float, 2> X(400, 400), Y(400, 400), out(400, 400);
  X = 100.0f;
  for (int y = 1; y <= 400; ++y)
    for (int x = 1; x <= 400; ++x) Y(x, y) = 130.0f + 0.01f * x;
  Pliste s;
  s.cx = -500;
  s.cy = 200;
  s.outname = "far.fits";
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const bool ok = binspline("sky", X, Y, out, s);
  testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(ok);
  EXPECT_NE(err.find("far from the image"), std::string::npos) << err;
  for (int y = 1; y <= 400; y += 9)
    for (int x = 1; x <= 400; x += 9) ASSERT_NEAR(out(x, y), 30.0f + 0.01f * x, 3.0f) << x << "," << y;
}

// The row form: no strip with data leaves the output blank and reports failure; a strip
// threshold of d/3 pixels (20 for radius 30).
TEST(BinsplineY, NoStripWithDataFails) {
  orv::MArray<float, 2> X(100, 400), Y(100, 400), out(100, 400);
  X = blank;
  Y = 5.0f;
  Pliste s;
  s.cx = 50;
  s.cy = 200;
  s.outname = "rows.fits";
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(binsplineY("sky", X, Y, out, s));
  testing::internal::GetCapturedStdout();
  EXPECT_NE(testing::internal::GetCapturedStderr().find("rows.fits"), std::string::npos);
  EXPECT_EQ(out(50, 200), blank);
}

}  // namespace
