// The star finder's row kernels on every processor path this machine runs,
// byte for byte against the plain loops beside them here: the smoothed row
// (the mean of the non-zero values over the 13-cell disk) and the local-minimum
// test, on rows with zeros, ties, NaN (cells whose nchi is not wanted) and the
// unusable value, and row lengths about the vector widths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "numerics/random.h"
#include "orv/lanes.h"
#include "psf/find_bands.h"

namespace {

// A row of n values drawn from a few levels (so that neighbours tie), with
// zeros, NaN and 1e100 among them.
std::vector<double> drawnRow(int n, long& seed) {
  const double levels[] = {
      0.0, 0.0, 0.75, 1.0, 1.0, 1.25, 2.5, 1e100, std::numeric_limits<double>::quiet_NaN()};
  std::vector<double> row(n);
  for (double& v : row) {
    v = levels[static_cast<int>(ran3(seed) * 9)];
    if (ran3(seed) < 0.5) v += ran3(seed);
  }
  return row;
}

constexpr int kLengths[] = {1, 2, 3, 4, 5, 7, 8, 9, 16, 17, 31, 64, 101};

TEST(FindBands, SmoothRowEqualsThePlainLoopOnEveryPath) {
  long seed = -41;
  for (const int n : kLengths) {
    // Five rows of n cells and two more on either side.
    std::vector<std::vector<double>> rows;
    for (int d = 0; d < 5; ++d) rows.push_back(drawnRow(n + 4, seed));
    const double* from[5];
    for (int d = 0; d < 5; ++d) from[d] = rows[d].data() + 2;
    // The plain loop: over the disk dj outer, di inner, non-zero values only.
    std::vector<double> expected(n);
    for (int k = 0; k < n; ++k) {
      double sum = 0;
      int count = 0;
      for (int dj = -2; dj <= 2; ++dj)
        for (int di = -2; di <= 2; ++di) {
          if (di * di + dj * dj > 4) continue;
          const double v = from[dj + 2][k + di];
          if (v == 0) continue;
          sum += v;
          ++count;
        }
      expected[k] = from[2][k] != 0 ? sum / count : 0.0;
    }
    for (const orv::lanes::Path path : orv::lanes::runnable()) {
      orv::lanes::PathOverride only(path);
      std::vector<double> out(n, -1.0);
      psf_maps::smooth_row(from, n, out.data());
      EXPECT_EQ(std::memcmp(out.data(), expected.data(), sizeof(double) * n), 0)
          << "path " << orv::lanes::pathName(path) << ", " << n << " cells";
    }
  }
}

TEST(FindBands, MinimumRowEqualsThePlainLoopOnEveryPath) {
  long seed = -43;
  int minima = 0;
  for (const int NX : kLengths) {
    std::vector<std::vector<double>> rows;
    for (int d = 0; d < 3; ++d) rows.push_back(drawnRow(NX, seed));
    const std::vector<double> nchi = drawnRow(NX, seed);
    const double* around[3] = {rows[0].data(), rows[1].data(), rows[2].data()};
    // The plain loop: strictly below every neighbour that is not 0.
    std::vector<char> expected(NX, 0);
    for (int k = 1; k < NX - 1; ++k) {
      bool lowest = nchi[k] != 0;
      for (int dj = 0; dj < 3; ++dj)
        for (int di = -1; di <= 1; ++di) {
          if (dj == 1 && di == 0) continue;
          const double n = around[dj][k + di];
          if (!(around[1][k] < n || n == 0)) lowest = false;
        }
      expected[k] = lowest;
      minima += lowest;
    }
    for (const orv::lanes::Path path : orv::lanes::runnable()) {
      orv::lanes::PathOverride only(path);
      std::vector<char> out(NX, 7);
      psf_maps::minimum_row(around, nchi.data(), NX, out.data());
      EXPECT_EQ(out, expected) << "path " << orv::lanes::pathName(path) << ", " << NX << " cells";
    }
  }
  EXPECT_GT(minima, 10);
}

}  // namespace
