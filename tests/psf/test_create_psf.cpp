// PSF construction from stars: the shape recovered from a synthetic field,
// the weighting rules, the outer Moffat extension, skipped edge stars and the
// verbose files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <string>

#include "numerics/random.h"
#include "psf/korven_lib.h"
#include "tests/psf/psf_fixtures.h"

namespace {

constexpr double kFree = 12345.0;

// An elliptical Moffat (FWHM about 4 pixels) integrated over pixels on a
// 10 x 10 raster, for a star at offset (dx, dy) from pixel (0, 0).
double moffatPixel(int i, int j, double dx, double dy) {
  const double a3 = 0.4, a4 = 0.33, beta = 3.0, c = std::cos(0.4), s = std::sin(0.4);
  double sum = 0;
  for (int p = 0; p < 10; ++p) {
    for (int q = 0; q < 10; ++q) {
      const double x = i - 0.45 + 0.1 * p - dx, y = j - 0.45 + 0.1 * q - dy;
      const double u = c * x + s * y, v = c * y - s * x;
      sum += std::pow(1 + a3 * a3 * u * u + a4 * a4 * v * v, -beta);
    }
  }
  return sum / 100;
}

struct Field {
  orv::MArray<float, 2> img, err;
  orv::MArray<double, 1> x, y;
};

// Stars on a grid with random sub-pixel positions on a sky plane, with noise.
Field makeField(int side, int perRow, double flux, bool noise) {
  Field f{orv::MArray<float, 2>(side, side), orv::MArray<float, 2>(side, side),
          orv::MArray<double, 1>(perRow * perRow), orv::MArray<double, 1>(perRow * perRow)};
  orv::MArray<double, 2> model(side, side);
  for (int j = 1; j <= side; ++j)
    for (int i = 1; i <= side; ++i) model(i, j) = 100 + 0.05 * i - 0.03 * j;
  long seed = -77;
  const int spacing = side / perRow;
  for (int k = 1; k <= perRow * perRow; ++k) {
    const int ix = spacing / 2 + spacing * ((k - 1) % perRow) + 1,
              iy = spacing / 2 + spacing * ((k - 1) / perRow) + 1;
    const double dx = ran3(seed) - 0.5, dy = ran3(seed) - 0.5;
    f.x(k) = ix + dx;
    f.y(k) = iy + dy;
    for (int j = -10; j <= 10; ++j)
      for (int i = -10; i <= 10; ++i) model(ix + i, iy + j) += flux * moffatPixel(i, j, dx, dy);
  }
  for (int j = 1; j <= side; ++j) {
    for (int i = 1; i <= side; ++i) {
      const double sigma = std::sqrt(model(i, j));
      f.img(i, j) = static_cast<float>(model(i, j) + (noise ? sigma * rangau(seed) : 0.0));
      f.err(i, j) = static_cast<float>(sigma);
    }
  }
  return f;
}

TEST(PsfCreate, RecoversTheShapeFromAField) {
  const int R = 7, S = 5;
  Field f = makeField(280, 7, 2e5, true);
  const int n = f.x.length(1);
  orv::MArray<double, 1> sky(n), sx(n), sy(n), weight(n);
  sky = kFree;
  sx = kFree;
  sy = kFree;
  weight = 1.0;
  psf p(R, R, S, 2);
  p.create_psf(f.img, f.err, f.x, f.y, sky, sx, sy, weight, 1.0, 8.0, 1.0, 10.0, true, 0);
  // The fitted planes come back through the caller's arrays.
  // (the free Moffat wings trade with the sky level, so the plane is only near the truth)
  EXPECT_NEAR(sky(1), 100 + 0.05 * std::lrint(f.x(1)) - 0.03 * std::lrint(f.y(1)), 50.0);
  EXPECT_NE(sx(1), kFree);
  p.normalize_psf();
  p.binning(0, 0);
  double truthSum = 0, peak = 0;
  for (int j = -R; j <= R; ++j)
    for (int i = -R; i <= R; ++i) truthSum += moffatPixel(i, j, 0, 0);
  for (int j = -R; j <= R; ++j)
    for (int i = -R; i <= R; ++i) peak = std::max(peak, moffatPixel(i, j, 0, 0) / truthSum);
  double worst = 0;
  int worstI = 0, worstJ = 0;
  for (int j = -R; j <= R; ++j)
    for (int i = -R; i <= R; ++i) {
      const double d = std::fabs(p.get_binned_psf()(i, j) - moffatPixel(i, j, 0, 0) / truthSum);
      if (d > worst) {
        worst = d;
        worstI = i;
        worstJ = j;
      }
    }
  EXPECT_LT(worst, 0.04 * peak) << "at " << worstI << "," << worstJ;
  EXPECT_LT(worst, 0.04 * peak);
}

// Three stars without fits and a flat sky of 0: the weighting rules.
TEST(PsfCreate, WeightsZerosAndEdgeStars) {
  const int R = 4, S = 3;
  Field f = makeField(66, 3, 1e4, false);
  f.img = f.img - 100.0f;  // roughly sky-free
  auto build = [&](orv::MArray<double, 1> weight, const Field& field) {
    psf p(R, R, S, 1);
    const int n = field.x.length(1);
    orv::MArray<double, 1> zero(n);
    zero = 0.0;
    p.create_psf(field.img, field.err, field.x, field.y, zero, zero, zero, weight, 1, 5, 1, 9, false, 0);
    return p;
  };
  auto weights = [](std::initializer_list<double> w) {
    orv::MArray<double, 1> a(static_cast<int>(w.size()));
    int k = 1;
    for (double v : w) a(k++) = v;
    return a;
  };
  // The field with only its first n stars listed.
  auto firstStars = [](const Field& field, int n) {
    Field out = field;
    out.x.makeReference(orv::MArray<double, 1>(n));
    out.y.makeReference(orv::MArray<double, 1>(n));
    for (int k = 1; k <= n; ++k) {
      out.x(k) = field.x(k);
      out.y(k) = field.y(k);
    }
    return out;
  };
  Field three = firstStars(f, 3);
  const psf plain = build(weights({0, 0, 0}), three);
  const psf ones = build(weights({1, 1, 1}), three);
  const int N = plain.get_slen();
  for (int j = -N; j <= N; ++j)
    for (int i = -N; i <= N; ++i) {
      EXPECT_NEAR(ones.get_psf()(i, j), plain.get_psf()(i, j), 1e-12 * std::fabs(plain.get_psf()(i, j)));
      EXPECT_NEAR(ones.get_epsf()(i, j), plain.get_epsf()(i, j), 1e-12 * plain.get_epsf()(i, j));
    }

  // Zeros in star 3's R-stamp (81 pixels, limit 8.1): 8 keep it, 9 skip it
  // and the two others are scaled by A / W = 3 / 2.
  for (int zeros : {8, 9}) {
    Field z = three;
    z.img.makeReference(orv::MArray<float, 2>(66, 66));
    z.img = three.img;
    const int cx = std::lrint(z.x(3)), cy = std::lrint(z.y(3));
    for (int k = 0; k < zeros; ++k) z.img(cx - 4 + k, cy + 4) = 0.0f;
    const psf weighted = build(weights({1, 1, 1}), z);
    const psf pair = build(weights({0, 0}), firstStars(z, 2));
    const double ratio = weighted.get_psf()(0, 0) / pair.get_psf()(0, 0);
    if (zeros == 9)
      EXPECT_NEAR(ratio, 1.5, 1e-12);
    else
      EXPECT_GT(std::fabs(ratio - 1.5), 1e-3);
  }

  // A star too near the edge is skipped with a message; its weight stays in A.
  Field edge = three;
  edge.x(2) = 3.2;
  psf p(R, R, S, 1);
  orv::MArray<double, 1> zero(3);
  zero = 0.0;
  testing::internal::CaptureStdout();
  p.create_psf(edge.img, edge.err, edge.x, edge.y, zero, zero, zero, weights({1, 1, 1}), 1, 5, 1, 9, false,
               0);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("star 2 at x = 3.2"), std::string::npos);
}

TEST(PsfCreate, OuterExtensionAndVerboseFiles) {
  const std::string dir = test_support::programScratchDir("psf_create");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  const int R = 6, S = 5;
  Field f = makeField(120, 3, 2e5, false);
  // B = 3 < R: the cells with i² + j² >= 15·14 = 210 take the fitted Moffat.
  psf inner(R, R, S, 2), extended(3, R, S, 2);
  inner.create_psf(f.img, f.err, f.x, f.y, 100.0, 0.0, 0.0, 1, 8, 1, 10, false, 0);
  extended.create_psf(f.img, f.err, f.x, f.y, 100.0, 0.0, 0.0, 1, 8, 1, 10, false, 0);
  const int N = inner.get_slen();
  int outer = 0;
  for (int j = -N; j <= N; ++j) {
    for (int i = -N; i <= N; ++i) {
      if (i * i + j * j < 210) {
        EXPECT_EQ(extended.get_psf()(i, j), inner.get_psf()(i, j));
      } else {
        ++outer;
        EXPECT_GT(extended.get_psf()(i, j), 0.0);
        EXPECT_EQ(extended.get_epsf()(i, j), std::sqrt(extended.get_psf()(i, j)));
      }
    }
  }
  EXPECT_GT(outer, 0);
  EXPECT_NEAR(extended.get_psf()(16, 0), inner.get_psf()(16, 0), 0.2 * inner.get_psf()(16, 0));

  // verbose 3: header, fit rows, the pixel-grid file; verbose 8 adds the stamps.
  orv::MArray<double, 1> weight(f.x.length(1)), sky(f.x.length(1));
  weight = 1.0;
  sky = kFree;
  psf p(R, R, S, 1);
  testing::internal::CaptureStdout();
  p.create_psf(f.img, f.err, f.x, f.y, sky, sky, sky, weight, 1, 8, 1, 10, true, 3);
  const std::string text = testing::internal::GetCapturedStdout();
  std::cout << std::defaultfloat << std::setprecision(6);
  EXPECT_EQ(text.rfind("constructing PSF using 9 standard stars...\n\n        nchi  iterations", 0), 0u);
  EXPECT_NE(text.find(std::string(156, '-')), std::string::npos);
  EXPECT_EQ(text.find(std::string(156, '=')), std::string::npos);
  psf_test::expectFitsverifyClean("psftest00.fits");
  psf_test::expectFitsverifyClean("e.psftest00.fits");
  EXPECT_FALSE(std::filesystem::exists("starpsf0_001.fits"));
  testing::internal::CaptureStdout();
  p.create_psf(f.img, f.err, f.x, f.y, sky, sky, sky, weight, 1, 8, 1, 10, true, 8);
  testing::internal::GetCapturedStdout();
  std::cout << std::defaultfloat << std::setprecision(6);
  for (const char* name :
       {"starpsf0_001.fits", "e.starpsf0_009.fits", "starpsf_005.fits", "e.starpsf_001.fits"}) {
    EXPECT_TRUE(std::filesystem::exists(name)) << name;
  }
  psf_test::expectFitsverifyClean("starpsf_005.fits");
  psf_test::expectFitsverifyClean("e.starpsf0_009.fits");
  std::filesystem::current_path(previous);
}

}  // namespace
