// Chi-square matching: nchi_calc and nchi_calc_fast against the numpy closed
// form, their sentinels, and measure_flux at the exact shift.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "numerics/random.h"
#include "psf/korven_lib.h"
#include "tests/psf/psf_fixtures.h"

namespace {

// An elliptical Gaussian fine grid (S = 7) with small errors, tabulated for P = 5.
psf gaussianPsf(int boxlen, int analyt) { return psf_test::gaussianTestPsf(boxlen, analyt, 5, 0.0005, true); }

TEST(PsfChiMatch, NchiEqualsNumpyClosedForm) {
  const std::string dir = test_support::programScratchDir("psf_chi");
  const int R = 3, P = 5;
  psf p = gaussianPsf(2, R);
  orv::MArray<float, 2> image(30, 30), error(30, 30);
  long seed = -9;
  for (int j = 1; j <= 30; ++j)
    for (int i = 1; i <= 30; ++i) {
      image(i, j) = static_cast<float>(50 + 10 * rangau(seed));
      error(i, j) = static_cast<float>(5 + ran3(seed));
    }
  error(12, 11) = 0.0f;
  struct Trial {
    double x, y, radius;
  };
  const Trial trials[] = {{10.49, 10.0, 2.5}, {10.5, 10.2, 3.0}, {12.3, 11.4, 3.5}, {15.0, 15.0, 2.0},
                          {20.21, 8.77, 4.2}, {7.6, 19.5, 1.0},  {12.0, 11.0, 3.0}};
  {
    std::ofstream t(dir + "/data.txt");
    char line[200];
    for (int sx = -P / 2; sx <= P / 2; ++sx)
      for (int sy = -P / 2; sy <= P / 2; ++sy)
        for (int i = -R; i <= R; ++i)
          for (int j = -R; j <= R; ++j) {
            std::snprintf(line, sizeof line, "T %d %d %d %d %.17g %.17g\n", sx, sy, i, j,
                          p.get_all_binned_psf()(sx, sy, i, j), p.get_all_e2binned_psf()(sx, sy, i, j));
            t << line;
          }
    for (int j = 1; j <= 30; ++j)
      for (int i = 1; i <= 30; ++i) {
        std::snprintf(line, sizeof line, "I %d %d %.9g %.9g 0\n", i, j, image(i, j), error(i, j));
        t << line;
      }
    for (const Trial& tr : trials) {
      std::snprintf(line, sizeof line, "X %.17g %.17g %.17g 0 0 0\n", tr.x, tr.y, tr.radius);
      t << line;
    }
  }
  const std::vector<double> ref = test_support::numbersIn(test_support::pythonOutputIn(dir, R"(
import numpy as np
R, P = 3, 5
T, V, img, err, trials = {}, {}, {}, {}, []
for line in open('data.txt'):
    w = line.split()
    if w[0] == 'T':
        k = tuple(int(v) for v in w[1:5]); T[k] = float(w[5]); V[k] = float(w[6])
    elif w[0] == 'I':
        k = (int(w[1]), int(w[2])); img[k] = float(np.float32(w[3])); err[k] = float(np.float32(w[4]))
    else:
        trials.append(tuple(float(v) for v in w[1:4]))
for x, y, radius in trials:
    ix, iy = int(np.rint(x)), int(np.rint(y)); fx, fy = x - ix, y - iy
    sx = int(np.clip(np.rint(P * fx), -(P // 2), P // 2)); sy = int(np.clip(np.rint(P * fy), -(P // 2), P // 2))
    h = min(int(abs(radius) + 0.5), R)
    if T[sx, sy, 0, 0] == 0 or err[ix, iy] <= 0:
        print(0, 1e100, 1e100); continue
    Pp, D, E, Vv = [], [], [], []
    for i in range(-h, h + 1):
        for j in range(-h, h + 1):
            if T[sx, sy, i, j] != 0 and err[ix + i, iy + j] > 0 and (i - fx)**2 + (j - fy)**2 < radius**2:
                Pp.append(T[sx, sy, i, j]); D.append(img[ix + i, iy + j]); E.append(err[ix + i, iy + j]); Vv.append(V[sx, sy, i, j])
    Pp, D, E, Vv = map(np.array, (Pp, D, E, Vv))
    if len(Pp) < 2:
        print(0, 1e100, 1e100); continue
    w = 1 / E**2
    flux = np.sum(w * Pp * D) / np.sum(w * Pp * Pp)
    chi2 = np.sum((Pp * flux - D)**2 / (Vv * flux**2 + E**2))
    print(repr(flux), repr(np.sqrt(1 / np.sum(w * Pp * Pp))), repr(np.sqrt(chi2 / (len(Pp) - 1))))
)"));
  ASSERT_EQ(ref.size(), 3u * std::size(trials));
  for (std::size_t k = 0; k < std::size(trials); ++k) {
    const Trial& tr = trials[k];
    SCOPED_TRACE(std::to_string(tr.x) + " " + std::to_string(tr.y));
    double flux, eflux, fastFlux = -5;
    const double nchi = p.nchi_calc(image, error, tr.x, tr.y, flux, eflux, tr.radius, 0);
    const double fast = p.nchi_calc_fast(image, error, tr.x, tr.y, fastFlux, tr.radius);
    EXPECT_NEAR(flux, ref[3 * k], 1e-12 * std::fabs(ref[3 * k]));
    EXPECT_NEAR(eflux, ref[3 * k + 1], 1e-12 * ref[3 * k + 1]);
    EXPECT_NEAR(nchi, ref[3 * k + 2], 1e-12 * ref[3 * k + 2]);
    if (ref[3 * k + 2] == 1e100) {
      EXPECT_EQ(fast, 0.0);
      EXPECT_EQ(fastFlux, -5);
    } else {
      EXPECT_EQ(fast, nchi);
      EXPECT_EQ(fastFlux, flux);
    }
  }
  // The shorter overloads give the same nchi.
  double flux;
  EXPECT_EQ(p.nchi_calc(image, error, 12.3, 11.4, flux, 3.5, 0),
            p.nchi_calc(image, error, 12.3, 11.4, 3.5, 0));
}

TEST(PsfChiMatch, ExactStarAndSentinels) {
  psf p = gaussianPsf(2, 3);
  orv::MArray<float, 2> image(20, 20), error(20, 20);
  // flux0 times the table at the shift of (10.4, 9.8): flux0 and nchi 0.
  image = 0.0f;
  error = 1.0f;
  const int sx = 2, sy = -1;
  for (int i = -3; i <= 3; ++i)
    for (int j = -3; j <= 3; ++j)
      image(10 + i, 10 + j) = static_cast<float>(256 * p.get_all_binned_psf()(sx, sy, i, j));
  double flux, eflux;
  EXPECT_NEAR(p.nchi_calc(image, error, 10.4, 9.8, flux, eflux, 3.0, 0), 0.0, 1e-5);  // float storage
  EXPECT_NEAR(flux, 256, 1e-4);
  // Unusable centre, no tables, fewer than two pixels.
  error(10, 10) = 0.0f;
  EXPECT_EQ(p.nchi_calc(image, error, 10.4, 9.8, flux, eflux, 3.0, 0), 1e100);
  EXPECT_EQ(flux, 0.0);
  EXPECT_EQ(eflux, 1e100);
  flux = 7;
  EXPECT_EQ(p.nchi_calc_fast(image, error, 10.4, 9.8, flux, 3.0), 0.0);
  EXPECT_EQ(flux, 7);
  error(10, 10) = 1.0f;
  EXPECT_EQ(p.nchi_calc(image, error, 10.0, 10.0, flux, eflux, 0.5, 0), 1e100);
  psf bare(2, 3, 7, 0);
  EXPECT_EQ(bare.nchi_calc(image, error, 10.0, 10.0, flux, eflux, 3.0, 0), 1e100);
  // A radius beyond the tables and a star at the image edge read nothing outside.
  const double beyond = p.nchi_calc(image, error, 10.4, 9.8, flux, eflux, 40.0, 0);
  EXPECT_LT(beyond, 1e100);
  // A radius too large for an int uses the same box; NaN uses no pixel.
  EXPECT_EQ(p.nchi_calc(image, error, 10.4, 9.8, flux, eflux, 1e300, 0), beyond);
  EXPECT_EQ(p.nchi_calc(image, error, 10.4, 9.8, flux, eflux, std::nan(""), 0), 1e100);
  flux = 7;
  EXPECT_EQ(p.nchi_calc_fast(image, error, 10.4, 9.8, flux, std::nan("")), 0.0);
  EXPECT_EQ(flux, 7);
  EXPECT_LT(p.nchi_calc(image, error, 1.2, 19.9, flux, eflux, 3.0, 0), 1e100);
}

TEST(PsfChiMatch, MeasureFluxAtTheExactShift) {
  const std::string dir = test_support::programScratchDir("psf_measure_flux");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  psf p = gaussianPsf(4, 3);
  psf reference = gaussianPsf(4, 3);
  orv::MArray<float, 2> image(30, 30), error(30, 30);
  image = 0.0f;
  error = 1.0f;
  const double x = 14.37, y = 15.62;
  reference.binning(x - 14, y - 16);
  for (int i = -3; i <= 3; ++i)
    for (int j = -3; j <= 3; ++j)
      image(14 + i, 16 + j) = static_cast<float>(900 * reference.get_binned_psf()(i, j));
  double flux, eflux, nchi;
  p.measure_flux(image, error, x, y, 3.5, flux, eflux, nchi, 7, 4);
  EXPECT_NEAR(flux, 900, 1e-3);
  EXPECT_NEAR(nchi, 0.0, 1e-5);
  EXPECT_GT(eflux, 0.0);
  EXPECT_EQ(p.get_binned_psf()(1, 1), reference.get_binned_psf()(1, 1));
  for (const char* f : {"shifted_psf_00007.fits", "e.shifted_psf_00007.fits", "object_psf_00007.fits"})
    psf_test::expectFitsverifyClean(f);
  // Within B + 2 of an edge: 0, 0, 0.
  p.measure_flux(image, error, 6.0, 15.0, 3.5, flux, eflux, nchi, 1, 0);
  EXPECT_EQ(flux + eflux + nchi, 0.0);
  p.measure_flux(image, error, 7.0, 15.0, 3.5, flux, eflux, nchi, 1, 0);
  EXPECT_NE(eflux, 0.0);
  std::filesystem::current_path(previous);
}

}  // namespace
