// Fixtures of the PSF tests: a FITS check, tabulated PSFs, fields written by numpy and star fields.
#ifndef TESTS_PSF_PSF_FIXTURES_H
#define TESTS_PSF_PSF_FIXTURES_H

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "numerics/random.h"
#include "orv/fits/fits.h"
#include "psf/korven_lib.h"
#include "tests/support/python_reference.h"
#include "tests/support/run_command.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_file.h"

namespace psf_test {

// fitsverify finds no error and no warning in the file.
inline void expectFitsverifyClean(const std::string& file) {
  std::string report;
  EXPECT_TRUE(test_support::fitsverifyClean(file, &report)) << file << "\n" << report;
}

// An elliptical Gaussian on a fine grid of S = 7 cells per pixel with error
// cellError (growing across the diagonal when sloped), tabulated for P.
inline psf gaussianTestPsf(int boxlen, int analyt, int subpixel, double cellError, bool sloped) {
  psf p(boxlen, analyt, 7, 0);
  const int N = p.get_slen();
  for (int j = -N; j <= N; ++j)
    for (int i = -N; i <= N; ++i) {
      const double u = i / 7.0, v = j / 7.0;
      p.get_psf()(i, j) = std::exp(-(u * u / 2.2 + v * v / 3.1 + (sloped ? 0.1 * u * v : 0.0))) / 49.0;
      p.get_epsf()(i, j) = cellError * (sloped ? 1 + 0.1 * std::fabs(i - j) : 1.0);
    }
  p.calc_base(subpixel, 0);
  return p;
}

// A PSF whose fine grid (S cells per pixel, x fastest) is read from a text file
// of numbers, with the same error in every cell, tabulated for P.
inline psf fineGridPsf(const std::string& file, int boxlen, int analyt, int subgrid, double cellError,
                       int subpixel) {
  psf p(boxlen, analyt, subgrid, 0);
  const std::vector<double> cells = test_support::numbersIn(test_support::readText(file));
  const int N = p.get_slen();
  EXPECT_EQ(cells.size(), static_cast<std::size_t>((2 * N + 1) * (2 * N + 1))) << file;
  if (cells.size() != static_cast<std::size_t>((2 * N + 1) * (2 * N + 1))) return p;
  std::size_t k = 0;
  for (int j = -N; j <= N; ++j)
    for (int i = -N; i <= N; ++i) {
      p.get_psf()(i, j) = cells[k++];
      p.get_epsf()(i, j) = cellError;
    }
  p.calc_base(subpixel, 0);
  return p;
}

// The rows of a text file of numbers, ncol to a row.
inline std::vector<std::vector<double>> rows(const std::string& file, std::size_t ncol) {
  const std::vector<double> v = test_support::numbersIn(test_support::readText(file));
  std::vector<std::vector<double>> out;
  for (std::size_t k = 0; k + ncol <= v.size(); k += ncol)
    out.emplace_back(v.begin() + k, v.begin() + k + ncol);
  return out;
}

// A field written by data/star_field.py's write_field (S = 15, R = 5) in dir:
// its image and error image, and the PSF of its fine grid (B = 5, cell error
// 1e-6) tabulated for P = 5.
struct NumpyField {
  psf p;
  orv::MArray<float, 2> image, error;
};

inline NumpyField numpyField(const std::string& dir, const std::string& kind) {
  NumpyField f{fineGridPsf(dir + "/grid_" + kind + ".txt", 5, 5, 15, 1e-6, 5), {}, {}};
  orv::FitsIn imageIn(dir + "/image_" + kind + ".fits"), errorIn(dir + "/error_" + kind + ".fits");
  imageIn >> f.image;
  errorIn >> f.error;
  return f;
}

// A star at (x, y) with the given flux.
struct Star {
  double x, y, flux;
};

// An n x n field indexed from 1 with Gaussian noise of sigma (error sigma)
// and the stars injected through p's tables.
inline void starField(const psf& p, int n, double sigma, const std::vector<Star>& stars, long seed,
                      orv::MArray<float, 2>& image, orv::MArray<float, 2>& error) {
  image.makeReference(orv::MArray<float, 2>(n, n));
  error.makeReference(orv::MArray<float, 2>(n, n));
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) image(i, j) = static_cast<float>(sigma * rangau(seed));
  error = static_cast<float>(sigma);
  orv::MArray<float, 2> e2(n, n);
  for (const Star& s : stars) {
    e2 = static_cast<float>(sigma);
    p.add_psf(image, e2, s.x, s.y, s.flux, -1e20, -1, 0);
  }
}

}  // namespace psf_test

#endif
