// Helpers shared by the PSF tests: reference scripts under the system Python,
// a scratch directory per test program, and FITS checks.
#ifndef TESTS_PSF_PSF_TEST_SUPPORT_H
#define TESTS_PSF_PSF_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "numerics/random.h"
#include "orv/fits/fits.h"
#include "psf/korven_lib.h"
#include "tests/support/run_command.h"

namespace psf_test {

// A fresh directory for this test program's files (removed by the caller or left in TempDir).
inline std::string scratchDir(const std::string& name) {
  const std::string dir = ::testing::TempDir() + "psf_" + name + "_" + std::to_string(getpid());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

// Runs a Python script (numpy, scipy, astropy, photutils) in dir; returns its
// standard output, empty when it failed.
inline std::string runPython(const std::string& dir, const std::string& script) {
  const std::string path = dir + "/reference.py";
  {
    std::ofstream out(path);
    out << script;
  }
  std::string text;
  const int status = test_support::runCommand("cd " + dir + " && /usr/bin/python3 reference.py", &text);
  return status == 0 ? text : "";
}

// The whitespace-separated numbers of a text.
inline std::vector<double> numbers(const std::string& text) {
  std::istringstream in(text);
  std::vector<double> values;
  double v;
  while (in >> v) values.push_back(v);
  return values;
}

// fitsverify finds no error and no warning in the file.
inline void expectFitsverifyClean(const std::string& file) {
  std::string report;
  test_support::fitsverifyReport(file, &report);
  EXPECT_NE(report.find("found 0 warning(s) and 0 error(s)"), std::string::npos) << file << "\n" << report;
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
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  const std::vector<double> cells = numbers(text.str());
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
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  const std::vector<double> v = numbers(text.str());
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
